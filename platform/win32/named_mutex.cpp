#include "platform/named_mutex.h"

#include <windows.h>

namespace ov::platform {

struct NamedMutex::Impl {
    HANDLE handle = nullptr;
};

NamedMutex::NamedMutex() = default;
NamedMutex::~NamedMutex() {
    Close();
}

bool NamedMutex::IsCreated() const {
    return m_impl != nullptr;
}

bool NamedMutex::Create(const std::string& name, bool* already_existed) {
    Close();
    if (already_existed)
        *already_existed = false;
    HANDLE h = ::CreateMutexA(nullptr, FALSE, name.c_str());
    if (h == nullptr)
        return false;
    if (already_existed)
        *already_existed = ::GetLastError() == ERROR_ALREADY_EXISTS;
    m_impl = std::make_unique<Impl>();
    m_impl->handle = h;
    return true;
}

void NamedMutex::Close() {
    if (!m_impl)
        return;
    ::CloseHandle(m_impl->handle);
    m_impl.reset();
}

bool NamedMutex::Lock() {
    if (!m_impl)
        return false;
    // An abandoned mutex is ours now; what its dead owner guarded is exactly
    // as consistent as any writer's half-done update would leave it.
    DWORD r = ::WaitForSingleObject(m_impl->handle, INFINITE);
    return r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;
}

void NamedMutex::Unlock() {
    if (m_impl)
        ::ReleaseMutex(m_impl->handle);
}

}  // namespace ov::platform
