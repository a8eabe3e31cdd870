// The camera thread: connects, follows the mode for the joystick, polls on a
// waitable timer and performs each press, answering the tray window by
// posted messages. Without it, the same steps run on the window thread.
#include "camera/camera_thread.h"
#include "actions/actions.h"
#include "actions/joystick.h"
#include "camera/camera_host.h"
#include "camera/uexproc.h"
#include "platform/diag_log.h"
#include "platform/integrity.h"
#include "settings/action_mode.h"
#include "settings/policy.h"
#include <objbase.h>

namespace {

enum CallKindValue : LONG { NoCall, CallPoll, CallConnect, CallRelease, CallJoystick };
enum RequestFlags : LONG { WantReconnect = 1, WantFollow = 2, FollowChosenAgain = 4, FollowFromMenu = 8 };

// Set by the window thread before the thread starts, only read afterwards.
// Stopped is the window thread's alone: once the thread was asked to end,
// nothing is asked of the camera any more, on either thread.
bool ThreadMode;
bool Stopped;
HWND AnswerWindow;
HANDLE Thread;
HANDLE WakeEvent;

// Written by the window thread with interlocked operations, taken by the
// camera thread when it wakes.
volatile LONG Requests;
volatile LONG SessionConnected = 1;
volatile LONG PollPeriodMs = DefaultPollInterval;

// Written by the camera thread around each camera call; the window thread's
// watchdog reads them. HangNoticed goes the other way: set by the window
// thread, taken back by the camera thread.
volatile LONG CallStartedAt;  // UnbiasedMilliseconds() | 1, 0 between calls
volatile LONG CallKind;
volatile LONG HangNoticed;

// Set before the thread starts. In a camera process, ChildMode, with the
// block Lumo2 gave it and the pipe and event its records go by; LinkStopped
// is that thread's own. In Lumo2 with a camera process, HostMode and the
// block of the camera thread's camera_host: HostMode is taken back,
// interlocked, only by the camera thread when no camera process can be
// started any more, and the block stays mapped for readers that saw it set.
bool ChildMode;
volatile LONG HostMode;
CameraLinkBlock* Link;
HANDLE RecordPipe;
HANDLE RecordEvent;
bool LinkStopped;
// What StopCameraThread leaves the camera process to give the camera back:
// written before the stop event is set, read by the thread after it.
DWORD StopWaitMs;

// The camera thread's own (the window thread's where no thread runs), as
// are the rules' own alternation and sequence (PressStateFor).
LONG FollowedMode;
FrontPathCache FrontPaths;
bool ReconnectAfterHang;
bool Suspended;

// In the camera process only a connect is answered, down the pipe; a
// record that cannot go shows Lumo2 gone.
void SendRecord(DWORD kind, const CameraView* view)
{
    static CameraRecord record;
    ZeroMemory(&record, sizeof(record));
    record.size = sizeof(record);
    record.kind = kind;
    if (view)
        record.view = *view;
    DWORD written = 0;
    if (!WriteFile(RecordPipe, &record, sizeof(record), &written, NULL))
        LinkStopped = true;
    SetEvent(RecordEvent);
}

// A copy on the heap posted to the window, which frees it; without the
// thread, sent from the sender's own record.
template <class Record>
void Answer(UINT message, const Record& record)
{
    if (ChildMode) {
        if (message == WM_CAMERA_CONNECTED)
            SendRecord(RecordConnected, reinterpret_cast<const CameraView*>(&record));
        return;
    }
    if (!ThreadMode) {
        if (AnswerWindow)
            SendMessageA(AnswerWindow, message, 0, reinterpret_cast<LPARAM>(&record));
        return;
    }
    Record* copy = new Record(record);
    if (!PostMessageA(AnswerWindow, message, 1, reinterpret_cast<LPARAM>(copy)))
        delete copy;
}

void AnswerPlain(UINT message, WPARAM wParam)
{
    if (ChildMode)
        return;
    if (ThreadMode)
        PostMessageA(AnswerWindow, message, wParam, 0);
    else if (AnswerWindow)
        SendMessageA(AnswerWindow, message, wParam, 0);
}

DWORD UnbiasedMilliseconds()
{
    // Stands still while the PC sleeps or hibernates, so that a call under
    // way at a suspend is not one that hung for the whole night.
    ULONGLONG hundredNs = 0;
    QueryUnbiasedInterruptTime(&hundredNs);
    return DWORD(hundredNs / 10000);
}

void BeginCall(LONG kind)
{
    CallKind = kind;
    InterlockedExchange(&CallStartedAt, LONG(UnbiasedMilliseconds() | 1));
    // Lumo2's watchdog reads the camera process's clock from the block.
    if (ChildMode) {
        Link->callKind = kind;
        InterlockedExchange(&Link->callStartedAt, CallStartedAt);
    }
}

void EndCall()
{
    InterlockedExchange(&CallStartedAt, 0);
    if (ChildMode)
        InterlockedExchange(&Link->callStartedAt, 0);
    if (InterlockedExchange(&HangNoticed, 0)) {
        AnswerPlain(WM_CAMERA_RESPONDING, 0);
        ReconnectAfterHang = true;
    }
}

void Connect()
{
    if (HostMode) {
        AskCameraProcess(LinkReconnect);
        return;
    }
    BeginCall(CallConnect);
    ConnectCamera();
    EndCall();
    // The connect that came back is the reconnect.
    ReconnectAfterHang = false;
    CameraView view;
    DescribeCamera(&view);
    Answer(WM_CAMERA_CONNECTED, view);
}

void FollowJoystick(LONG flags)
{
    // The default's mode or any rule's: a press in front of that program
    // must find the joystick held.
    LONG mode = JoystickModeInForce() ? LONG(ModeJoystick) : 0;
    JoystickFollow answer = {};
    BeginCall(CallJoystick);
    if (mode != ModeJoystick) {
        LeaveJoystickMode();
    } else if (FollowedMode != ModeJoystick || (flags & FollowChosenAgain)) {
        OpenJoystick();
        answer.opened = true;
    }
    EndCall();
    FollowedMode = mode;
    answer.status = CurrentJoystickStatus();
    answer.fromMenu = (flags & FollowFromMenu) != 0;
    Answer(WM_JOYSTICK_FOLLOWED, answer);
}

void GiveBackDevices()
{
    BeginCall(CallJoystick);
    CloseJoystick();
    EndCall();
    BeginCall(CallRelease);
    ReleaseCamera();
    EndCall();
    ReconnectAfterHang = false;
    // Taken again in full when the devices come back.
    FollowedMode = 0;
}

void PerformPress();

void PollAndPress()
{
    BeginCall(CallPoll);
    bool pressed = PollCameraButton();
    EndCall();
    if (ChildMode) {
        // Before the record: a process that ends in between loses the press
        // rather than have the next one take a held button as a new press.
        Link->buttonDown = ExtensionUnitButtonDown;
        if (pressed)
            SendRecord(RecordPressed, NULL);
        return;
    }
    if (!pressed)
        return;
    PerformPress();
}

void PerformPress()
{
    // Only what decides the keys comes before them: the program in front
    // and the mode and settings in force for it, read once, so that the
    // whole press uses them.
    PressRecord record = {};
    LookUpFrontProgram(&record.target);
    // Files are looked at only for a process not seen before.
    const ForegroundTarget& target = record.target;
    const WCHAR* finalPath = FrontProgramPath(&FrontPaths, target.processId, target.startTime, target.imagePath);
    CustomKeySettings custom;
    CopyPressSettingsFor(target.imagePath, finalPath, &record.decision, &custom);
    record.mode = record.decision.mode;
    LastKeySend = KeySendRecord();
    // A joystick driver can hang as a camera can; a Send All pause is no
    // call and may last longer than the deadline.
    bool joystick = record.mode == ModeJoystick;
    if (joystick)
        BeginCall(CallJoystick);
    // A program with a rule of its own alternates on its own; every other
    // press shares the one state.
    PerformActionWith(record.mode, custom, PressStateFor(record.decision.ruleKey));
    if (joystick)
        EndCall();
    record.keys = LastKeySend;
    if (ModeSendsKeys(record.mode))
        CompleteForegroundTarget(&record.target);
    record.joystick = CurrentJoystickStatus();
    Answer(WM_CAMERA_PRESSED, record);
}

// Takes what the window thread asked for since the last look.
void ServeRequests(LONG pending)
{
    bool connected = SessionConnected != 0;
    if (!connected && !Suspended) {
        GiveBackDevices();
        Suspended = true;
        AnswerPlain(WM_CAMERA_SESSION, 0);
    } else if (connected && Suspended) {
        Suspended = false;
        pending |= WantReconnect | WantFollow;
        AnswerPlain(WM_CAMERA_SESSION, 1);
    }
    if (Suspended)
        return;
    if (ReconnectAfterHang)
        pending |= WantReconnect;
    if (pending & WantReconnect)
        Connect();
    // A mode chosen while the camera connected is followed with this one
    // follow, or JOYSTICK chosen then would open the joystick twice. Device
    // changes that came meanwhile stay for one more connect.
    const LONG followFlags = WantFollow | FollowChosenAgain | FollowFromMenu;
    if (ThreadMode)
        pending |= InterlockedAnd(&Requests, ~followFlags) & followFlags;
    if ((pending & WantFollow) && !ChildMode)
        FollowJoystick(pending);
}

// Newer than the headers' Windows 7 target; older systems refuse it.
const DWORD HighResolutionTimer = 0x00000002;  // CREATE_WAITABLE_TIMER_HIGH_RESOLUTION

HANDLE CreatePollTimer()
{
    // From Windows 10 1803 on; a plain timer there rounds a 20 ms period up
    // to the system clock's steps, about 31 ms.
    HANDLE timer = CreateWaitableTimerExW(NULL, NULL, HighResolutionTimer, TIMER_ALL_ACCESS);
    if (!timer)
        timer = CreateWaitableTimerW(NULL, FALSE, NULL);
    return timer;
}

bool ArmPollTimerOfSystem(HANDLE timer, LONG period)
{
    LARGE_INTEGER due;
    due.QuadPart = -LONGLONG(period) * 10000;
    return SetWaitableTimer(timer, &due, period, NULL, NULL, FALSE) != FALSE;
}

void PumpThreadMessages()
{
    MSG msg;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);
}

