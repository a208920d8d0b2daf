// The setup dialog from its real template under Wine: lists, selections and the settings record
// after initialisation, every store a control makes, device and mode changes, Ok and Cancel.
#include "dialog_runner.h"

#include "app/memory_registry.h"
#include "app/mode_choice.h"
#include "app/registry.h"
#include "app/settings.h"
#include "res/resource.h"
#include "settings_test_support.h"

#include <commctrl.h>

#include <array>
#include <cstdio>
#include <cstring>

#include <gtest/gtest.h>

using namespace dialog_test;
using namespace settings_test;

namespace {

using Rows = std::array<ModeChoice, kModeChoiceRows>;

// Rows that no device has: a row that keeps it was not written.
Rows SentinelRows()
{
    Rows rows;
    for (int r = 0; r < static_cast<int>(kModeChoiceRows); ++r)
        rows[r] = ModeChoice{-1000 - r, -2000 - r, 0x5e};
    return rows;
}

void ResetRows()
{
    const Rows sentinel = SentinelRows();
    std::memcpy(ModeChoiceTable, sentinel.data(), sizeof ModeChoiceTable);
}

Rows Overlay(Rows rows, const std::vector<ModeChoice>& listed)
{
    for (size_t r = 0; r < listed.size(); ++r)
        rows[r] = listed[r];
    return rows;
}

void ExpectRows(const Rows& expected, const std::string& context)
{
    for (size_t r = 0; r < kModeChoiceRows; ++r) {
        const ModeChoice& got = ModeChoiceTable[r];
        EXPECT_TRUE(got.width == expected[r].width && got.height == expected[r].height &&
                    got.bitPerPixel == expected[r].bitPerPixel)
            << context << ": row " << r << " is " << got.width << " x " << got.height << " x " << got.bitPerPixel
            << ", expected " << expected[r].width << " x " << expected[r].height << " x " << expected[r].bitPerPixel;
    }
}

const GUID kPrimaryGuid = MakeGuid(0x31);
const GUID kSecondaryGuid = MakeGuid(0x51);
const GUID kSecondaryDriver = MakeGuid(0x61);
const GUID kThirdGuid = MakeGuid(0x71);
const GUID kThirdDriver = MakeGuid(0x81);

// Six listed modes among modes of other depths and of fewer than 480 lines.
std::vector<DDSURFACEDESC2> PrimaryModes()
{
    return {Mode(320, 240, 16), Mode(640, 400, 16),  Mode(640, 480, 16),   Mode(640, 480, 32),
            Mode(720, 480, 16), Mode(800, 600, 16),  Mode(800, 600, 24),   Mode(1024, 768, 8),
            Mode(1024, 768, 16), Mode(1280, 960, 16), Mode(1280, 1024, 16)};
}
const std::vector<std::string> kPrimaryItems = {"640 x 480 x 16",  "720 x 480 x 16",  "800 x 600 x 16",
                                                "1024 x 768 x 16", "1280 x 960 x 16", "1280 x 1024 x 16"};
const std::vector<ModeChoice> kPrimaryRows = {{640, 480, 16},  {720, 480, 16},  {800, 600, 16},
                                              {1024, 768, 16}, {1280, 960, 16}, {1280, 1024, 16}};

std::vector<DDSURFACEDESC2> SecondaryModes()
{
    return {Mode(512, 384, 16), Mode(640, 480, 16), Mode(800, 600, 16), Mode(800, 600, 32), Mode(1600, 1200, 16)};
}
const std::vector<std::string> kSecondaryItems = {"640 x 480 x 16", "800 x 600 x 16", "1600 x 1200 x 16"};
const std::vector<ModeChoice> kSecondaryRows = {{640, 480, 16}, {800, 600, 16}, {1600, 1200, 16}};

std::vector<DDSURFACEDESC2> ThirdModes()
{
    return {Mode(640, 480, 16),   Mode(800, 600, 16),   Mode(848, 480, 16),   Mode(1024, 768, 16),
            Mode(1152, 864, 16),  Mode(1280, 720, 16),  Mode(1280, 1024, 16), Mode(1920, 1080, 16),
            Mode(1920, 1080, 32)};
}
const std::vector<std::string> kThirdItems = {"640 x 480 x 16",   "800 x 600 x 16",   "848 x 480 x 16",
                                              "1024 x 768 x 16",  "1152 x 864 x 16",  "1280 x 720 x 16",
                                              "1280 x 1024 x 16", "1920 x 1080 x 16"};
const std::vector<ModeChoice> kThirdRows = {{640, 480, 16},   {800, 600, 16},   {848, 480, 16},
                                            {1024, 768, 16},  {1152, 864, 16},  {1280, 720, 16},
                                            {1280, 1024, 16}, {1920, 1080, 16}};

// Primary (hardware, primary driver), a software device, Secondary (hardware), optionally Third
// (hardware); then a rejected record left behind at the accepted count, which is never held.
void FillDevices(DeviceTable& table, bool withThird)
{
    table.Add("Primary HAL", true, kPrimaryGuid, GUID{}, PrimaryModes());
    table.Add("Software RGB", false, MakeGuid(0x41), GUID{}, {Mode(640, 480, 16), Mode(2048, 1536, 16)});
    table.Add("Secondary HAL", true, kSecondaryGuid, kSecondaryDriver, SecondaryModes());
    if (withThird)
        table.Add("Third HAL", true, kThirdGuid, kThirdDriver, ThirdModes());
    table.Add("Rejected HAL", true, MakeGuid(0x91), GUID{}, ThirdModes());
    --g_displayDeviceTable.acceptedDeviceCount;
}

// A stored record with texts whose bytes after the terminator are not zero.
SetupSettings Stored(const std::vector<int32_t>& numbers)
{
    SetupSettings s{};
    s.guidDevice = MakeGuid(0xa0);
    s.guidDriver = MakeGuid(0xb0);
    std::memset(s.deviceName, 'z', sizeof s.deviceName - 1);
    std::memcpy(s.deviceName, "Stored Device Name", 19);
    std::memset(s.providerName, 'p', sizeof s.providerName - 1);
    std::memcpy(s.providerName, "Stored Provider", 16);
    SetNumbers(s, numbers);
    return s;
}

// full screen, width, height, bits, device, mode, voodoo, lightmap, sprite, texture, channels,
// fog, sound mode, speaker, rate, sound bits
const std::vector<int32_t> kInRange = {1, 1234, 567, 24, 0, 1, 0, 1, 0, 2, 1, 0, 0, 1, 2, 0};

void TakeIdentity(SetupSettings& s, const char* name, const GUID& device, const GUID& driver)
{
    std::memcpy(s.deviceName, name, std::strlen(name) + 1);
    s.guidDevice = device;
    s.guidDriver = driver;
}

std::vector<BYTE> StoredBytes(const MemoryRegistry& registry, const char* name)
{
    const StoredValue* value = registry.FindValue(HKEY_CURRENT_USER, SETTINGS_KEY_PATH, name);
    return value ? value->data : std::vector<BYTE>{0xde, 0xad};
}

class SetupDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(TRUE, RegisterCommonControlClasses());
        m_savedSettings = g_setupSettings;
        std::memcpy(m_savedRows, ModeChoiceTable, sizeof m_savedRows);
        ResetRows();
        SetSettingsRegistry(&m_registry);
    }
    void TearDown() override
    {
        SetSettingsRegistry(nullptr);
        g_setupSettings = m_savedSettings;
        std::memcpy(ModeChoiceTable, m_savedRows, sizeof m_savedRows);
    }

    DeviceTable m_table;
    MemoryRegistry m_registry;
    SetupSettings m_savedSettings;
    ModeChoice m_savedRows[kModeChoiceRows];
};

} // namespace

