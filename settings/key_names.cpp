#include "settings/key_names.h"
#include "settings/custom_settings.h"
#include <string.h>

const char* KeyName(DWORD code)
{
    // Modifiers appear as prefixes, never as the key itself; codes above 255
    // come only from a hand-edited registry and have no row.
    if (code == VK_SHIFT || code == VK_CONTROL || code == VK_MENU || code == VK_HANJA || code > 255)
        return KeyNameTable[0];
    return KeyNameTable[code];
}

void FormatKeyCombo(char* dest, KeyCombo combo)
{
    const size_t size = 100;
    if (combo.alt)
        strcat_s(dest, size, "ALT + ");
    if (combo.control)
        strcat_s(dest, size, "CTRL + ");
    if (combo.shift)
        strcat_s(dest, size, "SHIFT + ");
    strcat_s(dest, size, KeyName(combo.k));
}
