// The console program: single instance, start-up, the hidden main frame with
// the tray icon and menu, the configuration dialog, exit.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "console/model/service_controller.h"
#include "console/win32/side_bar_menu.h"
#include "console/win32/tray_notify_icon.h"
#include "console/win32/win32_service_system.h"

namespace ov::console {

// A message box owned by owner; headless (OVG_NO_DIALOGS) a line on
// standard error, answered with its default button.
int ShowBox(HWND owner, const std::string& text, const std::string& caption, UINT flags);

// ovconsole.exe -startservice / -stopservice, started elevated by a console
// that may not: the one action, no window of its own; 0 when it succeeded.
int RunServiceHelper(bool start);

// ovconsole.exe -configure: the configuration window alone, started
// elevated by a console whose user may not write the data files.
inline constexpr char kConfigureSwitch[] = "-configure";

class ConsoleApp : public MessageSink {
  public:
    explicit ConsoleApp(HINSTANCE instance);
    ~ConsoleApp() override;
    ConsoleApp(const ConsoleApp&) = delete;
    ConsoleApp& operator=(const ConsoleApp&) = delete;

    // The whole program; its exit code.
    int Run();
    // The configuration window alone (-configure); its exit code.
    int RunConfiguration();

    void Show(const std::string& text, const std::string& caption, bool exclamation) override;

    HINSTANCE instance() const { return m_instance; }
    ServiceController& service() { return m_service; }

    // What tells the rest of the program that the configuration dialog is
    // open: set while its object lives, its window once initialised.
    void SetDialogOpen(bool open) { m_dialog_open = open; }
    void SetDialogWindow(HWND hwnd) { m_dialog = hwnd; }

  private:
    static LRESULT CALLBACK FrameProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    LRESULT OnFrameMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    bool CreateFrame();
    void OnTrayNotify(WPARAM id, LPARAM mouse);
    void OpenConfiguration();
    // The configuration in an elevated console of its own, not waited for:
    // the tray stays live. False when the user refused (and was told).
    void OpenElevatedConfiguration();
    void Exit();

    HINSTANCE m_instance;
    Win32ServiceSystem m_system;
    ServiceController m_service;
    HWND m_frame = nullptr;  // CMainFrame: never shown
    HICON m_frame_icon = nullptr;
    CTrayNotifyIcon m_tray;
    SideBarMenu* m_menu = nullptr;  // while the tray menu is open
    bool m_dialog_open = false;
    HWND m_dialog = nullptr;
    HANDLE m_elevated_configuration = nullptr;  // while it runs
};

}  // namespace ov::console
