#include "ovsetup/win32/setup_dialog.h"

#include <commctrl.h>

#include <optional>
#include <string>
#include <vector>

#include "console/model/colours.h"
#include "console/win32/dialog_helpers.h"
#include "console/win32/icon_button.h"
#include "ovsetup/model/setup_pages.h"
#include "ovsetup/model/setup_texts.h"
#include "ovsetup/win32/account_dialogs.h"
#include "ovsetup/win32/resource.h"

namespace ov::setup {
namespace {

using widgets::ShowBox;

using widgets::AddListColumns;

// Replaces every row with cells (one vector of texts per row).
void FillList(HWND list, const std::vector<std::vector<std::string>>& rows) {
    ListView_DeleteAllItems(list);
    for (size_t r = 0; r < rows.size(); ++r) {
        LVITEMA item{};
        item.mask = LVIF_TEXT;
        item.iItem = int(r);
        item.pszText = const_cast<char*>(rows[r][0].c_str());
        const int at =
            int(::SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
        for (size_t c = 1; c < rows[r].size(); ++c) {
            LVITEMA sub{};
            sub.iSubItem = int(c);
            sub.pszText = const_cast<char*>(rows[r][c].c_str());
            ::SendMessageA(list, LVM_SETITEMTEXTA, WPARAM(at), reinterpret_cast<LPARAM>(&sub));
        }
    }
}

std::vector<size_t> SelectedRows(HWND list) {
    std::vector<size_t> rows;
    for (int i = ListView_GetNextItem(list, -1, LVNI_SELECTED); i >= 0;
         i = ListView_GetNextItem(list, i, LVNI_SELECTED))
        rows.push_back(size_t(i));
    return rows;
}

void SelectOnly(HWND list, size_t row) {
    ListView_SetItemState(list, -1, 0, LVIS_SELECTED);
    ListView_SetItemState(list, int(row), LVIS_SELECTED | LVIS_FOCUSED,
                          LVIS_SELECTED | LVIS_FOCUSED);
    ListView_EnsureVisible(list, int(row), FALSE);
}

// A page with a switch (the ID check or the Guest account) over a list.
class ListPage {
  public:
    HWND m_hwnd = nullptr;

    ListPage(HINSTANCE module, console::ServerSettings* settings)
        : m_module(module), m_settings(settings) {}
    virtual ~ListPage() = default;

    INT_PTR OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
        switch (msg) {
            case WM_INITDIALOG:
                m_list = ::GetDlgItem(m_hwnd, IDC_LIST);
                OnInit();
                ShowSwitch();
                return FALSE;
            case WM_COMMAND:
                if (HIWORD(wp) != BN_CLICKED)
                    return FALSE;
                if (LOWORD(wp) == IDC_SWITCH) {
                    Toggle();
                    ShowSwitch();
                } else {
                    OnCommand(LOWORD(wp));
                }
                return TRUE;
            case WM_NOTIFY: {
                auto* hdr = reinterpret_cast<NMHDR*>(lp);
                if (hdr->idFrom == IDC_LIST && hdr->code == NM_DBLCLK &&
                    ListView_GetItemCount(m_list) > 0)
                    OnCommand(IDC_EDIT);
                return FALSE;
            }
            case WM_DESTROY:
                if (m_icon)
                    ::DestroyIcon(m_icon);
                m_icon = nullptr;
                return FALSE;
            default:
                return FALSE;
        }
    }

  protected:
    virtual void OnInit() = 0;
    virtual void OnCommand(int id) = 0;
    virtual SwitchView View() const = 0;
    virtual void Toggle() = 0;
    virtual void Rebuild() = 0;

    // Backup and Restore act alike on both list pages.
    template <class Page>
    void BackupOrRestore(int id, Page& page, const char* backup_name) {
        const char* filter = "Dat Files (*.dat)|*.dat||";
        std::string path;
        if (id == IDC_BACKUP) {
            if (widgets::ChooseFile(m_hwnd, true, filter, backup_name, &path))
                Say(m_hwnd, page.Backup(path));
            return;
        }
        if (!widgets::ChooseFile(m_hwnd, false, filter, "", &path))
            return;
        Outcome r = page.Restore(path);
        Rebuild();
        Say(m_hwnd, r);
    }

    void ShowSwitch() {
        SwitchView view = View();
        ::SetDlgItemTextA(m_hwnd, IDC_SWITCH, view.button.c_str());
        ::SetDlgItemTextA(m_hwnd, IDC_STATUS_TEXT, view.status.c_str());
        HICON icon = static_cast<HICON>(::LoadImageA(m_module, MAKEINTRESOURCEA(view.icon),
                                                     IMAGE_ICON, 32, 32, LR_DEFAULTCOLOR));
        ::SendDlgItemMessageA(m_hwnd, IDC_STATUS_ICON, STM_SETICON, WPARAM(icon), 0);
        if (m_icon)
            ::DestroyIcon(m_icon);
        m_icon = icon;
    }

    HINSTANCE m_module;
    console::ServerSettings* m_settings;
    HWND m_list = nullptr;
    HICON m_icon = nullptr;
};

class TrustedIdPageView : public ListPage {
  public:
    using ListPage::ListPage;

