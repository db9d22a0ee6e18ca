#include "gateway/cmd_thread.h"

#include <gtest/gtest.h>

#include <asio/connect.hpp>
#include <asio/read.hpp>
#include <asio/write.hpp>

#include <atomic>
#include <future>
#include <thread>

#include "gateway/gateway_test_dir.h"
#include "gateway/net/controlled_computer_list.h"

namespace ov::gateway {
namespace {

using namespace std::chrono_literals;
using asio::ip::tcp;

// A client with blocking steps that each give up after a while, so a
// broken gateway fails the test instead of hanging it.
class Client {
  public:
    // from: the local address to come from (127.0.0.1 when empty).
    explicit Client(uint16_t port, const char* from = nullptr) {
        asio::error_code ec;
        if (from) {
            m_socket.open(tcp::v4());
            m_socket.bind(tcp::endpoint(asio::ip::make_address(from), 0));
        }
        m_socket.connect(tcp::endpoint(asio::ip::address_v4::loopback(), port), ec);
        EXPECT_FALSE(ec) << ec.message();
        m_socket.set_option(tcp::no_delay(true), ec);
    }
    void Send(const std::vector<uint8_t>& bytes) {
        asio::error_code ec;
        asio::write(m_socket, asio::buffer(bytes), ec);
    }
    // The next n bytes, or fewer when the connection ended or time ran out.
    std::vector<uint8_t> Read(size_t n, std::chrono::milliseconds limit = 5s) {
        std::vector<uint8_t> got(n);
        size_t have = 0;
        asio::async_read(m_socket, asio::buffer(got),
                         [&](const asio::error_code&, size_t k) { have = k; });
        Run(limit);
        got.resize(have);
        return got;
    }
    // True when the gateway closed the connection within the limit.
    bool Closed(std::chrono::milliseconds limit = 5s) {
        uint8_t b;
        bool closed = false;
        m_socket.async_read_some(asio::buffer(&b, 1), [&](const asio::error_code& ec, size_t) {
            closed = ec && ec != asio::error::operation_aborted;
        });
        Run(limit);
        return closed;
    }

  private:
    void Run(std::chrono::milliseconds limit) {
        m_io.restart();
        m_io.run_for(limit);
        if (!m_io.stopped()) {  // time ran out: drop the read
            m_socket.cancel();
            m_io.restart();
            m_io.run();
        }
    }
    asio::io_context m_io;
    tcp::socket m_socket{m_io};
};

std::vector<uint8_t> Frame(const std::string& user, const std::string& password) {
    uint8_t id[AuthRequest::kClientIdSize] = {};
    return RequestFrame(AuthRequest::Make(id, user, password));
}

class CmdPort : public ov::testing::GatewayTestDir {
  public:
    // Every client comes from 127.0.0.1: no share per address unless asked.
    explicit CmdPort(std::string ini = "[S_CFG]\r\nProxyPort=4321\r\nMaxSlotsPerAddress=0\r\n")
        : GatewayTestDir(std::move(ini)) {}
    void SetUp() override {
        GatewayTestDir::SetUp();
        ASSERT_TRUE(config->LoadConfiguration());
        static std::atomic<int> n{0};
        ControlledComputerList::Options o;
        o.view_name = "ovt_cmd_" +
                      std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                      std::to_string(n++) + "_" + std::to_string(std::time(nullptr) % 100000);
        o.log_line = o.log_raw = [](const std::string&) {};
        o.host_name = [] { return std::string("gw"); };
        list = std::make_shared<ControlledComputerList>(o);
    }
    void TearDown() override {
        thread.reset();
        GatewayTestDir::TearDown();
    }
    // Starts the thread on 127.0.0.1 and an ephemeral port.
    uint16_t Start(std::chrono::milliseconds frame = 30s, std::chrono::milliseconds login = 30s) {
        std::promise<uint16_t> port;
        CmdOptions o;
        o.port = 0;
        o.address = asio::ip::address_v4::loopback();
        o.frame_deadline = frame;
        o.login_deadline = login;
        o.on_listening = [&port](uint16_t p) { port.set_value(p); };
        thread = MakeCmdThread(
            *config, list, [this] { ended = true; }, o);
        EXPECT_TRUE(thread);
        auto f = port.get_future();
        EXPECT_EQ(f.wait_for(5s), std::future_status::ready);
        return f.get();
    }
    bool Logged(const std::string& line) { return LogText().find(line) != std::string::npos; }

    std::shared_ptr<ControlledComputerList> list;
    std::unique_ptr<EventThread> thread;
    std::atomic<bool> ended{false};
};

TEST_F(CmdPort, RequestsOnOneConnectionGetTheirRepliesAndTheList) {
    {
        const uint8_t addr[4] = {192, 0, 2, 7};
        for (const char* name : {"pc1", "pc2", "pc3"})
            list->AddOrUpdateEntry(ComputerEntry::Make(name, 5900, addr));
    }
    Client c(Start());
    c.Send(Frame("nobody", "x"));
    EXPECT_EQ(c.Read(5), (std::vector<uint8_t>{3, 0, 0x16, 170, 0}));
    c.Send(Frame("Administrator", "wrong"));
    EXPECT_EQ(c.Read(5), (std::vector<uint8_t>{3, 0, 0x16, 187, 0}));
    c.Send(Frame("Administrator", "pw"));
    std::vector<uint8_t> r = c.Read(157);
    ASSERT_EQ(r.size(), 157u);
    EXPECT_EQ(DecodeFixed16LE(r.data()), 155);
    EXPECT_EQ(DecodeFixed16LE(r.data() + 3), 1);
    EXPECT_EQ(DecodeFixed16LE(r.data() + 5), 4321);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.data() + 7 + 100)), "pc3");
    EXPECT_TRUE(Logged("    该用户名不存在:nobody\r\n"));
    EXPECT_TRUE(Logged("    密码不对!\r\n"));
    EXPECT_TRUE(Logged("    Administrator 鉴别通过!\r\n"));
}

