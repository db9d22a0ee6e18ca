#include <gtest/gtest.h>

#include <asio/io_context.hpp>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/control_block.h"
#include "platform/named_mutex.h"
#include "platform/shared_memory.h"
#include "test_child.h"

namespace ov::platform {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;
using testing::RegisterChildRole;
using testing::UniqueName;
using testing::WaitReady;
using testing::WaitUntil;

constexpr int kTimeoutMs = 10000;
constexpr int kLongSleepS = 30;  // a child nobody kills ends by itself

// Child roles: each sets up what its name says, signals ready and waits to
// be killed.
int HoldMutex(const std::string& name) {
    NamedMutex m;
    if (!m.Create(name))
        return 2;
    testing::SignalReady(name);
    std::this_thread::sleep_for(std::chrono::seconds(kLongSleepS));
    return 3;
}

int LockMutex(const std::string& name) {
    NamedMutex m;
    if (!m.Create(name) || !m.Lock())
        return 2;
    testing::SignalReady(name);
    std::this_thread::sleep_for(std::chrono::seconds(kLongSleepS));
    return 3;
}

int CreateBlock(const std::string& name) {
    SharedMemory s;
    if (!s.Create(name, 4096))
        return 2;
    std::memcpy(s.data(), "child", 5);
    testing::SignalReady(name);
    std::this_thread::sleep_for(std::chrono::seconds(kLongSleepS));
    return 3;
}

int SetServiceFlag(const std::string&) {
    SharedControlBlock block;
    block.SetServiceRunning(true);
    return block.IsAttached() ? 0 : 2;
}

// A gateway in miniature: listens, records itself, and ends with 42 when
// asked to stop.
int Gateway(const std::string&) {
    asio::io_context io;
    bool stopped = false;
    StopListener listener(io, [&] {
        stopped = true;
        io.stop();
    });
    if (!listener.Start())
        return 2;
    SharedControlBlock block;
    block.RecordGateway(0);
    io.run_for(std::chrono::seconds(kLongSleepS));
    block.ClearGateway();
    return stopped ? 42 : 3;
}

const RegisterChildRole kRoles[] = {
    {"hold-mutex", HoldMutex},     {"lock-mutex", LockMutex},
    {"create-block", CreateBlock}, {"set-service-flag", SetServiceFlag},
    {"gateway", Gateway},
};

// On Linux the objects live as files in one directory; each test process
// gets its own, so parallel runs never meet. (Windows keeps names apart by
// UniqueName.)
class IpcTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_dir = std::filesystem::temp_directory_path() /
                ("ov_ipc_test_" + std::to_string(testing::CurrentProcessId()));
        std::filesystem::create_directories(m_dir);
#ifndef _WIN32
        ::setenv("OVG_IPC_DIR", m_dir.c_str(), 1);
#endif
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }
    std::filesystem::path m_dir;
};

bool Exists(const std::string& name) {
    NamedMutex probe;
    bool existed = false;
    return probe.Create(name, &existed) && existed;
}

using NamedMutexTest = IpcTest;

TEST_F(NamedMutexTest, NameExistsExactlyWhileSomeHolderHasItOpen) {
    std::string name = UniqueName("m");
    NamedMutex a, b, c;
    bool existed = true;
    ASSERT_TRUE(a.Create(name, &existed));
    EXPECT_FALSE(existed);
    ASSERT_TRUE(b.Create(name, &existed));
    EXPECT_TRUE(existed);
    a.Close();
    // b still holds it, so it outlives its first creator.
    ASSERT_TRUE(c.Create(name, &existed));
    EXPECT_TRUE(existed);
    b.Close();
    c.Close();
    EXPECT_FALSE(Exists(name));
    EXPECT_FALSE(Exists(UniqueName("never-made")));
}

TEST_F(NamedMutexTest, HolderInAnotherProcessCountsUntilItIsKilled) {
    std::string name = UniqueName("m");
    ChildProcess child;
    ASSERT_TRUE(child.Start("hold-mutex", name));
    ASSERT_TRUE(WaitReady(name, kTimeoutMs));
    EXPECT_TRUE(Exists(name));
    child.Kill();
    int code = 0;
    ASSERT_TRUE(child.Wait(kTimeoutMs, &code));
    // A crashed holder must not make the next start believe it still runs.
    EXPECT_FALSE(Exists(name));
}

