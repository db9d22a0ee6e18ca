#include "gateway/net/controlled_computer_list.h"

#include <algorithm>
#include <cstring>

namespace ov::gateway {
namespace {

// After the element at `erased` left its array, the later ones moved up.
void ForgetPosition(std::unordered_map<std::string, size_t>& index, const std::string& name,
                    size_t erased) {
    index.erase(name);
    for (auto& [_, position] : index)
        if (position > erased)
            --position;
}

}  // namespace

ControlledComputerList::ControlledComputerList(Options options) : m_options(std::move(options)) {
    m_view_mutex.Create(m_options.view_name + "Mutex");
    bool existed = false;
    // A view that existed already is used as it is, until the first change.
    if (!m_view.Create(m_options.view_name, kListViewSize, &existed) && m_options.log_line)
        m_options.log_line("内存映射文件设置失败!!!");
}

int ControlledComputerList::AddOrUpdateAnnouncement(const ComputerAnnouncement& a,
                                                    int* convert_index) {
    if (convert_index)
        *convert_index = -1;
    const std::string name = a.Name();
    auto found = m_announcement_index.find(name);
    if (found != m_announcement_index.end()) {
        ComputerAnnouncement& stored = m_announcements[found->second];
        // A changed port alone changes nothing; the stored port stays.
        if (stored.SameAddresses(a))
            return 0;
        std::memcpy(stored.bytes + ComputerAnnouncement::kAddressOffset,
                    a.bytes + ComputerAnnouncement::kAddressOffset,
                    4 * ComputerAnnouncement::kAddresses);
        if (convert_index)
            *convert_index = int(found->second);
        return 1;
    }
    if (m_announcements.size() >= m_options.max_announcements) {
        auto now = std::chrono::steady_clock::now();
        if (!m_full_logged || now - m_last_full_line >= std::chrono::minutes(1)) {
            if (m_options.log_line)
                m_options.log_line("受控计算机名字超过" +
                                   std::to_string(m_options.max_announcements) +
                                   "个, 新的名字被丢弃!");
            m_full_logged = true;
            m_last_full_line = now;
        }
        return 0;
    }
    m_announcements.push_back(a);
    m_announcement_index.emplace(name, m_announcements.size() - 1);
    if (convert_index)
        *convert_index = int(m_announcements.size() - 1);
    return 1;
}

void ControlledComputerList::RemoveComputer(std::string_view name) {
    const std::string key(name);
    if (auto it = m_announcement_index.find(key); it != m_announcement_index.end()) {
        size_t at = it->second;
        m_announcements.erase(m_announcements.begin() + std::ptrdiff_t(at));
        ForgetPosition(m_announcement_index, key, at);
    }
    if (auto it = m_entry_index.find(key); it != m_entry_index.end()) {
        size_t at = it->second;
        m_entries.erase(m_entries.begin() + std::ptrdiff_t(at));
        ForgetPosition(m_entry_index, key, at);
    }
    Publish(true);
}

int ControlledComputerList::AddOrUpdateEntry(const ComputerEntry& e) {
    const std::string name = e.Name();
    if (auto it = m_entry_index.find(name); it != m_entry_index.end()) {
        ComputerEntry& stored = m_entries[it->second];
        if (stored.Port() == e.Port() && std::memcmp(stored.Address(), e.Address(), 4) == 0)
            return 0;
        std::memcpy(stored.bytes + ComputerEntry::kPortOffset, e.bytes + ComputerEntry::kPortOffset,
                    8);
    } else {
        m_entries.push_back(e);
        m_entry_index.emplace(name, m_entries.size() - 1);
    }
    Publish(false);
    return 1;
}

bool ControlledComputerList::AnnouncementAt(int index, ComputerAnnouncement* out) const {
    if (index < 0 || size_t(index) >= m_announcements.size())
        return false;
    *out = m_announcements[size_t(index)];
    return true;
}

bool ControlledComputerList::FindAnnouncement(const std::string& name,
                                              ComputerAnnouncement* out) const {
    auto it = m_announcement_index.find(name);
    if (it == m_announcement_index.end())
        return false;
    *out = m_announcements[it->second];
    return true;
}

int ControlledComputerList::AnnouncementIndex(const std::string& name) const {
    auto it = m_announcement_index.find(name);
    return it == m_announcement_index.end() ? -1 : int(it->second);
}

bool ControlledComputerList::LookUp(std::string_view name, std::string* address_text,
                                    uint32_t* port) {
    // Names are compared over at most 40 characters, and no stored name is longer.
    std::string wanted = FieldText(name.data(), std::min(name.size(), kHostNameSize));
    if (auto it = m_entry_index.find(wanted); it != m_entry_index.end()) {
        const ComputerEntry& e = m_entries[it->second];
        *address_text = e.AddressText();
        *port = e.Port();
        return true;
    }
    if (m_options.log_raw)
        m_options.log_raw("    没找到" + std::string(name) + "\r\n\r\n");
    return false;
}

const std::string& ControlledComputerList::LocalHostName() {
    if (!m_have_host_name) {
        m_host_name = m_options.host_name ? m_options.host_name() : std::string();
        if (m_host_name.size() > 49)
            m_host_name.resize(49);
        m_have_host_name = true;
    }
    return m_host_name;
}

void ControlledComputerList::Publish(bool zero_first) {
    if (!m_view.IsOpen())
        return;
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
    if (zero_first)
        std::memset(view, 0, kListViewSize);
    EncodeFixed32LE(view, uint32_t(n));
    for (size_t i = 0; i < n; ++i)
        std::memcpy(view + 4 + i * ComputerEntry::kSize, m_entries[i].bytes, ComputerEntry::kSize);
}

void ControlledComputerList::ClosePublishing() {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_view.Close();
    m_view_mutex.Close();
}

}  // namespace ov::gateway
