// Shared by the Windows tests: scripted DirectDraw drivers, the settings key of the test prefix's
// registry reached directly, an in-memory registry for the failures Wine cannot produce, hand-filled
// device tables, a scratch working directory and a runner for modal dialogs.
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
#include <memory>
#include <string>
#include <vector>

// Scripted DirectDraw drivers behind the real IDirectDraw7 and IDirect3D7 interfaces. Like the
// platform they refuse arguments other than the program's, and they scribble over every buffer once
// its callback returns, so that only copies survive. Nothing here allocates while they enumerate.
struct ScriptedDevice {
    std::string name;
    D3DDEVICEDESC7 desc;
};
struct ScriptedDriver {
    bool hasGuid = false;  // false: the primary display driver (null GUID)
    GUID guid{};
    std::string description;
    DWORD halCaps2 = 0;
    std::vector<DDSURFACEDESC2> modes{};
    std::vector<ScriptedDevice> devices{};
    HRESULT createResult = DD_OK, queryDirect3DResult = S_OK;  // of DirectDrawCreateEx, of IID_IDirect3D7
};
GUID MakeGuid(uint32_t n);
// `tag` goes into dwRefreshRate, so that copies can be told apart.
DDSURFACEDESC2 MakeMode(DWORD width, DWORD height, DWORD bitsPerPixel, DWORD tag = 0, DWORD caps2 = 0);
// Its device GUID is MakeGuid(0xd0000000 | guidNumber).
ScriptedDevice MakeDevice(const std::string& name, DWORD devCaps, DWORD renderDepths, uint32_t guidNumber);
ScriptedDriver PrimaryDriver(const std::string& description);
ScriptedDriver SecondaryDriver(const std::string& description, uint32_t guidNumber);

class ScriptedMachine final : public DirectDrawEntry {
public:
    explicit ScriptedMachine(std::vector<ScriptedDriver> drivers);
    ~ScriptedMachine();
    HRESULT EnumerateEx(LPDDENUMCALLBACKEXA callback, void* context, DWORD flags) override;
    HRESULT CreateEx(GUID* driverGuid, void** object, REFIID iid, IUnknown* outer) override;
    DDCAPS ExpectedCaps(int driver, bool hal) const;  // what GetCaps writes, byte for byte
    bool AllReleased() const;                         // every interface handed out was released
    int Created(int driver) const;                    // DirectDraw objects asked for
    bool ignoreCancel = false;                        // DirectDraw stops at a cancel; another might not
    int enumerateCalls = 0;
    struct Driver;

private:
    std::vector<std::unique_ptr<Driver>> drivers_;
};

// A value as "type:bytes in hex", "4:80020000" for the REG_DWORD 640; the settings key by value name.
std::string Value(DWORD type, const void* data, size_t size);
inline std::string Dword(int32_t value) { return Value(REG_DWORD, &value, 4); }
using StoredKey = std::map<std::string, std::string>;
StoredKey ReadSettingsKey();  // empty without the key
void DeleteSettingsKey();
void PutSettingsValue(const char* name = nullptr, DWORD type = 0, const std::string& hex = "");  // creates the key

// The settings key in memory: call n (from 1) of a kind fails when its fail... member is n.
class MemoryRegistry final : public SettingsRegistry {
public:
    bool keyExists = false;
    StoredKey values;
    unsigned failOpen = 0, failCreate = 0, failQuery = 0, failSet = 0, opens = 0, creates = 0, queries = 0, sets = 0;
    int openKeys = 0;
    HKEY OpenToRead(const char*) override { return ++opens == failOpen || !keyExists ? nullptr : Opened(); }
    HKEY CreateToWrite(const char*) override { return ++creates == failCreate ? nullptr : (keyExists = true, Opened()); }
    bool Query(HKEY key, const char* name, BYTE* data, DWORD size) override;
    void Set(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD size) override
    {
        EXPECT_EQ(kKey, key);
        if (++sets != failSet)
            values[name] = Value(type, data, size);
    }
    void Close(HKEY key) override
    {
        EXPECT_EQ(kKey, key);
        --openKeys;
    }

private:
    const HKEY kKey = reinterpret_cast<HKEY>(0x7e10);
    HKEY Opened() { return ++openKeys, kKey; }
};

// Accepted records of the device table filled directly, emptied again on destruction. Record i has
// the device GUID MakeGuid(0x40 + i) and the driver GUID MakeGuid(0x60 + i), but record 0, of the
// primary display driver, a zero one.
class DeviceTable {
public:
    DeviceTable() { ResetDisplayDeviceTable(); }
    ~DeviceTable() { ResetDisplayDeviceTable(); }
    void Add(const char* name, bool hardware, std::vector<DDSURFACEDESC2> modes);

private:
    std::vector<std::vector<DDSURFACEDESC2>> modes_;
};

// The test's working directory while it lives (memory.log lands there); removed afterwards.
class ScratchDirectory {
public:
    ScratchDirectory();
    ~ScratchDirectory();

private:
    std::filesystem::path previous_, path_;
};

// Calls `run`, which shows a modal dialog of this thread; `steps` gets the dialog once it shows and
// takes input, acts on it as a player would, and must end it. A dialog left open is ended.
INT_PTR RunDialog(const std::function<INT_PTR()>& run, const std::function<void(HWND)>& steps);
// A key pressed on a focused control, done when this returns; posted for Enter and Escape.
void Key(HWND control, WPARAM key, bool post = false);
inline void EndWith(WPARAM key) { Key(GetFocus(), key, true); }
// Drags the trackbar's thumb to `position` of its 0 to 2 range and lets go (NM_RELEASEDCAPTURE).
void DragThumb(HWND trackbar, int position);
