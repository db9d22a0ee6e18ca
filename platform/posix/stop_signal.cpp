#include "platform/stop_signal.h"

#include <signal.h>

#include <algorithm>
#include <thread>

namespace ov::platform {
namespace {

volatile sig_atomic_t g_stop = 0;

void OnSignal(int) {
    g_stop = 1;
}

}  // namespace

void CatchStopSignals() {
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(s, &action, nullptr);
}

bool WaitForStopSignal(std::chrono::milliseconds timeout) {
    // A short poll keeps the handler async-signal-safe (it only sets a flag)
    // and answers within a fraction of a second.
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

void StopSignalHandled() {}

}  // namespace ov::platform
