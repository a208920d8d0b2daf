// The persistence against the real registry (a throwaway Wine prefix), and the in-memory
// registry held to the same behaviour as the real one.
#include "app/memory_registry.h"
#include "app/registry.h"
#include "app/settings.h"
#include "app/settings_store.h"
#include "real_registry_support.h"
#include "settings_test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

using namespace settings_test;

// ---- the five operations: Windows registry and in-memory store side by side ----------------

namespace {

const HKEY kDeadKey = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0xdeadbeef));

class RegistryConformance : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override
    {
        DeleteSettingsKey();
        if (std::string(GetParam()) == "windows")
            m_registry.reset(new WindowsRegistry);
        else
            m_registry.reset(new MemoryRegistry);
    }
    void TearDown() override
    {
        for (HKEY key : m_open)
            m_registry->CloseKey(key);
        DeleteSettingsKey();
    }

    HKEY Create()
    {
        HKEY key = kDeadKey;
        DWORD disposition = 0xdeadbeef;
        LONG result = m_registry->CreateKey(HKEY_CURRENT_USER, SETTINGS_KEY_PATH, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                            KEY_ALL_ACCESS, nullptr, &key, &disposition);
        EXPECT_EQ(ERROR_SUCCESS, result);
        m_open.push_back(key);
        return key;
    }

    void Put(HKEY key, const char* name, DWORD type, std::vector<BYTE> data)
    {
        data.push_back(0x7f); // never a terminator just past string data
        EXPECT_EQ(ERROR_SUCCESS, m_registry->SetValue(key, name, 0, type, data.data(),
                                                      static_cast<DWORD>(data.size() - 1)))
            << name;
    }

    // Queries into a buffer of `size` bytes followed by guard bytes, all 0xde.
    LONG Query(HKEY key, const char* name, DWORD size, std::vector<BYTE>* buffer, DWORD* reported,
               DWORD* type = nullptr)
    {
        buffer->assign(size + 8, 0xde);
        *reported = size;
        return m_registry->QueryValue(key, name, nullptr, type, buffer->data(), reported);
    }

    std::unique_ptr<SettingsRegistry> m_registry;
    std::vector<HKEY> m_open;
};

} // namespace

TEST_P(RegistryConformance, OpeningAMissingKeyFailsAndCreateMakesIt)
{
    HKEY key = kDeadKey;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              m_registry->OpenKey(HKEY_CURRENT_USER, SETTINGS_KEY_PATH, 0, KEY_QUERY_VALUE, &key));
    EXPECT_EQ(nullptr, key);

    HKEY created = kDeadKey;
    DWORD disposition = 0xdeadbeef;
    ASSERT_EQ(ERROR_SUCCESS, m_registry->CreateKey(HKEY_CURRENT_USER, SETTINGS_KEY_PATH, 0, nullptr, 0,
                                                   KEY_ALL_ACCESS, nullptr, &created, &disposition));
    EXPECT_EQ(static_cast<DWORD>(REG_CREATED_NEW_KEY), disposition);
    EXPECT_NE(kDeadKey, created);
    EXPECT_EQ(ERROR_SUCCESS, m_registry->CloseKey(created));

    ASSERT_EQ(ERROR_SUCCESS, m_registry->CreateKey(HKEY_CURRENT_USER, SETTINGS_KEY_PATH, 0, nullptr, 0,
                                                   KEY_ALL_ACCESS, nullptr, &created, &disposition));
    EXPECT_EQ(static_cast<DWORD>(REG_OPENED_EXISTING_KEY), disposition);
    EXPECT_EQ(ERROR_SUCCESS, m_registry->CloseKey(created));

    ASSERT_EQ(ERROR_SUCCESS, m_registry->OpenKey(HKEY_CURRENT_USER, SETTINGS_KEY_PATH, 0, KEY_QUERY_VALUE, &key));
    EXPECT_NE(nullptr, key);
    EXPECT_EQ(ERROR_SUCCESS, m_registry->CloseKey(key));
}

