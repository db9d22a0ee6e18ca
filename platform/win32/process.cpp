#include "platform/process.h"

#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

namespace ov::platform {

std::string CommandLineArguments(int, char**) {
    const char* p = ::GetCommandLineA();
    if (!p)
        return {};
    // The program name: quoted, or up to the first blank.
    if (*p == '"') {
        ++p;
        while (*p && *p != '"') ++p;
        if (*p == '"')
            ++p;
    } else {
        while (*p && *p != ' ' && *p != '\t') ++p;
    }
    return p;
}

int FailedRunExitCode() {
    return 0;
}

void RequestEarlyShutdown() {
    ::SetProcessShutdownParameters(0x100, 0);
}

std::string HostName() {
    // gethostname needs Windows Sockets started; a second start is harmless.
    WSADATA data;
    bool started = ::WSAStartup(MAKEWORD(1, 1), &data) == 0;
    char name[256] = {};
    std::string out;
    if (::gethostname(name, sizeof name - 1) == 0)
        out = name;
    if (started)
        ::WSACleanup();
    return out;
}

bool StartSocketLibrary() {
    // Kept started for the whole run; the process's end releases it.
    WSADATA data;
    return ::WSAStartup(MAKEWORD(1, 1), &data) == 0;
}

std::vector<std::array<uint8_t, 4>> OwnIPv4Addresses() {
    std::vector<std::array<uint8_t, 4>> out;
    std::string name = HostName();
    if (name.empty())
        return out;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    if (::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0)
        return out;
    for (addrinfo* i = found; i; i = i->ai_next) {
        if (!i->ai_addr || i->ai_family != AF_INET)
            continue;
        std::array<uint8_t, 4> a;
        std::memcpy(a.data(), &reinterpret_cast<const sockaddr_in*>(i->ai_addr)->sin_addr, 4);
        // The resolver gives each address once per socket type.
        bool seen = false;
        for (const auto& b : out) seen = seen || b == a;
        if (!seen)
            out.push_back(a);
    }
    ::freeaddrinfo(found);
    return out;
}

void LowerThisThreadPriority(ThreadPriority priority) {
    ::SetThreadPriority(::GetCurrentThread(), priority == ThreadPriority::Lowest
                                                  ? THREAD_PRIORITY_LOWEST
                                                  : THREAD_PRIORITY_BELOW_NORMAL);
}

}  // namespace ov::platform
