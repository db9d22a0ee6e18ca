#include "gateway/net/announcement_handling.h"

#include <gtest/gtest.h>

#include <atomic>
#include <ctime>

namespace ov::gateway {
namespace {

std::vector<uint8_t> Datagram(const std::string& name, uint32_t port, uint8_t last_octet) {
    std::vector<uint8_t> d(64, 0);
    std::memcpy(d.data(), name.data(), name.size());
    EncodeFixed32LE(d.data() + 40, port);
    d[44] = 10, d[47] = last_octet;
    return d;
}

class Announcements : public ::testing::Test {
  public:
    Announcements() { Reset(ControlledComputerList::Options().max_announcements); }
    void Reset(size_t max_announcements) {
        static std::atomic<int> n{0};
        ControlledComputerList::Options o;
        o.view_name =
            "ovt_ann_" + std::to_string(std::time(nullptr) % 100000) + "_" + std::to_string(n++);
        o.max_announcements = max_announcements;
        handler.reset();
        list = std::make_unique<ControlledComputerList>(o);
        handler = std::make_unique<AnnouncementHandler>(
            *list, [this](const std::string& l) { lines.push_back(l); });
    }
    AnnouncementHandler::Outcome Feed(const std::vector<uint8_t>& d) {
        auto r = handler->OnDatagram(d.data(), d.size());
        ComputerAnnouncement a;
        if (r.convert_generation != 0 && list->AnnouncementOf(r.convert_generation, &a))
            converts.push_back(a.Name());
        last_convert = r.convert_generation;
        last_hurry = r.hurry_generation;
        return r.outcome;
    }
    std::vector<std::string> converts;
    uint32_t last_convert = 0, last_hurry = 0;
    std::vector<std::string> lines;
    std::unique_ptr<ControlledComputerList> list;
    std::unique_ptr<AnnouncementHandler> handler;
};

using O = AnnouncementHandler::Outcome;

TEST_F(Announcements, RepeatsOfTheLastAcceptedDatagramAreDropped) {
    EXPECT_EQ(Feed(std::vector<uint8_t>(64, 0)),
              O::Repeat);  // the initial last datagram is all zero
    auto a = Datagram("pc1", 5, 7), b = Datagram("pc2", 5, 8);
    EXPECT_EQ(Feed(a), O::Updated);
    EXPECT_EQ(Feed(a), O::Repeat);
    EXPECT_EQ(Feed(b), O::Updated);
    EXPECT_EQ(Feed(a), O::Unchanged);  // processed again, equal addresses
    EXPECT_EQ(converts, (std::vector<std::string>{"pc1", "pc2"}));
}

// A computer that announces itself again before its address is settled asks
// for its waiting conversion to go first and is kept in a full table; once
// published it asks for nothing.
TEST_F(Announcements, AnUnsettledComputerHeardAgainIsHurriedAndKeptInAFullTable) {
    Reset(2);
    auto real = Datagram("real", 5, 7);
    EXPECT_EQ(Feed(real), O::Updated);
    const uint32_t generation = last_convert;
    EXPECT_EQ(Feed(real), O::Repeat);
    EXPECT_EQ(last_hurry, generation);
    EXPECT_EQ(Feed(Datagram("fake1", 5, 1)), O::Updated);
    EXPECT_EQ(Feed(real), O::Unchanged);  // heard after fake1: fake1 goes first
    EXPECT_EQ(last_hurry, generation);
    EXPECT_EQ(Feed(Datagram("fake2", 5, 2)), O::Updated);
    EXPECT_EQ(list->AnnouncementIndex("fake1"), -1);
    EXPECT_TRUE(list->IsCurrent("real", generation));
    list->AddOrUpdateEntry(ComputerEntry::Make("real", 5, Datagram("real", 5, 7).data() + 44));
    EXPECT_EQ(Feed(Datagram("fake3", 5, 3)), O::Updated);
    EXPECT_EQ(Feed(real), O::Unchanged);
    EXPECT_EQ(last_hurry, 0u);
    EXPECT_EQ(Feed(Datagram("fake4", 5, 4)), O::Updated);  // pushes out fake3, never real
    EXPECT_TRUE(list->IsCurrent("real", generation));
}

TEST_F(Announcements, WrongLengthsAreLoggedAndDiscoveryGoesOn) {
    auto a = Datagram("pc1", 5, 7);
    std::vector<uint8_t> shorter(a.begin(), a.end() - 1), longer = a;
    longer.push_back(0);
    EXPECT_EQ(Feed(shorter), O::TooShort);
    EXPECT_EQ(Feed(longer), O::TooLong);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "收到的广播包长度不够!");
    EXPECT_EQ(Feed(a), O::Updated);
}

TEST_F(Announcements, PortZeroRemovesAlsoUnknownNames) {
    Feed(Datagram("pc1", 5, 7));
    EXPECT_EQ(Feed(Datagram("pc1", 0, 7)), O::Removed);
    EXPECT_EQ(list->AnnouncementCount(), 0);
    EXPECT_EQ(Feed(Datagram("ghost", 0, 1)), O::Removed);
}

// A port no connection can reach is refused at once, not listed to fail
// every relay; the computer's earlier announcement stays.
TEST_F(Announcements, PortsAbove65535AreRefusedWithOneLine) {
    EXPECT_EQ(Feed(Datagram("pc1", 65535, 7)), O::Updated);
    EXPECT_EQ(Feed(Datagram("pc1", 65536, 8)), O::BadPort);
    EXPECT_EQ(Feed(Datagram("pc1", 65536, 8)), O::BadPort);  // repeated: no second line
    EXPECT_EQ(Feed(Datagram("pc\r\n2", 0xFFFFFFFF, 9)), O::BadPort);
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "收到的广播包端口无效, 已丢弃! (pc1:65536)",
                         "收到的广播包端口无效, 已丢弃! (pc\\x0d\\x0a2:4294967295)"}));
    EXPECT_EQ(converts, (std::vector<std::string>{"pc1"}));
    ComputerAnnouncement kept;
    ASSERT_TRUE(list->FindAnnouncement("pc1", &kept));
    EXPECT_EQ(kept.Port(), 65535u);
    EXPECT_EQ(list->AnnouncementIndex("pc\r\n2"), -1);
}

TEST(GatewayProbeTest, MagicFourAddressesAndNonce) {
    std::vector<std::array<uint8_t, 4>> addrs = {
        {192, 0, 2, 1}, {192, 0, 2, 2}, {192, 0, 2, 3}, {192, 0, 2, 4}, {192, 0, 2, 5}};
    auto p = BuildGatewayProbe(addrs, 12345);
    EXPECT_EQ(DecodeFixed32LE(p.data()), 868u);
    EXPECT_EQ(p[4], 192);
    EXPECT_EQ(p[19], 4);  // the fifth address does not travel
    EXPECT_EQ(DecodeFixed32LE(p.data() + 20), 12345u);
    EXPECT_EQ(BuildGatewayProbe({}, 0)[4], 0);
}

}  // namespace
}  // namespace ov::gateway
