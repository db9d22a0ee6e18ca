#include "gateway/net/proxy_thread.h"

#include <gtest/gtest.h>

#include <asio/connect.hpp>
#include <asio/read.hpp>
#include <asio/write.hpp>

#include <atomic>
#include <ctime>
#include <future>
#include <set>
#include <thread>
#include <vector>

#include "gateway/gateway_config.h"
#include "gateway/gateway_test_dir.h"
#include "gateway/net/controlled_computer_list.h"
#include "gateway/network_thread.h"
#include "gateway/stats_publisher.h"

namespace ov::gateway {
namespace {

using asio::ip::tcp;
using namespace std::chrono_literals;

// A controlled computer's agent on loopback: echoes, or (tail mode) reads
// until the peer's end and answers with the byte count and a checksum.
class Agent {
  public:
    enum class Mode { Echo, CountUntilEnd };
    explicit Agent(Mode mode)
        : m_acceptor(m_io, tcp::endpoint(asio::ip::address_v4::loopback(), 0)), m_mode(mode) {
        m_thread = std::thread([this] { Serve(); });
    }
    ~Agent() {
        m_stop = true;
        std::error_code ec;
        tcp::socket poke(m_io);
        poke.connect(m_acceptor.local_endpoint(), ec);
        m_thread.join();
        for (auto& t : m_sessions) t.join();
    }
    uint16_t Port() const { return m_acceptor.local_endpoint().port(); }

  private:
    void Serve() {
        while (!m_stop) {
            tcp::socket s(m_io);
            std::error_code ec;
            m_acceptor.accept(s, ec);
            if (ec || m_stop)
                break;
            m_sessions.emplace_back([this, s = std::move(s)]() mutable { Session(s); });
        }
    }
    void Session(tcp::socket& s) {
        std::vector<uint8_t> buf(65536);
        uint64_t count = 0, sum = 0;
        for (;;) {
            std::error_code ec;
            size_t n = s.read_some(asio::buffer(buf), ec);
            if (ec)
                break;
            count += n;
            for (size_t i = 0; i < n; ++i) sum = sum * 31 + buf[i];
            if (m_mode == Mode::Echo)
                asio::write(s, asio::buffer(buf.data(), n), ec);
            if (ec)
                break;
        }
        if (m_mode == Mode::CountUntilEnd) {
            std::string reply = std::to_string(count) + ":" + std::to_string(sum);
            std::error_code ec;
            asio::write(s, asio::buffer(reply), ec);
        }
    }
    asio::io_context m_io;
    tcp::acceptor m_acceptor;
    Mode m_mode;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    std::vector<std::thread> m_sessions;
};

uint64_t Checksum(const std::vector<uint8_t>& d) {
    uint64_t sum = 0;
    for (uint8_t b : d) sum = sum * 31 + b;
    return sum;
}

std::vector<uint8_t> Header(const std::string& name) {
    std::vector<uint8_t> h(kRelayHeaderSize, 0);
    std::memcpy(h.data(), name.data(), std::min(name.size(), size_t(40)));
    return h;
}

// Every user of these tests comes from 127.0.0.1: no share per address.
class Proxy : public ov::testing::GatewayTestDir {
  public:
    Proxy() : Proxy("[S_CFG]\r\nMaxSlotsPerAddress=0\r\n") {}
    explicit Proxy(const char* ini) : GatewayTestDir(ini) {}

