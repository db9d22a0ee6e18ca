// ovconnect: logs in on a gateway's command port, lists its controlled
// computers, and carries ordinary TCP clients (VNC, RDP, SSH ...) through its
// proxy port, one relayed connection per local connection.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <asio.hpp>

#include "tools/ovconnect/protocol.h"

namespace ov::connect {

struct Options {
    bool help = false;
    std::string command;   // list, forward, stdio
    std::string computer;  // GBK
    std::string gateway_host;
    uint16_t cmd_port = kDefaultCmdPort;
    std::string user, password;  // GBK
    bool has_password = false;
    std::string id_file;
    std::string listen_address = "127.0.0.1";
    uint16_t listen_port = 0;
    bool has_listen = false;
    std::optional<uint16_t> proxy_port;
    std::chrono::milliseconds timeout{10000};
};

// The arguments after the program name (GBK). env_password is the GBK
// value of OVCONNECT_PASSWORD, used when --password is not given. False
// with a one-line reason in *error.
bool ParseArguments(const std::vector<std::string>& args,
                    const std::optional<std::string>& env_password, Options* options,
                    std::string* error);

struct Outcome {
    Exit exit = kExitOk;
    std::string message;  // GBK; empty on success
};

// One login request and its reply. Fails with kExitNetwork when the gateway
// cannot be reached or does not answer within the options' time-out, and
// with the reply code's exit code when it refuses.
struct Login {
    Outcome outcome;
    LoginReply reply;
    std::string gateway_address;  // the address the command port answered on
};
Login LogIn(const Options& options);
// The same on io, which has no other work, keeping the logged-in command
// connection in *connection (may be null).
Login LogIn(asio::io_context& io, const Options& options, asio::ip::tcp::socket* connection);

// Keeps a login's command connection open for as long as relays may
// follow: the gateway may relay only for an address that holds one (or
// logged in lately). When the connection ends it logs in again, at once,
// then after pauses that grow while the gateway cannot be reached; a relay
// that finds no login waits for the next one. Lives on io.
class LoginKeeper : public std::enable_shared_from_this<LoginKeeper> {
  public:
    LoginKeeper(asio::io_context& io, Options options, std::function<void(const std::string&)> log);

    // The connection of a login that succeeded, opened on io.
    void Adopt(asio::ip::tcp::socket socket);
    // ready runs on io once there is a login: at once while the connection
    // is open, else after the login that this starts or joins (with its
    // failure when that fails).
    void WhenLoggedIn(std::function<void(const Outcome&)> ready);
    void Stop();

    static constexpr std::chrono::seconds kFirstPause{1}, kLongestPause{60};
    // A connection that ends sooner than this after its login is replaced
    // after a pause rather than at once.
    static constexpr std::chrono::seconds kSteady{10};

  private:
    enum class State { LoggedIn, LoggingIn, Out };
    void Watch();
    void Dropped(const std::string& why);
    void Attempt();
    void RetryLater();
    void Flush(const Outcome& outcome);

    asio::io_context& m_io;
    const Options m_options;
    std::function<void(const std::string&)> m_log;
    asio::ip::tcp::socket m_socket;
    asio::steady_timer m_retry;
    std::chrono::seconds m_pause;
    std::chrono::steady_clock::time_point m_since{};
    State m_state = State::Out;
    bool m_stopped = false;
    std::vector<std::function<void(const Outcome&)>> m_waiting;
    std::array<char, 512> m_sink{};
};

// The proxy port to use after a login, and whether the computer is listed.
Outcome CheckListed(const Options& options, const LoginReply& reply);

// Listens on the options' local address and relays every accepted
// connection through proxy_host:proxy_port to the computer, for as long as
// io runs. Each connection's fate becomes one line for log(). *port gets
// the local port (useful with port 0). With a keeper, each relay is opened
// only while there is a login.
Outcome StartForward(asio::io_context& io, const Options& options, const std::string& proxy_host,
                     uint16_t proxy_port, std::function<void(const std::string&)> log,
                     uint16_t* port, std::shared_ptr<LoginKeeper> keeper = nullptr);

// One relayed connection over standard input and output.
Outcome Stdio(const Options& options, const std::string& proxy_host, uint16_t proxy_port);

extern const char kUsage[];

}  // namespace ov::connect
