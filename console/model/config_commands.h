// What the three configuration buttons of the main dialog do: the web agent
// settings (ovagentset), the server settings behind the administrator
// password (ovsetup) and the computer alias. The windows and libraries they
// need come through ConsoleUi, so the decisions and messages run without a
// desktop.
#pragma once

#include <string>

#include "console/model/gateway_settings.h"

namespace ov::console {

// The icon of a message box, as the Windows flags give it.
enum class MessageIcon : unsigned { None = 0x0, Stop = 0x10, Exclamation = 0x30 };

class ConsoleUi {
  public:
    virtual ~ConsoleUi() = default;
    virtual void ShowMessage(const std::string& text, const std::string& caption,
                             MessageIcon icon) = 0;

    enum class CallResult { Called, NotLoaded, NoEntry };
    // Loads the library file by name, calls its ShowCfg with piece (which
    // the library edits in place until its dialog closes) and releases it.
    virtual CallResult CallShowCfg(const char* library_file, void* piece) = 0;

    // The password dialog; false unless it was closed with OK.
    virtual bool AskPassword(std::string* password) = 0;
    // The alias dialog showing the host name and the alias; false unless it
    // was closed with OK (*alias then holds what was entered).
    virtual bool AskAlias(const std::string& host_name, std::string* alias) = 0;
    virtual std::string HostName() = 0;
};

struct ConfigPaths {
    std::string settings;  // OV_G.ini
    std::string accounts;  // uinfo.dat
};

// Each returns true when it wrote OV_G.ini.
bool WebConfiguration(GatewaySettings* settings, const ConfigPaths& paths, ConsoleUi* ui);
bool AdvancedConfiguration(GatewaySettings* settings, const ConfigPaths& paths, ConsoleUi* ui);
bool SystemSettings(GatewaySettings* settings, const ConfigPaths& paths, ConsoleUi* ui);

// The administrator password check against the first account of the file:
// the message to show (with the stop icon when stop is set), empty when the
// password is right.
struct PasswordCheck {
    bool ok = false;
    std::string message;
    bool stop_icon = false;
};
PasswordCheck CheckAdministratorPassword(const std::string& typed, const std::string& accounts);

inline constexpr size_t kMaxPasswordInput = 20;
inline constexpr size_t kMaxAliasInput = 50;

}  // namespace ov::console
