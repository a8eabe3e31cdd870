// Watches the real keyboard input of the whole desktop through a low-level
// hook, and swallows it so that injected keys land nowhere.
#pragma once
#include "tests/support/key_recorder.h"
#include <vector>

class KeyboardHook {
public:
    KeyboardHook();
    ~KeyboardHook();
    bool Installed() const { return hook_ != NULL; }

    // Pumps this thread's messages until count events have arrived or the time
    // is up, then hands over what arrived so far.
    std::vector<KeyEvent> WaitFor(size_t count, DWORD timeoutMs);
    // Hands over every event injected, by any process, before this call: a
    // marker key is injected after them and waited for. For checking that
    // nothing, or nothing more, was sent.
    std::vector<KeyEvent> TakeUpToNow(DWORD timeoutMs = 5000);
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
