#include "actions/vjoy.h"
#include "platform/dll_search.h"
#include <string.h>

const char VJoyUninstallKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{8E31F76F-74C3-47F1-9550-E041EEDC5FBB}_is1";
const char VJoyLocationValue[] = "DllX86Location";
const char VJoyLibraryName[] = "vJoyInterface.dll";

typedef BOOL(__cdecl* VJoyEnabledFn)(void);
typedef int(__cdecl* GetVJDStatusFn)(UINT id);
typedef BOOL(__cdecl* AcquireVJDFn)(UINT id);
typedef BOOL(__cdecl* SetBtnFn)(BOOL down, UINT id, UCHAR button);
typedef void(__cdecl* RelinquishVJDFn)(UINT id);
typedef int(__cdecl* GetVJDButtonNumberFn)(UINT id);

static HMODULE VJoyModule;
static VJoyEnabledFn VJoyEnabledCall;
static GetVJDStatusFn GetVJDStatusCall;
static AcquireVJDFn AcquireVJDCall;
static SetBtnFn SetBtnCall;
static RelinquishVJDFn RelinquishVJDCall;
static GetVJDButtonNumberFn GetVJDButtonNumberCall;
static bool DeviceHeld;
static JoystickStatus VJoyState = JoystickNoDriver;
static bool Attempted;
static DWORD LastAttempt;

static DWORD TickCount()
{
    return GetTickCount();
}

VJoyClockFn VJoyClock = TickCount;

static bool IsAbsolutePath(const char* path)
{
    bool drive = ((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z') && path[1] == ':' &&
                 (path[2] == '\\' || path[2] == '/');
    bool share = path[0] == '\\' && path[1] == '\\';
    return drive || share;
}

bool FindVJoyLibrary(char* path, DWORD size)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, VJoyUninstallKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) !=
        ERROR_SUCCESS)
        return false;
    // Room for a terminator the stored value may lack; a longer value is
    // refused rather than cut.
    char stored[MAX_PATH + 1];
    DWORD type = REG_NONE;
    DWORD length = MAX_PATH;
    LONG result = RegQueryValueExA(key, VJoyLocationValue, NULL, &type, reinterpret_cast<BYTE*>(stored), &length);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    stored[length < MAX_PATH ? length : MAX_PATH] = '\0';

    char folder[MAX_PATH + 1];
    if (type == REG_EXPAND_SZ) {
        DWORD expanded = ExpandEnvironmentStringsA(stored, folder, sizeof(folder));
        if (expanded == 0 || expanded > sizeof(folder))
            return false;
    } else {
        lstrcpyA(folder, stored);
    }
    size_t end = strlen(folder);
    while (end > 0 && (folder[end - 1] == '\\' || folder[end - 1] == '/'))
        folder[--end] = '\0';
    // Only a full path: a bare or relative name would make the loader
    // search, and the current folder is no place to take a driver's library
    // from.
    if (!IsAbsolutePath(folder))
        return false;

    const char* name = folder + end;
    while (name > folder && name[-1] != '\\' && name[-1] != '/')
        --name;
    bool namesLibrary = lstrcmpiA(name, VJoyLibraryName) == 0;
    size_t needed = end + (namesLibrary ? 0 : 1 + strlen(VJoyLibraryName)) + 1;
    if (needed > size)
        return false;
    lstrcpyA(path, folder);
    if (!namesLibrary) {
        lstrcatA(path, "\\");
        lstrcatA(path, VJoyLibraryName);
    }
    return true;
}

// Through void*, as the exports' real types are not FARPROC's.
static void* FindFunction(HMODULE module, const char* name)
{
    return reinterpret_cast<void*>(GetProcAddress(module, name));
}

