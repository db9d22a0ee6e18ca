// Ctrl-C, SIGTERM and, on Windows, the close of the console window, for
// command-line programs that must say goodbye before they end.
#pragma once

#include <chrono>

namespace ov::platform {

// From now on a stop request no longer ends the process at once; it is
// recorded for WaitForStopSignal. Call once, early.
void CatchStopSignals();

// True as soon as a stop was requested, false when timeout passed first.
bool WaitForStopSignal(std::chrono::milliseconds timeout);

// Windows ends a process as soon as its console-close handler returns, so
// the handler waits (a few seconds at most) until the program calls this
// after its goodbye. Elsewhere it does nothing.
void StopSignalHandled();

}  // namespace ov::platform
