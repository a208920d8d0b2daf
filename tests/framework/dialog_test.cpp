// CDialog run for real under the platform's dialog manager, on the tests' own
// template: binding, routing of every map entry kind, end codes, exceptions,
// placement and the main-window reference.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

#include "test_dialog.h"

namespace {

class CTestApp : public CWinApp {
public:
    int helps = 0;
    void OnHelp() override { ++helps; }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CTestApp, CWinApp)
    ON_COMMAND(ID_HELP, &CWinApp::OnHelp)
END_MESSAGE_MAP()

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(TRUE, RegisterCommonControlClasses());
        ASSERT_EQ(&app, GetCurrentApp());
        CWinApp::Disable3dControls();
    }
    void TearDown() override { CWinApp::Disable3dControls(); }

    CTestApp app;
};

RECT WorkArea(HWND hWnd) {
    MONITORINFO mi;
    mi.cbSize = sizeof mi;
    ::GetMonitorInfoA(::MonitorFromWindow(hWnd, MONITOR_DEFAULTTOPRIMARY), &mi);
    return mi.rcWork;
}

TEST_F(DialogTest, BindsEachMemberToItsControlOnInit) {
    CTestDlg dlg;
    HWND combo = nullptr, check = nullptr, track = nullptr;
    INT_PTR nested = 0;
    dlg.whileRunning = [&](CTestDlg& d) {
        combo = d.GetDlgItem(IDC_COMBO);
        check = d.GetDlgItem(IDC_CHECK);
        track = d.GetDlgItem(IDC_TRACK);
        EXPECT_EQ(combo, d.m_cbCombo.m_hWnd);
        EXPECT_EQ(check, d.m_chkCheck.m_hWnd);
        EXPECT_EQ(track, d.m_sldTrack.m_hWnd);
        EXPECT_EQ("ComboBox", ClassOf(d.m_cbCombo.m_hWnd));
        EXPECT_EQ("Button", ClassOf(d.m_chkCheck.m_hWnd));
        EXPECT_EQ("msctls_trackbar32", ClassOf(d.m_sldTrack.m_hWnd));
        EXPECT_EQ(1, d.exchanges);
        EXPECT_EQ(FALSE, d.lastSave);
        nested = d.DoModal();  // already running
        PressKey(d, VK_ESCAPE);
    };
    EXPECT_EQ(IDCANCEL, dlg.DoModal());
    EXPECT_EQ(-1, nested);
    EXPECT_NE(nullptr, combo);
    EXPECT_EQ(nullptr, dlg.m_hWnd);
    EXPECT_FALSE(::IsWindow(combo));
}

TEST_F(DialogTest, BindsOnceAndAgainOnlyAfterTheWindowIsGone) {
    CTestDlg dlg;
    HWND other = nullptr, firstCombo = nullptr;
    dlg.beforeInit = [&](CTestDlg& d) {
        other = d.GetDlgItem(IDC_OTHER);
        EXPECT_TRUE(d.m_cbCombo.Attach(other));
    };
    dlg.whileRunning = [&](CTestDlg& d) {
        EXPECT_EQ(other, d.m_cbCombo.m_hWnd);  // already bound: left alone
        EXPECT_TRUE(d.UpdateData(TRUE));
        EXPECT_EQ(other, d.m_cbCombo.m_hWnd);
        EXPECT_EQ(2, d.exchanges);
        EXPECT_EQ(TRUE, d.lastSave);
        firstCombo = d.m_cbCombo.m_hWnd;
        PressKey(d, VK_ESCAPE);
    };
    ASSERT_EQ(IDCANCEL, dlg.DoModal());

    // A second run finds the members holding handles of the destroyed window.
    dlg.beforeInit = nullptr;
    dlg.whileRunning = [&](CTestDlg& d) {
        EXPECT_EQ(d.GetDlgItem(IDC_COMBO), d.m_cbCombo.m_hWnd);
        EXPECT_TRUE(::IsWindow(d.m_cbCombo.m_hWnd));
        EXPECT_EQ(d.GetDlgItem(IDC_TRACK), d.m_sldTrack.m_hWnd);
        PressKey(d, VK_ESCAPE);
    };
    EXPECT_EQ(IDCANCEL, dlg.DoModal());
    EXPECT_FALSE(::IsWindow(firstCombo));
}