TEST_F(SetupDialogTest, InitialisationShowsTheStoredSettingsAndChangesNothing)
{
    struct Case {
        const char* name;
        std::vector<int32_t> numbers;
        int device, mode;
        std::vector<std::string> modeItems;
        std::vector<ModeChoice> rows;
        int soundMode, speaker, frequency, soundBits, channels;
        int voodoo, lightmap, fullScreen, fog, sprite, texture;
    } cases[] = {
        {"in range, second hardware device", {1, 1234, 567, 24, 1, 2, 0, 1, 0, 2, 1, 0, 0, 1, 2, 0},
         1, 2, kSecondaryItems, kSecondaryRows, 0, 1, 2, 0, 1, 0, 1, 1, 0, 0, 2},
        {"in range, first hardware device", {0, 640, 480, 16, 0, 5, 1, 0, 1, 1, 2, 1, 2, 3, 0, 1},
         0, 5, kPrimaryItems, kPrimaryRows, 2, 3, 0, 1, 2, 1, 0, 0, 1, 1, 1},
        // deviceCnt equal to the number of hardware devices: nothing to list or select.
        {"out of range", {0, 1234, 567, 24, 2, 0, 1, 1, 5, -3, 3, 1, 7, -1, 3, 2},
         -1, -1, {}, {}, -1, -1, -1, -1, -1, 1, 1, 0, 1, 2, 0},
    };
    FillDevices(m_table, false);
    for (const Case& c : cases) {
        const SetupSettings before = Stored(c.numbers);
        g_setupSettings = before;
        ResetRows();
        m_registry.ClearLog();
        const INT_PTR end = RunSetupDialog([&](CSetupDlg& d) {
            ExpectSameSettings(before, g_setupSettings, c.name);
            ExpectRows(Overlay(SentinelRows(), c.rows), c.name);
            EXPECT_EQ(std::vector<std::string>({"Primary HAL", "Secondary HAL"}), Items(d.m_cbDevice)) << c.name;
            EXPECT_EQ(c.modeItems, Items(d.m_cbResolution)) << c.name;
            EXPECT_EQ(std::vector<std::string>({"No Sound", "Use 2D Sound", "Use 3D Sound"}), Items(d.m_cbSoundMode));
            EXPECT_EQ(std::vector<std::string>({"2 SPEAKER", "HEADPHONE", "SURROUND", "4 SPEAKER"}),
                      Items(d.m_cbSpeaker));
            EXPECT_EQ(std::vector<std::string>({"22k", "11k", "8k"}), Items(d.m_cbFrequency));
            EXPECT_EQ(std::vector<std::string>({"16 Bit", "8 Bit"}), Items(d.m_cbSoundBits));
            EXPECT_EQ(std::vector<std::string>({"48 Channel", "32 Channel", "16 Channel"}), Items(d.m_cbChannels));
            const int selections[] = {d.m_cbDevice.GetCurSel(),    d.m_cbResolution.GetCurSel(),
                                      d.m_cbSoundMode.GetCurSel(), d.m_cbSpeaker.GetCurSel(),
                                      d.m_cbFrequency.GetCurSel(), d.m_cbSoundBits.GetCurSel(),
                                      d.m_cbChannels.GetCurSel()};
            const int expected[] = {c.device, c.mode, c.soundMode, c.speaker, c.frequency, c.soundBits, c.channels};
            for (int i = 0; i < 7; ++i)
                EXPECT_EQ(expected[i], selections[i]) << c.name << ": list " << i << " of device, resolution, "
                                                      << "sound mode, speaker, frequency, sound bits, channels";
            EXPECT_EQ(c.voodoo, d.m_chkVoodoo.GetCheck()) << c.name;
            EXPECT_EQ(c.lightmap, d.m_chkLightmap.GetCheck()) << c.name;
            EXPECT_EQ(c.fullScreen, d.m_chkFullScreen.GetCheck()) << c.name;
            EXPECT_EQ(c.fog, d.m_chkFog.GetCheck()) << c.name;
            for (CSliderCtrl* bar : {&d.m_sldSprite, &d.m_sldTexture}) {
                EXPECT_EQ(0, bar->GetRangeMin()) << c.name;
                EXPECT_EQ(2, bar->GetRangeMax()) << c.name;
            }
            EXPECT_EQ(c.sprite, d.m_sldSprite.GetPos()) << c.name;
            EXPECT_EQ(c.texture, d.m_sldTexture.GetPos()) << c.name;
            EXPECT_EQ(d.GetDlgItem(IDOK), ::GetFocus()) << c.name << ": the first tab stop has the focus";
            EndWith(VK_ESCAPE);
        });
        EXPECT_EQ(IDCANCEL, end) << c.name;
        ExpectSameSettings(before, g_setupSettings, c.name);
        EXPECT_EQ(0u, m_registry.Calls().size()) << c.name << ": Cancel stores nothing";
    }
}

