// The controlled computers the gateway knows: every announcement heard, and
// for each computer whose address was settled its published entry. The
// entries are mirrored into the shared view "ovs_list" for other processes.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
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
        // table (and the conversions it asks for) without end. When it is
        // full, a new name takes the place of the name heard least recently
        // among those that have no published entry; only a table full of
        // published computers drops new names.
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

    // Every stored announcement carries a generation, new with each new name
    // and each change of addresses, never 0: conversions are asked for and
    // checked by generation, so one whose name left the table or changed
    // since finds nothing, whatever now sits where it was.
    //
    // 1 when the announcements changed; *convert_generation (if given) is
    // then the generation whose address must be settled, else 0. A new name
    // in a full table pushes out the unpublished name heard least recently
    // (one log line a minute), or is dropped (0) when every name is published.
    int AddOrUpdateAnnouncement(const ComputerAnnouncement& a,
                                uint32_t* convert_generation = nullptr);
    // The name was heard again: if it has no published entry it becomes the
    // last to be pushed out. Its generation then, else 0 (published or unknown).
    uint32_t HeardAgain(const std::string& name);
    // The announcement of that generation while the table still holds it.
    bool AnnouncementOf(uint32_t generation, ComputerAnnouncement* out) const;
    // True while the name's stored announcement is of that generation.
    bool IsCurrent(const std::string& name, uint32_t generation) const;
    // Names pushed out to make room, since the start.
    uint64_t EvictedCount() const { return m_evicted; }
    size_t MaxAnnouncements() const { return m_options.max_announcements; }
    // Removes the name from both arrays and rewrites the view (always).
    void RemoveComputer(std::string_view name);
    // 1 when the view was rewritten, 0 when nothing changed.
    int AddOrUpdateEntry(const ComputerEntry& e);

    // Positions are valid only while the lock is held: a removal moves the
    // last announcement into the freed place.
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
    struct OncePerMinute {
        std::chrono::steady_clock::time_point last{};
        bool said = false;
    };
    struct Announcement {
        ComputerAnnouncement a;
        uint32_t generation = 0;
        bool unpublished = false;  // then `age` is its place in m_unpublished
        std::list<std::string>::iterator age;
    };
    void Publish(bool zero_first);
    uint32_t NextGeneration();
    void RemoveAnnouncementAt(size_t at);
    void MarkPublished(const std::string& name);
    void LogOnceAMinute(OncePerMinute& when, const std::string& line);

    Options m_options;
    std::recursive_mutex m_mutex;
    std::vector<Announcement> m_announcements;
    std::vector<ComputerEntry> m_entries;
    // Name -> position in the arrays above: announcements arrive by the
    // thousand in a flood, and each must not cost a walk of the table.
    std::unordered_map<std::string, size_t> m_announcement_index;
    std::unordered_map<uint32_t, std::string> m_generation_names;
    // Names without a published entry, heard least recently first: the
    // ones a new name pushes out.
    std::list<std::string> m_unpublished;
    uint32_t m_last_generation = 0;
    uint64_t m_evicted = 0;
    std::unordered_map<std::string, size_t> m_entry_index;
    OncePerMinute m_dropped_line, m_evicted_line;
    std::string m_host_name;
    bool m_have_host_name = false;
    bool m_overflow_logged = false;
    platform::SharedMemory m_view;
    platform::NamedMutex m_view_mutex;
};

}  // namespace ov::gateway