TEST_F(DialogTest, MissingControlThrowsNotSupportedFromDoModal) {
    CTestDlg dlg;
    dlg.bindMissing = true;
    HWND window = nullptr;
    bool ran = false;
    dlg.beforeInit = [&](CTestDlg& d) { window = d.m_hWnd; };
    dlg.whileRunning = [&](CTestDlg&) { ran = true; };
    app.m_pMainWnd = &dlg;
    std::string message = "not thrown";
    try {
        dlg.DoModal();
    } catch (const CNotSupportedException& e) {
        message = e.what();
    }
    EXPECT_EQ("dialog control 4242 does not exist", message);
    EXPECT_FALSE(ran);
    ASSERT_NE(nullptr, window);
    EXPECT_FALSE(::IsWindow(window));
    EXPECT_EQ(nullptr, app.m_pMainWnd);
    EXPECT_NE(nullptr, dlg.m_chkCheck.m_hWnd);  // bound before the missing one
    EXPECT_EQ(nullptr, dlg.m_sldTrack.m_hWnd);
}

TEST_F(DialogTest, HandlerExceptionEndsTheDialogAndIsRethrownAfterIt) {
    CTestDlg dlg;
    dlg.throwOnAction = true;
    LRESULT afterFailure = 0;
    HWND window = nullptr;
    dlg.whileRunning = [&](CTestDlg& d) {
        window = d.m_hWnd;
        ::SendMessageA(d.GetDlgItem(IDC_ACTION), BM_CLICK, 0, 0);
        // The failing dialog routes nothing more.
        afterFailure = ::SendMessageA(d.m_hWnd, WM_QUERYDRAGICON, 0, 0);
    };
    std::string message = "not thrown";
    try {
        dlg.DoModal();
    } catch (const std::runtime_error& e) {
        message = e.what();
    }
    EXPECT_EQ("action failed", message);
    EXPECT_NE(reinterpret_cast<LRESULT>(kDragIcon), afterFailure);
    EXPECT_EQ(std::vector<std::string>{"action"}, dlg.log);
    EXPECT_FALSE(::IsWindow(window));
}

TEST_F(DialogTest, RoutesControlNotificationsAndWindowMessages) {
    CTestDlg dlg;
    LRESULT dragIcon = 0, notified = 0, stored = 0, unmapped = 0xdeadbeef;
    dlg.onInit = [](CTestDlg& d) {
        d.m_cbCombo.AddString("a");
        d.m_cbCombo.AddString("b");
        d.m_cbCombo.SetCurSel(0);
        d.m_sldTrack.SetRangeMin(0, TRUE);
        d.m_sldTrack.SetRangeMax(2, TRUE);
    };
    dlg.whileRunning = [&](CTestDlg& d) {
        dragIcon = ::SendMessageA(d.m_hWnd, WM_QUERYDRAGICON, 0, 0);
        // The keyboard changes the list's selection: a real CBN_SELCHANGE.
        ::SetFocus(d.m_cbCombo.m_hWnd);
        ::SendMessageA(d.m_cbCombo.m_hWnd, WM_KEYDOWN, VK_DOWN, 0);
        ::SendMessageA(d.m_chkCheck.m_hWnd, BM_CLICK, 0, 0);
        ::SendMessageA(d.m_chkCheck.m_hWnd, BM_CLICK, 0, 0);
        ::SendMessageA(d.GetDlgItem(IDC_ACTION), BM_CLICK, 0, 0);
        // A drag of the thumb to the right end: NM_RELEASEDCAPTURE on release.
        RECT thumb, client;
        d.m_sldTrack.SendMessage(TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&thumb));
        d.m_sldTrack.GetClientRect(&client);
        const int y = (thumb.top + thumb.bottom) / 2;
        d.m_sldTrack.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM((thumb.left + thumb.right) / 2, y));
        d.m_sldTrack.SendMessage(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(client.right - 1, y));
        d.m_sldTrack.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(client.right - 1, y));
        // The handler's result reaches whoever sends the notification.
        NMHDR hdr = {d.m_sldTrack.m_hWnd, IDC_TRACK, NM_RELEASEDCAPTURE};
        d.notifyResult = 0x4321;
        notified = ::SendMessageA(d.m_hWnd, WM_NOTIFY, IDC_TRACK, reinterpret_cast<LPARAM>(&hdr));
        stored = ::GetWindowLongPtrA(d.m_hWnd, DWLP_MSGRESULT);
        NMHDR other = {d.m_sldTrack.m_hWnd, IDC_TRACK, NM_CLICK};
        unmapped = ::SendMessageA(d.m_hWnd, WM_NOTIFY, IDC_TRACK, reinterpret_cast<LPARAM>(&other));
        PressKey(d, VK_ESCAPE);
    };
    EXPECT_EQ(IDCANCEL, dlg.DoModal());
    EXPECT_EQ(reinterpret_cast<LRESULT>(kDragIcon), dragIcon);
    EXPECT_EQ(0x4321, notified);
    EXPECT_EQ(0x4321, stored);
    EXPECT_EQ(0, unmapped);
    const std::vector<std::string> expected = {
        "dragicon", "selchange 1",         "clicked 1",           "clicked 0",
        "action",   "released 1002 at 2", "released 1002 at 2"};
    EXPECT_EQ(expected, dlg.log);
}

