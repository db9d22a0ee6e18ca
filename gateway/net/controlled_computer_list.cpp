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

uint32_t ControlledComputerList::NextGeneration() {
    // 0 means "none" to every caller; a wrap after four billion changes
    // only matters for a conversion that old, which has long ended.
    if (++m_last_generation == 0)
        ++m_last_generation;
    return m_last_generation;
}

void ControlledComputerList::LogOnceAMinute(OncePerMinute& when, const std::string& line) {
    auto now = std::chrono::steady_clock::now();
    if (when.said && now - when.last < std::chrono::minutes(1))
        return;
    if (m_options.log_line)
        m_options.log_line(line);
    when.said = true;
    when.last = now;
}

int ControlledComputerList::AddOrUpdateAnnouncement(const ComputerAnnouncement& a,
                                                    uint32_t* convert_generation,
                                                    uint32_t* hurry_generation) {
    if (convert_generation)
        *convert_generation = 0;
    if (hurry_generation)
        *hurry_generation = 0;
    const std::string name = a.Name();
    std::lock_guard lock(m_mutex);
    if (auto found = m_announcement_index.find(name); found != m_announcement_index.end()) {
        const uint32_t unpublished = HeardAgainLocked(name);
        Announcement& stored = m_announcements[found->second];
        // A changed port alone changes nothing; the stored port stays.
        if (stored.a.SameAddresses(a)) {
            if (hurry_generation)
                *hurry_generation = unpublished;
            return 0;
        }
        std::memcpy(stored.a.bytes + ComputerAnnouncement::kAddressOffset,
                    a.bytes + ComputerAnnouncement::kAddressOffset,
                    4 * ComputerAnnouncement::kAddresses);
        m_generation_names.erase(stored.generation);
        stored.generation = NextGeneration();
        m_generation_names.emplace(stored.generation, name);
        if (convert_generation)
            *convert_generation = stored.generation;
        return 1;
    }
    if (m_announcements.size() >= m_options.max_announcements) {
        const std::string limit = std::to_string(m_options.max_announcements);
        if (m_unpublished.empty()) {
            LogOnceAMinute(m_dropped_line, "受控计算机名字超过" + limit + "个, 新的名字被丢弃!");
            return 0;
        }
        // A real computer must always get in: the name that has waited
        // longest without a usable address makes room, never a published one.
        RemoveAnnouncementAt(m_announcement_index.at(m_unpublished.front()));
        ++m_evicted;
        LogOnceAMinute(m_evicted_line,
                       "受控计算机名字超过" + limit + "个, 最久没有有效地址的名字被替换!");
    }
    Announcement stored;
    stored.a = a;
    stored.generation = NextGeneration();
    if (!m_entry_index.count(name)) {
        stored.unpublished = true;
        stored.age = m_unpublished.insert(m_unpublished.end(), name);
    }
    m_announcements.push_back(stored);
    m_announcement_index.emplace(name, m_announcements.size() - 1);
    m_generation_names.emplace(stored.generation, name);
    if (convert_generation)
        *convert_generation = stored.generation;
    return 1;
}

uint32_t ControlledComputerList::HeardAgain(const std::string& name) {
    std::lock_guard lock(m_mutex);
    return HeardAgainLocked(name);
}

uint32_t ControlledComputerList::HeardAgainLocked(const std::string& name) {
    auto found = m_announcement_index.find(name);
    if (found == m_announcement_index.end())
        return 0;
    Announcement& stored = m_announcements[found->second];
    if (!stored.unpublished)
        return 0;
    m_unpublished.splice(m_unpublished.end(), m_unpublished, stored.age);
    return stored.generation;
}

bool ControlledComputerList::AnnouncementOf(uint32_t generation, ComputerAnnouncement* out) const {
    std::lock_guard lock(m_mutex);
    auto it = m_generation_names.find(generation);
    if (it == m_generation_names.end())
        return false;
    *out = m_announcements[m_announcement_index.at(it->second)].a;
    return true;
}

bool ControlledComputerList::IsCurrent(const std::string& name, uint32_t generation) const {
    std::lock_guard lock(m_mutex);
    return IsCurrentLocked(name, generation);
}

bool ControlledComputerList::IsCurrentLocked(const std::string& name, uint32_t generation) const {
    auto it = m_announcement_index.find(name);
    return it != m_announcement_index.end() && m_announcements[it->second].generation == generation;
}

// In constant time, whatever the table's size: the last announcement moves
// into the freed place.
void ControlledComputerList::RemoveAnnouncementAt(size_t at) {
    Announcement& gone = m_announcements[at];
    const std::string name = gone.a.Name();
    if (gone.unpublished)
        m_unpublished.erase(gone.age);
    m_generation_names.erase(gone.generation);
    m_announcement_index.erase(name);
    if (at + 1 != m_announcements.size()) {
        gone = std::move(m_announcements.back());
        m_announcement_index[gone.a.Name()] = at;
    }
    m_announcements.pop_back();
}

