// The "Custom Settings" window: send mode, time and three captured key
// combinations.
#pragma once
#include <windows.h>

extern HWND SequentialRadio, SendAllRadio, TimeLabel, TimeField;
extern HWND KeyField1, KeyField2, KeyField3;

LRESULT CALLBACK SettingsWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void ShowCustomKeySettings();
void CaptureKeyCombo(HWND field, DWORD key);

// Takes the input context off the three key fields, so an IME never stands
// between a key and its capture.
void DetachInputMethod();
// The key behind a VK_PROCESSKEY that reached a field; 0 when the IME cannot
// tell. Tests replace it to play a Korean IME.
typedef UINT (*ImeVirtualKeyFn)(HWND field);
extern ImeVirtualKeyFn LookUpImeVirtualKey;

// What "Save" says, from the settings window, when the registry refused.
extern const char SaveFailedText[];

// The time field's digits as a number; beyond the int range it saturates
// rather than wrapping. Leading blanks and a sign are taken, the rest from
// the first non-digit on is ignored.
LONG ParseTimeText(const char* text);
