// Display scale: the DPI calls of newer Windows bound at run time, with the
// screen-wide answers of older versions in their place.
#include "platform/display_scale.h"
#include "platform/dll_search.h"

typedef UINT(WINAPI* GetDpiForWindowFn)(HWND);
typedef BOOL(WINAPI* AdjustWindowRectExForDpiFn)(RECT*, DWORD, BOOL, DWORD, UINT);
typedef int(WINAPI* GetSystemMetricsForDpiFn)(int, UINT);

// Bound on first use: Lumo2 also runs on Windows 7 and 8.1, whose user32
// lacks these, and an import of them would stop it from starting there.
static void* User32Function(const char* name)
{
    return reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), name));
}

UINT ScreenDpi()
{
    // Windows 10 1607 on answers without a device context, which is the
    // dearer way and the only one before.
    typedef UINT(WINAPI * GetDpiForSystemFn)();
    static GetDpiForSystemFn getDpiForSystem =
        reinterpret_cast<GetDpiForSystemFn>(User32Function("GetDpiForSystem"));
    if (UINT dpi = getDpiForSystem ? getDpiForSystem() : 0)
        return dpi;
    HDC screen = GetDC(NULL);
    int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
    if (screen)
        ReleaseDC(NULL, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : BaseDpi;
}

UINT WindowDpi(HWND window)
{
    static GetDpiForWindowFn getDpiForWindow =
        reinterpret_cast<GetDpiForWindowFn>(User32Function("GetDpiForWindow"));
    UINT dpi = getDpiForWindow && window ? getDpiForWindow(window) : 0;
    return dpi ? dpi : ScreenDpi();
}

typedef HRESULT(WINAPI* GetDpiForMonitorFn)(HMONITOR, int, UINT*, UINT*);

// shcore.dll has it from Windows 8.1 on; taken from the system folder by
// full path, like every library that is not imported.
static GetDpiForMonitorFn FindGetDpiForMonitor()
{
    HMODULE shcore = LoadSystemLibrary("shcore.dll");
    if (!shcore)
        return NULL;
    return reinterpret_cast<GetDpiForMonitorFn>(
        reinterpret_cast<void*>(GetProcAddress(shcore, "GetDpiForMonitor")));
}

UINT TaskbarDpi(HWND window)
{
    static GetDpiForMonitorFn getDpiForMonitor = FindGetDpiForMonitor();
    // The hidden window may sit on any monitor; the icons are drawn by the
    // taskbar on its own.
    HWND taskbar = FindWindowA("Shell_TrayWnd", NULL);
    UINT dpiX = 0, dpiY = 0;
    const int effectiveDpi = 0;  // MDT_EFFECTIVE_DPI
    if (taskbar && getDpiForMonitor &&
        SUCCEEDED(getDpiForMonitor(MonitorFromWindow(taskbar, MONITOR_DEFAULTTOPRIMARY), effectiveDpi, &dpiX, &dpiY)) &&
        dpiY)
        return dpiY;
    return WindowDpi(window);
}

int ScaleToDpi(int value, UINT dpi)
{
    return MulDiv(value, static_cast<int>(dpi), static_cast<int>(BaseDpi));
}

RECT WindowFrameForDpi(DWORD style, UINT dpi)
{
    static AdjustWindowRectExForDpiFn adjustForDpi =
        reinterpret_cast<AdjustWindowRectExForDpiFn>(User32Function("AdjustWindowRectExForDpi"));
    RECT frame = {0, 0, 0, 0};
    if (adjustForDpi && adjustForDpi(&frame, style, FALSE, 0, dpi))
        return frame;
    // Older Windows has the frame of the screen's DPI only.
    AdjustWindowRectEx(&frame, style, FALSE, 0);
    UINT screen = ScreenDpi();
    frame.left = MulDiv(frame.left, dpi, screen);
    frame.top = MulDiv(frame.top, dpi, screen);
    frame.right = MulDiv(frame.right, dpi, screen);
    frame.bottom = MulDiv(frame.bottom, dpi, screen);
    return frame;
}

int SmallIconSizeForDpi(UINT dpi)
{
    static GetSystemMetricsForDpiFn metricsForDpi =
        reinterpret_cast<GetSystemMetricsForDpiFn>(User32Function("GetSystemMetricsForDpi"));
    int size = metricsForDpi ? metricsForDpi(SM_CXSMICON, dpi) : 0;
    return size > 0 ? size : GetSystemMetrics(SM_CXSMICON);
}

HICON SmallIconForDpi(HINSTANCE instance, int iconId, UINT dpi)
{
    // A handful of sizes at most: one per display scale the icon has seen.
    static struct {
        int iconId, size;
        HICON icon;
    } loaded[8];
    int size = SmallIconSizeForDpi(dpi);
    for (const auto& entry : loaded)
        if (entry.icon && entry.iconId == iconId && entry.size == size)
            return entry.icon;
    HICON icon = static_cast<HICON>(
        LoadImageA(instance, MAKEINTRESOURCEA(iconId), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
    if (!icon)
        return NULL;
    for (auto& entry : loaded) {
        if (!entry.icon) {
            entry.iconId = iconId;
            entry.size = size;
            entry.icon = icon;
            return icon;
        }
    }
    // Full: the icon still shows, it is only not kept (a ninth scale in one
    // run is not worth a growing table).
    return icon;
}

SIZE WindowSizeForDpi(DWORD style, int width, int height, UINT dpi)
{
    RECT base = WindowFrameForDpi(style, BaseDpi);
    RECT frame = WindowFrameForDpi(style, dpi);
    SIZE size;
    size.cx = ScaleToDpi(width - (base.right - base.left), dpi) + (frame.right - frame.left);
    size.cy = ScaleToDpi(height - (base.bottom - base.top), dpi) + (frame.bottom - frame.top);
    return size;
}

RECT CentredOnScreen(SIZE size)
{
    RECT rect;
    rect.left = (GetSystemMetrics(SM_CXMAXIMIZED) - size.cx) / 2;
    rect.top = (GetSystemMetrics(SM_CYMAXIMIZED) - size.cy) / 2;
    rect.right = rect.left + size.cx;
    rect.bottom = rect.top + size.cy;
    return rect;
}
