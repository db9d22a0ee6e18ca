// Calls one export of the library, loaded by name from a program directory,
// and prints what came back, one "key value" line each (texts as hex, since
// they are GBK). For system tests and demos against a web agent.
//
//   ovhttp_driver DIR connecttest URL
//   ovhttp_driver DIR ovg|ovc URL PASSWORD KEY ID_HEX NAME DIRECT CMDPORT WAN
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>

#include "ovhttp/ovhttp.h"
#include "platform/dynamic_library.h"

namespace {

std::string Hex(const void* data, size_t n) {
    std::string out;
    char two[3];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(two, sizeof two, "%02x", static_cast<const unsigned char*>(data)[i]);
        out += two;
    }
    return out;
}

void Copy(char* field, size_t size, const char* text) {
    std::snprintf(field, size, "%s", text);
}

int Usage() {
    std::fprintf(
        stderr,
        "usage: ovhttp_driver DIR connecttest URL\n"
        "       ovhttp_driver DIR ovg|ovc URL PASSWORD KEY ID_HEX NAME DIRECT CMDPORT WAN\n");
    return 64;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4)
        return Usage();
    using ov::platform::DynamicLibrary;
    DynamicLibrary library;
    if (!library.LoadPath(
            (std::filesystem::path(argv[1]) / DynamicLibrary::FileName("ovhttp")).string())) {
        std::fprintf(stderr, "cannot load the library: %s\n", library.Error().c_str());
        return 2;
    }
    const std::string op = argv[2];
    char message[1024] = "";
    if (op == "connecttest") {
        auto f = library.Function<int8_t(OVHTTP_CALL*)(const char*, char*)>("ConnectTest");
        if (!f)
            return 3;
        int r = f(argv[3], message);
        std::printf("result %d\nmessage %s\n", r, Hex(message, std::strlen(message)).c_str());
        return 0;
    }
    if ((op != "ovg" && op != "ovc") || argc != 11)
        return Usage();
    auto update =
        library.Function<int8_t(OVHTTP_CALL*)(const WebAgentInfo*, PeerInfo*, PeerList*, char*)>(
            op == "ovg" ? "OVGUpdateInfo" : "OVCUpdateInfo");
    auto free_list = library.Function<void(OVHTTP_CALL*)(PeerList*)>("PeerListFree");
    if (!update || !free_list)
        return 3;

    WebAgentInfo agent{};
    Copy(agent.url, sizeof agent.url, argv[3]);
    Copy(agent.password, sizeof agent.password, argv[4]);
    Copy(agent.keyText, sizeof agent.keyText, argv[5]);
    PeerInfo self{};
    self.kind = op == "ovg" ? 1 : 0;
    self.reportTime = int32_t(std::time(nullptr));
    const char* id = argv[6];
    for (size_t i = 0; i < sizeof self.computerId && id[2 * i] && id[2 * i + 1]; ++i) {
        char two[3] = {id[2 * i], id[2 * i + 1], 0};
        self.computerId[i] = uint8_t(std::strtoul(two, nullptr, 16));
    }
    Copy(self.computerName, sizeof self.computerName, argv[7]);
    self.direct = std::atoi(argv[8]);
    self.cmdPort = uint32_t(std::strtoul(argv[9], nullptr, 10));
    self.wanAddress = uint32_t(std::strtoul(argv[10], nullptr, 10));

    PeerList peers{};
    int r = update(&agent, &self, &peers, message);
    std::printf("result %d\nmessage %s\nwan %u\n", r, Hex(message, std::strlen(message)).c_str(),
                self.wanAddress);
    for (int32_t i = 0; i < peers.count; ++i) {
        const PeerInfo& p = peers.records[i];
        std::printf("peer kind=%d time=%d direct=%d wan=%u port=%u id=%s name=%s\n", p.kind,
                    p.reportTime, p.direct, p.wanAddress, p.cmdPort,
                    Hex(p.computerId, sizeof p.computerId).c_str(),
                    Hex(p.computerName, std::strlen(p.computerName)).c_str());
    }
    free_list(&peers);
    return 0;
}
