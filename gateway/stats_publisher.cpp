#include "gateway/stats_publisher.h"

#include <chrono>
#include <cstring>
#include <vector>

#include "platform/files.h"

namespace ov::gateway {
namespace {

int64_t SystemNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

StatsPublisher::StatsPublisher() : StatsPublisher(Options{}) {}

StatsPublisher::StatsPublisher(Options options) : m_options(std::move(options)), m_started(Now()) {}

int64_t StatsPublisher::Now() const {
    return m_options.now ? m_options.now() : SystemNow();
}

bool StatsPublisher::StartPublishing() {
    {
        std::lock_guard<std::mutex> lock(m_publish_mutex);
        if (!m_view_mutex.Create(m_options.view_name + "Mutex") ||
            !m_view.Create(m_options.view_name, StatsLayout::kAreaSize)) {
            if (m_options.log_line)
                m_options.log_line("cannot publish the live sessions (" + m_options.view_name +
                                   "): " + platform::ErrorText());
            m_view.Close();
            m_view_mutex.Close();
            return false;
        }
    }
    Publish();
    return true;
}

void StatsPublisher::ClosePublishing() {
    std::lock_guard<std::mutex> lock(m_publish_mutex);
    m_view.Close();
    m_view_mutex.Close();
}

void StatsPublisher::BeginSession(size_t slot, const SessionInfo& info) {
    if (slot >= kSlots)
        return;
    Slot& s = m_slots[slot];
    {
        std::lock_guard<std::mutex> lock(m_sessions_mutex);
        s.info = info;
        s.info.slot = uint32_t(slot);
        s.info.started = Now();
        s.to_computer.store(0, std::memory_order_relaxed);
        s.to_user.store(0, std::memory_order_relaxed);
        s.live = true;
    }
    RequestPublish();
}

void StatsPublisher::EndSession(size_t slot) {
    if (slot >= kSlots)
        return;
    {
        std::lock_guard<std::mutex> lock(m_sessions_mutex);
        if (!m_slots[slot].live)
            return;
        m_slots[slot].live = false;
    }
    RequestPublish();
}

void StatsPublisher::SetPublishRequest(std::function<void()> request) {
    std::lock_guard<std::mutex> lock(m_request_mutex);
    m_request = std::move(request);
}

void StatsPublisher::RequestPublish() {
    if (m_publish_pending.exchange(true))
        return;  // one is on its way and will see this change too
    std::lock_guard<std::mutex> lock(m_request_mutex);
    if (m_request)
        m_request();
    else
        m_publish_pending.store(false);
}

StatsSnapshot StatsPublisher::Snapshot() {
    StatsSnapshot s;
    s.started = m_started;
    s.published = Now();
    {
        std::lock_guard<std::mutex> lock(m_sessions_mutex);
        for (Slot& slot : m_slots) {
            if (!slot.live)
                continue;
            SessionInfo info = slot.info;
            info.to_computer = slot.to_computer.load(std::memory_order_relaxed);
            info.to_user = slot.to_user.load(std::memory_order_relaxed);
            s.sessions.push_back(std::move(info));
        }
    }
    for (size_t i = 0; i < kCounterCount; ++i)
        s.counters[i] = m_counters[i].load(std::memory_order_relaxed);
    return s;
}

void StatsPublisher::Publish() {
    // Cleared first: a change after this point asks again.
    m_publish_pending.store(false);
    StatsSnapshot s = Snapshot();
    std::lock_guard<std::mutex> lock(m_publish_mutex);
    if (!m_view.IsOpen())
        return;
    s.sequence = ++m_sequence;
    std::vector<uint8_t> record(StatsLayout::kAreaSize);
    EncodeStats(s, record.data());
    platform::NamedMutexLock view_lock(m_view_mutex);
    std::memcpy(m_view.data(), record.data(), record.size());
}

}  // namespace ov::gateway