TEST_P(RegistryConformance, ReadsCopyTheDataAndLeaveTheRestOfTheBuffer)
{
    HKEY key = Create();
    Put(key, "BIN2", REG_BINARY, {0x34, 0x12});
    Put(key, "SZ1", REG_SZ, {'1', 0});
    Put(key, "EMPTY", REG_DWORD, {});
    Put(key, "MixedCase", 0x12345, {1, 2, 3});

    std::vector<BYTE> buffer;
    DWORD size;
    DWORD type = 0xdeadbeef;
    EXPECT_EQ(ERROR_SUCCESS, Query(key, "BIN2", 4, &buffer, &size, &type));
    EXPECT_EQ(2u, size);
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
    EXPECT_EQ(std::vector<BYTE>({0x34, 0x12, 0xde, 0xde, 0xde}), std::vector<BYTE>(buffer.begin(), buffer.begin() + 5));

    EXPECT_EQ(ERROR_SUCCESS, Query(key, "SZ1", 4, &buffer, &size));
    EXPECT_EQ(2u, size);
    EXPECT_EQ(std::vector<BYTE>({'1', 0, 0xde, 0xde}), std::vector<BYTE>(buffer.begin(), buffer.begin() + 4));

    EXPECT_EQ(ERROR_SUCCESS, Query(key, "EMPTY", 4, &buffer, &size));
    EXPECT_EQ(0u, size);
    EXPECT_EQ(std::vector<BYTE>(12, 0xde), buffer);

    type = 0xdeadbeef;
    EXPECT_EQ(ERROR_SUCCESS, Query(key, "MIXEDCASE", 16, &buffer, &size, &type)) << "names ignore case";
    EXPECT_EQ(0x12345u, type);
    EXPECT_EQ(3u, size);
    EXPECT_EQ(std::vector<BYTE>({1, 2, 3, 0xde}), std::vector<BYTE>(buffer.begin(), buffer.begin() + 4));

    EXPECT_EQ(ERROR_FILE_NOT_FOUND, Query(key, "ABSENT", 4, &buffer, &size));
    EXPECT_EQ(std::vector<BYTE>(12, 0xde), buffer);
}

TEST_P(RegistryConformance, DataLargerThanTheBufferIsMoreDataAndWritesNothing)
{
    HKEY key = Create();
    Put(key, "BIN6", REG_BINARY, {1, 2, 3, 4, 5, 6});
    Put(key, "SZ6", REG_SZ, {'h', 'e', 'l', 'l', 'o', 0});
    Put(key, "DW5", REG_DWORD, {1, 2, 3, 4, 5});

    for (const char* name : {"BIN6", "SZ6"}) {
        std::vector<BYTE> buffer;
        DWORD size;
        EXPECT_EQ(ERROR_MORE_DATA, Query(key, name, 4, &buffer, &size)) << name;
        EXPECT_EQ(6u, size) << name;
        EXPECT_EQ(std::vector<BYTE>(12, 0xde), buffer) << name;
    }
    std::vector<BYTE> buffer;
    DWORD size;
    EXPECT_EQ(ERROR_MORE_DATA, Query(key, "DW5", 4, &buffer, &size));
    EXPECT_EQ(5u, size);
    EXPECT_EQ(std::vector<BYTE>(12, 0xde), buffer);
}

TEST_P(RegistryConformance, UnterminatedStringGetsATerminatorOnlyWhenThereIsRoom)
{
    HKEY key = Create();
    Put(key, "SZX", REG_SZ, {'x'});
    Put(key, "BINX", REG_BINARY, {'x'});

    std::vector<BYTE> buffer;
    DWORD size;
    EXPECT_EQ(ERROR_SUCCESS, Query(key, "SZX", 4, &buffer, &size));
    EXPECT_EQ(1u, size);
    EXPECT_EQ(std::vector<BYTE>({'x', 0, 0xde, 0xde}), std::vector<BYTE>(buffer.begin(), buffer.begin() + 4));
    EXPECT_EQ(ERROR_SUCCESS, Query(key, "SZX", 1, &buffer, &size));
    EXPECT_EQ(1u, size);
    EXPECT_EQ(std::vector<BYTE>({'x', 0xde}), std::vector<BYTE>(buffer.begin(), buffer.begin() + 2));
    EXPECT_EQ(ERROR_SUCCESS, Query(key, "BINX", 4, &buffer, &size));
    EXPECT_EQ(std::vector<BYTE>({'x', 0xde}), std::vector<BYTE>(buffer.begin(), buffer.begin() + 2));
}

TEST_P(RegistryConformance, AReadOnlyHandleCannotWrite)
{
    Create();
    HKEY key = kDeadKey;
    ASSERT_EQ(ERROR_SUCCESS, m_registry->OpenKey(HKEY_CURRENT_USER, SETTINGS_KEY_PATH, 0, KEY_QUERY_VALUE, &key));
    m_open.push_back(key);
    const BYTE data[4] = {1, 0, 0, 0};
    EXPECT_EQ(ERROR_ACCESS_DENIED, m_registry->SetValue(key, "WIDTH", 0, REG_DWORD, data, 4));
    std::vector<BYTE> buffer;
    DWORD size;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, Query(key, "WIDTH", 4, &buffer, &size));
}

