// The service life cycle against the real Service Control Manager (Wine's
// here). The test program installs itself as a throwaway service; started by
// the manager with "-service", it runs a stand-in gateway that waits until
// the service is told to stop.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "platform/control_block.h"
#include "platform/service.h"
#include "service_testing.h"

namespace ov::platform::service {
namespace {

std::string ProgramPath() {
    char path[MAX_PATH];
    DWORD n = ::GetModuleFileNameA(nullptr, path, sizeof path);
    return std::string(path, n < sizeof path ? n : 0);
}

// Named after this program's path, so that test runs of two build trees in
// one Wine prefix never meet; the service process computes the same names.
std::string PathTag() {
    uint32_t h = 2166136261u;
    for (char c : ProgramPath()) h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
    char tag[16];
    std::snprintf(tag, sizeof tag, "%08x", h);
    return tag;
}
const std::string kName = "OV_PlatformTest service " + PathTag();
const std::string kDisplayName = "OV PlatformTest " + PathTag();

std::string LogPath() {
    return ProgramPath() + ".service.log";
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

int RunAsService() {
    HANDLE stop = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    Hooks hooks;
    hooks.run_gateway = [stop] {
        ::WaitForSingleObject(stop, 60000);
        return 0;
    };
    hooks.stop_gateway = [stop] { ::SetEvent(stop); };
    hooks.log_line = [](const std::string& line) {
        std::ofstream(LogPath(), std::ios::binary | std::ios::app) << line << "\n";
    };
    SetHooks(std::move(hooks));
    return RunServiceDispatcher();
}

// What an action writes to the standard error handle.
template <typename F>
std::string Stderr(F action, int* result) {
    char dir[MAX_PATH], file[MAX_PATH];
    ::GetTempPathA(sizeof dir, dir);
    ::GetTempFileNameA(dir, "ovs", 0, file);
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE h = ::CreateFileA(file, GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
    HANDLE saved = ::GetStdHandle(STD_ERROR_HANDLE);
    ::SetStdHandle(STD_ERROR_HANDLE, h);
    *result = action();
    ::SetStdHandle(STD_ERROR_HANDLE, saved);
    ::CloseHandle(h);
    std::string text = Slurp(file);
    ::DeleteFileA(file);
    return text;
}

bool WaitUntil(bool (*done)(), int timeout_ms) {
    for (int waited = 0; !done(); waited += 50) {
        if (waited >= timeout_ms)
            return false;
        ::Sleep(50);
    }
    return true;
}

bool ServiceFlagClear() {
    return !SharedControlBlock::Instance().ServiceRunning();
}
// A deleted service lingers until the manager has seen its process end.
bool ServiceGone() {
    return !IsServiceInstalled();
}

class ServiceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Remove();  // what an aborted run may have left
        ::DeleteFileA(LogPath().c_str());
        ASSERT_TRUE(WaitUntil(ServiceGone, 10000));
        SharedControlBlock::Instance().SetServiceRunning(false);
    }
    void TearDown() override {
        Remove();
        ::DeleteFileA(LogPath().c_str());
    }
};

TEST_F(ServiceTest, InstallWritesTheServiceRecordOnceAndRemoveDeletesIt) {
    EXPECT_EQ(Install(), 1);
    ASSERT_TRUE(IsServiceInstalled());
    EXPECT_EQ(Install(), 1) << "a second install must succeed quietly";

    SC_HANDLE manager = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(manager, nullptr);
    SC_HANDLE svc = ::OpenServiceA(manager, kName.c_str(), SERVICE_QUERY_CONFIG);
    ASSERT_NE(svc, nullptr);
    alignas(QUERY_SERVICE_CONFIGA) char buffer[8192];
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer);
    DWORD needed = 0;
    ASSERT_TRUE(::QueryServiceConfigA(svc, config, sizeof buffer, &needed));
    EXPECT_EQ(config->dwServiceType, 0x110u);
    EXPECT_EQ(config->dwStartType, static_cast<DWORD>(SERVICE_AUTO_START));
    EXPECT_EQ(config->dwErrorControl, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
    EXPECT_EQ(std::string(config->lpBinaryPathName), "\"" + ProgramPath() + "\" -service");
    EXPECT_EQ(std::string(config->lpDisplayName), kDisplayName);
    ::CloseServiceHandle(svc);
    ::CloseServiceHandle(manager);

    EXPECT_EQ(Remove(), 0);
    EXPECT_FALSE(IsServiceInstalled());
    EXPECT_EQ(Remove(), 0);
}

TEST_F(ServiceTest, StartupRunsTheGatewayAndEndStopsIt) {
    int result = -1;
    ASSERT_EQ(Install(), 1);
    EXPECT_EQ(Stderr(EndService, &result), "该服务还没运行! 请先启动服务.");
    EXPECT_EQ(result, 0);

    EXPECT_EQ(Stderr(Startup, &result), "\n" + kDisplayName + " 启动.\n");
    ASSERT_EQ(result, 1);
    // The service process shares this program's control block.
    EXPECT_TRUE(SharedControlBlock::Instance().ServiceRunning());
    EXPECT_EQ(Stderr(Startup, &result), "该服务正在运行!");
    EXPECT_EQ(result, 0);

    // A control the service does not know leaves it running.
    SC_HANDLE manager = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE svc = ::OpenServiceA(manager, kName.c_str(), SERVICE_ALL_ACCESS);
    ASSERT_NE(svc, nullptr);
    SERVICE_STATUS status{};
    if (::ControlService(svc, 128, &status)) {
        EXPECT_EQ(status.dwCurrentState, DWORD{SERVICE_RUNNING});
    }
    ASSERT_TRUE(::QueryServiceStatus(svc, &status));
    EXPECT_EQ(status.dwCurrentState, DWORD{SERVICE_RUNNING});
    EXPECT_EQ(status.dwControlsAccepted, DWORD{SERVICE_ACCEPT_STOP});

    std::string text = Stderr(EndService, &result);
    EXPECT_EQ(result, 1) << text;
    EXPECT_EQ(text.rfind("Stopping " + kName + ".", 0), 0u) << text;
    EXPECT_NE(text.find("\n" + kDisplayName + " stopped.\n"), std::string::npos) << text;
    ASSERT_TRUE(::QueryServiceStatus(svc, &status));
    EXPECT_EQ(status.dwCurrentState, DWORD{SERVICE_STOPPED});
    ::CloseServiceHandle(svc);
    ::CloseServiceHandle(manager);
    EXPECT_TRUE(WaitUntil(ServiceFlagClear, 5000)) << "the service flag outlived the service";
    EXPECT_EQ(Slurp(LogPath()), "OV_G服务停止.\n");
}

TEST_F(ServiceTest, RemoveStopsARunningServiceBeforeDeletingIt) {
    int result = -1;
    ASSERT_EQ(Install(), 1);
    Stderr(Startup, &result);
    ASSERT_EQ(result, 1);
    EXPECT_EQ(Remove(), 0);
    EXPECT_TRUE(WaitUntil(ServiceGone, 10000));
    EXPECT_TRUE(WaitUntil(ServiceFlagClear, 5000));
    EXPECT_EQ(Slurp(LogPath()), "OV_G服务停止.\n") << "the service was not stopped in order";
}

}  // namespace
}  // namespace ov::platform::service

int main(int argc, char** argv) {
    ov::platform::service::SetServiceNamesForTesting(ov::platform::service::kName,
                                                     ov::platform::service::kDisplayName);
    if (argc > 1 && std::string(argv[1]) == "-service")
        return ov::platform::service::RunAsService();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
