// Calls ShowCfg of a setup library the way the console does, for the UI
// test: loads the library by its path, hands it a settings record made from
// the command line, and prints the record once the dialog has closed.
//
//   showcfg_host setup DLL ID_CHECK GUEST CMD_PORT PROXY_PORT
//       -> server ID_CHECK GUEST CMD_PORT PROXY_PORT PKEY_HEX
//   showcfg_host web DLL MASTER BACKUP KEY DIRECT   ("-" for an empty text)
//       -> web MASTER_HEX BACKUP_HEX KEY_HEX DIRECT
// Texts are printed as hex of their GBK bytes ("-" when empty).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/bytes.h"
#include "console/model/gateway_settings.h"

namespace {

std::string Hex(const char* field, size_t size) {
    std::string out;
    for (size_t i = 0; i < size && field[i]; ++i) {
        char byte[3];
        std::snprintf(byte, sizeof byte, "%02x", static_cast<unsigned char>(field[i]));
        out += byte;
    }
    return out.empty() ? "-" : out;
}

void Set(char* field, size_t size, const char* text) {
    std::memset(field, 0, size);
    if (std::strcmp(text, "-") != 0)
        std::strncpy(field, text, size - 1);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 7 || (std::strcmp(argv[1], "setup") != 0 && std::strcmp(argv[1], "web") != 0)) {
        std::fprintf(stderr, "usage: showcfg_host setup|web DLL ...\n");
        return 2;
    }
    HMODULE library = ::LoadLibraryA(argv[2]);
    if (!library) {
        std::printf("not loaded\n");
        return 3;
    }
    using ShowCfg = void (*)(void*);
    auto show =
        reinterpret_cast<ShowCfg>(reinterpret_cast<void*>(::GetProcAddress(library, "ShowCfg")));
    if (!show) {
        std::printf("no ShowCfg\n");
        return 4;
    }
    if (std::strcmp(argv[1], "setup") == 0) {
        int32_t guest = std::atoi(argv[4]);
        ov::console::ServerSettings s{};
        s.flg_encrypt = std::atoi(argv[3]);
        s.bGuest = &guest;
        ov::SetFieldText(s.PKey, sizeof s.PKey, "pkey");
        s.CmdPort = std::atoi(argv[5]);
        s.ProxyPort = std::atoi(argv[6]);
        show(&s);
        std::printf("server %d %d %d %d %s\n", s.flg_encrypt, guest, s.CmdPort, s.ProxyPort,
                    Hex(s.PKey, sizeof s.PKey).c_str());
    } else {
        ov::console::WebAgentSettings w{};
        Set(w.MasterURL, sizeof w.MasterURL, argv[3]);
        Set(w.SlaveURL, sizeof w.SlaveURL, argv[4]);
        Set(w.szKey, sizeof w.szKey, argv[5]);
        w.binternet = std::atoi(argv[6]);
        show(&w);
        std::printf("web %s %s %s %d\n", Hex(w.MasterURL, sizeof w.MasterURL).c_str(),
                    Hex(w.SlaveURL, sizeof w.SlaveURL).c_str(),
                    Hex(w.szKey, sizeof w.szKey).c_str(), w.binternet);
    }
    std::fflush(stdout);
    ::FreeLibrary(library);
    return 0;
}
