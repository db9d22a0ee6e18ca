#include "console/win32/win32_service_system.h"

#include <shellapi.h>

#include "platform/files.h"

namespace ov::console {
namespace {

constexpr char kServiceName[] = "OV_Gateway service";
constexpr char kRunServicesKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\RunServices";

static_assert(kManagerRights == SC_MANAGER_CONNECT);
static_assert(kStatusRights == SERVICE_QUERY_STATUS);
static_assert(kControlRights == (SERVICE_QUERY_STATUS | SERVICE_START | SERVICE_STOP));

bool PlatformIsNt() {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    return !::GetVersionExA(&version) || version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

}  // namespace

Win32ServiceSystem::Win32ServiceSystem()
    : m_nt(PlatformIsNt()), m_directory(platform::ProgramDirectory()) {}

Win32ServiceSystem::~Win32ServiceSystem() {
    CloseService();
}

ServiceSystem::Installed Win32ServiceSystem::IsInstalled() {
    if (!m_nt) {
        HKEY key = nullptr;
        if (::RegOpenKeyA(HKEY_LOCAL_MACHINE, kRunServicesKey, &key) != ERROR_SUCCESS)
            return Installed::RegistryUnreadable;
        BYTE value[256];
        DWORD size = sizeof value;
        const bool found =
            ::RegQueryValueExA(key, "OV_G", nullptr, nullptr, value, &size) == ERROR_SUCCESS;
        ::RegCloseKey(key);
        return found ? Installed::Yes : Installed::No;
    }
    SC_HANDLE manager = ::OpenSCManagerA(nullptr, nullptr, kManagerRights);
    if (manager == nullptr)
        return Installed::NotAllowed;
    SC_HANDLE service = ::OpenServiceA(manager, kServiceName, kStatusRights);
    Installed answer = Installed::Yes;
    if (service != nullptr) {
        ::CloseServiceHandle(service);
    } else {
        const DWORD error = ::GetLastError();
        // A service whose status is refused is there all the same.
        answer = error == ERROR_SERVICE_DOES_NOT_EXIST ? Installed::No
                 : error == ERROR_ACCESS_DENIED        ? Installed::Yes
                                                       : Installed::NotAllowed;
    }
    ::CloseServiceHandle(manager);
    return answer;
}

ServiceSystem::Elevation Win32ServiceSystem::RunElevated(const std::string& program,
                                                         const std::string& parameters,
                                                         unsigned long* exit_code) {
    const std::string file = m_directory + program;
    SHELLEXECUTEINFOA run{};
    run.cbSize = sizeof run;
    run.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    run.lpVerb = "runas";
    run.lpFile = file.c_str();
    run.lpParameters = parameters.c_str();
    run.lpDirectory = m_directory.empty() ? nullptr : m_directory.c_str();
    run.nShow = SW_HIDE;
    if (!::ShellExecuteExA(&run))
        return ::GetLastError() == ERROR_CANCELLED ? Elevation::Refused : Elevation::Failed;
    if (run.hProcess == nullptr)
        return Elevation::Failed;
    // The console's window waits with the helper, which ends on its own:
    // the service manager's waits are bounded, OV_G.exe's switches return.
    ::WaitForSingleObject(run.hProcess, INFINITE);
    DWORD code = 1;
    const bool read = ::GetExitCodeProcess(run.hProcess, &code) != FALSE;
    ::CloseHandle(run.hProcess);
    if (!read)
        return Elevation::Failed;
    *exit_code = code;
    return Elevation::Done;
}

bool Win32ServiceSystem::RunGateway(const std::string& parameters) {
    HINSTANCE r = ::ShellExecuteA(nullptr, "open", "OV_G.exe", parameters.c_str(),
                                  m_directory.empty() ? nullptr : m_directory.c_str(), SW_HIDE);
    return reinterpret_cast<INT_PTR>(r) > 32;
}

void Win32ServiceSystem::Sleep(unsigned milliseconds) {
    ::Sleep(milliseconds);
}

ServiceSystem::Open Win32ServiceSystem::OpenService() {
    CloseService();
    m_manager = ::OpenSCManagerA(nullptr, nullptr, kManagerRights);
    if (m_manager == nullptr)
        return ::GetLastError() == ERROR_ACCESS_DENIED ? Open::Denied : Open::Failed;
    m_service = ::OpenServiceA(m_manager, kServiceName, kControlRights);
    if (m_service == nullptr) {
        const bool denied = ::GetLastError() == ERROR_ACCESS_DENIED;
        CloseService();
        return denied ? Open::Denied : Open::Failed;
    }
    return Open::Opened;
}

bool Win32ServiceSystem::StartService() {
    return m_service != nullptr && ::StartServiceA(m_service, 0, nullptr) != FALSE;
}

bool Win32ServiceSystem::StopService() {
    SERVICE_STATUS status{};
    return m_service != nullptr && ::ControlService(m_service, SERVICE_CONTROL_STOP, &status);
}

bool Win32ServiceSystem::QueryState(State* state) {
    SERVICE_STATUS status{};
    if (m_service == nullptr || !::QueryServiceStatus(m_service, &status))
        return false;
    switch (status.dwCurrentState) {
        case SERVICE_STOPPED:
            *state = State::Stopped;
            break;
        case SERVICE_START_PENDING:
            *state = State::StartPending;
            break;
        case SERVICE_STOP_PENDING:
            *state = State::StopPending;
            break;
        case SERVICE_RUNNING:
            *state = State::Running;
            break;
        default:
            *state = State::Other;
            break;
    }
    return true;
}

void Win32ServiceSystem::CloseService() {
    if (m_service)
        ::CloseServiceHandle(m_service);
    if (m_manager)
        ::CloseServiceHandle(m_manager);
    m_service = nullptr;
    m_manager = nullptr;
}

}  // namespace ov::console
