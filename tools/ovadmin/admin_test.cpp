#include "tools/ovadmin/admin.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <thread>

#include "common/access_record.h"
#include "common/account_file.h"
#include "common/ini_file.h"
#include "common/tea.h"
#include "common/test_dir.h"
#include "common/trusted_id_file.h"
#include "platform/files.h"

namespace ov::admin {
namespace {

class OvAdmin : public ov::testing::TestDir {
  protected:
    int Admin(std::vector<std::string> args) {
        m_out = {};
        args.insert(args.begin(), {"--dir", m_dir.string()});
        return ov::admin::Run(args, "", &m_out, m_wait);
    }
    std::vector<std::string> Lines() {
        std::vector<std::string> lines;
        size_t start = 0;
        for (size_t nl; (nl = m_out.out.find('\n', start)) != std::string::npos; start = nl + 1)
            lines.push_back(m_out.out.substr(start, nl - start));
        return lines;
    }
    void Init() { ASSERT_EQ(Admin({"init", "--admin-password", "pw"}), 0) << m_out.err; }
    Output m_out;
    std::chrono::milliseconds m_wait = kDefaultWait;
};

TEST_F(OvAdmin, InitMakesTheAdministratorAndTheConsoleDefaultsOnce) {
    Init();
    AccountList list;
    ASSERT_EQ(LoadAccounts(&list, Path("uinfo.dat")), AccountLoadResult::Ok);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].Name(), "Administrator");
    EXPECT_EQ(list[0].Password(), "pw");
    EXPECT_TRUE(list[0].Enabled());
    std::vector<uint8_t> ini = Slurp(Path("OV_G.ini"));
    EXPECT_EQ(std::string(ini.begin(), ini.end()),
              "[CWebinfo]\r\nszKey=\r\nMasterURL=\r\nSlaveURL=\r\nbinternet=1\r\n\r\n"
              "[S_CFG]\r\nflg_encrypt=1\r\nbGuest=1\r\nPKey=\r\nCmdPort=6111\r\nProxyPort=6121\r\n"
              "ProxyNeedsLogin=1\r\n\r\n"
              "[Base]\r\nAlias=\r\n\r\n")
        << "a new installation relays only for those who logged in";
    std::vector<uint8_t> before = Slurp(Path("uinfo.dat"));
    EXPECT_EQ(Admin({"init", "--admin-password", "other"}), 1);
    EXPECT_NE(m_out.err.find("not overwritten"), std::string::npos);
    EXPECT_EQ(Slurp(Path("uinfo.dat")), before);
    EXPECT_EQ(Admin({"init", "--admin-password", std::string(17, 'x')}), 1);
}

TEST_F(OvAdmin, AccountRulesOfTheAccountsPage) {
    Init();
    EXPECT_EQ(Admin({"accounts", "add", "bob", "pw", "--description", "前台电脑"}), 0) << m_out.err;
    EXPECT_EQ(Admin({"accounts", "add", "Bob", "pw", "--disabled"}), 0);  // case-sensitive names
    EXPECT_EQ(Admin({"accounts", "add", "bob", "x"}), 1);
    EXPECT_NE(m_out.err.find("该用户名已经存在！"), std::string::npos);
    EXPECT_EQ(Admin({"accounts", "add", "", "x"}), 1);
    EXPECT_NE(m_out.err.find("请输入用户名！"), std::string::npos);
    EXPECT_EQ(Admin({"accounts", "add", std::string(17, 'n'), "x"}), 1);
    EXPECT_EQ(Admin({"accounts", "add", "n", std::string(17, 'p')}), 1);
    EXPECT_EQ(Admin({"accounts", "add", "n", "p", "--description", std::string(61, 'd')}), 1);
    EXPECT_EQ(Admin({"accounts", "add", "n", "p", "--bogus"}), 2);
    EXPECT_EQ(Admin({"accounts", "del", "Administrator"}), 1);
    EXPECT_NE(m_out.err.find("管理员帐号不能被删除！"), std::string::npos);
    EXPECT_EQ(Admin({"accounts", "disable", "Administrator"}), 1);
    EXPECT_EQ(Admin({"accounts", "passwd", "Administrator", "new"}), 0);
    EXPECT_EQ(Admin({"accounts", "disable", "bob"}), 0);
    EXPECT_EQ(Admin({"accounts", "enable", "Bob"}), 0);
    EXPECT_EQ(Admin({"accounts", "del", "nobody"}), 1);
    ASSERT_EQ(Admin({"accounts", "list"}), 0);
    EXPECT_EQ(Lines(), (std::vector<std::string>{"Administrator\tenabled\t",
                                                 "bob\tdisabled\t前台电脑", "Bob\tenabled\t"}));
    EXPECT_EQ(Admin({"accounts", "del", "bob"}), 0);
    AccountList list;
    ASSERT_EQ(LoadAccounts(&list, Path("uinfo.dat")), AccountLoadResult::Ok);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].Password(), "new");
    EXPECT_EQ(list[1].Name(), "Bob");
}

