#include "gateway/gateway_app.h"

#include <atomic>
#include <cstdlib>
#include <memory>
#include <thread>

#include "gateway/access_log.h"
#include "gateway/gateway_config.h"
#include "gateway/gateway_log.h"
#include "gateway/net/controlled_computer_list.h"
#include "gateway/network_thread.h"
#include "gateway/stats_publisher.h"
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
    env.program_dir = platform::DataDirectory();
    env.error_box = [](const std::string& text, const std::string& caption) {
        platform::ShowMessageBox(text, caption,
                                 platform::kMbIconError | platform::kMbServiceNotification);
    };
    // A running gateway never holds a network thread for a box someone has
    // to click: it is shown by a thread of its own, one at a time (a burst
    // of failing logins does not pile up boxes), and the line is logged.
    env.notice_box = [](const std::string& text, const std::string& caption) {
        static std::atomic<bool> showing{false};
        if (showing.exchange(true))
            return;
        std::thread([text, caption] {
            platform::ShowMessageBox(text, caption,
                                     platform::kMbIconError | platform::kMbServiceNotification);
            showing = false;
        }).detach();
    };
    env.log_line = [](const std::string& line) { LogLine(line); };
    env.computer_id = ComputerIdFromLibrary;
    env.host_name = [] { return platform::HostName(); };
    env.now = [] { return std::time(nullptr); };
    return env;
}

// Process-wide, and never destroyed: the service's control handler reaches
// the running gateway through it, and a worker that was given up on may
// still read the configuration at exit.
struct Gateway {
    GatewayConfig config{RealEnvironment()};
    platform::NamedMutex instance;
    std::mutex mutex;                      // guards network only
    std::shared_ptr<EventThread> network;  // while RunGateway runs
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
    if (!v || !*v)
        return 9;
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
    // Shared: a conversion still under way when a stop gives up on it keeps
    // the list alive; published it is only until the run ends.
    auto computers = std::make_shared<ControlledComputerList>(ListOptions());
    // Shared for the same reason: a relay given up on may still count.
    StatsPublisher::Options stats_options;
    stats_options.log_line = [](const std::string& line) { LogLine(line); };
    // A slot for every relay the gateway may run; the area is made before
    // the network thread loads the configuration, so the key is read here.
    stats_options.max_sessions = size_t(g.config.PeekMaxRelays());
    auto stats = std::make_shared<StatsPublisher>(stats_options);
    stats->StartPublishing();
    // Beside OV_G.log; shared, since a thread given up on may still record.
    auto access = AccessLog::Start(platform::DataDirectory());
    auto handler =
        std::make_unique<CMyThread>(g.config, computers, NetworkWorkers{}, stats, access);
    const CMyThread& network_end = *handler;  // lives as long as network
    auto network = std::make_shared<EventThread>("network", std::move(handler));
    if (!network->Start()) {
        platform::service::EventLogError("线程启动失败!");
        computers->ClosePublishing();
        stats->ClosePublishing();
        access->Stop();
        return -1;
    }
    {
        std::lock_guard<std::mutex> lock(g.mutex);
        g.network = network;
    }
    while (network->wait_for(std::chrono::hours(1)) == EventThread::WaitResult::TimedOut) {
    }
    const bool failed = network_end.EndedOnFailure();
    {
        std::lock_guard<std::mutex> lock(g.mutex);
        g.network.reset();
    }
    network.reset();
    std::this_thread::sleep_for(milliseconds(500));
    LogLine("app end.");
    computers->ClosePublishing();
    computers.reset();
    stats->ClosePublishing();
    stats.reset();
    // The threads have ended: what they recorded goes to disk.
    access->Stop();
    // Given up with the run, not only at process exit: a service reports
    // itself stopped before its process is gone, and a restart right then
    // must not find the old instance still "running".
    g.instance.Close();
    return failed ? platform::FailedRunExitCode() : 0;
}

void StopGateway() {
    Gateway& g = TheGateway();
    auto& control = platform::SharedControlBlock::Instance();
    if (control.ServiceRunning()) {
        // The service's own process: the network thread stops its workers
        // in order as it ends; the control handler waits for that, bounded
        // by the sum of the workers' limits.
        std::shared_ptr<EventThread> network;
        {
            std::lock_guard<std::mutex> lock(g.mutex);
            network = g.network;
        }
        if (network) {
            network->quit();
            network->wait_for(milliseconds(3000));
        }
        LogLine("停止Service成功");
    } else {
        control.SendStopRequest();
    }
}

int GatewayMain(const std::string& command_line) {
    if (!platform::StartSocketLibrary()) {
        platform::ShowMessageBox("Windows 通信端口初始化失败。", "Error", 0);
        return 0;
    }
    GatewayLog& log = TheLog();
    log.SetLogFile(platform::DataDirectory() + "OV_G.log", false);
    log.SetLogOutputs(2);
    log.SetLogThreshold(StartupLogThreshold());
    platform::service::SetHooks({[] { return RunGateway(); }, [] { StopGateway(); },
                                 [](const std::string& line) { LogLine(line); }});
    Modes modes;
    return DispatchSwitches(command_line, modes);
}

}  // namespace ov::gateway
