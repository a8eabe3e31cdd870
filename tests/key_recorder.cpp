#include "tests/key_recorder.h"
#include <map>
#include <stdio.h>

static std::vector<KeyEvent>* Recorded;

static void RecordKeyEvent(BYTE vk, DWORD flags)
{
    Recorded->push_back((flags & KEYEVENTF_KEYUP) ? Up(vk) : Down(vk));
}

// Recorded instead of waited for, so that tests need not sit through them.
static void RecordPause(DWORD ms)
{
    Recorded->push_back(Pause(ms));
}

KeyRecorder::KeyRecorder()
    : previousSink_(KeyEventSink), previousPause_(CustomKeysPause), previousEvents_(Recorded)
{
    Recorded = &events_;
    KeyEventSink = RecordKeyEvent;
    CustomKeysPause = RecordPause;
}

KeyRecorder::~KeyRecorder()
{
    KeyEventSink = previousSink_;
    CustomKeysPause = previousPause_;
    Recorded = previousEvents_;
}

std::vector<KeyEvent> KeyRecorder::Take()
{
    std::vector<KeyEvent> events;
    events.swap(events_);
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
            snprintf(item, sizeof(item), "%s%02X ", e.down ? "+" : "-", e.vk);
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
