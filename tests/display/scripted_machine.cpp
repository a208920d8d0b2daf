#include "scripted_machine.h"

#include <algorithm>
#include <cstring>

namespace {

// Callers must copy what they are given: buffers are scribbled after each callback.
template <class T>
void Scribble(T& buffer) { std::memset(&buffer, 0xcc, sizeof buffer); }

struct Text {
    explicit Text(const char* text) { std::strncpy(chars, text, sizeof chars - 1); }
    ~Text() { Scribble(chars); }
    char chars[256] = {};
};

}  // namespace

#define UNSUPPORTED(method, ...) \
    STDMETHOD(method)(__VA_ARGS__) override { return DDERR_UNSUPPORTED; }

// One driver's DirectDraw and Direct3D objects in one.
struct ScriptedMachine::Driver final : IDirectDraw7, IDirect3D7 {
    Driver(ScriptedMachine& owner, int number, ScriptedDriver driver)
        : machine(owner), index(number), script(std::move(driver)) {}
    STDMETHOD_(ULONG, AddRef)() override { return ++seen.refs; }
    STDMETHOD_(ULONG, Release)() override { return --seen.refs; }
    STDMETHOD(QueryInterface)(REFIID iid, void** object) override
    {
        *object = nullptr;
        if (!IsEqualGUID(iid, IID_IDirect3D7) || FAILED(script.queryDirect3DResult))
            return IsEqualGUID(iid, IID_IDirect3D7) ? script.queryDirect3DResult : E_NOINTERFACE;
        *object = static_cast<IDirect3D7*>(this);
        return AddRef(), S_OK;
    }
    STDMETHOD(GetCaps)(LPDDCAPS hal, LPDDCAPS hel) override
    {
        if (!hal || !hel || hal->dwSize != sizeof(DDCAPS) || hel->dwSize != sizeof(DDCAPS))
            return DDERR_INVALIDPARAMS;
        *hal = machine.ExpectedCaps(index, true);
        *hel = machine.ExpectedCaps(index, false);
        return DD_OK;
    }
    STDMETHOD(EnumDisplayModes)(DWORD flags, LPDDSURFACEDESC2 templateDesc, LPVOID context,
                                LPDDENUMMODESCALLBACK2 callback) override
    {
        seen.modesContext = context;
        if (flags != 0 || templateDesc != nullptr)
            return DDERR_INVALIDPARAMS;
        for (const DDSURFACEDESC2& mode : script.modes) {
            DDSURFACEDESC2 copy = mode;
            const HRESULT result = callback(&copy, context);
            Scribble(copy);
            if (result == DDENUMRET_CANCEL && !machine.ignoreCancel)
                break;
        }
        return DD_OK;
    }
    STDMETHOD(EnumDevices)(LPD3DENUMDEVICESCALLBACK7 callback, void* context) override
    {
        if (context == nullptr || context != seen.modesContext)  // the driver context of the mode walk
            return DDERR_INVALIDPARAMS;
        for (const ScriptedDevice& device : script.devices) {
            Text description("Direct3D device description"), name(device.name.c_str());
            D3DDEVICEDESC7 desc = device.desc;
            ++seen.devicesDelivered;
            const HRESULT result = callback(description.chars, name.chars, &desc, context);
            Scribble(desc);
            if (result == D3DENUMRET_CANCEL && !machine.ignoreCancel)
                break;
        }
        return D3D_OK;
    }
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
    UNSUPPORTED(CreateDevice, REFCLSID, IDirectDrawSurface7*, IDirect3DDevice7**)
    UNSUPPORTED(CreateVertexBuffer, D3DVERTEXBUFFERDESC*, IDirect3DVertexBuffer7**, DWORD)
    UNSUPPORTED(EnumZBufferFormats, REFCLSID, LPD3DENUMPIXELFORMATSCALLBACK, void*) UNSUPPORTED(EvictManagedTextures)

    ScriptedMachine& machine;
    int index;
    ScriptedDriver script;
    DriverObservations seen;
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
    mode.dwWidth = width, mode.dwHeight = height, mode.dwRefreshRate = tag;
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

ScriptedDriver PrimaryDriver(const std::string& description) { return {false, {}, description}; }
ScriptedDriver SecondaryDriver(const std::string& description, uint32_t n) { return {true, MakeGuid(n), description}; }

ScriptedMachine::ScriptedMachine(std::vector<ScriptedDriver> drivers)
{
    for (ScriptedDriver& driver : drivers)
        drivers_.push_back(std::make_unique<Driver>(*this, static_cast<int>(drivers_.size()), std::move(driver)));
}
ScriptedMachine::~ScriptedMachine() = default;

const ScriptedDriver& ScriptedMachine::driver(int index) const { return drivers_.at(index)->script; }
const DriverObservations& ScriptedMachine::observed(int index) const { return drivers_.at(index)->seen; }

bool ScriptedMachine::AllReleased() const
{
    return std::all_of(drivers_.begin(), drivers_.end(), [](const auto& d) { return d->seen.refs == 0; });
}

DDCAPS ScriptedMachine::ExpectedCaps(int index, bool hal) const
{
    DDCAPS caps;
    std::memset(&caps, 0, sizeof caps);
    caps.dwSize = sizeof caps;
    caps.dwCaps = (hal ? 0xa0000000u : 0xe0000000u) | index;
    caps.dwCaps2 = hal ? driver(index).halCaps2 : 0;
    caps.ddsCaps.dwCaps4 = (hal ? 0x4400u : 0x6600u) + index;  // the last field
    return caps;
}

HRESULT ScriptedMachine::EnumerateEx(LPDDENUMCALLBACKEXA callback, void* context, DWORD flags)
{
    ++enumerateCalls_;
    if (flags != 7 || context != nullptr)
        return DDERR_INVALIDPARAMS;
    for (auto& driver : drivers_) {
        Text description(driver->script.description.c_str()), driverName("display");
        GUID* guid = driver->script.hasGuid ? &driver->script.guid : nullptr;
        driver->seen.driverCallbackResult = callback(guid, description.chars, driverName.chars, context, nullptr);
        if (driver->seen.driverCallbackResult == DDENUMRET_CANCEL && !ignoreCancel)
            break;
    }
    return DD_OK;
}

HRESULT ScriptedMachine::CreateEx(GUID* driverGuid, void** object, REFIID iid, IUnknown* outer)
{
    *object = nullptr;
    for (auto& d : drivers_) {
        // Matched by value; the primary driver only by a null GUID.
        if (driverGuid == nullptr ? d->script.hasGuid : !d->script.hasGuid || !IsEqualGUID(*driverGuid, d->script.guid))
            continue;
        ++d->seen.createCalls;
        if (FAILED(d->script.createResult) || !IsEqualGUID(iid, IID_IDirectDraw7) || outer != nullptr)
            return FAILED(d->script.createResult) ? d->script.createResult : DDERR_INVALIDPARAMS;
        *object = static_cast<IDirectDraw7*>(d.get());
        return d->AddRef(), DD_OK;
    }
    return DDERR_INVALIDDIRECTDRAWGUID;
}
