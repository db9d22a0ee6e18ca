#include "gateway/net/address_conversion.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <list>
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
    if (!list.AnnouncementAt(index, &a))
        return -1;
    return ConvertAnnouncement(list, a, probe, log_line);
}

int ConvertAnnouncement(ControlledComputerList& list, const ComputerAnnouncement& a,
                        const ArpProbe& probe, const LogLineFn& log_line,
                        const std::atomic<bool>* cancelled, uint32_t generation) {
    const std::string name = a.Name();
    if (generation != 0 && !list.IsCurrent(name, generation))
        return -1;
    const std::string own = list.LocalHostName();
    auto dropped = [&] {
        if (cancelled && cancelled->load())
            return true;
        return generation != 0 && !list.IsCurrent(name, generation);
    };
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
            const uint8_t* addr = a.Address(i);
            uint32_t network_order;
            std::memcpy(&network_order, addr, 4);
            if (network_order == 0)
                continue;
            if (dropped())
                return -1;
            if (!probe || !probe(network_order))
                continue;
            chosen = addr;
            if (log_line)
                log_line(std::to_string(addr[0]) + "." + std::to_string(addr[1]) + "." +
                         std::to_string(addr[2]) + "." + std::to_string(addr[3]) + "有效!");
        }
        if (!chosen) {
            if (log_line && !dropped())
                log_line("取有效地址失败!");
            return -1;
        }
    }
    // A stopped queue publishes nothing. Stop() never takes the list's
    // lock, so this is as good a moment to look as any inside it.
    if (cancelled && cancelled->load())
        return -1;
    if (!list.SettleConversion(a, generation, ComputerEntry::Make(name, a.Port(), chosen)))
        return -1;
    return 0;
}

struct ConversionQueue::Shared {
    struct Waiting {
        ComputerAnnouncement a;
        uint32_t generation = 0;
        bool hurried = false;  // then `at` is in `hurried`, else in `fresh`
        std::list<std::string>::iterator at;
    };
    std::shared_ptr<ControlledComputerList> list;
    ArpProbe probe;
    LogLineFn log_line;
    int probes_at_once;
    size_t max_waiting;
    mutable std::mutex mutex;
    std::condition_variable wake;
    std::unordered_map<std::string, Waiting> waiting;  // exactly the names in the two lists
    std::list<std::string> hurried;                    // announced again, most recent first
    std::list<std::string> fresh;                      // oldest first
    std::unordered_set<std::string> probing;
    int threads = 0;  // those that take any name
    bool hurried_thread = false;
    std::atomic<bool> stopped{false};
};

ConversionQueue::ConversionQueue(std::shared_ptr<ControlledComputerList> list, ArpProbe probe,
                                 LogLineFn log_line, int probes_at_once)
    : m_shared(std::make_shared<Shared>()) {
    // Every conversion that still counts is of a name in the table, one per
    // name; beyond twice the table's size most are stale and are swept out.
    m_shared->max_waiting = 2 * list->MaxAnnouncements() + 16;
    m_shared->list = std::move(list);
    m_shared->probe = std::move(probe);
    m_shared->log_line = std::move(log_line);
    m_shared->probes_at_once = probes_at_once < 1 ? 1 : probes_at_once;
}

void ConversionQueue::StartThread(const std::shared_ptr<Shared>& s, bool hurried_only) {
    try {
        std::thread([s, hurried_only] { Work(*s, hurried_only); }).detach();
        if (hurried_only)
            s->hurried_thread = true;
        else
            ++s->threads;
    } catch (const std::system_error&) {
        // The threads running so far take the queue on.
    }
}

