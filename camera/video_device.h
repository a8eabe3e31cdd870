// The camera chip's registers, reached through the capture driver's private
// property interface, and the latch in which the chip keeps a button press.
#pragma once
#include <windows.h>
#include <unknwn.h>

static const IID IID_IDriverProperties = {
    0xBE0AB5D2, 0x3B9A, 0x4E42, {0xA0, 0x5E, 0x4A, 0x17, 0x8B, 0x56, 0x6C, 0x7C}};

// The driver's own interface; only the order of its methods matters to us.
struct IDriverProperties : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Reserved() = 0;  // never called
    virtual HRESULT STDMETHODCALLTYPE SetProperty(ULONG id, void* data) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetProperty(ULONG id, void* data) = 0;
};

enum DriverProperty : ULONG {
    PropertySelectRegister = 4101,  // takes a RegisterAccess
    PropertyRegisterData = 4102,    // the bytes of the selected register
    Property4135 = 4135,
    Property4136 = 4136,
};

// Behind PropertySelectRegister, laid out as the driver reads it.
struct RegisterAccess {
    DWORD selector;  // register number << 8 | byte count; 0 resets the selection
    DWORD length;
    void* data;
};
static_assert(sizeof(RegisterAccess) == 12, "the driver expects 12 bytes");

// Returned instead of calling the driver when no interface is held. It is not
// a failure by sign, so callers that care look at driverInterface.
const HRESULT NoDriverInterface = 6;

const BYTE SnapshotRegister = 0x0C;
const BYTE SnapshotLatchBit = 0x20;

class VideoDevice {
public:
    VideoDevice() : driverInterface(NULL), lastResult(0), property4135(0), property4136(0), name() {}

    IDriverProperties* driverInterface;
    HRESULT lastResult;
    DWORD property4135;
    DWORD property4136;
    // The friendly name of the device whose filter was bound, for the tray's
    // tip, the log and the report.
    char name[260];
};

void ReleaseDriverInterface(VideoDevice* device);
HRESULT GetDriverProperty(VideoDevice* device, ULONG id, void* data);
HRESULT ReadRegister(VideoDevice* device, BYTE reg, BYTE count, void* data);
HRESULT WriteRegister(VideoDevice* device, BYTE reg, BYTE count, void* data);
int CheckSnapshotLatch(VideoDevice* device);
