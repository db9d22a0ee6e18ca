#include "common/account_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "common/tea.h"
#include "common/test_dir.h"
#include "platform/files.h"

namespace ov {
namespace {

using Accounts = ov::testing::TestDir;

// The file image built by hand from the format, independent of the code
// under test: records, big-endian byte sum, rand() tail, TEA on LE words.
std::vector<uint8_t> HandImage(const std::vector<std::vector<uint8_t>>& records, unsigned seed) {
    std::vector<uint8_t> img;
    for (const auto& r : records) img.insert(img.end(), r.begin(), r.end());
    uint32_t sum = 0;
    for (uint8_t b : img) sum += b;
    img.push_back(uint8_t(sum >> 24));
    img.push_back(uint8_t(sum >> 16));
    img.push_back(uint8_t(sum >> 8));
    img.push_back(uint8_t(sum));
    std::srand(seed);
    for (int i = 0; i < 4; ++i) img.push_back(uint8_t(std::rand()));
    for (size_t off = 0; off + 8 <= img.size(); off += 8) {
        uint32_t v[2];
        for (int w = 0; w < 2; ++w)
            v[w] = uint32_t(img[off + 4 * w]) | uint32_t(img[off + 4 * w + 1]) << 8 |
                   uint32_t(img[off + 4 * w + 2]) << 16 | uint32_t(img[off + 4 * w + 3]) << 24;
        TeaEncipher(v, FileCipherKey);
        for (int w = 0; w < 2; ++w)
            for (int b = 0; b < 4; ++b) img[off + 4 * w + b] = uint8_t(v[w] >> (8 * b));
    }
    return img;
}

std::vector<uint8_t> HandRecord(const char* name, const char* pw, uint8_t enabled,
                                const char* desc) {
    std::vector<uint8_t> r(140, 0);
    std::memcpy(&r[0], name, std::strlen(name));
    std::memcpy(&r[50], pw, std::strlen(pw));
    r[72] = enabled;
    std::memcpy(&r[76], desc, std::strlen(desc));
    return r;
}

TEST_F(Accounts, ImagesMatchTheFormatByteForByte) {
    AccountList one{AccountRecord::Make("Administrator", "secret", true, "管理员")};
    std::vector<uint8_t> img1 = AccountFileImage(one, 1234);
    ASSERT_EQ(img1.size(), 148u);
    EXPECT_EQ(img1, HandImage({HandRecord("Administrator", "secret", 1, "管理员")}, 1234));

    AccountList two = one;
    two.push_back(AccountRecord::Make("guest2", "", false, ""));
    std::vector<uint8_t> img2 = AccountFileImage(two, 99);
    ASSERT_EQ(img2.size(), 288u);
    EXPECT_EQ(img2, HandImage({HandRecord("Administrator", "secret", 1, "管理员"),
                               HandRecord("guest2", "", 0, "")},
                              99));
    // Odd count: the last four bytes, the tail of rand(), stay plain.
    std::srand(1234);
    for (int i = 0; i < 3; ++i) std::rand();
    EXPECT_EQ(img1[147], uint8_t(std::rand()));
    EXPECT_TRUE(AccountFileImage({}, 1).empty());

    // Blocks are enciphered each on its own: another tail changes only the
    // last block (even N) or the four plain bytes (odd N).
    std::vector<uint8_t> other2 = AccountFileImage(two, 100);
    EXPECT_TRUE(std::equal(img2.begin(), img2.end() - 8, other2.begin()));
    EXPECT_NE(std::vector<uint8_t>(img2.end() - 8, img2.end()),
              std::vector<uint8_t>(other2.end() - 8, other2.end()));
    std::vector<uint8_t> other1 = AccountFileImage(one, 4321);
    EXPECT_TRUE(std::equal(img1.begin(), img1.end() - 4, other1.begin()));
}

TEST_F(Accounts, SavedFileDeciphersToRecordsAndSum) {
    ASSERT_TRUE(SaveAccounts({AccountRecord::Make("Administrator", "pw", true, "说明")},
                             Path("uinfo.dat")));
    std::vector<uint8_t> file = Slurp(Path("uinfo.dat"));
    ASSERT_EQ(file.size(), 148u);
    // Decipher by hand, LE words, 18 whole blocks; bytes 144..147 are plain.
    for (size_t off = 0; off + 8 <= file.size(); off += 8) {
        uint32_t v[2];
        for (int w = 0; w < 2; ++w) {
            v[w] = 0;
            for (int b = 0; b < 4; ++b) v[w] |= uint32_t(file[off + 4 * w + b]) << (8 * b);
        }
        TeaDecipher(v, FileCipherKey);
        for (int w = 0; w < 2; ++w)
            for (int b = 0; b < 4; ++b) file[off + 4 * w + b] = uint8_t(v[w] >> (8 * b));
    }
    std::vector<uint8_t> want = HandRecord("Administrator", "pw", 1, "说明");
    uint32_t sum = 0;
    for (uint8_t b : want) sum += b;
    for (int s = 24; s >= 0; s -= 8) want.push_back(uint8_t(sum >> s));
    EXPECT_EQ(std::vector<uint8_t>(file.begin(), file.begin() + 144), want);
}

TEST_F(Accounts, SaveAndLoadRoundTripInOrder) {
    AccountList list;
    for (int i = 0; i < 5; ++i)
        list.push_back(AccountRecord::Make("user" + std::to_string(i), "pw", i % 2 == 0, "d"));
    ASSERT_TRUE(SaveAccounts(list, Path("uinfo.dat")));
    EXPECT_EQ(Slurp(Path("uinfo.dat")).size(), 5 * 140 + 8u);
    AccountList back;
    ASSERT_EQ(LoadAccounts(&back, Path("uinfo.dat")), AccountLoadResult::Ok);
    ASSERT_EQ(back.size(), 5u);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(back[i].Name(), "user" + std::to_string(i));
        EXPECT_EQ(back[i].Enabled(), i % 2 == 0);
        EXPECT_EQ(0, std::memcmp(back[i].bytes, list[i].bytes, 140));
    }
    EXPECT_FALSE(platform::PathExists(Path("uinfo.dat.tmp")));
}

TEST_F(Accounts, DamagedFilesAreCorruptAndLeaveTheListAlone) {
    AccountList keep{AccountRecord::Make("keep", "", true, "")};
    AccountList list = keep;
    auto expect_corrupt = [&](const std::vector<uint8_t>& bytes, const char* what) {
        Spit(Path("u.dat"), bytes);
        EXPECT_EQ(LoadAccounts(&list, Path("u.dat")), AccountLoadResult::Corrupt) << what;
        ASSERT_EQ(list.size(), 1u);
        EXPECT_EQ(list[0].Name(), "keep");
    };
    expect_corrupt({}, "empty");
    for (size_t n = 1; n < 8; ++n)
        expect_corrupt(std::vector<uint8_t>(n, 0), "shorter than trailer");
    std::vector<uint8_t> good = AccountFileImage({AccountRecord::Make("a", "b", true, "c")}, 5);
    std::vector<uint8_t> bad = good;
    bad[3] ^= 0x01;  // one enciphered block of the record area
    expect_corrupt(bad, "flipped byte");
    // The plain tail of an odd count is not covered by the sum.
    bad = good;
    bad[147] ^= 0xff;
    Spit(Path("u.dat"), bad);
    EXPECT_EQ(LoadAccounts(&list, Path("u.dat")), AccountLoadResult::Ok);
}

TEST_F(Accounts, MissingHeldOrHugeFilesAreReadFailures) {
    AccountList list;
    EXPECT_EQ(LoadAccounts(&list, Path("none.dat")), AccountLoadResult::ReadFailed);
    // Past the size bound, nothing is read into memory.
    std::vector<uint8_t> good = AccountFileImage({AccountRecord::Make("big", "", true, "")}, 1);
    Spit(Path("big.dat"), good);
    std::filesystem::resize_file(Path("big.dat"), kMaxDataFileSize + 1);
    list = {AccountRecord::Make("keep", "", true, "")};
    EXPECT_EQ(LoadAccounts(&list, Path("big.dat")), AccountLoadResult::ReadFailed);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].Name(), "keep");
    list.clear();
    ASSERT_TRUE(SaveAccounts({AccountRecord::Make("a", "", true, "")}, Path("u.dat")));
    platform::ExclusiveFile holder;
    ASSERT_TRUE(holder.Open(Path("u.dat"), platform::ExclusiveFile::Mode::ReadExisting));
    EXPECT_EQ(LoadAccounts(&list, Path("u.dat")), AccountLoadResult::ReadFailed);
    EXPECT_TRUE(list.empty());
}

