/* Stand-in for the PPJoy virtual joystick driver: a kernel driver that
   Wine hosts in winedevice.exe. It creates \\.\PPJoyIOCTL1, takes the state
   requests Lumo2 sends and keeps the latest ones for anyone to read back. */
#include <ntddk.h>
#include "ppjoy_standin.h"

static PDEVICE_OBJECT Device;
static StandinLog Log;
static KSPIN_LOCK LogLock;

static NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static void RecordPacket(const void* data, ULONG length)
{
    KIRQL irql;
    KeAcquireSpinLock(&LogLock, &irql);
    if (Log.count == STANDIN_LOG_SIZE) {
        RtlMoveMemory(&Log.packets[0], &Log.packets[1], sizeof(StandinPacket) * (STANDIN_LOG_SIZE - 1));
        --Log.count;
    }
    StandinPacket* packet = &Log.packets[Log.count++];
    RtlZeroMemory(packet, sizeof(*packet));
    packet->counter = KeQueryPerformanceCounter(NULL).QuadPart;
    packet->length = length;
    RtlCopyMemory(packet->bytes, data, length < STANDIN_MAX_PACKET ? length : STANDIN_MAX_PACKET);
    ++Log.received;
    KeReleaseSpinLock(&LogLock, irql);
}

static NTSTATUS NTAPI DispatchCreate(PDEVICE_OBJECT device, PIRP irp)
{
    (void)device;
    InterlockedIncrement((LONG*)&Log.openHandles);
    InterlockedIncrement((LONG*)&Log.opens);
    return Complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI DispatchClose(PDEVICE_OBJECT device, PIRP irp)
{
    (void)device;
    InterlockedDecrement((LONG*)&Log.openHandles);
    return Complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI DispatchControl(PDEVICE_OBJECT device, PIRP irp)
{
    (void)device;
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    ULONG inLength = stack->Parameters.DeviceIoControl.InputBufferLength;
    ULONG outLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
    void* buffer = irp->AssociatedIrp.SystemBuffer;

    switch (code) {
    case PPJOY_SET_STATE_IOCTL:
        if (buffer == NULL || inLength == 0)
            return Complete(irp, STATUS_INVALID_PARAMETER, 0);
        RecordPacket(buffer, inLength);
        return Complete(irp, STATUS_SUCCESS, 0);
    case STANDIN_READ_LOG_IOCTL: {
        if (buffer == NULL || outLength < sizeof(StandinLog))
            return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
        KIRQL irql;
        KeAcquireSpinLock(&LogLock, &irql);
        LARGE_INTEGER frequency;
        KeQueryPerformanceCounter(&frequency);
        Log.frequency = frequency.QuadPart;
        RtlCopyMemory(buffer, &Log, sizeof(StandinLog));
        KeReleaseSpinLock(&LogLock, irql);
        return Complete(irp, STATUS_SUCCESS, sizeof(StandinLog));
    }
    case STANDIN_CLEAR_LOG_IOCTL: {
        KIRQL irql;
        KeAcquireSpinLock(&LogLock, &irql);
        Log.count = 0;
        Log.received = 0;
        Log.opens = 0;
        KeReleaseSpinLock(&LogLock, irql);
        return Complete(irp, STATUS_SUCCESS, 0);
    }
    }
    return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
}

static void NTAPI DriverUnload(PDRIVER_OBJECT driver)
{
    (void)driver;
    UNICODE_STRING link;
    RtlInitUnicodeString(&link, L"\\DosDevices\\PPJoyIOCTL1");
    IoDeleteSymbolicLink(&link);
    if (Device)
        IoDeleteDevice(Device);
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath)
{
    (void)registryPath;
    UNICODE_STRING name, link;
    KeInitializeSpinLock(&LogLock);
    RtlInitUnicodeString(&name, L"\\Device\\PPJoyIOCTL1");
    NTSTATUS status = IoCreateDevice(driver, 0, &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &Device);
    if (!NT_SUCCESS(status))
        return status;
    Device->Flags |= DO_BUFFERED_IO;
    RtlInitUnicodeString(&link, L"\\DosDevices\\PPJoyIOCTL1");
    status = IoCreateSymbolicLink(&link, &name);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(Device);
        Device = NULL;
        return status;
    }
    driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreate;
    driver->MajorFunction[IRP_MJ_CLOSE] = DispatchClose;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchControl;
    driver->DriverUnload = DriverUnload;
    return STATUS_SUCCESS;
}
