// camsim: plays the camera and reads the joystick, so that Lumo2 can be used
// and tested without either.
//
//   camsim attach eu            camera reachable through the extension unit
//   camsim attach driver [NAME] camera as a capture device (default name
//                               "USB 2820 Video")
//   camsim detach               unplug the camera from both routes
//   camsim press [MS]           press the button for MS ms (default 300)
//   camsim hold | release       hold the button down, let it go
//   camsim packets              the joystick packets the driver received
//   camsim vjoy                 what the stand-in vJoy library was asked
//   camsim hang [MS|forever [CALLS]]
//                               make the camera stop answering: its calls
//                               block MS ms each (default: until unhang),
//                               only the next CALLS ones when given
//   camsim unhang               answer again, and let blocked calls return
//   camsim crash [CALLS]        the next call (or CALLS calls) ends the
//                               process it runs in with an access violation
//   camsim status               what the simulated camera is doing
#include "standins/joystick_driver/ppjoy_standin.h"
#include "standins/sim_state/sim_state.h"
#include "standins/vjoy/vjoy_log.h"
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef HRESULT (*RegisterCameraFn)(int, const char*, DWORD);
typedef void (*UnregisterAllFn)();

static int Detach(SimState* sim)
{
    sim->euConnectedResult = 0;
    sim->euButtonDown = 0;
    if (HMODULE standin = LoadSimCameraLibrary()) {
        auto unregisterAll = reinterpret_cast<UnregisterAllFn>(
            reinterpret_cast<void*>(GetProcAddress(standin, "SimUnregisterAllCameras")));
        if (unregisterAll)
            unregisterAll();
    }
    return 0;
}

static int Attach(SimState* sim, int argc, char** argv)
{
    if (argc < 3)
        return 2;
    Detach(sim);
    if (strcmp(argv[2], "eu") == 0) {
        sim->euConnectedResult = 1;
    } else if (strcmp(argv[2], "driver") == 0) {
        HMODULE standin = LoadSimCameraLibrary();
        auto registerCamera = standin ? reinterpret_cast<RegisterCameraFn>(reinterpret_cast<void*>(
                                            GetProcAddress(standin, "SimRegisterCamera")))
                                      : NULL;
        if (!registerCamera) {
            fprintf(stderr, "camsim: lumo2_sim_camera.dll not found beside camsim.exe\n");
            return 1;
        }
        HRESULT hr = registerCamera(0, argc > 3 ? argv[3] : SimCameraName, 0);
        if (FAILED(hr)) {
            fprintf(stderr, "camsim: registering the capture device failed (0x%08lx)\n", hr);
            return 1;
        }
    } else {
        return 2;
    }
    return 0;
}

// The camera latches a press in its chip and shows it to the extension unit
// while the button is down.
static void ButtonDown(SimState* sim)
{
    sim->euButtonDown = 1;
    sim->registers[LatchRegister] |= LatchBit;
}

static int PrintPackets()
{
    HANDLE device = CreateFileA("\\\\.\\PPJoyIOCTL1", GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    if (device == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "camsim: the joystick stand-in driver is not running\n");
        return 1;
    }
    static StandinLog log;
    DWORD bytes = 0;
    BOOL ok = DeviceIoControl(device, STANDIN_READ_LOG_IOCTL, NULL, 0, &log, sizeof(log), &bytes, NULL);
    CloseHandle(device);
    if (!ok)
        return 1;
    printf("%lu packets received, %lu handles open\n", log.received, log.openHandles - 1);
    for (DWORD i = 0; i < log.count; ++i) {
        const StandinPacket& p = log.packets[i];
        printf("%10.1f ms  %2lu bytes  button1=%u  ", p.counter * 1000.0 / (log.frequency ? log.frequency : 1), p.length,
               p.length > 38 ? p.bytes[38] : 0);
        for (DWORD b = 0; b < p.length && b < 8; ++b)
            printf("%02X ", p.bytes[b]);
        printf("...\n");
    }
    return 0;
}

