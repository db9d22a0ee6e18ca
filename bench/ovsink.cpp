// ovsink: the controlled computer's side of the benchmarks. A TCP server
// whose every connection starts with one mode byte (echo, sink, source; see
// bench_util.h), and, on request, the computer announcement that makes a
// gateway on the same LAN list it under a name.
//
//   ovsink --listen ADDR --port PORT [--announce NAME] [--announce-to BCAST]
//          [--announce-address A[,A...]] [--announce-interval SECONDS]
//
// Runs until SIGINT or SIGTERM, then prints one line of totals on stderr.

#include <array>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <asio.hpp>

#include "bench/bench_util.h"
#include "common/bytes.h"
#include "common/computer_records.h"

namespace ov::bench {
namespace {

using asio::awaitable;
using asio::use_awaitable;
using tcp = asio::ip::tcp;
using udp = asio::ip::udp;

constexpr uint16_t kAnnouncementPort = 768;
constexpr size_t kChunk = 64 * 1024;

struct Totals {
    uint64_t connections = 0;
    uint64_t bytes_in = 0;
    uint64_t bytes_out = 0;
    uint64_t corrupt = 0;  // sink connections closed on a byte off the pattern
    uint64_t bad_mode = 0;
};

class Agent {
  public:
    Agent(asio::io_context& io, const Pattern& pattern) : m_io(io), m_pattern(pattern) {}

    awaitable<void> Accept(tcp::acceptor acceptor) {
        for (;;) {
            tcp::socket s = co_await acceptor.async_accept(use_awaitable);
            asio::error_code ec;
            s.set_option(tcp::no_delay(true), ec);
            ++m_totals.connections;
            asio::co_spawn(m_io, Serve(std::move(s)), asio::detached);
        }
    }

    const Totals& totals() const { return m_totals; }

  private:
    awaitable<void> Serve(tcp::socket s) {
        try {
            uint8_t mode = 0;
            co_await asio::async_read(s, asio::buffer(&mode, 1), use_awaitable);
            switch (AgentMode(mode)) {
                case AgentMode::Echo:
                    co_await Echo(s);
                    break;
                case AgentMode::Sink:
                    co_await Sink(s);
                    break;
                case AgentMode::Source:
                    co_await Source(s);
                    break;
                default:
                    ++m_totals.bad_mode;
                    break;
            }
        } catch (const asio::system_error&) {
            // The client went away: the normal end of every connection.
        }
    }

    awaitable<void> Echo(tcp::socket& s) {
        std::vector<uint8_t> buf(kChunk);
        for (;;) {
            size_t n = co_await s.async_read_some(asio::buffer(buf), use_awaitable);
            m_totals.bytes_in += n;
            co_await asio::async_write(s, asio::buffer(buf.data(), n), use_awaitable);
            m_totals.bytes_out += n;
        }
    }

    awaitable<void> Sink(tcp::socket& s) {
        std::vector<uint8_t> buf(kChunk);
        uint64_t checked = 0, next_ack = kSinkAckEvery;
        for (;;) {
            size_t n = co_await s.async_read_some(asio::buffer(buf), use_awaitable);
            m_totals.bytes_in += n;
            if (!m_pattern.Matches(checked, buf.data(), n)) {
                ++m_totals.corrupt;
                std::fprintf(stderr, "ovsink: stream off the pattern after %llu bytes; closed\n",
                             static_cast<unsigned long long>(checked));
                co_return;
            }
            checked += n;
            if (checked >= next_ack) {
                std::array<uint8_t, kAckSize> ack{};
                EncodeFixed32LE(ack.data(), uint32_t(checked));
                EncodeFixed32LE(ack.data() + 4, uint32_t(checked >> 32));
                co_await asio::async_write(s, asio::buffer(ack), use_awaitable);
                next_ack = checked + kSinkAckEvery;
            }
        }
    }

    awaitable<void> Source(tcp::socket& s) {
        uint64_t sent = 0;
        for (;;) {
            size_t n = co_await s.async_write_some(asio::buffer(m_pattern.At(sent), kChunk),
                                                   use_awaitable);
            sent += n;
            m_totals.bytes_out += n;
        }
    }

