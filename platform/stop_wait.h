// The stop listener's wait, the same on every system; only what is waited
// on differs (signals on Linux, a named event on Windows).
#pragma once

#include <memory>
#include <system_error>

namespace ov::platform {

// Keeps the wait of state armed and runs state->on_stop at each completion.
// The wait is armed again before on_stop runs, so a request that arrives
// meanwhile is not lost; a completion queued when the listener went away
// finds the state gone and does nothing.
// REQUIRES: State has on_stop (callable, may be empty) and AsyncWait(handler),
// which starts one wait that ends with handler(error_code, ...).
template <class State>
void ArmStopWait(const std::shared_ptr<State>& state) {
    std::weak_ptr<State> weak = state;
    state->AsyncWait([weak](const std::error_code& ec, auto&&...) {
        auto s = weak.lock();
        if (ec || !s)
            return;
        ArmStopWait(s);
        if (s->on_stop)
            s->on_stop();
    });
}

}  // namespace ov::platform