static int PrintVJoyCalls()
{
    VJoyLog* log = OpenVJoyLog();
    if (!log)
        return 1;
    printf("device 1 held by process %lu\n", log->owner);
    for (LONG i = 0; i < log->count && i < VJoyLogSize; ++i) {
        const VJoyCall& c = log->calls[i];
        const char* what = c.kind == VJoyAcquireCall ? "acquire" : c.kind == VJoyRelinquishCall ? "relinquish" : "button";
        printf("%10.1f ms  process %lu  %s %u", c.counter * 1000.0 / (log->frequency ? log->frequency : 1),
               c.process, what, c.id);
        if (c.kind == VJoySetButtonCall)
            printf(" #%ld %s", c.button, c.down ? "down" : "up");
        printf("\n");
    }
    return 0;
}

static int Usage()
{
    fprintf(stderr, "usage: camsim attach eu | attach driver [NAME] | detach | press [MS] |"
                    " hold | release | hang [MS|forever [CALLS]] | unhang | crash [CALLS] | packets | vjoy | status\n");
    return 2;
}

int main(int argc, char** argv)
{
    if (argc < 2)
        return Usage();
    SimState* sim = OpenSimState();
    if (!sim) {
        fprintf(stderr, "camsim: cannot map the simulated camera's state\n");
        return 1;
    }
    const char* verb = argv[1];
    int result = 0;
    if (strcmp(verb, "attach") == 0) {
        result = Attach(sim, argc, argv);
        if (result == 0)
            AnnounceDeviceChange();
    } else if (strcmp(verb, "detach") == 0) {
        result = Detach(sim);
        AnnounceDeviceChange();
    } else if (strcmp(verb, "press") == 0) {
        int ms = argc > 2 ? atoi(argv[2]) : 300;
        ButtonDown(sim);
        Sleep(ms < 0 ? 0 : ms);
        sim->euButtonDown = 0;
    } else if (strcmp(verb, "hold") == 0) {
        ButtonDown(sim);
    } else if (strcmp(verb, "release") == 0) {
        sim->euButtonDown = 0;
    } else if (strcmp(verb, "hang") == 0) {
        bool forever = argc < 3 || strcmp(argv[2], "forever") == 0;
        long ms = forever ? 0 : atol(argv[2]);
        long calls = argc > 3 ? atol(argv[3]) : 0;
        if (!forever && ms <= 0)
            return Usage();
        StartSimHang(sim, forever ? SimHangForever : DWORD(ms), calls > 0 ? calls : 0);
    } else if (strcmp(verb, "crash") == 0) {
        long calls = argc > 2 ? atol(argv[2]) : 1;
        sim->crashCalls = calls > 0 ? calls : 1;
    } else if (strcmp(verb, "unhang") == 0) {
        EndSimHang(sim);
    } else if (strcmp(verb, "packets") == 0) {
        result = PrintPackets();
    } else if (strcmp(verb, "vjoy") == 0) {
        result = PrintVJoyCalls();
    } else if (strcmp(verb, "status") == 0) {
        printf("extension unit: %s, button %s; register 0x0C = 0x%02X; filters made %ld\n",
               sim->euConnectedResult > 0 ? "attached" : "detached", sim->euButtonDown ? "down" : "up",
               sim->registers[LatchRegister], sim->filtersCreated);
        if (sim->hangMs == SimHangForever)
            printf("hanging until unhang");
        else if (sim->hangMs)
            printf("hanging %lu ms a call", sim->hangMs);
        else
            printf("answering");
        if (sim->hangMs && sim->hangCalls > 0)
            printf(", %ld calls more", sim->hangCalls);
        printf("; calls blocked now: %ld, in all: %ld\n", sim->callsHanging, sim->callsHung);
    } else {
        return Usage();
    }
    if (result == 2)
        return Usage();
    return result;
}
