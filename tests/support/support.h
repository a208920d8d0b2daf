// Settings records and registry values as text, the settings key reached directly and hand-filled device tables.
#pragma once

#include "app/settings_store.h"
#include "display/display_device_table.h"
#include "display/display_text.h"
#include "scripted_machine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

// Printable bytes as they are, others as \xNN; a run of eight or more equal bytes as "<n x byte>".
inline std::string BytesText(const void* data, size_t size)
{
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::string text;
    for (size_t i = 0; i < size;) {
        char byte[8] = {static_cast<char>(bytes[i])};
        if (bytes[i] < 0x20 || bytes[i] >= 0x7f)
            std::snprintf(byte, sizeof byte, "\\x%02X", bytes[i]);
        const auto* end = std::find_if(bytes + i, bytes + size, [&](unsigned char b) { return b != bytes[i]; });
        const size_t run = size_t(end - bytes) - i;
        text += run >= 8 ? "<" + std::to_string(run) + " x " + byte + ">" : std::string(byte);
        i += run >= 8 ? run : 1;
    }
    return text;
}

// The sixteen numbers of the record by name.
using Number = int32_t SetupSettings::*;
#define TAVELKIN_NUMBER(field) std::pair<const char*, Number>(#field, &SetupSettings::field)
inline const std::pair<const char*, Number> kSettingsNumbers[]
    = {TAVELKIN_NUMBER(isFullScreenMode), TAVELKIN_NUMBER(width),         TAVELKIN_NUMBER(height),
       TAVELKIN_NUMBER(bitPerPixel),      TAVELKIN_NUMBER(deviceCnt),     TAVELKIN_NUMBER(modeCnt),
       TAVELKIN_NUMBER(isVoodoo),         TAVELKIN_NUMBER(isLightmap),    TAVELKIN_NUMBER(spriteMode),
       TAVELKIN_NUMBER(textureMode),      TAVELKIN_NUMBER(numSampleType), TAVELKIN_NUMBER(fog),
       TAVELKIN_NUMBER(soundMode),        TAVELKIN_NUMBER(speakerType),   TAVELKIN_NUMBER(digitalRateType),
       TAVELKIN_NUMBER(digitalBitsType)};
#undef TAVELKIN_NUMBER

// One line per field, so that a failed comparison names the fields that differ.
inline std::string SettingsText(const SetupSettings& s)
{
    std::string text = "guidDevice " + GuidText(s.guidDevice) + "\nguidDriver " + GuidText(s.guidDriver) + "\n";
    text += "deviceName " + BytesText(s.deviceName, sizeof s.deviceName) + "\n";
    for (const auto& [name, number] : kSettingsNumbers)
        text += std::string(name) + " " + std::to_string(s.*number) + "\n";
    return text + "providerName " + BytesText(s.providerName, sizeof s.providerName) + "\n";
}

// The record with the numbers named in `numbers` ("width 640, height 480") set.
inline SetupSettings With(SetupSettings s, std::string numbers)
{
    std::replace(numbers.begin(), numbers.end(), ',', ' ');
    std::istringstream in(numbers);
    std::string name;
    int32_t value;
    while (in >> name >> value) {
        const auto* known = std::find_if(std::begin(kSettingsNumbers), std::end(kSettingsNumbers),
                                         [&](const auto& number) { return name == number.first; });
        if (known == std::end(kSettingsNumbers))
            ADD_FAILURE() << "no number " << name;
        else
            s.*known->second = value;
    }
    return s;
}

// The settings key's values by name, each as "<type> <bytes>"; empty without the key.
using StoredKey = std::map<std::string, std::string>;
inline StoredKey ReadSettingsKey()
{
    const char* const types[] = {"REG_NONE", "REG_SZ", "REG_EXPAND_SZ", "REG_BINARY", "REG_DWORD"};
    StoredKey values;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY_PATH, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return values;
    char name[256];
    BYTE data[4096];
    DWORD nameSize = sizeof name;
    DWORD size = sizeof data;
    DWORD type;
    for (DWORD i = 0; RegEnumValueA(key, i, name, &nameSize, nullptr, &type, data, &size) == ERROR_SUCCESS; ++i) {
        values[name] = (type < 5 ? types[type] : std::to_string(type)) + " " + BytesText(data, size);
        nameSize = sizeof name;
        size = sizeof data;
    }
    RegCloseKey(key);
    return values;
}

inline void DeleteSettingsKey()
{
    RegDeleteKeyA(HKEY_CURRENT_USER, SETTINGS_KEY_PATH);
}

inline void PutSettingsValue(const char* name, DWORD type, const std::string& bytes)
{
    HKEY key;
    ASSERT_EQ(
        ERROR_SUCCESS,
        RegCreateKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY_PATH, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    const auto* data = reinterpret_cast<const BYTE*>(bytes.data());
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name, 0, type, data, static_cast<DWORD>(bytes.size())));
    RegCloseKey(key);
}

// Accepted records: record i has the GUIDs MakeGuid(0x40 + i) and MakeGuid(0x60 + i) (zero for record 0), and
// past its count one more mode, 1920 x 1080 x 16, which every reader must leave alone.
struct DeviceTable {
    DeviceTable() { ResetDisplayDeviceTable(); }
    ~DeviceTable() { ResetDisplayDeviceTable(); }
    void Add(const char* name, bool hardware, std::vector<DDSURFACEDESC2> modes)
    {
        const uint32_t i = g_displayDeviceTable.acceptedDeviceCount++;
        DisplayDeviceRecord& record = g_displayDeviceTable.records[i];
        std::strncpy(record.name, name, sizeof record.name);
        record.isHardware = hardware ? D3DDEVCAPS_HWRASTERIZATION : 0;
        record.deviceGuidValue = MakeGuid(0x40 + i);
        record.driverGuidValue = i == 0 ? GUID {} : MakeGuid(0x60 + i);
        record.modeCount = static_cast<uint32_t>(modes.size());
        modes.push_back(MakeMode(1920, 1080, 16));
        storage.push_back(std::move(modes));
        record.modes = storage.back().data();
    }
    std::vector<std::vector<DDSURFACEDESC2>> storage;
};
