#include "platform/service.h"
#include "service_testing.h"

#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/control_block.h"
#include "platform/error.h"
#include "platform/message_box.h"

namespace ov::platform::service {
namespace {

constexpr char kServiceSwitch[] = "-service";
constexpr char kRunServicesKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\RunServices";
constexpr char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kRegistryValue[] = "OV_G";
constexpr char kCaption[] = "OV_G";
constexpr DWORD kServiceType = SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS;

// The Service Control Manager calls back without a context, and a process
// runs one service, so its state is the process's.
struct ServiceState {
    std::string name = "OV_Gateway service";
    std::string display_name = "OV Gateway";
    Hooks hooks;
    // The status record, its check-point counter and the handle to report
    // through; written by the service main and the control handler.
    std::mutex status_lock;
    SERVICE_STATUS_HANDLE status_handle = nullptr;
    SERVICE_STATUS status{};
    DWORD check_point = 1;
    std::atomic<DWORD> last_error{0};  // captured by the last EventLogError
    // Controls in progress: the stop is reported only after the handler that
    // asked for it has returned.
    std::condition_variable handler_idle;
    int handlers_running = 0;  // guarded by status_lock
};

ServiceState& State() {
    static ServiceState state;
    return state;
}

void Box(const char* text, unsigned flags) {
    ShowMessageBox(text, kCaption, flags);
}

void LogLine(const char* text) {
    auto& s = State();
    if (s.hooks.log_line)
        s.hooks.log_line(text);
}

// REQUIRES: status_lock held.
bool ReportLocked(DWORD state, DWORD exit_code, DWORD wait_hint) {
    auto& s = State();
    s.status.dwServiceType = kServiceType;
    s.status.dwControlsAccepted = state == SERVICE_START_PENDING ? 0 : SERVICE_ACCEPT_STOP;
    s.status.dwCurrentState = state;
    s.status.dwWin32ExitCode = exit_code;
    s.status.dwWaitHint = wait_hint;
    if (state == SERVICE_RUNNING || state == SERVICE_STOPPED)
        s.status.dwCheckPoint = 0;
    else
        s.status.dwCheckPoint = s.check_point++;
    BOOL ok = ::SetServiceStatus(s.status_handle, &s.status);
    if (!ok)
        EventLogError("SetServiceStatus failed");
    return ok != 0;
}

void WINAPI ControlHandler(DWORD control) {
    auto& s = State();
    {
        std::lock_guard<std::mutex> lock(s.status_lock);
        ++s.handlers_running;
    }
    try {
        switch (control) {
            case SERVICE_CONTROL_STOP: {
                {
                    std::lock_guard<std::mutex> lock(s.status_lock);
                    s.status.dwCurrentState = SERVICE_STOP_PENDING;
                }
                if (s.hooks.stop_gateway)
                    s.hooks.stop_gateway();
                break;
            }
            case SERVICE_CONTROL_PAUSE:
            case SERVICE_CONTROL_CONTINUE:
            case SERVICE_CONTROL_INTERROGATE:
            case SERVICE_CONTROL_SHUTDOWN:
                break;
            default:
                EventLogInfo("Bad service request");
                break;
        }
        // The current state is read under the lock, so a stop the service
        // main reported meanwhile is never overwritten by a stale one.
        std::lock_guard<std::mutex> lock(s.status_lock);
        ReportLocked(s.status.dwCurrentState, 0, 0);
    } catch (...) {
    }
    {
        std::lock_guard<std::mutex> lock(s.status_lock);
        --s.handlers_running;
    }
    s.handler_idle.notify_all();
}

// Once the service reports that it stopped, the manager may end the process
// at any moment (and a stop reported while the stop control is still being
// handled leaves the control unanswered), so the end of a run is logged and
// the service flag cleared first, and the stop is reported last, after any
// control in progress has returned.
void WINAPI ServiceMain(DWORD, LPSTR*) {
    auto& s = State();
    try {
        s.status_handle = ::RegisterServiceCtrlHandlerA(s.name.c_str(), ControlHandler);
        if (s.status_handle == nullptr)
            return;
        if (!ReportServiceStatus(SERVICE_START_PENDING, 0, 15000)) {
            ReportServiceStatus(SERVICE_STOPPED, s.last_error, 0);
            return;
        }
        // The flag goes up before the service reports running, so a "-end"
        // right after "-startup" already finds it.
        SharedControlBlock::Instance().SetServiceRunning(true);
        if (!ReportServiceStatus(SERVICE_RUNNING, 0, 0)) {
            SharedControlBlock::Instance().SetServiceRunning(false);
            return;
        }
        EventLogInfo("OV_G服务启动.");
        if (s.hooks.run_gateway)
            s.hooks.run_gateway();
        LogLine("OV_G服务停止.");
        EventLogInfo("OV_G服务停止.");
        SharedControlBlock::Instance().SetServiceRunning(false);
        std::unique_lock<std::mutex> lock(s.status_lock);
        s.handler_idle.wait_for(lock, std::chrono::seconds(30),
                                [&] { return s.handlers_running == 0; });
        ReportLocked(SERVICE_STOPPED, s.last_error, 0);
    } catch (...) {
    }
}

DWORD PlatformId() {
    static const DWORD id = [] {
        OSVERSIONINFOA version{};
        version.dwOSVersionInfoSize = sizeof version;
        return ::GetVersionExA(&version) ? version.dwPlatformId : DWORD{VER_PLATFORM_WIN32_NT};
    }();
    return id;
}

// Closes service and manager handles on every way out.
class ServiceHandles {
  public:
    ServiceHandles() = default;
    ServiceHandles(const ServiceHandles&) = delete;
    ServiceHandles& operator=(const ServiceHandles&) = delete;
    ~ServiceHandles() {
        if (service)
            ::CloseServiceHandle(service);
        if (manager)
            ::CloseServiceHandle(manager);
    }
    SC_HANDLE manager = nullptr;
    SC_HANDLE service = nullptr;
};

// The opening steps of "-startup" and "-end", with their error texts.
bool OpenForControl(ServiceHandles* h) {
    h->manager = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (h->manager == nullptr) {
        StderrPrint("打开SCManager失败:%s\n", Error::Last().Text().c_str());
        return false;
    }
    h->service = ::OpenServiceA(h->manager, State().name.c_str(), SERVICE_ALL_ACCESS);
    if (h->service == nullptr) {
        StderrPrint("OpenService 失败:%s\n", Error::Last().Text().c_str());
        return false;
    }
    return true;
}

// Polls once a second while the service stays in `pending`, one dot each.
DWORD WaitWhile(SC_HANDLE service, DWORD pending, SERVICE_STATUS* status) {
    for (;;) {
        ::Sleep(1000);
        if (!::QueryServiceStatus(service, status) || status->dwCurrentState != pending)
            break;
        StderrPrint(".");
    }
    return status->dwCurrentState;
}

int Install9x(const char* command_line) {
    HKEY key = nullptr;
    if (::RegCreateKeyA(HKEY_LOCAL_MACHINE, kRunServicesKey, &key) != ERROR_SUCCESS) {
        Box("打开注册表出错!", kMbIconWarning);
        return 0;
    }
    if (::RegSetValueExA(key, kRegistryValue, 0, REG_SZ,
                         reinterpret_cast<const BYTE*>(command_line),
                         static_cast<DWORD>(std::strlen(command_line) + 1)) != ERROR_SUCCESS) {
        ::RegCloseKey(key);
        Box("写注册表出错!", kMbIconWarning);
        return 0;
    }
    ::RegCloseKey(key);
    std::string command(command_line);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS,
                          nullptr, nullptr, &si, &pi)) {
        Box("启动OV_G失败!", kMbIconError);
    } else {
        ::CloseHandle(pi.hThread);
        ::CloseHandle(pi.hProcess);
    }
    return 0;
}

