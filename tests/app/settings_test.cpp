// Defaults from hand-filled device tables; the settings key in the prefix's registry.
#include "app/mode_choice.h"
#include "app/registry.h"
#include "app/settings_store.h"
#include "support.h"

#include <sddl.h>

#include <cstring>
#include <set>

namespace {

const char kFixedDefaults[] = "isFullScreenMode 0, width 640, height 480, bitPerPixel 16, isVoodoo 0, isLightmap 1, "
                              "spriteMode 2, textureMode 2, numSampleType 2, fog 1, soundMode 1, speakerType 0, "
                              "digitalRateType 0, digitalBitsType 0";

SetupSettings Filled(unsigned char pattern)
{
    SetupSettings s;
    std::memset(&s, pattern, sizeof s);
    return s;
}

// Numbers all `number`, the default provider name, zeros elsewhere.
SetupSettings Numbers(int32_t number)
{
    SetupSettings s {};
    std::fill(&s.isFullScreenMode, &s.digitalBitsType + 1, number);
    std::strcpy(s.providerName, "No Provider");
    return s;
}

std::set<std::string> StoredNames()
{
    std::set<std::string> names;
    for (const auto& [name, value] : ReadSettingsKey())
        names.insert(name);
    return names;
}

// The real registry, counting the keys it opened and those it closed.
struct CountingRegistry final : SettingsRegistry {
    HKEY OpenToRead(const char* path) override { return Opened(real.OpenToRead(path)); }
    HKEY CreateToWrite(const char* path) override { return Opened(real.CreateToWrite(path)); }
    bool Query(HKEY key, const char* name, BYTE* data, DWORD size) override
    {
        return real.Query(key, name, data, size);
    }
    void Set(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD size) override
    {
        real.Set(key, name, type, data, size);
    }
    void Close(HKEY key) override
    {
        ++closed;
        real.Close(key);
    }
    HKEY Opened(HKEY key)
    {
        opened += key != nullptr ? 1 : 0;
        return key;
    }
    SettingsRegistry& real = GetSettingsRegistry();
    int opened = 0;
    int closed = 0;
};

// Gives the settings key a security descriptor in the platform's text form.
void SecureSettingsKey(const char* descriptor)
{
    PSECURITY_DESCRIPTOR security = nullptr;
    ConvertStringSecurityDescriptorToSecurityDescriptorA(descriptor, SDDL_REVISION_1, &security, nullptr);
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY_PATH, 0, WRITE_DAC, &key));
    EXPECT_EQ(ERROR_SUCCESS, RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, security));
    RegCloseKey(key);
    LocalFree(security);
}

}  // namespace

// The first hardware device supplies name, GUIDs and rows, the default row its last 640 x 480 x 16.
TEST(SetDefaults, TakeTheFirstHardwareDeviceAndItsListedModes)
{
    const char name[] = "A name that fills all forty bytes: 40 ch";
    const std::vector<DDSURFACEDESC2> listed
        = {MakeMode(320, 240, 16), MakeMode(640, 400, 16), MakeMode(640, 479, 16),         MakeMode(640, 480, 16),
           MakeMode(640, 480, 32), MakeMode(640, 480, 16), MakeMode(640, 512, 16),         MakeMode(720, 480, 8),
           MakeMode(720, 480, 16), MakeMode(800, 600, 15), MakeMode(0x80000000u, 1024, 16)};
    const struct {
        std::vector<std::pair<bool, std::vector<DDSURFACEDESC2>>> devices;  // hardware?, modes
        const char* rows;                                                   // then the first row that is left alone
        const char* numbers;
    } cases[] = {
        {{{false, {MakeMode(512, 512, 16)}}, {true, listed}, {true, {MakeMode(1024, 768, 16)}}},
         "640 x 480 x 16\n640 x 480 x 16\n640 x 512 x 16\n720 x 480 x 16\n2147483648 x 1024 x 16\n1 x 2 x 3\n",
         "deviceCnt 0, modeCnt 1"},
        {{{false, {}}, {true, {MakeMode(800, 600, 16)}}}, "800 x 600 x 16\n1 x 2 x 3\n", "deviceCnt 0"},
        {{{false, {MakeMode(800, 600, 16)}}}, "640 x 480 x 16\n1 x 2 x 3\n", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rows);
        DeviceTable table;
        for (const auto& [hardware, modes] : c.devices)
            table.Add(name, hardware, modes);
        std::fill(ModeChoiceTable, ModeChoiceTable + kModeChoiceRows, ModeChoice {1, 2, 3});
        SetupSettings s = Filled(0xa5);
        s.SetDefaults();

        SetupSettings expected = With(Filled(0xa5), kFixedDefaults + std::string(", ") + c.numbers);
        std::strncpy(expected.providerName, "No Provider", sizeof expected.providerName);
        if (c.devices.size() > 1) {
            std::memcpy(expected.deviceName, name, 39);
            expected.deviceName[39] = '\0';
            expected.guidDevice = MakeGuid(0x41);
            expected.guidDriver = MakeGuid(0x61);
        }
        EXPECT_EQ(SettingsText(expected), SettingsText(s));
        std::string rows;
        for (const ModeChoice& row : ModeChoiceTable) {
            rows += DisplayModeText(row.width, row.height, row.bitPerPixel) + "\n";
            if (row.width == 1)
                break;
        }
        EXPECT_EQ(c.rows, rows);
    }
}

