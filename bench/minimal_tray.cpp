// The yardstick for Lumo2's own cost: the least a tray poller can be, a
// hidden window with a 100 ms timer and a notification icon, doing nothing.
#include <windows.h>
#include <shellapi.h>

static LRESULT CALLBACK MinimalWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    NOTIFYICONDATAA data = {};
    data.cbSize = sizeof(data);
    data.hWnd = window;
    switch (message) {
    case WM_CREATE:
        data.uFlags = NIF_ICON | NIF_TIP;
        data.hIcon = LoadIconA(NULL, IDI_APPLICATION);
        lstrcpyA(data.szTip, "Minimal");
        Shell_NotifyIconA(NIM_ADD, &data);
        return 0;
    case WM_TIMER:
        return 0;
    case WM_DESTROY:
        Shell_NotifyIconA(NIM_DELETE, &data);
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = MinimalWindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = "MinimalTray";
    RegisterClassExA(&windowClass);
    HWND window = CreateWindowExA(0, "MinimalTray", NULL, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
                                  CW_USEDEFAULT, 0, NULL, NULL, instance, NULL);
    SetTimer(window, 0, 100, NULL);
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0)
        DispatchMessageA(&msg);
    return 0;
}
