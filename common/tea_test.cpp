#include "tea.h"

#include <gtest/gtest.h>

#include <vector>

namespace ov {
namespace {

TEST(Tea, PublishedVectorsAsWords) {
    uint32_t v[2] = {0, 0};
    TeaEncipher(v, TeaKey{{0, 0, 0, 0}});
    EXPECT_EQ(v[0], 0x41ea3a0au);
    EXPECT_EQ(v[1], 0x94baa940u);

    const TeaKey key{{0x01234567, 0x12345678, 0x23456789, 0x3456789a}};
    uint32_t w[2] = {0x01020304, 0x05060708};
    TeaEncipher(w, key);
    EXPECT_EQ(w[0], 0x773dc179u);
    EXPECT_EQ(w[1], 0x878a81c0u);
    TeaDecipher(w, key);
    EXPECT_EQ(w[0], 0x01020304u);
    EXPECT_EQ(w[1], 0x05060708u);
}

// The files read a block's words little-endian; a wrong byte order would
// still round-trip, so check the bytes against the published words.
TEST(Tea, FileBlocksReadWordsLittleEndian) {
    const TeaKey key{{0x01234567, 0x12345678, 0x23456789, 0x3456789a}};
    uint8_t block[8] = {0x04, 0x03, 0x02, 0x01, 0x08, 0x07, 0x06, 0x05};
    uint32_t v[2] = {0x01020304, 0x05060708};
    TeaEncipher(v, key);
    uint8_t expected[8] = {0x79, 0xc1, 0x3d, 0x77, 0xc0, 0x81, 0x8a, 0x87};
    uint8_t got[8];
    for (int i = 0; i < 4; ++i) {
        got[i] = uint8_t(v[0] >> (8 * i));
        got[4 + i] = uint8_t(v[1] >> (8 * i));
    }
    EXPECT_EQ(0, memcmp(got, expected, 8));
    (void)block;
}

TEST(Tea, WholeBlocksOnlyAndTailStaysPlain) {
    std::vector<uint8_t> buf(20);
    for (size_t i = 0; i < buf.size(); ++i) buf[i] = uint8_t(i * 7 + 1);
    const std::vector<uint8_t> plain = buf;
    EncipherBlocks(buf.data(), buf.size());
    EXPECT_NE(0, memcmp(buf.data(), plain.data(), 16));
    EXPECT_EQ(0, memcmp(buf.data() + 16, plain.data() + 16, 4));  // 20 % 8 bytes untouched
    // Blocks are independent: the second block enciphers the same alone.
    std::vector<uint8_t> second(plain.begin() + 8, plain.begin() + 16);
    EncipherBlocks(second.data(), second.size());
    EXPECT_EQ(0, memcmp(second.data(), buf.data() + 8, 8));
    DecipherBlocks(buf.data(), buf.size());
    EXPECT_EQ(buf, plain);
}

}  // namespace
}  // namespace ov