TEST_F(CmdPort, FramesArriveInAnyPiecesAndAWrongSignCloses) {
    Client c(Start());
    // Sizes 0 and 1, then a request one byte per segment.
    std::vector<uint8_t> bytes = {0, 0, 1, 0};
    std::vector<uint8_t> frame = Frame("Administrator", "nope");
    bytes.insert(bytes.end(), frame.begin(), frame.end());
    for (uint8_t b : bytes) {
        c.Send({b});
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(c.Read(5), (std::vector<uint8_t>{3, 0, 0x16, 187, 0}));

    c.Send({171, 0, 0x16});
    EXPECT_TRUE(c.Closed());
    EXPECT_TRUE(Logged("    收到错误的标记!(22) 请检查!\r\n"));
}

TEST_F(CmdPort, The81stConnectionIsClosedAtOnceAndTheOthersServe) {
    const uint16_t port = Start();
    std::vector<std::unique_ptr<Client>> clients;
    for (size_t i = 0; i < CCmdThread::kSlots; ++i)
        clients.push_back(std::make_unique<Client>(port));
    // The last of the 80 is served, so all 80 hold their slots now.
    clients.back()->Send(Frame("x", "y"));
    EXPECT_EQ(clients.back()->Read(5).size(), 5u);
    Client extra(port);
    EXPECT_TRUE(extra.Closed());
    EXPECT_TRUE(Logged("    连接的client数目超过默认值!!!\r\n"));

    // A freed slot takes the next connection.
    clients.front().reset();
    std::this_thread::sleep_for(200ms);
    Client next(port);
    next.Send(Frame("x", "y"));
    EXPECT_EQ(next.Read(5).size(), 5u);
}

TEST_F(CmdPort, StalledFramesAndSilentLoginsAreClosedAtTheirDeadlines) {
    const uint16_t port = Start(300ms, 1500ms);
    Client half_size(port), half_request(port), silent(port), passed(port);
    half_size.Send({171});
    half_request.Send({171, 0, 0x15, 1, 2, 3});
    passed.Send(Frame("Administrator", "pw"));
    EXPECT_EQ(passed.Read(7).size(), 7u);

    EXPECT_TRUE(half_size.Closed(1s));
    EXPECT_TRUE(half_request.Closed(1s));
    EXPECT_TRUE(Logged("    取长度size失败!\r\n"));
    EXPECT_TRUE(Logged("    取鉴别请求失败!\r\n"));
    EXPECT_FALSE(silent.Closed(500ms));  // its own deadline is later
    EXPECT_TRUE(silent.Closed(2s));
    EXPECT_TRUE(Logged("    等待鉴别超时, 关闭连接!\r\n"));
    // A user who passed may stay idle.
    EXPECT_FALSE(passed.Closed(500ms));
    passed.Send(Frame("Administrator", "pw"));
    EXPECT_EQ(passed.Read(7).size(), 7u);
}

class CmdPortShares : public CmdPort {
  public:
    CmdPortShares() : CmdPort("[S_CFG]\r\nProxyPort=4321\r\nMaxSlotsPerAddress=3\r\n") {}
};

TEST_F(CmdPortShares, OneAddressHoldsItsShareAndItsGuessesWaitWhileOthersAreAnswered) {
    const uint16_t port = Start();
    std::vector<std::unique_ptr<Client>> mine;
    for (int i = 0; i < 3; ++i) mine.push_back(std::make_unique<Client>(port));
    mine[2]->Send(Frame("Administrator", "guess1"));
    EXPECT_EQ(mine[2]->Read(5).size(), 5u);  // the first failure is answered at once
    Client fourth(port);
    EXPECT_TRUE(fourth.Closed());

    // The next guesses wait their turn, across the address's connections:
    // 1 s after the first failure, then 2 s after the second.
    const auto asked = std::chrono::steady_clock::now();
    mine[0]->Send(Frame("Administrator", "guess2"));
    mine[1]->Send(Frame("Administrator", "guess3"));
    Client other(port, "127.0.0.2");
    other.Send(Frame("Administrator", "pw"));
    EXPECT_EQ(other.Read(7).size(), 7u);
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 500ms);
    EXPECT_EQ(mine[0]->Read(5).size(), 5u);
    EXPECT_GE(std::chrono::steady_clock::now() - asked, 900ms);
    EXPECT_EQ(mine[1]->Read(5).size(), 5u);
    EXPECT_GE(std::chrono::steady_clock::now() - asked, 2900ms);
}

TEST_F(CmdPort, AListenerThatCannotBindEndsOnlyItsOwnThread) {
    const uint16_t port = Start();
    CmdOptions o;
    o.port = port;  // taken by the first thread
    o.address = asio::ip::address_v4::loopback();
    auto second = MakeCmdThread(
        *config, list, [this] { ended = true; }, o);
    ASSERT_TRUE(second);  // a started thread: the gateway's start goes on
    EXPECT_EQ(second->wait_for(5s), EventThread::WaitResult::Ended);
    EXPECT_TRUE(Logged("    cmd server create error = "));
    EXPECT_FALSE(ended);
    // The first still serves.
    Client c(port);
    c.Send(Frame("x", "y"));
    EXPECT_EQ(c.Read(5).size(), 5u);
}

}  // namespace
}  // namespace ov::gateway
