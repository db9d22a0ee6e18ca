// The network thread's UDP socket on port 768: announcements in, the
// start-up probe out. Receiving goes on after any error or stray datagram;
// the socket closes only when the thread ends.
#pragma once

#include <asio/ip/udp.hpp>

#include <array>
#include <memory>

#include "gateway/net/announcement_handling.h"

namespace ov::gateway {

class BroadcastSocket {
public:
    BroadcastSocket(asio::io_context& io, AnnouncementHandler& handler)
        : m_socket(io), m_handler(handler) {}

    // Creates, sets reuse-address and broadcast, binds; false after its log line.
    bool Open(uint16_t port = 768);
    // The probe to 255.255.255.255:769.
    void SendProbe(uint16_t port = 769);
    void Close();

private:
    void Receive();

    asio::ip::udp::socket m_socket;
    AnnouncementHandler& m_handler;
    asio::ip::udp::endpoint m_from;
    std::array<uint8_t, 2048> m_buffer{};
};

}  // namespace ov::gateway
