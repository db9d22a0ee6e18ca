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
    void Convert(const ComputerAnnouncement& a) {
        std::lock_guard<std::recursive_mutex> lock(list->Mutex());
        list->AddOrUpdateAnnouncement(a);
    }
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
        std::lock_guard<std::recursive_mutex> lock(list->Mutex());
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
        int index = -1;
        {
            std::lock_guard<std::recursive_mutex> lock(list->Mutex());
            list->AddOrUpdateAnnouncement(a, &index);
            if (index < 0)
                index = list->AnnouncementIndex(a.Name());
            else
                return queue.Request(index);
        }
        queue.Request(index, true);  // announced again while it waits
    };
    for (int i = 0; i < 50; ++i)
        announce(Announce("fake" + std::to_string(i), {{192, 0, 2, uint8_t(i)}}));
    // One name announcing new addresses again and again while it waits: one conversion.
    for (int i = 0; i < 20; ++i) announce(Announce("fake49", {{198, 51, 100, uint8_t(i)}}));
    announce(Announce("real", {{192, 0, 2, 200}}));
    announce(Announce("real", {{192, 0, 2, 200}}));
    release.set_value();
    bool published = false;
    for (int i = 0; i < 1000 && !published; ++i) {
        std::this_thread::sleep_for(5ms);
        std::lock_guard<std::recursive_mutex> lock(list->Mutex());
        published = list->HasEntry("real");
    }
    ASSERT_TRUE(published);
    queue.Stop();
    std::lock_guard<std::mutex> lock(asked_shared->mutex);
    const std::vector<uint32_t>& asked = asked_shared->addresses;
    auto at = std::find(asked.begin(), asked.end(), real) - asked.begin();
    EXPECT_LT(at, 6) << "probed behind the flood";
    EXPECT_EQ(std::count(asked.begin(), asked.end(), NetworkOrder({198, 51, 100, 19})), 1);
    EXPECT_EQ(std::count(asked.begin(), asked.end(), NetworkOrder({198, 51, 100, 5})), 0);
    EXPECT_EQ(std::count(asked.begin(), asked.end(), NetworkOrder({192, 0, 2, 49})), 0);
}

}  // namespace
}  // namespace ov::gateway
