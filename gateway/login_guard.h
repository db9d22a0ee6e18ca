// What the gateway remembers about the addresses its users come from, so
// that one address can neither guess passwords quickly nor relay without a
// login. Both tables are bounded and forget an address after a while.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include <asio/ip/address.hpp>

namespace ov::gateway {

using GuardClock = std::chrono::steady_clock;

// An address as these tables know it: IPv4 in host order (the listeners are
// IPv4), 0 for anything else.
inline uint32_t AddressKey(const asio::ip::address& a) {
    return a.is_v4() ? a.to_v4().to_uint() : 0;
}

// An address in the 4 bytes of a record (network order); left as it is for
// anything but IPv4.
inline void CopyAddress(const asio::ip::address& a, uint8_t out[4]) {
    if (a.is_v4()) {
        auto b = a.to_v4().to_bytes();
        std::memcpy(out, b.data(), 4);
    }
}

// The addresses that may relay when relays need a login: those with an
// authenticated command connection open, and those that logged in within
// kRecent. The command thread tells it, the proxy thread asks once per new
// connection; it takes its own lock in whole operations.
class LoginRegistry {
  public:
    static constexpr std::chrono::minutes kRecent{10};
    static constexpr size_t kMaxAddresses = 4096;

    // A login passed on a connection; first is true for the connection's
    // first login, which then counts as open until Closed().
    void LoggedIn(uint32_t address, bool first, GuardClock::time_point now);
    // A connection that had logged in has closed.
    void Closed(uint32_t address, GuardClock::time_point now);
    bool MayRelay(uint32_t address, GuardClock::time_point now) const;

  private:
    struct Entry {
        int open = 0;  // authenticated connections
        GuardClock::time_point last{};
    };
    void MakeRoom(GuardClock::time_point now);

    mutable std::mutex m_mutex;
    std::unordered_map<uint32_t, Entry> m_entries;
};

// Failed logins per address, and when that address may next be answered:
// after a failure the next reply waits 1 s, doubling with every further
// failure up to kMaxHold; kForget without a failure clears the count, and a
// login that passes clears it at once. Owned by the command thread.
class LoginThrottle {
  public:
    static constexpr std::chrono::seconds kFirstHold{1}, kMaxHold{15};
    static constexpr std::chrono::minutes kForget{10};
    static constexpr size_t kMaxAddresses = 4096;

    // The earliest time a reply to this address may go; now or earlier
    // when it is not held.
    GuardClock::time_point ReadyAt(uint32_t address, GuardClock::time_point now) const;
    void Failed(uint32_t address, GuardClock::time_point now);
    void Passed(uint32_t address);
    size_t Size() const { return m_entries.size(); }

  private:
    struct Entry {
        int failures = 0;
        GuardClock::time_point last_failure{};
    };
    static GuardClock::duration HoldAfter(int failures);

    std::unordered_map<uint32_t, Entry> m_entries;
};

}  // namespace ov::gateway
