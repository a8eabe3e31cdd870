// Painting shared by the program's windows, below every window's own code.
#pragma once
#include <windows.h>

// Validates the window's update region; neither window draws anything.
inline void PaintNothing(HWND window)
{
    PAINTSTRUCT paint;
    BeginPaint(window, &paint);
    EndPaint(window, &paint);
}
