#include "ovagentset/win32/agentset_dialog.h"

#include <string>

#include "console/model/colours.h"
#include "console/win32/dialog_helpers.h"
#include "console/win32/icon_button.h"
#include "ovagentset/model/agentset_texts.h"
#include "ovagentset/model/web_agent_rules.h"
#include "ovagentset/win32/connect_test_dialog.h"
#include "ovagentset/win32/resource.h"

namespace ov::agentset {
namespace {

using widgets::ControlText;
using widgets::ShowBox;

constexpr char kWatermark[] = "Taloran";

struct ChangeKeyDialog {
    HWND m_hwnd = nullptr;
    std::string key;

    INT_PTR OnMessage(UINT msg, WPARAM wp, LPARAM) {
        if (msg == WM_INITDIALOG) {
            ::SendDlgItemMessageA(m_hwnd, IDC_NEW_KEY, EM_LIMITTEXT, kMaxKeyInput, 0);
            ::SendDlgItemMessageA(m_hwnd, IDC_KEY_AGAIN, EM_LIMITTEXT, kMaxKeyInput, 0);
            return TRUE;
        }
        if (msg != WM_COMMAND)
            return FALSE;
        if (LOWORD(wp) == IDOK) {
            const std::string typed = ControlText(m_hwnd, IDC_NEW_KEY);
            if (Refusal no = CheckNewKey(typed, ControlText(m_hwnd, IDC_KEY_AGAIN))) {
                ShowBox(m_hwnd, no.message, "", MB_OK | MB_ICONQUESTION);
                return TRUE;
            }
            key = typed;
            const int answer = ShowBox(m_hwnd, text::kConfirmKey, "", MB_YESNO | MB_ICONQUESTION);
            ::EndDialog(m_hwnd, answer == IDYES ? IDOK : IDCANCEL);
            return TRUE;
        }
        if (LOWORD(wp) == IDCANCEL) {
            ::EndDialog(m_hwnd, IDCANCEL);
            return TRUE;
        }
        return FALSE;
    }
};

class WebAgentWindow {
  public:
    HWND m_hwnd = nullptr;

    WebAgentWindow(HINSTANCE module, console::WebAgentSettings* record)
        : m_module(module),
          m_record(record),
          m_master(Text(record->MasterURL)),
          m_backup(Text(record->SlaveURL)),
          m_key(Text(record->szKey)),
          m_direct(record->binternet != 0) {}

    INT_PTR OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
        switch (msg) {
            case WM_INITDIALOG:
                OnInit();
                return FALSE;
            case WM_COMMAND:
                if (HIWORD(wp) != BN_CLICKED)
                    return FALSE;
                OnCommand(LOWORD(wp));
                return TRUE;
            case WM_DRAWITEM:
                return console::DrawOwnedButton(m_buttons, lp) ? TRUE : FALSE;
            case WM_PAINT:
                OnPaint();
                return TRUE;
            case WM_CLOSE:
                ::EndDialog(m_hwnd, IDCANCEL);
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
        m_icon = static_cast<HICON>(::LoadImageA(m_module, MAKEINTRESOURCEA(IDI_AGENTSET),
                                                 IMAGE_ICON, 32, 32, LR_DEFAULTCOLOR));
        ::SendMessageA(m_hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_icon));
        ::SendMessageA(m_hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_icon));
        const int ids[2] = {IDOK, IDCANCEL};
        const UINT icons[2] = {IDI_OK, IDI_CANCEL};
        const COLORREF hover = console::DarkerHoverColour(::GetSysColor(COLOR_BTNFACE));
        for (int i = 0; i < 2; ++i) {
            m_buttons[i].Attach(m_hwnd, ids[i]);
            m_buttons[i].SetColour(console::IconButton::kHoverBack, hover, false);
            m_buttons[i].SetIcon(icons[i], m_module);
        }
        // Enter cancels: an address typed by mistake is never taken
        // without a click on OK.
        ::SendMessageA(m_hwnd, DM_SETDEFID, IDCANCEL, 0);
        Show();
    }