// Ok after the out-of-range values: the lists without a selection give -1 for the device and
// the mode, every other value goes back as it was loaded, and the mode fields stay.
TEST_F(SetupDialogTest, OkWithoutASelectableDeviceOrModeStoresMinusOneAndKeepsTheRest)
{
    struct Case {
        const char* name;
        int32_t deviceCnt, modeCnt;
        bool softwareOnly;
        size_t modeItems;
        int32_t storedDevice;
    } cases[] = {
        {"device count equal to the hardware devices", 2, 0, false, 0, -1},
        {"device -1", -1, 1, false, 0, -1},
        {"mode 40 of a six-mode list", 0, 40, false, 6, 0},
        {"mode 1000", 0, 1000, false, 6, 0},
        {"mode -1", 0, -1, false, 6, 0},
        {"software devices only", 0, 0, true, 0, -1},
    };
    for (const Case& c : cases) {
        DeviceTable::Clear();
        DeviceTable table;
        if (c.softwareOnly)
            table.Add("Software RGB", false, MakeGuid(0x41), GUID{}, PrimaryModes());
        else
            FillDevices(table, false);
        SetupSettings before = Stored({0, 1234, 567, 24, c.deviceCnt, c.modeCnt, 1, 0, 5, 2, 1, 1, 7, 9, 1, 1});
        g_setupSettings = before;
        ResetRows();
        m_registry.ClearLog();
        const INT_PTR end = RunSetupDialog([&](CSetupDlg& d) {
            EXPECT_EQ(c.modeItems, Items(d.m_cbResolution).size()) << c.name;
            EXPECT_EQ(-1, d.m_cbResolution.GetCurSel()) << c.name;
            EXPECT_EQ(-1, d.m_cbSoundMode.GetCurSel()) << c.name;
            EXPECT_EQ(2, d.m_sldSprite.GetPos()) << c.name << ": a stored 5 shows the right end";
            EndWith(VK_RETURN);
        });
        EXPECT_EQ(IDOK, end) << c.name;
        SetupSettings expected = before;
        expected.deviceCnt = c.storedDevice;
        expected.modeCnt = -1;
        if (c.storedDevice == 0)
            TakeIdentity(expected, "Primary HAL", kPrimaryGuid, GUID{});
        ExpectSameSettings(expected, g_setupSettings, c.name);
        ExpectRows(Overlay(SentinelRows(), c.modeItems ? kPrimaryRows : std::vector<ModeChoice>{}), c.name);
        EXPECT_EQ(Dword(static_cast<uint32_t>(c.storedDevice)), StoredBytes(m_registry, "DEVICECNT")) << c.name;
        EXPECT_EQ(Dword(0xffffffffu), StoredBytes(m_registry, "MODECNT")) << c.name;
        EXPECT_EQ(Dword(1234), StoredBytes(m_registry, "WIDTH")) << c.name;
        EXPECT_EQ(Dword(7), StoredBytes(m_registry, "SOUNDMODE")) << c.name;
        EXPECT_EQ(Dword(5), StoredBytes(m_registry, "SPRITEMODE")) << c.name;
    }
}

