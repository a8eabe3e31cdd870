// Stand-in for the camera's capture driver: an in-process COM server whose
// objects are minimal DirectShow filters that also answer the driver's
// private property interface, backed by the simulated chip's registers.
// Each registered device is one slot with a class identifier of its own.
#define STRSAFE_NO_DEPRECATE
#include "camera/video_device.h"
#include "standins/sim_state/sim_state.h"
#include <dshow.h>
#include <stdio.h>
#include <string.h>
#include <stdlib.h>
#include <wchar.h>

static HMODULE ThisModule;
static LONG LiveFilters;  // in this process

static bool SlotOf(REFCLSID clsid, int* slot)
{
    CLSID base = SimCameraClsid(0);
    base.Data4[7] = clsid.Data4[7];
    if (!IsEqualCLSID(base, clsid) || clsid.Data4[7] >= SimCameraSlots)
        return false;
    *slot = clsid.Data4[7];
    return true;
}

static void ClsidKeyPath(int slot, char* path, size_t size)
{
    WCHAR wide[40];
    char text[40];
    StringFromGUID2(SimCameraClsid(slot), wide, 40);
    WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof(text), NULL, NULL);
    snprintf(path, size, "CLSID\\%s", text);
}

static DWORD SlotFlags(int slot)
{
    char path[80];
    ClsidKeyPath(slot, path, sizeof(path));
    DWORD flags = 0, size = sizeof(flags);
    RegGetValueA(HKEY_CLASSES_ROOT, path, "SimFlags", RRF_RT_REG_DWORD, NULL, &flags, &size);
    return flags;
}

class SimFilter final : public IBaseFilter, public IDriverProperties {
public:
    SimFilter(int slot, bool driverInterface)
        : refs_(1), slot_(slot), driverInterface_(driverInterface), selected_(0), selectedCount_(0)
    {
        InterlockedIncrement(&LiveFilters);
        InterlockedIncrement(&OpenSimState()->filtersCreated);
        InterlockedIncrement(&OpenSimState()->filterReferences);
    }

    ~SimFilter() { InterlockedDecrement(&LiveFilters); }

    // IUnknown, shared by both interfaces.
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        *out = NULL;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IBaseFilter) ||
            IsEqualIID(iid, IID_IMediaFilter) || IsEqualIID(iid, IID_IPersist))
            *out = static_cast<IBaseFilter*>(this);
        else if (driverInterface_ && IsEqualIID(iid, IID_IDriverProperties))
            *out = static_cast<IDriverProperties*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override
    {
        InterlockedIncrement(&OpenSimState()->filterReferences);
        return InterlockedIncrement(&refs_);
    }
    STDMETHODIMP_(ULONG) Release() override
    {
        InterlockedDecrement(&OpenSimState()->filterReferences);
        LONG left = InterlockedDecrement(&refs_);
        if (left == 0)
            delete this;
        return left;
    }

    // IPersist, IMediaFilter, IBaseFilter: a filter with no pins that never runs.
    STDMETHODIMP GetClassID(CLSID* clsid) override
    {
        *clsid = SimCameraClsid(slot_);
        return S_OK;
    }
    STDMETHODIMP Stop() override { return S_OK; }
    STDMETHODIMP Pause() override { return S_OK; }
    STDMETHODIMP Run(REFERENCE_TIME) override { return S_OK; }
    STDMETHODIMP GetState(DWORD, FILTER_STATE* state) override
    {
        *state = State_Stopped;
        return S_OK;
    }
    STDMETHODIMP SetSyncSource(IReferenceClock*) override { return S_OK; }
    STDMETHODIMP GetSyncSource(IReferenceClock** clock) override
    {
        *clock = NULL;
        return S_OK;
    }
    STDMETHODIMP EnumPins(IEnumPins**) override { return E_NOTIMPL; }
    STDMETHODIMP FindPin(LPCWSTR, IPin**) override { return VFW_E_NOT_FOUND; }
    STDMETHODIMP QueryFilterInfo(FILTER_INFO* info) override
    {
        wcscpy(info->achName, L"Simulated camera");
        info->pGraph = NULL;
        return S_OK;
    }
    STDMETHODIMP JoinFilterGraph(IFilterGraph*, LPCWSTR) override { return S_OK; }
    STDMETHODIMP QueryVendorInfo(LPWSTR*) override { return E_NOTIMPL; }

    // IDriverProperties.
    STDMETHODIMP Reserved() override { return E_NOTIMPL; }

    STDMETHODIMP SetProperty(ULONG id, void* data) override
    {
        SimState* sim = OpenSimState();
        if (id == PropertySelectRegister) {
            const RegisterAccess* access = static_cast<const RegisterAccess*>(data);
            selected_ = (access->selector >> 8) & 0xFF;
            selectedCount_ = access->selector & 0xFF;
            return S_OK;
        }
        if (id == PropertyRegisterData) {
            if (selectedCount_ == 0)
                return E_UNEXPECTED;
            HangIfAsked();
            const BYTE* bytes = static_cast<const BYTE*>(data);
            for (DWORD i = 0; i < selectedCount_; ++i)
                sim->registers[(selected_ + i) & 0xFF] = bytes[i];
            return S_OK;
        }
        return E_INVALIDARG;
    }

    STDMETHODIMP GetProperty(ULONG id, void* data) override
    {
        SimState* sim = OpenSimState();
        switch (id) {
        case PropertyRegisterData: {
            if (selectedCount_ == 0)
                return E_UNEXPECTED;
            HangIfAsked();
            InterlockedIncrement(&sim->registerReads);
            BYTE* bytes = static_cast<BYTE*>(data);
            for (DWORD i = 0; i < selectedCount_; ++i)
                bytes[i] = sim->registers[(selected_ + i) & 0xFF];
            return S_OK;
        }
        case Property4135:  // which simulated device this is
            *static_cast<DWORD*>(data) = slot_;
            return S_OK;
        case Property4136:  // the chip model
            *static_cast<DWORD*>(data) = 0x2800;
            return S_OK;
        }
        return E_INVALIDARG;
    }

