#include "tests/support/keyboard_hook.h"
#include "tests/support/wait_until.h"
#include <gtest/gtest.h>

static std::vector<KeyEvent> HookedEvents;
static int HookedNotInjected;
static LONGLONG HookedCounter;

BYTE FoldModifier(BYTE vk)
{
    switch (vk) {
    case VK_LMENU: case VK_RMENU: return VK_MENU;
    case VK_LCONTROL: case VK_RCONTROL: return VK_CONTROL;
    case VK_LSHIFT: case VK_RSHIFT: return VK_SHIFT;
    default: return vk;
    }
}

static LRESULT CALLBACK LowLevelKeyboardProc(int code, WPARAM wParam, LPARAM lParam)
{
    if (code != HC_ACTION)
        return CallNextHookEx(NULL, code, wParam, lParam);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    HookedCounter = now.QuadPart;
    const KBDLLHOOKSTRUCT* info = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam);
    bool down = wParam == WM_KEYDOWN || wParam == WM_SYSKEYDOWN;
    BYTE vk = FoldModifier(static_cast<BYTE>(info->vkCode));
    // As sent: the scan code and extended flag are what a Remote Desktop
    // client forwards.
    HookedEvents.push_back({vk, down, false, 0, static_cast<WORD>(info->scanCode),
                            (info->flags & LLKHF_EXTENDED) != 0});
    if ((info->flags & LLKHF_INJECTED) == 0)
        ++HookedNotInjected;
    return 1;
}

KeyboardHook::KeyboardHook()
{
    HookedEvents.clear();
    HookedNotInjected = 0;
    hook_ = SetWindowsHookExA(WH_KEYBOARD_LL, LowLevelKeyboardProc, GetModuleHandleA(NULL), 0);
}

KeyboardHook::~KeyboardHook()
{
    if (hook_)
        UnhookWindowsHookEx(hook_);
}

void PumpMessagesFor(DWORD ms)
{
    DWORD start = GetTickCount();
    do {
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        MsgWaitForMultipleObjects(0, NULL, FALSE, 10, QS_ALLINPUT);
    } while (GetTickCount() - start < ms);
}

std::vector<KeyEvent> KeyboardHook::WaitFor(size_t count, DWORD timeoutMs)
{
    WaitUntil([count] { return HookedEvents.size() >= count; }, timeoutMs);
    std::vector<KeyEvent> events;
    events.swap(HookedEvents);
    return events;
}

// A key no keyboard has and no program here sends; the hook swallows it.
const BYTE MarkerKey = VK_F24;

static bool IsMarker(const KeyEvent& e)
{
    return e.vk == MarkerKey && !e.down && !e.pause;
}

std::vector<KeyEvent> KeyboardHook::TakeUpToNow(DWORD timeoutMs)
{
    // Low-level hooks see input in the order it was injected, whichever
    // process injected it.
    keybd_event(MarkerKey, 0, KEYEVENTF_KEYUP, 0);
    auto marker = [] {
        for (const KeyEvent& e : HookedEvents)
            if (IsMarker(e))
                return true;
        return false;
    };
    EXPECT_TRUE(WaitUntil(marker, timeoutMs)) << "the marker key never reached the hook";
    std::vector<KeyEvent> events;
    for (size_t i = 0; i < HookedEvents.size(); ++i) {
        if (IsMarker(HookedEvents[i])) {
            HookedEvents.erase(HookedEvents.begin(), HookedEvents.begin() + i + 1);
            return events;
        }
        events.push_back(HookedEvents[i]);
    }
    HookedEvents.clear();
    return events;
}

LONGLONG KeyboardHook::LastEventCounter() const
{
    return HookedCounter;
}

int KeyboardHook::NotInjected() const
{
    return HookedNotInjected;
}
