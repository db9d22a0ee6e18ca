#include "platform/shared_memory.h"

#include <windows.h>

namespace ov::platform {

struct SharedMemory::Impl {
    HANDLE mapping = nullptr;
};

SharedMemory::SharedMemory() = default;
SharedMemory::~SharedMemory() {
    Close();
}

bool SharedMemory::Create(const std::string& name, size_t size, bool* already_existed) {
    Close();
    if (already_existed)
        *already_existed = false;
    if (size == 0) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    uint64_t size64 = size;
    HANDLE h = ::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE,
                                    static_cast<DWORD>(size64 >> 32), static_cast<DWORD>(size64),
                                    name.c_str());
    if (h == nullptr)
        return false;
    bool existed = ::GetLastError() == ERROR_ALREADY_EXISTS;
    // Mapping more than an existing, smaller mapping holds fails here.
    void* view = ::MapViewOfFile(h, FILE_MAP_ALL_ACCESS, 0, 0, size);
    if (view == nullptr) {
        DWORD e = ::GetLastError();
        ::CloseHandle(h);
        ::SetLastError(e);
        return false;
    }
    if (already_existed)
        *already_existed = existed;
    m_impl = std::make_unique<Impl>();
    m_impl->mapping = h;
    m_data = static_cast<uint8_t*>(view);
    m_size = size;
    return true;
}

bool SharedMemory::Open(const std::string& name, size_t size, Access access) {
    Close();
    if (size == 0) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    DWORD rights = access == Access::ReadWrite ? FILE_MAP_ALL_ACCESS : FILE_MAP_READ;
    HANDLE h = ::OpenFileMappingA(rights, FALSE, name.c_str());
    if (h == nullptr)
        return false;
    void* view = ::MapViewOfFile(h, rights, 0, 0, size);
    if (view == nullptr) {
        DWORD e = ::GetLastError();
        ::CloseHandle(h);
        ::SetLastError(e);
        return false;
    }
    m_impl = std::make_unique<Impl>();
    m_impl->mapping = h;
    m_data = static_cast<uint8_t*>(view);
    m_size = size;
    return true;
}

void SharedMemory::Close() {
    if (!m_impl)
        return;
    ::UnmapViewOfFile(m_data);
    ::CloseHandle(m_impl->mapping);
    m_data = nullptr;
    m_size = 0;
    m_impl.reset();
}

}  // namespace ov::platform
