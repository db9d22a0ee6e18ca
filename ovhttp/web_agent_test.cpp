// The exports as their callers see them: the library loaded by name, talking
// to the test web agent (tests/webagent/webagent.py) or to a canned reply.
#include <gtest/gtest.h>

#include <asio.hpp>
#include <chrono>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>

#include "common/bytes.h"
#include "common/content_codec.h"
#include "http_client.h"
#include "ovhttp/ovhttp.h"
#include "platform/clock.h"
#include "platform/dynamic_library.h"
#include "platform/test_child.h"
#include "test_raw_server.h"
#include "web_agent.h"

namespace ov::http {
namespace {

using ov::testing::RawServer;

using ConnectTestFn = int8_t(OVHTTP_CALL*)(const char*, char*);
using ChangePasswordFn = int8_t(OVHTTP_CALL*)(const WebAgentInfo*, const char*, char*);
using UpdateFn = int8_t(OVHTTP_CALL*)(const WebAgentInfo*, PeerInfo*, PeerList*, char*);
using FlagFn = int8_t(OVHTTP_CALL*)(const WebAgentInfo*, const PeerInfo*, const PeerInfo*, char*);
using FreeFn = void(OVHTTP_CALL*)(PeerList*);

const std::string kUntouched = "(untouched)";
const std::string kKey = "k3y text of the agent";
const std::string kPassword = "pw";
constexpr int32_t kReportTime = 1700000000;  // November 2023, no clock change near it

// The exports, looked up by name once per test program.
struct Exports {
    std::unique_ptr<platform::DynamicLibrary> library;
    ConnectTestFn connect_test = nullptr;
    ChangePasswordFn change_password = nullptr;
    UpdateFn ovc_update = nullptr;
    UpdateFn ovg_update = nullptr;
    FlagFn connect_ovg = nullptr;
    FlagFn clear_flag = nullptr;
    FreeFn free_list = nullptr;

