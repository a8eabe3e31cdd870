// The running Lumo2.exe in the situations of a clinic PC: many starts at
// once, a copy held by an administrator, Explorer restarting, a registry that
// refuses the save, thousands of device changes, and generated settings.
// Long runs take their counts from the environment (scripts/soak.sh).
#include "app/tray_window.h"
#include "platform/diag_log.h"
#include "res/resource.h"
#include "settings/action_mode.h"
#include "settings/custom_settings.h"
#include "tests/support/joystick_log.h"
#include "tests/support/keyboard_hook.h"
#include "tests/support/lumo_process.h"
#include "tests/support/registry_scratch.h"
#include "tests/support/sim_camera.h"
#include "tests/support/stored_value_fuzz.h"
#include "tests/support/test_support.h"
#include "tests/support/wait_until.h"
#include "windows/settings_window.h"
#include <gtest/gtest.h>
#include <dbt.h>
#include <dshow.h>
#include <winternl.h>
#include <psapi.h>
#include <sddl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <vector>

namespace {

// Removes the icon as a restarting shell loses it; whether it was there.
bool DeleteIcon(HWND tray)
{
    NOTIFYICONDATAA data = {};
    data.cbSize = sizeof(data);
    data.hWnd = tray;
    data.uID = 0;
    return Shell_NotifyIconA(NIM_DELETE, &data) != FALSE;
}

// A window as the user sees it, once it has painted.
void Screenshot(HWND window, const char* name)
{
    RedrawWindow(window, NULL, NULL, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    EXPECT_TRUE(WaitUntil([&] { return Drawn(window); }, 3000)) << name;
    EXPECT_TRUE(SaveScreenshot(window, name)) << name;
}

class FieldAppTest : public RegistryTest {
protected:
    void SetUp() override
    {
        RegistryTest::SetUp();
        sim = camera.State();
        ASSERT_NE(nullptr, sim);
    }
    SimCamera camera;
    SimState* sim = nullptr;
    KeyboardHook hook;
};

TEST_F(FieldAppTest, TenCopiesStartedAtOnceLeaveOneRunningWithOneIcon)
{
    const int copies = 10;
    std::string exe = BinFolder() + "\\Lumo2.exe";
    PROCESS_INFORMATION info[copies];
    for (int i = 0; i < copies; ++i) {
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        ASSERT_TRUE(CreateProcessA(exe.c_str(), NULL, NULL, NULL, FALSE, CREATE_SUSPENDED, NULL, NULL,
                                   &startup, &info[i]));
    }
    for (int i = 0; i < copies; ++i)
        ResumeThread(info[i].hThread);
    auto ended = [&] {
        int n = 0;
        for (int i = 0; i < copies; ++i)
            n += WaitForSingleObject(info[i].hProcess, 0) == WAIT_OBJECT_0;
        return n;
    };
    // Ten Wine processes starting at once on a loaded machine take their time.
    EXPECT_TRUE(WaitUntil([&] { return ended() == copies - 1; }, 90000));
    int survivor = -1;
    for (int i = 0; i < copies; ++i) {
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(info[i].hProcess, &code);
        if (code == STILL_ACTIVE)
            survivor = i;
        else
            EXPECT_EQ(0u, code) << "copy " << i;
    }
    ASSERT_NE(-1, survivor);
    HWND tray = NULL;
    EXPECT_TRUE(WaitUntil([&] { return (tray = FindProcessWindow(info[survivor].dwProcessId, "Lumo")) != NULL; }, 30000));
    // The icon follows the window once the camera thread has connected.
    EXPECT_TRUE(WaitUntil([&] { return TrayWindowHasIcon(tray); }, 30000));
    EXPECT_EQ(1u, LumoTrayWindows().size());
    EXPECT_TRUE(DeleteIcon(tray)) << "the survivor's icon is there";
    EXPECT_FALSE(DeleteIcon(tray)) << "and only once";
    printf("starts: %d copies at once, %d ended with 0, 1 running with %d tray window\n", copies, ended(),
           int(LumoTrayWindows().size()));
    PostMessageA(tray, WM_COMMAND, IDM_EXIT, 0);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(info[survivor].hProcess, 10000));
    for (int i = 0; i < copies; ++i) {
        if (WaitForSingleObject(info[i].hProcess, 0) != WAIT_OBJECT_0)
            TerminateProcess(info[i].hProcess, 1);
        CloseHandle(info[i].hProcess);
        CloseHandle(info[i].hThread);
    }
}

// Every process here runs as administrator, as a start with another
// administrator's password does on Windows; what such a start may not open
// is then another account's: a mutex "Lumo2" that refuses it, or a running
// copy whose process refuses to be looked at.
TEST_F(FieldAppTest, AnElevatedStartRefusedTheRunningCopyIsAnotherAccountsAndSaysSo)
{
    PSECURITY_DESCRIPTOR sd = NULL;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(D;;GA;;;WD)", SDDL_REVISION_1, &sd, NULL));
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), sd, FALSE};
    HANDLE held = CreateMutexA(&attributes, FALSE, "Lumo2");
    LocalFree(sd);
    ASSERT_NE(nullptr, held);
    ASSERT_EQ(nullptr, CreateMutexA(NULL, FALSE, "Lumo2"));
    ASSERT_EQ(DWORD(ERROR_ACCESS_DENIED), GetLastError());
    std::string message;
    EXPECT_EQ(0u, LumoProcess::RunSecondCopyAnswering(&message));
    EXPECT_NE(std::string::npos, message.find("another account")) << "the mutex refused: " << message;
    EXPECT_EQ(std::string::npos, message.find("Exit")) << "the user's own copy is not to be ended";
    EXPECT_TRUE(LumoTrayWindows().empty()) << "no window";
    CloseHandle(held);

    LumoProcess other;
    ASSERT_TRUE(other.StartFrom(BinFolder() + "\\Lumo2.exe", "D:(D;;GA;;;WD)"));
    EXPECT_EQ(0u, LumoProcess::RunSecondCopyAnswering(&message));
    EXPECT_NE(std::string::npos, message.find("another account")) << "the process refused: " << message;
    EXPECT_EQ(std::string::npos, message.find("Exit")) << "the user's own copy is not to be ended";
    EXPECT_TRUE(other.Running()) << "and it is left alone";
    EXPECT_EQ(1u, LumoTrayWindows().size());
    other.Command(IDM_EXIT);
    EXPECT_EQ(0u, other.WaitForExit(5000));

    // With neither a start runs as usual.
    LumoProcess lumo;
    ASSERT_TRUE(lumo.Start());
    lumo.Command(IDM_EXIT);
    EXPECT_EQ(0u, lumo.WaitForExit(5000));
}