TEST_F(DialogTest, PaintsThroughCPaintDCOrLeavesItToTheDefault) {
    for (bool leaveToDefault : {false, true}) {
        CTestDlg dlg;
        dlg.paintDefault = leaveToDefault;
        BOOL pending = -1;
        RECT client = {};
        dlg.whileRunning = [&](CTestDlg& d) {
            ::UpdateWindow(d.m_hWnd);
            d.log.clear();
            ::InvalidateRect(d.m_hWnd, nullptr, TRUE);
            ::UpdateWindow(d.m_hWnd);
            pending = ::GetUpdateRect(d.m_hWnd, nullptr, FALSE);
            d.GetClientRect(&client);
            PressKey(d, VK_ESCAPE);
        };
        EXPECT_EQ(IDCANCEL, dlg.DoModal());
        EXPECT_EQ(std::vector<std::string>{"paint"}, dlg.log) << leaveToDefault;
        EXPECT_FALSE(pending) << "update region left after painting, default " << leaveToDefault;
        if (!leaveToDefault) {
            EXPECT_EQ(client.right, dlg.paintRect.right);
            EXPECT_EQ(client.bottom, dlg.paintRect.bottom);
        }
    }
}

TEST_F(DialogTest, DerivedMapOverridesItsEntryAndFallsBackToTheBaseMaps) {
    CDerivedDlg dlg;
    dlg.onInit = [](CTestDlg& d) {
        d.m_cbCombo.AddString("a");
        d.m_cbCombo.AddString("b");
        d.m_cbCombo.SetCurSel(0);
    };
    dlg.whileRunning = [&](CTestDlg& d) {
        ::SendMessageA(d.GetDlgItem(IDC_ACTION), BM_CLICK, 0, 0);
        ::SetFocus(d.m_cbCombo.m_hWnd);
        ::SendMessageA(d.m_cbCombo.m_hWnd, WM_KEYDOWN, VK_DOWN, 0);
        ::SetFocus(d.GetDlgItem(IDOK));
        PressKey(d, VK_RETURN);
    };
    EXPECT_EQ(IDOK, dlg.DoModal());
    const std::vector<std::string> expected = {"derived action", "selchange 1", "ok"};
    EXPECT_EQ(expected, dlg.log);
}

