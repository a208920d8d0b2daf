// The record and mode rows at process start, and SetDefaults over device tables that each
// leave something out.
#include "settings_test_support.h"

#include <array>

using namespace settings_test;

namespace {

// Taken during dynamic initialisation, before any test touches them.
const std::vector<ModeChoice> g_rowsAtStart(ModeChoiceTable, ModeChoiceTable + kModeChoiceRows);
const std::vector<BYTE> g_settingsAtStart(reinterpret_cast<const BYTE*>(&g_setupSettings),
                                          reinterpret_cast<const BYTE*>(&g_setupSettings + 1));

using Row = std::array<int32_t, 3>; // width, height, bits per pixel
constexpr int32_t kRowSentinel = 0x5e5e5e5e;
constexpr int32_t kKept = int32_t(0xa5a5a5a5); // the field keeps the record's sentinel bytes

struct Device {
    const char* name;
    bool hardware;
    std::vector<DDSURFACEDESC2> modes;
};

// Device i has GUID 0x40 + i; device 0 is of the primary driver (zero GUID), the others not.
GUID Driver(size_t i)
{
    return i ? MakeGuid(uint8_t(0x60 + i)) : GUID{};
}

struct DefaultsCase {
    const char* what;
    std::vector<Device> devices;
    int chosen;                   // index of the device that supplies, or -1
    std::vector<Row> rows;        // the rows written from row 0
    int32_t modeCnt;
};

// 41 listed modes 100..140 x 480, each followed by an unlisted 32-bit one, then 640 x 480 x 16.
std::vector<DDSURFACEDESC2> ManyModes()
{
    std::vector<DDSURFACEDESC2> modes;
    for (DWORD width = 100; width <= 140; ++width)
        modes.insert(modes.end(), {Mode(width, 480, 16), Mode(width, 480, 32)});
    modes.push_back(Mode(640, 480, 16));
    return modes;
}

std::vector<Row> FortyRows()
{
    std::vector<Row> rows;
    for (int32_t width = 100; width < 140; ++width)
        rows.push_back({width, 480, 16});
    return rows;
}

std::vector<Row> Rows(const ModeChoice* table)
{
    std::vector<Row> rows;
    for (unsigned row = 0; row < kModeChoiceRows; ++row)
        rows.push_back({table[row].width, table[row].height, table[row].bitPerPixel});
    return rows;
}

// Forty characters: the record's name field holds no terminator.
const char kFullWidthName[] = "A name that fills all forty bytes: 40 ch";
static_assert(sizeof kFullWidthName == 41, "forty characters");

const DefaultsCase kCases[] = {
    {"software devices only",
     {{"Soft A", false, {Mode(800, 600, 16), Mode(1024, 768, 16)}}, {"Soft B", false, {Mode(640, 480, 16)}}},
     -1, {{640, 480, 16}}, kKept},
    {"a software device ahead of the hardware one",
     {{"Soft", false, {Mode(512, 512, 16), Mode(640, 480, 16)}},
      {"Hard", true, {Mode(640, 480, 16), Mode(800, 600, 16)}}},
     1, {{640, 480, 16}, {800, 600, 16}}, 0},
    {"two hardware devices, the first without 640 x 480 x 16",
     {{"First", true, {Mode(640, 480, 32), Mode(720, 480, 16), Mode(800, 600, 16)}},
      {"Second", true, {Mode(512, 384, 16), Mode(640, 480, 16), Mode(1600, 1200, 16)}}},
     0, {{720, 480, 16}, {800, 600, 16}}, kKept},
    {"modes under 480 lines and of other depths, a full-width name",
     {{kFullWidthName, true,
       {Mode(320, 240, 16), Mode(640, 400, 16), Mode(640, 479, 16), Mode(640, 480, 16), Mode(640, 480, 24),
        Mode(640, 480, 32), Mode(720, 480, 8), Mode(720, 480, 16), Mode(800, 600, 15), Mode(800, 600, 16),
        Mode(1024, 768, 32)}}},
     0, {{640, 480, 16}, {720, 480, 16}, {800, 600, 16}}, 0},
    {"a mode sorting before 640 x 480 x 16",
     {{"Hard", true, {Mode(512, 512, 16), Mode(640, 480, 16), Mode(800, 600, 16)}}},
     0, {{512, 512, 16}, {640, 480, 16}, {800, 600, 16}}, 1},
    {"more than forty listed modes, 640 x 480 x 16 the 42nd", {{"Hard", true, ManyModes()}}, 0, FortyRows(),
     kKept},
};

} // namespace

TEST(SetupSettingsStart, RecordZeroAndEveryRow640x480x16BeforeMain)
{
    EXPECT_EQ(Hex(std::vector<BYTE>(sizeof(SetupSettings), 0)), Hex(g_settingsAtStart));
    EXPECT_EQ(std::vector<Row>(kModeChoiceRows, Row{640, 480, 16}), Rows(g_rowsAtStart.data()));
}

TEST(SetDefaults, TakesTheFirstHardwareDeviceAndItsListedModes)
{
    for (const DefaultsCase& c : kCases) {
        DeviceTable table;
        for (size_t i = 0; i < c.devices.size(); ++i) {
            const Device& d = c.devices[i];
            table.Add(d.name, d.hardware, MakeGuid(uint8_t(0x40 + i)), Driver(i), d.modes);
        }
        for (ModeChoice& row : ModeChoiceTable)
            row = ModeChoice{kRowSentinel, kRowSentinel, kRowSentinel};
        SetupSettings settings;
        std::memset(&settings, 0xa5, sizeof settings);
        settings.SetDefaults();

        // The fixed defaults; the device's name up to its terminator, the bytes after it kept.
        SetupSettings expected;
        std::memset(&expected, 0xa5, sizeof expected);
        SetNumbers(expected, {0, 640, 480, 16, c.chosen < 0 ? kKept : 0, c.modeCnt, 0, 1, 2, 2, 2, 1, 1, 0, 0, 0});
        std::memcpy(expected.providerName, Text("No Provider", 1024).data(), 1024);
        if (c.chosen >= 0) {
            std::snprintf(expected.deviceName, sizeof expected.deviceName, "%s", c.devices[c.chosen].name);
            expected.guidDevice = MakeGuid(uint8_t(0x40 + c.chosen));
            expected.guidDriver = Driver(c.chosen);
        }
        ExpectSameSettings(expected, settings, c.what);
        std::vector<Row> rows = c.rows;
        rows.resize(kModeChoiceRows, Row{kRowSentinel, kRowSentinel, kRowSentinel});
        EXPECT_EQ(rows, Rows(ModeChoiceTable)) << c.what;
    }
}
