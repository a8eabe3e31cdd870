#include "actions/key_output.h"

static void InjectKeyEvent(BYTE vk, DWORD flags)
{
    keybd_event(vk, 0, flags, 0);
}

KeyEventSinkFn KeyEventSink = InjectKeyEvent;

void PressKey(BYTE vk)
{
    KeyEventSink(vk, 0);
}

void ReleaseKey(BYTE vk)
{
    KeyEventSink(vk, KEYEVENTF_KEYUP);
}
