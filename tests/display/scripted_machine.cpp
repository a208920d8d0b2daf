#include "scripted_machine.h"

#include <cstring>

namespace {

// Callers must copy what they are given: buffers are scribbled after each callback.
constexpr unsigned char kScribble = 0xcc;
constexpr size_t kTextSize = 256;

void CopyText(char (&buffer)[kTextSize], const std::string& text)
{
    std::memset(buffer, 0, sizeof buffer);
    std::strncpy(buffer, text.c_str(), sizeof buffer - 1);
}

}  // namespace

class FakeDirectDraw7 final : public IDirectDraw7 {
public:
    FakeDirectDraw7(ScriptedMachine& machine, int index) : machine_(machine), index_(index) {}

    STDMETHOD(QueryInterface)(REFIID iid, void** object) override;
    STDMETHOD_(ULONG, AddRef)() override;
    STDMETHOD_(ULONG, Release)() override;
    STDMETHOD(Compact)() override { return DDERR_UNSUPPORTED; }
    STDMETHOD(CreateClipper)(DWORD, LPDIRECTDRAWCLIPPER*, IUnknown*) override { return DDERR_UNSUPPORTED; }
    STDMETHOD(CreatePalette)(DWORD, LPPALETTEENTRY, LPDIRECTDRAWPALETTE*, IUnknown*) override { return DDERR_UNSUPPORTED; }
    STDMETHOD(CreateSurface)(LPDDSURFACEDESC2, LPDIRECTDRAWSURFACE7*, IUnknown*) override { return DDERR_UNSUPPORTED; }
    STDMETHOD(DuplicateSurface)(LPDIRECTDRAWSURFACE7, LPDIRECTDRAWSURFACE7*) override { return DDERR_UNSUPPORTED; }
    STDMETHOD(EnumDisplayModes)(DWORD flags, LPDDSURFACEDESC2 templateDesc, LPVOID context,
                                LPDDENUMMODESCALLBACK2 callback) override;
    STDMETHOD(EnumSurfaces)(DWORD, LPDDSURFACEDESC2, LPVOID, LPDDENUMSURFACESCALLBACK7) override { return DDERR_UNSUPPORTED; }
    STDMETHOD(FlipToGDISurface)() override { return DDERR_UNSUPPORTED; }
    STDMETHOD(GetCaps)(LPDDCAPS halCaps, LPDDCAPS helCaps) override;
    STDMETHOD(GetDisplayMode)(LPDDSURFACEDESC2) override { return DDERR_UNSUPPORTED; }
    STDMETHOD(GetFourCCCodes)(LPDWORD, LPDWORD) override { return DDERR_UNSUPPORTED; }
    STDMETHOD(GetGDISurface)(LPDIRECTDRAWSURFACE7*) override { return DDERR_UNSUPPORTED; }
    STDMETHOD(GetMonitorFrequency)(LPDWORD) override { return DDERR_UNSUPPORTED; }
    STDMETHOD(GetScanLine)(LPDWORD) override { return DDERR_UNSUPPORTED; }
    STDMETHOD(GetVerticalBlankStatus)(WINBOOL*) override { return DDERR_UNSUPPORTED; }
    STDMETHOD(Initialize)(GUID*) override { return DDERR_UNSUPPORTED; }
    STDMETHOD(RestoreDisplayMode)() override { return DDERR_UNSUPPORTED; }
    STDMETHOD(SetCooperativeLevel)(HWND, DWORD) override { return DDERR_UNSUPPORTED; }
    STDMETHOD(SetDisplayMode)(DWORD, DWORD, DWORD, DWORD, DWORD) override { return DDERR_UNSUPPORTED; }
    STDMETHOD(WaitForVerticalBlank)(DWORD, HANDLE) override { return DDERR_UNSUPPORTED; }
    STDMETHOD(GetAvailableVidMem)(LPDDSCAPS2, LPDWORD, LPDWORD) override { return DDERR_UNSUPPORTED; }
    STDMETHOD(GetSurfaceFromDC)(HDC, LPDIRECTDRAWSURFACE7*) override { return DDERR_UNSUPPORTED; }
    STDMETHOD(RestoreAllSurfaces)() override { return DDERR_UNSUPPORTED; }
    STDMETHOD(TestCooperativeLevel)() override { return DDERR_UNSUPPORTED; }
    STDMETHOD(GetDeviceIdentifier)(LPDDDEVICEIDENTIFIER2, DWORD) override { return DDERR_UNSUPPORTED; }
    STDMETHOD(StartModeTest)(LPSIZE, DWORD, DWORD) override { return DDERR_UNSUPPORTED; }
    STDMETHOD(EvaluateMode)(DWORD, DWORD*) override { return DDERR_UNSUPPORTED; }

private:
    ScriptedMachine& machine_;
    int index_;
};

