// Records what the program would type, in order, instead of typing it.
#pragma once
#include "actions/key_output.h"
#include <string>
#include <vector>

struct KeyEvent {
    BYTE vk;
    bool down;
    bool operator==(const KeyEvent& other) const { return vk == other.vk && down == other.down; }
};

inline KeyEvent Down(BYTE vk) { return {vk, true}; }
inline KeyEvent Up(BYTE vk) { return {vk, false}; }

std::string Describe(const std::vector<KeyEvent>& events);

// Every key pressed is released again, and nothing is released unpressed.
bool KeysBalanced(const std::vector<KeyEvent>& events);

// Recorders nest: an inner one records until it goes, then the outer resumes.
class KeyRecorder {
public:
    KeyRecorder();
    ~KeyRecorder();
    std::vector<KeyEvent> Take();

private:
    KeyEventSinkFn previousSink_;
    std::vector<KeyEvent>* previousEvents_;
    std::vector<KeyEvent> events_;
};
