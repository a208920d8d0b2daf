// Shared by the Windows tests: scripted DirectDraw drivers, the settings key in the test prefix's
// registry or in memory, hand-filled device tables, and a runner that acts inside a modal dialog.
#pragma once

#include "app/registry.h"
#include "display/direct_draw_entry.h"
#include "display/display_device_table.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

struct ScriptedDevice {
    std::string name;
    D3DDEVICEDESC7 desc;
};
// One DirectDraw driver: GUID number 0 is the primary display driver's null GUID.
struct DriverScript {
    std::string description;
    uint32_t guidNumber = 0;
    std::vector<DDSURFACEDESC2> modes{};
    std::vector<ScriptedDevice> devices{};
    DWORD halCaps2 = 0;
    HRESULT createResult = DD_OK, queryDirect3DResult = S_OK;  // of DirectDrawCreateEx, of IID_IDirect3D7
};
GUID MakeGuid(uint32_t n);
DDCAPS MakeCaps(const DriverScript& driver, bool hal);  // what GetCaps writes
DDSURFACEDESC2 MakeMode(DWORD width, DWORD height, DWORD bitsPerPixel, DWORD refreshRateAsTag = 0, DWORD caps2 = 0);
ScriptedDevice MakeDevice(const std::string& name, DWORD devCaps, DWORD renderDepths, uint32_t guidNumber);

// Drivers behind the real IDirectDraw7 and IDirect3D7 interfaces. They refuse arguments other than
// the program's and scribble over each buffer once its callback returns, so only copies survive.
class ScriptedMachine final : public DirectDrawEntry {
public:
    explicit ScriptedMachine(const std::vector<DriverScript>& scripts);
    ~ScriptedMachine();
    HRESULT EnumerateEx(LPDDENUMCALLBACKEXA callback, void* context, DWORD flags) override;
    HRESULT CreateEx(GUID* driverGuid, void** object, REFIID iid, IUnknown* outer) override;
    int Created(size_t driver) const;  // DirectDraw objects asked for
    bool AllReleased() const;          // every interface handed out, Direct3D before DirectDraw
    struct Driver;

private:
    std::vector<std::unique_ptr<Driver>> drivers_;
};

// A value as "type:bytes in hex", "4:80020000" for the REG_DWORD 640; the settings key by name.
std::string Value(DWORD type, const void* data, size_t size);
inline std::string Dword(int32_t value) { return Value(REG_DWORD, &value, 4); }
using StoredKey = std::map<std::string, std::string>;
StoredKey ReadSettingsKey();  // empty without the key
void DeleteSettingsKey();
void PutSettingsValue(const char* name, DWORD type, const std::string& bytes);

// The settings key in memory, values by name as their bytes: call n (from 1) of a kind fails when its
// fail... member is n.
struct MemoryRegistry final : SettingsRegistry {
    HKEY OpenToRead(const char*) override { return ++opens == failOpen || !keyExists ? nullptr : (++openKeys, kKey); }
    HKEY CreateToWrite(const char*) override { return ++creates == failCreate ? nullptr : (keyExists = true, ++openKeys, kKey); }
    bool Query(HKEY key, const char* name, BYTE* data, DWORD size) override;
    void Set(HKEY, const char* name, DWORD type, const BYTE* data, DWORD size) override;
    void Close(HKEY key) override { openKeys -= key == kKey; }
    const HKEY kKey = reinterpret_cast<HKEY>(0x7e10);
    bool keyExists = false;
    std::map<std::string, std::string> values;
    unsigned failOpen = 0, failCreate = 0, failQuery = 0, failSet = 0, opens = 0, creates = 0, queries = 0, sets = 0;
    int openKeys = 0;
};

// Accepted records filled directly, emptied again on destruction. Record i has the device GUID
// MakeGuid(0x40 + i) and the driver GUID MakeGuid(0x60 + i), but record 0 a zero one.
struct DeviceTable {
    DeviceTable() { ResetDisplayDeviceTable(); }
    ~DeviceTable() { ResetDisplayDeviceTable(); }
    void Add(const char* name, bool hardware, std::vector<DDSURFACEDESC2> modes);
    std::vector<std::vector<DDSURFACEDESC2>> modes;
};

// Calls `run`, which shows a modal dialog; `steps` gets the dialog once it takes input and must end
// it. A dialog left open is ended after two seconds.
INT_PTR RunDialog(const std::function<INT_PTR()>& run, const std::function<void()>& steps);
// A key pressed on a control, which then has the focus; Enter and Escape are posted.
void Key(HWND control, WPARAM key, bool post = false);
inline void EndWith(WPARAM key) { Key(GetFocus(), key, true); }
// Drags the trackbar's thumb to `position` of its 0 to 2 range and lets go.
void DragThumb(HWND trackbar, int position);
