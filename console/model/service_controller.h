// Installing, starting and stopping the gateway from the console. The NT
// family goes through the service manager; the Windows 9x family, which has
// none, runs OV_G.exe with a switch. The system calls sit behind
// ServiceSystem, so the decisions, waits and messages run without either.
//
// The console runs with the rights of whoever logged on, which on a
// current Windows is a standard user even for an administrator. It asks the
// service manager only for what it needs (connect, the service's status) and
// tells a service it may not see from a missing one. What a standard user
// may not do (install, remove, start, stop) runs in a program started
// elevated for that one action, waited for; a refused prompt changes
// nothing.
#pragma once

#include <string>

namespace ov::console {

// The rights the console asks the service manager for (the values of
// SC_MANAGER_CONNECT, SERVICE_QUERY_STATUS, SERVICE_START, SERVICE_STOP):
// the least that shows the state and, for whoever may, starts and stops.
inline constexpr unsigned long kManagerRights = 0x0001;
inline constexpr unsigned long kStatusRights = 0x0004;
inline constexpr unsigned long kControlRights = 0x0004 | 0x0010 | 0x0020;

class ServiceSystem {
  public:
    virtual ~ServiceSystem() = default;

    // VER_PLATFORM_WIN32_NT selects the service manager.
    virtual bool IsNtFamily() = 0;
    // NotAllowed: the service manager refused even connect rights, or the
    // service's status, so whether it is there cannot be told.
    enum class Installed { Yes, No, NotAllowed, RegistryUnreadable };
    // The manager with kManagerRights, the service with kStatusRights.
    virtual Installed IsInstalled() = 0;
    // Runs OV_G.exe (no path) hidden, in the console's own directory, with
    // these parameters; true when the shell accepted the run.
    virtual bool RunGateway(const std::string& parameters) = 0;
    virtual void Sleep(unsigned milliseconds) = 0;

    // Runs program (a file of the console's directory) with these
    // parameters through the elevation prompt and waits for its end.
    enum class Elevation { Done, Refused, Failed };
    virtual Elevation RunElevated(const std::string& program, const std::string& parameters,
                                  unsigned long* exit_code) = 0;

    // The service manager: open the manager (kManagerRights) and the
    // service (kControlRights), ask for a start or a stop, read the state,
    // close both.
    enum class State { Stopped, StartPending, StopPending, Running, Other };
    enum class Open { Opened, Denied, Failed };
    virtual Open OpenService() = 0;
    virtual bool StartService() = 0;
    virtual bool StopService() = 0;
    virtual bool QueryState(State* state) = 0;
    virtual void CloseService() = 0;
};

// The messages of the operations; caption and icon as the console shows them.
class MessageSink {
  public:
    virtual ~MessageSink() = default;
    virtual void Show(const std::string& text, const std::string& caption, bool exclamation) = 0;
};

// The console's own switches for the elevated helper: it runs the one
// action with the service manager and exits 0 when it succeeded.
inline constexpr char kStartServiceSwitch[] = "-startservice";
inline constexpr char kStopServiceSwitch[] = "-stopservice";
inline constexpr char kConsoleProgram[] = "ovconsole.exe";
inline constexpr char kGatewayProgram[] = "OV_G.exe";

class ServiceController {
  public:
    // elevate: a manager that denies start or stop is asked again through
    // the elevated helper; off in the helper itself, so it never loops.
    ServiceController(ServiceSystem* system, MessageSink* messages, bool elevate = true)
        : m_system(system), m_messages(messages), m_elevate(elevate) {}

    // The start-up's question: offer to install? Only when the service is
    // known to be missing (or the 9x key cannot be read, which says so); a
    // service the user may not see is told, never offered.
    bool ShouldOfferInstall();
    // Yes only when the service is known to be there; NotAllowed and an
    // unreadable RunServices key say so in a message.
    bool IsInstalled();
    bool Install();
    bool Remove();
    // NT: the service reached running; 9x: the run was accepted.
    bool Start();
    // NT: the service reached stopped; 9x: the run was accepted.
    bool Stop();
    bool Run();

    void Sleep(unsigned milliseconds) { m_system->Sleep(milliseconds); }
    // The last Start or Stop failed at the elevation prompt and said so
    // already, so no second message follows.
    bool FailureTold() const { return m_failure_told; }

  private:
    // One request to the service manager, then a poll every second while the
    // service stays in `pending`; true when it ends in `wanted`.
    bool Drive(bool start, ServiceSystem::State pending, ServiceSystem::State wanted);
    // One action in an elevated program, waited for; true when it ran (its
    // exit code in *exit_code), a refused prompt or a failed start told.
    bool Elevated(const char* program, const std::string& parameters, unsigned long* exit_code);

    ServiceSystem* m_system;
    MessageSink* m_messages;
    bool m_elevate;
    bool m_failure_told = false;
};

}  // namespace ov::console