private:
    LONG refs_;
    int slot_;
    bool driverInterface_;
    DWORD selected_;
    DWORD selectedCount_;
};

class SimFilterFactory final : public IClassFactory {
public:
    explicit SimFilterFactory(int slot) : refs_(1), slot_(slot) {}
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *out = this;
            AddRef();
            return S_OK;
        }
        *out = NULL;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
    STDMETHODIMP_(ULONG) Release() override
    {
        LONG left = InterlockedDecrement(&refs_);
        if (left == 0)
            delete this;
        return left;
    }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override
    {
        *out = NULL;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        DWORD flags = SlotFlags(slot_);
        if (flags & SimCameraFailCreate)
            return E_FAIL;
        SimFilter* filter = new SimFilter(slot_, (flags & SimCameraNoDriverInterface) == 0);
        HRESULT hr = filter->QueryInterface(iid, out);
        filter->Release();
        return hr;
    }
    // The library never unloads (DllCanUnloadNow), so there is nothing to lock.
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }

private:
    LONG refs_;
    int slot_;
};

static void InstanceName(int slot, WCHAR* name)
{
    swprintf(name, 64, L"Lumo2 simulated camera %02d", slot);
}

// Takes the name away from a registered device, as a broken driver
// installation can leave it: the device is listed but has no FriendlyName.
static void ForgetFriendlyName(const WCHAR* instance)
{
    WCHAR category[40], path[MAX_PATH];
    StringFromGUID2(CLSID_VideoInputDeviceCategory, category, 40);
    swprintf(path, MAX_PATH, L"CLSID\\%ls\\Instance\\%ls", category, instance);
    HKEY key;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegDeleteValueW(key, L"FriendlyName");
        RegCloseKey(key);
    }
}

