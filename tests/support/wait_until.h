// Waiting for a condition instead of for a fixed time: the tests run on a
// loaded two-core machine under Wine, where any fixed sleep is either too
// long or, now and then, too short.
#pragma once
#include "tests/support/keyboard_hook.h"
#include <windows.h>

// Pumps this thread's messages (a hook or a window of the test may need them)
// until condition() holds or timeoutMs has passed; whether it held.
template <typename Condition>
bool WaitUntil(Condition condition, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (condition())
            return true;
        if (GetTickCount() - start >= timeoutMs)
            return condition();
        PumpMessagesFor(10);
    }
}
