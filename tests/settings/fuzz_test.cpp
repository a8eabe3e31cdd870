// Generated cases instead of chosen ones: the fifteen stored values in every
// shape a damaged or hand-edited registry can give them, read through the
// program's own load path, and presses of every mode and setting, with every
// key sent recorded. The seed is printed so a failure replays exactly
// (LUMO2_FUZZ_SEED=<seed>).
#include "actions/actions.h"
#include "actions/joystick.h"
#include "app/shell.h"
#include "settings/action_mode.h"
#include "settings/custom_settings.h"
#include "settings/key_names.h"
#include "tests/support/key_recorder.h"
#include "tests/support/registry_scratch.h"
#include "tests/support/stored_value_fuzz.h"
#include "tests/support/test_support.h"
#include <gtest/gtest.h>
#include <limits.h>
#include <random>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <vector>

namespace {

const unsigned DefaultSeed = 20261207;

DWORD FakeNow;
DWORD FakeClock() { return FakeNow; }

// Plays the clock for the whole test; a KeyRecorder takes the keys and the
// pauses between them.
class PressTest : public RegistryTest {
protected:
    void SetUp() override
    {
        RegistryTest::SetUp();
        previousClock = CustomKeysClock;
        CustomKeysClock = FakeClock;
        seed = EnvNumber("LUMO2_FUZZ_SEED", DefaultSeed);
        rng.seed(seed);
    }
    void TearDown() override
    {
        CustomKeysClock = previousClock;
        CloseJoystick();
        RegistryTest::TearDown();
    }
    DWORD Pick(DWORD n) { return static_cast<DWORD>(rng() % n); }

    ClockFn previousClock = NULL;
    unsigned seed = 0;
    std::mt19937 rng;
};

// Checks what presses typed against a keyboard that holds what is pressed.
struct KeyboardModel {
    int held[256] = {};
    long long downs = 0;
    DWORD longestPause = 0;
    std::string fault;

