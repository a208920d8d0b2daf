#include "framework/ddx.h"

#include <cstdio>

#include "framework/exceptions.h"

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl)
{
    if (rControl.m_hWnd) {
        if (::IsWindow(rControl.m_hWnd))
            return;
        // Left over from a dialog window that is gone: bind afresh.
        rControl.Detach();
    }
    char message[96];
    HWND hDlg = pDX && pDX->m_pDlgWnd ? pDX->m_pDlgWnd->m_hWnd : nullptr;
    HWND hCtl = hDlg ? ::GetDlgItem(hDlg, nIDC) : nullptr;
    if (!hCtl) {
        std::snprintf(message, sizeof message, "dialog control %d does not exist", nIDC);
        throw CNotSupportedException(message);
    }
    if (!rControl.Attach(hCtl)) {
        std::snprintf(message, sizeof message, "dialog control %d cannot be attached", nIDC);
        throw CNotSupportedException(message);
    }
}
