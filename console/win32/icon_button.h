// A flat push button drawn by the console: an icon left of its caption, a
// lighter face while the pointer is over it, and a 3-D edge only then.
#pragma once

#include <windows.h>

namespace ov::console {

class IconButton {
  public:
    enum Colour {
        kHoverBack = 0,
        kHoverText = 1,
        kNormalBack = 2,
        kNormalText = 3,
        kFocusBack = 4,
        kFocusText = 5,  // kept, never drawn
        kColours = 6,
    };

    IconButton() = default;
    IconButton(const IconButton&) = delete;
    IconButton& operator=(const IconButton&) = delete;
    ~IconButton();

    // Takes over the dialog's owner-drawn button.
    bool Attach(HWND dialog, int control_id);
    HWND hwnd() const { return m_hwnd; }

    // The icon resource of module (null: the program's own file).
    void SetIcon(UINT icon_id, HINSTANCE module = nullptr);
    // False for an index above 5.
    bool SetColour(int index, COLORREF colour, bool repaint = true);
    // The dialog forwards its WM_DRAWITEM for this button.
    void Draw(const DRAWITEMSTRUCT* dis);

  private:
    static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id,
                                         DWORD_PTR self);

    HWND m_hwnd = nullptr;
    HICON m_icon = nullptr;
    SIZE m_icon_size{};
    COLORREF m_colours[kColours] = {};
    bool m_flat = true;
    bool m_mouse_over = false;
};

// A dialog's WM_DRAWITEM: draws the item if one of buttons owns it; false
// (not handled) otherwise.
template <size_t N>
bool DrawOwnedButton(IconButton (&buttons)[N], LPARAM lp) {
    auto* dis = reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
    for (IconButton& b : buttons)
        if (b.hwnd() == dis->hwndItem) {
            b.Draw(dis);
            return true;
        }
    return false;
}

}  // namespace ov::console
