#include "standins/sim_state/sim_state.h"
#include <dbt.h>
#include <string.h>

static const char SimCameraLibrary[] = "lumo2_sim_camera.dll";

void* MapSharedFile(const char* name, DWORD size)
{
    char path[MAX_PATH];
    DWORD length = GetTempPathA(MAX_PATH - 32, path);
    if (length == 0 || length >= MAX_PATH - 32 || lstrlenA(name) >= 32)
        return NULL;
    lstrcatA(path, name);
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return NULL;
    HANDLE mapping = CreateFileMappingA(file, NULL, PAGE_READWRITE, 0, size, NULL);
    CloseHandle(file);
    if (!mapping)
        return NULL;
    void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, size);
    CloseHandle(mapping);
    return view;
}

SimState* OpenSimState()
{
    static SimState* state;
    if (!state)
        state = static_cast<SimState*>(MapSharedFile("lumo2-camera-sim.bin", sizeof(SimState)));
    return state;
}

HMODULE LoadSimCameraLibrary()
{
    static HMODULE library;
    if (library)
        return library;
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
    char* slash = strrchr(path, '\\');
    if (length == 0 || length >= MAX_PATH || !slash || slash + 1 + sizeof(SimCameraLibrary) > path + MAX_PATH)
        return NULL;
    strcpy(slash + 1, SimCameraLibrary);
    library = LoadLibraryA(path);
    return library;
}

void HangIfAsked()
{
    SimState* sim = OpenSimState();
    if (!sim)
        return;
    if (sim->crashCalls > 0 && InterlockedDecrement(&sim->crashCalls) >= 0)
        *static_cast<volatile LONG*>(NULL) = 0;
    DWORD ms = sim->hangMs;
    if (ms == 0)
        return;
    LONG releases = sim->hangReleases;
    if (sim->hangCalls > 0) {
        LONG left = InterlockedDecrement(&sim->hangCalls);
        if (left < 0)
            return;  // another call took the last one
        if (left == 0)
            sim->hangMs = 0;
    }
    InterlockedIncrement(&sim->callsHung);
    InterlockedIncrement(&sim->callsHanging);
    // Polled, so that a release works from any process, elevated or not,
    // with nothing named that one of them could not open.
    DWORD start = GetTickCount();
    while (sim->hangReleases == releases && (ms == SimHangForever || GetTickCount() - start < ms))
        Sleep(5);
    InterlockedDecrement(&sim->callsHanging);
}

void StartSimHang(SimState* sim, DWORD ms, LONG calls)
{
    sim->hangMs = 0;
    sim->hangCalls = calls > 0 ? calls : 0;
    sim->hangMs = ms;
}

void EndSimHang(SimState* sim)
{
    sim->hangMs = 0;
    sim->hangCalls = 0;
    InterlockedIncrement(&sim->hangReleases);
}

void AnnounceDeviceChange()
{
    DWORD_PTR ignored;
    SendMessageTimeoutA(HWND_BROADCAST, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0, SMTO_ABORTIFHUNG,
                        2000, &ignored);
}

CLSID SimCameraClsid(int index)
{
    // {4C554D4F-5349-4D43-414D-4552410000xx}: "LUMOSIMCAMERA" and the slot.
    CLSID clsid = {0x4C554D4F, 0x5349, 0x4D43, {0x41, 0x4D, 0x45, 0x52, 0x41, 0x00, 0x00, 0x00}};
    clsid.Data4[7] = static_cast<BYTE>(index);
    return clsid;
}
