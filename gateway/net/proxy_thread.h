// CProxyThread: the proxy port. Each user connection names a controlled
// computer in its first 50 bytes; the thread connects to that computer and
// relays bytes both ways, for at most 40 connections at a time, all on its
// own event loop.
#pragma once

#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "common/live_stats.h"
#include "gateway/access_log.h"
#include "gateway/event_thread.h"
#include "gateway/net/relay_buffer.h"

namespace ov::gateway {

class GatewayConfig;
class ControlledComputerList;
class StatsPublisher;
class LoginRegistry;

// The 50-byte header that opens a relayed connection: the computer's name
// in its first 40 bytes (up to the first NUL); the other 10 are not used.
inline constexpr size_t kRelayHeaderSize = 50;
std::string RelayHeaderName(const uint8_t* header);

class CProxyThread : public ThreadHandler {
  public:
    static constexpr int kPairs = 40;
    // Reading from a side pauses above this many bytes waiting for the
    // other side, and resumes once the other side's send leaves fewer than
    // kChunk; every receive and send moves at most kChunk bytes.
    static constexpr size_t kPauseAbove = 78681, kChunk = 8192;

    struct Options {
        int port = -1;  // -1: the configuration's proxy port; 0: any free port
        std::string address = "0.0.0.0";
        // A user that has not sent its header by then is closed.
        std::chrono::milliseconds header_deadline{30000};
        // A pair of which one side has ended is freed when nothing moved for this long.
        std::chrono::milliseconds half_close_idle{30000};
        // A computer that has not answered the connect by then is given up.
        std::chrono::milliseconds connect_deadline{10000};
        // How often a side whose reading is paused is looked at for a peer
        // that reset or closed meanwhile.
        std::chrono::milliseconds paused_check{250};
        // Tells the network thread about the listener (0x503) and ends the
        // gateway when the listener dies (Quit).
        std::function<void(ThreadMessage, intptr_t, intptr_t)> notify_network;
        // Counts the relays and their bytes, and holds the live ones.
        std::shared_ptr<StatsPublisher> stats;
        // Records every relay as it ends in OV_G.access.log; null: none recorded.
        std::shared_ptr<class AccessLog> access;
        // Who logged in on the command port: with ProxyNeedsLogin, only
        // their addresses may relay (null: nobody may then).
        std::shared_ptr<LoginRegistry> logins;
    };

    CProxyThread(GatewayConfig& config, std::shared_ptr<ControlledComputerList> list,
                 Options options);
    ~CProxyThread() override;

    bool OnStart(EventThread& thread) override;
    void OnEnd() override;

    // The port listened on (tests listen on port 0... of their choice).
    uint16_t ListeningPort() const { return m_listening_port; }

  private:
    struct Pair;
    struct Side;

    void Accept();
    void OnAccepted(const std::error_code& ec, asio::ip::tcp::socket socket);
    // Whether a new user is refused before it gets a pair: why (the counter)
    // and the limit it ran into.
    bool Refused(const asio::ip::tcp::endpoint& user, Counter* counter, unsigned* limit);
    void Refuse(asio::ip::tcp::socket& socket, const asio::ip::tcp::endpoint& user);
    void WatchPaused(Pair& pair, int side);
    void OnPausedCheck(Pair& pair, int side);
    bool Ending(const Pair& pair) const;
    void Read(Pair& pair, int side);
    void OnRead(Pair& pair, int side, const std::error_code& ec, size_t n);
    void Write(Pair& pair, int side);
    void OnWritten(Pair& pair, int side, const std::error_code& ec, size_t n);
    void OnHeader(Pair& pair);
    void OnConnected(Pair& pair, const std::error_code& ec);
    void EndSending(Pair& pair, int side);
    void MaybeFinish(Pair& pair);
    void ArmIdle(Pair& pair);
    void ClosePair(Pair& pair, RelayEnd how);
    void Count(Counter c);

    EventThread* m_thread = nullptr;
    GatewayConfig& m_config;
    std::shared_ptr<ControlledComputerList> m_list;
    Options m_options;
    std::unique_ptr<asio::ip::tcp::acceptor> m_listener;
    std::unique_ptr<class AcceptRetry> m_accept_retry;
    uint16_t m_listening_port = 0;
    std::array<std::unique_ptr<Pair>, kPairs> m_pairs;
    // Only with stats: the pair's slot in the live relays is its index.
    StatsPublisher* m_stats = nullptr;
};

}  // namespace ov::gateway
