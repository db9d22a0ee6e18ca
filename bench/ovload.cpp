// ovload: load for the gateway's command port and relay, and for the relays
// we compare it with. One process, one thread, many connections.
//
//   ovload MODE --host H --port P [options]     MODE: auth | stream | pingpong | cer
//
// auth      log in on the command port over and over; authentications per second
//           and the reply's latency (with --reconnect, from the connect on);
//           --idle N of the connections only connect and stay silent
// stream    N streams through the relay to an ovsink; throughput (checked bytes)
// pingpong  1-byte round trips; latency percentiles
// cer       connect, 1 KiB echo, close; connections per second
//
// Relay modes open every connection with the gateway's 50-byte header when
// --header NAME is given (the computer's name, zero-filled), then the agent's
// mode byte. --login USER:PASSWORD logs in on the gateway's command port
// (--cmd-port, 6111 unless given) first and keeps that connection open for
// the whole run, as a gateway that relays only for those logged in wants.
// --bind ADDR gives every connection that source address (one of several on
// the machine, to load from two addresses at once). The run lasts --warmup
// plus --seconds and nothing longer: a target that accepts and then stays silent gives a zero
// result, never a hang. Prints one line of key=value pairs on stdout; exit code 0 when the window
// saw work done and no corrupted byte, else 1 (2: bad command line).

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <asio.hpp>

#include "bench/bench_util.h"
#include "common/bytes.h"
#include "common/login_frame.h"
#include "common/relay_header.h"

namespace ov::bench {
namespace {

using asio::awaitable;
using asio::use_awaitable;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;

// The login frame with each text cut to leave its field a NUL, and the
// client ID the text given, zero-filled.
std::vector<uint8_t> AuthFrame(const std::string& client_id, const std::string& user,
                               const std::string& password) {
    uint8_t id[AuthRequest::kClientIdSize] = {};
    std::memcpy(id, client_id.data(), std::min(client_id.size(), sizeof id));
    return RequestFrame(id, std::string_view(user).substr(0, AuthRequest::kUserSize - 1),
                        std::string_view(password).substr(0, AuthRequest::kPasswordSize - 1));
}

enum class Mode { Auth, Stream, PingPong, Cer };
enum class Direction { Both, Up, Down };

struct Config {
    Mode mode = Mode::Stream;
    std::string mode_name;
    tcp::endpoint target;
    bool header = false;
    std::string computer;
    int conns = 1;
    double seconds = 3, warmup = 0.5;
    Direction direction = Direction::Both;
    std::string direction_name = "both";
    size_t chunk = 64 * 1024;
    size_t size = 1024;  // cer's echo
    std::string user, password, client_id;
    bool reconnect = false;
    int idle = 0;  // auth: of the connections, these stay silent
    std::string label;
    bool login = false;  // relay modes: log in before, and stay logged in
    std::string login_user, login_password;
    uint16_t cmd_port = 6111;
    asio::ip::address bind;  // unspecified: the system's choice
};

// Opens s with cfg's source address, if one was given.
void BindSource(const Config& cfg, tcp::socket& s) {
    if (cfg.bind.is_unspecified())
        return;
    s.open(cfg.bind.is_v4() ? tcp::v4() : tcp::v6());
    s.bind(tcp::endpoint(cfg.bind, 0));
}

struct Counters {
    uint64_t up = 0, down = 0;  // checked payload bytes, each direction
    uint64_t done = 0;          // round trips, connections or authentications
    uint64_t errors = 0, corrupt = 0, rejected = 0;
};

class Load {
  public:
    Load(asio::io_context& io, const Config& cfg, const Pattern& pattern)
        : m_io(io), m_cfg(cfg), m_pattern(pattern), m_timer(io) {
        if (cfg.header) {
            const RelayHeader h = MakeRelayHeader(cfg.computer);
            m_preamble.assign(h.begin(), h.end());
        }
    }

