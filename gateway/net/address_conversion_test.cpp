#include "gateway/net/address_conversion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <ctime>
#include <future>
#include <mutex>
#include <thread>

namespace ov::gateway {
namespace {

using namespace std::chrono_literals;

ComputerAnnouncement Announce(const std::string& name, std::vector<std::array<uint8_t, 4>> addrs) {
    ComputerAnnouncement a;
    std::memcpy(a.bytes, name.data(), std::min(name.size(), size_t(40)));
    EncodeFixed32LE(a.bytes + 40, 5);
    for (size_t i = 0; i < addrs.size(); ++i) std::memcpy(a.bytes + 44 + 4 * i, addrs[i].data(), 4);
    return a;
}

uint32_t NetworkOrder(std::array<uint8_t, 4> a) {
    uint32_t v;
    std::memcpy(&v, a.data(), 4);
    return v;
}

class Conversion : public ::testing::Test {
  public:
    Conversion() {
        static std::atomic<int> n{0};
        ControlledComputerList::Options o;
        o.view_name =
            "ovt_conv_" + std::to_string(std::time(nullptr) % 100000) + "_" + std::to_string(n++);
        o.host_name = [] { return std::string("gateway-host"); };
        list = std::make_unique<ControlledComputerList>(o);
    }
    void Convert(const ComputerAnnouncement& a) { list->AddOrUpdateAnnouncement(a); }
    int Run(int index, int flag = 1) {
        return OnExistData(*list, index, flag, probe,
                           [this](const std::string& l) { lines.push_back(l); });
    }
    std::unique_ptr<ControlledComputerList> list;
    std::vector<uint32_t> asked;
    std::vector<std::string> lines;
    uint32_t answering = 0;
    ArpProbe probe = [this](uint32_t a) {
        asked.push_back(a);
        return a == answering;
    };
};

TEST_F(Conversion, TheFirstAddressThatAnswersIsChosenInOrder) {
    Convert(Announce("pc", {{0, 0, 0, 0}, {192, 168, 5, 9}, {10, 1, 1, 2}}));
    answering = NetworkOrder({10, 1, 1, 2});
    ASSERT_EQ(Run(0), 0);
    EXPECT_EQ(asked,
              (std::vector<uint32_t>{NetworkOrder({192, 168, 5, 9}), NetworkOrder({10, 1, 1, 2})}));
    EXPECT_EQ(lines, (std::vector<std::string>{"10.1.1.2有效!"}));
    ASSERT_EQ(list->EntryCount(), 1);
    EXPECT_EQ(list->EntryAt(0).AddressText(), "10.1.1.2");
}

TEST_F(Conversion, NobodyAnsweringPublishesNothing) {
    Convert(Announce("pc", {{192, 0, 2, 1}}));
    EXPECT_EQ(Run(0), -1);
    EXPECT_EQ(lines, (std::vector<std::string>{"取有效地址失败!"}));
    EXPECT_EQ(list->EntryCount(), 0);
    probe = nullptr;  // the identity library could not be used
    EXPECT_EQ(Run(0), -1);
}

TEST_F(Conversion, OurOwnComputerNeedsNoArp) {
    Convert(Announce("gateway-host", {{0, 0, 0, 0}, {192, 0, 2, 7}}));
    ASSERT_EQ(Run(0), 0);
    EXPECT_TRUE(asked.empty());
    EXPECT_EQ(list->EntryAt(0).AddressText(), "192.0.2.7");
    Convert(Announce("gateway-host", {}));
    EXPECT_EQ(Run(0), -1);  // all five zero
}

TEST_F(Conversion, FlagZeroStaleIndexesAndEmptyNamesDoNothing) {
    EXPECT_EQ(Run(0, 0), -1);
    EXPECT_EQ(Run(0), -1);  // empty array
    Convert(Announce("", {{192, 0, 2, 1}}));
    EXPECT_EQ(Run(0), -1);
    EXPECT_EQ(lines.back(), "CConvertThread::OnExistData() - pPack->hostname长度为0!!!");
    EXPECT_EQ(Run(5), -1);
    EXPECT_TRUE(asked.empty());
}

TEST_F(Conversion, AnAnnouncementChangedDuringTheProbeIsLeftToItsOwnConversion) {
    Convert(Announce("pc", {{192, 0, 2, 1}}));
    answering = NetworkOrder({192, 0, 2, 1});
    probe = [this](uint32_t a) {
        // Meanwhile the computer announces new addresses.
        list->AddOrUpdateAnnouncement(Announce("pc", {{192, 0, 2, 2}}));
        return a == answering;
    };
    EXPECT_EQ(Run(0), -1);
    EXPECT_EQ(list->EntryCount(), 0);
}

TEST_F(Conversion, LongNamesArePublishedCutToForty) {
    std::string name(45, 'x');
    Convert(Announce(name, {{192, 0, 2, 1}}));
    answering = NetworkOrder({192, 0, 2, 1});
    ASSERT_EQ(Run(0), 0);
    EXPECT_EQ(list->EntryAt(0).Name(), std::string(40, 'x'));
}

// A flood of names whose addresses never answer must neither queue without
// end nor hold up a computer that answers and announces itself again.
TEST(ConversionQueueTest, AFloodOfUnreachableNamesDoesNotHoldUpARealComputer) {
    static std::atomic<int> n{0};
    ControlledComputerList::Options o;
    o.view_name =
        "ovt_queue_" + std::to_string(std::time(nullptr) % 100000) + "_" + std::to_string(n++);
    auto list = std::make_shared<ControlledComputerList>(o);
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    // Shared with the probers: the queue never waits for a probe under way,
    // which may still record after this test has returned.
    struct Asked {
        std::mutex mutex;
        std::vector<uint32_t> addresses;
    };
    auto asked_shared = std::make_shared<Asked>();
    const uint32_t real = NetworkOrder({192, 0, 2, 200});
    ArpProbe probe = [asked_shared, released, real](uint32_t a) {
        {
            std::lock_guard<std::mutex> lock(asked_shared->mutex);
            asked_shared->addresses.push_back(a);
        }
        if (a == real)
            return true;
        released.wait();  // slow, and never answers
        return false;
    };
    ConversionQueue queue(list, probe, nullptr, 3);
    auto announce = [&](const ComputerAnnouncement& a) {
        uint32_t generation = 0, hurry = 0;
        if (list->AddOrUpdateAnnouncement(a, &generation, &hurry))
            return queue.Request(generation);
        queue.Request(hurry, true);  // announced again while it waits
    };
    for (int i = 0; i < 50; ++i)
        announce(Announce("fake" + std::to_string(i), {{192, 0, 2, uint8_t(i)}}));
    // One name announcing new addresses again and again while it waits: one conversion.
    for (int i = 0; i < 20; ++i) announce(Announce("fake49", {{198, 51, 100, uint8_t(i)}}));
    announce(Announce("real", {{192, 0, 2, 200}}));
    announce(Announce("real", {{192, 0, 2, 200}}));
    // Every probe thread that takes any name is held by the flood: the one
    // kept for names heard again settles the real computer meanwhile.
    bool published = false;
    for (int i = 0; i < 1000 && !published; ++i) {
        std::this_thread::sleep_for(5ms);
        published = list->HasEntry("real");
    }
    release.set_value();
    ASSERT_TRUE(published) << "held up behind probes of the flood";
    const uint32_t latest = NetworkOrder({198, 51, 100, 19});  // fake49's last announcement
    for (int i = 0; i < 1000; ++i) {
        std::this_thread::sleep_for(5ms);
        std::lock_guard<std::mutex> lock(asked_shared->mutex);
        const std::vector<uint32_t>& asked = asked_shared->addresses;
        if (std::find(asked.begin(), asked.end(), latest) != asked.end())
            break;
    }
    queue.Stop();
    std::lock_guard<std::mutex> lock(asked_shared->mutex);
    const std::vector<uint32_t>& asked = asked_shared->addresses;
    auto at = std::find(asked.begin(), asked.end(), real) - asked.begin();
    EXPECT_LT(at, 6) << "probed behind the flood";
    EXPECT_EQ(std::count(asked.begin(), asked.end(), latest), 1);
    EXPECT_EQ(std::count(asked.begin(), asked.end(), NetworkOrder({198, 51, 100, 5})), 0);
    EXPECT_EQ(std::count(asked.begin(), asked.end(), NetworkOrder({192, 0, 2, 49})), 0);
}

}  // namespace
}  // namespace ov::gateway

