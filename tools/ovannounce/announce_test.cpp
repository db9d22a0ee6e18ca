#include "tools/ovannounce/announce.h"

#include <gtest/gtest.h>

namespace ov::announce {
namespace {

bool Parse(std::vector<std::string> args, Options* o, std::string* error) {
    return ParseArguments(args, o, error);
}

TEST(AnnounceArguments, RefusesWhatTheGatewayCannotTake) {
    Options o;
    std::string error;
    EXPECT_FALSE(Parse({"--port", "0"}, &o, &error));
    EXPECT_NE(error.find("1 to 65535"), std::string::npos) << error;
    EXPECT_FALSE(Parse({"--port", "65536"}, &o, &error));
    EXPECT_FALSE(Parse({"--port", "-1"}, &o, &error));
    EXPECT_FALSE(Parse({"--port", "59x"}, &o, &error));
    EXPECT_FALSE(Parse({"--name", std::string(41, 'n'), "--port", "1"}, &o, &error));
    EXPECT_NE(error.find("40 bytes"), std::string::npos) << error;
    // 21 GBK characters are 42 bytes.
    std::string gbk;
    for (int i = 0; i < 21; ++i) gbk += "\xD6\xD0";
    EXPECT_FALSE(Parse({"--name", gbk, "--port", "1"}, &o, &error));
    std::vector<std::string> six = {"--port", "1"};
    for (int i = 1; i <= 6; ++i)
        six.insert(six.end(), {"--address", "10.0.0." + std::to_string(i)});
    EXPECT_FALSE(Parse(six, &o, &error));
    EXPECT_NE(error.find("five"), std::string::npos) << error;
    EXPECT_FALSE(Parse({"--name", "pc"}, &o, &error)) << "the port is required";
    EXPECT_FALSE(Parse({"--port", "1", "--every", "0"}, &o, &error));
    EXPECT_FALSE(Parse({"--port", "1", "--to", "gateway.lan"}, &o, &error));
    EXPECT_FALSE(Parse({"--port"}, &o, &error));
    EXPECT_FALSE(Parse({"--port", "1", "--bogus"}, &o, &error));
}

TEST(AnnounceArguments, TakesTheLimitsThemselves) {
    Options o;
    std::string error;
    std::vector<std::string> args = {"--name", std::string(40, 'n'), "--port",  "65535",
                                     "--to",   "192.0.2.255",        "--every", "3",
                                     "--once"};
    for (int i = 1; i <= 5; ++i)
        args.insert(args.end(), {"--address", "10.0.0." + std::to_string(i)});
    ASSERT_TRUE(Parse(args, &o, &error)) << error;
    EXPECT_EQ(o.name.size(), 40u);
    EXPECT_EQ(o.port, 65535u);
    EXPECT_EQ(o.addresses.size(), 5u);
    EXPECT_EQ(o.to, "192.0.2.255");
    EXPECT_EQ(o.every, 3u);
    EXPECT_TRUE(o.once);
    ASSERT_TRUE(Parse({"--help"}, &o, &error)) << "help needs no port";
    EXPECT_TRUE(o.help);
}

TEST(AnnounceArguments, AddressesAreStrictDottedQuads) {
    IPv4 a;
    EXPECT_TRUE(ParseIPv4("192.0.2.10", &a));
    EXPECT_EQ(a, (IPv4{192, 0, 2, 10}));
    for (const char* bad : {"192.0.2", "192.0.2.10.1", "192.0.2.256", "192.0..1", "1.2.3.4 ",
                            "a.b.c.d", "1.2.3.0004", ""})
        EXPECT_FALSE(ParseIPv4(bad, &a)) << bad;
}

TEST(Announcement, LayoutAsTheGatewayReadsIt) {
    ComputerAnnouncement a = MakeAnnouncement("pc1", 5900, {{192, 0, 2, 2}, {198, 51, 100, 7}});
    EXPECT_EQ(a.Name(), "pc1");
    EXPECT_EQ(a.bytes[3], 0);
    EXPECT_EQ(a.bytes[40], 0x0C);  // 5900 little-endian
    EXPECT_EQ(a.bytes[41], 0x17);
    EXPECT_EQ(a.Port(), 5900u);
    EXPECT_EQ(a.Address(0)[0], 192);
    EXPECT_EQ(a.Address(1)[3], 7);
    for (size_t i = 2; i < 5; ++i)
        EXPECT_EQ(DecodeFixed32LE(a.Address(i)), 0u) << "unused slots are zero";

    ComputerAnnouncement leave = MakeAnnouncement("pc1", 0, {{192, 0, 2, 2}});
    EXPECT_EQ(leave.Port(), 0u);
    EXPECT_EQ(leave.Name(), "pc1") << "the leave names the same computer";

    ComputerAnnouncement full = MakeAnnouncement(std::string(40, 'n'), 1, {});
    EXPECT_EQ(full.bytes[39], 'n') << "a 40-byte name fills its field";
}

TEST(Announcement, DefaultNameKeepsWholeCharacters) {
    std::string host(39, 'h');
    host += "\xD6\xD0";  // a Chinese character across the 40-byte line
    EXPECT_EQ(DefaultName(host), std::string(39, 'h'));
    EXPECT_EQ(DefaultName("pc"), "pc");
}

}  // namespace
}  // namespace ov::announce
