// The setup dialog from its real template under Wine: what initialisation shows, what each
// control stores, device and mode changes, and what Ok and Cancel leave in the registry.
#include "dialog_runner.h"

#include "res/resource.h"

#include <algorithm>

using namespace dialog_test;
using namespace settings_test;

namespace {

using Rows = std::vector<ModeChoice>;
const Rows kPrimaryRows = {{640, 480, 16},  {720, 480, 16},  {800, 600, 16},
                           {1024, 768, 16}, {1280, 960, 16}, {1280, 1024, 16}};
const Rows kSecondaryRows = {{640, 480, 16}, {800, 600, 16}, {1600, 1200, 16}};
const Rows kThirdRows = {{640, 480, 16},  {800, 600, 16},  {848, 480, 16},   {1024, 768, 16},
                         {1152, 864, 16}, {1280, 720, 16}, {1280, 1024, 16}, {1920, 1080, 16}};
const Rows kNoRows;

struct Device {
    const char* name;
    GUID guid, driver;
    const Rows& rows;
};
const Device kHardware[] = {{"Primary HAL", MakeGuid(0x31), GUID{}, kPrimaryRows},
                            {"Secondary HAL", MakeGuid(0x51), MakeGuid(0x61), kSecondaryRows},
                            {"Third HAL", MakeGuid(0x71), MakeGuid(0x81), kThirdRows}};

// The three hardware devices, whose modes of other depths and of fewer than 480 lines are not
// listed, a software device after the first, and a rejected record at the accepted count.
void FillDevices(DeviceTable& table)
{
    const std::vector<DDSURFACEDESC2> modes[] = {
        {Mode(320, 240, 16), Mode(640, 400, 16), Mode(640, 480, 16), Mode(640, 480, 32), Mode(720, 480, 16),
         Mode(800, 600, 16), Mode(800, 600, 24), Mode(1024, 768, 8), Mode(1024, 768, 16), Mode(1280, 960, 16),
         Mode(1280, 1024, 16)},
        {Mode(512, 384, 16), Mode(640, 480, 16), Mode(800, 600, 16), Mode(800, 600, 32), Mode(1600, 1200, 16)},
        {Mode(640, 480, 16), Mode(800, 600, 16), Mode(848, 480, 16), Mode(1024, 768, 16), Mode(1152, 864, 16),
         Mode(1280, 720, 16), Mode(1280, 1024, 16), Mode(1920, 1080, 16), Mode(1920, 1080, 32)}};
    for (int i = 0; i < 3; ++i) {
        table.Add(kHardware[i].name, true, kHardware[i].guid, kHardware[i].driver, modes[i]);
        if (i == 0)
            table.Add("Software RGB", false, MakeGuid(0x41), GUID{}, {Mode(640, 480, 16), Mode(2048, 1536, 16)});
    }
    table.Add("Rejected HAL", true, MakeGuid(0x91), GUID{}, {Mode(1024, 768, 16)});
    --g_displayDeviceTable.acceptedDeviceCount;
}

std::vector<std::string> Texts(const Rows& rows)
{
    std::vector<std::string> texts;
    for (const ModeChoice& row : rows)
        texts.push_back(std::to_string(row.width) + " x " + std::to_string(row.height) + " x " +
                        std::to_string(row.bitPerPixel));
    return texts;
}

// The table holds the sentinel rows with the given lists written over them in turn.
void ExpectRows(std::initializer_list<Rows> lists, const std::string& context)
{
    Rows rows;
    for (int r = 0; r < static_cast<int>(kModeChoiceRows); ++r)
        rows.push_back(SentinelRow(r));
    for (const Rows& list : lists)
        std::copy(list.begin(), list.end(), rows.begin());
    EXPECT_EQ(Texts(rows), Texts(Rows(ModeChoiceTable, ModeChoiceTable + kModeChoiceRows))) << context;
}

// A stored record whose texts have bytes after the terminator that are not zero; the numbers
// are full screen, width, height, bits, device, mode, VooDoo3, lightmap, sprite, texture,
// channels, fog, sound mode, speaker, rate, sound bits.
SetupSettings Stored(const std::vector<int32_t>& numbers)
{
    SetupSettings s{};
    s.guidDevice = MakeGuid(0xa0);
    s.guidDriver = MakeGuid(0xb0);
    std::memset(s.deviceName, 'z', sizeof s.deviceName - 1);
    std::memcpy(s.deviceName, "Stored Device Name", 19);
    std::memset(s.providerName, 'p', sizeof s.providerName - 1);
    SetNumbers(s, numbers);
    return s;
}

// What the device step writes for hardware device `device` and the mode step for `row` of its
// list; -1 for either writes nothing.
void Take(SetupSettings& s, int device, int row)
{
    if (device < 0)
        return;
    const Device& d = kHardware[device];
    std::memcpy(s.deviceName, d.name, std::strlen(d.name) + 1);
    s.guidDevice = d.guid;
    s.guidDriver = d.driver;
    if (row >= 0) {
        s.width = d.rows[row].width;
        s.height = d.rows[row].height;
        s.bitPerPixel = d.rows[row].bitPerPixel;
    }
}

// The settings key holds exactly the twenty values of `expected`, with their types and bytes.
void ExpectStoredKey(const SetupSettings& expected, const std::string& context)
{
    RealKey want;
    for (const StoredField& field : kFields)
        want[field.name] = RealValue{field.type, FieldBytes(expected, field)};
    EXPECT_EQ(want, ReadRealKey()) << context;
}

using SetupDialogTest = DialogTest;

} // namespace

