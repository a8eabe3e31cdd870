// The action dispatcher and the fixed hotkeys of the dental imaging programs.
#include "actions/actions.h"
#include "actions/joystick.h"
#include "actions/key_output.h"
#include "app/action_mode.h"
#include "app/policy.h"

LONG HotkeyToggle = 0;

static void TapKey(BYTE vk)
{
    PressKey(vk);
    ReleaseKey(vk);
}

// Holds the modifier around one of two hotkeys; which one depends on the
// shared toggle, which then flips.
static void SendAlternating(BYTE modifier, void (*first)(), void (*second)())
{
    PressKey(modifier);
    if (HotkeyToggle == 0) {
        first();
        HotkeyToggle = 1;
    } else {
        second();
        HotkeyToggle = 0;
    }
    ReleaseKey(modifier);
}

static void TapF() { TapKey('F'); }
static void TapS() { TapKey('S'); }
static void TapT() { TapKey('T'); }
static void TapF12() { TapKey(VK_F12); }

static void TapControlV()
{
    PressKey(VK_CONTROL);
    TapKey('V');
    ReleaseKey(VK_CONTROL);
}

void PerformAction()
{
    LONG mode = EffectiveActionMode();
    // Values from a hand-edited "key" fall outside 2..10 and do nothing.
    if (static_cast<DWORD>(mode - ModeSpace) > ModeCustom - ModeSpace)
        return;

    switch (mode) {
    case ModeSpace:
        TapKey(VK_SPACE);
        break;
    case ModeEnter:
        TapKey(VK_RETURN);
        break;
    case ModeSchick:
        SendAlternating(VK_MENU, TapF, TapT);
        break;
    case ModeKodak:
        TapKey(VK_F5);
        break;
    case ModeSidexis:
        SendAlternating(VK_SHIFT, TapF12, TapControlV);
        break;
    case ModeAltFAltS:
        SendAlternating(VK_MENU, TapF, TapS);
        break;
    case ModeCdxView:
        // Always Alt+S; it counts as the second hotkey, so the next
        // alternating press starts with the first again.
        PressKey(VK_MENU);
        TapS();
        HotkeyToggle = 0;
        ReleaseKey(VK_MENU);
        break;
    case ModeJoystick:
        PulseJoystickButton();
        break;
    case ModeCustom:
        SendCustomKeys();
        break;
    }
}
