// Display scale: what a window's DPI is and how the program's 96-DPI figures
// and icons follow it. The calls that know about per-monitor scales exist
// from Windows 10 1607 on; before that one scale, the screen's, holds for
// every window.
#pragma once
#include <windows.h>

// The figures of the program's windows are given at this DPI (100 %).
const UINT BaseDpi = 96;

// The DPI of the window's monitor, or the screen's where Windows knows only one.
UINT WindowDpi(HWND window);
// The DPI of the monitor that holds the taskbar, where the notification
// area draws its icons; window's DPI where that cannot be asked.
UINT TaskbarDpi(HWND window);
// The screen's DPI, which windows have before they are on a monitor.
UINT ScreenDpi();
// A 96-DPI figure at the given DPI.
int ScaleToDpi(int value, UINT dpi);
// The frame that a window of this style has around its client area at the DPI.
RECT WindowFrameForDpi(DWORD style, UINT dpi);
// The outer size at dpi of a window that is width x height at 96 DPI: the
// client area, where the controls are, grows with the scale, and the frame
// is what Windows draws around it at that scale (captions grow differently).
SIZE WindowSizeForDpi(DWORD style, int width, int height, UINT dpi);
// A rectangle of that size centred on the screen; the truncating signed
// division makes a screen narrower than the window give 0, not -1.
RECT CentredOnScreen(SIZE size);

// The small-icon size at the DPI: what the notification area shows.
int SmallIconSizeForDpi(UINT dpi);
// The icon resource at the small-icon size for the DPI. Each size is loaded
// once and kept for the whole run.
HICON SmallIconForDpi(HINSTANCE instance, int iconId, UINT dpi);
