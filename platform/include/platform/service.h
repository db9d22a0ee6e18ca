// The gateway as a Windows service: the service entry and its control
// handler, installing, removing, starting and stopping the service, and the
// event log. On the Windows 9x family, which has no Service Control Manager,
// the gateway is registered under the RunServices key instead. Elsewhere
// (Linux) every action here does nothing and returns 0; the gateway runs
// there under systemd.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace ov::platform::service {

// How the service reaches the gateway's own logic.
struct Hooks {
    std::function<int()> run_gateway;    // RunGateway: runs until the gateway ends
    std::function<void()> stop_gateway;  // StopGateway: ends a running gateway
    // Writes one routine line of the gateway log (level 0, "    %s\r\n").
    std::function<void(const std::string&)> log_line;
};
// REQUIRES: called before any action below.
void SetHooks(Hooks hooks);

// "-service": hands the process to the Service Control Manager until the
// service stops (on the Windows 9x family runs the gateway instead). 0.
int RunServiceDispatcher();
// "-install": 1 when the service is (or already was) installed, else 0.
int Install();
// "-remove": stops and deletes the service. 0.
int Remove();
// "-startup": starts the installed service; 1 when it reached running.
int Startup();
// "-end" while the service runs: stops it; 1 when it stopped.
int EndService();

bool IsServiceInstalled();
// The Windows 9x family (dwPlatformId 1).
bool IsWindows9x();

// Reports the service's state; false (and an error event) on failure.
bool ReportServiceStatus(uint32_t state, uint32_t exit_code, uint32_t wait_hint);
// An information event with the formatted text (at most 255 bytes).
void EventLogInfo(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
// An error event with the last error code and text.
void EventLogError(const char* text);
// The formatted text (at most 1023 bytes) on the standard error handle.
void StderrPrint(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));

}  // namespace ov::platform::service
