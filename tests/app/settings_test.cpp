// Defaults from hand-filled device tables; persistence in the prefix's registry, failures injected where Wine has none.
#include "app/mode_choice.h"
#include "app/settings_store.h"
#include "support.h"

#include <cstring>

namespace {

using Rows = std::vector<std::vector<int32_t>>;

const char kFullWidthName[] = "A name that fills all forty bytes: 40 ch";
const int32_t kKept = int32_t(0xa5a5a5a5);  // a byte pattern left alone

// The real registry, where call n (from 1) of a kind fails when fail[kind] is n; it counts the keys left open.
enum { kOpen, kCreate, kQuery, kSet };
struct FaultyRegistry final : SettingsRegistry {
    HKEY OpenToRead(const char* path) override { return Fails(kOpen) ? nullptr : Opened(real.OpenToRead(path)); }
    HKEY CreateToWrite(const char* path) override { return Fails(kCreate) ? nullptr : Opened(real.CreateToWrite(path)); }
    bool Query(HKEY key, const char* name, BYTE* data, DWORD size) override { return !Fails(kQuery) && real.Query(key, name, data, size); }
    void Set(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD size) override { if (!Fails(kSet)) real.Set(key, name, type, data, size); }
    void Close(HKEY key) override { --openKeys, real.Close(key); }
    bool Fails(int kind) { return ++calls[kind] == fail[kind]; }
    HKEY Opened(HKEY key) { return openKeys += key != nullptr, key; }
    SettingsRegistry& real = GetSettingsRegistry();
    unsigned fail[4] = {}, calls[4] = {};
    int openKeys = 0;
};

}  // namespace

// The first hardware device supplies name, GUIDs and rows; the default row is its last 640 x 480 x 16, never 640 x 400.
TEST(SetDefaults, TakeTheFirstHardwareDeviceAndItsListedModes)
{
    const struct {
        std::vector<std::pair<bool, std::vector<DDSURFACEDESC2>>> devices;  // hardware?, modes; the second supplies
        Rows rows;                                                           // written from row 0
        int32_t modeCnt;
    } cases[] = {
        {{{false, {MakeMode(512, 512, 16)}},
          {true, {MakeMode(320, 240, 16), MakeMode(640, 400, 16), MakeMode(640, 479, 16), MakeMode(640, 480, 16),
                  MakeMode(640, 480, 32), MakeMode(640, 480, 16), MakeMode(720, 480, 8), MakeMode(720, 480, 16),
                  MakeMode(800, 600, 15), MakeMode(800, 600, 16), MakeMode(800, 600, 16), MakeMode(0x80000000u, 1024, 16)}},
          {true, {MakeMode(1024, 768, 16)}}},
         {{640, 480, 16}, {640, 480, 16}, {720, 480, 16}, {800, 600, 16}, {800, 600, 16}, {int32_t(0x80000000u), 1024, 16}}, 1},
        {{{false, {}}, {true, {MakeMode(800, 600, 16)}}}, {{800, 600, 16}}, kKept},  // no 640 x 480 x 16
        {{{false, {MakeMode(800, 600, 16)}}}, {{640, 480, 16}}, kKept},  // no hardware device
    };
    for (const auto& c : cases) {
        DeviceTable table;
        for (const auto& [hardware, modes] : c.devices)
            table.Add(kFullWidthName, hardware, modes);
        std::fill(ModeChoiceTable, ModeChoiceTable + kModeChoiceRows, ModeChoice{-5, -5, -5});
        SetupSettings s;
        std::memset(&s, 0xa5, sizeof s);
        SetupSettings expected = s;
        s.SetDefaults();
        const bool chosen = c.devices.size() > 1;
        const std::vector<int32_t> numbers = {0, 640, 480, 16, chosen ? 0 : kKept, c.modeCnt, 0, 1, 2, 2, 2, 1, 1, 0, 0, 0};
        std::memcpy(&expected.isFullScreenMode, numbers.data(), 64);
        std::strncpy(expected.providerName, "No Provider", sizeof expected.providerName);  // the rest zero
        if (chosen) {  // the name cut to 39 characters and a terminator
            std::memcpy(expected.deviceName, kFullWidthName, 39);
            expected.deviceName[39] = 0, expected.guidDevice = MakeGuid(0x41), expected.guidDriver = MakeGuid(0x61);
        }
        ExpectSettings(expected, s, "case " + std::to_string(&c - cases));
        Rows rows = c.rows, choices;
        rows.resize(kModeChoiceRows, {-5, -5, -5});
        for (const ModeChoice& row : ModeChoiceTable)
            choices.push_back({row.width, row.height, row.bitPerPixel});
        EXPECT_EQ(rows, choices);
    }
}

