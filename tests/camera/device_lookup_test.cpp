// Finding the camera among video input devices through the real system
// device enumerator, with stand-in capture filters registered by name.
#include "camera/device_lookup.h"
#include "tests/support/sim_camera.h"
#include <string>
#include <uuids.h>
#include <vector>

namespace {

class DeviceLookupTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(NULL))); }
    void TearDown() override
    {
        camera.RemoveAll();
        CoUninitialize();
    }

    // Opens a device as the capture-driver route does: the slot of the
    // simulated device that was opened, or -1 when none was.
    int OpenedSlot()
    {
        VideoDevice device;
        IDriverProperties* driver = OpenVideoDevice(&device);
        lastResult = device.lastResult;
        if (!driver)
            return -1;
        EXPECT_EQ(driver, device.driverInterface);
        EXPECT_EQ(0x2800u, device.property4136);
        int slot = int(device.property4135);
        ReleaseDriverInterface(&device);
        return slot;
    }

    SimCamera camera;
    HRESULT lastResult = S_OK;
};

struct Device {
    int slot;
    const char* name;
    DWORD flags;
};

TEST_F(DeviceLookupTest, ChoosesTheDeviceByNameAsTheDriverWouldBeFound)
{
    struct {
        const char* what;
        const char* realName;  // null: not stored
        const char* dsName;
        std::vector<Device> devices;
        int expectedSlot;
    } cases[] = {
        {"default name", nullptr, nullptr, {{1, SimCameraName, 0}}, 1},
        {"registry name", "Dental Cam X", nullptr, {{1, SimCameraName, 0}, {2, "Dental Cam X", 0}}, 2},
        {"DSName when no RealDSName", nullptr, "Dental Cam Y", {{1, FirstKnownCameraName, 0}, {3, "Dental Cam Y", 0}}, 3},
        {"RealDSName wins over DSName", "Dental Cam X", "Dental Cam Y",
         {{2, "Dental Cam Y", 0}, {3, "Dental Cam X", 0}}, 3},
        {"RealDSName not present falls to known names, not DSName", "Missing Cam", "Dental Cam Y",
         {{2, "Dental Cam Y", 0}, {3, "USB 2751 Camera", 0}}, 3},
        {"friendly name may go on after the wanted name", nullptr, nullptr,
         {{4, "USB 2800 Video #2", 0}}, 4},
        {"a different digit is no match", "Dental Cam 1", nullptr, {{4, "Dental Cam 2", 0}}, -1},
        {"case counts", "USB 2800 Video", nullptr, {{5, "usb 2800 video", 0}}, -1},
        {"known-list order beats enumeration order", nullptr, nullptr,
         {{1, "USB 2861 Video", 0}, {2, "USB 2800 Video", 0}}, 2},
        {"empty registry name takes the first device", "", nullptr,
         {{7, "Anything at all", 0}, {8, SimCameraName, 0}}, 7},
        {"failed bind goes on to the next device", nullptr, nullptr,
         {{1, SimCameraName, SimCameraFailCreate}, {2, "USB 2820 Video 2", 0}}, 2},
        {"a device without a readable name never matches, whatever came before it", nullptr, nullptr,
         {{1, SimCameraName, SimCameraFailCreate}, {2, SimCameraName, SimCameraNoFriendlyName}}, -1},
        {"a device without a readable name is passed over", nullptr, nullptr,
         {{1, SimCameraName, SimCameraNoFriendlyName}, {2, SimCameraName, 0}}, 2},
        {"unrelated devices only", nullptr, nullptr, {{1, "Webcam", 0}, {2, "Capture card", 0}}, -1},
        {"no devices at all", nullptr, nullptr, {}, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        camera.RemoveAll();
        if (c.realName)
            SetTwainName("RealDSName", c.realName, DWORD(strlen(c.realName) + 1));
        if (c.dsName)
            SetTwainName("DSName", c.dsName, DWORD(strlen(c.dsName) + 1));
        for (const Device& d : c.devices)
            camera.Add(d.slot, d.name, d.flags);
        EXPECT_EQ(c.expectedSlot, OpenedSlot());
        EXPECT_EQ(0, camera.LiveFilters()) << "every reference given back";
    }
}

TEST_F(DeviceLookupTest, DeviceWithoutThePrivateInterfaceEndsTheSearch)
{
    // The wanted device is found but is not our driver: the known names are
    // not tried after it.
    SetTwainName("RealDSName", "Dental Cam X", 13);
    camera.Add(1, "Dental Cam X", SimCameraNoDriverInterface);
    camera.Add(2, "USB 2800 Video");
    EXPECT_EQ(-1, OpenedSlot());
    EXPECT_EQ(E_NOINTERFACE, lastResult);
    EXPECT_EQ(0, camera.LiveFilters());
}

TEST_F(DeviceLookupTest, TwainNameIsBoundedAndFallsBackWhenTooLong)
{
    // 256 bytes with no terminator: read, and compared without running past
    // the buffer.
    std::string exact(256, 'N');
    SetTwainName("RealDSName", exact.data(), 256, REG_BINARY);
    char ansi[257];
    WCHAR wide[260];
    memset(ansi, 'x', sizeof(ansi));
    ASSERT_EQ(1, ReadTwainSourceName(ansi, wide));
    EXPECT_EQ(exact, std::string(ansi));
    EXPECT_EQ(256u, wcslen(wide));

    std::string tooLong(300, 'L');
    SetTwainName("RealDSName", tooLong.c_str(), 301);
    SetTwainName("DSName", "Fallback", 9);
    ASSERT_EQ(1, ReadTwainSourceName(ansi, nullptr));
    EXPECT_STREQ("Fallback", ansi);

    DeleteTwainNames();
    EXPECT_EQ(0, ReadTwainSourceName(ansi, wide));
}

TEST_F(DeviceLookupTest, KnownNamesAreTriedInTheirOrder)
{
    // Each known name alone is found; with all of them, the first wins.
    for (int i = 0; i < 16; ++i)
        camera.Add(i, KnownCameraNames[15 - i]);
    EXPECT_EQ(9, OpenedSlot()) << "the default name is searched before the list";
    camera.Remove(9);
    EXPECT_EQ(15, OpenedSlot()) << "\"USB 2800 Video\", registered last, heads the list";
    camera.RemoveAll();
    camera.Add(9, KnownCameraNames[15]);
    EXPECT_EQ(9, OpenedSlot());
}

// The system device enumerator, registered for this process in front of the
// real one, counting the walks of a category it is asked for.
class CountingDeviceEnumerator : public ICreateDevEnum, public IClassFactory {
public:
    explicit CountingDeviceEnumerator(ICreateDevEnum* real) : real_(real) {}

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        if (iid == IID_IUnknown || iid == IID_ICreateDevEnum)
            *out = static_cast<ICreateDevEnum*>(this);
        else if (iid == IID_IClassFactory)
            *out = static_cast<IClassFactory*>(this);
        else
            return *out = NULL, E_NOINTERFACE;
        return S_OK;
    }
    // Lives on the test's stack, longer than any reference to it.
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateClassEnumerator(REFCLSID category, IEnumMoniker** out, DWORD flags) override
    {
        ++walks;
        return real_->CreateClassEnumerator(category, out, flags);
    }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override
    {
        return outer ? CLASS_E_NOAGGREGATION : QueryInterface(iid, out);
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }

    int walks = 0;

private:
    ICreateDevEnum* real_;
};

