#include "tests/support/sim_camera.h"
#include "tests/support/test_support.h"
#include "tests/support/wait_until.h"
#include <string.h>

typedef HRESULT (*RegisterCameraFn)(int, const char*, DWORD);
typedef void (*UnregisterAllFn)();
typedef HRESULT (*UnregisterCameraFn)(int);
typedef LONG (*LiveFiltersFn)();

template <class Fn> static Fn Export(HMODULE module, const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

SimCamera::SimCamera() : module_(LoadSimCameraLibrary()), state_(OpenSimState())
{
    EXPECT_NE(nullptr, module_) << "lumo2_sim_camera.dll beside the test";
    EXPECT_NE(nullptr, state_);
    RemoveAll();
}

SimCamera::~SimCamera()
{
    RemoveAll();
}

void SimCamera::Add(int slot, const char* friendlyName, DWORD flags)
{
    ASSERT_NE(nullptr, module_);
    auto registerCamera = Export<RegisterCameraFn>(module_, "SimRegisterCamera");
    ASSERT_EQ(S_OK, registerCamera(slot, friendlyName, flags)) << friendlyName;
}

LONG SimCamera::LiveFilters() const
{
    return module_ ? Export<LiveFiltersFn>(module_, "SimLiveFilters")() : -1;
}

void SimCamera::Remove(int slot)
{
    ASSERT_NE(nullptr, module_);
    EXPECT_EQ(S_OK, Export<UnregisterCameraFn>(module_, "SimUnregisterCamera")(slot));
}

void SimCamera::RemoveAll()
{
    if (module_)
        Export<UnregisterAllFn>(module_, "SimUnregisterAllCameras")();
    if (state_) {
        ZeroMemory(state_->registers, sizeof(state_->registers));
        state_->euConnectedResult = 0;
        state_->euButtonDown = 0;
        state_->probeName[0] = 0;
        EndSimHang(state_);
        // A call that hung in a process ended since (a Lumo2 that exited
        // during a hang) never counts itself out: once the live ones have
        // returned, whatever is left counts for nothing, whichever test ran
        // before.
        WaitUntil([this] { return state_->callsHanging <= 0; }, 500);
        state_->callsHanging = 0;
        state_->crashCalls = 0;
    }
    DeleteTwainNames();
}

bool SimCamera::WaitTaken(DWORD timeoutMs)
{
    return WaitUntil([this] { return !Latched(); }, timeoutMs);
}

bool SimCamera::PressAndWaitTaken(DWORD timeoutMs)
{
    LatchPress();
    return WaitTaken(timeoutMs) && WaitForNextPoll(timeoutMs);
}

bool SimCamera::WaitForNextPoll(DWORD timeoutMs)
{
    LONG reads = state_->registerReads;
    return WaitUntil([this, reads] { return state_->registerReads != reads; }, timeoutMs);
}

bool SimCamera::WaitForNextButtonRead(DWORD timeoutMs)
{
    LONG reads = state_->euButtonReads;
    return WaitUntil([this, reads] { return state_->euButtonReads != reads; }, timeoutMs);
}

bool SimCamera::WaitHanging(LONG count, DWORD timeoutMs)
{
    return WaitUntil([this, count] { return state_->callsHanging >= count; }, timeoutMs);
}

DWORD RunCamsim(const std::string& arguments)
{
    std::string command = "\"" + BinFolder() + "\\camsim.exe\" " + arguments;
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(NULL, &command[0], NULL, NULL, FALSE, CREATE_NO_WINDOW, NULL, NULL, &startup, &process))
        return DWORD(-1);
    DWORD code = DWORD(-1);
    if (WaitForSingleObject(process.hProcess, 10000) != WAIT_OBJECT_0 || !GetExitCodeProcess(process.hProcess, &code))
        code = DWORD(-1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

void SetTwainName(const char* value, const void* data, DWORD size, DWORD type)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\USB2800\\TwainDS", 0, NULL,
                                             0, KEY_ALL_ACCESS, NULL, &key, NULL));
    RegSetValueExA(key, value, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
}

void DeleteTwainNames()
{
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\USB2800");
}
