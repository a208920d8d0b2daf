// The settings record at process start, SetDefaults, and the resolution-row rule it shares with
// the dialog.
#include "app/mode_choice.h"
#include "app/settings.h"
#include "settings_test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace settings_test;

namespace {

// Taken during dynamic initialisation, before any test touches them: the table must already
// hold its rows then, and the record must be zero.
const std::vector<ModeChoice> g_rowsAtStart(ModeChoiceTable, ModeChoiceTable + kModeChoiceRows);
const std::vector<BYTE> g_settingsAtStart(reinterpret_cast<const BYTE*>(&g_setupSettings),
                                          reinterpret_cast<const BYTE*>(&g_setupSettings) + sizeof g_setupSettings);

constexpr int32_t kRowSentinel = 0x5e5e5e5e;
constexpr BYTE kByteSentinel = 0xa5;
constexpr int32_t kIntSentinel = static_cast<int32_t>(0xa5a5a5a5);

void ExpectRow(unsigned row, int32_t width, int32_t height, int32_t bits)
{
    EXPECT_EQ(width, ModeChoiceTable[row].width) << "row " << row;
    EXPECT_EQ(height, ModeChoiceTable[row].height) << "row " << row;
    EXPECT_EQ(bits, ModeChoiceTable[row].bitPerPixel) << "row " << row;
}

void ExpectRowsUntouched(unsigned from)
{
    for (unsigned row = from; row < kModeChoiceRows; ++row)
        ExpectRow(row, kRowSentinel, kRowSentinel, kRowSentinel);
}

class SetDefaultsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetModeChoiceTable(kRowSentinel, kRowSentinel, kRowSentinel);
        std::memset(&m_settings, kByteSentinel, sizeof m_settings);
    }
    void TearDown() override { ResetModeChoiceTable(); }

    // The fields SetDefaults always sets, whatever the device table holds.
    void ExpectFixedDefaults() const
    {
        EXPECT_EQ(0, m_settings.isFullScreenMode);
        EXPECT_EQ(0, m_settings.isVoodoo);
        EXPECT_EQ(0, m_settings.digitalRateType);
        EXPECT_EQ(0, m_settings.digitalBitsType);
        EXPECT_EQ(1, m_settings.isLightmap);
        EXPECT_EQ(2, m_settings.spriteMode);
        EXPECT_EQ(2, m_settings.textureMode);
        EXPECT_EQ(1, m_settings.fog);
        EXPECT_EQ(2, m_settings.numSampleType);
        EXPECT_EQ(640, m_settings.width);
        EXPECT_EQ(480, m_settings.height);
        EXPECT_EQ(16, m_settings.bitPerPixel);
        EXPECT_EQ(1, m_settings.soundMode);
        EXPECT_EQ(0, m_settings.speakerType);
        EXPECT_EQ(Text("No Provider", kSettingsProviderNameSize), FieldBytes(m_settings, Field("PROVIDERNAME")));
    }

    void ExpectNoDeviceTaken() const
    {
        EXPECT_EQ(std::vector<BYTE>(40, kByteSentinel), FieldBytes(m_settings, Field("DEVICENAME")));
        EXPECT_EQ(std::vector<BYTE>(16, kByteSentinel), FieldBytes(m_settings, Field("GUIDDEVICE")));
        EXPECT_EQ(std::vector<BYTE>(16, kByteSentinel), FieldBytes(m_settings, Field("GUIDDRIVER")));
        EXPECT_EQ(kIntSentinel, m_settings.deviceCnt);
        EXPECT_EQ(kIntSentinel, m_settings.modeCnt);
    }

    void ExpectDevice(const char* name, const GUID& device, const GUID& driver) const
    {
        std::vector<BYTE> expectedName(40, kByteSentinel);
        std::memcpy(expectedName.data(), name, std::strlen(name) + 1);
        EXPECT_EQ(expectedName, FieldBytes(m_settings, Field("DEVICENAME")));
        EXPECT_EQ(0, std::memcmp(&device, &m_settings.guidDevice, 16));
        EXPECT_EQ(0, std::memcmp(&driver, &m_settings.guidDriver, 16));
        EXPECT_EQ(0, m_settings.deviceCnt);
    }

    DeviceTable m_table;
    SetupSettings m_settings;
};

} // namespace

