// RelayLoop: one of the proxy's relay threads. The acceptor hands it a
// user's connection as a pair; from then on everything of that pair (the
// header, the connect to the computer, the bytes both ways, its end) runs on
// this loop alone, so nothing on the way of a byte takes a lock shared with
// another loop.
//
// A pair's memory lives only while it is used: its buffers (or, on Linux,
// the two kernel pipes through which the bytes pass without being copied
// into the process) are made when it starts and given back when it ends;
// an idle pair keeps only its sockets and timers, pooled for the next one.
#pragma once

#include <asio/ip/tcp.hpp>

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "common/live_stats.h"
#include "gateway/access_log.h"
#include "gateway/event_thread.h"
#include "platform/relay_pipe.h"

namespace ov::gateway {

class GatewayConfig;
class ControlledComputerList;
class StatsPublisher;
class RelayAdmission;

class RelayLoop : public ThreadHandler {
  public:
    // A side's reading pauses once this many bytes wait for the other side
    // (the pipe's capacity where bytes go through a pipe), and resumes once
    // the other side has taken them down below kChunk; one receive or send
    // moves at most kChunk bytes.
    static constexpr size_t kPauseAbove = 98304, kChunk = 32768;
    // Empty pipes a loop keeps for its next pairs (two descriptors each).
    static constexpr size_t kSparePipes = 16;

    struct Settings {
        std::chrono::milliseconds header_deadline{30000};
        std::chrono::milliseconds half_close_idle{30000};
        std::chrono::milliseconds connect_deadline{10000};
        std::chrono::milliseconds paused_check{250};
        // Through kernel pipes where the system has them (false: always
        // through the loop's own buffers).
        bool pipes = true;
        std::shared_ptr<ControlledComputerList> list;
        std::shared_ptr<StatsPublisher> stats;
        std::shared_ptr<AccessLog> access;
        std::shared_ptr<RelayAdmission> admission;
    };

    RelayLoop(GatewayConfig& config, Settings settings);
    ~RelayLoop() override;

    bool OnStart(EventThread& thread) override;
    void OnEnd() override;

    // On this loop's thread: the user's connection, admitted as the pair of
    // slot (its address counts as waiting for a header until it has one).
    void Adopt(asio::ip::tcp::socket user, const asio::ip::tcp::endpoint& peer, uint32_t slot);

  private:
    struct Pair;
    struct Side;

    Pair& FreePair();
    void WatchPaused(Pair& pair, int side);
    void OnPausedCheck(Pair& pair, int side);
    bool Ending(const Pair& pair) const;
    bool Paused(const Pair& pair, int side) const;
    void Read(Pair& pair, int side);
    void OnRead(Pair& pair, int side, const std::error_code& ec, size_t n);
    void OnReadable(Pair& pair, int side);
    void Write(Pair& pair, int to);
    void OnWritten(Pair& pair, int to, const std::error_code& ec, size_t n);
    void Delivered(Pair& pair, int to, size_t n);
    void ReadHeader(Pair& pair);
    void OnHeader(Pair& pair);
    void OnConnected(Pair& pair, const std::error_code& ec);
    bool StartBuffers(Pair& pair);
    void PeerEnded(Pair& pair, int side);
    void EndSending(Pair& pair, int side);
    void MaybeFinish(Pair& pair);
    void ArmIdle(Pair& pair);
    void LeaveHeader(Pair& pair);
    void ClosePair(Pair& pair, RelayEnd how);
    void Count(Counter c);

    EventThread* m_thread = nullptr;
    GatewayConfig& m_config;
    Settings m_settings;
    StatsPublisher* m_stats = nullptr;
    // Every pair this loop ever needed at once; completions of a pair's
    // earlier use find a newer generation and do nothing.
    std::vector<std::unique_ptr<Pair>> m_pairs;
    // Empty pipes of pairs that ended, for the next pairs: making them
    // costs system calls on every new relay. Bounded (kSparePipes).
    std::vector<platform::RelayPipe> m_spare_pipes;
};

}  // namespace ov::gateway