// Initialisation shows the stored record and changes nothing but the rows of the stored device;
// Enter right away runs Ok, which takes device and mode afresh from the lists (-1 where nothing
// is selected, the mode fields then kept) and stores all twenty values.
TEST_F(SetupDialogTest, InitialisationShowsTheStoredSettingsAndOkStoresThem)
{
    // shown: selections of device, resolution, sound mode, speaker, frequency, sound bits and
    // channels; checks of VooDoo3, lightmap, full screen and fog; sprite and texture positions.
    const struct {
        const char* name;
        std::vector<int32_t> stored;
        std::vector<int> shown;
    } cases[] = {
        {"second", {1, 1234, 567, 24, 1, 2, 0, 1, 0, 2, 1, 0, 0, 1, 2, 0}, {1, 2, 0, 1, 2, 0, 1, 0, 1, 1, 0, 0, 2}},
        {"first", {0, 640, 480, 16, 0, 5, 1, 0, 1, 1, 2, 1, 2, 3, 0, 1}, {0, 5, 2, 3, 0, 1, 2, 1, 0, 0, 1, 1, 1}},
        // deviceCnt equal to the number of hardware devices; sound mode 7 and sprite 5 go back.
        {"out of range", {0, 1234, 567, 24, 3, 0, 1, 1, 5, -3, 3, 1, 7, -1, 3, 2},
         {-1, -1, -1, -1, -1, -1, -1, 1, 1, 0, 1, 2, 0}},
        {"mode 40", {1, 1234, 567, 24, 0, 40, 0, 0, 2, 0, 0, 0, 1, 0, 1, 1}, {0, -1, 1, 0, 1, 1, 0, 0, 0, 1, 0, 2, 0}},
    };
    const std::vector<std::vector<std::string>> lists = {
        {"Primary HAL", "Secondary HAL", "Third HAL"},
        {"640 x 480 x 16", "720 x 480 x 16", "800 x 600 x 16", "1024 x 768 x 16", "1280 x 960 x 16",
         "1280 x 1024 x 16"},
        {"No Sound", "Use 2D Sound", "Use 3D Sound"},
        {"2 SPEAKER", "HEADPHONE", "SURROUND", "4 SPEAKER"},
        {"22k", "11k", "8k"},
        {"16 Bit", "8 Bit"},
        {"48 Channel", "32 Channel", "16 Channel"}};
    DeviceTable table;
    FillDevices(table);
    for (const auto& c : cases) {
        const SetupSettings before = Stored(c.stored);
        g_setupSettings = before;
        SetSentinelRows();
        const Rows& listed = c.shown[0] >= 0 ? kHardware[c.shown[0]].rows : kNoRows;
        std::vector<std::vector<std::string>> want = lists;
        if (&listed != &kPrimaryRows)
            want[1] = Texts(listed);
        const INT_PTR end = RunSetupDialog([&](CSetupDlg& d) {
            CComboBox* combos[] = {&d.m_cbDevice,   &d.m_cbResolution, &d.m_cbSoundMode, &d.m_cbSpeaker,
                                   &d.m_cbFrequency, &d.m_cbSoundBits, &d.m_cbChannels};
            std::vector<int> shown;
            std::vector<std::vector<std::string>> items;
            for (CComboBox* combo : combos) {
                shown.push_back(combo->GetCurSel());
                items.push_back(Items(*combo));
            }
            for (CButton* box : {&d.m_chkVoodoo, &d.m_chkLightmap, &d.m_chkFullScreen, &d.m_chkFog})
                shown.push_back(box->GetCheck());
            std::vector<int> ranges;
            for (CSliderCtrl* bar : {&d.m_sldSprite, &d.m_sldTexture}) {
                shown.push_back(bar->GetPos());
                ranges.insert(ranges.end(), {bar->GetRangeMin(), bar->GetRangeMax()});
            }
            EXPECT_EQ(c.shown, shown) << c.name;
            EXPECT_EQ(want, items) << c.name;
            EXPECT_EQ((std::vector<int>{0, 2, 0, 2}), ranges);
            ExpectSameSettings(before, g_setupSettings, c.name);
            ExpectRows({listed}, c.name);
            EXPECT_EQ(TRUE, g_initResult) << c.name << ": the platform puts the focus on the first tab stop";
            EndWith(VK_RETURN);
        });
        EXPECT_EQ(IDOK, end) << c.name;
        // A listed device without the stored row has its 640 x 480 x 16 (row 0 here) chosen.
        const int okRow = c.shown[0] >= 0 && c.shown[1] < 0 ? 0 : c.shown[1];
        SetupSettings expected = before;
        expected.deviceCnt = c.shown[0];
        expected.modeCnt = okRow;
        expected.spriteMode = c.shown[11];  // the trackbars as they show
        expected.textureMode = c.shown[12];
        Take(expected, c.shown[0], okRow);
        ExpectSameSettings(expected, g_setupSettings, c.name);
        ExpectStoredKey(expected, c.name);
        DeleteSettingsKey();
    }
}

