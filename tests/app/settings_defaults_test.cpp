// The settings record and mode rows at process start, and SetDefaults over device tables that
// each leave something out.
#include "app/mode_choice.h"
#include "app/settings.h"
#include "settings_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

using namespace settings_test;

namespace {

// Taken during dynamic initialisation, before any test touches them.
const std::vector<ModeChoice> g_rowsAtStart(ModeChoiceTable, ModeChoiceTable + kModeChoiceRows);
const std::vector<BYTE> g_settingsAtStart(reinterpret_cast<const BYTE*>(&g_setupSettings),
                                          reinterpret_cast<const BYTE*>(&g_setupSettings) + sizeof g_setupSettings);

constexpr int32_t kRowSentinel = 0x5e5e5e5e;
constexpr BYTE kSentinel = 0xa5;
constexpr int32_t kKept = -1; // modeCnt keeps what it held

struct Device {
    const char* name;
    bool hardware;
    uint8_t driverSeed; // 0: the primary driver's zero GUID
    std::vector<DDSURFACEDESC2> modes;
};

struct DefaultsCase {
    const char* what;
    std::vector<Device> devices;
    int chosen;                   // index of the device that supplies, or -1
    std::vector<ModeChoice> rows; // the rows written from row 0
    int32_t modeCnt;
};

// `count` listed modes of widths 100, 101, ... each followed by an unlisted 32-bit one, then
// 640 x 480 x 16 and 800 x 600 x 16.
std::vector<DDSURFACEDESC2> ManyModes(DWORD count)
{
    std::vector<DDSURFACEDESC2> modes;
    for (DWORD i = 0; i < count; ++i) {
        modes.push_back(Mode(100 + i, 480, 16));
        modes.push_back(Mode(100 + i, 480, 32));
    }
    modes.push_back(Mode(640, 480, 16));
    modes.push_back(Mode(800, 600, 16));
    return modes;
}

std::vector<ModeChoice> ManyRows(int32_t count)
{
    std::vector<ModeChoice> rows;
    for (int32_t i = 0; i < count; ++i)
        rows.push_back(ModeChoice{100 + i, 480, 16});
    return rows;
}

// Forty characters: the record's name field holds no terminator.
const char kFullWidthName[] = "A name that fills all forty bytes: 40 ch";
static_assert(sizeof kFullWidthName == 41, "forty characters");

const DefaultsCase kCases[] = {
    {"software devices only",
     {{"Soft A", false, 0, {Mode(800, 600, 16), Mode(1024, 768, 16)}}, {"Soft B", false, 3, {Mode(640, 480, 16)}}},
     -1, {}, kKept},
    {"a software device ahead of the hardware one",
     {{"Soft", false, 0, {Mode(512, 512, 16), Mode(640, 480, 16)}},
      {"Hard", true, 0x50, {Mode(640, 480, 16), Mode(800, 600, 16)}}},
     1, {{640, 480, 16}, {800, 600, 16}}, 0},
    {"two hardware devices, the first without 640 x 480 x 16",
     {{"First", true, 0x50, {Mode(640, 480, 32), Mode(720, 480, 16), Mode(800, 600, 16)}},
      {"Second", true, 0x70, {Mode(512, 384, 16), Mode(640, 480, 16), Mode(1600, 1200, 16)}}},
     0, {{720, 480, 16}, {800, 600, 16}}, kKept},
    {"modes under 480 lines and of other depths, a full-width name",
     {{kFullWidthName, true, 0,
       {Mode(320, 240, 16), Mode(640, 400, 16), Mode(640, 479, 16), Mode(640, 480, 16), Mode(640, 480, 24),
        Mode(640, 480, 32), Mode(720, 480, 8), Mode(720, 480, 16), Mode(800, 600, 15), Mode(800, 600, 16),
        Mode(1024, 768, 32)}}},
     0, {{640, 480, 16}, {720, 480, 16}, {800, 600, 16}}, 0},
    {"a mode sorting before 640 x 480 x 16",
     {{"Hard", true, 0, {Mode(512, 512, 16), Mode(640, 480, 16), Mode(800, 600, 16)}}},
     0, {{512, 512, 16}, {640, 480, 16}, {800, 600, 16}}, 1},
    {"640 x 480 x 16 at the last row", {{"Hard", true, 0, ManyModes(39)}}, 0,
     [] { auto rows = ManyRows(39); rows.push_back({640, 480, 16}); return rows; }(), 39},
    {"more than forty listed modes, 640 x 480 x 16 the 42nd", {{"Hard", true, 0, ManyModes(41)}}, 0, ManyRows(40),
     kKept},
};

} // namespace

