#include "console/model/service_controller.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

namespace ov::console {
namespace {

// A scripted service manager and shell that records what the console did.
class FakeSystem : public ServiceSystem, public MessageSink {
  public:
    bool IsNtFamily() override { return nt; }
    Installed IsInstalled() override { return installed; }
    bool RunGateway(const std::string& parameters) override {
        Log("run[" + parameters + "]");
        return run_accepted;
    }
    void Sleep(unsigned ms) override { Log("sleep " + std::to_string(ms)); }
    bool OpenService() override {
        Log("open");
        return open_ok;
    }
    bool StartService() override {
        Log("start");
        return request_accepted;
    }
    bool StopService() override {
        Log("stop");
        return request_accepted;
    }
    bool QueryState(State* s) override {
        if (states.empty()) {
            Log("query failed");
            return false;
        }
        *s = states.front();
        states.pop_front();
        Log("query");
        return true;
    }
    void CloseService() override { Log("close"); }
    void Show(const std::string& text, const std::string& caption, bool exclamation) override {
        Log("msg " + caption + ": " + text + (exclamation ? " (!)" : ""));
    }
    void Log(const std::string& s) { log += s + "; "; }

    bool nt = true, run_accepted = true, open_ok = true, request_accepted = true;
    Installed installed = Installed::Yes;
    std::deque<State> states;
    std::string log;
};

using State = ServiceSystem::State;

TEST(ServiceControllerTest, PreconditionsRefuseWithTheirMessages) {
    FakeSystem sys;
    ServiceController c(&sys, &sys);
    EXPECT_FALSE(c.Install());
    EXPECT_EQ(sys.log, "msg ovconsole: ORVIK Gateway服务已经安装!; ");

    sys.log.clear();
    sys.installed = ServiceSystem::Installed::No;
    EXPECT_FALSE(c.Remove());
    EXPECT_FALSE(c.Start());
    EXPECT_EQ(sys.log,
              "msg OV Gateway 控制台: ORVIK Gateway服务没有安装!; "
              "msg OV Gateway 控制台: ORVIK Gateway服务没有安装!; ");

    sys.log.clear();
    EXPECT_TRUE(c.Install());
    sys.installed = ServiceSystem::Installed::Yes;
    EXPECT_TRUE(c.Remove());
    EXPECT_TRUE(c.Run());
    sys.run_accepted = false;
    EXPECT_FALSE(c.Run());
    EXPECT_EQ(sys.log, "run[-install]; run[-remove]; run[-run]; run[-run]; ");

    // The 9x registry key that cannot be opened means "not installed".
    sys.log.clear();
    sys.installed = ServiceSystem::Installed::RegistryUnreadable;
    EXPECT_FALSE(c.IsInstalled());
    EXPECT_EQ(sys.log, "msg OV Gateway 控制台: 打开注册表RunServices失败! (!); ");
}

TEST(ServiceControllerTest, TheServiceManagerIsPolledEverySecondWhilePending) {
    FakeSystem sys;
    ServiceController c(&sys, &sys);
    sys.states = {State::StartPending, State::StartPending, State::Running};
    EXPECT_TRUE(c.Start());
    EXPECT_EQ(sys.log,
              "open; start; sleep 1000; query; sleep 1000; query; sleep 1000; query; close; ");

    sys.log.clear();
    sys.states = {State::StopPending, State::Stopped};
    EXPECT_TRUE(c.Stop());
    EXPECT_EQ(sys.log, "open; stop; sleep 1000; query; sleep 1000; query; close; ");

    // Ending anywhere else, or losing the state, is a failure.
    sys.states = {State::StartPending, State::Stopped};
    EXPECT_FALSE(c.Start());
    sys.states = {State::StopPending};  // then the query fails
    EXPECT_FALSE(c.Stop());
    sys.states = {};
    EXPECT_FALSE(c.Start());
}

TEST(ServiceControllerTest, RefusedRequestsFailWithoutWaitingAndCloseTheHandles) {
    FakeSystem sys;
    ServiceController c(&sys, &sys);
    sys.request_accepted = false;
    sys.states = {State::Running};
    EXPECT_FALSE(c.Start());
    EXPECT_FALSE(c.Stop());  // e.g. a gateway run as a program: the service is not running
    EXPECT_EQ(sys.log, "open; start; close; open; stop; close; ");

    sys.log.clear();
    sys.open_ok = false;
    EXPECT_FALSE(c.Stop());
    EXPECT_EQ(sys.log, "open; ");
}

TEST(ServiceControllerTest, Windows9xRunsTheGatewayWithASwitchAndWaits) {
    FakeSystem sys;
    sys.nt = false;
    ServiceController c(&sys, &sys);
    EXPECT_TRUE(c.Start());
    EXPECT_TRUE(c.Stop());
    EXPECT_EQ(sys.log, "run[]; sleep 500; run[-end]; sleep 1000; ");
    sys.run_accepted = false;
    EXPECT_FALSE(c.Stop());
}

}  // namespace
}  // namespace ov::console
