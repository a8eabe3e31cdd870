// The action dispatcher and the fixed hotkeys of the dental imaging programs.
#include "actions/actions.h"
#include "actions/joystick.h"
#include "actions/key_output.h"
#include "settings/action_mode.h"
#include "settings/policy.h"

PressState SharedPressState;
LONG& HotkeyToggle = SharedPressState.toggle;

namespace {

struct RuleState {
    ULONGLONG key;  // 0 for a free place
    DWORD lastUse;  // press count at the rule's last press
    PressState state;
};

// The camera thread's (see PressStateFor).
RuleState RuleStates[RuleStatesMax];
DWORD PressCount;

}  // namespace

PressState* PressStateFor(ULONGLONG ruleKey)
{
    if (ruleKey == 0)
        return &SharedPressState;
    ++PressCount;
    RuleState* place = &RuleStates[0];
    for (RuleState& entry : RuleStates) {
        if (entry.key == ruleKey) {
            entry.lastUse = PressCount;
            return &entry.state;
        }
        // A free place, else the one unused for longest.
        if (place->key != 0 && (entry.key == 0 || PressCount - entry.lastUse > PressCount - place->lastUse))
            place = &entry;
    }
    place->key = ruleKey;
    place->lastUse = PressCount;
    place->state = PressState();
    return &place->state;
}

static void TapKey(KeyBatch& keys, BYTE vk)
{
    PressKey(keys, vk);
    ReleaseKey(keys, vk);
}

// Holds the modifier around one of two hotkeys; which one depends on the
// press's toggle, which then flips.
static void SendAlternating(KeyBatch& keys, LONG* toggle, BYTE modifier, void (*first)(KeyBatch&),
                            void (*second)(KeyBatch&))
{
    PressKey(keys, modifier);
    if (*toggle == 0) {
        first(keys);
        *toggle = 1;
    } else {
        second(keys);
        *toggle = 0;
    }
    ReleaseKey(keys, modifier);
}

static void TapF(KeyBatch& keys) { TapKey(keys, 'F'); }
static void TapS(KeyBatch& keys) { TapKey(keys, 'S'); }
static void TapT(KeyBatch& keys) { TapKey(keys, 'T'); }
static void TapF12(KeyBatch& keys) { TapKey(keys, VK_F12); }

static void TapControlV(KeyBatch& keys)
{
    PressKey(keys, VK_CONTROL);
    TapKey(keys, 'V');
    ReleaseKey(keys, VK_CONTROL);
}

void PerformAction()
{
    PerformActionWith(EffectiveActionMode(), EffectiveCustomSettings());
}

void PerformActionWith(LONG mode, const CustomKeySettings& custom, PressState* state)
{
    // Values from a hand-edited "key" fall outside 2..10 and do nothing.
    if (static_cast<DWORD>(mode - ModeSpace) > ModeCustom - ModeSpace)
        return;

    // One look per press: a Send All press that spans its pauses keeps the
    // layout it began with.
    if (ModeSendsKeys(mode))
        BeginKeyPress();
    // A fixed mode's press is collected first and then sent in one go.
    KeyBatch keys = {};
    switch (mode) {
    case ModeSpace:
        TapKey(keys, VK_SPACE);
        break;
    case ModeEnter:
        TapKey(keys, VK_RETURN);
        break;
    case ModeSchick:
        SendAlternating(keys, &state->toggle, VK_MENU, TapF, TapT);
        break;
    case ModeKodak:
        TapKey(keys, VK_F5);
        break;
    case ModeSidexis:
        SendAlternating(keys, &state->toggle, VK_SHIFT, TapF12, TapControlV);
        break;
    case ModeAltFAltS:
        SendAlternating(keys, &state->toggle, VK_MENU, TapF, TapS);
        break;
    case ModeCdxView:
        // Always Alt+S; it counts as the second hotkey, so the next
        // alternating press starts with the first again.
        PressKey(keys, VK_MENU);
        TapS(keys);
        state->toggle = 0;
        ReleaseKey(keys, VK_MENU);
        break;
    case ModeJoystick:
        PulseJoystickButton();
        break;
    case ModeCustom:
        SendCustomKeys(custom, state);
        break;
    }
    SendKeyBatch(keys);
}
