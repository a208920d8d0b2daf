// The dialog template in both languages, read byte by byte from the resources and seen in the
// running dialog under each UI language; the icon as window icon, drag icon and minimized image.
#include "dialog_runner.h"

#include "res/resource.h"

#include <commctrl.h>

#include <cstring>
#include <sstream>

using namespace dialog_test;

namespace {

struct Item {
    int id;
    std::wstring cls, text;
    DWORD style;
    short x, y, w, h;
};

// The values in one line, numbers in hex.
template <typename... T>
std::wstring Line(const T&... values)
{
    std::wostringstream out;
    out << std::hex;
    ((out << values << L'|'), ...);
    return out.str();
}

// Help id, extended style, style, position, size, id, class, text, size of creation data.
std::wstring ItemLine(const Item& item)
{
    return Line(0, 0, item.style, item.x, item.y, item.w, item.h, item.id, item.cls, item.text, 0);
}

// The DIALOGEX template of the language as lines in the form of Line, its header and then each
// item, read by layouts: d a DWORD, w a WORD, b a byte, t a text, a on to the next DWORD.
std::vector<std::wstring> ReadTemplate(LANGID language)
{
    HRSRC found = ::FindResourceExA(nullptr, MAKEINTRESOURCEA(5), MAKEINTRESOURCEA(IDD_SETUP_DIALOG), language);
    if (!found)
        return {L"no template"};
    const BYTE* data = static_cast<const BYTE*>(::LockResource(::LoadResource(nullptr, found)));
    const size_t size = ::SizeofResource(nullptr, found);
    size_t pos = 0;
    auto number = [&](size_t bytes) {
        DWORD value = 0;
        if (pos + bytes <= size)
            std::memcpy(&value, data + pos, bytes);
        pos += bytes;
        return value;
    };
    auto read = [&](const char* layout) {
        std::wostringstream line;
        line << std::hex;
        for (; *layout == 'a'; ++layout)
            pos = (pos + 3) & ~size_t(3);
        for (; *layout; ++layout, line << L'|') {
            if (*layout != 't')
                line << number(*layout == 'd' ? 4 : *layout == 'w' ? 2 : 1);
            for (DWORD ch = *layout == 't' ? number(2) : 0; ch != 0 && pos <= size; ch = number(2))
                line << static_cast<wchar_t>(ch);
        }
        return line.str();
    };
    std::vector<std::wstring> lines = {read("ddddwwwwwtttwwbbt")};
    while (((pos + 3) & ~size_t(3)) < size)
        lines.push_back(read("adddwwwwdttw"));
    return lines;
}

const LANGID kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
const LANGID kKorean = MAKELANGID(LANG_KOREAN, SUBLANG_DEFAULT);

const DWORD kChild = WS_CHILD | WS_VISIBLE;
const DWORD kCombo = kChild | CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP;
const DWORD kCheck = kChild | BS_AUTOCHECKBOX | WS_TABSTOP;
const DWORD kLabel = kChild | SS_LEFT | WS_GROUP;
const DWORD kTrack = kChild | TBS_HORZ | TBS_BOTH | TBS_NOTICKS | WS_TABSTOP;

// The resource compiler writes class names in capitals; the platform ignores their case.
const std::vector<Item> kEnglishItems = {
    {IDOK, L"BUTTON", L"Ok", kChild | BS_DEFPUSHBUTTON | WS_TABSTOP, 17, 249, 50, 14},
    {IDCANCEL, L"BUTTON", L"Cancel", kChild | BS_PUSHBUTTON | WS_TABSTOP, 87, 249, 50, 14},
    {IDC_DEVICE, L"COMBOBOX", L"", kCombo, 17, 10, 120, 80},
    {IDC_RESOLUTION, L"COMBOBOX", L"", kCombo, 17, 45, 120, 75},
    {IDC_SOUNDMODE, L"COMBOBOX", L"", kCombo, 17, 72, 120, 50},
    {IDC_SPEAKER, L"COMBOBOX", L"", kCombo, 17, 97, 120, 55},
    {IDC_FREQUENCY, L"COMBOBOX", L"", kCombo, 17, 124, 48, 48},
    {IDC_SOUNDBITS, L"COMBOBOX", L"", kCombo, 89, 123, 48, 47},
    {IDC_VOODOO, L"BUTTON", L"Check for VooDoo3 users", kCheck, 17, 176, 99, 10},
    {IDC_LIGHTMAP, L"BUTTON", L"Use Lightmap", kCheck, 17, 194, 59, 10},
    {-1, L"STATIC", L"Sound Frequency", kLabel, 18, 113, 58, 8},
    {-1, L"STATIC", L"Sound Bits", kLabel, 89, 113, 36, 8},
    {IDC_FULLSCREEN, L"BUTTON", L"Full Screen Mode", kCheck, 17, 31, 81, 10},
    {IDC_TEXTURE_DETAIL, L"MSCTLS_TRACKBAR32", L"Slider1", kTrack, 82, 226, 59, 19},
    {IDC_SPRITE_DETAIL, L"MSCTLS_TRACKBAR32", L"Slider2", kTrack, 13, 226, 59, 19},
    {-1, L"STATIC", L"Sprite Detail", kLabel, 16, 214, 58, 8},
    {-1, L"STATIC", L"Texture Detail", kLabel, 87, 214, 51, 8},
    {IDC_CHANNELS, L"COMBOBOX", L"", kCombo, 17, 152, 73, 51},
    {-1, L"STATIC", L"Sound Channel", kLabel, 18, 141, 51, 8},
    {IDC_FOG, L"BUTTON", L"Enable Fog", kCheck, 86, 193, 55, 10},
};

// The English items with the Korean texts and the five Korean sizes.
std::vector<Item> KoreanItems()
{
    std::vector<Item> items = kEnglishItems;
    items[8].text = L"부두3 사용자만 체크하세요";
    items[9].text = L"라이트맵 사용";
    items[12].text = L"전체 화면모드";
    items[12].w = 59;
    items[13].h = items[14].h = 15;
    items[15].text = L"스프라이트 해상도";
    items[16].text = L"텍스쳐 해상도";
    items[16].w = 44;
    items[19].text = L"안개효과";
    items[19].w = 43;
    return items;
}

using SetupDialogTemplateTest = DialogTest;

} // namespace

