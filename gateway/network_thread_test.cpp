#include "gateway/network_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <vector>

#include "gateway/gateway_test_dir.h"

namespace ov::gateway {
namespace {

using namespace std::chrono_literals;

// The order in which workers ended. Shared with the workers: an abandoned
// one ends after the test that gave it up, and must not write into memory
// the test (or the process's exit) has already freed.
struct EndOrder {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> names;
};

// A worker that ends when told, or holds its thread until released, to see
// the stop sequence work.
class Worker : public ThreadHandler {
  public:
    Worker(std::string name, std::shared_future<void> release, std::shared_ptr<EndOrder> order)
        : m_name(std::move(name)), m_release(release), m_order(std::move(order)) {}
    bool OnStart(EventThread&) override {
        if (m_release.valid())
            m_release.wait_for(5s);  // holds its loop
        return true;
    }
    void OnEnd() override {
        std::lock_guard<std::mutex> lock(m_order->mutex);
        m_order->names.push_back(m_name);
        m_order->changed.notify_all();
    }

  private:
    std::string m_name;
    std::shared_future<void> m_release;
    std::shared_ptr<EndOrder> m_order;
};

class NetworkThread : public ov::testing::GatewayTestDir {
  public:
    void TearDown() override {
        // Let the workers given up on end before the next test, so that
        // none outlives the process's globals.
        release.set_value();
        std::unique_lock<std::mutex> lock(order->mutex);
        order->changed.wait_for(lock, 10s, [this] { return order->names.size() >= started; });
        lock.unlock();
        GatewayTestDir::TearDown();
    }
    NetworkWorkers::Make MakeWorker(const std::string& name, bool stubborn) {
        return [this, name, stubborn]() -> std::unique_ptr<EventThread> {
            auto t = std::make_unique<EventThread>(
                name, std::make_unique<Worker>(
                          name, stubborn ? released : std::shared_future<void>(), order));
            if (!t->Start())
                return nullptr;
            ++started;
            return t;
        };
    }
    std::vector<std::string> Ended() {
        std::lock_guard<std::mutex> lock(order->mutex);
        return order->names;
    }
    std::shared_ptr<EndOrder> order = std::make_shared<EndOrder>();
    std::atomic<size_t> started{0};
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
};

TEST_F(NetworkThread, WorkersStopInOrderAndOverrunsAreGivenUpWithTheirLines) {
    NetworkWorkers workers;
    workers.convert = MakeWorker("Convert", false);
    workers.proxy = MakeWorker("Proxy", true);
    workers.cmd = MakeWorker("Cmd", false);
    workers.timer = MakeWorker("Timer", true);
    EventThread net("network", std::make_unique<CMyThread>(*config, nullptr, workers));
    ASSERT_TRUE(net.Start());
    net.quit();
    ASSERT_EQ(net.wait_for(10s), EventThread::WaitResult::Ended);
    // The timer and the proxy overran and were given up on; the others ended.
    EXPECT_EQ(Ended(), (std::vector<std::string>{"Cmd", "Convert"}));
    std::string log = LogText();
    EXPECT_NE(log.find("    Proxy线程超时,强制结束\r\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("Timer"), std::string::npos);
    EXPECT_EQ(log.find("Cmd线程超时"), std::string::npos);
}

TEST_F(NetworkThread, AWorkerThatCannotStartEndsTheStartAndStopsTheOthers) {
    NetworkWorkers workers;
    workers.convert = MakeWorker("Convert", false);
    workers.timer = MakeWorker("Timer", false);
    workers.proxy = [] { return std::unique_ptr<EventThread>(); };
    workers.cmd = MakeWorker("Cmd", false);
    EventThread net("network", std::make_unique<CMyThread>(*config, nullptr, workers));
    ASSERT_TRUE(net.Start());
    ASSERT_EQ(net.wait_for(10s), EventThread::WaitResult::Ended);
    // The command thread never started.
    EXPECT_EQ(Ended(), (std::vector<std::string>{"Timer", "Convert"}));
    EXPECT_NE(LogText().find("    Proxy线程启动失败!\r\n"), std::string::npos);
}

}  // namespace
}  // namespace ov::gateway
