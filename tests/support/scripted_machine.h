// DirectDraw drivers behind the real interfaces: they refuse arguments the enumeration must not pass, hand null for
// those it must not read, scribble over callback data once it returns, allocate nothing, and fail everything else.
#pragma once

#include "display/direct_draw_entry.h"

#include <d3d.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

struct ScriptedDevice {
    std::string name;
    D3DDEVICEDESC7 desc;
};

// One driver: GUID number 0 is the primary display driver's null GUID.
struct DriverScript {
    std::string description;
    uint32_t guidNumber = 0;
    std::vector<DDSURFACEDESC2> modes {};
    std::vector<ScriptedDevice> devices {};
    DWORD halCaps2 = 0;
    bool opens = true;        // DirectDrawCreateEx succeeds
    bool hasDirect3D = true;  // QueryInterface(IID_IDirect3D7) succeeds
};

inline GUID MakeGuid(uint32_t n)
{
    return {n, 0x1234, 0x5678, {0x9a, 0xbc, 0xde, 0xf0, 0x11, 0x22, 0x33, static_cast<BYTE>(n)}};
}

// What GetCaps writes: the hardware and emulation records differ, and so do the drivers.
inline DDCAPS MakeCaps(const DriverScript& driver, bool hardware)
{
    DDCAPS caps {};
    caps.dwSize = sizeof caps;
    caps.dwCaps = (hardware ? 0xa0000000u : 0xe0000000u) | driver.guidNumber;
    caps.dwCaps2 = hardware ? driver.halCaps2 : 0;
    return caps;
}

// `tag` goes into dwRefreshRate, so that copies can be told apart.
inline DDSURFACEDESC2 MakeMode(DWORD width, DWORD height, DWORD bitsPerPixel, DWORD tag = 0, DWORD caps2 = 0)
{
    DDSURFACEDESC2 mode {};
    mode.dwWidth = width;
    mode.dwHeight = height;
    mode.dwRefreshRate = tag;
    mode.ddpfPixelFormat.dwRGBBitCount = bitsPerPixel;
    mode.ddsCaps.dwCaps2 = caps2;
    return mode;
}

// Its device GUID is MakeGuid(0xd0000000 | guidNumber).
inline ScriptedDevice MakeDevice(const std::string& name, DWORD devCaps, DWORD renderDepths, uint32_t guidNumber)
{
    ScriptedDevice device {name, {}};
    device.desc.dwDevCaps = devCaps;
    device.desc.dwDeviceRenderBitDepth = renderDepths;
    device.desc.deviceGUID = MakeGuid(0xd0000000u | guidNumber);
    return device;
}

// A text handed to a callback, scribbled over once it returns.
struct CallbackText {
    explicit CallbackText(const char* text) { std::strncpy(chars, text, sizeof chars - 1); }
    ~CallbackText() { std::memset(chars, 0xcc, sizeof chars); }
    char chars[256] = {};
};

// A driver's DirectDraw object and, inside it, its Direct3D object.
struct ScriptedDriver final : IDirectDraw7 {
    struct Direct3D final : IDirect3D7 {
        STDMETHOD_(ULONG, AddRef)() override { return ++refs; }
        STDMETHOD_(ULONG, Release)() override { return --refs; }
        STDMETHOD(QueryInterface)(REFIID, void**) override { return E_NOINTERFACE; }
        STDMETHOD(EnumDevices)(LPD3DENUMDEVICESCALLBACK7 callback, void* context) override
        {
            for (const ScriptedDevice& device : *devices) {
                CallbackText name(device.name.c_str());
                D3DDEVICEDESC7 desc = device.desc;
                const HRESULT result = callback(nullptr, name.chars, &desc, context);
                std::memset(&desc, 0xcc, sizeof desc);
                if (result == D3DENUMRET_CANCEL)
                    break;
            }
            return D3D_OK;
        }
        STDMETHOD(CreateDevice)(REFCLSID, IDirectDrawSurface7*, IDirect3DDevice7**) override { return E_FAIL; }
        STDMETHOD(EvictManagedTextures)() override { return E_FAIL; }
        STDMETHOD(CreateVertexBuffer)(D3DVERTEXBUFFERDESC*, IDirect3DVertexBuffer7**, DWORD) override { return E_FAIL; }
        STDMETHOD(EnumZBufferFormats)(REFCLSID, LPD3DENUMPIXELFORMATSCALLBACK, void*) override { return E_FAIL; }

        const std::vector<ScriptedDevice>* devices;
        LONG refs = 0;
    };

