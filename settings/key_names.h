// Key names and the text of a key combination, e.g. "CTRL + SHIFT + F5".
#pragma once
#include <windows.h>

struct KeyCombo;

// One 100-byte row per virtual-key code, the name followed by zeros: filled
// by the first KeyName call and never written after it.
extern char KeyNameTable[256][100];

// Never null; the modifier codes and codes without a row give "".
const char* KeyName(DWORD code);

// Appends the combination's text to dest, a 100-byte buffer holding a text.
void FormatKeyCombo(char* dest, KeyCombo combo);
