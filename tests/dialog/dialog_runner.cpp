#include "dialog_runner.h"

#include <commctrl.h>

#include <exception>

#include <gtest/gtest.h>

namespace dialog_test {

namespace {

CSetupDlg* g_dialog;
const std::function<void(CSetupDlg&)>* g_steps;
UINT_PTR g_startTimer;
UINT_PTR g_watchdog;
LRESULT g_initResult;

LRESULT CALLBACK WatchInit(int code, WPARAM wParam, LPARAM lParam)
{
    const CWPRETSTRUCT* msg = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
    if (code == HC_ACTION && msg->message == WM_INITDIALOG && g_dialog && msg->hwnd == g_dialog->m_hWnd)
        g_initResult = msg->lResult;
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

void Abandon(const std::string& why)
{
    ADD_FAILURE() << why;
    if (g_dialog && g_dialog->m_hWnd)
        ::EndDialog(g_dialog->m_hWnd, kAbandoned);
}

void CALLBACK Watchdog(HWND, UINT, UINT_PTR, DWORD)
{
    ::KillTimer(nullptr, g_watchdog);
    g_watchdog = 0;
    Abandon("the dialog was still open two seconds after its steps");
}

// Thread timers come through the modal loop, so this runs once the dialog takes input.
void CALLBACK Start(HWND, UINT, UINT_PTR, DWORD)
{
    if (!g_dialog->m_hWnd || !::IsWindowVisible(g_dialog->m_hWnd))
        return;
    ::KillTimer(nullptr, g_startTimer);
    g_startTimer = 0;
    try {
        (*g_steps)(*g_dialog);
    } catch (const std::exception& e) {
        return Abandon(std::string("a step threw: ") + e.what());
    } catch (...) {
        return Abandon("a step threw");
    }
    if (::testing::Test::HasFatalFailure())
        return Abandon("a step failed");
    // Timers come after the posted input that ends the dialog.
    g_watchdog = ::SetTimer(nullptr, 0, 2000, Watchdog);
}

} // namespace

INT_PTR RunSetupDialog(const std::function<void(CSetupDlg&)>& steps)
{
    CSetupDlg dialog;
    g_dialog = &dialog;
    g_steps = &steps;
    g_startTimer = ::SetTimer(nullptr, 0, 1, Start);
    g_initResult = 0xdeadbeef;
    HHOOK hook = ::SetWindowsHookExA(WH_CALLWNDPROCRET, WatchInit, nullptr, ::GetCurrentThreadId());
    EXPECT_NE(nullptr, hook);
    INT_PTR end = -1;
    try {
        end = dialog.DoModal();
    } catch (const std::exception& e) {
        ADD_FAILURE() << "DoModal threw: " << e.what();
    }
    for (UINT_PTR* timer : {&g_startTimer, &g_watchdog}) {
        if (*timer)
            ::KillTimer(nullptr, *timer);
        *timer = 0;
    }
    ::UnhookWindowsHookEx(hook);
    g_dialog = nullptr;
    g_steps = nullptr;
    return end;
}

LRESULT InitDialogResult()
{
    return g_initResult;
}

void EndWith(WPARAM key)
{
    HWND target = ::GetFocus();
    const UINT scan = ::MapVirtualKeyA(static_cast<UINT>(key), 0);
    ::PostMessageA(target, WM_KEYDOWN, key, 1 | (scan << 16));
    ::PostMessageA(target, WM_KEYUP, key, 1 | (scan << 16) | 0xC0000000u);
}

void Key(HWND control, WPARAM key)
{
    ::SetFocus(control);
    const UINT scan = ::MapVirtualKeyA(static_cast<UINT>(key), 0);
    ::SendMessageA(control, WM_KEYDOWN, key, 1 | (scan << 16));
    ::SendMessageA(control, WM_KEYUP, key, 1 | (scan << 16) | 0xC0000000u);
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
        text.resize(text.size() - 1);
        items.push_back(text);
    }
    return items;
}

std::wstring WindowText(HWND window)
{
    wchar_t text[128] = L"";
    ::GetWindowTextW(window, text, 128);
    return text;
}

std::string ClassName(HWND window)
{
    char name[64] = "";
    ::GetClassNameA(window, name, sizeof name);
    return name;
}

} // namespace dialog_test