// Each control driven as a user does stores its own field at once and no other byte; a trackbar
// moved by keyboard reports no release and stores nothing. Cancel after all that leaves the
// registry as it was.
TEST_F(SetupDialogTest, EachControlStoresExactlyItsFieldAndCancelLeavesTheRegistry)
{
    enum Action { Press, Click, Drag };
    const struct {
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
        {IDC_VOODOO, Click, 0, offsetof(SetupSettings, isVoodoo), 1},
        {IDC_LIGHTMAP, Click, 0, offsetof(SetupSettings, isLightmap), 0},
        {IDC_FULLSCREEN, Click, 0, offsetof(SetupSettings, isFullScreenMode), 0},
        {IDC_FOG, Click, 0, offsetof(SetupSettings, fog), 1},
        {IDC_SPRITE_DETAIL, Drag, 1, offsetof(SetupSettings, spriteMode), 1},
        {IDC_TEXTURE_DETAIL, Drag, 0, offsetof(SetupSettings, textureMode), 0},
    };
    DeviceTable table;
    FillDevices(table);
    const SetupSettings loaded = Stored({1, 1234, 567, 24, 0, 1, 0, 1, 0, 2, 1, 0, 0, 1, 2, 0});
    g_setupSettings = loaded;
    SaveSettings();
    PutRealValue("OTHER", REG_SZ, {'k', 'e', 'p', 't', 0});
    const RealKey stored = ReadRealKey();
    ASSERT_EQ(21u, stored.size());
    const INT_PTR end = RunSetupDialog([&](CSetupDlg& d) {
        SetupSettings expected = loaded;
        for (const auto& s : steps) {
            HWND control = d.GetDlgItem(s.id);
            if (s.action == Press)
                Key(control, static_cast<WPARAM>(s.argument));
            else if (s.action == Click)
                ::SendMessageA(control, BM_CLICK, 0, 0);
            else
                DragThumb(control, s.argument);
            std::memcpy(reinterpret_cast<BYTE*>(&expected) + s.offset, &s.value, sizeof s.value);
            ExpectSameSettings(expected, g_setupSettings, "control " + std::to_string(s.id));
            const UINT get = s.action == Press ? CB_GETCURSEL : s.action == Click ? BM_GETCHECK : TBM_GETPOS;
            EXPECT_EQ(s.value, ::SendMessageA(control, get, 0, 0)) << "control " << s.id;
        }
        // The second hardware device, third in the table, keeps row 1; then its last mode.
        Key(d.m_cbDevice.m_hWnd, VK_DOWN);
        Key(d.m_cbResolution.m_hWnd, VK_DOWN);
        expected.deviceCnt = 1;
        expected.modeCnt = 2;
        Take(expected, 1, 2);
        ExpectSameSettings(expected, g_setupSettings, "device and resolution");
        Key(d.m_sldSprite.m_hWnd, VK_RIGHT);
        Key(d.m_sldTexture.m_hWnd, VK_END);
        EXPECT_EQ((std::vector<int>{2, 2}), (std::vector<int>{d.m_sldSprite.GetPos(), d.m_sldTexture.GetPos()}));
        ExpectSameSettings(expected, g_setupSettings, "keyboard on the trackbars");
        for (int i = 0; i < 16; ++i)
            EXPECT_NE((&loaded.isFullScreenMode)[i], (&g_setupSettings.isFullScreenMode)[i]) << "number " << i;
        EndWith(VK_ESCAPE);
    });
    EXPECT_EQ(IDCANCEL, end);
    EXPECT_EQ(stored, ReadRealKey());
}

