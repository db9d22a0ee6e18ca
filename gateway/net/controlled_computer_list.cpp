#include "gateway/net/controlled_computer_list.h"

#include <cstring>

namespace ov::gateway {

ControlledComputerList::ControlledComputerList(Options options) : m_options(std::move(options)) {
    m_view_mutex.Create(m_options.view_name + "Mutex");
    bool existed = false;
    // A view that existed already is used as it is, until the first change.
    if (!m_view.Create(m_options.view_name, kListViewSize, &existed) && m_options.log_line)
        m_options.log_line("内存映射文件设置失败!!!");
}

int ControlledComputerList::AddOrUpdateAnnouncement(const ComputerAnnouncement& a) {
    const std::string name = a.Name();
    for (size_t i = 0; i < m_announcements.size(); ++i) {
        if (m_announcements[i].Name() != name) continue;
        // A changed port alone changes nothing; the stored port stays.
        if (m_announcements[i].SameAddresses(a)) return 0;
        std::memcpy(m_announcements[i].bytes + ComputerAnnouncement::kAddressOffset,
                    a.bytes + ComputerAnnouncement::kAddressOffset, 4 * ComputerAnnouncement::kAddresses);
        if (m_options.convert) m_options.convert(int(i));
        return 1;
    }
    m_announcements.push_back(a);
    if (m_options.convert) m_options.convert(int(m_announcements.size() - 1));
    return 1;
}

void ControlledComputerList::RemoveComputer(std::string_view name) {
    for (auto it = m_announcements.begin(); it != m_announcements.end(); ++it)
        if (it->Name() == name) {
            m_announcements.erase(it);
            break;
        }
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it)
        if (it->Name() == name) {
            m_entries.erase(it);
            break;
        }
    Publish(true);
}

int ControlledComputerList::AddOrUpdateEntry(const ComputerEntry& e) {
    const std::string name = e.Name();
    bool found = false;
    for (auto& stored : m_entries) {
        if (stored.Name() != name) continue;
        if (stored.Port() == e.Port() && std::memcmp(stored.Address(), e.Address(), 4) == 0) return 0;
        std::memcpy(stored.bytes + ComputerEntry::kPortOffset, e.bytes + ComputerEntry::kPortOffset, 8);
        found = true;
        break;
    }
    if (!found) m_entries.push_back(e);
    Publish(false);
    return 1;
}

bool ControlledComputerList::AnnouncementAt(int index, ComputerAnnouncement* out) const {
    if (index < 0 || size_t(index) >= m_announcements.size()) return false;
    *out = m_announcements[size_t(index)];
    return true;
}

bool ControlledComputerList::LookUp(std::string_view name, std::string* address_text, uint32_t* port) {
    std::string wanted(name.substr(0, kHostNameSize));
    for (const auto& e : m_entries) {
        if (e.Name() == wanted) {
            *address_text = e.AddressText();
            *port = e.Port();
            return true;
        }
    }
    if (m_options.log_raw) m_options.log_raw("    没找到" + std::string(name) + "\r\n\r\n");
    return false;
}

const std::string& ControlledComputerList::LocalHostName() {
    if (!m_have_host_name) {
        m_host_name = m_options.host_name ? m_options.host_name() : std::string();
        if (m_host_name.size() > 49) m_host_name.resize(49);
        m_have_host_name = true;
    }
    return m_host_name;
}

void ControlledComputerList::Publish(bool zero_first) {
    if (!m_view.IsOpen()) return;
    size_t n = m_entries.size();
    if (n > kMaxPublishedEntries) {
        // Further computers stay known here but do not fit the view.
        if (!m_overflow_logged && m_options.log_line)
            m_options.log_line("受控计算机超过500台, 其余的不发布到ovs_list");
        m_overflow_logged = true;
        n = kMaxPublishedEntries;
    }
    platform::NamedMutexLock lock(m_view_mutex);
    uint8_t* view = m_view.data();
    if (zero_first) std::memset(view, 0, kListViewSize);
    EncodeFixed32LE(view, uint32_t(n));
    for (size_t i = 0; i < n; ++i)
        std::memcpy(view + 4 + i * ComputerEntry::kSize, m_entries[i].bytes, ComputerEntry::kSize);
}

}  // namespace ov::gateway
