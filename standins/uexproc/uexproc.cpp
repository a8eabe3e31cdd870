// Stand-in for the camera vendor's UExProc.dll. It reaches the simulated
// camera instead of a real extension unit; with no simulated camera attached
// it reports none, so the program falls through to the capture driver.
#include "standins/sim_state/sim_state.h"

extern "C" {

__declspec(dllexport) int __cdecl isConnectedEVA(void)
{
    SimState* sim = OpenSimState();
    return sim ? sim->euConnectedResult : 0;
}

__declspec(dllexport) int __cdecl sendExtensionUnitCommand(int command, int arg, void* data, int length)
{
    SimState* sim = OpenSimState();
    if (!sim || command != 13 || arg != 0 || sim->euConnectedResult <= 0)
        return 0;
    int down = sim->euButtonDown ? 1 : 0;
    if (data && length >= 4)
        *static_cast<LONG*>(data) = down;
    return down;
}

__declspec(dllexport) int __cdecl releaseEVA(void)
{
    SimState* sim = OpenSimState();
    if (sim)
        InterlockedIncrement(&sim->euReleaseCalls);
    return 0;
}

}
