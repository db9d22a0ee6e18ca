// CTimerThread: the gateway's minute clock. It tells its target of a tick
// of every slot whose period divides the minute count, the first at once. It waits on a timer of
// its own loop, so it ends as soon as it is told to.
#pragma once

#include <asio/steady_timer.hpp>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "gateway/event_thread.h"

namespace ov::gateway {

class CTimerThread : public ThreadHandler {
  public:
    static constexpr int kSlots = 10;
    static constexpr std::chrono::milliseconds kMinute{60000};

    // Called on the timer thread with the slot that ticked; it passes the
    // tick on to the thread it is for (the network thread, through a Runner).
    using Target = std::function<void(int slot)>;

    // target: where the ticks go. minute: the length of one minute (shorter
    // only for tests, see MinuteFromEnvironment).
    explicit CTimerThread(Target target, std::chrono::milliseconds minute = kMinute);

    // The first free slot, now with this period in minutes, or -1 when all
    // ten are taken. A slot of period 0 never fires. A period is taken as an
    // unsigned number, so a negative one fires only at the start.
    // REQUIRES: the thread has not started (the slots are then its own).
    int AddTimer(int period_minutes);

    // The minute count after c: it wraps to 1 after 0xEFFFFFFF, never back to 0.
    static uint32_t NextMinute(uint32_t c) { return c % 0xEFFFFFFFu + 1; }

    bool OnStart(EventThread& thread) override;
    void OnEnd() override;

  private:
    struct Slot {
        bool in_use = false;
        uint32_t period = 0;
    };

    void Tick();

    EventThread* m_thread = nullptr;
    Target m_target;
    std::chrono::milliseconds m_minute;
    std::array<Slot, kSlots> m_slots{};
    uint32_t m_count = 0;
    std::chrono::steady_clock::time_point m_next;
    std::unique_ptr<asio::steady_timer> m_timer;
};

// The minute of the gateway's timer: OVG_MINUTE_MS when it holds a whole
// number from 10 to 60000 (a diagnostic switch for tests), else 60000.
std::chrono::milliseconds MinuteFromEnvironment();

}  // namespace ov::gateway