TEST_F(OvAdmin, CheckReportsTheLoadResultAndBrokenFilesAreNeverRewritten) {
    EXPECT_EQ(Admin({"accounts", "check"}), 10);
    Init();
    EXPECT_EQ(Admin({"accounts", "check"}), 0);
    std::vector<uint8_t> bytes = Slurp(Path("uinfo.dat"));
    bytes[0] ^= 1;
    Spit(Path("uinfo.dat"), bytes);
    EXPECT_EQ(Admin({"accounts", "check"}), 5);
    EXPECT_EQ(Admin({"accounts", "add", "x", "y"}), 1);
    EXPECT_EQ(Slurp(Path("uinfo.dat")), bytes);
}

TEST_F(OvAdmin, AccountBackupAndRestore) {
    Init();
    ASSERT_EQ(Admin({"accounts", "backup", Path("save")}), 0) << m_out.err;
    EXPECT_TRUE(platform::PathExists(Path("save.dat")));
    ASSERT_EQ(Admin({"accounts", "add", "later", "x"}), 0);
    ASSERT_EQ(Admin({"accounts", "restore", Path("save.dat")}), 0) << m_out.err;
    ASSERT_EQ(Admin({"accounts", "list"}), 0);
    EXPECT_EQ(Lines().size(), 1u);
    EXPECT_EQ(Admin({"accounts", "restore", Path("nothing.dat")}), 1);
    EXPECT_NE(m_out.err.find("读备份的帐号文件错误!"), std::string::npos);
}

std::string WriteIdFile(const std::string& path, uint8_t first) {
    std::vector<uint8_t> f(1024, 0);
    const uint8_t id[11] = {first, 1, 2, 3, 0x55, 5, 6, 7, 8, 9, 10};
    std::memcpy(&f[1010], id, 11);
    EncipherBlocks(f.data(), f.size());
    ov::testing::TestDir::Spit(path, f);
    return path;
}

