#include "gateway/net/timer_thread.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <vector>

namespace ov::gateway {
namespace {

using namespace std::chrono_literals;

// Collects the ticks a timer posts.
struct Ticks {
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<intptr_t> slots;

    CTimerThread::Target Target() {
        return [this](int slot) {
            std::lock_guard<std::mutex> lock(mutex);
            slots.push_back(slot);
            cv.notify_all();
        };
    }
    std::vector<intptr_t> WaitFor(size_t count) {
        std::unique_lock<std::mutex> lock(mutex);
        cv.wait_for(lock, 10s, [&] { return slots.size() >= count; });
        return {slots.begin(), slots.begin() + std::min(count, slots.size())};
    }
};

TEST(TimerThread, FirstTicksComeAtOnceAndTheThreadEndsWithoutWaitingItsMinute) {
    Ticks ticks;
    auto handler = std::make_unique<CTimerThread>(ticks.Target(), 60s);
    for (int i = 0; i < CTimerThread::kSlots; ++i) EXPECT_EQ(handler->AddTimer(i == 1 ? 0 : 2), i);
    EXPECT_EQ(handler->AddTimer(2), -1);
    EventThread timer("timer", std::move(handler));
    ASSERT_TRUE(timer.Start());
    // Every slot with a period ticks at minute 0, long before a minute is up.
    EXPECT_EQ(ticks.WaitFor(9), (std::vector<intptr_t>{0, 2, 3, 4, 5, 6, 7, 8, 9}));
    timer.quit();
    EXPECT_EQ(timer.wait_for(5s), EventThread::WaitResult::Ended);
}

TEST(TimerThread, EachSlotTicksEveryPeriodAndPeriodZeroNever) {
    Ticks ticks;
    auto handler = std::make_unique<CTimerThread>(ticks.Target(), 10ms);
    ASSERT_EQ(handler->AddTimer(1), 0);
    ASSERT_EQ(handler->AddTimer(0), 1);
    ASSERT_EQ(handler->AddTimer(3), 2);
    EventThread timer("timer", std::move(handler));
    ASSERT_TRUE(timer.Start());
    // Minutes 0..6: slot 0 every minute, slot 2 at 0, 3 and 6.
    EXPECT_EQ(ticks.WaitFor(10), (std::vector<intptr_t>{0, 2, 0, 0, 0, 2, 0, 0, 0, 2}));
    timer.quit();
    EXPECT_EQ(timer.wait_for(5s), EventThread::WaitResult::Ended);
}

TEST(TimerThread, TheMinuteCountWrapsToOneNotZero) {
    // Zero would give every slot an extra tick at the wrap.
    EXPECT_EQ(CTimerThread::NextMinute(0), 1u);
    EXPECT_EQ(CTimerThread::NextMinute(0xEFFFFFFEu), 0xEFFFFFFFu);
    EXPECT_EQ(CTimerThread::NextMinute(0xEFFFFFFFu), 1u);
}

}  // namespace
}  // namespace ov::gateway
