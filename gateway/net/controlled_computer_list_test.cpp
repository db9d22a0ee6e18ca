#include "gateway/net/controlled_computer_list.h"

#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "common/published_list.h"

namespace ov::gateway {
namespace {

ComputerAnnouncement Announce(const std::string& name, uint32_t port,
                              std::vector<uint8_t> first_address) {
    ComputerAnnouncement a;
    std::memcpy(a.bytes, name.data(), std::min(name.size(), size_t(40)));
    EncodeFixed32LE(a.bytes + 40, port);
    std::memcpy(a.bytes + 44, first_address.data(), first_address.size());
    return a;
}

// Each test its own view, so runs side by side never share one.
std::string UniqueViewName() {
    static std::atomic<int> n{0};
    return std::string("ovt_list_") +
           ::testing::UnitTest::GetInstance()->current_test_info()->name() + "_" +
           std::to_string(std::time(nullptr) % 100000) + "_" + std::to_string(n++);
}

class ComputerList : public ::testing::Test {
  public:
    ComputerList() {
        options.view_name = UniqueViewName();
        options.log_line = [this](const std::string& l) { lines.push_back(l); };
        options.log_raw = [this](const std::string& l) { raw.push_back(l); };
        options.host_name = [] { return std::string(60, 'h'); };
    }
    // Records the conversion each change asks for, as the network thread posts it.
    int Add(ControlledComputerList& list, const ComputerAnnouncement& a) {
        uint32_t generation = 0;
        int changed = list.AddOrUpdateAnnouncement(a, &generation);
        if (generation != 0) {
            ComputerAnnouncement asked;
            EXPECT_TRUE(list.AnnouncementOf(generation, &asked));
            converts.push_back(asked.Name());
            generations.push_back(generation);
        }
        return changed;
    }
    // Every position and generation leads back to its announcement.
    void ExpectConsistent(const ControlledComputerList& list) {
        for (int i = 0; i < list.AnnouncementCount(); ++i) {
            ComputerAnnouncement a;
            ASSERT_TRUE(list.AnnouncementAt(i, &a));
            EXPECT_EQ(list.AnnouncementIndex(a.Name()), i) << a.Name();
        }
    }
    std::vector<ComputerEntry> Published() {
        std::vector<ComputerEntry> e;
        EXPECT_TRUE(ReadPublishedList(&e, options.view_name));
        return e;
    }
    ControlledComputerList::Options options;
    std::vector<std::string> converts;
    std::vector<uint32_t> generations;
    std::vector<std::string> lines, raw;
};

const uint8_t kA[4] = {10, 0, 0, 7};
const uint8_t kB[4] = {192, 0, 2, 9};

TEST_F(ComputerList, AnnouncementsConvertOnlyWhenTheirAddressesChange) {
    ControlledComputerList list(options);
    ASSERT_TRUE(list.Publishing());
    EXPECT_EQ(Add(list, Announce("pc1", 5, {10, 0, 0, 7})), 1);
    EXPECT_EQ(Add(list, Announce("PC1", 5, {10, 0, 0, 7})), 1);   // another computer
    EXPECT_EQ(Add(list, Announce("pc1", 99, {10, 0, 0, 7})), 0);  // port alone
    EXPECT_EQ(Add(list, Announce("pc1", 99, {10, 0, 0, 8})), 1);
    EXPECT_EQ(converts, (std::vector<std::string>{"pc1", "PC1", "pc1"}));
    // A change makes the earlier conversion of the name stale.
    EXPECT_TRUE(list.IsCurrent("pc1", generations[2]));
    EXPECT_FALSE(list.IsCurrent("pc1", generations[0]));
    ComputerAnnouncement old;
    EXPECT_FALSE(list.AnnouncementOf(generations[0], &old));
    ComputerAnnouncement stored;
    ASSERT_TRUE(list.AnnouncementAt(0, &stored));
    EXPECT_EQ(stored.Port(), 5u);  // the stored port stays
    EXPECT_EQ(stored.Address(0)[3], 8);
    EXPECT_FALSE(list.AnnouncementAt(2, &stored));
}

TEST_F(ComputerList, EntriesArePublishedByteForByte) {
    ControlledComputerList list(options);
    EXPECT_EQ(list.AddOrUpdateEntry(ComputerEntry::Make("pc1", 5, kA)), 1);
    auto view = Published();
    ASSERT_EQ(view.size(), 1u);
    const uint8_t want[48] = {'p', 'c', '1', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  0, 0, 0,
                              0,   0,   0,   0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  0, 0, 0,
                              0,   0,   0,   0, 0, 0, 0, 0, 5, 0, 0, 0, 10, 0, 0, 7};
    EXPECT_EQ(0, std::memcmp(view[0].bytes, want, 48));
    EXPECT_EQ(list.AddOrUpdateEntry(ComputerEntry::Make("pc1", 5, kA)), 0);  // nothing changed
    EXPECT_EQ(list.AddOrUpdateEntry(ComputerEntry::Make("pc1", 6, kA)), 1);
    EXPECT_EQ(Published()[0].Port(), 6u);
    EXPECT_EQ(list.EntryCount(), 1);
}

TEST_F(ComputerList, RemovalZeroesTheViewEvenForUnknownNames) {
    ControlledComputerList list(options);
    list.AddOrUpdateAnnouncement(Announce("a", 1, {1}));
    list.AddOrUpdateEntry(ComputerEntry::Make("a", 1, kA));
    list.AddOrUpdateEntry(ComputerEntry::Make("b", 2, kB));
    list.RemoveComputer("a");
    EXPECT_EQ(list.AnnouncementCount(), 0);
    auto view = Published();
    ASSERT_EQ(view.size(), 1u);
    EXPECT_EQ(view[0].Name(), "b");
    // The second slot was zeroed, not left holding "b" twice.
    platform::SharedMemory raw;
    ASSERT_TRUE(raw.Open(options.view_name, kListViewSize));
    for (size_t i = 4 + 48; i < 4 + 96; ++i) ASSERT_EQ(raw.data()[i], 0) << i;
    list.RemoveComputer("nobody");
    EXPECT_EQ(Published().size(), 1u);
}

TEST_F(ComputerList, LongNamesAndLookUpOverFortyCharacters) {
    ControlledComputerList list(options);
    const std::string forty(40, 'n');
    ComputerEntry e = ComputerEntry::Make(forty + "tail", 7, kB);
    EXPECT_EQ(e.bytes[39], 'n');
    EXPECT_EQ(e.bytes[40], 7);  // no terminator: the port follows at once
    list.AddOrUpdateEntry(e);
    std::string address;
    uint32_t port = 0;
    ASSERT_TRUE(list.LookUp(forty + "xyz", &address, &port));
    EXPECT_EQ(address, "192.0.2.9");
    EXPECT_EQ(port, 7u);
    EXPECT_FALSE(list.LookUp("N", &address, &port));
    EXPECT_EQ(raw, (std::vector<std::string>{"    没找到N\r\n\r\n"}));
    EXPECT_EQ(list.LocalHostName().size(), 49u);
}

TEST_F(ComputerList, BeyondFiveHundredNothingIsWrittenPastTheView) {
    ControlledComputerList list(options);
    for (int i = 0; i < 502; ++i)
        list.AddOrUpdateEntry(ComputerEntry::Make("pc" + std::to_string(i), 1, kA));
    EXPECT_EQ(list.EntryCount(), 502);
    auto view = Published();
    ASSERT_EQ(view.size(), 500u);
    EXPECT_EQ(view[499].Name(), "pc499");
    EXPECT_EQ(lines.size(), 1u);  // said once
    std::string address;
    uint32_t port;
    EXPECT_TRUE(list.LookUp("pc501", &address, &port));  // still known in memory
}

// A full table takes a new name in place of the unpublished name heard least
// recently; published computers are never pushed out, and only a table full
// of them drops new names.
TEST_F(ComputerList, AFullTablePushesOutTheUnpublishedNameHeardLeastRecently) {
    options.max_announcements = 3;
    ControlledComputerList list(options);
    for (int i = 0; i < 3; ++i)
        Add(list, Announce("pc" + std::to_string(i), 1, {10, 0, 0, uint8_t(i)}));
    list.AddOrUpdateEntry(ComputerEntry::Make("pc1", 1, kA));
    EXPECT_EQ(list.HeardAgain("pc1"), 0u);              // published: nothing to hurry
    EXPECT_EQ(list.HeardAgain("pc0"), generations[0]);  // now the youngest
    const uint32_t pc2 = generations[2];
    EXPECT_EQ(Add(list, Announce("late", 1, {10, 0, 0, 50})), 1);
    EXPECT_EQ(list.AnnouncementIndex("pc2"), -1);
    EXPECT_FALSE(list.IsCurrent("pc2", pc2));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("被替换"), std::string::npos) << lines[0];
    EXPECT_EQ(Add(list, Announce("later", 1, {10, 0, 0, 51})), 1);
    EXPECT_EQ(list.AnnouncementIndex("pc0"), -1);
    EXPECT_EQ(Add(list, Announce("latest", 1, {10, 0, 0, 52})), 1);
    EXPECT_EQ(list.AnnouncementIndex("late"), -1);
    EXPECT_EQ(list.AnnouncementCount(), 3);
    EXPECT_EQ(list.EvictedCount(), 3u);
    EXPECT_EQ(lines.size(), 1u);  // one line a minute
    ExpectConsistent(list);

