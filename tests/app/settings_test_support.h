// Shared by the settings tests: a display device table filled by hand, the stored format as the
// tests expect it, and the expected defaults.
#pragma once

#include "app/settings.h"
#include "display/display_device_table.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace settings_test {

inline DDSURFACEDESC2 Mode(DWORD width, DWORD height, DWORD bits)
{
    DDSURFACEDESC2 mode;
    std::memset(&mode, 0, sizeof mode);
    mode.dwSize = sizeof mode;
    mode.dwFlags = DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT;
    mode.dwWidth = width;
    mode.dwHeight = height;
    mode.ddpfPixelFormat.dwSize = sizeof(DDPIXELFORMAT);
    mode.ddpfPixelFormat.dwFlags = DDPF_RGB;
    mode.ddpfPixelFormat.dwRGBBitCount = bits;
    return mode;
}

inline GUID MakeGuid(uint8_t seed)
{
    GUID guid;
    uint8_t* bytes = reinterpret_cast<uint8_t*>(&guid);
    for (unsigned i = 0; i < sizeof guid; ++i)
        bytes[i] = static_cast<uint8_t>(seed + i * 7);
    return guid;
}

// Fills g_displayDeviceTable directly and empties it again on destruction.
class DeviceTable {
public:
    DeviceTable() { Clear(); }
    ~DeviceTable() { Clear(); }
    DeviceTable(const DeviceTable&) = delete;
    DeviceTable& operator=(const DeviceTable&) = delete;

    // Appends an accepted record. isHardware is the real flag value 0x80000, not 1.
    DisplayDeviceRecord& Add(const char* name, bool hardware, const GUID& device, const GUID& driver,
                             std::vector<DDSURFACEDESC2> modes)
    {
        uint32_t index = g_displayDeviceTable.acceptedDeviceCount++;
        g_displayDeviceTable.reportedDeviceCount++;
        DisplayDeviceRecord& record = g_displayDeviceTable.records[index];
        std::strncpy(record.name, name, 38);
        record.isHardware = hardware ? 0x80000u : 0u;
        record.deviceGuidValue = device;
        record.driverGuidValue = driver;
        record.deviceGuid = &record.deviceGuidValue;
        static const GUID zero{};
        record.driverGuid = std::memcmp(&driver, &zero, sizeof zero) == 0 ? nullptr : &record.driverGuidValue;
        m_modes.push_back(std::move(modes));
        record.modes = m_modes.back().empty() ? nullptr : m_modes.back().data();
        record.modeCount = static_cast<uint32_t>(m_modes.back().size());
        return record;
    }

    static void Clear() { std::memset(&g_displayDeviceTable, 0, sizeof g_displayDeviceTable); }

private:
    std::vector<std::vector<DDSURFACEDESC2>> m_modes;
};

inline void ResetModeChoiceTable(int32_t width = 640, int32_t height = 480, int32_t bits = 16)
{
    for (ModeChoice& row : ModeChoiceTable)
        row = ModeChoice{width, height, bits};
}

// One stored value: name, registry type, and the field of SetupSettings it holds.
struct FieldSpec {
    const char* name;
    DWORD type;
    size_t offset;
    size_t size;
    bool isText;
    bool hasFallback;
    int32_t fallback;
};

