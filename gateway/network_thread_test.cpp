#include "gateway/network_thread.h"

#include <gtest/gtest.h>

#include <future>
#include <mutex>
#include <vector>

#include "gateway/gateway_test_dir.h"

namespace ov::gateway {
namespace {

using namespace std::chrono_literals;

std::mutex g_order_mutex;
std::vector<std::string> g_order;

// A worker that ends when told, or holds its thread until released, to see
// the stop sequence work.
class Worker : public ThreadHandler {
  public:
    Worker(std::string name, std::shared_future<void> release)
        : m_name(std::move(name)), m_release(release) {}
    bool OnStart(EventThread&) override {
        if (m_release.valid())
            m_release.wait_for(5s);  // holds its loop
        return true;
    }
    void OnEnd() override {
        std::lock_guard<std::mutex> lock(g_order_mutex);
        g_order.push_back(m_name);
    }

  private:
    std::string m_name;
    std::shared_future<void> m_release;
};

class NetworkThread : public ov::testing::GatewayTestDir {
  public:
    void SetUp() override {
        GatewayTestDir::SetUp();
        g_order.clear();
    }
    void TearDown() override {
        release.set_value();
        GatewayTestDir::TearDown();
    }
    NetworkWorkers::Make MakeWorker(const std::string& name, bool stubborn) {
        return [this, name, stubborn]() -> std::unique_ptr<EventThread> {
            auto t = std::make_unique<EventThread>(
                name,
                std::make_unique<Worker>(name, stubborn ? released : std::shared_future<void>()));
            if (!t->Start())
                return nullptr;
            return t;
        };
    }
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
    {
        std::lock_guard<std::mutex> lock(g_order_mutex);
        EXPECT_EQ(g_order, (std::vector<std::string>{"Cmd", "Convert"}));
    }
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
    {
        std::lock_guard<std::mutex> lock(g_order_mutex);
        EXPECT_EQ(g_order, (std::vector<std::string>{
                               "Timer", "Convert"}));  // the command thread never started
    }
    EXPECT_NE(LogText().find("    Proxy线程启动失败!\r\n"), std::string::npos);
}

}  // namespace
}  // namespace ov::gateway
