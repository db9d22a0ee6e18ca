// CProxyThread: the proxy port. Each user connection names a controlled
// computer in its first 50 bytes; the gateway connects to that computer and
// relays bytes both ways, for at most MaxRelays connections at a time. This
// thread only accepts and admits: every admitted connection is handed to one
// of the relay loops (one thread per core, at most kMaxLoops), which runs
// it from then on.
#pragma once

#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/live_stats.h"
#include "common/relay_header.h"
#include "gateway/access_log.h"
#include "gateway/event_thread.h"

namespace ov::gateway {

class GatewayConfig;
class ControlledComputerList;
class StatsPublisher;
class LoginRegistry;

class CProxyThread : public ThreadHandler {
  public:
    // The relays at once when the configuration does not say (MaxRelays).
    static constexpr int kPairs = 40;
    static constexpr int kMaxLoops = 8;

    struct Options {
        int port = -1;  // -1: the configuration's proxy port; 0: any free port
        std::string address = "0.0.0.0";
        // A user that has not sent its header by then is closed.
        std::chrono::milliseconds header_deadline{30000};
        // A pair of which one side has ended is freed when nothing moved for this long.
        std::chrono::milliseconds half_close_idle{30000};
        // Users past their address's share of pairs awaiting a header wait
        // in its queue, and are refused when none of them got in for this
        // long (the pairs ahead stayed silent).
        std::chrono::milliseconds queue_wait{250};
        // A computer that has not answered the connect by then is given up.
        std::chrono::milliseconds connect_deadline{10000};
        // How often a side whose reading is paused is looked at for a peer
        // that reset or closed meanwhile.
        std::chrono::milliseconds paused_check{250};
        // Told on this thread whether the listener listens (the port when
        // it could not): the network thread stops a proxy that cannot.
        std::function<void(bool listening, int port)> on_listener;
        // Told on this thread that the listener died: it ends the gateway.
        std::function<void()> on_listener_dead;
        // Counts the relays and their bytes, and holds the live ones.
        std::shared_ptr<StatsPublisher> stats;
        // Records every relay as it ends in OV_G.access.log; null: none recorded.
        std::shared_ptr<class AccessLog> access;
        // Who logged in on the command port: with ProxyNeedsLogin, only
        // their addresses may relay (null: nobody may then).
        std::shared_ptr<LoginRegistry> logins;
        // Relay loops: 0 = one per core, at most kMaxLoops.
        int loops = 0;
        // Through kernel pipes where the system has them (false: the relay
        // loops copy through buffers of their own everywhere).
        bool pipes = true;
    };

    CProxyThread(GatewayConfig& config, std::shared_ptr<ControlledComputerList> list,
                 Options options);
    ~CProxyThread() override;

    bool OnStart(EventThread& thread) override;
    void OnEnd() override;

    // The port listened on (tests listen on port 0... of their choice).
    uint16_t ListeningPort() const { return m_listening_port; }

  private:
    struct QueuedUser {
        std::shared_ptr<asio::ip::tcp::socket> socket;  // of a loop's context
        asio::ip::tcp::endpoint peer;
        size_t loop;
    };
    struct AddressQueue {
        std::deque<QueuedUser> users;
        // Ends when no user of the address got in for queue_wait.
        std::shared_ptr<asio::steady_timer> timer;
    };

    // How a user comes to be admitted: just accepted, or again once the
    // loops caught up.
    enum class Attempt { New, Recheck };

    void Accept();
    bool Accepting() const;
    void OnAccepted(asio::ip::tcp::socket socket, size_t loop);
    // Whether a new user is refused before it gets a pair: why (the counter)
    // and the limit it ran into; *slot is the pair's when it is not.
    bool Refused(const asio::ip::tcp::endpoint& user, Counter* counter, unsigned* limit,
                 uint32_t* slot);
    // The pairs awaiting a header one address may hold (0: no cap).
    int WaitingShare() const;
    void Refuse(asio::ip::tcp::socket& socket, const asio::ip::tcp::endpoint& user, Counter refusal,
                unsigned limit);
    // Hands the user to relay loop `loop`, queues it, or refuses it. False
    // while it waits for the loops to catch up, which holds the next accept.
    bool Admit(asio::ip::tcp::socket socket, const asio::ip::tcp::endpoint& peer, size_t loop,
               Attempt attempt);
    void Hand(asio::ip::tcp::socket socket, const asio::ip::tcp::endpoint& peer, size_t loop,
              uint32_t slot);
    // holds_listener: the next accept waits for the decision.
    void WaitForLoops(asio::ip::tcp::socket socket, const asio::ip::tcp::endpoint& peer,
                      size_t loop, bool holds_listener);
    // A user whose address holds its share of pairs awaiting a header waits
    // for one of them to get it, for a moment at most.
    void Enqueue(asio::ip::tcp::socket socket, const asio::ip::tcp::endpoint& peer, size_t loop);
    void WaitForProgress(uint32_t address, AddressQueue& queue);
    void OnRoom(uint32_t address);
    void OnQueueTimeout(uint32_t address);
    void DropQueue();
    bool StartLoops();
    void StopLoops();
    void Count(Counter c);

    EventThread* m_thread = nullptr;
    GatewayConfig& m_config;
    std::shared_ptr<ControlledComputerList> m_list;
    Options m_options;
    std::unique_ptr<class Listener> m_listener;
    // Users waiting for the loops to catch up before they are admitted or
    // refused; each holds a socket of a loop's context.
    std::shared_ptr<std::atomic<int>> m_rechecks = std::make_shared<std::atomic<int>>(0);
    std::unordered_map<uint32_t, AddressQueue> m_queue;  // by address
    size_t m_queued = 0;                                 // users in all queues
    uint16_t m_listening_port = 0;
    std::shared_ptr<class RelayAdmission> m_admission;
    std::vector<std::unique_ptr<EventThread>> m_loops;
    std::vector<class RelayLoop*> m_relays;  // the loops' handlers, in the same order
    size_t m_next_loop = 0;
    size_t m_accept_loop = 0;  // the loop the pending accept accepts into
    StatsPublisher* m_stats = nullptr;
};

}  // namespace ov::gateway
