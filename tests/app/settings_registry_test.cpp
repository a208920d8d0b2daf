// The persistence against the Windows registry of the test prefix: exactly what is stored, and
// stored bytes read back as they are.
#include "app/registry.h"
#include "app/settings.h"
#include "app/settings_store.h"
#include "settings_test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace settings_test;

namespace {

class RealSettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        DeleteSettingsKey();
        FillStandardDevices(m_table);
        SetSettingsRegistry(nullptr);
    }
    void TearDown() override
    {
        DeleteSettingsKey();
        ResetModeChoiceTable();
    }

    // The key holds exactly `names` with their field's type and bytes from `source`, and `others`.
    static void ExpectKey(const Names& names, const SetupSettings& source, RealKey others = {})
    {
        for (const std::string& name : names)
            others[name] = RealValue{Field(name).type, FieldBytes(source, Field(name))};
        EXPECT_EQ(others, ReadRealKey());
    }

    DeviceTable m_table;
    SetupSettings m_settings{};
};

} // namespace

TEST_F(RealSettingsTest, FirstRunStoresSixteenValuesAndALaterRunReadsThem)
{
    ASSERT_TRUE(ReadRealKey().empty());
    LoadSettings(m_settings);
    // REG_DWORD of 4 bytes; the texts with their field widths 40 and 1024, zero after the
    // terminator; the GUIDs as 16-byte REG_BINARY, the driver's zero.
    const SetupSettings defaults = StandardDefaults();
    ExpectSameSettings(defaults, m_settings, "first run");
    ExpectKey(Concat(kFirstRunPass1, kSoundPass), defaults);

    // The four values a first run leaves out come back as their fallbacks; nothing is written.
    std::memset(&m_settings, 0x33, sizeof m_settings);
    LoadSettings(m_settings);
    ExpectSameSettings(defaults, m_settings, "second run");
    ExpectKey(Concat(kFirstRunPass1, kSoundPass), defaults);
}

TEST_F(RealSettingsTest, SaveWritesAllTwentyAndLeavesOtherValues)
{
    PutRealValue("OTHER", REG_DWORD, Dword(0x01020304));
    const SetupSettings record = DistinctSettings();
    SaveSettings(record);
    ExpectKey(Concat(kSavePass1, kSavePass2), record, {{"OTHER", RealValue{REG_DWORD, Dword(0x01020304)}}});
    LoadSettings(m_settings);
    ExpectSameSettings(record, m_settings, "loaded after save");
}

TEST_F(RealSettingsTest, EmptyKeyIsNotAFirstRun)
{
    CreateSettingsKey();
    LoadSettings(m_settings);
    ExpectSameSettings(StandardDefaults(), m_settings, "empty key");
    ExpectKey({}, m_settings);
}

TEST_F(RealSettingsTest, StoredBytesAreTakenAsTheyAre)
{
    // Neither recomputed from the modes nor checked against the device table.
    PutRealValue("WIDTH", REG_DWORD, Dword(1234));
    PutRealValue("HEIGHT", REG_DWORD, Dword(77));
    PutRealValue("BITPERPIXEL", REG_DWORD, Dword(8));
    PutRealValue("DEVICECNT", REG_DWORD, Dword(5));
    PutRealValue("MODECNT", REG_DWORD, Dword(39));
    LoadSettings(m_settings);
    EXPECT_EQ(1234, m_settings.width);
    EXPECT_EQ(77, m_settings.height);
    EXPECT_EQ(8, m_settings.bitPerPixel);
    EXPECT_EQ(5, m_settings.deviceCnt);
    EXPECT_EQ(39, m_settings.modeCnt);
    EXPECT_EQ(800, ModeChoiceTable[1].width) << "the rows describe the device";

    // Shorter data replaces the low bytes only; longer data is a failed read.
    DeleteSettingsKey();
    PutRealValue("WIDTH", REG_SZ, {'1', 0});
    PutRealValue("HEIGHT", REG_BINARY, {0x34, 0x12});
    PutRealValue("BITPERPIXEL", REG_BINARY, {1, 2, 3, 4, 5});
    PutRealValue("ISVOODOO", REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0});
    PutRealValue("SPRITEMODE", REG_DWORD, {0, 0, 0, 0, 0});
    std::memset(&m_settings, 0xa5, sizeof m_settings);
    ReadStoredSettings(m_settings);
    EXPECT_EQ(0xa5a50031u, uint32_t(m_settings.width));
    EXPECT_EQ(0xa5a51234u, uint32_t(m_settings.height));
    EXPECT_EQ(0xa5a5a5a5u, uint32_t(m_settings.bitPerPixel));
    EXPECT_EQ(0xa5a5a5a5u, uint32_t(m_settings.isVoodoo));
    EXPECT_EQ(2, m_settings.spriteMode);
}

TEST_F(RealSettingsTest, TextsWithoutTerminatorLoadTerminatedAndSaveWithTheirWidth)
{
    PutRealValue("DEVICENAME", REG_SZ, std::vector<BYTE>(40, 'N'));
    PutRealValue("PROVIDERNAME", REG_SZ, std::vector<BYTE>(1024, 'P'));
    LoadSettings(m_settings);
    EXPECT_EQ(std::string(39, 'N'), m_settings.deviceName);
    EXPECT_EQ(std::string(1023, 'P'), m_settings.providerName);

    // Sent unterminated, the registry would count the zero after the field (isFullScreenMode)
    // as a terminator, and the next load would reject a value one byte too large.
    std::memset(m_settings.deviceName, 'Q', sizeof m_settings.deviceName);
    std::memset(m_settings.providerName, 'R', sizeof m_settings.providerName);
    m_settings.isFullScreenMode = 0;
    SaveSettings(m_settings);
    const RealKey stored = ReadRealKey();
    EXPECT_EQ(Text(std::string(39, 'Q'), 40), stored.at("DEVICENAME").data);
    EXPECT_EQ(Text(std::string(1023, 'R'), 1024), stored.at("PROVIDERNAME").data);
    LoadSettings(m_settings);
    EXPECT_EQ(std::string(39, 'Q'), m_settings.deviceName);
}
