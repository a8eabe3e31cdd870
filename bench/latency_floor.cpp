// The yardstick for Lumo2's press latency: the least a poller of the camera
// button can do. A hidden window's timer reads the simulated latch every
// 100 ms, or every period given as the argument, and, when the button bit is
// set, clears it and sends one key (Space, down and up). It reads the
// simulated chip's register straight from shared memory, where Lumo2 goes
// through the capture filter's driver interface, so it is a floor for that
// path too.
//   latency_floor [period in ms]
#include "standins/sim_state/sim_state.h"
#include <stdlib.h>
#include <windows.h>

static SimState* Sim;

static void PollLatch()
{
    if (!(Sim->registers[LatchRegister] & LatchBit))
        return;
    Sim->registers[LatchRegister] &= static_cast<BYTE>(~LatchBit);
    keybd_event(VK_SPACE, 0, 0, 0);
    keybd_event(VK_SPACE, 0, KEYEVENTF_KEYUP, 0);
}

static LRESULT CALLBACK FloorWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_TIMER:
        PollLatch();
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// Not in the headers' Windows 7 target; older systems refuse it.
const DWORD HighResolutionTimer = 0x00000002;  // CREATE_WAITABLE_TIMER_HIGH_RESOLUTION

// A period shorter than the system clock's step (15.6 ms by default) cannot
// be kept by SetTimer, which rounds to those steps: 20 ms becomes about
// 31 ms on Windows. Lumo2's camera thread waits on a high-resolution
// waitable timer for that reason, and so does the floor, on the same thread
// as its window.
static HANDLE CreatePeriodTimer(LONG period)
{
    HANDLE timer = CreateWaitableTimerExW(NULL, NULL, HighResolutionTimer, TIMER_ALL_ACCESS);
    if (!timer)
        timer = CreateWaitableTimerW(NULL, FALSE, NULL);
    LARGE_INTEGER due;
    due.QuadPart = -LONGLONG(period) * 10000;
    if (timer && !SetWaitableTimer(timer, &due, period, NULL, NULL, FALSE)) {
        CloseHandle(timer);
        timer = NULL;
    }
    return timer;
}

static void RunMessages(HANDLE timer)
{
    for (;;) {
        DWORD woken = MsgWaitForMultipleObjects(1, &timer, FALSE, INFINITE, QS_ALLINPUT);
        if (woken == WAIT_OBJECT_0) {
            PollLatch();
            continue;
        }
        if (woken != WAIT_OBJECT_0 + 1)
            return;
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT)
                return;
            DispatchMessageA(&msg);
        }
    }
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    Sim = OpenSimState();
    if (!Sim)
        return 1;
    LONG period = atol(commandLine);
    if (period <= 0)
        period = 100;
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = FloorWindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = "LatencyFloor";
    RegisterClassExA(&windowClass);
    HWND window = CreateWindowExA(0, "LatencyFloor", NULL, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
                                  CW_USEDEFAULT, 0, NULL, NULL, instance, NULL);
    // The default period keeps the plain window timer that the figures at
    // 100 ms have always been measured beside.
    HANDLE timer = period == 100 ? NULL : CreatePeriodTimer(period);
    if (timer) {
        RunMessages(timer);
        CloseHandle(timer);
        return 0;
    }
    SetTimer(window, 0, period, NULL);
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0)
        DispatchMessageA(&msg);
    return 0;
}
