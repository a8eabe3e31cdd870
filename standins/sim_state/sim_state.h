// The simulated camera, shared by the stand-in libraries loaded into Lumo2,
// the camsim command and the tests. It lives in a small file mapped by every
// process of the Wine prefix, so it outlasts any one of them.
#pragma once
#include <windows.h>

struct SimState {
    // Extension-unit route: what isConnectedEVA answers (0 = no camera there),
    // whether the button is down, and how often releaseEVA was called.
    LONG euConnectedResult;
    LONG euButtonDown;
    LONG euReleaseCalls;

    // Capture-driver route: the camera chip's registers, and how many filter
    // objects were ever made, in any process.
    BYTE registers[256];
    LONG filtersCreated;
    // References held on simulated filters, by anyone in any process: what
    // a long run must not let grow.
    LONG filterReferences;

    // Register reads by any process. Lumo2 reads the latch once per timer
    // tick, so a read after a press was taken shows that the tick which took
    // it, and the action it ran, have finished.
    LONG registerReads;

    // Button reads on the extension-unit route (sendExtensionUnitCommand
    // answering for a camera), by any process: once per timer tick there,
    // as registerReads is on the capture-driver route.
    LONG euButtonReads;

    // Loads of the stand-in UExProc.dll into any process: a build planted
    // where the program must not look shows itself by being counted.
    LONG euLibraryLoads;

    // While probeName is set, isConnectedEVA loads it by bare name and counts
    // the tries and the finds: one only in the current folder is never found.
    char probeName[32];
    LONG probeLoadsTried;
    LONG probeLoadsFound;

    // A camera that stops answering: while hangMs is set, each call of the
    // vendor library (isConnectedEVA, sendExtensionUnitCommand, releaseEVA)
    // and each register read or write of the capture filter blocks for that
    // many milliseconds, or until released with SimHangForever; hangCalls,
    // when above 0, limits it to that many more calls. Bumping hangReleases
    // lets every blocked call go at once, from any process.
    DWORD hangMs;
    LONG hangCalls;
    LONG hangReleases;
    // Calls blocked right now, and calls that have blocked, in any process.
    LONG callsHanging;
    LONG callsHung;
    // A library that crashes: the next crashCalls calls (as hangs are
    // counted) end their process with an access violation, as a vendor
    // library's often does on an unplug.
    LONG crashCalls;
};

const DWORD SimHangForever = 0xFFFFFFFF;

// Maps the shared state, creating it zeroed the first time; null on failure.
SimState* OpenSimState();

// Maps size bytes of the named file in the temporary folder, shared by every
// process of the prefix and zeroed when first made; null on failure.
void* MapSharedFile(const char* name, DWORD size);

// The stand-in capture driver's library (lumo2_sim_camera.dll) from beside
// the running program, loaded once; null when it is not there.
HMODULE LoadSimCameraLibrary();

// The stand-ins call this first in every call a camera could hang or crash
// in.
void HangIfAsked();
// Blocks every later call for ms (SimHangForever: until released), or only
// the next calls ones when calls is above 0; the state's hang, as camsim
// and the tests set it.
void StartSimHang(SimState* sim, DWORD ms, LONG calls = 0);
// Ends the hang and lets every blocked call return.
void EndSimHang(SimState* sim);

// Broadcasts the message Windows sends to top-level windows when a device
// comes or goes.
void AnnounceDeviceChange();

// The simulated chip latches a press of the button in this bit of this
// register until the reader clears it.
const BYTE LatchRegister = 0x0C;
const BYTE LatchBit = 0x20;

// The name the capture driver gives the camera when nothing else is set up.
const char SimCameraName[] = "USB 2820 Video";

// Capture-driver devices registered by the stand-in filter library: each has
// an index that picks its class identifier.
const int SimCameraSlots = 64;
CLSID SimCameraClsid(int index);

// Flags stored with a registered device.
const DWORD SimCameraNoDriverInterface = 1;  // the filter lacks the private interface
const DWORD SimCameraFailCreate = 2;         // binding the moniker fails
const DWORD SimCameraNoFriendlyName = 4;     // the device's name cannot be read
