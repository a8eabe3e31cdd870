// Records what the program would type, in order, instead of typing it.
#pragma once
#include "actions/actions.h"
#include "actions/key_output.h"
#include <string>
#include <vector>

// One key going down or up, or, from the recorder only, a pause of the
// sending thread between keys.
struct KeyEvent {
    BYTE vk;
    bool down;
    bool pause;
    DWORD pauseMs;
    bool operator==(const KeyEvent& other) const
    {
        return vk == other.vk && down == other.down && pause == other.pause && pauseMs == other.pauseMs;
    }
};

inline KeyEvent Down(BYTE vk) { return {vk, true, false, 0}; }
inline KeyEvent Up(BYTE vk) { return {vk, false, false, 0}; }
inline KeyEvent Pause(DWORD ms) { return {0, false, true, ms}; }

std::string Describe(const std::vector<KeyEvent>& events);

// Every key pressed is released again, and nothing is released unpressed.
bool KeysBalanced(const std::vector<KeyEvent>& events);

// Records what the program sends, and the pauses of the custom sequences
// in the same stream, so that where a pause falls between keys is checked.
// Recorders nest: an inner one records until it goes, then the outer resumes.
class KeyRecorder {
public:
    KeyRecorder();
    ~KeyRecorder();
    std::vector<KeyEvent> Take();

private:
    KeyEventSinkFn previousSink_;
    PauseFn previousPause_;
    std::vector<KeyEvent>* previousEvents_;
    std::vector<KeyEvent> events_;
};
