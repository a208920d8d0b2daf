// Shared by the settings tests: a device table filled by hand, the stored format, expected
// records, and the settings key of the (throwaway) Windows registry reached directly.
#pragma once

#include "app/settings.h"
#include "app/settings_store.h"
#include "display/display_device_table.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace settings_test {

inline DDSURFACEDESC2 Mode(DWORD width, DWORD height, DWORD bits)
{
    DDSURFACEDESC2 mode{};
    mode.dwWidth = width, mode.dwHeight = height, mode.ddpfPixelFormat.dwRGBBitCount = bits;
    return mode;
}

inline GUID MakeGuid(uint8_t seed)
{
    GUID guid;
    for (unsigned i = 0; i < sizeof guid; ++i)
        reinterpret_cast<uint8_t*>(&guid)[i] = static_cast<uint8_t>(seed + i * 7);
    return guid;
}

// Fills g_displayDeviceTable directly and empties it again on destruction.
class DeviceTable {
public:
    DeviceTable() { Clear(); }
    ~DeviceTable() { Clear(); }

    // A name of 40 characters or more fills the field without a terminator.
    void Add(const char* name, bool hardware, const GUID& device, const GUID& driver,
             std::vector<DDSURFACEDESC2> modes)
    {
        DisplayDeviceRecord& record = g_displayDeviceTable.records[g_displayDeviceTable.acceptedDeviceCount++];
        std::strncpy(record.name, name, sizeof record.name);
        record.isHardware = hardware ? 0x80000u : 0u; // the real flag value, not 1
        record.deviceGuidValue = device;
        record.driverGuidValue = driver;
        m_modes.push_back(std::move(modes));
        record.modes = m_modes.back().empty() ? nullptr : m_modes.back().data();
        record.modeCount = static_cast<uint32_t>(m_modes.back().size());
    }

    static void Clear() { std::memset(&g_displayDeviceTable, 0, sizeof g_displayDeviceTable); }

private:
    std::vector<std::vector<DDSURFACEDESC2>> m_modes;
};

// One stored value: name, registry type, its field, and the value a failed read sets (-1: none).
struct StoredField {
    const char* name;
    DWORD type;
    size_t offset;
    size_t size;
    int32_t fallback;
};

#define F(name, type, field, fallback)                                                                           \
    {name, type, offsetof(SetupSettings, field), sizeof(SetupSettings::field), fallback}
// In the order in which a later run reads them.
const StoredField kFields[20] = {
    F("ISFULLSCREENMODE", REG_DWORD, isFullScreenMode, -1), F("WIDTH", REG_DWORD, width, -1),
    F("HEIGHT", REG_DWORD, height, -1),                      F("BITPERPIXEL", REG_DWORD, bitPerPixel, -1),
    F("DEVICECNT", REG_DWORD, deviceCnt, -1),                F("MODECNT", REG_DWORD, modeCnt, -1),
    F("ISVOODOO", REG_DWORD, isVoodoo, -1),                  F("ISLIGHTMAP", REG_DWORD, isLightmap, -1),
    F("SPRITEMODE", REG_DWORD, spriteMode, 2),               F("TEXTUREMODE", REG_DWORD, textureMode, 2),
    F("NUMSAMPLETYPE", REG_DWORD, numSampleType, 2),         F("FOG", REG_DWORD, fog, 1),
    F("DEVICENAME", REG_SZ, deviceName, -1),                 F("GUIDDEVICE", REG_BINARY, guidDevice, -1),
    F("GUIDDRIVER", REG_BINARY, guidDriver, -1),             F("SOUNDMODE", REG_DWORD, soundMode, -1),
    F("SPEAKERTYPE", REG_DWORD, speakerType, -1),            F("DIGITALRATETYPE", REG_DWORD, digitalRateType, -1),
    F("DIGITALBITSTYPE", REG_DWORD, digitalBitsType, -1),    F("PROVIDERNAME", REG_SZ, providerName, -1),
};
#undef F

inline const StoredField& Field(const std::string& name)
{
    for (const StoredField& field : kFields) {
        if (name == field.name)
            return field;
    }
    ADD_FAILURE() << "no field " << name;
    return kFields[0];
}

// The values of each pass, in the order of their calls.
using Names = std::vector<std::string>;
inline const Names kFirstRunPass1 = {"ISFULLSCREENMODE", "WIDTH", "HEIGHT", "BITPERPIXEL", "DEVICECNT", "MODECNT",
                                     "ISVOODOO", "ISLIGHTMAP", "DEVICENAME", "GUIDDEVICE", "GUIDDRIVER"};
inline const Names kSoundPass = {"SOUNDMODE", "SPEAKERTYPE", "DIGITALRATETYPE", "DIGITALBITSTYPE", "PROVIDERNAME"};
inline const Names kSavePass1 = {"ISFULLSCREENMODE", "WIDTH", "HEIGHT", "BITPERPIXEL", "DEVICECNT", "MODECNT",
                                 "ISVOODOO", "ISLIGHTMAP", "SPRITEMODE", "TEXTUREMODE", "FOG", "DEVICENAME",
                                 "GUIDDEVICE", "GUIDDRIVER"};
