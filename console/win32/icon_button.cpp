#include "console/win32/icon_button.h"

#include <commctrl.h>

#include <string>

namespace ov::console {
namespace {

constexpr UINT_PTR kSubclassId = 1;

}  // namespace

IconButton::~IconButton() {
    if (m_hwnd)
        ::RemoveWindowSubclass(m_hwnd, SubclassProc, kSubclassId);
    if (m_icon)
        ::DestroyIcon(m_icon);
}

bool IconButton::Attach(HWND dialog, int control_id) {
    m_hwnd = ::GetDlgItem(dialog, control_id);
    if (m_hwnd == nullptr)
        return false;
    const COLORREF face = ::GetSysColor(COLOR_BTNFACE), text = ::GetSysColor(COLOR_BTNTEXT);
    for (int i = 0; i < kColours; i += 2) {
        m_colours[i] = face;
        m_colours[i + 1] = text;
    }
    return ::SetWindowSubclass(m_hwnd, SubclassProc, kSubclassId,
                               reinterpret_cast<DWORD_PTR>(this)) != FALSE;
}

void IconButton::SetIcon(UINT icon_id, HINSTANCE module) {
    HICON icon = static_cast<HICON>(::LoadImageA(module ? module : ::GetModuleHandleA(nullptr),
                                                 MAKEINTRESOURCEA(icon_id), IMAGE_ICON, 16, 16,
                                                 LR_DEFAULTCOLOR));
    if (icon == nullptr)
        return;
    if (m_icon)
        ::DestroyIcon(m_icon);
    m_icon = icon;
    m_icon_size = {16, 16};
    if (m_hwnd)
        ::InvalidateRect(m_hwnd, nullptr, FALSE);
}

bool IconButton::SetColour(int index, COLORREF colour, bool repaint) {
    if (index < 0 || index >= kColours)
        return false;
    m_colours[index] = colour;
    if (repaint && m_hwnd)
        ::InvalidateRect(m_hwnd, nullptr, FALSE);
    return true;
}

void IconButton::Draw(const DRAWITEMSTRUCT* dis) {
    HDC dc = dis->hDC;
    RECT rc = dis->rcItem;
    const bool pressed = (dis->itemState & ODS_SELECTED) != 0;
    const bool focused = (dis->itemState & ODS_FOCUS) != 0;
    const bool disabled = (dis->itemState & ODS_DISABLED) != 0;
    const bool lit = m_mouse_over || pressed;

    COLORREF back = lit       ? m_colours[kHoverBack]
                    : focused ? m_colours[kFocusBack]
                              : m_colours[kNormalBack];
    COLORREF fore = lit ? m_colours[kHoverText] : m_colours[kNormalText];
    HBRUSH brush = ::CreateSolidBrush(back);
    ::FillRect(dc, &rc, brush);
    ::DeleteObject(brush);

    if (!m_flat || lit) {
        RECT edge = rc;
        ::DrawEdge(dc, &edge, pressed ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT);
    }
    if (!m_flat && focused) {
        RECT focus = rc;
        ::InflateRect(&focus, -3, -3);
        ::DrawFocusRect(dc, &focus);
    }

    const int shift = pressed ? 1 : 0;
    RECT text_rc = rc;
    if (m_icon) {
        const int x = rc.left + 3 + shift;
        const int y = rc.top + (rc.bottom - rc.top - m_icon_size.cy) / 2 + shift;
        ::DrawStateA(dc, nullptr, nullptr, reinterpret_cast<LPARAM>(m_icon), 0, x, y,
                     m_icon_size.cx, m_icon_size.cy, DST_ICON | (disabled ? DSS_DISABLED : 0));
        text_rc.left += 3 + m_icon_size.cx;
    }
    char caption[128] = {};
    ::GetWindowTextA(m_hwnd, caption, sizeof caption);
    ::OffsetRect(&text_rc, shift, shift);
    ::SetBkMode(dc, TRANSPARENT);
    HGDIOBJ old_font =
        ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageA(m_hwnd, WM_GETFONT, 0, 0)));
    const UINT format = DT_SINGLELINE | DT_CENTER | DT_VCENTER;
    if (disabled) {
        RECT emboss = text_rc;
        ::OffsetRect(&emboss, 1, 1);
        ::SetTextColor(dc, ::GetSysColor(COLOR_3DHILIGHT));
        ::DrawTextA(dc, caption, -1, &emboss, format);
        ::SetTextColor(dc, ::GetSysColor(COLOR_3DSHADOW));
    } else {
        ::SetTextColor(dc, fore);
    }
    ::DrawTextA(dc, caption, -1, &text_rc, format);
    ::SelectObject(dc, old_font);
}

LRESULT CALLBACK IconButton::SubclassProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR,
                                          DWORD_PTR ref) {
    auto* self = reinterpret_cast<IconButton*>(ref);
    try {
        switch (msg) {
            case WM_MOUSEMOVE:
                if (!self->m_mouse_over) {
                    self->m_mouse_over = true;
                    ::InvalidateRect(hwnd, nullptr, FALSE);
                    TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, hwnd, 0};
                    ::TrackMouseEvent(&track);
                }
                break;
            case WM_CAPTURECHANGED:
                // Our own press takes the mouse and gives it back; only
                // another window taking it ends the hover.
                if (lp == 0 || reinterpret_cast<HWND>(lp) == hwnd)
                    break;
                [[fallthrough]];
            case WM_MOUSELEAVE:
                if (self->m_mouse_over) {
                    self->m_mouse_over = false;
                    ::InvalidateRect(hwnd, nullptr, FALSE);
                }
                break;
            case WM_LBUTTONDBLCLK:
                // A quick second click is a click, not a double click.
                msg = WM_LBUTTONDOWN;
                break;
            default:
                break;
        }
    } catch (...) {
    }
    return ::DefSubclassProc(hwnd, msg, wp, lp);
}

}  // namespace ov::console
