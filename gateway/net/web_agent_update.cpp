#include "gateway/net/web_agent_update.h"

#include "gateway/gateway_config.h"
#include "gateway/gateway_log.h"
#include "gateway/net/timer_thread.h"

namespace ov::gateway {

using std::chrono::milliseconds;

const char* UpdateResultText(int result) {
    switch (result) {
        case 1:
            return "更新网页成功";
        case 2:
            return "连接失败";
        case 3:
            return "密码拒绝";
        case 4:
            return "连接出错";
        case 5:
            return "连接解码失败";
        default:
            return "连接发生未知错误";
    }
}

WebAgentUpdate::WebAgentUpdate(GatewayConfig& config, LoadUpdateExports load)
    : m_config(config), m_load(std::move(load)) {}

WebAgentUpdate::~WebAgentUpdate() {
    Stop();
}

void WebAgentUpdate::Attach(EventThread& network) {
    m_network = &network;
}

std::unique_ptr<EventThread> WebAgentUpdate::MakeTimer() {
    // Ticks run on the network thread; this object outlives its loop.
    auto timer =
        std::make_unique<CTimerThread>([run = m_network->MakeRunner(), this](
                                           int slot) { run([this, slot] { OnTimerTick(slot); }); },
                                       MinuteFromEnvironment());
    m_slot = timer->AddTimer(m_config.GetUpdateTime());
    timer->AddTimer(0);
    auto t = std::make_unique<EventThread>("timer", std::move(timer));
    if (!t->Start())
        return nullptr;
    return t;
}

void WebAgentUpdate::OnTimerTick(int slot) {
    if (slot == m_slot)
        OnTick();
}

void WebAgentUpdate::OnTick() {
    m_network->AssertOnThread();
    if (!m_config.RefreshOwnRecord())
        return;  // its lines are written
    for (Agent* agent : {&m_master, &m_backup}) {
        WebAgentInfo info = m_config.TrimAgentUrl(agent->role);
        if (info.url[0] != '\0')
            StartReport(*agent, info);
    }
}

void WebAgentUpdate::StartReport(Agent& agent, const WebAgentInfo& info) {
    if (agent.thread && agent.thread->Running()) {
        // A slow web agent is given a few ticks before its report is
        // replaced by a fresh one.
        if (++agent.overruns <= kMaxOverruns)
            return;
        agent.overruns = 0;
        StopReport(agent);
    } else {
        agent.overruns = 0;
        agent.thread.reset();
        agent.link.reset();
    }
    // The result runs on the network thread; this object outlives its loop.
    auto to_network = [run = m_network->MakeRunner(), this](int result, int which) {
        return run([this, result, which] { OnResult(result, which); });
    };
    agent.link = std::make_shared<ReportLink>(m_config, std::move(to_network), int(agent.role));
    auto t = std::make_unique<EventThread>(
        "update", std::make_unique<CUpDateIPThread>(agent.link, info, m_load));
    if (!t->Start()) {
        LogLine(std::string("cannot start the report to ") + agent.name);
        agent.link.reset();
        return;
    }
    agent.thread = std::move(t);
}

void WebAgentUpdate::StopReport(Agent& agent) {
    if (agent.thread && agent.thread->Running()) {
        agent.thread->quit();
        bool ended = agent.thread->wait_for(milliseconds(10)) == EventThread::WaitResult::Ended;
        for (int poll = 0; poll < 10 && !ended; ++poll)
            ended = agent.thread->wait_for(milliseconds(10)) == EventThread::WaitResult::Ended;
        if (!ended) {
            // Most likely blocked in a read of the web agent: it finishes on
            // its own, and nothing of it reaches the gateway any more.
            if (agent.link->Cut())
                ++agent.stale_results;
            EventThread::Abandon(std::move(agent.thread));
        }
    }
    agent.thread.reset();
    agent.link.reset();
}

void WebAgentUpdate::Stop() {
    StopReport(m_master);
    StopReport(m_backup);
}

void WebAgentUpdate::OnResult(int result, intptr_t which) {
    if (m_network)
        m_network->AssertOnThread();
    Agent* agent = which == intptr_t(WebAgentRole::Master)   ? &m_master
                   : which == intptr_t(WebAgentRole::Backup) ? &m_backup
                                                             : nullptr;
    if (!agent)
        return;
    if (agent->stale_results > 0) {
        --agent->stale_results;
        return;
    }
    LogLine(std::string(agent->name) + UpdateResultText(result));
}

}  // namespace ov::gateway
