#include "des.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

#include "content_codec.h"

namespace ov {
namespace {

DesKeyBytes KeyOf(uint64_t k) {
    DesKeyBytes key{};
    for (int i = 0; i < 8; ++i) key[i] = uint8_t(k >> (56 - 8 * i));
    return key;
}

// Published vectors whose keys are not weak, so a cipher that swapped
// encryption and decryption (or ran the subkeys backwards) fails them.
TEST(DesTest, KnownAnswersTellEncryptionFromDecryption) {
    struct Vector {
        uint64_t key, plain, cipher;
    } vectors[] = {
        {0x0123456789abcdefULL, 0x4e6f772069732074ULL, 0x3fa40e8a984d4815ULL},
        {0x0123456789abcdefULL, 0x68652074696d6520ULL, 0x6a271787ab8883f9ULL},
        {0x0123456789abcdefULL, 0x666f7220616c6c20ULL, 0x893d51ec4b563b53ULL},
        {0x133457799bbcdff1ULL, 0x0123456789abcdefULL, 0x85e813540f0ab405ULL},
        {0x7ca110454a1a6e57ULL, 0x01a1d6d039776742ULL, 0x690f5b0d9a26939bULL},
    };
    for (const auto& v : vectors) {
        Des des(KeyOf(v.key));
        EXPECT_EQ(des.Encrypt(v.plain), v.cipher) << std::hex << v.key;
        EXPECT_EQ(des.Decrypt(v.cipher), v.plain) << std::hex << v.key;
    }
}

TEST(DesTest, ParityBitsOfTheKeyAreIgnored) {
    Des a(KeyOf(0x133457799bbcdff1ULL)), b(KeyOf(0x123456789abcdef0ULL));
    EXPECT_EQ(a.Encrypt(0x0123456789abcdefULL), b.Encrypt(0x0123456789abcdefULL));
}

TEST(DesTest, KeyTextFoldsByXorOfEightByteGroups) {
    EXPECT_EQ(FoldKeyText("abc"), (DesKeyBytes{'a', 'b', 'c', 0, 0, 0, 0, 0}));
    EXPECT_EQ(FoldKeyText("abcdefghabcdefgh"), DesKeyBytes{});
    DesKeyBytes k = FoldKeyText("mqtrlvesozab");
    EXPECT_EQ(k[0], uint8_t('m' ^ 'o'));
    EXPECT_EQ(k[3], uint8_t('r' ^ 'b'));
    EXPECT_EQ(k[4], uint8_t('l'));
    EXPECT_EQ(FoldKeyText(""), DesKeyBytes{});
}

#ifdef OV_OPENSSL_CROSS_CHECK
// An independent implementation, so that a wrong table that our own
// vectors happen to miss still shows.
std::string OpensslEncrypt(const std::string& key_hex, const std::string& plain_hex) {
    std::string cmd = "printf '";
    // Octal escapes: the shell's printf may not know \x.
    for (size_t i = 0; i < plain_hex.size(); i += 2) {
        char oct[8];
        std::snprintf(oct, sizeof oct, "\\%03o",
                      unsigned(std::stoul(plain_hex.substr(i, 2), nullptr, 16)));
        cmd += oct;
    }
    cmd += "' | openssl enc -des-ecb -nopad -K " + key_hex +
           " -provider legacy -provider default 2>/dev/null | od -An -tx1 | tr -d ' \\n'";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p)
        return "";
    std::string out;
    char buf[256];
    while (size_t n = fread(buf, 1, sizeof buf, p)) out.append(buf, n);
    pclose(p);
    return out;
}

TEST(DesTest, AgreesWithOpensslOnRandomKeysAndTexts) {
    std::mt19937_64 rng(20261207);
    for (int round = 0; round < 12; ++round) {
        DesKeyBytes key;
        for (auto& b : key) b = uint8_t(rng());
        uint8_t plain[32];
        for (auto& b : plain) b = uint8_t(rng());
        std::string want = OpensslEncrypt(HexBytes(key.data(), 8), HexBytes(plain, sizeof plain));
        ASSERT_EQ(want.size(), 64u) << "openssl with the legacy provider is needed";
        Des des(key);
        std::string got;
        for (int blk = 0; blk < 4; ++blk) {
            uint64_t v = 0;
            for (int i = 0; i < 8; ++i) v = v << 8 | plain[blk * 8 + i];
            uint64_t c = des.Encrypt(v);
            uint8_t out[8];
            for (int i = 0; i < 8; ++i) out[i] = uint8_t(c >> (56 - 8 * i));
            got += HexBytes(out, 8);
        }
        EXPECT_EQ(got, want);
    }
}
#endif

}  // namespace
}  // namespace ov
