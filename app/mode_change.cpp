#include "app/mode_change.h"
#include "actions/joystick.h"
#include "app/tray_status.h"
#include "platform/event_log.h"
#include "app/diag_events.h"
#include "platform/diag_log.h"
#include "settings/action_mode.h"
#include "settings/policy.h"

// Opens the joystick when its mode has come into force since before (or is
// chosen again), and gives vJoy's device back whenever another mode is.
static bool FollowModeInForce(LONG before, bool chosenAgain)
{
    if (EffectiveActionMode() != ModeJoystick) {
        LeaveJoystickMode();
        return true;
    }
    if (before != ModeJoystick || chosenAgain) {
        bool usable = OpenJoystick();
        LogJoystickStatus();
        return usable;
    }
    return true;
}

void FollowSavedSettings(bool saved)
{
    if (!saved)
        ReportProgramEvent(EventSettingsNotSaved);
    LogLine("settings: %s", saved ? "saved" : "could not be saved");
    LogModeInForce(0, "by Save");
    FollowModeInForce(ModeJoystick, false);
    UpdateTrayStatus();
}

void StartModeInForce()
{
    ActivePolicy = ReadPolicy();
    LogStart();
    FollowModeInForce(0, false);
    UpdateTrayStatus();
}

bool ChangeActionMode(LONG mode)
{
    LONG before = EffectiveActionMode();
    ActionMode = mode;
    LogModeInForce(before, "from the menu");
    bool usable = FollowModeInForce(before, mode == ModeJoystick);
    UpdateTrayStatus();
    return usable;
}

bool ReopenJoystick()
{
    bool usable = FollowModeInForce(ModeJoystick, true);
    UpdateTrayStatus();
    return usable;
}

void RefreshPolicy()
{
    LONG before = EffectiveActionMode();
    ActivePolicy = ReadPolicy();
    LogModeInForce(before, "by a policy");
    FollowModeInForce(before, false);
    UpdateTrayStatus();
}
