#include "gateway/net/announcement_handling.h"

#include <cstring>

#include "common/access_record.h"

namespace ov::gateway {

AnnouncementHandler::Result AnnouncementHandler::OnDatagram(const uint8_t* data, size_t size) {
    if (size < ComputerAnnouncement::kSize) {
        if (m_log_line)
            m_log_line("收到的广播包长度不够!");
        return {Outcome::TooShort};
    }
    if (size > ComputerAnnouncement::kSize) {
        // One stray packet must not end discovery: log it and go on.
        if (m_log_line)
            m_log_line("收到的广播包太长, 已丢弃! (" + std::to_string(size) + " bytes)");
        return {Outcome::TooLong};
    }
    const uint32_t port = DecodeFixed32LE(data + ComputerAnnouncement::kPortOffset);
    if (port > 0xFFFF) {
        // No connection can reach such a port: listing the computer would
        // only fail every relay to it. Its earlier announcement (if any)
        // stays as it was; an agent repeating itself is logged once.
        if (std::memcmp(data, m_last_refused.bytes, ComputerAnnouncement::kSize) != 0) {
            std::memcpy(m_last_refused.bytes, data, ComputerAnnouncement::kSize);
            if (m_log_line)
                m_log_line("收到的广播包端口无效, 已丢弃! (" +
                           EscapeAccessField(m_last_refused.Name()) + ":" + std::to_string(port) +
                           ")");
        }
        return {Outcome::BadPort};
    }
    const bool repeat = std::memcmp(data, m_last.bytes, ComputerAnnouncement::kSize) == 0;
    if (repeat && m_last.Port() == 0)
        return {Outcome::Repeat};
    // Each branch is one operation of the list, which locks itself.
    if (repeat) {
        Result r{Outcome::Repeat};
        r.hurry_generation = m_list.HeardAgain(m_last.Name());
        return r;
    }
    std::memcpy(m_last.bytes, data, ComputerAnnouncement::kSize);
    if (m_last.Port() == 0) {
        m_list.RemoveComputer(m_last.Name());
        return {Outcome::Removed};
    }
    Result r{Outcome::Unchanged};
    if (m_list.AddOrUpdateAnnouncement(m_last, &r.convert_generation, &r.hurry_generation))
        r.outcome = Outcome::Updated;
    return r;
}

std::array<uint8_t, 24> BuildGatewayProbe(const std::vector<std::array<uint8_t, 4>>& addresses,
                                          uint32_t nonce) {
    std::array<uint8_t, 24> p{};
    EncodeFixed32LE(p.data(), kProbeMagic);
    for (size_t i = 0; i < addresses.size() && i < 4; ++i)
        std::memcpy(p.data() + 4 + 4 * i, addresses[i].data(), 4);
    EncodeFixed32LE(p.data() + 20, nonce);
    return p;
}

}  // namespace ov::gateway
