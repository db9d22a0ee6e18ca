// The password prompt before the server settings, and the alias dialog.
#pragma once

#include <windows.h>

#include <string>

namespace ov::console {

struct PasswordDialog {
    // True when closed with OK; *password then holds what was typed (at most
    // 20 characters).
    static bool Ask(HWND owner, std::string* password);
};

struct AliasDialog {
    // Shows the host name and the alias (each at most 50 characters); true
    // when closed with OK, *alias then holds the entered alias.
    static bool Ask(HWND owner, const std::string& host_name, std::string* alias);
};

}  // namespace ov::console
