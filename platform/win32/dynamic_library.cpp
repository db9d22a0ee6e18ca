#include "platform/dynamic_library.h"

#include <windows.h>

#include "platform/error.h"

namespace ov::platform {

std::string DynamicLibrary::FileName(const std::string& base) {
    return base + ".dll";
}

bool DynamicLibrary::Load(const std::string& base) {
    return LoadPath(FileName(base));
}

bool DynamicLibrary::LoadPath(const std::string& path) {
    Unload();
    m_handle = reinterpret_cast<void*>(::LoadLibraryA(path.c_str()));
    if (!m_handle) {
        m_error = "cannot load " + path + ": " + Error::Last().Text();
        return false;
    }
    return true;
}

void DynamicLibrary::Unload() {
    if (m_handle)
        ::FreeLibrary(reinterpret_cast<HMODULE>(m_handle));
    m_handle = nullptr;
}

void* DynamicLibrary::Symbol(const char* name) {
    if (!m_handle)
        return nullptr;
    void* p = reinterpret_cast<void*>(::GetProcAddress(reinterpret_cast<HMODULE>(m_handle), name));
    if (!p)
        m_error = std::string("no function ") + name;
    return p;
}

}  // namespace ov::platform
