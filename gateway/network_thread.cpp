#include "gateway/network_thread.h"

#include "gateway/cmd_thread.h"
#include "gateway/gateway_config.h"
#include "gateway/gateway_log.h"
#include "gateway/login_guard.h"
#include "gateway/net/announcement_handling.h"
#include "gateway/net/broadcast_socket.h"
#include "gateway/net/controlled_computer_list.h"
#include "gateway/net/convert_thread.h"
#include "gateway/net/proxy_thread.h"
#include "gateway/stats_publisher.h"
#include "platform/control_block.h"

namespace ov::gateway {

CMyThread::CMyThread(GatewayConfig& config, std::shared_ptr<ControlledComputerList> list,
                     NetworkWorkers workers, std::shared_ptr<StatsPublisher> stats,
                     std::shared_ptr<AccessLog> access)
    : m_config(config),
      m_list(std::move(list)),
      m_make(std::move(workers)),
      m_stats(std::move(stats)),
      m_access(std::move(access)),
      m_logins(std::make_shared<LoginRegistry>()) {
    if (!m_make.convert && m_list) {
        m_make.convert = [this]() -> std::unique_ptr<EventThread> {
            auto converter = std::make_unique<CConvertThread>(m_list);
            CConvertThread* handler = converter.get();
            auto t = std::make_unique<EventThread>("convert", std::move(converter));
            if (!t->Start())
                return nullptr;
            m_converter = handler;
            return t;
        };
    }
}

void CMyThread::Convert(uint32_t generation, bool hurry) {
    if (!m_convert.thread || !m_converter)
        return;
    // The handler outlives whatever is queued on its loop.
    m_convert.thread->RunInLoop(
        [c = m_converter, generation, hurry] { c->Request(generation, hurry); });
}

CMyThread::~CMyThread() = default;

bool CMyThread::StartWorker(WorkerSlot& slot, const NetworkWorkers::Make& make,
                            const char* failure_line) {
    if (!make)
        return true;
    slot.thread = make();
    if (slot.thread)
        return true;
    if (failure_line)
        LogLine(failure_line);
    return false;
}

bool CMyThread::OnStart(EventThread& thread) {
    m_thread = &thread;
    m_updates.Attach(thread);
    if (!m_make.timer)
        m_make.timer = [this] { return m_updates.MakeTimer(); };
    if (!m_make.cmd && m_list) {
        m_make.cmd = [this] {
            // The command thread may outlive this one if it is given up on:
            // it ends the gateway through a poster, never through a pointer.
            CmdOptions o;
            o.stats = m_stats;
            o.access = m_access;
            o.logins = m_logins;
            return MakeCmdThread(
                m_config, m_list,
                [run = m_thread->MakeRunner(), failed = m_failed, this] {
                    *failed = true;  // its listener died
                    run([this] { m_thread->quit(); });
                },
                o);
        };
    }
    if (!m_make.proxy && m_list) {
        m_make.proxy = [this]() -> std::unique_ptr<EventThread> {
            CProxyThread::Options o;
            // The proxy thread too may outlive this one: through a runner.
            // A proxy that could not listen is stopped, the gateway goes
            // on without it.
            o.on_listener = [run = m_thread->MakeRunner(), this](bool listening, int) {
                if (!listening)
                    run([this] { StopWorker(m_proxy); });
            };
            o.on_listener_dead = [run = m_thread->MakeRunner(), failed = m_failed, this] {
                *failed = true;
                run([this] { m_thread->quit(); });
            };
            o.stats = m_stats;
            o.logins = m_logins;
            o.access = m_access;
            auto t = std::make_unique<EventThread>(
                "proxy", std::make_unique<CProxyThread>(m_config, m_list, o));
            if (!t->Start())
                return nullptr;
            return t;
        };
    }
    // The stop request of a second process (or SIGTERM) ends this loop; it
    // listens before the gateway is recorded, so no request finds nobody.
    m_stop =
        std::make_unique<platform::StopListener>(thread.context(), [this] { m_thread->quit(); });
    if (!m_stop->Start())
        LogLine("cannot listen for stop requests: " + platform::ErrorText());
    platform::SharedControlBlock::Instance().RecordGateway(0);
    if (m_stats) {
        m_stats->SetPublishRequest(
            [run = m_thread->MakeRunner(), this] { run([this] { PublishSoon(); }); });
        m_stats_timer = std::make_unique<asio::steady_timer>(thread.context());
        m_publish_timer = std::make_unique<asio::steady_timer>(thread.context());
        PublishStatsEverySecond();
    }
    if (!m_config.LoadConfiguration())
        return false;
    if (!StartWorker(m_convert, m_make.convert, nullptr))
        return false;
    if (m_list) {
        m_handler = std::make_unique<AnnouncementHandler>(*m_list,
                                                          [](const std::string& l) { LogLine(l); });
        m_broadcast = std::make_unique<BroadcastSocket>(
            thread.context(), [this](const uint8_t* data, size_t size) { OnDatagram(data, size); });
        if (!m_broadcast->Open())
            return false;
        m_broadcast->SendProbe();
    }
    m_started = StartWorker(m_timer, m_make.timer, "Timer线程启动失败!") &&
                StartWorker(m_proxy, m_make.proxy, "Proxy线程启动失败!") &&
                StartWorker(m_cmd, m_make.cmd, "Cmd线程启动失败!");
    return m_started;
}

void CMyThread::OnDatagram(const uint8_t* data, size_t size) {
    m_thread->AssertOnThread();
    AnnouncementHandler::Result r = m_handler->OnDatagram(data, size);
    if (r.convert_generation != 0)
        Convert(r.convert_generation, false);
    if (r.hurry_generation != 0)
        Convert(r.hurry_generation, true);
}

// Byte counts and the command port's counters change without asking for a
// publication; this brings them out.
// A change (a relay's start or end, a login) is shown at once, unless the
// gateway is busy (BurstWindow): copying the whole area for each of
// thousands of short relays a second would keep this thread awake. The
// request stays pending meanwhile, so nobody posts another.
void CMyThread::PublishSoon() {
    if (m_publish_window.Take(BurstWindow::Clock::now())) {
        PublishStats();
        return;
    }
    if (m_publish_armed)
        return;
    m_publish_armed = true;
    m_publish_timer->expires_at(m_publish_window.WindowEnd());
    m_publish_timer->async_wait([this](const std::error_code& ec) {
        m_publish_armed = false;
        if (!ec)
            PublishStats();
    });
}

void CMyThread::PublishStats() {
    m_stats->Publish();
}

void CMyThread::PublishStatsEverySecond() {
    PublishStats();
    m_stats_timer->expires_after(std::chrono::seconds(1));
    m_stats_timer->async_wait([this](const std::error_code& ec) {
        if (!ec)
            PublishStatsEverySecond();
    });
}

void CMyThread::OnEnd() {
    if (!m_started)
        *m_failed = true;  // the start stopped short: a port taken, a file missing
    if (m_broadcast)
        m_broadcast->Close();
    m_updates.Stop();
    m_stats_timer.reset();
    m_publish_timer.reset();
    StopWorkers();
    if (m_stats) {
        // The relays have ended with their thread: the last record says so.
        m_stats->SetPublishRequest(nullptr);
        m_stats->Publish();
    }
    m_stop.reset();
    platform::SharedControlBlock::Instance().ClearGateway();
}

void CMyThread::StopWorker(WorkerSlot& slot) {
    if (!slot.thread)
        return;
    if (slot.thread->Running()) {
        slot.thread->quit();
        if (slot.thread->wait_for(slot.end_time) == EventThread::WaitResult::TimedOut) {
            if (slot.timeout_line)
                LogLine(slot.timeout_line);
            EventThread::Abandon(std::move(slot.thread));
            return;
        }
    }
    slot.thread.reset();
}

void CMyThread::StopWorkers() {
    for (WorkerSlot* slot : {&m_timer, &m_cmd, &m_proxy, &m_convert}) StopWorker(*slot);
}

}  // namespace ov::gateway