    explicit ScriptedDriver(const DriverScript& driver)
        : script(driver)
    {
        direct3D.devices = &script.devices;
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++refs; }
    STDMETHOD_(ULONG, Release)() override
    {
        if (refs == 1 && direct3D.refs != 0)
            releasedEarly = true;
        return --refs;
    }
    STDMETHOD(QueryInterface)(REFIID iid, void** object) override
    {
        if (iid != IID_IDirect3D7 || !script.hasDirect3D)
            return E_NOINTERFACE;
        direct3D.AddRef();
        *object = static_cast<IDirect3D7*>(&direct3D);
        return S_OK;
    }
    STDMETHOD(GetCaps)(LPDDCAPS hal, LPDDCAPS hel) override
    {
        if (!hal || !hel || hal->dwSize != sizeof(DDCAPS) || hel->dwSize != sizeof(DDCAPS))
            return DDERR_INVALIDPARAMS;
        *hal = MakeCaps(script, true);
        *hel = MakeCaps(script, false);
        return DD_OK;
    }
    // Every mode, but only for flags 0 and no template.
    STDMETHOD(EnumDisplayModes)
    (DWORD flags, LPDDSURFACEDESC2 templ, LPVOID context, LPDDENUMMODESCALLBACK2 callback) override
    {
        for (DDSURFACEDESC2 mode : script.modes) {
            if (flags != 0 || templ != nullptr)
                break;
            const HRESULT result = callback(&mode, context);
            std::memset(&mode, 0xcc, sizeof mode);
            if (result == DDENUMRET_CANCEL)
                break;
        }
        return DD_OK;
    }
    STDMETHOD(Compact)() override { return E_FAIL; }
    STDMETHOD(CreateClipper)(DWORD, LPDIRECTDRAWCLIPPER*, IUnknown*) override { return E_FAIL; }
    STDMETHOD(CreatePalette)(DWORD, LPPALETTEENTRY, LPDIRECTDRAWPALETTE*, IUnknown*) override { return E_FAIL; }
    STDMETHOD(CreateSurface)(LPDDSURFACEDESC2, LPDIRECTDRAWSURFACE7*, IUnknown*) override { return E_FAIL; }
    STDMETHOD(DuplicateSurface)(LPDIRECTDRAWSURFACE7, LPDIRECTDRAWSURFACE7*) override { return E_FAIL; }
    STDMETHOD(EnumSurfaces)(DWORD, LPDDSURFACEDESC2, LPVOID, LPDDENUMSURFACESCALLBACK7) override { return E_FAIL; }
    STDMETHOD(FlipToGDISurface)() override { return E_FAIL; }
    STDMETHOD(GetDisplayMode)(LPDDSURFACEDESC2) override { return E_FAIL; }
    STDMETHOD(GetFourCCCodes)(LPDWORD, LPDWORD) override { return E_FAIL; }
    STDMETHOD(GetGDISurface)(LPDIRECTDRAWSURFACE7*) override { return E_FAIL; }
    STDMETHOD(GetMonitorFrequency)(LPDWORD) override { return E_FAIL; }
    STDMETHOD(GetScanLine)(LPDWORD) override { return E_FAIL; }
    STDMETHOD(GetVerticalBlankStatus)(WINBOOL*) override { return E_FAIL; }
    STDMETHOD(Initialize)(GUID*) override { return E_FAIL; }
    STDMETHOD(RestoreDisplayMode)() override { return E_FAIL; }
    STDMETHOD(SetCooperativeLevel)(HWND, DWORD) override { return E_FAIL; }
    STDMETHOD(SetDisplayMode)(DWORD, DWORD, DWORD, DWORD, DWORD) override { return E_FAIL; }
    STDMETHOD(WaitForVerticalBlank)(DWORD, HANDLE) override { return E_FAIL; }
    STDMETHOD(GetAvailableVidMem)(LPDDSCAPS2, LPDWORD, LPDWORD) override { return E_FAIL; }
    STDMETHOD(GetSurfaceFromDC)(HDC, LPDIRECTDRAWSURFACE7*) override { return E_FAIL; }
    STDMETHOD(RestoreAllSurfaces)() override { return E_FAIL; }
    STDMETHOD(TestCooperativeLevel)() override { return E_FAIL; }
    STDMETHOD(GetDeviceIdentifier)(LPDDDEVICEIDENTIFIER2, DWORD) override { return E_FAIL; }
    STDMETHOD(StartModeTest)(LPSIZE, DWORD, DWORD) override { return E_FAIL; }
    STDMETHOD(EvaluateMode)(DWORD, DWORD*) override { return E_FAIL; }

    const DriverScript script;
    GUID guid = MakeGuid(script.guidNumber);
    bool releasedEarly = false;  // DirectDraw released while its Direct3D was still held
    LONG refs = 0;
    Direct3D direct3D;
};

// The drivers as the two DirectDraw entry functions offer them.
struct ScriptedMachine final : DirectDrawEntry {
    explicit ScriptedMachine(const std::vector<DriverScript>& scripts)
    {
        for (const DriverScript& script : scripts)
            drivers.push_back(std::make_unique<ScriptedDriver>(script));
    }
    // Every driver, but only for the flags that ask for all kinds and a null context.
    HRESULT EnumerateEx(LPDDENUMCALLBACKEXA callback, void* context, DWORD flags) override
    {
        for (auto& driver : drivers) {
            if (flags != 7 || context != nullptr)
                break;
            CallbackText description(driver->script.description.c_str());
            GUID* guid = driver->script.guidNumber != 0 ? &driver->guid : nullptr;
            if (!callback(guid, description.chars, nullptr, context, nullptr))
                break;
        }
        return DD_OK;
    }
    // Drivers are found by the GUID's value; the primary driver only by a null GUID.
    HRESULT CreateEx(GUID* driverGuid, void** object, REFIID iid, IUnknown* outer) override
    {
        for (auto& driver : drivers) {
            const bool primary = driver->script.guidNumber == 0;
            if (driverGuid == nullptr ? !primary : primary || *driverGuid != driver->guid)
                continue;
            if (!driver->script.opens || iid != IID_IDirectDraw7 || outer != nullptr)
                return DDERR_NODIRECTDRAWHW;
            driver->AddRef();
            *object = static_cast<IDirectDraw7*>(driver.get());
            return DD_OK;
        }
        return DDERR_INVALIDDIRECTDRAWGUID;
    }
    // Every interface handed out was released, Direct3D before DirectDraw.
    bool AllReleased() const
    {
        return std::all_of(drivers.begin(), drivers.end(), [](const auto& driver) {
            return driver->refs == 0 && driver->direct3D.refs == 0 && !driver->releasedEarly;
        });
    }
    std::vector<std::unique_ptr<ScriptedDriver>> drivers;
};
