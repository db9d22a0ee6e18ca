#include "platform/files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace ov::platform {
namespace {

namespace fs = std::filesystem;

class FilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = fs::temp_directory_path() /
                ("ov_files_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }
    std::string Path(const char* name) const { return (m_dir / name).string(); }
    static std::string Slurp(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static void Spit(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    fs::path m_dir;
};

TEST_F(FilesTest, SecondOpenOfAHeldFileIsRefusedUntilTheFirstCloses) {
    ExclusiveFile a, b;
    ASSERT_TRUE(a.Open(Path("x.dat"), ExclusiveFile::Mode::OpenAlways));
    EXPECT_FALSE(b.Open(Path("x.dat"), ExclusiveFile::Mode::ReadExisting));
    EXPECT_FALSE(b.Open(Path("x.dat"), ExclusiveFile::Mode::CreateTruncate));
    ASSERT_TRUE(a.Write("abc", 3));
    a.Close();
    ASSERT_TRUE(b.Open(Path("x.dat"), ExclusiveFile::Mode::ReadExisting));
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(b.ReadAll(&bytes, 100));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "abc");
}

TEST_F(FilesTest, RefusedTruncatingOpenLeavesTheHolderBytesIntact) {
    ExclusiveFile a, b;
    ASSERT_TRUE(a.Open(Path("x.dat"), ExclusiveFile::Mode::OpenAlways));
    ASSERT_TRUE(a.Write("keep", 4));
    ASSERT_FALSE(b.Open(Path("x.dat"), ExclusiveFile::Mode::CreateTruncate));
    EXPECT_EQ(a.Size(), 4);
}

TEST_F(FilesTest, ReadingBeyondTheLimitAndMissingFilesFail) {
    ExclusiveFile f;
    EXPECT_FALSE(f.Open(Path("missing"), ExclusiveFile::Mode::ReadExisting));
    EXPECT_NE(LastErrorCode(), 0u);
    Spit(Path("big"), std::string(101, 'x'));
    ASSERT_TRUE(f.Open(Path("big"), ExclusiveFile::Mode::ReadExisting));
    std::vector<uint8_t> bytes;
    EXPECT_FALSE(f.ReadAll(&bytes, 100));
    EXPECT_TRUE(f.ReadAll(&bytes, 101));
    EXPECT_EQ(bytes.size(), 101u);
}

TEST_F(FilesTest, TruncateAndSeekEnd) {
    ExclusiveFile f;
    ASSERT_TRUE(f.Open(Path("t"), ExclusiveFile::Mode::OpenAlways));
    ASSERT_TRUE(f.Write("12345", 5));
    ASSERT_TRUE(f.Truncate());
    ASSERT_TRUE(f.Write("ab", 2));
    ASSERT_TRUE(f.SeekEnd());
    ASSERT_TRUE(f.Write("c", 1));
    f.Close();
    EXPECT_EQ(Slurp(Path("t")), "abc");
}

TEST_F(FilesTest, AtomicWriteReplacesWholeAndLeavesNoTemporary) {
    Spit(Path("u.dat"), "old contents");
    ASSERT_TRUE(WriteFileAtomically(Path("u.dat"), "new", 3));
    EXPECT_EQ(Slurp(Path("u.dat")), "new");
    EXPECT_FALSE(PathExists(Path("u.dat.tmp")));
    ASSERT_TRUE(WriteFileAtomically(Path("fresh.dat"), "", 0));
    EXPECT_TRUE(PathExists(Path("fresh.dat")));
}

TEST_F(FilesTest, AtomicWriteOverAHeldFileFailsAndKeepsIt) {
    Spit(Path("u.dat"), "old");
    ExclusiveFile holder;
    ASSERT_TRUE(holder.Open(Path("u.dat"), ExclusiveFile::Mode::ReadExisting));
    EXPECT_FALSE(WriteFileAtomically(Path("u.dat"), "new", 3));
    holder.Close();
    EXPECT_EQ(Slurp(Path("u.dat")), "old");
    EXPECT_FALSE(PathExists(Path("u.dat.tmp")));
}

TEST_F(FilesTest, RenameOverRefusesAHeldSourceOrTarget) {
    Spit(Path("a"), "A");
    Spit(Path("b"), "B");
    {
        ExclusiveFile held;
        ASSERT_TRUE(held.Open(Path("a"), ExclusiveFile::Mode::ReadExisting, ExclusiveFile::Share::Read));
        EXPECT_FALSE(RenameOver(Path("a"), Path("b")));
        EXPECT_FALSE(RenameOver(Path("b"), Path("a")));
    }
    EXPECT_EQ(Slurp(Path("b")), "B");
    ASSERT_TRUE(RenameOver(Path("a"), Path("b")));
    EXPECT_EQ(Slurp(Path("b")), "A");
    EXPECT_FALSE(PathExists(Path("a")));
}

TEST_F(FilesTest, CopyFileOverCopiesBytesAndRefusesOversizedSources) {
    Spit(Path("src"), std::string("a\0b", 3));
    Spit(Path("dst"), "something longer");
    ASSERT_TRUE(CopyFileOver(Path("src"), Path("dst")));
    EXPECT_EQ(Slurp(Path("dst")), std::string("a\0b", 3));
    EXPECT_FALSE(CopyFileOver(Path("src"), Path("dst2"), 2));
    EXPECT_FALSE(PathExists(Path("dst2")));
    EXPECT_FALSE(CopyFileOver(Path("missing"), Path("dst")));
    EXPECT_EQ(Slurp(Path("dst")), std::string("a\0b", 3));
}

TEST(ProgramDirectoryTest, HoldsTheRunningProgramAndEndsWithASeparator) {
    std::string dir = ProgramDirectory();
    ASSERT_FALSE(dir.empty());
    char last = dir.back();
    EXPECT_TRUE(last == '/' || last == '\\');
    EXPECT_TRUE(fs::exists(fs::path(dir)));
    bool found = false;
    for (const auto& e : fs::directory_iterator(fs::path(dir)))
        if (e.path().stem() == "platform_test") found = true;
    EXPECT_TRUE(found);
}

TEST(ErrorTextTest, NamesTheCodeAndTheSystemText) {
    std::string t = ErrorText(2);
    EXPECT_EQ(t.rfind("err 2 - ", 0), 0u) << t;
    EXPECT_GT(t.size(), 8u);
}

}  // namespace
}  // namespace ov::platform
