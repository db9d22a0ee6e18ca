#include "console/model/service_controller.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

namespace ov::console {
namespace {

// A scripted service manager and shell that records what the console did.
// The manager grants rights as masks, so a standard user's token (connect
// and query status only, SC_MANAGER_ALL_ACCESS denied) is one setting.
class FakeSystem : public ServiceSystem, public MessageSink {
  public:
    static constexpr unsigned long kAllAccess = 0xF003F;  // SC_MANAGER_ALL_ACCESS

    bool IsNtFamily() override { return nt; }
    Installed IsInstalled() override {
        if (nt && !Grants(manager_granted, kManagerRights, &manager_asked))
            return Installed::NotAllowed;
        if (installed != Installed::Yes)
            return installed;
        // A service whose status is refused is still seen to be there.
        Grants(service_granted, kStatusRights, &service_asked);
        return Installed::Yes;
    }
    bool RunGateway(const std::string& parameters) override {
        Log("run[" + parameters + "]");
        return run_accepted;
    }
    Elevation RunElevated(const std::string& program, const std::string& parameters,
                          unsigned long* exit_code) override {
        Log("elevated[" + program + " " + parameters + "]");
        if (elevation != Elevation::Done)
            return elevation;
        if (parameters == "-install" && helper_works)
            installed = Installed::Yes;
        if (parameters == "-remove" && helper_works)
            installed = Installed::No;
        *exit_code = helper_works ? 0 : 1;
        return Elevation::Done;
    }
    void Sleep(unsigned ms) override { Log("sleep " + std::to_string(ms)); }
    Open OpenService() override {
        Log("open");
        if (!open_ok)
            return Open::Failed;
        if (!Grants(manager_granted, kManagerRights, &manager_asked) ||
            !Grants(service_granted, kControlRights, &service_asked)) {
            Log("denied");
            return Open::Denied;
        }
        return Open::Opened;
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

    void StandardUser() {
        manager_granted = kManagerRights;
        service_granted = kStatusRights;
    }
    static bool Grants(unsigned long granted, unsigned long wanted, unsigned long* asked) {
        *asked |= wanted;
        return (granted & wanted) == wanted;
    }

    bool nt = true, run_accepted = true, open_ok = true, request_accepted = true;
    bool helper_works = true;
    Elevation elevation = Elevation::Done;
    unsigned long manager_granted = kAllAccess, service_granted = 0xF01FF;
    unsigned long manager_asked = 0, service_asked = 0;
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
    EXPECT_EQ(sys.log,
              "elevated[OV_G.exe -install]; elevated[OV_G.exe -remove]; run[-run]; run[-run]; ");

    // The 9x registry key that cannot be opened means "not installed".
    sys.log.clear();
    sys.nt = false;
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

TEST(ServiceControllerTest, AStandardUserSeesTheServiceAndIsNeverOfferedAnInstall) {
    FakeSystem sys;
    sys.StandardUser();
    ServiceController c(&sys, &sys);
    EXPECT_FALSE(c.ShouldOfferInstall());
    EXPECT_TRUE(c.IsInstalled());
    EXPECT_FALSE(c.Install());
    EXPECT_EQ(sys.log, "msg ovconsole: ORVIK Gateway服务已经安装!; ");
    // Connect and query status: never SC_MANAGER_ALL_ACCESS.
    EXPECT_EQ(sys.manager_asked, kManagerRights);
    EXPECT_EQ(sys.service_asked, kStatusRights);

    // A manager that refuses even to connect: said, and still no install.
    sys.log.clear();
    sys.manager_granted = 0;
    EXPECT_FALSE(c.ShouldOfferInstall());
    EXPECT_FALSE(c.Install());
    EXPECT_EQ(sys.log.find("elevated"), std::string::npos);
    EXPECT_NE(sys.log.find("没有权限查看ORVIK Gateway服务的状态"), std::string::npos);

    // Only a service that is known to be missing is offered.
    sys.log.clear();
    sys.StandardUser();
    sys.installed = ServiceSystem::Installed::No;
    EXPECT_TRUE(c.ShouldOfferInstall());
    EXPECT_EQ(sys.log, "");
}

TEST(ServiceControllerTest, AStandardUserStartsStopsAndInstallsThroughTheElevatedHelper) {
    FakeSystem sys;
    sys.StandardUser();
    ServiceController c(&sys, &sys);
    EXPECT_TRUE(c.Start());
    EXPECT_TRUE(c.Stop());
    EXPECT_EQ(sys.log,
              "open; denied; elevated[ovconsole.exe -startservice]; "
              "open; denied; elevated[ovconsole.exe -stopservice]; ");
    // The helper's exit code is its answer.
    sys.helper_works = false;
    EXPECT_FALSE(c.Start());
    EXPECT_FALSE(c.Stop());

    // The helper itself never asks again.
    sys.log.clear();
    ServiceController helper(&sys, &sys, false);
    EXPECT_FALSE(helper.Start());
    EXPECT_EQ(sys.log, "open; denied; ");

    // Install: OV_G.exe elevated, then the service manager tells the result.
    sys.log.clear();
    sys.installed = ServiceSystem::Installed::No;
    EXPECT_FALSE(c.Install());
    EXPECT_EQ(
        sys.log,
        "elevated[OV_G.exe -install]; msg OV Gateway 控制台: 安装ORVIK Gateway服务失败! (!); ");
    sys.helper_works = true;
    EXPECT_TRUE(c.Install());
    EXPECT_EQ(sys.installed, ServiceSystem::Installed::Yes);
}

TEST(ServiceControllerTest, ARefusedElevationChangesNothingAndSaysSo) {
    const std::string refused =
        "msg OV Gateway 控制台: 没有得到管理员权限，操作已取消，什么都没有改变。 (!); ";
    FakeSystem sys;
    sys.StandardUser();
    sys.elevation = ServiceSystem::Elevation::Refused;
    ServiceController c(&sys, &sys);
    EXPECT_FALSE(c.Start());
    EXPECT_FALSE(c.Stop());
    EXPECT_FALSE(c.Remove());
    EXPECT_EQ(sys.installed, ServiceSystem::Installed::Yes);
    sys.installed = ServiceSystem::Installed::No;
    EXPECT_FALSE(c.Install());
    EXPECT_EQ(sys.installed, ServiceSystem::Installed::No);
    EXPECT_EQ(sys.log, "open; denied; elevated[ovconsole.exe -startservice]; " + refused +
                           "open; denied; elevated[ovconsole.exe -stopservice]; " + refused +
                           "elevated[OV_G.exe -remove]; " + refused +
                           "elevated[OV_G.exe -install]; " + refused);

    // A helper that cannot be started at all is told with its name.
    sys.log.clear();
    sys.elevation = ServiceSystem::Elevation::Failed;
    sys.installed = ServiceSystem::Installed::Yes;
    EXPECT_FALSE(c.Start());
    EXPECT_NE(sys.log.find("不能以管理员身份运行: ovconsole.exe"), std::string::npos);
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
