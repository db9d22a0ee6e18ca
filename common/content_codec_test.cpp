#include "content_codec.h"

#include <gtest/gtest.h>

#include <string>

namespace ov {
namespace {

TEST(ContentCodecTest, LengthDigitMarksOnlyAPartialLastBlock) {
    std::string seven = EncodeContent("abcdefg", "k");
    ASSERT_EQ(seven.size(), 17u);
    EXPECT_EQ(seven.back(), '7');
    EXPECT_EQ(EncodeContent("abcdefgh", "k").size(), 16u);
    std::string nine = EncodeContent("abcdefghi", "k");
    ASSERT_EQ(nine.size(), 33u);
    EXPECT_EQ(nine.back(), '1');
    EXPECT_EQ(EncodeContent("", "k"), "");
    EXPECT_EQ(seven.substr(0, 16).find_first_not_of("0123456789abcdef"), std::string::npos);
}

TEST(ContentCodecTest, EncodesAsBigEndianDesBlocksInLowercaseHex) {
    // Key text of 8 characters is the DES key itself.
    std::string key("\x01\x23\x45\x67\x89\xab\xcd\xef", 8);
    EXPECT_EQ(EncodeContent("Now is the time for all ", key),
              "3fa40e8a984d48156a271787ab8883f9893d51ec4b563b53");
}

TEST(ContentCodecTest, RoundTripsTextsWithoutZeroBytesUnderAnyKey) {
    const std::string texts[] = {"x", "&ovtype=ovg&name=abc", "启动服务1234567",
                                 std::string(64, 'z')};
    const char* keys[] = {"", "mqtrlvesozab", "a much longer key text than eight bytes"};
    for (const auto& t : texts)
        for (const char* k : keys) EXPECT_EQ(DecodeContent(EncodeContent(t, k), k), t) << t << k;
}

TEST(ContentCodecTest, DecodeDropsZeroBytesIgnoresTailAndReadsJunkAsZero) {
    std::string enc = EncodeContent(std::string("a\0b", 3), "key");
    EXPECT_EQ(DecodeContent(enc, "key"), "ab");
    // A missing length digit or extra characters short of a block change nothing.
    std::string body = enc.substr(0, 16);
    EXPECT_EQ(DecodeContent(body + "abc", "key"), "ab");
    // Uppercase digits count as 0, exactly like '0'.
    std::string upper = EncodeContent("abcdefgh", "key");
    std::string zeroed = upper, shouted = upper;
    for (size_t i = 0; i < 16; ++i)
        if (upper[i] >= 'a') {
            zeroed[i] = '0';
            shouted[i] = char(upper[i] - 'a' + 'A');
        }
    EXPECT_EQ(DecodeContent(shouted, "key"), DecodeContent(zeroed, "key"));
    EXPECT_NE(DecodeContent(shouted, "key"), "abcdefgh");
    EXPECT_EQ(DecodeContent("0123456789abcde", "key"), "");
}

TEST(ContentCodecTest, FieldFormats) {
    std::tm t{};
    t.tm_year = 2003 - 1900;
    t.tm_mon = 2;
    t.tm_mday = 5;
    t.tm_hour = 7;
    t.tm_min = 8;
    t.tm_sec = 9;
    EXPECT_EQ(TimeStamp(t), "20030305070809");
    EXPECT_EQ(TimeStampNow().size(), 14u);
    EXPECT_EQ(DottedToNumber("10.0.0.1"), 167772161u);
    EXPECT_EQ(NumberText(DottedToNumber("192.168.1.200")), "3232235976");
    EXPECT_EQ(DottedToNumber("10.x.0.1"), 167772161u);
    const uint8_t id[] = {0x00, 0xab, 0x0f};
    EXPECT_EQ(HexBytes(id, 3), "00ab0f");
}

}  // namespace
}  // namespace ov
