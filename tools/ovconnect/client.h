// ovconnect: logs in on a gateway's command port, lists its controlled
// computers, and carries ordinary TCP clients (VNC, RDP, SSH ...) through its
// proxy port, one relayed connection per local connection.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
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

// The proxy port to use after a login, and whether the computer is listed.
Outcome CheckListed(const Options& options, const LoginReply& reply);

// Listens on the options' local address and relays every accepted
// connection through proxy_host:proxy_port to the computer, for as long as
// io runs. Each connection's fate becomes one line for log(). *port gets
// the local port (useful with port 0).
Outcome StartForward(asio::io_context& io, const Options& options, const std::string& proxy_host,
                     uint16_t proxy_port, std::function<void(const std::string&)> log,
                     uint16_t* port);

// One relayed connection over standard input and output.
Outcome Stdio(const Options& options, const std::string& proxy_host, uint16_t proxy_port);

extern const char kUsage[];

}  // namespace ov::connect
