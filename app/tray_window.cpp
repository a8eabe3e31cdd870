// The hidden tray window, the conductor: the housekeeping timer, device
// changes, the notification icon with its popup menu, the camera thread's
// answers and the end of a session all come here and are routed on.
#include "app/tray_window.h"
#include "actions/actions.h"
#include "actions/joystick.h"
#include "actions/program_in_front.h"
#include "app/mode_change.h"
#include "app/program_rules_watch.h"
#include "camera/camera_thread.h"
#include "diagnostics/diag_events.h"
#include "diagnostics/report.h"
#include "lifecycle/session_watch.h"
#include "lifecycle/takeover.h"
#include "platform/diag_log.h"
#include "platform/display_scale.h"
#include "platform/event_log.h"
#include "platform/window_paint.h"
#include "platform/policy_watch.h"
#include "res/resource.h"
#include "settings/action_mode.h"
#include "settings/policy.h"
#include "settings/ui_text.h"
#include "tray/tray_status.h"
#include "windows/about_box.h"
#include "windows/programs_window.h"
#include "windows/settings_window.h"

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
HINSTANCE AppInstance;

static UINT TaskbarCreatedMessage;
static UINT QuitMessage;
static bool WatchesStarted;

static void FillIconData(NOTIFYICONDATAW* data, HWND window)
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
    NOTIFYICONDATAW data;
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

// When the icon went missing (a refused add at start or after Explorer
// restarted) and when it was last tried, for TrayIconRetryDue.
static bool IconMissing;
static DWORD IconMissingSince, IconLastTried;

// Adds the icon, or gives the one there the status in force, and notes a
// refusal for the retries.
static void PlaceTrayIcon(HWND window)
{
    TrayIconShown = AddTrayIcon(window);
    DWORD now = TrayClock();
    IconLastTried = now;
    if (!TrayIconShown && !IconMissing)
        IconMissingSince = now;
    IconMissing = !TrayIconShown;
}

const char TrayIconAfterConnect[] = "icon after the first connect";
// Set from creation to the first connect; the clock of the creation bounds
// the wait, since a camera process that never answers (a loader held up, a
// first connect in a hang that has no clock yet) must not leave the start
// without an icon.
static HWND IconWaitsForConnect;
static DWORD IconWaitingSince;

void ShowTrayIconAfterConnect()
{
    HWND window = IconWaitsForConnect;
    IconWaitsForConnect = NULL;
    if (window && IsWindow(window))
        PlaceTrayIcon(window);
}

// At logon the shell may not take icons yet; keep asking until it does.
// Until the first connect the icon is not there by choice: placed by a tick
// before a camera process has answered, it would show "no camera" for a
// camera that is there.
static void RetryTrayIcon(HWND window)
{
    DWORD now = TrayClock();
    if (IconWaitsForConnect) {
        if (now - IconWaitingSince >= CameraCallDeadlineMs)
            ShowTrayIconAfterConnect();
        return;
    }
    if (!TrayIconShown && (!IconMissing || TrayIconRetryDue(now - IconMissingSince, now - IconLastTried)))
        PlaceTrayIcon(window);
}

static void RemoveTrayIcon(HWND window)
{
    NOTIFYICONDATAW data;
    FillIconData(&data, window);
    TrayNotify(NIM_DELETE, &data);
    TrayIconShown = false;
}

static void ShowBalloon(HWND window, const WCHAR* text)
{
    NOTIFYICONDATAW data;
    FillIconData(&data, window);
    data.uFlags = NIF_INFO;
    lstrcpyW(data.szInfoTitle, L"Lumo2");
    lstrcpynW(data.szInfo, text, sizeof(data.szInfo) / sizeof(WCHAR));
    data.dwInfoFlags = NIIF_WARNING;
    TrayNotify(NIM_MODIFY, &data);
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
    // Where the camera's work is done on this thread, its answers come here.
    SetCameraWindow(window);
    IconMissing = false;
    if (create->lpCreateParams == TrayIconAfterConnect) {
        IconWaitsForConnect = window;
        IconWaitingSince = TrayClock();
    }
    else
        PlaceTrayIcon(window);
}

void ShowTrayMenu(HWND window)
{
    HMENU menu = LoadUiMenu(IDM_TRAY_MENU);
    if (!menu)
        return;
    HMENU popup = GetSubMenu(menu, 0);
    POINT cursor;
    GetCursorPos(&cursor);
    // Without the foreground the menu would not close when the user clicks
    // elsewhere.
    SetForegroundWindow(window);
    RefreshPolicy();
    // A language chosen since the tip last changed shows there too.
    UpdateTrayStatus();
    MarkActionMode(popup);
    TrackPopupMenu(popup, TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, window, NULL);
    SetForegroundWindow(window);
    // As Windows documents for a notification icon's menu: without a
    // message of its own after the menu, the next one opened would not
    // close when the user clicks elsewhere.
    PostMessageW(window, WM_NULL, 0, 0);
    DestroyMenu(popup);
    DestroyMenu(menu);
}

