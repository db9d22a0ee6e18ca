#include "platform/process.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ov::platform {

std::string CommandLineArguments(int argc, char** argv) {
    std::string text;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            text += ' ';
        text += argv[i];
    }
    return text;
}

int FailedRunExitCode() {
    return 1;
}

void RequestEarlyShutdown() {}

std::string HostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return {};
    return name;
}

bool StartSocketLibrary() {
    return true;
}

std::vector<std::array<uint8_t, 4>> OwnIPv4Addresses() {
    std::vector<std::array<uint8_t, 4>> out;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return out;
    for (ifaddrs* i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET)
            continue;
        if (!(i->ifa_flags & IFF_UP) || (i->ifa_flags & IFF_LOOPBACK))
            continue;
        std::array<uint8_t, 4> a;
        std::memcpy(a.data(), &reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr, 4);
        out.push_back(a);
    }
    ::freeifaddrs(list);
    return out;
}

void LowerThisThreadPriority(ThreadPriority priority) {
    // On Linux each thread has a nice value of its own, addressed by its id.
    const id_t self = id_t(::gettid());
    errno = 0;
    const int now = ::getpriority(PRIO_PROCESS, self);
    if (now == -1 && errno != 0)
        return;
    ::setpriority(PRIO_PROCESS, self, now + (priority == ThreadPriority::Lowest ? 10 : 5));
}

}  // namespace ov::platform
