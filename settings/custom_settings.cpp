// Registry store of the custom key settings.
#include "settings/custom_settings.h"
#include "settings/action_mode.h"
#include <stddef.h>
#include <string.h>

CustomKeySettings CustomSettings;

namespace {

struct StoredValue {
    const char* name;
    DWORD type;
    DWORD width;
    size_t offset;
};

#define COMBO_VALUES(n)                                                                     \
    {"key" #n "_alt", REG_BINARY, 1, offsetof(CustomKeySettings, keys[n - 1].alt)},         \
        {"key" #n "_control", REG_BINARY, 1, offsetof(CustomKeySettings, keys[n - 1].control)}, \
        {"key" #n "_shift", REG_BINARY, 1, offsetof(CustomKeySettings, keys[n - 1].shift)}, \
        {"key" #n "_k", REG_DWORD, 4, offsetof(CustomKeySettings, keys[n - 1].k)}

// Every routine reads and writes the values in this order.
const StoredValue StoredValues[] = {
    {"mode", REG_DWORD, 4, offsetof(CustomKeySettings, mode)},
    {"time", REG_DWORD, 4, offsetof(CustomKeySettings, time)},
    COMBO_VALUES(1),
    COMBO_VALUES(2),
    COMBO_VALUES(3),
};

#undef COMBO_VALUES

BYTE* FieldOf(CustomKeySettings& settings, const StoredValue& value)
{
    return reinterpret_cast<BYTE*>(&settings) + value.offset;
}

}  // namespace

void LoadCustomKeySettings()
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, ProgramKeyPath, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return;
    // Read beside the record in force and put in place in one step, so that
    // a press never sends half of the old record and half of the new.
    CustomKeySettings loaded = CustomSettings;
    for (const StoredValue& value : StoredValues)
        ReadRegistryField(key, value.name, FieldOf(loaded, value), value.width);
    RegCloseKey(key);
    LockSettings();
    CustomSettings = loaded;
    UnlockSettings();
}

bool SaveCustomKeySettings()
{
    bool saved = false;
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, ProgramKeyPath, 0, NULL, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, NULL, &key, NULL) == ERROR_SUCCESS) {
        saved = true;
        // Every value is tried even after one fails, so as much as possible
        // of the user's record survives.
        for (const StoredValue& value : StoredValues) {
            if (RegSetValueExA(key, value.name, 0, value.type, FieldOf(CustomSettings, value), value.width) != ERROR_SUCCESS)
                saved = false;
        }
        RegCloseKey(key);
    }
    // The record stays in effect for this run whether or not it was stored.
    LockSettings();
    ActionMode = ModeCustom;
    UnlockSettings();
    return saved;
}