    static Exports& Get() {
        static Exports e = [] {
            Exports x;
            x.library = std::make_unique<platform::DynamicLibrary>();
            x.library->LoadPath(platform::testing::HostPath(
                OV_BIN_DIR "/" + platform::DynamicLibrary::FileName("ovhttp")));
            x.connect_test = x.library->Function<ConnectTestFn>("ConnectTest");
            x.change_password = x.library->Function<ChangePasswordFn>("ChangePassword");
            x.ovc_update = x.library->Function<UpdateFn>("OVCUpdateInfo");
            x.ovg_update = x.library->Function<UpdateFn>("OVGUpdateInfo");
            x.connect_ovg = x.library->Function<FlagFn>("ConnectOVG");
            x.clear_flag = x.library->Function<FlagFn>("OVGClearFlag");
            x.free_list = x.library->Function<FreeFn>("PeerListFree");
            return x;
        }();
        return e;
    }
    bool Complete() const {
        return connect_test && change_password && ovc_update && ovg_update && connect_ovg &&
               clear_flag && free_list;
    }
};

struct Message {
    char text[1024];
    Message() { SetFieldText(text, sizeof text, kUntouched); }
    std::string str() const { return FieldText(text, sizeof text); }
};

struct Peers {
    PeerList list{};
    ~Peers() { Exports::Get().free_list(&list); }
};

WebAgentInfo AgentAt(const std::string& url, const std::string& key = kKey,
                     const std::string& password = kPassword) {
    WebAgentInfo a{};
    SetFieldText(a.url, sizeof a.url, url);
    SetFieldText(a.password, sizeof a.password, password);
    SetFieldText(a.keyText, sizeof a.keyText, key);
    return a;
}

PeerInfo Peer(bool gateway, uint8_t id, const std::string& name, bool direct) {
    PeerInfo p{};
    p.kind = gateway ? 1 : 0;
    p.reportTime = kReportTime;
    p.direct = direct ? 1 : 0;
    SetFieldText(p.computerName, sizeof p.computerName, name);
    p.wanAddress = 0x0a000000u + id;
    p.cmdPort = 5500u + id;
    for (size_t i = 0; i < sizeof p.computerId; ++i) p.computerId[i] = uint8_t(id + i);
    return p;
}

// The test web agent in a child process; it ends when its report
// connection closes, also when this program dies.
class WebAgentProcess {
  public:
    bool Start(const std::string& key, std::string* why) {
        if (std::string(OV_WEBAGENT_PYTHON).empty())
            return *why = "python3 was not found", false;
        asio::ip::tcp::acceptor control(m_io, {asio::ip::make_address_v4("127.0.0.1"), 0});
        std::string report = "127.0.0.1:" + std::to_string(control.local_endpoint().port());
        if (!m_child.StartProgram({OV_WEBAGENT_PYTHON, OV_WEBAGENT_SCRIPT, "--key", key,
                                   "--password", kPassword, "--report", report}))
            return *why = "cannot start " OV_WEBAGENT_PYTHON, false;
        asio::streambuf line;
        bool got = false;
        control.async_accept(m_control, [&](const asio::error_code& ec) {
            if (ec)
                return;
            asio::async_read_until(m_control, line, "\n",
                                   [&](const asio::error_code& ec2, size_t) { got = !ec2; });
        });
        m_io.run_for(std::chrono::seconds(30));
        if (!got)
            return *why = "the web agent did not report its port", false;
        std::string text(asio::buffers_begin(line.data()), asio::buffers_end(line.data()));
        m_port = std::stoi(text);
        return true;
    }
    ~WebAgentProcess() {
        // The web agent ends by itself when its report connection closes
        // (under Wine it cannot be killed from here); m_child's destructor
        // then ends it if need be and waits for it.
        asio::error_code ignored;
        m_control.close(ignored);
    }
    std::string Url(const std::string& mode = "") const {
        return "http://127.0.0.1:" + std::to_string(m_port) + (mode.empty() ? "" : "/" + mode) +
               "/ovagent.php";
    }

  private:
    asio::io_context m_io;
    asio::ip::tcp::socket m_control{m_io};
    platform::testing::ChildProcess m_child;
    int m_port = 0;
};

class WebAgentTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(Exports::Get().Complete()) << Exports::Get().library->Error();
        std::string why;
        if (!m_agent.Start(AgentKey(), &why))
            GTEST_SKIP() << why;
    }
    virtual std::string AgentKey() const { return kKey; }

    WebAgentInfo Agent(const std::string& mode = "") const { return AgentAt(m_agent.Url(mode)); }
    static WebAgentInfo Unreachable() {
        return AgentAt("http://127.0.0.1:" + std::to_string(RawServer::ClosedPort()) + "/a.php");
    }

    const Exports& x = Exports::Get();
    WebAgentProcess m_agent;
};

