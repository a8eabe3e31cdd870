// Every text the user reads comes from the resources' string table through
// here, so that the program can speak the user's language.
#pragma once
#include <windows.h>

// The module whose string table is read; null means Lumo2.exe itself. Tests
// set it to Lumo2.exe loaded as data.
extern HMODULE UiTextModule;

// The text of string id in buffer (size characters, always terminated);
// its length, 0 when the table has none.
int LoadUiText(UINT id, WCHAR* buffer, int size);
