// The setup dialog from its real template under Wine.
#include "app/mode_choice.h"
#include "app/settings_store.h"
#include "dialog/setup_dlg.h"
#include "res/resource.h"
#include "support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using Strings = std::vector<std::string>;
std::string Row(int width, int height, int bits = 16) { return std::to_string(width) + " x " + std::to_string(height) + " x " + std::to_string(bits); }

// The resolution lists of the hardware devices (records 0, 2, 3): only the second has 640 x 480 x 16, the third 41 modes.
const Strings kLists[3] = {{"720 x 480 x 16", "800 x 600 x 16", "1024 x 768 x 16", "1280 x 960 x 16", "1280 x 1024 x 16"},
                           {"600 x 480 x 16", "640 x 480 x 16", "1600 x 1200 x 16"},
                           [] { Strings rows(40); for (int i = 0; i < 40; ++i) rows[i] = Row(656 + 16 * i, 480 + i); return rows; }()};

Strings Items(HWND list)
{
    Strings items;
    char text[64];
    for (int i = 0, count = int(SendMessageA(list, CB_GETCOUNT, 0, 0)); i < count; ++i)
        items.push_back(SendMessageA(list, CB_GETLBTEXT, i, LPARAM(text)) > 0 ? text : "");
    return items;
}
// The resolution list's items, which the mode-choice rows must hold, followed by `more` rows that no device had.
Strings Shown(HWND list, size_t more = 1)
{
    const Strings items = Items(list);
    for (size_t i = 0; i < items.size() + more && i < kModeChoiceRows; ++i)
        EXPECT_EQ(i < items.size() ? items[i] : "-1 x -2 x 94",
                  Row(ModeChoiceTable[i].width, ModeChoiceTable[i].height, ModeChoiceTable[i].bitPerPixel)) << "row " << i;
    return items;
}

// A stored record with these sixteen numbers, bytes after the device name's terminator, a provider name filling its field.
SetupSettings Stored(const std::vector<int32_t>& numbers)
{
    SetupSettings s{};
    s.guidDevice = MakeGuid(0xa0), s.guidDriver = MakeGuid(0xb0);
    std::memset(s.deviceName, 'z', sizeof s.deviceName - 1);
    std::strcpy(s.deviceName, "Stored Device Name");
    std::memset(s.providerName, 'p', sizeof s.providerName);
    std::memcpy(&s.isFullScreenMode, numbers.data(), 64);
    return s;
}

// What the device step writes for hardware device `device`, with a row what the mode step writes.
void Take(SetupSettings& s, int device, int row = -1)
{
    const DisplayDeviceRecord& record = GetDisplayDeviceTable()[device + (device > 0)];
    std::memcpy(s.deviceName, record.name, std::strlen(record.name) + 1);
    s.guidDevice = record.deviceGuidValue, s.guidDriver = record.driverGuidValue, s.deviceCnt = device;
    if (row >= 0 && (s.modeCnt = row) >= 0)
        std::sscanf(kLists[device][row].c_str(), "%d x %d x %d", &s.width, &s.height, &s.bitPerPixel);
}

// The hardware devices with a software one second and a rejected record after them; no settings key.
class SetupDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(TRUE, RegisterCommonControlClasses());
        table.Add("Primary HAL", true,
                  {MakeMode(320, 240, 16), MakeMode(640, 400, 16), MakeMode(640, 480, 32), MakeMode(720, 480, 16), MakeMode(800, 600, 16),
                   MakeMode(800, 600, 24), MakeMode(1024, 768, 8), MakeMode(1024, 768, 16), MakeMode(1280, 960, 16), MakeMode(1280, 1024, 16)});
        table.Add("Software RGB", false, {MakeMode(640, 480, 16), MakeMode(2048, 1536, 16)});
        table.Add("Secondary HAL", true, {MakeMode(512, 384, 16), MakeMode(600, 480, 16), MakeMode(640, 480, 16), MakeMode(1600, 1200, 16)});
        std::vector<DDSURFACEDESC2> many;
        for (int i = 0; i < 41; ++i)
            many.insert(many.end(), {MakeMode(656 + 16 * i, 480 + i, 16), MakeMode(656 + 16 * i, 480 + i, 32)});
        table.Add("Many HAL", true, many);
        table.Add("Rejected HAL", true, {MakeMode(640, 480, 16)});
        --g_displayDeviceTable.acceptedDeviceCount;
        DeleteSettingsKey();
    }
    // DoModal of a CSetupDlg over the stored record, with rows no device has; `steps` must end it.
    static INT_PTR Run(const SetupSettings& stored, const std::function<void(CSetupDlg&)>& steps)
    {
        g_setupSettings = stored;
        std::fill(ModeChoiceTable, ModeChoiceTable + kModeChoiceRows, ModeChoice{-1, -2, 94});
        CSetupDlg dialog;
        return RunDialog([&] { return dialog.DoModal(); }, [&] { steps(dialog); });
    }
    DeviceTable table;
};

}  // namespace

