// CDialog and the control wrappers run for real under the platform's dialog
// manager, on the tests' own templates.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "framework/framework.h"
#include "test_resource.h"

namespace {

const HCURSOR kDragIcon = reinterpret_cast<HCURSOR>(static_cast<UINT_PTR>(0xdeadbeef));
const UINT WM_RUN = WM_APP + 10;  // posted at the end of OnInitDialog

// Ends a dialog that a broken test leaves open, past the message map.
void CALLBACK EndStuckDialog(HWND hWnd, UINT, UINT_PTR, DWORD) { ::EndDialog(hWnd, 0x7777); }

// Logs every handler; a test acts from inside the modal loop through whileRunning.
class CTestDlg : public CDialog {
public:
    explicit CTestDlg(UINT templateId = IDD_TEST) : CDialog(templateId) {}

    CComboBox m_cbCombo;
    CButton m_chkCheck;
    CSliderCtrl m_sldTrack;
    std::function<void(CTestDlg&)> whileRunning;
    std::vector<std::string> log;
    int exchanges = 0;
    bool bindMissing = false, paintDefault = false, moveInInit = false;
    RECT paintRect = {-1, -1, -1, -1};

    BOOL OnInitDialog() override {
        BOOL focusFirst = CDialog::OnInitDialog();
        ::SetTimer(m_hWnd, 1, 10000, &EndStuckDialog);
        if (moveInInit) ::SetWindowPos(m_hWnd, nullptr, 37, 41, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        PostMessage(WM_RUN);
        return focusFirst;
    }

protected:
    void DoDataExchange(CDataExchange* pDX) override {
        ++exchanges;
        DDX_Control(pDX, IDC_COMBO, m_cbCombo);
        DDX_Control(pDX, IDC_CHECK, m_chkCheck);
        if (bindMissing) DDX_Control(pDX, IDC_MISSING, m_sldTrack);
        DDX_Control(pDX, IDC_TRACK, m_sldTrack);
    }
    void OnPaint() {
        log.push_back("paint");
        if (paintDefault) return Default();
        CPaintDC dc(this);
        paintRect = dc.m_ps.rcPaint;
    }
    HCURSOR OnQueryDragIcon() { log.push_back("dragicon"); return kDragIcon; }
    void OnSelchangeCombo() { log.push_back("selchange " + std::to_string(m_cbCombo.GetCurSel())); }
    void OnClickedCheck() { log.push_back("clicked " + std::to_string(m_chkCheck.GetCheck())); }
    void OnAction() { log.push_back("action"); }
    void OnOKCommand() { log.push_back("ok"); OnOK(); }
    void OnReleasedTrack(NMHDR* hdr, LRESULT* result) {
        log.push_back("released " + std::to_string(hdr->idFrom));
        *result = 0x4321;
    }
    LRESULT OnRun(WPARAM, LPARAM) { if (whileRunning) whileRunning(*this); return 0; }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CTestDlg, CDialog)
    ON_WM_PAINT()
    ON_WM_QUERYDRAGICON()
    ON_CBN_SELCHANGE(IDC_COMBO, &CTestDlg::OnSelchangeCombo)
    ON_BN_CLICKED(IDC_CHECK, &CTestDlg::OnClickedCheck)
    ON_COMMAND(IDC_ACTION, &CTestDlg::OnAction)
    ON_COMMAND(IDOK, &CTestDlg::OnOKCommand)  // ahead of CDialog's own
    ON_NOTIFY(NM_RELEASEDCAPTURE, IDC_TRACK, &CTestDlg::OnReleasedTrack)
    ON_MESSAGE(WM_RUN, &CTestDlg::OnRun)
END_MESSAGE_MAP()

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(TRUE, RegisterCommonControlClasses());
        ASSERT_EQ(&app, GetCurrentApp());
    }
    void TearDown() override { CWinApp::Disable3dControls(); }

    CWinApp app;
};