TEST(SetupSettingsStart, RecordZeroAndEveryRow640x480x16BeforeMain)
{
    ASSERT_EQ(sizeof(SetupSettings), g_settingsAtStart.size());
    for (size_t i = 0; i < g_settingsAtStart.size(); ++i)
        ASSERT_EQ(0, g_settingsAtStart[i]) << "byte " << i;
    ASSERT_EQ(kModeChoiceRows, g_rowsAtStart.size());
    for (unsigned row = 0; row < kModeChoiceRows; ++row) {
        EXPECT_EQ(640, g_rowsAtStart[row].width) << "row " << row;
        EXPECT_EQ(480, g_rowsAtStart[row].height) << "row " << row;
        EXPECT_EQ(16, g_rowsAtStart[row].bitPerPixel) << "row " << row;
    }
}

TEST_F(SetDefaultsTest, EmptyTableSetsOnlyTheFixedDefaultsAndRowZero)
{
    m_settings.SetDefaults();
    ExpectFixedDefaults();
    ExpectNoDeviceTaken();
    ExpectRow(0, 640, 480, 16);
    ExpectRowsUntouched(1);
}

TEST_F(SetDefaultsTest, SoftwareDevicesOnlyTakeNoDevice)
{
    m_table.Add("Soft A", false, MakeGuid(1), GUID{}, {Mode(800, 600, 16), Mode(1024, 768, 16)});
    m_table.Add("Soft B", false, MakeGuid(2), MakeGuid(3), {Mode(512, 512, 16)});
    m_settings.SetDefaults();
    ExpectFixedDefaults();
    ExpectNoDeviceTaken();
    ExpectRow(0, 640, 480, 16);
    ExpectRowsUntouched(1);

    // At start-up the record is zero: the name stays empty, the GUIDs and both rows zero.
    std::memset(&m_settings, 0, sizeof m_settings);
    m_settings.SetDefaults();
    std::vector<BYTE> head(reinterpret_cast<BYTE*>(&m_settings), reinterpret_cast<BYTE*>(&m_settings) + 72);
    EXPECT_EQ(std::vector<BYTE>(72, 0), head) << "GUIDs and device name";
    EXPECT_EQ(0, m_settings.deviceCnt);
    EXPECT_EQ(0, m_settings.modeCnt);
}

TEST_F(SetDefaultsTest, SoftwareDeviceAheadOfHardwareDoesNotCount)
{
    m_table.Add("Soft", false, MakeGuid(1), GUID{}, {Mode(512, 512, 16), Mode(640, 480, 16)});
    m_table.Add("Hard", true, MakeGuid(0x40), MakeGuid(0x50), {Mode(640, 480, 16), Mode(800, 600, 16)});
    m_settings.SetDefaults();
    ExpectFixedDefaults();
    ExpectDevice("Hard", MakeGuid(0x40), MakeGuid(0x50));
    EXPECT_EQ(0, m_settings.modeCnt);
    ExpectRow(0, 640, 480, 16);
    ExpectRow(1, 800, 600, 16);
    ExpectRowsUntouched(2);
}

TEST_F(SetDefaultsTest, OnlyTheFirstOfTwoHardwareDevicesSupplies)
{
    m_table.Add("First", true, MakeGuid(0x40), MakeGuid(0x50), {Mode(720, 480, 16), Mode(800, 600, 16)});
    m_table.Add("Second", true, MakeGuid(0x60), MakeGuid(0x70),
                {Mode(512, 384, 16), Mode(640, 480, 16), Mode(1280, 1024, 16), Mode(1600, 1200, 16)});
    m_settings.SetDefaults();
    ExpectDevice("First", MakeGuid(0x40), MakeGuid(0x50));
    // The first device has no 640 x 480 x 16: modeCnt keeps what it held.
    EXPECT_EQ(kIntSentinel, m_settings.modeCnt);
    ExpectRow(0, 720, 480, 16);
    ExpectRow(1, 800, 600, 16);
    ExpectRowsUntouched(2);
}

