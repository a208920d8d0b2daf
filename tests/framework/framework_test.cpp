// CDialog and the application's run under the platform's dialog manager, on the program's own
// template: what the setup dialog's own tests do not reach.
#include "framework/framework.h"
#include "res/resource.h"
#include "support.h"

namespace {

class CTestDlg : public CDialog {
public:
    explicit CTestDlg(UINT templateId = IDD_SETUP_DIALOG, bool bindMissing = false) : CDialog(templateId), bindMissing_(bindMissing) {}
    CButton m_chkMissing;

protected:
    void DoDataExchange(CDataExchange* pDX) override
    {
        if (bindMissing_)
            DDX_Control(pDX, 4242, m_chkMissing);
    }
    bool bindMissing_;
};

// Its run leaves a window as the main window.
class CTestApp : public CWinApp {
public:
    HWND leftOver = nullptr;
    CWnd main;
    BOOL InitInstance() override
    {
        main.Attach(leftOver = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 9, 9, nullptr, nullptr, nullptr, nullptr));
        m_pMainWnd = &main;
        return FALSE;
    }
    int ExitInstance() override { return IsWindow(leftOver) ? -7 : 42; }
};

}  // namespace

// The end code of each way out, the main-window reference empty afterwards; with the 3D look on the
// dialog has it; a dialog without owner is centred on the work area.
TEST(Framework, EndCodesTheLookAndPlacement)
{
    CTestApp app;
    CWinApp::Enable3dControls();
    RECT work, rc = {};
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0));
    for (WPARAM command : {IDOK, IDCANCEL}) {
        CTestDlg dlg;
        app.m_pMainWnd = &dlg;
        LONG style = 0;
        EXPECT_EQ(INT_PTR(command), RunDialog([&] { return dlg.DoModal(); }, [&](HWND d) {
            GetWindowRect(d, &rc), style = GetWindowLongA(d, GWL_STYLE);
            PostMessageA(d, WM_COMMAND, command, 0);
        }));
        const LONG dx = rc.left + rc.right - work.left - work.right, dy = rc.top + rc.bottom - work.top - work.bottom;
        EXPECT_EQ((std::vector<LONG>{DS_3DLOOK, 1, 1, 0, 0}),
                  (std::vector<LONG>{style & DS_3DLOOK, dx * dx <= 4, dy * dy <= 4, app.m_pMainWnd != nullptr, dlg.m_hWnd != nullptr}));
    }
    EXPECT_EQ(-1, CTestDlg(299).DoModal()) << "no such template";
}

// An exception from a handler ends the dialog and leaves DoModal once the window is gone.
TEST(Framework, ExceptionEndsTheDialogAndIsRethrownAfterTheWindowIsGone)
{
    CTestApp app;
    CTestDlg dlg(IDD_SETUP_DIALOG, true);
    app.m_pMainWnd = &dlg;
    try {
        dlg.DoModal();
        ADD_FAILURE() << "not thrown";
    } catch (const CNotSupportedException& e) {
        EXPECT_STREQ("dialog control 4242 does not exist", e.what());
        EXPECT_EQ(nullptr, dlg.m_hWnd);
        EXPECT_EQ(nullptr, app.m_pMainWnd);
    }
}

// Both template forms reach the dialog manager with DS_3DLOOK when the look is on: the resource
// itself, read-only, is copied.
TEST(Framework, TheLookIsSetInBothTemplateForms)
{
    const DWORD plain[3] = {WS_POPUP, 0, 0}, extended[4] = {0xffff0001, 0, WS_EX_APPWINDOW, WS_POPUP | DS_SETFONT};
    for (const DWORD* resource : {plain, extended}) {
        const size_t at = resource == plain ? 0 : 3, size = resource == plain ? sizeof plain : sizeof extended;
        std::vector<DWORD> copy, expected(resource, resource + size / 4);
        expected[at] |= DS_3DLOOK;
        EXPECT_EQ(static_cast<const void*>(resource), PrepareDialogTemplate(resource, size, false, copy));
        EXPECT_EQ(static_cast<const void*>(copy.data()), PrepareDialogTemplate(resource, size, true, copy));
        EXPECT_EQ(expected, copy);
        EXPECT_EQ(nullptr, PrepareDialogTemplate(resource, at * 4 + 3, true, copy)) << "too short for its style";
    }
}

// The run takes down the window the main-window reference still names, then the exit step's result
// is the process's.
TEST(Framework, RunWithoutMessageLoopEndsWithTheExitStep)
{
    CTestApp app;
    EXPECT_EQ(42, RunApplication(GetModuleHandleA(nullptr)));  // the window was gone at the exit step
    EXPECT_EQ(nullptr, app.main.m_hWnd);
}