static bool OnTrayCommand(HWND window, WORD command)
{
    if (PolicyTakesCommand(command))
        return true;
    switch (command) {
    case IDM_ABOUT:
        ShowUiDialog(IDD_ABOUTBOX, window, AboutDialogProc, 0);
        return true;
    case IDM_JOYSTICK:
        // The camera thread answers whether it can click; a balloon then
        // says why not.
        ChangeActionMode(ModeJoystick);
        return true;
    case IDM_CUSTOM_SETTINGS:
        OpenSettingsWindow(AppInstance);
        return true;
    case IDM_PROGRAMS:
        // Asked for before the first tick: the user waits for them now.
        if (!RulesInForce)
            RefreshProgramRules();
        OpenProgramsWindow(AppInstance);
        return true;
    case IDM_DIAGNOSTICS:
        MakeReportFromMenu(window, PollIntervalInUse());
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

void EndWithoutCamera(int exitCode)
{
    LogLine("exit: the camera thread did not end in time; ending without it");
    LogExit(exitCode);
    CloseEventSource();
    // Windows cannot end a process while a driver holds one of its threads
    // in a call that cannot be cancelled; a start meanwhile must not find
    // the mutex held by a copy that has already gone in all but name.
    if (InstanceMutex)
        ReleaseMutex(InstanceMutex);
    // Not ExitProcess: it would run the hung library's unload code, which
    // may wait on the very call that hangs.
    TerminateProcess(GetCurrentProcess(), UINT(exitCode));
}

// Sign-out, shutdown, or the Restart Manager closing Lumo2 for an update:
// the process may be ended as soon as this returns, so the devices go back
// now (unless the camera hangs: then there is no waiting for it), and it
// ends as WM_CLOSE does. The restart registration stays: the Restart
// Manager starts Lumo2 again from it once the installation is over.
static void EndForSession(HWND window, LPARAM how)
{
    ExitReason = (how & ENDSESSION_CLOSEAPP) ? "closed by Windows for an update" : "the Windows session ended";
    EndReportUnderWay();
    if (!StopCameraThread(CameraNotResponding ? 0 : SessionEndWaitMs)) {
        // The icon goes with the window; the process then ends without the
        // call that does not return.
        DestroyWindow(window);
        EndWithoutCamera(0);
    }
    LogExit(0);
    CloseEventSource();
    DestroyWindow(window);
}

// Started at the first tick, not at creation: binding userenv.dll and
// wtsapi32.dll costs a start milliseconds that nothing needs before the
// program waits for input. The policies and the session are looked at once
// more when the watches are on, so a change in between is not missed.
static void FollowWatches(HWND window)
{
    if (!WatchesStarted) {
        WatchesStarted = true;
        if (CameraThreadRunning())
            SetTimer(window, PollTimerId, HousekeepingMs, NULL);
        StartPolicyWatch();
        StartProgramRulesWatch();
        // Also reads the rules for programs, the first time in the run.
        RefreshPolicy();
        StartSessionWatch(window, GetTickCount());
        RequestSessionConnected(SessionIsConnected());
    } else if (RetrySessionWatch(window, GetTickCount())) {
        // A change while it was not watched is caught up with.
        RequestSessionConnected(SessionIsConnected());
    } else if (PolicyApplied()) {
        RefreshPolicy();
    } else if (ProgramRulesChanged()) {
        RefreshProgramRules();
    }
}

// A camera call that has not returned in time: said once, in the log, the
// Event Log and the icon, until the camera thread reports it back.
static void WatchCameraCall()
{
    DWORD age = CameraCallAge();
    if (CameraNotResponding || age < CameraCallDeadlineMs)
        return;
    CameraNotResponding = true;
    NoticeCameraHang();
    LogLine("camera: not responding: a %s has not returned for %lu ms", CameraCallName(), age);
    ReportProgramEvent(EventCameraNotResponding);
    // A first connect that hangs would otherwise leave the start without an
    // icon.
    ShowTrayIconAfterConnect();
    UpdateTrayStatus();
}

// The camera process crashed or was ended after a hang: said at once (a
// crash has no deadline to wait for) until the next one has connected.
static void OnCameraProcessEnded(WPARAM end)
{
    static const char* const why[] = {"crashed", "was ended after a call that did not return", "could not be started"};
    const char* text = why[end < 3 ? end : 0];
    ReportProgramEvent(EventCameraProcessRestarted, text);
    if (CameraNotResponding)
        return;
    CameraNotResponding = true;
    NoticeCameraHang();
    LogLine("camera: not responding: the camera process %s", text);
    ShowTrayIconAfterConnect();
    UpdateTrayStatus();
}

static void OnCameraConnected(const CameraView& view)
{
    FollowCameraDescription(view);
    ShowTrayIconAfterConnect();
}

// Windows drops keys sent to a program at a higher level without a word:
// the tray says so until a press goes through, and the balloon and the
// entry come again now and then while it lasts. Without an icon there is
// no balloon, so the warning is kept for a press that can show it.
static void FollowBlockedKeys(HWND window, const PressRecord& press)
{
    bool sentKeys = ModeSendsKeys(press.mode);
    BlockedPressOutcome outcome =
        FollowPressTarget(&PressBlock, sentKeys, PressTarget, LookUpOwnIntegrity(), TrayIconShown, WarningClock());
    if (outcome.warn) {
        BlockedKeysAdvice advice = AdviceForAccount(LookUpOwnElevationType(), LookUpPerMachineInstall());
        WCHAR text[256];
        ComposeBlockedKeysText(text, 256, PressBlock.exeName, advice);
        ShowBalloon(window, text);
        ReportProgramEvent(advice == AdviseStartAsAdministrator ? EventKeysBlocked : EventKeysBlockedAskForInstall,
                           PressBlock.exeName[0] ? PressBlock.exeName : "the program in front");
        LogLine("blocked keys: warned (advice: %s)", advice == AdviseStartAsAdministrator
                                                          ? "start Lumo2 as administrator"
                                                          : "ask IT for the per-machine install");
    }
    if (outcome.statusChanged) {
        if (!PressBlock.blocked)
            LogLine("blocked keys: over, a press went through");
        UpdateTrayStatus();
    }
}

// After the keys have gone, on this thread, so that none of it cost the press
// any time.
static void OnCameraPressed(HWND window, const PressRecord& press)
{
    JoystickStatus joystickBefore = KnownCamera.joystick;
    KnownCamera.joystick = press.joystick;
    PressTarget = press.target;
    // The program the last press went to is offered first when adding a rule.
    NoteLastPressProgram(press.target.imagePath);
    LogPress(press);
    FollowBlockedKeys(window, press);
    if (KnownCamera.joystick != joystickBefore)
        UpdateTrayStatus();
}

static void OnJoystickFollowed(HWND window, const JoystickFollow& follow)
{
    KnownCamera.joystick = follow.status;
    if (follow.opened)
        LogJoystickStatus();
    UpdateTrayStatus();
    if (follow.fromMenu && JoystickBalloonText(follow.status)) {
        WCHAR text[256];
        LoadUiText(JoystickBalloonText(follow.status), text, 256);
        ShowBalloon(window, text);
    }
}

static void OnSessionAnswer(WPARAM connected)
{
    LogLine(connected ? "session: connected again; the camera is taken again"
                      : "session: disconnected; the camera and the joystick are given back");
}

static void OnPollTimer(HWND window, WPARAM timerId)
{
    if (timerId != PollTimerId)
        return;
    RetryTrayIcon(window);
    PollOnWindowTick();
    WatchCameraCall();
    FollowWatches(window);
}

// The camera thread's answers: a record on the heap (wParam 1) is freed
// here, one sent from the thread itself belongs to the sender.
template <class Record>
static void TakeAnswer(WPARAM owned, LPARAM lParam, void (*follow)(HWND, const Record&), HWND window)
{
    Record* record = reinterpret_cast<Record*>(lParam);
    follow(window, *record);
    if (owned)
        delete record;
}

static void FollowConnectAnswer(HWND, const CameraView& view)
{
    OnCameraConnected(view);
}

LRESULT CALLBACK TrayWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        OnCreate(window, reinterpret_cast<const CREATESTRUCTA*>(lParam));
        return 0;
    case WM_DESTROY:
        StopPolicyWatch();
        StopProgramRulesWatch();
        StopSessionWatch(window);
        WatchesStarted = false;
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
        RequestReconnect();
        return 0;
    case WM_CAMERA_CONNECTED:
        TakeAnswer<CameraView>(wParam, lParam, FollowConnectAnswer, window);
        return 0;
    case WM_CAMERA_PRESSED:
        TakeAnswer<PressRecord>(wParam, lParam, OnCameraPressed, window);
        return 0;
    case WM_JOYSTICK_FOLLOWED:
        TakeAnswer<JoystickFollow>(wParam, lParam, OnJoystickFollowed, window);
        return 0;
    case WM_CAMERA_PROCESS_ENDED:
        OnCameraProcessEnded(wParam);
        return 0;
    case WM_CAMERA_RESPONDING:
        CameraNotResponding = false;
        LogLine("camera: responding again");
        UpdateTrayStatus();
        return 0;
    case WM_REPORT_WRITTEN:
        FollowReportWritten(window, wParam, lParam);
        return 0;
    case WM_CAMERA_SESSION:
        OnSessionAnswer(wParam);
        return 0;
    case WM_WTSSESSION_CHANGE:
        if (int connected = SessionChangeMeaning(wParam, lParam); connected >= 0)
            RequestSessionConnected(connected == 1);
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
        if (wParam == SPI_SETWORKAREA)
            FollowTaskbarScale();
        break;
    case WM_DISPLAYCHANGE:
        FollowTaskbarScale();
        break;
    case WM_DPICHANGED:
        PlaceTrayIcon(window);
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
            IconMissing = false;  // a new shell: its first minute again
            PlaceTrayIcon(window);
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
