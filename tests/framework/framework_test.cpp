// What the setup dialog's own tests leave to the framework.
#include "framework/framework.h"
#include "res/resource.h"
#include "support.h"

namespace {

// Binds a control its template does not have.
struct CBrokenDlg : CDialog {
    CBrokenDlg() : CDialog(IDD_SETUP_DIALOG) {}
    void DoDataExchange(CDataExchange* pDX) override { DDX_Control(pDX, 4242, m_missing); }
    CButton m_missing;
};

}  // namespace

// An exception from a handler leaves DoModal once the window is gone; a template that does not exist ends it with -1.
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

// Both template forms reach the dialog manager with DS_3DLOOK when the look is on, in a copy of the read-only resource.
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
