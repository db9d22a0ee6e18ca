// The network thread's side of the web agent reports: on each tick of the
// update timer it refreshes the gateway record and starts one report per
// configured web agent (master, backup), counts reports that overrun a
// tick, replaces one that overran more than five ticks, and logs each
// result. It never waits for a report, except for the short bounded wait
// when it stops one.
#pragma once

#include <chrono>
#include <memory>

#include "gateway/event_thread.h"
#include "gateway/gateway_config.h"
#include "gateway/net/update_ip_thread.h"

namespace ov::gateway {

class WebAgentUpdate {
  public:
    // Overruns tolerated before a report is given up on.
    static constexpr int kMaxOverruns = 5;

    // load: where the reports find OVGUpdateInfo; null for the library.
    explicit WebAgentUpdate(GatewayConfig& config, LoadUpdateExports load = nullptr);
    ~WebAgentUpdate();

    // The network thread, to which ticks and results come.
    void Attach(EventThread& network);

    // The started timer thread with the update slot (period UpdateTime) and a
    // slot of period 0; null when it cannot start.
    // REQUIRES: Attach, and the configuration loaded.
    std::unique_ptr<EventThread> MakeTimer();

    // The slot whose ticks start reports (set by MakeTimer; tests with a
    // timer of their own say it here).
    void SetUpdateSlot(int slot) { m_slot = slot; }

    // On the network thread: a tick of the timer's slot `slot` (only the
    // update slot's start reports).
    void OnTimerTick(int slot);

    // Stops the master's report, then the backup's; each gets 10 ms and ten
    // 10 ms polls, then is given up on. On the network thread at its end.
    void Stop();

  private:
    struct Agent {
        WebAgentRole role;
        const char* name;  // the head of its result lines
        std::unique_ptr<EventThread> thread;
        std::shared_ptr<ReportLink> link;
        int overruns = 0;
        int stale_results = 0;  // posted by reports given up on, to be dropped
    };

    void OnTick();
    void StartReport(Agent& agent, const WebAgentInfo& info);
    static void StopReport(Agent& agent);
    void OnResult(int result, intptr_t which);

    GatewayConfig& m_config;
    LoadUpdateExports m_load;
    EventThread* m_network = nullptr;
    int m_slot = -1;
    Agent m_master{WebAgentRole::Master, "主WebAgent", nullptr, nullptr};
    Agent m_backup{WebAgentRole::Backup, "备份WebAgent", nullptr, nullptr};
};

// The words that follow the agent's name in a result line.
const char* UpdateResultText(int result);

}  // namespace ov::gateway