TEST_F(FieldAppTest, IconLostToAnExplorerRestartComesBackOnce)
{
    LumoProcess lumo;
    ASSERT_TRUE(lumo.Start());
    ASSERT_TRUE(WaitUntil([&] { return lumo.HasTrayIcon(); }, 5000));
    UINT taskbarCreated = RegisterWindowMessageA("TaskbarCreated");
    DWORD_PTR result;
    for (int restart = 0; restart < 3; ++restart) {
        SCOPED_TRACE(restart);
        ASSERT_TRUE(DeleteIcon(lumo.Tray())) << "the icon is there before the restart";
        EXPECT_FALSE(lumo.HasTrayIcon());
        SendMessageTimeoutA(lumo.Tray(), taskbarCreated, 0, 0, SMTO_NORMAL, 5000, &result);
        EXPECT_TRUE(lumo.HasTrayIcon());
    }
    // An announcement while the icon is there adds no second one.
    SendMessageTimeoutA(lumo.Tray(), taskbarCreated, 0, 0, SMTO_NORMAL, 5000, &result);
    EXPECT_TRUE(DeleteIcon(lumo.Tray()));
    EXPECT_FALSE(DeleteIcon(lumo.Tray())) << "one icon, not two";
    lumo.Command(IDM_EXIT);
    EXPECT_EQ(0u, lumo.WaitForExit(5000));
}