#define SETTINGS_TEST_FIELD(f) offsetof(SetupSettings, f), sizeof(SetupSettings::f)
// In the order in which a later run reads them.
const FieldSpec kFields[20] = {
    {"ISFULLSCREENMODE", REG_DWORD, SETTINGS_TEST_FIELD(isFullScreenMode), false, false, 0},
    {"WIDTH", REG_DWORD, SETTINGS_TEST_FIELD(width), false, false, 0},
    {"HEIGHT", REG_DWORD, SETTINGS_TEST_FIELD(height), false, false, 0},
    {"BITPERPIXEL", REG_DWORD, SETTINGS_TEST_FIELD(bitPerPixel), false, false, 0},
    {"DEVICECNT", REG_DWORD, SETTINGS_TEST_FIELD(deviceCnt), false, false, 0},
    {"MODECNT", REG_DWORD, SETTINGS_TEST_FIELD(modeCnt), false, false, 0},
    {"ISVOODOO", REG_DWORD, SETTINGS_TEST_FIELD(isVoodoo), false, false, 0},
    {"ISLIGHTMAP", REG_DWORD, SETTINGS_TEST_FIELD(isLightmap), false, false, 0},
    {"SPRITEMODE", REG_DWORD, SETTINGS_TEST_FIELD(spriteMode), false, true, 2},
    {"TEXTUREMODE", REG_DWORD, SETTINGS_TEST_FIELD(textureMode), false, true, 2},
    {"NUMSAMPLETYPE", REG_DWORD, SETTINGS_TEST_FIELD(numSampleType), false, true, 2},
    {"FOG", REG_DWORD, SETTINGS_TEST_FIELD(fog), false, true, 1},
    {"DEVICENAME", REG_SZ, SETTINGS_TEST_FIELD(deviceName), true, false, 0},
    {"GUIDDEVICE", REG_BINARY, SETTINGS_TEST_FIELD(guidDevice), false, false, 0},
    {"GUIDDRIVER", REG_BINARY, SETTINGS_TEST_FIELD(guidDriver), false, false, 0},
    {"SOUNDMODE", REG_DWORD, SETTINGS_TEST_FIELD(soundMode), false, false, 0},
    {"SPEAKERTYPE", REG_DWORD, SETTINGS_TEST_FIELD(speakerType), false, false, 0},
    {"DIGITALRATETYPE", REG_DWORD, SETTINGS_TEST_FIELD(digitalRateType), false, false, 0},
    {"DIGITALBITSTYPE", REG_DWORD, SETTINGS_TEST_FIELD(digitalBitsType), false, false, 0},
    {"PROVIDERNAME", REG_SZ, SETTINGS_TEST_FIELD(providerName), true, false, 0},
};
#undef SETTINGS_TEST_FIELD

inline const FieldSpec& Field(const std::string& name)
{
    for (const FieldSpec& field : kFields) {
        if (name == field.name)
            return field;
    }
    ADD_FAILURE() << "no field " << name;
    return kFields[0];
}

inline const std::vector<std::string> kFirstRunPass1 = {"ISFULLSCREENMODE", "WIDTH", "HEIGHT", "BITPERPIXEL",
                                                        "DEVICECNT", "MODECNT", "ISVOODOO", "ISLIGHTMAP",
                                                        "DEVICENAME", "GUIDDEVICE", "GUIDDRIVER"};
inline const std::vector<std::string> kFirstRunPass2 = {"SOUNDMODE", "SPEAKERTYPE", "DIGITALRATETYPE",
                                                        "DIGITALBITSTYPE", "PROVIDERNAME"};
inline const std::vector<std::string> kSavePass1 = {"ISFULLSCREENMODE", "WIDTH", "HEIGHT", "BITPERPIXEL",
                                                    "DEVICECNT", "MODECNT", "ISVOODOO", "ISLIGHTMAP",
                                                    "SPRITEMODE", "TEXTUREMODE", "FOG", "DEVICENAME",
                                                    "GUIDDEVICE", "GUIDDRIVER"};
inline const std::vector<std::string> kSavePass2 = {"SOUNDMODE", "SPEAKERTYPE", "DIGITALRATETYPE",
                                                    "DIGITALBITSTYPE", "NUMSAMPLETYPE", "PROVIDERNAME"};
inline const std::vector<std::string> kLoadPass1 = {"ISFULLSCREENMODE", "WIDTH", "HEIGHT", "BITPERPIXEL",
                                                    "DEVICECNT", "MODECNT", "ISVOODOO", "ISLIGHTMAP",
                                                    "SPRITEMODE", "TEXTUREMODE", "NUMSAMPLETYPE", "FOG",
                                                    "DEVICENAME", "GUIDDEVICE", "GUIDDRIVER"};