void ControlledComputerList::MarkPublished(const std::string& name) {
    auto found = m_announcement_index.find(name);
    if (found == m_announcement_index.end())
        return;
    Announcement& stored = m_announcements[found->second];
    if (stored.unpublished)
        m_unpublished.erase(stored.age);
    stored.unpublished = false;
}

void ControlledComputerList::RemoveComputer(std::string_view name) {
    const std::string key(name);
    std::lock_guard lock(m_mutex);
    if (auto it = m_announcement_index.find(key); it != m_announcement_index.end())
        RemoveAnnouncementAt(it->second);
    if (auto it = m_entry_index.find(key); it != m_entry_index.end()) {
        size_t at = it->second;
        m_entries.erase(m_entries.begin() + std::ptrdiff_t(at));
        ForgetPosition(m_entry_index, key, at);
    }
    Publish(true);
}

bool ControlledComputerList::SettleConversion(const ComputerAnnouncement& a, uint32_t generation,
                                              const ComputerEntry& e) {
    const std::string name = a.Name();
    std::lock_guard lock(m_mutex);
    if (generation != 0) {
        if (!IsCurrentLocked(name, generation))
            return false;
    } else {
        auto it = m_announcement_index.find(name);
        if (it == m_announcement_index.end() ||
            std::memcmp(m_announcements[it->second].a.bytes, a.bytes, sizeof a.bytes) != 0)
            return false;
    }
    AddOrUpdateEntryLocked(e);
    return true;
}

int ControlledComputerList::AddOrUpdateEntry(const ComputerEntry& e) {
    std::lock_guard lock(m_mutex);
    return AddOrUpdateEntryLocked(e);
}

int ControlledComputerList::AddOrUpdateEntryLocked(const ComputerEntry& e) {
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
        MarkPublished(name);
    }
    Publish(false);
    return 1;
}

std::vector<ComputerEntry> ControlledComputerList::Entries() const {
    std::lock_guard lock(m_mutex);
    return std::vector<ComputerEntry>(m_entries.begin(), m_entries.begin() + EntryCountLocked());
}

uint64_t ControlledComputerList::EvictedCount() const {
    std::lock_guard lock(m_mutex);
    return m_evicted;
}

int ControlledComputerList::AnnouncementCount() const {
    std::lock_guard lock(m_mutex);
    return int(m_announcements.size());
}

bool ControlledComputerList::HasEntry(const std::string& name) const {
    std::lock_guard lock(m_mutex);
    return m_entry_index.count(name) != 0;
}

int ControlledComputerList::EntryCount() const {
    std::lock_guard lock(m_mutex);
    return EntryCountLocked();
}

ComputerEntry ControlledComputerList::EntryAt(int index) const {
    std::lock_guard lock(m_mutex);
    return m_entries.at(size_t(index));
}

bool ControlledComputerList::Publishing() const {
    std::lock_guard lock(m_mutex);
    return m_view.IsOpen();
}

bool ControlledComputerList::AnnouncementAt(int index, ComputerAnnouncement* out) const {
    std::lock_guard lock(m_mutex);
    if (index < 0 || size_t(index) >= m_announcements.size())
        return false;
    *out = m_announcements[size_t(index)].a;
    return true;
}

bool ControlledComputerList::FindAnnouncement(const std::string& name,
                                              ComputerAnnouncement* out) const {
    std::lock_guard lock(m_mutex);
    auto it = m_announcement_index.find(name);
    if (it == m_announcement_index.end())
        return false;
    *out = m_announcements[it->second].a;
    return true;
}

int ControlledComputerList::AnnouncementIndex(const std::string& name) const {
    std::lock_guard lock(m_mutex);
    auto it = m_announcement_index.find(name);
    return it == m_announcement_index.end() ? -1 : int(it->second);
}

bool ControlledComputerList::LookUp(const std::string& name, std::string* address_text,
                                    uint32_t* port) {
    // Names are compared over at most 40 characters, and no stored name is longer.
    const std::string wanted = FieldText(name.data(), std::min(name.size(), kHostNameSize));
    {
        std::lock_guard lock(m_mutex);
        if (auto it = m_entry_index.find(wanted); it != m_entry_index.end()) {
            const ComputerEntry& e = m_entries[it->second];
            *address_text = e.AddressText();
            *port = e.Port();
            return true;
        }
    }
    // Outside the lock: a flood of unknown names must not hold up the list
    // behind the log's file.
    if (m_options.log_raw)
        m_options.log_raw("    没找到" + name + "\r\n\r\n");
    return false;
}

std::string ControlledComputerList::LocalHostName() {
    std::lock_guard lock(m_mutex);
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
    std::lock_guard lock(m_mutex);
    m_view.Close();
    m_view_mutex.Close();
}

}  // namespace ov::gateway