  private:
    void OnInit() override {
        const char* titles[] = {"鉴权序号", "ID", "种类", "描述"};
        const int widths[] = {60, 50, 70, 150};
        AddListColumns(m_list, titles, widths, 4);
        m_page.Open();
        Rebuild();
    }
    SwitchView View() const override { return IdCheckView(m_settings->flg_encrypt); }
    void Toggle() override { m_settings->flg_encrypt = Toggled(m_settings->flg_encrypt); }

    void Rebuild() override {
        std::vector<std::vector<std::string>> rows;
        for (const auto& r : m_page.Rows()) rows.push_back({r.serial, r.id, r.kind, r.description});
        FillList(m_list, rows);
    }

    void OnCommand(int id) override {
        const std::vector<size_t> selected = SelectedRows(m_list);
        switch (id) {
            case IDC_ADD:
            case IDC_EDIT: {
                std::optional<size_t> row;
                if (id == IDC_EDIT) {
                    if (selected.empty()) {
                        ShowBox(m_hwnd, text::kSelectRowToEdit, text::kNotice, MB_OK);
                        return;
                    }
                    row = selected.front();
                }
                Outcome done;
                std::optional<size_t> select;
                if (!AskTrustedId(m_module, m_hwnd, &m_page, row, &done, &select))
                    return;
                Rebuild();
                Say(m_hwnd, done);
                if (select && *select < m_page.List().size())
                    SelectOnly(m_list, *select);
                return;
            }
            case IDC_DELETE: {
                Outcome r = m_page.Delete(selected);
                Rebuild();
                Say(m_hwnd, r);
                return;
            }
            case IDC_BACKUP:
            case IDC_RESTORE:
                BackupOrRestore(id, m_page, kTrustedIdBackupName);
                return;
            default:
                return;
        }
    }

    TrustedIdsPage m_page;
};

class AccountsPageView : public ListPage {
  public:
    using ListPage::ListPage;

  private:
    void OnInit() override {
        const char* titles[] = {"用户名", "密码", "状态", "描述"};
        const int widths[] = {60, 50, 50, 200};
        AddListColumns(m_list, titles, widths, 4);
        // The page is made while the setup window opens: a damaged or
        // missing account file is told then.
        Outcome opened = m_page.Open();
        Rebuild();
        Say(::GetParent(m_hwnd), opened);
    }
    // Without the console's flag (a caller that gave none) the switch
    // works on a flag of its own.
    int32_t& Guest() const { return m_settings->bGuest ? *m_settings->bGuest : m_own_guest; }
    SwitchView View() const override { return GuestView(Guest()); }
    void Toggle() override { Guest() = Toggled(Guest()); }

    void Rebuild() override {
        std::vector<std::vector<std::string>> rows;
        for (const auto& r : m_page.Rows())
            rows.push_back({r.name, r.password, r.state, r.description});
        FillList(m_list, rows);
    }

