// Control wrappers: each holds a non-owning window handle (from CWnd) and each
// method sends exactly one message to the control.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include "framework/wnd.h"

class CComboBox : public CWnd {
public:
    int AddString(LPCSTR lpszString);  // CB_ADDSTRING: index, CB_ERR or CB_ERRSPACE
    void ResetContent();               // CB_RESETCONTENT
    int SetCurSel(int nSelect);        // CB_SETCURSEL: index, or CB_ERR when none selected
    int GetCurSel() const;             // CB_GETCURSEL: index, or CB_ERR
};

class CButton : public CWnd {
public:
    void SetCheck(int nCheck);  // BM_SETCHECK: BST_UNCHECKED, BST_CHECKED, BST_INDETERMINATE
    int GetCheck() const;       // BM_GETCHECK
};

class CSliderCtrl : public CWnd {
public:
    void SetRangeMin(int nMin, BOOL bRedraw = FALSE);  // TBM_SETRANGEMIN
    void SetRangeMax(int nMax, BOOL bRedraw = FALSE);  // TBM_SETRANGEMAX
    void SetPos(int nPos);                             // TBM_SETPOS, redrawn
    int GetPos() const;                                // TBM_GETPOS
};

// BeginPaint on construction, EndPaint on destruction.
class CPaintDC {
public:
    explicit CPaintDC(CWnd* pWnd);
    ~CPaintDC();
    CPaintDC(const CPaintDC&) = delete;
    CPaintDC& operator=(const CPaintDC&) = delete;

    BOOL DrawIcon(int x, int y, HICON hIcon);

    HDC m_hDC;
    PAINTSTRUCT m_ps;

private:
    HWND m_hWnd;
};
