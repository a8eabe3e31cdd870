// The "Custom Settings" window: send mode, time and three captured key
// combinations.
#pragma once
#include <windows.h>

extern HWND SequentialRadio, SendAllRadio, TimeLabel, TimeField;
extern HWND KeyField1, KeyField2, KeyField3;

extern const char SettingsClassName[];

LRESULT CALLBACK SettingsWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Creates the hidden window of the registered class, centred on the screen
// and sized for its scale; null when that fails.
HWND CreateSettingsWindow(HINSTANCE instance);
// The window's outer size at the DPI: 300 x 250 at 96 DPI.
SIZE SettingsWindowSize(UINT dpi);
void ShowCustomKeySettings();
void CaptureKeyCombo(HWND field, DWORD key);

// Takes the input context off the three key fields, so an IME never stands
// between a key and its capture.
void DetachInputMethod();
// The key behind a VK_PROCESSKEY that reached a field; 0 when the IME cannot
// tell. Tests replace it to play a Korean IME.
typedef UINT (*ImeVirtualKeyFn)(HWND field);
extern ImeVirtualKeyFn LookUpImeVirtualKey;

// Called after "Save" has stored the record (or failed to) and made 10 the
// user's mode, so the shell can bring the rest of the program in line.
typedef void (*SettingsSavedFn)();
extern SettingsSavedFn CustomSettingsSaved;

// What "Save" says, from the settings window, when the registry refused.
extern const char SaveFailedText[];

// The time field's digits as a number; beyond the int range it saturates
// rather than wrapping. Leading blanks and a sign are taken, the rest from
// the first non-digit on is ignored.
LONG ParseTimeText(const char* text);

// The controls' font at the DPI: "GULIM" where it is installed, else the
// system's message font, at the same height.
HFONT CreateSettingsFont(UINT dpi);
// Whether a font face is installed; tests replace it to play a Windows with
// or without a Korean font.
typedef bool (*FaceInstalledFn)(const char* face);
extern FaceInstalledFn FaceInstalled;
bool FaceInstalledOnSystem(const char* face);
