// Child processes for tests: mostly the test program itself, started with
// OV_TEST_CHILD=<role>:<argument> in its environment.
// Before any test runs, such a process runs the role registered under that
// name and exits with its result, so a test can have a second process hold a
// lock, a block or a stop listener, and kill it to play a crash.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ov::platform::testing {

using ChildRole = int (*)(const std::string& argument);

// Registers a role (at static initialisation: `static RegisterChildRole r(...)`).
struct RegisterChildRole {
    RegisterChildRole(const char* name, ChildRole role);
};

class ChildProcess {
  public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();  // kills a child that still runs

    bool Start(const std::string& role, const std::string& argument);
    // Starts another program, argv[0] naming it by a path that HostPath
    // turns into one of this program; its output goes where ours goes.
    bool StartProgram(const std::vector<std::string>& argv);
    // Ends the child at once, without any clean-up: a crash.
    void Kill();
    // Waits up to timeout_ms for the child to end; its exit code.
    bool Wait(int timeout_ms, int* exit_code);
    uint32_t pid() const { return m_pid; }

  private:
    uint32_t m_pid = 0;
    intptr_t m_handle = 0;  // Windows process handle
    bool m_running = false;
};

uint32_t CurrentProcessId();
// A path of the machine the tests run on (as the build names its files) as
// this program names it: unchanged on Linux; under Wine the host's root
// directory is drive Z:.
std::string HostPath(const std::string& path);
// Polls until done() or timeout_ms passed; done()'s last answer.
bool WaitUntil(const std::function<bool()>& done, int timeout_ms);
// A name no other test process uses at the same time.
std::string UniqueName(const std::string& stem);
// A child role's "I am ready" sign: a named mutex the child creates.
void SignalReady(const std::string& name);
bool WaitReady(const std::string& name, int timeout_ms);

}  // namespace ov::platform::testing