TEST_F(SetDefaultsTest, LowModesAndOtherDepthsAreLeftOut)
{
    m_table.Add("Hard", true, MakeGuid(0x40), GUID{},
                {Mode(320, 240, 16), Mode(640, 400, 16), Mode(640, 479, 16), Mode(640, 480, 16), Mode(640, 480, 24),
                 Mode(640, 480, 32), Mode(720, 480, 8), Mode(720, 480, 16), Mode(800, 600, 15), Mode(800, 600, 16),
                 Mode(1024, 768, 16), Mode(1024, 768, 32)});
    m_settings.SetDefaults();
    EXPECT_EQ(0, m_settings.modeCnt);
    ExpectRow(0, 640, 480, 16);
    ExpectRow(1, 720, 480, 16);
    ExpectRow(2, 800, 600, 16);
    ExpectRow(3, 1024, 768, 16);
    ExpectRowsUntouched(4);
    ExpectFixedDefaults();
}

TEST_F(SetDefaultsTest, ModeSortingBefore640x480TakesRowZero)
{
    m_table.Add("Hard", true, MakeGuid(0x40), GUID{}, {Mode(512, 512, 16), Mode(640, 480, 16), Mode(800, 600, 16)});
    m_settings.SetDefaults();
    EXPECT_EQ(1, m_settings.modeCnt);
    ExpectRow(0, 512, 512, 16);
    ExpectRow(1, 640, 480, 16);
    ExpectRow(2, 800, 600, 16);
    ExpectRowsUntouched(3);
}

TEST_F(SetDefaultsTest, No640x480ModeKeepsModeCntButDefaultsTheDimensions)
{
    m_table.Add("Hard", true, MakeGuid(0x40), GUID{}, {Mode(640, 480, 32), Mode(800, 600, 16)});
    std::memset(&m_settings, 0, sizeof m_settings);
    m_settings.SetDefaults();
    EXPECT_EQ(0, m_settings.modeCnt);
    EXPECT_EQ(640, m_settings.width);
    EXPECT_EQ(480, m_settings.height);
    EXPECT_EQ(16, m_settings.bitPerPixel);
    ExpectRow(0, 800, 600, 16);
    ExpectRowsUntouched(1);
}

TEST_F(SetDefaultsTest, PrimaryDriverGivesZeroDriverGuid)
{
    m_table.Add("Primary", true, MakeGuid(0x40), GUID{}, {Mode(640, 480, 16)});
    m_settings.SetDefaults();
    EXPECT_EQ(std::vector<BYTE>(16, 0), FieldBytes(m_settings, Field("GUIDDRIVER")));
    ExpectDevice("Primary", MakeGuid(0x40), GUID{});
}

TEST_F(SetDefaultsTest, NameCopyStopsAtTheTerminator)
{
    m_table.Add("Abc", true, MakeGuid(0x40), GUID{}, {Mode(640, 480, 16)});
    std::memset(m_settings.deviceName, 'Z', sizeof m_settings.deviceName);
    m_settings.SetDefaults();
    std::vector<BYTE> expected(40, 'Z');
    std::memcpy(expected.data(), "Abc", 4);
    EXPECT_EQ(expected, FieldBytes(m_settings, Field("DEVICENAME")));
}

TEST_F(SetDefaultsTest, UnterminatedDeviceNameIsCutToItsField)
{
    DisplayDeviceRecord& record = m_table.Add("", true, MakeGuid(0x40), GUID{}, {Mode(640, 480, 16)});
    std::memset(record.name, 'N', sizeof record.name);
    m_settings.SetDefaults();
    std::vector<BYTE> expected(40, 'N');
    expected[39] = 0;
    EXPECT_EQ(expected, FieldBytes(m_settings, Field("DEVICENAME")));
}

