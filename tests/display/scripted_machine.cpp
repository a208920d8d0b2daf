#include "scripted_machine.h"

#include <cstdio>
#include <cstring>

namespace {

// Callers must copy what they are given: buffers are scribbled after each callback.
constexpr unsigned char kScribble = 0xcc;

struct Text {
    explicit Text(const char* text) { std::strncpy(chars, text, sizeof chars - 1); }
    ~Text() { std::memset(chars, kScribble, sizeof chars); }
    char chars[256] = {};
};

uintptr_t Address(const void* pointer) { return reinterpret_cast<uintptr_t>(pointer); }

}  // namespace

#define UNSUPPORTED(method, ...) \
    STDMETHOD(method)(__VA_ARGS__) override { return DDERR_UNSUPPORTED; }

class FakeDirectDraw7 final : public IDirectDraw7 {
public:
    explicit FakeDirectDraw7(ScriptedMachine::Driver& driver) : d_(driver) {}
    STDMETHOD(QueryInterface)(REFIID iid, void** object) override;
    STDMETHOD_(ULONG, AddRef)() override;
    STDMETHOD_(ULONG, Release)() override;
    STDMETHOD(EnumDisplayModes)(DWORD flags, LPDDSURFACEDESC2 templateDesc, LPVOID context,
                                LPDDENUMMODESCALLBACK2 callback) override;
    STDMETHOD(GetCaps)(LPDDCAPS halCaps, LPDDCAPS helCaps) override;
    UNSUPPORTED(Compact) UNSUPPORTED(CreateClipper, DWORD, LPDIRECTDRAWCLIPPER*, IUnknown*)
    UNSUPPORTED(CreatePalette, DWORD, LPPALETTEENTRY, LPDIRECTDRAWPALETTE*, IUnknown*)
    UNSUPPORTED(CreateSurface, LPDDSURFACEDESC2, LPDIRECTDRAWSURFACE7*, IUnknown*)
    UNSUPPORTED(DuplicateSurface, LPDIRECTDRAWSURFACE7, LPDIRECTDRAWSURFACE7*)
    UNSUPPORTED(EnumSurfaces, DWORD, LPDDSURFACEDESC2, LPVOID, LPDDENUMSURFACESCALLBACK7)
    UNSUPPORTED(FlipToGDISurface) UNSUPPORTED(GetDisplayMode, LPDDSURFACEDESC2)
    UNSUPPORTED(GetFourCCCodes, LPDWORD, LPDWORD) UNSUPPORTED(GetGDISurface, LPDIRECTDRAWSURFACE7*)
    UNSUPPORTED(GetMonitorFrequency, LPDWORD) UNSUPPORTED(GetScanLine, LPDWORD)
    UNSUPPORTED(GetVerticalBlankStatus, WINBOOL*) UNSUPPORTED(Initialize, GUID*) UNSUPPORTED(RestoreDisplayMode)
    UNSUPPORTED(SetCooperativeLevel, HWND, DWORD) UNSUPPORTED(SetDisplayMode, DWORD, DWORD, DWORD, DWORD, DWORD)
    UNSUPPORTED(WaitForVerticalBlank, DWORD, HANDLE) UNSUPPORTED(GetAvailableVidMem, LPDDSCAPS2, LPDWORD, LPDWORD)
    UNSUPPORTED(GetSurfaceFromDC, HDC, LPDIRECTDRAWSURFACE7*) UNSUPPORTED(RestoreAllSurfaces)
    UNSUPPORTED(TestCooperativeLevel) UNSUPPORTED(GetDeviceIdentifier, LPDDDEVICEIDENTIFIER2, DWORD)
    UNSUPPORTED(StartModeTest, LPSIZE, DWORD, DWORD) UNSUPPORTED(EvaluateMode, DWORD, DWORD*)

private:
    ScriptedMachine::Driver& d_;
};

class FakeDirect3D7 final : public IDirect3D7 {
public:
    explicit FakeDirect3D7(ScriptedMachine::Driver& driver) : d_(driver) {}
    STDMETHOD(QueryInterface)(REFIID, void** object) override { return *object = nullptr, E_NOINTERFACE; }
    STDMETHOD_(ULONG, AddRef)() override;
    STDMETHOD_(ULONG, Release)() override;
    STDMETHOD(EnumDevices)(LPD3DENUMDEVICESCALLBACK7 callback, void* context) override;
    UNSUPPORTED(CreateDevice, REFCLSID, IDirectDrawSurface7*, IDirect3DDevice7**)
    UNSUPPORTED(CreateVertexBuffer, D3DVERTEXBUFFERDESC*, IDirect3DVertexBuffer7**, DWORD)
    UNSUPPORTED(EnumZBufferFormats, REFCLSID, LPD3DENUMPIXELFORMATSCALLBACK, void*) UNSUPPORTED(EvictManagedTextures)

private:
    ScriptedMachine::Driver& d_;
};