// Short data replaces low bytes only, longer data is a failed read, a text that fills its field ends in a zero.
TEST(SettingsStore, StoredDataIsTakenAsItIs)
{
    DeleteSettingsKey();
    using namespace std::string_literals;
    for (auto [name, type, bytes] : {std::make_tuple("WIDTH", REG_SZ, "1\0"s), std::make_tuple("HEIGHT", REG_BINARY, "\x34\x12"s),
                                    std::make_tuple("BITPERPIXEL", REG_BINARY, "\1\2\3\4\5"s), std::make_tuple("MODECNT", REG_DWORD, "\7\0\0\0"s),
                                    std::make_tuple("PROVIDERNAME", REG_SZ, "A"s), std::make_tuple("DEVICENAME", REG_BINARY, std::string(40, 'D'))})
        PutSettingsValue(name, type, bytes);
    SetupSettings s;
    std::memset(&s, 0xa5, sizeof s);
    ReadStoredSettings(s);
    EXPECT_EQ((std::vector<int32_t>{kKept, int32_t(0xa5a50031), int32_t(0xa5a51234), kKept, kKept, 7, kKept, kKept, 2, 2, 2, 1, kKept, kKept, kKept, kKept}),
              Numbers(s));
    EXPECT_EQ(std::string(32, '\xa5'), std::string(reinterpret_cast<const char*>(&s.guidDevice), 32)) << "GUIDs not stored";
    EXPECT_EQ(std::string(39, 'D'), s.deviceName);
    EXPECT_EQ(std::string("A\0\xa5", 3), std::string(s.providerName, 3));  // the registry adds the missing zero
}

// A failed open or create skips only its pass, a failed write or read its value; every key opened is closed.
TEST(SettingsStore, EachFailureSkipsOnlyItsOwnPassOrValue)
{
    const struct {
        int kind;
        unsigned n;
        size_t firstRun, saved, height;  // values stored by a first run and by Save; HEIGHT by the first run
    } writes[] = {{kOpen, 0, 0, 20, 0},                         // a key there without values: not a first run
                  {kOpen, 1, 16, 20, 1},                        // a denied probe: a first run
                  {kCreate, 1, 5, 6, 0}, {kCreate, 2, 11, 14, 1}, {kSet, 3, 15, 19, 0}};  // the third set is HEIGHT
    for (const auto& c : writes) {
        DeleteSettingsKey();
        if (c.kind == kOpen)  // there, but the probe is denied
            GetSettingsRegistry().Close(GetSettingsRegistry().CreateToWrite(SETTINGS_KEY_PATH));
        FaultyRegistry first, save;
        first.fail[c.kind] = save.fail[c.kind] = c.n;
        SetupSettings s{};
        SetSettingsRegistry(&first);
        LoadSettings(s);
        const StoredKey firstRun = ReadSettingsKey();
        DeleteSettingsKey();
        SetSettingsRegistry(&save);
        SaveSettings(s);
        SetSettingsRegistry(nullptr);
        EXPECT_EQ((std::vector<size_t>{c.firstRun, c.saved, c.height, 0}),
                  (std::vector<size_t>{firstRun.size(), ReadSettingsKey().size(), firstRun.count("HEIGHT"), size_t(first.openKeys + save.openKeys)}))
            << c.n;
    }
    SetupSettings sevens{};  // every number stored as 7; the probe is open number 1
    std::fill(&sevens.isFullScreenMode, &sevens.isFullScreenMode + 16, 7);
    SaveSettings(sevens);
    const struct {
        int kind;
        unsigned n;
        std::vector<int32_t> numbers;
    } reads[] = {{kOpen, 2, {0, 640, 480, 16, 0, 0, 0, 1, 2, 2, 2, 1, 7, 7, 7, 7}},
                 {kOpen, 3, {7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 1, 0, 0, 0}},
                 {kQuery, 2, {7, 640, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7}},
                 {kQuery, 11, {7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 2, 7, 7, 7, 7, 7}},
                 {kQuery, 12, {7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 1, 7, 7, 7, 7}},
                 {kQuery, 19, {7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 0}}};
    for (const auto& c : reads) {
        FaultyRegistry registry;
        registry.fail[c.kind] = c.n;
        SetupSettings s{};
        SetSettingsRegistry(&registry);
        LoadSettings(s);
        SetSettingsRegistry(nullptr);
        EXPECT_EQ(c.numbers, Numbers(s)) << c.n;
        EXPECT_EQ((std::vector<size_t>{20, 0}), (std::vector<size_t>{ReadSettingsKey().size(), size_t(registry.openKeys)}));
    }
}
