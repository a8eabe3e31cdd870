// Button 1 of the PPJoy virtual joystick, clicked for 100 ms per press.
#pragma once
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

extern HANDLE JoystickHandle;
extern JoystickPacket JoystickState;

void OpenJoystick();
void PulseJoystickButton();
// Closes the device if it is open and forgets the handle, so that a later
// open or close never touches a handle that is no longer ours.
void CloseJoystick();
