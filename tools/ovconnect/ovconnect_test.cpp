#include <gtest/gtest.h>

#include <asio.hpp>
#include <mutex>
#include <set>
#include <thread>

#include "common/bytes.h"
#include "tools/ovconnect/client.h"

namespace ov::connect {
namespace {

using asio::ip::tcp;

TEST(LoginFrames, RequestCarriesIdUserAndPasswordInTheirFields) {
    IdValue id;
    for (size_t i = 0; i < id.size(); ++i) id[i] = uint8_t(0xA0 + i);
    const auto r = RequestFrame(ClientId(&id).data(), "Administrator", "pw");
    EXPECT_EQ(DecodeFixed16LE(r.data()), 171);
    EXPECT_EQ(r[2], 0x15);
    EXPECT_EQ(r[3], 0xA0);
    EXPECT_EQ(r[13], 0xAA) << "the 11th byte of the id";
    for (size_t i = 14; i < 103; ++i) ASSERT_EQ(r[i], 0) << "the id is padded with zeros at " << i;
    EXPECT_EQ(FieldText(reinterpret_cast<const char*>(r.data()) + 103, 50), "Administrator");
    EXPECT_EQ(FieldText(reinterpret_cast<const char*>(r.data()) + 153, 20), "pw");
    const auto none = RequestFrame(ClientId(nullptr).data(), "u", "");
    for (size_t i = 3; i < 103; ++i) ASSERT_EQ(none[i], 0);
    EXPECT_EQ(CheckLogin(std::string(50, 'u'), std::string(20, 'p')), "");
    EXPECT_NE(CheckLogin(std::string(51, 'u'), "p"), "");
    EXPECT_NE(CheckLogin("u", std::string(21, 'p')), "");
}

std::string ListReply(uint16_t proxy, const std::vector<std::tuple<std::string, uint32_t>>& pcs) {
    std::string r(7, '\0');
    auto* p = reinterpret_cast<uint8_t*>(r.data());
    EncodeFixed16LE(p, uint16_t(5 + 50 * pcs.size()));
    p[2] = 0x16;
    EncodeFixed16LE(p + 3, 1);
    EncodeFixed16LE(p + 5, proxy);
    for (auto& [name, port] : pcs) {
        std::string rec(50, '\0');
        rec.replace(0, std::min<size_t>(name.size(), 40), name.substr(0, 40));
        EncodeFixed32LE(reinterpret_cast<uint8_t*>(rec.data()) + 40, port);
        rec[44] = char(192), rec[45] = 0, rec[46] = 2, rec[47] = 7;
        r += rec;
    }
    return r;
}

std::string ShortReply(uint16_t code, uint16_t size = 3, uint8_t sign = 0x16) {
    std::string r(5, '\0');
    auto* p = reinterpret_cast<uint8_t*>(r.data());
    EncodeFixed16LE(p, size);
    p[2] = sign;
    EncodeFixed16LE(p + 3, code);
    return r;
}

TEST(LoginFrames, EveryRefusalHasItsOwnExitCode) {
    EXPECT_EQ(ExitFor(1), kExitOk);
    std::set<int> seen;
    for (uint16_t c : {0x00, 0xAA, 0xBB, 0xCC}) EXPECT_TRUE(seen.insert(ExitFor(c)).second) << c;
    EXPECT_EQ(ExitFor(7), kExitNetwork);
    EXPECT_NE(MessageFor(0xAA, "bob").find("bob"), std::string::npos);
}

TEST(Arguments, PasswordFromTheEnvironmentAndRefusals) {
    Options o;
    std::string error;
    ASSERT_TRUE(
        ParseArguments({"list", "--gateway", "gw:6111", "--user", "u"}, "secret", &o, &error))
        << error;
    EXPECT_EQ(o.password, "secret");
    EXPECT_EQ(o.gateway_host, "gw");
    EXPECT_EQ(o.cmd_port, 6111);
    ASSERT_TRUE(ParseArguments({"list", "--gateway", "gw", "--user", "u", "--password", "cli"},
                               "env", &o, &error));
    EXPECT_EQ(o.password, "cli") << "the command line wins";
    EXPECT_EQ(o.cmd_port, kDefaultCmdPort);
    ASSERT_TRUE(ParseArguments({"forward", "pc1", "--listen", "0.0.0.0:5901", "--gateway", "gw",
                                "--user", "u", "--password", "p", "--proxy-port", "7000"},
                               std::nullopt, &o, &error))
        << error;
    EXPECT_EQ(o.listen_address, "0.0.0.0");
    EXPECT_EQ(o.listen_port, 5901);
    EXPECT_EQ(o.proxy_port, 7000);

    const std::vector<std::vector<std::string>> bad = {
        {"list", "--gateway", "gw", "--user", "u"},  // no password anywhere
        {"list", "--gateway", "gw:0", "--user", "u", "--password", "p"},
        {"list", "--gateway", "gw:70000", "--user", "u", "--password", "p"},
        {"list", "--user", "u", "--password", "p"},
        {"forward", "pc1", "--gateway", "gw", "--user", "u", "--password", "p"},  // no --listen
        {"forward", std::string(41, 'n'), "--listen", "1", "--gateway", "gw", "--user", "u",
         "--password", "p"},
        {"forward", "pc1", "--listen", "localhost:1", "--gateway", "gw", "--user", "u",
         "--password", "p"},
        {"stdio", "--gateway", "gw", "--user", "u", "--password", "p"},
        {"copy", "--gateway", "gw", "--user", "u", "--password", "p"},
        {"list", "--gateway", "gw", "--user", "u", "--password", std::string(21, 'p')},
        {"list", "--gateway", "gw", "--user", "u", "--password", "p", "--timeout", "0"},
    };
    for (const auto& args : bad) {
        error.clear();
        EXPECT_FALSE(ParseArguments(args, std::nullopt, &o, &error)) << args[0];
        EXPECT_FALSE(error.empty());
    }
}

// A command port or proxy port on loopback, served by one thread.
class FakeServer {
  public:
    explicit FakeServer(std::function<void(tcp::socket&)> serve)
        : m_acceptor(m_io, tcp::endpoint(asio::ip::address_v4::loopback(), 0)),
          m_thread([this, serve]() {
              for (;;) {
                  asio::error_code ec;
                  tcp::socket s(m_io);
                  m_acceptor.accept(s, ec);
                  if (ec || m_stop)
                      return;
                  m_workers.emplace_back([serve, s = std::move(s)]() mutable { serve(s); });
              }
          }) {}
    ~FakeServer() {
        m_stop = true;
        asio::io_context io;
        tcp::socket poke(io);
        asio::error_code ec;
        poke.connect(m_acceptor.local_endpoint(), ec);
        m_thread.join();
        for (auto& w : m_workers) w.join();
    }
    uint16_t Port() const { return m_acceptor.local_endpoint().port(); }

