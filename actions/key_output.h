// The single place where synthesised keyboard input leaves the program, so
// that tests can record what a press would send instead of typing it.
#pragma once
#include "settings/custom_settings.h"
#include <windows.h>

// SendInput by default; tests swap in a recorder. Answers how many of the
// events went in, as SendInput does.
typedef UINT (*KeyEventSinkFn)(INPUT* inputs, UINT count);
extern KeyEventSinkFn KeyEventSink;

// The events of one press, or of one custom combination, handed over in one
// call so that the user's own typing cannot land between them. Eight is the
// most one combination needs (three modifiers down, the key, three up).
struct KeyBatch {
    INPUT inputs[8];
    UINT count;
};

// Each event carries the key's scan code and, for keys of the extended
// block, the extended flag: Remote Desktop, Citrix and programs that read
// raw input go by the scan code, not the virtual key. A full batch takes no
// more events.
void PressKey(KeyBatch& batch, BYTE vk);
void ReleaseKey(KeyBatch& batch, BYTE vk);

// The keyboard layout of the program in front (Lumo2's own when nothing is
// in front) and the system's map on a given layout. Tests replace them: the
// test bed has only the US layout, whose answers never change with it.
typedef HKL (*KeyboardLayoutFn)();
typedef UINT (*LayoutKeyMapFn)(UINT code, UINT mapType, HKL layout);
extern KeyboardLayoutFn LookUpKeyboardLayout;
extern LayoutKeyMapFn MapKeyOnLayout;
HKL KeyboardLayoutInFront();
UINT MapKeyOnLayoutOfSystem(UINT code, UINT mapType, HKL layout);
// Looks the layout up for the keys of one press; every key until the next
// press is mapped on it. Keys sent before any press use Lumo2's own.
void BeginKeyPress();

// The scan code a key event is sent with on the press's layout (E0 or E1
// in the high byte for a key of the extended block), and whether it gets
// the extended flag.
WORD ScanCodeOf(BYTE vk);
bool IsExtendedKey(BYTE vk);

// Sends the batch in one call and empties it. When only part of it went in,
// every key that part left down is released, so that no key sticks.
void SendKeyBatch(KeyBatch& batch);

// What the batches sent since it was last cleared came to, for the log: the
// events handed over and taken, the error of the last call that took none,
// and the combinations they typed, read back from the events themselves. The
// app clears it before a press and reads it afterwards.
struct KeySendRecord {
    UINT batches, events, sent;
    DWORD error;
    UINT comboCount;
    KeyCombo combos[4];  // the first four; a press types at most three
};
extern KeySendRecord LastKeySend;