// In the camera process: what Lumo2 asked for since the last look.
LONG TakeLinkRequests()
{
    SessionConnected = Link->sessionConnected;
    PollPeriodMs = Link->pollPeriodMs;
    LONG asked = InterlockedExchange(&Link->requests, 0);
    if (asked & LinkStop)
        LinkStopped = true;
    return (asked & LinkReconnect) ? LONG(WantReconnect) : 0;
}

DWORD WINAPI CameraThreadMain(void*)
{
    // An apartment of its own: the capture filter is made, used and let go
    // on this thread alone.
    bool comHeld = SUCCEEDED(CoInitialize(NULL));
    HANDLE timer = CreatePollTimer();
    // Paced by the timer, else by the wait's own time-out: a timer that
    // cannot be set must not stop the polling. Without it the next poll's
    // time is kept, so that wakes for other reasons do not put it off.
    bool paced = timer != NULL;
    DWORD nextPoll = GetTickCount();
    LONG armed = 0;
    LONG pending = WantReconnect | WantFollow;
    // The stop is seen by the wait, which has it first among its handles:
    // a look of its own at each poll would cost a call to the system as
    // often as the poll itself.
    bool stopping = ActionsStopped();
    while (!stopping) {
        if (ChildMode) {
            pending |= TakeLinkRequests();
            if (LinkStopped)
                break;
        }
        ServeRequests(pending | InterlockedExchange(&Requests, 0));
        pending = 0;
        LONG period = Suspended ? 0 : PollPeriodMs;
        if (paced && period != armed) {
            if (period == 0) {
                CancelWaitableTimer(timer);
            } else if (!ArmPollTimer(timer, period)) {
                LogLine("poll: the poll timer could not be set (error %lu); the wait paces the poll", GetLastError());
                paced = false;
            }
            armed = period;
        }
        HANDLE handles[] = {ActionsStopEvent, WakeEvent, timer};
        DWORD count = paced ? 3 : 2;
        DWORD timeout = INFINITE;
        if (!paced && !Suspended) {
            LONG due = LONG(nextPoll - GetTickCount());
            timeout = due > 0 ? DWORD(due) : 0;
        }
        // Messages that a COM call of the capture filter looked at without
        // taking still wake the thread.
        DWORD woken = MsgWaitForMultipleObjectsEx(count, handles, timeout, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (woken == WAIT_FAILED) {
            LogLine("camera: the camera thread's wait failed (error %lu); polling stops", GetLastError());
            break;
        }
        if (woken == WAIT_OBJECT_0 + count)
            PumpThreadMessages();
        stopping = woken == WAIT_OBJECT_0;
        if (stopping || Suspended)
            continue;  // nothing to poll
        if (paced ? woken == WAIT_OBJECT_0 + 2 : LONG(GetTickCount() - nextPoll) >= 0) {
            PollAndPress();
            nextPoll = GetTickCount() + DWORD(PollPeriodMs);
        }
    }
    GiveBackDevices();
    if (timer)
        CloseHandle(timer);
    if (comHeld)
        CoUninitialize();
    return 0;
}

// In Lumo2 with a camera process: a press the process reports is acted on
// here as one polled here would be; a connect is answered with the joystick
// this process holds, and is the end of a hang.
void TakeCameraRecord(const CameraRecord& record)
{
    if (record.kind == RecordPressed) {
        PerformPress();
        return;
    }
    CameraView view = record.view;
    view.joystick = CurrentJoystickStatus();
    Answer(WM_CAMERA_CONNECTED, view);
    if (InterlockedExchange(&HangNoticed, 0))
        AnswerPlain(WM_CAMERA_RESPONDING, 0);
}

DWORD WINAPI HostThreadMain(void*)
{
    bool comHeld = SUCCEEDED(CoInitialize(NULL));
    // The camera process connects by itself when it starts.
    LONG pending = WantFollow;
    while (!ActionsStopped()) {
        ServeRequests(pending | InterlockedExchange(&Requests, 0));
        pending = 0;
        if (Link->sessionConnected != SessionConnected || Link->pollPeriodMs != PollPeriodMs) {
            Link->sessionConnected = SessionConnected;
            Link->pollPeriodMs = PollPeriodMs;
            AskCameraProcess(0);
        }
        HANDLE handles[4] = {ActionsStopEvent, WakeEvent};
        DWORD count = 2 + CameraHostWaitHandles(handles + 2);
        DWORD woken = MsgWaitForMultipleObjectsEx(count, handles, CameraHostTimeout(HangNoticed != 0), QS_ALLINPUT,
                                                  MWMO_INPUTAVAILABLE);
        if (woken == WAIT_FAILED) {
            LogLine("camera: the camera thread's wait failed (error %lu)", GetLastError());
            break;
        }
        if (woken == WAIT_OBJECT_0 + count)
            PumpThreadMessages();
        if (woken == WAIT_OBJECT_0)
            break;
        if (!ServeCameraHost(TakeCameraRecord, HangNoticed != 0 && CameraCallAge() >= CameraCallDeadlineMs)) {
            // As before there was a camera process: this thread polls.
            InterlockedExchange(&HostMode, 0);
            if (comHeld)
                CoUninitialize();
            return CameraThreadMain(NULL);
        }
    }
    GiveBackDevices();
    EndCameraHost(StopWaitMs);
    if (comHeld)
        CoUninitialize();
    return 0;
}

void Ask(LONG flags)
{
    if (Stopped)
        return;
    if (ThreadMode) {
        InterlockedOr(&Requests, flags);
        SetEvent(WakeEvent);
    } else {
        ServeRequests(flags);
    }
}

// Where the camera process runs, its vendor library is looked for at the
// lower of its own level and the one Lumo2 made its token at: Windows gives
// the token that level, but a token whose level cannot be changed (Wine)
// keeps Lumo2's, and would pass over the library beside Lumo2.exe that a
// start at the user's level takes. Lumo2 says in its log and report where
// that process looks; once the camera runs inside Lumo2 again, its own
// level decides. A level that cannot be read stays the elevated one.
DWORD CameraSideSearchLevel()
{
    DWORD own = LookUpOwnSearchLevelOfSystem();
    DWORD made = (ChildMode || HostMode) && Link ? DWORD(Link->madeAtLevel) : 0;
    return own != 0 && made != 0 && made < own ? made : own;
}

}  // namespace

