#include "ini_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace ov {
namespace {

namespace fs = std::filesystem;

class IniFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_dir = fs::temp_directory_path() /
                ("ov_ini_" +
                 std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
        m_path = (m_dir / "OV_G.ini").string();
    }
    void TearDown() override { fs::remove_all(m_dir); }
    void Write(const std::string& bytes) { std::ofstream(m_path, std::ios::binary) << bytes; }
    std::string Slurp() {
        std::ifstream in(m_path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    IniFile Read(const std::string& bytes) {
        Write(bytes);
        IniFile ini(m_path);
        EXPECT_TRUE(ini.ReadFile());
        return ini;
    }
    fs::path m_dir;
    std::string m_path;
};

TEST_F(IniFileTest, HeadersNeedBracketsAtBothEndsAndLoseAllOfThem) {
    IniFile ini = Read(
        "[S_CFG]\r\na=1\r\n[[S_CFG]]\r\nb=2\r\n [S_CFG]\r\n[]\r\nc=3\r\n[x\r\n[ sp ace ]\r\nd=4\n");
    EXPECT_EQ(ini.GetValue("S_CFG", "a"), "1");
    EXPECT_EQ(ini.GetValue("S_CFG", "b"), "2");  // [[S_CFG]] continues the section
    // A blank before the bracket makes a pair line with the empty key.
    EXPECT_EQ(ini.GetValue("S_CFG", ""), "[S_CFG]");
    EXPECT_EQ(ini.GetValue("", "c"), "3");
    EXPECT_EQ(ini.GetValue("", ""), "x");  // "[x" has no closing bracket
    EXPECT_EQ(ini.GetValue(" sp ace ", "d"), "4");
    EXPECT_EQ(ini.Sections().size(), 3u);
}

TEST_F(IniFileTest, PairsSplitAtTheFirstEqualsWithoutTrimmingExceptTrailingSpace) {
    IniFile ini = Read(
        "k0=before header\n[S]\nCmdPort=6112 \t\r\nProxyPort= 6121\nA = "
        "1\nurl=http://h/a?b=c\nempty=\n;note=x\n;plain\n");
    EXPECT_EQ(ini.GetValue("", "k0"), "before header");
    EXPECT_EQ(ini.GetValue("S", "CmdPort"), "6112");
    EXPECT_EQ(ini.GetValue("S", "ProxyPort"), " 6121");
    EXPECT_EQ(ini.GetValueI("S", "ProxyPort"), 6121);
    EXPECT_EQ(ini.GetValue("S", "A "), " 1");
    EXPECT_EQ(ini.GetValue("S", "A"), "");
    EXPECT_EQ(ini.GetValue("S", "url"), "http://h/a?b=c");
    EXPECT_EQ(ini.FindKey(ini.FindSection("S"), "empty"), 4);
    EXPECT_EQ(ini.GetValue("S", "empty"), "");
    EXPECT_EQ(ini.GetValue("S", ";note"), "x");  // no comment syntax
    EXPECT_EQ(ini.GetValue("S", ""), "plain");
}

TEST_F(IniFileTest, LaterValuesWinAndRepeatedSectionsMerge) {
    IniFile ini = Read("[A]\nk=1\n[B]\nk=b\n[A]\nk=2\nj=3\n");
    EXPECT_EQ(ini.GetValue("A", "k"), "2");
    EXPECT_EQ(ini.GetValue("A", "j"), "3");
    ASSERT_EQ(ini.Sections().size(), 2u);
    EXPECT_EQ(ini.Sections()[0].keys, (std::vector<std::string>{"k", "j"}));
}

TEST_F(IniFileTest, LookupsAreCaseSensitiveAndSetTheirErrorTexts) {
    IniFile ini = Read("[S]\nKey=v\n");
    EXPECT_EQ(ini.GetValue("s", "Key"), "");
    EXPECT_EQ(ini.Error(), "Unable to locate specified key.");
    EXPECT_EQ(ini.GetValue("S", "key"), "");
    EXPECT_EQ(ini.Error(), "Unable to locate specified value.");
    EXPECT_EQ(ini.GetValue("S", "Key"), "v");
    EXPECT_EQ(ini.Error(), "Unable to locate specified value.");  // never cleared
    EXPECT_EQ(ini.GetValueI("S", "Key"), 0);
    EXPECT_EQ(ini.FindKey(-1, "Key"), -1);
}

TEST_F(IniFileTest, ReReadingAddsAndOverwritesButNeverRemoves) {
    IniFile ini = Read("[S]\na=1\nb=2\n[T]\nc=3\n");
    Write("[S]\na=9\n");
    ASSERT_TRUE(ini.ReadFile());
    EXPECT_EQ(ini.GetValue("S", "a"), "9");
    EXPECT_EQ(ini.GetValue("S", "b"), "2");
    EXPECT_EQ(ini.GetValue("T", "c"), "3");
}

TEST_F(IniFileTest, MissingFileKeepsTheErrorTextAndADirectoryCannotBeOpened) {
    IniFile ini((m_dir / "none.ini").string());
    EXPECT_FALSE(ini.ReadFile());
    EXPECT_EQ(ini.Error(), "");
    ini.SetPath(m_dir.string());
    EXPECT_FALSE(ini.ReadFile());
    EXPECT_EQ(ini.Error(), "Unable to open ini file.");
}

TEST_F(IniFileTest, OverlongLinesAreCutAndTheirRestSkipped) {
    std::string longValue(3000, 'v');
    IniFile ini = Read("[S]\nlong=" + longValue + "\nnext=1\n");
    EXPECT_EQ(ini.GetValue("S", "long").size(), IniFile::kMaxLine - 5);
    EXPECT_EQ(ini.GetValue("S", "next"), "1");
    EXPECT_EQ(ini.Sections()[0].keys.size(), 2u);  // no stray pair from the rest
}

TEST_F(IniFileTest, GbkTextPassesThroughAndLastLineNeedsNoLineFeed) {
    IniFile ini = Read("[Base]\nAlias=网关一号\n[S]\nx=1");
    EXPECT_EQ(ini.GetValue("Base", "Alias"), "网关一号");
    EXPECT_EQ(ini.GetValue("S", "x"), "1");
}

TEST_F(IniFileTest, SetValueCreatesOnlyWhenAsked) {
    IniFile ini;
    EXPECT_FALSE(ini.SetValue("S", "k", "v", false));
    EXPECT_TRUE(ini.SetValue("S", "k", "v", true));
    EXPECT_FALSE(ini.SetValue("S", "other", "v", false));
    EXPECT_TRUE(ini.SetValue("S", "k", "w", false));
    EXPECT_EQ(ini.GetValue("S", "k"), "w");
}

TEST_F(IniFileTest, WriterKeepsOrderDropsEmptySectionsAndReadsBack) {
    IniFile ini = Read("[Keep]\nz=1\na=2\n[Unknown]\nmine=yes\n");
    ini.SetValue("Empty", "k", "", true);
    ini.SetValue("Keep", "a", "3", false);
    EXPECT_EQ(ini.Serialize(),
              "[Keep]\r\nz=1\r\na=3\r\n\r\n[Unknown]\r\nmine=yes\r\n\r\n[Empty]\r\nk=\r\n\r\n");
    ASSERT_TRUE(ini.WriteFile());
    IniFile back(m_path);
    ASSERT_TRUE(back.ReadFile());
    EXPECT_EQ(back.Serialize(), ini.Serialize());
    EXPECT_EQ(IniFile().Serialize(), "");
    // A header line alone makes no section worth writing.
    EXPECT_EQ(Read("[Hollow]\n[S]\nk=v\n").Serialize(), "[S]\r\nk=v\r\n\r\n");
}

TEST_F(IniFileTest, WriteFailureKeepsTheOldFile) {
    Write("[S]\na=1\n");
    IniFile ini(m_path);
    ASSERT_TRUE(ini.ReadFile());
    ini.SetPath((m_dir / "no_such_dir" / "OV_G.ini").string());
    EXPECT_FALSE(ini.WriteFile());
    EXPECT_EQ(Slurp(), "[S]\na=1\n");
}

}  // namespace
}  // namespace ov
