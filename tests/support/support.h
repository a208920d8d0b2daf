// Shared by the Windows tests: scripted DirectDraw drivers, the settings key of the test prefix's
// registry reached directly, the settings key in memory, hand-filled device tables, a scratch
// directory, and a runner that acts on a modal dialog from inside its loop as a player would.
#pragma once

#include "app/registry.h"
#include "app/settings.h"
#include "display/direct_draw_entry.h"
#include "display/display_device_table.h"

#include <d3d.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

// A DirectDraw driver and its Direct3D object behind the real interfaces. Like the platform it
// refuses arguments other than the program's, and scribbles over each buffer once its callback
// returns, so that only copies survive. It allocates nothing while it enumerates.
struct ScriptedDevice {
    std::string name;
    D3DDEVICEDESC7 desc;
};
struct ScriptedDriver final : IDirectDraw7, IDirect3D7 {
    explicit ScriptedDriver(std::string description, uint32_t guidNumber = 0);  // 0: the primary display driver
    DDCAPS Caps(bool hal) const;  // what GetCaps writes, byte for byte
    GUID guid;
    std::string description;
    DWORD halCaps2 = 0;
    std::vector<DDSURFACEDESC2> modes;
    std::vector<ScriptedDevice> devices;
    HRESULT createResult = DD_OK, queryDirect3DResult = S_OK;  // of DirectDrawCreateEx, of IID_IDirect3D7
    LONG refs = 0;                                             // of both interfaces
    int created = 0;
    bool ignoreCancel = false;  // DirectDraw stops at a cancel; another platform might not
    void* modesContext = nullptr;
#define UNSUPPORTED(method, ...) STDMETHOD(method)(__VA_ARGS__) override { return DDERR_UNSUPPORTED; }
    STDMETHOD_(ULONG, AddRef)() override { return ++refs; }
    STDMETHOD_(ULONG, Release)() override { return --refs; }
    STDMETHOD(QueryInterface)(REFIID iid, void** object) override;
    STDMETHOD(GetCaps)(LPDDCAPS hal, LPDDCAPS hel) override;
    STDMETHOD(EnumDisplayModes)(DWORD flags, LPDDSURFACEDESC2 templ, LPVOID context, LPDDENUMMODESCALLBACK2 callback) override;
    STDMETHOD(EnumDevices)(LPD3DENUMDEVICESCALLBACK7 callback, void* context) override;
    UNSUPPORTED(Compact) UNSUPPORTED(CreateClipper, DWORD, LPDIRECTDRAWCLIPPER*, IUnknown*) UNSUPPORTED(FlipToGDISurface)
    UNSUPPORTED(CreatePalette, DWORD, LPPALETTEENTRY, LPDIRECTDRAWPALETTE*, IUnknown*) UNSUPPORTED(RestoreDisplayMode)
    UNSUPPORTED(CreateSurface, LPDDSURFACEDESC2, LPDIRECTDRAWSURFACE7*, IUnknown*) UNSUPPORTED(GetScanLine, LPDWORD)
    UNSUPPORTED(DuplicateSurface, LPDIRECTDRAWSURFACE7, LPDIRECTDRAWSURFACE7*) UNSUPPORTED(GetDisplayMode, LPDDSURFACEDESC2)
    UNSUPPORTED(EnumSurfaces, DWORD, LPDDSURFACEDESC2, LPVOID, LPDDENUMSURFACESCALLBACK7) UNSUPPORTED(Initialize, GUID*)
    UNSUPPORTED(GetFourCCCodes, LPDWORD, LPDWORD) UNSUPPORTED(GetGDISurface, LPDIRECTDRAWSURFACE7*)
    UNSUPPORTED(GetMonitorFrequency, LPDWORD) UNSUPPORTED(GetVerticalBlankStatus, WINBOOL*) UNSUPPORTED(TestCooperativeLevel)
    UNSUPPORTED(SetCooperativeLevel, HWND, DWORD) UNSUPPORTED(SetDisplayMode, DWORD, DWORD, DWORD, DWORD, DWORD)
    UNSUPPORTED(WaitForVerticalBlank, DWORD, HANDLE) UNSUPPORTED(GetAvailableVidMem, LPDDSCAPS2, LPDWORD, LPDWORD)
    UNSUPPORTED(GetSurfaceFromDC, HDC, LPDIRECTDRAWSURFACE7*) UNSUPPORTED(RestoreAllSurfaces) UNSUPPORTED(EvictManagedTextures)
    UNSUPPORTED(GetDeviceIdentifier, LPDDDEVICEIDENTIFIER2, DWORD) UNSUPPORTED(StartModeTest, LPSIZE, DWORD, DWORD)
    UNSUPPORTED(EvaluateMode, DWORD, DWORD*) UNSUPPORTED(CreateDevice, REFCLSID, IDirectDrawSurface7*, IDirect3DDevice7**)
    UNSUPPORTED(CreateVertexBuffer, D3DVERTEXBUFFERDESC*, IDirect3DVertexBuffer7**, DWORD)
    UNSUPPORTED(EnumZBufferFormats, REFCLSID, LPD3DENUMPIXELFORMATSCALLBACK, void*)
#undef UNSUPPORTED
};
GUID MakeGuid(uint32_t n);
// `tag` goes into dwRefreshRate, so that copies can be told apart.
DDSURFACEDESC2 MakeMode(DWORD width, DWORD height, DWORD bitsPerPixel, DWORD tag = 0, DWORD caps2 = 0);
// Its device GUID is MakeGuid(0xd0000000 | guidNumber).
ScriptedDevice MakeDevice(const std::string& name, DWORD devCaps, DWORD renderDepths, uint32_t guidNumber);