TEST_F(DeviceLookupTest, OneWalkOfTheDevicesServesEveryName)
{
    ICreateDevEnum* real = NULL;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_SystemDeviceEnum, NULL, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                     reinterpret_cast<void**>(&real)));
    CountingDeviceEnumerator counting(real);
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, CoRegisterClassObject(CLSID_SystemDeviceEnum, static_cast<IClassFactory*>(&counting),
                                          CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie));
    struct {
        const char* what;
        std::vector<Device> devices;
        int expectedSlot;
    } cases[] = {
        {"twenty devices, no camera", {}, -1},
        {"the last known name, after twenty others", {{40, KnownCameraNames[15], 0}}, 40},
        {"a failed bind, then the same name further on", {{41, SimCameraName, SimCameraFailCreate},
                                                          {42, KnownCameraNames[0], 0},
                                                          {43, SimCameraName, 0}}, 43},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        camera.RemoveAll();
        for (int i = 0; i < 20; ++i)
            camera.Add(i, ("Webcam " + std::to_string(i)).c_str());
        for (const Device& d : c.devices)
            camera.Add(d.slot, d.name, d.flags);
        counting.walks = 0;
        EXPECT_EQ(c.expectedSlot, OpenedSlot());
        EXPECT_EQ(1, counting.walks);
        EXPECT_EQ(0, camera.LiveFilters());
    }
    CoRevokeClassObject(cookie);
    real->Release();
}

}  // namespace
