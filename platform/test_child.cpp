#include "test_child.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <thread>

#include "platform/named_mutex.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace ov::platform::testing {
namespace {

constexpr char kVariable[] = "OV_TEST_CHILD";

std::map<std::string, ChildRole>& Roles() {
    static std::map<std::string, ChildRole> roles;
    return roles;
}

// Runs the role at the start of the test run, after every static
// registration, and never returns to the tests.
class ChildRoleEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        const char* value = std::getenv(kVariable);
        if (!value)
            return;
        std::string text(value);
        auto colon = text.find(':');
        std::string name = text.substr(0, colon);
        std::string argument = colon == std::string::npos ? "" : text.substr(colon + 1);
        auto it = Roles().find(name);
        int code = it == Roles().end() ? 100 : it->second(argument);
        std::fflush(nullptr);
        std::_Exit(code);
    }
};

[[maybe_unused]] ::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new ChildRoleEnvironment);

}  // namespace

RegisterChildRole::RegisterChildRole(const char* name, ChildRole role) {
    Roles()[name] = role;
}

ChildProcess::~ChildProcess() {
    if (m_running) {
        Kill();
        int ignored;
        Wait(5000, &ignored);
    }
#ifdef _WIN32
    if (m_handle)
        ::CloseHandle(reinterpret_cast<HANDLE>(m_handle));
#endif
}

bool WaitUntil(const std::function<bool()>& done, int timeout_ms) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

std::string UniqueName(const std::string& stem) {
    static int counter = 0;
    return "ovtest_" + std::to_string(CurrentProcessId()) + "_" + std::to_string(++counter) + "_" +
           stem;
}

void SignalReady(const std::string& name) {
    static NamedMutex ready;  // held until the process ends
    ready.Create(name + ".ready");
}

bool WaitReady(const std::string& name, int timeout_ms) {
    return WaitUntil(
        [&] {
            NamedMutex probe;
            bool existed = false;
            return probe.Create(name + ".ready", &existed) && existed;
        },
        timeout_ms);
}

#ifdef _WIN32

uint32_t CurrentProcessId() {
    return ::GetCurrentProcessId();
}

namespace {

std::string Quoted(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos)
        return arg;
    std::string out = "\"";
    for (char c : arg) {
        if (c == '"')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

// quiet: the child's standard output goes nowhere.
bool Launch(const char* program, std::string command, bool quiet, PROCESS_INFORMATION* pi) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE null_out = quiet
                          ? ::CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                          &inherit, OPEN_EXISTING, 0, nullptr)
                          : INVALID_HANDLE_VALUE;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    if (quiet) {
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
        si.hStdOutput = null_out;
        si.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    }
    BOOL ok = ::CreateProcessA(program, command.data(), nullptr, nullptr, quiet, 0, nullptr,
                               nullptr, &si, pi);
    if (null_out != INVALID_HANDLE_VALUE)
        ::CloseHandle(null_out);
    if (ok)
        ::CloseHandle(pi->hThread);
    return ok != 0;
}

}  // namespace

std::string HostPath(const std::string& path) {
    if (path.empty() || path[0] != '/')
        return path;
    std::string out = "Z:" + path;
    for (char& c : out)
        if (c == '/')
            c = '\\';
    return out;
}

bool ChildProcess::Start(const std::string& role, const std::string& argument) {
    char path[MAX_PATH];
    DWORD n = ::GetModuleFileNameA(nullptr, path, sizeof path);
    if (n == 0 || n >= sizeof path)
        return false;
    std::string value = role + ":" + argument;
    // The child inherits this process's environment as it is at creation.
    ::SetEnvironmentVariableA(kVariable, value.c_str());
    // The child's test banner would only clutter the parent's output.
    PROCESS_INFORMATION pi{};
    bool ok = Launch(nullptr, Quoted(path), true, &pi);
    ::SetEnvironmentVariableA(kVariable, nullptr);
    if (!ok)
        return false;
    m_handle = reinterpret_cast<intptr_t>(pi.hProcess);
    m_pid = pi.dwProcessId;
    m_running = true;
    return true;
}

bool ChildProcess::StartProgram(const std::vector<std::string>& argv) {
    if (argv.empty())
        return false;
    std::string command;
    for (const std::string& a : argv) command += (command.empty() ? "" : " ") + Quoted(a);
    // Under Wine a host program is started as the host program it is.
    std::string program = HostPath(argv[0]);
    PROCESS_INFORMATION pi{};
    if (!Launch(program.c_str(), command, false, &pi))
        return false;
    m_handle = reinterpret_cast<intptr_t>(pi.hProcess);
    m_pid = pi.dwProcessId;
    m_running = true;
    return true;
}

void ChildProcess::Kill() {
    if (m_running)
        ::TerminateProcess(reinterpret_cast<HANDLE>(m_handle), 137);
}

bool ChildProcess::Wait(int timeout_ms, int* exit_code) {
    if (!m_handle)
        return false;
    HANDLE h = reinterpret_cast<HANDLE>(m_handle);
    if (::WaitForSingleObject(h, static_cast<DWORD>(timeout_ms)) != WAIT_OBJECT_0)
        return false;
    DWORD code = 0;
    ::GetExitCodeProcess(h, &code);
    *exit_code = static_cast<int>(code);
    m_running = false;
    return true;
}

#else

uint32_t CurrentProcessId() {
    return static_cast<uint32_t>(::getpid());
}

namespace {

// quiet: the child's standard output goes nowhere. 0 when it cannot start.
pid_t Spawn(const std::vector<std::string>& argv, char* const* envp, bool quiet) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (quiet)
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int r = ::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp);
    posix_spawn_file_actions_destroy(&actions);
    return r == 0 ? pid : 0;
}

}  // namespace

std::string HostPath(const std::string& path) {
    return path;
}

bool ChildProcess::Start(const std::string& role, const std::string& argument) {
    std::vector<std::string> env_strings;
    for (char** e = environ; *e; ++e) {
        if (std::string(*e).rfind(std::string(kVariable) + "=", 0) != 0)
            env_strings.push_back(*e);
    }
    env_strings.push_back(std::string(kVariable) + "=" + role + ":" + argument);
    std::vector<char*> envp;
    for (auto& s : env_strings) envp.push_back(s.data());
    envp.push_back(nullptr);
    // The child's test banner would only clutter the parent's output.
    pid_t pid = Spawn({"/proc/self/exe"}, envp.data(), true);
    if (pid == 0)
        return false;
    m_pid = static_cast<uint32_t>(pid);
    m_running = true;
    return true;
}

bool ChildProcess::StartProgram(const std::vector<std::string>& argv) {
    if (argv.empty())
        return false;
    pid_t pid = Spawn(argv, environ, false);
    if (pid == 0)
        return false;
    m_pid = static_cast<uint32_t>(pid);
    m_running = true;
    return true;
}

void ChildProcess::Kill() {
    if (m_running)
        ::kill(static_cast<pid_t>(m_pid), SIGKILL);
}

bool ChildProcess::Wait(int timeout_ms, int* exit_code) {
    if (!m_running)
        return false;
    int status = 0;
    bool ended = WaitUntil(
        [&] {
            return ::waitpid(static_cast<pid_t>(m_pid), &status, WNOHANG) ==
                   static_cast<pid_t>(m_pid);
        },
        timeout_ms);
    if (!ended)
        return false;
    *exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    m_running = false;
    return true;
}

#endif

}  // namespace ov::platform::testing
