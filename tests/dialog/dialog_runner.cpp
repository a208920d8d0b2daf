#include "dialog_runner.h"

#include <commctrl.h>

#include <cstring>

namespace dialog_test {

namespace {

CSetupDlg* g_dialog;
const std::function<void(CSetupDlg&)>* g_steps;
UINT_PTR g_timer;

void Abandon(const char* why)
{
    ADD_FAILURE() << why;
    ::EndDialog(g_dialog->m_hWnd, 0x5a5a);
}

void CALLBACK Watchdog(HWND, UINT, UINT_PTR, DWORD)
{
    Abandon("the dialog was still open two seconds after its steps");
}

// Thread timers come through the modal loop, so this runs once the dialog takes input.
void CALLBACK Start(HWND, UINT, UINT_PTR, DWORD)
{
    if (!::IsWindowVisible(g_dialog->m_hWnd))
        return;
    ::KillTimer(nullptr, g_timer);
    g_timer = ::SetTimer(nullptr, 0, 2000, Watchdog);
    try {
        (*g_steps)(*g_dialog);
    } catch (...) {
        return Abandon("a step threw");
    }
    if (::testing::Test::HasFatalFailure())
        Abandon("a step failed");
}

void Press(HWND target, WPARAM key, bool post)
{
    const LPARAM down = 1 | static_cast<LPARAM>(::MapVirtualKeyA(static_cast<UINT>(key), 0)) << 16;
    const LPARAM up = down | 0xC0000000u;
    if (post) {
        ::PostMessageA(target, WM_KEYDOWN, key, down);
        ::PostMessageA(target, WM_KEYUP, key, up);
    } else {
        ::SendMessageA(target, WM_KEYDOWN, key, down);
        ::SendMessageA(target, WM_KEYUP, key, up);
    }
}

} // namespace

INT_PTR RunSetupDialog(const std::function<void(CSetupDlg&)>& steps)
{
    CSetupDlg dialog;
    g_dialog = &dialog;
    g_steps = &steps;
    g_timer = ::SetTimer(nullptr, 0, 1, Start);
    const INT_PTR end = dialog.DoModal();
    ::KillTimer(nullptr, g_timer);
    g_dialog = nullptr;
    return end;
}

void EndWith(WPARAM key)
{
    Press(::GetFocus(), key, true);
}

void Key(HWND control, WPARAM key)
{
    ::SetFocus(control);
    Press(control, key, false);
}

void Click(HWND button)
{
    ::SendMessageA(button, BM_CLICK, 0, 0);
}

void DragThumb(HWND trackbar, int position)
{
    RECT thumb, channel;
    ::SendMessageA(trackbar, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&thumb));
    ::SendMessageA(trackbar, TBM_GETCHANNELRECT, 0, reinterpret_cast<LPARAM>(&channel));
    const int y = (thumb.top + thumb.bottom) / 2;
    const int x = channel.left + (channel.right - channel.left) * position / 2;
    ::SendMessageA(trackbar, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM((thumb.left + thumb.right) / 2, y));
    ::SendMessageA(trackbar, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x, y));
    ::SendMessageA(trackbar, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
}

std::vector<std::string> Items(const CComboBox& list)
{
    std::vector<std::string> items;
    for (int i = 0; i < list.GetCount(); ++i) {
        std::string text(static_cast<size_t>(list.GetLBTextLen(i)) + 1, '\0');
        list.GetLBText(i, &text[0]);
        items.push_back(text.c_str());
    }
    return items;
}

void DialogTest::SetUp()
{
    ASSERT_EQ(TRUE, RegisterCommonControlClasses());
    m_settings = g_setupSettings;
    std::memcpy(m_rows, ModeChoiceTable, sizeof m_rows);
    m_language = ::GetThreadUILanguage();
    m_locale = ::GetThreadLocale();
    for (int r = 0; r < static_cast<int>(kModeChoiceRows); ++r)
        ModeChoiceTable[r] = SentinelRow(r);
    settings_test::DeleteSettingsKey();
}

void DialogTest::TearDown()
{
    settings_test::DeleteSettingsKey();
    ::SetThreadUILanguage(m_language);
    ::SetThreadLocale(m_locale);
    g_setupSettings = m_settings;
    std::memcpy(ModeChoiceTable, m_rows, sizeof m_rows);
}

} // namespace dialog_test
