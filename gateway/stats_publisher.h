// StatsPublisher: the gateway's counters since start and its live relays,
// kept by the threads that see them happen and published for other
// processes in the shared area "ovs_stats" (see common/live_stats.h).
//
// Counting never waits: counters are relaxed atomics, a relay's byte counts
// are written by the relay thread that runs it alone, in the relay's own
// slot (a cache line of its own, so relay threads never write memory they
// share), and the only lock a relay thread takes is a short one at a
// relay's start and end. The byte totals are the sums of the slots, made
// when a snapshot is taken. Publishing (the copy into
// the shared area under its system-wide lock) runs on the network thread,
// once a second and soon after every relay start and end, so neither the
// relay nor a reader of the area ever waits on the other for long.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/live_stats.h"
#include "platform/named_mutex.h"
#include "platform/shared_memory.h"

namespace ov::gateway {

class StatsPublisher {
  public:
    // The slots of a publisher made with the default options.
    static constexpr size_t kSlots = StatsLayout::kDefaultSessions;

    struct Options {
        std::string view_name = kStatsViewName;
        // The relays that may run at once (MaxRelays): the session slots,
        // and with them the size of the shared area. 1..kSessionsLimit; a
        // number outside is taken as the nearest of the two.
        size_t max_sessions = StatsLayout::kDefaultSessions;
        std::function<void(const std::string&)> log_line;
        std::function<int64_t()> now;  // seconds since 1970; default: the system clock
    };

    StatsPublisher();
    explicit StatsPublisher(Options options);
    StatsPublisher(const StatsPublisher&) = delete;
    StatsPublisher& operator=(const StatsPublisher&) = delete;

    // Creates the shared area (and publishes the empty record); false, after
    // a log line, when it cannot be made: the gateway then runs unseen.
    bool StartPublishing();
    // Removes the area: readers then see no gateway.
    void ClosePublishing();

    // Any thread.
    void Count(Counter c, uint64_t n = 1) {
        m_counters[size_t(c)].fetch_add(n, std::memory_order_relaxed);
    }
    // The byte totals are summed over the slots here (a short lock).
    uint64_t Get(Counter c) const;
    // For the entries that show a setting in force rather than a count.
    void Set(Counter c, uint64_t value) {
        m_counters[size_t(c)].store(value, std::memory_order_relaxed);
    }

    size_t MaxSessions() const { return m_max_sessions; }

    // A relay thread, for its pair `slot` (below MaxSessions()); the start
    // time is taken here. A relay's start and end ask for a publication
    // soon after. Several relay threads call these at once, each for its
    // own slots: one slot is used by one thread at a time (a slot handed to
    // another thread is handed over under a lock, as a free list does). A
    // slot past MaxSessions() is not shown; its bytes still count.
    void BeginSession(size_t slot, const SessionInfo& info);
    void EndSession(size_t slot);
    // The one writer of a slot's bytes: no lock, no atomic read-modify-write,
    // nothing written that another slot's thread writes.
    void AddBytes(size_t slot, bool to_computer, uint64_t n) {
        if (slot >= m_max_sessions) {
            Count(to_computer ? Counter::BytesToComputer : Counter::BytesToUser, n);
            return;
        }
        Slot& s = m_slots[slot];
        std::atomic<uint64_t>& b = to_computer ? s.to_computer : s.to_user;
        b.store(b.load(std::memory_order_relaxed) + n, std::memory_order_relaxed);
    }

    // Called (on any thread) when a publication is wanted soon; set once by
    // the owner of the publishing thread. Requests coalesce until Publish.
    void SetPublishRequest(std::function<void()> request);

    // The counters and live relays now.
    StatsSnapshot Snapshot();
    // Writes the snapshot into the area, if it is open.
    void Publish();

  private:
    // A cache line (or more) of its own: two relay threads counting bytes in
    // neighbouring slots do not contend for one line.
    struct alignas(64) Slot {
        // The bytes since the slot's last start or end (then moved to the
        // totals of ended relays); written by the slot's thread only.
        std::atomic<uint64_t> to_computer{0}, to_user{0};
        bool live = false;  // guarded by m_sessions_mutex, as is info
        SessionInfo info;
    };

    // Moves the slot's bytes into the totals of ended relays. REQUIRES:
    // m_sessions_mutex held, called by the slot's thread.
    void SettleBytesLocked(Slot& slot);
    // The totals of both directions. REQUIRES: m_sessions_mutex held.
    void SumBytesLocked(uint64_t* to_computer, uint64_t* to_user) const;
    void RequestPublish();
    int64_t Now() const;

    Options m_options;
    const size_t m_max_sessions;
    const int64_t m_started;
    std::array<std::atomic<uint64_t>, kCounterCount> m_counters{};
    std::unique_ptr<Slot[]> m_slots;
    mutable std::mutex m_sessions_mutex;
    uint64_t m_settled_to_computer = 0, m_settled_to_user = 0;  // guarded by m_sessions_mutex

    std::atomic<bool> m_publish_pending{false};
    std::mutex m_request_mutex;
    std::function<void()> m_request;

    std::mutex m_publish_mutex;  // the area and the sequence
    platform::SharedMemory m_view;
    platform::NamedMutex m_view_mutex;
    uint32_t m_sequence = 0;
    std::vector<uint8_t> m_record;  // the record being written, AreaSize(m_max_sessions) bytes
};

}  // namespace ov::gateway
