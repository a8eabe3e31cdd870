// The hidden tray window: the poll timer, device changes, the notification
// icon with its popup menu, and the About box.
#include "app/tray_window.h"
#include "actions/actions.h"
#include "actions/joystick.h"
#include "app/diag_events.h"
#include "app/elevation.h"
#include "app/report.h"
#include "app/restart.h"
#include "app/mode_change.h"
#include "app/policy_watch.h"
#include "app/shell.h"
#include "app/takeover.h"
#include "app/tray_status.h"
#include "camera/button_source.h"
#include "platform/display_scale.h"
#include "platform/event_log.h"
#include "res/resource.h"
#include "settings/action_mode.h"
#include "settings/policy.h"
#include "settings/settings_window.h"

// Command IDs are neither contiguous nor in menu order, so modes come from
// this table and never from arithmetic on the ID.
static const struct {
    WORD command;
    LONG mode;
} ModeCommands[] = {
    {IDM_SPACE, ModeSpace},         {IDM_ENTER, ModeEnter},       {IDM_SCHICK, ModeSchick},
    {IDM_KODAK, ModeKodak},         {IDM_SIDEXIS, ModeSidexis},   {IDM_ALT_F_ALT_S, ModeAltFAltS},
    {IDM_CDX_VIEW, ModeCdxView},    {IDM_JOYSTICK, ModeJoystick},
};

LONG ModeForCommand(WORD command)
{
    for (const auto& entry : ModeCommands)
        if (entry.command == command)
            return entry.mode;
    return 0;
}

void GreyItemsLockedByPolicy(HMENU popup)
{
    if (ActivePolicy.mode == 0)
        return;
    for (LONG position = ModeSpace; position <= ModeCustom; ++position)
        if (position != ActivePolicy.mode || position == ModeCustom)
            EnableMenuItem(popup, UINT(position), MF_BYPOSITION | MF_GRAYED);
}

bool PolicyTakesCommand(WORD command)
{
    if (ActivePolicy.mode == 0)
        return false;
    if (command == IDM_CUSTOM_SETTINGS)
        return true;
    LONG mode = ModeForCommand(command);
    if (mode == 0)
        return false;
    if (mode == ModeJoystick && ActivePolicy.mode == ModeJoystick)
        ReopenJoystick();
    return true;
}

void MarkActionMode(HMENU popup)
{
    CheckMenuRadioItem(popup, ModeSpace, ModeCustom, EffectiveActionMode(), MF_BYPOSITION);
    GreyItemsLockedByPolicy(popup);
}


// Explorer sends this registered message to every top-level window when it
// (re)starts; the icons it held before are gone.
static UINT TaskbarCreatedMessage;
static UINT QuitMessage;
static bool PolicyWatchStarted;

const char BlockedKeysTitle[] = "Lumo2";
const char BlockedKeysText[] =
    "The program in front runs as administrator, so Windows blocks the keys Lumo2 sends to it. "
    "Start Lumo2 as administrator too.";
// Each says why the camera button does nothing in this mode and what to do
// about it, within the balloon's 255 characters.
const char NoJoystickText[] =
    "No virtual joystick driver, PPJoy or vJoy, was found, so the camera button does nothing in this mode. "
    "Install vJoy and give its device 1 a button.";
static const struct {
    JoystickStatus status;
    const char* text;
} JoystickProblems[] = {
    {JoystickNoDriver, NoJoystickText},
    {JoystickVJoyDisabled,
     "vJoy is installed but disabled, so the camera button does nothing in this mode. "
     "Turn on \"Enable vJoy\" in Configure vJoy."},
    {JoystickDeviceMissing,
     "vJoy has no device 1, so the camera button does nothing in this mode. "
     "Add device 1 with at least one button in Configure vJoy."},
    {JoystickDeviceBusy,
     "Another program is using vJoy's device 1, so the camera button does nothing in this mode. "
     "Close that program; Lumo2 takes the device at a camera press once it is free."},
    {JoystickNoButtons,
     "vJoy's device 1 has no buttons, so the camera button does nothing in this mode. "
     "Give device 1 at least one button in Configure vJoy."},
};

const char* JoystickProblemText(JoystickStatus status)
{
    for (const auto& problem : JoystickProblems)
        if (problem.status == status)
            return problem.text;
    return NULL;
}

