#include "tools/ovconnect/client.h"

#include <asio.hpp>
#include <charconv>
#include <memory>
#include <thread>

#include "common/trusted_id_file.h"
#include "platform/blocking_socket.h"
#include "platform/socket_options.h"
#include "platform/std_streams.h"

namespace ov::connect {

const char kUsage[] =
    "usage: ovconnect list --gateway HOST[:CMDPORT] --user NAME [--password PW]\n"
    "                      [--id-file FILE.id] [--timeout SECONDS]\n"
    "       ovconnect forward COMPUTER --listen [ADDR:]PORT [login options] [--proxy-port N]\n"
    "       ovconnect stdio COMPUTER [login options] [--proxy-port N]\n"
    "list     logs in on the gateway's command port (811 unless given) and prints its\n"
    "         proxy port and its computers: name, address, agent port\n"
    "forward  logs in, then relays every connection to ADDR:PORT (ADDR 127.0.0.1 unless\n"
    "         given; PORT 0 picks a free one) to COMPUTER's agent through the gateway;\n"
    "         the login's command connection stays open meanwhile (the gateway may relay\n"
    "         only for those logged in) and is made again when it ends\n"
    "stdio    the same for one connection over standard input and output, e.g.\n"
    "         ssh -o ProxyCommand='ovconnect stdio pc1 --gateway gw --user u' user@pc1\n"
    "The password may come from the environment variable OVCONNECT_PASSWORD.\n"
    "Exit codes: 0 ok, 2 usage, 3 network or time-out, 4 ID not trusted, 5 no such user,\n"
    "6 wrong password, 7 account switched off, 8 computer not listed, 9 local failure.\n";

namespace {

using asio::ip::tcp;

bool ParsePort(const std::string& text, bool allow_zero, uint16_t* port) {
    unsigned v = 0;
    if (text.empty() || text.size() > 5)
        return false;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || v > 65535 ||
        (v == 0 && !allow_zero))
        return false;
    *port = uint16_t(v);
    return true;
}

// Runs one asynchronous step on io until it completes or timeout passes;
// a late step is cancelled by closing the socket it works on.
template <class Start>
asio::error_code Await(asio::io_context& io, tcp::socket& socket, std::chrono::milliseconds timeout,
                       Start start) {
    asio::error_code result = asio::error::would_block;
    start([&](const asio::error_code& ec, auto&&...) { result = ec; });
    io.restart();
    io.run_for(timeout);
    if (result == asio::error::would_block) {
        asio::error_code ignored;
        socket.close(ignored);
        io.restart();
        io.run();
        return asio::error::timed_out;
    }
    return result;
}

std::string Describe(const asio::error_code& ec) {
    return ec == asio::error::timed_out ? std::string("no answer in time") : ec.message();
}

// The first IPv4 address of host, resolved within the time-out.
bool Resolve(asio::io_context& io, const std::string& host, uint16_t port, tcp::endpoint* endpoint,
             std::string* error) {
    asio::error_code ec;
    asio::ip::address_v4 a = asio::ip::make_address_v4(host, ec);
    if (!ec) {
        *endpoint = tcp::endpoint(a, port);
        return true;
    }
    tcp::resolver resolver(io);
    auto results = resolver.resolve(tcp::v4(), host, std::to_string(port), ec);
    if (ec || results.empty()) {
        *error = "cannot resolve " + host + ": " + ec.message();
        return false;
    }
    *endpoint = results.begin()->endpoint();
    return true;
}

}  // namespace

