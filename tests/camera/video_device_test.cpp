// Register access and the snapshot latch against a scripted driver interface.
#include "camera/video_device.h"
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

struct DriverCall {
    bool set;
    ULONG id;
    DWORD selector;  // for selects
    BYTE byte;       // for one-byte data transfers
    bool operator==(const DriverCall& o) const
    {
        return set == o.set && id == o.id && selector == o.selector && byte == o.byte;
    }
};

std::ostream& operator<<(std::ostream& out, const DriverCall& c)
{
    return out << (c.set ? "Set(" : "Get(") << c.id << ", sel " << std::hex << c.selector << ", byte "
               << int(c.byte) << std::dec << ")";
}

DriverCall Select(DWORD selector) { return {true, PropertySelectRegister, selector, 0}; }
DriverCall ReadData(BYTE value) { return {false, PropertyRegisterData, 0, value}; }
DriverCall WriteData(BYTE value) { return {true, PropertyRegisterData, 0, value}; }

class ScriptedDriver : public IDriverProperties {
public:
    std::vector<DriverCall> calls;
    BYTE registerValue = 0;
    HRESULT selectResult = S_OK;
    HRESULT transferResult = S_OK;  // reads
    HRESULT writeResult = S_OK;
    LONG refs = 1;

    STDMETHODIMP QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }
    STDMETHODIMP Reserved() override { return E_NOTIMPL; }

    STDMETHODIMP SetProperty(ULONG id, void* data) override
    {
        if (id == PropertySelectRegister) {
            const RegisterAccess* access = static_cast<const RegisterAccess*>(data);
            calls.push_back(Select(access->selector));
            return access->selector == 0 ? S_OK : selectResult;
        }
        calls.push_back(WriteData(*static_cast<BYTE*>(data)));
        if (SUCCEEDED(writeResult) && id == PropertyRegisterData)
            registerValue = *static_cast<BYTE*>(data);
        return writeResult;
    }

    STDMETHODIMP GetProperty(ULONG id, void* data) override
    {
        if (id == PropertyRegisterData) {
            calls.push_back(ReadData(registerValue));
            if (SUCCEEDED(transferResult))
                *static_cast<BYTE*>(data) = registerValue;
            return transferResult;
        }
        calls.push_back({false, id, 0, 0});
        *static_cast<DWORD*>(data) = 0x1234;
        return S_OK;
    }
};

TEST(RegisterAccessTest, SelectorCarriesRegisterAndCountInTheLowBytes)
{
    struct {
        BYTE reg;
        BYTE count;
        DWORD selector;
    } cases[] = {{0x0C, 1, 0x0C01}, {0xFF, 0xFF, 0xFFFF}, {0x00, 4, 0x0004}, {0x80, 0, 0x8000}};
    for (const auto& c : cases) {
        ScriptedDriver driver;
        VideoDevice device;
        device.driverInterface = &driver;
        BYTE data[256] = {0};
        EXPECT_EQ(S_OK, ReadRegister(&device, c.reg, c.count, data));
        ASSERT_EQ(2u, driver.calls.size());
        EXPECT_EQ(c.selector, driver.calls[0].selector);
        EXPECT_EQ(ULONG(PropertyRegisterData), driver.calls[1].id);
    }
}

TEST(SnapshotLatchTest, ReportsEachLatchedPressOnceAndClearsOnlyItsBit)
{
    struct {
        const char* what;
        BYTE value;
        HRESULT selectResult;
        HRESULT transferResult;
        int press;
        std::vector<DriverCall> calls;
        HRESULT lastResult;
    } cases[] = {
        {"latched", 0x20, S_OK, S_OK, 1,
         {Select(0x0C01), ReadData(0x20), Select(0x0C01), WriteData(0x00)}, S_OK},
        {"latched among other bits", 0xFF, S_OK, S_OK, 1,
         {Select(0x0C01), ReadData(0xFF), Select(0x0C01), WriteData(0xDF)}, S_OK},
        {"other bits only", 0xDF, S_OK, S_OK, 0, {Select(0x0C01), ReadData(0xDF)}, S_OK},
        {"select fails", 0x20, E_FAIL, S_OK, 0, {Select(0x0C01), Select(0)}, E_FAIL},
        {"read fails", 0x20, S_OK, E_ACCESSDENIED, 0,
         {Select(0x0C01), ReadData(0x20), Select(0)}, E_ACCESSDENIED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedDriver driver;
        driver.registerValue = c.value;
        driver.selectResult = c.selectResult;
        driver.transferResult = c.transferResult;
        VideoDevice device;
        device.driverInterface = &driver;
        EXPECT_EQ(c.press, CheckSnapshotLatch(&device));
        EXPECT_EQ(c.calls, driver.calls);
        EXPECT_EQ(c.lastResult, device.lastResult);
    }
}

TEST(SnapshotLatchTest, FailedWriteBackStillReportsAndTheNextPollReportsAgain)
{
    ScriptedDriver driver;
    driver.registerValue = 0x20;
    driver.writeResult = E_FAIL;
    VideoDevice device;
    device.driverInterface = &driver;
    EXPECT_EQ(1, CheckSnapshotLatch(&device));
    EXPECT_EQ(Select(0), driver.calls.back()) << "a failed write resets the selection";
    EXPECT_EQ(1, CheckSnapshotLatch(&device));
    driver.writeResult = S_OK;
    EXPECT_EQ(1, CheckSnapshotLatch(&device));
    EXPECT_EQ(0, CheckSnapshotLatch(&device));
}

TEST(VideoDeviceTest, WithoutAnInterfaceNothingIsCalledAndSixComesBack)
{
    VideoDevice device;
    device.lastResult = E_OUTOFMEMORY;
    BYTE data = 0x55;
    DWORD value = 7;
    EXPECT_EQ(NoDriverInterface, ReadRegister(&device, 0x0C, 1, &data));
    EXPECT_EQ(NoDriverInterface, WriteRegister(&device, 0x0C, 1, &data));
    EXPECT_EQ(NoDriverInterface, GetDriverProperty(&device, Property4135, &value));
    EXPECT_EQ(E_OUTOFMEMORY, device.lastResult);
    EXPECT_EQ(0x55, data);
    EXPECT_EQ(7u, value);
}

TEST(VideoDeviceTest, GetDriverPropertyLeavesLastResultAlone)
{
    ScriptedDriver driver;
    VideoDevice device;
    device.driverInterface = &driver;
    device.lastResult = E_FAIL;
    DWORD value = 0;
    EXPECT_EQ(S_OK, GetDriverProperty(&device, Property4136, &value));
    EXPECT_EQ(0x1234u, value);
    EXPECT_EQ(E_FAIL, device.lastResult);
}

TEST(VideoDeviceTest, ReleaseDriverInterfaceReleasesOnceAndForgets)
{
    ScriptedDriver driver;
    driver.refs = 1;
    VideoDevice device;
    device.driverInterface = &driver;
    ReleaseDriverInterface(&device);
    EXPECT_EQ(nullptr, device.driverInterface);
    EXPECT_EQ(0, driver.refs);
    ReleaseDriverInterface(&device);
    EXPECT_EQ(0, driver.refs);
}

}  // namespace
