// Prints what one camera poll and one connect cost, in-process, against the
// stand-in camera: the poll on both routes, and ConnectCamera with 0, 5 and
// 20 video input devices registered; with 20 and no camera, beside one bare
// walk of the video input devices that reads every name, the least any
// lookup by name can cost.
#include "camera/button_source.h"
#include "settings/action_mode.h"
#include "settings/program_rules.h"
#include "standins/sim_state/sim_state.h"
#include <strmif.h>
#include <uuids.h>
#include <algorithm>
#include <stdio.h>
#include <vector>

typedef HRESULT (*RegisterCameraFn)(int, const char*, DWORD);
typedef void (*UnregisterAllFn)();

static HMODULE Standin;

template <class Fn> static Fn Export(const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(Standin, name)));
}

static double Now()
{
    static LARGE_INTEGER frequency;
    if (!frequency.QuadPart)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart * 1000.0 / frequency.QuadPart;
}

static double ThreadCpuMs()
{
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    ULARGE_INTEGER k = {{kernel.dwLowDateTime, kernel.dwHighDateTime}};
    ULARGE_INTEGER u = {{user.dwLowDateTime, user.dwHighDateTime}};
    return (k.QuadPart + u.QuadPart) / 10000.0;
}

static void MeasurePolls(const char* route)
{
    const int polls = 2000000;  // enough for the 10 ms ticks of thread CPU time
    double wall = Now(), cpu = ThreadCpuMs();
    int presses = 0;
    for (int i = 0; i < polls; ++i)
        presses += PollCameraButton() ? 1 : 0;
    wall = Now() - wall;
    cpu = ThreadCpuMs() - cpu;
    printf("  one poll, %-16s %8.3f us wall, %8.3f us CPU (mean of %d; %d presses; %s)\n", route,
           wall * 1000 / polls, cpu * 1000 / polls, polls, presses,
           ExtensionUnitActive ? "extension unit active" : CameraDevice ? "driver interface held" : "no source");
}

// What a press adds before its keys with rules for programs: the mode for
// the program in front, with 256 rules at each level and the one that
// matches the last of the user's (the worst case but for no match at all).
static void MeasureRuleLookup()
{
    ProgramRules* rules = new ProgramRules();
    for (int level = MachinePolicyRules; level < RuleLevelCount; ++level) {
        for (int i = 0; i < int(RulesPerKeyMax); ++i) {
            WCHAR name[MAX_PATH];
            bool last = level == UserRules && i == int(RulesPerKeyMax) - 1;
            if (last)
                lstrcpyW(name, L"C:\\Program Files\\Imaging\\imaging.exe");
            else if (i % 2)
                wsprintfW(name, L"C:\\Program Files\\Imaging %03d\\program%03d.exe", i, level);
            else
                wsprintfW(name, L"program%03d-%d", i, level);
            DWORD mode = last ? ModeKodak : ModeEnter;
            AddRuleValue(&rules->levels[level], name, DWORD(lstrlenW(name)), REG_DWORD,
                         reinterpret_cast<const BYTE*>(&mode), sizeof(mode));
        }
    }
    const int lookups = 20000;
    const WCHAR* front = L"C:\\Program Files\\Imaging\\IMAGING.EXE";
    double wall = Now();
    int found = 0;
    for (int i = 0; i < lookups; ++i)
        found += ModeForProgram(rules, front, 0, ModeSpace).mode == ModeKodak;
    wall = Now() - wall;
    printf("  a press's mode from 3 x 256 rules: %8.2f us (mean of %d; %d found by the last rule)\n",
           wall * 1000 / lookups, lookups, found);
    delete rules;
}

static void RegisterDevices(int devices, bool cameraPresent)
{
    Export<UnregisterAllFn>("SimUnregisterAllCameras")();
    auto add = Export<RegisterCameraFn>("SimRegisterCamera");
    for (int i = 0; i < devices; ++i) {
        char name[32];
        snprintf(name, sizeof(name), "Webcam %d", i);
        bool camera = cameraPresent && i == devices - 1;
        add(i, camera ? "USB 2751 Camera" : name, 0);
    }
}

