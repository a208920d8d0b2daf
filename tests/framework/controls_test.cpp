// The control wrappers against real controls: exact indices, error values,
// check states, trackbar ranges and redraw, painting, and handle ownership.
#include <gtest/gtest.h>

#include <cstring>
#include <type_traits>
#include <vector>

#include "framework/framework.h"

namespace {

static_assert(!std::is_copy_constructible<CWnd>::value && !std::is_copy_assignable<CComboBox>::value &&
                  !std::is_copy_constructible<CSliderCtrl>::value &&
                  !std::is_copy_constructible<CPaintDC>::value,
              "wrappers must not be copied");

std::vector<WPARAM> g_commands;  // WM_COMMAND wParams the parent received

LRESULT CALLBACK ParentProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND) g_commands.push_back(wParam);
    return ::DefWindowProcA(hWnd, message, wParam, lParam);
}

class ControlsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(TRUE, RegisterCommonControlClasses());
        WNDCLASSA wc = {};
        wc.lpfnWndProc = ParentProc;
        wc.hInstance = ::GetModuleHandleA(nullptr);
        wc.lpszClassName = "FrameworkTestParent";
        ::RegisterClassA(&wc);  // fails harmlessly when a previous test registered it
        parent = ::CreateWindowExA(0, "FrameworkTestParent", "parent", WS_POPUP | WS_VISIBLE, 50,
                                   50, 300, 200, nullptr, nullptr, wc.hInstance, nullptr);
        ASSERT_NE(nullptr, parent);
        g_commands.clear();
    }
    void TearDown() override { ::DestroyWindow(parent); }

    HWND Child(const char* cls, DWORD style, int id) {
        return ::CreateWindowExA(0, cls, "", WS_CHILD | WS_VISIBLE | style, 10, 10, 150, 100,
                                 parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr,
                                 nullptr);
    }

    HWND parent = nullptr;
};

TEST_F(ControlsTest, ComboBoxKeepsInsertionOrderAndReportsCbErr) {
    CComboBox cb;
    ASSERT_TRUE(cb.Attach(Child("COMBOBOX", CBS_DROPDOWNLIST | WS_VSCROLL, 7)));
    EXPECT_EQ(0, cb.GetCount());
    EXPECT_EQ(CB_ERR, cb.GetCurSel());
    EXPECT_EQ(0, cb.AddString("22k"));
    EXPECT_EQ(1, cb.AddString("11k"));
    EXPECT_EQ(2, cb.AddString("8k"));
    EXPECT_EQ(3, cb.GetCount());

    char text[8];
    std::memset(text, 0x5a, sizeof text);
    EXPECT_EQ(3, cb.GetLBTextLen(1));
    EXPECT_EQ(3, cb.GetLBText(1, text));
    EXPECT_EQ(0, std::memcmp("11k\0\x5a", text, 5));
    EXPECT_EQ(2, cb.GetLBText(2, text));
    EXPECT_STREQ("8k", text);
    std::memset(text, 0x5a, sizeof text);
    EXPECT_EQ(CB_ERR, cb.GetLBTextLen(3));
    EXPECT_EQ(CB_ERR, cb.GetLBText(3, text));
    EXPECT_EQ(0x5a, text[0]);

    EXPECT_EQ(CB_ERR, cb.SetCurSel(3));  // outside the list: nothing selected
    EXPECT_EQ(CB_ERR, cb.GetCurSel());
    EXPECT_EQ(2, cb.SetCurSel(2));
    EXPECT_EQ(2, cb.GetCurSel());
    EXPECT_EQ(0, cb.SetCurSel(0));
    EXPECT_EQ(0, cb.GetCurSel());
    EXPECT_EQ(CB_ERR, cb.SetCurSel(-1));
    EXPECT_EQ(CB_ERR, cb.GetCurSel());
    EXPECT_TRUE(g_commands.empty()) << "programmatic selection notified " << g_commands.size();

    cb.SetCurSel(1);
    cb.ResetContent();
    EXPECT_EQ(0, cb.GetCount());
    EXPECT_EQ(CB_ERR, cb.GetCurSel());
}

TEST_F(ControlsTest, ButtonCheckStates) {
    CButton chk;
    ASSERT_TRUE(chk.Attach(Child("BUTTON", BS_AUTOCHECKBOX, 9)));
    EXPECT_EQ(BST_UNCHECKED, chk.GetCheck());
    chk.SetCheck(1);
    EXPECT_EQ(BST_CHECKED, chk.GetCheck());
    chk.SetCheck(0);
    EXPECT_EQ(BST_UNCHECKED, chk.GetCheck());
    EXPECT_TRUE(g_commands.empty()) << "BM_SETCHECK notified " << g_commands.size();

    chk.SendMessage(BM_CLICK);  // a click toggles before it notifies
    EXPECT_EQ(BST_CHECKED, chk.GetCheck());
    ASSERT_EQ(1u, g_commands.size());
    EXPECT_EQ(MAKEWPARAM(9, BN_CLICKED), g_commands[0]);

    CButton tri;
    ASSERT_TRUE(tri.Attach(Child("BUTTON", BS_AUTO3STATE, 10)));
    tri.SetCheck(BST_INDETERMINATE);
    EXPECT_EQ(BST_INDETERMINATE, tri.GetCheck());
}