// A device change rebuilds the resolution list and its rows and keeps the chosen row; on a
// shorter list that row is gone, and the new device's 640 x 480 x 16 is chosen and stored at once.
TEST_F(SetupDialogTest, DeviceChangeRebuildsTheListAndKeepsTheRow)
{
    DeviceTable table;
    FillDevices(table);
    g_setupSettings = Stored({1, 1234, 567, 24, 0, 5, 0, 1, 0, 2, 1, 0, 0, 1, 2, 0});
    SetupSettings expected = g_setupSettings;
    const INT_PTR end = RunSetupDialog([&](CSetupDlg& d) {
        for (int device : {2, 1}) {
            Key(d.m_cbDevice.m_hWnd, device == 2 ? VK_END : VK_UP);
            expected.deviceCnt = device;
            // Row 5 is 1280 x 720 x 16 of the third device; the second has three.
            expected.modeCnt = device == 2 ? 5 : 0;
            Take(expected, device, device == 2 ? -1 : 0);
            ExpectSameSettings(expected, g_setupSettings, kHardware[device].name);
            EXPECT_EQ(Texts(kHardware[device].rows), Items(d.m_cbResolution));
            EXPECT_EQ(expected.modeCnt, d.m_cbResolution.GetCurSel());
        }
        ExpectRows({kThirdRows, kSecondaryRows}, "after two device changes");
        EndWith(VK_RETURN);
    });
    EXPECT_EQ(IDOK, end);
    ExpectSameSettings(expected, g_setupSettings, "after Ok");
    ExpectStoredKey(expected, "after Ok");
}

// The table has forty rows: a device with more listed modes lists the first forty, each item
// with its row, and writes no row after them (one more would break what follows the table).
TEST_F(SetupDialogTest, MoreThanFortyModesListTheFirstForty)
{
    std::vector<DDSURFACEDESC2> modes;
    Rows rows;
    for (int i = 0; i < 41; ++i) {
        modes.push_back(Mode(640 + 16 * i, 480 + i, 16));
        modes.push_back(Mode(640 + 16 * i, 480 + i, 32));
        if (i < 40)
            rows.push_back(ModeChoice{640 + 16 * i, 480 + i, 16});
    }
    DeviceTable table;
    table.Add("Many HAL", true, MakeGuid(0x31), GUID{}, modes);
    g_setupSettings = Stored({1, 1234, 567, 24, 0, 0, 0, 1, 0, 2, 1, 0, 0, 1, 2, 0});
    const INT_PTR end = RunSetupDialog([&](CSetupDlg& d) {
        EXPECT_EQ(Texts(rows), Items(d.m_cbResolution));
        ExpectRows({rows}, "forty rows");
        Key(d.m_cbResolution.m_hWnd, VK_END);
        EXPECT_EQ((std::vector<int32_t>{39, 640 + 16 * 39, 480 + 39, 16}),
                  (std::vector<int32_t>{g_setupSettings.modeCnt, g_setupSettings.width, g_setupSettings.height,
                                        g_setupSettings.bitPerPixel}));
        EndWith(VK_ESCAPE);
    });
    EXPECT_EQ(IDCANCEL, end);
}
