// Resource and control ids of ovconsole, shared by ovconsole.rc and the code.
#pragma once

// Dialogs.
#define IDD_MAIN_CONFIG 102
#define IDD_PASSWORD 103
#define IDD_ALIAS 156

// Strings.
#define IDS_SOCKETS_FAILED 104

// Icons and the tray menu's side bitmap.
#define IDI_EXIT 137
#define IDI_CONFIGURE 139
#define IDI_CONSOLE 145
#define IDB_SIDE_BAR 146
#define IDI_STOP_SERVICE 148
#define IDI_START_SERVICE 149
#define IDI_WEB_CONFIG 150
#define IDI_REFRESH 151
#define IDI_SYSTEM_SETTINGS 152
#define IDI_ADVANCED_CONFIG 153
#define IDI_CANCEL 154
#define IDI_OK 155

// Controls of the main dialog.
#define IDC_REFRESH 1004
#define IDC_COMPUTER_LIST 1009
#define IDC_STATUS 1011
#define IDC_START_STOP 1012
#define IDC_WEB_CONFIG 1014
#define IDC_ADVANCED_CONFIG 1015
#define IDC_SYSTEM_SETTINGS 1016

// Controls of the password and alias dialogs.
#define IDC_PASSWORD 1000
#define IDC_HOST_NAME 1001
#define IDC_ALIAS 1002

// Commands of the tray.
#define ID_CONFIGURE 32783
#define ID_APP_EXIT 32790

// The tray icon and its callback message.
#define ID_TRAY_ICON 130
#define WM_TRAY_CALLBACK (WM_USER + 256)