extern "C" {

// Registers slot as a video input device called friendlyName.
__declspec(dllexport) HRESULT SimRegisterCamera(int slot, const char* friendlyName, DWORD flags)
{
    if (slot < 0 || slot >= SimCameraSlots || !friendlyName)
        return E_INVALIDARG;
    char path[MAX_PATH], module[MAX_PATH];
    ClsidKeyPath(slot, path, sizeof(path));
    GetModuleFileNameA(ThisModule, module, MAX_PATH);
    HKEY key;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, path, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL))
        return E_FAIL;
    RegSetValueExA(key, "SimFlags", 0, REG_DWORD, reinterpret_cast<BYTE*>(&flags), sizeof(flags));
    HKEY server;
    if (RegCreateKeyExA(key, "InprocServer32", 0, NULL, 0, KEY_ALL_ACCESS, NULL, &server, NULL) == 0) {
        RegSetValueExA(server, NULL, 0, REG_SZ, reinterpret_cast<BYTE*>(module), lstrlenA(module) + 1);
        RegSetValueExA(server, "ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE*>("Both"), 5);
        RegCloseKey(server);
    }
    RegCloseKey(key);

    bool uninit = SUCCEEDED(CoInitialize(NULL));
    IFilterMapper2* mapper = NULL;
    HRESULT hr = CoCreateInstance(CLSID_FilterMapper2, NULL, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                                  reinterpret_cast<void**>(&mapper));
    if (SUCCEEDED(hr)) {
        WCHAR name[260], instance[64];
        MultiByteToWideChar(CP_ACP, 0, friendlyName, -1, name, 260);
        InstanceName(slot, instance);
        REGFILTER2 info = {};
        info.dwVersion = 1;
        info.dwMerit = MERIT_DO_NOT_USE;
        info.cPins = 0;
        info.rgPins = NULL;
        CLSID clsid = SimCameraClsid(slot);
        hr = mapper->RegisterFilter(clsid, name, NULL, &CLSID_VideoInputDeviceCategory, instance, &info);
        mapper->Release();
        if (SUCCEEDED(hr) && (flags & SimCameraNoFriendlyName))
            ForgetFriendlyName(instance);
    }
    if (uninit)
        CoUninitialize();
    return hr;
}

__declspec(dllexport) HRESULT SimUnregisterCamera(int slot)
{
    if (slot < 0 || slot >= SimCameraSlots)
        return E_INVALIDARG;
    bool uninit = SUCCEEDED(CoInitialize(NULL));
    IFilterMapper2* mapper = NULL;
    HRESULT hr = CoCreateInstance(CLSID_FilterMapper2, NULL, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                                  reinterpret_cast<void**>(&mapper));
    if (SUCCEEDED(hr)) {
        WCHAR instance[64];
        InstanceName(slot, instance);
        hr = mapper->UnregisterFilter(&CLSID_VideoInputDeviceCategory, instance, SimCameraClsid(slot));
        mapper->Release();
    }
    if (uninit)
        CoUninitialize();
    char path[MAX_PATH];
    ClsidKeyPath(slot, path, sizeof(path));
    RegDeleteTreeA(HKEY_CLASSES_ROOT, path);
    return hr;
}

// Filter objects of this process not yet released: a leak check for tests.
__declspec(dllexport) LONG SimLiveFilters()
{
    return LiveFilters;
}

// Removes every simulated device.
__declspec(dllexport) void SimUnregisterAllCameras()
{
    for (int slot = 0; slot < SimCameraSlots; ++slot)
        SimUnregisterCamera(slot);
}

__declspec(dllexport) HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out)
{
    int slot;
    *out = NULL;
    if (!SlotOf(clsid, &slot))
        return CLASS_E_CLASSNOTAVAILABLE;
    SimFilterFactory* factory = new SimFilterFactory(slot);
    HRESULT hr = factory->QueryInterface(iid, out);
    factory->Release();
    return hr;
}

__declspec(dllexport) HRESULT STDAPICALLTYPE DllCanUnloadNow()
{
    // The shared state stays mapped for the process's lifetime anyway.
    return S_FALSE;
}

// regsvr32 registers slot 0 under the name in LUMO2_SIM_CAMERA_NAME, or the
// name the program looks for when no driver name is configured.
__declspec(dllexport) HRESULT STDAPICALLTYPE DllRegisterServer()
{
    char name[256];
    DWORD length = GetEnvironmentVariableA("LUMO2_SIM_CAMERA_NAME", name, sizeof(name));
    if (length == 0 || length >= sizeof(name))
        strcpy(name, SimCameraName);
    return SimRegisterCamera(0, name, 0);
}

__declspec(dllexport) HRESULT STDAPICALLTYPE DllUnregisterServer()
{
    return SimUnregisterCamera(0);
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*)
{
    if (reason == DLL_PROCESS_ATTACH) {
        ThisModule = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

}
