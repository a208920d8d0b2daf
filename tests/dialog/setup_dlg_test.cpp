// The setup dialog from its real template under Wine: what initialisation shows, what each control
// stores, device changes, Ok and Cancel, the forty-row limit, and the icon.
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

// The resolution lists of the three hardware devices, table records 0, 2 and 3.
const Strings kLists[3] = {
    {"640 x 480 x 16", "720 x 480 x 16", "800 x 600 x 16", "1024 x 768 x 16", "1280 x 960 x 16", "1280 x 1024 x 16"},
    {"600 x 480 x 16", "640 x 480 x 16", "1600 x 1200 x 16"},
    {"800 x 600 x 16", "1024 x 768 x 16"}};
const int kRecordOf[3] = {0, 2, 3};

Strings Items(HWND list)
{
    Strings items(SendMessageA(list, CB_GETCOUNT, 0, 0));
    char text[64];
    for (size_t i = 0; i < items.size(); ++i)
        items[i] = SendMessageA(list, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text)) > 0 ? text : "";
    return items;
}

Strings TableRows(size_t count)  // the first rows of the mode-choice table as "W x H x B"
{
    Strings rows;
    for (const ModeChoice* r = ModeChoiceTable; r != ModeChoiceTable + count; ++r)
        rows.push_back(std::to_string(r->width) + " x " + std::to_string(r->height) + " x " + std::to_string(r->bitPerPixel));
    return rows;
}

// A stored record with the sixteen numbers from isFullScreenMode to digitalBitsType, whose texts have
// bytes after the terminator that are not zero.
SetupSettings Stored(const std::vector<int32_t>& numbers)
{
    SetupSettings s{};
    s.guidDevice = MakeGuid(0xa0), s.guidDriver = MakeGuid(0xb0);
    std::memset(s.deviceName, 'z', sizeof s.deviceName - 1);
    std::strcpy(s.deviceName, "Stored Device Name");
    std::memset(s.providerName, 'p', sizeof s.providerName - 1);
    std::memcpy(&s.isFullScreenMode, numbers.data(), 64);
    return s;
}

// What the device step writes for hardware device `device`, with a row what the mode step writes.
void Take(SetupSettings& s, int device, int row = -1)
{
    const DisplayDeviceRecord& record = GetDisplayDeviceTable()[kRecordOf[device]];
    std::memcpy(s.deviceName, record.name, std::strlen(record.name) + 1);
    s.guidDevice = record.deviceGuidValue, s.guidDriver = record.driverGuidValue, s.deviceCnt = device;
    if (row >= 0 && (s.modeCnt = row) >= 0)
        std::sscanf(kLists[device][row].c_str(), "%d x %d x %d", &s.width, &s.height, &s.bitPerPixel);
}

void ExpectSettings(const SetupSettings& expected, const std::string& context)
{
    const int32_t *want = &expected.isFullScreenMode, *have = &g_setupSettings.isFullScreenMode;
    EXPECT_EQ(std::vector<int32_t>(want, want + 16), std::vector<int32_t>(have, have + 16)) << context;
    EXPECT_EQ(0, std::memcmp(&expected, &g_setupSettings, sizeof expected)) << context << ": texts or GUIDs";
}

// The three hardware devices, a software one second and a rejected record at the accepted count; the
// settings record and rows kept and the settings key absent around each test.
class SetupDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(TRUE, RegisterCommonControlClasses());
        table.Add("Primary HAL", true,
                  {MakeMode(320, 240, 16), MakeMode(640, 400, 16), MakeMode(640, 480, 16), MakeMode(640, 480, 32),
                   MakeMode(720, 480, 16), MakeMode(800, 600, 16), MakeMode(800, 600, 24), MakeMode(1024, 768, 8),
                   MakeMode(1024, 768, 16), MakeMode(1280, 960, 16), MakeMode(1280, 1024, 16)});
        table.Add("Software RGB", false, {MakeMode(640, 480, 16), MakeMode(2048, 1536, 16)});
        table.Add("Secondary HAL", true,
                  {MakeMode(512, 384, 16), MakeMode(600, 480, 16), MakeMode(640, 480, 16), MakeMode(1600, 1200, 16)});
        table.Add("Third HAL", true, {MakeMode(800, 600, 16), MakeMode(1024, 768, 16), MakeMode(1024, 768, 32)});
        table.Add("Rejected HAL", true, {MakeMode(640, 480, 16)});
        --g_displayDeviceTable.acceptedDeviceCount;
        DeleteSettingsKey();
    }
    void TearDown() override
    {
        DeleteSettingsKey();
        g_setupSettings = settings_;
        std::copy(rows_.begin(), rows_.end(), ModeChoiceTable);
    }
    // DoModal of a CSetupDlg over the stored numbers, with rows no device has; `steps` must end it.
    static INT_PTR Run(const SetupSettings& stored, const std::function<void(CSetupDlg&)>& steps)
    {
        g_setupSettings = stored;
        std::fill(ModeChoiceTable, ModeChoiceTable + kModeChoiceRows, ModeChoice{-1, -2, 0x5e});
        CSetupDlg dialog;
        return RunDialog([&] { return dialog.DoModal(); }, [&](HWND) { steps(dialog); });
    }
    DeviceTable table;