  private:
    asio::io_context m_io;
    tcp::acceptor m_acceptor;
    std::atomic<bool> m_stop{false};
    std::vector<std::thread> m_workers;
    std::thread m_thread;
};

Options LoginOptions(uint16_t port) {
    Options o;
    o.command = "list";
    o.gateway_host = "127.0.0.1";
    o.cmd_port = port;
    o.user = "u";
    o.password = "p";
    o.timeout = std::chrono::milliseconds(500);
    return o;
}

TEST(LogIn, ReadsTheListAndMapsRefusals) {
    std::string reply = ListReply(6121, {{"pc1", 5900}});
    std::string seen;
    FakeServer server([&](tcp::socket& s) {
        std::string req(173, '\0');
        asio::error_code ec;
        asio::read(s, asio::buffer(req), ec);
        seen = req;
        asio::write(s, asio::buffer(reply), ec);
    });
    Login ok = LogIn(LoginOptions(server.Port()));
    ASSERT_EQ(ok.outcome.exit, kExitOk) << ok.outcome.message;
    EXPECT_EQ(ok.reply.proxy_port, 6121);
    EXPECT_EQ(ok.gateway_address, "127.0.0.1");
    EXPECT_EQ(seen.substr(103, 2), std::string("u\0", 2));

    Options o = LoginOptions(server.Port());
    o.computer = "pc1";
    EXPECT_EQ(CheckListed(o, ok.reply).exit, kExitOk);
    o.computer = "PC1";
    EXPECT_EQ(CheckListed(o, ok.reply).exit, kExitNotListed) << "names are exact";

    reply = ShortReply(0xCC);
    Login locked = LogIn(LoginOptions(server.Port()));
    EXPECT_EQ(locked.outcome.exit, kExitAccountLocked);
    reply = ShortReply(0xBB, 3, 0x99);
    EXPECT_EQ(LogIn(LoginOptions(server.Port())).outcome.exit, kExitNetwork);
}

TEST(LogIn, GivesUpOnASilentOrClosingGateway) {
    FakeServer silent([](tcp::socket& s) {
        char b[256];
        asio::error_code ec;
        while (!ec) s.read_some(asio::buffer(b), ec);  // until the client gives up
    });
    const auto start = std::chrono::steady_clock::now();
    Login l = LogIn(LoginOptions(silent.Port()));
    EXPECT_EQ(l.outcome.exit, kExitNetwork);
    EXPECT_NE(l.outcome.message.find("in time"), std::string::npos) << l.outcome.message;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));