inline const std::vector<std::string> kLoadPass2 = kFirstRunPass2;

inline std::vector<std::string> Concat(const std::vector<std::string>& a, const std::vector<std::string>& b)
{
    std::vector<std::string> all = a;
    all.insert(all.end(), b.begin(), b.end());
    return all;
}

inline std::vector<BYTE> FieldBytes(const SetupSettings& settings, const FieldSpec& field)
{
    const BYTE* begin = reinterpret_cast<const BYTE*>(&settings) + field.offset;
    return std::vector<BYTE>(begin, begin + field.size);
}

inline BYTE* FieldPointer(SetupSettings& settings, const FieldSpec& field)
{
    return reinterpret_cast<BYTE*>(&settings) + field.offset;
}

inline std::vector<BYTE> Dword(uint32_t value)
{
    return {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8), static_cast<BYTE>(value >> 16),
            static_cast<BYTE>(value >> 24)};
}

inline std::vector<BYTE> Text(const std::string& text, size_t width)
{
    std::vector<BYTE> bytes(width, 0);
    std::memcpy(bytes.data(), text.data(), text.size());
    return bytes;
}

inline std::string Hex(const std::vector<BYTE>& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i != 0)
            text += ' ';
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

// The device table that most tests use: a software device ahead of one hardware device of the
// primary display driver.
constexpr char kHardwareName[] = "Wine D3D7 T&L HAL";
inline const GUID kHardwareDeviceGuid = MakeGuid(0x31);

inline void FillStandardDevices(DeviceTable& table)
{
    table.Add("Wine D3D7 RGB", false, MakeGuid(0x11), GUID{}, {Mode(640, 480, 16), Mode(800, 600, 16)});
    table.Add(kHardwareName, true, kHardwareDeviceGuid, GUID{},
              {Mode(320, 240, 16), Mode(640, 480, 16), Mode(640, 480, 32), Mode(800, 600, 16),
               Mode(1024, 768, 16)});
}

// Sets the sixteen numbers, in declaration order from isFullScreenMode to digitalBitsType.
inline void SetNumbers(SetupSettings& s, const std::vector<int32_t>& numbers)
{
    std::memcpy(&s.isFullScreenMode, numbers.data(), 16 * sizeof(int32_t));
}

// What SetDefaults gives on a zero record with FillStandardDevices.
inline SetupSettings StandardDefaults()
{
    SetupSettings s{};
    s.guidDevice = kHardwareDeviceGuid;
    std::memcpy(s.deviceName, kHardwareName, sizeof kHardwareName);
    // full screen, width, height, bits, device, mode, voodoo, lightmap, sprite, texture,
    // channels, fog, sound mode, speaker, rate, bits
    SetNumbers(s, {0, 640, 480, 16, 0, 0, 0, 1, 2, 2, 2, 1, 1, 0, 0, 0});
    std::memcpy(s.providerName, "No Provider", 12);
    return s;
}

// A record in which every field differs from its default and from its fallback.
inline SetupSettings DistinctSettings()
{
    SetupSettings s{};
    s.guidDevice = MakeGuid(0x90);
    s.guidDriver = MakeGuid(0xa0);
    std::memcpy(s.deviceName, "Stored Device", 14);
    SetNumbers(s, {1, 1024, 768, 32, 3, 7, 1, 0, 0, 1, 0, 0, 2, 3, 2, 1});
    std::memcpy(s.providerName, "Stored Provider", 16);
    return s;
}

// Compares two records field by field and names every field that differs.
inline void ExpectSameSettings(const SetupSettings& expected, const SetupSettings& actual, const std::string& context)
{
    for (const FieldSpec& field : kFields) {
        std::vector<BYTE> want = FieldBytes(expected, field);
        std::vector<BYTE> got = FieldBytes(actual, field);
        EXPECT_EQ(want, got) << context << ": field of " << field.name << "\n  expected " << Hex(want)
                             << "\n  actual   " << Hex(got);
    }
}

} // namespace settings_test