    void OnCommand(int id) override {
        // Without a list (the file could not be read) the commands do nothing.
        if (!m_page.HasList())
            return;
        const std::vector<size_t> selected = SelectedRows(m_list);
        switch (id) {
            case IDC_ADD: {
                AccountEntry entry;
                if (!AskAccount(m_module, m_hwnd, m_page, std::nullopt, &entry))
                    return;
                Outcome r = m_page.Add(entry);
                Rebuild();
                Say(m_hwnd, r);
                return;
            }
            case IDC_EDIT: {
                if (selected.empty()) {
                    ShowBox(m_hwnd, text::kSelectRowToEdit, text::kNotice, MB_OK);
                    return;
                }
                AccountEntry entry;
                if (!AskAccount(m_module, m_hwnd, m_page, selected.front(), &entry))
                    return;
                Outcome r = m_page.Edit(selected.front(), entry);
                Rebuild();
                Say(m_hwnd, r);
                return;
            }
            case IDC_DELETE: {
                Outcome check = m_page.CheckDelete(selected);
                if (!check.ok) {
                    Say(m_hwnd, check);
                    return;
                }
                if (ShowBox(m_hwnd, text::kReallyDelete, "", MB_OKCANCEL) != IDOK)
                    return;
                Outcome r = m_page.Delete(selected);
                Rebuild();
                Say(m_hwnd, r);
                return;
            }
            case IDC_BACKUP:
            case IDC_RESTORE:
                BackupOrRestore(id, m_page, kAccountBackupName);
                return;
            default:
                return;
        }
    }

    AccountsPage m_page;
    mutable int32_t m_own_guest = 0;
};

class PortsPageView {
  public:
    HWND m_hwnd = nullptr;

    PortsPageView(HINSTANCE module, console::ServerSettings* settings)
        : m_module(module), m_settings(settings) {}

    INT_PTR OnMessage(UINT msg, WPARAM wp, LPARAM) {
        if (msg == WM_INITDIALOG) {
            SetPort(IDC_CMD_PORT, uint32_t(m_settings->CmdPort));
            SetPort(IDC_PROXY_PORT, uint32_t(m_settings->ProxyPort));
            return FALSE;
        }
        if (msg != WM_COMMAND || HIWORD(wp) != BN_CLICKED)
            return FALSE;
        const int field = LOWORD(wp) == IDC_CMD_CHANGE     ? IDC_CMD_PORT
                          : LOWORD(wp) == IDC_PROXY_CHANGE ? IDC_PROXY_PORT
                                                           : 0;
        if (field == 0)
            return FALSE;
        uint32_t port = uint32_t(std::stoul("0" + widgets::ControlText(m_hwnd, field)));
        if (AskPort(m_module, m_hwnd, &port)) {
            SetPort(field, port);
            // Into the settings at once, like the switches: a window that
            // ends without its close (the console quitting under it) keeps
            // the port it accepted.
            Store();
        }
        return TRUE;
    }

    // When a port is accepted and when the window closes: both fields go
    // back into the settings, changed or not.
    void Store() {
        m_settings->CmdPort = int32_t(std::stoul("0" + widgets::ControlText(m_hwnd, IDC_CMD_PORT)));
        m_settings->ProxyPort =
            int32_t(std::stoul("0" + widgets::ControlText(m_hwnd, IDC_PROXY_PORT)));
    }

  private:
    void SetPort(int field, uint32_t port) {
        ::SetDlgItemTextA(m_hwnd, field, std::to_string(port).c_str());
    }

    HINSTANCE m_module;
    console::ServerSettings* m_settings;
};

class SetupWindow {
  public:
    HWND m_hwnd = nullptr;

    SetupWindow(HINSTANCE module, console::ServerSettings* settings)
        : m_module(module),
          m_ids(module, settings),
          m_ports(module, settings),
          m_accounts(module, settings) {}