// Each control driven as a user does writes its own field and no other byte of the record; a
// trackbar moved by keyboard reports no release and stores nothing; Cancel stores nothing.
TEST_F(SetupDialogTest, EachControlStoresExactlyItsFieldAtOnce)
{
    enum Action { Press, Toggle, Drag };
    struct Step {
        int id;
        Action action;
        int argument; // key or trackbar position
        size_t offset;
        int32_t value;
    } steps[] = {
        {IDC_SOUNDMODE, Press, VK_END, offsetof(SetupSettings, soundMode), 2},
        {IDC_SPEAKER, Press, VK_DOWN, offsetof(SetupSettings, speakerType), 2},
        {IDC_FREQUENCY, Press, VK_HOME, offsetof(SetupSettings, digitalRateType), 0},
        {IDC_SOUNDBITS, Press, VK_DOWN, offsetof(SetupSettings, digitalBitsType), 1},
        {IDC_CHANNELS, Press, VK_UP, offsetof(SetupSettings, numSampleType), 0},
        {IDC_VOODOO, Toggle, 0, offsetof(SetupSettings, isVoodoo), 1},
        {IDC_LIGHTMAP, Toggle, 0, offsetof(SetupSettings, isLightmap), 0},
        {IDC_FULLSCREEN, Toggle, 0, offsetof(SetupSettings, isFullScreenMode), 0},
        {IDC_FOG, Toggle, 0, offsetof(SetupSettings, fog), 1},
        {IDC_SPRITE_DETAIL, Drag, 1, offsetof(SetupSettings, spriteMode), 1},
        {IDC_TEXTURE_DETAIL, Drag, 0, offsetof(SetupSettings, textureMode), 0},
        {IDC_SOUNDMODE, Press, VK_UP, offsetof(SetupSettings, soundMode), 1},
        {IDC_VOODOO, Toggle, 0, offsetof(SetupSettings, isVoodoo), 0},
    };
    FillDevices(m_table, false);
    g_setupSettings = Stored(kInRange);
    SetupSettings last{};
    const INT_PTR end = RunSetupDialog([&](CSetupDlg& d) {
        for (const Step& s : steps) {
            const SetupSettings before = g_setupSettings;
            HWND control = d.GetDlgItem(s.id);
            if (s.action == Press)
                Key(control, static_cast<WPARAM>(s.argument));
            else if (s.action == Toggle)
                Click(control);
            else
                DragThumb(control, s.argument);
            SetupSettings expected = before;
            std::memcpy(reinterpret_cast<BYTE*>(&expected) + s.offset, &s.value, sizeof s.value);
            ExpectSameSettings(expected, g_setupSettings, "control " + std::to_string(s.id));
            const LRESULT shown = s.action == Press    ? ::SendMessageA(control, CB_GETCURSEL, 0, 0)
                                  : s.action == Toggle ? ::SendMessageA(control, BM_GETCHECK, 0, 0)
                                                       : ::SendMessageA(control, TBM_GETPOS, 0, 0);
            EXPECT_EQ(s.value, shown) << "control " << s.id;
        }
        // The keyboard moves a trackbar without a release report: nothing is stored.
        const SetupSettings before = g_setupSettings;
        Key(d.m_sldSprite.m_hWnd, VK_RIGHT);
        Key(d.m_sldTexture.m_hWnd, VK_END);
        EXPECT_EQ(2, d.m_sldSprite.GetPos());
        EXPECT_EQ(2, d.m_sldTexture.GetPos());
        ExpectSameSettings(before, g_setupSettings, "keyboard on the trackbars");
        last = g_setupSettings;
        EndWith(VK_ESCAPE);
    });
    EXPECT_EQ(IDCANCEL, end);
    ExpectSameSettings(last, g_setupSettings, "after Cancel");
    EXPECT_EQ(0u, m_registry.Calls().size()) << "Cancel stores nothing";
}

