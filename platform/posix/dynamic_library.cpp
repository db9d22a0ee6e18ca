#include "platform/dynamic_library.h"

#include <dlfcn.h>

#include "platform/files.h"

namespace ov::platform {

std::string DynamicLibrary::FileName(const std::string& base) {
    return "lib" + base + ".so";
}

bool DynamicLibrary::Load(const std::string& base) {
    return LoadPath(ProgramDirectory() + FileName(base));
}

bool DynamicLibrary::LoadPath(const std::string& path) {
    Unload();
    m_handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m_handle) {
        const char* e = ::dlerror();
        m_error = e ? e : "cannot load " + path;
        return false;
    }
    return true;
}

void DynamicLibrary::Unload() {
    if (m_handle)
        ::dlclose(m_handle);
    m_handle = nullptr;
}

void* DynamicLibrary::Symbol(const char* name) {
    if (!m_handle)
        return nullptr;
    ::dlerror();
    void* p = ::dlsym(m_handle, name);
    if (!p)
        m_error = std::string("no function ") + name;
    return p;
}

}  // namespace ov::platform