TEST_F(FieldAppTest, ASaveTheRegistryRefusesIsReportedAndTheWindowStaysWithTheValues)
{
    CustomKeySettings stored = {Sequential, 1000, {{0, 1, 0, 'Q'}, {}, {}}};
    CustomSettings = stored;
    ASSERT_TRUE(SaveCustomKeySettings());
    sim->euConnectedResult = 1;
    LumoProcess lumo;
    ASSERT_TRUE(lumo.Start());
    lumo.Command(IDM_CUSTOM_SETTINGS);
    HWND settings = lumo.Settings();
    ASSERT_NE(nullptr, settings);
    // The profile's key turns read-only while the window is open.
    LockProgramKey(true);
    HWND timeField = FindWindowExA(settings, NULL, "Edit", NULL);
    ASSERT_NE(nullptr, timeField);
    SendMessageA(timeField, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("250"));

    PostMessageA(settings, WM_COMMAND, IDC_SAVE, 0);
    HWND box = NULL;
    ASSERT_TRUE(WaitUntil([&] { return (box = FindProcessWindow(lumo.ProcessId(), "#32770", "Lumo2")) != NULL; }, 5000));
    EXPECT_EQ(settings, GetWindow(box, GW_OWNER)) << "the message comes from the settings window";
    ProgramTexts texts;
    HWND text = FindWindowExW(box, NULL, L"Static", UiString(IDS_SAVE_FAILED, LANG_ENGLISH).c_str());
    EXPECT_NE(nullptr, text) << "says that the settings were not saved";
    Screenshot(box, "save-failed");
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(box); }, 5000));
    EXPECT_TRUE(IsWindowVisible(settings)) << "the window stays open";
    EXPECT_EQ("250", WindowText(timeField)) << "with the user's values";
    EXPECT_EQ((std::vector<BYTE>{0xE8, 0x03, 0, 0}), ReadStored("time").bytes);

    // The mode is Custom all the same: a press sends the combination.
    sim->euButtonDown = 1;
    Events seen = hook.WaitFor(4, 3000);
    sim->euButtonDown = 0;
    EXPECT_EQ(Describe({Down(VK_CONTROL), Down('Q'), Up('Q'), Up(VK_CONTROL)}), Describe(seen));

    // Once the registry takes it, "Save" closes the window as before.
    LockProgramKey(false);
    PostMessageA(settings, WM_COMMAND, IDC_SAVE, 0);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindowVisible(settings); }, 5000));
    EXPECT_EQ((std::vector<BYTE>{250, 0, 0, 0}), ReadStored("time").bytes);
    lumo.Command(IDM_EXIT);
    EXPECT_EQ(0u, lumo.WaitForExit(5000));
}

// A visible balloon of the notification area: a tooltip window of the
// process that owns the tray.
HWND ShownBalloon()
{
    HWND tray = FindWindowA("Shell_TrayWnd", NULL);
    if (!tray)
        tray = FindWindowA("__winex11_standalone_tray", NULL);
    DWORD shell = 0;
    GetWindowThreadProcessId(tray, &shell);
    for (HWND w = FindWindowExA(NULL, NULL, "tooltips_class32", NULL); w;
         w = FindWindowExA(NULL, w, "tooltips_class32", NULL)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        if (owner == shell && IsWindowVisible(w))
            return w;
    }
    return NULL;
}

bool BalloonShown() { return ShownBalloon() != NULL; }


