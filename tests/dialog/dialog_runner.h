// Runs the real setup dialog from its real template and acts on it from inside its modal loop,
// the way a user would: keys to the focused control, clicks, mouse drags of the trackbars.
#pragma once

#include "app/mode_choice.h"
#include "dialog/setup_dlg.h"
#include "settings_test_support.h"

#include <windows.h>

#include <commctrl.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace dialog_test {

inline CSetupDlg* g_dialog;
inline std::function<void(CSetupDlg&)> g_steps;
inline UINT_PTR g_timer;
inline LRESULT g_initResult; // what the dialog answered to WM_INITDIALOG in the last run

inline LRESULT CALLBACK WatchInit(int code, WPARAM wParam, LPARAM lParam)
{
    const CWPRETSTRUCT* msg = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
    if (code == HC_ACTION && msg->message == WM_INITDIALOG)
        g_initResult = msg->lResult;
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

// Ends a dialog that its steps left open (after a failed ASSERT, say), so no test hangs.
inline void CALLBACK Watchdog(HWND, UINT, UINT_PTR, DWORD)
{
    ADD_FAILURE() << "the dialog was still open two seconds after its steps";
    ::EndDialog(g_dialog->m_hWnd, 0x5a5a);
}

// Thread timers come through the modal loop, so this runs once the dialog takes input.
inline void CALLBACK Start(HWND, UINT, UINT_PTR, DWORD)
{
    if (!::IsWindowVisible(g_dialog->m_hWnd))
        return;
    ::KillTimer(nullptr, g_timer);
    g_timer = ::SetTimer(nullptr, 0, 2000, Watchdog);
    g_steps(*g_dialog);
}

// Runs DoModal on a CSetupDlg without a parent; `steps` runs once the dialog shows and must end
// it with real input (EndWith).
inline INT_PTR RunSetupDialog(std::function<void(CSetupDlg&)> steps)
{
    CSetupDlg dialog;
    g_dialog = &dialog;
    g_steps = std::move(steps);
    g_timer = ::SetTimer(nullptr, 0, 1, Start);
    g_initResult = 0xdeadbeef;
    HHOOK hook = ::SetWindowsHookExA(WH_CALLWNDPROCRET, WatchInit, nullptr, ::GetCurrentThreadId());
    const INT_PTR end = dialog.DoModal();
    ::UnhookWindowsHookEx(hook);
    ::KillTimer(nullptr, g_timer);
    return end;
}

inline void Press(HWND target, WPARAM key, bool post)
{
    const LPARAM down = 1 | static_cast<LPARAM>(::MapVirtualKeyA(static_cast<UINT>(key), 0)) << 16;
    const LPARAM up = down | static_cast<LPARAM>(0xC0000000u);
    post ? void(::PostMessageA(target, WM_KEYDOWN, key, down)) : void(::SendMessageA(target, WM_KEYDOWN, key, down));
    post ? void(::PostMessageA(target, WM_KEYUP, key, up)) : void(::SendMessageA(target, WM_KEYUP, key, up));
}

// Posts a key press to the focused control: Enter and Escape reach the dialog manager.
inline void EndWith(WPARAM key)
{
    Press(::GetFocus(), key, true);
}

// Focuses the control and presses the key on it.
inline void Key(HWND control, WPARAM key)
{
    ::SetFocus(control);
    Press(control, key, false);
}

// Drags the trackbar's thumb to `position` of its 0 to 2 range and lets go, so that the
// trackbar reports NM_RELEASEDCAPTURE itself.
inline void DragThumb(HWND trackbar, int position)
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

inline std::vector<std::string> Items(const CComboBox& list)
{
    std::vector<std::string> items;
    for (int i = 0; i < list.GetCount(); ++i) {
        std::string text(static_cast<size_t>(list.GetLBTextLen(i)) + 1, '\0');
        list.GetLBText(i, &text[0]);
        items.push_back(text.c_str());
    }
    return items;
}

// Row r before a test: no device has it, so a row that keeps it was not written.
inline ModeChoice SentinelRow(int r)
{
    return ModeChoice{-1000 - r, -2000 - r, 0x5e};
}

inline void SetSentinelRows()
{
    for (int r = 0; r < static_cast<int>(kModeChoiceRows); ++r)
        ModeChoiceTable[r] = SentinelRow(r);
}

// Keeps the settings record, the mode-choice rows and the thread's languages as they were, and
// the settings key of the test prefix's registry absent before and after each test.
class DialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(TRUE, RegisterCommonControlClasses());
        std::memcpy(m_rows, ModeChoiceTable, sizeof m_rows);
        SetSentinelRows();
        settings_test::DeleteSettingsKey();
    }
    void TearDown() override
    {
        settings_test::DeleteSettingsKey();
        ::SetThreadUILanguage(m_language);
        ::SetThreadLocale(m_locale);
        g_setupSettings = m_settings;
        std::memcpy(ModeChoiceTable, m_rows, sizeof m_rows);
    }

private:
    SetupSettings m_settings = g_setupSettings;
    ModeChoice m_rows[kModeChoiceRows];
    LANGID m_language = ::GetThreadUILanguage();
    LCID m_locale = ::GetThreadLocale();
};

} // namespace dialog_test
