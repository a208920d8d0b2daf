// Dialog data exchange: binding control members to the dialog's controls.
#pragma once

#include <windows.h>

#include "framework/wnd.h"

class CDataExchange {
public:
    explicit CDataExchange(CWnd* pDlgWnd) noexcept
        : m_pDlgWnd(pDlgWnd)
    { }

    CWnd* m_pDlgWnd;  // the dialog whose controls are exchanged
};

// Attaches rControl to the dialog's control nIDC, once: a member that already
// holds a live window is left alone. Throws CNotSupportedException when the
// dialog has no such control or the control cannot be attached.
void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);