bool ParseArguments(const std::vector<std::string>& args,
                    const std::optional<std::string>& env_password, Options* options,
                    std::string* error) {
    Options o;
    bool has_gateway = false;
    std::vector<std::string> positional;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::string v;
        auto value = [&]() {
            if (i + 1 >= args.size()) {
                *error = a + " needs a value";
                return false;
            }
            v = args[++i];
            return true;
        };
        if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--gateway") {
            if (!value())
                return false;
            size_t colon = v.rfind(':');
            o.gateway_host = v.substr(0, colon);
            if (colon != std::string::npos && !ParsePort(v.substr(colon + 1), false, &o.cmd_port)) {
                *error = "--gateway needs HOST or HOST:PORT with a port from 1 to 65535: " + v;
                return false;
            }
            if (o.gateway_host.empty() || o.gateway_host.size() > 255) {
                *error = "--gateway needs a host name or address: " + v;
                return false;
            }
            has_gateway = true;
        } else if (a == "--user") {
            if (!value())
                return false;
            o.user = v;
        } else if (a == "--password") {
            if (!value())
                return false;
            o.password = v;
            o.has_password = true;
        } else if (a == "--id-file") {
            if (!value())
                return false;
            o.id_file = v;
        } else if (a == "--listen") {
            if (!value())
                return false;
            size_t colon = v.rfind(':');
            if (colon != std::string::npos) {
                asio::error_code ec;
                asio::ip::make_address_v4(v.substr(0, colon), ec);
                if (ec) {
                    *error = "--listen needs [A.B.C.D:]PORT: " + v;
                    return false;
                }
                o.listen_address = v.substr(0, colon);
            }
            if (!ParsePort(colon == std::string::npos ? v : v.substr(colon + 1), true,
                           &o.listen_port)) {
                *error = "--listen needs [A.B.C.D:]PORT with a port from 0 to 65535: " + v;
                return false;
            }
            o.has_listen = true;
        } else if (a == "--proxy-port") {
            uint16_t p = 0;
            if (!value())
                return false;
            if (!ParsePort(v, false, &p)) {
                *error = "--proxy-port needs a port from 1 to 65535: " + v;
                return false;
            }
            o.proxy_port = p;
        } else if (a == "--timeout") {
            uint16_t s = 0;
            if (!value())
                return false;
            if (!ParsePort(v, false, &s) || s > 3600) {
                *error = "--timeout needs a number of seconds from 1 to 3600: " + v;
                return false;
            }
            o.timeout = std::chrono::seconds(s);
        } else if (!a.empty() && a[0] == '-') {
            *error = "unknown option: " + a + " (see --help)";
            return false;
        } else {
            positional.push_back(a);
        }
    }
    if (o.help) {
        *options = o;
        return true;
    }
    if (positional.empty()) {
        *error = "no command: list, forward or stdio (see --help)";
        return false;
    }
    o.command = positional[0];
    const bool names_computer = o.command == "forward" || o.command == "stdio";
    if (o.command != "list" && !names_computer) {
        *error = "unknown command: " + o.command + " (see --help)";
        return false;
    }
    if (positional.size() != (names_computer ? 2u : 1u)) {
        *error = names_computer ? o.command + " needs the name of one computer"
                                : "list takes no further arguments";
        return false;
    }
    if (names_computer) {
        o.computer = positional[1];
        if (o.computer.empty() || o.computer.size() > kRelayHeaderNameSize) {
            *error = "a computer's name has 1 to 40 bytes: " + o.computer;
            return false;
        }
    }
    if (o.command == "forward" && !o.has_listen) {
        *error = "forward needs --listen [ADDR:]PORT";
        return false;
    }
    if (o.command != "forward" && o.has_listen) {
        *error = "--listen belongs to forward";
        return false;
    }
    if (!has_gateway) {
        *error = "--gateway HOST[:CMDPORT] is missing";
        return false;
    }
    if (o.user.empty()) {
        *error = "--user NAME is missing";
        return false;
    }
    if (!o.has_password && env_password) {
        o.password = *env_password;
        o.has_password = true;
    }
    if (!o.has_password) {
        *error = "no password: give --password or set OVCONNECT_PASSWORD";
        return false;
    }
    std::string bad = CheckLogin(o.user, o.password);
    if (!bad.empty()) {
        *error = bad;
        return false;
    }
    *options = o;
    return true;
}

