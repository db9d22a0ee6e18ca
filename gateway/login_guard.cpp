#include "gateway/login_guard.h"

#include <algorithm>

namespace ov::gateway {

void LoginRegistry::LoggedIn(uint32_t address, bool first, GuardClock::time_point now) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_entries.find(address) == m_entries.end())
        MakeRoom(now);
    Entry& e = m_entries[address];
    if (first)
        ++e.open;
    e.last = now;
}

void LoginRegistry::Closed(uint32_t address, GuardClock::time_point now) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_entries.find(address);
    if (it == m_entries.end())
        return;
    if (it->second.open > 0)
        --it->second.open;
    // The recent-login window runs from the end of the connection, so a
    // client that logs in, works for hours and reconnects is still known.
    it->second.last = now;
}

bool LoginRegistry::MayRelay(uint32_t address, GuardClock::time_point now) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_entries.find(address);
    if (it == m_entries.end())
        return false;
    return it->second.open > 0 || now - it->second.last <= kRecent;
}

// REQUIRES: m_mutex held. Addresses with a connection open are never
// dropped (there are at most as many as command slots); past ones go,
// expired first, then the oldest.
void LoginRegistry::MakeRoom(GuardClock::time_point now) {
    if (m_entries.size() < kMaxAddresses)
        return;
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        if (it->second.open == 0 && now - it->second.last > kRecent)
            it = m_entries.erase(it);
        else
            ++it;
    }
    if (m_entries.size() < kMaxAddresses)
        return;
    auto oldest = m_entries.end();
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it)
        if (it->second.open == 0 &&
            (oldest == m_entries.end() || it->second.last < oldest->second.last))
            oldest = it;
    if (oldest != m_entries.end())
        m_entries.erase(oldest);
}

GuardClock::duration LoginThrottle::HoldAfter(int failures) {
    GuardClock::duration hold = kFirstHold;
    for (int i = 1; i < failures && hold < kMaxHold; ++i) hold *= 2;
    return std::min<GuardClock::duration>(hold, kMaxHold);
}

GuardClock::time_point LoginThrottle::ReadyAt(uint32_t address, GuardClock::time_point now) const {
    auto it = m_entries.find(address);
    if (it == m_entries.end() || now - it->second.last_failure > kForget)
        return now;
    return it->second.last_failure + HoldAfter(it->second.failures);
}

void LoginThrottle::Failed(uint32_t address, GuardClock::time_point now) {
    auto it = m_entries.find(address);
    if (it == m_entries.end() && m_entries.size() >= kMaxAddresses) {
        // Full: forget what has expired, else the address that failed longest ago.
        for (auto e = m_entries.begin(); e != m_entries.end();) {
            if (now - e->second.last_failure > kForget)
                e = m_entries.erase(e);
            else
                ++e;
        }
        if (m_entries.size() >= kMaxAddresses) {
            auto oldest = std::min_element(m_entries.begin(), m_entries.end(),
                                           [](const auto& a, const auto& b) {
                                               return a.second.last_failure < b.second.last_failure;
                                           });
            m_entries.erase(oldest);
        }
    }
    Entry& e = m_entries[address];
    if (e.failures > 0 && now - e.last_failure > kForget)
        e.failures = 0;
    if (e.failures < 64)
        ++e.failures;
    e.last_failure = now;
}

void LoginThrottle::Passed(uint32_t address) {
    m_entries.erase(address);
}

}  // namespace ov::gateway
