// The one number that decides what a camera press does, and where it lives
// in the registry.
#pragma once
#include <windows.h>

// Each mode equals the position of its item in the tray popup menu.
enum ActionModeValue : LONG {
    ModeSpace = 2,
    ModeEnter = 3,
    ModeSchick = 4,
    ModeKodak = 5,
    ModeSidexis = 6,
    ModeAltFAltS = 7,
    ModeCdxView = 8,
    ModeJoystick = 9,
    ModeCustom = 10,
};

extern LONG ActionMode;

// HKEY_CURRENT_USER subkey that holds "key" and the custom key settings.
extern const char ProgramKeyPath[];
