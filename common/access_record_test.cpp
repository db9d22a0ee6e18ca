#include "common/access_record.h"

#include <gtest/gtest.h>

#include "common/computer_records.h"

namespace ov {
namespace {

TEST(AccessRecord, LinesReadBackAsWrittenWhateverTheNamesHold) {
    // Tabs, line ends, control bytes and backslashes; GBK characters, one
    // whose trail byte is a backslash; a lead byte with no trail byte.
    const std::vector<std::string> names = {
        "",         "bob",       "a\tb\r\nc",        std::string("nul\0x\x1b\x7f", 7),
        "C:\\path", "张三",      "\x81\x5c\\",       "cut\xb0",
        "\xb0\x0a", "\x80\xff!", "\\x41 is not an A"};
    for (const std::string& name : names) {
        LoginAccess login;
        login.when = 1038000000;
        login.address[0] = 10, login.address[3] = 254;
        login.port = 65535;
        login.user = name;
        login.code = -1;
        const std::string line = AccessLine(login);
        ASSERT_EQ(line.find_first_of("\n\r"), line.size() - 2) << "one line: " << name;
        std::vector<AccessEntry> read = ParseAccessRecord(line);
        ASSERT_EQ(read.size(), 1u) << line;
        EXPECT_EQ(read[0].kind, AccessEntry::Kind::Login);
        EXPECT_EQ(read[0].time, AccessTimeText(login.when));
        EXPECT_EQ(read[0].login.user, name);
        EXPECT_EQ(AddressText(read[0].login.address), "10.0.0.254");
        EXPECT_EQ(read[0].login.port, 65535);
        EXPECT_EQ(read[0].login.code, -1);

        RelayAccess relay;
        relay.started = 1038000000;
        relay.ended = relay.started + 3725;
        relay.computer = name;
        relay.user_port = 1;
        relay.computer_port = 5900;
        relay.to_computer = UINT64_MAX;
        relay.to_user = 12345;
        relay.how = RelayEnd::ConnectFailed;
        read = ParseAccessRecord(AccessLine(relay));
        ASSERT_EQ(read.size(), 1u);
        const AccessEntry& e = read[0];
        EXPECT_EQ(e.kind, AccessEntry::Kind::Relay);
        EXPECT_EQ(e.relay.computer, name);
        EXPECT_EQ(e.ended, AccessTimeText(relay.ended));
        EXPECT_EQ(e.relay.to_computer, UINT64_MAX);
        EXPECT_EQ(e.relay.to_user, 12345u);
        EXPECT_EQ(e.relay.how, RelayEnd::ConnectFailed);
        EXPECT_EQ(e.relay.computer_port, 5900);
    }
    // Text stays readable: GBK passes through, only what is not text is escaped.
    EXPECT_EQ(EscapeAccessField("张三\t\\"), "张三\\x09\\\\");
    EXPECT_EQ(EscapeAccessField("\xb0\x0a"), "\\xb0\\x0a");
    EXPECT_EQ(AccessTimeText(0).size(), 19u);
}

TEST(AccessRecord, BrokenLinesAreSkippedAndNeverReadPast) {
    LoginAccess login;
    login.user = "bob";
    login.code = 1;
    const std::string good = AccessLine(login);
    RelayAccess relay;
    const std::string relay_line = AccessLine(relay);
    const std::string bad[] = {
        good.substr(0, good.size() - 5) + "\r\n",  // cut short
        "login\t2002-11-22 21:20:00\t1.2.3.4\t5\tbob\t1\textra\r\n",
        "login\t2002-11-22 21:20\t1.2.3.4\t5\tbob\t1\r\n",
        "login\t2002-11-22 21:20:00\t1.2.3\t5\tbob\t1\r\n",
        "login\t2002-11-22 21:20:00\t1.2.3.256\t5\tbob\t1\r\n",
        "login\t2002-11-22 21:20:00\t1.2.3.4\t65536\tbob\t1\r\n",
        "login\t2002-11-22 21:20:00\t1.2.3.4\t5\tb\x01ob\t1\r\n",
        "login\t2002-11-22 21:20:00\t1.2.3.4\t5\tbob\\\t1\r\n",
        "login\t2002-11-22 21:20:00\t1.2.3.4\t5\tbob\\x4\t1\r\n",
        "login\t2002-11-22 21:20:00\t1.2.3.4\t5\tbob\xb0\t1\r\n",
        "login\t2002-11-22 21:20:00\t1.2.3.4\t5\tbob\t\r\n",
        relay_line.substr(0, relay_line.find("closed")) + "closing\r\n",
        relay_line.substr(0, relay_line.rfind('\t', relay_line.size() - 10)) + "\r\n",
        "lost\t2002-11-22 21:20:00\t99999999999999999999\r\n",
        "junk\r\n",
        "\r\n",
    };
    std::string text = good;
    for (const std::string& line : bad) {
        text += line + good;
        AccessEntry e;
        EXPECT_FALSE(ParseAccessLine(line.substr(0, line.size() - 2), &e)) << line;
    }
    EXPECT_EQ(ParseAccessRecord(text).size(), std::size(bad) + 1);
    // A last line still being written is not read.
    EXPECT_EQ(ParseAccessRecord(good + good.substr(0, good.size() - 1)).size(), 1u);
    std::vector<AccessEntry> lost =
        ParseAccessRecord(LostAccessLine(1038000000, 42) + relay_line.substr(0, 30));
    ASSERT_EQ(lost.size(), 1u);
    EXPECT_EQ(lost[0].kind, AccessEntry::Kind::Lost);
    EXPECT_EQ(lost[0].lost, 42u);
}

}  // namespace
}  // namespace ov