    void Start() {
        for (int i = 0; i < m_cfg.conns; ++i) {
            switch (m_cfg.mode) {
                case Mode::Auth:
                    // The silent ones spread evenly among the others.
                    Spawn((i + 1) * m_cfg.idle / m_cfg.conns > i * m_cfg.idle / m_cfg.conns
                              ? Idle()
                              : Auth());
                    break;
                case Mode::Stream:
                    Spawn(Stream());
                    break;
                case Mode::PingPong:
                    Spawn(PingPong());
                    break;
                case Mode::Cer:
                    Spawn(Cer());
                    break;
            }
        }
        m_timer.expires_after(Seconds(m_cfg.warmup));
        m_timer.async_wait([this](const asio::error_code&) {
            m_first = m_c;
            m_window_start = Clock::now();
            m_measuring = true;
            m_timer.expires_after(Seconds(m_cfg.seconds));
            m_timer.async_wait([this](const asio::error_code&) { Stop(); });
        });
    }

    void Report() const {
        Counters d = Delta();
        double t = std::chrono::duration<double>(m_window_end - m_window_start).count();
        if (t <= 0)
            t = 1e-9;
        std::printf("ovload mode=%s label=%s conns=%d seconds=%.3f", m_cfg.mode_name.c_str(),
                    m_cfg.label.empty() ? "-" : m_cfg.label.c_str(), m_cfg.conns, t);
        switch (m_cfg.mode) {
            case Mode::Stream:
                std::printf(
                    " direction=%s ready=%d alive=%d up_mbit_s=%.1f down_mbit_s=%.1f "
                    "total_mbit_s=%.1f",
                    m_cfg.direction_name.c_str(), m_ready, m_alive_at_end, d.up * 8 / t / 1e6,
                    d.down * 8 / t / 1e6, (d.up + d.down) * 8 / t / 1e6);
                break;
            case Mode::PingPong:
                std::printf(" round_trips=%llu rtt_p50_us=%.1f rtt_p99_us=%.1f rtt_mean_us=%.1f",
                            static_cast<unsigned long long>(d.done), Percentile(0.50),
                            Percentile(0.99), Mean());
                break;
            case Mode::Cer:
                std::printf(" size=%zu connections=%llu conn_per_s=%.0f p50_us=%.1f p99_us=%.1f",
                            m_cfg.size, static_cast<unsigned long long>(d.done), d.done / t,
                            Percentile(0.50), Percentile(0.99));
                break;
            case Mode::Auth:
                // Only logins that were let in count; a refusal is a cheaper reply.
                std::printf(
                    " reconnect=%d idle=%d replies=%llu auth_per_s=%.0f rejected=%llu "
                    "last_code=%d p50_us=%.1f p99_us=%.1f",
                    m_cfg.reconnect ? 1 : 0, m_cfg.idle, static_cast<unsigned long long>(d.done),
                    (d.done - d.rejected) / t, static_cast<unsigned long long>(d.rejected),
                    m_last_code, Percentile(0.50), Percentile(0.99));
                break;
        }
        std::printf(" errors=%llu corrupt=%llu\n", static_cast<unsigned long long>(d.errors),
                    static_cast<unsigned long long>(d.corrupt));
        std::fflush(stdout);
    }

    bool Succeeded() const {
        Counters d = Delta();
        bool work = m_cfg.mode == Mode::Stream ? d.up + d.down > 0 : d.done > d.rejected;
        return work && d.corrupt == 0;
    }

  private:
    static std::chrono::nanoseconds Seconds(double s) {
        return std::chrono::nanoseconds(int64_t(s * 1e9));
    }

    Counters Delta() const {
        return {m_last.up - m_first.up,           m_last.down - m_first.down,
                m_last.done - m_first.done,       m_last.errors - m_first.errors,
                m_last.corrupt - m_first.corrupt, m_last.rejected - m_first.rejected};
    }

    double Percentile(double p) const {
        if (m_samples.empty())
            return 0;
        std::vector<uint32_t> s = m_samples;
        size_t i = std::min(s.size() - 1, size_t(p * double(s.size())));
        std::nth_element(s.begin(), s.begin() + i, s.end());
        return s[i] / 1000.0;
    }
    double Mean() const {
        if (m_samples.empty())
            return 0;
        double sum = 0;
        for (uint32_t v : m_samples) sum += v;
        return sum / double(m_samples.size()) / 1000.0;
    }

    void Sample(Clock::time_point since) {
        if (!m_measuring)
            return;
        auto ns =
            std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - since).count();
        m_samples.push_back(uint32_t(std::min<int64_t>(ns, UINT32_MAX)));
    }