    asio::io_context& m_io;
    const Pattern& m_pattern;
    Totals m_totals;
};

ComputerAnnouncement MakeAnnouncement(const std::string& name, uint16_t port,
                                      const std::vector<asio::ip::address_v4>& addresses) {
    ComputerAnnouncement a;
    std::memcpy(a.bytes, name.data(), std::min(name.size(), kHostNameSize));
    EncodeFixed32LE(a.bytes + ComputerAnnouncement::kPortOffset, port);
    for (size_t i = 0; i < addresses.size() && i < ComputerAnnouncement::kAddresses; ++i) {
        auto b = addresses[i].to_bytes();
        std::memcpy(a.bytes + ComputerAnnouncement::kAddressOffset + 4 * i, b.data(), 4);
    }
    return a;
}

// Repeats the announcement, so that a gateway started after the agent still
// learns the computer; the gateway drops identical repeats.
awaitable<void> Announce(udp::socket sock, udp::endpoint to, ComputerAnnouncement a,
                         std::chrono::milliseconds every) {
    asio::steady_timer timer(sock.get_executor());
    for (;;) {
        asio::error_code ec;
        sock.send_to(asio::buffer(a.bytes), to, 0, ec);
        if (ec)
            std::fprintf(stderr, "ovsink: announcement to %s: %s\n",
                         to.address().to_string().c_str(), ec.message().c_str());
        timer.expires_after(every);
        co_await timer.async_wait(use_awaitable);
    }
}

const std::vector<std::string_view> kKnown = {
    "listen", "port", "announce", "announce-to", "announce-address", "announce-interval", "help"};

int Usage(const std::string& why) {
    std::fprintf(stderr,
                 "ovsink: %s\n"
                 "usage: ovsink --port PORT [--listen ADDR] [--announce NAME [--announce-to "
                 "BCAST] [--announce-address A[,A...]] [--announce-interval SECONDS]]\n",
                 why.c_str());
    return 2;
}

int Main(int argc, char** argv) {
    Options opt(argc, argv, {"help"});
    if (opt.Has("help"))
        return Usage("the agent of the benchmarks");
    std::string listen = opt.Text("listen", "0.0.0.0");
    double port = opt.Number("port", 0);
    double interval = opt.Number("announce-interval", 1);
    if (auto problem = opt.Problem(kKnown); !problem.empty())
        return Usage(problem);
    if (port < 1 || port > 65535)
        return Usage("--port PORT is needed");

    asio::error_code ec;
    auto listen_addr = asio::ip::make_address(listen, ec);
    if (ec)
        return Usage("--listen: " + ec.message());

    asio::io_context io(1);
    Pattern pattern;
    Agent agent(io, pattern);
    tcp::acceptor acceptor(io);
    tcp::endpoint ep(listen_addr, uint16_t(port));
    acceptor.open(ep.protocol());
    acceptor.set_option(tcp::acceptor::reuse_address(true));
    acceptor.bind(ep, ec);
    if (ec) {
        std::fprintf(stderr, "ovsink: cannot listen on %s:%u: %s\n", listen.c_str(), unsigned(port),
                     ec.message().c_str());
        return 1;
    }
    acceptor.listen(asio::socket_base::max_listen_connections);
    asio::co_spawn(io, agent.Accept(std::move(acceptor)), asio::detached);

    if (opt.Has("announce")) {
        std::vector<asio::ip::address_v4> addresses;
        std::string list = opt.Text("announce-address", listen);
        for (size_t pos = 0; pos <= list.size();) {
            size_t comma = std::min(list.find(',', pos), list.size());
            auto a = asio::ip::make_address_v4(list.substr(pos, comma - pos), ec);
            if (ec)
                return Usage("--announce-address: " + ec.message());
            addresses.push_back(a);
            pos = comma + 1;
        }
        auto to = asio::ip::make_address_v4(opt.Text("announce-to", "255.255.255.255"), ec);
        if (ec)
            return Usage("--announce-to: " + ec.message());
        udp::socket sock(io, udp::v4());
        sock.set_option(asio::socket_base::broadcast(true));
        auto a = MakeAnnouncement(opt.Text("announce", ""), uint16_t(port), addresses);
        asio::co_spawn(io,
                       Announce(std::move(sock), udp::endpoint(to, kAnnouncementPort), a,
                                std::chrono::milliseconds(int64_t(interval * 1000))),
                       asio::detached);
    }

    asio::signal_set signals(io, SIGINT, SIGTERM);
    signals.async_wait([&](const asio::error_code&, int) { io.stop(); });
    std::fprintf(stderr, "ovsink: listening on %s:%u\n", listen.c_str(), unsigned(port));
    io.run();

    const Totals& t = agent.totals();
    std::fprintf(
        stderr, "ovsink connections=%llu bytes_in=%llu bytes_out=%llu corrupt=%llu bad_mode=%llu\n",
        static_cast<unsigned long long>(t.connections), static_cast<unsigned long long>(t.bytes_in),
        static_cast<unsigned long long>(t.bytes_out), static_cast<unsigned long long>(t.corrupt),
        static_cast<unsigned long long>(t.bad_mode));
    return t.corrupt == 0 ? 0 : 1;
}

}  // namespace
}  // namespace ov::bench

int main(int argc, char** argv) {
    return ov::bench::Main(argc, argv);
}
