#include "common/live_stats.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "common/bytes.h"

namespace ov {
namespace {

TEST(LiveStats, RecordsRoundTripAndAreasThatLieAboutTheirSizesAreRefused) {
    StatsSnapshot s;
    s.started = 1765170000;
    s.published = 1765173600;
    s.sequence = 7;
    for (size_t i = 0; i < kCounterCount; ++i) s.counters[i] = (uint64_t(1) << 40) + i;
    for (uint16_t i = 0; i < 41; ++i) {  // one more than fits
        SessionInfo r;
        r.user_address[0] = 192, r.user_address[3] = uint8_t(i);
        r.user_port = uint16_t(40000 + i);
        r.computer = std::string(40, char('a' + i % 26)) + "cut";  // longer than its field
        r.computer_port = 5900;
        r.started = s.started + i;
        r.to_computer = uint64_t(i) << 33;
        r.to_user = i;
        s.sessions.push_back(r);
    }
    std::vector<uint8_t> area(StatsLayout::AreaSize(StatsLayout::kDefaultSessions));
    EncodeStats(s, area.data(), StatsLayout::kDefaultSessions);
    StatsSnapshot back;
    ASSERT_TRUE(DecodeStats(area.data(), area.size(), &back));
    EXPECT_EQ(back.sequence, 7u);
    EXPECT_EQ(back.started, s.started);
    EXPECT_EQ(back.Get(Counter::BytesToUser), s.Get(Counter::BytesToUser));
    ASSERT_EQ(back.sessions.size(), StatsLayout::kDefaultSessions);
    EXPECT_EQ(back.sessions[39].computer, std::string(40, char('a' + 39 % 26)));
    EXPECT_EQ(back.sessions[39].to_computer, uint64_t(39) << 33);
    EXPECT_EQ(back.sessions[39].user_port, 40039);
    EXPECT_EQ(AddressText(back.sessions[39].user_address), "192.0.0.39");

    // Each field that places or sizes something, made to point past the area.
    const std::pair<size_t, uint32_t> lies[] = {
        {StatsLayout::kMagicOffset, 0x12345678},
        {StatsLayout::kHeaderSizeOffset, 8},
        {StatsLayout::kHeaderSizeOffset, 0xfffffff0},
        {StatsLayout::kCounterCountOffset, 0x40000000},
        {StatsLayout::kSessionSizeOffset, 16},
        {StatsLayout::kSessionCountOffset, 41},
        {StatsLayout::kSessionCountOffset, 0xffffffff},
        {StatsLayout::kMaxSessionsOffset, 39},  // fewer slots than sessions
        {StatsLayout::kSessionsAtOffset, uint32_t(area.size()) - 95},
    };
    for (auto [offset, value] : lies) {
        std::vector<uint8_t> bad = area;
        EncodeFixed32LE(bad.data() + offset, value);
        StatsSnapshot untouched = back;
        EXPECT_FALSE(DecodeStats(bad.data(), bad.size(), &untouched)) << offset << "=" << value;
        EXPECT_EQ(untouched.sessions.size(), back.sessions.size());
    }
    EXPECT_FALSE(DecodeStats(area.data(), 40, &back));  // shorter than a header

    // A gateway of many relays: the area grows, the header and the first
    // sessions stay where a reader of the 40-slot area finds them.
    for (uint16_t i = 41; i < 1001; ++i) s.sessions.push_back(s.sessions[i % 41]);
    std::vector<uint8_t> large(StatsLayout::AreaSize(1000));
    EncodeStats(s, large.data(), 1000);
    EXPECT_EQ(DecodeFixed32LE(large.data() + StatsLayout::kMaxSessionsOffset), 1000u);
    ASSERT_TRUE(DecodeStats(large.data(), large.size(), &back));
    ASSERT_EQ(back.sessions.size(), 1000u);
    EXPECT_EQ(back.sessions[999].user_port, 40000 + 999 % 41);
    // Only the slot and session counts differ in the header; the counters stay.
    EXPECT_EQ(std::memcmp(large.data(), area.data(), StatsLayout::kMaxSessionsOffset), 0);
    EXPECT_EQ(std::memcmp(large.data() + StatsLayout::kSequenceOffset,
                          area.data() + StatsLayout::kSequenceOffset,
                          StatsLayout::kSessionsOffset - StatsLayout::kSequenceOffset),
              0);
    EXPECT_FALSE(DecodeStats(large.data(), large.size() - 1, &back));
}

}  // namespace
}  // namespace ov
