#include "settings/key_names.h"
#include "settings/custom_settings.h"
#include <string.h>

char KeyNameTable[256][100];

// The named rows only: the table itself, mostly zeros, would take 25 KB of
// the executable. Row 0x15 is the Korean/English toggle in code page 949.
static const struct {
    BYTE code;
    char name[11];
} NamedKeys[] = {
    {0x03, "NumLock"}, {0x08, "BackSpace"}, {0x09, "Tab"}, {0x0D, "Enter"}, {0x10, "SHIFT"}, {0x11, "CTRL"},
    {0x12, "ALT"}, {0x13, "Pause"}, {0x14, "CapsLock"}, {0x15, "\xC7\xD1/\xBF\xB5"}, {0x19, "CTRL"},
    {0x1B, "ESC"}, {0x20, "Space"}, {0x21, "PageUp"}, {0x22, "PageDown"}, {0x23, "End"}, {0x24, "Home"},
    {0x25, "Left"}, {0x26, "Up"}, {0x27, "Right"}, {0x28, "Down"}, {0x2D, "Insert"}, {0x2E, "Delete"},
    {0x5B, "LWindow"}, {0x5C, "RWindow"}, {0x5D, "WMenu"}, {0x6A, "*"}, {0x6B, "+"}, {0x6D, "-"}, {0x6E, "."},
    {0x6F, "/"}, {0x90, "NumLock"}, {0x91, "ScrollLock"}, {0xBA, ";"}, {0xBB, "="}, {0xBC, ","}, {0xBD, "-"},
    {0xBE, "."}, {0xBF, "/"}, {0xC0, "`"}, {0xDB, "["}, {0xDC, "\\"}, {0xDD, "]"}, {0xDE, "'"},
};

static BOOL CALLBACK FillKeyNameTable(INIT_ONCE*, void*, void**)
{
    for (const auto& key : NamedKeys)
        lstrcpyA(KeyNameTable[key.code], key.name);
    // The digits above the letters and on the keypad, the letters, F1 to F12.
    for (int i = 0; i < 10; ++i) {
        KeyNameTable[0x30 + i][0] = char('0' + i);
        KeyNameTable[0x60 + i][0] = char('0' + i);
    }
    for (int i = 0; i < 26; ++i)
        KeyNameTable[0x41 + i][0] = char('A' + i);
    for (int i = 0; i < 12; ++i)
        wsprintfA(KeyNameTable[0x70 + i], "F%d", i + 1);
    return TRUE;
}

const char* KeyName(DWORD code)
{
    // Filled at the first name asked for, from whichever thread asks first.
    static INIT_ONCE filled = INIT_ONCE_STATIC_INIT;
    InitOnceExecuteOnce(&filled, FillKeyNameTable, NULL, NULL);
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
