// A dialog of the tests' own on template IDD_TEST: it logs every handler, and
// lets each test act from inside its modal loop.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "framework/framework.h"
#include "test_resource.h"

const HCURSOR kDragIcon = reinterpret_cast<HCURSOR>(static_cast<UINT_PTR>(0xdeadbeef));
const UINT WM_RUN = WM_APP + 10;       // posted at the end of OnInitDialog
const UINT_PTR kWatchdogTimer = 77;    // ends a dialog that a test forgot to end
const INT_PTR kWatchdogEnd = 0x7777;

class CTestDlg : public CDialog {
public:
    explicit CTestDlg(UINT templateId = IDD_TEST, CWnd* parent = nullptr)
        : CDialog(templateId, parent) {}

    CComboBox m_cbCombo;
    CButton m_chkCheck;
    CSliderCtrl m_sldTrack;

    std::function<void(CTestDlg&)> beforeInit;    // before the CDialog initialisation
    std::function<void(CTestDlg&)> onInit;        // at the end of OnInitDialog
    std::function<void(CTestDlg&)> whileRunning;  // from the modal loop
    std::vector<std::string> log;
    int exchanges = 0;
    BOOL lastSave = -1;
    bool bindMissing = false;
    bool paintDefault = false;
    bool throwOnAction = false;
    RECT paintRect = {-1, -1, -1, -1};
    LRESULT notifyResult = 0x1234;

    BOOL OnInitDialog() override {
        if (beforeInit) beforeInit(*this);
        BOOL focusFirst = CDialog::OnInitDialog();
        ::SetTimer(m_hWnd, kWatchdogTimer, 10000, nullptr);
        if (onInit) onInit(*this);
        PostMessage(WM_RUN);
        return focusFirst;
    }

protected:
    void DoDataExchange(CDataExchange* pDX) override {
        ++exchanges;
        lastSave = pDX->m_bSaveAndValidate;
        DDX_Control(pDX, IDC_COMBO, m_cbCombo);
        DDX_Control(pDX, IDC_CHECK, m_chkCheck);
        if (bindMissing) DDX_Control(pDX, IDC_MISSING, m_sldTrack);
        DDX_Control(pDX, IDC_TRACK, m_sldTrack);
    }
    void OnOK() override {
        log.push_back("ok");
        CDialog::OnOK();
    }
    void OnPaint() {
        log.push_back("paint");
        if (paintDefault) return Default();
        CPaintDC dc(this);
        paintRect = dc.m_ps.rcPaint;
    }
    HCURSOR OnQueryDragIcon() {
        log.push_back("dragicon");
        return kDragIcon;
    }
    void OnSelchangeCombo() { log.push_back("selchange " + std::to_string(m_cbCombo.GetCurSel())); }
    void OnClickedCheck() { log.push_back("clicked " + std::to_string(m_chkCheck.GetCheck())); }
    void OnAction();
    void OnReleasedTrack(NMHDR* hdr, LRESULT* result) {
        log.push_back("released " + std::to_string(hdr->idFrom) + " at " +
                      std::to_string(m_sldTrack.GetPos()));
        *result = notifyResult;
    }
    LRESULT OnRun(WPARAM, LPARAM) {
        if (whileRunning) whileRunning(*this);
        return 0;
    }
    LRESULT OnTimer(WPARAM id, LPARAM) {
        if (id == kWatchdogTimer) EndDialog(static_cast<int>(kWatchdogEnd));
        return 0;
    }

    DECLARE_MESSAGE_MAP()
};

class CDerivedDlg : public CTestDlg {
protected:
    void OnDerivedAction() { log.push_back("derived action"); }
    DECLARE_MESSAGE_MAP()
};

// The dialog's window while it runs, from inside the modal loop.
std::string ClassOf(HWND hWnd);
// A key press as the keyboard would post it to the focused control.
void PressKey(const CTestDlg& dlg, WPARAM key);