    // Events of one press: each key released as often as pressed, never
    // before, and nothing held afterwards.
    void Take(const std::vector<KeyEvent>& events)
    {
        int count[256] = {};
        for (const KeyEvent& e : events) {
            if (e.pause) {
                longestPause = e.pauseMs > longestPause ? e.pauseMs : longestPause;
                continue;
            }
            if (e.down) {
                ++count[e.vk];
                ++held[e.vk];
                ++downs;
            } else {
                if (--count[e.vk] < 0 && fault.empty())
                    fault = "released before pressed: " + Describe(events);
                --held[e.vk];
            }
        }
        for (int vk = 0; vk < 256; ++vk)
            if (count[vk] != 0 && fault.empty())
                fault = "left down: " + Describe(events);
    }
    bool NothingHeld() const
    {
        for (int h : held)
            if (h != 0)
                return false;
        return true;
    }
};

// ---------------------------------------------------------------------------
// Registry fuzz

struct Field {
    const char* name;
    DWORD width;
    BYTE* (*address)();
};

BYTE* ModeField() { return reinterpret_cast<BYTE*>(&CustomSettings.mode); }
BYTE* TimeField() { return reinterpret_cast<BYTE*>(&CustomSettings.time); }
#define COMBO_FIELDS(n)                                                                            \
    {"key" #n "_alt", 1, [] { return &CustomSettings.keys[n - 1].alt; }},                            \
        {"key" #n "_control", 1, [] { return &CustomSettings.keys[n - 1].control; }},                \
        {"key" #n "_shift", 1, [] { return &CustomSettings.keys[n - 1].shift; }},                    \
        {"key" #n "_k", 4, [] { return reinterpret_cast<BYTE*>(&CustomSettings.keys[n - 1].k); }}
const Field CustomFields[] = {
    {"mode", 4, ModeField}, {"time", 4, TimeField}, COMBO_FIELDS(1), COMBO_FIELDS(2), COMBO_FIELDS(3),
};
#undef COMBO_FIELDS

class RegistryFuzzTest : public PressTest {
protected:
    // What the load must leave in a field: a stored value that fits replaces
    // the field's low bytes, anything else leaves the field as it was.
    static void Expect(HKEY key, const char* name, BYTE* field, DWORD width, bool* fits)
    {
        BYTE stored[4096];
        DWORD size = sizeof(stored);
        *fits = RegQueryValueExA(key, name, NULL, NULL, stored, &size) == ERROR_SUCCESS && size <= width;
        if (*fits)
            memcpy(field, stored, size);
    }
};

TEST_F(RegistryFuzzTest, GeneratedStoredValuesLoadIntoTheirFieldsOrLeaveThem)
{
    const unsigned cases = EnvNumber("LUMO2_FUZZ_CASES", 10000);
    printf("registry fuzz: seed %u, %u cases (LUMO2_FUZZ_SEED / LUMO2_FUZZ_CASES to replay)\n", seed, cases);
    KeyboardModel keyboard;
    unsigned customStarts = 0, pressesTyping = 0, fitted = 0, kept = 0, joystick = 0;
    DWORD start = GetTickCount();
    for (unsigned n = 0; n < cases; ++n) {
        RegDeleteTreeA(HKEY_CURRENT_USER, ProgramKeyPath);
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, ProgramKeyPath, 0, NULL, 0,
                                                 KEY_ALL_ACCESS, NULL, &key, NULL));
        StoreGeneratedValue(rng, key, "key", true);
        for (const Field& f : CustomFields)
            StoreGeneratedValue(rng, key, f.name, false);

        // The record as an earlier load left it, random down to the byte.
        CustomKeySettings before;
        for (size_t i = 0; i < sizeof(before); ++i)
            reinterpret_cast<BYTE*>(&before)[i] = BYTE(rng());
        CustomSettings = before;
        ActionMode = ModeSpace;  // as at process start

        LONG expectedMode = ModeSpace;
        bool fits;
        Expect(key, "key", reinterpret_cast<BYTE*>(&expectedMode), 4, &fits);
        CustomKeySettings expected = before;
        for (const Field& f : CustomFields) {
            BYTE* field = reinterpret_cast<BYTE*>(&expected) + (f.address() - reinterpret_cast<BYTE*>(&CustomSettings));
            Expect(key, f.name, field, f.width, &fits);
            fits ? ++fitted : ++kept;
        }
        RegCloseKey(key);

        ReadStartUpSettings();
        ASSERT_EQ(expectedMode, ActionMode) << "case " << n << ", seed " << seed;
        if (ActionMode != ModeCustom) {
            ASSERT_EQ(0, memcmp(&before, &CustomSettings, sizeof(before))) << "case " << n << ": loaded unasked";
            LoadCustomKeySettings();  // as opening the settings window does
        } else {
            ++customStarts;
        }
        for (const Field& f : CustomFields) {
            const BYTE* want = reinterpret_cast<const BYTE*>(&expected) + (f.address() - reinterpret_cast<BYTE*>(&CustomSettings));
            ASSERT_EQ(0, memcmp(want, f.address(), f.width)) << "case " << n << ", value " << f.name << ", seed " << seed;
        }
        // The text of any loaded combination stays inside its buffer.
        for (const KeyCombo& combo : CustomSettings.keys) {
            char text[100];
            memset(text, 0, sizeof(text));
            FormatKeyCombo(text, combo);
            ASSERT_LE(strlen(text), 31u) << "case " << n;
        }

        // One press with what was loaded.
        if (ActionMode == ModeJoystick) {
            ++joystick;
            continue;  // clicks the joystick, types nothing
        }
        KeyRecorder recorder;
        FakeNow += 1 + Pick(3000);
        PerformAction();
        std::vector<KeyEvent> events = recorder.Take();
        pressesTyping += !events.empty();
        keyboard.Take(events);
        ASSERT_TRUE(keyboard.fault.empty()) << "case " << n << ": " << keyboard.fault;
        ASSERT_LE(keyboard.longestPause, LongestSendAllPause) << "case " << n;
    }
    EXPECT_TRUE(keyboard.NothingHeld());
    printf("registry fuzz: %u cases in %lu ms; %u started in Custom mode; %u values fitted their field, "
           "%u left it unchanged; %u presses typed %lld key-downs, all released; %u joystick starts not pressed\n",
           cases, GetTickCount() - start, customStarts, fitted, kept, pressesTyping, keyboard.downs, joystick);
}

// ---------------------------------------------------------------------------
// No stuck keys

class StuckKeysTest : public PressTest {
protected:
    KeyCombo GenerateCombo()
    {
        static const DWORD keys[] = {0, VK_MENU, VK_CONTROL, VK_SHIFT, 'A', VK_F5, VK_SPACE, 0xFF,
                                     0x100, 0x1FF, 0x12345, 0xFFFFFFFF, 0x80000041};
        KeyCombo combo;
        BYTE flagValues[] = {0, 1, 0xFF, 0x80};
        combo.alt = flagValues[Pick(4)];
        combo.control = flagValues[Pick(4)];
        combo.shift = flagValues[Pick(4)];
        combo.k = Pick(4) == 0 ? DWORD(rng()) : keys[Pick(sizeof(keys) / sizeof(keys[0]))];
        if (Pick(4) == 0)
            combo.k = 0;  // modifiers only, or nothing at all
        return combo;
    }
};

TEST_F(StuckKeysTest, EveryGeneratedPressReleasesEveryKeyItPressed)
{
    const unsigned presses = EnvNumber("LUMO2_STUCK_KEY_PRESSES", 100000);
    printf("stuck keys: seed %u, %u presses\n", seed, presses);
    static const LONG modes[] = {ModeSpace, ModeEnter, ModeSchick, ModeKodak, ModeSidexis,
                                 ModeAltFAltS, ModeCdxView, ModeCustom, ModeCustom, ModeCustom,
                                 0, 11, -1};
    static const LONG sendModes[] = {Sequential, Sequential, SendAll, SendAll, 2, -1};
    static const LONG times[] = {0, 1, 100, 1000, 10000, 99999999, -5, INT_MIN, INT_MAX};
    KeyboardModel keyboard;
    unsigned typing = 0;
    DWORD start = GetTickCount();
    KeyRecorder recorder;
    for (unsigned n = 0; n < presses; ++n) {
        if (Pick(5) == 0) {
            CustomSettings.mode = sendModes[Pick(sizeof(sendModes) / sizeof(sendModes[0]))];
            CustomSettings.time = times[Pick(sizeof(times) / sizeof(times[0]))];
            for (KeyCombo& combo : CustomSettings.keys)
                combo = GenerateCombo();
        }
        if (Pick(3) == 0)
            ActionMode = modes[Pick(sizeof(modes) / sizeof(modes[0]))];
        FakeNow += Pick(8) == 0 ? DWORD(rng()) : 100 + Pick(2000);
        PerformAction();
        std::vector<KeyEvent> events = recorder.Take();
        typing += !events.empty();
        keyboard.Take(events);
        ASSERT_TRUE(keyboard.fault.empty()) << "press " << n << ", seed " << seed << ": " << keyboard.fault;
        ASSERT_LE(keyboard.longestPause, LongestSendAllPause) << "press " << n;
    }
    EXPECT_TRUE(keyboard.NothingHeld());
    printf("stuck keys: %u presses (%u typing) in %lu ms, %lld key-downs each released, longest pause "
           "%lu ms, nothing held at the end\n",
           presses, typing, GetTickCount() - start, keyboard.downs, keyboard.longestPause);
}

}  // namespace
