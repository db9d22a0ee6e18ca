// The command line of OV_G: which modes run, in which order, and the exit
// code. Matching is by prefix after lower-casing, so "-RUN" and "-runx" both
// mean "-run".
#pragma once

#include <string>

namespace ov::gateway {

class SwitchActions {
  public:
    virtual ~SwitchActions() = default;
    virtual int RunGateway() = 0;   // "-run", or nothing at all
    virtual void RunService() = 0;  // "-service"
    virtual void Install() = 0;     // "-install"
    virtual void Remove() = 0;      // "-remove"
    virtual int Startup() = 0;      // "-startup": its exit code
    virtual int End() = 0;          // "-end": its exit code
    virtual void ShowUsage() = 0;   // anything else
};

// Runs what the command line (the text after the program name) asks for and
// returns the process exit code.
int DispatchSwitches(std::string command_line, SwitchActions& actions);

}  // namespace ov::gateway
