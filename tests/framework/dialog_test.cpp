// CDialog run for real under the platform's dialog manager, on the tests' own
// templates: binding, routing of every map entry kind, end codes, placement,
// the main-window reference and the three-dimensional look.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "framework/framework.h"
#include "test_resource.h"

namespace {

const HCURSOR kDragIcon = reinterpret_cast<HCURSOR>(static_cast<UINT_PTR>(0xdeadbeef));
const UINT WM_RUN = WM_APP + 10;     // posted at the end of OnInitDialog
const UINT_PTR kWatchdogTimer = 77;  // ends a dialog that a broken test leaves open
const INT_PTR kWatchdogEnd = 0x7777;

// Logs every handler; a test acts from inside the modal loop through whileRunning.
class CTestDlg : public CDialog {
public:
    explicit CTestDlg(UINT templateId = IDD_TEST) : CDialog(templateId) {}

    CComboBox m_cbCombo;
    CButton m_chkCheck;
    CSliderCtrl m_sldTrack;
    std::function<void(CTestDlg&)> onInit, whileRunning;
    std::vector<std::string> log;
    int exchanges = 0;
    bool bindMissing = false, paintDefault = false;
    RECT paintRect = {-1, -1, -1, -1};
    LRESULT notifyResult = 0;

    BOOL OnInitDialog() override {
        BOOL focusFirst = CDialog::OnInitDialog();
        ::SetTimer(m_hWnd, kWatchdogTimer, 10000, nullptr);
        if (onInit) onInit(*this);
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
    void OnOK() override {
        log.push_back("ok");
        CDialog::OnOK();
    }
    void OnPaint() {
        log.push_back("paint");
        if (paintDefault) return Default();
        CPaintDC dc(this);
        paintRect = dc.m_ps.rcPaint;
    }
    HCURSOR OnQueryDragIcon() {
        log.push_back("dragicon");
        return kDragIcon;
    }
    void OnSelchangeCombo() { log.push_back("selchange " + std::to_string(m_cbCombo.GetCurSel())); }
    void OnClickedCheck() { log.push_back("clicked " + std::to_string(m_chkCheck.GetCheck())); }
    void OnAction() { log.push_back("action"); }
    void OnReleasedTrack(NMHDR* hdr, LRESULT* result) {
        log.push_back("released " + std::to_string(hdr->idFrom) + " at " +
                      std::to_string(m_sldTrack.GetPos()));
        *result = notifyResult;
    }
    LRESULT OnRun(WPARAM, LPARAM) {
        if (whileRunning) whileRunning(*this);
        return 0;
    }
    LRESULT OnTimer(WPARAM id, LPARAM) {
        if (id == kWatchdogTimer) EndDialog(static_cast<int>(kWatchdogEnd));
        return 0;
    }
    DECLARE_MESSAGE_MAP()
};

class CDerivedDlg : public CTestDlg {
protected:
    void OnDerivedAction() { log.push_back("derived action"); }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CTestDlg, CDialog)
    ON_WM_PAINT()
    ON_WM_QUERYDRAGICON()
    ON_CBN_SELCHANGE(IDC_COMBO, &CTestDlg::OnSelchangeCombo)
    ON_BN_CLICKED(IDC_CHECK, &CTestDlg::OnClickedCheck)
    ON_COMMAND(IDC_ACTION, &CTestDlg::OnAction)
    ON_NOTIFY(NM_RELEASEDCAPTURE, IDC_TRACK, &CTestDlg::OnReleasedTrack)
    ON_MESSAGE(WM_RUN, &CTestDlg::OnRun)
    ON_MESSAGE(WM_TIMER, &CTestDlg::OnTimer)
END_MESSAGE_MAP()

BEGIN_MESSAGE_MAP(CDerivedDlg, CTestDlg)
    ON_COMMAND(IDC_ACTION, &CDerivedDlg::OnDerivedAction)
END_MESSAGE_MAP()

// A key press as the keyboard would post it to the focused control.
void PressKey(const CTestDlg& dlg, WPARAM key) {
    HWND target = ::GetFocus() ? ::GetFocus() : dlg.m_hWnd;
    const UINT scan = ::MapVirtualKeyA(static_cast<UINT>(key), 0);
    ::PostMessageA(target, WM_KEYDOWN, key, 1 | (scan << 16));
    ::PostMessageA(target, WM_KEYUP, key, 1 | (scan << 16) | 0xC0000000u);
}

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(TRUE, RegisterCommonControlClasses());
        ASSERT_EQ(&app, GetCurrentApp());
        CWinApp::Disable3dControls();
    }
    void TearDown() override { CWinApp::Disable3dControls(); }

    CWinApp app;
};

