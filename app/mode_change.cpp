#include "app/mode_change.h"
#include "actions/joystick.h"
#include "app/tray_status.h"
#include "platform/event_log.h"
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
    if (before != ModeJoystick || chosenAgain)
        return OpenJoystick();
    return true;
}

void FollowSavedSettings(bool saved)
{
    if (!saved)
        ReportProgramEvent(EventSettingsNotSaved);
    FollowModeInForce(ModeJoystick, false);
    UpdateTrayStatus();
}

void StartModeInForce()
{
    ActivePolicy = ReadPolicy();
    FollowModeInForce(0, false);
    UpdateTrayStatus();
}

bool ChangeActionMode(LONG mode)
{
    LONG before = EffectiveActionMode();
    ActionMode = mode;
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
    FollowModeInForce(before, false);
    UpdateTrayStatus();
}
