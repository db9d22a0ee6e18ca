// Resource and control ids of ovsetup.dll, shared by ovsetup.rc and the code.
#pragma once

// Dialogs.
#define IDD_SETUP 100
#define IDD_TRUSTED_ID_PAGE 101
#define IDD_ACCOUNTS_PAGE 102
#define IDD_PORTS_PAGE 103
#define IDD_ADD_ACCOUNT 104
#define IDD_EDIT_ACCOUNT 105
#define IDD_NEW_PASSWORD 106
#define IDD_ADD_ID 107
#define IDD_EDIT_ID 108
#define IDD_PORT 109

// Icons (the switch states as the model names them).
#define IDI_SETUP 200
#define IDI_ID_CHECK_ON 201
#define IDI_ID_CHECK_OFF 202
#define IDI_GUEST_ON 203
#define IDI_GUEST_OFF 204
#define IDI_ID_PAGE 205
#define IDI_USERS_PAGE 206
#define IDI_PORTS_PAGE 207
#define IDI_OK 208

// The setup window.
#define IDC_SIDE_IDS 1001
#define IDC_SIDE_USERS 1002
#define IDC_SIDE_PORTS 1003
#define IDC_FRAME 1004

// The trusted-ID and accounts pages.
#define IDC_STATUS_ICON 1010
#define IDC_STATUS_TEXT 1011
#define IDC_SWITCH 1012
#define IDC_LIST 1013
#define IDC_ADD 1014
#define IDC_DELETE 1015
#define IDC_EDIT 1016
#define IDC_RESTORE 1017
#define IDC_BACKUP 1018

// The ports page.
#define IDC_CMD_PORT 1020
#define IDC_CMD_CHANGE 1021
#define IDC_PROXY_PORT 1022
#define IDC_PROXY_CHANGE 1023

// The account dialogs.
#define IDC_NAME 1030
#define IDC_PASSWORD 1031
#define IDC_STATE 1032
#define IDC_DESCRIPTION 1033
#define IDC_CHANGE_PASSWORD 1034
#define IDC_NEW_PASSWORD 1040
#define IDC_NEW_PASSWORD_AGAIN 1041

// The trusted-ID dialogs.
#define IDC_ID_PATH 1050
#define IDC_ID_BROWSE 1051
#define IDC_ID_DESCRIPTION 1052

// The port dialog.
#define IDC_PORT 1060
