// Reads back what the stand-in joystick driver received.
#pragma once
#include "standins/joystick_driver/ppjoy_standin.h"
#include <windows.h>

// openHandles and opens count the program's handles only: the reader's own
// opens since the last clear are taken off.
StandinLog ReadJoystickLog();
// Forgets the packets and the count of opens.
void ClearJoystickLog();
