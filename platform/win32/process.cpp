#include "platform/process.h"

#include <winsock2.h>
#include <windows.h>

namespace ov::platform {

std::string CommandLineArguments(int, char**) {
    const char* p = ::GetCommandLineA();
    if (!p) return {};
    // The program name: quoted, or up to the first blank.
    if (*p == '"') {
        ++p;
        while (*p && *p != '"') ++p;
        if (*p == '"') ++p;
    } else {
        while (*p && *p != ' ' && *p != '\t') ++p;
    }
    return p;
}

void RequestEarlyShutdown() { ::SetProcessShutdownParameters(0x100, 0); }

std::string HostName() {
    // gethostname needs Windows Sockets started; a second start is harmless.
    WSADATA data;
    bool started = ::WSAStartup(MAKEWORD(1, 1), &data) == 0;
    char name[256] = {};
    std::string out;
    if (::gethostname(name, sizeof name - 1) == 0) out = name;
    if (started) ::WSACleanup();
    return out;
}

}  // namespace ov::platform
