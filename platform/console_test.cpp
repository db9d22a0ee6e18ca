#include "platform/console.h"

#include <gtest/gtest.h>

#include <string>

namespace ov::platform {
namespace {

// Every literal of the system must be GBK at run time, whatever the
// platform; a compiler flag that went missing would show here first.
TEST(CharsetTest, NarrowLiteralsAreGbkBytes) {
    const std::string s = "启动服务";
    const unsigned char want[] = {0xc6, 0xf4, 0xb6, 0xaf, 0xb7, 0xfe, 0xce, 0xf1};
    ASSERT_EQ(s.size(), sizeof want);
    for (size_t i = 0; i < sizeof want; ++i)
        EXPECT_EQ(static_cast<unsigned char>(s[i]), want[i]) << i;
}

TEST(CharsetTest, AsciiPassesTheTerminalBoundaryBothWays) {
    std::string gbk;
    ASSERT_TRUE(TerminalToGbk("Administrator 1", &gbk));
    EXPECT_EQ(gbk, "Administrator 1");
    EXPECT_EQ(GbkToTerminal("plain"), "plain");
}

TEST(CharsetTest, BrokenGbkNeverStopsOutput) {
    // A lone lead byte cannot be shown; the rest of the text still is.
    std::string out = GbkToTerminal(std::string("ab\xc6", 3));
    EXPECT_EQ(out.substr(0, 2), "ab");
}

}  // namespace
}  // namespace ov::platform
