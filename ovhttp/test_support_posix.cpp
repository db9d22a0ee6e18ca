#include <dlfcn.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include "test_support.h"

extern char** environ;

namespace ov::testing {

LoadedLibrary::LoadedLibrary(const std::string& bin_dir) {
    std::string path = bin_dir + "/libovhttp.so";
    m_handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m_handle)
        m_error = dlerror();
}

LoadedLibrary::~LoadedLibrary() {
    if (m_handle)
        dlclose(m_handle);
}

void* LoadedLibrary::Symbol(const char* name) const {
    return m_handle ? dlsym(m_handle, name) : nullptr;
}

bool ChildProcess::Start(const std::vector<std::string>& argv) {
    Stop();
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0)
        return false;
    m_id = pid;
    return true;
}

void ChildProcess::Stop() {
    if (m_id <= 0)
        return;
    kill(pid_t(m_id), SIGTERM);
    int status = 0;
    waitpid(pid_t(m_id), &status, 0);
    m_id = -1;
}

}  // namespace ov::testing
