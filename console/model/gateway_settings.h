// The console's copy of the editable part of OV_G.ini. Its two leading
// pieces are handed by pointer to the ShowCfg entry points of ovagentset and
// ovsetup, which edit them in place, so their layout is fixed field by field
// for every build and checked below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace ov::console {

struct WebAgentSettings {
    char MasterURL[200];
    char SlaveURL[200];
    char szKey[100];
    int32_t binternet;
};

struct ServerSettings {
    int32_t flg_encrypt;
    int32_t* bGuest;  // the console's guest flag; the library changes the integer
    char PKey[50];
    int32_t CmdPort;
    int32_t ProxyPort;
    void* reserved;  // always null
};

static_assert(sizeof(WebAgentSettings) == 504 && offsetof(WebAgentSettings, SlaveURL) == 200 &&
              offsetof(WebAgentSettings, szKey) == 400 &&
              offsetof(WebAgentSettings, binternet) == 500);
#if INTPTR_MAX == INT32_MAX
static_assert(sizeof(ServerSettings) == 72 && offsetof(ServerSettings, bGuest) == 4 &&
              offsetof(ServerSettings, PKey) == 8 && offsetof(ServerSettings, CmdPort) == 60 &&
              offsetof(ServerSettings, ProxyPort) == 64 &&
              offsetof(ServerSettings, reserved) == 68);
#else
static_assert(sizeof(ServerSettings) == 88 && offsetof(ServerSettings, bGuest) == 8 &&
              offsetof(ServerSettings, PKey) == 16 && offsetof(ServerSettings, CmdPort) == 68 &&
              offsetof(ServerSettings, ProxyPort) == 72 &&
              offsetof(ServerSettings, reserved) == 80);
#endif

// Owns the guest flag that ServerSettings points at, so it is neither
// copied nor moved; comparisons take snapshots of the pieces instead.
class GatewaySettings {
  public:
    GatewaySettings();
    GatewaySettings(const GatewaySettings&) = delete;
    GatewaySettings& operator=(const GatewaySettings&) = delete;

    WebAgentSettings web{};
    ServerSettings server{};
    std::string alias;
    // [S_CFG] keys that no dialog shows (ovadmin server sets them), as the
    // file holds them. Empty: not in the file, and then not written either,
    // so the gateway's default for a missing key stays in force.
    std::string proxy_needs_login, max_slots_per_address, max_relays;

    int32_t& Guest() { return *m_guest; }
    int32_t Guest() const { return *m_guest; }
    // The defaults of a file that cannot be read; the alias is not touched.
    void SetDefaults();

  private:
    std::unique_ptr<int32_t> m_guest;
};

inline constexpr char kSettingsFileName[] = "OV_G.ini";
// ProgramDirectory() + "OV_G.ini".
std::string SettingsPath();

// Fills settings from the file. A file that cannot be read gives the
// defaults (6111, 6121, the flags at 1, empty texts) and keeps the alias; a
// readable file gives exactly what it holds: a missing or non-numeric
// integer key reads 0, a missing text key empty. Texts longer than their
// field are cut to it (never inside a character).
void ReadSettings(GatewaySettings* settings, const std::string& path);

struct WriteResult {
    bool ok = false;
    std::string message;  // shown to the administrator on failure
};
// Writes every field into the file, keeping whatever else it holds (unknown
// sections and keys stay in their places), and replaces the file in one
// rename. A file that exists but cannot be read is left alone.
WriteResult WriteSettings(const GatewaySettings& settings, const std::string& path);

}  // namespace ov::console
