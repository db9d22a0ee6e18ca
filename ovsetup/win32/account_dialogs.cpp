#include "ovsetup/win32/account_dialogs.h"

#include "console/win32/dialog_helpers.h"
#include "ovsetup/model/port_check.h"
#include "ovsetup/model/setup_texts.h"
#include "ovsetup/win32/resource.h"

namespace ov::setup {
namespace {

using widgets::ControlText;
using widgets::ShowBox;

void Limit(HWND dialog, int id, size_t max) {
    ::SendDlgItemMessageA(dialog, id, EM_LIMITTEXT, WPARAM(max), 0);
}

struct NewPasswordDialog {
    HWND m_hwnd = nullptr;
    std::string password;

    INT_PTR OnMessage(UINT msg, WPARAM wp, LPARAM) {
        if (msg == WM_INITDIALOG) {
            Limit(m_hwnd, IDC_NEW_PASSWORD, kMaxAccountPassword);
            Limit(m_hwnd, IDC_NEW_PASSWORD_AGAIN, kMaxAccountPassword);
            return TRUE;
        }
        if (msg != WM_COMMAND)
            return FALSE;
        if (LOWORD(wp) == IDOK) {
            const std::string first = ControlText(m_hwnd, IDC_NEW_PASSWORD);
            if (Refusal no = CheckNewPassword(first, ControlText(m_hwnd, IDC_NEW_PASSWORD_AGAIN))) {
                ShowBox(m_hwnd, no.message, no.caption, MB_OK);
                return TRUE;
            }
            password = first;
            ::EndDialog(m_hwnd, IDOK);
            return TRUE;
        }
        if (LOWORD(wp) == IDCANCEL) {
            ::EndDialog(m_hwnd, IDCANCEL);
            return TRUE;
        }
        return FALSE;
    }
};

struct AccountDialog {
    HWND m_hwnd = nullptr;
    HINSTANCE module;
    const AccountsPage* page;
    std::optional<size_t> row;
    AccountEntry entry;

    INT_PTR OnMessage(UINT msg, WPARAM wp, LPARAM) {
        if (msg == WM_INITDIALOG) {
            OnInit();
            return TRUE;
        }
        if (msg != WM_COMMAND)
            return FALSE;
        switch (LOWORD(wp)) {
            case IDOK:
                OnOk();
                return TRUE;
            case IDCANCEL:
                ::EndDialog(m_hwnd, IDCANCEL);
                return TRUE;
            case IDC_CHANGE_PASSWORD: {
                NewPasswordDialog ask;
                if (::DialogBoxParamA(module, MAKEINTRESOURCEA(IDD_NEW_PASSWORD), m_hwnd,
                                      widgets::DialogProc<NewPasswordDialog>,
                                      reinterpret_cast<LPARAM>(&ask)) == IDOK)
                    ::SetDlgItemTextA(m_hwnd, IDC_PASSWORD, ask.password.c_str());
                return TRUE;
            }
            default:
                return FALSE;
        }
    }

    void OnInit() {
        Limit(m_hwnd, IDC_NAME, kMaxAccountName);
        Limit(m_hwnd, IDC_PASSWORD, kMaxAccountPassword);
        Limit(m_hwnd, IDC_DESCRIPTION, kMaxAccountDescription);
        HWND state = ::GetDlgItem(m_hwnd, IDC_STATE);
        ::SendMessageA(state, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text::kEnabled));
        ::SendMessageA(state, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text::kDisabled));
        ::SendMessageA(state, CB_SETCURSEL, entry.enabled ? 0 : 1, 0);
        if (!row)
            return;
        ::SetDlgItemTextA(m_hwnd, IDC_NAME, entry.name.c_str());
        ::SetDlgItemTextA(m_hwnd, IDC_PASSWORD, entry.password.c_str());
        ::SetDlgItemTextA(m_hwnd, IDC_DESCRIPTION, entry.description.c_str());
        if (!page->CanEditAll(*row))
            for (int id : {IDC_NAME, IDC_STATE, IDC_DESCRIPTION})
                ::EnableWindow(::GetDlgItem(m_hwnd, id), FALSE);
    }

    void OnOk() {
        AccountEntry typed;
        typed.name = ControlText(m_hwnd, IDC_NAME);
        typed.password = ControlText(m_hwnd, IDC_PASSWORD);
        typed.enabled = ControlText(m_hwnd, IDC_STATE) != text::kDisabled;
        typed.description = ControlText(m_hwnd, IDC_DESCRIPTION);
        Outcome check = row ? page->CheckEdit(*row, typed) : page->CheckAdd(typed);
        if (!check.ok) {
            Say(m_hwnd, check);
            return;
        }
        entry = typed;
        ::EndDialog(m_hwnd, IDOK);
    }
};

