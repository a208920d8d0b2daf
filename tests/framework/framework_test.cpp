// What the setup dialog's own tests leave to the framework.
#include "framework/framework.h"
#include "res/resource.h"

#include <gtest/gtest.h>

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

}  // namespace

// An exception from a handler leaves DoModal once the window is gone; a template that does not
// exist ends it with -1.
TEST(Framework, ExceptionEndsTheDialogAndIsRethrownAfterTheWindowIsGone)
{
    EXPECT_EQ(-1, CDialog(299).DoModal());
    CWinApp app;
    CBrokenDlg dlg;
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

// Both template forms reach the dialog manager with DS_3DLOOK when the look is on, in a copy of
// the read-only resource.
TEST(Framework, TheLookIsSetInBothTemplateForms)
{
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
    EXPECT_EQ(0, RunApplication(GetModuleHandleA(nullptr))) << "the exit status";
    EXPECT_FALSE(IsWindow(app.created)) << "the main window after the run";
    EXPECT_EQ(nullptr, app.window.m_hWnd) << "the main window's handle after the run";
}
