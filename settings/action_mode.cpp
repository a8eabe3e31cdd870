#include "settings/action_mode.h"
#include <string.h>

LONG ActionMode = ModeSpace;
const char ProgramKeyPath[] = "Software\\Kestrova";

static SRWLOCK SettingsLock = SRWLOCK_INIT;

void LockSettings()
{
    AcquireSRWLockExclusive(&SettingsLock);
}

void UnlockSettings()
{
    ReleaseSRWLockExclusive(&SettingsLock);
}

bool ReadActionMode()
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, ProgramKeyPath, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return false;
    LONG mode = ActionMode;
    bool read = ReadRegistryField(key, "key", &mode, sizeof(mode));
    RegCloseKey(key);
    LockSettings();
    ActionMode = read ? mode : LONG(ModeSpace);
    UnlockSettings();
    return read;
}

void SaveActionMode()
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, ProgramKeyPath, 0, NULL, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, NULL, &key, NULL) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, "key", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&ActionMode),
                   sizeof(ActionMode));
    RegCloseKey(key);
}

bool ModeSendsKeys(LONG mode)
{
    return mode >= ModeSpace && mode <= ModeCustom && mode != ModeJoystick;
}

const char* ModeText(LONG mode)
{
    static const char* const texts[] = {"Space",        "Enter",    "Schick(Alt+F, Alt+T)",
                                        "Kodak(F5)",    "SIDEXIS",  "Alt+F, Alt+S",
                                        "CDX View",     "JOYSTICK", "Custom Settings"};
    if (mode < ModeSpace || mode > ModeCustom)
        return NULL;
    return texts[mode - ModeSpace];
}

bool ReadRegistryField(HKEY key, const char* name, void* field, DWORD width)
{
    // Windows leaves the buffer undefined when a value does not fit, so read
    // into a copy and keep the field as it was unless the read succeeded.
    BYTE buffer[4];
    if (width > sizeof(buffer))
        return false;
    memcpy(buffer, field, width);
    DWORD size = width;
    if (RegQueryValueExA(key, name, NULL, NULL, buffer, &size) != ERROR_SUCCESS)
        return false;
    memcpy(field, buffer, size < width ? size : width);
    return true;
}
