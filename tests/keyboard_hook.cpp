#include "tests/keyboard_hook.h"

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
    HookedEvents.push_back({FoldModifier(static_cast<BYTE>(info->vkCode)), down});
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
    DWORD start = GetTickCount();
    while (HookedEvents.size() < count && GetTickCount() - start < timeoutMs)
        PumpMessagesFor(10);
    std::vector<KeyEvent> events;
    events.swap(HookedEvents);
    return events;
}

std::vector<KeyEvent> KeyboardHook::CollectFor(DWORD ms)
{
    PumpMessagesFor(ms);
    std::vector<KeyEvent> events;
    events.swap(HookedEvents);
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
