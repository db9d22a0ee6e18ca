// A one-connection HTTP server on 127.0.0.1 for the tests: it captures the
// request head byte for byte and answers with canned bytes, then closes the
// connection, or holds it open for as long as the server object lives.
#pragma once

#include <asio.hpp>
#include <chrono>
#include <cstdint>
#include <future>
#include <string>
#include <thread>

namespace ov::testing {

class RawServer {
  public:
    enum class Closing { AfterReply, Never };

    explicit RawServer(std::string reply, Closing closing = Closing::AfterReply, uint16_t port = 0)
        : m_acceptor(m_io, {asio::ip::make_address_v4("127.0.0.1"), port}),
          m_reply(std::move(reply)),
          m_closing(closing) {
        m_request = m_captured.get_future();
        m_acceptor.async_accept(m_peer, [this](const asio::error_code& ec) {
            if (ec)
                return;
            asio::async_read_until(
                m_peer, m_in, "\r\n\r\n",
                [this](const asio::error_code& ec2, size_t n) { OnRequest(ec2, n); });
        });
        m_thread = std::thread([this] { m_io.run(); });
    }

    // Binding a low port needs privileges and a free port; false when either
    // is missing.
    static bool CanListenOn(uint16_t port) {
        asio::io_context io;
        asio::ip::tcp::acceptor a(io);
        asio::error_code ec;
        a.open(asio::ip::tcp::v4(), ec);
        if (!ec)
            a.bind({asio::ip::make_address_v4("127.0.0.1"), port}, ec);
        return !ec;
    }

    ~RawServer() {
        m_io.stop();
        m_thread.join();
    }

    uint16_t Port() const { return m_acceptor.local_endpoint().port(); }
    std::string Url(const std::string& path = "/") const {
        return "http://127.0.0.1:" + std::to_string(Port()) + path;
    }

    // The request head as received, or "(no request)" when none came in time.
    std::string Request() {
        if (m_request.wait_for(std::chrono::seconds(10)) != std::future_status::ready)
            return "(no request)";
        return m_request.get();
    }

    // A loopback port that nobody listens on (bound and released again).
    static uint16_t ClosedPort() {
        asio::io_context io;
        asio::ip::tcp::acceptor a(io, {asio::ip::make_address_v4("127.0.0.1"), 0});
        return a.local_endpoint().port();
    }

  private:
    void OnRequest(const asio::error_code& ec, size_t n) {
        if (ec) {
            m_captured.set_value("(read failed)");
            return;
        }
        auto begin = asio::buffers_begin(m_in.data());
        m_captured.set_value(std::string(begin, begin + std::ptrdiff_t(n)));
        asio::async_write(m_peer, asio::buffer(m_reply), [this](const asio::error_code&, size_t) {
            if (m_closing == Closing::AfterReply) {
                asio::error_code ignored;
                m_peer.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
                m_peer.close(ignored);
            }
        });
    }

    asio::io_context m_io;
    asio::ip::tcp::acceptor m_acceptor;
    asio::ip::tcp::socket m_peer{m_io};
    asio::streambuf m_in;
    std::string m_reply;
    Closing m_closing;
    std::promise<std::string> m_captured;
    std::future<std::string> m_request;
    std::thread m_thread;
};

}  // namespace ov::testing
