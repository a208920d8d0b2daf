// The setup dialog from its real template under Wine.
#include "app/mode_choice.h"
#include "dialog/setup_dlg.h"
#include "res/resource.h"
#include "support.h"

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

namespace {

std::string Kind(HWND control)
{
    char kind[32] = "";
    GetClassNameA(control, kind, sizeof kind);
    return kind;
}

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

// A list's items, one a line; a resolution item whose mode-choice row holds another mode says so.
std::string Items(HWND dialog, int id)
{
    std::string items;
    for (int i = 0; i < SendDlgItemMessageA(dialog, id, CB_GETCOUNT, 0, 0); ++i) {
        char text[64] = "";
        SendDlgItemMessageA(dialog, id, CB_GETLBTEXT, i, LPARAM(text));
        const ModeChoice& row = ModeChoiceTable[i % kModeChoiceRows];  // a 41st item meets row 0
        const std::string rowText = DisplayModeText(row.width, row.height, row.bitPerPixel);
        items += text + (id == IDC_RESOLUTION && rowText != text ? " but row " + rowText : "") + "\n";
    }
    return items;
}

// The resolution lists of the hardware devices, at table indices 0, 2 and 3: the first forty of 41 on the third.
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

// Bytes after the device name's terminator, a provider name that fills its field, a mode no device has.
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

// A modal dialog's steps, run by a thread timer once it is shown; they end it, else the timer does 2 s later.
std::function<void()> g_steps;
UINT_PTR g_timer;
void CALLBACK StepTimer(HWND, UINT, UINT_PTR, DWORD)
{
    HWND dialog = GetActiveWindow();
    if (dialog == nullptr || !IsWindowVisible(dialog))
        return;
    KillTimer(nullptr, g_timer);
    g_timer = SetTimer(nullptr, 0, 2000, StepTimer);
    if (g_steps == nullptr)
        EndDialog(dialog, 0x5a5a);  // left open by its steps: DoModal's result fails the test
    else
        std::exchange(g_steps, nullptr)();
}

// Three hardware devices, a software one second and a rejected record last; no settings key.
class SetupDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(TRUE, RegisterCommonControlClasses());
        table.Add("Primary HAL", true,
                  {MakeMode(720, 480, 16), MakeMode(800, 600, 16), MakeMode(1024, 768, 16), MakeMode(1280, 960, 16),
                   MakeMode(1280, 1024, 16)});
        table.Add("Software RGB", false, {MakeMode(640, 480, 16), MakeMode(2048, 1536, 16)});
        table.Add("Secondary HAL", true,
                  {MakeMode(512, 384, 16), MakeMode(600, 480, 16), MakeMode(640, 480, 16), MakeMode(640, 512, 16),
                   MakeMode(1600, 1200, 16)});
        std::vector<DDSURFACEDESC2> many;
        for (DWORD i = 0; i < 41; ++i)
            many.push_back(MakeMode(656 + 16 * i, 480 + i, 16));
        table.Add("Many HAL", true, many);
        table.Add("Rejected HAL", true, {MakeMode(640, 480, 16)});
        --g_displayDeviceTable.acceptedDeviceCount;
        DeleteSettingsKey();
    }
    // DoModal of a CSetupDlg over the stored record, with rows that no device wrote.
    static INT_PTR Run(const SetupSettings& stored, const std::function<void(CSetupDlg&)>& steps)
    {
        g_setupSettings = stored;
        std::fill(ModeChoiceTable, ModeChoiceTable + kModeChoiceRows, ModeChoice {1, 2, 3});
        CSetupDlg dialog;
        g_steps = [&] { steps(dialog); };
        g_timer = SetTimer(nullptr, 0, 1, StepTimer);
        const INT_PTR result = dialog.DoModal();
        KillTimer(nullptr, g_timer);
        return result;
    }
    DeviceTable table;
};

}  // namespace

// Initialisation shows the record and changes nothing; Ok takes device, mode and trackbars afresh, then stores.
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
        const SetupSettings stored = Stored(c.stored);
        const auto steps = [&](CSetupDlg& d) {
            HWND dialog = d.m_hWnd;
            EXPECT_EQ(c.shown, Shown(dialog));
            EXPECT_EQ("Primary HAL\nSecondary HAL\nMany HAL\n", Items(dialog, IDC_DEVICE));
            EXPECT_EQ(stored.deviceCnt < 3 ? kModes[stored.deviceCnt] : "", Items(dialog, IDC_RESOLUTION));
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
        EXPECT_EQ(20u, key.size()) << "twenty values";
        EXPECT_EQ("REG_DWORD " + BytesText(&expected.modeCnt, 4), key["MODECNT"]) << "stored after the Ok steps";
        EXPECT_EQ("REG_SZ <1023 x p>\\x00", key["PROVIDERNAME"]);
    }
}

