// Scripted DirectDraw drivers behind the real IDirectDraw7 and IDirect3D7
// interfaces. Like the platform, they refuse arguments that differ from the
// documented use. Nothing here allocates while an enumeration runs, so
// allocation counts see only the code under test.
#pragma once

#include "display/direct_draw_entry.h"

#include <d3d.h>
#include <memory>
#include <string>
#include <vector>

struct ScriptedDevice { std::string name; D3DDEVICEDESC7 desc; };

struct ScriptedDriver {
    bool hasGuid = false;  // false: the primary display driver (null GUID)
    GUID guid{};
    std::string description;
    DWORD halCaps2 = 0;
    std::vector<DDSURFACEDESC2> modes{};
    std::vector<ScriptedDevice> devices{};
    HRESULT createResult = DD_OK;        // of DirectDrawCreateEx
    HRESULT queryDirect3DResult = S_OK;  // of QueryInterface(IID_IDirect3D7)
};

GUID MakeGuid(uint32_t n);
// `tag` goes into dwRefreshRate so that copies can be told apart.
DDSURFACEDESC2 MakeMode(DWORD width, DWORD height, DWORD bitsPerPixel, DWORD tag = 0, DWORD caps2 = 0);
// The device GUID is MakeGuid(0xd0000000 | guidNumber).
ScriptedDevice MakeDevice(const std::string& name, DWORD devCaps, DWORD renderDepths, uint32_t guidNumber);
ScriptedDriver PrimaryDriver(const std::string& description);
ScriptedDriver SecondaryDriver(const std::string& description, uint32_t guidNumber);

struct DriverObservations {
    LONG refs = 0;  // of both interfaces together
    int createCalls = 0, devicesDelivered = 0;
    BOOL driverCallbackResult = static_cast<BOOL>(0xdeadbeef);
    void* modesContext = nullptr;
};

class ScriptedMachine final : public DirectDrawEntry {
public:
    explicit ScriptedMachine(std::vector<ScriptedDriver> drivers);
    ~ScriptedMachine();
    HRESULT EnumerateEx(LPDDENUMCALLBACKEXA callback, void* context, DWORD flags) override;
    HRESULT CreateEx(GUID* driverGuid, void** object, REFIID iid, IUnknown* outer) override;

    bool ignoreCancel = false;  // real DirectDraw stops at a cancel; a careless platform might not
    const ScriptedDriver& driver(int index) const;
    const DriverObservations& observed(int index) const;
    DDCAPS ExpectedCaps(int index, bool hal) const;  // what GetCaps writes, byte for byte
    int enumerateCalls() const { return enumerateCalls_; }
    bool AllReleased() const;                       // every interface handed out was released exactly
    struct Driver;

private:
    std::vector<std::unique_ptr<Driver>> drivers_;
    int enumerateCalls_ = 0;
};
