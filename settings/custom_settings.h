// The user's three key combinations, the send mode and the time, and their
// fourteen registry values beside "key".
#pragma once
#include "settings/action_mode.h"
#include <windows.h>

#pragma pack(push, 1)
struct KeyCombo {
    BYTE alt;
    BYTE control;
    BYTE shift;
    DWORD k;  // virtual-key code; 0 means no combination
};
#pragma pack(pop)
static_assert(sizeof(KeyCombo) == 7, "KeyCombo is packed");

enum SendMode : LONG {
    Sequential = 0,
    SendAll = 1,
};

struct CustomKeySettings {
    LONG mode;  // a SendMode; other values only from a hand-edited registry
    LONG time;  // milliseconds
    KeyCombo keys[3];
};

extern CustomKeySettings CustomSettings;

void LoadCustomKeySettings();
// Writes all fourteen values and makes the action mode 10, also when writing
// fails. Whether the key could be opened and every value was written.
bool SaveCustomKeySettings();