// Notepad in front, started with the given security descriptor (or none).
struct FrontProgram {
    PROCESS_INFORMATION info = {};
    HWND window = NULL;
    explicit FrontProgram(const char* descriptor)
    {
        PSECURITY_DESCRIPTOR sd = NULL;
        if (descriptor)
            ConvertStringSecurityDescriptorToSecurityDescriptorA(descriptor, SDDL_REVISION_1, &sd, NULL);
        SECURITY_ATTRIBUTES attributes = {sizeof(attributes), sd, FALSE};
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        char command[] = "notepad.exe";
        if (CreateProcessA(NULL, command, descriptor ? &attributes : NULL, NULL, FALSE, 0, NULL, NULL, &startup, &info))
            WaitUntil([&] { return (window = FindProcessWindow(info.dwProcessId, "Notepad")) != NULL; }, 10000);
        if (sd)
            LocalFree(sd);
        if (window)
            SetForegroundWindow(window);
    }
    ~FrontProgram()
    {
        if (info.hProcess) {
            TerminateProcess(info.hProcess, 0);
            WaitForSingleObject(info.hProcess, 5000);
            CloseHandle(info.hProcess);
            CloseHandle(info.hThread);
        }
    }
    bool InFront() const
    {
        return window && WaitUntil([&] { return GetForegroundWindow() == window; }, 5000);
    }
};

// A program whose process refuses to be asked is what an elevated program
// and another account's program ("Run as different user") both are to an
// ordinary Lumo2 on Windows; only the first drops the keys, and Windows' own
// filter of messages between levels tells them apart. Wine has no levels and
// lets every message through, so here it is the second: the keys go and no
// one is warned. The warning itself is played in-process (BlockedKeysTest,
// TrayWindowTest).
TEST_F(FieldAppTest, AProgramThatCannotBeAskedButTakesMessagesGetsTheKeysWithoutAWarning)
{
    sim->euConnectedResult = 1;
    LumoProcess lumo;
    ASSERT_TRUE(lumo.Start());
    ASSERT_TRUE(WaitUntil([&] { return lumo.HasTrayIcon(); }, 5000));
    auto press = [&] {
        sim->euButtonDown = 1;
        Events seen = hook.WaitFor(2, 3000);
        sim->euButtonDown = 0;
        // A poll that sees the button up, so the next press counts.
        EXPECT_TRUE(camera.WaitForNextButtonRead());
        return Describe(seen);
    };
    WCHAR log[MAX_PATH];
    ASSERT_TRUE(LogFilePath(log, MAX_PATH, false));
    DeleteFileW(log);  // no handle stays open on it
    auto count = [&](const std::string& what) {
        const std::string text = FileText(log);
        size_t n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
            ++n;
        return n;
    };
    const std::string dropped = "in front notepad.exe, higher level than Lumo2: keys dropped";
    // Under Wine Lumo2 runs with a full token, so the advice is the one for
    // an account that may not elevate it.
    const std::string warned = "blocked keys: warned (advice: ask IT for the per-machine install)";
    const std::string over = "blocked keys: over";
    {
        FrontProgram guarded("D:(D;;GA;;;WD)");
        ASSERT_TRUE(guarded.InFront());
        EXPECT_EQ(Describe(Space), press());
        EXPECT_EQ(Describe(Space), press());
        EXPECT_FALSE(WaitUntil(BalloonShown, 3500)) << "another account's program at this level is no block";
        EXPECT_EQ(0u, count(dropped) + count(warned) + count(over));
    }
    lumo.Command(IDM_EXIT);
    EXPECT_EQ(0u, lumo.WaitForExit(5000));
}

