// A shared library loaded by name and its functions looked up by name, the
// way our programs use ovident and ovhttp.
#pragma once

#include <string>

namespace ov::platform {

class DynamicLibrary {
  public:
    DynamicLibrary() = default;
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;
    ~DynamicLibrary() { Unload(); }

    // The file of a library: "ovident" -> "ovident.dll" (Windows) or
    // "libovident.so" (Linux).
    static std::string FileName(const std::string& base);

    // Windows: LoadLibraryA of the file name (the program's directory comes
    // first in the search). Linux: the file in the program's directory.
    bool Load(const std::string& base);
    bool LoadPath(const std::string& path);
    bool IsLoaded() const { return m_handle != nullptr; }
    void Unload();

    // Null when the library or the symbol is missing.
    void* Symbol(const char* name);
    template <class F>
    F Function(const char* name) {
        return reinterpret_cast<F>(Symbol(name));
    }

    // Why the last Load or Symbol failed.
    const std::string& Error() const { return m_error; }

  private:
    void* m_handle = nullptr;
    std::string m_error;
};

}  // namespace ov::platform
