// The persistence against the Windows registry of the test prefix: exactly what is stored, and
// stored bytes read back as they are.
#include "app/registry.h"
#include "settings_test_support.h"

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
    void TearDown() override { DeleteSettingsKey(); }

    // The key holds exactly the values of `passes`, typed and sized as their fields, and `others`.
    static void ExpectKey(std::vector<Names> passes, const SetupSettings& source, RealKey others = {})
    {
        for (const Names& names : passes) {
            for (const std::string& name : names)
                others[name] = RealValue{Field(name).type, FieldBytes(source, Field(name))};
        }
        EXPECT_EQ(others, ReadRealKey());
    }

    DeviceTable m_table;
    SetupSettings m_settings{};
};

} // namespace

TEST_F(RealSettingsTest, FirstRunStoresSixteenValuesAndALaterRunReadsThem)
{
    LoadSettings(m_settings);
    // REG_DWORD of 4 bytes; the texts at their widths 40 and 1024, zero after the terminator;
    // the GUIDs as 16-byte REG_BINARY, the driver's zero.
    const SetupSettings defaults = StandardDefaults();
    ExpectSameSettings(defaults, m_settings, "first run");
    ExpectKey({kFirstRunPass1, kSoundPass}, defaults);

    // The four values a first run leaves out come back as their fallbacks; nothing is written.
    std::memset(&m_settings, 0x33, sizeof m_settings);
    LoadSettings(m_settings);
    ExpectSameSettings(defaults, m_settings, "second run");
    ExpectKey({kFirstRunPass1, kSoundPass}, defaults);
}

TEST_F(RealSettingsTest, EmptyKeyIsNotAFirstRun)
{
    PutRealValue(nullptr, 0, {});
    LoadSettings(m_settings);
    ExpectSameSettings(StandardDefaults(), m_settings, "empty key");
    ExpectKey({}, m_settings);
}

TEST_F(RealSettingsTest, SaveWritesAllTwentyWithTerminatedTextsAndLeavesOtherValues)
{
    PutRealValue("OTHER", REG_DWORD, Dword(0x01020304));
    SetupSettings record = DistinctSettings();
    // Sent unterminated, the registry would count the byte after the field as the terminator,
    // and the next load would reject a value one byte too large.
    std::memset(record.deviceName, 'Q', sizeof record.deviceName);
    std::memset(record.providerName, 'R', sizeof record.providerName);
    SaveSettings(record);
    record.deviceName[39] = record.providerName[1023] = '\0';
    ExpectKey({kSavePass1, kSavePass2}, record, {{"OTHER", RealValue{REG_DWORD, Dword(0x01020304)}}});
    LoadSettings(m_settings);
    ExpectSameSettings(record, m_settings, "loaded after save");
}

TEST_F(RealSettingsTest, StoredBytesAreTakenAsTheyAre)
{
    // Neither recomputed from the modes nor checked against the device table.
    const int32_t numbers[] = {1234, 77, 8, 5, 39};
    for (int i = 0; i < 5; ++i)
        PutRealValue(kLoadPass1[1 + i].c_str(), REG_DWORD, Dword(numbers[i]));
    // Texts that fill their fields come back with the last byte as terminator.
    PutRealValue("DEVICENAME", REG_SZ, std::vector<BYTE>(40, 'N'));
    PutRealValue("PROVIDERNAME", REG_SZ, std::vector<BYTE>(1024, 'P'));
    LoadSettings(m_settings);
    EXPECT_EQ(std::vector<int32_t>(numbers, numbers + 5), std::vector<int32_t>(&m_settings.width, &m_settings.modeCnt + 1));
    EXPECT_EQ(800, ModeChoiceTable[1].width) << "the rows describe the device";
    EXPECT_EQ(std::string(39, 'N'), m_settings.deviceName);
    EXPECT_EQ(std::string(1023, 'P'), m_settings.providerName);

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
