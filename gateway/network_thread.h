// CMyThread, the network thread: it loads the configuration, starts every
// worker in order, owns the broadcast socket, and on its end stops the
// workers in order, each with its own time limit.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "gateway/event_thread.h"
#include "platform/control_block.h"

namespace ov::gateway {

class GatewayConfig;
class ControlledComputerList;
class AnnouncementHandler;
class BroadcastSocket;

// A worker of the network thread as the stop sequence sees it.
struct WorkerSlot {
    const char* what;                      // for the log lines
    std::chrono::milliseconds end_time;    // how long its end may take
    const char* timeout_line;              // logged when it overran; null: silent
    std::unique_ptr<EventThread> thread;   // null when not running
};

class CMyThread : public EventThread {
public:
    // list may be null (tests of the stop sequence): then no discovery runs.
    explicit CMyThread(GatewayConfig& config, ControlledComputerList* list = nullptr);
    ~CMyThread() override;

    // Steps 1 and 2 of the end routine: stops every worker in order. Safe
    // from any thread, and a second call finds nothing left to stop.
    void StopWorkers();

    // Asks the conversion thread to settle the announcement at index; does
    // nothing while it does not run. Safe from any thread.
    void PostConvert(int index, int flag = 1);

    // For tests: a worker to stop in the slot of that name ("Timer", "Cmd",
    // "Proxy", "Convert").
    void AdoptWorkerForTesting(const std::string& slot, std::unique_ptr<EventThread> worker);

protected:
    bool OnStart() override;
    void OnMessage(ThreadMessage id, intptr_t wparam, intptr_t lparam) override;
    void OnEnd() override;

private:
    WorkerSlot* Slot(const std::string& name);

    GatewayConfig& m_config;
    ControlledComputerList* m_list;
    std::unique_ptr<AnnouncementHandler> m_handler;
    std::unique_ptr<BroadcastSocket> m_broadcast;
    std::mutex m_target_mutex;          // guards m_convert_target only
    EventThread* m_convert_target = nullptr;
    std::mutex m_workers_mutex;
    // In stop order: timer, command, proxy, conversion.
    WorkerSlot m_timer{"Timer", std::chrono::milliseconds(500), nullptr, nullptr};
    WorkerSlot m_cmd{"Cmd", std::chrono::milliseconds(500), "Cmd线程超时,强制结束", nullptr};
    WorkerSlot m_proxy{"Proxy", std::chrono::milliseconds(800), "Proxy线程超时,强制结束", nullptr};
    WorkerSlot m_convert{"Convert", std::chrono::milliseconds(500), nullptr, nullptr};
    // The two update threads end by 10 ms polls, at most ten after the first.
    std::unique_ptr<EventThread> m_update_master;
    std::unique_ptr<EventThread> m_update_backup;
    std::unique_ptr<platform::StopListener> m_stop;
};

}  // namespace ov::gateway