    void Start(std::chrono::milliseconds header_deadline = 30s,
               std::chrono::milliseconds connect_deadline = 10s) {
        ASSERT_TRUE(config->ReadIniSettings());
        static std::atomic<int> n{0};
        ControlledComputerList::Options lo;
        lo.view_name =
            "ovt_proxy_" + std::to_string(std::time(nullptr) % 100000) + "_" + std::to_string(n++);
        list = std::make_shared<ControlledComputerList>(lo);
        const uint8_t loopback[4] = {127, 0, 0, 1};
        {
            list->AddOrUpdateEntry(ComputerEntry::Make("echo", echo.Port(), loopback));
            list->AddOrUpdateEntry(ComputerEntry::Make("counter", counter.Port(), loopback));
        }
        CProxyThread::Options o;
        o.port = 0;
        o.address = "127.0.0.1";
        o.header_deadline = header_deadline;
        o.connect_deadline = connect_deadline;
        o.queue_wait = queue_wait;
        o.stats = stats;
        auto listening = std::make_shared<std::promise<void>>();
        o.on_listener = [listening](bool ok, int) {
            if (ok)
                listening->set_value();
        };
        auto handler = std::make_unique<CProxyThread>(*config, list, o);
        proxy = handler.get();
        thread = std::make_unique<EventThread>("proxy", std::move(handler));
        ASSERT_TRUE(thread->Start());
        ASSERT_EQ(listening->get_future().wait_for(5s), std::future_status::ready);
    }
    tcp::socket Connect() {
        tcp::socket s(io);
        s.connect(tcp::endpoint(asio::ip::address_v4::loopback(), proxy->ListeningPort()));
        return s;
    }
    // Reads until the peer ends; true when it ended (not a timeout).
    static bool ReadsToEnd(tcp::socket& s, std::string* got = nullptr) {
        char buf[4096];
        for (;;) {
            std::error_code ec;
            size_t n = s.read_some(asio::buffer(buf), ec);
            if (ec)
                return ec == asio::error::eof || ec == asio::error::connection_reset;
            if (got)
                got->append(buf, n);
        }
    }

    Agent echo{Agent::Mode::Echo};
    Agent counter{Agent::Mode::CountUntilEnd};
    // Counting happens on the proxy thread after the bytes are on their way.
    static bool Eventually(const std::function<bool()>& done) {
        for (int i = 0; i < 500 && !done(); ++i) std::this_thread::sleep_for(10ms);
        return done();
    }

