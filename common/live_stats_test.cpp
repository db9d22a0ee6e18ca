#include "common/live_stats.h"

#include <gtest/gtest.h>

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
    std::vector<uint8_t> area(StatsLayout::kAreaSize);
    EncodeStats(s, area.data());
    StatsSnapshot back;
    ASSERT_TRUE(DecodeStats(area.data(), area.size(), &back));
    EXPECT_EQ(back.sequence, 7u);
    EXPECT_EQ(back.started, s.started);
    EXPECT_EQ(back.Get(Counter::BytesToUser), s.Get(Counter::BytesToUser));
    ASSERT_EQ(back.sessions.size(), StatsLayout::kMaxSessions);
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
        {StatsLayout::kSessionsAtOffset, StatsLayout::kAreaSize - 95},
    };
    for (auto [offset, value] : lies) {
        std::vector<uint8_t> bad = area;
        EncodeFixed32LE(bad.data() + offset, value);
        StatsSnapshot untouched = back;
        EXPECT_FALSE(DecodeStats(bad.data(), bad.size(), &untouched)) << offset << "=" << value;
        EXPECT_EQ(untouched.sessions.size(), back.sessions.size());
    }
    EXPECT_FALSE(DecodeStats(area.data(), 40, &back));  // shorter than a header
}

}  // namespace
}  // namespace ov
