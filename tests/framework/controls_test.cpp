// The control wrappers against real controls: each method is one message, with
// the control's exact result.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "framework/framework.h"

namespace {

class ControlsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(TRUE, RegisterCommonControlClasses());
        parent = ::CreateWindowExA(0, "STATIC", "parent", WS_POPUP | WS_VISIBLE, 50, 50, 300, 200,
                                   nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(nullptr, parent);
    }
    void TearDown() override { ::DestroyWindow(parent); }

    HWND Child(const char* cls, DWORD style) {
        return ::CreateWindowExA(0, cls, "", WS_CHILD | WS_VISIBLE | style, 10, 10, 150, 100,
                                 parent, nullptr, nullptr, nullptr);
    }

    HWND parent = nullptr;
};

TEST_F(ControlsTest, ComboBoxKeepsInsertionOrderAndReportsCbErr) {
    CComboBox cb;
    ASSERT_TRUE(cb.Attach(Child("COMBOBOX", CBS_DROPDOWNLIST | WS_VSCROLL)));
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
    EXPECT_EQ(2, cb.GetLBTextLen(2));
    std::memset(text, 0x5a, sizeof text);
    EXPECT_EQ(CB_ERR, cb.GetLBTextLen(3));
    EXPECT_EQ(CB_ERR, cb.GetLBText(3, text));
    EXPECT_EQ(0x5a, text[0]);

    EXPECT_EQ(CB_ERR, cb.SetCurSel(3));  // outside the list
    EXPECT_EQ(CB_ERR, cb.GetCurSel());
    EXPECT_EQ(2, cb.SetCurSel(2));
    EXPECT_EQ(2, cb.GetCurSel());
    EXPECT_EQ(CB_ERR, cb.SetCurSel(-1));  // clears the selection
    EXPECT_EQ(CB_ERR, cb.GetCurSel());
    EXPECT_EQ(1, cb.SetCurSel(1));
    cb.ResetContent();
    EXPECT_EQ(0, cb.GetCount());
    EXPECT_EQ(CB_ERR, cb.GetCurSel());
}

TEST_F(ControlsTest, ButtonCheckStates) {
    CButton chk;
    ASSERT_TRUE(chk.Attach(Child("BUTTON", BS_AUTO3STATE)));
    EXPECT_EQ(BST_UNCHECKED, chk.GetCheck());
    for (int state : {BST_CHECKED, BST_INDETERMINATE, BST_UNCHECKED}) {
        chk.SetCheck(state);
        EXPECT_EQ(state, chk.GetCheck());
    }
}

TEST_F(ControlsTest, SliderRangePositionAndRedraw) {
    CSliderCtrl sld;
    ASSERT_TRUE(sld.Attach(Child(TRACKBAR_CLASSA, TBS_HORZ | TBS_BOTH | TBS_NOTICKS)));
    ::UpdateWindow(parent);
    const auto redrawn = [&](const std::function<void()>& change) {
        ::ValidateRect(sld.m_hWnd, nullptr);
        change();
        return ::GetUpdateRect(sld.m_hWnd, nullptr, FALSE) != FALSE;
    };
    EXPECT_EQ(0, sld.GetRangeMin());
    EXPECT_EQ(100, sld.GetRangeMax());
    sld.SetPos(60);
    EXPECT_EQ(60, sld.GetPos());
    EXPECT_FALSE(redrawn([&] { sld.SetRangeMax(2); }));
    EXPECT_EQ(2, sld.GetRangeMax());
    EXPECT_EQ(2, sld.GetPos());  // pulled into the new range
    EXPECT_TRUE(redrawn([&] { sld.SetRangeMax(3, TRUE); }));
    EXPECT_EQ(3, sld.GetRangeMax());
    EXPECT_FALSE(redrawn([&] { sld.SetRangeMin(1); }));
    EXPECT_EQ(1, sld.GetRangeMin());
    EXPECT_TRUE(redrawn([&] { sld.SetRangeMin(0, TRUE); }));
    EXPECT_EQ(0, sld.GetRangeMin());
    EXPECT_TRUE(redrawn([&] { sld.SetPos(1); }));  // always redrawn
    EXPECT_EQ(1, sld.GetPos());
    sld.SetPos(5);
    EXPECT_EQ(3, sld.GetPos());
}

TEST_F(ControlsTest, PaintDCBeginsAndEndsThePaintOfTheInvalidRegion) {
    CWnd wnd;
    ASSERT_TRUE(wnd.Attach(parent));
    ::UpdateWindow(parent);
    RECT dirty = {10, 20, 60, 70};
    ::InvalidateRect(parent, &dirty, FALSE);
    HDC hdc;
    {
        CPaintDC dc(&wnd);
        hdc = dc.GetSafeHdc();
        ASSERT_NE(nullptr, hdc);
        EXPECT_EQ(10, dc.m_ps.rcPaint.left);
        EXPECT_EQ(20, dc.m_ps.rcPaint.top);
        EXPECT_EQ(60, dc.m_ps.rcPaint.right);
        EXPECT_EQ(70, dc.m_ps.rcPaint.bottom);
        EXPECT_TRUE(dc.DrawIcon(10, 20, ::LoadIconA(nullptr, IDI_APPLICATION)));
    }
    // EndPaint released the DC: there is nothing left to release.
    EXPECT_EQ(0, ::ReleaseDC(parent, hdc));
}

}  // namespace
