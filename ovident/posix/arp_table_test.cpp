#include "arp_table.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <array>

namespace ov::ident {
namespace {

constexpr const char* kTable =
    "IP address       HW type     Flags       HW address            Mask     Device\n"
    "192.0.2.10       0x1         0x2         0a:0b:0c:0d:0e:0f     *        eth0\n"
    "192.0.2.1        0x1         0x0         00:00:00:00:00:00     *        eth0\n"
    "192.0.2.2        0x1         0x6         02:00:5e:10:00:02     *        eth0\n"
    "192.0.2.3        0x1         0x2         garbage               *        eth0\n"
    "192.0.2.4        0x1\n";

NeighbourState Look(const char* address, std::array<uint8_t, 6>& mac) {
    mac.fill(0xEE);
    return FindNeighbour(kTable, inet_addr(address), mac.data());
}

TEST(IdentNeighbourTable, CompleteEntriesOnlyAndWholeAddressMatch) {
    std::array<uint8_t, 6> mac;
    EXPECT_EQ(Look("192.0.2.10", mac), NeighbourState::kComplete);
    EXPECT_EQ(mac, (std::array<uint8_t, 6>{0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f}));
    // 192.0.2.1 is a prefix of 192.0.2.10 but its own entry is still pending.
    EXPECT_EQ(Look("192.0.2.1", mac), NeighbourState::kPending);
    EXPECT_EQ(mac[0], 0xEE);
    // Permanent entries carry more flags than "complete".
    EXPECT_EQ(Look("192.0.2.2", mac), NeighbourState::kComplete);
    EXPECT_EQ(mac[5], 0x02);
    // Broken lines never produce an address.
    EXPECT_EQ(Look("192.0.2.3", mac), NeighbourState::kPending);
    EXPECT_EQ(Look("192.0.2.4", mac), NeighbourState::kAbsent);
    EXPECT_EQ(Look("192.0.2.99", mac), NeighbourState::kAbsent);
    EXPECT_EQ(FindNeighbour("", inet_addr("192.0.2.10"), mac.data()), NeighbourState::kAbsent);
}

}  // namespace
}  // namespace ov::ident
