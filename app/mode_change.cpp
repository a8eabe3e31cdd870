#include "app/mode_change.h"
#include "app/program_rules_watch.h"
#include "camera/camera_thread.h"
#include "diagnostics/diag_events.h"
#include "platform/diag_log.h"
#include "platform/event_log.h"
#include "settings/action_mode.h"
#include "settings/policy.h"
#include "tray/tray_status.h"

// The camera thread opens the joystick when its mode has come into force
// since before (or is chosen again), and gives vJoy's device back whenever
// another mode is; it answers with what it found.
static void FollowModeInForce(bool chosenAgain, bool fromMenu = false)
{
    RequestJoystickFollow(chosenAgain, fromMenu);
}

// The window thread's record of the period it last asked for, and of the
// unusable value it last named, so that each is logged once per change.
static DWORD PollIntervalAsked;
static const char* PollIntervalIgnored;

static void FollowPollInterval()
{
    const char* ignored;
    DWORD interval = PollIntervalInForce(ActivePolicy, &ignored);
    if (ignored && ignored != PollIntervalIgnored)
        LogLine("poll: the %s PollInterval is not a REG_DWORD of %lu to %lu ms; ignored", ignored,
                PollIntervalMin, PollIntervalMax);
    PollIntervalIgnored = ignored;
    if (interval == PollIntervalAsked)
        return;
    if (PollIntervalAsked)
        LogLine("poll: every %lu ms", interval);
    PollIntervalAsked = interval;
    RequestPollInterval(interval);
}

static void ReadPolicyInForce()
{
    PolicySettings policy = ReadPolicy();
    LockSettings();
    ActivePolicy = policy;
    UnlockSettings();
}

DWORD PollIntervalInUse()
{
    return PollIntervalAsked ? PollIntervalAsked : DefaultPollInterval;
}

void FollowSavedSettings(bool saved)
{
    if (!saved)
        ReportProgramEvent(EventSettingsNotSaved);
    LogLine("settings: %s", saved ? "saved" : "could not be saved");
    LogModeInForce(0, "by Save");
    FollowModeInForce(false);
    UpdateTrayStatus();
}

void StartModeInForce()
{
    ReadPolicyInForce();
    FollowPollInterval();
    LogStart(PollIntervalInUse());
}

void ChangeActionMode(LONG mode)
{
    LONG before = EffectiveActionMode();
    LockSettings();
    ActionMode = mode;
    UnlockSettings();
    LogModeInForce(before, "from the menu");
    FollowModeInForce(mode == ModeJoystick, mode == ModeJoystick);
    UpdateTrayStatus();
}

void ReopenJoystick()
{
    FollowModeInForce(true);
    UpdateTrayStatus();
}

void RefreshPolicy()
{
    LONG before = EffectiveActionMode();
    ReadPolicyInForce();
    // IT's rules come with the policies, and IT's mode hides the user's.
    RefreshProgramRules();
    LogModeInForce(before, "by a policy");
    FollowPollInterval();
    FollowModeInForce(false);
    UpdateTrayStatus();
}