TEST_F(DialogTest, BindsEachMemberToItsControlOnlyOnce) {
    CTestDlg dlg;
    HWND other = nullptr, afterExchange = nullptr;
    dlg.whileRunning = [&](CTestDlg& d) {
        const std::pair<int, HWND> bound[] = {{IDC_COMBO, d.m_cbCombo.m_hWnd},
                                              {IDC_CHECK, d.m_chkCheck.m_hWnd},
                                              {IDC_TRACK, d.m_sldTrack.m_hWnd}};
        for (const auto& b : bound) {
            EXPECT_NE(nullptr, b.second) << b.first;
            EXPECT_EQ(::GetDlgItem(d.m_hWnd, b.first), b.second) << b.first;
        }
        // A member that holds a live control is left alone by a later exchange.
        other = d.GetDlgItem(IDC_OTHER);
        d.m_cbCombo.Detach();
        d.m_cbCombo.Attach(other);
        EXPECT_TRUE(d.UpdateData(TRUE));
        afterExchange = d.m_cbCombo.m_hWnd;
        PressKey(d, VK_ESCAPE);
    };
    EXPECT_EQ(IDCANCEL, dlg.DoModal());
    EXPECT_EQ(2, dlg.exchanges);
    EXPECT_NE(nullptr, other);
    EXPECT_EQ(other, afterExchange);
}

TEST_F(DialogTest, MissingControlThrowsNotSupportedFromDoModalOnceTheWindowIsGone) {
    CTestDlg dlg;
    dlg.bindMissing = true;
    app.m_pMainWnd = &dlg;
    std::string message = "not thrown";
    try {
        dlg.DoModal();
    } catch (const CNotSupportedException& e) {
        message = e.what();
    }
    EXPECT_EQ("dialog control 4242 does not exist", message);
    EXPECT_NE(nullptr, dlg.m_chkCheck.m_hWnd);  // bound before the missing one
    EXPECT_FALSE(::IsWindow(dlg.m_chkCheck.m_hWnd));
    EXPECT_EQ(nullptr, dlg.m_sldTrack.m_hWnd);
    EXPECT_EQ(nullptr, dlg.m_hWnd);
    EXPECT_EQ(nullptr, app.m_pMainWnd);
}

// Every entry kind from real controls; the derived map first, then its bases
// (the test dialog's, then CDialog's for IDCANCEL).
TEST_F(DialogTest, RoutesEveryEntryKindThroughTheMapAndItsBases) {
    CDerivedDlg dlg;
    LRESULT dragIcon = 0, notified = 0;
    BOOL pending = -1;
    RECT client = {};
    dlg.onInit = [](CTestDlg& d) {
        d.m_cbCombo.AddString("a");
        d.m_cbCombo.AddString("b");
        d.m_cbCombo.SetCurSel(0);
        d.m_sldTrack.SetRangeMax(2, TRUE);
    };
    dlg.whileRunning = [&](CTestDlg& d) {
        ::UpdateWindow(d.m_hWnd);  // the first painting is not counted
        d.log.clear();
        ::InvalidateRect(d.m_hWnd, nullptr, TRUE);
        ::UpdateWindow(d.m_hWnd);
        d.GetClientRect(&client);
        // Left to the default processing, the paint still validates the window.
        d.paintDefault = true;
        ::InvalidateRect(d.m_hWnd, nullptr, TRUE);
        ::UpdateWindow(d.m_hWnd);
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
        // A drag of the thumb to the right end: NM_RELEASEDCAPTURE on release.
        RECT thumb, track;
        d.m_sldTrack.SendMessage(TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&thumb));
        d.m_sldTrack.GetClientRect(&track);
        const int y = (thumb.top + thumb.bottom) / 2;
        d.m_sldTrack.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM((thumb.left + thumb.right) / 2, y));
        d.m_sldTrack.SendMessage(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(track.right - 1, y));
        d.m_sldTrack.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(track.right - 1, y));
        // The handler's result reaches whoever sends the notification.
        NMHDR hdr = {d.m_sldTrack.m_hWnd, IDC_TRACK, NM_RELEASEDCAPTURE};
        d.notifyResult = 0x4321;
        notified = ::SendMessageA(d.m_hWnd, WM_NOTIFY, IDC_TRACK, reinterpret_cast<LPARAM>(&hdr));
        PressKey(d, VK_ESCAPE);
    };
    EXPECT_EQ(IDCANCEL, dlg.DoModal());
    EXPECT_EQ(reinterpret_cast<LRESULT>(kDragIcon), dragIcon);
    EXPECT_EQ(0x4321, notified);
    EXPECT_EQ(FALSE, pending);
    EXPECT_EQ(client.right, dlg.paintRect.right);
    EXPECT_EQ(client.bottom, dlg.paintRect.bottom);
    const std::vector<std::string> expected = {
        "paint",          "paint",          "dragicon", "selchange 1", "clicked 1",
        "derived action", "released 1002 at 2", "released 1002 at 2"};
    EXPECT_EQ(expected, dlg.log);
}

