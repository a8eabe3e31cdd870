// The single place where synthesised keyboard input leaves the program, so
// that tests can record what a press would send instead of typing it.
#pragma once
#include <windows.h>

typedef void (*KeyEventSinkFn)(BYTE vk, DWORD flags);

// keybd_event by default; tests swap in a recorder.
extern KeyEventSinkFn KeyEventSink;

void PressKey(BYTE vk);
void ReleaseKey(BYTE vk);
