// The dialog template in both languages, read byte by byte from the resources and seen in the
// running dialog under each UI language; the icon as window icon, drag icon and minimized image.
#include "dialog_runner.h"

#include "app/memory_registry.h"
#include "app/registry.h"
#include "app/settings.h"
#include "res/resource.h"

#include <commctrl.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

using namespace dialog_test;

namespace {

struct Item {
    int id;
    std::wstring cls, text;
    DWORD style;
    short x, y, w, h;
};

struct Template {
    DWORD helpId, exStyle, style;
    short x, y, w, h;
    std::wstring menu, cls, caption;
    WORD pointSize, weight;
    BYTE italic, charset;
    std::wstring face;
    std::vector<Item> items;
    std::vector<DWORD> itemHelpIds, itemExStyles;
};

class Reader {
public:
    Reader(const BYTE* data, DWORD size) : m_data(data), m_size(size) {}
    WORD Word() { return Take<WORD>(); }
    DWORD Dword() { return Take<DWORD>(); }
    short Short() { return Take<short>(); }
    BYTE Byte() { return Take<BYTE>(); }
    std::wstring Text()
    {
        std::wstring text;
        for (WORD c = Word(); c != 0 && Ok(); c = Word())
            text += static_cast<wchar_t>(c);
        return text;
    }
    // A name or an ordinal; the predefined class ordinals read as their names.
    std::wstring NameOrOrdinal()
    {
        if (m_pos + 2 <= m_size && (m_data[m_pos] | m_data[m_pos + 1] << 8) == 0xffff) {
            Word();
            const WORD ordinal = Word();
            switch (ordinal) {
            case 0x80: return L"Button";
            case 0x82: return L"Static";
            case 0x85: return L"ComboBox";
            default: return L"#" + std::to_wstring(ordinal);
            }
        }
        return Text();
    }
    void AlignDword() { m_pos = (m_pos + 3) & ~size_t(3); }
    bool Ok() const { return !m_overrun; }
    size_t Pos() const { return m_pos; }

private:
    template <typename T>
    T Take()
    {
        T value{};
        if (m_pos + sizeof(T) > m_size) {
            m_overrun = true;
            return value;
        }
        std::memcpy(&value, m_data + m_pos, sizeof(T));
        m_pos += sizeof(T);
        return value;
    }
    const BYTE* m_data;
    DWORD m_size;
    size_t m_pos = 0;
    bool m_overrun = false;
};

// Parses the DIALOGEX template of the given language; fails the test when it is not one.
Template ReadTemplate(LANGID language, DWORD* unread)
{
    Template t{};
    HRSRC found = ::FindResourceExA(nullptr, MAKEINTRESOURCEA(5), MAKEINTRESOURCEA(IDD_SETUP_DIALOG), language);
    EXPECT_NE(nullptr, found) << "language " << language;
    if (!found)
        return t;
    const DWORD size = ::SizeofResource(nullptr, found);
    Reader r(static_cast<const BYTE*>(::LockResource(::LoadResource(nullptr, found))), size);
    EXPECT_EQ(1, r.Word()) << "dlgVer";
    EXPECT_EQ(0xffff, r.Word()) << "signature";
    t.helpId = r.Dword();
    t.exStyle = r.Dword();
    t.style = r.Dword();
    const WORD count = r.Word();
    t.x = r.Short(), t.y = r.Short(), t.w = r.Short(), t.h = r.Short();
    t.menu = r.NameOrOrdinal();
    t.cls = r.NameOrOrdinal();
    t.caption = r.Text();
    t.pointSize = r.Word();
    t.weight = r.Word();
    t.italic = r.Byte();
    t.charset = r.Byte();
    t.face = r.Text();
    for (WORD i = 0; i < count && r.Ok(); ++i) {
        r.AlignDword();
        Item item{};
        t.itemHelpIds.push_back(r.Dword());
        t.itemExStyles.push_back(r.Dword());
        item.style = r.Dword();
        item.x = r.Short(), item.y = r.Short(), item.w = r.Short(), item.h = r.Short();
        item.id = static_cast<int>(r.Dword());
        item.cls = r.NameOrOrdinal();
        item.text = r.NameOrOrdinal();
        EXPECT_EQ(0, r.Word()) << "creation data of item " << i;
        t.items.push_back(item);
    }
    EXPECT_TRUE(r.Ok()) << "template of language " << language << " ends early";
    *unread = size - static_cast<DWORD>(r.Pos());
    return t;
}

const LANGID kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
const LANGID kKorean = MAKELANGID(LANG_KOREAN, SUBLANG_DEFAULT);

const DWORD kChild = WS_CHILD | WS_VISIBLE;
const DWORD kCombo = kChild | CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP;
const DWORD kCheck = kChild | BS_AUTOCHECKBOX | WS_TABSTOP;
const DWORD kLabel = kChild | SS_LEFT | WS_GROUP;
const DWORD kTrack = kChild | TBS_HORZ | TBS_BOTH | TBS_NOTICKS | WS_TABSTOP;

const std::vector<Item> kEnglishItems = {
    {IDOK, L"Button", L"Ok", kChild | BS_DEFPUSHBUTTON | WS_TABSTOP, 17, 249, 50, 14},
    {IDCANCEL, L"Button", L"Cancel", kChild | BS_PUSHBUTTON | WS_TABSTOP, 87, 249, 50, 14},
    {IDC_DEVICE, L"ComboBox", L"", kCombo, 17, 10, 120, 80},
    {IDC_RESOLUTION, L"ComboBox", L"", kCombo, 17, 45, 120, 75},
    {IDC_SOUNDMODE, L"ComboBox", L"", kCombo, 17, 72, 120, 50},
    {IDC_SPEAKER, L"ComboBox", L"", kCombo, 17, 97, 120, 55},
    {IDC_FREQUENCY, L"ComboBox", L"", kCombo, 17, 124, 48, 48},
    {IDC_SOUNDBITS, L"ComboBox", L"", kCombo, 89, 123, 48, 47},
    {IDC_VOODOO, L"Button", L"Check for VooDoo3 users", kCheck, 17, 176, 99, 10},
    {IDC_LIGHTMAP, L"Button", L"Use Lightmap", kCheck, 17, 194, 59, 10},
    {-1, L"Static", L"Sound Frequency", kLabel, 18, 113, 58, 8},
    {-1, L"Static", L"Sound Bits", kLabel, 89, 113, 36, 8},
    {IDC_FULLSCREEN, L"Button", L"Full Screen Mode", kCheck, 17, 31, 81, 10},
    {IDC_TEXTURE_DETAIL, L"msctls_trackbar32", L"Slider1", kTrack, 82, 226, 59, 19},
    {IDC_SPRITE_DETAIL, L"msctls_trackbar32", L"Slider2", kTrack, 13, 226, 59, 19},
    {-1, L"Static", L"Sprite Detail", kLabel, 16, 214, 58, 8},
    {-1, L"Static", L"Texture Detail", kLabel, 87, 214, 51, 8},
    {IDC_CHANNELS, L"ComboBox", L"", kCombo, 17, 152, 73, 51},
    {-1, L"Static", L"Sound Channel", kLabel, 18, 141, 51, 8},
    {IDC_FOG, L"Button", L"Enable Fog", kCheck, 86, 193, 55, 10},
};

// The English items with the Korean texts and the five Korean sizes.
std::vector<Item> KoreanItems()
{
    std::vector<Item> items = kEnglishItems;
    items[8].text = L"부두3 사용자만 체크하세요";
    items[9].text = L"라이트맵 사용";
    items[12].text = L"전체 화면모드";
    items[12].w = 59;
    items[13].h = 15;
    items[14].h = 15;
    items[15].text = L"스프라이트 해상도";
    items[16].text = L"텍스쳐 해상도";
    items[16].w = 44;
    items[19].text = L"안개효과";
    items[19].w = 43;
    return items;
}

void ExpectItem(const Item& want, const Item& got, size_t index, const char* language)
{
    EXPECT_EQ(want.id, got.id) << language << " item " << index;
    // The resource compiler stores class names in capitals; the platform ignores their case.
    EXPECT_EQ(0, _wcsicmp(want.cls.c_str(), got.cls.c_str())) << language << " item " << index << ": class "
                                                              << std::string(got.cls.begin(), got.cls.end());
    EXPECT_EQ(want.text, got.text) << language << " item " << index;
    EXPECT_EQ(want.style, got.style) << language << " item " << index << std::hex << ": style " << got.style;
    EXPECT_EQ(want.x, got.x) << language << " item " << index;
    EXPECT_EQ(want.y, got.y) << language << " item " << index;
    EXPECT_EQ(want.w, got.w) << language << " item " << index;
    EXPECT_EQ(want.h, got.h) << language << " item " << index;
}

class SetupDialogTemplateTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(TRUE, RegisterCommonControlClasses());
        m_saved = g_setupSettings;
        m_language = ::GetThreadUILanguage();
        m_locale = ::GetThreadLocale();
        SetSettingsRegistry(&m_registry);
    }
    void TearDown() override
    {
        ::SetThreadUILanguage(m_language);
        ::SetThreadLocale(m_locale);
        SetSettingsRegistry(nullptr);
        g_setupSettings = m_saved;
    }

    MemoryRegistry m_registry;
    SetupSettings m_saved;
    LANGID m_language;
    LCID m_locale;
};

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