static void FillIconData(NOTIFYICONDATAA* data, HWND window)
{
    ZeroMemory(data, sizeof(*data));
    data->cbSize = sizeof(*data);
    data->hWnd = window;
    data->uID = 0;
}

// Whether the icon is there afterwards. The shell refuses a second icon with
// the same window and ID, so when adding fails because it is still there,
// modifying it succeeds and nothing is doubled.
static bool AddTrayIcon(HWND window)
{
    NOTIFYICONDATAA data;
    FillIconData(&data, window);
    data.uFlags = NIF_MESSAGE;
    data.uCallbackMessage = WM_TRAY_CALLBACK;
    // Drawn for the notification area's size at its scale, not shrunk from
    // a larger image, and showing the status in force, not a plain one.
    FillTrayStatus(&data, window, AppInstance);
    if (TrayNotify(NIM_ADD, &data))
        return true;
    return TrayNotify(NIM_MODIFY, &data) != FALSE;
}

static void RemoveTrayIcon(HWND window)
{
    NOTIFYICONDATAA data;
    FillIconData(&data, window);
    TrayNotify(NIM_DELETE, &data);
    TrayIconShown = false;
}

static void ShowBalloon(HWND window, const char* text)
{
    NOTIFYICONDATAA data;
    FillIconData(&data, window);
    data.uFlags = NIF_INFO;
    lstrcpynA(data.szInfoTitle, BlockedKeysTitle, sizeof(data.szInfoTitle));
    lstrcpynA(data.szInfo, text, sizeof(data.szInfo));
    data.dwInfoFlags = NIIF_WARNING;
    TrayNotify(NIM_MODIFY, &data);
}

const char TrayIconAfterConnect[] = "icon after the first connect";
static HWND IconWaitsForConnect;

void ShowTrayIconAfterConnect()
{
    HWND window = IconWaitsForConnect;
    IconWaitsForConnect = NULL;
    if (window && IsWindow(window))
        TrayIconShown = AddTrayIcon(window);
}

static void OnCreate(HWND window, const CREATESTRUCTA* create)
{
    TaskbarCreatedMessage = RegisterWindowMessageA("TaskbarCreated");
    // Started as administrator, the program would otherwise never hear from
    // an ordinary Explorer: Windows filters messages from lower levels.
    ChangeWindowMessageFilterEx(window, TaskbarCreatedMessage, MSGFLT_ALLOW, NULL);
    ChangeWindowMessageFilterEx(window, WM_TRAY_CALLBACK, MSGFLT_ALLOW, NULL);
    QuitMessage = RegisterWindowMessageA(QuitMessageName);
    ChangeWindowMessageFilterEx(window, QuitMessage, MSGFLT_ALLOW, NULL);
    if (create->lpCreateParams == TrayIconAfterConnect)
        IconWaitsForConnect = window;
    else
        TrayIconShown = AddTrayIcon(window);
}

void ShowTrayMenu(HWND window)
{
    HMENU menu = LoadMenuA(AppInstance, MAKEINTRESOURCEA(IDM_TRAY_MENU));
    if (!menu)
        return;
    HMENU popup = GetSubMenu(menu, 0);
    POINT cursor;
    GetCursorPos(&cursor);
    // Without the foreground the menu would not close when the user clicks
    // elsewhere.
    SetForegroundWindow(window);
    RefreshPolicy();
    MarkActionMode(popup);
    TrackPopupMenu(popup, TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, window, NULL);
    SetForegroundWindow(window);
    DestroyMenu(popup);
    DestroyMenu(menu);
}

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
        break;
    }
    return FALSE;
}

static bool OnTrayCommand(HWND window, WORD command)
{
    if (PolicyTakesCommand(command))
        return true;
    switch (command) {
    case IDM_ABOUT:
        DialogBoxParamA(AppInstance, MAKEINTRESOURCEA(IDD_ABOUTBOX), window, AboutDialogProc, 0);
        return true;
    case IDM_JOYSTICK:
        if (!ChangeActionMode(ModeJoystick) && JoystickProblemText(CurrentJoystickStatus()))
            ShowBalloon(window, JoystickProblemText(CurrentJoystickStatus()));
        return true;
    case IDM_CUSTOM_SETTINGS:
        OpenSettingsWindow();
        return true;
    case IDM_DIAGNOSTICS:
        MakeReportOnDesktop();
        return true;
    case IDM_EXIT:
        ExitReason = "Exit chosen from the menu";
        DestroyWindow(window);
        return true;
    }
    if (LONG mode = ModeForCommand(command)) {
        ChangeActionMode(mode);
        return true;
    }
    return false;
}

