#include "tests/support/lumo_process.h"
#include "res/resource.h"
#include "settings/action_mode.h"
#include "tests/support/keyboard_hook.h"
#include "tests/support/test_support.h"
#include "tests/support/wait_until.h"
#include <sddl.h>
#include <algorithm>
#include <stdio.h>
#include <string.h>

struct WindowSearch {
    DWORD processId;
    const char* className;
    const char* title;
    HWND found;
};

static BOOL CALLBACK MatchWindow(HWND window, LPARAM lParam)
{
    WindowSearch* search = reinterpret_cast<WindowSearch*>(lParam);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    char className[64];
    if (pid != search->processId || !GetClassNameA(window, className, sizeof(className)))
        return TRUE;
    if (strcmp(className, search->className) != 0)
        return TRUE;
    if (search->title && WindowText(window) != search->title)
        return TRUE;
    search->found = window;
    return FALSE;
}

HWND FindProcessWindow(DWORD processId, const char* className, const char* title)
{
    WindowSearch search = {processId, className, title, NULL};
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::string WindowText(HWND window)
{
    char text[512] = {0};
    DWORD_PTR result = 0;
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text), SMTO_BLOCK,
                        2000, &result);
    return text;
}

LumoProcess::~LumoProcess()
{
    if (info_.hProcess) {
        if (Running()) {
            PostMessageA(tray_, WM_COMMAND, IDM_EXIT, 0);
            if (WaitForSingleObject(info_.hProcess, 5000) != WAIT_OBJECT_0)
                TerminateProcess(info_.hProcess, 1);
        }
        CloseHandle(info_.hProcess);
        CloseHandle(info_.hThread);
    }
}

bool LumoProcess::Start()
{
    return StartFrom(BinFolder() + "\\Lumo2.exe");
}

bool LumoProcess::StartFrom(const std::string& exe, const char* processDescriptor, const std::string& arguments)
{
    std::string commandLine = "\"" + exe + "\" " + arguments;
    PSECURITY_DESCRIPTOR sd = NULL;
    if (processDescriptor &&
        !ConvertStringSecurityDescriptorToSecurityDescriptorA(processDescriptor, SDDL_REVISION_1, &sd, NULL))
        return false;
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), sd, FALSE};
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    std::string block;
    if (!environment_.empty()) {
        char* own = GetEnvironmentStringsA();
        for (const char* entry = own; *entry; entry += strlen(entry) + 1)
            block.append(entry, strlen(entry) + 1);
        FreeEnvironmentStringsA(own);
        for (const std::string& assignment : environment_)
            block.append(assignment.c_str(), assignment.size() + 1);
        block.push_back('\0');
    }
    BOOL created = CreateProcessA(exe.c_str(), &commandLine[0], sd ? &attributes : NULL, NULL, FALSE, 0,
                                  block.empty() ? NULL : &block[0], NULL, &startup, &info_);
    if (sd)
        LocalFree(sd);
    if (!created)
        return false;
    WaitUntil([this] { return !Running() || (tray_ = FindProcessWindow(info_.dwProcessId, "Lumo")) != NULL; },
              10000);
    // Start-up is over once the program first waits for input.
    WaitForInputIdle(info_.hProcess, 5000);
    return tray_ != NULL && Running();
}