TEST(SetupSettingsStart, RecordZeroAndEveryRow640x480x16BeforeMain)
{
    EXPECT_EQ(std::vector<BYTE>(sizeof(SetupSettings), 0), g_settingsAtStart);
    for (unsigned row = 0; row < kModeChoiceRows; ++row) {
        EXPECT_EQ(640, g_rowsAtStart[row].width) << "row " << row;
        EXPECT_EQ(480, g_rowsAtStart[row].height) << "row " << row;
        EXPECT_EQ(16, g_rowsAtStart[row].bitPerPixel) << "row " << row;
    }
}

TEST(SetDefaults, TakesTheFirstHardwareDeviceAndItsListedModes)
{
    for (const DefaultsCase& c : kCases) {
        DeviceTable table;
        for (size_t i = 0; i < c.devices.size(); ++i) {
            const Device& d = c.devices[i];
            table.Add(d.name, d.hardware, MakeGuid(uint8_t(0x40 + i)), d.driverSeed ? MakeGuid(d.driverSeed) : GUID{},
                      d.modes);
        }
        ResetModeChoiceTable(kRowSentinel);
        SetupSettings settings;
        std::memset(&settings, kSentinel, sizeof settings);
        settings.SetDefaults();

        // The fixed defaults; the device's name up to its terminator, the bytes after it kept.
        SetupSettings expected;
        std::memset(&expected, kSentinel, sizeof expected);
        SetNumbers(expected, {0, 640, 480, 16, expected.deviceCnt, expected.modeCnt, 0, 1, 2, 2, 2, 1, 1, 0, 0, 0});
        std::memcpy(expected.providerName, Text("No Provider", sizeof expected.providerName).data(),
                    sizeof expected.providerName);
        std::vector<ModeChoice> rows = c.rows;
        if (c.chosen >= 0) {
            const Device& d = c.devices[c.chosen];
            const size_t length = std::min<size_t>(std::strlen(d.name), 39);
            std::memcpy(expected.deviceName, d.name, length);
            expected.deviceName[length] = '\0';
            expected.guidDevice = MakeGuid(uint8_t(0x40 + c.chosen));
            expected.guidDriver = d.driverSeed ? MakeGuid(d.driverSeed) : GUID{};
            expected.deviceCnt = 0;
            if (c.modeCnt != kKept)
                expected.modeCnt = c.modeCnt;
            EXPECT_EQ(c.rows.size(), CountResolutionRows(GetDisplayDeviceTable()[c.chosen])) << c.what;
        } else {
            rows.push_back(ModeChoice{640, 480, 16});
        }
        ExpectSameSettings(expected, settings, c.what);

        for (unsigned row = 0; row < kModeChoiceRows; ++row) {
            const ModeChoice want = row < rows.size() ? rows[row] : ModeChoice{kRowSentinel, kRowSentinel, kRowSentinel};
            EXPECT_TRUE(want.width == ModeChoiceTable[row].width && want.height == ModeChoiceTable[row].height &&
                        want.bitPerPixel == ModeChoiceTable[row].bitPerPixel)
                << c.what << ": row " << row << " is " << ModeChoiceTable[row].width << " x "
                << ModeChoiceTable[row].height << " x " << ModeChoiceTable[row].bitPerPixel << ", expected "
                << want.width << " x " << want.height << " x " << want.bitPerPixel;
        }
    }
    ResetModeChoiceTable();
}
