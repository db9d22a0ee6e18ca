#include "common/trusted_id_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "common/tea.h"
#include "common/test_dir.h"
#include "platform/files.h"

namespace ov {
namespace {

using TrustedIds = ov::testing::TestDir;

IdValue Id(uint8_t first, uint8_t marker = 0x55, uint8_t tail = 0) {
    return IdValue{first, 2, 3, 4, marker, tail, tail, tail, tail, tail, tail};
}

std::vector<uint8_t> IdFileBytes(const IdValue& id, size_t size) {
    std::vector<uint8_t> f(size, 0x77);
    std::memcpy(&f[1010], id.data(), id.size());
    EncipherBlocks(f.data(), 1024);
    return f;
}

TEST_F(TrustedIds, RecordLayoutAndRoundTrip) {
    TrustedIdList list{TrustedIdRecord::Make(Id(1), "前台"), TrustedIdRecord::Make(Id(2), "")};
    ASSERT_TRUE(SaveTrustedIds(list, Path("t.dat")));
    std::vector<uint8_t> bytes = Slurp(Path("t.dat"));
    ASSERT_EQ(bytes.size(), 500u);
    EXPECT_EQ(bytes[0], 1);
    EXPECT_EQ(bytes[4], 0x55);
    for (size_t i = 11; i < 100; ++i) ASSERT_EQ(bytes[i], 0) << i;
    EXPECT_EQ(std::string(reinterpret_cast<char*>(&bytes[100])), "前台");
    EXPECT_EQ(bytes[250], 2);
    TrustedIdList back;
    ASSERT_TRUE(LoadTrustedIds(&back, Path("t.dat")));
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[0].Id(), Id(1));
    EXPECT_EQ(back[0].Description(), "前台");
    EXPECT_EQ(back[1].Reserved(), 0);
}

TEST_F(TrustedIds, OversizedFilesFailAndKeepTheList) {
    TrustedIdList list{TrustedIdRecord::Make(Id(9), "kept")};
    Spit(Path("t.dat"), {});
    std::filesystem::resize_file(Path("t.dat"), kMaxDataFileSize + 1);
    bool loaded = true;
    EXPECT_FALSE(LoadTrustedIds(&list, Path("t.dat"), &loaded));
    EXPECT_FALSE(loaded);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].Description(), "kept");
    EXPECT_FALSE(CheckTrustedIdBackup(Path("t.dat")));
}

TEST_F(TrustedIds, PartialRecordsAreIgnoredAndUnopenableFilesKeepTheList) {
    TrustedIdList list{TrustedIdRecord::Make(Id(9), "kept")};
    EXPECT_TRUE(LoadTrustedIds(&list, Path("missing.dat")));
    ASSERT_EQ(list.size(), 1u);
    Spit(Path("t.dat"), std::vector<uint8_t>(249, 1));
    ASSERT_TRUE(LoadTrustedIds(&list, Path("t.dat")));
    EXPECT_TRUE(list.empty());
    Spit(Path("t.dat"), std::vector<uint8_t>(251, 1));
    ASSERT_TRUE(LoadTrustedIds(&list, Path("t.dat")));
    EXPECT_EQ(list.size(), 1u);
    platform::ExclusiveFile holder;
    ASSERT_TRUE(holder.Open(Path("t.dat"), platform::ExclusiveFile::Mode::ReadExisting));
    list.clear();
    EXPECT_TRUE(LoadTrustedIds(&list, Path("t.dat")));
    EXPECT_TRUE(list.empty());
    EXPECT_FALSE(SaveTrustedIds({TrustedIdRecord::Make(Id(1), "")}, Path("t.dat")));
    holder.Close();
    EXPECT_EQ(Slurp(Path("t.dat")).size(), 251u);
    ASSERT_TRUE(SaveTrustedIds({}, Path("t.dat")));
    EXPECT_TRUE(Slurp(Path("t.dat")).empty());
}

TEST_F(TrustedIds, IdFilesAreReadFromTheirFirst1024Bytes) {
    std::vector<uint8_t> short_file = IdFileBytes(Id(3), 1024);
    short_file.pop_back();
    Spit(Path("short.id"), short_file);
    IdFileResult r = ReadIdFile(Path("short.id"));
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.message, "the ID file is  corrupted");
    Spit(Path("long.id"), IdFileBytes(Id(4, 0xAA, 9), 2000));
    r = ReadIdFile(Path("long.id"));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.value, Id(4, 0xAA, 9));
    r = ReadIdFile(Path("missing.id"));
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.message.empty());
    // Exclusive: an ID file another program holds is refused, not guessed.
    platform::ExclusiveFile holder;
    ASSERT_TRUE(holder.Open(Path("long.id"), platform::ExclusiveFile::Mode::ReadExisting));
    EXPECT_FALSE(ReadIdFile(Path("long.id")).ok);
}