int InstallNt(const char* command_line) {
    auto& s = State();
    SC_HANDLE manager = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr) {
        Box("无法打开SCM ! - OV_Gateway 服务没有安装", kMbIconWarning);
        return 0;
    }
    SC_HANDLE service =
        ::CreateServiceA(manager, s.name.c_str(), s.display_name.c_str(), SERVICE_ALL_ACCESS,
                         kServiceType, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, command_line,
                         nullptr, nullptr, "\0\0", nullptr, nullptr);
    ::CloseServiceHandle(manager);
    if (service == nullptr) {
        Box("OV_Gateway服务没有安装成功!", kMbIconWarning);
        return 0;
    }
    ::CloseServiceHandle(service);
    Box("OV_G服务安装成功!\n你可以在控制面板里启动他, 或者\n是下一次开机时自动启动. ", kMbOk);
    return 1;
}

}  // namespace

void SetHooks(Hooks hooks) {
    State().hooks = std::move(hooks);
}

void SetServiceNamesForTesting(const std::string& service_name, const std::string& display_name) {
    State().name = service_name;
    State().display_name = display_name;
}

bool IsWindows9x() {
    return PlatformId() == VER_PLATFORM_WIN32_WINDOWS;
}

bool ReportServiceStatus(uint32_t state, uint32_t exit_code, uint32_t wait_hint) {
    std::lock_guard<std::mutex> lock(State().status_lock);
    return ReportLocked(state, exit_code, wait_hint);
}