// Shorter data replaces the low bytes, longer data fails, a full text is cut; four values fall back to defaults.
TEST(SettingsStore, StoredDataIsTakenAsItIs)
{
    DeleteSettingsKey();
    PutSettingsValue("WIDTH", REG_SZ, std::string("1", 2));
    PutSettingsValue("HEIGHT", REG_BINARY, "\x34\x12");
    PutSettingsValue("BITPERPIXEL", REG_BINARY, "\1\2\3\4\5");
    PutSettingsValue("MODECNT", REG_DWORD, std::string("\7\0\0\0", 4));
    PutSettingsValue("DEVICENAME", REG_BINARY, std::string(40, 'D'));
    SetupSettings s = Filled(0xa5);
    ReadStoredSettings(s);

    SetupSettings expected = With(Filled(0xa5), "modeCnt 7, spriteMode 2, textureMode 2, numSampleType 2, fog 1");
    expected.width = int32_t(0xa5a50031);
    expected.height = int32_t(0xa5a51234);
    std::memset(expected.deviceName, 'D', 39);
    expected.deviceName[39] = '\0';
    EXPECT_EQ(SettingsText(expected), SettingsText(s));
}

// Without the key a first run stores sixteen values; a key without values is no first run. Keys are closed.
TEST(SettingsStore, AFirstRunStoresSixteenValuesAndOkTwenty)
{
    std::set<std::string> names
        = {"ISFULLSCREENMODE", "WIDTH",           "HEIGHT",          "BITPERPIXEL", "DEVICECNT",  "MODECNT",
           "ISVOODOO",         "ISLIGHTMAP",      "DEVICENAME",      "GUIDDEVICE",  "GUIDDRIVER", "SOUNDMODE",
           "SPEAKERTYPE",      "DIGITALRATETYPE", "DIGITALBITSTYPE", "PROVIDERNAME"};
    CountingRegistry registry;
    SetSettingsRegistry(&registry);
    DeleteSettingsKey();
    SetupSettings s {};
    LoadSettings(s);
    EXPECT_EQ(names, StoredNames()) << "a first run";

    DeleteSettingsKey();
    PutSettingsValue("OTHER", REG_DWORD, std::string(4, '\0'));
    s = {};
    LoadSettings(s);
    EXPECT_EQ(std::set<std::string> {"OTHER"}, StoredNames()) << "no first run";
    EXPECT_EQ(SettingsText(With(Numbers(0), kFixedDefaults)), SettingsText(s));
    SaveSettings(s);
    SetSettingsRegistry(nullptr);
    names.insert({"SPRITEMODE", "TEXTUREMODE", "NUMSAMPLETYPE", "FOG", "OTHER"});
    EXPECT_EQ(names, StoredNames()) << "Ok";
    EXPECT_EQ(7, registry.opened) << "keys opened: two passes, then the probe and two, then two";
    EXPECT_EQ(7, registry.closed) << "keys closed";
}

// A key that the player may read but not write is not a first run: its values are loaded.
TEST(SettingsStore, AKeyThatCanOnlyBeReadIsLoaded)
{
    DeleteSettingsKey();
    SetupSettings stored = Numbers(7);
    std::strcpy(stored.providerName, "Stored Provider");
    SaveSettings(stored);
    SecureSettingsKey("D:P(A;;KR;;;WD)");  // everyone may read it, nobody write it
    HKEY key;
    const bool writable = RegOpenKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY_PATH, 0, KEY_SET_VALUE, &key) == 0;
    if (writable)
        RegCloseKey(key);
    SetupSettings s {};
    LoadSettings(s);
    SecureSettingsKey("D:P(A;;KA;;;WD)");
    DeleteSettingsKey();
    if (writable)
        GTEST_SKIP() << "this registry lets anyone write a key whose security forbids it";
    EXPECT_EQ(SettingsText(stored), SettingsText(s));
}
