// Drives a running ovconsole.exe for the UI test: finds its windows, sends
// the tray callback, commands, clicks and keys, and reads control texts and
// list view rows back. One command a line on standard input, one answer a
// line on standard output (texts as the console holds them, GBK).
//
//   wait KIND SECONDS        ok HWND | timeout     (KIND: frame main password
//                                                   alias recovery menu)
//   exists KIND              yes | no
//   rect KIND [ID]           rect LEFT TOP RIGHT BOTTOM (of the window or a control)
//   text KIND ID             text TEXT   (ID 0: the window's own title)
//   settext KIND ID TEXT     ok
//   click KIND ID            ok          (posted: the console may block)
//   enabled KIND ID          yes | no
//   list KIND ID             list N<TAB>name<TAB>address...
//   columns KIND ID          columns OUTER W0 W1<TAB>TITLE0<TAB>TITLE1
//   tray ID MOUSEMSG         ok          (the tray callback, posted to the frame)
//   command ID               ok          (WM_COMMAND posted to the frame)
//   key KIND VK              ok          (key down and up posted)
//   close KIND               ok          (WM_CLOSE posted)
//   cursor X Y               ok
//   trayicon modify|delete   ok | failed (Shell_NotifyIcon on the console's icon)
//   taskbarcreated           ok          (the shell's broadcast, sent to the console)
//   windows                  windows<TAB>CLASS:TITLE... of the console's visible
//                            top-level windows
//   check KIND ID 0|1        ok          (a check box)
//   combo KIND ID INDEX      ok          (a drop-down list's choice)
//   select KIND ID ROW...    ok          (exactly these list view rows selected)
//   rows KIND ID             rows N<TAB>c0|c1|...  (every column of every row)
//   allcolumns KIND ID       columns W0 W1 ...<TAB>TITLE0<TAB>TITLE1...
//   filedialog PATH          ok          (types PATH into the open file dialog, OK)
//
// KIND also names the windows of the setup libraries: setup adduser
// edituser newpw addid editid port web key test filedialog. Controls are
// found on the pages inside a window too (the shown page first), and a
// click goes to the dialog that holds the control.
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr UINT kTrayCallback = WM_USER + 256;
constexpr UINT kTrayId = 130;

// The windows of the setup libraries, by their titles.
struct Titled {
    const char* kind;
    const char* title;
};
constexpr Titled kTitled[] = {
    {"setup", "高级配置窗口"},    {"adduser", "增加新用户"},
    {"edituser", "修改帐号信息"}, {"newpw", "修改密码"},
    {"addid", "增加用户ID"},      {"editid", "修改用户ID"},
    {"port", "更改端口"},         {"web", " 配置"},
    {"key", "更改密码"},          {"test", ""},
};