    INT_PTR OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
        switch (msg) {
            case WM_INITDIALOG:
                OnInit();
                return TRUE;
            case WM_COMMAND:
                if (HIWORD(wp) != BN_CLICKED)
                    return FALSE;
                switch (LOWORD(wp)) {
                    case IDOK:
                    case IDCANCEL:
                        Close();
                        return TRUE;
                    case IDC_SIDE_IDS:
                        Show(0);
                        return TRUE;
                    case IDC_SIDE_PORTS:
                        Show(1);
                        return TRUE;
                    case IDC_SIDE_USERS:
                        Show(2);
                        return TRUE;
                    default:
                        return FALSE;
                }
            case WM_DRAWITEM:
                return console::DrawOwnedButton(m_buttons, lp) ? TRUE : FALSE;
            case WM_CLOSE:
                Close();
                return TRUE;
            case WM_DESTROY:
                if (m_icon)
                    ::DestroyIcon(m_icon);
                return FALSE;
            default:
                return FALSE;
        }
    }

  private:
    void OnInit() {
        m_icon = static_cast<HICON>(::LoadImageA(m_module, MAKEINTRESOURCEA(IDI_SETUP), IMAGE_ICON,
                                                 32, 32, LR_DEFAULTCOLOR));
        ::SendMessageA(m_hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_icon));
        ::SendMessageA(m_hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_icon));
        const int ids[] = {IDC_SIDE_IDS, IDC_SIDE_USERS, IDC_SIDE_PORTS, IDOK};
        const UINT icons[] = {IDI_ID_PAGE, IDI_USERS_PAGE, IDI_PORTS_PAGE, IDI_OK};
        const COLORREF hover = console::HoverColour(::GetSysColor(COLOR_BTNFACE));
        for (int i = 0; i < 4; ++i) {
            m_buttons[i].Attach(m_hwnd, ids[i]);
            m_buttons[i].SetColour(console::IconButton::kHoverBack, hover, false);
            m_buttons[i].SetIcon(icons[i], m_module);
        }

        // Every page at once, in this order, over the frame.
        RECT frame{};
        ::GetWindowRect(::GetDlgItem(m_hwnd, IDC_FRAME), &frame);
        ::MapWindowPoints(nullptr, m_hwnd, reinterpret_cast<POINT*>(&frame), 2);
        m_pages[0] = Create(IDD_TRUSTED_ID_PAGE, widgets::DialogProc<TrustedIdPageView>, &m_ids);
        m_pages[1] = Create(IDD_PORTS_PAGE, widgets::DialogProc<PortsPageView>, &m_ports);
        m_pages[2] = Create(IDD_ACCOUNTS_PAGE, widgets::DialogProc<AccountsPageView>, &m_accounts);
        for (HWND page : m_pages)
            if (page)
                ::SetWindowPos(page, nullptr, frame.left + 3, frame.top + 8,
                               frame.right - frame.left - 6, frame.bottom - frame.top - 11,
                               SWP_NOZORDER | SWP_NOACTIVATE);
        Show(0);
    }

    template <class T>
    HWND Create(int id, DLGPROC proc, T* page) {
        return ::CreateDialogParamA(m_module, MAKEINTRESOURCEA(id), m_hwnd, proc,
                                    reinterpret_cast<LPARAM>(page));
    }

    void Show(int index) {
        for (int i = 0; i < 3; ++i)
            if (m_pages[i] && i != index)
                ::ShowWindow(m_pages[i], SW_HIDE);
        if (m_pages[index])
            ::ShowWindow(m_pages[index], SW_SHOW);
    }

    void Close() {
        if (m_pages[1])
            m_ports.Store();
        ::EndDialog(m_hwnd, IDOK);
    }

    HINSTANCE m_module;
    HICON m_icon = nullptr;
    TrustedIdPageView m_ids;
    PortsPageView m_ports;
    AccountsPageView m_accounts;
    HWND m_pages[3] = {};
    console::IconButton m_buttons[4];
};

}  // namespace

void RunSetupDialog(HINSTANCE module, console::ServerSettings* settings) {
    SetupWindow window(module, settings);
    ::DialogBoxParamA(module, MAKEINTRESOURCEA(IDD_SETUP), ::GetActiveWindow(),
                      widgets::DialogProc<SetupWindow>, reinterpret_cast<LPARAM>(&window));
}

}  // namespace ov::setup