struct ScriptedMachine::Driver {
    Driver(ScriptedMachine& owner, int number, ScriptedDriver driverScript)
        : machine(owner), index(number), script(std::move(driverScript)), directDraw(*this), direct3D(*this) {}
    ScriptedMachine& machine;
    int index;
    ScriptedDriver script;
    DriverObservations seen;
    FakeDirectDraw7 directDraw;
    FakeDirect3D7 direct3D;
};

GUID MakeGuid(uint32_t n)
{
    return {n, 0x1234, 0x5678, {0x9a, 0xbc, 0xde, 0xf0, 0x11, 0x22, 0x33, static_cast<BYTE>(n)}};
}

DDSURFACEDESC2 MakeMode(DWORD width, DWORD height, DWORD bitsPerPixel, DWORD tag, DWORD caps2)
{
    DDSURFACEDESC2 mode;
    std::memset(&mode, 0, sizeof mode);
    mode.dwSize = sizeof mode;
    mode.dwWidth = width;
    mode.dwHeight = height;
    mode.dwRefreshRate = tag;
    mode.ddpfPixelFormat.dwSize = sizeof(DDPIXELFORMAT);
    mode.ddpfPixelFormat.dwRGBBitCount = bitsPerPixel;
    mode.ddsCaps.dwCaps2 = caps2;
    return mode;
}

ScriptedDevice MakeDevice(const std::string& name, DWORD devCaps, DWORD renderDepths, uint32_t guidNumber)
{
    ScriptedDevice device{name, {}};
    std::memset(&device.desc, 0, sizeof device.desc);
    device.desc.dwDevCaps = devCaps;
    device.desc.dwDeviceRenderBitDepth = renderDepths;
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
    ScriptedDriver driver = PrimaryDriver(description);
    driver.hasGuid = true;
    driver.guid = MakeGuid(guidNumber);
    return driver;
}

ScriptedMachine::ScriptedMachine(std::vector<ScriptedDriver> drivers)
{
    for (size_t i = 0; i < drivers.size(); ++i)
        drivers_.push_back(std::make_unique<Driver>(*this, static_cast<int>(i), std::move(drivers[i])));
}

ScriptedMachine::~ScriptedMachine() = default;

void ScriptedMachine::Check(bool ok, const char* what, int driver, unsigned long long value)
{
    if (ok)
        return;
    const size_t used = std::strlen(misuse_);
    std::snprintf(misuse_ + used, sizeof misuse_ - used, "driver %d: %s 0x%llx; ", driver, what, value);
}

const ScriptedDriver& ScriptedMachine::driver(int index) const { return drivers_.at(index)->script; }
const DriverObservations& ScriptedMachine::observed(int index) const { return drivers_.at(index)->seen; }

bool ScriptedMachine::AllReleased() const
{
    for (const auto& driver : drivers_)
        if (driver->seen.directDrawRefs != 0 || driver->seen.direct3DRefs != 0)
            return false;
    return true;
}

DDCAPS ScriptedMachine::ExpectedCaps(int index, bool hal) const
{
    DDCAPS caps;
    std::memset(&caps, 0, sizeof caps);
    caps.dwSize = sizeof caps;
    caps.dwCaps = (hal ? 0xa0000000u : 0xe0000000u) | index;
    caps.dwCaps2 = hal ? driver(index).halCaps2 : 0;
    caps.dwVidMemTotal = 0x100000u * (index + 1);
    caps.ddsCaps.dwCaps4 = (hal ? 0x4400u : 0x6600u) + index;  // the last field
    return caps;
}

HRESULT ScriptedMachine::EnumerateEx(LPDDENUMCALLBACKEXA callback, void* context, DWORD flags)
{
    ++enumerateCalls_;
    Check(flags == 7, "DirectDrawEnumerateExA flags", -1, flags);
    Check(context == nullptr, "DirectDrawEnumerateExA context", -1, Address(context));
    for (auto& driver : drivers_) {
        Text description(driver->script.description.c_str()), driverName("display");
        GUID* guid = driver->script.hasGuid ? &driver->script.guid : nullptr;
        driver->seen.driverCallbackResult = callback(guid, description.chars, driverName.chars, context, nullptr);
        if (driver->seen.driverCallbackResult == DDENUMRET_CANCEL && !ignoreCancel_)
            break;
    }
    return DD_OK;
}