TEST_F(TrustedIds, TheFirstFiveBytesDecideADuplicate) {
    TrustedIdList list{TrustedIdRecord::Make(Id(1), ""), TrustedIdRecord::Make(Id(2), "")};
    EXPECT_EQ(FindTrustedId(list, Id(2, 0x55, 7)), 1);  // differs after byte 5 only
    EXPECT_EQ(FindTrustedId(list, Id(2, 0xAA)), -1);    // byte 4 differs
    EXPECT_EQ(FindTrustedId({}, Id(1)), -1);

    ImportResult dup = ImportTrustedId(&list, Id(2, 0x55, 7), "again");
    EXPECT_FALSE(dup.added);
    EXPECT_EQ(dup.index, 1u);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[1].Id(), Id(2));  // the listed entry is not touched
    ImportResult added = ImportTrustedId(&list, Id(3), "新");
    EXPECT_TRUE(added.added);
    EXPECT_EQ(added.index, 2u);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[2].Id(), Id(3));
    EXPECT_EQ(list[2].Description(), "新");
    EXPECT_EQ(list[2].Reserved(), 0);
}

TEST_F(TrustedIds, LongDescriptionsAreCutWithoutSplittingACharacter) {
    std::string text = "a";
    for (int i = 0; i < 100; ++i) text += "字";  // 201 bytes
    TrustedIdRecord r = TrustedIdRecord::Make(Id(1), text);
    std::string d = r.Description();
    EXPECT_EQ(d.size(), 147u);  // "a" + 73 characters
    EXPECT_EQ(d, text.substr(0, 147));
    EXPECT_EQ(r.bytes[100 + 147], 0);
}

TEST_F(TrustedIds, BackupCheckLooksAtTheFirstFiveMarkers) {
    auto file_with_markers = [&](std::vector<uint8_t> markers) {
        std::vector<uint8_t> bytes(markers.size() * 250, 0);
        for (size_t i = 0; i < markers.size(); ++i) bytes[i * 250 + 4] = markers[i];
        Spit(Path("b.dat"), bytes);
        return CheckTrustedIdBackup(Path("b.dat"));
    };
    EXPECT_TRUE(file_with_markers({0x55, 0xAA, 0x55, 0xAA, 0x55, 0x00}));
    EXPECT_FALSE(file_with_markers({0x00}));
    EXPECT_FALSE(file_with_markers({0x55, 0x55, 0x56}));
    EXPECT_TRUE(file_with_markers({}));
    EXPECT_TRUE(CheckTrustedIdBackup(Path("missing.dat")));
}

TEST_F(TrustedIds, BackupAndRestore) {
    const std::string live = Path("TrustID.dat");
    ASSERT_TRUE(SaveTrustedIds({TrustedIdRecord::Make(Id(1), "x")}, live));
    EXPECT_EQ(BackupTrustedIds(Path("bak"), live).message, "备份配置文件成功!");
    EXPECT_EQ(Slurp(Path("bak.dat")), Slurp(live));
    EXPECT_EQ(BackupTrustedIds(Path("bak"), Path("none.dat")).message, "备份配置文件失败!");

    TrustedIdList list;
    Spit(Path("bad.dat"), std::vector<uint8_t>(250, 0));
    EXPECT_EQ(RestoreTrustedIds(&list, Path("bad.dat"), live).message, "恢复配置文件格式不正确!");
    EXPECT_EQ(RestoreTrustedIds(&list, Path("gone.dat"), live).message, "恢复配置文件失败!");
    Spit(Path("empty.dat"), {});
    FileOpResult r = RestoreTrustedIds(&list, Path("empty.dat"), live);
    EXPECT_EQ(r.message, "恢复配置文件成功!");
    EXPECT_TRUE(list.empty());
    EXPECT_TRUE(Slurp(live).empty());

    // A good backup becomes the live file and the list, record for record.
    ASSERT_TRUE(
        SaveTrustedIds({TrustedIdRecord::Make(Id(5), "五"), TrustedIdRecord::Make(Id(6, 0xAA), "")},
                       Path("two.dat")));
    r = RestoreTrustedIds(&list, Path("two.dat"), live);
    EXPECT_TRUE(r.ok);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].Description(), "五");
    EXPECT_EQ(list[1].Id(), Id(6, 0xAA));
    EXPECT_EQ(Slurp(live), Slurp(Path("two.dat")));

    // The live file held: refused, the list and the file stay.
    platform::ExclusiveFile holder;
    ASSERT_TRUE(holder.Open(live, platform::ExclusiveFile::Mode::ReadExisting));
    r = RestoreTrustedIds(&list, Path("empty.dat"), live);
    holder.Close();
    EXPECT_EQ(r.message, "恢复配置文件失败!");
    EXPECT_EQ(list.size(), 2u);
    EXPECT_EQ(Slurp(live).size(), 500u);
}

}  // namespace
}  // namespace ov