    // The fields from the values last taken.
    void Show() {
        ::SetDlgItemTextA(m_hwnd, IDC_MASTER_URL, m_master.c_str());
        ::SetDlgItemTextA(m_hwnd, IDC_BACKUP_URL, m_backup.c_str());
        ::SetDlgItemTextA(m_hwnd, IDC_KEY, m_key.c_str());
        ::CheckDlgButton(m_hwnd, IDC_DIRECT, m_direct ? BST_CHECKED : BST_UNCHECKED);
    }

    // The values from the fields.
    void Take() {
        m_master = ControlText(m_hwnd, IDC_MASTER_URL);
        m_backup = ControlText(m_hwnd, IDC_BACKUP_URL);
        m_direct = ::IsDlgButtonChecked(m_hwnd, IDC_DIRECT) == BST_CHECKED;
    }

    void OnCommand(int id) {
        switch (id) {
            case IDOK: {
                Take();
                if (Refusal no = AcceptSettings(m_master, m_backup, m_direct, m_record)) {
                    ShowBox(m_hwnd, no.message, "", MB_OK | MB_ICONINFORMATION);
                    if (no.message == text::kEqualUrls)
                        ::SetDlgItemTextA(m_hwnd, IDC_BACKUP_URL, "");
                    return;
                }
                ::EndDialog(m_hwnd, IDOK);
                return;
            }
            case IDCANCEL:
                ::EndDialog(m_hwnd, IDCANCEL);
                return;
            case IDC_TEST: {
                Take();
                std::string urls[2];
                if (Refusal no = CheckTest(m_master, m_backup, urls)) {
                    ShowBox(m_hwnd, no.message, "", MB_OK | MB_ICONINFORMATION);
                    return;
                }
                ShowConnectTest(m_module, m_hwnd, urls);
                return;
            }
            case IDC_CHANGE_KEY: {
                ChangeKeyDialog ask;
                if (::DialogBoxParamA(m_module, MAKEINTRESOURCEA(IDD_CHANGE_KEY), m_hwnd,
                                      widgets::DialogProc<ChangeKeyDialog>,
                                      reinterpret_cast<LPARAM>(&ask)) == IDOK) {
                    m_key = ask.key;
                    StoreKey(m_key, m_record);
                }
                Show();
                return;
            }
            default:
                return;
        }
    }

    // "Taloran", embossed, left of the OK button.
    void OnPaint() {
        PAINTSTRUCT ps;
        HDC dc = ::BeginPaint(m_hwnd, &ps);
        RECT ok{};
        ::GetWindowRect(::GetDlgItem(m_hwnd, IDOK), &ok);
        ::MapWindowPoints(nullptr, m_hwnd, reinterpret_cast<POINT*>(&ok), 2);
        RECT area{10, ok.top, ok.left, ok.bottom};
        HFONT font =
            ::CreateFontA(24, 0, 0, 0, 700, TRUE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                          CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, "Arial");
        HGDIOBJ old = ::SelectObject(dc, font);
        ::SetBkMode(dc, TRANSPARENT);
        const UINT format = DT_SINGLELINE | DT_VCENTER | DT_LEFT;
        RECT light = area;
        ::OffsetRect(&light, 1, 1);
        ::SetTextColor(dc, ::GetSysColor(COLOR_BTNHIGHLIGHT));
        ::DrawTextA(dc, kWatermark, -1, &light, format);
        ::SetTextColor(dc, ::GetSysColor(COLOR_BTNSHADOW));
        ::DrawTextA(dc, kWatermark, -1, &area, format);
        ::SelectObject(dc, old);
        ::DeleteObject(font);
        ::EndPaint(m_hwnd, &ps);
    }

    HINSTANCE m_module;
    console::WebAgentSettings* m_record;
    std::string m_master, m_backup, m_key;
    bool m_direct;
    HICON m_icon = nullptr;
    console::IconButton m_buttons[2];
};

}  // namespace

void RunWebAgentDialog(HINSTANCE module, console::WebAgentSettings* record) {
    WebAgentWindow window(module, record);
    ::DialogBoxParamA(module, MAKEINTRESOURCEA(IDD_WEB_AGENT), ::GetActiveWindow(),
                      widgets::DialogProc<WebAgentWindow>, reinterpret_cast<LPARAM>(&window));
}

}  // namespace ov::agentset
