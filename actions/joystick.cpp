#include "actions/joystick.h"

HANDLE JoystickHandle = NULL;
JoystickPacket JoystickState;

static DWORD JoystickBytesReturned;
static BYTE* JoystickButtons;

static bool IsOpen(HANDLE handle)
{
    return handle != NULL && handle != INVALID_HANDLE_VALUE;
}

void CloseJoystick()
{
    if (IsOpen(JoystickHandle))
        CloseHandle(JoystickHandle);
    JoystickHandle = NULL;
}

void OpenJoystick()
{
    CloseJoystick();
    JoystickHandle = CreateFileA(JoystickDeviceName, GENERIC_WRITE, FILE_SHARE_WRITE, NULL,
                                 OPEN_EXISTING, 0, NULL);

    JoystickState.signature = JoystickSignature;
    JoystickState.axisCount = 8;
    for (LONG& axis : JoystickState.axes)
        axis = 0x4000;
    JoystickState.buttonCount = 16;
    // The driver finds the buttons behind however many axes the packet
    // declares, so their position follows from the counts.
    BYTE* packet = reinterpret_cast<BYTE*>(&JoystickState);
    JoystickButtons = packet + 5 + JoystickState.axisCount * sizeof(LONG) + 1;
    for (BYTE& button : JoystickState.buttons)
        button = 0;
}

static void SendJoystickState()
{
    DeviceIoControl(JoystickHandle, JoystickSetStateIoctl, &JoystickState, sizeof(JoystickState),
                    NULL, 0, &JoystickBytesReturned, NULL);
}

void PulseJoystickButton()
{
    if (JoystickButtons == NULL)
        return;  // never opened: there is no packet to send
    JoystickButtons[0] = 1;
    SendJoystickState();
    Sleep(100);
    JoystickButtons[0] = 0;
    SendJoystickState();
}
