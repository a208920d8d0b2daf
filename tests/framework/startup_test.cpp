// RunApplication with a statically constructed application object, in a
// process of its own: the common controls must not exist before it runs.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "test_dialog.h"

namespace {

bool TrackbarClassExists() {
    WNDCLASSEXA wc;
    wc.cbSize = sizeof wc;
    return ::GetClassInfoExA(nullptr, TRACKBAR_CLASSA, &wc) != FALSE;
}

class CStartupApp : public CWinApp {
public:
    std::function<BOOL()> init;       // the scenario; none: FALSE
    std::function<int()> exit;        // none: the framework's exit step
    std::vector<std::string> calls;
    bool firstInitSawLibrary = false;
    bool firstInitSawClass = false;

    BOOL InitInstance() override {
        if (!initCount++) {
            // The module first: asking for the class would load the library on demand.
            firstInitSawLibrary = ::GetModuleHandleA("comctl32.dll") != nullptr;
            firstInitSawClass = TrackbarClassExists();
        }
        calls.push_back("init");
        return init ? init() : FALSE;
    }
    int ExitInstance() override {
        calls.push_back("exit");
        return exit ? exit() : CWinApp::ExitInstance();
    }

private:
    int initCount = 0;
};

CStartupApp theApp;
bool g_comctlAtStart = true;

class StartupTest : public ::testing::Test {
protected:
    void SetUp() override {
        theApp.init = nullptr;
        theApp.exit = nullptr;
        theApp.calls.clear();
        theApp.m_pMainWnd = nullptr;
    }
};

TEST_F(StartupTest, CommonControlsRegisteredBeforeTheInitialisationHook) {
    ASSERT_EQ(&theApp, GetCurrentApp());
    EXPECT_FALSE(g_comctlAtStart);
    RunApplication(::GetModuleHandleA(nullptr));
    EXPECT_TRUE(theApp.firstInitSawLibrary);
    EXPECT_TRUE(theApp.firstInitSawClass);
}

TEST_F(StartupTest, FalseDestroysTheMainWindowThenReturnsTheExitHookResult) {
    CWnd main;
    HWND window = nullptr;
    bool aliveAtExit = true;
    MSG left;
    theApp.init = [&] {
        window = ::CreateWindowExA(0, "STATIC", "main", WS_POPUP, 0, 0, 50, 50, nullptr, nullptr,
                                   nullptr, nullptr);
        main.Attach(window);
        theApp.m_pMainWnd = &main;
        ::PostThreadMessageA(::GetCurrentThreadId(), WM_APP + 5, 0, 0);
        return FALSE;
    };
    theApp.exit = [&] {
        aliveAtExit = ::IsWindow(window) != FALSE;
        return 42;
    };
    EXPECT_EQ(42, RunApplication(reinterpret_cast<HINSTANCE>(::GetModuleHandleA(nullptr))));
    EXPECT_EQ((std::vector<std::string>{"init", "exit"}), theApp.calls);
    ASSERT_NE(nullptr, window);
    EXPECT_FALSE(aliveAtExit);
    EXPECT_EQ(nullptr, main.m_hWnd);
    EXPECT_EQ(nullptr, theApp.m_pMainWnd);
    // No message loop ran: what was posted is still queued.
    EXPECT_TRUE(::PeekMessageA(&left, nullptr, WM_APP + 5, WM_APP + 5, PM_REMOVE));
}

TEST_F(StartupTest, TrueRunsTheLoopUntilQuitAndExitsWithItsCode) {
    MSG left;
    theApp.init = [] {
        ::PostThreadMessageA(::GetCurrentThreadId(), WM_APP + 6, 0, 0);
        ::PostQuitMessage(7);
        return TRUE;
    };
    EXPECT_EQ(7, RunApplication(::GetModuleHandleA(nullptr)));
    EXPECT_EQ((std::vector<std::string>{"init", "exit"}), theApp.calls);
    EXPECT_FALSE(::PeekMessageA(&left, nullptr, WM_APP + 6, WM_APP + 6, PM_REMOVE));
}

// The program's own path: a modal dialog with a trackbar as the main window,
// run and destroyed inside the hook, which returns FALSE.
TEST_F(StartupTest, ModalDialogInsideTheHookLeavesNoMainWindow) {
    INT_PTR end = 0;
    CWnd* afterRun = reinterpret_cast<CWnd*>(1);
    HWND track = nullptr;
    theApp.init = [&] {
        CTestDlg dlg;
        theApp.m_pMainWnd = &dlg;
        dlg.whileRunning = [&](CTestDlg& d) {
            track = d.m_sldTrack.m_hWnd;
            PressKey(d, VK_ESCAPE);
        };
        end = dlg.DoModal();
        afterRun = theApp.m_pMainWnd;
        return FALSE;
    };
    EXPECT_EQ(0, RunApplication(::GetModuleHandleA(nullptr)));
    EXPECT_EQ(IDCANCEL, end);
    EXPECT_EQ(nullptr, afterRun);
    EXPECT_NE(nullptr, track);
    EXPECT_EQ((std::vector<std::string>{"init", "exit"}), theApp.calls);
}

}  // namespace

int main(int argc, char** argv) {
    // Before anything can have loaded or registered the common controls.
    g_comctlAtStart = ::GetModuleHandleA("comctl32.dll") != nullptr;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
