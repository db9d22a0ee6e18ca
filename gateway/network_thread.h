// CMyThread, the network thread: it loads the configuration, starts every
// worker in order, owns the broadcast socket and hands each announcement
// that needs an address to the conversion thread, and on its end stops the
// workers in order, each with its own time limit. Other threads stop the
// gateway by ending this thread (EventThread::quit), never its workers.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include <asio/steady_timer.hpp>

#include "gateway/burst_window.h"
#include "gateway/event_thread.h"
#include "gateway/net/web_agent_update.h"
#include "platform/control_block.h"

namespace ov::gateway {

class GatewayConfig;
class ControlledComputerList;
class AnnouncementHandler;
class BroadcastSocket;
class StatsPublisher;
class AccessLog;
class LoginRegistry;

// How the network thread makes its workers; each returns a started thread
// or null after its own log line. An empty function: no such worker. Tests
// give threads of their own here.
struct NetworkWorkers {
    using Make = std::function<std::unique_ptr<EventThread>()>;
    Make convert, timer, proxy, cmd;
};

class CMyThread : public ThreadHandler {
  public:
    // list may be null: then no discovery runs. Whatever workers leaves
    // empty is made as the gateway makes it (see MakeWorker). stats, when
    // given, is counted by the workers and published by this thread; access,
    // when given, is where the command and proxy threads record accesses.
    CMyThread(GatewayConfig& config, std::shared_ptr<ControlledComputerList> list,
              NetworkWorkers workers = {}, std::shared_ptr<StatsPublisher> stats = nullptr,
              std::shared_ptr<AccessLog> access = nullptr);
    ~CMyThread() override;

    bool OnStart(EventThread& thread) override;
    void OnEnd() override;

    // Once the thread has ended: whether it ended because the gateway could
    // not serve (its start failed, or the command or proxy listener died),
    // rather than on a stop request.
    bool EndedOnFailure() const { return m_failed->load(); }

  private:
    // A worker as the stop sequence sees it.
    struct WorkerSlot {
        const char* what;                     // for the log lines
        std::chrono::milliseconds end_time;   // how long its end may take
        const char* timeout_line;             // logged when it overran; null: silent
        std::unique_ptr<EventThread> thread;  // null when not running
    };

    bool StartWorker(WorkerSlot& slot, const NetworkWorkers::Make& make, const char* failure_line);
    static void StopWorker(WorkerSlot& slot);
    void StopWorkers();
    void OnDatagram(const uint8_t* data, size_t size);
    // Hands an announcement to the conversion thread (see CConvertThread).
    void Convert(uint32_t generation, bool hurry);
    void PublishStatsEverySecond();
    void PublishSoon();
    void PublishStats();

    EventThread* m_thread = nullptr;
    GatewayConfig& m_config;
    std::shared_ptr<ControlledComputerList> m_list;
    NetworkWorkers m_make;
    std::shared_ptr<StatsPublisher> m_stats;
    std::shared_ptr<AccessLog> m_access;
    // Who logged in on the command port, for the proxy port's login rule.
    std::shared_ptr<LoginRegistry> m_logins;
    std::unique_ptr<asio::steady_timer> m_stats_timer;
    std::unique_ptr<asio::steady_timer> m_publish_timer;
    BurstWindow m_publish_window;
    bool m_publish_armed = false;
    std::unique_ptr<AnnouncementHandler> m_handler;
    std::unique_ptr<BroadcastSocket> m_broadcast;
    // The reports to the web agents, started by the timer's ticks.
    WebAgentUpdate m_updates{m_config};
    // In stop order: timer, command, proxy, conversion.
    WorkerSlot m_timer{"Timer", std::chrono::milliseconds(500), nullptr, nullptr};
    WorkerSlot m_cmd{"Cmd", std::chrono::milliseconds(500), "Cmd线程超时,强制结束", nullptr};
    WorkerSlot m_proxy{"Proxy", std::chrono::milliseconds(800), "Proxy线程超时,强制结束", nullptr};
    WorkerSlot m_convert{"Convert", std::chrono::milliseconds(500), nullptr, nullptr};
    // The conversion thread's handler when this thread made it (tests give
    // workers of their own); it lives as long as that thread's loop.
    class CConvertThread* m_converter = nullptr;
    std::unique_ptr<platform::StopListener> m_stop;
    bool m_started = false;  // OnStart got to its end
    // Set by whatever ends the gateway for want of service; shared with the
    // workers' ways of ending it, which may outlive this object.
    std::shared_ptr<std::atomic<bool>> m_failed = std::make_shared<std::atomic<bool>>(false);
};

}  // namespace ov::gateway
