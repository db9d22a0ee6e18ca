#include "console/win32/main_config_dialog.h"

#include <commctrl.h>

#include "common/account_file.h"
#include "console/model/colours.h"
#include "console/model/config_commands.h"
#include "console/model/console_texts.h"
#include "console/win32/console_app.h"
#include "console/win32/dialog_helpers.h"
#include "console/win32/resource.h"
#include "console/win32/small_dialogs.h"
#include "platform/dynamic_library.h"
#include "platform/process.h"

namespace ov::console {
namespace {

constexpr int kButtonIds[] = {IDOK,           IDCANCEL,    IDC_ADVANCED_CONFIG, IDC_SYSTEM_SETTINGS,
                              IDC_WEB_CONFIG, IDC_REFRESH, IDC_START_STOP};
constexpr UINT kButtonIcons[] = {
    IDI_OK,         IDI_CANCEL,  IDI_ADVANCED_CONFIG, IDI_SYSTEM_SETTINGS,
    IDI_WEB_CONFIG, IDI_REFRESH, IDI_START_SERVICE};

// The dialog's side of the configuration buttons: message boxes owned by
// the dialog, the two small dialogs and the libraries loaded for one call.
class DialogUi : public ConsoleUi {
  public:
    explicit DialogUi(HWND dialog) : m_dialog(dialog) {}

    void ShowMessage(const std::string& text, const std::string& caption,
                     MessageIcon icon) override {
        ShowBox(m_dialog, text, caption, MB_OK | static_cast<UINT>(icon));
    }
    CallResult CallShowCfg(const char* library_file, void* piece) override {
        platform::DynamicLibrary library;
        if (!library.LoadPath(library_file))
            return CallResult::NotLoaded;
        using ShowCfgFunction = void (*)(void*);
        auto show = library.Function<ShowCfgFunction>("ShowCfg");
        if (show == nullptr)
            return CallResult::NoEntry;
        show(piece);
        return CallResult::Called;
    }
    bool AskPassword(std::string* password) override {
        return PasswordDialog::Ask(m_dialog, password);
    }
    bool AskAlias(const std::string& host_name, std::string* alias) override {
        return AliasDialog::Ask(m_dialog, host_name, alias);
    }
    std::string HostName() override {
        // The name as a 50-byte buffer holds it.
        return platform::HostName().substr(0, 49);
    }

  private:
    HWND m_dialog;
};

}  // namespace

MainConfigDialog::MainConfigDialog(ConsoleApp* app) : m_app(app) {
    m_app->SetDialogOpen(true);
    ReadSettings(&m_settings, SettingsPath());
}

MainConfigDialog::~MainConfigDialog() {
    m_reader.Detach();
    m_app->SetDialogWindow(nullptr);
    m_app->SetDialogOpen(false);
}

void MainConfigDialog::Run(HWND owner) {
    ::DialogBoxParamA(m_app->instance(), MAKEINTRESOURCEA(IDD_MAIN_CONFIG), owner, DialogProc,
                      reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK MainConfigDialog::DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_INITDIALOG) {
        ::SetWindowLongPtrA(hwnd, DWLP_USER, lp);
        reinterpret_cast<MainConfigDialog*>(lp)->m_hwnd = hwnd;
    }
    auto* self = reinterpret_cast<MainConfigDialog*>(::GetWindowLongPtrA(hwnd, DWLP_USER));
    try {
        if (self)
            return self->OnMessage(msg, wp, lp);
    } catch (...) {
    }
    return FALSE;
}

INT_PTR MainConfigDialog::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_INITDIALOG:
            OnInit();
            // The focus on the start/stop button, not on the status text,
            // which would show all selected.
            ::SetFocus(::GetDlgItem(m_hwnd, IDC_START_STOP));
            return FALSE;
        case WM_COMMAND:
            if (HIWORD(wp) == BN_CLICKED) {
                OnCommand(LOWORD(wp));
                return TRUE;
            }
            return FALSE;
        case WM_DRAWITEM:
            return DrawOwnedButton(m_buttons, lp) ? TRUE : FALSE;
        case WM_CLOSE:
            ::EndDialog(m_hwnd, IDCANCEL);
            return TRUE;
        case WM_DESTROY:
            m_app->SetDialogWindow(nullptr);
            return FALSE;
        default:
            return FALSE;
    }
}