    // Ends the window: the counters are taken first, then every open socket
    // is closed so that each worker leaves its loop.
    void Stop() {
        m_last = m_c;
        m_alive_at_end = m_alive;
        m_window_end = Clock::now();
        m_measuring = false;
        m_stopped = true;
        for (tcp::socket* s : m_open) {
            asio::error_code ec;
            s->close(ec);
        }
        // A worker between two operations (a pause after an error) ends at
        // its next check; this bounds the wait for the stragglers.
        m_timer.expires_after(std::chrono::seconds(1));
        m_timer.async_wait([this](const asio::error_code&) { m_io.stop(); });
    }

    // Keeps a socket in the set that Stop() closes, for the guard's lifetime.
    class Open {
      public:
        Open(Load& load, tcp::socket& s) : m_load(load), m_s(&s) { load.m_open.insert(m_s); }
        ~Open() { m_load.m_open.erase(m_s); }
        Open(const Open&) = delete;
        Open& operator=(const Open&) = delete;

      private:
        Load& m_load;
        tcp::socket* m_s;
    };

    void Spawn(awaitable<void> work) { asio::co_spawn(m_io, std::move(work), asio::detached); }

    void Failed() {
        if (!m_stopped)
            ++m_c.errors;
    }

    awaitable<void> Connect(tcp::socket& s) {
        BindSource(m_cfg, s);
        co_await s.async_connect(m_cfg.target, use_awaitable);
        s.set_option(tcp::no_delay(true));
    }

    // The header (when the target is the gateway) and the agent's mode byte.
    std::vector<uint8_t> Preamble(AgentMode mode) const {
        std::vector<uint8_t> p = m_preamble;
        p.push_back(uint8_t(mode));
        return p;
    }

    awaitable<void> Pause() {
        asio::steady_timer t(m_io);
        t.expires_after(std::chrono::milliseconds(10));
        co_await t.async_wait(use_awaitable);
    }

    awaitable<void> Stream() {
        auto s = std::make_shared<tcp::socket>(m_io);
        Open guard(*this, *s);
        try {
            co_await Connect(*s);
            AgentMode mode = m_cfg.direction == Direction::Both ? AgentMode::Echo
                             : m_cfg.direction == Direction::Up ? AgentMode::Sink
                                                                : AgentMode::Source;
            co_await asio::async_write(*s, asio::buffer(Preamble(mode)), use_awaitable);
            ++m_ready;
            ++m_alive;
            if (m_cfg.direction != Direction::Down)
                Spawn(Send(s));
            try {
                if (m_cfg.direction == Direction::Up)
                    co_await ReadAcks(*s);
                else
                    co_await ReadPattern(*s);
            } catch (const asio::system_error&) {
                --m_alive;
                throw;
            }
            --m_alive;
        } catch (const asio::system_error&) {
            Failed();
        }
        asio::error_code ec;
        s->close(ec);  // ends the sender too
    }

    awaitable<void> Send(std::shared_ptr<tcp::socket> s) {
        uint64_t sent = 0;
        try {
            for (;;) {
                size_t n = co_await asio::async_write(
                    *s, asio::buffer(m_pattern.At(sent), m_cfg.chunk), use_awaitable);
                sent += n;
                if (m_cfg.direction == Direction::Both)
                    m_c.up += n;
            }
        } catch (const asio::system_error&) {
            // The reader closed the socket or the connection broke; the
            // reader counts it.
        }
    }

    awaitable<void> ReadPattern(tcp::socket& s) {
        std::vector<uint8_t> buf(m_cfg.chunk);
        uint64_t got = 0;
        for (;;) {
            size_t n = co_await s.async_read_some(asio::buffer(buf), use_awaitable);
            if (!m_pattern.Matches(got, buf.data(), n)) {
                ++m_c.corrupt;
                co_return;
            }
            got += n;
            m_c.down += n;
        }
    }

    awaitable<void> ReadAcks(tcp::socket& s) {
        std::array<uint8_t, kAckSize> ack;
        uint64_t acked = 0;
        for (;;) {
            co_await asio::async_read(s, asio::buffer(ack), use_awaitable);
            uint64_t total = DecodeFixed32LE(ack.data()) | uint64_t(DecodeFixed32LE(ack.data() + 4))
                                                               << 32;
            if (total < acked) {
                ++m_c.corrupt;
                co_return;
            }
            m_c.up += total - acked;
            acked = total;
        }
    }

