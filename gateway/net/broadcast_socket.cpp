#include "gateway/net/broadcast_socket.h"

#include <asio/ip/udp.hpp>

#include <cstdlib>
#include <ctime>

#include "gateway/gateway_log.h"
#include "gateway/net/announcement_handling.h"
#include "platform/files.h"
#include "platform/process.h"

namespace ov::gateway {
namespace {

std::string Why(const asio::error_code& ec) {
    return platform::Error::From(ec).Text();
}

}  // namespace

bool BroadcastSocket::Open(uint16_t port) {
    asio::error_code ec;
    m_socket.open(asio::ip::udp::v4(), ec);
    if (ec) {
        LogLine("create UPD socket err:" + Why(ec));
        return false;
    }
    m_socket.bind(asio::ip::udp::endpoint(asio::ip::address_v4::any(), port), ec);
    if (ec) {
        LogLine("create UPD socket err:" + Why(ec));
        return false;
    }
    m_socket.set_option(asio::socket_base::reuse_address(true), ec);
    if (ec) {
        LogLine("set UPD socket opt reuseaddr err:" + Why(ec));
        return false;
    }
    m_socket.set_option(asio::socket_base::broadcast(true), ec);
    if (ec) {
        LogLine("set UPD socket opt broadcast err:" + Why(ec));
        return false;
    }
    // A flood of announcements arrives faster than it is handled at times;
    // a deeper queue loses fewer real ones. Best effort.
    m_socket.set_option(asio::socket_base::receive_buffer_size(1 << 20), ec);
    Receive();
    return true;
}

void BroadcastSocket::Receive() {
    m_socket.async_receive_from(
        asio::buffer(m_buffer), m_from, [this](const asio::error_code& ec, size_t n) {
            if (ec == asio::error::operation_aborted || !m_socket.is_open())
                return;
            if (ec) {
                // Logged, and receiving goes on: one bad moment must not end discovery.
                TheLog().LogPrint(9, "    接收广播包出错！ - %s\r\n", Why(ec).c_str());
            } else {
                m_on_datagram(m_buffer.data(), n);
            }
            Receive();
        });
}

void BroadcastSocket::SendProbe(uint16_t port) {
    asio::error_code ec;
    std::srand(unsigned(std::time(nullptr)));
    // 0..32767 on every platform, as the agents know it.
    auto probe = BuildGatewayProbe(platform::OwnIPv4Addresses(), uint32_t(std::rand() % 32768));
    m_socket.send_to(asio::buffer(probe),
                     asio::ip::udp::endpoint(asio::ip::address_v4::broadcast(), port), 0, ec);
}

void BroadcastSocket::Close() {
    asio::error_code ec;
    m_socket.close(ec);
}

}  // namespace ov::gateway
