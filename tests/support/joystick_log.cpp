#include "tests/support/joystick_log.h"
#include "actions/vjoy.h"
#include "tests/support/test_support.h"
#include "tests/support/wait_until.h"
#include <gtest/gtest.h>
#include <stdio.h>

// Opens made by ReadJoystickLog since the log was cleared; the driver counts
// them like any other.
static unsigned long ReaderOpens;

static HANDLE OpenStandin()
{
    return CreateFileA("\\\\.\\PPJoyIOCTL1", GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
}

StandinLog ReadJoystickLog()
{
    static StandinLog log;
    ZeroMemory(&log, sizeof(log));
    HANDLE device = OpenStandin();
    EXPECT_NE(INVALID_HANDLE_VALUE, device) << "the joystick stand-in driver is not running";
    if (device == INVALID_HANDLE_VALUE)
        return log;
    ++ReaderOpens;
    DWORD bytes = 0;
    EXPECT_TRUE(DeviceIoControl(device, STANDIN_READ_LOG_IOCTL, NULL, 0, &log, sizeof(log), &bytes, NULL));
    CloseHandle(device);
    log.openHandles -= 1;
    log.opens -= ReaderOpens;
    return log;
}

StandinLog ReadJoystickLogSettled(ULONG openHandles)
{
    StandinLog log;
    WaitUntil([&] { return (log = ReadJoystickLog()).openHandles == openHandles; }, 3000);
    return log;
}

static bool DeviceReachable();
static bool ControlPPJoy(bool start);

void ClearJoystickLog()
{
    // A test that stopped the driver and was ended before it could start it
    // again (a timeout) would otherwise fail every test after it.
    if (!DeviceReachable())
        ControlPPJoy(true);
    HANDLE device = OpenStandin();
    ASSERT_NE(INVALID_HANDLE_VALUE, device) << "the joystick stand-in driver is not running";
    DWORD bytes = 0;
    DeviceIoControl(device, STANDIN_CLEAR_LOG_IOCTL, NULL, 0, NULL, 0, &bytes, NULL);
    CloseHandle(device);
    ReaderOpens = 0;
}

static const char PPJoyService[] = "PPJoyStandin";

static bool DeviceReachable()
{
    HANDLE device = OpenStandin();
    if (device == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(device);
    return true;
}

// Runs a service-control step on the stand-in driver's service, then waits
// until its device is reachable, or not, as wanted.
static bool ControlPPJoy(bool start)
{
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    if (!manager)
        return false;
    SC_HANDLE service = OpenServiceA(manager, PPJoyService, SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS);
    bool reached = false;
    if (service) {
        // A start right after a stop can be refused while the driver host
        // is still unloading it; a few tries find it ready.
        for (int attempt = 0; attempt < 5 && !reached; ++attempt) {
            SERVICE_STATUS status;
            if (start)
                StartServiceA(service, 0, NULL);
            else
                ControlService(service, SERVICE_CONTROL_STOP, &status);
            reached = WaitUntil([start] { return DeviceReachable() == start; }, 3000);
        }
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return reached;
}

PPJoyOutOfReach::PPJoyOutOfReach()
{
    done_ = ControlPPJoy(false);
    EXPECT_TRUE(done_) << "the joystick stand-in driver could not be stopped";
}

PPJoyOutOfReach::~PPJoyOutOfReach()
{
    EXPECT_TRUE(ControlPPJoy(true)) << "the joystick stand-in driver did not start again";
}

void StoreVJoyLocation(DWORD type, const void* data, DWORD size)
{
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, VJoyUninstallKey, KEY_WOW64_64KEY, 0);
    if (!data)
        return;
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, VJoyUninstallKey, 0, NULL, 0,
                                             KEY_ALL_ACCESS | KEY_WOW64_64KEY, NULL, &key, NULL));
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, VJoyLocationValue, 0, type, static_cast<const BYTE*>(data), size));
    RegCloseKey(key);
}

VJoyRegistered::VJoyRegistered()
{
    std::string value = BinFolder() + "\\vjoy";
    StoreVJoyLocation(REG_SZ, value.c_str(), DWORD(value.size() + 1));
    ClearVJoyLog();
}

VJoyRegistered::~VJoyRegistered()
{
    StoreVJoyLocation(REG_SZ, NULL, 0);
}

VJoyLog* ClearVJoyLog()
{
    VJoyLog* log = OpenVJoyLog();
    EXPECT_NE(nullptr, log);
    if (log)
        ZeroMemory(log, sizeof(*log));
    return log;
}

std::string DescribeVJoyCalls(DWORD process)
{
    VJoyLog* log = OpenVJoyLog();
    std::string text;
    for (LONG i = 0; log && i < log->count && i < VJoyLogSize; ++i) {
        const VJoyCall& call = log->calls[i];
        if (call.process != process)
            continue;
        char item[48];
        if (call.kind == VJoySetButtonCall)
            snprintf(item, sizeof(item), "%s %u/%ld", call.down ? "down" : "up", call.id, call.button);
        else
            snprintf(item, sizeof(item), "%s %u", call.kind == VJoyAcquireCall ? "acquire" : "relinquish", call.id);
        text += (text.empty() ? "" : ", ") + std::string(item);
    }
    return text;
}

double VJoyPressMs()
{
    VJoyLog* log = OpenVJoyLog();
    const VJoyCall* down = NULL;
    for (LONG i = 0; log && i < log->count && i < VJoyLogSize; ++i) {
        const VJoyCall& call = log->calls[i];
        if (call.kind != VJoySetButtonCall)
            continue;
        if (call.down && !down)
            down = &call;
        else if (!call.down && down && log->frequency > 0)
            return (call.counter - down->counter) * 1000.0 / log->frequency;
    }
    return -1;
}
