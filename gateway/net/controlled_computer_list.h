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

    // The network, conversion, command and proxy threads share this list.
    // Each operation below takes the list's own lock ("OVS_List_Mutex") for
    // its whole length, so callers never lock and none sees the list
    // half-changed; data leaves it as copies. While the lock is held the
    // list calls only the Options' log_line and host_name, which therefore
    // must never call back into the list (the gateway's log and host name
    // do not).

    // Every stored announcement carries a generation, new with each new name
    // and each change of addresses, never 0: conversions are asked for and
    // checked by generation, so one whose name left the table or changed
    // since finds nothing, whatever now sits where it was.
    //
    // Applies an announcement heard: 1 when the announcements changed;
    // *convert_generation (if given) is then the generation whose address
    // must be settled, else 0. When nothing changed, *hurry_generation (if
    // given) is the name's generation if it has no published entry yet, so
    // that its waiting conversion may go first, else 0. A new name in a full
    // table pushes out the unpublished name heard least recently (one log
    // line a minute), or is dropped (0) when every name is published.
    int AddOrUpdateAnnouncement(const ComputerAnnouncement& a,
                                uint32_t* convert_generation = nullptr,
                                uint32_t* hurry_generation = nullptr);
    // The name was heard again: if it has no published entry it becomes the
    // last to be pushed out. Its generation then, else 0 (published or unknown).
    uint32_t HeardAgain(const std::string& name);
    // Removes the name from both arrays and rewrites the view (always).
    void RemoveComputer(std::string_view name);

    // The announcement of that generation while the table still holds it.
    bool AnnouncementOf(uint32_t generation, ComputerAnnouncement* out) const;
    // True while the name's stored announcement is of that generation.
    bool IsCurrent(const std::string& name, uint32_t generation) const;
    // Ends a conversion of `a`: hands `e` (a's name, the address settled) to
    // the list only if the list still holds that very announcement, the one
    // of `generation`, or with generation 0 one of the same bytes as `a`.
    // False when it no longer does (its newer version, if any, has a
    // conversion of its own).
    bool SettleConversion(const ComputerAnnouncement& a, uint32_t generation,
                          const ComputerEntry& e);
    // Adds or changes a published entry as it is. 1 when the view was
    // rewritten, 0 when nothing changed.
    int AddOrUpdateEntry(const ComputerEntry& e);

    // The published entries, as a login's list reply is made of them.
    std::vector<ComputerEntry> Entries() const;
    // The entry whose name matches over at most 40 characters.
    bool LookUp(const std::string& name, std::string* address_text, uint32_t* port);
    // The host name, asked once and kept (at most 49 characters).
    std::string LocalHostName();

    // Names pushed out to make room, since the start.
    uint64_t EvictedCount() const;
    size_t MaxAnnouncements() const { return m_options.max_announcements; }  // never changes

    // A position says something only while no other thread changes the
    // table (tests, the fuzzer): a removal moves the last announcement into
    // the freed place.
    int AnnouncementCount() const;
    bool AnnouncementAt(int index, ComputerAnnouncement* out) const;
    // The stored announcement of that name.
    bool FindAnnouncement(const std::string& name, ComputerAnnouncement* out) const;
    // The index of the announcement of that name, or -1.
    int AnnouncementIndex(const std::string& name) const;
    bool HasEntry(const std::string& name) const;
    int EntryCount() const;
    ComputerEntry EntryAt(int index) const;

    bool Publishing() const;
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
    // Everything below REQUIRES m_mutex held, and calls no public operation.
    uint32_t HeardAgainLocked(const std::string& name);
    bool IsCurrentLocked(const std::string& name, uint32_t generation) const;
    int AddOrUpdateEntryLocked(const ComputerEntry& e);
    int EntryCountLocked() const { return int(m_entries.size() & 0xffff); }
    void Publish(bool zero_first);
    uint32_t NextGeneration();
    void RemoveAnnouncementAt(size_t at);
    void MarkPublished(const std::string& name);
    void LogOnceAMinute(OncePerMinute& when, const std::string& line);

    const Options m_options;
    // "OVS_List_Mutex": guards every member below.
    mutable std::mutex m_mutex;
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
