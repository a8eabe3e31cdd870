// The yardstick for Lumo2's press latency: the least a poller of the camera
// button can do. A hidden window's 100 ms timer reads the simulated latch and,
// when the button bit is set, clears it and sends one key (Space, down and
// up). It reads the simulated chip's register straight from shared memory,
// where Lumo2 goes through the capture filter's driver interface, so it is a
// floor for that path too.
#include "standins/sim_state/sim_state.h"
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

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    Sim = OpenSimState();
    if (!Sim)
        return 1;
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = FloorWindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = "LatencyFloor";
    RegisterClassExA(&windowClass);
    HWND window = CreateWindowExA(0, "LatencyFloor", NULL, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
                                  CW_USEDEFAULT, 0, NULL, NULL, instance, NULL);
    SetTimer(window, 0, 100, NULL);
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0)
        DispatchMessageA(&msg);
    return 0;
}