// A device change rebuilds the resolution list and its rows and keeps the chosen row; the mode
// fields follow only a pick of a resolution or Ok.
TEST_F(SetupDialogTest, DeviceChangeRebuildsTheListAndKeepsTheRow)
{
    FillDevices(m_table, true);
    const SetupSettings before = Stored({1, 1234, 567, 24, 0, 5, 0, 1, 0, 2, 1, 0, 0, 1, 2, 0});
    const Rows primary = Overlay(SentinelRows(), kPrimaryRows);

    // To a device with fewer modes: no selection, and Ok stores modeCnt -1.
    g_setupSettings = before;
    INT_PTR end = RunSetupDialog([&](CSetupDlg& d) {
        EXPECT_EQ(5, d.m_cbResolution.GetCurSel());
        Key(d.m_cbDevice.m_hWnd, VK_DOWN);
        SetupSettings expected = before;
        expected.deviceCnt = 1; // table index 2: the software record does not count
        TakeIdentity(expected, "Secondary HAL", kSecondaryGuid, kSecondaryDriver);
        ExpectSameSettings(expected, g_setupSettings, "to Secondary");
        EXPECT_EQ(kSecondaryItems, Items(d.m_cbResolution));
        EXPECT_EQ(-1, d.m_cbResolution.GetCurSel());
        ExpectRows(Overlay(primary, kSecondaryRows), "to Secondary");
        EndWith(VK_RETURN);
    });
    EXPECT_EQ(IDOK, end);
    EXPECT_EQ(1, g_setupSettings.deviceCnt);
    EXPECT_EQ(-1, g_setupSettings.modeCnt);
    EXPECT_EQ(1234, g_setupSettings.width);
    EXPECT_EQ(567, g_setupSettings.height);
    EXPECT_EQ(24, g_setupSettings.bitPerPixel);
    EXPECT_EQ(Dword(0xffffffffu), StoredBytes(m_registry, "MODECNT"));

    // To a device with more modes, the same device again, a resolution, then back.
    g_setupSettings = before;
    ResetRows();
    end = RunSetupDialog([&](CSetupDlg& d) {
        Key(d.m_cbDevice.m_hWnd, VK_END);
        SetupSettings expected = before;
        expected.deviceCnt = 2;
        TakeIdentity(expected, "Third HAL", kThirdGuid, kThirdDriver);
        ExpectSameSettings(expected, g_setupSettings, "to Third");
        EXPECT_EQ(kThirdItems, Items(d.m_cbResolution));
        EXPECT_EQ(5, d.m_cbResolution.GetCurSel()) << "the same row, now 1280 x 720 x 16";

        // Choosing the selected device again rebuilds the list and rewrites the identity.
        std::memset(g_setupSettings.deviceName, 'q', sizeof g_setupSettings.deviceName - 1);
        std::memset(&g_setupSettings.guidDevice, 0xee, 32);
        d.m_cbResolution.AddString("stale item");
        ResetRows();
        Key(d.m_cbDevice.m_hWnd, VK_END);
        std::memset(expected.deviceName, 'q', sizeof expected.deviceName - 1);
        TakeIdentity(expected, "Third HAL", kThirdGuid, kThirdDriver);
        ExpectSameSettings(expected, g_setupSettings, "Third again");
        EXPECT_EQ(kThirdItems, Items(d.m_cbResolution));
        EXPECT_EQ(5, d.m_cbResolution.GetCurSel());
        ExpectRows(Overlay(SentinelRows(), kThirdRows), "Third again");

        // A resolution pick takes its row.
        Key(d.m_cbResolution.m_hWnd, VK_HOME);
        Key(d.m_cbResolution.m_hWnd, VK_DOWN);
        Key(d.m_cbResolution.m_hWnd, VK_DOWN);
        expected.modeCnt = 2;
        expected.width = 848;
        expected.height = 480;
        expected.bitPerPixel = 16;
        ExpectSameSettings(expected, g_setupSettings, "resolution 2");

        Key(d.m_cbDevice.m_hWnd, VK_UP);
        expected.deviceCnt = 1;
        TakeIdentity(expected, "Secondary HAL", kSecondaryGuid, kSecondaryDriver);
        ExpectSameSettings(expected, g_setupSettings, "back to Secondary");
        EXPECT_EQ(2, d.m_cbResolution.GetCurSel()) << "the same row, now 1600 x 1200 x 16";
        EndWith(VK_RETURN);
    });
    EXPECT_EQ(IDOK, end);
    EXPECT_EQ(1, g_setupSettings.deviceCnt);
    EXPECT_EQ(2, g_setupSettings.modeCnt);
    EXPECT_EQ(1600, g_setupSettings.width);
    EXPECT_EQ(1200, g_setupSettings.height);
    EXPECT_EQ(16, g_setupSettings.bitPerPixel);
    ExpectRows(Overlay(Overlay(SentinelRows(), kThirdRows), kSecondaryRows), "after Ok");
}

