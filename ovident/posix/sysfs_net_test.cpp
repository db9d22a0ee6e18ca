#include "sysfs_net.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <string>

namespace ov::ident {
namespace {

namespace fs = std::filesystem;

Adapter Interface(const std::string& name, uint8_t last) {
    Adapter a;
    a.type = kTypeEthernet;
    const uint8_t mac[6] = {0x02, 0, 0, 0, 0, last};
    std::memcpy(a.hardware, mac, 6);
    a.hardwareLength = 6;
    a.description = name;
    return a;
}

// A container or VPN that starts adds a bridge, veth or tap interface; the
// computer id must stay what the machine's own adapters make it.
TEST(IdentSysfs, VirtualInterfacesStayOutOfTheComputerIdAverage) {
    const fs::path root =
        fs::temp_directory_path() / ("ov_ident_sysfs_" + std::to_string(::getpid()));
    fs::remove_all(root);
    const fs::path net = root / "class" / "net";
    fs::create_directories(net / "eth0" / "device");
    fs::create_directories(net / "eth1" / "device");
    fs::create_directories(net / "wlan0" / "device");
    fs::create_directories(net / "wlan0" / "wireless");
    fs::create_directories(net / "br0" / "bridge");
    fs::create_directories(net / "veth1a2b");

    std::vector<Adapter> adapters = {Interface("eth0", 0x10),  Interface("br0", 0xF0),
                                     Interface("eth1", 0x20),  Interface("veth1a2b", 0xF2),
                                     Interface("wlan0", 0x80), Interface("tap0", 0xF4)};
    ApplySysfsFacts(adapters, root);
    fs::remove_all(root);

    std::array<uint8_t, 6> average{};
    ASSERT_TRUE(AverageAdapterAddress(adapters, average.data()));
    EXPECT_EQ(average, (std::array<uint8_t, 6>{0x02, 0, 0, 0, 0, 0x18}));
    EXPECT_EQ(adapters[4].type, kTypeWireless);
}

}  // namespace
}  // namespace ov::ident
