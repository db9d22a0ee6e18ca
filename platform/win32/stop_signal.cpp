#include "platform/stop_signal.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <thread>

namespace ov::platform {
namespace {

std::atomic<bool> g_stop{false};
std::atomic<bool> g_handled{false};

BOOL WINAPI OnConsoleEvent(DWORD event) {
    g_stop = true;
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        // The process ends when this returns: give the program its goodbye,
        // within the few seconds Windows allows.
        for (int i = 0; i < 200 && !g_handled; ++i) ::Sleep(20);
    }
    return TRUE;
}

}  // namespace

void CatchStopSignals() {
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

bool WaitForStopSignal(std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!g_stop) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= end)
            return false;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            end - now, std::chrono::milliseconds(20)));
    }
    return true;
}

void StopSignalHandled() {
    g_handled = true;
}

}  // namespace ov::platform