// The table has forty rows: a device with more listed modes lists the first forty, each item
// with its row, and never writes past them; a shorter list later leaves the rows after it.
TEST_F(SetupDialogTest, MoreThanFortyModesListTheFirstForty)
{
    std::vector<DDSURFACEDESC2> many;
    std::vector<ModeChoice> manyRows;
    for (int i = 0; i < 45; ++i) {
        many.push_back(Mode(640 + 16 * i, 480 + i, 16));
        many.push_back(Mode(640 + 16 * i, 480 + i, 32));
        if (i < 40)
            manyRows.push_back(ModeChoice{640 + 16 * i, 480 + i, 16});
    }
    m_table.Add("Many HAL", true, kPrimaryGuid, GUID{}, many);
    m_table.Add("Few HAL", true, kSecondaryGuid, kSecondaryDriver, SecondaryModes());
    g_setupSettings = Stored({1, 1234, 567, 24, 0, 39, 0, 1, 0, 2, 1, 0, 0, 1, 2, 0});
    const INT_PTR end = RunSetupDialog([&](CSetupDlg& d) {
        const std::vector<std::string> items = Items(d.m_cbResolution);
        ASSERT_EQ(40u, items.size());
        for (size_t r = 0; r < items.size(); ++r) {
            const ModeChoice& row = ModeChoiceTable[r];
            char text[48];
            std::snprintf(text, sizeof text, "%d x %d x %d", static_cast<int>(row.width), static_cast<int>(row.height),
                          static_cast<int>(row.bitPerPixel));
            EXPECT_EQ(text, items[r]) << "item " << r;
        }
        ExpectRows(Overlay(SentinelRows(), manyRows), "Many");
        EXPECT_EQ(39, d.m_cbResolution.GetCurSel());
        Key(d.m_cbDevice.m_hWnd, VK_DOWN);
        EXPECT_EQ(kSecondaryItems, Items(d.m_cbResolution));
        ExpectRows(Overlay(Overlay(SentinelRows(), manyRows), kSecondaryRows), "Few");
        Key(d.m_cbDevice.m_hWnd, VK_UP);
        EXPECT_EQ(40u, Items(d.m_cbResolution).size());
        EndWith(VK_RETURN);
    });
    EXPECT_EQ(IDOK, end);
    EXPECT_EQ(39, g_setupSettings.modeCnt);
    EXPECT_EQ(640 + 16 * 39, g_setupSettings.width);
    EXPECT_EQ(480 + 39, g_setupSettings.height);
    EXPECT_EQ(16, g_setupSettings.bitPerPixel);
}