namespace {

// One login on the command port, on the caller's io: resolve, connect,
// request, reply, each step within the options' time-out. done runs once,
// on io, with the outcome and, after a success, the open connection.
class LoginAttempt : public std::enable_shared_from_this<LoginAttempt> {
  public:
    using Done = std::function<void(Login, tcp::socket)>;

    LoginAttempt(asio::io_context& io, const Options& o, Done done)
        : m_options(o),
          m_where(o.gateway_host + ":" + std::to_string(o.cmd_port)),
          m_resolver(io),
          m_socket(io),
          m_timer(io),
          m_done(std::move(done)) {}

    void Start() {
        ClientIdBytes id = ClientId(nullptr);
        if (!m_options.id_file.empty()) {
            IdFileResult file = ReadIdFile(m_options.id_file);
            if (!file.ok)
                return Finish(kExitLocal, m_options.id_file + ": " + file.message);
            id = ClientId(&file.value);
        }
        m_request = RequestFrame(id.data(), m_options.user, m_options.password);
        asio::error_code ec;
        asio::ip::address_v4 a = asio::ip::make_address_v4(m_options.gateway_host, ec);
        if (!ec)
            return Connect(tcp::endpoint(a, m_options.cmd_port));
        auto self = shared_from_this();
        Arm();
        m_resolver.async_resolve(
            tcp::v4(), m_options.gateway_host, std::to_string(m_options.cmd_port),
            [self](const asio::error_code& ec, tcp::resolver::results_type results) {
                if (!self->Disarm(ec))
                    return self->Finish(
                        kExitNetwork,
                        "cannot resolve " + self->m_options.gateway_host + ": no answer in time");
                if (ec || results.empty())
                    return self->Finish(
                        kExitNetwork,
                        "cannot resolve " + self->m_options.gateway_host + ": " + ec.message());
                self->Connect(results.begin()->endpoint());
            });
    }

  private:
    void Connect(const tcp::endpoint& endpoint) {
        auto self = shared_from_this();
        Arm();
        m_socket.async_connect(endpoint, [self, endpoint](const asio::error_code& ec) {
            if (!self->Disarm(ec) || ec)
                return self->Finish(kExitNetwork,
                                    "cannot connect to " + self->m_where + ": " + self->Why(ec));
            self->m_login.gateway_address = endpoint.address().to_string();
            self->Send();
        });
    }

    void Send() {
        auto self = shared_from_this();
        Arm();
        asio::async_write(
            m_socket, asio::buffer(m_request), [self](const asio::error_code& ec, size_t) {
                if (!self->Disarm(ec) || ec)
                    return self->Finish(kExitNetwork, "cannot send the login to " + self->m_where +
                                                          ": " + self->Why(ec));
                self->ReadHead();
            });
    }

    void ReadHead() {
        auto self = shared_from_this();
        Arm();
        m_reply.assign(kReplyHeadSize, '\0');
        asio::async_read(
            m_socket, asio::buffer(m_reply.data(), kReplyHeadSize),
            [self](const asio::error_code& ec, size_t) {
                const bool in_time = self->Disarm(ec);
                if (in_time && ec == asio::error::eof)
                    return self->Finish(kExitNetwork,
                                        self->m_where + " closed the connection without a reply");
                if (!in_time || ec)
                    return self->Finish(kExitNetwork,
                                        "no reply from " + self->m_where + ": " + self->Why(ec));
                std::string why;
                std::optional<size_t> rest =
                    ReplyRest(reinterpret_cast<const uint8_t*>(self->m_reply.data()), &why);
                if (!rest)
                    return self->Finish(kExitNetwork, self->m_where + ": " + why);
                self->ReadRest(*rest);
            });
    }