TEST_F(OvAdmin, MintedIdFilesAreReadableValidAndNeverOverwritten) {
    ASSERT_EQ(Admin({"ids", "mint", Path("a.id")}), 0) << m_out.err;
    std::vector<uint8_t> f = Slurp(Path("a.id"));
    ASSERT_EQ(f.size(), 1024u);
    IdFileResult id = ReadIdFile(Path("a.id"));
    ASSERT_TRUE(id.ok) << id.message;
    EXPECT_TRUE(id.value[4] == 0x55 || id.value[4] == 0xAA) << "the marker";
    DecipherBlocks(f.data(), f.size());
    uint16_t sum = 0;
    for (size_t i = 0; i < 1022; ++i) sum = uint16_t(sum + f[i]);
    EXPECT_EQ(uint16_t(f[1022] | f[1023] << 8), uint16_t(~sum)) << "the check word";
    EXPECT_EQ(Admin({"ids", "list"}), 0);
    EXPECT_TRUE(Lines().empty()) << "minting alone trusts nothing";

    const std::vector<uint8_t> before = Slurp(Path("a.id"));
    EXPECT_EQ(Admin({"ids", "mint", Path("a.id"), "--import"}), 1);
    EXPECT_EQ(Slurp(Path("a.id")), before) << "an existing ID file is kept";

    ASSERT_EQ(Admin({"ids", "mint", Path("b.id"), "--import", "--description", "乙"}), 0)
        << m_out.err;
    IdFileResult b = ReadIdFile(Path("b.id"));
    EXPECT_NE(std::memcmp(b.value.data(), id.value.data(), 5), 0) << "two mints, two IDs";
    ASSERT_EQ(Admin({"ids", "list"}), 0);
    ASSERT_EQ(Lines().size(), 1u);
    EXPECT_EQ(Lines()[0].substr(0, 2), "1\t");
    EXPECT_NE(Lines()[0].find("\t乙"), std::string::npos);
    EXPECT_EQ(Admin({"ids", "mint", Path("c.id"), "--description", "x"}), 2);
    // As private as the system makes a file for its owner alone (0600 on Linux).
    ASSERT_TRUE(
        platform::WriteFileAtomically(Path("private"), "x", 1, platform::NewFile::OwnerOnly));
    EXPECT_EQ(std::filesystem::status(Path("a.id")).permissions(),
              std::filesystem::status(Path("private")).permissions());
}

TEST_F(OvAdmin, AccessPrintsTheBackupFirstAndFiltersByTimeAndUser) {
    EXPECT_EQ(Admin({"access"}), 0);
    EXPECT_TRUE(m_out.out.empty());
    EXPECT_NE(m_out.err.find("no access record"), std::string::npos);

    const std::time_t t = 1038000000;
    auto login = [&](std::time_t when, const std::string& user) {
        LoginAccess r;
        r.when = when;
        r.user = user;
        r.code = 1;
        return AccessLine(r);
    };
    RelayAccess relay;
    relay.started = t + 50;
    relay.ended = t + 3600;
    relay.computer = "pc\x01";
    const std::string old = login(t, "bob");
    const std::string now = login(t + 100, "bob") + login(t + 200, "eve\\x") + AccessLine(relay);
    Spit(Path("OV_G.access.log.bak"), std::vector<uint8_t>(old.begin(), old.end()));
    Spit(Path("OV_G.access.log"), std::vector<uint8_t>(now.begin(), now.end()));
    const auto time = [](std::time_t when) { return AccessTimeText(when); };

    ASSERT_EQ(Admin({"access"}), 0) << m_out.err;
    ASSERT_EQ(Lines().size(), 4u);
    EXPECT_EQ(Lines()[0], "login\t" + time(t) + "\t0.0.0.0\t0\tbob\t1");
    EXPECT_EQ(Lines()[2], "login\t" + time(t + 200) + "\t0.0.0.0\t0\teve\\\\x\t1");
    EXPECT_NE(Lines()[3].find("\tpc\\x01\t"), std::string::npos) << "shown escaped";
    ASSERT_EQ(Admin({"access", "--since", time(t + 100)}), 0);
    EXPECT_EQ(Lines().size(), 3u);
    ASSERT_EQ(Admin({"access", "--since", time(t + 101), "--user", "bob"}), 0);
    EXPECT_TRUE(Lines().empty());
    ASSERT_EQ(Admin({"access", "--user", "bob"}), 0);
    EXPECT_EQ(Lines().size(), 2u);
    // A relay is shown by its end: it was under way after its start.
    ASSERT_EQ(Admin({"access", "--since", time(t + 3599).substr(0, 16), "--json"}), 0);
    ASSERT_EQ(Lines().size(), 1u);
    EXPECT_EQ(Lines()[0], "{\"kind\":\"relay\",\"started\":\"" + time(t + 50) + "\",\"ended\":\"" +
                              time(t + 3600) +
                              "\",\"user_address\":\"0.0.0.0\",\"user_port\":0,"
                              "\"computer\":\"pc\\u0001\",\"computer_address\":\"0.0.0.0\","
                              "\"computer_port\":0,\"bytes_to_computer\":0,\"bytes_to_user\":0,"
                              "\"how\":\"closed\"}");
    EXPECT_EQ(Admin({"access", "--since", "yesterday"}), 2);
    EXPECT_EQ(Admin({"access", "--since"}), 2);
}

