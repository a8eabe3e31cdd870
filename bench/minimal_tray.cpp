// The yardstick for Lumo2's own cost: the least a camera utility in the tray
// can be. A hidden window with a 100 ms timer and a notification icon that
// initialises COM and walks the video input devices once, reading each
// one's name, as any program must that looks for its camera. It does nothing
// else: it binds no device and never polls one.
#include <windows.h>
#include <shellapi.h>
#include <strmif.h>
#include <uuids.h>

static void WalkVideoInputDevices()
{
    ICreateDevEnum* devices = NULL;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, NULL, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                reinterpret_cast<void**>(&devices))))
        return;
    IEnumMoniker* monikers = NULL;
    if (devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0) == S_OK && monikers) {
        IMoniker* moniker = NULL;
        while (monikers->Next(1, &moniker, NULL) == S_OK) {
            IPropertyBag* bag = NULL;
            if (SUCCEEDED(moniker->BindToStorage(NULL, NULL, IID_IPropertyBag, reinterpret_cast<void**>(&bag)))) {
                VARIANT name;
                VariantInit(&name);
                bag->Read(L"FriendlyName", &name, NULL);
                VariantClear(&name);
                bag->Release();
            }
            moniker->Release();
        }
        monikers->Release();
    }
    devices->Release();
}

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
    // In the same place as Lumo2's camera connection: after the icon, before
    // the loop. COM stays initialised while the program runs, as it does for
    // a program that holds its camera.
    CoInitialize(NULL);
    WalkVideoInputDevices();
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0)
        DispatchMessageA(&msg);
    CoUninitialize();
    return 0;
}