TEST_F(SetupDialogTemplateTest, BothLanguagesHoldTheirTemplateExactly)
{
    const DWORD style = WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT;
    for (LANGID language : {kEnglish, kKorean}) {
        const bool english = language == kEnglish;
        // Version 1, help id, extended style, style, items, position, size, menu, class, caption, font.
        std::vector<std::wstring> want = {Line(0xffff0001u, 0, WS_EX_APPWINDOW, style, 20, 0, 0, 155, 275, L"", L"",
                                               L"Tavelkin Setup", english ? 8 : 9, 0, 0, 1, english ? L"Tahoma" : L"굴림")};
        for (const Item& item : english ? kEnglishItems : KoreanItems())
            want.push_back(ItemLine(item));
        EXPECT_EQ(want, ReadTemplate(language)) << (english ? "English" : "Korean");
    }
}

namespace {

// Under the given UI language the platform picks that variant: its font and texts show, and
// every member binds to the control with its identifier.
void RunVariant(LANGID language, const std::vector<Item>& want, const wchar_t* face)
{
    ASSERT_EQ(language, ::SetThreadUILanguage(language));
    ASSERT_TRUE(::SetThreadLocale(MAKELCID(language, SORT_DEFAULT)));
    // No list has a selection, so each shows no text.
    settings_test::SetNumbers(g_setupSettings, {0, 0, 0, 0, -1, -1, 0, 0, 0, 0, -1, 0, -1, -1, -1, -1});
    const INT_PTR end = RunSetupDialog([&](CSetupDlg& d) {
        LOGFONTW font{};
        ::GetObjectW(reinterpret_cast<HFONT>(d.SendMessage(WM_GETFONT)), sizeof font, &font);
        EXPECT_STREQ(face, font.lfFaceName);
        std::vector<std::wstring> expected, shown;
        for (const Item& item : want)
            expected.push_back(Line(item.id, item.text));
        for (HWND child = ::GetWindow(d.m_hWnd, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
            wchar_t text[64] = L"";
            ::GetWindowTextW(child, text, 64);
            shown.push_back(Line(static_cast<int>(static_cast<short>(::GetDlgCtrlID(child))), text));
        }
        EXPECT_EQ(expected, shown);
        std::vector<int> bound;
        const CWnd* members[] = {&d.m_chkFog,      &d.m_cbChannels,  &d.m_sldTexture,   &d.m_sldSprite,
                                 &d.m_chkFullScreen, &d.m_chkVoodoo,  &d.m_chkLightmap,  &d.m_cbSoundBits,
                                 &d.m_cbFrequency, &d.m_cbSpeaker,   &d.m_cbSoundMode,  &d.m_cbResolution,
                                 &d.m_cbDevice};
        for (const CWnd* member : members)
            bound.push_back(::GetDlgCtrlID(member->m_hWnd));
        EXPECT_EQ((std::vector<int>{IDC_FOG, IDC_CHANNELS, IDC_TEXTURE_DETAIL, IDC_SPRITE_DETAIL, IDC_FULLSCREEN,
                                    IDC_VOODOO, IDC_LIGHTMAP, IDC_SOUNDBITS, IDC_FREQUENCY, IDC_SPEAKER,
                                    IDC_SOUNDMODE, IDC_RESOLUTION, IDC_DEVICE}),
                  bound);
        EndWith(VK_ESCAPE);
    });
    EXPECT_EQ(IDCANCEL, end);
}

const char kKoreanRun[] = "TAVELKIN_DIALOG_KOREAN_RUN";

// Paint messages and icon background erasures with a device context, sent to the watched window.
std::vector<UINT> g_seen;
HWND g_watched;

LRESULT CALLBACK WatchPaint(int code, WPARAM wParam, LPARAM lParam)
{
    const CWPSTRUCT* msg = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && g_watched && msg->hwnd == g_watched &&
        (msg->message == WM_PAINT || (msg->message == WM_ICONERASEBKGND && msg->wParam != 0)))
        g_seen.push_back(msg->message);
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

} // namespace

TEST_F(SetupDialogTemplateTest, EnglishUiLanguageRunsTheEnglishVariant)
{
    RunVariant(kEnglish, kEnglishItems, L"Tahoma");
}

// The dialog is an ANSI window: its Korean texts survive only the Korean code page, which Wine
// takes from the locale of the process. ctest runs this test once more with LC_ALL=ko_KR.UTF-8.
TEST_F(SetupDialogTemplateTest, KoreanUiLanguageRunsTheKoreanVariant)
{
    if (::GetACP() != 949) {
        ASSERT_EQ(0u, ::GetEnvironmentVariableA(kKoreanRun, nullptr, 0)) << "the Korean run has ANSI code page "
                                                                         << ::GetACP();
        GTEST_SKIP() << "needs the Korean code page (LC_ALL=ko_KR.UTF-8)";
    }
    RunVariant(kKorean, KoreanItems(), L"굴림");
}

// One 32 x 32 image of 256 colours serves as window icons and drag icon; minimized, the paint
// erases the icon background with the paint DC and draws the icon, else it is the default paint.
TEST_F(SetupDialogTemplateTest, IconServesTheWindowTheDragAndTheMinimizedPaint)
{
    HRSRC group = ::FindResourceA(nullptr, MAKEINTRESOURCEA(IDI_SETUP_ICON), MAKEINTRESOURCEA(14));
    ASSERT_NE(nullptr, group);
    ASSERT_EQ(6u + 14u, ::SizeofResource(nullptr, group));
    const BYTE* dir = static_cast<const BYTE*>(::LockResource(::LoadResource(nullptr, group)));
    EXPECT_EQ((std::vector<int>{1, 32, 32, 8}), (std::vector<int>{dir[4], dir[6], dir[7], dir[12]}))
        << "images, width, height, bits per pixel";
    HICON loaded = ::LoadIconA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_SETUP_ICON));
    const LRESULT icon = reinterpret_cast<LRESULT>(loaded);
    HHOOK hook = ::SetWindowsHookExA(WH_CALLWNDPROC, WatchPaint, nullptr, ::GetCurrentThreadId());
    std::vector<UINT> minimized;
    const INT_PTR end = RunSetupDialog([&](CSetupDlg& d) {
        EXPECT_EQ((std::vector<LRESULT>{icon, icon, icon, icon}),
                  (std::vector<LRESULT>{reinterpret_cast<LRESULT>(d.m_hIcon), d.SendMessage(WM_QUERYDRAGICON),
                                        d.SendMessage(WM_GETICON, ICON_BIG), d.SendMessage(WM_GETICON, ICON_SMALL)}));
        g_watched = d.m_hWnd;
        ::ShowWindow(d.m_hWnd, SW_MINIMIZE);
        ::RedrawWindow(d.m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE);
        d.SendMessage(WM_PAINT);
        minimized.swap(g_seen);
        ::ShowWindow(d.m_hWnd, SW_RESTORE);
        ::RedrawWindow(d.m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
        g_watched = nullptr;
        ::SetFocus(d.GetDlgItem(IDCANCEL));
        EndWith(VK_ESCAPE);
    });
    ::UnhookWindowsHookEx(hook);
    EXPECT_EQ(IDCANCEL, end);
    EXPECT_EQ(std::vector<UINT>({WM_PAINT, WM_ICONERASEBKGND}), minimized);
    EXPECT_EQ(std::vector<UINT>({WM_PAINT}), g_seen) << "restored";
}
