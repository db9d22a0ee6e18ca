// Installing, starting and stopping the gateway from the console. The NT
// family goes through the service manager; the Windows 9x family, which has
// none, runs OV_G.exe with a switch. The system calls sit behind
// ServiceSystem, so the decisions, waits and messages run without either.
#pragma once

#include <string>

namespace ov::console {

class ServiceSystem {
  public:
    virtual ~ServiceSystem() = default;

    // VER_PLATFORM_WIN32_NT selects the service manager.
    virtual bool IsNtFamily() = 0;
    enum class Installed { Yes, No, RegistryUnreadable };
    virtual Installed IsInstalled() = 0;
    // Runs OV_G.exe (no path) hidden, in the console's own directory, with
    // these parameters; true when the shell accepted the run.
    virtual bool RunGateway(const std::string& parameters) = 0;
    virtual void Sleep(unsigned milliseconds) = 0;

    // The service manager: open the manager and the service, ask for a
    // start or a stop, read the state, close both.
    enum class State { Stopped, StartPending, StopPending, Running, Other };
    virtual bool OpenService() = 0;
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

class ServiceController {
  public:
    ServiceController(ServiceSystem* system, MessageSink* messages)
        : m_system(system), m_messages(messages) {}

    bool IsInstalled();
    bool Install();
    bool Remove();
    // NT: the service reached running; 9x: the run was accepted.
    bool Start();
    // NT: the service reached stopped; 9x: the run was accepted.
    bool Stop();
    bool Run();

    void Sleep(unsigned milliseconds) { m_system->Sleep(milliseconds); }

  private:
    // One request to the service manager, then a poll every second while the
    // service stays in `pending`; true when it ends in `wanted`.
    bool Drive(bool start, ServiceSystem::State pending, ServiceSystem::State wanted);

    ServiceSystem* m_system;
    MessageSink* m_messages;
};

}  // namespace ov::console