TEST_F(Accounts, FailedSavesSayFalseAndKeepTheOldFile) {
    ASSERT_TRUE(SaveAccounts({AccountRecord::Make("old", "", true, "")}, Path("u.dat")));
    std::vector<uint8_t> before = Slurp(Path("u.dat"));
    {
        platform::ExclusiveFile holder;
        ASSERT_TRUE(holder.Open(Path("u.dat"), platform::ExclusiveFile::Mode::ReadExisting));
        EXPECT_FALSE(SaveAccounts({AccountRecord::Make("new", "", true, "")}, Path("u.dat")));
    }
    EXPECT_EQ(Slurp(Path("u.dat")), before);
    EXPECT_FALSE(SaveAccounts({}, Path("no_dir/u.dat")));
    // An empty list is an empty file, which loads as damaged.
    ASSERT_TRUE(SaveAccounts({}, Path("u.dat")));
    EXPECT_TRUE(Slurp(Path("u.dat")).empty());
}

TEST_F(Accounts, OddLengthsStillReadWhenTheSumMatches) {
    // 140 bytes of records plus 12 stray bytes before the trailer.
    std::vector<uint8_t> body = HandRecord("odd", "", 1, "");
    body.resize(152, 0x20);
    uint32_t sum = 0;
    for (uint8_t b : body) sum += b;
    std::vector<uint8_t> plain = body;
    for (int s = 24; s >= 0; s -= 8) plain.push_back(uint8_t(sum >> s));
    plain.insert(plain.end(), 4, 0);
    EncipherBlocks(plain.data(), plain.size());
    Spit(Path("u.dat"), plain);
    AccountList list;
    ASSERT_EQ(LoadAccounts(&list, Path("u.dat")), AccountLoadResult::Ok);
    ASSERT_EQ(list.size(), 1u);  // floor(160 / 140)
    EXPECT_EQ(list[0].Name(), "odd");
}