TEST_F(NamedMutexTest, LockExcludesOtherObjectsAndThreadsAndNests) {
    std::string name = UniqueName("m");
    NamedMutex a, b;
    ASSERT_TRUE(a.Create(name));
    ASSERT_TRUE(b.Create(name));
    ASSERT_TRUE(a.Lock());
    ASSERT_TRUE(a.Lock());  // the owner may lock again
    std::atomic<int> got{0};
    std::thread other_object([&] {
        if (b.Lock()) {
            ++got;
            b.Unlock();
        }
    });
    std::thread same_object([&] {
        if (a.Lock()) {
            ++got;
            a.Unlock();
        }
    });
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(got.load(), 0);
    a.Unlock();
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(got.load(), 0) << "released after one of two nested locks";
    a.Unlock();
    EXPECT_TRUE(WaitUntil([&] { return got.load() == 2; }, kTimeoutMs));
    other_object.join();
    same_object.join();
}

TEST_F(NamedMutexTest, LockOfAKilledProcessIsReleased) {
    std::string name = UniqueName("m");
    ChildProcess child;
    ASSERT_TRUE(child.Start("lock-mutex", name));
    ASSERT_TRUE(WaitReady(name, kTimeoutMs));
    NamedMutex m;
    ASSERT_TRUE(m.Create(name));
    std::atomic<bool> got{false};
    std::thread waiter([&] {
        if (m.Lock()) {
            got = true;
            m.Unlock();
        }
    });
    std::this_thread::sleep_for(200ms);
    EXPECT_FALSE(got.load()) << "the child's lock did not exclude this process";
    child.Kill();
    EXPECT_TRUE(WaitUntil([&] { return got.load(); }, kTimeoutMs));
    waiter.join();
}

using SharedMemoryTest = IpcTest;

TEST_F(SharedMemoryTest, NewBlockIsZeroAndSharedWithOpeners) {
    std::string name = UniqueName("s");
    SharedMemory creator, reader, writer;
    bool existed = true;
    ASSERT_TRUE(creator.Create(name, 24004, &existed));
    EXPECT_FALSE(existed);
    ASSERT_EQ(creator.size(), 24004u);
    for (size_t i = 0; i < creator.size(); ++i) ASSERT_EQ(creator.data()[i], 0) << i;
    creator.data()[24003] = 0x5a;
    ASSERT_TRUE(reader.Open(name, 24004));
    EXPECT_EQ(reader.data()[24003], 0x5a);
    ASSERT_TRUE(writer.Open(name, 24004, SharedMemory::Access::ReadWrite));
    writer.data()[0] = 7;
    EXPECT_EQ(creator.data()[0], 7);
    EXPECT_EQ(reader.data()[0], 7);
    SharedMemory too_big;
    EXPECT_FALSE(too_big.Open(name, 1 << 20));
    EXPECT_FALSE(too_big.Create(name, 1 << 20));
}

TEST_F(SharedMemoryTest, BlockLastsWhileACreatorHoldsItAndReadersDoNotKeepIt) {
    std::string name = UniqueName("s");
    SharedMemory reader;
    EXPECT_FALSE(reader.Open(name, 16));
    SharedMemory a, b;
    ASSERT_TRUE(a.Create(name, 16));
    a.data()[3] = 3;
    bool existed = false;
    ASSERT_TRUE(b.Create(name, 16, &existed));
    EXPECT_TRUE(existed);
    EXPECT_EQ(b.data()[3], 3) << "attaching must keep the bytes";
    a.Close();
    ASSERT_TRUE(reader.Open(name, 16));
    EXPECT_EQ(reader.data()[3], 3);
    b.Close();
    // (On Windows an open view would keep the mapping, and its name, alive.)
    reader.Close();
    EXPECT_FALSE(reader.Open(name, 16));
    ASSERT_TRUE(a.Create(name, 16, &existed));
    EXPECT_FALSE(existed);
    EXPECT_EQ(a.data()[3], 0);
}

TEST_F(SharedMemoryTest, BlockOfAKilledCreatorCannotBeOpenedAndIsCreatedAfresh) {
    std::string name = UniqueName("s");
    ChildProcess child;
    ASSERT_TRUE(child.Start("create-block", name));
    ASSERT_TRUE(WaitReady(name, kTimeoutMs));
    {
        SharedMemory reader;
        ASSERT_TRUE(reader.Open(name, 4096));
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(reader.data()), 5), "child");
    }
    child.Kill();
    int code = 0;
    ASSERT_TRUE(child.Wait(kTimeoutMs, &code));
    SharedMemory reader;
    EXPECT_FALSE(reader.Open(name, 4096)) << "a killed gateway's list looks alive";
    SharedMemory fresh;
    bool existed = true;
    ASSERT_TRUE(fresh.Create(name, 4096, &existed));
    EXPECT_FALSE(existed);
    EXPECT_EQ(fresh.data()[0], 0) << "stale bytes survived";
}

