// CCmdThread, the command port: a listener and 80 client slots (CmdSocket)
// on one thread. A client sends authentication requests; the answer is a
// reply code, or for a user who passes the proxy port and the list of
// controlled computers. Every read and write is asynchronous, so a slow or
// silent client never holds the thread, and deadlines close connections
// that stall.
#pragma once

#include <asio/ip/address.hpp>
#include <asio/ip/tcp.hpp>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include <asio/steady_timer.hpp>

#include "common/live_stats.h"
#include "gateway/cmd_protocol.h"
#include "gateway/event_thread.h"
#include "gateway/login_guard.h"

namespace ov::gateway {

class GatewayConfig;
class ControlledComputerList;
class CmdSocket;
class CmdListener;
class StatsPublisher;

struct CmdOptions {
    // Empty: GetCmdPort() of the configuration. 0 lets the system choose.
    std::optional<uint16_t> port;
    asio::ip::address address = asio::ip::address_v4::any();
    // A frame that has begun must be complete within this time.
    std::chrono::milliseconds frame_deadline{30000};
    // A connection must pass authentication within this time of its accept;
    // once it has, it may stay idle.
    std::chrono::milliseconds login_deadline{30000};
    // Told the port once the listener listens (on the command thread).
    std::function<void(uint16_t)> on_listening;
    // Counts logins by reply and the connections refused or timed out.
    std::shared_ptr<StatsPublisher> stats;
    // Told of every login that passes and of every such connection's end,
    // for the proxy port's login rule; null: nobody is told.
    std::shared_ptr<LoginRegistry> logins;
    // Records every login in OV_G.access.log; null: none recorded.
    std::shared_ptr<class AccessLog> access;
};

class CCmdThread : public ThreadHandler {
  public:
    static constexpr size_t kSlots = 80;

    // config lives to the end of the process. end_gateway ends the whole
    // gateway (it quits the network thread); it is called on this thread
    // when the listener has died.
    CCmdThread(GatewayConfig& config, std::shared_ptr<ControlledComputerList> list,
               std::function<void()> end_gateway, CmdOptions options = {});
    ~CCmdThread() override;

    // False when the listener cannot be created or cannot listen, after its
    // box and log line: the thread then ends and the gateway goes on
    // without a command port.
    bool OnStart(EventThread& thread) override;
    void OnEnd() override;

  private:
    friend class CmdSocket;
    friend class CmdListener;

    // Requests of one address that wait for their turn after failed logins
    // from it, answered in order by one timer.
    struct HeldRequests {
        std::deque<std::weak_ptr<CmdSocket>> waiting;
        std::unique_ptr<asio::steady_timer> timer;
        bool armed = false;
    };

    void OnAccepted(asio::ip::tcp::socket socket);
    void OnListenerDead();
    // Answers now (true), or holds the request until its address may be
    // answered again (false; the slot then reads nothing more until then).
    bool OnRequest(CmdSocket& slot, const AuthRequest& request);
    void Answer(CmdSocket& slot, const AuthRequest& request);
    void ArmHeld(uint32_t address, HeldRequests& held);
    void OnHeldDue(uint32_t address);
    void Count(Counter c);
    std::vector<uint8_t> BuildListReply();

    EventThread* m_thread = nullptr;
    GatewayConfig& m_config;
    std::shared_ptr<ControlledComputerList> m_list;
    std::function<void()> m_end_gateway;
    CmdOptions m_options;
    std::unique_ptr<CmdListener> m_listener;
    // A slot is free when null; a connection's state is shared with its own
    // pending completions, which find it closed after the slot let it go.
    std::shared_ptr<CmdSocket> m_slots[kSlots];
    LoginThrottle m_throttle;
    std::unordered_map<uint32_t, HeldRequests> m_held;  // by address
};

// The command thread as the network thread makes it: a started thread, or
// null when no thread could be created. A thread whose listener fails ends
// by itself at once; that is not a failure to start.
std::unique_ptr<EventThread> MakeCmdThread(GatewayConfig& config,
                                           std::shared_ptr<ControlledComputerList> list,
                                           std::function<void()> end_gateway,
                                           CmdOptions options = {});

}  // namespace ov::gateway