TEST_F(OvAdmin, TrustedIdsImportListDelete) {
    ASSERT_EQ(Admin({"ids", "import", WriteIdFile(Path("a.id"), 0xa0), "--description", "甲"}), 0)
        << m_out.err;
    ASSERT_EQ(Admin({"ids", "import", WriteIdFile(Path("b.id"), 0xb0)}), 0);
    EXPECT_EQ(Admin({"ids", "import", Path("a.id")}), 1);  // a duplicate adds nothing
    EXPECT_NE(m_out.err.find("position 1"), std::string::npos);
    Spit(Path("short.id"), std::vector<uint8_t>(100, 0));
    EXPECT_EQ(Admin({"ids", "import", Path("short.id")}), 1);
    EXPECT_NE(m_out.err.find("the ID file is  corrupted"), std::string::npos);
    EXPECT_EQ(Admin({"ids", "import", Path("missing.id")}), 1);
    ASSERT_EQ(Admin({"ids", "list"}), 0);
    EXPECT_EQ(Lines(), (std::vector<std::string>{"1\ta00102035505060708090a\t甲",
                                                 "2\tb00102035505060708090a\t"}));
    EXPECT_EQ(Admin({"ids", "del", "3"}), 1);
    EXPECT_EQ(Admin({"ids", "del", "0"}), 1);
    EXPECT_EQ(Admin({"ids", "del", "x"}), 1);
    EXPECT_EQ(Slurp(Path("TrustID.dat")).size(), 500u);  // refused deletes wrote nothing
    ASSERT_EQ(Admin({"ids", "del", "2", "1", "2"}), 0);
    EXPECT_TRUE(Slurp(Path("TrustID.dat")).empty());
}

TEST_F(OvAdmin, AFileHeldByTheGatewayIsWaitedForAndNeverReplacedByAnEmptyList) {
    Init();
    ASSERT_EQ(Admin({"ids", "import", WriteIdFile(Path("a.id"), 0xa0)}), 0) << m_out.err;
    ASSERT_EQ(Admin({"ids", "import", WriteIdFile(Path("b.id"), 0xb0)}), 0) << m_out.err;
    WriteIdFile(Path("c.id"), 0xc0);
    const std::vector<uint8_t> ids = Slurp(Path("TrustID.dat"));
    {
        // Held throughout: listings and changes fail and say why.
        m_wait = std::chrono::milliseconds(200);
        platform::ExclusiveFile held_ids, held_accounts;
        ASSERT_TRUE(
            held_ids.Open(Path("TrustID.dat"), platform::ExclusiveFile::Mode::ReadExisting));
        ASSERT_TRUE(
            held_accounts.Open(Path("uinfo.dat"), platform::ExclusiveFile::Mode::ReadExisting));
        EXPECT_EQ(Admin({"ids", "list"}), 1);
        EXPECT_NE(m_out.err.find("in use"), std::string::npos) << m_out.err;
        EXPECT_EQ(Admin({"ids", "import", Path("c.id")}), 1);
        EXPECT_NE(m_out.err.find("in use"), std::string::npos) << m_out.err;
        EXPECT_EQ(Admin({"accounts", "list"}), 1);
        EXPECT_NE(m_out.err.find("in use"), std::string::npos) << m_out.err;
    }
    EXPECT_EQ(Slurp(Path("TrustID.dat")), ids);
    m_wait = kDefaultWait;
    // Held for a moment, as at a login: the command waits and keeps the list.
    auto held = std::make_unique<platform::ExclusiveFile>();
    ASSERT_TRUE(held->Open(Path("TrustID.dat"), platform::ExclusiveFile::Mode::ReadExisting));
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        held.reset();
    });
    EXPECT_EQ(Admin({"ids", "import", Path("c.id")}), 0) << m_out.err;
    release.join();
    EXPECT_EQ(Slurp(Path("TrustID.dat")).size(), 750u);
}

