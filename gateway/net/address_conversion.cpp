#include "gateway/net/address_conversion.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <unordered_set>

namespace ov::gateway {

int OnExistData(ControlledComputerList& list, int index, int flag, const ArpProbe& probe,
                const LogLineFn& log_line) {
    if (flag == 0)
        return -1;
    ComputerAnnouncement a;
    {
        std::lock_guard<std::recursive_mutex> lock(list.Mutex());
        if (!list.AnnouncementAt(index, &a))
            return -1;
    }
    return ConvertAnnouncement(list, a, probe, log_line);
}

int ConvertAnnouncement(ControlledComputerList& list, const ComputerAnnouncement& a,
                        const ArpProbe& probe, const LogLineFn& log_line,
                        const std::atomic<bool>* cancelled) {
    std::string own;
    {
        std::lock_guard<std::recursive_mutex> lock(list.Mutex());
        own = list.LocalHostName();
    }
    const std::string name = a.Name();
    if (name.empty()) {
        if (log_line)
            log_line("CConvertThread::OnExistData() - pPack->hostname长度为0!!!");
        return -1;
    }
    const uint8_t* chosen = nullptr;
    if (name == own) {
        for (size_t i = 0; i < ComputerAnnouncement::kAddresses && !chosen; ++i)
            if (DecodeFixed32LE(a.Address(i)) != 0)
                chosen = a.Address(i);
        if (!chosen)
            return -1;
    } else {
        for (size_t i = 0; i < ComputerAnnouncement::kAddresses && !chosen; ++i) {
            if (cancelled && cancelled->load())
                return -1;
            const uint8_t* addr = a.Address(i);
            uint32_t network_order;
            std::memcpy(&network_order, addr, 4);
            if (network_order == 0 || !probe || !probe(network_order))
                continue;
            chosen = addr;
            if (log_line)
                log_line(std::to_string(addr[0]) + "." + std::to_string(addr[1]) + "." +
                         std::to_string(addr[2]) + "." + std::to_string(addr[3]) + "有效!");
        }
        if (!chosen) {
            if (log_line)
                log_line("取有效地址失败!");
            return -1;
        }
    }
    ComputerEntry e = ComputerEntry::Make(name, a.Port(), chosen);
    std::lock_guard<std::recursive_mutex> lock(list.Mutex());
    ComputerAnnouncement now;
    if ((cancelled && cancelled->load()) || !list.FindAnnouncement(name, &now) ||
        std::memcmp(now.bytes, a.bytes, sizeof a.bytes) != 0)
        return -1;
    list.AddOrUpdateEntry(e);
    return 0;
}

struct ConversionQueue::Shared {
    std::shared_ptr<ControlledComputerList> list;
    ArpProbe probe;
    LogLineFn log_line;
    int probes_at_once;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::string> order;                                  // names waiting, oldest first
    std::unordered_map<std::string, ComputerAnnouncement> waiting;  // exactly the names in order
    std::unordered_set<std::string> probing;
    int threads = 0;
    std::atomic<bool> stopped{false};
};

ConversionQueue::ConversionQueue(std::shared_ptr<ControlledComputerList> list, ArpProbe probe,
                                 LogLineFn log_line, int probes_at_once)
    : m_shared(std::make_shared<Shared>()) {
    m_shared->list = std::move(list);
    m_shared->probe = std::move(probe);
    m_shared->log_line = std::move(log_line);
    m_shared->probes_at_once = probes_at_once < 1 ? 1 : probes_at_once;
}

void ConversionQueue::Request(int index, bool hurry) {
    ComputerAnnouncement a;
    {
        std::lock_guard<std::recursive_mutex> lock(m_shared->list->Mutex());
        if (!m_shared->list->AnnouncementAt(index, &a))
            return;
    }
    std::string name = a.Name();
    std::lock_guard<std::mutex> lock(m_shared->mutex);
    if (m_shared->stopped)
        return;
    if (hurry) {
        auto at = std::find(m_shared->order.begin(), m_shared->order.end(), name);
        if (at == m_shared->order.end())
            return;
        m_shared->order.erase(at);
        m_shared->order.push_front(std::move(name));
        return;
    }
    auto [it, added] = m_shared->waiting.insert_or_assign(name, a);
    if (added)
        m_shared->order.push_back(std::move(name));
    // One more thread only while every one is busy; they stay for the run.
    if (m_shared->threads < m_shared->probes_at_once &&
        m_shared->threads <= int(m_shared->probing.size())) {
        try {
            std::thread([shared = m_shared] { Work(*shared); }).detach();
            ++m_shared->threads;
        } catch (const std::system_error&) {
            // The threads running so far take the queue on.
        }
    }
    m_shared->wake.notify_one();
}

void ConversionQueue::Stop() {
    std::lock_guard<std::mutex> lock(m_shared->mutex);
    m_shared->stopped = true;
    m_shared->order.clear();
    m_shared->waiting.clear();
    m_shared->wake.notify_all();
}

void ConversionQueue::Work(Shared& s) {
    std::unique_lock<std::mutex> lock(s.mutex);
    for (;;) {
        // The oldest waiting name that is not being probed right now: a
        // newer announcement of a name under probe waits for that probe.
        auto next = s.order.end();
        s.wake.wait(lock, [&] {
            if (s.stopped)
                return true;
            next = std::find_if(s.order.begin(), s.order.end(),
                                [&](const std::string& n) { return !s.probing.count(n); });
            return next != s.order.end();
        });
        if (s.stopped)
            return;
        std::string name = std::move(*next);
        s.order.erase(next);
        ComputerAnnouncement a = s.waiting[name];
        s.waiting.erase(name);
        s.probing.insert(name);
        lock.unlock();
        ConvertAnnouncement(*s.list, a, s.probe, s.log_line, &s.stopped);
        lock.lock();
        s.probing.erase(name);
        s.wake.notify_all();
    }
}

}  // namespace ov::gateway
