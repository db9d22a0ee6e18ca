#include "console/win32/small_dialogs.h"

#include "console/model/config_commands.h"
#include "console/win32/resource.h"

namespace ov::console {
namespace {

std::string ControlText(HWND dialog, int id) {
    char buffer[256] = {};
    ::GetDlgItemTextA(dialog, id, buffer, sizeof buffer);
    return buffer;
}

struct AliasState {
    std::string host_name;
    std::string* alias;
};

INT_PTR PasswordMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_INITDIALOG:
            ::SetWindowLongPtrA(hwnd, DWLP_USER, lp);
            ::SendDlgItemMessageA(hwnd, IDC_PASSWORD, EM_LIMITTEXT, kMaxPasswordInput, 0);
            ::SetFocus(::GetDlgItem(hwnd, IDC_PASSWORD));
            return FALSE;
        case WM_COMMAND:
            if (LOWORD(wp) == IDOK) {
                auto* password =
                    reinterpret_cast<std::string*>(::GetWindowLongPtrA(hwnd, DWLP_USER));
                *password = ControlText(hwnd, IDC_PASSWORD).substr(0, kMaxPasswordInput);
                ::EndDialog(hwnd, IDOK);
                return TRUE;
            }
            if (LOWORD(wp) == IDCANCEL) {
                ::EndDialog(hwnd, IDCANCEL);
                return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
    }
}

INT_PTR AliasMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_INITDIALOG: {
            ::SetWindowLongPtrA(hwnd, DWLP_USER, lp);
            auto* state = reinterpret_cast<AliasState*>(lp);
            ::SendDlgItemMessageA(hwnd, IDC_HOST_NAME, EM_LIMITTEXT, kMaxAliasInput, 0);
            ::SendDlgItemMessageA(hwnd, IDC_ALIAS, EM_LIMITTEXT, kMaxAliasInput, 0);
            ::SetDlgItemTextA(hwnd, IDC_HOST_NAME, state->host_name.c_str());
            ::SetDlgItemTextA(hwnd, IDC_ALIAS, state->alias->c_str());
            ::SetFocus(::GetDlgItem(hwnd, IDC_ALIAS));
            return FALSE;
        }
        case WM_COMMAND:
            if (LOWORD(wp) == IDOK) {
                auto* state = reinterpret_cast<AliasState*>(::GetWindowLongPtrA(hwnd, DWLP_USER));
                // The model cuts it to its field, at a whole character.
                *state->alias = ControlText(hwnd, IDC_ALIAS);
                ::EndDialog(hwnd, IDOK);
                return TRUE;
            }
            if (LOWORD(wp) == IDCANCEL) {
                ::EndDialog(hwnd, IDCANCEL);
                return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
    }
}

// No exception leaves a dialog procedure.
INT_PTR CALLBACK PasswordProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    try {
        return PasswordMessage(hwnd, msg, wp, lp);
    } catch (...) {
        return FALSE;
    }
}

INT_PTR CALLBACK AliasProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    try {
        return AliasMessage(hwnd, msg, wp, lp);
    } catch (...) {
        return FALSE;
    }
}

}  // namespace

bool PasswordDialog::Ask(HWND owner, std::string* password) {
    return ::DialogBoxParamA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_PASSWORD), owner,
                             PasswordProc, reinterpret_cast<LPARAM>(password)) == IDOK;
}

bool AliasDialog::Ask(HWND owner, const std::string& host_name, std::string* alias) {
    AliasState state{host_name, alias};
    return ::DialogBoxParamA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_ALIAS), owner,
                             AliasProc, reinterpret_cast<LPARAM>(&state)) == IDOK;
}

}  // namespace ov::console