    awaitable<void> PingPong() {
        tcp::socket s(m_io);
        Open guard(*this, s);
        try {
            co_await Connect(s);
            co_await asio::async_write(s, asio::buffer(Preamble(AgentMode::Echo)), use_awaitable);
            for (uint8_t i = 0;; ++i) {
                auto t0 = Clock::now();
                uint8_t out = i, in = 0;
                co_await asio::async_write(s, asio::buffer(&out, 1), use_awaitable);
                co_await asio::async_read(s, asio::buffer(&in, 1), use_awaitable);
                if (in != out) {
                    ++m_c.corrupt;
                    co_return;
                }
                Sample(t0);
                ++m_c.done;
            }
        } catch (const asio::system_error&) {
            Failed();
        }
    }

    awaitable<void> Cer() {
        std::vector<uint8_t> out = Preamble(AgentMode::Echo);
        out.insert(out.end(), m_pattern.At(0), m_pattern.At(0) + m_cfg.size);
        std::vector<uint8_t> in(m_cfg.size);
        while (!m_stopped) {
            auto t0 = Clock::now();
            bool ok = false;
            {
                tcp::socket s(m_io);
                Open guard(*this, s);
                try {
                    co_await Connect(s);
                    co_await asio::async_write(s, asio::buffer(out), use_awaitable);
                    co_await asio::async_read(s, asio::buffer(in), use_awaitable);
                    if (m_pattern.Matches(0, in.data(), in.size())) {
                        ok = true;
                    } else if (!m_stopped) {
                        ++m_c.corrupt;
                    }
                } catch (const asio::system_error&) {
                    Failed();
                }
            }
            if (ok) {
                Sample(t0);
                ++m_c.done;
            } else if (!m_stopped) {
                co_await Pause();  // a target that refuses must not make us spin
            }
        }
    }

    awaitable<void> Auth() {
        const auto frame = AuthFrame(m_cfg.client_id, m_cfg.user, m_cfg.password);
        std::vector<uint8_t> rest;  // grows to the longest reply seen, 64 KiB at most
        while (!m_stopped) {
            bool again = true;
            {
                tcp::socket s(m_io);
                Open guard(*this, s);
                try {
                    auto t0 = Clock::now();
                    co_await Connect(s);
                    while (!m_stopped) {
                        if (!m_cfg.reconnect)
                            t0 = Clock::now();
                        co_await asio::async_write(s, asio::buffer(frame), use_awaitable);
                        std::array<uint8_t, kReplyHeadSize> head;
                        co_await asio::async_read(s, asio::buffer(head), use_awaitable);
                        std::string why;
                        const std::optional<size_t> n = ReplyRest(head.data(), &why);
                        if (!n) {
                            ++m_c.corrupt;
                            again = false;
                            break;
                        }
                        rest.resize(*n);
                        co_await asio::async_read(s, asio::buffer(rest), use_awaitable);
                        m_last_code = DecodeFixed16LE(head.data() + 3);
                        if (m_last_code != int(AuthCode::Ok))
                            ++m_c.rejected;
                        Sample(t0);
                        ++m_c.done;
                        if (m_cfg.reconnect)
                            break;
                    }
                } catch (const asio::system_error&) {
                    Failed();
                }
            }
            if (!again)
                co_return;
            if (!m_cfg.reconnect && !m_stopped)
                co_await Pause();  // the connection broke
        }
    }

    // A connection that says nothing, as a client that holds a slot would:
    // connected again whenever the target closes it.
    awaitable<void> Idle() {
        while (!m_stopped) {
            {
                tcp::socket s(m_io);
                Open guard(*this, s);
                try {
                    co_await Connect(s);
                    std::array<uint8_t, 256> sink;
                    for (;;) co_await s.async_read_some(asio::buffer(sink), use_awaitable);
                } catch (const asio::system_error&) {
                    Failed();
                }
            }
            if (!m_stopped)
                co_await Pause();
        }
    }

