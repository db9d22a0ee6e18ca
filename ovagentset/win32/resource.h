// Resource and control ids of ovagentset.dll, shared by ovagentset.rc and
// the code. The console's installations and the callers' tests know these
// numbers, so they stay as they are.
#pragma once

// Dialogs.
#define IDD_WEB_AGENT 13000
#define IDD_CONNECT_TEST 13005
#define IDD_CHANGE_KEY 13011

// Icons: the dialog, Cancel, OK, the four frames of the test animation
// (13005..13008), failed and passed.
#define IDI_AGENTSET 13002
#define IDI_CANCEL 13003
#define IDI_OK 13004
#define IDI_WAIT0 13005
#define IDI_WAIT1 13006
#define IDI_WAIT2 13007
#define IDI_WAIT3 13008
#define IDI_FAILED 13009
#define IDI_PASSED 13010
// A slot that has no address to test.
#define IDI_IDLE 13012

// The web agent dialog.
#define IDC_TEST 3
#define IDC_CHANGE_KEY 4
#define IDC_MASTER_URL 1003
#define IDC_BACKUP_URL 1004
#define IDC_KEY 1005
#define IDC_DIRECT 13000

// The connection test.
#define IDC_MASTER_PICTURE 1032
#define IDC_BACKUP_PICTURE 1033
#define IDC_TEST_GROUP 1043
#define IDC_TEST_CLOSE 1044

// The key change.
#define IDC_KEY_AGAIN 3006
#define IDC_NEW_KEY 3007