// Initialisation shows the stored record and changes no setting; Ok takes device, mode (-1: none) and trackbars afresh.
TEST_F(SetupDialogTest, InitialisationShowsTheStoredSettingsAndOkStoresThem)
{
    const struct {
        std::vector<int32_t> stored;
        std::vector<int> shown;  // seven lists, four check boxes, two trackbars
        int okRow;
    } cases[] = {{{1, 1234, 567, 24, 1, 2, 0, 1, 0, 2, 1, 0, 0, 1, 2, 0}, {1, 2, 0, 1, 2, 0, 1, 0, 1, 1, 0, 0, 2}, 2},
                 {{0, 1234, 567, 24, 3, 0, 1, 1, 5, -3, 3, 1, 7, -1, 3, 2}, {-1, -1, -1, -1, -1, -1, -1, 1, 1, 0, 1, 2, 0}, -1},
                 {{1, 1234, 567, 24, 0, 40, 0, 0, 2, 0, 0, 0, 1, 0, 1, 1}, {0, -1, 1, 0, 1, 1, 0, 0, 0, 1, 0, 2, 0}, 0}};
    for (const auto& c : cases) {
        PutSettingsValue("OTHER", REG_DWORD, "\1\2\3\4");
        EXPECT_EQ(IDOK, Run(Stored(c.stored), [&](CSetupDlg& d) {
            EXPECT_EQ(c.shown, (std::vector<int>{d.m_cbDevice.GetCurSel(), d.m_cbResolution.GetCurSel(), d.m_cbSoundMode.GetCurSel(),
                                                 d.m_cbSpeaker.GetCurSel(), d.m_cbFrequency.GetCurSel(), d.m_cbSoundBits.GetCurSel(),
                                                 d.m_cbChannels.GetCurSel(), d.m_chkVoodoo.GetCheck(), d.m_chkLightmap.GetCheck(),
                                                 d.m_chkFullScreen.GetCheck(), d.m_chkFog.GetCheck(), d.m_sldSprite.GetPos(), d.m_sldTexture.GetPos()}));
            EXPECT_EQ((Strings{"Primary HAL", "Secondary HAL", "Many HAL"}), Items(d.m_cbDevice.m_hWnd));
            EXPECT_EQ(c.shown[0] < 0 ? Strings{} : kLists[c.shown[0]], Shown(d.m_cbResolution.m_hWnd));
            ExpectSettings(Stored(c.stored), g_setupSettings, "shown");
            const LRESULT icon = LRESULT(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_SETUP_ICON)));
            EXPECT_EQ((std::vector<LRESULT>{icon, icon, icon}), (std::vector<LRESULT>{d.SendMessage(WM_QUERYDRAGICON),
                                                                                   d.SendMessage(WM_GETICON, ICON_BIG), d.SendMessage(WM_GETICON, ICON_SMALL)}));
            RECT rc, work;  // centred on the work area, and centred again from elsewhere
            for (int moved = 0; moved < 2; ++moved, SetWindowPos(d.m_hWnd, nullptr, 70, 30, 0, 0, SWP_NOSIZE | SWP_NOZORDER), d.CenterWindow()) {
                GetWindowRect(d.m_hWnd, &rc), SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
                EXPECT_LE(std::abs(rc.left + rc.right - work.left - work.right) + std::abs(rc.top + rc.bottom - work.top - work.bottom), 2) << moved;
            }
            PostMessageA(d.m_hWnd, WM_COMMAND, IDOK, 0);
        }));
        SetupSettings expected = Stored(c.stored);
        expected.deviceCnt = expected.modeCnt = -1;
        if (c.shown[0] >= 0)
            Take(expected, c.shown[0], c.okRow);
        expected.spriteMode = c.shown[11], expected.textureMode = c.shown[12];
        ExpectSettings(expected, g_setupSettings, "stored");
        StoredKey key = ReadSettingsKey();
        EXPECT_EQ((std::vector<std::string>{"21", Dword(expected.modeCnt), Value(REG_DWORD, "\1\2\3\4", 4),
                                            Value(REG_SZ, (std::string(1023, 'p') + '\0').data(), 1024)}),
                  (std::vector<std::string>{std::to_string(key.size()), key["MODECNT"], key["OTHER"], key["PROVIDERNAME"]}));
    }
}

