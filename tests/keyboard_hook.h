// Watches the real keyboard input of the whole desktop through a low-level
// hook, and swallows it so that injected keys land nowhere.
#pragma once
#include "tests/key_recorder.h"
#include <vector>

class KeyboardHook {
public:
    KeyboardHook();
    ~KeyboardHook();
    bool Installed() const { return hook_ != NULL; }

    // Pumps this thread's messages until count events have arrived or the time
    // is up, then hands over what arrived so far.
    std::vector<KeyEvent> WaitFor(size_t count, DWORD timeoutMs);
    // Pumps for the whole time; for checking that nothing arrives.
    std::vector<KeyEvent> CollectFor(DWORD ms);
    // Events that arrived without the injected flag.
    int NotInjected() const;
    // QueryPerformanceCounter reading when the latest event arrived.
    LONGLONG LastEventCounter() const;

private:
    HHOOK hook_;
};

// Left/right modifier codes folded to the generic ones the program sends.
BYTE FoldModifier(BYTE vk);

// Runs the thread's message queue for about ms milliseconds.
void PumpMessagesFor(DWORD ms);