TEST_F(DialogTest, EnterOkEscapeAndCloseBoxGiveTheirEndCodes) {
    struct Case {
        WPARAM key;  // 0: the caption's close box
        INT_PTR end;
        int exchanges;
    } cases[] = {{VK_RETURN, IDOK, 2}, {VK_ESCAPE, IDCANCEL, 1}, {0, IDCANCEL, 1}};
    for (const Case& c : cases) {
        CTestDlg dlg;
        HWND focus = nullptr, combo = nullptr, ok = nullptr;
        dlg.whileRunning = [&](CTestDlg& d) {
            focus = ::GetFocus();
            ok = d.GetDlgItem(IDOK);
            combo = d.m_cbCombo.m_hWnd;
            if (c.key)
                PressKey(d, c.key);
            else
                d.PostMessage(WM_SYSCOMMAND, SC_CLOSE, 0);
        };
        EXPECT_EQ(c.end, dlg.DoModal()) << "key " << c.key;
        EXPECT_EQ(c.exchanges, dlg.exchanges) << "key " << c.key;
        EXPECT_EQ(c.key == VK_RETURN ? TRUE : FALSE, dlg.lastSave) << "key " << c.key;
        EXPECT_EQ(c.key == VK_RETURN, dlg.log == std::vector<std::string>{"ok"});
        EXPECT_EQ(combo, dlg.m_cbCombo.m_hWnd);  // Ok's exchange bound nothing anew
        EXPECT_EQ(ok, focus);                    // the first tab stop
        EXPECT_NE(nullptr, focus);
    }
}

TEST_F(DialogTest, MainWindowReferenceIsClearedWithTheDialogWindow) {
    CTestDlg dlg;
    CWnd* during = nullptr;
    app.m_pMainWnd = &dlg;
    dlg.whileRunning = [&](CTestDlg& d) {
        during = app.m_pMainWnd;
        PressKey(d, VK_ESCAPE);
    };
    EXPECT_EQ(IDCANCEL, dlg.DoModal());
    EXPECT_EQ(&dlg, during);
    EXPECT_EQ(nullptr, app.m_pMainWnd);

    // A reference to another window stays.
    CWnd other;
    app.m_pMainWnd = &other;
    EXPECT_EQ(IDCANCEL, dlg.DoModal());
    EXPECT_EQ(&other, app.m_pMainWnd);

    // A dialog that cannot be created is not left named either.
    CTestDlg missing(IDD_NOT_THERE);
    app.m_pMainWnd = &missing;
    EXPECT_EQ(-1, missing.DoModal());
    EXPECT_EQ(nullptr, app.m_pMainWnd);
}