// A device change rebuilds list and rows (forty at most) and keeps the row, else takes 640 x 480 x 16, else the first.
// Keyboard on a trackbar and Cancel store nothing.
TEST_F(SetupDialogTest, EachControlStoresExactlyItsFieldAndCancelStoresNothing)
{
    enum Action { Press, Click, Drag };
    const struct {
        int id;
        Action action;
        int argument;  // key or trackbar position
        int32_t SetupSettings::*field;
        int32_t value;  // of the field; for the lists: device, row stored (-1: the mode stays), row shown
        int row = -1, shownRow = 4;
    } steps[] = {{IDC_SOUNDMODE, Press, VK_END, &SetupSettings::soundMode, 2},
                 {IDC_SPEAKER, Press, VK_DOWN, &SetupSettings::speakerType, 2},
                 {IDC_FREQUENCY, Press, VK_HOME, &SetupSettings::digitalRateType, 0},
                 {IDC_SOUNDBITS, Press, VK_DOWN, &SetupSettings::digitalBitsType, 1},
                 {IDC_CHANNELS, Press, VK_UP, &SetupSettings::numSampleType, 0},
                 {IDC_VOODOO, Click, 0, &SetupSettings::isVoodoo, 1},
                 {IDC_LIGHTMAP, Click, 0, &SetupSettings::isLightmap, 0},
                 {IDC_FULLSCREEN, Click, 0, &SetupSettings::isFullScreenMode, 0},
                 {IDC_FOG, Click, 0, &SetupSettings::fog, 1},
                 {IDC_SPRITE_DETAIL, Drag, 1, &SetupSettings::spriteMode, 1},
                 {IDC_TEXTURE_DETAIL, Drag, 0, &SetupSettings::textureMode, 0},
                 {IDC_DEVICE, Press, VK_DOWN, nullptr, 1, 1, 1},  // row 4 gone: 640 x 480 x 16 is row 1
                 {IDC_RESOLUTION, Press, VK_END, nullptr, 1, 2, 2},
                 {IDC_DEVICE, Press, VK_DOWN, nullptr, 2, -1, 2},  // row 2 kept, showing another mode
                 {IDC_RESOLUTION, Press, VK_END, nullptr, 2, 39, 39},
                 {IDC_DEVICE, Press, VK_HOME, nullptr, 0, 0, 0}};  // row 39 gone and no 640 x 480 x 16: row 0
    const SetupSettings loaded = Stored({1, 1234, 567, 24, 0, 4, 0, 1, 0, 2, 1, 0, 0, 1, 2, 0});
    SaveSettings(loaded);
    PutSettingsValue("OTHER", REG_SZ, std::string("kept", 5));
    const StoredKey stored = ReadSettingsKey();
    EXPECT_EQ(IDCANCEL, Run(loaded, [&](CSetupDlg& d) {
        SetupSettings expected = loaded;
        int device = 0;
        for (const auto& s : steps) {
            HWND control = GetDlgItem(d.m_hWnd, s.id);
            s.action == Drag    ? DragThumb(control, s.argument)
            : s.action == Press ? Key(control, s.argument) : void(SendMessageA(control, BM_CLICK, 0, 0));
            s.field ? void(expected.*s.field = s.value) : Take(expected, device = s.value, s.row);
            EXPECT_EQ(kLists[device], Shown(d.m_cbResolution.m_hWnd, 0));
            EXPECT_EQ(s.shownRow, d.m_cbResolution.GetCurSel());
            ExpectSettings(expected, g_setupSettings, "control " + std::to_string(s.id) + ", key " + std::to_string(s.argument));
        }
        Key(d.m_sldSprite.m_hWnd, VK_RIGHT);
        Key(d.m_sldTexture.m_hWnd, VK_END);
        EXPECT_EQ((std::vector<int>{2, 2}), (std::vector<int>{d.m_sldSprite.GetPos(), d.m_sldTexture.GetPos()}));
        ExpectSettings(expected, g_setupSettings, "keyboard on the trackbars");
        PostMessageA(d.m_hWnd, WM_COMMAND, IDCANCEL, 0);
    }));
    EXPECT_EQ(21u, stored.size());
    EXPECT_EQ(stored, ReadSettingsKey());
}
