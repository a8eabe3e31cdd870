// Resource and command identifiers, shared by the resource script and the code.
#pragma once

#define IDS_TRAY_CLASS 109

#define IDM_TRAY_MENU 109
#define IDD_ABOUTBOX 103

#define IDI_LARGE 107
#define IDI_SMALL 108
#define IDI_TRAY 129
#define IDB_ABOUT 135

// Tray menu commands; not contiguous and not in menu order.
#define IDM_ABOUT 32771
#define IDM_SPACE 32772
#define IDM_ENTER 32773
#define IDM_SCHICK 32774
#define IDM_KODAK 32775
#define IDM_SIDEXIS 32776
#define IDM_EXIT 32777
#define IDM_CUSTOM_SETTINGS 32778
#define IDM_CDX_VIEW 32780
#define IDM_JOYSTICK 32781
#define IDM_ALT_F_ALT_S 32788
#define IDM_DIAGNOSTICS 32790

// Controls of the Custom Settings window.
#define IDC_CLEAR_KEY1 1001
#define IDC_CLEAR_KEY2 1002
#define IDC_CLEAR_KEY3 1003
#define IDC_SAVE 1004
#define IDC_CANCEL 1005
#define IDC_SEQUENTIAL 1006
#define IDC_SEND_ALL 1007
