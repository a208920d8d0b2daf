#include "test_dialog.h"

#include <stdexcept>

BEGIN_MESSAGE_MAP(CTestDlg, CDialog)
    ON_WM_PAINT()
    ON_WM_QUERYDRAGICON()
    ON_CBN_SELCHANGE(IDC_COMBO, &CTestDlg::OnSelchangeCombo)
    ON_BN_CLICKED(IDC_CHECK, &CTestDlg::OnClickedCheck)
    ON_COMMAND(IDC_ACTION, &CTestDlg::OnAction)
    ON_NOTIFY(NM_RELEASEDCAPTURE, IDC_TRACK, &CTestDlg::OnReleasedTrack)
    ON_MESSAGE(WM_RUN, &CTestDlg::OnRun)
    ON_MESSAGE(WM_TIMER, &CTestDlg::OnTimer)
END_MESSAGE_MAP()

BEGIN_MESSAGE_MAP(CDerivedDlg, CTestDlg)
    ON_COMMAND(IDC_ACTION, &CDerivedDlg::OnDerivedAction)
END_MESSAGE_MAP()

void CTestDlg::OnAction() {
    log.push_back("action");
    if (throwOnAction) throw std::runtime_error("action failed");
}

std::string ClassOf(HWND hWnd) {
    char name[64] = "";
    ::GetClassNameA(hWnd, name, sizeof name);
    return name;
}

void PressKey(const CTestDlg& dlg, WPARAM key) {
    HWND target = ::GetFocus();
    if (!target) target = dlg.m_hWnd;
    const UINT scan = ::MapVirtualKeyA(static_cast<UINT>(key), 0);
    ::PostMessageA(target, WM_KEYDOWN, key, 1 | (scan << 16));
    ::PostMessageA(target, WM_KEYUP, key, 1 | (scan << 16) | 0xC0000000u);
}
