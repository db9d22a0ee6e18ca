// A listening TCP port of the gateway, the same for the command port and the
// proxy port: opened with the rebind rule and a deep queue, and one accept
// loop with one rule for failed accepts (see accept_errors.h).
#pragma once

#include <asio/ip/tcp.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <system_error>

#include "gateway/net/accept_errors.h"

namespace ov::gateway {

class Listener {
  public:
    // A burst of users must wait in the queue, not be refused: the system
    // resets connections that overflow it.
    static constexpr int kBacklog = 128;

    // Where opening failed, for owners whose log says which step it was.
    enum class Step { Open, Bind, Listen };

    struct Handlers {
        // The context the next accepted socket is made on, asked once per
        // accept (a relay loop's, for one); null: the listener's own.
        std::function<asio::io_context&()> context;
        // An accepted client. True: accept the next one at once; false: the
        // owner calls Accept() once it has decided on this one.
        std::function<bool(asio::ip::tcp::socket socket)> accepted;
        // A client that left while queued (the next is accepted at once):
        // the owner's log line; null: none.
        std::function<void(const std::error_code& ec)> client_gone;
        // The listener can accept nothing more; the loop has stopped.
        std::function<void(const std::error_code& ec)> dead;
    };

    // what: the port's name in the retry log lines ("cmd", "proxy").
    Listener(asio::io_context& io, const char* what);
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    // Opens, binds and listens; the error and the step it failed at, the
    // listener then closed. The owner says what it means.
    std::error_code Open(const asio::ip::tcp::endpoint& where, Step* failed = nullptr);
    // The bound port; 0 when not open.
    uint16_t Port() const;

    // Starts the accept loop, or accepts the next client after an accepted
    // callback returned false. On the listener's thread only.
    void Accept(Handlers handlers);
    void Accept();
    // An accept is under way: its completion, even a cancelled one, is still
    // to run (and holds a socket of the context it accepts into).
    bool Accepting() const { return *m_pending; }

    // Stops accepting: the pending accept completes cancelled, and no
    // callback runs any more. The error of the close, if any; none when the
    // listener was not open.
    std::error_code Close();

  private:
    void OnAccepted(const std::error_code& ec, asio::ip::tcp::socket socket);

    asio::io_context& m_io;
    asio::ip::tcp::acceptor m_acceptor;
    AcceptRetry m_retry;
    Handlers m_handlers;
    // Shared with the pending completion, which may run after this object
    // is gone (it then only clears this).
    std::shared_ptr<bool> m_pending = std::make_shared<bool>(false);
};

}  // namespace ov::gateway
