// Start-up of the shell: window classes, the hidden windows, the poll timer,
// and the message loop with its key-field diversion.
#include "app/shell.h"
#include "app/mode_change.h"
#include "app/program_rules_watch.h"
#include "app/tray_window.h"
#include "camera/camera_thread.h"
#include "diagnostics/diag_events.h"
#include "lifecycle/session_watch.h"
#include "lifecycle/takeover.h"
#include "platform/diag_log.h"
#include "platform/event_log.h"
#include "res/resource.h"
#include "settings/action_mode.h"
#include "settings/custom_settings.h"
#include "settings/ui_text.h"
#include "windows/programs_window.h"
#include "windows/settings_window.h"
#include <objbase.h>


void RegisterWindowClasses(HINSTANCE instance)
{
    if (!RegisterSettingsClass(instance))
        ShowUiMessage(NULL, IDS_REG_ERROR, MB_OK | MB_ICONERROR);

    WNDCLASSEXA trayClass = {};
    trayClass.cbSize = sizeof(trayClass);
    trayClass.style = CS_HREDRAW | CS_VREDRAW;
    trayClass.hInstance = instance;
    trayClass.hIconSm = LoadIconA(instance, MAKEINTRESOURCEA(IDI_SMALL));
    trayClass.hCursor = LoadCursorA(NULL, IDC_ARROW);
    trayClass.lpfnWndProc = TrayWindowProc;
    trayClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_LARGE));
    trayClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    trayClass.lpszClassName = TrayClassName;
    // A failure shows up as the tray window's creation failing.
    RegisterClassExA(&trayClass);
}

void ReadStartUpSettings()
{
    // The user's own custom settings are loaded for the user's mode 10 even
    // under a policy, so that they are in place once the policy is gone.
    if (ReadActionMode() && ActionMode == ModeCustom)
        LoadCustomKeySettings();
    StartModeInForce();
}

int InitializeShell(HINSTANCE instance)
{
    ReadStartUpSettings();
    AppInstance = instance;
    HWND tray = CreateWindowExA(0, TrayClassName, NULL, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0, CW_USEDEFAULT, 0,
                                NULL, NULL, instance, const_cast<char*>(TrayIconAfterConnect));
    if (!tray)
        return 0;
    CustomSettingsSaved = FollowSavedSettings;
    ProgramRulesEdited = RefreshProgramRules;
    // A copy started in a session nobody is connected to (a user switched
    // away, a dropped Remote Desktop) leaves the camera to the session in
    // front until its own is connected.
    bool connected = SessionIsConnected();
    if (StartCameraThread(tray)) {
        if (!connected)
            RequestSessionConnected(false);
        // The first tick starts the watches; the slower pace comes after it.
        SetTimer(tray, PollTimerId, PollIntervalMs, NULL);
        return 1;
    }
    // Without a thread of its own the camera is served here, as it was
    // before there was one, in this thread's apartment, polled on this timer.
    if (!connected)
        RequestSessionConnected(false);
    SetTimer(tray, PollTimerId, PollIntervalInUse(), NULL);
    RequestReconnect();
    RequestJoystickFollow(false, false);
    return 1;
}

static bool IsKeyField(HWND window)
{
    return window != NULL && (window == KeyField1 || window == KeyField2 || window == KeyField3);
}

int RunMessageLoop()
{
    MSG msg;
    // Wide, so that text typed in the programs window reaches it whole; the
    // system converts for the windows of the ANSI classes.
    while (GetMessageW(&msg, NULL, 0, 0) > 0) {
        // Key-downs in a key field are captured, never typed or handled by
        // the system, so Alt+F4, Tab and Esc can be captured like any key.
        HWND focus = GetFocus();
        if (IsKeyField(focus) && (msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN)) {
            CaptureKeyCombo(focus, static_cast<DWORD>(msg.wParam));
            continue;
        }
        // Tab, the arrows, Enter and Esc move and act in the programs
        // window as in a dialog box.
        if (ProgramsWindowHandle && IsDialogMessageW(ProgramsWindowHandle, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