// REQUIRES s.mutex held. Takes the list's lock inside the queue's (never the
// other way round), one name at a time: a name once stale stays so, so the
// sweep needs no single look at the whole table. One sweep over at most
// max_waiting names, after at least half as many requests, so each request
// costs a constant on average.
void ConversionQueue::DropStale(Shared& s) {
    for (auto it = s.waiting.begin(); it != s.waiting.end();) {
        if (s.list->IsCurrent(it->first, it->second.generation)) {
            ++it;
            continue;
        }
        (it->second.hurried ? s.hurried : s.fresh).erase(it->second.at);
        it = s.waiting.erase(it);
    }
    while (s.waiting.size() >= s.max_waiting && !s.fresh.empty()) {
        s.waiting.erase(s.fresh.front());
        s.fresh.pop_front();
    }
}

void ConversionQueue::Request(uint32_t generation, bool hurry) {
    ComputerAnnouncement a;
    if (!m_shared->list->AnnouncementOf(generation, &a))
        return;  // pushed out of the table or changed since: nothing to settle
    std::string name = a.Name();
    Shared& s = *m_shared;
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.stopped)
        return;
    auto found = s.waiting.find(name);
    if (hurry) {
        if (found == s.waiting.end() || found->second.generation != generation)
            return;
        Shared::Waiting& w = found->second;
        if (w.hurried) {
            s.hurried.splice(s.hurried.begin(), s.hurried, w.at);
        } else {
            s.fresh.erase(w.at);
            w.at = s.hurried.insert(s.hurried.begin(), name);
            w.hurried = true;
        }
        if (!s.hurried_thread)
            StartThread(m_shared, true);
        s.wake.notify_all();
        return;
    }
    if (found != s.waiting.end()) {
        found->second.a = a;
        found->second.generation = generation;
    } else {
        if (s.waiting.size() >= s.max_waiting)
            DropStale(s);
        Shared::Waiting w;
        w.a = a;
        w.generation = generation;
        w.at = s.fresh.insert(s.fresh.end(), name);
        s.waiting.emplace(std::move(name), w);
    }
    // One more thread only while every one is busy; they stay for the run.
    if (s.threads < s.probes_at_once && s.threads <= int(s.probing.size()))
        StartThread(m_shared, false);
    // All: the thread for hurried names alone cannot take a fresh one.
    s.wake.notify_all();
}

void ConversionQueue::Stop() {
    std::lock_guard<std::mutex> lock(m_shared->mutex);
    m_shared->stopped = true;
    m_shared->hurried.clear();
    m_shared->fresh.clear();
    m_shared->waiting.clear();
    m_shared->wake.notify_all();
}

size_t ConversionQueue::Waiting() const {
    std::lock_guard<std::mutex> lock(m_shared->mutex);
    return m_shared->waiting.size();
}

void ConversionQueue::Work(Shared& s, bool hurried_only) {
    // The first waiting name that is not being probed right now: a newer
    // announcement of a name under probe waits for that probe. At most a
    // handful are under probe, so this looks at a handful of names.
    auto first_free = [&](std::list<std::string>& from) {
        return std::find_if(from.begin(), from.end(),
                            [&](const std::string& n) { return !s.probing.count(n); });
    };
    std::unique_lock<std::mutex> lock(s.mutex);
    for (;;) {
        std::list<std::string>* from = nullptr;
        std::list<std::string>::iterator next;
        s.wake.wait(lock, [&] {
            if (s.stopped)
                return true;
            if ((next = first_free(s.hurried)) != s.hurried.end())
                from = &s.hurried;
            else if (!hurried_only && (next = first_free(s.fresh)) != s.fresh.end())
                from = &s.fresh;
            return from != nullptr;
        });
        if (s.stopped)
            return;
        std::string name = std::move(*next);
        from->erase(next);
        auto found = s.waiting.find(name);
        const Shared::Waiting w = found->second;
        s.waiting.erase(found);
        s.probing.insert(name);
        lock.unlock();
        ConvertAnnouncement(*s.list, w.a, s.probe, s.log_line, &s.stopped, w.generation);
        lock.lock();
        s.probing.erase(name);
        s.wake.notify_all();
    }
}

}  // namespace ov::gateway
