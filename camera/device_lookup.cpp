#include "camera/device_lookup.h"
#include <string.h>
#include <uuids.h>

const char* const KnownCameraNames[16] = {
    "USB 2800 Video",  "USB 2801 Video",  "USB 2700 Camera", "USB 2701 Camera",
    "USB 2840 Video",  "USB 2841 Video",  "USB 2820 Video",  "USB 2821 Video",
    "USB 2710 Camera", "USB 2711 Camera", "USB 2860 Video",  "USB 2861 Video",
    "USB 2880 Video",  "USB 2881 Video",  "USB 2750 Camera", "USB 2751 Camera",
};

const char DefaultCameraName[] = "USB 2820 Video";

static const char TwainKeyPath[] = "Software\\USB2800\\TwainDS";
const DWORD TwainNameSize = 256;

// A COM reference released when it goes out of scope, for the loop that walks
// monikers and property bags with an exit on every step.
template <class T> class ComRef {
public:
    ComRef() : p_(NULL) {}
    ~ComRef() { Reset(); }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    T** operator&() { return &p_; }
    T* operator->() const { return p_; }
    T* Get() const { return p_; }
    void Reset()
    {
        if (p_) {
            p_->Release();
            p_ = NULL;
        }
    }

private:
    T* p_;
};

IDriverProperties* OpenVideoDevice(VideoDevice* device)
{
    char wanted[TwainNameSize + 1];
    if (!ReadTwainSourceName(wanted, NULL))
        strcpy(wanted, DefaultCameraName);
    IDriverProperties* driver = AttachDriverInterface(device, wanted);
    GetDriverProperty(device, Property4135, &device->property4135);
    GetDriverProperty(device, Property4136, &device->property4136);
    return driver;
}

int ReadTwainSourceName(char* ansiName, WCHAR* wideName)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, TwainKeyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    // One byte more than the registry may fill, so that a name stored without
    // its terminator still ends inside the buffer.
    char name[TwainNameSize + 1] = {0};
    DWORD size = TwainNameSize;
    LONG result = RegQueryValueExA(key, "RealDSName", NULL, NULL, reinterpret_cast<BYTE*>(name), &size);
    if (result != ERROR_SUCCESS) {
        size = TwainNameSize;
        result = RegQueryValueExA(key, "DSName", NULL, NULL, reinterpret_cast<BYTE*>(name), &size);
    }
    RegCloseKey(key);
    if (result != ERROR_SUCCESS)
        return 0;
    name[size < TwainNameSize ? size : TwainNameSize] = '\0';
    if (ansiName)
        memcpy(ansiName, name, TwainNameSize + 1);
    if (wideName) {
        int count = MultiByteToWideChar(CP_ACP, 0, name, size, wideName, FriendlyNameSize - 1);
        wideName[count] = L'\0';
    }
    return 1;
}

// Reads a device's "FriendlyName" as ANSI text; false when it has none.
static bool ReadFriendlyName(VideoDevice* device, IMoniker* moniker, char* name)
{
    ComRef<IPropertyBag> bag;
    device->lastResult = moniker->BindToStorage(NULL, NULL, IID_IPropertyBag,
                                                reinterpret_cast<void**>(&bag));
    if (FAILED(device->lastResult) || !bag.Get())
        return false;
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BSTR;
    device->lastResult = bag->Read(L"FriendlyName", &value, NULL);
    if (device->lastResult != S_OK)
        return false;
    bool converted = value.vt == VT_BSTR && value.bstrVal != NULL &&
                     WideCharToMultiByte(CP_ACP, 0, value.bstrVal, -1, name, FriendlyNameSize, NULL,
                                         NULL) > 0;
    VariantClear(&value);
    return converted;
}

bool ListVideoInputDevices(VideoDevice* device, VideoInputDevices* list)
{
    list->count = 0;
    IEnumMoniker* monikers = NULL;
    {
        ComRef<ICreateDevEnum> devices;
        device->lastResult = CoCreateInstance(CLSID_SystemDeviceEnum, NULL, CLSCTX_INPROC_SERVER,
                                              IID_ICreateDevEnum, reinterpret_cast<void**>(&devices));
        if (FAILED(device->lastResult) || !devices.Get())
            return false;
        // S_FALSE with no enumerator is an empty category.
        device->lastResult = devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0);
    }
    if (FAILED(device->lastResult) || !monikers)
        return false;
    monikers->Reset();
    while (list->count < MaxVideoInputDevices) {
        IMoniker* moniker = NULL;
        if (monikers->Next(1, &moniker, NULL) != S_OK || !moniker)
            break;
        int i = list->count++;
        list->monikers[i] = moniker;
        list->named[i] = ReadFriendlyName(device, moniker, list->names[i]);
    }
    monikers->Release();
    return true;
}

void ReleaseVideoInputDevices(VideoInputDevices* list)
{
    for (int i = 0; i < list->count; ++i)
        list->monikers[i]->Release();
    list->count = 0;
}

IBaseFilter* FindDeviceFilter(VideoDevice* device, const VideoInputDevices& list, const char* wanted)
{
    size_t wantedLength = strlen(wanted);
    for (int i = 0; i < list.count; ++i) {
        // The wanted name is a prefix: drivers append numbers to it.
        if (!list.named[i] || strncmp(wanted, list.names[i], wantedLength) != 0)
            continue;
        IBaseFilter* filter = NULL;
        device->lastResult = list.monikers[i]->BindToObject(NULL, NULL, IID_IBaseFilter,
                                                            reinterpret_cast<void**>(&filter));
        if (SUCCEEDED(device->lastResult) && filter) {
            lstrcpynA(device->name, list.names[i], sizeof(device->name));
            return filter;
        }
    }
    return NULL;
}

IBaseFilter* FindKnownCamera(VideoDevice* device, const VideoInputDevices& list)
{
    for (const char* name : KnownCameraNames) {
        if (IBaseFilter* filter = FindDeviceFilter(device, list, name))
            return filter;
    }
    return NULL;
}

IDriverProperties* AttachDriverInterface(VideoDevice* device, const char* wanted)
{
    // One walk serves every name: each walk costs a system device
    // enumerator and a property bag per device, and a connect runs on the
    // GUI thread for every device change of any USB device.
    VideoInputDevices list;
    IBaseFilter* filter = NULL;
    if (ListVideoInputDevices(device, &list)) {
        filter = FindDeviceFilter(device, list, wanted);
        if (!filter)
            filter = FindKnownCamera(device, list);
        ReleaseVideoInputDevices(&list);
    }
    if (!filter)
        return NULL;
    device->lastResult = filter->QueryInterface(IID_IDriverProperties,
                                                reinterpret_cast<void**>(&device->driverInterface));
    filter->Release();
    if (FAILED(device->lastResult) || !device->driverInterface)
        return NULL;
    return device->driverInterface;
}
