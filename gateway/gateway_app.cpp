#include "gateway/gateway_app.h"

#include <cstdlib>
#include <memory>
#include <thread>

#include "gateway/gateway_config.h"
#include "gateway/gateway_log.h"
#include "gateway/net/controlled_computer_list.h"
#include "gateway/network_thread.h"
#include "gateway/switches.h"
#include "platform/control_block.h"
#include "platform/dynamic_library.h"
#include "platform/files.h"
#include "platform/message_box.h"
#include "platform/named_mutex.h"
#include "platform/process.h"
#include "platform/service.h"

namespace ov::gateway {
namespace {

using std::chrono::milliseconds;

// The identity library is loaded for each use and released after it, so a
// library replaced on disk takes effect at the next report.
bool ComputerIdFromLibrary(uint8_t* id, int limit) {
    platform::DynamicLibrary lib;
    if (!lib.Load("ovident")) {
        LogLine("没有找到动态库" + platform::DynamicLibrary::FileName("ovident") + "!");
        return false;
    }
    using GetComputerIdFn = int (*)(unsigned char*, int);
    auto fn = lib.Function<GetComputerIdFn>("GetComputerID");
    return fn && fn(id, limit) != 0;
}

ConfigEnvironment RealEnvironment() {
    ConfigEnvironment env;
    env.program_dir = platform::ProgramDirectory();
    env.error_box = [](const std::string& text, const std::string& caption) {
        platform::ShowMessageBox(text, caption,
                                 platform::kMbIconError | platform::kMbServiceNotification);
    };
    env.log_line = [](const std::string& line) { LogLine(line); };
    env.computer_id = ComputerIdFromLibrary;
    env.host_name = [] { return platform::HostName(); };
    env.now = [] { return std::time(nullptr); };
    return env;
}

// Process-wide, as the gateway's threads and the service handler share them.
struct Gateway {
    GatewayConfig config{RealEnvironment()};
    platform::NamedMutex instance;
    std::mutex mutex;
    CMyThread* network = nullptr;  // while RunGateway runs
    // Published while the gateway runs; other processes of ours (such as
    // "-end") do not publish a list of their own.
    std::unique_ptr<ControlledComputerList> computers;
};

ControlledComputerList::Options ListOptions() {
    ControlledComputerList::Options o;
    o.log_line = [](const std::string& line) { LogLine(line); };
    o.log_raw = [](const std::string& text) { TheLog().LogPrint(0, "%s", text.c_str()); };
    o.host_name = [] { return platform::HostName(); };
    return o;
}

Gateway& TheGateway() {
    static Gateway* g = new Gateway;  // never destroyed: threads may outlive main
    return *g;
}

class Modes : public SwitchActions {
public:
    int RunGateway() override { return gateway::RunGateway(); }
    void RunService() override { platform::service::RunServiceDispatcher(); }
    void Install() override { platform::service::Install(); }
    void Remove() override { platform::service::Remove(); }
    int Startup() override { return platform::service::Startup(); }
    int End() override {
        if (platform::SharedControlBlock::Instance().ServiceRunning())
            return platform::service::EndService();
        StopGateway();
        return 0;
    }
    void ShowUsage() override {
        platform::ShowMessageBox("win [-service] [-run] [-install] [-remove] [-startup] [-end] \n",
                                 "OV_G.exe Usage", platform::kMbIconInformation);
    }
};

}  // namespace

int StartupLogThreshold() {
    const char* v = std::getenv("OVG_LOG_THRESHOLD");
    if (!v || !*v) return 9;
    char* end = nullptr;
    long n = std::strtol(v, &end, 10);
    return *end == '\0' ? int(n) : 9;
}

int RunGateway() {
    Gateway& g = TheGateway();
    bool existed = false;
    if (!g.instance.Create("Orvik_GateWay_Mutex", &existed) || existed) {
        platform::ShowMessageBox("Orvik Gateway已经在运行! 无法启动另一个实例.", "OV_G",
                                 platform::kMbIconInformation | platform::kMbServiceNotification);
        return -1;
    }
    LogLine("App start...");
    platform::RequestEarlyShutdown();
    {
        auto options = ListOptions();
        options.convert = [&g](int index) {
            std::lock_guard<std::mutex> lock(g.mutex);
            if (g.network) g.network->PostConvert(index);
        };
        g.computers = std::make_unique<ControlledComputerList>(options);
    }
    auto network = std::make_unique<CMyThread>(g.config, g.computers.get());
    {
        std::lock_guard<std::mutex> lock(g.mutex);
        g.network = network.get();
    }
    if (!network->Start()) {
        {
            std::lock_guard<std::mutex> lock(g.mutex);
            g.network = nullptr;
        }
        platform::service::EventLogError("线程启动失败!");
        return -1;
    }
    while (network->wait_for(std::chrono::hours(1)) == EventThread::WaitResult::TimedOut) {
    }
    {
        std::lock_guard<std::mutex> lock(g.mutex);
        g.network = nullptr;
    }
    network.reset();
    std::this_thread::sleep_for(milliseconds(500));
    LogLine("app end.");
    g.computers.reset();
    // Given up with the run, not only at process exit: a service reports
    // itself stopped before its process is gone, and a restart right then
    // must not find the old instance still "running".
    g.instance.Close();
    return 0;
}

void StopGateway() {
    Gateway& g = TheGateway();
    auto& control = platform::SharedControlBlock::Instance();
    if (control.ServiceRunning()) {
        // The service's own process: the handler's thread stops the workers,
        // then the network thread ends and finds nothing left to stop.
        {
            std::lock_guard<std::mutex> lock(g.mutex);
            if (g.network) {
                g.network->StopWorkers();
                g.network->quit();
            }
        }
        std::this_thread::sleep_for(milliseconds(200));
        LogLine("停止Service成功");
    } else {
        control.SendStopRequest();
    }
}

int GatewayMain(const std::string& command_line) {
    GatewayLog& log = TheLog();
    log.SetLogFile(platform::ProgramDirectory() + "OV_G.log", false);
    log.SetLogOutputs(2);
    log.SetLogThreshold(StartupLogThreshold());
    platform::service::SetHooks({[] { return RunGateway(); }, [] { StopGateway(); },
                                 [](const std::string& line) { LogLine(line); }});
    Modes modes;
    return DispatchSwitches(command_line, modes);
}

}  // namespace ov::gateway