    void ReadRest(size_t rest) {
        auto self = shared_from_this();
        Arm();
        m_reply.resize(kReplyHeadSize + rest);
        asio::async_read(
            m_socket, asio::buffer(m_reply.data() + kReplyHeadSize, rest),
            [self](const asio::error_code& ec, size_t) {
                if (!self->Disarm(ec) || ec)
                    return self->Finish(kExitNetwork, "the reply of " + self->m_where +
                                                          " is cut short: " + self->Why(ec));
                std::string why;
                if (!ParseReply(self->m_reply, &self->m_login.reply, &why))
                    return self->Finish(kExitNetwork, self->m_where + ": " + why);
                const uint16_t code = self->m_login.reply.code;
                if (code != uint16_t(AuthCode::Ok))
                    return self->Finish(ExitFor(code), MessageFor(code, self->m_options.user));
                self->Finish(kExitOk, "");
            });
    }

    // Each step has the whole time-out; one that overruns is cancelled by
    // closing what it works on.
    void Arm() {
        m_timed_out = false;
        m_timer.expires_after(m_options.timeout);
        auto self = shared_from_this();
        // A wait that expired just as its step completed belongs to that
        // step, not to the next.
        m_timer.async_wait([self, step = ++m_step](const asio::error_code& ec) {
            if (ec || step != self->m_step)
                return;
            self->m_timed_out = true;
            asio::error_code ignored;
            self->m_resolver.cancel();
            self->m_socket.close(ignored);
        });
    }
    // False when the step ran out of time.
    bool Disarm(const asio::error_code&) {
        m_timer.cancel();
        return !m_timed_out;
    }
    std::string Why(const asio::error_code& ec) const {
        return m_timed_out ? std::string("no answer in time") : ec.message();
    }

    void Finish(Exit exit, const std::string& message) {
        ++m_step;
        m_timer.cancel();
        m_login.outcome = {exit, message};
        asio::error_code ignored;
        if (exit != kExitOk)
            m_socket.close(ignored);
        Done done = std::move(m_done);
        done(std::move(m_login), std::move(m_socket));
    }

    const Options m_options;
    const std::string m_where;
    tcp::resolver m_resolver;
    tcp::socket m_socket;
    asio::steady_timer m_timer;
    Done m_done;
    std::vector<uint8_t> m_request;
    std::string m_reply;
    Login m_login;
    bool m_timed_out = false;
    unsigned m_step = 0;
};

void StartLogIn(asio::io_context& io, const Options& o, LoginAttempt::Done done) {
    std::make_shared<LoginAttempt>(io, o, std::move(done))->Start();
}

}  // namespace

Login LogIn(asio::io_context& io, const Options& o, asio::ip::tcp::socket* connection) {
    Login login;
    StartLogIn(io, o, [&](Login l, tcp::socket s) {
        login = std::move(l);
        if (connection && login.outcome.exit == kExitOk)
            *connection = std::move(s);
    });
    io.restart();
    io.run();
    io.restart();
    return login;
}

Login LogIn(const Options& o) {
    asio::io_context io;
    return LogIn(io, o, nullptr);
}

LoginKeeper::LoginKeeper(asio::io_context& io, Options options,
                         std::function<void(const std::string&)> log)
    : m_io(io),
      m_options(std::move(options)),
      m_log(std::move(log)),
      m_socket(io),
      m_retry(io),
      m_pause(kFirstPause) {}

void LoginKeeper::Adopt(tcp::socket socket) {
    m_socket = std::move(socket);
    asio::error_code ignored;
    // A path that died quietly is found out some time, not never.
    m_socket.set_option(asio::socket_base::keep_alive(true), ignored);
    m_state = State::LoggedIn;
    m_since = std::chrono::steady_clock::now();
    Watch();
    Flush({});
}

void LoginKeeper::WhenLoggedIn(std::function<void(const Outcome&)> ready) {
    if (m_state == State::LoggedIn)
        return ready({});
    m_waiting.push_back(std::move(ready));
    if (m_state == State::Out)
        Attempt();  // the next relay does not wait for the pause
}

void LoginKeeper::Stop() {
    m_stopped = true;
    asio::error_code ignored;
    m_retry.cancel();
    m_socket.close(ignored);
}