// Every entry kind, and CDialog's map behind the test dialog's for IDCANCEL. Then
// the controls, bound once: each wrapper method is one message with the control's result.
TEST_F(DialogTest, RoutesEveryEntryKindAndTheControlWrappersAnswer) {
    CTestDlg dlg;
    LRESULT dragIcon = 0, notified = 0;
    BOOL pending = -1;
    RECT client = {};
    dlg.whileRunning = [&](CTestDlg& d) {
        d.m_cbCombo.AddString("a");
        d.m_cbCombo.AddString("b");
        d.m_cbCombo.SetCurSel(0);
        ::UpdateWindow(d.m_hWnd);  // the first painting is not counted
        d.log.clear();
        d.GetClientRect(&client);
        // Left to the default processing, the paint still validates the window.
        for (bool byDefault : {false, true}) {
            d.paintDefault = byDefault;
            ::InvalidateRect(d.m_hWnd, nullptr, TRUE);
            ::UpdateWindow(d.m_hWnd);
        }
        pending = ::GetUpdateRect(d.m_hWnd, nullptr, FALSE);
        dragIcon = ::SendMessageA(d.m_hWnd, WM_QUERYDRAGICON, 0, 0);
        // The keyboard changes the list's selection: a real CBN_SELCHANGE.
        ::SetFocus(d.m_cbCombo.m_hWnd);
        ::SendMessageA(d.m_cbCombo.m_hWnd, WM_KEYDOWN, VK_DOWN, 0);
        // The list's other notifications reach no handler.
        ::SendMessageA(d.m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_COMBO, CBN_SELENDOK),
                       reinterpret_cast<LPARAM>(d.m_cbCombo.m_hWnd));
        ::SendMessageA(d.m_chkCheck.m_hWnd, BM_CLICK, 0, 0);
        ::SendMessageA(d.GetDlgItem(IDC_ACTION), BM_CLICK, 0, 0);
        NMHDR hdr = {d.m_sldTrack.m_hWnd, IDC_TRACK, NM_RELEASEDCAPTURE};
        notified = ::SendMessageA(d.m_hWnd, WM_NOTIFY, IDC_TRACK, reinterpret_cast<LPARAM>(&hdr));

        EXPECT_EQ(::GetDlgItem(d.m_hWnd, IDC_COMBO), d.m_cbCombo.m_hWnd);
        EXPECT_EQ(::GetDlgItem(d.m_hWnd, IDC_CHECK), d.m_chkCheck.m_hWnd);
        EXPECT_EQ(::GetDlgItem(d.m_hWnd, IDC_TRACK), d.m_sldTrack.m_hWnd);
        CComboBox& cb = d.m_cbCombo;
        EXPECT_EQ(2, cb.AddString("8k"));  // appended to "a", "b": the list is unsorted
        EXPECT_EQ(3, cb.AddString("11k"));
        EXPECT_EQ(4, cb.GetCount());
        char text[8];
        std::memset(text, 0x5a, sizeof text);
        EXPECT_EQ(2, cb.GetLBTextLen(2));
        EXPECT_EQ(3, cb.GetLBText(3, text));
        EXPECT_EQ(0, std::memcmp("11k\0\x5a", text, 5));
        EXPECT_EQ(CB_ERR, cb.GetLBText(4, text));
        EXPECT_EQ(1, cb.GetCurSel());
        EXPECT_EQ(3, cb.SetCurSel(3));
        EXPECT_EQ(CB_ERR, cb.SetCurSel(-1));  // clears the selection
        cb.ResetContent();
        EXPECT_EQ(0, cb.GetCount());

        for (int state : {BST_INDETERMINATE, BST_CHECKED, BST_UNCHECKED}) {
            d.m_chkCheck.SetCheck(state);
            EXPECT_EQ(state, d.m_chkCheck.GetCheck());
        }

        CSliderCtrl& sld = d.m_sldTrack;
        const auto redrawn = [&](const std::function<void()>& change) {
            ::UpdateWindow(d.m_hWnd);
            ::ValidateRect(sld.m_hWnd, nullptr);
            change();
            return ::GetUpdateRect(sld.m_hWnd, nullptr, FALSE) != FALSE;
        };
        EXPECT_FALSE(redrawn([&] { sld.SetRangeMax(7); }));
        EXPECT_TRUE(redrawn([&] { sld.SetRangeMax(8, TRUE); }));
        EXPECT_FALSE(redrawn([&] { sld.SetRangeMin(2); }));
        EXPECT_TRUE(redrawn([&] { sld.SetRangeMin(1, TRUE); }));
        EXPECT_TRUE(redrawn([&] { sld.SetPos(5); }));
        EXPECT_EQ(1, sld.GetRangeMin());
        EXPECT_EQ(8, sld.GetRangeMax());
        EXPECT_EQ(5, sld.GetPos());

        // A member that holds a live control is left alone by a later exchange.
        d.m_cbCombo.Detach();
        d.m_cbCombo.Attach(d.GetDlgItem(IDC_OTHER));
        d.UpdateData(TRUE);
        EXPECT_EQ(d.GetDlgItem(IDC_OTHER), d.m_cbCombo.m_hWnd);
        d.PostMessage(WM_COMMAND, IDCANCEL);
    };
    EXPECT_EQ(IDCANCEL, dlg.DoModal());
    EXPECT_EQ(reinterpret_cast<LRESULT>(kDragIcon), dragIcon);
    EXPECT_EQ(0x4321, notified);
    EXPECT_EQ(FALSE, pending);
    EXPECT_EQ(client.right, dlg.paintRect.right);
    EXPECT_EQ(client.bottom, dlg.paintRect.bottom);
    const std::vector<std::string> expected = {"paint",     "paint",          "dragicon",     "selchange 1",
                                               "clicked 1", "action", "released 1002"};
    EXPECT_EQ(expected, dlg.log);
    EXPECT_EQ(2, dlg.exchanges);
}

