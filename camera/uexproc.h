// The camera vendor's extension-unit library, UExProc.dll, imported by name.
#pragma once

extern "C" {
// Greater than 0 when the camera is reachable through its extension unit.
int __cdecl isConnectedEVA(void);
// Command 13 with argument 0 reports the capture button: nonzero while down.
int __cdecl sendExtensionUnitCommand(int command, int arg, void* data, int length);
int __cdecl releaseEVA(void);
}

const int ButtonStateCommand = 13;
