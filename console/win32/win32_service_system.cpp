#include "console/win32/win32_service_system.h"

#include <shellapi.h>

#include "platform/files.h"

namespace ov::console {
namespace {

constexpr char kServiceName[] = "OV_Gateway service";
constexpr char kRunServicesKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\RunServices";

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
    SC_HANDLE manager = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr)
        return Installed::No;
    SC_HANDLE service = ::OpenServiceA(manager, kServiceName, SERVICE_QUERY_CONFIG);
    const bool found = service != nullptr;
    if (service)
        ::CloseServiceHandle(service);
    ::CloseServiceHandle(manager);
    return found ? Installed::Yes : Installed::No;
}

bool Win32ServiceSystem::RunGateway(const std::string& parameters) {
    HINSTANCE r = ::ShellExecuteA(nullptr, "open", "OV_G.exe", parameters.c_str(),
                                  m_directory.empty() ? nullptr : m_directory.c_str(), SW_HIDE);
    return reinterpret_cast<INT_PTR>(r) > 32;
}

void Win32ServiceSystem::Sleep(unsigned milliseconds) {
    ::Sleep(milliseconds);
}

bool Win32ServiceSystem::OpenService() {
    CloseService();
    m_manager = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (m_manager == nullptr)
        return false;
    m_service = ::OpenServiceA(m_manager, kServiceName, SERVICE_ALL_ACCESS);
    if (m_service == nullptr) {
        CloseService();
        return false;
    }
    return true;
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
