// Reads back what the stand-in joystick driver received.
#pragma once
#include "standins/joystick_driver/ppjoy_standin.h"
#include <windows.h>

// openHandles counts the program's handles only, not the reader's own.
StandinLog ReadJoystickLog();
void ClearJoystickLog();