private:
    SetupSettings settings_ = g_setupSettings;
    std::vector<ModeChoice> rows_{ModeChoiceTable, ModeChoiceTable + kModeChoiceRows};
};

}  // namespace

// Initialisation shows the stored record and changes nothing but the rows of the stored device; Enter
// right away runs Ok, which takes device and mode afresh from the lists (-1 where nothing is selected,
// the device's 640 x 480 x 16 for a row it lacks), the trackbars as they show, and stores twenty values.
TEST_F(SetupDialogTest, InitialisationShowsTheStoredSettingsAndOkStoresThem)
{
    const struct {
        std::vector<int32_t> stored;
        // device, resolution, sound mode, speaker, frequency, sound bits, channels; VooDoo3, lightmap,
        // full screen, fog; sprite, texture
        std::vector<int> shown;
        int okRow;
    } cases[] = {{{1, 1234, 567, 24, 1, 2, 0, 1, 0, 2, 1, 0, 0, 1, 2, 0}, {1, 2, 0, 1, 2, 0, 1, 0, 1, 1, 0, 0, 2}, 2},
                 {{0, 1234, 567, 24, 3, 0, 1, 1, 5, -3, 3, 1, 7, -1, 3, 2}, {-1, -1, -1, -1, -1, -1, -1, 1, 1, 0, 1, 2, 0}, -1},
                 {{1, 1234, 567, 24, 0, 40, 0, 0, 2, 0, 0, 0, 1, 0, 1, 1}, {0, -1, 1, 0, 1, 1, 0, 0, 0, 1, 0, 2, 0}, 0}};
    for (const auto& c : cases) {
        const Strings listed = c.shown[0] < 0 ? Strings{} : kLists[c.shown[0]];
        EXPECT_EQ(IDOK, Run(Stored(c.stored), [&](CSetupDlg& d) {
            std::vector<int> shown;
            for (CComboBox* list : {&d.m_cbDevice, &d.m_cbResolution, &d.m_cbSoundMode, &d.m_cbSpeaker,
                                    &d.m_cbFrequency, &d.m_cbSoundBits, &d.m_cbChannels})
                shown.push_back(list->GetCurSel());
            for (CButton* box : {&d.m_chkVoodoo, &d.m_chkLightmap, &d.m_chkFullScreen, &d.m_chkFog})
                shown.push_back(box->GetCheck());
            shown.insert(shown.end(), {d.m_sldSprite.GetPos(), d.m_sldTexture.GetPos()});
            EXPECT_EQ(c.shown, shown);
            EXPECT_EQ((Strings{"Primary HAL", "Secondary HAL", "Third HAL"}), Items(d.m_cbDevice.m_hWnd));
            EXPECT_EQ((std::vector<Strings>{listed, listed}), (std::vector<Strings>{Items(d.m_cbResolution.m_hWnd),
                                                                                   TableRows(listed.size())}));
            EXPECT_EQ("-1 x -2 x 94", TableRows(listed.size() + 1).back());
            ExpectSettings(Stored(c.stored), "shown");
            EndWith(VK_RETURN);
        }));
        SetupSettings expected = Stored(c.stored);
        expected.deviceCnt = expected.modeCnt = -1;
        if (c.shown[0] >= 0)
            Take(expected, c.shown[0], c.okRow);
        expected.spriteMode = c.shown[11], expected.textureMode = c.shown[12];
        ExpectSettings(expected, "stored");
        EXPECT_EQ((std::vector<std::string>{"20", Dword(expected.modeCnt)}),
                  (std::vector<std::string>{std::to_string(ReadSettingsKey().size()), ReadSettingsKey()["MODECNT"]}));
        DeleteSettingsKey();
    }
}

// Each control driven as a player does stores its own field at once and no other byte; a trackbar
// moved by keyboard stores nothing before Ok. Cancel after all that stores nothing.
TEST_F(SetupDialogTest, EachControlStoresExactlyItsFieldAndCancelStoresNothing)
{
    enum Action { Press, Click, Drag };
    const struct {
        int id;
        Action action;
        int argument;  // key or trackbar position
        int32_t SetupSettings::*field;
        int32_t value;
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
                 {IDC_RESOLUTION, Press, VK_DOWN, &SetupSettings::modeCnt, 2}};
    const SetupSettings loaded = Stored({1, 1234, 567, 24, 0, 1, 0, 1, 0, 2, 1, 0, 0, 1, 2, 0});
    SaveSettings(loaded);
    PutSettingsValue("OTHER", REG_SZ, std::string("kept", 5));
    const StoredKey stored = ReadSettingsKey();
    EXPECT_EQ(IDCANCEL, Run(loaded, [&](CSetupDlg& d) {
        SetupSettings expected = loaded;
        for (const auto& s : steps) {
            HWND control = GetDlgItem(d.m_hWnd, s.id);
            if (s.action == Drag)
                DragThumb(control, s.argument);
            else
                s.action == Press ? Key(control, s.argument) : void(SendMessageA(control, BM_CLICK, 0, 0));
            expected.*s.field = s.value;
            if (s.id == IDC_RESOLUTION)
                expected.width = 800, expected.height = 600, expected.bitPerPixel = 16;
            ExpectSettings(expected, "control " + std::to_string(s.id));
        }
        Key(d.m_sldSprite.m_hWnd, VK_RIGHT);
        Key(d.m_sldTexture.m_hWnd, VK_END);
        EXPECT_EQ((std::vector<int>{2, 2}), (std::vector<int>{d.m_sldSprite.GetPos(), d.m_sldTexture.GetPos()}));
        ExpectSettings(expected, "keyboard on the trackbars");
        EndWith(VK_ESCAPE);
    }));
    EXPECT_EQ(21u, stored.size());
    EXPECT_EQ(stored, ReadSettingsKey());
}