namespace {

// The settings key of the test prefix's own registry, deleted before and after each test.
class SetupDialogRegistryTest : public SetupDialogTest {
protected:
    void SetUp() override
    {
        SetupDialogTest::SetUp();
        SetSettingsRegistry(nullptr);
        DeleteSettingsKey();
    }
    void TearDown() override
    {
        DeleteSettingsKey();
        SetupDialogTest::TearDown();
    }
};

} // namespace

// Enter right after opening runs the Ok sequence: the identity and the mode are read afresh
// and all twenty values are stored with their types, sizes and bytes.
TEST_F(SetupDialogRegistryTest, EnterRightAfterOpeningSavesAllTwentyValues)
{
    FillDevices(m_table, false);
    const SetupSettings before = Stored({1, 1234, 567, 24, 1, 2, 1, 0, 1, 2, 0, 1, 2, 3, 1, 1});
    g_setupSettings = before;
    HWND focus = nullptr, ok = nullptr;
    const INT_PTR end = RunSetupDialog([&](CSetupDlg& d) {
        focus = ::GetFocus();
        ok = d.GetDlgItem(IDOK);
        EndWith(VK_RETURN);
    });
    EXPECT_EQ(IDOK, end);
    EXPECT_EQ(TRUE, InitDialogResult());
    EXPECT_NE(nullptr, ok);
    EXPECT_EQ(ok, focus);
    SetupSettings expected = before;
    TakeIdentity(expected, "Secondary HAL", kSecondaryGuid, kSecondaryDriver);
    expected.width = 1600;
    expected.height = 1200;
    expected.bitPerPixel = 16;
    ExpectSameSettings(expected, g_setupSettings, "after Ok");

    const RealKey values = ReadRealKey();
    EXPECT_EQ(20u, values.size());
    for (const StoredField& field : kFields) {
        const auto value = values.find(field.name);
        ASSERT_NE(values.end(), value) << field.name;
        EXPECT_EQ(field.type, value->second.type) << field.name;
        EXPECT_EQ(Hex(FieldBytes(expected, field)), Hex(value->second.data)) << field.name;
    }
}