INSTANTIATE_TEST_SUITE_P(Both, RegistryConformance, ::testing::Values("windows", "memory"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

// ---- LoadSettings and SaveSettings on the real registry -------------------------------------

namespace {

class RealSettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        DeleteSettingsKey();
        FillStandardDevices(m_table);
        ResetModeChoiceTable();
        SetSettingsRegistry(nullptr);
        std::memset(&m_settings, 0, sizeof m_settings);
    }
    void TearDown() override
    {
        DeleteSettingsKey();
        ResetModeChoiceTable();
    }

    // The key holds exactly `names`, each with its field's type, the field's width as data size,
    // and the field's bytes from `source`.
    void ExpectKeyHolds(const std::vector<std::string>& names, const SetupSettings& source,
                        const std::set<std::string>& others = {})
    {
        const std::vector<RealValue> values = ReadRealKey();
        std::set<std::string> found;
        for (const RealValue& value : values)
            found.insert(value.name);
        std::set<std::string> expected(names.begin(), names.end());
        expected.insert(others.begin(), others.end());
        EXPECT_EQ(expected, found);
        for (const std::string& name : names) {
            const RealValue* value = FindReal(values, name);
            if (value == nullptr)
                continue;
            const FieldSpec& field = Field(name);
            EXPECT_EQ(field.type, value->type) << name;
            EXPECT_EQ(field.size, value->data.size()) << name;
            EXPECT_EQ(FieldBytes(source, field), value->data) << name;
        }
    }

    DeviceTable m_table;
    SetupSettings m_settings;
};

} // namespace

TEST_F(RealSettingsTest, FirstRunStoresTheSixteenValuesAndALaterRunReadsThem)
{
    ASSERT_FALSE(SettingsKeyExists());
    LoadSettings(m_settings);
    const SetupSettings defaults = StandardDefaults();
    ExpectSameSettings(defaults, m_settings, "first run");
    ExpectKeyHolds(Concat(kFirstRunPass1, kFirstRunPass2), defaults);

    const std::vector<RealValue> values = ReadRealKey();
    EXPECT_EQ(Text(kHardwareName, 40), FindReal(values, "DEVICENAME")->data);
    EXPECT_EQ(Text("No Provider", 1024), FindReal(values, "PROVIDERNAME")->data);
    EXPECT_EQ(std::vector<BYTE>(reinterpret_cast<const BYTE*>(&kHardwareDeviceGuid),
                                reinterpret_cast<const BYTE*>(&kHardwareDeviceGuid) + 16),
              FindReal(values, "GUIDDEVICE")->data);
    EXPECT_EQ(std::vector<BYTE>(16, 0), FindReal(values, "GUIDDRIVER")->data);
    EXPECT_EQ(Dword(1), FindReal(values, "SOUNDMODE")->data);
    EXPECT_EQ(Dword(1), FindReal(values, "ISLIGHTMAP")->data);
    EXPECT_EQ(Dword(480), FindReal(values, "HEIGHT")->data);

    // The second start finds the key: it reads, writes nothing, and the four values a first run
    // leaves out come back as their fallbacks.
    std::memset(&m_settings, 0x33, sizeof m_settings);
    LoadSettings(m_settings);
    ExpectSameSettings(defaults, m_settings, "second run");
    ExpectKeyHolds(Concat(kFirstRunPass1, kFirstRunPass2), defaults);
}

TEST_F(RealSettingsTest, SaveWritesAllTwentyAndTheNextRunReadsThemBack)
{
    PutRealValue("OTHER", REG_DWORD, Dword(0x01020304));
    const SetupSettings record = DistinctSettings();
    SaveSettings(record);

    std::vector<std::string> all = Concat(kSavePass1, kSavePass2);
    ExpectKeyHolds(all, record, {"OTHER"});
    std::vector<RealValue> values = ReadRealKey();
    EXPECT_EQ(21u, values.size());
    ASSERT_NE(nullptr, FindReal(values, "OTHER"));
    EXPECT_EQ(Dword(0x01020304), FindReal(values, "OTHER")->data);

    LoadSettings(m_settings);
    ExpectSameSettings(record, m_settings, "loaded after save");
    EXPECT_EQ(21u, ReadRealKey().size());
}

TEST_F(RealSettingsTest, EmptyKeyIsNotAFirstRun)
{
    CreateSettingsKey();
    LoadSettings(m_settings);
    ExpectSameSettings(StandardDefaults(), m_settings, "empty key");
    EXPECT_TRUE(SettingsKeyExists());
    EXPECT_EQ(0u, ReadRealKey().size()) << "nothing is written at start-up";
}

