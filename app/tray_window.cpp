// The hidden tray window: the poll timer, device changes, the notification
// icon with its popup menu, and the About box.
#include "actions/actions.h"
#include "actions/joystick.h"
#include "app/action_mode.h"
#include "app/shell.h"
#include "camera/button_source.h"
#include "res/resource.h"
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

void MarkActionMode(HMENU popup)
{
    CheckMenuRadioItem(popup, ModeSpace, ModeCustom, ActionMode, MF_BYPOSITION);
}

// The complete ANSI structure, up to and including the balloon icon.
static_assert(sizeof(NOTIFYICONDATAA) == 508, "NOTIFYICONDATAA as of Vista");

static void FillIconData(NOTIFYICONDATAA* data, HWND window)
{
    ZeroMemory(data, sizeof(*data));
    data->cbSize = sizeof(*data);
    data->hWnd = window;
    data->uID = 0;
}

static void AddTrayIcon(HWND window)
{
    NOTIFYICONDATAA data;
    FillIconData(&data, window);
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = WM_TRAY_CALLBACK;
    data.hIcon = LoadIconA(AppInstance, MAKEINTRESOURCEA(IDI_TRAY));
    lstrcpyA(data.szTip, "Lumo2");
    Shell_NotifyIconA(NIM_ADD, &data);
}

static void RemoveTrayIcon(HWND window)
{
    NOTIFYICONDATAA data;
    FillIconData(&data, window);
    Shell_NotifyIconA(NIM_DELETE, &data);
}

void SaveActionMode()
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, ProgramKeyPath, 0, NULL, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, NULL, &key, NULL) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, "key", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&ActionMode),
                   sizeof(ActionMode));
    RegCloseKey(key);
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
    switch (command) {
    case IDM_ABOUT:
        DialogBoxParamA(AppInstance, MAKEINTRESOURCEA(IDD_ABOUTBOX), window, AboutDialogProc, 0);
        return true;
    case IDM_JOYSTICK:
        // Opened afresh each time it is chosen, so a replugged joystick works.
        ActionMode = ModeJoystick;
        OpenJoystick();
        return true;
    case IDM_CUSTOM_SETTINGS:
        ShowCustomKeySettings();
        ShowWindow(SettingsWindowHandle, SW_SHOW);
        return true;
    case IDM_EXIT:
        DestroyWindow(window);
        return true;
    }
    if (LONG mode = ModeForCommand(command)) {
        ActionMode = mode;
        return true;
    }
    return false;
}

static void OnPollTimer(WPARAM timerId)
{
    if (timerId != PollTimerId)
        return;
    if (PollCameraButton())
        PerformAction();
}

LRESULT CALLBACK TrayWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        AddTrayIcon(window);
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
        OnPollTimer(wParam);
        return 0;
    case WM_DEVICECHANGE:
        ConnectCamera();
        return 0;
    case WM_COMMAND:
        if (!OnTrayCommand(window, LOWORD(wParam)))
            break;
        SaveActionMode();
        return 0;
    default:
        if (message == WM_TRAY_CALLBACK && (lParam == WM_LBUTTONDOWN || lParam == WM_RBUTTONDOWN))
            ShowTrayMenu(window);
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