    asio::io_context& m_io;
    const Config& m_cfg;
    const Pattern& m_pattern;
    asio::steady_timer m_timer;
    std::vector<uint8_t> m_preamble;
    std::set<tcp::socket*> m_open;
    Counters m_c, m_first, m_last;
    std::vector<uint32_t> m_samples;  // nanoseconds, window only
    Clock::time_point m_window_start, m_window_end;
    bool m_measuring = false, m_stopped = false;
    int m_ready = 0;                      // streams that got going
    int m_alive = 0, m_alive_at_end = 0;  // and of those, the ones still running
    int m_last_code = -1;
};

// Logs in on the command port and leaves the connection in *s, open, for
// the run. Bounded: a gateway that does not answer within five seconds is a
// failure, with its reason in *why.
bool LogIn(asio::io_context& io, const Config& cfg, tcp::socket* s, std::string* why) {
    const auto frame = AuthFrame("", cfg.login_user, cfg.login_password);
    bool done = false;
    int code = -1;
    asio::co_spawn(
        io,
        [&]() -> awaitable<void> {
            BindSource(cfg, *s);
            co_await s->async_connect(tcp::endpoint(cfg.target.address(), cfg.cmd_port),
                                      use_awaitable);
            co_await asio::async_write(*s, asio::buffer(frame), use_awaitable);
            std::array<uint8_t, kReplyHeadSize> head;
            co_await asio::async_read(*s, asio::buffer(head), use_awaitable);
            const std::optional<size_t> n = ReplyRest(head.data(), why);
            if (!n)
                co_return;
            std::vector<uint8_t> rest(*n);
            co_await asio::async_read(*s, asio::buffer(rest), use_awaitable);
            code = DecodeFixed16LE(head.data() + 3);
        },
        [&](std::exception_ptr e) {
            done = true;
            if (!e)
                return;
            try {
                std::rethrow_exception(e);
            } catch (const asio::system_error& error) {
                *why = error.code().message();
            }
        });
    io.run_for(std::chrono::seconds(5));
    if (!done) {
        asio::error_code ec;
        s->close(ec);
        io.restart();
        io.run();  // the login's steps end on the closed socket
        *why = "no answer within 5 s";
    }
    io.restart();
    if (code == int(AuthCode::Ok))
        return true;
    if (why->empty())
        *why = code < 0 ? "not a login reply" : "refused with code " + std::to_string(code);
    return false;
}

const std::vector<std::string_view> kKnown = {
    "host",  "port",  "header",   "conns",    "seconds",   "warmup",    "direction",
    "chunk", "size",  "user",     "password", "client-id", "reconnect", "label",
    "help",  "login", "cmd-port", "bind",     "idle"};

int Usage(const std::string& why) {
    std::fprintf(
        stderr,
        "ovload: %s\n"
        "usage: ovload auth|stream|pingpong|cer --host ADDR --port PORT\n"
        "         [--conns N] [--seconds S] [--warmup S] [--label TEXT]\n"
        "         [--header COMPUTER]              relay modes through the gateway\n"
        "         [--direction both|up|down] [--chunk BYTES]   stream\n"
        "         [--size BYTES]                   cer (default 1024)\n"
        "         [--user U] [--password P] [--client-id ID] [--reconnect]   auth\n"
        "         [--idle N]                       auth: N of the connections stay silent\n"
        "         [--bind ADDR]                    the connections' source address\n"
        "         [--login USER:PASSWORD] [--cmd-port PORT]   log in first (relay modes)\n",
        why.c_str());
    return 2;
}

int Main(int argc, char** argv) {
    Options opt(argc, argv, {"reconnect", "help"});
    if (opt.Has("help"))
        return Usage("load for the command port and the relay");
    Config cfg;
    if (opt.Positional().size() != 1)
        return Usage("one mode is needed");
    cfg.mode_name = opt.Positional()[0];
    if (cfg.mode_name == "auth") {
        cfg.mode = Mode::Auth;
    } else if (cfg.mode_name == "stream") {
        cfg.mode = Mode::Stream;
    } else if (cfg.mode_name == "pingpong") {
        cfg.mode = Mode::PingPong;
    } else if (cfg.mode_name == "cer") {
        cfg.mode = Mode::Cer;
    } else {
        return Usage("unknown mode " + cfg.mode_name);
    }
    double port = opt.Number("port", 0);
    double cmd_port = opt.Number("cmd-port", 6111);
    cfg.conns = int(opt.Number("conns", 1));
    cfg.seconds = opt.Number("seconds", 3);
    cfg.warmup = opt.Number("warmup", 0.5);
    cfg.chunk = size_t(opt.Number("chunk", 64 * 1024));
    cfg.size = size_t(opt.Number("size", 1024));
    const double idle = opt.Number("idle", 0);
    if (auto problem = opt.Problem(kKnown); !problem.empty())
        return Usage(problem);
    if (port < 1 || port > 65535)
        return Usage("--port PORT is needed");
    if (cfg.conns < 1 || cfg.conns > 10000)
        return Usage("--conns: 1 to 10000");
    if (idle < 0 || idle > cfg.conns || (idle > 0 && cfg.mode != Mode::Auth))
        return Usage("--idle: auth only, at most --conns");
    cfg.idle = int(idle);
    if (cfg.seconds <= 0 || cfg.seconds > 600 || cfg.warmup < 0 || cfg.warmup > 60)
        return Usage("--seconds: up to 600, --warmup: up to 60");
    if (cfg.chunk < 1 || cfg.chunk > Pattern::kMaxSpan || cfg.size < 1 ||
        cfg.size > Pattern::kMaxSpan)
        return Usage("--chunk and --size: 1 to 262144 bytes");

    asio::error_code ec;
    auto addr = asio::ip::make_address(opt.Text("host", "127.0.0.1"), ec);
    if (ec)
        return Usage("--host: " + ec.message());
    cfg.target = tcp::endpoint(addr, uint16_t(port));
    if (opt.Has("bind")) {
        cfg.bind = asio::ip::make_address(opt.Text("bind", ""), ec);
        if (ec || cfg.bind.is_unspecified())
            return Usage("--bind: an address of this machine");
    }
    cfg.header = opt.Has("header");
    cfg.computer = opt.Text("header", "");
    cfg.direction_name = opt.Text("direction", "both");
    if (cfg.direction_name == "both") {
        cfg.direction = Direction::Both;
    } else if (cfg.direction_name == "up") {
        cfg.direction = Direction::Up;
    } else if (cfg.direction_name == "down") {
        cfg.direction = Direction::Down;
    } else {
        return Usage("--direction: both, up or down");
    }
    cfg.user = opt.Text("user", "Administrator");
    cfg.password = opt.Text("password", "");
    cfg.client_id = opt.Text("client-id", "");
    cfg.reconnect = opt.Has("reconnect");
    cfg.label = opt.Text("label", "");
    if (opt.Has("login")) {
        const std::string login = opt.Text("login", "");
        const size_t colon = login.find(':');
        if (colon == std::string::npos || colon == 0)
            return Usage("--login: USER:PASSWORD");
        cfg.login = true;
        cfg.login_user = login.substr(0, colon);
        cfg.login_password = login.substr(colon + 1);
        if (cfg.login_user.size() >= AuthRequest::kUserSize ||
            cfg.login_password.size() >= AuthRequest::kPasswordSize)
            return Usage("--login: a user name up to 49 bytes, a password up to 19");
    }
    if (cmd_port < 1 || cmd_port > 65535)
        return Usage("--cmd-port: 1 to 65535");
    cfg.cmd_port = uint16_t(cmd_port);
    for (char& c : cfg.label)
        if (c == ' ' || c == '=')
            c = '_';  // keeps the result line one key=value list

    Pattern pattern;
    asio::io_context io(1);
    // Held open until the process ends, after the run.
    tcp::socket login(io);
    if (cfg.login) {
        std::string why;
        if (!LogIn(io, cfg, &login, &why)) {
            std::fprintf(stderr, "ovload: the login on %s:%u failed: %s\n",
                         cfg.target.address().to_string().c_str(), unsigned(cfg.cmd_port),
                         why.c_str());
            return 1;
        }
    }
    Load load(io, cfg, pattern);
    load.Start();
    io.run();
    load.Report();
    return load.Succeeded() ? 0 : 1;
}

}  // namespace
}  // namespace ov::bench

int main(int argc, char** argv) {
    return ov::bench::Main(argc, argv);
}
