// Asks GetReMoteIPMAC of a library loaded by path, the way the gateway
// calls it, about each address of the command line. One line per address:
// "<address> <result> <mac>" and the milliseconds the call took.
#include <chrono>
#include <cstdio>
#include <cstring>

#include "ovident/ovident.h"
#include "platform/dynamic_library.h"

namespace {

bool ParseDotted(const char* text, unsigned& networkOrder) {
    unsigned a, b, c, d;
    char tail;
    if (std::sscanf(text, "%u.%u.%u.%u%c", &a, &b, &c, &d, &tail) != 4)
        return false;
    if (a > 255 || b > 255 || c > 255 || d > 255)
        return false;
    unsigned char bytes[4] = {static_cast<unsigned char>(a), static_cast<unsigned char>(b),
                              static_cast<unsigned char>(c), static_cast<unsigned char>(d)};
    std::memcpy(&networkOrder, bytes, 4);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: arp_probe LIBRARY ADDRESS...\n");
        return 2;
    }
    ov::platform::DynamicLibrary library;
    if (!library.LoadPath(argv[1])) {
        std::fprintf(stderr, "%s\n", library.Error().c_str());
        return 2;
    }
    using RemoteMac = int(OVIDENT_CALL*)(unsigned, unsigned char*);
    auto getRemoteMac = library.Function<RemoteMac>("GetReMoteIPMAC");
    if (!getRemoteMac) {
        std::fprintf(stderr, "%s\n", library.Error().c_str());
        return 2;
    }
    for (int i = 2; i < argc; ++i) {
        unsigned ip = 0;
        if (!ParseDotted(argv[i], ip)) {
            std::fprintf(stderr, "not an address: %s\n", argv[i]);
            return 2;
        }
        unsigned char mac[6] = {};
        auto start = std::chrono::steady_clock::now();
        int result = getRemoteMac(ip, mac);
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start)
                      .count();
        std::printf("%s %d %02x:%02x:%02x:%02x:%02x:%02x %lld\n", argv[i], result, mac[0], mac[1],
                    mac[2], mac[3], mac[4], mac[5], static_cast<long long>(ms));
    }
    return 0;
}
