// RelayAdmission: which new users of the proxy port get a pair. The
// acceptor asks it for every connection; the relay loops tell it when a
// pair has its header and when it is free again. Its lock is taken only at
// those moments, never while bytes move.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace ov::gateway {

class RelayAdmission {
  public:
    enum class Verdict { Admitted, Full, PerAddress };

    // Slots 0 .. max_pairs-1: a pair's slot is its place among the live
    // relays and its index in the log.
    explicit RelayAdmission(int max_pairs);

    int MaxPairs() const { return m_max; }

    // A new user from address: a free slot, unless every slot is taken or
    // the address already holds per_address_cap pairs still waiting for
    // their header (0: no cap). On Admitted, *slot is the pair's.
    Verdict Admit(uint32_t address, int per_address_cap, uint32_t* slot);
    // The pair of slot, admitted for address, has its header (or ended
    // before it): it no longer counts against the address's share. When
    // users of that address are queued, on_room is told, on this thread.
    void HeaderDone(uint32_t address);

    // The acceptor's users of address that wait for their address's share
    // (a burst whose headers are on their way): delta +1 for one queued,
    // -1 for one that left the queue.
    void Queued(uint32_t address, int delta);
    // Set before any pair is admitted.
    void OnRoom(std::function<void(uint32_t address)> on_room) { m_on_room = std::move(on_room); }
    // The pair of slot is free.
    void Release(uint32_t slot);

    int InUse() const;

  private:
    const int m_max;
    mutable std::mutex m_mutex;
    std::vector<uint32_t> m_free;  // a stack: recently freed slots first
    std::unordered_map<uint32_t, int> m_waiting;
    std::unordered_map<uint32_t, int> m_queued;
    std::function<void(uint32_t)> m_on_room;
};

}  // namespace ov::gateway
