// vJoy, the signed virtual joystick that works where PPJoy's test-signed
// driver cannot load (64-bit Windows with Secure Boot). Its feeder library,
// vJoyInterface.dll, is found through vJoy's own uninstall entry and bound
// at run time, so Lumo2 starts on a PC without it.
#pragma once
#include "actions/joystick_status.h"
#include <windows.h>

// Under HKEY_LOCAL_MACHINE, read through the 64-bit view: vJoy's installer
// is a 64-bit program and writes its entry there.
extern const char VJoyUninstallKey[];
// The folder holding the 32-bit library, or the library itself.
extern const char VJoyLocationValue[];
extern const char VJoyLibraryName[];

// Lumo2 clicks button 1 of device 1.
const UINT VJoyDevice = 1;
const UCHAR VJoyButton = 1;

// What GetVJDStatus answers.
enum VJoyStatus { VJoyOwned = 0, VJoyFree = 1, VJoyBusy = 2, VJoyMissing = 3, VJoyUnknown = 4 };

// The full path of the library that the uninstall entry names; false when
// there is no entry or its value is not an absolute path that fits.
bool FindVJoyLibrary(char* path, DWORD size);

// Binds the library if it is not bound yet and takes device 1 for this
// process when it is free (or already ours) and has a button. What stands
// in the way, or JoystickReady when the device is ours.
JoystickStatus AcquireVJoy();
bool VJoyAcquired();
// What the last attempt to take or click the device found.
JoystickStatus LastVJoyStatus();
// At a press: whether the device is held, taking it again when it is not
// (another program has let it go since, or a click failed) and the last
// attempt is at least VJoyRetryMs old, so that a busy device is not asked
// at every press.
bool HoldVJoyForPress();
const DWORD VJoyRetryMs = 1000;
// The clock of those attempts; tests replace it.
typedef DWORD (*VJoyClockFn)();
extern VJoyClockFn VJoyClock;
// Button 1 down or up on the device taken. When vJoy refuses, the device
// no longer counts as held. Whether vJoy took it.
bool SetVJoyButton(bool down);
// Gives the device back if this process holds it.
void RelinquishVJoy();
// Relinquishes and frees the library; for tests that switch libraries.
void UnbindVJoyLibrary();