// Sign-out, shutdown, or the Restart Manager closing Lumo2 for an upgrade:
// the process may be ended as soon as this returns, so the devices go back
// now, and it ends as WM_CLOSE does.
static void EndForSession(HWND window, LPARAM how)
{
    ExitReason = (how & ENDSESSION_CLOSEAPP) ? "closed by Windows for an update" : "the Windows session ended";
    ArrangeStartAfterInstall(how);
    ReleaseDevices();
    LogExit(0);
    CloseEventSource();
    DestroyWindow(window);
}

// Started at the first poll, not at creation: binding userenv.dll costs a
// start milliseconds that nothing needs before the program waits for
// input. The policies are read once more when the watch is on, so one
// applied in between is not missed.
static void FollowPolicySignal()
{
    if (!PolicyWatchStarted) {
        PolicyWatchStarted = true;
        StartPolicyWatch();
        RefreshPolicy();
    } else if (PolicyApplied()) {
        RefreshPolicy();
    }
}

static void ServePress(HWND window)
{
    BeginPressRecord();
    // Keys are still sent: the warning may be wrong, and then they arrive.
    // Without an icon there is no balloon, so the warning is kept for a
    // press that can show it.
    bool blocked = TrayIconShown && ModeSendsKeys(EffectiveActionMode()) && TakeBlockedKeysWarning();
    if (blocked)
        ShowBalloon(window, BlockedKeysText);
    JoystickStatus joystickBefore = CurrentJoystickStatus();
    PerformAction();
    // After the keys have gone, so that none of this costs the press any time.
    LogPress();
    if (blocked)
        ReportProgramEvent(EventKeysBlocked);
    if (CurrentJoystickStatus() != joystickBefore)
        UpdateTrayStatus();
}

static void OnPollTimer(HWND window, WPARAM timerId)
{
    if (timerId != PollTimerId)
        return;
    // At logon the shell may not take icons yet; keep asking until it does.
    if (!TrayIconShown)
        TrayIconShown = AddTrayIcon(window);
    if (PollCameraButton())
        ServePress(window);
    FollowPolicySignal();
}

LRESULT CALLBACK TrayWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        OnCreate(window, reinterpret_cast<const CREATESTRUCTA*>(lParam));
        return 0;
    case WM_DESTROY:
        StopPolicyWatch();
        PolicyWatchStarted = false;
        RemoveTrayIcon(window);
        FreeDimmedIcons();
        PostQuitMessage(0);
        KillTimer(window, PollTimerId);
        return 0;
    case WM_PAINT:
        PaintNothing(window);
        return 0;
    case WM_TIMER:
        OnPollTimer(window, wParam);
        return 0;
    case WM_DEVICECHANGE:
        ConnectCameraAndLog();
        return 0;
    case WM_QUERYENDSESSION:
        return TRUE;
    case WM_ENDSESSION:
        if (wParam)
            EndForSession(window, lParam);
        return 0;
    case WM_SETTINGCHANGE:
        if (IsPolicyChange(lParam))
            RefreshPolicy();
        break;
    case WM_DPICHANGED:
        TrayIconShown = AddTrayIcon(window);
        return 0;
    case WM_COMMAND:
        if (!OnTrayCommand(window, LOWORD(wParam)))
            break;
        SaveActionMode();
        return 0;
    case WM_TRAY_CALLBACK:
        if (lParam == WM_LBUTTONDOWN || lParam == WM_RBUTTONDOWN)
            ShowTrayMenu(window);
        break;
    default:
        // A registered message has no fixed number, so it cannot be a case.
        if (message == TaskbarCreatedMessage && message != 0) {
            TrayIconShown = AddTrayIcon(window);
            return 0;
        }
        // Asked by the setup program or a start as administrator: ends as
        // WM_CLOSE does, without writing "key".
        if (message == QuitMessage && message != 0) {
            ExitReason = "quit message";
            return DefWindowProcA(window, WM_CLOSE, 0, 0);
        }
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