bool StartsWith(const std::string& s, const std::string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}
bool EndsWith(const std::string& s, const std::string& suffix) {
    return s.size() >= suffix.size() &&
           s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

TEST_F(WebAgentTest, OnlyTheOperationsAreExported) {
    // Internal names stay inside the library.
    EXPECT_EQ(x.library->Symbol("_ZN2ov4http10HttpClient3GetEPKc"), nullptr);
    EXPECT_EQ(x.library->Symbol("ReadPeerRecords"), nullptr);
}

TEST_F(WebAgentTest, ConnectTestTellsAWebAgentFromOtherServers) {
    Message m;
    EXPECT_EQ(x.connect_test(m_agent.Url().c_str(), m.text), 1);
    EXPECT_EQ(m.str(), kUntouched);

    // The message quotes the start of what the server said.
    EXPECT_EQ(x.connect_test(m_agent.Url("nomarker").c_str(), m.text), 2);
    EXPECT_EQ(m.str(), "Web服务器不支持 HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n");

    Message junk;
    EXPECT_EQ(x.connect_test(m_agent.Url("garbage").c_str(), junk.text), 2);
    EXPECT_TRUE(StartsWith(junk.str(), "Web服务器不支持 ")) << junk.str();
    EXPECT_LE(junk.str().size(), std::strlen("Web服务器不支持 ") + 200);
}

TEST_F(WebAgentTest, ConnectTestSaysWhyNoAnswerCame) {
    // A reset connection is checked by the native system test: Wine at
    // times reports a reset as an orderly close.
    Message refused, huge;
    EXPECT_EQ(x.connect_test(Unreachable().url, refused.text), 3);
    EXPECT_TRUE(StartsWith(refused.str(), "连接失败 Error: 1, ")) << refused.str();
    EXPECT_TRUE(EndsWith(refused.str(), ", Error when connect.")) << refused.str();

    EXPECT_EQ(x.connect_test(m_agent.Url("huge").c_str(), huge.text), 3);
    EXPECT_EQ(huge.str(), "连接失败 Error: 1, 0, Error, response too large.");

    // GBK on the wire to the caller: "连接失败" is c1ac bdd3 caa7 b0dc.
    EXPECT_EQ(huge.str().substr(0, 8), "\xc1\xac\xbd\xd3\xca\xa7\xb0\xdc");
}

TEST_F(WebAgentTest, AgentThatNeverClosesTimesOut) {
    HttpFetch fetch;
    fetch.SetTimeoutsForTesting(300);
    char buffer[64] = "";
    EXPECT_EQ(fetch.Fetch(m_agent.Url("neverclose").c_str(), buffer, sizeof buffer, nullptr), 1);
    EXPECT_EQ(fetch.ErrorMessage(), "Error when recieve.");
}

TEST_F(WebAgentTest, ChangePasswordFollowsTheReplyTable) {
    struct Row {
        std::string mode;
        std::string password;
        int result;
        std::string message;  // kUntouched: left as it was
    } rows[] = {
        {"nomarker", kPassword, 4,
         "Web服务器不支持HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\nreturncode=22112<br>"},
        {"denied", kPassword, 4, "WebAgent服务器禁止写入文件"},
        {"denied-gbk", kPassword, 4, "WebAgent服务器禁止写入文件"},
        {"", "wrong", 3, "密码错误"},
        {"servererror", kPassword, 4, "WebAgent服务器出错"},
        {"nocode", kPassword, 0, kUntouched},
        {"oldcodes", kPassword, 1, kUntouched},
    };
    for (const Row& r : rows) {
        WebAgentInfo agent = AgentAt(m_agent.Url(r.mode), kKey, r.password);
        Message m;
        EXPECT_EQ(x.change_password(&agent, kPassword.c_str(), m.text), r.result) << r.mode;
        EXPECT_EQ(m.str(), r.message) << r.mode;
    }
    WebAgentInfo unreachable = Unreachable();
    Message m;
    EXPECT_EQ(x.change_password(&unreachable, "new", m.text), 2);
    EXPECT_TRUE(StartsWith(m.str(), "连接失败 Error: 1, ")) << m.str();

    // A real change: the old password stops working, the new one works.
    WebAgentInfo agent = Agent();
    Message changed, old_refused, new_taken;
    EXPECT_EQ(x.change_password(&agent, "n3w", changed.text), 1);
    EXPECT_EQ(changed.str(), kUntouched);
    EXPECT_EQ(x.change_password(&agent, "n3w", old_refused.text), 3);
    WebAgentInfo renewed = AgentAt(m_agent.Url(), kKey, "n3w");
    EXPECT_EQ(x.change_password(&renewed, kPassword.c_str(), new_taken.text), 1);
}

TEST_F(WebAgentTest, UpdateRefusesTheWrongKindBeforeSending) {
    // Unreachable: had anything been sent, the message would say so.
    WebAgentInfo agent = Unreachable();
    PeerInfo client_as_gateway = Peer(false, 1, "c", true);
    PeerInfo gateway_as_client = Peer(true, 2, "g", true);
    Peers peers;
    Message m1, m2;
    EXPECT_EQ(x.ovg_update(&agent, &client_as_gateway, &peers.list, m1.text), 2);
    EXPECT_EQ(m1.str(), "OVG模式错误");
    EXPECT_EQ(x.ovc_update(&agent, &gateway_as_client, &peers.list, m2.text), 2);
    EXPECT_EQ(m2.str(), "OVC模式错误");
}

TEST_F(WebAgentTest, UpdateFollowsTheReplyTableAndLearnsTheWanAddressAnyway) {
    struct Row {
        std::string mode;
        std::string password;
        int result;
        std::string message;
        bool wan_learned;
    } rows[] = {
        {"nomarker", kPassword, 4, "", false},
        {"denied", kPassword, 4, "WebAgent服务器禁止写入文件", false},
        {"denied-gbk", kPassword, 4, "WebAgent服务器禁止写入文件", false},
        {"", "wrong", 3, "密码错误", true},
        {"servererror", kPassword, 4, "WebAgent服务器出错", true},
        {"nocode", kPassword, 0, kUntouched, true},
    };
    for (bool gateway : {true, false}) {
        UpdateFn update = gateway ? x.ovg_update : x.ovc_update;
        for (const Row& r : rows) {
            WebAgentInfo agent = AgentAt(m_agent.Url(r.mode), kKey, r.password);
            PeerInfo self = Peer(gateway, 7, "self", true);
            Peers peers;
            Message m;
            EXPECT_EQ(update(&agent, &self, &peers.list, m.text), r.result) << r.mode << gateway;
            if (r.mode == "nomarker")
                EXPECT_TRUE(StartsWith(m.str(), "Web服务器不支持HTTP/1.0 ")) << m.str();
            else
                EXPECT_EQ(m.str(), r.message) << r.mode << gateway;
            EXPECT_EQ(self.wanAddress, r.wan_learned ? 0x7f000001u : 0x0a000007u) << r.mode;
            EXPECT_EQ(peers.list.count, 0);
        }
        WebAgentInfo unreachable = Unreachable();
        PeerInfo self = Peer(gateway, 7, "self", true);
        Message m;
        EXPECT_EQ(update(&unreachable, &self, nullptr, m.text), 2);
        EXPECT_TRUE(StartsWith(m.str(), "连接失败 Error: 1, ")) << m.str();
    }
}

TEST_F(WebAgentTest, ClientReadsBackWhatGatewaysReported) {
    WebAgentInfo agent = Agent();
    // A name with a double-byte character whose second byte is an upper
    // case letter ("丄" is 81 41): lowering it would change the character.
    PeerInfo direct = Peer(true, 1, "Gate\x81\x41Way", true);
    PeerInfo proxied = Peer(true, 2, "Behind-Proxy", false);
    Message m1, m2;
    EXPECT_EQ(x.ovg_update(&agent, &direct, nullptr, m1.text), 1);
    EXPECT_EQ(m1.str(), kUntouched);
    EXPECT_EQ(direct.wanAddress, 0x7f000001u);
    EXPECT_EQ(x.ovg_update(&agent, &proxied, nullptr, m2.text), 5);  // nobody asked for it yet

    PeerInfo self = Peer(false, 9, "client", true);
    Peers peers;
    Message m;
    ASSERT_EQ(x.ovc_update(&agent, &self, &peers.list, m.text), 1);
    EXPECT_EQ(m.str(), "更新成功");
    ASSERT_EQ(peers.list.count, 2);
    const PeerInfo* got = &peers.list.records[0];
    if (got->computerId[0] != 1)
        got = &peers.list.records[1];
    EXPECT_EQ(got->kind, 1);
    EXPECT_EQ(got->direct, 1);
    EXPECT_EQ(got->reserved, 0);
    EXPECT_EQ(got->reportTime, kReportTime);
    EXPECT_STREQ(got->computerName, "gate\x81\x41way");
    EXPECT_EQ(got->wanAddress, 0x0a000001u);  // as the gateway reported it
    EXPECT_EQ(got->cmdPort, 5501u);
    // Only the first 12 identity bytes travel.
    EXPECT_EQ(std::memcmp(got->computerId, direct.computerId, 12), 0);
    for (size_t i = 12; i < sizeof got->computerId; ++i) ASSERT_EQ(got->computerId[i], 0) << i;
    const PeerInfo& other =
        got == &peers.list.records[0] ? peers.list.records[1] : peers.list.records[0];
    EXPECT_EQ(other.direct, 0);
    EXPECT_STREQ(other.computerName, "behind-proxy");
}

TEST_F(WebAgentTest, ReportsWithoutRecordsHaveTheirOwnResults) {
    WebAgentInfo agent = Agent();
    PeerInfo client = Peer(false, 3, "c", true);
    PeerInfo gateway = Peer(true, 4, "g", false);
    Message m1, m2;
    EXPECT_EQ(x.ovc_update(&agent, &client, nullptr, m1.text), 6);
    EXPECT_EQ(m1.str(), "OV_G工作不正常或未启动");
    EXPECT_EQ(x.ovg_update(&agent, &gateway, nullptr, m2.text), 5);
    EXPECT_EQ(m2.str(), "解码失败");
}

TEST_F(WebAgentTest, ListGrowsInBlocksOfTenAndKeepsWhatItHeld) {
    WebAgentInfo agent = Agent();
    for (uint8_t id = 1; id <= 12; ++id) {
        PeerInfo g = Peer(true, id, "g" + std::to_string(id), true);
        Message m;
        ASSERT_EQ(x.ovg_update(&agent, &g, nullptr, m.text), 1) << m.str();
    }
    PeerInfo self = Peer(false, 50, "c", true);
    Peers peers;
    Message m;
    ASSERT_EQ(x.ovc_update(&agent, &self, &peers.list, m.text), 1);
    EXPECT_EQ(peers.list.count, 12);
    EXPECT_EQ(peers.list.capacity, 20);
    ASSERT_EQ(x.ovc_update(&agent, &self, &peers.list, m.text), 1);
    EXPECT_EQ(peers.list.count, 24);
    EXPECT_EQ(peers.list.capacity, 30);
    x.free_list(&peers.list);
    EXPECT_EQ(peers.list.records, nullptr);
    EXPECT_EQ(peers.list.count, 0);
    EXPECT_EQ(peers.list.capacity, 0);
}

TEST_F(WebAgentTest, GatewayBehindAProxyLearnsOfClientsThatAskForIt) {
    WebAgentInfo agent = Agent();
    PeerInfo gateway = Peer(true, 20, "gw", false);
    PeerInfo client = Peer(false, 30, "Client-One", true);
    PeerInfo stranger = Peer(false, 31, "nobody", true);
    Message m;
    ASSERT_EQ(x.ovg_update(&agent, &gateway, nullptr, m.text), 5);
    ASSERT_EQ(x.ovc_update(&agent, &client, nullptr, m.text), 1);

    Message asked;
    EXPECT_EQ(x.connect_ovg(&agent, &client, &gateway, asked.text), 1);
    EXPECT_EQ(asked.str(), "更改成功");

    Peers peers;
    Message reported;
    ASSERT_EQ(x.ovg_update(&agent, &gateway, &peers.list, reported.text), 1);
    EXPECT_EQ(reported.str(), kUntouched);
    ASSERT_EQ(peers.list.count, 1);
    EXPECT_EQ(peers.list.records[0].kind, 0);
    EXPECT_STREQ(peers.list.records[0].computerName, "client-one");
    EXPECT_EQ(peers.list.records[0].computerId[0], 30);

    Message unknown, cleared, again;
    EXPECT_EQ(x.clear_flag(&agent, &gateway, &stranger, unknown.text), 5);
    EXPECT_EQ(unknown.str(), "OV_C信息没有找到");
    EXPECT_EQ(x.clear_flag(&agent, &gateway, &client, cleared.text), 1);
    EXPECT_EQ(cleared.str(), "更改成功");
    EXPECT_EQ(x.clear_flag(&agent, &gateway, &client, again.text), 6);
    EXPECT_EQ(again.str(), "待清除的OV_C标记的不是本OV_G");
}

TEST_F(WebAgentTest, FlagRequestsFollowTheReplyTable) {
    struct Row {
        std::string mode;
        std::string password;
        int result;
        std::string message;
    } rows[] = {
        {"denied", kPassword, 4, "WebAgent服务器禁止写入文件"},
        {"", "wrong", 3, "密码错误"},
        {"servererror", kPassword, 4, "WebAgent服务器出错"},
        {"nocode", kPassword, 0, kUntouched},
    };
    PeerInfo gateway = Peer(true, 40, "gw", false);
    PeerInfo client = Peer(false, 41, "c", true);
    for (FlagFn op : {x.connect_ovg, x.clear_flag}) {
        for (const Row& r : rows) {
            WebAgentInfo agent = AgentAt(m_agent.Url(r.mode), kKey, r.password);
            Message m;
            EXPECT_EQ(op(&agent, &client, &gateway, m.text), r.result) << r.mode;
            EXPECT_EQ(m.str(), r.message) << r.mode;
        }
        WebAgentInfo plain = AgentAt(m_agent.Url("nomarker"));
        Message unsupported, refused;
        EXPECT_EQ(op(&plain, &client, &gateway, unsupported.text), 4);
        EXPECT_TRUE(StartsWith(unsupported.str(), "Web服务器不支持HTTP/1.0")) << unsupported.str();
        WebAgentInfo unreachable = Unreachable();
        EXPECT_EQ(op(&unreachable, &client, &gateway, refused.text), 2);
        EXPECT_TRUE(StartsWith(refused.str(), "连接失败 ")) << refused.str();
    }
}

TEST_F(WebAgentTest, RecordsOfTheWrongCaseKeyOrLengthAreNotTaken) {
    WebAgentInfo agent = Agent();
    for (uint8_t id = 1; id <= 2; ++id) {
        PeerInfo g = Peer(true, id, "g", true);
        Message m;
        ASSERT_EQ(x.ovg_update(&agent, &g, nullptr, m.text), 1);
    }
    PeerInfo self = Peer(false, 9, "c", true);
    struct Row {
        std::string mode;
        int result;
        std::string message;
        int records;
    } rows[] = {
        {"lowercase", 5, "解码失败", 0},  // "ovg" is not a gateway record
        {"broken", 3, "更新成功", 0},     // enciphered under another key
        {"truncated", 3, "更新成功", 1},  // the last block lost its "#end"
    };
    for (const Row& r : rows) {
        WebAgentInfo odd = Agent(r.mode);
        Peers peers;
        Message m;
        EXPECT_EQ(x.ovc_update(&odd, &self, &peers.list, m.text), r.result) << r.mode;
        EXPECT_EQ(m.str(), r.message) << r.mode;
        EXPECT_EQ(peers.list.count, r.records) << r.mode;
    }
}

class DefaultKeyWebAgentTest : public WebAgentTest {
  protected:
    std::string AgentKey() const override { return std::string(kDefaultKeyText); }
};

TEST_F(DefaultKeyWebAgentTest, EmptyKeyTextMeansTheDefaultKeyText) {
    WebAgentInfo agent = AgentAt(m_agent.Url(), "");
    PeerInfo gateway = Peer(true, 5, "gw", true);
    Message m;
    EXPECT_EQ(x.ovg_update(&agent, &gateway, nullptr, m.text), 1) << m.str();
    PeerInfo client = Peer(false, 6, "c", true);
    Peers peers;
    EXPECT_EQ(x.ovc_update(&agent, &client, &peers.list, m.text), 1) << m.str();
    ASSERT_EQ(peers.list.count, 1);
    EXPECT_STREQ(peers.list.records[0].computerName, "gw");
}

// Replies no web agent of ours gives, served as canned bytes.
TEST(WebAgentReplyTest, TokensAreJudgedInTableOrder) {
    const Exports& x = Exports::Get();
    ASSERT_TRUE(x.Complete()) << x.library->Error();
    {
        RawServer server("HTTP/1.0 200 OK\r\n\r\nOV_SUPPORT returncode=222 returncode=212");
        WebAgentInfo agent = AgentAt(server.Url("/a.php"));
        Message m;
        EXPECT_EQ(x.change_password(&agent, "new", m.text), 3);
        EXPECT_EQ(m.str(), "密码错误");
        EXPECT_EQ(server.Request().rfind("GET /a.php?functionid=1&submitpassword=pw&newpassword=new"
                                         "&content= HTTP/1.0\r\n",
                                         0),
                  0u);
    }
    {
        RawServer server("HTTP/1.0 200 OK\r\n\r\nOV_SUPPORT<br>wan= 61.1.2.3 <br>returncode=22121");
        WebAgentInfo agent = AgentAt(server.Url("/a.php"));
        PeerInfo self = Peer(true, 1, "g", true);
        Message m;
        EXPECT_EQ(x.ovg_update(&agent, &self, nullptr, m.text), 4);
        EXPECT_EQ(m.str(), "WebAgent服务器出错");
        EXPECT_EQ(self.wanAddress, 61u << 24 | 1u << 16 | 2u << 8 | 3u);
    }
    {
        // Without the marker nothing else in the reply counts.
        RawServer server("HTTP/1.0 200 OK\r\n\r\nwan=61.1.2.3<br>returncode=22122");
        WebAgentInfo agent = AgentAt(server.Url("/a.php"));
        PeerInfo self = Peer(true, 1, "g", true);
        Message m;
        EXPECT_EQ(x.ovg_update(&agent, &self, nullptr, m.text), 4);
        EXPECT_EQ(self.wanAddress, 0x0a000001u);
    }
}

TEST(WebAgentReplyTest, UpdateQueryCarriesIdKindAndLowerCasedContent) {
    const Exports& x = Exports::Get();
    ASSERT_TRUE(x.Complete()) << x.library->Error();
    RawServer server("HTTP/1.0 200 OK\r\n\r\nOV_SUPPORT returncode=22122");
    WebAgentInfo agent = AgentAt(server.Url("/s/ov.php"), "");
    PeerInfo self = Peer(true, 0xa0, "MyGate", true);
    self.wanAddress = 167772161;  // 10.0.0.1
    self.cmdPort = 6000;
    Message m;
    ASSERT_EQ(x.ovg_update(&agent, &self, nullptr, m.text), 1);
    std::string request = server.Request();
    const std::string prefix =
        "GET /s/ov.php?funcid=3&pwd=pw&newpwd=&computerid=a0a1a2a3a4a5a6a7a8a9aaab&ovtype=OVG"
        "&content=";
    ASSERT_EQ(request.rfind(prefix, 0), 0u) << request;
    std::string content =
        request.substr(prefix.size(), request.find(' ', prefix.size()) - prefix.size());
    std::tm local = platform::LocalTime(kReportTime);
    EXPECT_EQ(DecodeContent(content, kDefaultKeyText),
              "&time=" + TimeStamp(local) +
                  "&internetmode=direct&wanip=167772161&cmdport=6000&computername=mygate");
}

// The record reader on its own, for what no web agent sends.
std::string Block(const std::string& kind, const std::string& id_hex, const std::string& plain,
                  const std::string& key = "k") {
    return "#contentbegin&ovtype=" + kind + "&computerid=" + id_hex +
           "&content=" + EncodeContent(plain, key) + "#end";
}

TEST(PeerRecordsTest, ReadsFieldsAndBoundsThem) {
    const std::string long_name = std::string(46, 'n') + "\x81\x41" + "tail";
    std::string reply = "HTTP/1.0 200 OK\r\n\r\n" +
                        Block("OVG", "0102ff",
                              "&time=19691231235959&internetmode=proxy&wanip=192.0.2.7"
                              "&cmdport=70000&computername=" +
                                  long_name) +
                        Block("OVG", "", "&time=20380101000000&internetmode=direct");
    PeerList list{};
    Message m;
    ASSERT_EQ(ReadPeerRecords(reply, true, "k", &list, m.text), 1);
    EXPECT_EQ(m.str(), kUntouched);
    ASSERT_EQ(list.count, 2);
    const PeerInfo& a = list.records[0];
    EXPECT_EQ(a.reportTime, 0);  // before 1970: no time
    EXPECT_EQ(a.direct, 0);
    EXPECT_EQ(a.wanAddress, 0xc0000207u);
    EXPECT_EQ(a.cmdPort, 70000u);
    EXPECT_EQ(a.computerId[0], 1);
    EXPECT_EQ(a.computerId[2], 0xff);
    EXPECT_EQ(a.computerId[3], 0);
    // 47 bytes would end inside the double-byte character: it is left out whole.
    EXPECT_EQ(std::string(a.computerName), std::string(46, 'n'));
    std::tm t{};
    t.tm_year = 2038 - 1900;
    t.tm_mday = 1;
    t.tm_isdst = -1;
    EXPECT_EQ(list.records[1].reportTime, int32_t(std::mktime(&t)));
    EXPECT_EQ(list.records[1].direct, 1);
    FreePeerList(&list);
}

TEST(PeerRecordsTest, BrokenSkippedAndMissingBlocks) {
    const std::string good = Block("OVC", "01", "&time=20030305070809&internetmode=direct");
    const std::string no_mode = Block("OVC", "02", "&time=20030305070809&wanip=1.2.3.4");
    struct Case {
        std::string reply;
        bool gateways;
        int result;
        int records;
        std::string message;
    } cases[] = {
        {"x" + good + no_mode, false, 3, 1, kUntouched},
        {"x" + good + Block("OVG", "03", "&time=1&internetmode=direct"), false, 1, 1, kUntouched},
        {"x" + Block("OVC", "04", "&time=1&internetmode=direct", "other key"), false, 3, 0,
         kUntouched},
        {"x" + good, true, 5, 0, "解码失败"},
        {"x#contentbegin&ovtype=OVC", false, 3, 0, kUntouched},
        {"x nothing here", true, 6, 0, "OV_G工作不正常或未启动"},
        {"x nothing here", false, 5, 0, "解码失败"},
    };
    for (const Case& c : cases) {
        PeerList list{};
        Message m;
        EXPECT_EQ(ReadPeerRecords(c.reply, c.gateways, "k", &list, m.text), c.result) << c.reply;
        EXPECT_EQ(list.count, c.records) << c.reply;
        EXPECT_EQ(m.str(), c.message) << c.reply;
        FreePeerList(&list);
    }
}

TEST(PeerRecordsTest, InconsistentListIsLeftAlone) {
    PeerInfo held[2] = {};
    PeerList list{held, 3, 2};  // count past capacity
    const std::string reply = "x" + Block("OVC", "01", "&time=1&internetmode=direct");
    EXPECT_EQ(ReadPeerRecords(reply, false, "k", &list, nullptr), 3);
    EXPECT_EQ(list.records, held);
    EXPECT_EQ(list.count, 3);
}

}  // namespace
}  // namespace ov::http
