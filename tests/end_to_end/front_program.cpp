// A small program of the tests' own with a window, standing for a dental
// imaging program: built twice under two names, so that a rule can tell
// them apart. A program may bring its own window forward where another may
// not, so the test asks it to by a message.
#include <windows.h>

const UINT WM_COME_FORWARD = WM_APP + 1;

static LRESULT CALLBACK FrontProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COME_FORWARD:
        SetForegroundWindow(window);
        SetFocus(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = FrontProc;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = "LumoFrontProgram";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(0, "LumoFrontProgram", "front", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, 300,
                                  200, NULL, NULL, instance, NULL);
    if (!window)
        return 1;
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}
