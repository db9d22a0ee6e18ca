// The main configuration dialog: the gateway's state with the start/stop
// button, the computers it publishes, and the three configuration buttons.
#pragma once

#include <windows.h>

#include <array>

#include "common/computer_records.h"
#include "console/model/computer_view.h"
#include "console/model/gateway_settings.h"
#include "console/model/shared_list_reader.h"
#include "console/win32/icon_button.h"

namespace ov::console {

class ConsoleApp;

class MainConfigDialog {
  public:
    // Reads the settings from OV_G.ini.
    explicit MainConfigDialog(ConsoleApp* app);
    ~MainConfigDialog();
    MainConfigDialog(const MainConfigDialog&) = delete;
    MainConfigDialog& operator=(const MainConfigDialog&) = delete;

    // Modal; returns when the dialog has closed.
    void Run(HWND owner);

  private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    INT_PTR OnMessage(UINT msg, WPARAM wp, LPARAM lp);
    void OnInit();
    void OnCommand(int id);
    void Refresh();

    enum Button { kOk, kCancel, kAdvanced, kSystem, kWeb, kRefresh, kStartStop, kButtons };

    ConsoleApp* m_app;
    std::array<ComputerEntry, kMaxShownComputers> m_entries{};
    SharedListReader m_reader;
    GatewaySettings m_settings;
    IconButton m_buttons[kButtons];
    HWND m_hwnd = nullptr;
    HWND m_status = nullptr;
    HWND m_list = nullptr;
};

}  // namespace ov::console