// The gateway sends nothing after the login's reply; whatever comes is
// read and dropped, and the end of the connection is what is watched for.
void LoginKeeper::Watch() {
    auto self = shared_from_this();
    m_socket.async_read_some(asio::buffer(m_sink), [self](const asio::error_code& ec, size_t) {
        if (self->m_stopped)
            return;
        if (!ec)
            return self->Watch();
        self->Dropped(ec == asio::error::eof ? std::string("closed by the gateway") : ec.message());
    });
}

void LoginKeeper::Dropped(const std::string& why) {
    asio::error_code ignored;
    m_socket.close(ignored);
    m_state = State::Out;
    m_log("ovconnect: the login's command connection ended (" + why + "); logging in again");
    // A connection that lasted is replaced at once; one that keeps ending
    // soon after its login is not hammered.
    if (std::chrono::steady_clock::now() - m_since >= kSteady) {
        m_pause = kFirstPause;
        Attempt();
    } else {
        RetryLater();
    }
}

void LoginKeeper::Attempt() {
    if (m_state == State::LoggingIn || m_stopped)
        return;
    m_state = State::LoggingIn;
    m_retry.cancel();
    auto self = shared_from_this();
    StartLogIn(m_io, m_options, [self](Login login, tcp::socket socket) {
        if (self->m_stopped)
            return;
        if (login.outcome.exit == kExitOk) {
            self->m_log("ovconnect: logged in again");
            self->Adopt(std::move(socket));
            return;
        }
        self->m_state = State::Out;
        self->m_log("ovconnect: logging in again failed: " + login.outcome.message);
        self->Flush(login.outcome);
        // A refusal (a changed password, say) is not asked again on its
        // own; the next relay asks.
        if (login.outcome.exit == kExitNetwork)
            self->RetryLater();
    });
}

void LoginKeeper::RetryLater() {
    m_retry.expires_after(m_pause);
    m_pause = std::min(m_pause * 2, kLongestPause);
    auto self = shared_from_this();
    m_retry.async_wait([self](const asio::error_code& ec) {
        if (!ec && self->m_state == State::Out)
            self->Attempt();
    });
}

void LoginKeeper::Flush(const Outcome& outcome) {
    std::vector<std::function<void(const Outcome&)>> waiting;
    waiting.swap(m_waiting);
    for (auto& ready : waiting) ready(outcome);
}

Outcome CheckListed(const Options& o, const LoginReply& reply) {
    for (const ComputerEntry& c : reply.computers)
        if (c.Name() == o.computer)
            return {};
    return {kExitNotListed, "the gateway lists no computer " + o.computer};
}

namespace {

// One local connection and its relayed connection. Each direction copies
// until its reader ends, then half-closes the other side, so that a client
// that ends its request first still gets the whole answer; the pair is
// closed when both directions have ended or either fails.
class Tunnel : public std::enable_shared_from_this<Tunnel> {
  public:
    Tunnel(tcp::socket local, const tcp::endpoint& proxy, const std::string& computer,
           std::chrono::milliseconds timeout, std::function<void(const std::string&)> log,
           std::function<void()> on_end, std::shared_ptr<LoginKeeper> keeper)
        : m_keeper(std::move(keeper)),
          m_local(std::move(local)),
          m_remote(m_local.get_executor()),
          m_timer(m_local.get_executor()),
          m_proxy(proxy),
          m_header(MakeRelayHeader(computer)),
          m_computer(computer),
          m_timeout(timeout),
          m_log(std::move(log)),
          m_on_end(std::move(on_end)) {
        asio::error_code ec;
        auto peer = m_local.remote_endpoint(ec);
        m_who =
            ec ? std::string("?") : peer.address().to_string() + ":" + std::to_string(peer.port());
    }

    void Start() {
        if (!m_keeper)
            return Connect();
        auto self = shared_from_this();
        m_keeper->WhenLoggedIn([self](const Outcome& login) {
            if (self->m_ended)
                return;
            if (login.exit != kExitOk)
                return self->Fail("no login: " + login.message);
            self->Connect();
        });
    }

