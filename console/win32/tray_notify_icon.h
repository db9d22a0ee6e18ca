// The console's icon in the notification area. The shell forgets every icon
// when its taskbar is recreated (Explorer restarted); a hidden window of our
// own hears the shell's "TaskbarCreated" broadcast and adds the icon again.
#pragma once

#include <windows.h>

#include <shellapi.h>

namespace ov::console {

class CTrayNotifyIcon {
  public:
    CTrayNotifyIcon() = default;
    CTrayNotifyIcon(const CTrayNotifyIcon&) = delete;
    CTrayNotifyIcon& operator=(const CTrayNotifyIcon&) = delete;
    ~CTrayNotifyIcon() { Destroy(); }

    // Makes the recovery window, then adds the icon; false when either
    // failed. The tip is cut to the 63 characters the record holds.
    bool Create(HWND owner, UINT id, const char* tip, HICON icon, UINT callback_message);
    // Removes the icon and closes the recovery window.
    void Destroy();
    bool IsCreated() const { return m_created; }

  private:
    static LRESULT CALLBACK RecoveryProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    void OnTaskbarCreated();

    NOTIFYICONDATAA m_data{};
    bool m_created = false;
    bool m_hidden = false;
    HWND m_owner = nullptr;
    HWND m_recovery = nullptr;  // the CTrayRessurectionWnd
    UINT m_taskbar_created = 0;
};

}  // namespace ov::console