// The process's exit code once it has ended within timeoutMs, else -1 and
// it is ended; its handles are closed either way.
static DWORD ExitCodeWithin(PROCESS_INFORMATION& info, DWORD timeoutMs)
{
    DWORD code = DWORD(-1);
    if (WaitForSingleObject(info.hProcess, timeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(info.hProcess, &code);
    else
        TerminateProcess(info.hProcess, 1);
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
    return code;
}

DWORD LumoProcess::RunSecondCopy(DWORD timeoutMs, const std::string& arguments)
{
    return RunSecondCopy(timeoutMs, Wide(arguments));
}

DWORD LumoProcess::RunSecondCopy(DWORD timeoutMs, const std::wstring& arguments)
{
    std::wstring exe = Wide(BinFolder()) + L"\\Lumo2.exe";
    std::wstring commandLine = L"\"" + exe + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info;
    if (!CreateProcessW(exe.c_str(), &commandLine[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &info))
        return DWORD(-1);
    return ExitCodeWithin(info, timeoutMs);
}

static BOOL CALLBACK CollectText(HWND child, LPARAM lParam)
{
    *reinterpret_cast<std::string*>(lParam) += WindowText(child) + "\n";
    return TRUE;
}

DWORD LumoProcess::RunSecondCopyAnswering(std::string* message)
{
    std::string exe = BinFolder() + "\\Lumo2.exe";
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info;
    message->clear();
    if (!CreateProcessA(exe.c_str(), NULL, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &info))
        return DWORD(-1);
    HWND box = NULL;
    WaitUntil([&] {
        return WaitForSingleObject(info.hProcess, 0) == WAIT_OBJECT_0 ||
               ((box = FindProcessWindow(info.dwProcessId, "#32770")) != NULL && IsWindowVisible(box));
    }, 10000);
    if (box) {
        EnumChildWindows(box, CollectText, reinterpret_cast<LPARAM>(message));
        PostMessageA(box, WM_COMMAND, IDOK, 0);
    }
    return ExitCodeWithin(info, 10000);
}

HWND LumoProcess::Settings() const
{
    // By its class alone: the caption is in the language in force.
    return FindProcessWindow(info_.dwProcessId, "Custom");
}

void LumoProcess::Command(WORD id) const
{
    DWORD_PTR result;
    SendMessageTimeoutA(tray_, WM_COMMAND, id, 0, SMTO_NORMAL, 10000, &result);
}

DWORD LumoProcess::WaitForExit(DWORD timeoutMs)
{
    WaitUntil([this] { return !Running(); }, timeoutMs);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(info_.hProcess, &code);
    return code;
}

bool LumoProcess::Running() const
{
    return info_.hProcess && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT;
}

bool LumoProcess::HasTrayIcon() const
{
    return TrayWindowHasIcon(tray_);
}

bool TrayWindowHasIcon(HWND tray)
{
    // Modifying an icon succeeds only while it is there.
    NOTIFYICONDATAA data = {};
    data.cbSize = sizeof(data);
    data.hWnd = tray;
    data.uID = 0;
    data.uFlags = NIF_TIP;
    lstrcpyA(data.szTip, "Lumo2");
    return Shell_NotifyIconA(NIM_MODIFY, &data) != FALSE;
}

std::vector<HWND> LumoTrayWindows()
{
    std::vector<HWND> windows;
    for (HWND w = FindWindowExA(NULL, NULL, "Lumo", NULL); w; w = FindWindowExA(NULL, w, "Lumo", NULL))
        windows.push_back(w);
    return windows;
}

static BOOL CALLBACK ChildDrawn(HWND child, LPARAM lParam)
{
    if (GetUpdateRect(child, NULL, FALSE))
        *reinterpret_cast<bool*>(lParam) = false;
    return TRUE;
}

bool Drawn(HWND window)
{
    if (!IsWindowVisible(window) || GetUpdateRect(window, NULL, FALSE))
        return false;
    bool drawn = true;
    EnumChildWindows(window, ChildDrawn, reinterpret_cast<LPARAM>(&drawn));
    return drawn;
}

WindowPicture CaptureWindow(HWND window)
{
    WindowPicture picture;
    RECT rect;
    if (!GetWindowRect(window, &rect))
        return picture;
    int width = rect.right - rect.left, height = rect.bottom - rect.top;
    HDC screen = GetDC(NULL);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = NULL;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, NULL, 0);
    if (bitmap) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
        GdiFlush();
        SelectObject(memory, old);
        const DWORD* pixels = static_cast<const DWORD*>(bits);
        picture.width = width;
        picture.height = height;
        picture.pixels.assign(pixels, pixels + size_t(width) * height);
        for (DWORD& pixel : picture.pixels)
            pixel &= 0xFFFFFF;
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(NULL, screen);
    return picture;
}

bool SaveScreenshot(HWND window, const char* name)
{
    return SaveScreenshot(CaptureWindow(window), name);
}

bool SaveScreenshot(const WindowPicture& picture, const char* name)
{
    if (picture.pixels.empty())
        return false;
    std::string dir = BinFolder() + "\\..\\screenshots";
    CreateDirectoryA(dir.c_str(), NULL);
    std::string path = dir + "\\" + name + ".bmp";
    BITMAPINFOHEADER info = {};
    info.biSize = sizeof(info);
    info.biWidth = picture.width;
    info.biHeight = picture.height;  // bottom row first, as every reader expects
    info.biPlanes = 1;
    info.biBitCount = 24;
    DWORD stride = (picture.width * 3 + 3) & ~3;
    info.biSizeImage = stride * picture.height;
    BITMAPFILEHEADER header = {};
    header.bfType = 0x4D42;
    header.bfOffBits = sizeof(header) + sizeof(info);
    header.bfSize = header.bfOffBits + info.biSizeImage;
    std::vector<BYTE> row(stride, 0);
    bool saved = false;
    if (FILE* file = fopen(path.c_str(), "wb")) {
        saved = fwrite(&header, sizeof(header), 1, file) == 1 && fwrite(&info, sizeof(info), 1, file) == 1;
        for (int y = picture.height - 1; saved && y >= 0; --y) {
            for (int x = 0; x < picture.width; ++x) {
                DWORD pixel = picture.At(x, y);
                row[x * 3] = BYTE(pixel);
                row[x * 3 + 1] = BYTE(pixel >> 8);
                row[x * 3 + 2] = BYTE(pixel >> 16);
            }
            saved = fwrite(row.data(), 1, stride, file) == stride;
        }
        fclose(file);
    }
    return saved;
}

LONG StoredActionMode(LONG def)
{
    LONG value = def;
    DWORD size = sizeof(value);
    if (RegGetValueA(HKEY_CURRENT_USER, ProgramKeyPath, "key", RRF_RT_ANY, NULL, &value, &size) != ERROR_SUCCESS)
        return def;
    return value;
}

HWND CreateFakeTrayWindow(WNDPROC proc)
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.lpszClassName = "Lumo";
    RegisterClassA(&windowClass);  // fails harmlessly when an earlier window registered it
    HWND window = CreateWindowA("Lumo", "", 0, 0, 0, 0, 0, NULL, NULL, GetModuleHandleA(NULL), NULL);
    if (window)
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(proc));
    return window;
}

