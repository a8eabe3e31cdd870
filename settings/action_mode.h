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

// ActionMode, CustomSettings and ActivePolicy belong to the window thread:
// it alone writes them, and only between these two calls. The camera thread
// reads them under the same lock, once per press (CopyPressSettings), so a
// press never sees half of a change. A slim lock: it needs no set-up and is
// held for a copy of a few dozen bytes.
void LockSettings();
void UnlockSettings();

// HKEY_CURRENT_USER subkey that holds "key" and the custom key settings.
extern const char ProgramKeyPath[];

// Reads "key" into the action mode: unchanged without the key, 2 when the
// value is missing or longer than 4 bytes, otherwise whatever it holds.
// Whether a value was read.
bool ReadActionMode();
// Writes the action mode to "key"; failures are ignored.
void SaveActionMode();

// Whether a press in this mode types keys (the joystick mode and values
// outside 2..10 do not).
bool ModeSendsKeys(LONG mode);

// The mode's item text in the tray menu, as the user chose it, for the tip,
// the log and the report; null for a value outside 2..10.
const char* ModeText(LONG mode);

// Reads a value straight into a field of the given width, whatever its stored
// type. A shorter value replaces only the field's low bytes; a missing or
// longer value leaves the field untouched. Returns whether it read anything.
bool ReadRegistryField(HKEY key, const char* name, void* field, DWORD width);