    std::chrono::milliseconds queue_wait = 250ms;
    std::shared_ptr<ControlledComputerList> list;
    std::shared_ptr<StatsPublisher> stats = std::make_shared<StatsPublisher>();
    CProxyThread* proxy = nullptr;
    std::unique_ptr<EventThread> thread;
    asio::io_context io;
};

TEST_F(Proxy, BytesAfterTheHeaderInOneSegmentReachTheComputerAndComeBack) {
    Start();
    tcp::socket s = Connect();
    std::vector<uint8_t> out = Header("echo");
    for (int i = 0; i < 100; ++i) out.push_back(uint8_t(i));
    asio::write(s, asio::buffer(out));
    std::vector<uint8_t> back(100);
    asio::read(s, asio::buffer(back));
    EXPECT_EQ(std::vector<uint8_t>(out.begin() + 50, out.end()), back);

    // A name of the field's whole 40 bytes has no terminating zero in the
    // header; every byte of it names the computer.
    const std::string forty = "computer-with-a-name-of-forty-characters";
    ASSERT_EQ(forty.size(), 40u);
    const uint8_t loopback[4] = {127, 0, 0, 1};
    {
        list->AddOrUpdateEntry(ComputerEntry::Make(forty, echo.Port(), loopback));
        list->AddOrUpdateEntry(ComputerEntry::Make(forty.substr(0, 39), 1, loopback));
    }
    tcp::socket full = Connect();
    out = Header(forty);
    out.insert(out.end(), {'4', '0'});
    asio::write(full, asio::buffer(out));
    back.assign(2, 0);
    asio::read(full, asio::buffer(back));
    EXPECT_EQ(back, (std::vector<uint8_t>{'4', '0'}));
}

TEST_F(Proxy, AHalfCloseDeliversTheTailAndTheOtherDirectionGoesOn) {
    Start();
    tcp::socket s = Connect();
    std::vector<uint8_t> data(3 << 20);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7 + (i >> 11));
    asio::write(s, asio::buffer(Header("counter")));
    asio::write(s, asio::buffer(data));
    s.shutdown(tcp::socket::shutdown_send);
    std::string reply;
    EXPECT_TRUE(ReadsToEnd(s, &reply));
    EXPECT_EQ(reply, std::to_string(data.size()) + ":" + std::to_string(Checksum(data)));
}

TEST_F(Proxy, UnknownComputersShortHeadersAndTheFortyFirstUserCostNoPair) {
    Start(300ms);
    tcp::socket unknown = Connect();
    asio::write(unknown, asio::buffer(Header("nobody")));
    EXPECT_TRUE(ReadsToEnd(unknown));  // closed, not left hanging
    uint16_t closed_port;
    {
        tcp::acceptor gone(io, tcp::endpoint(asio::ip::address_v4::loopback(), 0));
        closed_port = gone.local_endpoint().port();
    }
    {
        const uint8_t loopback[4] = {127, 0, 0, 1};
        list->AddOrUpdateEntry(ComputerEntry::Make("gone", closed_port, loopback));
    }
    tcp::socket refused = Connect();
    asio::write(refused, asio::buffer(Header("gone")));
    EXPECT_TRUE(ReadsToEnd(refused));
    std::vector<tcp::socket> held;
    for (int i = 0; i < 40; ++i) {
        held.push_back(Connect());
        asio::write(held.back(), asio::buffer(Header("echo").data(), 49));  // one byte short
    }
    tcp::socket extra = Connect();
    EXPECT_TRUE(ReadsToEnd(extra));  // accepted and closed at once
    // The short headers are closed at the deadline, and every pair is free again.
    for (auto& h : held) EXPECT_TRUE(ReadsToEnd(h));
    std::vector<tcp::socket> again;
    for (int i = 0; i < 40; ++i) {
        again.push_back(Connect());
        asio::write(again.back(), asio::buffer(Header("echo")));
        asio::write(again.back(), asio::buffer("x", 1));
    }
    for (auto& a : again) {
        char c = 0;
        asio::read(a, asio::buffer(&c, 1));
        EXPECT_EQ(c, 'x');
    }
    // Each outcome counted once, and the forty relays are live, one byte each way.
    EXPECT_TRUE(Eventually([&] { return stats->Get(Counter::BytesToUser) == 40; }));
    EXPECT_EQ(stats->Get(Counter::RelayUnknownComputer), 1u);
    EXPECT_EQ(stats->Get(Counter::RelayConnectFailed), 1u);
    EXPECT_EQ(stats->Get(Counter::RelayRefusedFull), 1u);
    EXPECT_EQ(stats->Get(Counter::RelayHeaderTimeout), 40u);
    EXPECT_EQ(stats->Get(Counter::RelayStarted), 40u);
    EXPECT_EQ(stats->Get(Counter::BytesToComputer), 40u);
    StatsSnapshot live = stats->Snapshot();
    ASSERT_EQ(live.sessions.size(), 40u);
    std::set<uint16_t> user_ports;
    for (auto& a : again) user_ports.insert(a.local_endpoint().port());
    for (const SessionInfo& r : live.sessions) {
        EXPECT_EQ(r.computer, "echo");
        EXPECT_EQ(AddressText(r.computer_address), "127.0.0.1");
        EXPECT_EQ(r.computer_port, echo.Port());
        EXPECT_EQ(user_ports.erase(r.user_port), 1u) << r.user_port;
        EXPECT_EQ(r.to_computer, 1u);
        EXPECT_EQ(r.to_user, 1u);
    }
    again.clear();
    EXPECT_TRUE(Eventually([&] { return stats->Snapshot().sessions.empty(); }));
}

// Two command slots an address: one pair awaiting its header at a time.
class ProxyShare : public Proxy {
  public:
    ProxyShare() : Proxy("[S_CFG]\r\nMaxSlotsPerAddress=2\r\n") {}
};

TEST_F(ProxyShare, ABurstFromOneAddressIsRelayedWhileItsSilentUsersPastTheShareAreRefused) {
    queue_wait = 2s;  // the burst sends its headers only once all of it is connected
    Start();
    std::vector<tcp::socket> burst;
    for (int i = 0; i < 20; ++i) burst.push_back(Connect());
    for (size_t i = 0; i < burst.size(); ++i) {
        std::vector<uint8_t> out = Header("echo");
        out.push_back(uint8_t(i));
        asio::write(burst[i], asio::buffer(out));
    }
    for (size_t i = 0; i < burst.size(); ++i) {
        uint8_t c = 0xff;
        asio::read(burst[i], asio::buffer(&c, 1));
        EXPECT_EQ(c, uint8_t(i));
    }
    EXPECT_EQ(stats->Get(Counter::RelayRefusedPerAddress), 0u);
    // One silent user holds the share; those after it are refused when
    // their wait is over, and the first still gets its pair.
    tcp::socket silent = Connect();
    std::vector<tcp::socket> past;
    for (int i = 0; i < 3; ++i) past.push_back(Connect());
    for (auto& p : past) EXPECT_TRUE(ReadsToEnd(p));
    EXPECT_EQ(stats->Get(Counter::RelayRefusedPerAddress), 3u);
    std::vector<uint8_t> out = Header("echo");
    out.push_back('s');
    asio::write(silent, asio::buffer(out));
    char c = 0;
    asio::read(silent, asio::buffer(&c, 1));
    EXPECT_EQ(c, 's');
    EXPECT_EQ(stats->Get(Counter::RelayStarted), 21u);
}

TEST_F(Proxy, FortyBusyPairsAndAThousandShortOnesLoseNothingAndLeakNoPair) {
    Start();
    std::vector<std::future<bool>> streams;
    for (int i = 0; i < 40; ++i)
        streams.push_back(std::async(std::launch::async, [this, i] {
            asio::io_context own;
            tcp::socket s(own);
            s.connect(tcp::endpoint(asio::ip::address_v4::loopback(), proxy->ListeningPort()));
            std::vector<uint8_t> data(256 * 1024 + size_t(i));
            for (size_t k = 0; k < data.size(); ++k) data[k] = uint8_t(k * (i + 3));
            asio::write(s, asio::buffer(Header("echo")));
            // Writes and reads side by side, so that flow control pauses and resumes.
            std::thread writer([&] {
                std::error_code ignored;  // a failure shows as a short read below
                asio::write(s, asio::buffer(data), ignored);
            });
            std::vector<uint8_t> back(data.size());
            std::this_thread::sleep_for(50ms);  // a slow reader at first
            std::error_code ec;
            asio::read(s, asio::buffer(back), ec);
            writer.join();
            return back == data;
        }));
    for (auto& f : streams) EXPECT_TRUE(f.get());
    for (int i = 0; i < 1000; ++i) {
        tcp::socket s = Connect();
        asio::write(s, asio::buffer(Header("echo")));
        asio::write(s, asio::buffer("ping", 4));
        char back[4];
        asio::read(s, asio::buffer(back));
        ASSERT_EQ(std::string(back, 4), "ping") << i;
        // An orderly close: the gateway's end arrives once the computer ended too.
        s.shutdown(tcp::socket::shutdown_send);
        ASSERT_TRUE(ReadsToEnd(s)) << i;
    }
    std::vector<tcp::socket> all;
    for (int i = 0; i < 40; ++i) {
        all.push_back(Connect());
        asio::write(all.back(), asio::buffer(Header("echo")));
        asio::write(all.back(), asio::buffer("y", 1));
    }
    for (auto& a : all) {
        char c = 0;
        asio::read(a, asio::buffer(&c, 1));
        EXPECT_EQ(c, 'y');
    }
}

TEST_F(Proxy, ASlowWriterLosesNothingAndResetsMidStreamFreeTheirPairs) {
    Start();
    tcp::socket slow = Connect();
    asio::write(slow, asio::buffer(Header("counter")));
    std::vector<uint8_t> sent;
    for (int i = 0; i < 64; ++i) {
        std::vector<uint8_t> piece(1000, uint8_t(i));
        asio::write(slow, asio::buffer(piece));
        sent.insert(sent.end(), piece.begin(), piece.end());
        std::this_thread::sleep_for(2ms);
    }
    slow.shutdown(tcp::socket::shutdown_send);
    std::string reply;
    EXPECT_TRUE(ReadsToEnd(slow, &reply));
    EXPECT_EQ(reply, std::to_string(sent.size()) + ":" + std::to_string(Checksum(sent)));

    // Every pair busy, then every user resets in the middle of its stream.
    std::vector<uint8_t> burst(20000, 0x5a);  // fits the socket buffers: never blocks
    for (int i = 0; i < CProxyThread::kPairs; ++i) {
        tcp::socket s = Connect();
        asio::write(s, asio::buffer(Header("echo")));
        asio::write(s, asio::buffer(burst));
        s.set_option(asio::socket_base::linger(true, 0));
        s.close();
    }
    // The pairs come free: 40 users are relayed again.
    int relayed = 0;
    for (int attempt = 0; attempt < 100 && relayed < CProxyThread::kPairs; ++attempt) {
        std::vector<tcp::socket> users;
        relayed = 0;
        for (int i = 0; i < CProxyThread::kPairs; ++i) {
            users.push_back(Connect());
            asio::write(users.back(), asio::buffer(Header("echo")));
            asio::write(users.back(), asio::buffer("z", 1));
        }
        for (auto& u : users) {
            char c = 0;
            std::error_code ec;
            asio::read(u, asio::buffer(&c, 1), ec);
            relayed += !ec && c == 'z';
        }
        if (relayed < CProxyThread::kPairs)
            std::this_thread::sleep_for(50ms);
    }
    EXPECT_EQ(relayed, CProxyThread::kPairs);
}

TEST_F(Proxy, AUserWhoResetsWhilePausedAndAComputerThatNeverAnswersFreeTheirPairs) {
    // A computer whose agent never reads: the system takes what fits in
    // its buffers, then the gateway's buffer fills and the user is paused.
    tcp::acceptor deaf(io, tcp::endpoint(asio::ip::address_v4::loopback(), 0));
    // A computer that never completes a connect: one connection fills its
    // queue, and the system drops the SYNs of further connects.
    tcp::acceptor full(io);
    full.open(tcp::v4());
    full.bind(tcp::endpoint(asio::ip::address_v4::loopback(), 0));
    full.listen(0);
    tcp::socket queued(io);
    queued.connect(full.local_endpoint());
    Start(30s, 500ms);
    {
        const uint8_t loopback[4] = {127, 0, 0, 1};
        list->AddOrUpdateEntry(ComputerEntry::Make("deaf", deaf.local_endpoint().port(), loopback));
        list->AddOrUpdateEntry(ComputerEntry::Make("full", full.local_endpoint().port(), loopback));
    }
    tcp::socket pusher = Connect();
    asio::write(pusher, asio::buffer(Header("deaf")));
    pusher.non_blocking(true);
    std::vector<uint8_t> chunk(65536, 0x42);
    // Until everything on the way is full: the pusher cannot write and the
    // gateway has passed nothing on for half a second. A slow relay (under
    // Wine) still drains into the computer's buffers in bursts well after
    // the pusher's first refusal, and a user who resets then is not paused.
    uint64_t passed = 0;
    for (int i = 0, still = 0; i < 2000 && still < 5; ++i) {
        std::error_code ec;
        pusher.write_some(asio::buffer(chunk), ec);
        if (ec != asio::error::would_block) {
            still = 0;
            continue;
        }
        std::this_thread::sleep_for(100ms);
        const uint64_t now = stats->Get(Counter::BytesToComputer);
        still = now == passed ? still + 1 : 0;
        passed = now;
    }
    ASSERT_TRUE(Eventually([&] { return stats->Snapshot().sessions.size() == 1; }));
    pusher.set_option(asio::socket_base::linger(true, 0));
    pusher.close();
    // Freed within a few checks, not when the computer closes.
    EXPECT_TRUE(Eventually([&] { return stats->Snapshot().sessions.empty(); }));
    EXPECT_EQ(stats->Get(Counter::PausedPeerGone), 1u);

    tcp::socket waiting = Connect();
    asio::write(waiting, asio::buffer(Header("full")));
    const auto asked = std::chrono::steady_clock::now();
    EXPECT_TRUE(ReadsToEnd(waiting));
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 5s);
    EXPECT_EQ(stats->Get(Counter::RelayConnectFailed), 1u);

    // A user who ends its sending and resets at once: the computer's answer
    // to that end goes to a socket already reset, which ends that pair and
    // nothing else. (A system may take the reset before the header, and
    // then not relay at all: at least one of them must reach the computer.)
    for (int i = 0; i < 20; ++i) {
        tcp::socket gone = Connect();
        asio::write(gone, asio::buffer(Header("counter")));
        gone.shutdown(tcp::socket::shutdown_send);
        gone.set_option(asio::socket_base::linger(true, 0));
        gone.close();
    }
    EXPECT_TRUE(Eventually([&] {
        return stats->Get(Counter::RelayStarted) > 1 && stats->Snapshot().sessions.empty();
    }));
}

}  // namespace
}  // namespace ov::gateway
