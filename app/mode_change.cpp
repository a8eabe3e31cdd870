#include "app/mode_change.h"
#include "actions/joystick.h"
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

void FollowSavedSettings()
{
    FollowModeInForce(ModeJoystick, false);
}

void StartModeInForce()
{
    ActivePolicy = ReadPolicy();
    FollowModeInForce(0, false);
}

bool ChangeActionMode(LONG mode)
{
    LONG before = EffectiveActionMode();
    ActionMode = mode;
    return FollowModeInForce(before, mode == ModeJoystick);
}

bool ReopenJoystick()
{
    return FollowModeInForce(ModeJoystick, true);
}

void RefreshPolicy()
{
    LONG before = EffectiveActionMode();
    ActivePolicy = ReadPolicy();
    FollowModeInForce(before, false);
}
