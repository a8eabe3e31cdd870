// Finding the camera among video input devices through the real system
// device enumerator, with stand-in capture filters registered by name.
#include "camera/device_lookup.h"
#include "tests/sim_camera.h"
#include <string>
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

}  // namespace