static bool BindVJoyLibrary()
{
    if (VJoyModule)
        return true;
    char path[MAX_PATH];
    if (!FindVJoyLibrary(path, sizeof(path)))
        return false;
    // A full path, so the library itself is never searched for, nor its own
    // dependencies in the current folder.
    HMODULE module = LoadLibraryQuietly(path);
    if (!module)
        return false;
    VJoyEnabledCall = reinterpret_cast<VJoyEnabledFn>(FindFunction(module, "vJoyEnabled"));
    GetVJDStatusCall = reinterpret_cast<GetVJDStatusFn>(FindFunction(module, "GetVJDStatus"));
    AcquireVJDCall = reinterpret_cast<AcquireVJDFn>(FindFunction(module, "AcquireVJD"));
    SetBtnCall = reinterpret_cast<SetBtnFn>(FindFunction(module, "SetBtn"));
    RelinquishVJDCall = reinterpret_cast<RelinquishVJDFn>(FindFunction(module, "RelinquishVJD"));
    GetVJDButtonNumberCall = reinterpret_cast<GetVJDButtonNumberFn>(FindFunction(module, "GetVJDButtonNumber"));
    if (!VJoyEnabledCall || !GetVJDStatusCall || !AcquireVJDCall || !SetBtnCall || !RelinquishVJDCall ||
        !GetVJDButtonNumberCall) {
        FreeLibrary(module);
        return false;
    }
    VJoyModule = module;
    return true;
}

// What keeps the device from being taken, asking the driver without taking
// it; JoystickReady when it is free or already ours.
static JoystickStatus FindVJoyObstacle()
{
    if (!BindVJoyLibrary())
        return JoystickNoDriver;
    if (!VJoyEnabledCall())
        return JoystickVJoyDisabled;
    // A device another feeder holds is left to it.
    int status = GetVJDStatusCall(VJoyDevice);
    if (status == VJoyBusy)
        return JoystickDeviceBusy;
    if (status != VJoyOwned && status != VJoyFree)
        return JoystickDeviceMissing;
    // Taken, a device without buttons would be held for clicks that go
    // nowhere.
    if (GetVJDButtonNumberCall(VJoyDevice) < 1)
        return JoystickNoButtons;
    return JoystickReady;
}

JoystickStatus AcquireVJoy()
{
    if (DeviceHeld)
        return VJoyState = JoystickReady;
    Attempted = true;
    LastAttempt = VJoyClock();
    VJoyState = FindVJoyObstacle();
    if (VJoyState != JoystickReady)
        return VJoyState;
    // Another program may take it between the question and the request.
    DeviceHeld = GetVJDStatusCall(VJoyDevice) == VJoyOwned || AcquireVJDCall(VJoyDevice) != FALSE;
    if (!DeviceHeld)
        VJoyState = JoystickDeviceBusy;
    return VJoyState;
}

bool VJoyAcquired()
{
    return DeviceHeld;
}

JoystickStatus LastVJoyStatus()
{
    return VJoyState;
}

bool HoldVJoyForPress()
{
    if (DeviceHeld)
        return true;
    // Unsigned, so the tick count's wrap after 49.7 days does no harm.
    if (Attempted && VJoyClock() - LastAttempt < VJoyRetryMs)
        return false;
    return AcquireVJoy() == JoystickReady;
}

bool SetVJoyButton(bool down)
{
    if (!DeviceHeld)
        return false;
    if (SetBtnCall(down ? TRUE : FALSE, VJoyDevice, VJoyButton))
        return true;
    // The driver was restarted, the device reconfigured or taken over:
    // what stands in the way now is what the status says, and the next
    // press asks again.
    DeviceHeld = false;
    VJoyState = FindVJoyObstacle();
    if (VJoyState == JoystickReady)
        VJoyState = JoystickDeviceBusy;
    return false;
}

void RelinquishVJoy()
{
    if (DeviceHeld)
        RelinquishVJDCall(VJoyDevice);
    DeviceHeld = false;
}

void UnbindVJoyLibrary()
{
    RelinquishVJoy();
    VJoyState = JoystickNoDriver;
    Attempted = false;
    if (VJoyModule)
        FreeLibrary(VJoyModule);
    VJoyModule = NULL;
}