// Neither PPJoy nor vJoy: choosing the joystick mode says so from the icon.
TEST_F(FieldAppTest, ChoosingTheJoystickModeWithoutAnyDriverShowsABalloon)
{
    PPJoyOutOfReach ppjoyGone;
    ASSERT_TRUE(ppjoyGone.Done());
    StoreVJoyLocation(REG_SZ, NULL, 0);
    LumoProcess lumo;
    ASSERT_TRUE(lumo.Start());
    ASSERT_TRUE(WaitUntil([&] { return lumo.HasTrayIcon(); }, 5000));
    lumo.Command(IDM_KODAK);
    EXPECT_FALSE(WaitUntil(BalloonShown, 3000)) << "another mode warns of nothing";
    lumo.Command(IDM_JOYSTICK);
    EXPECT_TRUE(WaitUntil(BalloonShown, 5000)) << "no balloon for a joystick mode that does nothing";
    Screenshot(ShownBalloon(), "no-joystick-balloon");
    lumo.Command(IDM_EXIT);
    EXPECT_EQ(0u, lumo.WaitForExit(5000));
}

// ---------------------------------------------------------------------------
// Endurance: device changes with a press after each, and what the process
// holds before and after.

struct Holdings {
    LONG handles;
    LONG gdiObjects;
    SIZE_T workingSet;
    LONG filterReferences;
};

LONG CountHandles(DWORD processId)
{
    typedef LONG(WINAPI * QueryFn)(ULONG, PVOID, ULONG, PULONG);
    static QueryFn query = reinterpret_cast<QueryFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    struct Entry {
        ULONG ownerPid;
        BYTE objectType;
        BYTE flags;
        USHORT value;
        PVOID object;
        ULONG access;
    };
    std::vector<BYTE> buffer(1 << 20);
    for (;;) {
        ULONG needed = 0;
        LONG status = query(16 /* SystemHandleInformation */, buffer.data(), ULONG(buffer.size()), &needed);
        if (status == LONG(0xC0000004)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (status != 0)
            return -1;
        break;
    }
    ULONG count = *reinterpret_cast<ULONG*>(buffer.data());
    const Entry* entries = reinterpret_cast<const Entry*>(buffer.data() + sizeof(ULONG_PTR));
    LONG owned = 0;
    for (ULONG i = 0; i < count; ++i)
        owned += entries[i].ownerPid == processId;
    return owned;
}

// GDI objects of a process. Wine answers GetGuiResources with 0, so this
// reads the process's GDI handle table (PEB offset 0x94 in a 32-bit process,
// 65,536 entries of 24 bytes, a live entry has a non-zero type) and falls
// back to GetGuiResources where that table is not there; -1 when neither
// answers.
LONG CountGdiObjects(HANDLE process)
{
    typedef LONG(WINAPI * QueryFn)(HANDLE, ULONG, PVOID, ULONG, PULONG);
    static QueryFn query = reinterpret_cast<QueryFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess")));
    PROCESS_BASIC_INFORMATION basic = {};
    ULONG size = 0;
    DWORD table = 0;
    SIZE_T read = 0;
    if (query(process, 0 /* ProcessBasicInformation */, &basic, sizeof(basic), &size) == 0 &&
        ReadProcessMemory(process, reinterpret_cast<BYTE*>(basic.PebBaseAddress) + 0x94, &table, sizeof(table), &read) &&
        table != 0) {
        const size_t entrySize = 24, entries = 0x10000;
        std::vector<BYTE> copy(entrySize * entries);
        if (ReadProcessMemory(process, reinterpret_cast<void*>(static_cast<ULONG_PTR>(table)), copy.data(), copy.size(), &read)) {
            LONG live = 0;
            for (size_t i = 0; i < entries; ++i)
                live += copy[i * entrySize + 14] != 0;
            return live;
        }
    }
    DWORD gui = GetGuiResources(process, GR_GDIOBJECTS);
    return gui ? LONG(gui) : -1;
}

Holdings Measure(DWORD processId, SimState* sim)
{
    Holdings h = {};
    h.handles = CountHandles(processId);
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
    if (process) {
        h.gdiObjects = CountGdiObjects(process);
        PROCESS_MEMORY_COUNTERS counters = {};
        if (GetProcessMemoryInfo(process, &counters, sizeof(counters)))
            h.workingSet = counters.WorkingSetSize;
        CloseHandle(process);
    }
    h.filterReferences = sim->filterReferences;
    return h;
}

TEST(GdiCountTest, TheCounterSeesObjectsMadeAndDeleted)
{
    HANDLE self = GetCurrentProcess();
    LONG before = CountGdiObjects(self);
    ASSERT_GT(before, 0);
    HBRUSH brushes[5];
    for (HBRUSH& b : brushes)
        b = CreateSolidBrush(RGB(1, 2, 3));
    EXPECT_EQ(before + 5, CountGdiObjects(self));
    for (HBRUSH b : brushes)
        DeleteObject(b);
    EXPECT_EQ(before, CountGdiObjects(self));
}

// What Wine's device enumerator itself keeps per walk of the video input
// category, measured here with the walk a reconnect makes and nothing else.
double BareEnumerationHandleCost(unsigned walks)
{
    CoInitialize(NULL);
    LONG before = CountHandles(GetCurrentProcessId());
    for (unsigned i = 0; i < walks; ++i) {
        ICreateDevEnum* devEnum = NULL;
        if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, NULL, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                    reinterpret_cast<void**>(&devEnum))))
            break;
        IEnumMoniker* monikers = NULL;
        if (devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0) == S_OK && monikers) {
            IMoniker* moniker = NULL;
            while (monikers->Next(1, &moniker, NULL) == S_OK) {
                IPropertyBag* bag = NULL;
                if (SUCCEEDED(moniker->BindToStorage(NULL, NULL, IID_IPropertyBag, reinterpret_cast<void**>(&bag)))) {
                    VARIANT name;
                    VariantInit(&name);
                    bag->Read(L"FriendlyName", &name, NULL);
                    VariantClear(&name);
                    bag->Release();
                }
                IBaseFilter* filter = NULL;
                if (SUCCEEDED(moniker->BindToObject(NULL, NULL, IID_IBaseFilter, reinterpret_cast<void**>(&filter))))
                    filter->Release();
                moniker->Release();
            }
            monikers->Release();
        }
        devEnum->Release();
    }
    LONG after = CountHandles(GetCurrentProcessId());
    CoUninitialize();
    printf("endurance: bare enumeration, %u walks: handles %ld -> %ld, %.2f per walk\n", walks, before, after,
           double(after - before) / walks);
    return double(after - before) / walks;
}