  private:
    void Connect() {
        auto self = shared_from_this();
        m_timer.expires_after(m_timeout);
        m_timer.async_wait([self](const asio::error_code& ec) {
            if (!ec && !self->m_connected)
                self->Fail("the gateway's proxy port did not answer in time");
        });
        m_remote.async_connect(m_proxy, [self](const asio::error_code& ec) {
            self->m_timer.cancel();
            if (self->m_ended)
                return;
            if (ec)
                return self->Fail("cannot connect to the proxy port: " + ec.message());
            self->m_connected = true;
            asio::error_code ignored;
            self->m_remote.set_option(tcp::no_delay(true), ignored);
            asio::async_write(self->m_remote, asio::buffer(self->m_header),
                              [self](const asio::error_code& ec, size_t) {
                                  if (ec)
                                      return self->Fail("cannot send the header: " + ec.message());
                                  self->Pump(0);
                                  self->Pump(1);
                              });
        });
    }

    struct Direction {
        std::array<char, 65536> buffer;
        uint64_t bytes = 0;
        bool done = false;
    };

    // 0: local to remote, 1: remote to local.
    void Pump(int d) {
        tcp::socket& from = d == 0 ? m_local : m_remote;
        tcp::socket& to = d == 0 ? m_remote : m_local;
        auto self = shared_from_this();
        from.async_read_some(
            asio::buffer(m_dir[d].buffer), [self, d, &to](const asio::error_code& ec, size_t n) {
                if (self->m_ended)
                    return;
                if (ec == asio::error::eof) {
                    asio::error_code ignored;
                    to.shutdown(tcp::socket::shutdown_send, ignored);
                    self->m_dir[d].done = true;
                    if (self->m_dir[1 - d].done)
                        self->End("");
                    return;
                }
                if (ec)
                    return self->End(ec.message());
                asio::async_write(to, asio::buffer(self->m_dir[d].buffer.data(), n),
                                  [self, d](const asio::error_code& ec, size_t n) {
                                      if (self->m_ended)
                                          return;
                                      if (ec)
                                          return self->End(ec.message());
                                      self->m_dir[d].bytes += n;
                                      self->Pump(d);
                                  });
            });
    }

    void Fail(const std::string& why) {
        if (m_ended)
            return;
        Close();
        m_log("ovconnect: " + m_who + " -> " + m_computer + ": " + why);
        m_on_end();
    }

    void End(const std::string& error) {
        if (m_ended)
            return;
        Close();
        m_log("ovconnect: " + m_who + " -> " + m_computer + ": " + std::to_string(m_dir[0].bytes) +
              " bytes sent, " + std::to_string(m_dir[1].bytes) + " received" +
              (error.empty() ? "" : ", ended by an error: " + error));
        m_on_end();
    }

    void Close() {
        m_ended = true;
        asio::error_code ignored;
        m_timer.cancel();
        m_local.close(ignored);
        m_remote.close(ignored);
    }

    std::shared_ptr<LoginKeeper> m_keeper;  // null: relays need no login
    tcp::socket m_local, m_remote;
    asio::steady_timer m_timer;
    tcp::endpoint m_proxy;
    RelayHeader m_header;
    std::string m_computer, m_who;
    std::chrono::milliseconds m_timeout;
    std::function<void(const std::string&)> m_log;
    std::function<void()> m_on_end;
    Direction m_dir[2];
    bool m_connected = false, m_ended = false;
};

// Local connections served at once; more wait in the listen backlog.
constexpr size_t kMaxTunnels = 256;

}  // namespace

