// Stand-in for the camera vendor's UExProc.dll. It reaches the simulated
// camera instead of a real extension unit; with no simulated camera attached
// it reports none, so the program falls through to the capture driver.
//
// Built several ways, because the vendor's calling convention is unknown:
// __cdecl with plain names (UExProc.dll in bin), __stdcall with plain names,
// __stdcall with decorated names (_name@N), and one lacking releaseEVA. Each
// variant is UExProc.dll in its own folder under bin.
#include "standins/sim_state/sim_state.h"

#if defined(UEXPROC_STDCALL)
#define UEXPROC_CALL __stdcall
#else
#define UEXPROC_CALL __cdecl
#endif

// The decorated variant names its exports in a module-definition file.
#if defined(UEXPROC_DEF_FILE)
#define UEXPROC_EXPORT
#else
#define UEXPROC_EXPORT __declspec(dllexport)
#endif

extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        if (SimState* sim = OpenSimState())
            InterlockedIncrement(&sim->euLibraryLoads);
    }
    return TRUE;
}

UEXPROC_EXPORT int UEXPROC_CALL isConnectedEVA(void)
{
    HangIfAsked();
    SimState* sim = OpenSimState();
    if (sim && sim->probeName[0]) {
        if (HMODULE probe = LoadLibraryA(sim->probeName)) {
            InterlockedIncrement(&sim->probeLoadsFound);
            FreeLibrary(probe);
        }
        InterlockedIncrement(&sim->probeLoadsTried);
    }
    return sim ? sim->euConnectedResult : 0;
}

UEXPROC_EXPORT int UEXPROC_CALL sendExtensionUnitCommand(int command, int arg, void* data, int length)
{
    HangIfAsked();
    SimState* sim = OpenSimState();
    if (!sim || command != 13 || arg != 0 || sim->euConnectedResult <= 0)
        return 0;
    InterlockedIncrement(&sim->euButtonReads);
    int down = sim->euButtonDown ? 1 : 0;
    if (data && length >= 4)
        *static_cast<LONG*>(data) = down;
    return down;
}

#if !defined(UEXPROC_NO_RELEASE)
UEXPROC_EXPORT int UEXPROC_CALL releaseEVA(void)
{
    HangIfAsked();
    SimState* sim = OpenSimState();
    if (sim)
        InterlockedIncrement(&sim->euReleaseCalls);
    return 0;
}
#endif

}
