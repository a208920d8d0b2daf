// The setup dialog from its real template under Wine.
#include "app/mode_choice.h"
#include "app/settings_store.h"
#include "dialog/setup_dlg.h"
#include "res/resource.h"
#include "support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// What the thirteen controls show, named by the number each one stands for.
std::string Shown(HWND dialog)
{
    const auto get = [&](int id, UINT message) { return int(SendDlgItemMessageA(dialog, id, message, 0, 0)); };
    char text[512];
    std::snprintf(text, sizeof text,
                  "deviceCnt %d, modeCnt %d, soundMode %d, speakerType %d, digitalRateType %d, digitalBitsType %d, "
                  "numSampleType %d, isVoodoo %d, isLightmap %d, isFullScreenMode %d, fog %d, spriteMode %d, "
                  "textureMode %d",
                  get(IDC_DEVICE, CB_GETCURSEL), get(IDC_RESOLUTION, CB_GETCURSEL), get(IDC_SOUNDMODE, CB_GETCURSEL),
                  get(IDC_SPEAKER, CB_GETCURSEL), get(IDC_FREQUENCY, CB_GETCURSEL), get(IDC_SOUNDBITS, CB_GETCURSEL),
                  get(IDC_CHANNELS, CB_GETCURSEL), get(IDC_VOODOO, BM_GETCHECK), get(IDC_LIGHTMAP, BM_GETCHECK),
                  get(IDC_FULLSCREEN, BM_GETCHECK), get(IDC_FOG, BM_GETCHECK), get(IDC_SPRITE_DETAIL, TBM_GETPOS),
                  get(IDC_TEXTURE_DETAIL, TBM_GETPOS));
    return text;
}

// A list's items, one a line.
std::string Items(HWND dialog, int id)
{
    std::string items;
    const int count = int(SendDlgItemMessageA(dialog, id, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        char text[64] = "";
        SendDlgItemMessageA(dialog, id, CB_GETLBTEXT, i, LPARAM(text));
        items += std::string(text) + "\n";
    }
    return items;
}

// The first `count` mode-choice rows, one a line.
std::string Rows(size_t count)
{
    std::string rows;
    for (size_t i = 0; i < count && i < kModeChoiceRows; ++i) {
        const ModeChoice& row = ModeChoiceTable[i];
        rows += DisplayModeText(row.width, row.height, row.bitPerPixel) + "\n";
    }
    return rows;
}

// The resolution lists of the three hardware devices, at table indices 0, 2 and 3. Only the
// second has 640 x 480 x 16; the third has 41 listed modes, of which the first forty are listed.
const uint32_t kRecordOf[3] = {0, 2, 3};
std::string ManyModes()
{
    std::string modes;
    for (uint32_t i = 0; i < 40; ++i)
        modes += DisplayModeText(656 + 16 * i, 480 + i, 16) + "\n";
    return modes;
}
const std::string kModes[3] = {"720 x 480 x 16\n800 x 600 x 16\n1024 x 768 x 16\n1280 x 960 x 16\n1280 x 1024 x 16\n",
                               "600 x 480 x 16\n640 x 480 x 16\n640 x 512 x 16\n1600 x 1200 x 16\n", ManyModes()};
const ModeChoice kNoDeviceRow {1, 2, 3};

// A stored record: bytes after the device name's terminator, a provider name that fills its
// field, a mode that no device has, and these numbers.
SetupSettings Stored(const std::string& numbers)
{
    SetupSettings s {};
    s.guidDevice = MakeGuid(0xa0);
    s.guidDriver = MakeGuid(0xb0);
    std::memset(s.deviceName, 'z', sizeof s.deviceName - 1);
    std::strcpy(s.deviceName, "Stored Device Name");
    std::memset(s.providerName, 'p', sizeof s.providerName);
    return With(s, "width 1234, height 567, bitPerPixel 24, " + numbers);
}

// The name and GUIDs that the device step takes from the hardware device at deviceCnt.
void TakeDevice(SetupSettings& s)
{
    const DisplayDeviceRecord& record = GetDisplayDeviceTable()[kRecordOf[s.deviceCnt]];
    std::memcpy(s.deviceName, record.name, std::strlen(record.name) + 1);
    s.guidDevice = record.deviceGuidValue;
    s.guidDriver = record.driverGuidValue;
}

// The hardware devices with a software one second and a rejected record after them; no
// settings key.
class SetupDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(TRUE, RegisterCommonControlClasses());
        table.Add("Primary HAL", true,
                  {MakeMode(320, 240, 16), MakeMode(640, 400, 16), MakeMode(640, 480, 32), MakeMode(720, 480, 16),
                   MakeMode(800, 600, 16), MakeMode(800, 600, 24), MakeMode(1024, 768, 8), MakeMode(1024, 768, 16),
                   MakeMode(1280, 960, 16), MakeMode(1280, 1024, 16)});
        table.Add("Software RGB", false, {MakeMode(640, 480, 16), MakeMode(2048, 1536, 16)});
        table.Add("Secondary HAL", true,
                  {MakeMode(512, 384, 16), MakeMode(600, 480, 16), MakeMode(640, 480, 16), MakeMode(640, 512, 16),
                   MakeMode(1600, 1200, 16)});
        std::vector<DDSURFACEDESC2> many;
        for (DWORD i = 0; i < 41; ++i) {
            many.push_back(MakeMode(656 + 16 * i, 480 + i, 16));
            many.push_back(MakeMode(656 + 16 * i, 480 + i, 32));
        }
        table.Add("Many HAL", true, many);
        table.Add("Rejected HAL", true, {MakeMode(640, 480, 16)});
        --g_displayDeviceTable.acceptedDeviceCount;
        DeleteSettingsKey();
    }
    // DoModal of a CSetupDlg over the stored record, with rows that no device wrote; `steps`
    // must end it.
    static INT_PTR Run(const SetupSettings& stored, const std::function<void(CSetupDlg&)>& steps)
    {
        g_setupSettings = stored;
        std::fill(ModeChoiceTable, ModeChoiceTable + kModeChoiceRows, kNoDeviceRow);
        CSetupDlg dialog;
        return RunDialog([&] { return dialog.DoModal(); }, [&] { steps(dialog); });
    }
    DeviceTable table;
};

}  // namespace

