#include "platform/files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "platform/data_file_lock.h"
#include "test_child.h"

#ifdef _WIN32
#include <windows.h>
// After windows.h, which it needs.
#include <sddl.h>
#else
#include <sys/stat.h>
#endif

namespace ov::platform {
namespace {

namespace fs = std::filesystem;

class FilesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_dir = fs::temp_directory_path() /
                ("ov_files_" +
                 std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
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
    Result missing = f.Open(Path("missing"), ExclusiveFile::Mode::ReadExisting);
    ASSERT_FALSE(missing);
    EXPECT_TRUE(missing.error().NotFound());
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
        ASSERT_TRUE(
            held.Open(Path("a"), ExclusiveFile::Mode::ReadExisting, ExclusiveFile::Share::Read));
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
        if (e.path().stem() == "platform_test")
            found = true;
    EXPECT_TRUE(found);
}

TEST(ErrorTest, TextNamesTheCodeAndTheSystemTextAlsoForAsioErrors) {
    Error e = Error::FromCode(2);
    EXPECT_EQ(e.Text().rfind("err 2 - ", 0), 0u) << e.Text();
    EXPECT_GT(e.Text().size(), 8u);
    EXPECT_TRUE(e.NotFound());
    EXPECT_EQ(Error::From(std::error_code(2, std::system_category())).Text(), e.Text());
}

#ifdef _WIN32
std::string Dacl(const std::string& path) {
    DWORD needed = 0;
    ::GetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
    std::vector<uint8_t> sd(needed);
    if (!needed ||
        !::GetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, sd.data(), needed, &needed))
        return "?";
    char* text = nullptr;
    if (!::ConvertSecurityDescriptorToStringSecurityDescriptorA(
            sd.data(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr))
        return "?";
    std::string result(text);
    ::LocalFree(text);
    return result;
}

TEST_F(FilesTest, AtomicWriteKeepsTheSecurityDescriptorAndAttributes) {
    Spit(Path("u.dat"), "old");
    // Everyone may read, only administrators may change: not what a new file inherits.
    PSECURITY_DESCRIPTOR sd = nullptr;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorA(
        "D:P(A;;FR;;;WD)(A;;FA;;;BA)", SDDL_REVISION_1, &sd, nullptr));
    ASSERT_TRUE(::SetFileSecurityA(Path("u.dat").c_str(), DACL_SECURITY_INFORMATION, sd));
    ::LocalFree(sd);
    ASSERT_TRUE(::SetFileAttributesA(Path("u.dat").c_str(), FILE_ATTRIBUTE_HIDDEN));
    const std::string dacl = Dacl(Path("u.dat"));
    ASSERT_TRUE(WriteFileAtomically(Path("u.dat"), "new", 3));
    EXPECT_EQ(Slurp(Path("u.dat")), "new");
    EXPECT_EQ(Dacl(Path("u.dat")), dacl);
    EXPECT_TRUE(::GetFileAttributesA(Path("u.dat").c_str()) & FILE_ATTRIBUTE_HIDDEN);
}
#else
unsigned Mode(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

TEST_F(FilesTest, AtomicWriteKeepsTheModeAndNewPrivateFilesAreTheOwnersOnly) {
    Spit(Path("u.dat"), "old");
    for (unsigned mode : {0600u, 0640u}) {
        ASSERT_EQ(::chmod(Path("u.dat").c_str(), mode), 0);
        ASSERT_TRUE(WriteFileAtomically(Path("u.dat"), "new", 3));
        EXPECT_EQ(Mode(Path("u.dat")), mode);
    }
    ASSERT_TRUE(WriteFileAtomically(Path("fresh.dat"), "x", 1, NewFile::OwnerOnly));
    EXPECT_EQ(Mode(Path("fresh.dat")), 0600u);
    // A log: its owner and group, neither more under a lax umask nor less
    // under a service's 0077; an existing one keeps its mode.
    for (mode_t mask : {0002u, 0077u}) {
        mode_t before = ::umask(mask);
        const std::string log_path = Path(mask == 0002u ? "lax.log" : "service.log");
        ExclusiveFile log;
        ASSERT_TRUE(log.Open(log_path, ExclusiveFile::Mode::OpenAlways, ExclusiveFile::Share::Read,
                             NewFile::OwnerAndGroup));
        ::umask(before);
        EXPECT_EQ(Mode(log_path), 0640u) << mask;
        log.Close();
        ASSERT_EQ(::chmod(log_path.c_str(), 0600), 0);
        ASSERT_TRUE(log.Open(log_path, ExclusiveFile::Mode::OpenAlways, ExclusiveFile::Share::Read,
                             NewFile::OwnerAndGroup));
        EXPECT_EQ(Mode(log_path), 0600u) << mask;
    }
}
#endif

int HoldDataFileLock(const std::string& path) {
    DataFileLock lock;
    if (!lock.Acquire(path, std::chrono::milliseconds(0)))
        return 2;
    std::this_thread::sleep_for(std::chrono::seconds(30));
    return 3;
}
const testing::RegisterChildRole kHoldLock("hold-data-file-lock", HoldDataFileLock);

TEST_F(FilesTest, DataFileLockExcludesOtherProcessesAndEndsWithItsHolder) {
    const std::string data = Path("uinfo.dat");
    testing::ChildProcess child;
    ASSERT_TRUE(child.Start("hold-data-file-lock", data));
    ASSERT_TRUE(testing::WaitUntil(
        [&] {
            DataFileLock probe;
            return !probe.Acquire(data, std::chrono::milliseconds(0));
        },
        10000));
    DataFileLock lock;
    Result r = lock.Acquire(data, std::chrono::milliseconds(200));
    ASSERT_FALSE(r);
    EXPECT_TRUE(r.error().InUse()) << r.error().Text();
    child.Kill();  // a crash: the system lets go of the lock
    int code = 0;
    ASSERT_TRUE(child.Wait(10000, &code));
    EXPECT_TRUE(lock.Acquire(data, std::chrono::milliseconds(2000)));
    EXPECT_TRUE(lock.Held());
}

}  // namespace
}  // namespace ov::platform
