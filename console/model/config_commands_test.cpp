#include "console/model/config_commands.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <vector>

#include "common/account_file.h"
#include "common/test_dir.h"

namespace ov::console {
namespace {

struct Shown {
    std::string text, caption;
    MessageIcon icon;
};

class FakeUi : public ConsoleUi {
  public:
    void ShowMessage(const std::string& text, const std::string& caption,
                     MessageIcon icon) override {
        shown.push_back({text, caption, icon});
    }
    CallResult CallShowCfg(const char* library_file, void* piece) override {
        called.push_back(library_file);
        if (result == CallResult::Called && edit)
            edit(piece);
        return result;
    }
    bool AskPassword(std::string* password) override {
        asked_password = true;
        *password = typed_password;
        return password_ok;
    }
    bool AskAlias(const std::string& host_name, std::string* alias) override {
        alias_shown = *alias;
        host_shown = host_name;
        *alias = typed_alias;
        return alias_ok;
    }
    std::string HostName() override { return "gw-host"; }

    std::vector<Shown> shown;
    std::vector<std::string> called;
    CallResult result = CallResult::Called;
    std::function<void(void*)> edit;
    bool password_ok = true, alias_ok = true, asked_password = false;
    std::string typed_password, typed_alias, alias_shown, host_shown;
};

class ConfigCommandsTest : public ov::testing::TestDir {
  protected:
    void SetUp() override {
        TestDir::SetUp();
        m_paths = {Path("OV_G.ini"), Path("uinfo.dat")};
        std::ofstream(m_paths.settings, std::ios::binary)
            << "[S_CFG]\r\nCmdPort=6111\r\nbGuest=1\r\n[Base]\r\nAlias=old\r\n";
        ReadSettings(&m_settings, m_paths.settings);
        m_before = IniBytes();
    }
    std::string IniBytes() const {
        std::ifstream in(m_paths.settings, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    void SaveAdministrator(const std::string& password) {
        ASSERT_TRUE(SaveAccounts({AccountRecord::Make(kAdministratorName, password, true, ""),
                                  AccountRecord::Make("user", "other", true, "")},
                                 m_paths.accounts));
    }

    ConfigPaths m_paths;
    GatewaySettings m_settings;
    std::string m_before;
    FakeUi m_ui;
};

TEST_F(ConfigCommandsTest, WebSettingsAreWrittenOnlyWhenTheLibraryChangedThem) {
    EXPECT_FALSE(WebConfiguration(&m_settings, m_paths, &m_ui));
    EXPECT_EQ(m_ui.called, std::vector<std::string>{"ovagentset.dll"});
    EXPECT_TRUE(m_ui.shown.empty());
    EXPECT_EQ(IniBytes(), m_before);

    m_ui.edit = [](void* p) { static_cast<WebAgentSettings*>(p)->binternet = 7; };
    EXPECT_TRUE(WebConfiguration(&m_settings, m_paths, &m_ui));
    ASSERT_EQ(m_ui.shown.size(), 1u);
    EXPECT_EQ(m_ui.shown[0].text, "配置发生了变化，请重新启动服务");
    EXPECT_EQ(m_ui.shown[0].caption, "重启服务");
    EXPECT_NE(IniBytes().find("binternet=7\r\n"), std::string::npos);
    EXPECT_NE(IniBytes().find("Alias=old\r\n"), std::string::npos);  // the alias goes back as read
}

TEST_F(ConfigCommandsTest, AMissingLibraryOrEntryIsReportedAndNothingWritten) {
    m_ui.result = ConsoleUi::CallResult::NotLoaded;
    WebConfiguration(&m_settings, m_paths, &m_ui);
    m_ui.result = ConsoleUi::CallResult::NoEntry;
    WebConfiguration(&m_settings, m_paths, &m_ui);
    SaveAdministrator("pw");
    m_ui.typed_password = "pw";
    m_ui.result = ConsoleUi::CallResult::NotLoaded;
    AdvancedConfiguration(&m_settings, m_paths, &m_ui);
    m_ui.result = ConsoleUi::CallResult::NoEntry;
    AdvancedConfiguration(&m_settings, m_paths, &m_ui);
    ASSERT_EQ(m_ui.shown.size(), 4u);
    EXPECT_EQ(m_ui.shown[0].text, "Load ovagentset.dll Failed!");
    EXPECT_EQ(m_ui.shown[1].text, "Get dllConfigure.dll Failed!");
    EXPECT_EQ(m_ui.shown[2].text, "Load ovsetup.dll Failed!");
    EXPECT_EQ(m_ui.shown[3].text, "Get ovsetup.dll Failed!");
    for (const auto& s : m_ui.shown) EXPECT_EQ(s.icon, MessageIcon::Stop);
    EXPECT_EQ(IniBytes(), m_before);
}

TEST_F(ConfigCommandsTest, AdvancedSettingsNeedTheFirstAccountsPassword) {
    // No account file, then a damaged one.
    m_ui.typed_password = "pw";
    AdvancedConfiguration(&m_settings, m_paths, &m_ui);
    std::ofstream(m_paths.accounts, std::ios::binary) << "short";
    AdvancedConfiguration(&m_settings, m_paths, &m_ui);
    // The user's password is not the administrator's; case counts.
    SaveAdministrator("Secret");
    m_ui.typed_password = "other";
    AdvancedConfiguration(&m_settings, m_paths, &m_ui);
    m_ui.typed_password = "secret";
    AdvancedConfiguration(&m_settings, m_paths, &m_ui);
    ASSERT_EQ(m_ui.shown.size(), 4u);
    EXPECT_EQ(m_ui.shown[0].text, "读用户帐号文件uinfo.dat出错!");
    EXPECT_EQ(m_ui.shown[1].text, "用户帐号文件uinfo.dat被损坏!");
    EXPECT_EQ(m_ui.shown[2].text, "输入的管理员密码错误！");
    EXPECT_EQ(m_ui.shown[2].icon, MessageIcon::Stop);
    EXPECT_TRUE(m_ui.called.empty());  // ovsetup is never loaded

    // Cancel at the prompt ends everything quietly.
    m_ui.shown.clear();
    m_ui.password_ok = false;
    m_ui.typed_password = "Secret";
    EXPECT_FALSE(AdvancedConfiguration(&m_settings, m_paths, &m_ui));
    EXPECT_TRUE(m_ui.shown.empty() && m_ui.called.empty());

    // The typed text counts up to 20 bytes, as the prompt takes them.
    m_ui.password_ok = true;
    EXPECT_TRUE(CheckAdministratorPassword("Secret", m_paths.accounts).ok);
    EXPECT_FALSE(CheckAdministratorPassword("Secre", m_paths.accounts).ok);
}

TEST_F(ConfigCommandsTest, AChangeOfTheGuestFlagAloneIsWritten) {
    SaveAdministrator("pw");
    m_ui.typed_password = "pw";
    EXPECT_FALSE(AdvancedConfiguration(&m_settings, m_paths, &m_ui));
    EXPECT_EQ(m_ui.called, std::vector<std::string>{"ovsetup.dll"});
    EXPECT_EQ(IniBytes(), m_before);

    m_ui.edit = [](void* p) { *static_cast<ServerSettings*>(p)->bGuest = 0; };
    EXPECT_TRUE(AdvancedConfiguration(&m_settings, m_paths, &m_ui));
    EXPECT_NE(IniBytes().find("bGuest=0\r\n"), std::string::npos);
    ASSERT_EQ(m_ui.shown.size(), 1u);
    EXPECT_EQ(m_ui.shown[0].text, "配置发生了变化，请重新启动服务");
}

TEST_F(ConfigCommandsTest, AFailedWriteAsksForNoRestartAndKeepsTheChangeForLater) {
    SaveAdministrator("pw");
    m_ui.typed_password = "pw";
    std::filesystem::remove(m_paths.settings);
    std::filesystem::create_directory(m_paths.settings);  // cannot be written
    m_ui.edit = [](void* p) { static_cast<ServerSettings*>(p)->CmdPort = 7000; };
    EXPECT_FALSE(AdvancedConfiguration(&m_settings, m_paths, &m_ui));
    ASSERT_EQ(m_ui.shown.size(), 1u);
    EXPECT_EQ(m_ui.shown[0].text, "创建ini文件失败");
    EXPECT_EQ(m_settings.server.CmdPort, 7000);

    std::filesystem::remove(m_paths.settings);
    m_ui.edit = [](void* p) { static_cast<WebAgentSettings*>(p)->binternet = 5; };
    EXPECT_TRUE(WebConfiguration(&m_settings, m_paths, &m_ui));
    EXPECT_NE(IniBytes().find("CmdPort=7000\r\n"), std::string::npos);
}

TEST_F(ConfigCommandsTest, AliasIsWrittenOnlyWhenItChanges) {
    m_ui.typed_alias = "old";
    EXPECT_FALSE(SystemSettings(&m_settings, m_paths, &m_ui));
    EXPECT_EQ(m_ui.alias_shown, "old");
    EXPECT_EQ(m_ui.host_shown, "gw-host");
    EXPECT_TRUE(m_ui.shown.empty());
    EXPECT_EQ(IniBytes(), m_before);

    m_ui.typed_alias = "新名字";
    EXPECT_TRUE(SystemSettings(&m_settings, m_paths, &m_ui));
    EXPECT_NE(IniBytes().find("[Base]\r\nAlias=新名字\r\n"), std::string::npos);
    m_ui.typed_alias = "";
    EXPECT_TRUE(SystemSettings(&m_settings, m_paths, &m_ui));
    EXPECT_NE(IniBytes().find("[Base]\r\nAlias=\r\n"), std::string::npos);
    ASSERT_EQ(m_ui.shown.size(), 2u);
    EXPECT_EQ(m_ui.shown[0].text, "计算机别名设置生效");
    EXPECT_EQ(m_ui.shown[1].text, "计算机别名设置被取消,将使用计算机的默认名称");
    EXPECT_EQ(m_ui.shown[1].caption, "ovconsole");

    // "a" and 30 Chinese characters (61 bytes) keep "a" and 24 of them:
    // no half character in the file, and the same text again is no change.
    std::string long_alias = "a";
    for (int i = 0; i < 30; ++i) long_alias += "网";
    m_ui.typed_alias = long_alias;
    m_ui.shown.clear();
    EXPECT_TRUE(SystemSettings(&m_settings, m_paths, &m_ui));
    EXPECT_EQ(m_settings.alias, long_alias.substr(0, 49));
    EXPECT_NE(IniBytes().find("Alias=" + long_alias.substr(0, 49) + "\r\n"), std::string::npos);
    const std::string written = IniBytes();
    EXPECT_FALSE(SystemSettings(&m_settings, m_paths, &m_ui)) << "the same text again";
    EXPECT_EQ(m_ui.alias_shown, long_alias.substr(0, 49)) << "the dialog shows the file's alias";
    m_ui.typed_alias = m_ui.alias_shown;
    EXPECT_FALSE(SystemSettings(&m_settings, m_paths, &m_ui)) << "OK on what it shows";
    EXPECT_EQ(IniBytes(), written);
    EXPECT_EQ(m_ui.shown.size(), 1u) << "an unchanged alias says nothing";

    // Cancel changes nothing.
    m_ui.shown.clear();
    m_ui.alias_ok = false;
    m_ui.typed_alias = "x";
    EXPECT_FALSE(SystemSettings(&m_settings, m_paths, &m_ui));
    EXPECT_TRUE(m_ui.shown.empty());
}

TEST_F(ConfigCommandsTest, AliasDialogShowsTheFilesAliasAndAFailedWriteKeepsIt) {
    std::ofstream(m_paths.settings, std::ios::binary) << "[Base]\r\nAlias=from file\r\n";
    m_ui.typed_alias = "new";
    std::filesystem::remove(m_paths.settings);
    std::filesystem::create_directory(m_paths.settings);
    EXPECT_FALSE(SystemSettings(&m_settings, m_paths, &m_ui));
    ASSERT_EQ(m_ui.shown.size(), 2u);
    EXPECT_EQ(m_ui.shown[1].text, "写配置文件失败，别名设置失败");
    EXPECT_EQ(m_settings.alias, "old");  // an unreadable file keeps the alias in memory

    std::filesystem::remove(m_paths.settings);
    std::ofstream(m_paths.settings, std::ios::binary) << "[Base]\r\nAlias=from file\r\n";
    m_ui.alias_ok = false;
    SystemSettings(&m_settings, m_paths, &m_ui);
    EXPECT_EQ(m_ui.alias_shown, "from file");
}

}  // namespace
}  // namespace ov::console
