#include "gateway/network_thread.h"

#include <thread>

#include "gateway/gateway_config.h"
#include "gateway/gateway_log.h"
#include "gateway/net/broadcast_socket.h"
#include "gateway/net/convert_thread.h"
#include "platform/control_block.h"

namespace ov::gateway {
namespace {

using std::chrono::milliseconds;

// An update thread ends by polls: a quit, 10 ms, then up to ten more 10 ms
// looks before it is given up on.
void StopUpdateThread(std::unique_ptr<EventThread>& t) {
    if (!t) return;
    if (t->Running()) {
        t->quit();
        std::this_thread::sleep_for(milliseconds(10));
        for (int i = 0; i < 10 && t->Running(); ++i) std::this_thread::sleep_for(milliseconds(10));
    }
    if (t->Running())
        EventThread::Abandon(std::move(t));
    else
        t.reset();
}

void StopWorker(WorkerSlot& slot) {
    if (!slot.thread) return;
    if (slot.thread->Running()) {
        slot.thread->quit();
        if (slot.thread->wait_for(slot.end_time) == EventThread::WaitResult::TimedOut) {
            if (slot.timeout_line) LogLine(slot.timeout_line);
            EventThread::Abandon(std::move(slot.thread));
            return;
        }
    }
    slot.thread.reset();
}

}  // namespace

CMyThread::CMyThread(GatewayConfig& config, ControlledComputerList* list)
    : EventThread("network"), m_config(config), m_list(list) {}

void CMyThread::PostConvert(int index, int flag) {
    std::lock_guard<std::mutex> lock(m_target_mutex);
    if (m_convert_target) m_convert_target->post(ThreadMessage::ConvertEntry, index, flag);
}

CMyThread::~CMyThread() {
    Join();
    StopWorkers();
}

bool CMyThread::OnStart() {
    // The stop request of a second process (or SIGTERM) ends this loop; it
    // listens before the gateway is recorded, so no request finds nobody.
    m_stop = std::make_unique<platform::StopListener>(context(), [this] { quit(); });
    if (!m_stop->Start()) LogLine("cannot listen for stop requests: " + platform::ErrorText());
    platform::SharedControlBlock::Instance().RecordGateway(0);
    if (!m_config.LoadConfiguration()) return false;
    if (!m_list) return true;
    {
        auto convert = std::make_unique<CConvertThread>(*m_list);
        if (!convert->Start()) return false;
        std::lock_guard<std::mutex> lock(m_workers_mutex);
        std::lock_guard<std::mutex> target(m_target_mutex);
        m_convert_target = convert.get();
        m_convert.thread = std::move(convert);
    }
    m_handler = std::make_unique<AnnouncementHandler>(*m_list, [](const std::string& l) { LogLine(l); });
    m_broadcast = std::make_unique<BroadcastSocket>(context(), *m_handler);
    if (!m_broadcast->Open()) return false;
    m_broadcast->SendProbe();
    PostConvert(0, 0);
    // The timer, proxy and command threads start here, in that order.
    return true;
}

void CMyThread::OnMessage(ThreadMessage, intptr_t, intptr_t) {}

void CMyThread::OnEnd() {
    if (m_broadcast) m_broadcast->Close();
    StopWorkers();
    m_stop.reset();
    platform::SharedControlBlock::Instance().ClearGateway();
}

void CMyThread::StopWorkers() {
    std::lock_guard<std::mutex> lock(m_workers_mutex);
    StopUpdateThread(m_update_master);
    StopUpdateThread(m_update_backup);
    for (WorkerSlot* slot : {&m_timer, &m_cmd, &m_proxy, &m_convert}) {
        if (slot == &m_convert) {
            std::lock_guard<std::mutex> target(m_target_mutex);
            m_convert_target = nullptr;
        }
        StopWorker(*slot);
    }
}

WorkerSlot* CMyThread::Slot(const std::string& name) {
    for (WorkerSlot* slot : {&m_timer, &m_cmd, &m_proxy, &m_convert})
        if (name == slot->what) return slot;
    return nullptr;
}

void CMyThread::AdoptWorkerForTesting(const std::string& slot, std::unique_ptr<EventThread> worker) {
    std::lock_guard<std::mutex> lock(m_workers_mutex);
    if (WorkerSlot* s = Slot(slot)) s->thread = std::move(worker);
}

}  // namespace ov::gateway