using ControlBlockTest = IpcTest;

TEST_F(ControlBlockTest, ValuesAreSharedBetweenObjectsAndProcesses) {
    SharedControlBlock a, b;
    ASSERT_TRUE(a.IsAttached());
    a.SetServiceRunning(false);
    a.ClearGateway();
    EXPECT_EQ(b.NetworkThreadId(), 0u);
    EXPECT_EQ(b.GatewayProcessId(), 0u);
    EXPECT_FALSE(b.SendStopRequest());

    a.RecordGateway(1234);
    EXPECT_EQ(b.NetworkThreadId(), 1234u);
    EXPECT_EQ(b.GatewayProcessId(), testing::CurrentProcessId());
    b.ClearGateway();
    EXPECT_EQ(a.NetworkThreadId(), 0u);
    a.RecordGateway(0);
    EXPECT_EQ(b.NetworkThreadId(), CurrentThreadId());
    a.ClearGateway();

    ChildProcess child;
    ASSERT_TRUE(child.Start("set-service-flag", ""));
    int code = -1;
    ASSERT_TRUE(child.Wait(kTimeoutMs, &code));
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(a.ServiceRunning());
    a.SetServiceRunning(false);
    EXPECT_FALSE(b.ServiceRunning());
}

TEST_F(ControlBlockTest, StopRequestReachesTheGatewayOfAnotherProcess) {
    SharedControlBlock block;
    block.ClearGateway();
    ChildProcess child;
    ASSERT_TRUE(child.Start("gateway", ""));
    ASSERT_TRUE(WaitUntil([&] { return block.GatewayProcessId() == child.pid(); }, kTimeoutMs));
    EXPECT_NE(block.NetworkThreadId(), 0u);
    ASSERT_TRUE(block.SendStopRequest());
    int code = 0;
    ASSERT_TRUE(child.Wait(kTimeoutMs, &code));
    EXPECT_EQ(code, 42);
    EXPECT_EQ(block.NetworkThreadId(), 0u);
}

TEST_F(ControlBlockTest, EveryStopRequestFiresTheListenerOnItsContext) {
    asio::io_context io;
    int stops = 0;
    std::thread::id ran_on;
    StopListener listener(io, [&] {
        ++stops;
        ran_on = std::this_thread::get_id();
        io.stop();
    });
    ASSERT_TRUE(listener.Start());
    SharedControlBlock block;
    block.RecordGateway(0);
    for (int round = 1; round <= 2; ++round) {
        ASSERT_TRUE(block.SendStopRequest());
        io.restart();
        io.run_for(std::chrono::milliseconds(kTimeoutMs));
        EXPECT_EQ(stops, round);
    }
    EXPECT_EQ(ran_on, std::this_thread::get_id());
    block.ClearGateway();
}

TEST_F(ControlBlockTest, RecordOfAKilledGatewayReachesNobody) {
    SharedControlBlock block;
    block.ClearGateway();
    ChildProcess child;
    ASSERT_TRUE(child.Start("gateway", ""));
    ASSERT_TRUE(WaitUntil([&] { return block.GatewayProcessId() == child.pid(); }, kTimeoutMs));
    child.Kill();
    int code = 0;
    ASSERT_TRUE(child.Wait(kTimeoutMs, &code));
    EXPECT_FALSE(block.SendStopRequest());
    block.ClearGateway();
}

#ifndef _WIN32
// A pid can be reused after its gateway was killed; the record must then
// not point at whoever has that pid now. Here the pid is this test's own and
// only the start time is wrong, so a faulty check would SIGTERM the test.
TEST_F(ControlBlockTest, RecordWithAStrangersStartTimeIsIgnored) {
    SharedControlBlock block;
    block.RecordGateway(77);
    ASSERT_EQ(block.NetworkThreadId(), 77u);
    {
        std::fstream f(m_dir / "shm.OV_G_ControlBlock",
                       std::ios::in | std::ios::out | std::ios::binary);
        ASSERT_TRUE(f.good());
        f.seekp(12);  // low word of the recorded start time
        const char other[4] = {1, 2, 3, 4};
        f.write(other, 4);
    }
    EXPECT_EQ(block.NetworkThreadId(), 0u);
    EXPECT_EQ(block.GatewayProcessId(), 0u);
    EXPECT_FALSE(block.SendStopRequest());
    block.ClearGateway();
}
#endif

}  // namespace
}  // namespace ov::platform
