#include "tests/support/key_recorder.h"
#include <map>
#include <stdio.h>

#include <gtest/gtest.h>

static KeyRecorder* Recording;

// Set-1 scan codes of a US keyboard, written out rather than asked of the
// system, for the keys the tests send; E0 marks the extended keys.
static const struct {
    BYTE vk;
    WORD scan;
} UsScanCodes[] = {
    {VK_SPACE, 0x39},    {VK_RETURN, 0x1C},     {VK_F4, 0x3E},       {VK_F5, 0x3F},
    {VK_F10, 0x44},      {VK_F12, 0x58},        {VK_SHIFT, 0x2A},    {VK_CONTROL, 0x1D},
    {VK_MENU, 0x38},     {VK_TAB, 0x0F},        {VK_ESCAPE, 0x01},   {VK_NUMPAD4, 0x4B},
    {VK_MULTIPLY, 0x37}, {VK_PAUSE, 0x45},      {VK_LEFT, 0xE04B},   {VK_UP, 0xE048},
    {VK_RIGHT, 0xE04D},  {VK_DOWN, 0xE050},     {VK_INSERT, 0xE052}, {VK_DELETE, 0xE053},
    {VK_HOME, 0xE047},   {VK_END, 0xE04F},      {VK_PRIOR, 0xE049},  {VK_NEXT, 0xE051},
    {VK_DIVIDE, 0xE035}, {VK_NUMLOCK, 0xE045},  {VK_APPS, 0xE05D},   {VK_LWIN, 0xE05B},
    {VK_RWIN, 0xE05C},   {VK_SNAPSHOT, 0xE037}, {'A', 0x1E},         {'B', 0x30},
    {'C', 0x2E},         {'F', 0x21},           {'K', 0x25},         {'Q', 0x10},
    {'S', 0x1F},         {'T', 0x14},           {'V', 0x2F},         {'1', 0x02},
};

static KeyEvent KeyOf(BYTE vk, bool down)
{
    // Keys outside the table (generated cases) go by the system's own map.
    WORD scan = static_cast<WORD>(MapVirtualKeyA(vk, MAPVK_VK_TO_VSC));
    for (const auto& entry : UsScanCodes)
        if (entry.vk == vk)
            scan = entry.scan;
    return {vk, down, false, 0, static_cast<WORD>(scan & 0xFF), (scan & 0xFF00) == 0xE000};
}

KeyEvent Down(BYTE vk) { return KeyOf(vk, true); }
KeyEvent Up(BYTE vk) { return KeyOf(vk, false); }

UINT RecordKeyEvents(INPUT* inputs, UINT count)
{
    KeyRecorder* r = Recording;
    for (UINT i = 0; i < count; ++i) {
        const KEYBDINPUT& key = inputs[i].ki;
        // Anything but a virtual key with its scan code (KEYEVENTF_SCANCODE,
        // UNICODE) would reach a program differently from a real key.
        EXPECT_EQ(0u, key.dwFlags & ~DWORD(KEYEVENTF_KEYUP | KEYEVENTF_EXTENDEDKEY)) << "flags " << key.dwFlags;
        r->events_.push_back({static_cast<BYTE>(key.wVk), !(key.dwFlags & KEYEVENTF_KEYUP), false, 0, key.wScan,
                              (key.dwFlags & KEYEVENTF_EXTENDEDKEY) != 0});
    }
    r->calls_.push_back(count);
    UINT accepted = count < r->acceptNext_ ? count : r->acceptNext_;
    r->acceptNext_ = UINT(-1);
    return accepted;
}

// Recorded instead of waited for, so that tests need not sit through them.
void RecordPause(DWORD ms)
{
    Recording->events_.push_back(Pause(ms));
}

KeyRecorder::KeyRecorder()
    : previousSink_(KeyEventSink), previousPause_(CustomKeysPause), previous_(Recording)
{
    Recording = this;
    KeyEventSink = RecordKeyEvents;
    CustomKeysPause = RecordPause;
}

KeyRecorder::~KeyRecorder()
{
    KeyEventSink = previousSink_;
    CustomKeysPause = previousPause_;
    Recording = previous_;
}

std::vector<KeyEvent> KeyRecorder::Take()
{
    std::vector<KeyEvent> events;
    events.swap(events_);
    calls_.clear();
    return events;
}

std::string Describe(const std::vector<KeyEvent>& events)
{
    std::string text;
    for (const KeyEvent& e : events) {
        char item[24];
        if (e.pause)
            snprintf(item, sizeof(item), "~%lums ", e.pauseMs);
        else
            snprintf(item, sizeof(item), "%s%02X/%s%02X ", e.down ? "+" : "-", e.vk, e.extended ? "E0" : "",
                     e.scan);
        text += item;
    }
    return text;
}

bool KeysBalanced(const std::vector<KeyEvent>& events)
{
    std::map<BYTE, int> held;
    for (const KeyEvent& e : events) {
        if (e.pause)
            continue;
        int& count = held[e.vk];
        count += e.down ? 1 : -1;
        if (count < 0 || count > 1)
            return false;
    }
    for (const auto& entry : held)
        if (entry.second != 0)
            return false;
    return true;
}