static void MeasureConnect(int devices, bool cameraPresent)
{
    RegisterDevices(devices, cameraPresent);
    std::vector<double> times;
    for (int run = 0; run < 5; ++run) {
        double start = Now();
        ConnectCamera();
        times.push_back(Now() - start);
    }
    std::sort(times.begin(), times.end());
    printf("  ConnectCamera, %2d devices, %-26s median %7.2f ms (min %.2f, max %.2f)\n", devices,
           cameraPresent ? "camera last in the list:" : "no camera among them:", times[2], times[0],
           times[4]);
}

// One walk of the video input devices reading each friendly name, with COM
// set up and torn down around it as a connect does.
static void WalkOnce()
{
    CoInitialize(NULL);
    ICreateDevEnum* devices = NULL;
    IEnumMoniker* monikers = NULL;
    if (SUCCEEDED(CoCreateInstance(CLSID_SystemDeviceEnum, NULL, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                   reinterpret_cast<void**>(&devices)))) {
        devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0);
        devices->Release();
    }
    IMoniker* moniker = NULL;
    while (monikers && monikers->Next(1, &moniker, NULL) == S_OK) {
        IPropertyBag* bag = NULL;
        if (SUCCEEDED(moniker->BindToStorage(NULL, NULL, IID_IPropertyBag, reinterpret_cast<void**>(&bag)))) {
            VARIANT name;
            VariantInit(&name);
            name.vt = VT_BSTR;
            bag->Read(L"FriendlyName", &name, NULL);
            VariantClear(&name);
            bag->Release();
        }
        moniker->Release();
    }
    if (monikers)
        monikers->Release();
    CoUninitialize();
}

// Connects, bare walks and COM set-ups in turn, so that the load of the
// machine falls on all of them alike.
static void CompareConnectWithBareWalk()
{
    RegisterDevices(20, false);
    const int runs = 41;
    std::vector<double> connects, walks, apartments;
    for (int run = 0; run < runs; ++run) {
        double start = Now();
        ConnectCamera();
        connects.push_back(Now() - start);
        start = Now();
        WalkOnce();
        walks.push_back(Now() - start);
        start = Now();
        CoInitialize(NULL);
        CoUninitialize();
        apartments.push_back(Now() - start);
    }
    for (auto* times : {&connects, &walks, &apartments})
        std::sort(times->begin(), times->end());
    double connect = connects[runs / 2], walk = walks[runs / 2];
    printf("  20 devices, no camera, %d runs each in turn: ConnectCamera median %.2f ms, "
           "one bare walk median %.2f ms\n", runs, connect, walk);
    // A connect without the camera sets COM up and tears it down twice, the
    // bare walk once.
    printf("  (one COM set-up and tear-down alone: median %.2f ms)\n", apartments[runs / 2]);
    printf("  connect ratio (ConnectCamera / one bare walk): %.2fx (goal <= 1.20x)\n", connect / walk);
}

int main()
{
    Standin = LoadSimCameraLibrary();
    SimState* sim = OpenSimState();
    if (!Standin || !sim) {
        fprintf(stderr, "camera_bench: the stand-in camera is missing\n");
        return 1;
    }
    sim->euConnectedResult = 0;
    printf("Camera costs (in-process, stand-in camera):\n");
    MeasureConnect(0, false);
    MeasureConnect(5, false);
    MeasureConnect(20, false);
    CompareConnectWithBareWalk();
    MeasureConnect(5, true);
    MeasureConnect(20, true);

    // The camera's known name sits at the end of the list: the worst case
    // for a lookup that succeeds.
    MeasurePolls("capture driver:");
    sim->euConnectedResult = 1;
    ConnectCamera();
    MeasurePolls("extension unit:");
    sim->euConnectedResult = 0;
    ReleaseCamera();
    Export<UnregisterAllFn>("SimUnregisterAllCameras")();
    MeasureRuleLookup();
    return 0;
}