    FakeServer closing([](tcp::socket& s) { s.close(); });
    l = LogIn(LoginOptions(closing.Port()));
    EXPECT_EQ(l.outcome.exit, kExitNetwork);

    Options o = LoginOptions(1);
    o.id_file = "/nonexistent/x.id";
    EXPECT_EQ(LogIn(o).outcome.exit, kExitLocal) << "an unreadable ID file is the user's fault";
}

// The proxy port's side: checks the header, then echoes until the client's
// end and closes.
void EchoAfterHeader(tcp::socket& s, std::atomic<int>* bad_headers) {
    std::array<uint8_t, 50> header;
    asio::error_code ec;
    asio::read(s, asio::buffer(header), ec);
    if (ec || FieldText(reinterpret_cast<const char*>(header.data()), 40) != "pc1" ||
        header[3] != 0 || header[49] != 0) {
        ++*bad_headers;
        return;
    }
    std::array<char, 8192> b;
    for (;;) {
        size_t n = s.read_some(asio::buffer(b), ec);
        if (ec)
            break;
        asio::write(s, asio::buffer(b.data(), n), ec);
    }
    s.shutdown(tcp::socket::shutdown_send, ec);
}

TEST(Forward, EveryConnectionIsRelayedWholeWithHalfClose) {
    std::atomic<int> bad_headers{0};
    FakeServer proxy([&](tcp::socket& s) { EchoAfterHeader(s, &bad_headers); });
    Options o = LoginOptions(0);
    o.computer = "pc1";
    o.listen_port = 0;
    asio::io_context io;
    std::mutex mutex;
    std::vector<std::string> lines;
    auto count = [&]() {
        std::lock_guard<std::mutex> lock(mutex);
        return lines.size();
    };
    uint16_t port = 0;
    ASSERT_EQ(StartForward(
                  io, o, "127.0.0.1", proxy.Port(),
                  [&](const std::string& l) {
                      std::lock_guard<std::mutex> lock(mutex);
                      lines.push_back(l);
                  },
                  &port)
                  .exit,
              kExitOk);
    std::thread runner([&]() { io.run_for(std::chrono::seconds(30)); });

    auto one = [&](int i, bool* ok) {
        asio::io_context cio;
        tcp::socket c(cio);
        c.connect(tcp::endpoint(asio::ip::address_v4::loopback(), port));
        std::string data(1 << 20, '\0');
        for (size_t k = 0; k < data.size(); ++k) data[k] = char((k * 7 + i) % 251);
        std::thread writer([&]() {
            asio::write(c, asio::buffer(data));
            c.shutdown(tcp::socket::shutdown_send);  // the end of the request, not of the answer
        });
        std::string back;
        asio::error_code ec;
        std::array<char, 65536> b;
        for (;;) {
            size_t n = c.read_some(asio::buffer(b), ec);
            if (ec)
                break;
            back.append(b.data(), n);
        }
        writer.join();
        *ok = ec == asio::error::eof && back == data;
    };
    bool ok[4] = {};
    std::vector<std::thread> clients;
    for (int i = 0; i < 4; ++i) clients.emplace_back(one, i, &ok[i]);
    for (auto& t : clients) t.join();
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(ok[i]) << "connection " << i;
    EXPECT_EQ(bad_headers, 0);
    // The last tunnel logs just after its client saw the end.
    for (int i = 0; i < 100 && count() < 4; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    io.stop();
    runner.join();
    ASSERT_EQ(lines.size(), 4u) << "one line per connection";
    EXPECT_NE(lines[0].find("1048576 bytes sent, 1048576 received"), std::string::npos) << lines[0];
}

// One local connection through the forward at port: true when the bytes
// came back whole.
bool EchoThrough(uint16_t port) {
    asio::io_context cio;
    tcp::socket c(cio);
    asio::error_code ec;
    c.connect(tcp::endpoint(asio::ip::address_v4::loopback(), port), ec);
    const std::string data = "through the gateway";
    asio::write(c, asio::buffer(data), ec);
    c.shutdown(tcp::socket::shutdown_send, ec);
    std::string back;
    std::array<char, 256> b;
    while (!ec) {
        size_t n = c.read_some(asio::buffer(b), ec);
        back.append(b.data(), n);
    }
    return back == data;
}

TEST(Forward, RelaysWhileTheLoginIsHeldAndLogsInAgainBeforeTheNextRelay) {
    std::atomic<int> logins{0}, drops{0};
    std::atomic<bool> refuse{false}, done{false};
    // The command port: each login is answered and then held open until
    // the test drops it.
    FakeServer cmd([&](tcp::socket& s) {
        std::string req(173, '\0');
        asio::error_code ec;
        asio::read(s, asio::buffer(req), ec);
        if (ec)
            return;
        ++logins;
        const int held = drops;
        asio::write(s, asio::buffer(refuse ? ShortReply(0xBB) : ListReply(6121, {})), ec);
        while (!refuse && drops == held && !done)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        s.close(ec);
    });
    std::atomic<int> bad_headers{0};
    std::mutex mutex;
    std::vector<int> logins_at_relay;
    std::vector<std::string> lines;
    FakeServer proxy([&](tcp::socket& s) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            logins_at_relay.push_back(logins);
        }
        EchoAfterHeader(s, &bad_headers);
    });
    auto log = [&](const std::string& l) {
        std::lock_guard<std::mutex> lock(mutex);
        lines.push_back(l);
    };
    auto logged = [&](const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex);
        size_t n = 0;
        for (const auto& l : lines) n += l.find(text) != std::string::npos;
        return n;
    };
    auto wait_logged = [&](const std::string& text, size_t n) {
        for (int i = 0; i < 500 && logged(text) < n; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return logged(text) >= n;
    };

    Options o = LoginOptions(cmd.Port());
    o.computer = "pc1";
    asio::io_context io;
    tcp::socket connection(io);
    ASSERT_EQ(LogIn(io, o, &connection).outcome.exit, kExitOk);
    auto keeper = std::make_shared<LoginKeeper>(io, o, log);
    keeper->Adopt(std::move(connection));
    uint16_t port = 0;
    ASSERT_EQ(StartForward(io, o, "127.0.0.1", proxy.Port(), log, &port, keeper).exit, kExitOk);
    std::thread runner([&]() { io.run_for(std::chrono::seconds(30)); });

    EXPECT_TRUE(EchoThrough(port));
    EXPECT_TRUE(EchoThrough(port));
    EXPECT_EQ(logins, 1) << "a held login serves every relay";

    ++drops;  // the gateway ends the command connection
    ASSERT_TRUE(wait_logged("command connection ended", 1));
    EXPECT_TRUE(EchoThrough(port));
    EXPECT_EQ(logins, 2);

    refuse = true;  // the password was changed meanwhile
    ++drops;
    ASSERT_TRUE(wait_logged("command connection ended", 2));
    EXPECT_FALSE(EchoThrough(port)) << "no relay without a login";
    EXPECT_TRUE(wait_logged("no login: ", 1));
    done = true;
    io.stop();
    runner.join();
    keeper->Stop();
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(logins_at_relay, (std::vector<int>{1, 1, 2}))
        << "the relay after the drop came after the new login; none without one";
    EXPECT_EQ(bad_headers, 0);
}