TEST_F(SetupDialogTemplateTest, BothLanguagesHoldTheirTemplateExactly)
{
    for (LANGID language : {kEnglish, kKorean}) {
        const char* name = language == kEnglish ? "English" : "Korean";
        DWORD unread = 0xdeadbeef;
        const Template t = ReadTemplate(language, &unread);
        EXPECT_GE(3u, unread) << name << ": bytes after the last item";
        EXPECT_EQ(0u, t.helpId) << name;
        EXPECT_EQ(static_cast<DWORD>(WS_EX_APPWINDOW), t.exStyle) << name;
        EXPECT_EQ(static_cast<DWORD>(WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT),
                  t.style) << name;
        EXPECT_EQ(0, t.x);
        EXPECT_EQ(0, t.y);
        EXPECT_EQ(155, t.w);
        EXPECT_EQ(275, t.h);
        EXPECT_EQ(L"", t.menu) << name;
        EXPECT_EQ(L"", t.cls) << name;
        EXPECT_EQ(L"Tavelkin Setup", t.caption) << name;
        EXPECT_EQ(language == kEnglish ? 8 : 9, t.pointSize) << name;
        EXPECT_EQ(0, t.weight) << name;
        EXPECT_EQ(0, t.italic) << name;
        EXPECT_EQ(1, t.charset) << name;
        EXPECT_EQ(language == kEnglish ? L"Tahoma" : L"굴림", t.face) << name;
        const std::vector<Item> want = language == kEnglish ? kEnglishItems : KoreanItems();
        ASSERT_EQ(want.size(), t.items.size()) << name;
        for (size_t i = 0; i < want.size(); ++i) {
            ExpectItem(want[i], t.items[i], i, name);
            EXPECT_EQ(0u, t.itemHelpIds[i]) << name << " item " << i;
            EXPECT_EQ(0u, t.itemExStyles[i]) << name << " item " << i;
        }
    }
}