TEST_F(OvAdmin, TwoAdministratorsAtOnceLoseNoAccount) {
    Init();
    constexpr int kEach = 12;
    std::vector<int> failures(2);
    auto adder = [&](int who) {
        for (int i = 0; i < kEach; ++i) {
            Output out;
            std::vector<std::string> args{"--dir",
                                          m_dir.string(),
                                          "accounts",
                                          "add",
                                          "u" + std::to_string(who) + "_" + std::to_string(i),
                                          "pw"};
            if (ov::admin::Run(args, "", &out) != 0)
                ++failures[size_t(who)];
        }
    };
    std::thread a(adder, 0), b(adder, 1);
    a.join();
    b.join();
    EXPECT_EQ(failures, (std::vector<int>{0, 0}));
    AccountList list;
    ASSERT_EQ(LoadAccounts(&list, Path("uinfo.dat")), AccountLoadResult::Ok);
    EXPECT_EQ(list.size(), 1u + 2 * kEach);
}

TEST_F(OvAdmin, TheFirstRecordIsTheAdministratorWhateverItsName) {
    ASSERT_TRUE(SaveAccounts({AccountRecord::Make("Boss", "pw", true, ""),
                              AccountRecord::Make("Administrator", "pw", true, ""),
                              AccountRecord::Make("other", "pw", true, "")},
                             Path("uinfo.dat")));
    EXPECT_EQ(Admin({"accounts", "del", "Boss"}), 1);
    EXPECT_EQ(Admin({"accounts", "disable", "Boss"}), 1);
    EXPECT_EQ(Admin({"accounts", "passwd", "Boss", "new"}), 0) << m_out.err;
    // The account named so stays too, as on the accounts page.
    EXPECT_EQ(Admin({"accounts", "disable", "Administrator"}), 1);
    EXPECT_EQ(Admin({"accounts", "del", "Administrator"}), 1);
    EXPECT_EQ(Admin({"accounts", "del", "other"}), 0) << m_out.err;
    AccountList list;
    ASSERT_EQ(LoadAccounts(&list, Path("uinfo.dat")), AccountLoadResult::Ok);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_TRUE(list[0].Enabled());
    EXPECT_TRUE(list[1].Enabled());
    // A file without records has no administrator: the first account comes from init.
    std::vector<uint8_t> empty(8, 0);
    EncipherBlocks(empty.data(), empty.size());
    Spit(Path("uinfo.dat"), empty);
    ASSERT_EQ(LoadAccounts(&list, Path("uinfo.dat")), AccountLoadResult::Ok);
    EXPECT_EQ(Admin({"accounts", "add", "first", "pw"}), 1);
    EXPECT_NE(m_out.err.find("init"), std::string::npos) << m_out.err;
    EXPECT_EQ(Slurp(Path("uinfo.dat")), empty);
}

