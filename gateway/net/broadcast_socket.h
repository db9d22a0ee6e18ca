// The network thread's UDP socket on port 768: announcements in, the
// start-up probe out. Receiving goes on after any error or stray datagram;
// the socket closes only when the thread ends.
#pragma once

#include <asio/ip/udp.hpp>

#include <cstdint>
#include <functional>
#include <vector>

namespace ov::gateway {

class BroadcastSocket {
  public:
    using DatagramFn = std::function<void(const uint8_t* data, size_t size)>;

    BroadcastSocket(asio::io_context& io, DatagramFn on_datagram)
        : m_socket(io), m_on_datagram(std::move(on_datagram)), m_buffer(kLargestDatagram) {}

    // Creates and binds, then sets reuse-address and broadcast: set before
    // the bind, reuse-address would let us share (or take over) a port that
    // another program holds. False after its log line.
    bool Open(uint16_t port = 768);
    // The probe to 255.255.255.255:769.
    void SendProbe(uint16_t port = 769);
    void Close();

  private:
    void Receive();

    // Room for any datagram, so that a long one is reported with its size.
    static constexpr size_t kLargestDatagram = 65536;

    asio::ip::udp::socket m_socket;
    DatagramFn m_on_datagram;
    asio::ip::udp::endpoint m_from;
    std::vector<uint8_t> m_buffer;
};

}  // namespace ov::gateway