namespace {

// Under the given UI language the platform picks that variant: its texts, sizes and font show,
// and every member binds to the control with its identifier.
void RunVariant(LANGID language)
{
    const char* name = language == kEnglish ? "English" : "Korean";
    ASSERT_EQ(language, ::SetThreadUILanguage(language));
    ASSERT_TRUE(::SetThreadLocale(MAKELCID(language, SORT_DEFAULT)));
    const std::vector<Item> want = language == kEnglish ? kEnglishItems : KoreanItems();
    g_setupSettings = SetupSettings{};
    const INT_PTR end = RunSetupDialog([&](CSetupDlg& d) {
        EXPECT_EQ(L"Tavelkin Setup", WindowText(d.m_hWnd)) << name;
        LOGFONTW font{};
        ::GetObjectW(reinterpret_cast<HFONT>(d.SendMessage(WM_GETFONT)), sizeof font, &font);
        EXPECT_STREQ(language == kEnglish ? L"Tahoma" : L"굴림", font.lfFaceName) << name;
        EXPECT_EQ(1, font.lfCharSet) << name;
        HDC screen = ::GetDC(nullptr);
        EXPECT_EQ(-::MulDiv(language == kEnglish ? 8 : 9, ::GetDeviceCaps(screen, LOGPIXELSY), 72), font.lfHeight)
            << name;
        ::ReleaseDC(nullptr, screen);
        size_t index = 0;
        for (HWND child = ::GetWindow(d.m_hWnd, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
            ASSERT_LT(index, want.size()) << name;
            const Item& item = want[index];
            EXPECT_EQ(item.id, static_cast<int>(static_cast<short>(::GetDlgCtrlID(child)))) << name << index;
            EXPECT_EQ(std::string(item.cls.begin(), item.cls.end()), ClassName(child)) << name << index;
            if (item.cls != L"ComboBox") {
                EXPECT_EQ(item.text, WindowText(child)) << name << " item " << index;
            }
            // The dialog manager converts position and size each on its own.
            RECT units = {item.x, item.y, item.w, item.h}, rect;
            ::MapDialogRect(d.m_hWnd, &units);
            ::GetWindowRect(child, &rect);
            ::MapWindowPoints(nullptr, d.m_hWnd, reinterpret_cast<POINT*>(&rect), 2);
            EXPECT_EQ(units.left, rect.left) << name << " item " << index;
            EXPECT_EQ(units.top, rect.top) << name << " item " << index;
            EXPECT_EQ(units.right, rect.right - rect.left) << name << " item " << index;
            if (item.cls != L"ComboBox") { // a closed combo box is one line high
                EXPECT_EQ(units.bottom, rect.bottom - rect.top) << name << " item " << index;
            }
            ++index;
        }
        EXPECT_EQ(want.size(), index) << name;
        const struct {
            const CWnd& member;
            int id;
            const char* cls;
        } bindings[] = {
            {d.m_chkFog, IDC_FOG, "Button"},           {d.m_cbChannels, IDC_CHANNELS, "ComboBox"},
            {d.m_sldTexture, IDC_TEXTURE_DETAIL, "msctls_trackbar32"},
            {d.m_sldSprite, IDC_SPRITE_DETAIL, "msctls_trackbar32"},
            {d.m_chkFullScreen, IDC_FULLSCREEN, "Button"}, {d.m_chkVoodoo, IDC_VOODOO, "Button"},
            {d.m_chkLightmap, IDC_LIGHTMAP, "Button"},   {d.m_cbSoundBits, IDC_SOUNDBITS, "ComboBox"},
            {d.m_cbFrequency, IDC_FREQUENCY, "ComboBox"}, {d.m_cbSpeaker, IDC_SPEAKER, "ComboBox"},
            {d.m_cbSoundMode, IDC_SOUNDMODE, "ComboBox"}, {d.m_cbResolution, IDC_RESOLUTION, "ComboBox"},
            {d.m_cbDevice, IDC_DEVICE, "ComboBox"},
        };
        for (const auto& b : bindings) {
            EXPECT_NE(nullptr, b.member.m_hWnd) << name << " " << b.id;
            EXPECT_EQ(d.GetDlgItem(b.id), b.member.m_hWnd) << name << " " << b.id;
            EXPECT_EQ(b.cls, ClassName(b.member.m_hWnd)) << name << " " << b.id;
        }
        // The message map works on either variant.
        Click(d.m_chkFog.m_hWnd);
        EXPECT_EQ(1, g_setupSettings.fog) << name;
        EndWith(VK_ESCAPE);
    });
    EXPECT_EQ(IDCANCEL, end) << name;
}

const char kKoreanRun[] = "TAVELKIN_DIALOG_KOREAN_RUN";

} // namespace

TEST_F(SetupDialogTemplateTest, EnglishUiLanguageRunsTheEnglishVariant)
{
    RunVariant(kEnglish);
}

// The dialog is an ANSI window: its Korean texts survive only the Korean code page, which Wine
// takes from the locale of the process. ctest runs this test once more with LC_ALL=ko_KR.UTF-8.
TEST_F(SetupDialogTemplateTest, KoreanUiLanguageRunsTheKoreanVariant)
{
    if (::GetACP() != 949) {
        ASSERT_EQ(0u, ::GetEnvironmentVariableA(kKoreanRun, nullptr, 0))
            << "the Korean run has code page " << ::GetACP();
        GTEST_SKIP() << "needs the Korean code page (LC_ALL=ko_KR.UTF-8)";
    }
    RunVariant(kKorean);
}

TEST_F(SetupDialogTemplateTest, IconServesTheWindowTheDragAndTheMinimizedPaint)
{
    // One 32 x 32 image of 256 colours in the icon group.
    HRSRC group = ::FindResourceA(nullptr, MAKEINTRESOURCEA(IDI_SETUP_ICON), MAKEINTRESOURCEA(14));
    ASSERT_NE(nullptr, group);
    const BYTE* dir = static_cast<const BYTE*>(::LockResource(::LoadResource(nullptr, group)));
    ASSERT_EQ(6u + 14u, ::SizeofResource(nullptr, group));
    EXPECT_EQ(1, dir[4] | dir[5] << 8) << "images";
    EXPECT_EQ(32, dir[6]);
    EXPECT_EQ(32, dir[7]);
    EXPECT_EQ(8, dir[12] | dir[13] << 8) << "bits per pixel";

    g_seen.clear();
    HHOOK hook = ::SetWindowsHookExA(WH_CALLWNDPROC, WatchPaint, nullptr, ::GetCurrentThreadId());
    ASSERT_NE(nullptr, hook);

    HICON icon = nullptr;
    BOOL iconic = FALSE;
    std::vector<UINT> minimized;
    const INT_PTR end = RunSetupDialog([&](CSetupDlg& d) {
        icon = d.m_hIcon;
        EXPECT_EQ(reinterpret_cast<LRESULT>(icon), d.SendMessage(WM_QUERYDRAGICON));
        EXPECT_EQ(reinterpret_cast<LRESULT>(icon), d.SendMessage(WM_GETICON, ICON_BIG));
        EXPECT_EQ(reinterpret_cast<LRESULT>(icon), d.SendMessage(WM_GETICON, ICON_SMALL));
        g_watched = d.m_hWnd;
        // Minimized, the paint erases the icon background with the paint DC and draws the icon;
        // otherwise it is the default paint.
        ::ShowWindow(d.m_hWnd, SW_MINIMIZE);
        iconic = ::IsIconic(d.m_hWnd);
        ::RedrawWindow(d.m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE);
        d.SendMessage(WM_PAINT);
        minimized = g_seen;
        g_seen.clear();
        ::ShowWindow(d.m_hWnd, SW_RESTORE);
        ::RedrawWindow(d.m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
        g_watched = nullptr;
        ::SetFocus(d.GetDlgItem(IDCANCEL));
        EndWith(VK_ESCAPE);
    });
    ::UnhookWindowsHookEx(hook);
    EXPECT_EQ(IDCANCEL, end);
    EXPECT_TRUE(iconic);
    EXPECT_EQ(std::vector<UINT>({WM_PAINT, WM_ICONERASEBKGND}), minimized);
    EXPECT_EQ(std::vector<UINT>({WM_PAINT}), g_seen) << "restored";

    ASSERT_NE(nullptr, icon);
    EXPECT_EQ(::LoadIconA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_SETUP_ICON)), icon);
    ICONINFO info{};
    ASSERT_TRUE(::GetIconInfo(icon, &info));
    BITMAP bitmap{};
    ::GetObjectA(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
    EXPECT_TRUE(info.fIcon);
    EXPECT_EQ(32, bitmap.bmWidth);
    EXPECT_EQ(info.hbmColor ? 32 : 64, bitmap.bmHeight);
    ::DeleteObject(info.hbmColor);
    ::DeleteObject(info.hbmMask);
}
