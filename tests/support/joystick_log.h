// Reads back what the stand-in joystick driver received.
#pragma once
#include "standins/joystick_driver/ppjoy_standin.h"
#include "standins/vjoy/vjoy_log.h"
#include <windows.h>
#include <string>

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

// Stops the stand-in PPJoy driver, so that its device cannot be opened, as on
// a PC where PPJoy's driver cannot load; starts it again when it goes.
class PPJoyOutOfReach {
public:
    PPJoyOutOfReach();
    ~PPJoyOutOfReach();
    bool Done() const { return done_; }

private:
    bool done_ = false;
};

// vJoy's uninstall entry naming the stand-in vJoyInterface.dll (the folder
// vjoy beside the tests), removed again when it goes; the stand-in's log is
// cleared and device 1 free.
class VJoyRegistered {
public:
    VJoyRegistered();
    ~VJoyRegistered();
};
// Writes vJoy's uninstall entry with this value, or removes the entry when
// data is null.
void StoreVJoyLocation(DWORD type, const void* data, DWORD size);

// The stand-in's shared log, cleared: no calls, device 1 free and enabled.
VJoyLog* ClearVJoyLog();
// What the stand-in was asked by this process, e.g. "acquire 1, down 1/1,
// up 1/1, relinquish 1".
std::string DescribeVJoyCalls(DWORD process);
// Milliseconds between the first button-down and the button-up after it,
// or -1.
double VJoyPressMs();
