#include "gateway/network_thread.h"

#include <gtest/gtest.h>

#include <future>
#include <mutex>
#include <vector>

#include "common/test_dir.h"
#include "gateway/gateway_config.h"
#include "gateway/gateway_log.h"

namespace ov::gateway {
namespace {

using namespace std::chrono_literals;

std::mutex g_order_mutex;
std::vector<std::string> g_order;

// A worker that ends when told, or never, to see the stop sequence work.
class Worker : public EventThread {
public:
    Worker(std::string name, bool stubborn) : EventThread(std::move(name)), m_stubborn(stubborn) {}
    ~Worker() override {
        m_release.set_value();
        Join();
    }
    std::promise<void> m_release;

protected:
    bool OnStart() override {
        if (m_stubborn) m_release.get_future().wait_for(5s);  // holds its loop
        return true;
    }
    void OnEnd() override {
        std::lock_guard<std::mutex> lock(g_order_mutex);
        g_order.push_back(Name());
    }

private:
    bool m_stubborn;
};

class NetworkThread : public ov::testing::TestDir {
public:
    void SetUp() override {
        TestDir::SetUp();
        TheLog().SetLogFile(Path("OV_G.log"), false);
        TheLog().SetLogOutputs(2);
        TheLog().SetLogThreshold(-1);
        g_order.clear();
    }
    void TearDown() override {
        TheLog().SetLogOutputs(0);
        TheLog().SetLogFile("", false);
        TestDir::TearDown();
    }
    std::string LogText() {
        auto bytes = Slurp(Path("OV_G.log"));
        return std::string(bytes.begin(), bytes.end());
    }
    GatewayConfig config{ConfigEnvironment{}};
};

TEST_F(NetworkThread, WorkersStopInOrderAndOverrunsAreGivenUpWithTheirLines) {
    CMyThread net(config);
    const char* slots[] = {"Convert", "Proxy", "Cmd", "Timer"};
    for (const char* s : slots) {
        auto w = std::make_unique<Worker>(s, std::string(s) == "Proxy" || std::string(s) == "Timer");
        ASSERT_TRUE(w->Start());
        net.AdoptWorkerForTesting(s, std::move(w));
    }
    auto before = std::chrono::steady_clock::now();
    net.StopWorkers();
    auto took = std::chrono::steady_clock::now() - before;
    // The timer (500 ms) and the proxy (800 ms) overran; the others ended.
    EXPECT_GE(took, 1250ms);
    EXPECT_LT(took, 3s);
    {
        std::lock_guard<std::mutex> lock(g_order_mutex);
        EXPECT_EQ(g_order, (std::vector<std::string>{"Cmd", "Convert"}));
    }
    std::string log = LogText();
    EXPECT_NE(log.find("    Proxy线程超时,强制结束\r\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("Timer"), std::string::npos);
    EXPECT_EQ(log.find("Cmd线程超时"), std::string::npos);
    net.StopWorkers();  // a second stop finds nothing
}

}  // namespace
}  // namespace ov::gateway
