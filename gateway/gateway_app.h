// The gateway program: its entry, the run routine and the stop of a running
// gateway, for every mode of the command line.
#pragma once

#include <string>

namespace ov::gateway {

// The whole program: log set-up, then the modes of the command line (the
// text after the program name). Returns the exit code.
int GatewayMain(const std::string& command_line);

// Runs the gateway until it is asked to end: 0 after a normal end, -1 when
// another instance runs or the network thread cannot start, and
// platform::FailedRunExitCode() when the gateway could not serve (its start
// failed, or a listener died).
int RunGateway();
// Ends the running gateway: in its own service process directly, from any
// other process by a stop request.
void StopGateway();

// The routine-line threshold: 9, or OVG_LOG_THRESHOLD when that is a number.
int StartupLogThreshold();

}  // namespace ov::gateway
