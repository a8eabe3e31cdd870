// What the stand-in vJoyInterface.dll was asked, kept in a small file that
// every process of the Wine prefix maps, so that tests and camsim read back
// what Lumo2 did with the joystick.
#pragma once
#include "standins/sim_state/sim_state.h"
#include <windows.h>

enum VJoyCallKind { VJoyAcquireCall = 1, VJoySetButtonCall = 2, VJoyRelinquishCall = 3 };

struct VJoyCall {
    LONG kind;
    UINT id;
    LONG down;      // SetBtn only
    LONG button;    // SetBtn only
    DWORD process;  // who called
    LONGLONG counter;
};

const int VJoyLogSize = 64;
const int DefaultVJoyButtons = 8;

struct VJoyLog {
    // Set by tests: vJoyEnabled answers FALSE; GetVJDStatus answers
    // statusOverride - 1 for device 1 when it is not 0.
    LONG disabled;
    LONG statusOverride;
    // Set by tests: GetVJDButtonNumber answers buttonsOverride - 1 for
    // device 1 when it is not 0, else DefaultVJoyButtons.
    LONG buttonsOverride;
    // The process that holds device 1, 0 when it is free.
    DWORD owner;
    // Set by tests: SetBtn does not return while it is not 0, as a driver
    // that hangs.
    LONG hangButton;
    LONGLONG frequency;
    LONG count;  // calls below, oldest first; later ones are dropped
    VJoyCall calls[VJoyLogSize];
};

// Maps the shared log, created zeroed the first time; null on failure.
inline VJoyLog* OpenVJoyLog()
{
    static VJoyLog* log;
    if (!log)
        log = static_cast<VJoyLog*>(MapSharedFile("lumo2-vjoy-sim.bin", sizeof(VJoyLog)));
    return log;
}