struct TrustedIdDialog {
    HWND m_hwnd = nullptr;
    TrustedIdsPage* page;
    std::optional<size_t> row;
    Outcome done;
    std::optional<size_t> select;

    INT_PTR OnMessage(UINT msg, WPARAM wp, LPARAM) {
        if (msg == WM_INITDIALOG) {
            Limit(m_hwnd, IDC_ID_DESCRIPTION, kMaxTrustedIdDescription);
            if (row)
                ::SetDlgItemTextA(m_hwnd, IDC_ID_DESCRIPTION,
                                  page->List()[*row].Description().c_str());
            return TRUE;
        }
        if (msg != WM_COMMAND)
            return FALSE;
        switch (LOWORD(wp)) {
            case IDC_ID_BROWSE: {
                std::string path;
                if (widgets::ChooseFile(m_hwnd, false, "ID Files (*.id)|*.id||", "", &path))
                    ::SetDlgItemTextA(m_hwnd, IDC_ID_PATH, path.c_str());
                return TRUE;
            }
            case IDOK: {
                const std::string path = ControlText(m_hwnd, IDC_ID_PATH);
                const std::string description = ControlText(m_hwnd, IDC_ID_DESCRIPTION);
                Outcome r = row ? page->Edit(*row, path, description)
                                : page->Add(path, description, &select);
                // A refused ID file keeps the dialog open; anything else
                // (a failed save too) is told once the dialog is closed.
                if (!r.ok && r.message != text::kSaveFailed && r.message != text::kIdGone) {
                    Say(m_hwnd, r);
                    return TRUE;
                }
                done = r;
                ::EndDialog(m_hwnd, IDOK);
                return TRUE;
            }
            case IDCANCEL:
                ::EndDialog(m_hwnd, IDCANCEL);
                return TRUE;
            default:
                return FALSE;
        }
    }
};

struct PortDialog {
    HWND m_hwnd = nullptr;
    uint32_t port;

    INT_PTR OnMessage(UINT msg, WPARAM wp, LPARAM) {
        if (msg == WM_INITDIALOG) {
            Limit(m_hwnd, IDC_PORT, 5);
            ::SetDlgItemTextA(m_hwnd, IDC_PORT, std::to_string(port).c_str());
            return TRUE;
        }
        if (msg != WM_COMMAND)
            return FALSE;
        if (LOWORD(wp) == IDOK) {
            std::string message;
            if (!AcceptPort(ControlText(m_hwnd, IDC_PORT), &port, &message)) {
                ShowBox(m_hwnd, message, "", MB_OK | MB_ICONEXCLAMATION);
                return TRUE;
            }
            ::EndDialog(m_hwnd, IDOK);
            return TRUE;
        }
        if (LOWORD(wp) == IDCANCEL) {
            ::EndDialog(m_hwnd, IDCANCEL);
            return TRUE;
        }
        return FALSE;
    }
};

template <class T>
bool Run(HINSTANCE module, HWND owner, int id, T* dialog) {
    return ::DialogBoxParamA(module, MAKEINTRESOURCEA(id), owner, widgets::DialogProc<T>,
                             reinterpret_cast<LPARAM>(dialog)) == IDOK;
}

}  // namespace

void Say(HWND owner, const Outcome& o) {
    if (o.message.empty())
        return;
    UINT icon = o.icon == Outcome::Icon::Information   ? MB_ICONINFORMATION
                : o.icon == Outcome::Icon::Exclamation ? MB_ICONEXCLAMATION
                                                       : 0;
    ShowBox(owner, o.message, o.caption, MB_OK | icon);
}

bool AskAccount(HINSTANCE module, HWND owner, const AccountsPage& page, std::optional<size_t> row,
                AccountEntry* entry) {
    AccountDialog dialog{nullptr, module, &page, row, row ? page.Entry(*row) : AccountEntry{}};
    if (!Run(module, owner, row ? IDD_EDIT_ACCOUNT : IDD_ADD_ACCOUNT, &dialog))
        return false;
    *entry = dialog.entry;
    return true;
}

bool AskTrustedId(HINSTANCE module, HWND owner, TrustedIdsPage* page, std::optional<size_t> row,
                  Outcome* done, std::optional<size_t>* select) {
    TrustedIdDialog dialog{nullptr, page, row, {}, {}};
    if (!Run(module, owner, row ? IDD_EDIT_ID : IDD_ADD_ID, &dialog))
        return false;
    *done = dialog.done;
    *select = dialog.select;
    return true;
}

bool AskPort(HINSTANCE module, HWND owner, uint32_t* port) {
    PortDialog dialog{nullptr, *port};
    if (!Run(module, owner, IDD_PORT, &dialog))
        return false;
    *port = dialog.port;
    return true;
}

}  // namespace ov::setup
