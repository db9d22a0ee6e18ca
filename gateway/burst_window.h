// BurstWindow: how a thread that is told of many small changes (a relay's
// start or end) paces the work each one asks for. The first kBurst in a
// window of kWindow are done at once; past them, the rest of the window's
// changes wait for its end and are done together. A quiet gateway thus does
// everything at once, and a busy one a few dozen times a second.
#pragma once

#include <chrono>

namespace ov::gateway {

class BurstWindow {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kWindow{100};
    static constexpr int kBurst = 10;

    // Counts one piece of work at now; true when it may be done at once,
    // false when it should wait for WindowEnd().
    bool Take(Clock::time_point now) {
        if (now - m_start >= kWindow) {
            m_start = now;
            m_taken = 0;
        }
        return m_taken++ < kBurst;
    }
    Clock::time_point WindowEnd() const { return m_start + kWindow; }

  private:
    Clock::time_point m_start{};
    int m_taken = 0;
};

}  // namespace ov::gateway