    // Back after being pushed out: a new generation, so the old conversion
    // can never publish the new announcement.
    list.RemoveComputer("later");
    EXPECT_EQ(Add(list, Announce("pc2", 1, {10, 0, 0, 2})), 1);
    EXPECT_NE(generations.back(), pc2);
    EXPECT_FALSE(list.IsCurrent("pc2", pc2));

    // Every name published: a new one is dropped, known ones still change.
    list.AddOrUpdateEntry(ComputerEntry::Make("latest", 1, kA));
    list.AddOrUpdateEntry(ComputerEntry::Make("pc2", 1, kA));
    EXPECT_EQ(Add(list, Announce("more", 1, {10, 0, 0, 53})), 0);
    EXPECT_EQ(list.AnnouncementIndex("more"), -1);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[1].find("新的名字被丢弃"), std::string::npos) << lines[1];
    EXPECT_EQ(Add(list, Announce("pc1", 1, {10, 0, 0, 99})), 1);
    EXPECT_EQ(Add(list, Announce("other", 1, {10, 0, 0, 54})), 0);  // pc1 still published
    EXPECT_EQ(list.EntryCount(), 3);
    ExpectConsistent(list);
}

// A flood far beyond the table's size: the table stays at its size, the
// published computers stay, and the name heard last is in.
TEST_F(ComputerList, AFloodKeepsPublishedComputersAndLetsTheLastNameIn) {
    options.max_announcements = 200;
    ControlledComputerList list(options);
    Add(list, Announce("real", 1, {10, 0, 0, 1}));
    list.AddOrUpdateEntry(ComputerEntry::Make("real", 1, kA));
    for (int i = 0; i < 20000; ++i)
        Add(list, Announce("fake" + std::to_string(i), 1, {192, 0, 2, uint8_t(i)}));
    EXPECT_EQ(list.AnnouncementCount(), 200);
    EXPECT_NE(list.AnnouncementIndex("real"), -1);
    EXPECT_NE(list.AnnouncementIndex("fake19999"), -1);
    EXPECT_EQ(list.AnnouncementIndex("fake19800"), -1);
    EXPECT_EQ(Add(list, Announce("second", 1, {10, 0, 0, 2})), 1);
    EXPECT_EQ(list.AnnouncementIndex("fake19801"), -1);
    EXPECT_EQ(list.EvictedCount(), 20000u - 199u + 1u);
    ExpectConsistent(list);
}

