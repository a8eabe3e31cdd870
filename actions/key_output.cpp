#include "actions/key_output.h"

static UINT InjectKeyEvents(INPUT* inputs, UINT count)
{
    return SendInput(count, inputs, sizeof(INPUT));
}

KeyEventSinkFn KeyEventSink = InjectKeyEvents;
KeySendRecord LastKeySend;

// Keys that a keyboard sends with the E0 prefix whatever the layout: the
// navigation block, the arrows, numpad Divide, the Windows and Apps keys,
// right Ctrl and Alt, Ctrl+Break, and the browser and media keys. Without
// the flag a program that reads lParam or the scan code sees their numpad
// twins. Num Lock is here too, although its make code carries no prefix:
// Windows' keyboard layouts mark it extended, which is how hooks and Remote
// Desktop see the real key, and what tells it apart from Pause.
static bool IsOnExtendedList(BYTE vk)
{
    switch (vk) {
    case VK_CANCEL: case VK_PRIOR: case VK_NEXT: case VK_END: case VK_HOME:
    case VK_LEFT: case VK_UP: case VK_RIGHT: case VK_DOWN: case VK_SNAPSHOT:
    case VK_INSERT: case VK_DELETE: case VK_LWIN: case VK_RWIN: case VK_APPS:
    case VK_DIVIDE: case VK_NUMLOCK: case VK_RCONTROL: case VK_RMENU:
        return true;
    }
    return vk >= VK_BROWSER_BACK && vk <= VK_LAUNCH_APP2;
}

// Keys whose codes are the same on every layout but which the system's map
// does not always give: Print Screen alone arrives as E0 37 (MapVirtualKey
// answers 0x54, the code of Alt+Print Screen); Pause sends E1 1D 45, which
// Windows reports as 0x45 without the extended flag, and some layouts map it
// to nothing; and some keyboard drivers (Wine's X11 one among them) map the
// numpad's digits to nothing while Num Lock is off.
static const BYTE FixedScanCodes[][2] = {
    {VK_SNAPSHOT, 0x37}, {VK_PAUSE, 0x45},   {VK_NUMPAD0, 0x52}, {VK_NUMPAD1, 0x4F},
    {VK_NUMPAD2, 0x50},  {VK_NUMPAD3, 0x51}, {VK_NUMPAD4, 0x4B}, {VK_NUMPAD5, 0x4C},
    {VK_NUMPAD6, 0x4D},  {VK_NUMPAD7, 0x47}, {VK_NUMPAD8, 0x48}, {VK_NUMPAD9, 0x49},
    {VK_DECIMAL, 0x53},
};

UINT MapKeyOnLayoutOfSystem(UINT code, UINT mapType, HKL layout)
{
    return MapVirtualKeyExA(code, mapType, layout);
}

HKL KeyboardLayoutInFront()
{
    // The layout belongs to a thread: the one that owns the window in front
    // is the one whose keys the program there reads.
    HWND front = GetForegroundWindow();
    DWORD thread = front ? GetWindowThreadProcessId(front, NULL) : 0;
    return GetKeyboardLayout(thread);
}

KeyboardLayoutFn LookUpKeyboardLayout = KeyboardLayoutInFront;
LayoutKeyMapFn MapKeyOnLayout = MapKeyOnLayoutOfSystem;

// Null until the first press: Lumo2's own layout then.
static HKL PressLayout;

void BeginKeyPress()
{
    PressLayout = LookUpKeyboardLayout();
}

WORD ScanCodeOf(BYTE vk)
{
    for (const auto& fixed : FixedScanCodes)
        if (fixed[0] == vk)
            return fixed[1];
    HKL layout = PressLayout ? PressLayout : GetKeyboardLayout(0);
    // The extended form keeps the E0 that tells, on a Korean layout, Hangul
    // and Hanja from left Alt and Ctrl, whose codes they share.
    WORD scan = static_cast<WORD>(MapKeyOnLayout(vk, MAPVK_VK_TO_VSC_EX, layout));
    if (scan == 0)
        scan = static_cast<WORD>(MapVirtualKeyA(vk, MAPVK_VK_TO_VSC));
    return scan;
}