namespace ov::gateway {
namespace {

// Names pushed out of the table lose their conversions: those waiting are
// dropped unprobed, the one under way stops probing and never publishes,
// even when its address answers; the queue stays bounded by the table.
TEST(ConversionQueueTest, ConversionsOfNamesPushedOutAreDropped) {
    static std::atomic<int> n{0};
    ControlledComputerList::Options o;
    o.view_name =
        "ovt_drop_" + std::to_string(std::time(nullptr) % 100000) + "_" + std::to_string(n++);
    o.max_announcements = 4;
    auto list = std::make_shared<ControlledComputerList>(o);
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    struct Asked {
        std::mutex mutex;
        std::vector<uint32_t> addresses;
    };
    auto asked_shared = std::make_shared<Asked>();
    const uint32_t held = NetworkOrder({192, 0, 2, 100});
    ArpProbe probe = [asked_shared, released, held](uint32_t a) {
        {
            std::lock_guard<std::mutex> lock(asked_shared->mutex);
            asked_shared->addresses.push_back(a);
        }
        if (a == held)
            released.wait();
        return true;  // every address answers
    };
    ConversionQueue queue(list, probe, nullptr, 1);
    auto announce = [&](const ComputerAnnouncement& a) {
        uint32_t generation = 0;
        list->AddOrUpdateAnnouncement(a, &generation);
        queue.Request(generation);
    };
    announce(Announce("fake0", {{192, 0, 2, 100}, {192, 0, 2, 101}}));
    for (int i = 0; i < 1000; ++i) {  // until fake0 is under probe
        std::lock_guard<std::mutex> lock(asked_shared->mutex);
        if (!asked_shared->addresses.empty())
            break;
        std::this_thread::sleep_for(1ms);
    }
    for (int i = 1; i < 200; ++i)
        announce(Announce("fake" + std::to_string(i), {{198, 51, 100, uint8_t(i)}}));
    EXPECT_LE(queue.Waiting(), 2 * o.max_announcements + 16);
    release.set_value();
    bool settled = false;
    for (int i = 0; i < 1000 && !settled; ++i) {
        std::this_thread::sleep_for(5ms);
        settled = list->HasEntry("fake199");
    }
    ASSERT_TRUE(settled);
    queue.Stop();
    EXPECT_FALSE(list->HasEntry("fake0"));
    EXPECT_EQ(list->EntryCount(), 4);
    std::lock_guard<std::mutex> asked_lock(asked_shared->mutex);
    EXPECT_EQ(asked_shared->addresses,
              (std::vector<uint32_t>{
                  held, NetworkOrder({198, 51, 100, 196}), NetworkOrder({198, 51, 100, 197}),
                  NetworkOrder({198, 51, 100, 198}), NetworkOrder({198, 51, 100, 199})}));
}

TEST_F(Conversion, AConversionOfAnOlderGenerationProbesAndPublishesNothing) {
    const ComputerAnnouncement a = Announce("pc", {{192, 0, 2, 1}, {192, 0, 2, 2}});
    uint32_t first = 0, second = 0;
    list->AddOrUpdateAnnouncement(a, &first);
    list->RemoveComputer("pc");
    list->AddOrUpdateAnnouncement(a, &second);  // the same bytes, back again
    answering = NetworkOrder({192, 0, 2, 2});
    EXPECT_EQ(ConvertAnnouncement(*list, a, probe, nullptr, nullptr, first), -1);
    EXPECT_TRUE(asked.empty());
    // Pushed out while the first address is probed: the second is not asked.
    probe = [this](uint32_t address) {
        asked.push_back(address);
        list->RemoveComputer("pc");
        return false;
    };
    EXPECT_EQ(
        ConvertAnnouncement(
            *list, a, probe, [this](const std::string& l) { lines.push_back(l); }, nullptr, second),
        -1);
    EXPECT_EQ(asked, (std::vector<uint32_t>{NetworkOrder({192, 0, 2, 1})}));
    EXPECT_TRUE(lines.empty());  // a dropped conversion did not fail
    EXPECT_EQ(list->EntryCount(), 0);
}

}  // namespace
}  // namespace ov::gateway