TEST_F(ComputerList, NoListWithoutAGateway) {
    std::vector<ComputerEntry> e;
    EXPECT_FALSE(ReadPublishedList(&e, options.view_name + "_none"));
    {
        ControlledComputerList list(options);
        EXPECT_TRUE(ReadPublishedList(&e, options.view_name));
    }
    EXPECT_FALSE(ReadPublishedList(&e, options.view_name));
}

// Announcements, leaves and settled conversions on one thread while others
// copy the list for logins and look names up, none of them locking: every
// copy is whole, each entry as it was written (its port and address made
// from its name's number), never more entries than settled announcements.
TEST_F(ComputerList, ThreadsSeeOnlyWholeChangesWithoutLocking) {
    options.max_announcements = 64;
    options.log_raw = nullptr;  // look-ups that miss log outside the lock
    ControlledComputerList list(options);
    std::atomic<bool> done{false};
    std::atomic<int> copies{0};
    auto reader = [&] {
        while (!done) {
            for (const ComputerEntry& e : list.Entries()) {
                const int n = std::stoi(e.Name().substr(2));
                ASSERT_EQ(e.Port(), uint32_t(1000 + n));
                ASSERT_EQ(e.AddressText(), "10.0.1." + std::to_string(n));
            }
            std::string address;
            uint32_t port = 0;
            if (list.LookUp("pc7", &address, &port)) {
                ASSERT_EQ(port, 1007u);
            }
            ASSERT_LE(list.EntryCount(), 64);
            ++copies;
        }
    };
    std::thread readers[2] = {std::thread(reader), std::thread(reader)};
    for (int i = 0; i < 20000; ++i) {
        const int n = i % 100;
        const std::string name = "pc" + std::to_string(n);
        if (i % 7 == 0) {
            list.RemoveComputer(name);
            continue;
        }
        uint32_t generation = 0;
        list.AddOrUpdateAnnouncement(Announce(name, 1, {10, 0, 2, uint8_t(i)}), &generation);
        const uint8_t address[4] = {10, 0, 1, uint8_t(n)};
        if (generation != 0 && i % 3 != 0)
            list.SettleConversion(Announce(name, 1, {10, 0, 2, uint8_t(i)}), generation,
                                  ComputerEntry::Make(name, uint32_t(1000 + n), address));
    }
    done = true;
    for (std::thread& t : readers) t.join();
    EXPECT_GT(copies.load(), 0);
    ExpectConsistent(list);
    const std::vector<ComputerEntry> entries = list.Entries();
    auto view = Published();
    ASSERT_EQ(view.size(), entries.size());
    for (size_t i = 0; i < view.size(); ++i)
        EXPECT_EQ(0, std::memcmp(view[i].bytes, entries[i].bytes, ComputerEntry::kSize));
}

}  // namespace
}  // namespace ov::gateway
