// Resource and command identifiers, shared by the resource script and the code.
#pragma once

#define IDS_TRAY_CLASS 109

// The texts a person sees, in every language's string table (res/lang_*.rc).
// The tip's name of mode m (2..10) is IDS_MODE_BASE + m.
#define IDS_MODE_BASE 200
#define IDS_UI_FIRST 202
#define IDS_TIP_NO_MODE 211
#define IDS_TIP_SET_BY_POLICY 212
#define IDS_TIP_NO_CAMERA 213
#define IDS_TIP_VENDOR_CAMERA 214
#define IDS_TIP_CAMERA_NOT_RESPONDING 215
#define IDS_TIP_KEYS_BLOCKED 216
#define IDS_TIP_RUNS_AS_ADMIN 217
#define IDS_TIP_PROGRAM_IN_FRONT 218
#define IDS_BALLOON_PROGRAM_IN_FRONT 219
#define IDS_BLOCKED_KEYS_BALLOON 220
#define IDS_ADVICE_START_AS_ADMIN 221
#define IDS_ADVICE_ASK_IT 222
// The joystick's problem s (a JoystickStatus) in the tip is
// IDS_JOYSTICK_TIP + s, in the balloon IDS_JOYSTICK_BALLOON + s; the tip's
// IDS_JOYSTICK_TIP itself is for a problem without a text of its own.
#define IDS_JOYSTICK_TIP 224
#define IDS_JOYSTICK_BALLOON 232
#define IDS_SETTINGS_CAPTION 240
#define IDS_SEQUENTIAL 241
#define IDS_SEND_ALL 242
#define IDS_INITIAL_TIME 243
#define IDS_INTERVAL_TIME 244
#define IDS_KEY1 245
#define IDS_KEY2 246
#define IDS_KEY3 247
#define IDS_CLEAR 248
#define IDS_SAVE 249
#define IDS_CANCEL 250
#define IDS_KEY_HINT 251
#define IDS_SAVE_FAILED 252
#define IDS_REG_ERROR 256
#define IDS_CREATE_ERROR 257
#define IDS_OLD_COPY_STAYS 258
#define IDS_OTHER_ACCOUNT 259
#define IDS_TAKEOVER_FAILED 260
#define IDS_REPORT_FAILED 261
#define IDS_REPORTS_FOLDER 262
#define IDS_ERROR_NUMBER 263
// The "Modes for programs" window and the tip's count of programs.
#define IDS_PROGRAMS_TITLE 264
#define IDS_PROGRAMS_INTRO 265
#define IDS_PROGRAMS_POLICY_NOTE 266
#define IDS_PROGRAMS_COLUMN_PROGRAM 267
#define IDS_PROGRAMS_COLUMN_MODE 268
#define IDS_PROGRAMS_COLUMN_SET_BY 269
#define IDS_PROGRAMS_SET_BY_USER 270
#define IDS_PROGRAMS_SET_BY_IT 271
#define IDS_PROGRAMS_OVERRIDDEN 272
#define IDS_PROGRAMS_LABEL_PROGRAM 273
#define IDS_PROGRAMS_LABEL_MODE 274
#define IDS_PROGRAMS_BROWSE 275
#define IDS_PROGRAMS_ADD 276
#define IDS_PROGRAMS_REMOVE 277
#define IDS_PROGRAMS_CLOSE 278
#define IDS_PROGRAMS_SAVE_FAILED 279
#define IDS_PROGRAMS_BAD_NAME 280
#define IDS_PROGRAMS_BROWSE_FILTER 281
#define IDS_PROGRAMS_BROWSE_TITLE 282
#define IDS_TIP_PROGRAMS_OWN 283
#define IDS_TIP_PROGRAM_OWN 284
#define IDS_UI_LAST 284

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
#define IDM_PROGRAMS 32791

// Controls of the Custom Settings window.
#define IDC_CLEAR_KEY1 1001
#define IDC_CLEAR_KEY2 1002
#define IDC_CLEAR_KEY3 1003
#define IDC_SAVE 1004
#define IDC_CANCEL 1005
#define IDC_SEQUENTIAL 1006
#define IDC_SEND_ALL 1007