TEST_F(OvAdmin, RefusalsSayWhatIsCountedAndWhy) {
    Init();
    // Nine Chinese characters are 18 bytes of GBK.
    EXPECT_EQ(Admin({"accounts", "add", "一二三四五六七八九", "pw"}), 1);
    EXPECT_NE(m_out.err.find("16 bytes"), std::string::npos) << m_out.err;
    EXPECT_EQ(Admin({"accounts", "add", "n", "pw", "--description"}), 2);
    EXPECT_NE(m_out.err.find("--description needs"), std::string::npos) << m_out.err;
    EXPECT_EQ(Admin({"ids", "import", WriteIdFile(Path("a.id"), 0xa0), "--description"}), 2);
    EXPECT_NE(m_out.err.find("--description needs"), std::string::npos) << m_out.err;
    // The listings are tab-separated, one line per entry.
    EXPECT_EQ(Admin({"accounts", "add", "a\tb", "pw"}), 1);
    EXPECT_EQ(Admin({"accounts", "add", "a\nb", "pw"}), 1);
    EXPECT_EQ(Admin({"accounts", "add", "ab", "pw", "--description", "x\ry"}), 1);
    EXPECT_EQ(Admin({"ids", "import", Path("a.id"), "--description", "x\ty"}), 1);
    ASSERT_EQ(Admin({"accounts", "list"}), 0);
    EXPECT_EQ(Lines().size(), 1u);
    // A failed copy names the system's reason.
    EXPECT_EQ(Admin({"accounts", "backup", Path("no/such/dir/save")}), 1);
    EXPECT_NE(m_out.err.find("备份帐号文件失败!"), std::string::npos) << m_out.err;
    EXPECT_NE(m_out.err.find("err "), std::string::npos) << m_out.err;
    EXPECT_EQ(Admin({"ids", "restore", Path("no/such.dat")}), 1);
    EXPECT_NE(m_out.err.find("err "), std::string::npos) << m_out.err;
}

TEST_F(OvAdmin, IniGetSetKeepsWhatItDoesNotKnow) {
    Init();
    Spit(Path("OV_G.ini"), {});
    std::string text = "[S_CFG]\r\nCmdPort=6111\r\nMine=1\r\n\r\n[Other]\r\nx=y\r\n";
    Spit(Path("OV_G.ini"), std::vector<uint8_t>(text.begin(), text.end()));
    ASSERT_EQ(Admin({"ini", "get", "S_CFG", "CmdPort"}), 0);
    EXPECT_EQ(m_out.out, "6111\n");
    EXPECT_EQ(Admin({"ini", "get", "S_CFG", "Nope"}), 1);
    EXPECT_NE(m_out.err.find("Unable to locate specified value."), std::string::npos);
    ASSERT_EQ(Admin({"ini", "set", "S_CFG", "CmdPort", "7000"}), 0) << m_out.err;
    ASSERT_EQ(Admin({"ini", "set", "Base", "Alias", "网关"}), 0);
    std::vector<uint8_t> after = Slurp(Path("OV_G.ini"));
    EXPECT_EQ(std::string(after.begin(), after.end()),
              "[S_CFG]\r\nCmdPort=7000\r\nMine=1\r\n\r\n[Other]\r\nx=y\r\n\r\n[Base]\r\nAlias="
              "网关\r\n\r\n");
    // What would not read back as written is refused, and nothing changes.
    EXPECT_EQ(Admin({"ini", "set", "S_CFG", "a=b", "1"}), 1);
    EXPECT_EQ(Admin({"ini", "set", "S_CFG", "k", "two\nlines"}), 1);
    EXPECT_EQ(Admin({"ini", "set", "[S", "k", "v"}), 1);
    EXPECT_EQ(Admin({"ini", "set", "S_CFG", "k", "v "}), 1);
    EXPECT_EQ(Slurp(Path("OV_G.ini")), after);
}

TEST_F(OvAdmin, BadCommandLinesExplainThemselves) {
    EXPECT_EQ(Admin({}), 2);
    EXPECT_EQ(Admin({"frobnicate"}), 2);
    EXPECT_NE(m_out.err.find("unknown command"), std::string::npos);
    EXPECT_EQ(Admin({"accounts"}), 2);
    EXPECT_EQ(Admin({"ids", "import"}), 2);
    Output out;
    EXPECT_EQ(ov::admin::Run({"--dir"}, "", &out), 2);
}

}  // namespace
}  // namespace ov::admin