TEST_F(SetDefaultsTest, RecordsAtAndAfterTheAcceptedCountAreIgnored)
{
    m_table.Add("Soft", false, MakeGuid(1), GUID{}, {Mode(640, 480, 16)});
    // A rejected hardware device's leftovers sit at index acceptedDeviceCount.
    DisplayDeviceRecord& rejected = g_displayDeviceTable.records[1];
    std::strcpy(rejected.name, "Rejected");
    rejected.isHardware = 0x80000;
    rejected.deviceGuidValue = MakeGuid(0x77);
    g_displayDeviceTable.reportedDeviceCount = 2;
    m_settings.SetDefaults();
    ExpectNoDeviceTaken();
}

TEST_F(SetDefaultsTest, MoreThanFortyListedModesFillEveryRowAndNoMore)
{
    std::vector<DDSURFACEDESC2> modes;
    // 45 listed modes, with unlisted ones between them; 640 x 480 x 16 would be the 42nd.
    for (DWORD i = 0; i < 41; ++i) {
        modes.push_back(Mode(100 + i, 480, 16));
        modes.push_back(Mode(100 + i, 480, 32));
    }
    modes.push_back(Mode(640, 480, 16));
    for (DWORD i = 0; i < 3; ++i)
        modes.push_back(Mode(700 + i, 600, 16));
    m_table.Add("Many", true, MakeGuid(0x40), GUID{}, modes);

    m_settings.SetDefaults();
    for (unsigned row = 0; row < kModeChoiceRows; ++row)
        ExpectRow(row, static_cast<int32_t>(100 + row), 480, 16);
    EXPECT_EQ(kIntSentinel, m_settings.modeCnt) << "the 42nd listed mode has no row and is not listed";

    const DisplayDeviceRecord& device = GetDisplayDeviceTable()[0];
    EXPECT_EQ(40u, CountResolutionRows(device));
    uint32_t visits = 0;
    uint32_t highestRow = 0;
    ForEachResolutionRow(device, [&](uint32_t row, const DDSURFACEDESC2& mode) {
        EXPECT_EQ(visits, row);
        EXPECT_EQ(100 + row, mode.dwWidth);
        highestRow = row;
        ++visits;
    });
    EXPECT_EQ(40u, visits);
    EXPECT_EQ(39u, highestRow);
}

TEST_F(SetDefaultsTest, SixFourHundredEightyAtTheFortiethRowIsFound)
{
    std::vector<DDSURFACEDESC2> modes;
    for (DWORD i = 0; i < 39; ++i)
        modes.push_back(Mode(100 + i, 480, 16));
    modes.push_back(Mode(640, 480, 16));
    modes.push_back(Mode(800, 600, 16));
    m_table.Add("Many", true, MakeGuid(0x40), GUID{}, modes);
    m_settings.SetDefaults();
    EXPECT_EQ(39, m_settings.modeCnt);
    ExpectRow(38, 138, 480, 16);
    ExpectRow(39, 640, 480, 16);
}

TEST(ModeChoiceRule, ListedModesAndRows)
{
    EXPECT_FALSE(IsListedMode(Mode(640, 479, 16)));
    EXPECT_TRUE(IsListedMode(Mode(640, 480, 16)));
    EXPECT_TRUE(IsListedMode(Mode(1, 0x80000000u, 16))) << "height is compared unsigned";
    EXPECT_FALSE(IsListedMode(Mode(800, 600, 15)));
    EXPECT_FALSE(IsListedMode(Mode(800, 600, 24)));
    EXPECT_FALSE(IsListedMode(Mode(800, 600, 32)));

    EXPECT_FALSE(IsModeChoiceRow(-1));
    EXPECT_TRUE(IsModeChoiceRow(0));
    EXPECT_TRUE(IsModeChoiceRow(39));
    EXPECT_FALSE(IsModeChoiceRow(40));

    DisplayDeviceRecord device{};
    device.modeCount = 5; // no storage behind it
    EXPECT_EQ(0u, CountResolutionRows(device));
    DDSURFACEDESC2 modes[] = {Mode(320, 240, 16), Mode(640, 480, 16), Mode(640, 480, 32), Mode(800, 600, 16)};
    device.modes = modes;
    device.modeCount = 4;
    EXPECT_EQ(2u, CountResolutionRows(device));
    device.modeCount = 2;
    EXPECT_EQ(1u, CountResolutionRows(device)) << "only modeCount entries are read";
}
