// StatsPublisher: the gateway's counters since start and its live relays,
// kept by the threads that see them happen and published for other
// processes in the shared area "ovs_stats" (see common/live_stats.h).
//
// Counting never waits: counters are relaxed atomics, a relay's byte counts
// are written by the proxy thread alone, and the only lock the proxy thread
// takes is a short one at a relay's start and end. Publishing (the copy into
// the shared area under its system-wide lock) runs on the network thread,
// once a second and soon after every relay start and end, so neither the
// relay nor a reader of the area ever waits on the other for long.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "common/live_stats.h"
#include "platform/named_mutex.h"
#include "platform/shared_memory.h"

namespace ov::gateway {

class StatsPublisher {
  public:
    static constexpr size_t kSlots = StatsLayout::kMaxSessions;

    struct Options {
        std::string view_name = kStatsViewName;
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
    uint64_t Get(Counter c) const { return m_counters[size_t(c)].load(std::memory_order_relaxed); }
    // For the entries that show a setting in force rather than a count.
    void Set(Counter c, uint64_t value) {
        m_counters[size_t(c)].store(value, std::memory_order_relaxed);
    }

    // The proxy thread, for its pair `slot` (below kSlots); the start time
    // is taken here. A relay's start and end ask for a publication soon after.
    void BeginSession(size_t slot, const SessionInfo& info);
    void EndSession(size_t slot);
    // The one writer of a slot's bytes: no lock, no atomic read-modify-write.
    void AddBytes(size_t slot, bool to_computer, uint64_t n) {
        Slot& s = m_slots[slot];
        std::atomic<uint64_t>& b = to_computer ? s.to_computer : s.to_user;
        b.store(b.load(std::memory_order_relaxed) + n, std::memory_order_relaxed);
        Count(to_computer ? Counter::BytesToComputer : Counter::BytesToUser, n);
    }

    // Called (on any thread) when a publication is wanted soon; set once by
    // the owner of the publishing thread. Requests coalesce until Publish.
    void SetPublishRequest(std::function<void()> request);

    // The counters and live relays now.
    StatsSnapshot Snapshot();
    // Writes the snapshot into the area, if it is open.
    void Publish();

  private:
    struct Slot {
        bool live = false;  // guarded by m_sessions_mutex, as is info
        SessionInfo info;
        std::atomic<uint64_t> to_computer{0}, to_user{0};
    };

    void RequestPublish();
    int64_t Now() const;

    Options m_options;
    const int64_t m_started;
    std::array<std::atomic<uint64_t>, kCounterCount> m_counters{};
    std::array<Slot, kSlots> m_slots;
    std::mutex m_sessions_mutex;

    std::atomic<bool> m_publish_pending{false};
    std::mutex m_request_mutex;
    std::function<void()> m_request;

    std::mutex m_publish_mutex;  // the area and the sequence
    platform::SharedMemory m_view;
    platform::NamedMutex m_view_mutex;
    uint32_t m_sequence = 0;
};

}  // namespace ov::gateway