TEST_F(DialogTest, MissingControlThrowsNotSupportedFromDoModalOnceTheWindowIsGone) {
    CTestDlg dlg;
    dlg.bindMissing = true;
    app.m_pMainWnd = &dlg;
    try {
        dlg.DoModal();
        ADD_FAILURE() << "not thrown";
    } catch (const CNotSupportedException& e) {
        EXPECT_STREQ("dialog control 4242 does not exist", e.what());
    }
    EXPECT_EQ(nullptr, dlg.m_hWnd);
    EXPECT_EQ(nullptr, app.m_pMainWnd);
}

// With the look on, both template forms run from the copy DoModal makes. A
// dialog without owner is centred on the work area unless OnInitDialog moved it.
TEST_F(DialogTest, EndCodesPlacementAndTheMainWindowReferenceClearedAfterTheRun) {
    CWinApp::Enable3dControls();
    RECT work;
    ASSERT_TRUE(::SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0));
    const struct {
        UINT id;
        WPARAM command;
        INT_PTR end;
        int exchanges;
        bool move;
    } cases[] = {{IDD_TEST, IDOK, IDOK, 2, false},
                 {IDD_TEST, IDCANCEL, IDCANCEL, 1, true},
                 {IDD_TEST_PLAIN, IDOK, IDOK, 2, false},
                 {IDD_NOT_THERE, 0, -1, 0, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "template " << c.id << " command " << c.command);
        CTestDlg dlg(c.id);
        RECT rc = {};
        app.m_pMainWnd = &dlg;
        dlg.moveInInit = c.move;
        dlg.whileRunning = [&](CTestDlg& d) {
            d.GetWindowRect(&rc);
            d.PostMessage(WM_COMMAND, c.command);
        };
        EXPECT_EQ(c.end, dlg.DoModal());
        EXPECT_EQ(c.exchanges, dlg.exchanges);
        EXPECT_EQ(c.command == IDOK, dlg.log == std::vector<std::string>{"ok"});
        EXPECT_EQ(nullptr, app.m_pMainWnd);
        if (c.move) {
            EXPECT_EQ(37, rc.left);
            EXPECT_EQ(41, rc.top);
        } else if (c.command) {
            EXPECT_NEAR((work.left + work.right) / 2, (rc.left + rc.right) / 2, 1);
            EXPECT_NEAR((work.top + work.bottom) / 2, (rc.top + rc.bottom) / 2, 1);
        }
    }
}

}  // namespace
