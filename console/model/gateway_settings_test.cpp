#include "console/model/gateway_settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "common/test_dir.h"

namespace ov::console {
namespace {

class GatewaySettingsTest : public ov::testing::TestDir {
  protected:
    std::string Ini() const { return Path("OV_G.ini"); }
    void WriteIni(const std::string& bytes) const {
        std::ofstream(Ini(), std::ios::binary) << bytes;
    }
    std::string ReadIni() const {
        std::ifstream in(Ini(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
};

TEST_F(GatewaySettingsTest, WriteIntoNoFileCreatesTheThreeSectionsInOrder) {
    GatewaySettings s;
    ReadSettings(&s, Ini());
    s.alias = "网关一";
    ASSERT_TRUE(WriteSettings(s, Ini()).ok);
    EXPECT_EQ(ReadIni(),
              "[CWebinfo]\r\nszKey=\r\nMasterURL=\r\nSlaveURL=\r\nbinternet=1\r\n\r\n"
              "[S_CFG]\r\nflg_encrypt=1\r\nbGuest=1\r\nPKey=\r\nCmdPort=6111\r\n"
              "ProxyPort=6121\r\n\r\n[Base]\r\nAlias=网关一\r\n\r\n");
}

TEST_F(GatewaySettingsTest, WriteKeepsUnknownSectionsAndKeysInTheirPlaces) {
    WriteIni(
        "[Extra]\r\nx=1\r\n[S_CFG]\r\nCmdPort=7000\r\nmine=keep me\r\n[CWebinfo]\r\n"
        "MasterURL=http://a/b?c=d\r\n");
    GatewaySettings s;
    ReadSettings(&s, Ini());
    s.server.ProxyPort = -5;  // written as signed decimal
    ASSERT_TRUE(WriteSettings(s, Ini()).ok);
    EXPECT_EQ(ReadIni(),
              "[Extra]\r\nx=1\r\n\r\n"
              "[S_CFG]\r\nCmdPort=7000\r\nmine=keep me\r\nflg_encrypt=0\r\nbGuest=0\r\nPKey=\r\n"
              "ProxyPort=-5\r\n\r\n"
              "[CWebinfo]\r\nMasterURL=http://a/b?c=d\r\nszKey=\r\nSlaveURL=\r\nbinternet=0\r\n\r\n"
              "[Base]\r\nAlias=\r\n\r\n");
}

TEST_F(GatewaySettingsTest, OnlyAnUnreadableFileGivesTheDefaults) {
    GatewaySettings s;
    s.alias = "kept";
    ReadSettings(&s, Ini());  // no file
    EXPECT_EQ(s.server.CmdPort, 6111);
    EXPECT_EQ(s.server.ProxyPort, 6121);
    EXPECT_EQ(s.web.binternet, 1);
    EXPECT_EQ(s.server.flg_encrypt, 1);
    EXPECT_EQ(s.Guest(), 1);
    EXPECT_EQ(s.alias, "kept");
    EXPECT_EQ(s.server.bGuest, &s.Guest());
    EXPECT_EQ(s.server.reserved, nullptr);

    WriteIni("[S_CFG]\r\nProxyPort=6200abc\r\nbGuest=x\r\n[Base]\r\nAlias=pc\r\n");
    ReadSettings(&s, Ini());
    EXPECT_EQ(s.server.CmdPort, 0);  // missing integer key
    EXPECT_EQ(s.server.ProxyPort, 6200);
    EXPECT_EQ(s.Guest(), 0);
    EXPECT_EQ(s.web.binternet, 0);
    EXPECT_EQ(s.alias, "pc");

    // A key that left the file does not come back from an earlier read.
    WriteIni("[S_CFG]\r\nCmdPort=1\r\n");
    ReadSettings(&s, Ini());
    EXPECT_EQ(s.server.ProxyPort, 0);
    EXPECT_EQ(s.alias, "");
}

TEST_F(GatewaySettingsTest, LongValuesAreCutToTheirFieldsOnWholeCharacters) {
    const std::string url(300, 'u');
    std::string key(98, 'k');
    key += "\xD6\xD0";  // a GBK character that would need bytes 98 and 99
    WriteIni("[CWebinfo]\r\nMasterURL=" + url + "\r\nszKey=" + key +
             "\r\n[S_CFG]\r\nPKey=" + std::string(80, 'p') + "\r\n");
    GatewaySettings s;
    ReadSettings(&s, Ini());
    EXPECT_EQ(std::string(s.web.MasterURL), std::string(199, 'u'));
    EXPECT_EQ(std::string(s.web.szKey), std::string(98, 'k'));
    EXPECT_EQ(std::string(s.server.PKey), std::string(49, 'p'));
    EXPECT_EQ(s.web.SlaveURL[199], '\0');
}

TEST_F(GatewaySettingsTest, AFileThatCannotBeReadOrWrittenIsLeftAlone) {
    // There, but not readable as a file: it is not replaced.
    std::filesystem::create_directory(Ini());
    GatewaySettings s;
    ReadSettings(&s, Ini());
    WriteResult r = WriteSettings(s, Ini());
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.message, "创建ini文件失败");
    EXPECT_TRUE(std::filesystem::is_directory(Ini()));

    // A directory that does not exist: nothing can be created.
    r = WriteSettings(s, Path("missing/OV_G.ini"));
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.message, "创建ini文件失败");
}

}  // namespace
}  // namespace ov::console
