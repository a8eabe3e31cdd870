// Button 1 of a virtual joystick, clicked for 100 ms per press: PPJoy's
// when its device is there, otherwise vJoy's.
#pragma once
#include "actions/joystick_status.h"
#include <windows.h>

#pragma pack(push, 1)
struct JoystickPacket {
    DWORD signature;
    BYTE axisCount;
    LONG axes[8];
    BYTE buttonCount;
    BYTE buttons[16];
};
#pragma pack(pop)
static_assert(sizeof(JoystickPacket) == 54, "the driver expects 54 packed bytes");

const char JoystickDeviceName[] = "\\\\.\\PPJoyIOCTL1";
const DWORD JoystickSetStateIoctl = 0x220000;  // CTL_CODE(0x22, 0, METHOD_BUFFERED, FILE_ANY_ACCESS)
const DWORD JoystickSignature = 0x53544143;    // "CATS"
const DWORD JoystickPulseMs = 100;

extern HANDLE JoystickHandle;
extern JoystickPacket JoystickState;

// As the last open, press or failed click found it.
JoystickStatus CurrentJoystickStatus();

// Opens PPJoy's device, or takes vJoy's device 1 when PPJoy's cannot be
// opened. Whether either driver can be used.
bool OpenJoystick();
void PulseJoystickButton();
// Closes the device if it is open and forgets the handle, so that a later
// open or close never touches a handle that is no longer ours; gives vJoy's
// device back.
void CloseJoystick();
// Gives vJoy's device back when the joystick mode is left, so that another
// program may feed it. PPJoy's handle stays open until the mode is chosen
// again or the program ends.
void LeaveJoystickMode();
