#include "gateway/stats_publisher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "common/bytes.h"

namespace ov::gateway {
namespace {

std::string UniqueViewName() {
    static std::atomic<int> n{0};
    return std::string("ovt_stats_") + std::to_string(std::time(nullptr) % 100000) + "_" +
           std::to_string(n++);
}

TEST(StatsPublisher, RelayThreadsCountInTheirOwnSlotsAndTheTotalsStayExact) {
    StatsPublisher::Options o;
    o.view_name = UniqueViewName();
    o.max_sessions = 1000;
    StatsPublisher stats(o);
    ASSERT_EQ(stats.MaxSessions(), 1000u);
    ASSERT_TRUE(stats.StartPublishing());

    // Each thread owns the slots t, t + kThreads, ...; each relay counts
    // 3 bytes one way and 5 the other per round, and every second one ends.
    constexpr size_t kThreads = 4, kRounds = 200;
    std::atomic<bool> done{false};
    std::vector<std::thread> relays;
    for (size_t t = 0; t < kThreads; ++t) {
        relays.emplace_back([&stats, t] {
            for (size_t slot = t; slot < 1000; slot += kThreads) {
                SessionInfo info;
                info.user_port = uint16_t(slot);
                info.computer = "pc" + std::to_string(slot);
                stats.BeginSession(slot, info);
                for (size_t r = 0; r < kRounds; ++r) {
                    stats.AddBytes(slot, true, 3);
                    stats.AddBytes(slot, false, 5);
                }
                if (slot % 2 == 0)
                    stats.EndSession(slot);
            }
        });
    }
    // Publications while they count: a total never goes down.
    std::thread publisher([&] {
        uint64_t last = 0;
        while (!done.load()) {
            stats.Publish();
            const uint64_t now = stats.Snapshot().Get(Counter::BytesToComputer);
            EXPECT_GE(now, last);
            last = now;
        }
    });
    for (std::thread& r : relays) r.join();
    done = true;
    publisher.join();

    stats.AddBytes(1000, true, 7);  // a slot past the area still counts
    EXPECT_EQ(stats.Get(Counter::BytesToComputer), 1000 * kRounds * 3 + 7);
    EXPECT_EQ(stats.Get(Counter::BytesToUser), 1000 * kRounds * 5);

    stats.Publish();
    StatsSnapshot back;
    ASSERT_TRUE(ReadPublishedStats(&back, o.view_name));
    EXPECT_EQ(back.Get(Counter::BytesToComputer), 1000 * kRounds * 3 + 7);
    EXPECT_EQ(back.Get(Counter::BytesToUser), 1000 * kRounds * 5);
    ASSERT_EQ(back.sessions.size(), 500u);
    EXPECT_EQ(back.sessions.back().slot, 999u);
    EXPECT_EQ(back.sessions.back().computer, "pc999");
    EXPECT_EQ(back.sessions.back().to_user, kRounds * 5);

    // A relay that starts again in a slot counts from zero; the totals keep
    // what the slot's earlier relay moved.
    stats.BeginSession(999, SessionInfo{});
    stats.AddBytes(999, false, 1);
    StatsSnapshot now = stats.Snapshot();
    EXPECT_EQ(now.sessions.back().to_user, 1u);
    EXPECT_EQ(now.Get(Counter::BytesToUser), 1000 * kRounds * 5 + 1);
    stats.ClosePublishing();
    EXPECT_FALSE(ReadPublishedStats(&back, o.view_name));
}

TEST(StatsPublisher, TheDefaultAreaIsTheOneReadersOfFortySlotsOpen) {
    StatsPublisher::Options o;
    o.view_name = UniqueViewName();
    o.max_sessions = 5000;
    EXPECT_EQ(StatsPublisher(o).MaxSessions(), StatsLayout::kSessionsLimit);
    o.max_sessions = 0;
    EXPECT_EQ(StatsPublisher(o).MaxSessions(), 1u);

    o.max_sessions = StatsLayout::kDefaultSessions;
    StatsPublisher stats(o);
    ASSERT_TRUE(stats.StartPublishing());
    stats.BeginSession(39, SessionInfo{});
    stats.BeginSession(40, SessionInfo{});  // no such slot: not shown
    stats.Publish();
    platform::SharedMemory raw;
    ASSERT_TRUE(raw.Open(o.view_name, 4160));
    EXPECT_EQ(DecodeFixed32LE(raw.data() + StatsLayout::kMaxSessionsOffset), 40u);
    StatsSnapshot back;
    ASSERT_TRUE(DecodeStats(raw.data(), raw.size(), &back));
    ASSERT_EQ(back.sessions.size(), 1u);
    EXPECT_EQ(back.sessions[0].slot, 39u);
    stats.ClosePublishing();
}

}  // namespace
}  // namespace ov::gateway