// Each step stores its control's number alone: before it, every control shows a value the step does not give, so
// a handler that reads a neighbour stores something else. A device change keeps the row unless the new list lacks it,
// then takes the row of 640 x 480 x 16, else the first.
TEST_F(SetupDialogTest, EachControlStoresExactlyItsNumberAndCancelStoresNothing)
{
    const struct {
        int id;
        int value;  // the item chosen, the box's state after the click, the trackbar's position
        const char* changes;
    } steps[] = {
        {IDC_SOUNDMODE, 2, "soundMode 2"},
        {IDC_SPEAKER, 3, "speakerType 3"},
        {IDC_FREQUENCY, 1, "digitalRateType 1"},
        {IDC_SOUNDBITS, 1, "digitalBitsType 1"},
        {IDC_CHANNELS, 0, "numSampleType 0"},
        {IDC_VOODOO, 1, "isVoodoo 1"},
        {IDC_LIGHTMAP, 0, "isLightmap 0"},
        {IDC_FULLSCREEN, 0, "isFullScreenMode 0"},
        {IDC_FOG, 1, "fog 1"},
        {IDC_SPRITE_DETAIL, 1, "spriteMode 1"},
        {IDC_TEXTURE_DETAIL, 0, "textureMode 0"},
        {IDC_DEVICE, 1, "deviceCnt 1, modeCnt 1, width 640, height 480, bitPerPixel 16"},  // no row kept (-1)
        {IDC_RESOLUTION, 3, "modeCnt 3, width 1600, height 1200, bitPerPixel 16"},
        {IDC_DEVICE, 2, "deviceCnt 2"},  // row 3 kept, showing another mode
        {IDC_RESOLUTION, 39, "modeCnt 39, width 1280, height 519, bitPerPixel 16"},
        {IDC_DEVICE, 0, "deviceCnt 0, modeCnt 0, width 720, height 480, bitPerPixel 16"},  // row 39 gone
        {IDC_RESOLUTION, 4, "modeCnt 4, width 1280, height 1024, bitPerPixel 16"},
        {IDC_DEVICE, 1, "deviceCnt 1, modeCnt 1, width 640, height 480, bitPerPixel 16"},  // row 4 is past the list
    };
    const SetupSettings loaded = Stored("deviceCnt 0, modeCnt -1, soundMode 1, speakerType 0, digitalRateType 0, "
                                        "digitalBitsType 0, numSampleType 2, isVoodoo 0, isLightmap 1, "
                                        "isFullScreenMode 1, fog 0, spriteMode 2, textureMode 2");
    const auto player = [&](CSetupDlg& d) {
        HWND dialog = d.m_hWnd;
        EXPECT_EQ("No Sound\nUse 2D Sound\nUse 3D Sound\n", Items(dialog, IDC_SOUNDMODE));
        EXPECT_EQ("2 SPEAKER\nHEADPHONE\nSURROUND\n4 SPEAKER\n", Items(dialog, IDC_SPEAKER));
        EXPECT_EQ("22k\n11k\n8k\n", Items(dialog, IDC_FREQUENCY));
        EXPECT_EQ("16 Bit\n8 Bit\n", Items(dialog, IDC_SOUNDBITS));
        EXPECT_EQ("48 Channel\n32 Channel\n16 Channel\n", Items(dialog, IDC_CHANNELS));
        SetupSettings expected = loaded;
        for (const auto& step : steps) {
            SCOPED_TRACE(step.changes);
            for (HWND other = GetWindow(dialog, GW_CHILD); other != nullptr; other = GetWindow(other, GW_HWNDNEXT)) {
                if (Kind(other) == "ComboBox")
                    SendMessageA(other, CB_SETCURSEL, WPARAM(-1), 0);
                else if (Kind(other) == "Button")
                    SendMessageA(other, BM_SETCHECK, step.value == 0 ? BST_CHECKED : BST_UNCHECKED, 0);
                else if (Kind(other) == TRACKBAR_CLASSA)
                    SendMessageA(other, TBM_SETPOS, TRUE, (step.value + 1) % 3);
            }
            HWND control = GetDlgItem(dialog, step.id);
            const std::string kind = Kind(control);
            LRESULT answer = 0;  // the dialog's answer to the notification, 0 where handled
            if (kind == "ComboBox") {
                SendMessageA(control, CB_SETCURSEL, step.value, 0);
                answer = SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(step.id, CBN_SELCHANGE), LPARAM(control));
            } else if (kind == "Button") {
                SendMessageA(control, BM_CLICK, 0, 0);
            } else {  // as the end of a drag with the mouse
                SendMessageA(control, TBM_SETPOS, TRUE, step.value);
                NMHDR released {control, UINT_PTR(step.id), UINT(NM_RELEASEDCAPTURE)};
                answer = SendMessageA(dialog, WM_NOTIFY, step.id, LPARAM(&released));
            }
            EXPECT_EQ(0, answer) << "the dialog's answer";

            expected = With(expected, step.changes);
            if (step.id == IDC_DEVICE)
                TakeDevice(expected);
            EXPECT_EQ(SettingsText(expected), SettingsText(g_setupSettings));
            EXPECT_EQ(kModes[expected.deviceCnt], Items(dialog, IDC_RESOLUTION));
            EXPECT_EQ(expected.modeCnt, SendDlgItemMessageA(dialog, IDC_RESOLUTION, CB_GETCURSEL, 0, 0)) << "the row";
        }
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    };
    EXPECT_EQ(IDCANCEL, Run(loaded, player));
    EXPECT_EQ(StoredKey {}, ReadSettingsKey()) << "Cancel stores nothing";
}