TEST_F(SetupDialogRegistryTest, CancelAfterChangingEveryControlLeavesTheRegistryAsItWas)
{
    FillDevices(m_table, false);
    g_setupSettings = Stored(kInRange);
    SaveSettings();
    PutRealValue("OTHER", REG_SZ, {'k', 'e', 'p', 't', 0});
    const RealKey stored = ReadRealKey();
    ASSERT_EQ(21u, stored.size());
    SetupSettings changed{};
    const INT_PTR end = RunSetupDialog([&](CSetupDlg& d) {
        for (CComboBox* list : {&d.m_cbDevice, &d.m_cbResolution, &d.m_cbSoundMode, &d.m_cbSpeaker,
                                &d.m_cbFrequency, &d.m_cbSoundBits, &d.m_cbChannels})
            Key(list->m_hWnd, list->GetCurSel() == 0 ? VK_DOWN : VK_HOME);
        for (CButton* box : {&d.m_chkVoodoo, &d.m_chkLightmap, &d.m_chkFullScreen, &d.m_chkFog})
            Click(box->m_hWnd);
        DragThumb(d.m_sldSprite.m_hWnd, 2);
        DragThumb(d.m_sldTexture.m_hWnd, 0);
        changed = g_setupSettings;
        EndWith(VK_ESCAPE);
    });
    EXPECT_EQ(IDCANCEL, end);
    // Every one of the sixteen numbers had changed in memory.
    const SetupSettings loaded = Stored(kInRange);
    for (int i = 0; i < 16; ++i)
        EXPECT_NE((&loaded.isFullScreenMode)[i], (&changed.isFullScreenMode)[i]) << "number " << i;
    EXPECT_EQ(stored, ReadRealKey());
}
