#include "gateway/net/web_agent_update.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <future>
#include <mutex>
#include <set>
#include <thread>

#include "gateway/gateway_log.h"
#include "gateway/gateway_test_dir.h"

namespace ov::gateway {
namespace {

using namespace std::chrono_literals;

// Stands in for the web agent library: every call runs the test's script;
// the calls listed in `hanging` block until released, as a read from a web
// agent that never answers. Shared with the report threads, which may
// outlive the test.
struct FakeLibrary {
    struct Call {
        std::string url;
        PeerInfo self;
    };
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<Call> calls;
    std::set<size_t> hanging;
    bool released = false;
    size_t returned = 0;
    std::function<int8_t(size_t call, PeerInfo* self)> script = [](size_t, PeerInfo*) { return 1; };

    int8_t Update(const WebAgentInfo* agent, PeerInfo* self) {
        std::unique_lock<std::mutex> lock(mutex);
        const size_t n = calls.size();
        calls.push_back({agent->url, *self});
        cv.notify_all();
        if (hanging.count(n))
            cv.wait(lock, [this] { return released; });
        auto run = script;
        lock.unlock();
        int8_t result = run(n, self);
        lock.lock();
        ++returned;
        cv.notify_all();
        return result;
    }
    size_t Count() {
        std::lock_guard<std::mutex> lock(mutex);
        return calls.size();
    }
    std::vector<Call> WaitForCalls(size_t count) {
        std::unique_lock<std::mutex> lock(mutex);
        cv.wait_for(lock, 10s, [&] { return calls.size() >= count; });
        return calls;
    }
    void Release() {
        std::lock_guard<std::mutex> lock(mutex);
        released = true;
        cv.notify_all();
    }
    void WaitForReturns(size_t count) {
        std::unique_lock<std::mutex> lock(mutex);
        cv.wait_for(lock, 10s, [&] { return returned >= count; });
    }
    static LoadUpdateExports Loader(const std::shared_ptr<FakeLibrary>& fake) {
        return [fake] {
            UpdateExports api;
            api.update = [fake](const WebAgentInfo* a, PeerInfo* p, PeerList*, char*) {
                return fake->Update(a, p);
            };
            return api;
        };
    }
};

// The network thread's part, alone on a thread of its own.
class Network : public ThreadHandler {
  public:
    Network(GatewayConfig& config, LoadUpdateExports load) : updates(config, std::move(load)) {}
    bool OnStart(EventThread& thread) override {
        updates.Attach(thread);
        updates.SetUpdateSlot(0);
        return true;
    }
    void OnEnd() override { updates.Stop(); }

    WebAgentUpdate updates;
};

class WebAgentReports : public GatewayTestDir {
  public:
    void SetUp() override {
        GatewayTestDir::SetUp();
        Ini("[CWebinfo]\r\nMasterURL=  http://master/\r\nbinternet=1\r\n[Base]\r\nAlias=gw\r\n");
        ConfigEnvironment env;
        env.program_dir = Path("");
        env.computer_id = [this](uint8_t* id, int) { return id_works && (id[0] = 0x5a, true); };
        env.log_line = [](const std::string& line) { LogLine(line); };
        config = std::make_unique<GatewayConfig>(env);
        ASSERT_TRUE(config->LoadConfiguration());
        auto handler = std::make_unique<Network>(*config, FakeLibrary::Loader(fake));
        network = handler.get();
        thread = std::make_unique<EventThread>("network", std::move(handler));
        ASSERT_TRUE(thread->Start());
    }
    void TearDown() override {
        thread.reset();
        fake->Release();
        GatewayTestDir::TearDown();
    }
    void Ini(const std::string& text) { Spit(Path("OV_G.ini"), {text.begin(), text.end()}); }
    // Waits until the line has been logged `count` times in all.
    size_t WaitForLine(const std::string& line, size_t count) {
        size_t seen = 0;
        for (auto end = std::chrono::steady_clock::now() + 10s;
             std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(5ms)) {
            std::string log = LogText();
            seen = 0;
            for (size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1))
                ++seen;
            if (seen >= count)
                break;
        }
        return seen;
    }
    // Everything posted to the network thread so far has run.
    void Sync() {
        auto barrier = std::make_shared<std::promise<void>>();
        auto done = barrier->get_future();
        thread->RunInLoop([barrier] { barrier->set_value(); });
        ASSERT_EQ(done.wait_for(10s), std::future_status::ready);
    }
    void Tick() {
        thread->RunInLoop([n = network] { n->updates.OnTimerTick(0); });
    }

