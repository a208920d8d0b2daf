// The start-up benchmark's baseline: the least that a dialog program built like
// the utility (statically linked, allocations tracked, common controls) does
// before its modal dialog is on screen. It enumerates nothing and touches no
// registry; Ok or Cancel ends it.
#include <windows.h>
#include <commctrl.h>

#include "minimal_dialog.h"

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
    INITCOMMONCONTROLSEX icc;
    icc.dwSize = sizeof icc;
    icc.dwICC = ICC_BAR_CLASSES;
    ::InitCommonControlsEx(&icc);
    const INT_PTR end = ::DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MINIMAL), nullptr,
                                          BaselineProc, 0);
    return end == IDOK || end == IDCANCEL ? 0 : 1;
}
