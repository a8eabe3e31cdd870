// The hidden tray window: the poll timer, device changes, the notification
// icon with its popup menu, and the About box.
#include "app/tray_window.h"
#include "actions/actions.h"
#include "app/elevation.h"
#include "app/mode_change.h"
#include "app/shell.h"
#include "app/takeover.h"
#include "camera/button_source.h"
#include "platform/display_scale.h"
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

// The complete ANSI structure, up to and including the balloon icon.
static_assert(sizeof(NOTIFYICONDATAA) == 508, "NOTIFYICONDATAA as of Vista");

static BOOL NotifyShell(DWORD message, NOTIFYICONDATAA* data)
{
    return Shell_NotifyIconA(message, data);
}

TrayNotifyFn TrayNotify = NotifyShell;
bool TrayIconShown = false;

// Explorer sends this registered message to every top-level window when it
// (re)starts; the icons it held before are gone.
static UINT TaskbarCreatedMessage;
static UINT QuitMessage;

const char BlockedKeysTitle[] = "Lumo2";
const char BlockedKeysText[] =
    "The program in front runs as administrator, so Windows blocks the keys Lumo2 sends to it. "
    "Start Lumo2 as administrator too.";
const char NoJoystickText[] =
    "No virtual joystick driver, PPJoy or vJoy, was found, so the camera button does nothing in this mode.";

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
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = WM_TRAY_CALLBACK;
    // Drawn for the notification area's size at this scale, not shrunk
    // from a larger image.
    data.hIcon = SmallIconForDpi(AppInstance, IDI_TRAY, WindowDpi(window));
    lstrcpyA(data.szTip, "Lumo2");
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

static void OnCreate(HWND window)
{
    TaskbarCreatedMessage = RegisterWindowMessageA("TaskbarCreated");
    // Started as administrator, the program would otherwise never hear from
    // an ordinary Explorer: Windows filters messages from lower levels.
    ChangeWindowMessageFilterEx(window, TaskbarCreatedMessage, MSGFLT_ALLOW, NULL);
    ChangeWindowMessageFilterEx(window, WM_TRAY_CALLBACK, MSGFLT_ALLOW, NULL);
    QuitMessage = RegisterWindowMessageA(QuitMessageName);
    ChangeWindowMessageFilterEx(window, QuitMessage, MSGFLT_ALLOW, NULL);
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
        if (!ChangeActionMode(ModeJoystick))
            ShowBalloon(window, NoJoystickText);
        return true;
    case IDM_CUSTOM_SETTINGS:
        OpenSettingsWindow();
        return true;
    case IDM_EXIT:
        DestroyWindow(window);
        return true;
    }
    if (LONG mode = ModeForCommand(command)) {
        ChangeActionMode(mode);
        return true;
    }
    return false;
}

static void OnPollTimer(HWND window, WPARAM timerId)
{
    if (timerId != PollTimerId)
        return;
    // At logon the shell may not take icons yet; keep asking until it does.
    if (!TrayIconShown)
        TrayIconShown = AddTrayIcon(window);
    if (!PollCameraButton())
        return;
    // Keys are still sent: the warning may be wrong, and then they arrive.
    // Without an icon there is no balloon, so the warning is kept for a
    // press that can show it.
    if (TrayIconShown && ModeSendsKeys(EffectiveActionMode()) && TakeBlockedKeysWarning())
        ShowBalloon(window, BlockedKeysText);
    PerformAction();
}

LRESULT CALLBACK TrayWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        OnCreate(window);
        return 0;
    case WM_DESTROY:
        RemoveTrayIcon(window);
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
        ConnectCamera();
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
        if (message == QuitMessage && message != 0)
            return DefWindowProcA(window, WM_CLOSE, 0, 0);
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