TEST_F(RealSettingsTest, ShortNumbersReplaceTheirLowBytesAndLongOnesFail)
{
    PutRealValue("WIDTH", REG_SZ, {'1', 0});
    PutRealValue("HEIGHT", REG_BINARY, {0x34, 0x12});
    PutRealValue("BITPERPIXEL", REG_BINARY, {1, 2, 3, 4, 5});
    PutRealValue("ISVOODOO", REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0});
    PutRealValue("SPRITEMODE", REG_DWORD, {0, 0, 0, 0, 0});
    PutRealValue("FOG", REG_BINARY, {0, 0, 0, 0, 0, 0});
    std::memset(&m_settings, 0xa5, sizeof m_settings);
    ReadStoredSettings(m_settings);
    EXPECT_EQ(0xa5a50031u, static_cast<uint32_t>(m_settings.width));
    EXPECT_EQ(0xa5a51234u, static_cast<uint32_t>(m_settings.height));
    EXPECT_EQ(0xa5a5a5a5u, static_cast<uint32_t>(m_settings.bitPerPixel));
    EXPECT_EQ(0xa5a5a5a5u, static_cast<uint32_t>(m_settings.isVoodoo));
    EXPECT_EQ(2, m_settings.spriteMode);
    EXPECT_EQ(1, m_settings.fog);
    EXPECT_EQ(2, m_settings.textureMode) << "missing: fallback";
    EXPECT_EQ(0xa5a5a5a5u, static_cast<uint32_t>(m_settings.soundMode)) << "missing: field kept";

    // Through the whole start-up: the defaults' high bytes are zero.
    std::memset(&m_settings, 0, sizeof m_settings);
    LoadSettings(m_settings);
    EXPECT_EQ(0x31, m_settings.width);
    EXPECT_EQ(0x1234, m_settings.height);
    EXPECT_EQ(16, m_settings.bitPerPixel);
    EXPECT_EQ(0, m_settings.isVoodoo);
}

TEST_F(RealSettingsTest, DimensionsCountsAndRowsAreLoadedAsStored)
{
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
    // The rows still describe the device, not the stored numbers.
    EXPECT_EQ(640, ModeChoiceTable[0].width);
    EXPECT_EQ(800, ModeChoiceTable[1].width);
}

TEST_F(RealSettingsTest, FullWidthTextsComeBackTerminatedAndGoOutWithTheirWidth)
{
    PutRealValue("DEVICENAME", REG_SZ, std::vector<BYTE>(40, 'N'));
    PutRealValue("PROVIDERNAME", REG_SZ, std::vector<BYTE>(1024, 'P'));
    LoadSettings(m_settings);
    EXPECT_EQ(39u, std::strlen(m_settings.deviceName));
    EXPECT_EQ(1023u, std::strlen(m_settings.providerName));
    EXPECT_EQ(std::string(39, 'N'), m_settings.deviceName);

    SaveSettings(m_settings);
    std::vector<RealValue> values = ReadRealKey();
    std::vector<BYTE> name(40, 'N');
    name[39] = 0;
    std::vector<BYTE> provider(1024, 'P');
    provider[1023] = 0;
    EXPECT_EQ(name, FindReal(values, "DEVICENAME")->data);
    EXPECT_EQ(provider, FindReal(values, "PROVIDERNAME")->data);
}

TEST_F(RealSettingsTest, SavingUnterminatedTextsStoresExactlyTheFieldWidth)
{
    // Without a terminator the registry would count one more byte when the byte after the field
    // is zero (isFullScreenMode here), and the next load would reject the value as too large.
    SetupSettings record = DistinctSettings();
    record.isFullScreenMode = 0;
    std::memset(record.deviceName, 'Q', sizeof record.deviceName);
    std::memset(record.providerName, 'R', sizeof record.providerName);
    SaveSettings(record);
    std::vector<RealValue> values = ReadRealKey();
    ASSERT_NE(nullptr, FindReal(values, "DEVICENAME"));
    EXPECT_EQ(40u, FindReal(values, "DEVICENAME")->data.size());
    EXPECT_EQ(0, FindReal(values, "DEVICENAME")->data[39]);
    ASSERT_NE(nullptr, FindReal(values, "PROVIDERNAME"));
    EXPECT_EQ(1024u, FindReal(values, "PROVIDERNAME")->data.size());

    LoadSettings(m_settings);
    EXPECT_EQ(std::string(39, 'Q'), m_settings.deviceName) << "the saved name loads again";
}
