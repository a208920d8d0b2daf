// The setup dialog from its real template under Wine: what initialisation shows, what each control
// stores, device changes, Ok and Cancel, the forty-row limit, the icon and both templates.
#include "app/mode_choice.h"
#include "app/settings_store.h"
#include "dialog/setup_dlg.h"
#include "res/resource.h"
#include "support.h"

#include <cstdio>
#include <cstring>

namespace {

using Strings = std::vector<std::string>;

// The resolution lists of the three hardware devices, which are table records 0, 2 and 3.
const Strings kLists[3] = {
    {"640 x 480 x 16", "720 x 480 x 16", "800 x 600 x 16", "1024 x 768 x 16", "1280 x 960 x 16", "1280 x 1024 x 16"},
    {"600 x 480 x 16", "640 x 480 x 16", "1600 x 1200 x 16"},
    {"800 x 600 x 16", "1024 x 768 x 16"}};
const int kRecordOf[3] = {0, 2, 3};

Strings Items(HWND list)
{
    Strings items;
    for (int i = 0; i < SendMessageA(list, CB_GETCOUNT, 0, 0); ++i) {
        char text[64] = "";
        SendMessageA(list, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
        items.push_back(text);
    }
    return items;
}

// The first `count` rows of the mode-choice table as "W x H x B".
Strings TableRows(size_t count)
{
    Strings rows;
    for (const ModeChoice* row = ModeChoiceTable; row != ModeChoiceTable + count; ++row)
        rows.push_back(std::to_string(row->width) + " x " + std::to_string(row->height) + " x " + std::to_string(row->bitPerPixel));
    return rows;
}

// A stored record whose texts have bytes after the terminator that are not zero, with the sixteen
// numbers from isFullScreenMode to digitalBitsType.
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

int g_erasures;  // WM_ICONERASEBKGND with a device context
LRESULT CALLBACK CountErasures(int code, WPARAM wParam, LPARAM lParam)
{
    const CWPSTRUCT* msg = reinterpret_cast<const CWPSTRUCT*>(lParam);
    g_erasures += code == HC_ACTION && msg->message == WM_ICONERASEBKGND && msg->wParam != 0;
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// The hardware devices above, a software one second, and a rejected record at the accepted count;
// the settings record and rows kept and the settings key absent around each test.
class SetupDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(TRUE, RegisterCommonControlClasses());
        SetSentinelRows();
        table.Add("Primary HAL", true, {MakeMode(320, 240, 16), MakeMode(640, 400, 16), MakeMode(640, 480, 16), MakeMode(640, 480, 32),
                                        MakeMode(720, 480, 16), MakeMode(800, 600, 16), MakeMode(800, 600, 24), MakeMode(1024, 768, 8),
                                        MakeMode(1024, 768, 16), MakeMode(1280, 960, 16), MakeMode(1280, 1024, 16)});
        table.Add("Software RGB", false, {MakeMode(640, 480, 16), MakeMode(2048, 1536, 16)});
        table.Add("Secondary HAL", true, {MakeMode(512, 384, 16), MakeMode(600, 480, 16), MakeMode(640, 480, 16), MakeMode(1600, 1200, 16)});
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
    static void SetSentinelRows() { std::fill(ModeChoiceTable, ModeChoiceTable + kModeChoiceRows, ModeChoice{-1, -2, 0x5e}); }
    // DoModal of a CSetupDlg; `steps` gets the dialog once it shows and must end it.
    static INT_PTR Run(const std::function<void(CSetupDlg&)>& steps)
    {
        CSetupDlg dialog;
        return RunDialog([&] { return dialog.DoModal(); }, [&](HWND) { steps(dialog); });
    }
    DeviceTable table;

private:
    SetupSettings settings_ = g_setupSettings;
    std::vector<ModeChoice> rows_{ModeChoiceTable, ModeChoiceTable + kModeChoiceRows};
};

}  // namespace

// Initialisation shows the stored record and changes nothing but the rows of the stored device;
// Enter right away runs Ok, which takes device and mode afresh from the lists, the trackbars as
// they show, and stores all twenty values.
TEST_F(SetupDialogTest, InitialisationShowsTheStoredSettingsAndOkStoresThem)
{
    const struct {
        std::vector<int32_t> stored;
        // device, resolution, sound mode, speaker, frequency, sound bits, channels; VooDoo3, lightmap,
        // full screen, fog; sprite, texture
        std::vector<int> shown;
        int okRow;  // the resolution row Ok stores: row 40 does not exist, so the device's 640 x 480 x 16
    } cases[] = {{{1, 1234, 567, 24, 1, 2, 0, 1, 0, 2, 1, 0, 0, 1, 2, 0}, {1, 2, 0, 1, 2, 0, 1, 0, 1, 1, 0, 0, 2}, 2},
                 {{0, 1234, 567, 24, 3, 0, 1, 1, 5, -3, 3, 1, 7, -1, 3, 2}, {-1, -1, -1, -1, -1, -1, -1, 1, 1, 0, 1, 2, 0}, -1},
                 {{1, 1234, 567, 24, 0, 40, 0, 0, 2, 0, 0, 0, 1, 0, 1, 1}, {0, -1, 1, 0, 1, 1, 0, 0, 0, 1, 0, 2, 0}, 0}};
    for (const auto& c : cases) {
        const SetupSettings before = Stored(c.stored);
        g_setupSettings = before;
        SetSentinelRows();
        const Strings listed = c.shown[0] < 0 ? Strings{} : kLists[c.shown[0]];
        EXPECT_EQ(IDOK, Run([&](CSetupDlg& d) {
            std::vector<int> shown;
            for (CComboBox* list : {&d.m_cbDevice, &d.m_cbResolution, &d.m_cbSoundMode, &d.m_cbSpeaker, &d.m_cbFrequency, &d.m_cbSoundBits, &d.m_cbChannels})
                shown.push_back(list->GetCurSel());
            for (CButton* box : {&d.m_chkVoodoo, &d.m_chkLightmap, &d.m_chkFullScreen, &d.m_chkFog})
                shown.push_back(box->GetCheck());
            shown.insert(shown.end(), {d.m_sldSprite.GetPos(), d.m_sldTexture.GetPos()});
            EXPECT_EQ(c.shown, shown);
            EXPECT_EQ((Strings{"Primary HAL", "Secondary HAL", "Third HAL"}), Items(d.m_cbDevice.m_hWnd));
            EXPECT_EQ(listed, Items(d.m_cbResolution.m_hWnd));
            EXPECT_EQ(listed, TableRows(listed.size()));
            EXPECT_EQ("-1 x -2 x 94", TableRows(listed.size() + 1).back());
            ExpectSettings(before, "shown");
            EndWith(VK_RETURN);
        }));
        SetupSettings expected = before;
        expected.deviceCnt = expected.modeCnt = -1;
        if (c.shown[0] >= 0)
            Take(expected, c.shown[0], c.okRow);
        expected.spriteMode = c.shown[11], expected.textureMode = c.shown[12];
        ExpectSettings(expected, "stored");
        EXPECT_EQ(20u, ReadSettingsKey().size());
        EXPECT_EQ(Dword(expected.modeCnt), ReadSettingsKey()["MODECNT"]);
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
    } steps[] = {{IDC_SOUNDMODE, Press, VK_END, &SetupSettings::soundMode, 2}, {IDC_SPEAKER, Press, VK_DOWN, &SetupSettings::speakerType, 2},
                 {IDC_FREQUENCY, Press, VK_HOME, &SetupSettings::digitalRateType, 0}, {IDC_SOUNDBITS, Press, VK_DOWN, &SetupSettings::digitalBitsType, 1},
                 {IDC_CHANNELS, Press, VK_UP, &SetupSettings::numSampleType, 0}, {IDC_VOODOO, Click, 0, &SetupSettings::isVoodoo, 1},
                 {IDC_LIGHTMAP, Click, 0, &SetupSettings::isLightmap, 0}, {IDC_FULLSCREEN, Click, 0, &SetupSettings::isFullScreenMode, 0},
                 {IDC_FOG, Click, 0, &SetupSettings::fog, 1}, {IDC_SPRITE_DETAIL, Drag, 1, &SetupSettings::spriteMode, 1},
                 {IDC_TEXTURE_DETAIL, Drag, 0, &SetupSettings::textureMode, 0}, {IDC_RESOLUTION, Press, VK_DOWN, &SetupSettings::modeCnt, 2}};
    const SetupSettings loaded = Stored({1, 1234, 567, 24, 0, 1, 0, 1, 0, 2, 1, 0, 0, 1, 2, 0});
    g_setupSettings = loaded;
    SaveSettings();
    PutSettingsValue("OTHER", REG_SZ, "6b65707400");
    const StoredKey stored = ReadSettingsKey();
    EXPECT_EQ(IDCANCEL, Run([&](CSetupDlg& d) {
        SetupSettings expected = loaded;
        for (const auto& s : steps) {
            HWND control = GetDlgItem(d.m_hWnd, s.id);
            s.action == Press ? Key(control, s.argument) : s.action == Click ? void(SendMessageA(control, BM_CLICK, 0, 0)) : DragThumb(control, s.argument);
            expected.*s.field = s.value;
            if (s.id == IDC_RESOLUTION)
                std::sscanf(kLists[0][2].c_str(), "%d x %d x %d", &expected.width, &expected.height, &expected.bitPerPixel);
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
    g_setupSettings = Stored({1, 1234, 567, 24, 0, 5, 0, 1, 0, 2, 1, 0, 0, 1, 2, 0});
    SetupSettings expected = g_setupSettings;
    const struct {
        int list;
        WPARAM key;
        int device, shownRow, storedRow;  // storedRow -1: the mode fields stay
    } steps[] = {{IDC_DEVICE, VK_DOWN, 1, 1, 1},  // row 5 gone: 640 x 480 x 16 is row 1
                 {IDC_RESOLUTION, VK_END, 1, 2, 2},
                 {IDC_DEVICE, VK_DOWN, 2, 0, 0},  // row 2 gone and no 640 x 480 x 16: row 0
                 {IDC_DEVICE, VK_HOME, 0, 0, -1}};  // row 0 kept, showing another mode
    EXPECT_EQ(IDOK, Run([&](CSetupDlg& d) {
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

// The table has forty rows: a device with more listed modes lists the first forty, each item with
// its row, and writes no row after them.
TEST_F(SetupDialogTest, MoreThanFortyModesListTheFirstForty)
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
    g_setupSettings = Stored({1, 1234, 567, 24, 0, 39, 0, 1, 0, 2, 1, 0, 0, 1, 2, 0});
    EXPECT_EQ(IDCANCEL, Run([&](CSetupDlg& d) {
        EXPECT_EQ((std::vector<Strings>{rows, rows}), (std::vector<Strings>{Items(d.m_cbResolution.m_hWnd), TableRows(kModeChoiceRows)}));
        EXPECT_EQ(39, d.m_cbResolution.GetCurSel());
        EndWith(VK_ESCAPE);
    }));
}

// Both templates bind every member to its control (the Korean one has the narrower fog check box);
// one icon serves as the window's icons and drag icon, and minimized the paint erases the icon
// background and draws it.
TEST_F(SetupDialogTest, BothTemplatesBindEveryControlAndTheIconServesTheWindow)
{
    const LANGID language = GetThreadUILanguage();
    const LCID locale = GetThreadLocale();
    std::vector<LONG> fogWidths;
    for (LANGID variant : {MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), MAKELANGID(LANG_KOREAN, SUBLANG_DEFAULT)}) {
        SetThreadUILanguage(variant);
        SetThreadLocale(MAKELCID(variant, SORT_DEFAULT));  // the resource loader's choice
        EXPECT_EQ(IDCANCEL, Run([&](CSetupDlg& d) {
            std::vector<int> bound;
            for (const CWnd* member : std::initializer_list<const CWnd*>{&d.m_chkFog, &d.m_cbChannels, &d.m_sldTexture, &d.m_sldSprite,
                                                                         &d.m_chkFullScreen, &d.m_chkVoodoo, &d.m_chkLightmap, &d.m_cbSoundBits,
                                                                         &d.m_cbFrequency, &d.m_cbSpeaker, &d.m_cbSoundMode, &d.m_cbResolution,
                                                                         &d.m_cbDevice})
                bound.push_back(GetDlgCtrlID(member->m_hWnd));
            EXPECT_EQ((std::vector<int>{IDC_FOG, IDC_CHANNELS, IDC_TEXTURE_DETAIL, IDC_SPRITE_DETAIL, IDC_FULLSCREEN, IDC_VOODOO, IDC_LIGHTMAP,
                                        IDC_SOUNDBITS, IDC_FREQUENCY, IDC_SPEAKER, IDC_SOUNDMODE, IDC_RESOLUTION, IDC_DEVICE}),
                      bound);
            RECT fog;
            GetWindowRect(d.m_chkFog.m_hWnd, &fog);
            fogWidths.push_back(fog.right - fog.left);
            const LRESULT icon = reinterpret_cast<LRESULT>(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_SETUP_ICON)));
            EXPECT_EQ((std::vector<LRESULT>{icon, icon, icon}), (std::vector<LRESULT>{d.SendMessage(WM_QUERYDRAGICON), d.SendMessage(WM_GETICON, ICON_BIG),
                                                                                      d.SendMessage(WM_GETICON, ICON_SMALL)}));
            HHOOK hook = SetWindowsHookExA(WH_CALLWNDPROC, CountErasures, nullptr, GetCurrentThreadId());
            std::vector<int> erasures;
            for (int show : {SW_MINIMIZE, SW_RESTORE}) {
                ShowWindow(d.m_hWnd, show);
                g_erasures = 0;
                RedrawWindow(d.m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE);
                d.SendMessage(WM_PAINT);
                erasures.push_back(g_erasures);
            }
            UnhookWindowsHookEx(hook);
            EXPECT_EQ((std::vector<int>{1, 0}), erasures) << "the icon background is erased only while minimized";
            SetFocus(GetDlgItem(d.m_hWnd, IDCANCEL));
            EndWith(VK_ESCAPE);
        }));
    }
    SetThreadUILanguage(language);
    SetThreadLocale(locale);
    EXPECT_LT(fogWidths.at(1), fogWidths.at(0));
}
