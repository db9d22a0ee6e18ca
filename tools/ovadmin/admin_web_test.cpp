// ovadmin web and server: the dialogs' rules on OV_G.ini.
#include <gtest/gtest.h>

#include <asio.hpp>

#include "common/ini_file.h"
#include "common/test_dir.h"
#include "tools/ovadmin/admin.h"

namespace ov::admin {
namespace {

class OvAdminSettings : public ov::testing::TestDir {
  protected:
    int Admin(std::vector<std::string> args) {
        m_out = {};
        args.insert(args.begin(), {"--dir", m_dir.string()});
        return ov::admin::Run(args, "", &m_out, std::chrono::milliseconds(0));
    }
    std::string Ini(const char* section, const char* key) {
        IniFile ini(Path("OV_G.ini"));
        EXPECT_TRUE(ini.ReadFile());
        return ini.GetValue(section, key);
    }
    Output m_out;
};

TEST_F(OvAdminSettings, WebAddressesFollowTheDialogsRule) {
    // No file: the defaults, both addresses empty, so the flag alone is
    // refused as the dialog's OK would be.
    EXPECT_EQ(Admin({"web", "set", "--direct", "0"}), 1);
    EXPECT_NE(m_out.err.find("主WebAgent同备份WebAgent不能配置成同样"), std::string::npos);
    EXPECT_EQ(Admin({"web", "set", "--master", " http://a/x.php ", "--backup", "http://a/x.php"}),
              1);
    EXPECT_EQ(Admin({"web", "test"}), 1);
    EXPECT_NE(m_out.err.find("请输入WebAgent地址"), std::string::npos);

    ASSERT_EQ(Admin({"web", "set", "--backup", " http://b/x.php\t", "--direct", "0"}), 0)
        << m_out.err;
    EXPECT_EQ(Ini("CWebinfo", "MasterURL"), "");
    EXPECT_EQ(Ini("CWebinfo", "SlaveURL"), "http://b/x.php");
    EXPECT_EQ(Ini("CWebinfo", "binternet"), "0");
    EXPECT_EQ(Ini("S_CFG", "CmdPort"), "6111") << "the rest of the defaults is written too";

    // A key on its own needs no address rule.
    ASSERT_EQ(Admin({"web", "set", "--key", "secret"}), 0) << m_out.err;
    EXPECT_EQ(Ini("CWebinfo", "szKey"), "secret");
    EXPECT_EQ(Admin({"web", "set", "--key", std::string(20, 'k')}), 1);
    EXPECT_EQ(Admin({"web", "set", "--master", "http://m\nx"}), 1);
    EXPECT_EQ(Admin({"web", "set", "--direct", "2"}), 2);

    ASSERT_EQ(Admin({"web", "show"}), 0);
    EXPECT_EQ(m_out.out, "master\t\nbackup\thttp://b/x.php\nkey\tset\ndirect\t0\n");
}

TEST_F(OvAdminSettings, ServerSwitchesAndPorts) {
    ASSERT_EQ(Admin({"server", "set", "--id-check", "0", "--guest", "0", "--cmd-port", "7000"}), 0)
        << m_out.err;
    ASSERT_EQ(Admin({"server", "show"}), 0);
    EXPECT_EQ(m_out.out,
              "id-check\t0\nguest\t0\ncmd-port\t7000\nproxy-port\t6121\n"
              "proxy-needs-login\t0\nmax-slots-per-address\t20\nmax-relays\t40\n")
        << "without their keys, the gateway's defaults";
    EXPECT_EQ(Ini("S_CFG", "ProxyNeedsLogin"), "") << "a key never set is not written";

    EXPECT_EQ(Admin({"server", "set", "--proxy-port", "65001"}), 1);
    EXPECT_NE(m_out.err.find("65000"), std::string::npos);
    EXPECT_EQ(Admin({"server", "set", "--proxy-port", "x"}), 1);

    asio::io_context io;
    asio::ip::tcp::acceptor held(io, {asio::ip::tcp::v4(), 0});
    const uint16_t port = held.local_endpoint().port();
    if (port <= 65000) {
        EXPECT_EQ(Admin({"server", "set", "--proxy-port", std::to_string(port)}), 1);
        EXPECT_NE(m_out.err.find("该端口已被占用，请选择其它端口"), std::string::npos);
    }
    EXPECT_EQ(Ini("S_CFG", "ProxyPort"), "6121") << "a refused change writes nothing";
    // The gateway's own port is in use by the gateway: setting it again is
    // no change and needs no test.
    EXPECT_EQ(Admin({"server", "set", "--cmd-port", "7000", "--guest", "1"}), 0) << m_out.err;
    EXPECT_EQ(Ini("S_CFG", "bGuest"), "1");

    for (const char* bad : {"81", "-1", "x", "", "100", "1.5"}) {
        EXPECT_EQ(Admin({"server", "set", "--max-slots-per-address", bad}), 2) << bad;
        EXPECT_NE(m_out.err.find("0 (no cap) to 80"), std::string::npos) << m_out.err;
    }
    EXPECT_EQ(Admin({"server", "set", "--proxy-needs-login", "2"}), 2);
    EXPECT_EQ(Admin({"server", "set", "--proxy-needs-login", "1", "--max-slots-per-address", "0",
                     "--proxy-port", "x"}),
              1)
        << "nothing is written when one option is refused";
    EXPECT_EQ(Ini("S_CFG", "MaxSlotsPerAddress"), "");
    ASSERT_EQ(Admin({"server", "set", "--proxy-needs-login", "1", "--max-slots-per-address", "07"}),
              0)
        << m_out.err;
    EXPECT_EQ(Ini("S_CFG", "ProxyNeedsLogin"), "1");
    EXPECT_EQ(Ini("S_CFG", "MaxSlotsPerAddress"), "7");
    // The console's own settings written again keep them.
    ASSERT_EQ(Admin({"server", "set", "--guest", "0"}), 0) << m_out.err;
    ASSERT_EQ(Admin({"server", "show"}), 0);
    EXPECT_NE(m_out.out.find("proxy-needs-login\t1\nmax-slots-per-address\t7\n"), std::string::npos)
        << m_out.out;
    ASSERT_EQ(Admin({"server", "set", "--max-slots-per-address", "0"}), 0) << m_out.err;
    EXPECT_EQ(Ini("S_CFG", "MaxSlotsPerAddress"), "0") << "0 lifts the cap";

    for (const char* bad : {"0", "1001", "-5", "x", "", "10000", "2.5"}) {
        EXPECT_EQ(Admin({"server", "set", "--max-relays", bad}), 2) << bad;
        EXPECT_NE(m_out.err.find("--max-relays takes a number from 1 to 1000"), std::string::npos)
            << m_out.err;
    }
    EXPECT_EQ(Ini("S_CFG", "MaxRelays"), "");
    ASSERT_EQ(Admin({"server", "set", "--max-relays", "0250"}), 0) << m_out.err;
    EXPECT_EQ(Ini("S_CFG", "MaxRelays"), "250");
    ASSERT_EQ(Admin({"server", "set", "--guest", "1"}), 0) << m_out.err;
    ASSERT_EQ(Admin({"server", "show"}), 0);
    EXPECT_NE(m_out.out.find("\nmax-relays\t250\n"), std::string::npos) << m_out.out;
    // What the gateway would make of a value written by hand.
    ASSERT_EQ(Admin({"ini", "set", "S_CFG", "MaxRelays", "5000"}), 0) << m_out.err;
    ASSERT_EQ(Admin({"server", "show"}), 0);
    EXPECT_NE(m_out.out.find("\nmax-relays\t1000\n"), std::string::npos) << m_out.out;
}

}  // namespace
}  // namespace ov::admin