bool WaitForSteadyPicture(HWND window, WindowPicture* shown, DWORD timeoutMs)
{
    *shown = WindowPicture();
    return WaitUntil([&] {
        WindowPicture now = CaptureWindow(window);
        bool same = now.pixels == shown->pixels;
        *shown = now;
        bool lettered = std::any_of(now.pixels.begin(), now.pixels.end(), [&](DWORD p) { return p != now.pixels[0]; });
        return same && lettered && Drawn(window);
    }, timeoutMs);
}

FrontWindowProgram::FrontWindowProgram(const char* exe)
{
    char path[MAX_PATH];
    GetModuleFileNameA(NULL, path, MAX_PATH);
    lstrcpyA(strrchr(path, '\\') + 1, exe);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    if (CreateProcessA(path, NULL, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &info))
        WaitUntil([&] { return (window = FindProcessWindow(info.dwProcessId, "LumoFrontProgram")) != NULL; }, 10000);
    // A new program's window comes in front on its own, a little later:
    // until it has, bringing another forward could be undone by it.
    if (window)
        WaitUntil([&] { return GetForegroundWindow() == window; }, 5000);
}

FrontWindowProgram::~FrontWindowProgram()
{
    if (!info.hProcess)
        return;
    TerminateProcess(info.hProcess, 0);
    WaitForSingleObject(info.hProcess, 5000);
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
}

bool FrontWindowProgram::BroughtForward() const
{
    if (!window)
        return false;
    PostMessageA(window, WM_APP + 1, 0, 0);
    return WaitUntil([&] { return GetForegroundWindow() == window; }, 5000);
}
