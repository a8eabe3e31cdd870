// Reads back what the stand-in joystick driver received.
#pragma once
#include "standins/joystick_driver/ppjoy_standin.h"
#include <windows.h>

// openHandles and opens count the program's handles only: the reader's own
// opens since the last clear are taken off.
StandinLog ReadJoystickLog();
// The same, read again until the driver counts openHandles open handles or
// 3 s have passed. A handle's close reaches the driver only some time after
// CloseHandle returns (Wine hands it to its driver host on its own), so a
// count read at once can still include a handle already closed.
StandinLog ReadJoystickLogSettled(ULONG openHandles);
// Forgets the packets and the count of opens.
void ClearJoystickLog();