namespace {

struct Listener {
    tcp::acceptor acceptor;
    tcp::endpoint proxy;
    Options options;
    std::function<void(const std::string&)> log;
    std::shared_ptr<LoginKeeper> keeper;
    size_t live = 0;
    bool waiting = false;
};

// Accepting pauses while kMaxTunnels connections are served and goes on
// when one of them ends.
void Accept(const std::shared_ptr<Listener>& l) {
    l->waiting = true;
    l->acceptor.async_accept([l](const asio::error_code& ec, tcp::socket socket) {
        l->waiting = false;
        if (ec == asio::error::operation_aborted)
            return;
        if (ec) {
            l->log("ovconnect: accepting failed: " + ec.message());
        } else {
            asio::error_code ignored;
            socket.set_option(tcp::no_delay(true), ignored);
            ++l->live;
            std::make_shared<Tunnel>(
                std::move(socket), l->proxy, l->options.computer, l->options.timeout, l->log,
                [l]() {
                    --l->live;
                    if (!l->waiting)
                        Accept(l);
                },
                l->keeper)
                ->Start();
        }
        if (l->live < kMaxTunnels)
            Accept(l);
    });
}

}  // namespace

Outcome StartForward(asio::io_context& io, const Options& o, const std::string& proxy_host,
                     uint16_t proxy_port, std::function<void(const std::string&)> log,
                     uint16_t* port, std::shared_ptr<LoginKeeper> keeper) {
    auto l = std::make_shared<Listener>(
        Listener{tcp::acceptor(io), {}, o, std::move(log), std::move(keeper)});
    std::string why;
    if (!Resolve(io, proxy_host, proxy_port, &l->proxy, &why))
        return {kExitNetwork, why};
    asio::error_code ec;
    const tcp::endpoint local(asio::ip::make_address_v4(o.listen_address, ec), o.listen_port);
    if (!ec)
        l->acceptor.open(tcp::v4(), ec);
    if (!ec && !platform::AllowListenerRebind(intptr_t(l->acceptor.native_handle())))
        ec = asio::error_code(platform::LastSocketError(), asio::system_category());
    if (!ec)
        l->acceptor.bind(local, ec);
    if (!ec)
        l->acceptor.listen(asio::socket_base::max_listen_connections, ec);
    if (ec)
        return {kExitLocal, "cannot listen on " + o.listen_address + ":" +
                                std::to_string(o.listen_port) + ": " + ec.message()};
    *port = l->acceptor.local_endpoint().port();
    Accept(l);
    return {};
}

Outcome Stdio(const Options& o, const std::string& proxy_host, uint16_t proxy_port) {
    // Shared with the input thread, which may still wait for input when
    // the relayed connection has ended.
    struct State {
        asio::io_context io;
        tcp::socket socket{io};
    };
    auto st = std::make_shared<State>();
    tcp::endpoint proxy;
    std::string why;
    if (!Resolve(st->io, proxy_host, proxy_port, &proxy, &why))
        return {kExitNetwork, why};
    asio::error_code ec = Await(st->io, st->socket, o.timeout,
                                [&](auto h) { st->socket.async_connect(proxy, std::move(h)); });
    if (ec)
        return {kExitNetwork, "cannot connect to the proxy port " + proxy_host + ":" +
                                  std::to_string(proxy_port) + ": " + Describe(ec)};
    const RelayHeader header = MakeRelayHeader(o.computer);
    asio::write(st->socket, asio::buffer(header), ec);
    if (ec)
        return {kExitNetwork, "cannot send the header: " + ec.message()};

    std::thread([st]() {
        std::array<char, 65536> buffer;
        for (;;) {
            long n = platform::ReadStandardInput(buffer.data(), buffer.size());
            asio::error_code ec;
            if (n <= 0) {
                st->socket.shutdown(tcp::socket::shutdown_send, ec);
                return;
            }
            asio::write(st->socket, asio::buffer(buffer.data(), size_t(n)), ec);
            if (ec)
                return;
        }
    }).detach();

    std::array<char, 65536> buffer;
    for (;;) {
        size_t n = st->socket.read_some(asio::buffer(buffer), ec);
        if (ec == asio::error::eof)
            break;
        if (ec)
            return {kExitNetwork, "the relayed connection failed: " + ec.message()};
        if (!platform::WriteStandardOutput(buffer.data(), n))
            return {kExitLocal, "standard output is closed"};
    }
    platform::CloseStandardOutput();
    return {};
}

}  // namespace ov::connect
