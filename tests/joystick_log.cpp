#include "tests/joystick_log.h"
#include "tests/wait_until.h"
#include <gtest/gtest.h>

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

void ClearJoystickLog()
{
    HANDLE device = OpenStandin();
    ASSERT_NE(INVALID_HANDLE_VALUE, device) << "the joystick stand-in driver is not running";
    DWORD bytes = 0;
    DeviceIoControl(device, STANDIN_CLEAR_LOG_IOCTL, NULL, 0, NULL, 0, &bytes, NULL);
    CloseHandle(device);
    ReaderOpens = 0;
}