void EventLogInfo(const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    HANDLE source = ::RegisterEventSourceA(nullptr, State().name.c_str());
    if (source == nullptr)
        return;
    const char* strings[1] = {text};
    ::ReportEventA(source, EVENTLOG_INFORMATION_TYPE, 0, 0, nullptr, 1, 0, strings, nullptr);
    ::DeregisterEventSource(source);
}

void EventLogError(const char* text) {
    auto& s = State();
    s.last_error = ::GetLastError();
    HANDLE source = ::RegisterEventSourceA(nullptr, s.name.c_str());
    if (source == nullptr)
        return;
    char head[256];
    std::snprintf(head, sizeof head, "%s error: %d", s.name.c_str(),
                  static_cast<int>(s.last_error.load()));
    const char* strings[2] = {head, text};
    ::MessageBeep(0);
    ::ReportEventA(source, EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 2, 0, strings, nullptr);
    ::DeregisterEventSource(source);
}

void StderrPrint(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (n <= 0)
        return;
    DWORD size = static_cast<DWORD>(n < static_cast<int>(sizeof text) ? n : sizeof text - 1);
    HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
    if (err == nullptr || err == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    ::WriteFile(err, text, size, &written, nullptr);
}

int RunServiceDispatcher() {
    auto& s = State();
    if (IsWindows9x()) {
        if (s.hooks.run_gateway)
            s.hooks.run_gateway();
        return 0;
    }
    SERVICE_TABLE_ENTRYA table[] = {{s.name.data(), ServiceMain}, {nullptr, nullptr}};
    if (!::StartServiceCtrlDispatcherA(table))
        EventLogError("StartServiceCtrlDispatcher failed.");
    return 0;
}

bool IsServiceInstalled() {
    if (IsWindows9x()) {
        HKEY key = nullptr;
        if (::RegOpenKeyA(HKEY_LOCAL_MACHINE, kRunServicesKey, &key) != ERROR_SUCCESS) {
            Box("打开注册表RunServices失败!", kMbIconWarning);
            return false;
        }
        BYTE value[256];
        DWORD size = sizeof value;
        bool found = ::RegQueryValueExA(key, kRegistryValue, nullptr, nullptr, value, &size) ==
                     ERROR_SUCCESS;
        ::RegCloseKey(key);
        return found;
    }
    ServiceHandles h;
    h.manager = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (h.manager == nullptr)
        return false;
    h.service = ::OpenServiceA(h.manager, State().name.c_str(), SERVICE_QUERY_CONFIG);
    return h.service != nullptr;
}

int Install() {
    if (IsServiceInstalled())
        return 1;
    char path[2048];
    // Room is left for the switch; a path that does not fit comes back cut
    // (and, on old systems, without its terminator), which is no path at all.
    const DWORD room = static_cast<DWORD>(sizeof path - std::strlen(kServiceSwitch));
    DWORD n = ::GetModuleFileNameA(nullptr, path, room);
    if (n == 0) {
        Box("无法安装OV_Gateway服务!", kMbIconWarning);
        return 0;
    }
    if (n >= room || n + std::strlen(kServiceSwitch) + 4 >= sizeof path)
        return 0;
    path[n] = '\0';
    char command_line[sizeof path];
    std::snprintf(command_line, sizeof command_line, "\"%s\" %s", path, kServiceSwitch);
    return IsWindows9x() ? Install9x(command_line) : InstallNt(command_line);
}

int Remove() {
    if (!IsServiceInstalled())
        return 0;
    HKEY key = nullptr;
    if (IsWindows9x()) {
        if (::RegOpenKeyA(HKEY_LOCAL_MACHINE, kRunServicesKey, &key) != ERROR_SUCCESS) {
            Box("打开注册表RunServices失败!", kMbIconWarning);
            return 0;
        }
        if (::RegDeleteValueA(key, kRegistryValue) != ERROR_SUCCESS)
            LogLine("The Orvik service could not be removed");
        ::RegCloseKey(key);
        return 0;
    }
    if (::RegOpenKeyA(HKEY_LOCAL_MACHINE, kRunKey, &key) == ERROR_SUCCESS) {
        if (::RegDeleteValueA(key, kRegistryValue) != ERROR_SUCCESS)
            LogLine("WARNING:The ServiceHelper hook entry could not be removed from the registry");
        ::RegCloseKey(key);
    }
    ServiceHandles h;
    h.manager = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (h.manager == nullptr) {
        Box("OV_G没有安装.", kMbIconWarning);
        return 0;
    }
    h.service = ::OpenServiceA(h.manager, State().name.c_str(), SERVICE_ALL_ACCESS);
    if (h.service == nullptr)
        return 0;
    SERVICE_STATUS status{};
    if (::ControlService(h.service, SERVICE_CONTROL_STOP, &status)) {
        BOOL ok = ::QueryServiceStatus(h.service, &status);
        while (ok && status.dwCurrentState == SERVICE_STOP_PENDING) {
            ::Sleep(1000);
            ok = ::QueryServiceStatus(h.service, &status);
        }
        if (status.dwCurrentState != SERVICE_STOPPED)
            Box("OV_G服务无法停止!", kMbIconWarning | kMbServiceNotification);
    }
    if (!::DeleteService(h.service))
        Box("OV_G服务无法删除!", kMbIconWarning | kMbServiceNotification);
    return 0;
}

int Startup() {
    auto& s = State();
    if (SharedControlBlock::Instance().ServiceRunning()) {
        StderrPrint("该服务正在运行!");
        return 0;
    }
    ServiceHandles h;
    if (!OpenForControl(&h))
        return 0;
    if (!::StartServiceA(h.service, 0, nullptr)) {
        StderrPrint("StartService 失败:%s\n", Error::Last().Text().c_str());
        return 0;
    }
    SERVICE_STATUS status{};
    if (WaitWhile(h.service, SERVICE_START_PENDING, &status) == SERVICE_RUNNING) {
        StderrPrint("\n%s 启动.\n", s.display_name.c_str());
        return 1;
    }
    StderrPrint("\n%s 启动失败!\n", s.display_name.c_str());
    return 0;
}

int EndService() {
    auto& s = State();
    if (!SharedControlBlock::Instance().ServiceRunning()) {
        StderrPrint("该服务还没运行! 请先启动服务.");
        return 0;
    }
    ServiceHandles h;
    if (!OpenForControl(&h))
        return 0;
    SERVICE_STATUS status{};
    if (!::ControlService(h.service, SERVICE_CONTROL_STOP, &status)) {
        StderrPrint("调用ControlSerice() 失败: %s", Error::Last().Text().c_str());
        return 0;
    }
    StderrPrint("Stopping %s.", s.name.c_str());
    if (WaitWhile(h.service, SERVICE_STOP_PENDING, &status) == SERVICE_STOPPED) {
        StderrPrint("\n%s stopped.\n", s.display_name.c_str());
        return 1;
    }
    StderrPrint("\n%s failed to stop.\n", s.display_name.c_str());
    return 0;
}

}  // namespace ov::platform::service
