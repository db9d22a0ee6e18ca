#include "console/win32/side_bar_menu.h"

#include <algorithm>

namespace ov::console {

SideBarMenu::SideBarMenu(int side_bar_width, UINT bitmap_id, int bitmap_height, COLORREF bar_colour)
    : m_menu(::CreatePopupMenu()),
      m_side_bar_width(side_bar_width),
      m_bitmap_height(bitmap_height),
      m_bar_colour(bar_colour),
      m_bitmap(static_cast<HBITMAP>(::LoadImageA(::GetModuleHandleA(nullptr),
                                                 MAKEINTRESOURCEA(bitmap_id), IMAGE_BITMAP, 0, 0,
                                                 LR_DEFAULTCOLOR))) {
    NONCLIENTMETRICSA metrics{};
    metrics.cbSize = sizeof metrics;
    if (::SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
        m_font = ::CreateFontIndirectA(&metrics.lfMenuFont);
}

SideBarMenu::~SideBarMenu() {
    for (auto& item : m_items)
        if (item.icon)
            ::DestroyIcon(item.icon);
    if (m_bitmap)
        ::DeleteObject(m_bitmap);
    if (m_font)
        ::DeleteObject(m_font);
    if (m_menu)
        ::DestroyMenu(m_menu);
}

HFONT SideBarMenu::MenuFont() const {
    return m_font ? m_font : static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
}

void SideBarMenu::AddItem(UINT command, const std::string& text, UINT icon_id) {
    HICON icon =
        static_cast<HICON>(::LoadImageA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(icon_id),
                                        IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
    m_items.push_back({command, text, icon});
    ::AppendMenuA(m_menu, MF_OWNERDRAW, command,
                  reinterpret_cast<LPCSTR>(static_cast<ULONG_PTR>(m_items.size() - 1)));
}

void SideBarMenu::Track(HWND owner, int x, int y) {
    // The owner must be in the foreground, or the menu would not close when
    // the user clicks elsewhere; the posted null message lets it close at
    // once after a choice.
    ::SetForegroundWindow(owner);
    ::TrackPopupMenu(m_menu, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON, x, y, 0, owner,
                     nullptr);
    ::PostMessageA(owner, WM_NULL, 0, 0);
}

bool SideBarMenu::OnMeasureItem(MEASUREITEMSTRUCT* mis) {
    if (mis->CtlType != ODT_MENU || mis->itemData >= m_items.size())
        return false;
    const Item& item = m_items[mis->itemData];
    HDC dc = ::GetDC(nullptr);
    HGDIOBJ old = ::SelectObject(dc, MenuFont());
    SIZE size{};
    ::GetTextExtentPoint32A(dc, item.text.c_str(), int(item.text.size()), &size);
    ::SelectObject(dc, old);
    ::ReleaseDC(nullptr, dc);
    mis->itemWidth = UINT(m_side_bar_width + size.cx + 26);
    mis->itemHeight = UINT(std::max<int>(size.cy, kMinItemHeight) + 4);
    m_item_height = int(mis->itemHeight);
    m_menu_height = m_item_height * int(m_items.size());
    return true;
}

bool SideBarMenu::OnDrawItem(const DRAWITEMSTRUCT* dis) {
    if (dis->CtlType != ODT_MENU || dis->itemData >= m_items.size())
        return false;
    const Item& item = m_items[dis->itemData];
    HDC dc = dis->hDC;
    RECT rc = dis->rcItem;
    const bool selected = (dis->itemState & ODS_SELECTED) != 0;

    RECT body = rc;
    body.left += m_side_bar_width;
    ::FillRect(dc, &body, ::GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_BTNFACE));
    if (selected)
        ::DrawEdge(dc, &body, BDR_RAISEDINNER, BF_RECT);
    if (item.icon)
        ::DrawIconEx(dc, body.left + 5, rc.top + 3, item.icon, 16, 16, 0, nullptr, DI_NORMAL);
    RECT text = body;
    text.left += 29;
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, ::GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_MENUTEXT));
    HGDIOBJ old_font = ::SelectObject(dc, MenuFont());
    ::DrawTextA(dc, item.text.c_str(), int(item.text.size()), &text,
                DT_SINGLELINE | DT_VCENTER | DT_LEFT);
    ::SelectObject(dc, old_font);

    // The side bar: its colour above the bitmap, the bitmap at the bottom of
    // the whole menu. Each item paints its own slice, so a single item that
    // is redrawn (the selection moved) keeps its part of the bar.
    RECT bar = {rc.left, rc.top, rc.left + m_side_bar_width, rc.bottom};
    HBRUSH brush = ::CreateSolidBrush(m_bar_colour);
    ::FillRect(dc, &bar, brush);
    ::DeleteObject(brush);
    if (m_bitmap) {
        const int bitmap_top = m_menu_height - m_bitmap_height;  // in menu coordinates
        const int item_top = int(dis->itemData) * m_item_height;
        const int from = std::max(item_top, bitmap_top);
        const int to = std::min(item_top + m_item_height, m_menu_height);
        if (to > from) {
            HDC mem = ::CreateCompatibleDC(dc);
            HGDIOBJ old_bitmap = ::SelectObject(mem, m_bitmap);
            ::BitBlt(dc, rc.left, rc.top + (from - item_top), m_side_bar_width, to - from, mem, 0,
                     from - bitmap_top, SRCCOPY);
            ::SelectObject(mem, old_bitmap);
            ::DeleteDC(mem);
        }
    }
    return true;
}

}  // namespace ov::console
