// Records what the program would type, in order, instead of typing it.
#pragma once
#include "actions/actions.h"
#include "actions/key_output.h"
#include <string>
#include <vector>

// One key going down or up, with the scan code and extended flag it was
// sent with, or, from the recorder only, a pause of the sending thread
// between keys.
struct KeyEvent {
    BYTE vk;
    bool down;
    bool pause;
    DWORD pauseMs;
    WORD scan;
    bool extended;
    bool operator==(const KeyEvent& other) const
    {
        return vk == other.vk && down == other.down && pause == other.pause && pauseMs == other.pauseMs &&
               scan == other.scan && extended == other.extended;
    }
};

// A key as a US keyboard sends it: scan code and extended flag as a real
// key gives them to a low-level hook.
KeyEvent Down(BYTE vk);
KeyEvent Up(BYTE vk);
inline KeyEvent Pause(DWORD ms) { return {0, false, true, ms, 0, false}; }

typedef std::vector<KeyEvent> Events;

// What one press sends in each fixed mode, and the parts of the custom
// combinations the tests use.
inline const Events Space = {Down(VK_SPACE), Up(VK_SPACE)};
inline const Events Enter = {Down(VK_RETURN), Up(VK_RETURN)};
inline const Events F5 = {Down(VK_F5), Up(VK_F5)};
inline const Events AltF = {Down(VK_MENU), Down('F'), Up('F'), Up(VK_MENU)};
inline const Events AltT = {Down(VK_MENU), Down('T'), Up('T'), Up(VK_MENU)};
inline const Events AltS = {Down(VK_MENU), Down('S'), Up('S'), Up(VK_MENU)};
inline const Events ShiftF12 = {Down(VK_SHIFT), Down(VK_F12), Up(VK_F12), Up(VK_SHIFT)};
inline const Events CtrlShiftV = {Down(VK_SHIFT), Down(VK_CONTROL), Down('V'), Up('V'), Up(VK_CONTROL), Up(VK_SHIFT)};

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
    // How many key events each call of the sink carried, since the last
    // Take; a pause ends no call and is not counted.
    const std::vector<UINT>& Calls() const { return calls_; }
    // The sink answers that only this many events of its next call went in,
    // as SendInput does when input is blocked part way.
    void AcceptOnlyNext(UINT count) { acceptNext_ = count; }

private:
    KeyEventSinkFn previousSink_;
    PauseFn previousPause_;
    KeyRecorder* previous_;
    std::vector<KeyEvent> events_;
    std::vector<UINT> calls_;
    UINT acceptNext_ = UINT(-1);
    friend UINT RecordKeyEvents(INPUT* inputs, UINT count);
    friend void RecordPause(DWORD ms);
};