class FakeDirect3D7 final : public IDirect3D7 {
public:
    FakeDirect3D7(ScriptedMachine& machine, int index) : machine_(machine), index_(index) {}

    STDMETHOD(QueryInterface)(REFIID, void** object) override
    {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHOD_(ULONG, AddRef)() override;
    STDMETHOD_(ULONG, Release)() override;
    STDMETHOD(EnumDevices)(LPD3DENUMDEVICESCALLBACK7 callback, void* context) override;
    STDMETHOD(CreateDevice)(REFCLSID, IDirectDrawSurface7*, IDirect3DDevice7**) override { return E_NOTIMPL; }
    STDMETHOD(CreateVertexBuffer)(D3DVERTEXBUFFERDESC*, IDirect3DVertexBuffer7**, DWORD) override { return E_NOTIMPL; }
    STDMETHOD(EnumZBufferFormats)(REFCLSID, LPD3DENUMPIXELFORMATSCALLBACK, void*) override { return E_NOTIMPL; }
    STDMETHOD(EvictManagedTextures)() override { return E_NOTIMPL; }

private:
    ScriptedMachine& machine_;
    int index_;
};

struct ScriptedMachine::Driver {
    Driver(ScriptedMachine& machine, int index, ScriptedDriver driverScript)
        : script(std::move(driverScript)), directDraw(machine, index), direct3D(machine, index)
    {
    }
    ScriptedDriver script;
    DriverObservations seen;
    FakeDirectDraw7 directDraw;
    FakeDirect3D7 direct3D;
};

GUID MakeGuid(uint32_t n)
{
    GUID guid = {n, 0x1234, 0x5678, {0x9a, 0xbc, 0xde, 0xf0, 0x11, 0x22, 0x33, static_cast<BYTE>(n)}};
    return guid;
}

DDSURFACEDESC2 MakeMode(DWORD width, DWORD height, DWORD bitsPerPixel, DWORD tag, DWORD caps2)
{
    DDSURFACEDESC2 mode;
    std::memset(&mode, 0, sizeof mode);
    mode.dwSize = sizeof mode;
    mode.dwFlags = DDSD_WIDTH | DDSD_HEIGHT | DDSD_PITCH | DDSD_PIXELFORMAT | DDSD_REFRESHRATE;
    mode.dwWidth = width;
    mode.dwHeight = height;
    mode.lPitch = static_cast<LONG>(width * (bitsPerPixel / 8));
    mode.dwRefreshRate = tag;
    mode.ddpfPixelFormat.dwSize = sizeof(DDPIXELFORMAT);
    mode.ddpfPixelFormat.dwFlags = bitsPerPixel == 8 ? DDPF_PALETTEINDEXED8 | DDPF_RGB : DDPF_RGB;
    mode.ddpfPixelFormat.dwRGBBitCount = bitsPerPixel;
    mode.ddsCaps.dwCaps2 = caps2;
    return mode;
}

ScriptedDevice MakeDevice(const std::string& name, DWORD devCaps, DWORD renderDepths, uint32_t guidNumber)
{
    ScriptedDevice device;
    device.description = "description of " + name;
    device.name = name;
    std::memset(&device.desc, 0, sizeof device.desc);
    device.desc.dwDevCaps = devCaps;
    device.desc.dwDeviceRenderBitDepth = renderDepths;
    device.desc.dwMinTextureWidth = 1;
    device.desc.dwMaxTextureWidth = 2048 + guidNumber;
    device.desc.deviceGUID = MakeGuid(0xd0000000u | guidNumber);
    device.desc.dwReserved4 = 0xfeed0000u | guidNumber;  // the last field: whole copies carry it
    return device;
}

ScriptedDriver PrimaryDriver(const std::string& description)
{
    ScriptedDriver driver;
    driver.description = description;
    return driver;
}

ScriptedDriver SecondaryDriver(const std::string& description, uint32_t guidNumber)
{
    ScriptedDriver driver;
    driver.hasGuid = true;
    driver.guid = MakeGuid(guidNumber);
    driver.description = description;
    driver.driverName = "secondary";
    return driver;
}

ScriptedMachine::ScriptedMachine(std::vector<ScriptedDriver> drivers, size_t traceCapacity)
    : traceCapacity_(traceCapacity)
{
    for (size_t i = 0; i < drivers.size(); ++i)
        drivers_.push_back(std::make_unique<Driver>(*this, static_cast<int>(i), std::move(drivers[i])));
    calls_.reserve(traceCapacity);
}

ScriptedMachine::~ScriptedMachine() = default;

void ScriptedMachine::Record(Call call, int driver)
{
    if (calls_.size() < traceCapacity_)
        calls_.push_back({call, driver});
}

const ScriptedDriver& ScriptedMachine::driver(int index) const { return drivers_.at(index)->script; }
const DriverObservations& ScriptedMachine::observed(int index) const { return drivers_.at(index)->seen; }

bool ScriptedMachine::AllReleased() const
{
    for (const auto& driver : drivers_) {
        if (driver->seen.directDrawRefs != 0 || driver->seen.direct3DRefs != 0)
            return false;
    }
    return true;
}

DDCAPS ScriptedMachine::ExpectedHalCaps(int index) const
{
    DDCAPS caps;
    std::memset(&caps, 0, sizeof caps);
    caps.dwSize = sizeof caps;
    caps.dwCaps = 0xa0000000u | index;
    caps.dwCaps2 = driver(index).halCaps2;
    caps.dwVidMemTotal = 0x100000u * (index + 1);
    caps.ddsCaps.dwCaps4 = 0x4400u + index;  // the last field
    return caps;
}

DDCAPS ScriptedMachine::ExpectedHelCaps(int index) const
{
    DDCAPS caps;
    std::memset(&caps, 0, sizeof caps);
    caps.dwSize = sizeof caps;
    caps.dwCaps = 0xe0000000u | index;
    caps.dwCaps2 = driver(index).helCaps2;
    caps.ddsCaps.dwCaps4 = 0x6600u + index;
    return caps;
}

HRESULT ScriptedMachine::EnumerateEx(LPDDENUMCALLBACKEXA callback, void* context, DWORD flags)
{
    ++enumerateCalls_;
    enumerateFlags_ = flags;
    enumerateContext_ = context;
    for (auto& driver : drivers_) {
        char description[kTextSize];
        char driverName[kTextSize];
        CopyText(description, driver->script.description);
        CopyText(driverName, driver->script.driverName);
        GUID* guid = driver->script.hasGuid ? &driver->script.guid : nullptr;
        driver->seen.driverCallbackResult = callback(guid, description, driverName, context, nullptr);
        if (driver->seen.driverCallbackResult == DDENUMRET_CANCEL && !ignoreCancel_)
            break;
    }
    return DD_OK;
}

HRESULT ScriptedMachine::CreateEx(GUID* driverGuid, void** object, REFIID iid, IUnknown* outer)
{
    *object = nullptr;
    for (size_t i = 0; i < drivers_.size(); ++i) {
        Driver& driver = *drivers_[i];
        const bool match = driverGuid == nullptr ? !driver.script.hasGuid
                                                 : driver.script.hasGuid && IsEqualGUID(*driverGuid, driver.script.guid);
        if (!match)
            continue;
        Record(Call::CreateEx, static_cast<int>(i));
        ++driver.seen.createCalls;
        driver.seen.createGuid = driverGuid;
        driver.seen.createAskedDirectDraw7 = IsEqualGUID(iid, IID_IDirectDraw7);
        driver.seen.createOuter = outer;
        if (FAILED(driver.script.createResult))
            return driver.script.createResult;
        if (!driver.seen.createAskedDirectDraw7)
            return DDERR_INVALIDPARAMS;
        driver.directDraw.AddRef();
        *object = static_cast<IDirectDraw7*>(&driver.directDraw);
        return DD_OK;
    }
    return DDERR_INVALIDDIRECTDRAWGUID;
}

HRESULT FakeDirectDraw7::QueryInterface(REFIID iid, void** object)
{
    auto& driver = *machine_.drivers_[index_];
    *object = nullptr;
    if (!IsEqualGUID(iid, IID_IDirect3D7)) {
        machine_.Record(Call::QueryOther, index_);
        return E_NOINTERFACE;
    }
    machine_.Record(Call::QueryDirect3D, index_);
    if (FAILED(driver.script.queryDirect3DResult))
        return driver.script.queryDirect3DResult;
    driver.direct3D.AddRef();
    *object = static_cast<IDirect3D7*>(&driver.direct3D);
    return S_OK;
}

ULONG FakeDirectDraw7::AddRef() { return ++machine_.drivers_[index_]->seen.directDrawRefs; }

ULONG FakeDirectDraw7::Release()
{
    machine_.Record(Call::ReleaseDirectDraw, index_);
    return --machine_.drivers_[index_]->seen.directDrawRefs;
}

HRESULT FakeDirectDraw7::GetCaps(LPDDCAPS halCaps, LPDDCAPS helCaps)
{
    auto& driver = *machine_.drivers_[index_];
    machine_.Record(Call::GetCaps, index_);
    driver.seen.halSizeSeen = halCaps ? halCaps->dwSize : 0;
    driver.seen.helSizeSeen = helCaps ? helCaps->dwSize : 0;
    if (FAILED(driver.script.getCapsResult))
        return driver.script.getCapsResult;
    if (!halCaps || !helCaps || halCaps->dwSize != sizeof(DDCAPS) || helCaps->dwSize != sizeof(DDCAPS))
        return DDERR_INVALIDPARAMS;
    *halCaps = machine_.ExpectedHalCaps(index_);
    *helCaps = machine_.ExpectedHelCaps(index_);
    return DD_OK;
}

HRESULT FakeDirectDraw7::EnumDisplayModes(DWORD flags, LPDDSURFACEDESC2 templateDesc, LPVOID context,
                                          LPDDENUMMODESCALLBACK2 callback)
{
    auto& driver = *machine_.drivers_[index_];
    machine_.Record(Call::EnumDisplayModes, index_);
    driver.seen.enumModesFlags = flags;
    driver.seen.enumModesTemplate = templateDesc;
    driver.seen.modesContext = context;
    if (FAILED(driver.script.enumModesResult))
        return driver.script.enumModesResult;
    for (const DDSURFACEDESC2& mode : driver.script.modes) {
        DDSURFACEDESC2 copy = mode;
        ++driver.seen.modesDelivered;
        const HRESULT result = callback(&copy, context);
        std::memset(&copy, kScribble, sizeof copy);
        if (result == DDENUMRET_CANCEL && !machine_.ignoreCancel_)
            break;
    }
    return DD_OK;
}

ULONG FakeDirect3D7::AddRef() { return ++machine_.drivers_[index_]->seen.direct3DRefs; }

ULONG FakeDirect3D7::Release()
{
    machine_.Record(Call::ReleaseDirect3D, index_);
    return --machine_.drivers_[index_]->seen.direct3DRefs;
}

HRESULT FakeDirect3D7::EnumDevices(LPD3DENUMDEVICESCALLBACK7 callback, void* context)
{
    auto& driver = *machine_.drivers_[index_];
    machine_.Record(Call::EnumDevices, index_);
    driver.seen.devicesContext = context;
    if (FAILED(driver.script.enumDevicesResult))
        return driver.script.enumDevicesResult;
    for (const ScriptedDevice& device : driver.script.devices) {
        char description[kTextSize];
        char name[kTextSize];
        CopyText(description, device.description);
        CopyText(name, device.name);
        D3DDEVICEDESC7 desc = device.desc;
        ++driver.seen.devicesDelivered;
        const HRESULT result = callback(description, name, &desc, context);
        std::memset(description, kScribble, sizeof description);
        std::memset(name, kScribble, sizeof name);
        std::memset(&desc, kScribble, sizeof desc);
        if (result == D3DENUMRET_CANCEL && !machine_.ignoreCancel_)
            break;
    }
    return D3D_OK;
}
