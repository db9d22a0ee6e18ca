#include "console/win32/tray_notify_icon.h"

#include <cstring>

namespace ov::console {
namespace {

constexpr char kRecoveryClass[] = "CTrayRessurectionWnd";
constexpr char kRecoveryTitle[] = "CTrayNotifyIcon Resurrection Notification Window";

}  // namespace

bool CTrayNotifyIcon::Create(HWND owner, UINT id, const char* tip, HICON icon,
                             UINT callback_message) {
    Destroy();
    HINSTANCE instance = ::GetModuleHandleA(nullptr);
    m_taskbar_created = ::RegisterWindowMessageA("TaskbarCreated");
    WNDCLASSA wc{};
    wc.lpfnWndProc = RecoveryProc;
    wc.hInstance = instance;
    wc.lpszClassName = kRecoveryClass;
    ::RegisterClassA(&wc);  // fails harmlessly when already registered
    // A hidden top-level window: the shell's broadcast reaches only those.
    m_recovery = ::CreateWindowExA(0, kRecoveryClass, kRecoveryTitle, WS_OVERLAPPEDWINDOW, 0, 0, 10,
                                   10, nullptr, nullptr, instance, this);
    if (m_recovery == nullptr)
        return false;
    m_owner = owner;
    // The first version of the record (88 bytes in a 32-bit program): every
    // shell takes it, and the console needs nothing the later ones add.
    std::memset(&m_data, 0, sizeof m_data);
    m_data.cbSize = NOTIFYICONDATAA_V1_SIZE;
    m_data.hWnd = owner;
    m_data.uID = id;
    m_data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    m_data.uCallbackMessage = callback_message;
    m_data.hIcon = icon;
    ::lstrcpynA(m_data.szTip, tip, 64);
    m_created = ::Shell_NotifyIconA(NIM_ADD, &m_data) != FALSE;
    m_hidden = false;
    return m_created;
}

void CTrayNotifyIcon::Destroy() {
    if (m_recovery != nullptr) {
        ::DestroyWindow(m_recovery);
        m_recovery = nullptr;
    }
    if (m_created) {
        ::Shell_NotifyIconA(NIM_DELETE, &m_data);
        m_created = false;
    }
}

void CTrayNotifyIcon::OnTaskbarCreated() {
    if (!m_created || m_hidden)
        return;
    m_hidden = true;
    ::Shell_NotifyIconA(NIM_DELETE, &m_data);
    // Shown again even if the shell was not ready yet: its next broadcast
    // then tries once more.
    ::Shell_NotifyIconA(NIM_ADD, &m_data);
    m_hidden = false;
}

LRESULT CALLBACK CTrayNotifyIcon::RecoveryProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    try {
        if (msg == WM_NCCREATE) {
            auto* cs = reinterpret_cast<CREATESTRUCTA*>(lp);
            ::SetWindowLongPtrA(hwnd, GWLP_USERDATA,
                                reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
        }
        auto* self = reinterpret_cast<CTrayNotifyIcon*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
        if (self != nullptr && msg == self->m_taskbar_created && msg != 0) {
            self->OnTaskbarCreated();
            return 0;
        }
    } catch (...) {
    }
    return ::DefWindowProcA(hwnd, msg, wp, lp);
}

}  // namespace ov::console
