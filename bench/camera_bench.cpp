// Prints what one camera poll and one connect cost, in-process, against the
// stand-in camera: the poll on both routes, and ConnectCamera with 0, 5 and
// 20 video input devices registered; with 20 and no camera, beside one bare
// walk of the video input devices that reads every name, the least any
// lookup by name can cost.
#include "camera/button_source.h"
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

// The median of runs of fn, in ms.
template <class Fn> static double MedianMs(Fn fn, double* fastest = NULL, double* slowest = NULL)
{
    std::vector<double> times;
    for (int run = 0; run < 9; ++run) {
        double start = Now();
        fn();
        times.push_back(Now() - start);
    }
    std::sort(times.begin(), times.end());
    if (fastest)
        *fastest = times.front();
    if (slowest)
        *slowest = times.back();
    return times[times.size() / 2];
}

static double MeasureConnect(int devices, bool cameraPresent)
{
    RegisterDevices(devices, cameraPresent);
    double fastest, slowest;
    double median = MedianMs(ConnectCamera, &fastest, &slowest);
    printf("  ConnectCamera, %2d devices, %-26s median %7.2f ms (min %.2f, max %.2f)\n", devices,
           cameraPresent ? "camera last in the list:" : "no camera among them:", median, fastest, slowest);
    return median;
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
    double connect = MeasureConnect(20, false);
    double walk = MedianMs(WalkOnce);
    printf("  one bare walk, 20 devices, no camera:        median %7.2f ms\n", walk);
    printf("  connect ratio (20 devices, no camera / one bare walk): %.2fx (goal <= 1.20x)\n", connect / walk);
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
    return 0;
}
