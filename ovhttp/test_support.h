// What the tests need of the operating system beyond sockets: the library
// loaded by name as its callers load it, and a child process (the test web
// agent). One implementation per system: test_support_posix.cpp,
// test_support_win32.cpp.
#pragma once

#include <string>
#include <vector>

namespace ov::testing {

class LoadedLibrary {
  public:
    // Loads ovhttp from bin_dir the way the gateway does: "ovhttp.dll" by
    // name (bin_dir on the search path) on Windows, libovhttp.so in bin_dir
    // elsewhere.
    explicit LoadedLibrary(const std::string& bin_dir);
    ~LoadedLibrary();
    LoadedLibrary(const LoadedLibrary&) = delete;
    LoadedLibrary& operator=(const LoadedLibrary&) = delete;

    bool Loaded() const { return m_handle != nullptr; }
    const std::string& Error() const { return m_error; }
    void* Symbol(const char* name) const;
    template <typename F>
    F Function(const char* name) const {
        return reinterpret_cast<F>(Symbol(name));
    }

  private:
    void* m_handle = nullptr;
    std::string m_error;
};

class ChildProcess {
  public:
    ChildProcess() = default;
    ~ChildProcess() { Stop(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // argv[0] is a path on this machine's native (Linux) file system; under
    // Wine it is started as the host program it is.
    bool Start(const std::vector<std::string>& argv);
    // Ends the child if it still runs and waits for it.
    void Stop();

  private:
    long long m_id = -1;
    void* m_handle = nullptr;
};

}  // namespace ov::testing
