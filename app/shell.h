// The application shell: start-up, the hidden tray window and its menu.
#pragma once
#include <windows.h>

const UINT WM_TRAY_CALLBACK = WM_APP + 100;
const UINT_PTR PollTimerId = 0;
const UINT PollIntervalMs = 100;

extern HINSTANCE AppInstance;
extern char TrayClassName[100];
extern HWND SettingsWindowHandle;

void RegisterWindowClasses(HINSTANCE instance);
int InitializeShell(HINSTANCE instance);
int RunMessageLoop();

LRESULT CALLBACK TrayWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
void ShowTrayMenu(HWND window);
void SaveActionMode();

// Validates the window's update region; neither window draws anything.
void PaintNothing(HWND window);

// The mode a tray command selects, or 0 for a command that selects none.
LONG ModeForCommand(WORD command);
// Puts the radio mark on the item whose position equals the action mode.
void MarkActionMode(HMENU popup);
