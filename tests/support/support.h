// The settings key read and written directly, hand-filled device tables, and a player acting inside a modal dialog.
#pragma once

#include "app/registry.h"
#include "app/settings_store.h"
#include "display/display_device_table.h"
#include "scripted_machine.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <utility>

// A value as "type:bytes", Dword(640) for the REG_DWORD 640; the settings key by name.
inline std::string Value(DWORD type, const void* data, size_t size) { return std::to_string(type) + ":" + std::string(static_cast<const char*>(data), size); }
inline std::string Dword(int32_t value) { return Value(REG_DWORD, &value, 4); }
using StoredKey = std::map<std::string, std::string>;

inline StoredKey ReadSettingsKey()  // empty without the key
{
    StoredKey values;
    HKEY key;
    char name[256];
    BYTE data[4096];
    DWORD type, nameSize = sizeof name, size = sizeof data;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY_PATH, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return values;
    for (DWORD i = 0; RegEnumValueA(key, i, name, &nameSize, nullptr, &type, data, &size) == ERROR_SUCCESS; ++i)
        values[name] = Value(type, data, size), nameSize = sizeof name, size = sizeof data;
    RegCloseKey(key);
    return values;
}

// The sixteen numbers from isFullScreenMode to digitalBitsType, then texts and GUIDs as bytes.
inline std::vector<int32_t> Numbers(const SetupSettings& s) { return {&s.isFullScreenMode, &s.isFullScreenMode + 16}; }
inline void ExpectSettings(const SetupSettings& expected, const SetupSettings& actual, const std::string& context)
{
    EXPECT_EQ(Numbers(expected), Numbers(actual)) << context;
    EXPECT_EQ(0, std::memcmp(&expected, &actual, sizeof expected)) << context << ": texts or GUIDs";
}

inline void DeleteSettingsKey() { RegDeleteKeyA(HKEY_CURRENT_USER, SETTINGS_KEY_PATH); }

inline void PutSettingsValue(const char* name, DWORD type, const std::string& bytes)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY_PATH, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    const std::string data = bytes + '\x7f';  // a byte past the data: the registry looks there for a zero
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(data.data()), DWORD(bytes.size())));
    RegCloseKey(key);
}

// Accepted records filled directly; record i has device GUID MakeGuid(0x40 + i), driver GUID MakeGuid(0x60 + i) or zero.
struct DeviceTable {
    DeviceTable() { ResetDisplayDeviceTable(); }
    ~DeviceTable() { ResetDisplayDeviceTable(); }
    void Add(const char* name, bool hardware, std::vector<DDSURFACEDESC2> recordModes)
    {
        const uint32_t i = g_displayDeviceTable.acceptedDeviceCount++;
        DisplayDeviceRecord& record = g_displayDeviceTable.records[i];
        std::strncpy(record.name, name, sizeof record.name);
        record.isHardware = hardware ? D3DDEVCAPS_HWRASTERIZATION : 0;
        record.deviceGuidValue = MakeGuid(0x40 + i), record.driverGuidValue = i == 0 ? GUID{} : MakeGuid(0x60 + i);
        modes.push_back(std::move(recordModes));
        record.modes = modes.back().empty() ? nullptr : modes.back().data();
        record.modeCount = static_cast<uint32_t>(modes.back().size());
    }
    std::vector<std::vector<DDSURFACEDESC2>> modes;
};

// `steps` runs from a thread timer once run's modal dialog takes input, and must end it; else it ends two seconds later.
inline std::function<void()> g_dialogSteps;
inline UINT_PTR g_dialogTimer;
inline void CALLBACK DialogTimer(HWND, UINT, UINT_PTR, DWORD)
{
    HWND dialog = GetActiveWindow();
    if (dialog == nullptr || !IsWindowVisible(dialog))
        return;
    KillTimer(nullptr, g_dialogTimer);
    g_dialogTimer = SetTimer(nullptr, 0, 2000, DialogTimer);
    if (g_dialogSteps == nullptr)
        ADD_FAILURE() << "the dialog was still open two seconds after its steps", EndDialog(dialog, 0x5a5a);
    else
        std::exchange(g_dialogSteps, nullptr)();
}
inline INT_PTR RunDialog(const std::function<INT_PTR()>& run, const std::function<void()>& steps)
{
    g_dialogSteps = steps, g_dialogTimer = SetTimer(nullptr, 0, 1, DialogTimer);
    const INT_PTR result = run();
    KillTimer(nullptr, g_dialogTimer);
    return result;
}

// A key pressed on a control, which then has the focus.
inline void Key(HWND control, WPARAM key)
{
    const LPARAM down = 1 | LPARAM(MapVirtualKeyA(UINT(key), 0)) << 16, up = down | LPARAM(0xC0000000u);
    SetFocus(control), SendMessageA(control, WM_KEYDOWN, key, down), SendMessageA(control, WM_KEYUP, key, up);
}

// Moves a trackbar to `position` and lets go, as the end of a drag with the mouse tells its dialog.
inline void DragThumb(HWND trackbar, int position)
{
    SendMessageA(trackbar, TBM_SETPOS, TRUE, position);
    NMHDR released{trackbar, UINT_PTR(GetDlgCtrlID(trackbar)), UINT(NM_RELEASEDCAPTURE)};
    SendMessageA(GetParent(trackbar), WM_NOTIFY, released.idFrom, LPARAM(&released));
}
