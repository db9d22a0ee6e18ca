// The controlled computers the gateway knows: every announcement heard, and
// for each computer whose address was settled its published entry. The
// entries are mirrored into the shared view "ovs_list" for other processes.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <string_view>
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
        // Asks the conversion thread to settle the announcement at an index.
        std::function<void(int index)> convert;
        // One routine log line ("    %s\r\n" at level 0).
        std::function<void(const std::string&)> log_line;
        // The raw log print of the look-up's "not found" line.
        std::function<void(const std::string&)> log_raw;
        std::function<std::string()> host_name;
    };

    explicit ControlledComputerList(Options options);

    // "OVS_List_Mutex": guards both arrays. Every call below REQUIRES it held.
    std::recursive_mutex& Mutex() { return m_mutex; }

    // 1 when the announcements changed (and a conversion was asked for).
    int AddOrUpdateAnnouncement(const ComputerAnnouncement& a);
    // Removes the name from both arrays and rewrites the view (always).
    void RemoveComputer(std::string_view name);
    // 1 when the view was rewritten, 0 when nothing changed.
    int AddOrUpdateEntry(const ComputerEntry& e);

    int AnnouncementCount() const { return int(m_announcements.size()); }
    bool AnnouncementAt(int index, ComputerAnnouncement* out) const;
    int EntryCount() const { return int(m_entries.size() & 0xffff); }
    ComputerEntry EntryAt(int index) const { return m_entries.at(size_t(index)); }

    // The entry whose name matches over at most 40 characters.
    bool LookUp(std::string_view name, std::string* address_text, uint32_t* port);

    // The host name, asked once and kept (at most 49 characters).
    const std::string& LocalHostName();

    bool Publishing() const { return m_view.IsOpen(); }

private:
    void Publish(bool zero_first);

    Options m_options;
    std::recursive_mutex m_mutex;
    std::vector<ComputerAnnouncement> m_announcements;
    std::vector<ComputerEntry> m_entries;
    std::string m_host_name;
    bool m_have_host_name = false;
    bool m_overflow_logged = false;
    platform::SharedMemory m_view;
    platform::NamedMutex m_view_mutex;
};

}  // namespace ov::gateway
