#include "tests/key_recorder.h"
#include <map>
#include <stdio.h>

static std::vector<KeyEvent>* Recorded;

static void RecordKeyEvent(BYTE vk, DWORD flags)
{
    Recorded->push_back({vk, (flags & KEYEVENTF_KEYUP) == 0});
}

KeyRecorder::KeyRecorder() : previousSink_(KeyEventSink), previousEvents_(Recorded)
{
    Recorded = &events_;
    KeyEventSink = RecordKeyEvent;
}

KeyRecorder::~KeyRecorder()
{
    KeyEventSink = previousSink_;
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
        char item[16];
        snprintf(item, sizeof(item), "%s%02X ", e.down ? "+" : "-", e.vk);
        text += item;
    }
    return text;
}

bool KeysBalanced(const std::vector<KeyEvent>& events)
{
    std::map<BYTE, int> held;
    for (const KeyEvent& e : events) {
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