    std::shared_ptr<FakeLibrary> fake = std::make_shared<FakeLibrary>();
    std::unique_ptr<GatewayConfig> config;
    Network* network = nullptr;
    std::unique_ptr<EventThread> thread;
    bool id_works = true;
};

TEST_F(WebAgentReports, AReportGoesOnlyToATrimmedUrlAndOnlyWithAComputerId) {
    id_works = false;
    Tick();
    Sync();
    EXPECT_NE(LogText().find("    获取计算机ID错误\r\n"), std::string::npos);
    id_works = true;
    Tick();
    auto calls = fake->WaitForCalls(1);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].url, "http://master/");
    EXPECT_EQ(std::string(config->MasterAgent().url), "http://master/");  // stored back
    EXPECT_EQ(calls[0].self.kind, 1);
    EXPECT_EQ(calls[0].self.computerId[0], 0x5a);
    EXPECT_EQ(std::string(calls[0].self.computerName), "gw");
    EXPECT_EQ(WaitForLine("    主WebAgent更新网页成功\r\n", 1), 1u);
    EXPECT_EQ(LogText().find("备份"), std::string::npos);  // no backup URL: no report
}

TEST_F(WebAgentReports, ANewWanAddressIsKeptAndAfterAGoodReportSentAgainAtOnce) {
    const uint32_t wan = 0xC0000201;
    for (int8_t result : {4, 1}) {
        config->SetWanAddress(0);
        const size_t first = fake->Count();
        fake->script = [=](size_t n, PeerInfo* self) {
            if (n == first)
                self->wanAddress = wan;
            return result;
        };
        Tick();
        WaitForLine(std::string("主WebAgent") + UpdateResultText(result), 1);
        auto calls = fake->WaitForCalls(first + 1);
        EXPECT_EQ(config->OwnRecord().wanAddress, wan) << int(result);
        if (result == 1) {
            ASSERT_EQ(calls.size(), first + 2);
            EXPECT_EQ(calls[first + 1].self.wanAddress, wan);
        } else {
            EXPECT_EQ(calls.size(), first + 1);
        }
        thread->quit();  // the report has ended before the next one starts
        thread->wait_for(10s);
        auto handler = std::make_unique<Network>(*config, FakeLibrary::Loader(fake));
        network = handler.get();
        thread = std::make_unique<EventThread>("network", std::move(handler));
        ASSERT_TRUE(thread->Start());
    }
}

TEST_F(WebAgentReports, AHangingReportSkipsFiveTicksAndIsReplacedWithoutItsResult) {
    fake->hanging = {0};
    fake->script = [](size_t n, PeerInfo* self) {
        if (n > 0)
            return int8_t(1);
        self->wanAddress = 0x01020304;  // must not reach the gateway
        return int8_t(4);
    };
    Tick();
    fake->WaitForCalls(1);
    for (int skipped = 1; skipped <= WebAgentUpdate::kMaxOverruns; ++skipped) Tick();
    Sync();
    EXPECT_EQ(fake->Count(), 1u);
    Tick();
    auto calls = fake->WaitForCalls(2);
    EXPECT_EQ(calls.size(), 2u);
    EXPECT_EQ(WaitForLine("    主WebAgent更新网页成功\r\n", 1), 1u);
    // The abandoned report finishes now: neither its address nor its result counts.
    config->SetWanAddress(0);
    fake->Release();
    fake->WaitForReturns(2);
    std::this_thread::sleep_for(50ms);  // what it does after the call, if it could
    Sync();
    EXPECT_EQ(config->OwnRecord().wanAddress, 0u);
    EXPECT_EQ(LogText().find("连接出错"), std::string::npos);
}

}  // namespace
}  // namespace ov::gateway
