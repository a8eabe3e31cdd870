#include "actions/joystick.h"
#include "actions/actions.h"
#include "actions/vjoy.h"

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
    RelinquishVJoy();
}

bool OpenJoystick()
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

    // PPJoy first, as always; vJoy only where PPJoy's driver is not there,
    // which on 64-bit Windows with Secure Boot is nearly everywhere.
    if (IsOpen(JoystickHandle))
        return true;
    return AcquireVJoy() == JoystickReady;
}

static void SendJoystickState()
{
    DeviceIoControl(JoystickHandle, JoystickSetStateIoctl, &JoystickState, sizeof(JoystickState),
                    NULL, 0, &JoystickBytesReturned, NULL);
}

// The click's length; the program's end cuts it short, and the button is
// still let go.
static void HoldButton()
{
    if (ActionsStopEvent)
        WaitForSingleObject(ActionsStopEvent, JoystickPulseMs);
    else
        Sleep(JoystickPulseMs);
}

void PulseJoystickButton()
{
    // Without a driver there is nobody to click for, so no pause either.
    // vJoy's device may have come back since it was last asked for: a
    // program that held it has let it go, or its driver was restarted.
    if (!IsOpen(JoystickHandle)) {
        if (!HoldVJoyForPress() || !SetVJoyButton(true))
            return;
        HoldButton();
        SetVJoyButton(false);
        return;
    }
    if (JoystickButtons == NULL)
        return;
    JoystickButtons[0] = 1;
    SendJoystickState();
    HoldButton();
    JoystickButtons[0] = 0;
    SendJoystickState();
}

void LeaveJoystickMode()
{
    RelinquishVJoy();
}

JoystickStatus CurrentJoystickStatus()
{
    if (IsOpen(JoystickHandle) || VJoyAcquired())
        return JoystickReady;
    return LastVJoyStatus();
}
