#include "gateway/net/listener.h"

#include <asio/error.hpp>

#include "platform/socket_options.h"

namespace ov::gateway {

using asio::ip::tcp;

Listener::Listener(asio::io_context& io, const char* what)
    : m_io(io), m_acceptor(io), m_retry(io, what) {}

std::error_code Listener::Open(const tcp::endpoint& where, Step* failed) {
    std::error_code ec;
    Step step = Step::Open;
    m_acceptor.open(where.protocol(), ec);
    if (!ec && !platform::AllowListenerRebind(intptr_t(m_acceptor.native_handle())))
        ec = asio::error::invalid_argument;
    if (!ec) {
        step = Step::Bind;
        m_acceptor.bind(where, ec);
    }
    if (!ec) {
        step = Step::Listen;
        m_acceptor.listen(kBacklog, ec);
    }
    if (ec) {
        std::error_code ignored;
        m_acceptor.close(ignored);
        if (failed)
            *failed = step;
    }
    return ec;
}

uint16_t Listener::Port() const {
    std::error_code ec;
    return m_acceptor.local_endpoint(ec).port();
}

void Listener::Accept(Handlers handlers) {
    m_handlers = std::move(handlers);
    Accept();
}

void Listener::Accept() {
    if (!m_acceptor.is_open() || *m_pending)
        return;
    *m_pending = true;
    auto handler = [this, pending = m_pending](const std::error_code& ec, tcp::socket socket) {
        *pending = false;
        // Cancelled by Close, perhaps with this object gone since.
        if (ec == asio::error::operation_aborted)
            return;
        OnAccepted(ec, std::move(socket));
    };
    if (m_handlers.context)
        m_acceptor.async_accept(m_handlers.context(), std::move(handler));
    else
        m_acceptor.async_accept(m_io, std::move(handler));
}

void Listener::OnAccepted(const std::error_code& ec, tcp::socket socket) {
    if (!m_acceptor.is_open())
        return;  // closed by its owner: whatever came in goes with it
    if (!ec) {
        m_retry.Succeeded();
        if (m_handlers.accepted(std::move(socket)))
            Accept();
        return;
    }
    switch (ClassifyAcceptError(ec)) {
        case AcceptFailure::ClientGone:
            if (m_handlers.client_gone)
                m_handlers.client_gone(ec);
            Accept();  // the next client may be waiting
            return;
        case AcceptFailure::ListenerDead:
            if (m_handlers.dead)
                m_handlers.dead(ec);
            return;
        case AcceptFailure::Transient:
            // Out of descriptors or memory: the port serves again as soon
            // as the system has room.
            m_retry.After(ec, [this] { Accept(); });
            return;
    }
}

std::error_code Listener::Close() {
    m_retry.Cancel();
    std::error_code ec;
    if (m_acceptor.is_open())
        m_acceptor.close(ec);
    return ec;
}

}  // namespace ov::gateway