// With the look on, both template forms run from the copy DoModal makes.
TEST_F(DialogTest, EndCodesAndTheMainWindowReferenceClearedAfterTheRun) {
    CWinApp::Enable3dControls();
    const struct {
        UINT id;
        WPARAM key;
        INT_PTR end;
        int exchanges;
    } cases[] = {{IDD_TEST, VK_RETURN, IDOK, 2},
                 {IDD_TEST, VK_ESCAPE, IDCANCEL, 1},
                 {IDD_TEST_PLAIN, VK_RETURN, IDOK, 2},
                 {IDD_NOT_THERE, 0, -1, 0}};
    for (const auto& c : cases) {
        CTestDlg dlg(c.id);
        app.m_pMainWnd = &dlg;
        dlg.whileRunning = [&](CTestDlg& d) { PressKey(d, c.key); };
        EXPECT_EQ(c.end, dlg.DoModal()) << "template " << c.id << " key " << c.key;
        EXPECT_EQ(c.exchanges, dlg.exchanges) << "template " << c.id << " key " << c.key;
        EXPECT_EQ(c.key == VK_RETURN, dlg.log == std::vector<std::string>{"ok"}) << c.key;
        EXPECT_EQ(nullptr, app.m_pMainWnd) << "template " << c.id << " key " << c.key;
    }
}

TEST_F(DialogTest, CentredAfterInitUnlessMovedThere) {
    RECT work;
    ASSERT_TRUE(::SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0));
    for (bool move : {false, true}) {
        CTestDlg dlg;
        RECT rc = {};
        dlg.onInit = [&](CTestDlg& d) {
            if (move) ::SetWindowPos(d.m_hWnd, nullptr, 37, 41, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        };
        dlg.whileRunning = [&](CTestDlg& d) {
            d.GetWindowRect(&rc);
            PressKey(d, VK_ESCAPE);
        };
        ASSERT_EQ(IDCANCEL, dlg.DoModal());
        if (move) {
            EXPECT_EQ(37, rc.left);
            EXPECT_EQ(41, rc.top);
        } else {
            EXPECT_NEAR((work.left + work.right) / 2, (rc.left + rc.right) / 2, 1);
            EXPECT_NEAR((work.top + work.bottom) / 2, (rc.top + rc.bottom) / 2, 1);
        }
    }
}

// The dialog manager gives every dialog DS_3DLOOK of its own accord, so the
// switch shows only in the template that DoModal hands over.
TEST_F(DialogTest, ThreeDLookGoesIntoACopyOfEitherTemplateForm) {
    const DWORD kStyle = WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT;
    for (UINT id : {IDD_TEST, IDD_TEST_PLAIN}) {
        HRSRC res = ::FindResourceA(nullptr, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5));
        ASSERT_NE(nullptr, res) << id;
        const BYTE* resource = static_cast<const BYTE*>(::LockResource(::LoadResource(nullptr, res)));
        const DWORD size = ::SizeofResource(nullptr, res);
        // DLGTEMPLATEEX: after dlgVer, signature, helpID and exStyle.
        const size_t at = id == IDD_TEST ? 12 : 0;
        DWORD style = 0xdeadbeef;
        std::memcpy(&style, resource + at, sizeof style);
        ASSERT_EQ(kStyle, style) << id;

        std::vector<DWORD> copy;
        EXPECT_EQ(static_cast<const void*>(resource),
                  PrepareDialogTemplate(resource, size, CWinApp::Is3dLookEnabled() != FALSE, copy));
        EXPECT_TRUE(copy.empty()) << id;
        CWinApp::Enable3dControls();
        const BYTE* prepared = reinterpret_cast<const BYTE*>(
            PrepareDialogTemplate(resource, size, CWinApp::Is3dLookEnabled() != FALSE, copy));
        CWinApp::Disable3dControls();
        ASSERT_EQ(reinterpret_cast<const BYTE*>(copy.data()), prepared) << id;
        std::memcpy(&style, prepared + at, sizeof style);
        EXPECT_EQ(kStyle | DS_3DLOOK, style) << id;
        EXPECT_EQ(0, std::memcmp(resource, prepared, at)) << id;
        EXPECT_EQ(0, std::memcmp(resource + at + 4, prepared + at + 4, size - at - 4)) << id;
        // A template that already has the look is handed over as it is.
        std::vector<DWORD> again;
        EXPECT_EQ(static_cast<const void*>(prepared), PrepareDialogTemplate(prepared, size, true, again));
    }
}

}  // namespace