inline const Names kSavePass2 = {"SOUNDMODE",     "SPEAKERTYPE",  "DIGITALRATETYPE", "DIGITALBITSTYPE",
                                 "NUMSAMPLETYPE", "PROVIDERNAME"};
inline const Names kLoadPass1 = {"ISFULLSCREENMODE", "WIDTH", "HEIGHT", "BITPERPIXEL", "DEVICECNT", "MODECNT",
                                 "ISVOODOO", "ISLIGHTMAP", "SPRITEMODE", "TEXTUREMODE", "NUMSAMPLETYPE", "FOG",
                                 "DEVICENAME", "GUIDDEVICE", "GUIDDRIVER"};

inline std::vector<BYTE> FieldBytes(const SetupSettings& settings, const StoredField& field)
{
    const BYTE* begin = reinterpret_cast<const BYTE*>(&settings) + field.offset;
    return std::vector<BYTE>(begin, begin + field.size);
}

inline std::vector<BYTE> Dword(uint32_t value)
{
    return {BYTE(value), BYTE(value >> 8), BYTE(value >> 16), BYTE(value >> 24)};
}

inline std::vector<BYTE> Text(const std::string& text, size_t width)
{
    std::vector<BYTE> bytes(width, 0);
    std::memcpy(bytes.data(), text.data(), text.size());
    return bytes;
}

inline std::string Hex(const std::vector<BYTE>& bytes)
{
    std::string text;
    char digits[4];
    for (BYTE b : bytes)
        text.append(digits, std::snprintf(digits, sizeof digits, " %02x", b));
    return text;
}

// Sets the sixteen numbers, in declaration order from isFullScreenMode to digitalBitsType.
inline void SetNumbers(SetupSettings& s, const std::vector<int32_t>& numbers)
{
    std::memcpy(&s.isFullScreenMode, numbers.data(), 16 * sizeof(int32_t));
}

// A software device ahead of one hardware device of the primary display driver, and what
// SetDefaults gives for them on a zero record.
constexpr char kHardwareName[] = "Wine D3D7 T&L HAL";

inline void FillStandardDevices(DeviceTable& table)
{
    table.Add("Wine D3D7 RGB", false, MakeGuid(0x11), GUID{}, {Mode(640, 480, 16), Mode(800, 600, 16)});
    table.Add(kHardwareName, true, MakeGuid(0x31), GUID{},
              {Mode(320, 240, 16), Mode(640, 480, 16), Mode(640, 480, 32), Mode(800, 600, 16)});
}

inline SetupSettings StandardDefaults()
{
    SetupSettings s{};
    s.guidDevice = MakeGuid(0x31);
    std::memcpy(s.deviceName, kHardwareName, sizeof kHardwareName);
    SetNumbers(s, {0, 640, 480, 16, 0, 0, 0, 1, 2, 2, 2, 1, 1, 0, 0, 0});
    std::memcpy(s.providerName, "No Provider", 12);
    return s;
}

inline void ExpectSameSettings(const SetupSettings& expected, const SetupSettings& actual, const std::string& context)
{
    for (const StoredField& field : kFields) {
        EXPECT_EQ(Hex(FieldBytes(expected, field)), Hex(FieldBytes(actual, field))) << context << ": " << field.name;
    }
}

// ---- the settings key of the Windows registry, bypassing the code under test ----------------

struct RealValue {
    DWORD type;
    std::vector<BYTE> data;
};
inline bool operator==(const RealValue& a, const RealValue& b)
{
    return a.type == b.type && a.data == b.data;
}
inline void PrintTo(const RealValue& value, std::ostream* out)
{
    *out << "type " << value.type << ":" << Hex(value.data);
}
using RealKey = std::map<std::string, RealValue>;

inline void DeleteSettingsKey()
{
    LONG result = RegDeleteKeyA(HKEY_CURRENT_USER, SETTINGS_KEY_PATH);
    ASSERT_TRUE(result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND) << "RegDeleteKeyA returned " << result;
}

// Creates the key; with a name, also stores the value.
inline void PutRealValue(const char* name, DWORD type, const std::vector<BYTE>& data)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY_PATH, 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &key, nullptr));
    // A spare byte that is not zero: the registry looks past unterminated string data for a
    // terminator to count.
    std::vector<BYTE> buffer = data;
    buffer.push_back(0x7f);
    if (name != nullptr) {
        EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name, 0, type, buffer.data(), DWORD(data.size()))) << name;
    }
    RegCloseKey(key);
}

// Every value of the key by its name.
inline RealKey ReadRealKey()
{
    RealKey values;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY_PATH, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return values;
    for (DWORD index = 0;; ++index) {
        char name[256];
        DWORD nameSize = sizeof name;
        std::vector<BYTE> data(4096, 0xde);
        DWORD dataSize = DWORD(data.size());
        DWORD type = 0xdeadbeef;
        LONG result = RegEnumValueA(key, index, name, &nameSize, nullptr, &type, data.data(), &dataSize);
        if (result != ERROR_SUCCESS) {
            EXPECT_EQ(ERROR_NO_MORE_ITEMS, result) << "RegEnumValueA at " << index;
            break;
        }
        data.resize(dataSize);
        values[name] = RealValue{type, data};
    }
    RegCloseKey(key);
    return values;
}

} // namespace settings_test
