#include "console/model/computer_view.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "console/model/service_controller.h"
#include "platform/shared_memory.h"
#include "platform/test_child.h"

namespace ov::console {
namespace {

// A list published under a name of this test run, as the gateway publishes
// its own.
class PublishedList {
  public:
    PublishedList() : name(platform::testing::UniqueName("console_list")) {
        EXPECT_TRUE(view.Create(name, kListViewSize));
    }
    void Set(const std::vector<ComputerEntry>& entries, int32_t count) {
        EncodeFixed32LE(view.data(), uint32_t(count));
        for (size_t i = 0; i < entries.size(); ++i)
            std::memcpy(view.data() + 4 + i * ComputerEntry::kSize, entries[i].bytes,
                        ComputerEntry::kSize);
    }
    std::string name;
    platform::SharedMemory view;
};

ComputerEntry Entry(const std::string& name, uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    const uint8_t address[4] = {a, b, c, d};
    return ComputerEntry::Make(name, 5900, address);
}

TEST(SharedListReaderTest, AttachFollowsThePublisherAndCopiesWhatItHolds) {
    auto list = std::make_unique<PublishedList>();
    SharedListReader reader(list->name);
    const std::string long_name(40, 'N');
    list->Set({Entry("pc1", 192, 168, 0, 5), Entry(long_name, 10, 0, 0, 255)}, 2);
    ASSERT_TRUE(reader.Attach());
    std::array<ComputerEntry, kMaxShownComputers> entries{};
    ComputerListView view = ReadComputerList(&reader, &entries);
    EXPECT_TRUE(view.running);
    ASSERT_EQ(view.rows.size(), 2u);
    EXPECT_EQ(view.rows[0].name, "pc1");
    EXPECT_EQ(view.rows[0].address, "192.168.0.5");
    EXPECT_EQ(view.rows[1].name, long_name);  // 40 bytes without a terminator
    EXPECT_EQ(view.rows[1].address, "10.0.0.255");

    // Asking for more than the list holds fails; counts no gateway could
    // publish read as an empty list.
    EXPECT_FALSE(reader.Copy(3, entries.data()));
    list->Set({}, -1);
    EXPECT_EQ(reader.Count(), 0);
    list->Set({}, 501);
    EXPECT_EQ(reader.Count(), 0);

    // Once the gateway has let go, the next attach fails: the reader must
    // not keep the list alive by its own handle.
    list.reset();
    EXPECT_FALSE(reader.Attach());
    EXPECT_FALSE(reader.IsAttached());
    EXPECT_EQ(reader.Count(), 0);
    view = ReadComputerList(&reader, &entries);
    EXPECT_FALSE(view.running);
    EXPECT_TRUE(view.rows.empty());
    EXPECT_FALSE(view.too_many);
}

// A list that says what the test wants, and can shrink between the count
// and the copy as a live gateway's can.
class FakeList : public ComputerListSource {
  public:
    bool Attach() override {
        ++attaches;
        attached = attach_results.empty() ? attached : attach_results.front();
        if (!attach_results.empty())
            attach_results.erase(attach_results.begin());
        return attached;
    }
    bool IsAttached() const override { return attached; }
    int Count() override { return attached ? int(entries.size()) : 0; }
    bool Copy(size_t n, ComputerEntry* out) override {
        entries.resize(entries.size() - std::min(entries.size(), shrink_by));
        if (!attached || n > entries.size())
            return false;
        std::copy(entries.begin(), entries.begin() + long(n), out);
        return true;
    }
    bool attached = true;
    std::vector<bool> attach_results;
    int attaches = 0;
    size_t shrink_by = 0;
    std::vector<ComputerEntry> entries;
};

TEST(ComputerViewTest, ShowsAtMost250AndClosesWhenTheListShrinks) {
    FakeList list;
    std::array<ComputerEntry, kMaxShownComputers> entries{};
    for (int i = 0; i < 251; ++i)
        list.entries.push_back(Entry("pc" + std::to_string(i), 1, 2, 3, 4));
    ComputerListView view = ReadComputerList(&list, &entries);
    EXPECT_TRUE(view.too_many);
    ASSERT_EQ(view.rows.size(), 250u);
    EXPECT_EQ(view.rows[249].name, "pc249");

    list.entries.resize(3);
    list.shrink_by = 1;
    view = ReadComputerList(&list, &entries);
    EXPECT_TRUE(view.close_dialog);
    EXPECT_TRUE(view.rows.empty());

    list.entries.clear();
    list.shrink_by = 0;
    view = ReadComputerList(&list, &entries);  // a gateway with no computers yet
    EXPECT_TRUE(view.running && view.rows.empty() && !view.close_dialog);
}

// A service manager whose every request succeeds at once.
class InstantService : public ServiceSystem, public MessageSink {
  public:
    bool IsNtFamily() override { return true; }
    Installed IsInstalled() override { return Installed::Yes; }
    bool RunGateway(const std::string&) override { return true; }
    Elevation RunElevated(const std::string&, const std::string&, unsigned long*) override {
        return Elevation::Refused;
    }
    void Sleep(unsigned ms) override { slept += ms; }
    Open OpenService() override { return open; }
    bool StartService() override {
        started = true;
        return accept;
    }
    bool StopService() override {
        stopped = true;
        return accept;
    }
    bool QueryState(State* s) override {
        *s = started ? State::Running : State::Stopped;
        return true;
    }
    void CloseService() override {}
    void Show(const std::string& text, const std::string&, bool) override { shown.push_back(text); }
    Open open = Open::Opened;
    std::vector<std::string> shown;
    bool accept = true, started = false, stopped = false;
    unsigned slept = 0;
};

TEST(ToggleGatewayTest, StopsARunningGatewayAndWaitsForItsListToGo) {
    FakeList list;
    list.attach_results = {true, true, false};  // the list vanishes on the second look
    InstantService sys;
    ServiceController service(&sys, &sys);
    std::vector<std::string> failures;
    ToggleGateway(&list, &service, [&](const char* m) { failures.push_back(m); });
    EXPECT_TRUE(sys.stopped && !sys.started);
    EXPECT_TRUE(failures.empty());
    // One poll of the service, then a look every 100 ms: two while the list
    // is still there, one that finds it gone.
    EXPECT_EQ(sys.slept, 1000u + 300u);
    EXPECT_FALSE(list.IsAttached());

    // A refused stop says so and waits for nothing.
    list.attach_results = {true};
    sys.accept = false;
    sys.slept = 0;
    ToggleGateway(&list, &service, [&](const char* m) { failures.push_back(m); });
    EXPECT_EQ(failures, std::vector<std::string>{"停止OVG服务失败!"});
    EXPECT_EQ(sys.slept, 0u);

    // A refused elevation prompt is told once, by the controller.
    failures.clear();
    list.attach_results = {true};
    sys.open = ServiceSystem::Open::Denied;
    ToggleGateway(&list, &service, [&](const char* m) { failures.push_back(m); });
    EXPECT_TRUE(failures.empty());
    EXPECT_EQ(sys.shown.size(), 1u);
    EXPECT_EQ(sys.slept, 0u);
}

TEST(ToggleGatewayTest, AStartWhoseListNeverComesWaitsASecondAndSaysNothing) {
    FakeList list;
    list.attached = false;
    list.attach_results = std::vector<bool>(20, false);
    InstantService sys;
    ServiceController service(&sys, &sys);
    std::vector<std::string> failures;
    ToggleGateway(&list, &service, [&](const char* m) { failures.push_back(m); });
    EXPECT_TRUE(sys.started);
    EXPECT_TRUE(failures.empty());
    EXPECT_EQ(sys.slept, 1000u + 10 * 100u);
    EXPECT_EQ(list.attaches, 1 + 10);
    EXPECT_FALSE(list.IsAttached());
}

}  // namespace
}  // namespace ov::console