TEST_F(DialogTest, CentredAfterInitUnlessOwnedOrMovedDuringInit) {
    enum Init { Nothing, Move, Resize };
    for (Init init : {Nothing, Move, Resize}) {
        CTestDlg dlg;
        RECT rc = {}, work = {};
        dlg.onInit = [&](CTestDlg& d) {
            if (init == Move) ::SetWindowPos(d.m_hWnd, nullptr, 37, 41, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
            if (init == Resize) {
                RECT r;
                d.GetWindowRect(&r);
                ::SetWindowPos(d.m_hWnd, nullptr, 0, 0, r.right - r.left + 40, r.bottom - r.top,
                               SWP_NOMOVE | SWP_NOZORDER);
            }
        };
        dlg.whileRunning = [&](CTestDlg& d) {
            d.GetWindowRect(&rc);
            work = WorkArea(d.m_hWnd);
            PressKey(d, VK_ESCAPE);
        };
        ASSERT_EQ(IDCANCEL, dlg.DoModal());
        if (init == Move) {
            EXPECT_EQ(37, rc.left);
            EXPECT_EQ(41, rc.top);
        } else {
            EXPECT_NEAR((work.left + work.right) / 2, (rc.left + rc.right) / 2, 1) << init;
            EXPECT_NEAR((work.top + work.bottom) / 2, (rc.top + rc.bottom) / 2, 1) << init;
            EXPECT_GT(rc.left, 0) << init;
        }
    }

    // An owned dialog stays where the dialog manager put it.
    HWND ownerWindow = ::CreateWindowExA(0, "STATIC", "owner", WS_POPUP | WS_VISIBLE, 300, 200,
                                         200, 100, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, ownerWindow);
    CWnd owner;
    owner.Attach(ownerWindow);
    CTestDlg owned(IDD_TEST, &owner);
    RECT atInit = {}, running = {};
    HWND seenOwner = nullptr;
    owned.onInit = [&](CTestDlg& d) { d.GetWindowRect(&atInit); };
    owned.whileRunning = [&](CTestDlg& d) {
        d.GetWindowRect(&running);
        seenOwner = ::GetWindow(d.m_hWnd, GW_OWNER);
        PressKey(d, VK_ESCAPE);
    };
    EXPECT_EQ(IDCANCEL, owned.DoModal());
    EXPECT_EQ(ownerWindow, seenOwner);
    EXPECT_EQ(atInit.left, running.left);
    EXPECT_EQ(atInit.top, running.top);
    ::DestroyWindow(ownerWindow);
}

// The dialog manager gives every dialog DS_3DLOOK of its own accord, so the
// switch shows in the template that DoModal hands over, not in the window.
TEST_F(DialogTest, ThreeDLookGoesIntoACopyOfTheTemplate) {
    for (UINT id : {IDD_TEST, IDD_TEST_PLAIN}) {
        HRSRC res = ::FindResourceA(nullptr, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5));
        ASSERT_NE(nullptr, res) << id;
        const BYTE* resource = static_cast<const BYTE*>(::LockResource(::LoadResource(nullptr, res)));
        const DWORD size = ::SizeofResource(nullptr, res);
        DWORD style = 0xdeadbeef;
        ASSERT_TRUE(GetDialogTemplateStyle(resource, size, &style));
        EXPECT_EQ(static_cast<DWORD>(WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT),
                  style) << id;
        const size_t styleAt = id == IDD_TEST ? 12 : 0;

        std::vector<DWORD> copy;
        EXPECT_EQ(static_cast<const void*>(resource), PrepareDialogTemplate(resource, size, false, copy));
        EXPECT_TRUE(copy.empty());
        const BYTE* prepared = reinterpret_cast<const BYTE*>(PrepareDialogTemplate(resource, size, true, copy));
        ASSERT_EQ(reinterpret_cast<const BYTE*>(copy.data()), prepared) << id;
        EXPECT_EQ(0u, reinterpret_cast<UINT_PTR>(prepared) % sizeof(DWORD));
        EXPECT_TRUE(GetDialogTemplateStyle(prepared, size, &style));
        EXPECT_EQ(static_cast<DWORD>(DS_3DLOOK), style & DS_3DLOOK) << id;
        EXPECT_EQ(0, std::memcmp(resource, prepared, styleAt)) << id;
        EXPECT_EQ(0, std::memcmp(resource + styleAt + 4, prepared + styleAt + 4, size - styleAt - 4)) << id;
        // Already carrying the look: no copy.
        std::vector<DWORD> again;
        EXPECT_EQ(static_cast<const void*>(prepared), PrepareDialogTemplate(prepared, size, true, again));
        EXPECT_TRUE(again.empty());
    }
    std::vector<DWORD> copy;
    const WORD tooShort[2] = {1, 0xFFFF};
    EXPECT_EQ(nullptr, PrepareDialogTemplate(tooShort, sizeof tooShort, true, copy));
    EXPECT_FALSE(GetDialogTemplateStyle(tooShort, 3, reinterpret_cast<DWORD*>(&copy)));
}

TEST_F(DialogTest, DialogsRunFromTheCopiedTemplateWhileTheLookIsOn) {
    EXPECT_EQ(TRUE, CWinApp::Enable3dControls());
    for (UINT id : {IDD_TEST, IDD_TEST_PLAIN}) {
        CTestDlg dlg(id);
        char caption[64] = "";
        dlg.whileRunning = [&](CTestDlg& d) {
            ::GetWindowTextA(d.m_hWnd, caption, sizeof caption);
            PressKey(d, VK_RETURN);
        };
        EXPECT_EQ(IDOK, dlg.DoModal()) << id;
        EXPECT_STREQ(id == IDD_TEST ? "Framework Test" : "Framework Test Plain", caption);
        EXPECT_NE(nullptr, dlg.m_sldTrack.m_hWnd) << id;
    }
}

TEST_F(DialogTest, CommandsTheDialogDoesNotHandleGoToTheApplication) {
    CTestDlg dlg;
    dlg.whileRunning = [&](CTestDlg& d) {
        ::SendMessageA(d.m_hWnd, WM_COMMAND, MAKEWPARAM(ID_HELP, 0), 0);
        ::SendMessageA(d.GetDlgItem(IDC_ACTION), BM_CLICK, 0, 0);
        PressKey(d, VK_ESCAPE);
    };
    EXPECT_EQ(IDCANCEL, dlg.DoModal());
    EXPECT_EQ(1, app.helps);
    EXPECT_EQ(std::vector<std::string>{"action"}, dlg.log);
}

}  // namespace
