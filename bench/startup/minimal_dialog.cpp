// The start-up benchmark's baselines: the least that a dialog program built like
// the utility (statically linked, allocations tracked, common controls) does
// before its modal dialog is on screen; it touches no registry, and Ok or Cancel
// ends it. Built twice: minimal_dialog enumerates nothing, floor_dialog first
// walks DirectDraw and Direct3D as the utility's enumeration does, keeping
// nothing: the part of the utility's start-up that no setup dialog can skip.
#include <windows.h>
#include <commctrl.h>

#include "minimal_dialog.h"
#ifdef WALK_DIRECTDRAW
#include "../common/directdraw_walk.h"
#endif

namespace {

INT_PTR CALLBACK BaselineProc(HWND dlg, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        // One item, as the utility's lists have some: the same kind of work, a tiny amount.
        ::SendDlgItemMessageA(dlg, IDC_MINIMAL_LIST, CB_ADDSTRING, 0,
                              reinterpret_cast<LPARAM>("640 x 480 x 16"));
        ::SendDlgItemMessageA(dlg, IDC_MINIMAL_LIST, CB_SETCURSEL, 0, 0);
        ::SendDlgItemMessageA(dlg, IDC_MINIMAL_SLIDER, TBM_SETRANGE, FALSE, MAKELPARAM(0, 2));
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            ::EndDialog(dlg, LOWORD(wParam));
            return TRUE;
        }
        break;
    }
    return FALSE;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
#ifdef WALK_DIRECTDRAW
    WalkDirectDraw(GetDirectDrawEntry());
#endif
    INITCOMMONCONTROLSEX icc;
    icc.dwSize = sizeof icc;
    icc.dwICC = ICC_BAR_CLASSES;
    ::InitCommonControlsEx(&icc);
    const INT_PTR end = ::DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MINIMAL), nullptr,
                                          BaselineProc, 0);
    return end == IDOK || end == IDCANCEL ? 0 : 1;
}
