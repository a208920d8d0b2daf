// What the setup dialog's own tests leave to the framework.
#include "framework/framework.h"
#include "res/resource.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Binds a control that its template does not have.
struct CBrokenDlg : CDialog {
    CBrokenDlg()
        : CDialog(IDD_SETUP_DIALOG)
    { }
    void DoDataExchange(CDataExchange* pDX) override { DDX_Control(pDX, 4242, m_missing); }
    CButton m_missing;
};

// Its Ok handler throws once it runs; a timer ends it, should the exception be lost.
struct CFailingOkDlg : CDialog {
    CFailingOkDlg()
        : CDialog(IDD_SETUP_DIALOG)
    { }
    BOOL OnInitDialog() override
    {
        SetTimer(m_hWnd, 1, 3000, EndLostDialog);
        PostMessageA(m_hWnd, WM_COMMAND, IDOK, 0);
        return TRUE;
    }
    void OnOK() override { throw CNotSupportedException("Ok failed"); }
    static void CALLBACK EndLostDialog(HWND dialog, UINT, UINT_PTR, DWORD) { ::EndDialog(dialog, 7); }
};

}  // namespace

// An exception from a handler, during initialisation or later, leaves DoModal once the window is gone; a template
// that does not exist ends it with -1.
TEST(Framework, ExceptionEndsTheDialogAndIsRethrownAfterTheWindowIsGone)
{
    EXPECT_EQ(-1, CDialog(299).DoModal());
    CWinApp app;
    CBrokenDlg broken;
    CFailingOkDlg failing;
    const std::pair<CDialog*, std::string> cases[]
        = {{&broken, "dialog control 4242 does not exist"}, {&failing, "Ok failed"}};
    for (const auto& [dlg, message] : cases) {
        app.m_pMainWnd = dlg;
        std::string thrown = "nothing thrown";
        try {
            dlg->DoModal();
        } catch (const CNotSupportedException& e) {
            thrown = e.what();
            EXPECT_EQ(nullptr, dlg->m_hWnd) << message;
            EXPECT_EQ(nullptr, app.m_pMainWnd) << message;
        }
        EXPECT_EQ(message, thrown);
    }
}

// Both template forms reach the dialog manager with DS_3DLOOK when the look is on, in a copy of
// the read-only resource.
TEST(Framework, TheLookIsSetInBothTemplateForms)
{
    EXPECT_EQ(TRUE, CWinApp::Enable3dControls()) << "the look turned on";
    EXPECT_EQ(TRUE, CWinApp::Is3dLookEnabled()) << "the look once turned on";
    const std::vector<DWORD> plain = {WS_POPUP, 0, 0};
    const std::vector<DWORD> extended = {0xffff0001, 0, WS_EX_APPWINDOW, WS_POPUP | DS_SETFONT};
    for (const std::vector<DWORD>* resource : {&plain, &extended}) {
        const size_t style = resource == &plain ? 0 : 3;  // the style's DWORD
        const DWORD size = DWORD(resource->size() * sizeof(DWORD));
        std::vector<DWORD> copy;
        std::vector<DWORD> expected = *resource;
        expected[style] |= DS_3DLOOK;
        EXPECT_EQ(static_cast<const void*>(resource->data()),
                  PrepareDialogTemplate(resource->data(), size, false, copy));
        EXPECT_EQ(static_cast<const void*>(copy.data()), PrepareDialogTemplate(resource->data(), size, true, copy));
        EXPECT_EQ(expected, copy);
        EXPECT_EQ(nullptr, PrepareDialogTemplate(resource->data(), DWORD(style * 4 + 3), true, copy))
            << "too short for its style";
    }
}

// The program's run takes down a main window that InitInstance left open and ends with ExitInstance's status.
TEST(Framework, TheRunTakesDownTheMainWindowLeftOpen)
{
    struct App : CWinApp {
        BOOL InitInstance() override
        {
            created = CreateWindowA("STATIC", "left open", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
            window.m_hWnd = created;
            m_pMainWnd = &window;
            return TRUE;
        }
        HWND created = nullptr;
        CWnd window;
    } app;
    EXPECT_EQ(&app, GetCurrentApp()) << "the application object of this test";
    const HINSTANCE instance = GetModuleHandleA("user32.dll");  // not the default, the executable's
    EXPECT_EQ(0, RunApplication(instance)) << "the exit status";
    EXPECT_EQ(instance, app.m_hInstance) << "the instance the run was given";
    EXPECT_FALSE(IsWindow(app.created)) << "the main window after the run";
    EXPECT_EQ(nullptr, app.window.m_hWnd) << "the main window's handle after the run";
}

// Centred, a window larger than the work area keeps its top left corner, and so its caption, on the area.
TEST(Framework, AWindowLargerThanTheWorkAreaKeepsItsCaptionOnIt)
{
    RECT work;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    const int width = work.right - work.left + 300;
    const int height = work.bottom - work.top + 200;
    CWnd window;
    window.Attach(
        CreateWindowA("STATIC", "large", WS_POPUP, 50, 40, width, height, nullptr, nullptr, nullptr, nullptr));
    window.CenterWindow();
    RECT rect;
    GetWindowRect(window.m_hWnd, &rect);
    EXPECT_EQ(work.left, rect.left) << "left edge";
    EXPECT_EQ(work.top, rect.top) << "top edge";
    EXPECT_EQ(width, rect.right - rect.left) << "width";
    DestroyWindow(window.Detach());
}
