// The names Group Policy writes Lumo2's policies under, and their bounds.
#pragma once
#include <windows.h>

// Where Group Policy writes Lumo2's policies, in HKLM (computer) and HKCU
// (user) alike. The administrative templates in policy/ name exactly these
// key and values; their test reads the names from this header.
const char PolicyKeyPath[] = "Software\\Policies\\Kestrova\\Lumo2";
const char PolicyActionModeName[] = "ActionMode";
const char PolicyCustomModeName[] = "CustomMode";
const char PolicyIntervalTimeName[] = "IntervalTime";
const char PolicyKeyNames[3][5] = {"Key1", "Key2", "Key3"};
// The language of what a person reads (REG_SZ "ko" or "en"), as a policy and
// as the user's own value beside "key"; settings/ui_text.h reads it.
const char PolicyLanguageName[] = "Language";
// The camera's poll period in milliseconds, as a policy and as the user's own
// value beside "key"; outside this range, or not a REG_DWORD, it is ignored.
const char PolicyPollIntervalName[] = "PollInterval";
const DWORD PollIntervalMin = 10;
const DWORD PollIntervalMax = 1000;
const DWORD DefaultPollInterval = 100;
// Whether the camera runs in a process of its own (REG_DWORD 1, the default)
// or inside Lumo2 (0); read at start.
const char PolicyCameraProcessName[] = "CameraProcess";
// IntervalTime outside this range is ignored as if it were not set.
const DWORD PolicyIntervalMin = 0;
const DWORD PolicyIntervalMax = 60000;