// Some maps (Wine's among them) give the arrows and the navigation block no
// E0, so the fixed list counts as well as the prefix.
static bool NeedsExtendedFlag(BYTE vk, WORD scan)
{
    WORD prefix = scan & 0xFF00;
    return IsOnExtendedList(vk) || prefix == 0xE000 || prefix == 0xE100;
}

bool IsExtendedKey(BYTE vk)
{
    return NeedsExtendedFlag(vk, ScanCodeOf(vk));
}

static void AddKeyEvent(KeyBatch& batch, BYTE vk, DWORD flags)
{
    if (batch.count >= sizeof(batch.inputs) / sizeof(batch.inputs[0]))
        return;
    INPUT& input = batch.inputs[batch.count++];
    ZeroMemory(&input, sizeof(input));
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = vk;
    WORD scan = ScanCodeOf(vk);
    input.ki.wScan = scan & 0xFF;
    input.ki.dwFlags = flags | (NeedsExtendedFlag(vk, scan) ? KEYEVENTF_EXTENDEDKEY : 0);
}

void PressKey(KeyBatch& batch, BYTE vk)
{
    AddKeyEvent(batch, vk, 0);
}

void ReleaseKey(KeyBatch& batch, BYTE vk)
{
    AddKeyEvent(batch, vk, KEYEVENTF_KEYUP);
}

// After a short count: releases, latest pressed first, the keys that the
// events which did go in left down.
static void ReleaseKeysLeftDown(const KeyBatch& batch, UINT sent)
{
    BYTE held[8];
    UINT heldCount = 0;
    for (UINT i = 0; i < sent && i < batch.count; ++i) {
        BYTE vk = static_cast<BYTE>(batch.inputs[i].ki.wVk);
        UINT at = 0;
        while (at < heldCount && held[at] != vk)
            ++at;
        if (!(batch.inputs[i].ki.dwFlags & KEYEVENTF_KEYUP)) {
            if (at == heldCount && heldCount < sizeof(held))
                held[heldCount++] = vk;
        } else if (at < heldCount) {
            for (--heldCount; at < heldCount; ++at)
                held[at] = held[at + 1];
        }
    }
    KeyBatch release = {};
    while (heldCount > 0)
        ReleaseKey(release, held[--heldCount]);
    if (release.count > 0)
        KeyEventSink(release.inputs, release.count);
}

// Each key that went down, with the modifiers held at that moment.
static void RecordCombos(const KeyBatch& batch)
{
    KeyCombo held = {};
    for (UINT i = 0; i < batch.count; ++i) {
        const KEYBDINPUT& key = batch.inputs[i].ki;
        BYTE down = (key.dwFlags & KEYEVENTF_KEYUP) ? 0 : 1;
        if (key.wVk == VK_MENU)
            held.alt = down;
        else if (key.wVk == VK_CONTROL)
            held.control = down;
        else if (key.wVk == VK_SHIFT)
            held.shift = down;
        else if (down && LastKeySend.comboCount < sizeof(LastKeySend.combos) / sizeof(LastKeySend.combos[0])) {
            held.k = key.wVk;
            LastKeySend.combos[LastKeySend.comboCount++] = held;
        }
    }
}

void SendKeyBatch(KeyBatch& batch)
{
    if (batch.count == 0)
        return;
    // A short count means the input was blocked part way (another desktop,
    // a secure screen); nothing is retried, since a half-sent hotkey sent
    // again would arrive twice.
    UINT sent = KeyEventSink(batch.inputs, batch.count);
    LastKeySend.error = sent == 0 ? GetLastError() : LastKeySend.error;
    LastKeySend.batches++;
    LastKeySend.events += batch.count;
    LastKeySend.sent += sent;
    RecordCombos(batch);
    if (sent < batch.count)
        ReleaseKeysLeftDown(batch, sent);
    batch.count = 0;
}