class EnduranceTest : public FieldAppTest {
protected:
    // One device change, then one press that must arrive.
    bool Round()
    {
        DWORD_PTR result;
        SendMessageTimeoutA(lumo.Tray(), WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0, SMTO_NORMAL, 10000, &result);
        if (captureRoute)
            camera.LatchPress();
        else
            sim->euButtonDown = 1;
        Events seen = hook.WaitFor(2, 3000);
        if (!captureRoute) {
            sim->euButtonDown = 0;
            if (!camera.WaitForNextButtonRead())
                return false;
        }
        return Describe(seen) == Describe(Space);
    }

    void Run(bool captureDriver)
    {
        captureRoute = captureDriver;
        const char* route = captureDriver ? "capture-driver route" : "extension-unit route";
        unsigned rounds = EnvNumber("LUMO2_ENDURANCE_ROUNDS", 300);
        camera.Add(1, SimCameraName);
        sim->euConnectedResult = captureDriver ? 0 : 1;
        // Wine's own cost per walk, in this run; the extension-unit route
        // walks nothing on a reconnect.
        double perWalk = BareEnumerationHandleCost(rounds < 1000 ? rounds : 1000);
        // The fastest poll there is, so that the rounds take the device
        // changes' time rather than the poll's.
        StoreDword("PollInterval", 10);
        ASSERT_TRUE(lumo.Start());
        for (int i = 0; i < 20; ++i)  // first-use allocations settle
            ASSERT_TRUE(Round());
        Holdings before = Measure(lumo.ProcessId(), sim);
        unsigned arrived = 0;
        DWORD start = GetTickCount();
        for (unsigned i = 0; i < rounds; ++i)
            arrived += Round();
        DWORD elapsed = GetTickCount() - start;
        Holdings after = Measure(lumo.ProcessId(), sim);
        double wineCost = captureDriver ? perWalk * rounds : 0;
        double beyond = (after.handles - before.handles) - wineCost;
        printf("endurance, %s: %u device changes in %lu ms, %u of %u presses arrived\n", route, rounds, elapsed,
               arrived, rounds);
        printf("endurance, %s: handles %ld -> %ld (Wine's enumerator %.0f, Lumo2 beyond it %+.0f), "
               "GDI objects %ld -> %ld, filter references %ld -> %ld, working set %lu KB -> %lu KB\n",
               route, before.handles, after.handles, wineCost, beyond, before.gdiObjects, after.gdiObjects,
               before.filterReferences, after.filterReferences, ULONG(before.workingSet / 1024),
               ULONG(after.workingSet / 1024));
        EXPECT_EQ(rounds, arrived);
        ASSERT_GE(before.handles, 0) << "handles could not be counted";
        // Noise: a walk's cost is not always the same whole number.
        EXPECT_LE(beyond, 8 + 0.05 * wineCost) << "handles grow beyond Wine's own cost";
        EXPECT_GE(before.gdiObjects, 0) << "GDI objects could not be counted";
        EXPECT_EQ(before.gdiObjects, after.gdiObjects);
        EXPECT_EQ(before.filterReferences, after.filterReferences);
        lumo.Command(IDM_EXIT);
        EXPECT_EQ(0u, lumo.WaitForExit(5000));
    }

