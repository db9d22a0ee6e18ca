// The tray menu: owner-drawn items with a 16x16 icon each, and a dark bar
// down the left side whose bitmap sits at its bottom.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace ov::console {

class SideBarMenu {
  public:
    SideBarMenu(int side_bar_width, UINT bitmap_id, int bitmap_height, COLORREF bar_colour);
    ~SideBarMenu();
    SideBarMenu(const SideBarMenu&) = delete;
    SideBarMenu& operator=(const SideBarMenu&) = delete;

    void AddItem(UINT command, const std::string& text, UINT icon_id);
    // Shows the menu with its top-left corner at (x, y); its commands go to
    // owner as WM_COMMAND. Returns when the menu has closed.
    void Track(HWND owner, int x, int y);

    // The owner forwards these while the menu is open; true when they were
    // the menu's.
    bool OnMeasureItem(MEASUREITEMSTRUCT* mis);
    bool OnDrawItem(const DRAWITEMSTRUCT* dis);

  private:
    struct Item {
        UINT command;
        std::string text;
        HICON icon;
    };
    static constexpr int kMinItemHeight = 20;
    HFONT MenuFont() const;

    HMENU m_menu;
    int m_side_bar_width;
    int m_bitmap_height;
    COLORREF m_bar_colour;
    HBITMAP m_bitmap;
    HFONT m_font = nullptr;
    int m_item_height = 0;
    int m_menu_height = 0;
    std::vector<Item> m_items;
};

}  // namespace ov::console
