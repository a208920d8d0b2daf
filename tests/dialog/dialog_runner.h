// Runs the real setup dialog from its real template and acts on it from inside its modal loop,
// the way a user would: keys to the focused control, clicks, mouse drags of the trackbars.
#pragma once

#include "app/mode_choice.h"
#include "dialog/setup_dlg.h"
#include "settings_test_support.h"

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace dialog_test {

// Runs DoModal on a CSetupDlg without a parent; `steps` runs once the dialog shows and must end
// it with real input (EndWith). A dialog left open by a failed step, or still open two seconds
// later, is ended with 0x5a5a, so no test hangs.
INT_PTR RunSetupDialog(const std::function<void(CSetupDlg&)>& steps);

// Posts a key press to the focused control: Enter and Escape reach the dialog manager.
void EndWith(WPARAM key);
// Focuses the control and presses the key on it.
void Key(HWND control, WPARAM key);
// A click on a check box: it toggles itself and reports BN_CLICKED.
void Click(HWND button);
// Drags the trackbar's thumb to `position` of its 0 to 2 range and lets go, so that the
// trackbar reports NM_RELEASEDCAPTURE itself.
void DragThumb(HWND trackbar, int position);
std::vector<std::string> Items(const CComboBox& list);

// Row r before a test: no device has it, so a row that keeps it was not written.
inline ModeChoice SentinelRow(int r)
{
    return ModeChoice{-1000 - r, -2000 - r, 0x5e};
}

// Keeps the settings record, the mode-choice rows and the thread's languages as they were, and
// the settings key of the test prefix's registry absent before and after each test.
class DialogTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

private:
    SetupSettings m_settings;
    ModeChoice m_rows[kModeChoiceRows];
    LANGID m_language;
    LCID m_locale;
};

} // namespace dialog_test