TEST_F(ControlsTest, SliderRangeAndPositionAreClampedAsTheControlDoes) {
    CSliderCtrl sld;
    ASSERT_TRUE(sld.Attach(Child(TRACKBAR_CLASSA, TBS_HORZ | TBS_BOTH | TBS_NOTICKS, 11)));
    EXPECT_EQ(0, sld.GetRangeMin());
    EXPECT_EQ(100, sld.GetRangeMax());
    sld.SetPos(60);
    sld.SetRangeMax(2, TRUE);
    EXPECT_EQ(2, sld.GetRangeMax());
    EXPECT_EQ(2, sld.GetPos());  // pulled into the new range
    sld.SetRangeMin(1, TRUE);
    sld.SetPos(0);
    EXPECT_EQ(1, sld.GetPos());
    sld.SetRangeMin(0, TRUE);
    EXPECT_EQ(0, sld.GetRangeMin());
    sld.SetPos(1);
    EXPECT_EQ(1, sld.GetPos());
    sld.SetPos(5);
    EXPECT_EQ(2, sld.GetPos());
    sld.SetPos(-3);
    EXPECT_EQ(0, sld.GetPos());
}

TEST_F(ControlsTest, SliderRedrawsOnlyWhenAsked) {
    CSliderCtrl sld;
    ASSERT_TRUE(sld.Attach(Child(TRACKBAR_CLASSA, TBS_HORZ | TBS_BOTH | TBS_NOTICKS, 12)));
    sld.SetRangeMax(2);
    ::UpdateWindow(parent);
    ::ValidateRect(sld.m_hWnd, nullptr);
    sld.SetRangeMin(1, FALSE);
    EXPECT_FALSE(::GetUpdateRect(sld.m_hWnd, nullptr, FALSE));
    sld.SetRangeMin(0, TRUE);
    EXPECT_TRUE(::GetUpdateRect(sld.m_hWnd, nullptr, FALSE));
    ::ValidateRect(sld.m_hWnd, nullptr);
    sld.SetRangeMax(3, TRUE);
    EXPECT_TRUE(::GetUpdateRect(sld.m_hWnd, nullptr, FALSE));
    ::ValidateRect(sld.m_hWnd, nullptr);
    sld.SetPos(2);  // always with redraw
    EXPECT_TRUE(::GetUpdateRect(sld.m_hWnd, nullptr, FALSE));
}

TEST_F(ControlsTest, PaintDCPaintsTheInvalidRegionAndValidatesIt) {
    CWnd wnd;
    ASSERT_TRUE(wnd.Attach(parent));
    ::UpdateWindow(parent);
    RECT dirty = {10, 20, 60, 70};
    ::InvalidateRect(parent, &dirty, FALSE);
    {
        CPaintDC dc(&wnd);
        EXPECT_NE(nullptr, dc.m_hDC);
        EXPECT_EQ(dc.m_hDC, dc.GetSafeHdc());
        EXPECT_EQ(10, dc.m_ps.rcPaint.left);
        EXPECT_EQ(20, dc.m_ps.rcPaint.top);
        EXPECT_EQ(60, dc.m_ps.rcPaint.right);
        EXPECT_EQ(70, dc.m_ps.rcPaint.bottom);
        EXPECT_TRUE(dc.DrawIcon(10, 20, ::LoadIconA(nullptr, IDI_APPLICATION)));
        EXPECT_FALSE(dc.DrawIcon(10, 20, nullptr));
        EXPECT_TRUE(::GetUpdateRect(parent, nullptr, FALSE) == FALSE);
    }
    EXPECT_FALSE(::GetUpdateRect(parent, nullptr, FALSE));
}

TEST_F(ControlsTest, WrapperHoldsTheHandleWithoutOwningIt) {
    HWND a = Child("BUTTON", BS_AUTOCHECKBOX, 13), b = Child("BUTTON", BS_AUTOCHECKBOX, 14);
    {
        CButton chk;
        EXPECT_FALSE(chk.Attach(nullptr));
        EXPECT_FALSE(chk.Attach(reinterpret_cast<HWND>(static_cast<UINT_PTR>(0xdeadbeef))));
        EXPECT_EQ(nullptr, chk.m_hWnd);
        EXPECT_TRUE(chk.Attach(a));
        EXPECT_FALSE(chk.Attach(b));
        EXPECT_EQ(a, chk.GetSafeHwnd());
        EXPECT_EQ(a, chk.Detach());
        EXPECT_EQ(nullptr, chk.m_hWnd);
        EXPECT_TRUE(chk.Attach(b));
    }
    EXPECT_TRUE(::IsWindow(b));  // the wrapper's end is not the control's

    CWnd wnd;
    ASSERT_TRUE(wnd.Attach(parent));
    EXPECT_EQ(a, wnd.GetDlgItem(13));
    EXPECT_EQ(nullptr, wnd.GetDlgItem(99));
    HICON icon = ::LoadIconA(nullptr, IDI_APPLICATION);
    EXPECT_EQ(nullptr, wnd.SetIcon(icon, TRUE));
    EXPECT_EQ(icon, wnd.SetIcon(nullptr, TRUE));
    EXPECT_FALSE(wnd.IsIconic());
}

}  // namespace