// A device change rebuilds the resolution list and its rows and keeps the chosen row; where the new
// list lacks it, the device's 640 x 480 x 16, else its first mode, is chosen and stored at once.
TEST_F(SetupDialogTest, DeviceChangeRebuildsTheListAndKeepsOrReplacesTheRow)
{
    SetupSettings expected = Stored({1, 1234, 567, 24, 0, 5, 0, 1, 0, 2, 1, 0, 0, 1, 2, 0});
    const struct {
        int list;
        WPARAM key;
        int device, shownRow, storedRow;  // storedRow -1: the mode fields stay
    } steps[] = {{IDC_DEVICE, VK_DOWN, 1, 1, 1},  // row 5 gone: 640 x 480 x 16 is row 1
                 {IDC_RESOLUTION, VK_END, 1, 2, 2},
                 {IDC_DEVICE, VK_DOWN, 2, 0, 0},    // row 2 gone and no 640 x 480 x 16: row 0
                 {IDC_DEVICE, VK_HOME, 0, 0, -1}};  // row 0 kept, showing another mode
    EXPECT_EQ(IDOK, Run(expected, [&](CSetupDlg& d) {
        for (const auto& s : steps) {
            Key(GetDlgItem(d.m_hWnd, s.list), s.key);
            Take(expected, s.device, s.storedRow);
            ExpectSettings(expected, std::to_string(s.key));
            EXPECT_EQ((std::vector<Strings>{kLists[s.device], kLists[s.device]}),
                      (std::vector<Strings>{Items(d.m_cbResolution.m_hWnd), TableRows(kLists[s.device].size())}));
            EXPECT_EQ(s.shownRow, d.m_cbResolution.GetCurSel());
        }
        EndWith(VK_RETURN);
    }));
    Take(expected, 0, 0);
    ExpectSettings(expected, "after Ok");
}

// A device with more than forty listed modes lists the first forty, each with its row, and writes no
// row after them. One icon is the window's icons and drag icon.
TEST_F(SetupDialogTest, FortyModesAtMostAndTheIcon)
{
    std::vector<DDSURFACEDESC2> modes;
    Strings rows;
    for (int i = 0; i < 41; ++i) {
        modes.insert(modes.end(), {MakeMode(640 + 16 * i, 480 + i, 16), MakeMode(640 + 16 * i, 480 + i, 32)});
        rows.push_back(std::to_string(640 + 16 * i) + " x " + std::to_string(480 + i) + " x 16");
    }
    rows.pop_back();
    DeviceTable many;
    many.Add("Many HAL", true, modes);
    EXPECT_EQ(IDCANCEL, Run(Stored({1, 1234, 567, 24, 0, 39, 0, 1, 0, 2, 1, 0, 0, 1, 2, 0}), [&](CSetupDlg& d) {
        EXPECT_EQ((std::vector<Strings>{rows, rows}), (std::vector<Strings>{Items(d.m_cbResolution.m_hWnd),
                                                                           TableRows(kModeChoiceRows)}));
        EXPECT_EQ(39, d.m_cbResolution.GetCurSel());
        const LRESULT icon = LRESULT(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_SETUP_ICON)));
        EXPECT_EQ((std::vector<LRESULT>{icon, icon, icon}),
                  (std::vector<LRESULT>{d.SendMessage(WM_QUERYDRAGICON), d.SendMessage(WM_GETICON, ICON_BIG),
                                        d.SendMessage(WM_GETICON, ICON_SMALL)}));
        RECT rc, work;  // centred on the work area
        GetWindowRect(d.m_hWnd, &rc), SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
        EXPECT_LE(std::abs(rc.left + rc.right - work.left - work.right) + std::abs(rc.top + rc.bottom - work.top - work.bottom), 2);
        SetFocus(GetDlgItem(d.m_hWnd, IDCANCEL));
        EndWith(VK_ESCAPE);
    }));
    EXPECT_EQ(-1, CDialog(299).DoModal()) << "no such template";
}
