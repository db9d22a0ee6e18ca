#include "gateway/gateway_config.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <thread>

#include "common/test_dir.h"

namespace ov::gateway {
namespace {

class Config : public ov::testing::TestDir {
  public:
    void SetUp() override {
        TestDir::SetUp();
        env.program_dir = m_dir.string() + "/";
        env.error_box = [this](const std::string& t, const std::string& c) {
            boxes.push_back(c + "|" + t);
        };
        env.log_line = [this](const std::string& l) { lines.push_back(l); };
        env.computer_id = [this](uint8_t* id, int limit) {
            if (!id_works)
                return false;
            EXPECT_EQ(limit, 85);
            std::memcpy(id, "\x12\x34", 2);
            return true;
        };
        env.host_name = [] { return std::string("host-a"); };
        env.now = [] { return std::time_t(1700000000); };
        SaveAccounts({AccountRecord::Make("Administrator", "pw", true, "")}, Path("uinfo.dat"));
    }
    void Ini(const std::string& text) {
        Spit(Path("OV_G.ini"), std::vector<uint8_t>(text.begin(), text.end()));
    }

    ConfigEnvironment env;
    std::vector<std::string> boxes, lines;
    bool id_works = true;
};

TEST_F(Config, MissingKeysTakeTheirDefaultsWhereTheyAreUsed) {
    Ini("[S_CFG]\nCmdPort = 6111\n");  // blanks around '=': not the key
    GatewayConfig c(env);
    ASSERT_TRUE(c.LoadConfiguration());
    EXPECT_EQ(c.GetCmdPort(), 811);
    EXPECT_EQ(c.GetProxyPort(), 821);
    EXPECT_EQ(c.GetUpdateTime(), 2);
    EXPECT_EQ(c.OwnRecord().cmdPort, 811u);  // stored back
    EXPECT_EQ(c.OwnRecord().direct, 0);      // binternet absent: through a proxy
    EXPECT_FALSE(c.IdCheck());
    EXPECT_FALSE(c.GuestAllowed());
    EXPECT_TRUE(c.NoDelayFor(ProxySide::User));
    EXPECT_TRUE(c.NoDelayFor(ProxySide::Computer));
    EXPECT_EQ(c.Accounts().size(), 1u);
    EXPECT_EQ(c.MaxRelays(), 40);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(Config, MaxRelaysIsBoundedAndReadBeforeTheStartWithoutABox) {
    GatewayConfig c(env);
    EXPECT_EQ(c.PeekMaxRelays(), 40) << "no OV_G.ini yet";
    EXPECT_TRUE(boxes.empty());
    Ini("[S_CFG]\nMaxRelays=1000\n");
    EXPECT_EQ(c.PeekMaxRelays(), 1000);
    ASSERT_TRUE(c.LoadConfiguration());
    EXPECT_EQ(c.MaxRelays(), 1000);
    const std::pair<const char*, int> values[] = {
        {"", 40},      {"many", 40},  {"1", 1},
        {"0", 1},      {"-7", 1},     {"1001", 1000},
        {"250x", 250}, {"0400", 400}, {"99999999999999999999999", 1000},
    };
    for (auto [text, relays] : values)
        EXPECT_EQ(GatewayConfig::ParseMaxRelays(text), relays) << text;
}

TEST_F(Config, KeysAreReadWithTheirTypesAndCutToTheirFields) {
    Ini("[CWebinfo]\nMasterURL=" + std::string(250, 'u') +
        "\nSlaveURL=http://b/\nszKey=k\nbinternet=1\n"
        "[S_CFG]\nPKey=" +
        std::string(60, 'p') +
        "\nflg_encrypt=1\nbGuest=2\nCmdPort=12abc\nProxyPort=0x10\n"
        "[Base]\nUpdateTime=5\nTcp_NoDelay=2\nAlias=" +
        std::string(60, 'a') + "\n");
    GatewayConfig c(env);
    ASSERT_TRUE(c.LoadConfiguration());
    WebAgentInfo m = c.MasterAgent(), b = c.BackupAgent();
    EXPECT_EQ(std::strlen(m.url), 199u);
    EXPECT_EQ(std::string(b.url), "http://b/");
    EXPECT_EQ(std::string(m.keyText), "k");
    EXPECT_EQ(std::string(b.keyText), "k");
    EXPECT_EQ(std::strlen(m.password), 49u);
    EXPECT_EQ(std::string(m.password), std::string(b.password));
    EXPECT_EQ(c.OwnRecord().direct, 1);
    EXPECT_TRUE(c.IdCheck());
    EXPECT_TRUE(c.GuestAllowed());
    EXPECT_EQ(c.GetCmdPort(), 12);
    EXPECT_EQ(c.GetProxyPort(), 821);  // "0x10" reads as 0
    EXPECT_EQ(c.GetUpdateTime(), 5);
    EXPECT_FALSE(c.NoDelayFor(ProxySide::User));
    EXPECT_TRUE(c.NoDelayFor(ProxySide::Computer));
    EXPECT_EQ(std::strlen(c.OwnRecord().computerName), 47u);
}

TEST_F(Config, NoDelayRuleForEveryValue) {
    for (int rule : {1, 3, -1}) {
        Ini("[Base]\nTcp_NoDelay=" + std::to_string(rule) + "\n");
        GatewayConfig c(env);
        ASSERT_TRUE(c.ReadIniSettings());
        EXPECT_EQ(c.NoDelayFor(ProxySide::User), rule == 1) << rule;
        EXPECT_FALSE(c.NoDelayFor(ProxySide::Computer)) << rule;
    }
}

TEST_F(Config, AMissingIniOrDamagedAccountsStopTheStart) {
    GatewayConfig c(env);
    EXPECT_FALSE(c.LoadConfiguration());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0],
              "ORVIK "
              "Gateway警告|OV_G."
              "ini不存在或损坏！\n请在ORVIK网关控制台下重新配置。\n\nORVIK网关不能启动。");

