// Defaults from hand-filled device tables; the settings key in the prefix's registry, with
// failures injected where Wine has none.
#include "app/mode_choice.h"
#include "app/registry.h"
#include "app/settings_store.h"
#include "support.h"

#include <sddl.h>

#include <cstring>
#include <set>

namespace {

const ModeChoice kUntouchedRow {1, 2, 3};
const char kFixedDefaults[] = "isFullScreenMode 0, width 640, height 480, bitPerPixel 16, isVoodoo 0, isLightmap 1, "
                              "spriteMode 2, textureMode 2, numSampleType 2, fog 1, soundMode 1, speakerType 0, "
                              "digitalRateType 0, digitalBitsType 0";

// A record whose every byte is `pattern`, or whose numbers are all `number` and the rest zero
// with the default provider name.
SetupSettings Filled(unsigned char pattern)
{
    SetupSettings s;
    std::memset(&s, pattern, sizeof s);
    return s;
}
SetupSettings Numbers(int32_t number)
{
    SetupSettings s {};
    std::fill(&s.isFullScreenMode, &s.digitalBitsType + 1, number);
    std::strcpy(s.providerName, "No Provider");
    return s;
}

using Names = std::set<std::string>;
Names operator+(Names names, const Names& more)
{
    names.insert(more.begin(), more.end());
    return names;
}
Names StoredNames()
{
    Names names;
    for (const auto& [name, value] : ReadSettingsKey())
        names.insert(name);
    return names;
}

// The real registry, where call n (from 1) of a kind fails when fail[kind] is n. It counts the
// keys it opened and that are not closed yet.
enum CallKind { kOpen, kCreate, kQuery, kSet };
struct FaultyRegistry final : SettingsRegistry {
    HKEY OpenToRead(const char* path) override { return Fails(kOpen) ? nullptr : Opened(real.OpenToRead(path)); }
    HKEY CreateToWrite(const char* path) override
    {
        return Fails(kCreate) ? nullptr : Opened(real.CreateToWrite(path));
    }
    bool Query(HKEY key, const char* name, BYTE* data, DWORD size) override
    {
        return !Fails(kQuery) && real.Query(key, name, data, size);
    }
    void Set(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD size) override
    {
        if (!Fails(kSet))
            real.Set(key, name, type, data, size);
    }
    void Close(HKEY key) override
    {
        --openKeys;
        real.Close(key);
    }
    bool Fails(CallKind kind) { return ++calls[kind] == fail[kind]; }
    HKEY Opened(HKEY key)
    {
        openKeys += key != nullptr ? 1 : 0;
        return key;
    }
    SettingsRegistry& real = GetSettingsRegistry();
    unsigned fail[4] = {};
    unsigned calls[4] = {};
    int openKeys = 0;
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

// The first hardware device supplies name, GUIDs and rows; the default row is its last
// 640 x 480 x 16. The rows after the list keep what they held.
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
        std::fill(ModeChoiceTable, ModeChoiceTable + kModeChoiceRows, kUntouchedRow);
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
            if (row.width == kUntouchedRow.width)
                break;
        }
        EXPECT_EQ(c.rows, rows);
    }
}

// Shorter data replaces the low bytes only, longer data is a failed read, a text that fills its
// field gets a terminator; the four values a first run leaves out fall back to their defaults.
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

// A failed open or create skips only its own pass, a failed write or read its own value, and
// every key opened is closed.
TEST(SettingsStore, EachFailureSkipsOnlyItsOwnPassOrValue)
{
    const Names pass1 = {"ISFULLSCREENMODE", "WIDTH",      "BITPERPIXEL", "DEVICECNT",  "MODECNT",
                         "ISVOODOO",         "ISLIGHTMAP", "DEVICENAME",  "GUIDDEVICE", "GUIDDRIVER"};
    const Names sound = {"SOUNDMODE", "SPEAKERTYPE", "DIGITALRATETYPE", "DIGITALBITSTYPE", "PROVIDERNAME"};
    const Names height = {"HEIGHT"};
    const Names detail = {"SPRITEMODE", "TEXTUREMODE", "FOG"};
    const Names channels = {"NUMSAMPLETYPE"};
    const Names all = pass1 + height + sound + detail + channels;
    const struct {
        const char* name;
        CallKind kind;
        unsigned call;
        Names loaded, saved;  // the values that LoadSettings stores, and that SaveSettings alone stores
    } writes[] = {
        {"a key without values: no first run", kOpen, 0, {"OTHER"}, all},
        {"the probe denied: a first run", kOpen, 1, pass1 + height + sound + Names {"OTHER"}, all},
        {"the first create fails", kCreate, 1, sound, sound + channels},
        {"the second create fails", kCreate, 2, pass1 + height, pass1 + height + detail},
        {"the third write, HEIGHT, fails", kSet, 3, pass1 + sound, pass1 + sound + detail + channels},
    };
    for (const auto& c : writes) {
        SCOPED_TRACE(c.name);
        DeleteSettingsKey();
        if (c.kind == kOpen)
            PutSettingsValue("OTHER", REG_DWORD, std::string(4, '\0'));
        FaultyRegistry load;
        load.fail[c.kind] = c.call;
        SetupSettings s {};
        SetSettingsRegistry(&load);
        LoadSettings(s);
        EXPECT_EQ(c.loaded, StoredNames());
        DeleteSettingsKey();
        FaultyRegistry save;
        save.fail[c.kind] = c.call;
        SetSettingsRegistry(&save);
        SaveSettings(s);
        SetSettingsRegistry(nullptr);
        EXPECT_EQ(c.saved, StoredNames());
        EXPECT_EQ(0, load.openKeys + save.openKeys) << "keys left open";
    }

    SaveSettings(Numbers(7));
    const struct {
        const char* name;
        CallKind kind;
        unsigned call;  // the probe is open 1
        SetupSettings expected;
    } reads[] = {
        {"pass 1 not opened", kOpen, 2,
         With(Numbers(0),
              std::string(kFixedDefaults)
                  + ", soundMode 7, speakerType 7, digitalRateType 7, "
                    "digitalBitsType 7")},
        {"pass 2 not opened", kOpen, 3,
         With(Numbers(7), "soundMode 1, speakerType 0, digitalRateType 0, digitalBitsType 0")},
        {"NUMSAMPLETYPE not read", kQuery, 11, With(Numbers(7), "numSampleType 2")},
        {"DIGITALBITSTYPE not read", kQuery, 19, With(Numbers(7), "digitalBitsType 0")},
    };
    for (const auto& c : reads) {
        FaultyRegistry registry;
        registry.fail[c.kind] = c.call;
        SetupSettings s {};
        SetSettingsRegistry(&registry);
        LoadSettings(s);
        SetSettingsRegistry(nullptr);
        EXPECT_EQ(SettingsText(c.expected), SettingsText(s)) << c.name;
        EXPECT_EQ(0, registry.openKeys) << c.name << ": keys left open";
    }
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
