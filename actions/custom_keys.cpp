// The custom key combinations, the user's own or a policy's: one per press in
// turn, or all at once.
#include "actions/actions.h"
#include "actions/key_output.h"
#include "settings/custom_settings.h"
#include "settings/policy.h"

LONG& SequencePosition = SharedPressState.position;
DWORD& LastSendTime = SharedPressState.lastSendTime;

// GetTickCount's 10-16 ms steps are nothing beside a restart time of
// seconds, and it spares Lumo2.exe winmm.dll, which is no KnownDLL: Windows
// would look for it beside the exe before WinMain, so a copy dropped into a
// per-user install folder would run inside an elevated Lumo2.
static DWORD SystemClock()
{
    return GetTickCount();
}

HANDLE ActionsStopEvent = NULL;

bool ActionsStopped()
{
    return ActionsStopEvent && WaitForSingleObject(ActionsStopEvent, 0) == WAIT_OBJECT_0;
}

static void SystemPause(DWORD ms)
{
    if (ActionsStopEvent)
        WaitForSingleObject(ActionsStopEvent, ms);
    else
        Sleep(ms);
}

ClockFn CustomKeysClock = SystemClock;
PauseFn CustomKeysPause = SystemPause;

void SendKeyCombo(KeyCombo combo)
{
    // Modifiers are let go in the order they were pressed, which is what the
    // imaging programs have always been sent.
    KeyBatch keys = {};
    if (combo.alt)
        PressKey(keys, VK_MENU);
    if (combo.control)
        PressKey(keys, VK_CONTROL);
    if (combo.shift)
        PressKey(keys, VK_SHIFT);
    PressKey(keys, static_cast<BYTE>(combo.k));
    ReleaseKey(keys, static_cast<BYTE>(combo.k));
    if (combo.alt)
        ReleaseKey(keys, VK_MENU);
    if (combo.control)
        ReleaseKey(keys, VK_CONTROL);
    if (combo.shift)
        ReleaseKey(keys, VK_SHIFT);
    SendKeyBatch(keys);
}

static void SendNextInSequence(const CustomKeySettings& settings, LONG restartAfter, PressState* state)
{
    // The shared SequencePosition and LastSendTime, or a rule's own.
    LONG& position = state->position;
    DWORD now = CustomKeysClock();
    if (position != 0) {
        // Modulo 2^32, read as signed: the counter's wrap after 49.7 days
        // does not restart the sequence.
        LONG elapsed = static_cast<LONG>(now - state->lastSendTime);
        if (position >= 3 || elapsed > restartAfter)
            position = 0;
    }
    if (settings.keys[position].k == 0) {
        position = 0;
        if (settings.keys[0].k == 0)
            return;
    }
    SendKeyCombo(settings.keys[position]);
    state->lastSendTime = now;
    if (++position >= 3)
        position = 0;
}

DWORD SendAllPause(LONG interval)
{
    // The pause holds the camera thread, so presses wait for it; a typed or
    // hand-edited 99999999 would hold them for 28 hours. A negative interval
    // (hand-edited registry only) means no pause.
    if (interval < 0)
        return 0;
    if (static_cast<DWORD>(interval) > LongestSendAllPause)
        return LongestSendAllPause;
    return static_cast<DWORD>(interval);
}

static void SendAllCombos(const CustomKeySettings& settings, LONG interval)
{
    DWORD pause = SendAllPause(interval);
    for (int i = 0; i < 3 && settings.keys[i].k != 0; ++i) {
        if (i > 0) {
            CustomKeysPause(pause);
            // The rest of a press cut short by the program's end would
            // arrive without its pause, at whatever is then in front.
            if (ActionsStopped())
                return;
        }
        SendKeyCombo(settings.keys[i]);
    }
}

void SendCustomKeys()
{
    SendCustomKeys(EffectiveCustomSettings());
}

void SendCustomKeys(const CustomKeySettings& settings, PressState* state)
{
    LONG mode = settings.mode;
    LONG time = settings.time;
    if (mode == Sequential)
        SendNextInSequence(settings, time, state);
    else if (mode == SendAll)
        SendAllCombos(settings, time);
}
