// RunApplication with a statically constructed application object, in a
// process of its own: the common controls must not be loaded before it runs.
#include <gtest/gtest.h>

#include <string>

#include "framework/framework.h"

namespace {

// Before anything can have loaded or registered the common controls.
const bool g_comctlAtStart = ::GetModuleHandleA("comctl32.dll") != nullptr;
const UINT WM_LEFT = WM_APP + 5;  // posted by the hook; no message loop takes it

class CStartupApp : public CWinApp {
public:
    std::string calls;
    HWND window = nullptr;
    CWnd main;

    BOOL InitInstance() override {
        calls += "init";
        // The module first: asking for the class would load the library on demand.
        if (::GetModuleHandleA("comctl32.dll")) calls += " comctl32";
        WNDCLASSEXA wc = {};
        wc.cbSize = sizeof wc;
        if (::GetClassInfoExA(nullptr, TRACKBAR_CLASSA, &wc)) calls += " trackbar";
        window = ::CreateWindowExA(0, "STATIC", "main", WS_POPUP, 0, 0, 50, 50, nullptr, nullptr, nullptr, nullptr);
        main.Attach(window);
        m_pMainWnd = &main;
        ::PostThreadMessageA(::GetCurrentThreadId(), WM_LEFT, 0, 0);
        return FALSE;
    }
    int ExitInstance() override {
        calls += ::IsWindow(window) ? ", exit with the window alive" : ", exit";
        return 42;
    }
} theApp;

TEST(StartupTest, ControlsFirstThenInitOnceThenMainWindowDestroyedThenExitResult) {
    ASSERT_EQ(&theApp, GetCurrentApp());
    EXPECT_FALSE(g_comctlAtStart);
    EXPECT_EQ(42, RunApplication(::GetModuleHandleA(nullptr)));
    EXPECT_EQ("init comctl32 trackbar, exit", theApp.calls);
    EXPECT_NE(nullptr, theApp.window);
    EXPECT_EQ(nullptr, theApp.main.m_hWnd);
    EXPECT_EQ(nullptr, theApp.m_pMainWnd);
    MSG left;
    EXPECT_TRUE(::PeekMessageA(&left, nullptr, WM_LEFT, WM_LEFT, PM_REMOVE));
}

}  // namespace
