// Message-map lookup and dispatch without windows: entry order, base-map
// fallback, every signature kind, and the application object's own map.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/framework.h"

namespace {

std::vector<std::string> g_calls;
const HCURSOR kDragIcon = reinterpret_cast<HCURSOR>(static_cast<UINT_PTR>(0xdeadbeef));
const UINT WM_PLAIN = WM_APP + 1;
const UINT WM_NESTED = WM_APP + 2;

class CBaseTarget : public CWnd {
public:
    NMHDR* seenHeader = nullptr;
    BOOL innerHandled = -1;

    void OnPaint() { g_calls.push_back("base paint"); }
    HCURSOR OnQueryDragIcon() { g_calls.push_back("base dragicon"); return kDragIcon; }
    void OnFirst() { g_calls.push_back("base first"); }
    void OnSelchange() { g_calls.push_back("base selchange"); }
    void OnReleased(NMHDR* hdr, LRESULT* result) {
        g_calls.push_back("base released");
        seenHeader = hdr;
        *result = 0x5a5a;
    }
    LRESULT OnPlain(WPARAM wParam, LPARAM lParam) {
        g_calls.push_back("base plain");
        return static_cast<LRESULT>(wParam * 1000 + lParam);
    }
    LRESULT OnNested(WPARAM, LPARAM) {
        Default();
        LRESULT inner = 0;
        innerHandled = OnWndMsg(WM_PLAIN, 0, 0, &inner);
        return 77;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CBaseTarget, CWnd)
    ON_WM_PAINT()
    ON_WM_QUERYDRAGICON()
    ON_BN_CLICKED(10, &CBaseTarget::OnFirst)
    ON_CBN_SELCHANGE(10, &CBaseTarget::OnSelchange)
    ON_NOTIFY(NM_RELEASEDCAPTURE, 20, &CBaseTarget::OnReleased)
    ON_MESSAGE(WM_PLAIN, &CBaseTarget::OnPlain)
    ON_MESSAGE(WM_NESTED, &CBaseTarget::OnNested)
END_MESSAGE_MAP()

class CDerivedTarget : public CBaseTarget {
public:
    void OnDerivedFirst() { g_calls.push_back("derived first"); }
    void OnDerivedSecond() { g_calls.push_back("derived second"); }
    void OnCommand30() { g_calls.push_back("command 30"); }
    void OnPaint() {
        g_calls.push_back("derived paint");
        Default();
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CDerivedTarget, CBaseTarget)
    ON_BN_CLICKED(10, &CDerivedTarget::OnDerivedFirst)
    ON_BN_CLICKED(10, &CDerivedTarget::OnDerivedSecond)  // never reached: the first entry wins
    ON_COMMAND(30, &CDerivedTarget::OnCommand30)
    ON_WM_PAINT()
END_MESSAGE_MAP()

class MessageMapTest : public ::testing::Test {
protected:
    void SetUp() override { g_calls.clear(); }
    LRESULT result = 0xdeadbeef;
};

TEST_F(MessageMapTest, EachSignatureKindGetsItsArgumentsAndGivesItsResult) {
    CBaseTarget t;
    EXPECT_TRUE(t.OnWndMsg(WM_PAINT, 0, 0, &result));
    EXPECT_EQ(0, result);

    result = 0xdeadbeef;
    EXPECT_TRUE(t.OnWndMsg(WM_QUERYDRAGICON, 0, 0, &result));
    EXPECT_EQ(reinterpret_cast<LRESULT>(kDragIcon), result);

    NMHDR hdr = {nullptr, 20, NM_RELEASEDCAPTURE};
    EXPECT_TRUE(t.OnWndMsg(WM_NOTIFY, 20, reinterpret_cast<LPARAM>(&hdr), &result));
    EXPECT_EQ(0x5a5a, result);
    EXPECT_EQ(&hdr, t.seenHeader);

    EXPECT_TRUE(t.OnWndMsg(WM_PLAIN, 3, 4, &result));
    EXPECT_EQ(3004, result);

    const std::vector<std::string> expected = {"base paint", "base dragicon", "base released",
                                               "base plain"};
    EXPECT_EQ(expected, g_calls);
}

TEST_F(MessageMapTest, KeyedEntriesNeedTheirCodeAndTheirControl) {
    CBaseTarget t;
    EXPECT_TRUE(t.OnWndMsg(WM_COMMAND, MAKEWPARAM(10, CBN_SELCHANGE), 0, &result));
    EXPECT_FALSE(t.OnWndMsg(WM_COMMAND, MAKEWPARAM(11, BN_CLICKED), 0, &result));
    EXPECT_FALSE(t.OnWndMsg(WM_COMMAND, MAKEWPARAM(10, CBN_DROPDOWN), 0, &result));
    NMHDR otherControl = {nullptr, 21, NM_RELEASEDCAPTURE};
    NMHDR otherCode = {nullptr, 20, NM_CLICK};
    EXPECT_FALSE(t.OnWndMsg(WM_NOTIFY, 21, reinterpret_cast<LPARAM>(&otherControl), &result));
    EXPECT_FALSE(t.OnWndMsg(WM_NOTIFY, 20, reinterpret_cast<LPARAM>(&otherCode), &result));
    EXPECT_FALSE(t.OnWndMsg(WM_NOTIFY, 20, 0, &result));
    EXPECT_FALSE(t.OnWndMsg(WM_APP + 99, 0, 0, &result));
    EXPECT_EQ(0, result);  // only the one handled command wrote it
    EXPECT_EQ(std::vector<std::string>{"base selchange"}, g_calls);
}

TEST_F(MessageMapTest, DerivedMapComesFirstInOrderThenTheBaseMap) {
    CDerivedTarget t;
    CCmdTarget& target = t;
    CBaseTarget base;
    CCmdTarget& baseTarget = base;

    EXPECT_TRUE(t.OnWndMsg(WM_COMMAND, MAKEWPARAM(10, BN_CLICKED), 0, &result));
    EXPECT_TRUE(t.OnWndMsg(WM_COMMAND, MAKEWPARAM(10, CBN_SELCHANGE), 0, &result));
    EXPECT_TRUE(t.OnWndMsg(WM_COMMAND, MAKEWPARAM(30, 0), 0, &result));
    EXPECT_TRUE(t.OnWndMsg(WM_QUERYDRAGICON, 0, 0, &result));
    const std::vector<std::string> expected = {"derived first", "base selchange", "command 30",
                                               "base dragicon"};
    EXPECT_EQ(expected, g_calls);

    // The fallback finds the very entry of the base map.
    EXPECT_EQ(CCmdTarget::FindMessageEntry(baseTarget.GetMessageMap(), WM_COMMAND, CBN_SELCHANGE, 10),
              CCmdTarget::FindMessageEntry(target.GetMessageMap(), WM_COMMAND, CBN_SELCHANGE, 10));
    EXPECT_NE(CCmdTarget::FindMessageEntry(baseTarget.GetMessageMap(), WM_COMMAND, BN_CLICKED, 10),
              CCmdTarget::FindMessageEntry(target.GetMessageMap(), WM_COMMAND, BN_CLICKED, 10));
    EXPECT_EQ(nullptr, CCmdTarget::FindMessageEntry(baseTarget.GetMessageMap(), WM_COMMAND, 0, 30));
}

TEST_F(MessageMapTest, DefaultLeavesTheMessageToDefaultProcessing) {
    CDerivedTarget t;
    EXPECT_FALSE(t.OnWndMsg(WM_PAINT, 0, 0, &result));
    EXPECT_EQ(static_cast<LRESULT>(0xdeadbeef), result);
    EXPECT_EQ(std::vector<std::string>{"derived paint"}, g_calls);

    // A request belongs to its own handler: the nested message is handled, the
    // outer one is not, and the next one is handled again.
    EXPECT_FALSE(t.OnWndMsg(WM_NESTED, 0, 0, &result));
    EXPECT_EQ(TRUE, t.innerHandled);
    EXPECT_TRUE(t.OnWndMsg(WM_PLAIN, 0, 5, &result));
    EXPECT_EQ(5, result);
}

// As a program adds help to the application's map.
class CHelpApp : public CWinApp {
public:
    int helps = 0;
    void OnHelp() override { ++helps; }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CHelpApp, CWinApp)
    ON_COMMAND(ID_HELP, &CWinApp::OnHelp)
END_MESSAGE_MAP()

TEST(WinAppTest, HelpCommandReachesTheVirtualHandlerThroughTheAppMap) {
    CWinApp plain;
    EXPECT_FALSE(plain.OnCmdMsg(ID_HELP, 0));
    CHelpApp app;
    EXPECT_TRUE(app.OnCmdMsg(ID_HELP, 0));
    EXPECT_FALSE(app.OnCmdMsg(ID_HELP, 1));
    EXPECT_FALSE(app.OnCmdMsg(IDOK, 0));
    EXPECT_EQ(1, app.helps);
}

TEST(WinAppTest, FirstApplicationObjectIsTheCurrentOneWhileItLives) {
    ASSERT_EQ(nullptr, GetCurrentApp());
    EXPECT_EQ(-1, RunApplication(::GetModuleHandleA(nullptr)));
    {
        CWinApp first;
        EXPECT_EQ(&first, GetCurrentApp());
        EXPECT_EQ(::GetModuleHandleA(nullptr), first.m_hInstance);
        EXPECT_EQ(nullptr, first.m_pMainWnd);
        EXPECT_EQ(0, first.ExitInstance());
        {
            CWinApp second;
            EXPECT_EQ(&first, GetCurrentApp());
        }
        EXPECT_EQ(&first, GetCurrentApp());
    }
    EXPECT_EQ(nullptr, GetCurrentApp());
}

TEST(WinAppTest, DestroyedWindowObjectNoLongerNamedAsMainWindow) {
    CWinApp app;
    CWnd other;
    {
        CWnd main;
        app.m_pMainWnd = &main;
    }
    EXPECT_EQ(nullptr, app.m_pMainWnd);
    app.m_pMainWnd = &other;
    { CWnd unrelated; }
    EXPECT_EQ(&other, app.m_pMainWnd);
}

TEST(ExceptionTest, MessageIsKeptWithinItsBounds) {
    EXPECT_STREQ("operation not supported", CNotSupportedException().what());
    const std::string longText(200, 'x');
    CNotSupportedException e(longText.c_str());
    EXPECT_EQ(std::string(95, 'x'), e.what());
    const CException& base = e;
    EXPECT_STREQ(e.what(), base.what());
}

}  // namespace