    LumoProcess lumo;
    bool captureRoute = false;
};

TEST_F(EnduranceTest, DeviceChangesOnTheCaptureDriverRouteLeaveNothingBehind)
{
    Run(true);
}

TEST_F(EnduranceTest, DeviceChangesOnTheExtensionUnitRouteLeaveNothingBehind)
{
    Run(false);
}

// ---------------------------------------------------------------------------
// Generated settings against the running program.

TEST_F(FieldAppTest, GeneratedStoredValuesLetTheProgramStartTakeAPressAndExit)
{
    const unsigned starts = EnvNumber("LUMO2_FUZZ_STARTS", 5);
    const unsigned seed = EnvNumber("LUMO2_FUZZ_SEED", 20261207);
    printf("generated start-ups: seed %u, %u starts\n", seed, starts);
    std::mt19937 rng(seed);
    camera.Add(1, SimCameraName);
    unsigned typed = 0;
    for (unsigned n = 0; n < starts; ++n) {
        SCOPED_TRACE(testing::Message() << "start " << n << ", seed " << seed);
        RegDeleteTreeA(HKEY_CURRENT_USER, ProgramKeyPath);
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, ProgramKeyPath, 0, NULL, 0, KEY_ALL_ACCESS,
                                                 NULL, &key, NULL));
        for (int i = 0; i < 15; ++i)
            StoreGeneratedValue(rng, key, StoredValueNames[i], i == 0);
        RegCloseKey(key);
        LumoProcess lumo;
        ASSERT_TRUE(lumo.Start());
        camera.LatchPress();
        EXPECT_TRUE(camera.WaitTaken()) << "the press was taken";
        // The exit waits for the press being handled, keys and pauses included.
        PostMessageA(lumo.Tray(), WM_COMMAND, IDM_EXIT, 0);
        EXPECT_EQ(0u, lumo.WaitForExit(30000));
        Events events = hook.WaitFor(0, 0);
        typed += !events.empty();
        EXPECT_TRUE(KeysBalanced(events)) << Describe(events);
    }
    printf("generated start-ups: %u started, took a press (%u typed) and ended with 0\n", starts, typed);
}

}  // namespace