TEST(Forward, AProxyPortThatIsGoneIsLoggedAndTheClientClosed) {
    uint16_t dead_port;
    {
        asio::io_context io;
        tcp::acceptor a(io, tcp::endpoint(asio::ip::address_v4::loopback(), 0));
        dead_port = a.local_endpoint().port();
    }
    Options o = LoginOptions(0);
    o.computer = "pc1";
    asio::io_context io;
    std::vector<std::string> lines;
    uint16_t port = 0;
    ASSERT_EQ(
        StartForward(
            io, o, "127.0.0.1", dead_port, [&](const std::string& l) { lines.push_back(l); }, &port)
            .exit,
        kExitOk);
    std::thread runner([&]() { io.run_for(std::chrono::seconds(10)); });
    asio::io_context cio;
    tcp::socket c(cio);
    c.connect(tcp::endpoint(asio::ip::address_v4::loopback(), port));
    std::array<char, 16> b;
    asio::error_code ec;
    c.read_some(asio::buffer(b), ec);
    EXPECT_TRUE(ec) << "the local client is closed";
    io.stop();
    runner.join();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("cannot connect"), std::string::npos) << lines[0];

    // A port taken by someone else is refused with a reason.
    tcp::acceptor taken(io, tcp::endpoint(asio::ip::address_v4::loopback(), 0));
    o.listen_port = taken.local_endpoint().port();
    taken.set_option(tcp::acceptor::reuse_address(false));
    Outcome busy = StartForward(
        io, o, "127.0.0.1", dead_port, [](const std::string&) {}, &port);
    EXPECT_EQ(busy.exit, kExitLocal);
}

}  // namespace
}  // namespace ov::connect