// Initialisation shows the stored record and changes no setting; Ok takes the device, the mode
// (none when no row is selected) and the trackbars afresh, then stores all twenty values.
TEST_F(SetupDialogTest, InitialisationShowsTheStoredSettingsAndOkStoresThem)
{
    const char* const inRange = "deviceCnt 1, modeCnt 2, soundMode 0, speakerType 1, digitalRateType 2, "
                                "digitalBitsType 0, numSampleType 1, isVoodoo 0, isLightmap 1, isFullScreenMode 1, "
                                "fog 0, spriteMode 2, textureMode 0";
    const struct {
        const char* stored;
        const char* shown;
        const char* ok;  // what Ok changes, besides the device's name and GUIDs
    } cases[] = {
        {inRange, inRange, "width 640, height 512, bitPerPixel 16"},
        {"deviceCnt 3, modeCnt 0, soundMode 7, speakerType -1, digitalRateType 3, digitalBitsType 2, "
         "numSampleType 5, isVoodoo 1, isLightmap 1, isFullScreenMode 0, fog 1, spriteMode 5, textureMode -3",
         "deviceCnt -1, modeCnt -1, soundMode -1, speakerType -1, digitalRateType -1, digitalBitsType -1, "
         "numSampleType -1, isVoodoo 1, isLightmap 1, isFullScreenMode 0, fog 1, spriteMode 2, textureMode 0",
         "deviceCnt -1, modeCnt -1, spriteMode 2, textureMode 0"},
        {"deviceCnt 2, modeCnt 40, soundMode 2, speakerType 3, digitalRateType 0, digitalBitsType 1, "
         "numSampleType 2, isVoodoo 0, isLightmap 0, isFullScreenMode 1, fog 1, spriteMode 0, textureMode 1",
         "deviceCnt 2, modeCnt -1, soundMode 2, speakerType 3, digitalRateType 0, digitalBitsType 1, "
         "numSampleType 2, isVoodoo 0, isLightmap 0, isFullScreenMode 1, fog 1, spriteMode 0, textureMode 1",
         "modeCnt 0, width 656, height 480, bitPerPixel 16"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        PutSettingsValue("OTHER", REG_DWORD, "\1\2\3\4");
        const SetupSettings stored = Stored(c.stored);
        const std::string modes = stored.deviceCnt < 3 ? kModes[stored.deviceCnt] : "";
        const size_t rows = std::count(modes.begin(), modes.end(), '\n');
        const auto steps = [&](CSetupDlg& d) {
            HWND dialog = d.m_hWnd;
            EXPECT_EQ(c.shown, Shown(dialog));
            EXPECT_EQ("Primary HAL\nSecondary HAL\nMany HAL\n", Items(dialog, IDC_DEVICE));
            EXPECT_EQ(modes, Items(dialog, IDC_RESOLUTION));
            EXPECT_EQ(modes + (rows < kModeChoiceRows ? "1 x 2 x 3\n" : ""), Rows(rows + 1)) << "the rows";
            EXPECT_EQ(SettingsText(stored), SettingsText(g_setupSettings)) << "initialisation changes no setting";

            const LRESULT icon = LRESULT(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_SETUP_ICON)));
            EXPECT_EQ(icon, SendMessageA(dialog, WM_QUERYDRAGICON, 0, 0));
            EXPECT_EQ(icon, SendMessageA(dialog, WM_GETICON, ICON_BIG, 0));
            EXPECT_EQ(icon, SendMessageA(dialog, WM_GETICON, ICON_SMALL, 0));
            // Centred on the work area, and centred again from elsewhere.
            for (const char* when : {"opened", "moved"}) {
                RECT rect;
                RECT work;
                GetWindowRect(dialog, &rect);
                SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
                EXPECT_LE(std::abs(rect.left + rect.right - work.left - work.right), 1) << when;
                EXPECT_LE(std::abs(rect.top + rect.bottom - work.top - work.bottom), 1) << when;
                SetWindowPos(dialog, nullptr, 70, 30, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
                d.CenterWindow();
            }
            PostMessageA(dialog, WM_COMMAND, IDOK, 0);
        };
        EXPECT_EQ(IDOK, Run(stored, steps));

        SetupSettings expected = With(stored, c.ok);
        if (expected.deviceCnt >= 0)
            TakeDevice(expected);
        EXPECT_EQ(SettingsText(expected), SettingsText(g_setupSettings));
        StoredKey key = ReadSettingsKey();
        EXPECT_EQ(21u, key.size()) << "twenty values and the other one";
        EXPECT_EQ(ValueText(REG_DWORD, &expected.modeCnt, 4), key["MODECNT"]) << "stored after the Ok steps";
        EXPECT_EQ("REG_DWORD \\x01\\x02\\x03\\x04", key["OTHER"]);
        EXPECT_EQ("REG_SZ <1023 x p>\\x00", key["PROVIDERNAME"]);
    }
}

