#include "camera/video_device.h"

void ReleaseDriverInterface(VideoDevice* device)
{
    if (device->driverInterface) {
        device->driverInterface->Release();
        device->driverInterface = NULL;
    }
}

HRESULT GetDriverProperty(VideoDevice* device, ULONG id, void* data)
{
    if (!device->driverInterface)
        return NoDriverInterface;
    return device->driverInterface->GetProperty(id, data);
}

static HRESULT TransferRegister(VideoDevice* device, BYTE reg, BYTE count, void* data, bool write)
{
    IDriverProperties* driver = device->driverInterface;
    if (!driver)
        return NoDriverInterface;
    RegisterAccess access = {static_cast<DWORD>(reg) << 8 | count, count, data};
    device->lastResult = driver->SetProperty(PropertySelectRegister, &access);
    if (SUCCEEDED(device->lastResult)) {
        device->lastResult = write ? driver->SetProperty(PropertyRegisterData, data)
                                   : driver->GetProperty(PropertyRegisterData, data);
    }
    if (FAILED(device->lastResult)) {
        // Leave no half-made selection behind for the next transfer.
        access.selector = 0;
        driver->SetProperty(PropertySelectRegister, &access);
    }
    return device->lastResult;
}

HRESULT ReadRegister(VideoDevice* device, BYTE reg, BYTE count, void* data)
{
    return TransferRegister(device, reg, count, data, false);
}

HRESULT WriteRegister(VideoDevice* device, BYTE reg, BYTE count, void* data)
{
    return TransferRegister(device, reg, count, data, true);
}

int CheckSnapshotLatch(VideoDevice* device)
{
    BYTE value = 0;
    device->lastResult = ReadRegister(device, SnapshotRegister, 1, &value);
    if (FAILED(device->lastResult) || (value & SnapshotLatchBit) == 0)
        return 0;
    // Clear only the latch; the chip keeps other state in this register.
    value &= static_cast<BYTE>(~SnapshotLatchBit);
    WriteRegister(device, SnapshotRegister, 1, &value);
    return 1;
}