HRESULT ScriptedMachine::CreateEx(GUID* driverGuid, void** object, REFIID iid, IUnknown* outer)
{
    *object = nullptr;
    for (auto& driver : drivers_) {
        // Matched by value; the primary driver only by a null GUID.
        if (driverGuid == nullptr ? driver->script.hasGuid
                                  : !driver->script.hasGuid || !IsEqualGUID(*driverGuid, driver->script.guid))
            continue;
        ++driver->seen.createCalls;
        if (FAILED(driver->script.createResult))
            return driver->script.createResult;
        Check(IsEqualGUID(iid, IID_IDirectDraw7), "DirectDrawCreateEx iid", driver->index, iid.Data1);
        Check(outer == nullptr, "DirectDrawCreateEx outer", driver->index, Address(outer));
        if (!IsEqualGUID(iid, IID_IDirectDraw7) || outer != nullptr)
            return DDERR_INVALIDPARAMS;
        driver->directDraw.AddRef();
        *object = static_cast<IDirectDraw7*>(&driver->directDraw);
        return DD_OK;
    }
    return DDERR_INVALIDDIRECTDRAWGUID;
}

HRESULT FakeDirectDraw7::QueryInterface(REFIID iid, void** object)
{
    *object = nullptr;
    d_.machine.Check(IsEqualGUID(iid, IID_IDirect3D7), "QueryInterface iid", d_.index, iid.Data1);
    if (!IsEqualGUID(iid, IID_IDirect3D7))
        return E_NOINTERFACE;
    if (FAILED(d_.script.queryDirect3DResult))
        return d_.script.queryDirect3DResult;
    d_.direct3D.AddRef();
    *object = static_cast<IDirect3D7*>(&d_.direct3D);
    return S_OK;
}

ULONG FakeDirectDraw7::AddRef() { return ++d_.seen.directDrawRefs; }
ULONG FakeDirectDraw7::Release() { return --d_.seen.directDrawRefs; }
ULONG FakeDirect3D7::AddRef() { return ++d_.seen.direct3DRefs; }
ULONG FakeDirect3D7::Release() { return --d_.seen.direct3DRefs; }

HRESULT FakeDirectDraw7::GetCaps(LPDDCAPS halCaps, LPDDCAPS helCaps)
{
    for (LPDDCAPS caps : {halCaps, helCaps}) {
        d_.machine.Check(caps && caps->dwSize == sizeof(DDCAPS), "GetCaps dwSize", d_.index, caps ? caps->dwSize : 0);
        if (!caps || caps->dwSize != sizeof(DDCAPS))
            return DDERR_INVALIDPARAMS;
    }
    *halCaps = d_.machine.ExpectedCaps(d_.index, true);
    *helCaps = d_.machine.ExpectedCaps(d_.index, false);
    return DD_OK;
}

HRESULT FakeDirectDraw7::EnumDisplayModes(DWORD flags, LPDDSURFACEDESC2 templateDesc, LPVOID context,
                                          LPDDENUMMODESCALLBACK2 callback)
{
    d_.machine.Check(flags == 0, "EnumDisplayModes flags", d_.index, flags);
    d_.machine.Check(templateDesc == nullptr, "EnumDisplayModes template", d_.index, Address(templateDesc));
    d_.seen.modesContext = context;
    for (const DDSURFACEDESC2& mode : d_.script.modes) {
        DDSURFACEDESC2 copy = mode;
        const HRESULT result = callback(&copy, context);
        std::memset(&copy, kScribble, sizeof copy);
        if (result == DDENUMRET_CANCEL && !d_.machine.ignoreCancel_)
            break;
    }
    return DD_OK;
}

HRESULT FakeDirect3D7::EnumDevices(LPD3DENUMDEVICESCALLBACK7 callback, void* context)
{
    // The driver context of the mode walk comes back here.
    d_.machine.Check(context && context == d_.seen.modesContext, "EnumDevices context", d_.index, Address(context));
    for (const ScriptedDevice& device : d_.script.devices) {
        Text description("Direct3D device description"), name(device.name.c_str());
        D3DDEVICEDESC7 desc = device.desc;
        ++d_.seen.devicesDelivered;
        const HRESULT result = callback(description.chars, name.chars, &desc, context);
        std::memset(&desc, kScribble, sizeof desc);
        if (result == D3DENUMRET_CANCEL && !d_.machine.ignoreCancel_)
            break;
    }
    return D3D_OK;
}