namespace ov::gateway {
namespace {

// A conversion is asked for by the network thread and carried out later on
// the probe threads. A computer that leaves meanwhile moves another
// announcement into its place: the conversion asked for must still settle
// the name it was asked for, and the leaver's conversion nothing.
TEST(ConversionQueueTest, ALeaveBetweenTheRequestAndTheConversionConvertsTheRightName) {
    static std::atomic<int> n{0};
    ControlledComputerList::Options o;
    o.view_name =
        "ovt_leave_" + std::to_string(std::time(nullptr) % 100000) + "_" + std::to_string(n++);
    auto list = std::make_shared<ControlledComputerList>(o);
    struct Asked {
        std::mutex mutex;
        std::vector<uint32_t> addresses;
    };
    auto asked_shared = std::make_shared<Asked>();
    ArpProbe probe = [asked_shared](uint32_t a) {
        std::lock_guard<std::mutex> lock(asked_shared->mutex);
        asked_shared->addresses.push_back(a);
        return true;
    };
    uint32_t a = 0, b = 0, c = 0;
    list->AddOrUpdateAnnouncement(Announce("a", {{192, 0, 2, 1}}), &a);
    list->AddOrUpdateAnnouncement(Announce("b", {{192, 0, 2, 2}}), &b);
    list->AddOrUpdateAnnouncement(Announce("c", {{192, 0, 2, 3}}), &c);
    ASSERT_NE(c, 0u);
    list->RemoveComputer("a");  // its leave arrives before the conversions run
    ConversionQueue queue(list, probe, nullptr, 1);
    queue.Request(a);
    queue.Request(b);
    bool settled = false;
    for (int i = 0; i < 1000 && !settled; ++i) {
        std::this_thread::sleep_for(5ms);
        settled = list->HasEntry("b");
    }
    queue.Stop();
    ASSERT_TRUE(settled);
    EXPECT_FALSE(list->HasEntry("a"));
    EXPECT_FALSE(list->HasEntry("c"));
    EXPECT_EQ(list->EntryCount(), 1);
    std::lock_guard<std::mutex> asked_lock(asked_shared->mutex);
    EXPECT_EQ(asked_shared->addresses, (std::vector<uint32_t>{NetworkOrder({192, 0, 2, 2})}));
}

}  // namespace
}  // namespace ov::gateway
