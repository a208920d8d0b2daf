// A scripted DirectDraw machine: fake drivers implementing the real IDirectDraw7
// and IDirect3D7 interfaces, reporting chosen GUIDs, descriptions, caps, modes
// and devices, failing chosen calls, and recording what they were asked.
// Nothing here allocates while an enumeration runs, so allocation counts in
// the tests see only the code under test.
#pragma once

#include "display/direct_draw_entry.h"

#include <windows.h>
#include <ddraw.h>
#include <d3d.h>

#include <memory>
#include <string>
#include <vector>

struct ScriptedDevice {
    std::string description;
    std::string name;
    D3DDEVICEDESC7 desc;
};

struct ScriptedDriver {
    bool hasGuid = false;  // false: the primary display driver (null GUID)
    GUID guid{};
    std::string description;
    std::string driverName = "display";
    DWORD halCaps2 = 0;
    DWORD helCaps2 = 0;
    std::vector<DDSURFACEDESC2> modes;
    std::vector<ScriptedDevice> devices;
    // Failure switches.
    HRESULT createResult = DD_OK;
    HRESULT queryDirect3DResult = S_OK;
    HRESULT getCapsResult = DD_OK;
    HRESULT enumModesResult = DD_OK;
    HRESULT enumDevicesResult = DD_OK;
};

GUID MakeGuid(uint32_t n);
// A mode; `tag` goes into dwRefreshRate so copies can be told apart.
DDSURFACEDESC2 MakeMode(DWORD width, DWORD height, DWORD bitsPerPixel, DWORD tag = 0, DWORD caps2 = 0);
ScriptedDevice MakeDevice(const std::string& name, DWORD devCaps, DWORD renderDepths, uint32_t guidNumber);
ScriptedDriver PrimaryDriver(const std::string& description);
ScriptedDriver SecondaryDriver(const std::string& description, uint32_t guidNumber);

enum class Call {
    CreateEx,
    QueryDirect3D,
    QueryOther,
    GetCaps,
    EnumDisplayModes,
    EnumDevices,
    ReleaseDirectDraw,
    ReleaseDirect3D,
};

struct CallRecord {
    Call call;
    int driver;
    bool operator==(const CallRecord& other) const { return call == other.call && driver == other.driver; }
};

// What one driver was asked, and what it holds.
struct DriverObservations {
    LONG directDrawRefs = 0;
    LONG direct3DRefs = 0;
    int createCalls = 0;
    GUID* createGuid = reinterpret_cast<GUID*>(0xdeadbeef);
    bool createAskedDirectDraw7 = false;
    IUnknown* createOuter = reinterpret_cast<IUnknown*>(0xdeadbeef);
    DWORD halSizeSeen = 0xdeadbeef;
    DWORD helSizeSeen = 0xdeadbeef;
    DWORD enumModesFlags = 0xdeadbeef;
    void* enumModesTemplate = reinterpret_cast<void*>(0xdeadbeef);
    void* modesContext = reinterpret_cast<void*>(0xdeadbeef);
    void* devicesContext = reinterpret_cast<void*>(0xdeadbeef);
    int modesDelivered = 0;
    int devicesDelivered = 0;
    BOOL driverCallbackResult = static_cast<BOOL>(0xdeadbeef);
};

class ScriptedMachine final : public DirectDrawEntry {
public:
    // `traceCapacity` calls are recorded; 0 records none (for benchmarks).
    explicit ScriptedMachine(std::vector<ScriptedDriver> drivers, size_t traceCapacity = 4096);
    ~ScriptedMachine();
    ScriptedMachine(const ScriptedMachine&) = delete;
    ScriptedMachine& operator=(const ScriptedMachine&) = delete;

    HRESULT EnumerateEx(LPDDENUMCALLBACKEXA callback, void* context, DWORD flags) override;
    HRESULT CreateEx(GUID* driverGuid, void** object, REFIID iid, IUnknown* outer) override;

    // Real DirectDraw stops at a cancel; a careless platform might not.
    void SetIgnoreCancel(bool ignore) { ignoreCancel_ = ignore; }

    const ScriptedDriver& driver(int index) const;
    const DriverObservations& observed(int index) const;
    // The caps GetCaps writes for a driver, byte for byte.
    DDCAPS ExpectedHalCaps(int index) const;
    DDCAPS ExpectedHelCaps(int index) const;
    const std::vector<CallRecord>& calls() const { return calls_; }
    int enumerateCalls() const { return enumerateCalls_; }
    DWORD enumerateFlags() const { return enumerateFlags_; }
    void* enumerateContext() const { return enumerateContext_; }
    // True when every interface handed out was released exactly.
    bool AllReleased() const;

    struct Driver;  // one fake driver and its two interfaces

private:
    friend class FakeDirectDraw7;
    friend class FakeDirect3D7;
    void Record(Call call, int driver);

    std::vector<std::unique_ptr<Driver>> drivers_;
    std::vector<CallRecord> calls_;
    size_t traceCapacity_;
    bool ignoreCancel_ = false;
    int enumerateCalls_ = 0;
    DWORD enumerateFlags_ = 0xdeadbeef;
    void* enumerateContext_ = reinterpret_cast<void*>(0xdeadbeef);
};
