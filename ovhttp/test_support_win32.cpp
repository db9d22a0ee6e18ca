#include <windows.h>

#include "test_support.h"

namespace ov::testing {
namespace {

// Wine shows the host's root directory as drive Z:.
std::string HostPathAsWindows(const std::string& path) {
    if (path.empty() || path[0] != '/')
        return path;
    std::string out = "Z:" + path;
    for (char& c : out)
        if (c == '/')
            c = '\\';
    return out;
}

std::string Quoted(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos)
        return arg;
    std::string out = "\"";
    for (char c : arg) {
        if (c == '"')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

}  // namespace

LoadedLibrary::LoadedLibrary(const std::string& bin_dir) {
    SetDllDirectoryA(HostPathAsWindows(bin_dir).c_str());
    m_handle = LoadLibraryA("ovhttp.dll");
    if (!m_handle)
        m_error = "LoadLibraryA failed, error " + std::to_string(GetLastError());
    SetDllDirectoryA(nullptr);
}

LoadedLibrary::~LoadedLibrary() {
    if (m_handle)
        FreeLibrary(static_cast<HMODULE>(m_handle));
}

void* LoadedLibrary::Symbol(const char* name) const {
    return m_handle ? reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(m_handle), name))
                    : nullptr;
}

bool ChildProcess::Start(const std::vector<std::string>& argv) {
    Stop();
    std::string command;
    for (const std::string& a : argv) command += (command.empty() ? "" : " ") + Quoted(a);
    std::string program = HostPathAsWindows(argv[0]);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &si, &pi))
        return false;
    CloseHandle(pi.hThread);
    m_handle = pi.hProcess;
    m_id = pi.dwProcessId;
    return true;
}

void ChildProcess::Stop() {
    if (!m_handle)
        return;
    // A host program started under Wine cannot be terminated from here; the
    // web agent ends by itself when its report connection closes.
    TerminateProcess(static_cast<HANDLE>(m_handle), 1);
    WaitForSingleObject(static_cast<HANDLE>(m_handle), 5000);
    CloseHandle(static_cast<HANDLE>(m_handle));
    m_handle = nullptr;
    m_id = -1;
}

}  // namespace ov::testing
