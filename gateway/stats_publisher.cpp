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

size_t SessionSlots(size_t wanted) {
    if (wanted < 1)
        return 1;
    return wanted < StatsLayout::kSessionsLimit ? wanted : StatsLayout::kSessionsLimit;
}

}  // namespace

StatsPublisher::StatsPublisher() : StatsPublisher(Options{}) {}

StatsPublisher::StatsPublisher(Options options)
    : m_options(std::move(options)),
      m_max_sessions(SessionSlots(m_options.max_sessions)),
      m_started(Now()),
      m_slots(new Slot[m_max_sessions]) {}

int64_t StatsPublisher::Now() const {
    return m_options.now ? m_options.now() : SystemNow();
}

bool StatsPublisher::StartPublishing() {
    {
        std::lock_guard<std::mutex> lock(m_publish_mutex);
        if (!m_view_mutex.Create(m_options.view_name + "Mutex") ||
            !m_view.Create(m_options.view_name, StatsLayout::AreaSize(m_max_sessions))) {
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

uint64_t StatsPublisher::Get(Counter c) const {
    const uint64_t counted = m_counters[size_t(c)].load(std::memory_order_relaxed);
    if (c != Counter::BytesToComputer && c != Counter::BytesToUser)
        return counted;
    uint64_t to_computer = 0, to_user = 0;
    {
        std::lock_guard<std::mutex> lock(m_sessions_mutex);
        SumBytesLocked(&to_computer, &to_user);
    }
    return counted + (c == Counter::BytesToComputer ? to_computer : to_user);
}

void StatsPublisher::SettleBytesLocked(Slot& s) {
    // Only the slot's own thread writes its bytes, and it is the caller: the
    // load and the store cannot lose an addition in between.
    m_settled_to_computer += s.to_computer.load(std::memory_order_relaxed);
    m_settled_to_user += s.to_user.load(std::memory_order_relaxed);
    s.to_computer.store(0, std::memory_order_relaxed);
    s.to_user.store(0, std::memory_order_relaxed);
}

void StatsPublisher::SumBytesLocked(uint64_t* to_computer, uint64_t* to_user) const {
    uint64_t c = m_settled_to_computer, u = m_settled_to_user;
    for (size_t i = 0; i < m_max_sessions; ++i) {
        c += m_slots[i].to_computer.load(std::memory_order_relaxed);
        u += m_slots[i].to_user.load(std::memory_order_relaxed);
    }
    *to_computer = c;
    *to_user = u;
}

void StatsPublisher::BeginSession(size_t slot, const SessionInfo& info) {
    if (slot >= m_max_sessions)
        return;
    Slot& s = m_slots[slot];
    {
        std::lock_guard<std::mutex> lock(m_sessions_mutex);
        // Bytes counted since the slot's last end (none, usually) stay in
        // the totals; the relay's own start from zero.
        SettleBytesLocked(s);
        s.info = info;
        s.info.slot = uint32_t(slot);
        s.info.started = Now();
        s.live = true;
    }
    RequestPublish();
}

void StatsPublisher::EndSession(size_t slot) {
    if (slot >= m_max_sessions)
        return;
    {
        std::lock_guard<std::mutex> lock(m_sessions_mutex);
        Slot& s = m_slots[slot];
        SettleBytesLocked(s);
        if (!s.live)
            return;
        s.live = false;
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
    uint64_t to_computer = 0, to_user = 0;
    {
        std::lock_guard<std::mutex> lock(m_sessions_mutex);
        for (size_t i = 0; i < m_max_sessions; ++i) {
            const Slot& slot = m_slots[i];
            if (!slot.live)
                continue;
            SessionInfo info = slot.info;
            info.to_computer = slot.to_computer.load(std::memory_order_relaxed);
            info.to_user = slot.to_user.load(std::memory_order_relaxed);
            s.sessions.push_back(std::move(info));
        }
        SumBytesLocked(&to_computer, &to_user);
    }
    for (size_t i = 0; i < kCounterCount; ++i)
        s.counters[i] = m_counters[i].load(std::memory_order_relaxed);
    s.counters[size_t(Counter::BytesToComputer)] += to_computer;
    s.counters[size_t(Counter::BytesToUser)] += to_user;
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
    m_record.resize(StatsLayout::AreaSize(m_max_sessions));
    EncodeStats(s, m_record.data(), m_max_sessions);
    platform::NamedMutexLock view_lock(m_view_mutex);
    std::memcpy(m_view.data(), m_record.data(), m_record.size());
}

}  // namespace ov::gateway