// The common open and save dialogs: a dialog with a file name field.
struct FileDialogSearch {
    HWND found = nullptr;
};
HWND FileNameField(HWND dialog) {
    for (int id : {1148, 1152})
        if (HWND field = ::GetDlgItem(dialog, id))
            return field;
    return nullptr;
}
BOOL CALLBACK FindFileDialog(HWND hwnd, LPARAM lp) {
    char cls[64] = {};
    ::GetClassNameA(hwnd, cls, sizeof cls);
    if (std::strcmp(cls, "#32770") == 0 && ::IsWindowVisible(hwnd) && FileNameField(hwnd)) {
        reinterpret_cast<FileDialogSearch*>(lp)->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

HWND Find(const std::string& kind) {
    for (const Titled& t : kTitled)
        if (kind == t.kind) {
            HWND hwnd = ::FindWindowA("#32770", t.title);
            return hwnd && ::IsWindowVisible(hwnd) ? hwnd : nullptr;
        }
    if (kind == "filedialog") {
        FileDialogSearch search;
        ::EnumWindows(FindFileDialog, reinterpret_cast<LPARAM>(&search));
        return search.found;
    }
    if (kind == "frame")
        return ::FindWindowA("OVConsoleMainFrame", nullptr);
    if (kind == "main")
        return ::FindWindowA("#32770", "ORVIK Gateway控制台 - 主配置");
    if (kind == "password")
        return ::FindWindowA("#32770", "密码输入");
    if (kind == "alias")
        return ::FindWindowA("#32770", "系统设置");
    if (kind == "recovery")
        return ::FindWindowA(nullptr, "CTrayNotifyIcon Resurrection Notification Window");
    if (kind == "menu") {
        HWND menu = ::FindWindowA("#32768", nullptr);
        return menu && ::IsWindowVisible(menu) ? menu : nullptr;
    }
    return nullptr;
}

struct DescendantSearch {
    int id;
    HWND visible = nullptr;
    HWND any = nullptr;
};
BOOL CALLBACK FindDescendant(HWND hwnd, LPARAM lp) {
    auto* search = reinterpret_cast<DescendantSearch*>(lp);
    if (::GetDlgCtrlID(hwnd) != search->id)
        return TRUE;
    if (!search->any)
        search->any = hwnd;
    if (::IsWindowVisible(hwnd)) {
        search->visible = hwnd;
        return FALSE;
    }
    return TRUE;
}

// A control of the window, also one on a page (a child dialog) inside it:
// the shown one when several pages have the id.
HWND Control(HWND window, int id) {
    if (id == 0)
        return window;
    if (HWND direct = ::GetDlgItem(window, id))
        return direct;
    DescendantSearch search{id};
    ::EnumChildWindows(window, FindDescendant, reinterpret_cast<LPARAM>(&search));
    return search.visible ? search.visible : search.any;
}

std::string WindowText(HWND hwnd) {
    char buffer[1024] = {};
    DWORD_PTR result = 0;
    ::SendMessageTimeoutA(hwnd, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer),
                          SMTO_ABORTIFHUNG, 5000, &result);
    return buffer;
}

// Memory in the console's process for the list view messages that fill a
// buffer the caller names.
class RemoteBuffer {
  public:
    RemoteBuffer(HWND hwnd, size_t size) : m_size(size) {
        DWORD pid = 0;
        ::GetWindowThreadProcessId(hwnd, &pid);
        m_process =
            ::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
        if (m_process)
            m_address = ::VirtualAllocEx(m_process, nullptr, size, MEM_COMMIT, PAGE_READWRITE);
    }
    ~RemoteBuffer() {
        if (m_address)
            ::VirtualFreeEx(m_process, m_address, 0, MEM_RELEASE);
        if (m_process)
            ::CloseHandle(m_process);
    }
    bool ok() const { return m_address != nullptr; }
    char* address() const { return static_cast<char*>(m_address); }
    bool Write(size_t offset, const void* data, size_t n) {
        return ::WriteProcessMemory(m_process, address() + offset, data, n, nullptr);
    }
    bool Read(size_t offset, void* data, size_t n) {
        return ::ReadProcessMemory(m_process, address() + offset, data, n, nullptr);
    }

  private:
    HANDLE m_process = nullptr;
    void* m_address = nullptr;
    size_t m_size;
};

LRESULT Send(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    DWORD_PTR result = 0;
    ::SendMessageTimeoutA(hwnd, msg, wp, lp, SMTO_ABORTIFHUNG, 5000, &result);
    return LRESULT(result);
}

std::string ItemText(HWND list, RemoteBuffer& remote, int row, int column) {
    constexpr size_t kTextOffset = 256;
    LVITEMA item{};
    item.iSubItem = column;
    item.pszText = remote.address() + kTextOffset;
    item.cchTextMax = 256;
    remote.Write(0, &item, sizeof item);
    Send(list, LVM_GETITEMTEXTA, WPARAM(row), reinterpret_cast<LPARAM>(remote.address()));
    char text[257] = {};
    remote.Read(kTextOffset, text, 256);
    return text;
}

std::string ColumnTitle(HWND list, RemoteBuffer& remote, int column) {
    constexpr size_t kTextOffset = 256;
    LVCOLUMNA col{};
    col.mask = LVCF_TEXT;
    col.pszText = remote.address() + kTextOffset;
    col.cchTextMax = 256;
    remote.Write(0, &col, sizeof col);
    Send(list, LVM_GETCOLUMNA, WPARAM(column), reinterpret_cast<LPARAM>(remote.address()));
    char text[257] = {};
    remote.Read(kTextOffset, text, 256);
    return text;
}

bool TrayIcon(DWORD action) {
    NOTIFYICONDATAA data{};
    data.cbSize = NOTIFYICONDATAA_V1_SIZE;
    data.hWnd = Find("frame");
    data.uID = kTrayId;
    data.uFlags = 0;
    return data.hWnd && ::Shell_NotifyIconA(action, &data);
}

struct WindowList {
    DWORD pid;
    std::string out;
};

BOOL CALLBACK ListWindow(HWND hwnd, LPARAM lp) {
    auto* list = reinterpret_cast<WindowList*>(lp);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(hwnd, &pid);
    if (pid != list->pid || !::IsWindowVisible(hwnd))
        return TRUE;
    char cls[128] = {};
    ::GetClassNameA(hwnd, cls, sizeof cls);
    list->out += std::string("\t") + cls + ":" + WindowText(hwnd);
    return TRUE;
}

std::string Rest(std::istringstream& in) {
    std::string rest;
    std::getline(in, rest);
    if (!rest.empty() && rest.front() == ' ')
        rest.erase(0, 1);
    return rest;
}

std::string Execute(const std::string& line) {
    std::istringstream in(line);
    std::string cmd, kind;
    in >> cmd;
    if (cmd == "wait") {
        double seconds = 0;
        in >> kind >> seconds;
        for (DWORD start = ::GetTickCount();;) {
            if (HWND hwnd = Find(kind)) {
                std::ostringstream out;
                out << "ok " << reinterpret_cast<uintptr_t>(hwnd);
                return out.str();
            }
            if (::GetTickCount() - start > DWORD(seconds * 1000))
                return "timeout";
            ::Sleep(100);
        }
    }
    if (cmd == "cursor") {
        int x = 0, y = 0;
        in >> x >> y;
        return ::SetCursorPos(x, y) ? "ok" : "failed";
    }
    if (cmd == "trayicon") {
        std::string what;
        in >> what;
        return TrayIcon(what == "delete" ? NIM_DELETE : NIM_MODIFY) ? "ok" : "failed";
    }
    if (cmd == "taskbarcreated") {
        HWND recovery = Find("recovery");
        if (!recovery)
            return "no window";
        Send(recovery, ::RegisterWindowMessageA("TaskbarCreated"), 0, 0);
        return "ok";
    }
    if (cmd == "tray") {
        unsigned id = 0, mouse = 0;
        in >> id >> mouse;
        HWND frame = Find("frame");
        return frame && ::PostMessageA(frame, kTrayCallback, id, mouse) ? "ok" : "no window";
    }
    if (cmd == "command") {
        unsigned id = 0;
        in >> id;
        HWND frame = Find("frame");
        return frame && ::PostMessageA(frame, WM_COMMAND, id, 0) ? "ok" : "no window";
    }
    if (cmd == "filedialog") {
        // Types the path into an open common file dialog and confirms it.
        HWND dialog = Find("filedialog");
        if (!dialog)
            return "no window";
        const std::string path = Rest(in);
        HWND field = FileNameField(dialog);
        DWORD_PTR result = 0;
        ::SendMessageTimeoutA(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()),
                              SMTO_ABORTIFHUNG, 5000, &result);
        return ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                              reinterpret_cast<LPARAM>(::GetDlgItem(dialog, IDOK)))
                   ? "ok"
                   : "failed";
    }
    if (cmd == "windows") {
        WindowList list{0, "windows"};
        if (HWND frame = Find("frame"))
            ::GetWindowThreadProcessId(frame, &list.pid);
        ::EnumWindows(ListWindow, reinterpret_cast<LPARAM>(&list));
        return list.out;
    }

    in >> kind;
    HWND window = Find(kind);
    if (cmd == "exists")
        return window ? "yes" : "no";
    if (!window)
        return "no window";
    if (cmd == "rect") {
        int id = 0;
        in >> id;
        HWND target = Control(window, id);
        RECT rc{};
        if (!target || !::GetWindowRect(target, &rc))
            return "no control";
        std::ostringstream out;
        out << "rect " << rc.left << " " << rc.top << " " << rc.right << " " << rc.bottom;
        return out.str();
    }
    if (cmd == "close")
        return ::PostMessageA(window, WM_CLOSE, 0, 0) ? "ok" : "failed";
    if (cmd == "key") {
        unsigned vk = 0;
        in >> vk;
        ::PostMessageA(window, WM_KEYDOWN, vk, 1);
        ::PostMessageA(window, WM_KEYUP, vk, 1 | (1u << 30) | (1u << 31));
        return "ok";
    }
    int id = 0;
    in >> id;
    HWND control = Control(window, id);
    if (!control)
        return "no control";
    if (cmd == "text")
        return "text " + WindowText(control);
    if (cmd == "enabled")
        return ::IsWindowEnabled(control) ? "yes" : "no";
    if (cmd == "settext") {
        std::string text = Rest(in);
        DWORD_PTR result = 0;
        ::SendMessageTimeoutA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                              SMTO_ABORTIFHUNG, 5000, &result);
        return "ok";
    }
    if (cmd == "click") {
        // To the dialog that holds the control: a page's buttons go to the page.
        return ::PostMessageA(::GetParent(control) ? ::GetParent(control) : window, WM_COMMAND,
                              MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control))
                   ? "ok"
                   : "failed";
    }
    if (cmd == "check") {
        int on = 0;
        in >> on;
        Send(control, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
        return "ok";
    }
    if (cmd == "combo") {
        int index = 0;
        in >> index;
        Send(control, CB_SETCURSEL, WPARAM(index), 0);
        return "ok";
    }
    if (cmd == "select") {
        RemoteBuffer remote(control, sizeof(LVITEMA));
        if (!remote.ok())
            return "no memory";
        LVITEMA item{};
        item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        item.state = 0;
        remote.Write(0, &item, sizeof item);
        Send(control, LVM_SETITEMSTATE, WPARAM(-1), reinterpret_cast<LPARAM>(remote.address()));
        for (int row; in >> row;) {
            item.state = LVIS_SELECTED;
            remote.Write(0, &item, sizeof item);
            Send(control, LVM_SETITEMSTATE, WPARAM(row),
                 reinterpret_cast<LPARAM>(remote.address()));
        }
        return "ok";
    }
    if (cmd == "rows" || cmd == "allcolumns") {
        RemoteBuffer remote(control, 1024);
        if (!remote.ok())
            return "no memory";
        HWND header = reinterpret_cast<HWND>(Send(control, LVM_GETHEADER, 0, 0));
        const int columns = header ? int(Send(header, HDM_GETITEMCOUNT, 0, 0)) : 0;
        std::ostringstream out;
        if (cmd == "rows") {
            const int n = int(Send(control, LVM_GETITEMCOUNT, 0, 0));
            out << "rows " << n;
            for (int i = 0; i < n; ++i) {
                out << "\t";
                for (int c = 0; c < columns; ++c)
                    out << (c ? "|" : "") << ItemText(control, remote, i, c);
            }
        } else {
            out << "columns";
            for (int c = 0; c < columns; ++c) out << " " << Send(control, LVM_GETCOLUMNWIDTH, c, 0);
            for (int c = 0; c < columns; ++c) out << "\t" << ColumnTitle(control, remote, c);
        }
        return out.str();
    }
    if (cmd == "list" || cmd == "columns") {
        RemoteBuffer remote(control, 1024);
        if (!remote.ok())
            return "no memory";
        std::ostringstream out;
        if (cmd == "list") {
            const int n = int(Send(control, LVM_GETITEMCOUNT, 0, 0));
            out << "list " << n;
            for (int i = 0; i < n; ++i)
                out << "\t" << ItemText(control, remote, i, 0) << "\t"
                    << ItemText(control, remote, i, 1);
        } else {
            RECT rc{};
            ::GetWindowRect(control, &rc);
            out << "columns " << (rc.right - rc.left) << " "
                << Send(control, LVM_GETCOLUMNWIDTH, 0, 0) << " "
                << Send(control, LVM_GETCOLUMNWIDTH, 1, 0) << "\t"
                << ColumnTitle(control, remote, 0) << "\t" << ColumnTitle(control, remote, 1);
        }
        return out.str();
    }
    return "unknown command";
}

}  // namespace

int main() {
    std::string line;
    while (std::getline(std::cin, line)) {
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
        if (line.empty())
            continue;
        if (line == "quit")
            break;
        std::string answer;
        try {
            answer = Execute(line);
        } catch (...) {
            answer = "error";
        }
        std::cout << answer << "\n" << std::flush;
    }
    return 0;
}
