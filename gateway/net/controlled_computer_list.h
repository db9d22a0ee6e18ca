// The controlled computers the gateway knows: every announcement heard, and
// for each computer whose address was settled its published entry. The
// entries are mirrored into the shared view "ovs_list" for other processes.
#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/computer_records.h"
#include "platform/named_mutex.h"
#include "platform/shared_memory.h"

namespace ov::gateway {

using ov::ComputerAnnouncement;
using ov::ComputerEntry;

class ControlledComputerList {
  public:
    struct Options {
        std::string view_name = kListViewName;  // mutex: view_name + "Mutex"
        // Names kept at most; a flood of made-up names must not grow the
        // table (and the conversions it asks for) without end.
        size_t max_announcements = 2000;
        // One routine log line ("    %s\r\n" at level 0).
        std::function<void(const std::string&)> log_line;
        // The raw log print of the look-up's "not found" line.
        std::function<void(const std::string&)> log_raw;
        std::function<std::string()> host_name;
    };

    explicit ControlledComputerList(Options options);

    // "OVS_List_Mutex": guards both arrays. Every call below REQUIRES it held.
    std::recursive_mutex& Mutex() { return m_mutex; }

    // 1 when the announcements changed; *convert_index (if given) is then
    // the index whose address must be settled, else -1. A new name beyond
    // the table's limit is dropped (0), with one log line a minute.
    int AddOrUpdateAnnouncement(const ComputerAnnouncement& a, int* convert_index = nullptr);
    // Removes the name from both arrays and rewrites the view (always).
    void RemoveComputer(std::string_view name);
    // 1 when the view was rewritten, 0 when nothing changed.
    int AddOrUpdateEntry(const ComputerEntry& e);

    int AnnouncementCount() const { return int(m_announcements.size()); }
    bool AnnouncementAt(int index, ComputerAnnouncement* out) const;
    // The stored announcement of that name.
    bool FindAnnouncement(const std::string& name, ComputerAnnouncement* out) const;
    // The index of the announcement of that name, or -1.
    int AnnouncementIndex(const std::string& name) const;
    bool HasEntry(const std::string& name) const { return m_entry_index.count(name) != 0; }
    int EntryCount() const { return int(m_entries.size() & 0xffff); }
    ComputerEntry EntryAt(int index) const { return m_entries.at(size_t(index)); }

    // The entry whose name matches over at most 40 characters.
    bool LookUp(std::string_view name, std::string* address_text, uint32_t* port);

    // The host name, asked once and kept (at most 49 characters).
    const std::string& LocalHostName();

    bool Publishing() const { return m_view.IsOpen(); }
    // Stops publishing for good and removes the shared view, so that other
    // processes see the gateway gone even while a thread that was given up
    // on still holds this object.
    void ClosePublishing();

  private:
    void Publish(bool zero_first);

    Options m_options;
    std::recursive_mutex m_mutex;
    std::vector<ComputerAnnouncement> m_announcements;
    std::vector<ComputerEntry> m_entries;
    // Name -> position in the arrays above: announcements arrive by the
    // thousand in a flood, and each must not cost a walk of the table.
    std::unordered_map<std::string, size_t> m_announcement_index;
    std::unordered_map<std::string, size_t> m_entry_index;
    std::chrono::steady_clock::time_point m_last_full_line{};
    bool m_full_logged = false;
    std::string m_host_name;
    bool m_have_host_name = false;
    bool m_overflow_logged = false;
    platform::SharedMemory m_view;
    platform::NamedMutex m_view_mutex;
};

}  // namespace ov::gateway
