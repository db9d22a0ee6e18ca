// Small pieces every dialog of ours needs: the text of a control, message
// boxes that tests and servers without a desktop answer on their own, the
// common file dialogs, and a dialog procedure that hands each message to
// its object and lets no exception out.
#pragma once

#include <windows.h>

#include <string>

namespace ov::widgets {

std::string ControlText(HWND dialog, int id);

// The running program's name without its extension, as message boxes
// without a caption of their own carry it.
std::string ProgramTitle();

// MessageBoxA owned by owner (an empty caption: ProgramTitle()). Headless
// (OVG_NO_DIALOGS set) the box is one line on standard error and answers
// with its default button: OK, or Yes for a Yes/No question.
int ShowBox(HWND owner, const std::string& text, const std::string& caption, UINT flags);

// Gives a report-style list view full-row selection, grid lines and n
// left-aligned columns with the given titles and widths in pixels.
void AddListColumns(HWND list, const char* const* titles, const int* widths, int n);

// The open or save dialog with a filter in the "Name (*.x)|*.x||" form and
// a default file name; false when the user cancelled. save asks before
// overwriting.
bool ChooseFile(HWND owner, bool save, const char* filter, const char* default_name,
                std::string* path);

// A dialog procedure for class T: WM_INITDIALOG's parameter is the T,
// whose m_hwnd is set and whose OnMessage(msg, wp, lp) gets every message.
// The activation context of a library's own manifest (resource 2), active
// while the object lives: a library's windows get the common controls it
// asks for whatever program loaded it.
class OwnActivationContext {
  public:
    explicit OwnActivationContext(HMODULE module);
    ~OwnActivationContext();
    OwnActivationContext(const OwnActivationContext&) = delete;
    OwnActivationContext& operator=(const OwnActivationContext&) = delete;

  private:
    HANDLE m_context = INVALID_HANDLE_VALUE;
    ULONG_PTR m_cookie = 0;
    bool m_active = false;
};

template <class T>
INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_INITDIALOG) {
        ::SetWindowLongPtrA(hwnd, DWLP_USER, lp);
        reinterpret_cast<T*>(lp)->m_hwnd = hwnd;
    }
    auto* self = reinterpret_cast<T*>(::GetWindowLongPtrA(hwnd, DWLP_USER));
    try {
        if (self)
            return self->OnMessage(msg, wp, lp);
    } catch (...) {
    }
    return FALSE;
}

}  // namespace ov::widgets
