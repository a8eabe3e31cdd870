// Runs the real Lumo2.exe as a separate process and finds its windows.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

class LumoProcess {
public:
    ~LumoProcess();
    // Starts Lumo2.exe from beside the test and waits for its tray window.
    bool Start();
    // The same from exe, with the process's security descriptor when given
    // (one that refuses to be looked at plays another account's copy) and
    // with arguments.
    bool StartFrom(const std::string& exe, const char* processDescriptor = NULL, const std::string& arguments = "");
    // Starts another copy, with arguments when given, and waits for it to
    // end; its exit code, or -1.
    static DWORD RunSecondCopy(DWORD timeoutMs, const std::string& arguments = "");
    // The same with arguments in any script.
    static DWORD RunSecondCopy(DWORD timeoutMs, const std::wstring& arguments);
    // Starts another copy and answers the message box it shows with OK;
    // message gets its text, "" when it ended without one. Its exit code.
    static DWORD RunSecondCopyAnswering(std::string* message);

    // One more "NAME=value" for the environment of the next start, which
    // otherwise is this process's own.
    void AddEnvironment(const std::string& assignment) { environment_.push_back(assignment); }

    HWND Tray() const { return tray_; }
    HWND Settings() const;
    DWORD ProcessId() const { return info_.dwProcessId; }

    // Sends a tray menu command as the menu does and waits until it is done.
    void Command(WORD id) const;
    // Waits for the process to end; its exit code, or STILL_ACTIVE.
    DWORD WaitForExit(DWORD timeoutMs);
    bool Running() const;
    // Whether the notification area holds the tray window's icon.
    bool HasTrayIcon() const;

private:
    PROCESS_INFORMATION info_ = {};
    std::vector<std::string> environment_;
    HWND tray_ = NULL;
};

// Every top-level window of Lumo2's tray window class, whoever made it.
std::vector<HWND> LumoTrayWindows();
// Whether the notification area holds an icon of this tray window.
bool TrayWindowHasIcon(HWND tray);

// A window of Lumo2's tray window class made by this test and answered by
// proc: another copy of Lumo2 as the program or the setup program sees it.
// Destroy it, then UnregisterClassA("Lumo", GetModuleHandleA(NULL)).
HWND CreateFakeTrayWindow(WNDPROC proc);

// A top-level window of the given class belonging to the process, or null.
HWND FindProcessWindow(DWORD processId, const char* className, const char* title = NULL);

std::string WindowText(HWND window);

// Whether the window and all its children have painted what they show, so
// that a screenshot catches it.
bool Drawn(HWND window);

// What the screen shows of a window, 0x00RRGGBB pixels, top row first.
struct WindowPicture {
    int width = 0, height = 0;
    std::vector<DWORD> pixels;
    DWORD At(int x, int y) const { return pixels[size_t(y) * width + x]; }
};
WindowPicture CaptureWindow(HWND window);

// Writes what the screen shows of the window as a BMP in the build tree's
// screenshots folder; the test script turns them into PNG files.
bool SaveScreenshot(HWND window, const char* name);
bool SaveScreenshot(const WindowPicture& picture, const char* name);

// Waits until the window shows a picture that holds still, is not all one
// colour and has painted: a window may be found before it draws, and a
// desktop may show an empty strip for a while. The picture in *shown.
bool WaitForSteadyPicture(HWND window, WindowPicture* shown, DWORD timeoutMs);

// One of the tests' own programs with a window (front_a.exe, front_b.exe,
// ApplicationFrameHost.exe), started on construction and ended with the
// object, which brings its window forward when asked by a message: Wine
// lets a program do that for itself, not for another.
struct FrontWindowProgram {
    PROCESS_INFORMATION info = {};
    HWND window = NULL;
    explicit FrontWindowProgram(const char* exe);
    ~FrontWindowProgram();
    bool BroughtForward() const;
};

// Lumo2.exe's registry value "key", or def when it is missing.
LONG StoredActionMode(LONG def);