void MainConfigDialog::OnInit() {
    HICON icon = ::LoadIconA(m_app->instance(), MAKEINTRESOURCEA(IDI_CONSOLE));
    ::SendMessageA(m_hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    ::SendMessageA(m_hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    m_status = ::GetDlgItem(m_hwnd, IDC_STATUS);
    m_list = ::GetDlgItem(m_hwnd, IDC_COMPUTER_LIST);

    RECT rc{};
    ::GetWindowRect(m_list, &rc);
    const int width = rc.right - rc.left;
    const char* titles[] = {text::kColumnName, text::kColumnAddress};
    const int widths[] = {width / 3, width * 2 / 3};
    widgets::AddListColumns(m_list, titles, widths, 2);

    // Every button lights up a little under the pointer.
    const COLORREF hover = HoverColour(::GetSysColor(COLOR_BTNFACE));
    for (int i = 0; i < kButtons; ++i) {
        m_buttons[i].Attach(m_hwnd, kButtonIds[i]);
        m_buttons[i].SetColour(IconButton::kHoverBack, hover, false);
        m_buttons[i].SetIcon(kButtonIcons[i]);
    }
    Refresh();
    m_app->SetDialogWindow(m_hwnd);
}

void MainConfigDialog::Refresh() {
    ListView_DeleteAllItems(m_list);
    m_reader.Attach();
    const bool running = m_reader.IsAttached();
    ::SetWindowTextA(m_status, StatusText(running));
    ::SetDlgItemTextA(m_hwnd, IDC_START_STOP, StartStopText(running));
    m_buttons[kStartStop].SetIcon(running ? IDI_STOP_SERVICE : IDI_START_SERVICE);
    if (!running)
        return;
    ComputerListView view = ReadComputerList(&m_reader, &m_entries);
    if (view.too_many)
        ShowBox(m_hwnd, text::kTooManyComputers, text::kConsoleCaption, MB_OK);
    if (view.close_dialog) {
        ::PostMessageA(m_hwnd, WM_CLOSE, 0, 0);
        return;
    }
    for (size_t i = 0; i < view.rows.size(); ++i) {
        LVITEMA item{};
        item.mask = LVIF_TEXT;
        item.iItem = int(i);
        item.pszText = const_cast<char*>(view.rows[i].name.c_str());
        const int row =
            int(::SendMessageA(m_list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
        LVITEMA sub{};
        sub.iSubItem = 1;
        sub.pszText = const_cast<char*>(view.rows[i].address.c_str());
        ::SendMessageA(m_list, LVM_SETITEMTEXTA, WPARAM(row), reinterpret_cast<LPARAM>(&sub));
    }
}

void MainConfigDialog::OnCommand(int id) {
    const ConfigPaths paths{SettingsPath(), AccountFilePath()};
    DialogUi ui(m_hwnd);
    switch (id) {
        case IDOK:
        case IDCANCEL:
            ::EndDialog(m_hwnd, id);
            break;
        case IDC_REFRESH:
            Refresh();
            break;
        case IDC_START_STOP: {
            ::HCURSOR old = ::SetCursor(::LoadCursorA(nullptr, MAKEINTRESOURCEA(32514)));
            ToggleGateway(&m_reader, &m_app->service(), [this](const char* message) {
                ShowBox(m_hwnd, message, text::kConsoleCaption, MB_OK);
            });
            ::SetCursor(old);
            Refresh();
            break;
        }
        case IDC_WEB_CONFIG:
            WebConfiguration(&m_settings, paths, &ui);
            break;
        case IDC_ADVANCED_CONFIG:
            AdvancedConfiguration(&m_settings, paths, &ui);
            break;
        case IDC_SYSTEM_SETTINGS:
            SystemSettings(&m_settings, paths, &ui);
            break;
        default:
            break;
    }
}

}  // namespace ov::console
