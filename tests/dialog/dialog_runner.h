// Runs the real setup dialog from its real template and acts on it from inside its modal loop,
// the way a user would: keys to the focused control, clicks, mouse drags of the trackbars.
#pragma once

#include "dialog/setup_dlg.h"

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace dialog_test {

// The end code of a dialog that the runner had to close itself.
constexpr INT_PTR kAbandoned = 0x5a5a;

// Constructs a CSetupDlg without a parent and runs DoModal; `steps` runs once the dialog shows
// and must end it with real input (EndWith). A step that throws, fails an ASSERT or leaves the
// dialog open gets it ended with kAbandoned, so no test hangs.
INT_PTR RunSetupDialog(const std::function<void(CSetupDlg&)>& steps);

// What the dialog's window procedure returned for WM_INITDIALOG in the last run: TRUE lets the
// platform put the focus on the first tab stop.
LRESULT InitDialogResult();

// Posts a key press to the focused control, as the keyboard does: Enter and Escape go through
// the dialog manager to the default button or IDCANCEL.
void EndWith(WPARAM key);

// A key pressed on the control, which gets the focus first; handled before this returns.
void Key(HWND control, WPARAM key);
// A mouse click on a check box (BM_CLICK): it toggles itself and reports BN_CLICKED.
void Click(HWND button);
// Drags the trackbar's thumb with the mouse to `position` of its 0 to 2 range and lets go, so
// that the trackbar reports NM_RELEASEDCAPTURE itself.
void DragThumb(HWND trackbar, int position);

std::vector<std::string> Items(const CComboBox& list);
std::wstring WindowText(HWND window);
std::string ClassName(HWND window);

} // namespace dialog_test
