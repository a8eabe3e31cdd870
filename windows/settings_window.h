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

// Called after "Save" has stored the record (saved) or failed to, and made
// 10 the user's mode, so the shell can bring the rest of the program in line.
typedef void (*SettingsSavedFn)(bool saved);
extern SettingsSavedFn CustomSettingsSaved;

// Registers the window class "Custom" (wide, so that Korean shows on any
// PC); false when that fails.
bool RegisterSettingsClass(HINSTANCE instance);
// Sets a window's text to a text of the table in language (0: the language
// in force).
void SetUiText(HWND window, UINT textId, WORD language = 0);
// How wide a control's text is in a font, in pixels.
int TextWidth(HWND control, HFONT font);

// The time field's digits as a number; beyond the int range it saturates
// rather than wrapping. Leading blanks and a sign are taken, the rest from
// the first non-digit on is ignored.
LONG ParseTimeText(const char* text);

// The controls' font at the DPI: "GULIM" where it is installed, else (in
// Korean) "Malgun Gothic", else the system's message font, at the same
// height. Every window that shows Korean uses it. A window that shows
// paths takes the message font in English: GULIM draws "\\" as the won sign.
HFONT CreateSettingsFont(UINT dpi, bool showsPaths = false);
// Whether a font face is installed; tests replace it to play a Windows with
// or without a Korean font.
typedef bool (*FaceInstalledFn)(const char* face);
extern FaceInstalledFn FaceInstalled;
bool FaceInstalledOnSystem(const char* face);

// The settings window, made on its first opening; null until then.
extern HWND SettingsWindowHandle;
// Fills the settings window from the stored settings and shows it, making it
// first if this is its first opening; says so when that fails.
void OpenSettingsWindow(HINSTANCE instance);
