// Small facts about the running process.
#pragma once

#include <string>

namespace ov::platform {

// The command line after the program name, as one text (Windows: the rest
// of GetCommandLineA; elsewhere the arguments joined by blanks).
std::string CommandLineArguments(int argc, char** argv);

// Asks to be shut down early at system shutdown, before the programs that
// depend on us (Windows only).
void RequestEarlyShutdown();

// The host name, or empty.
std::string HostName();

}  // namespace ov::platform