    Ini("[S_CFG]\n");
    Spit(Path("uinfo.dat"), {1, 2, 3});
    boxes.clear();
    EXPECT_FALSE(c.LoadConfiguration());
    EXPECT_EQ(boxes, (std::vector<std::string>{"ORVIK Gateway 警告|用户帐号文件uinfo.dat被损坏!"}));
    std::filesystem::remove(Path("uinfo.dat"));
    lines.clear();
    EXPECT_FALSE(c.ReloadAccounts());
    EXPECT_EQ(lines.back(), "读用户帐号文件uinfo.dat出错!");
}

TEST_F(Config, AMissingTrustedIdFileIsALogLineAndKeepsTheList) {
    Ini("[S_CFG]\n");
    IdValue id{1, 2, 3, 4, 0x55};
    ASSERT_TRUE(SaveTrustedIds({TrustedIdRecord::Make(id, "")}, Path("TrustID.dat")));
    GatewayConfig c(env);
    ASSERT_TRUE(c.LoadConfiguration());
    EXPECT_EQ(c.TrustedIds().size(), 1u);
    std::filesystem::remove(Path("TrustID.dat"));
    EXPECT_TRUE(c.ReloadTrustedIds());
    EXPECT_EQ(lines, (std::vector<std::string>{"读取OV_CID链表失败"}));
    EXPECT_EQ(c.TrustedIds().size(), 1u);
}

TEST_F(Config, RefreshUsesTheAliasOrTheHostNameAndKeepsDeletedKeys) {
    Ini("[Base]\nAlias=网关\n[S_CFG]\nCmdPort=900\n");
    GatewayConfig c(env);
    ASSERT_TRUE(c.LoadConfiguration());
    ASSERT_TRUE(c.RefreshOwnRecord());
    PeerInfo own = c.OwnRecord();
    EXPECT_EQ(own.kind, 1);
    EXPECT_EQ(own.reportTime, 1700000000);
    EXPECT_EQ(std::string(own.computerName), "网关");
    EXPECT_EQ(own.computerId[0], 0x12);
    EXPECT_EQ(own.computerId[1], 0x34);
    // Deleted from the file, the key is still known to the kept reader.
    Ini("[Base]\nAlias=\n");
    ASSERT_TRUE(c.RefreshOwnRecord());
    EXPECT_EQ(std::string(c.OwnRecord().computerName), "host-a");
    EXPECT_EQ(c.GetCmdPort(), 900);
    // Without the file the tick goes on with the host name.
    std::filesystem::remove(Path("OV_G.ini"));
    ASSERT_TRUE(c.RefreshOwnRecord());
    EXPECT_EQ(std::string(c.OwnRecord().computerName), "host-a");
    EXPECT_EQ(boxes.size(), 1u);
}

TEST_F(Config, AFailedIdentityIsLoggedAndReportsNothing) {
    Ini("[S_CFG]\n");
    GatewayConfig c(env);
    ASSERT_TRUE(c.LoadConfiguration());
    id_works = false;
    EXPECT_FALSE(c.RefreshOwnRecord());
    EXPECT_EQ(lines.back(), "获取计算机ID错误");
    EXPECT_EQ(c.OwnRecord().computerId[0], 0);
    // Once refreshed, a failed refresh keeps the last good record: a report
    // still running from an earlier tick copies it.
    id_works = true;
    ASSERT_TRUE(c.RefreshOwnRecord());
    id_works = false;
    EXPECT_FALSE(c.RefreshOwnRecord());
    EXPECT_EQ(c.OwnRecord().computerId[0], 0x12);
    EXPECT_EQ(std::string(c.OwnRecord().computerName), "host-a");
}

TEST_F(Config, AReportCopyingTheRecordDuringASlowRefreshSeesAWholeRecord) {
    std::mutex m;
    std::condition_variable cv;
    bool slow = false, asked = false, answer = false;
    env.computer_id = [&](uint8_t* id, int) {
        std::memcpy(id, "\x12\x34", 2);
        std::unique_lock<std::mutex> lock(m);
        if (slow) {
            asked = true;
            cv.notify_all();
            cv.wait(lock, [&] { return answer; });
        }
        return true;
    };
    Ini("[S_CFG]\n");
    GatewayConfig c(env);
    ASSERT_TRUE(c.LoadConfiguration());
    ASSERT_TRUE(c.RefreshOwnRecord());
    slow = true;
    std::thread tick([&] { EXPECT_TRUE(c.RefreshOwnRecord()); });
    {
        std::unique_lock<std::mutex> lock(m);
        cv.wait(lock, [&] { return asked; });
    }
    // What a report of the earlier tick copies while the identity is asked.
    PeerInfo copy = c.OwnRecord();
    {
        std::lock_guard<std::mutex> lock(m);
        answer = true;
    }
    cv.notify_all();
    tick.join();
    EXPECT_EQ(copy.kind, 1);
    EXPECT_EQ(copy.computerId[0], 0x12);
    EXPECT_EQ(std::string(copy.computerName), "host-a");
    EXPECT_EQ(c.OwnRecord().computerId[1], 0x34);
}

}  // namespace
}  // namespace ov::gateway
