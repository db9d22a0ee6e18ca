// Small facts about the running process.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace ov::platform {

// The command line after the program name, as one text (Windows: the rest
// of GetCommandLineA; elsewhere the arguments joined by blanks).
std::string CommandLineArguments(int argc, char** argv);

// Asks to be shut down early at system shutdown, before the programs that
// depend on us (Windows only).
void RequestEarlyShutdown();

// The exit code of a gateway run that ended because it could not serve (a
// port taken, a listener gone). Windows: 0, as the program has always
// ended; elsewhere 1, so that the service manager sees a failure and
// restarts the gateway.
int FailedRunExitCode();

// The host name, or empty.
std::string HostName();

// Starts the system's socket library for the whole run (Windows Sockets
// 1.1); false when it cannot be used. Elsewhere always true.
bool StartSocketLibrary();

// This computer's IPv4 addresses as other computers of its LAN see them, in
// network order. Windows: those its host name resolves to. Elsewhere the
// host name usually resolves to a loopback address, so: the addresses of
// the interfaces that are up and are not loopback.
std::vector<std::array<uint8_t, 4>> OwnIPv4Addresses();

// Lowers the calling thread's priority, so that the gateway's timer and its
// reports to the web agents yield to the threads that serve users. Best
// effort. Windows: the thread priority of that name; Linux: the thread's
// nice value raised by 5 (BelowNormal) or 10 (Lowest).
enum class ThreadPriority { BelowNormal, Lowest };
void LowerThisThreadPriority(ThreadPriority priority);

}  // namespace ov::platform