// The machine's drivers in enumeration order, taken over from the test.
struct ScriptedMachine final : DirectDrawEntry {
    explicit ScriptedMachine(std::vector<ScriptedDriver> machineDrivers) : drivers(std::move(machineDrivers)) {}
    HRESULT EnumerateEx(LPDDENUMCALLBACKEXA callback, void* context, DWORD flags) override;
    HRESULT CreateEx(GUID* driverGuid, void** object, REFIID iid, IUnknown* outer) override;
    std::vector<ScriptedDriver> drivers;
    int enumerateCalls = 0;
};

// A value as "type:bytes in hex", "4:80020000" for the REG_DWORD 640; the settings key by name.
std::string Value(DWORD type, const void* data, size_t size);
inline std::string Dword(int32_t value) { return Value(REG_DWORD, &value, 4); }
using StoredKey = std::map<std::string, std::string>;
StoredKey ReadSettingsKey();  // empty without the key
void DeleteSettingsKey();
void PutSettingsValue(const char* name = nullptr, DWORD type = 0, const std::string& hex = "");  // creates the key

// The settings key in memory: call n (from 1) of a kind fails when its fail... member is n.
struct MemoryRegistry final : SettingsRegistry {
    HKEY OpenToRead(const char*) override { return ++opens == failOpen || !keyExists ? nullptr : (++openKeys, kKey); }
    HKEY CreateToWrite(const char*) override { return ++creates == failCreate ? nullptr : (keyExists = true, ++openKeys, kKey); }
    bool Query(HKEY key, const char* name, BYTE* data, DWORD size) override;
    void Set(HKEY, const char* name, DWORD type, const BYTE* data, DWORD size) override
    {
        if (++sets != failSet)
            values[name] = Value(type, data, size);
    }
    void Close(HKEY key) override { openKeys -= key == kKey; }
    const HKEY kKey = reinterpret_cast<HKEY>(0x7e10);
    bool keyExists = false;
    StoredKey values;
    unsigned failOpen = 0, failCreate = 0, failQuery = 0, failSet = 0, opens = 0, creates = 0, queries = 0, sets = 0;
    int openKeys = 0;
};

// Accepted records of the device table filled directly, emptied again on destruction. Record i has
// the device GUID MakeGuid(0x40 + i) and the driver GUID MakeGuid(0x60 + i), but record 0, of the
// primary display driver, a zero one.
struct DeviceTable {
    DeviceTable() { ResetDisplayDeviceTable(); }
    ~DeviceTable() { ResetDisplayDeviceTable(); }
    void Add(const char* name, bool hardware, std::vector<DDSURFACEDESC2> modes);
    std::vector<std::vector<DDSURFACEDESC2>> modes;
};

// The test's working directory while it lives (memory.log lands there); removed afterwards.
struct ScratchDirectory {
    ScratchDirectory();
    ~ScratchDirectory();
    std::filesystem::path previous, path;
};

// Calls `run`, which shows a modal dialog of this thread; `steps` gets the dialog once it shows and
// takes input, and must end it. A dialog left open is ended after two seconds.
INT_PTR RunDialog(const std::function<INT_PTR()>& run, const std::function<void(HWND)>& steps);
// A key pressed on a control, which then has the focus; posted for Enter and Escape.
void Key(HWND control, WPARAM key, bool post = false);
inline void EndWith(WPARAM key) { Key(GetFocus(), key, true); }
// Drags the trackbar's thumb to `position` of its 0 to 2 range and lets go (NM_RELEASEDCAPTURE).
void DragThumb(HWND trackbar, int position);