// Each control step writes its own number and no other. Before a step every control of its kind
// shows a value that the step does not give (lists no selection, check boxes the state opposite
// to the click's, trackbars another position), so a handler that reads a neighbour stores
// something else. A device change rebuilds the list and its rows (forty at most) and keeps the
// row, unless the new list lacks it: then the row of 640 x 480 x 16 is taken, else the first.
// Keys on a trackbar and Cancel store nothing.
TEST_F(SetupDialogTest, EachControlStoresExactlyItsNumberAndCancelStoresNothing)
{
    using S = SetupSettings;
    const struct {
        int id;
        int value;  // the item chosen, the box's state after the click, the trackbar's position
        int32_t S::*number;
        const char* more = "";  // what else the step changes
    } steps[] = {
        {IDC_SOUNDMODE, 2, &S::soundMode},
        {IDC_SPEAKER, 3, &S::speakerType},
        {IDC_FREQUENCY, 1, &S::digitalRateType},
        {IDC_SOUNDBITS, 1, &S::digitalBitsType},
        {IDC_CHANNELS, 0, &S::numSampleType},
        {IDC_VOODOO, 1, &S::isVoodoo},
        {IDC_LIGHTMAP, 0, &S::isLightmap},
        {IDC_FULLSCREEN, 0, &S::isFullScreenMode},
        {IDC_FOG, 1, &S::fog},
        {IDC_SPRITE_DETAIL, 1, &S::spriteMode},
        {IDC_TEXTURE_DETAIL, 0, &S::textureMode},
        {IDC_DEVICE, 1, &S::deviceCnt, "modeCnt 1, width 640, height 480, bitPerPixel 16"},  // no row kept (-1)
        {IDC_RESOLUTION, 3, &S::modeCnt, "width 1600, height 1200, bitPerPixel 16"},
        {IDC_DEVICE, 2, &S::deviceCnt},  // row 3 kept, showing another mode
        {IDC_RESOLUTION, 39, &S::modeCnt, "width 1280, height 519, bitPerPixel 16"},
        {IDC_DEVICE, 0, &S::deviceCnt, "modeCnt 0, width 720, height 480, bitPerPixel 16"},  // row 39 gone
        {IDC_RESOLUTION, 4, &S::modeCnt, "width 1280, height 1024, bitPerPixel 16"},
        {IDC_DEVICE, 1, &S::deviceCnt, "modeCnt 1, width 640, height 480, bitPerPixel 16"},  // row 4 is past the list
    };
    const SetupSettings loaded = Stored("deviceCnt 0, modeCnt -1, soundMode 1, speakerType 0, digitalRateType 0, "
                                        "digitalBitsType 0, numSampleType 2, isVoodoo 0, isLightmap 1, "
                                        "isFullScreenMode 1, fog 0, spriteMode 2, textureMode 2");
    SaveSettings(loaded);
    PutSettingsValue("OTHER", REG_SZ, std::string("kept", 5));
    const StoredKey stored = ReadSettingsKey();
    const auto player = [&](CSetupDlg& d) {
        HWND dialog = d.m_hWnd;
        EXPECT_EQ("No Sound\nUse 2D Sound\nUse 3D Sound\n", Items(dialog, IDC_SOUNDMODE));
        EXPECT_EQ("2 SPEAKER\nHEADPHONE\nSURROUND\n4 SPEAKER\n", Items(dialog, IDC_SPEAKER));
        EXPECT_EQ("22k\n11k\n8k\n", Items(dialog, IDC_FREQUENCY));
        EXPECT_EQ("16 Bit\n8 Bit\n", Items(dialog, IDC_SOUNDBITS));
        EXPECT_EQ("48 Channel\n32 Channel\n16 Channel\n", Items(dialog, IDC_CHANNELS));

        SetupSettings expected = loaded;
        for (const auto& step : steps) {
            SCOPED_TRACE("control " + std::to_string(step.id) + " to " + std::to_string(step.value));
            HWND control = GetDlgItem(dialog, step.id);
            char kind[32];
            GetClassNameA(control, kind, sizeof kind);
            for (HWND other = GetWindow(dialog, GW_CHILD); other != nullptr; other = GetWindow(other, GW_HWNDNEXT)) {
                char otherKind[32];
                GetClassNameA(other, otherKind, sizeof otherKind);
                if (std::strcmp(kind, otherKind) != 0)
                    continue;
                if (std::strcmp(kind, "ComboBox") == 0)
                    SendMessageA(other, CB_SETCURSEL, WPARAM(-1), 0);
                else if (std::strcmp(kind, "Button") == 0)
                    SendMessageA(other, BM_SETCHECK, step.value == 0 ? BST_CHECKED : BST_UNCHECKED, 0);
                else
                    SendMessageA(other, TBM_SETPOS, TRUE, (step.value + 1) % 3);
            }
            if (std::strcmp(kind, "ComboBox") == 0)
                Choose(control, step.value);
            else if (std::strcmp(kind, "Button") == 0)
                SendMessageA(control, BM_CLICK, 0, 0);
            else
                DragThumb(control, step.value);

            expected.*step.number = step.value;
            expected = With(expected, step.more);
            if (step.id == IDC_DEVICE)
                TakeDevice(expected);
            EXPECT_EQ(SettingsText(expected), SettingsText(g_setupSettings));
            const std::string& modes = kModes[expected.deviceCnt];
            EXPECT_EQ(modes, Items(dialog, IDC_RESOLUTION));
            EXPECT_EQ(modes, Rows(SendDlgItemMessageA(dialog, IDC_RESOLUTION, CB_GETCOUNT, 0, 0)));
            if (step.id == IDC_DEVICE || step.id == IDC_RESOLUTION) {
                EXPECT_EQ(expected.modeCnt, SendDlgItemMessageA(dialog, IDC_RESOLUTION, CB_GETCURSEL, 0, 0));
            }
        }

        Key(GetDlgItem(dialog, IDC_SPRITE_DETAIL), VK_LEFT);
        Key(GetDlgItem(dialog, IDC_TEXTURE_DETAIL), VK_END);
        EXPECT_EQ(0, SendDlgItemMessageA(dialog, IDC_SPRITE_DETAIL, TBM_GETPOS, 0, 0)) << "moved with a key";
        EXPECT_EQ(2, SendDlgItemMessageA(dialog, IDC_TEXTURE_DETAIL, TBM_GETPOS, 0, 0)) << "moved with a key";
        EXPECT_EQ(SettingsText(expected), SettingsText(g_setupSettings)) << "keys on the trackbars";
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    };
    EXPECT_EQ(IDCANCEL, Run(loaded, player));
    EXPECT_EQ(stored, ReadSettingsKey()) << "Cancel stores nothing";
}