ArmPollTimerFn ArmPollTimer = ArmPollTimerOfSystem;

bool StartCameraThread(HWND window)
{
    AnswerWindow = window;
    WakeEvent = CreateEventA(NULL, FALSE, FALSE, NULL);
    ActionsStopEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (WakeEvent && ActionsStopEvent) {
        ThreadMode = true;
        HostMode = StartCameraHost(window) ? 1 : 0;
        if (HostMode) {
            Link = CameraHostBlock();
            Link->sessionConnected = SessionConnected;
            Link->pollPeriodMs = PollPeriodMs;
            ExtensionUnitSearchIntegrity = CameraSideSearchLevel;
        }
        Thread = CreateThread(NULL, 0, HostMode ? HostThreadMain : CameraThreadMain, NULL, 0, NULL);
        if (Thread)
            return true;
        if (HostMode)
            EndCameraHost(0);
        HostMode = 0;
    }
    ThreadMode = false;
    if (WakeEvent)
        CloseHandle(WakeEvent);
    if (ActionsStopEvent)
        CloseHandle(ActionsStopEvent);
    WakeEvent = ActionsStopEvent = NULL;
    return false;
}

bool CameraInOwnProcess()
{
    return HostMode != 0;
}

// A crash in the vendor's code ends the camera process at once, with no
// error report box or debugger to wait for: Lumo2 starts the next one.
LONG WINAPI EndCameraProcessOnCrash(EXCEPTION_POINTERS* exception)
{
    TerminateProcess(GetCurrentProcess(), exception->ExceptionRecord->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

int RunCameraProcess(const CameraLinkHandles& handles)
{
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(EndCameraProcessOnCrash);
    Link = static_cast<CameraLinkBlock*>(MapViewOfFile(handles.block, FILE_MAP_WRITE, 0, 0, sizeof(CameraLinkBlock)));
    if (!Link)
        return 1;
    ChildMode = ThreadMode = true;
    RecordPipe = handles.records;
    RecordEvent = handles.recordsIn;
    WakeEvent = handles.wake;
    // Its stop is Lumo2's end: the loop and the stand-ins' pauses end with it.
    ActionsStopEvent = handles.parent;
    ExtensionUnitButtonDown = Link->buttonDown;
    ExtensionUnitSearchIntegrity = CameraSideSearchLevel;
    CameraThreadMain(NULL);
    return 0;
}

bool CameraThreadRunning()
{
    return ThreadMode;
}

void SetCameraWindow(HWND window)
{
    // A new window without the thread starts the camera's work afresh.
    if (!ThreadMode) {
        AnswerWindow = window;
        Stopped = false;
    }
}

void RequestReconnect()
{
    Ask(WantReconnect);
}

void RequestJoystickFollow(bool chosenAgain, bool fromMenu)
{
    LONG flags = WantFollow;
    if (chosenAgain)
        flags |= FollowChosenAgain;
    if (fromMenu)
        flags |= FollowFromMenu;
    Ask(flags);
}

void RequestSessionConnected(bool connected)
{
    InterlockedExchange(&SessionConnected, connected ? 1 : 0);
    Ask(0);
}

void RequestPollInterval(DWORD ms)
{
    InterlockedExchange(&PollPeriodMs, LONG(ms));
    if (ThreadMode)
        SetEvent(WakeEvent);
}

void PollOnWindowTick()
{
    if (!ThreadMode && !Stopped && !Suspended)
        PollAndPress();
}

DWORD CallAge(LONG started, DWORD now)
{
    // The | 1 can put the start a millisecond after the tick the watchdog
    // reads during the same call: that is no call 49 days old.
    LONG age = LONG(now - DWORD(started));
    return started && age > 0 ? DWORD(age) : 0;
}

DWORD CameraCallAge()
{
    DWORD now = UnbiasedMilliseconds();
    DWORD own = CallAge(CallStartedAt, now);
    DWORD camera = HostMode ? CallAge(Link->callStartedAt, now) : 0;
    return own > camera ? own : camera;
}

const char* CameraCallName()
{
    LONG kind = CallKind;
    if (HostMode && CallAge(Link->callStartedAt, UnbiasedMilliseconds()) >= CallAge(CallStartedAt, UnbiasedMilliseconds()))
        kind = Link->callKind;
    switch (kind) {
    case CallPoll: return "poll";
    case CallConnect: return "connect";
    case CallRelease: return "release";
    case CallJoystick: return "joystick call";
    }
    return "call";
}

void NoticeCameraHang()
{
    InterlockedExchange(&HangNoticed, 1);
    // A camera process that hangs is ended by the camera thread.
    if (HostMode)
        SetEvent(WakeEvent);
}

bool StopCameraThread(DWORD timeoutMs)
{
    if (!ThreadMode) {
        if (!Stopped)
            GiveBackDevices();
        Stopped = true;
        return true;
    }
    Stopped = true;
    // The camera process gets most of the time to give the camera back; the
    // thread then ends it.
    StopWaitMs = timeoutMs * 3 / 4;
    SetEvent(ActionsStopEvent);
    if (WaitForSingleObject(Thread, timeoutMs) == WAIT_OBJECT_0)
        return true;
    // A driver that supports it gives up the request the thread waits in;
    // the thread may then end on its own while the process ends.
    CancelSynchronousIo(Thread);
    return false;
}