TEST_F(Accounts, FieldsAreBoundedAndEditsKeepTheRestOfTheField) {
    AccountRecord r =
        AccountRecord::Make(std::string(80, 'n'), std::string(30, 'p'), true, std::string(70, 'd'));
    EXPECT_EQ(r.Name().size(), 49u);
    EXPECT_EQ(r.Password().size(), 19u);
    EXPECT_EQ(r.Description().size(), 61u);
    r.SetName("ab");
    EXPECT_EQ(r.Name(), "ab");
    EXPECT_EQ(r.bytes[3], 'n');  // old bytes after the terminator stay
    r.SetEnabled(false);
    EXPECT_FALSE(r.Enabled());
    EXPECT_EQ(r.bytes[72], 0);
    r.bytes[75] = 0x80;  // any nonzero word means enabled
    EXPECT_TRUE(r.Enabled());
}

TEST_F(Accounts, NamesAreFoundExactly) {
    AccountList list{AccountRecord::Make("Administrator", "", true, ""),
                     AccountRecord::Make("bob", "", true, ""),
                     AccountRecord::Make("Bob", "", true, "")};
    EXPECT_EQ(FindAccount(list, "Bob"), 2);
    EXPECT_EQ(FindAccount(list, "bob"), 1);
    EXPECT_EQ(FindAccount(list, "bo"), -1);
    EXPECT_EQ(FindAccount(list, ""), -1);
}

TEST_F(Accounts, BackupAndRestore) {
    const std::string live = Path("uinfo.dat");
    ASSERT_TRUE(SaveAccounts({AccountRecord::Make("Administrator", "x", true, "")}, live));
    FileOpResult b = BackupAccounts(Path("copy"), live);
    EXPECT_TRUE(b.ok);
    EXPECT_EQ(b.message, "备份帐号文件成功!");
    EXPECT_EQ(Slurp(Path("copy.dat")), Slurp(live));
    EXPECT_TRUE(BackupAccounts(Path("copy.dat"), live).ok);
    EXPECT_FALSE(platform::PathExists(Path("copy.dat.dat")));
    EXPECT_TRUE(BackupAccounts(Path("UP.DAT"), live).ok);
    EXPECT_TRUE(platform::PathExists(Path("UP.DAT.dat")));
    EXPECT_EQ(BackupAccounts(Path("x"), Path("missing.dat")).message, "备份帐号文件失败!");

    ASSERT_TRUE(SaveAccounts({AccountRecord::Make("Administrator", "y", true, ""),
                              AccountRecord::Make("bob", "", true, "")},
                             Path("other.dat")));
    AccountList list;
    ASSERT_EQ(LoadAccounts(&list, live), AccountLoadResult::Ok);
    FileOpResult r = RestoreAccounts(&list, Path("other.dat"), live);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(list.size(), 2u);
    EXPECT_EQ(Slurp(live), Slurp(Path("other.dat")));

    Spit(Path("broken.dat"), {1, 2, 3, 4, 5, 6, 7, 8, 9});
    EXPECT_EQ(RestoreAccounts(&list, Path("broken.dat"), live).message,
              "备份的帐号文件被损坏或修改!");
    EXPECT_EQ(RestoreAccounts(&list, Path("gone.dat"), live).message, "读备份的帐号文件错误!");
    EXPECT_EQ(list.size(), 2u);
    EXPECT_EQ(Slurp(live), Slurp(Path("other.dat")));

    // The live file held by another program: nothing changes, not even the
    // list, which would otherwise show accounts that are not in place.
    ASSERT_TRUE(
        SaveAccounts({AccountRecord::Make("Administrator", "z", true, "")}, Path("third.dat")));
    platform::ExclusiveFile holder;
    ASSERT_TRUE(holder.Open(live, platform::ExclusiveFile::Mode::ReadExisting));
    FileOpResult held = RestoreAccounts(&list, Path("third.dat"), live);
    holder.Close();
    EXPECT_FALSE(held.ok);
    EXPECT_EQ(held.message, "恢复帐号文件失败!");
    EXPECT_EQ(list.size(), 2u);
    EXPECT_EQ(Slurp(live), Slurp(Path("other.dat")));
}

}  // namespace
}  // namespace ov
