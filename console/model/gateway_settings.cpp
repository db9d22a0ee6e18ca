#include "console/model/gateway_settings.h"

#include <cstring>

#include "common/bytes.h"
#include "common/ini_file.h"
#include "console/model/console_texts.h"
#include "platform/files.h"

namespace ov::console {
namespace {

template <size_t N>
void SetText(char (&field)[N], const std::string& value) {
    SetFieldText(field, value, FieldRest::Zero);
}
template <size_t N>
std::string Text(const char (&field)[N]) {
    return FieldText(field, N);
}

}  // namespace

GatewaySettings::GatewaySettings() : m_guest(std::make_unique<int32_t>(0)) {
    server.bGuest = m_guest.get();
    server.reserved = nullptr;
}

void GatewaySettings::SetDefaults() {
    std::memset(web.MasterURL, 0, sizeof web.MasterURL);
    std::memset(web.SlaveURL, 0, sizeof web.SlaveURL);
    std::memset(web.szKey, 0, sizeof web.szKey);
    std::memset(server.PKey, 0, sizeof server.PKey);
    web.binternet = 1;
    server.flg_encrypt = 1;
    *m_guest = 1;
    server.CmdPort = 6111;
    server.ProxyPort = 6121;
    proxy_needs_login.clear();
    max_slots_per_address.clear();
    max_relays.clear();
}

std::string SettingsPath() {
    return platform::ProgramDirectory() + kSettingsFileName;
}

void ReadSettings(GatewaySettings* s, const std::string& path) {
    s->SetDefaults();
    // A fresh reader each time: keys that left the file must not come back
    // from an earlier read.
    IniFile ini(path);
    if (!ini.ReadFile())
        return;
    SetText(s->web.szKey, ini.GetValue("CWebinfo", "szKey"));
    SetText(s->web.MasterURL, ini.GetValue("CWebinfo", "MasterURL"));
    SetText(s->web.SlaveURL, ini.GetValue("CWebinfo", "SlaveURL"));
    s->web.binternet = ini.GetValueI("CWebinfo", "binternet");
    s->server.flg_encrypt = ini.GetValueI("S_CFG", "flg_encrypt");
    s->Guest() = ini.GetValueI("S_CFG", "bGuest");
    SetText(s->server.PKey, ini.GetValue("S_CFG", "PKey"));
    s->server.CmdPort = ini.GetValueI("S_CFG", "CmdPort");
    s->server.ProxyPort = ini.GetValueI("S_CFG", "ProxyPort");
    s->alias = ini.GetValue("Base", "Alias");
    s->proxy_needs_login = ini.GetValue("S_CFG", "ProxyNeedsLogin");
    s->max_slots_per_address = ini.GetValue("S_CFG", "MaxSlotsPerAddress");
    s->max_relays = ini.GetValue("S_CFG", "MaxRelays");
}

WriteResult WriteSettings(const GatewaySettings& s, const std::string& path) {
    IniFile ini(path);
    // A file that is there but cannot be read would lose every key we do
    // not know if we wrote over it.
    if (!ini.ReadFile() && platform::PathExists(path))
        return {false, text::kIniCreateFailed};
    const auto set = [&ini](const char* section, const char* key, const std::string& value) {
        ini.SetValue(section, key, value, true);
    };
    set("CWebinfo", "szKey", Text(s.web.szKey));
    set("CWebinfo", "MasterURL", Text(s.web.MasterURL));
    set("CWebinfo", "SlaveURL", Text(s.web.SlaveURL));
    set("CWebinfo", "binternet", std::to_string(s.web.binternet));
    set("S_CFG", "flg_encrypt", std::to_string(s.server.flg_encrypt));
    set("S_CFG", "bGuest", std::to_string(s.Guest()));
    set("S_CFG", "PKey", Text(s.server.PKey));
    set("S_CFG", "CmdPort", std::to_string(s.server.CmdPort));
    set("S_CFG", "ProxyPort", std::to_string(s.server.ProxyPort));
    set("Base", "Alias", s.alias);
    if (!s.proxy_needs_login.empty())
        set("S_CFG", "ProxyNeedsLogin", s.proxy_needs_login);
    if (!s.max_slots_per_address.empty())
        set("S_CFG", "MaxSlotsPerAddress", s.max_slots_per_address);
    if (!s.max_relays.empty())
        set("S_CFG", "MaxRelays", s.max_relays);
    if (!ini.WriteFile())
        return {false, platform::PathExists(path) ? text::kIniWriteFailed : text::kIniCreateFailed};
    return {true, {}};
}

}  // namespace ov::console
