#include "gateway/net/relay_admission.h"

namespace ov::gateway {

RelayAdmission::RelayAdmission(int max_pairs) : m_max(max_pairs > 0 ? max_pairs : 1) {
    m_free.reserve(size_t(m_max));
    for (int i = m_max - 1; i >= 0; --i) m_free.push_back(uint32_t(i));
}

RelayAdmission::Verdict RelayAdmission::Admit(uint32_t address, int per_address_cap,
                                              uint32_t* slot) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_free.empty())
        return Verdict::Full;
    int& waiting = m_waiting[address];
    if (per_address_cap > 0 && waiting >= per_address_cap) {
        if (waiting == 0)
            m_waiting.erase(address);
        return Verdict::PerAddress;
    }
    ++waiting;
    *slot = m_free.back();
    m_free.pop_back();
    return Verdict::Admitted;
}

void RelayAdmission::HeaderDone(uint32_t address) {
    bool room = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_waiting.find(address);
        if (it != m_waiting.end() && --it->second <= 0)
            m_waiting.erase(it);
        room = m_queued.count(address) > 0;
    }
    if (room && m_on_room)
        m_on_room(address);
}

void RelayAdmission::Queued(uint32_t address, int delta) {
    std::lock_guard<std::mutex> lock(m_mutex);
    int& n = m_queued[address];
    n += delta;
    if (n <= 0)
        m_queued.erase(address);
}

void RelayAdmission::Release(uint32_t slot) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (slot < uint32_t(m_max))
        m_free.push_back(slot);
}

int RelayAdmission::InUse() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_max - int(m_free.size());
}

}  // namespace ov::gateway
