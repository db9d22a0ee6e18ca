#include "console/win32/dialog_helpers.h"

#include <commctrl.h>
#include <commdlg.h>

#include <vector>

#include "platform/message_box.h"

namespace ov::widgets {

std::string ControlText(HWND dialog, int id) {
    HWND control = ::GetDlgItem(dialog, id);
    if (control == nullptr)
        return {};
    std::vector<char> buffer(size_t(::GetWindowTextLengthA(control)) + 1, '\0');
    ::GetWindowTextA(control, buffer.data(), int(buffer.size()));
    return buffer.data();
}

void AddListColumns(HWND list, const char* const* titles, const int* widths, int n) {
    ListView_SetExtendedListViewStyle(list, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
    for (int i = 0; i < n; ++i) {
        LVCOLUMNA column{};
        column.mask = LVCF_FMT | LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        column.fmt = LVCFMT_LEFT;
        column.cx = widths[i];
        column.pszText = const_cast<char*>(titles[i]);
        column.iSubItem = i;
        ::SendMessageA(list, LVM_INSERTCOLUMNA, WPARAM(i), reinterpret_cast<LPARAM>(&column));
    }
}

std::string ProgramTitle() {
    char path[MAX_PATH] = {};
    const DWORD n = ::GetModuleFileNameA(nullptr, path, sizeof path);
    std::string name(path, n < sizeof path ? n : 0);
    const size_t slash = name.find_last_of("\\/");
    if (slash != std::string::npos)
        name.erase(0, slash + 1);
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0)
        name.erase(dot);
    return name;
}

int ShowBox(HWND owner, const std::string& text, const std::string& caption, UINT flags) {
    const std::string title = caption.empty() ? ProgramTitle() : caption;
    if (platform::Headless()) {
        platform::ShowMessageBox(text, title, flags);
        return (flags & MB_TYPEMASK) == MB_YESNO ? IDYES : IDOK;
    }
    return ::MessageBoxA(owner, text.c_str(), title.c_str(), flags);
}

bool ChooseFile(HWND owner, bool save, const char* filter, const char* default_name,
                std::string* path) {
    std::string filters = filter;
    for (char& c : filters)
        if (c == '|')
            c = '\0';
    char file[MAX_PATH] = {};
    lstrcpynA(file, default_name ? default_name : "", sizeof file);
    OPENFILENAMEA ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = filters.c_str();
    ofn.lpstrFile = file;
    ofn.nMaxFile = sizeof file;
    ofn.Flags = OFN_HIDEREADONLY | OFN_NOCHANGEDIR |
                (save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST);
    const BOOL ok = save ? ::GetSaveFileNameA(&ofn) : ::GetOpenFileNameA(&ofn);
    if (!ok)
        return false;
    *path = file;
    return true;
}

OwnActivationContext::OwnActivationContext(HMODULE module) {
    ACTCTXA context{};
    context.cbSize = sizeof context;
    context.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
    context.hModule = module;
    context.lpResourceName = MAKEINTRESOURCEA(2);
    m_context = ::CreateActCtxA(&context);
    // Without it the windows still work, with the host's controls.
    if (m_context != INVALID_HANDLE_VALUE)
        m_active = ::ActivateActCtx(m_context, &m_cookie) != FALSE;
}

OwnActivationContext::~OwnActivationContext() {
    if (m_active)
        ::DeactivateActCtx(0, m_cookie);
    if (m_context != INVALID_HANDLE_VALUE)
        ::ReleaseActCtx(m_context);
}

}  // namespace ov::widgets
