// CDialog: a modal dialog from a template in the program's resources.
#pragma once

#include <windows.h>

#include <exception>

#include "framework/ddx.h"
#include "framework/message_map.h"
#include "framework/wnd.h"

class CDialog : public CWnd {
public:
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr) noexcept;
    ~CDialog() override;

    // Creates the dialog from its template (the resource loader picks the
    // language), runs it until it ends itself, destroys the window and returns
    // the end code; -1 when the dialog cannot be created. An exception thrown by
    // a handler ends the dialog and is rethrown from here once the window is gone.
    virtual INT_PTR DoModal();
    void EndDialog(int nResult);
    // Runs the data exchange, which binds the control members; exceptions from it
    // propagate. The dialogs keep no values in members, so nothing else moves.
    void UpdateData();

    // On WM_INITDIALOG: the first data exchange. Returns TRUE: the platform puts
    // the focus on the first tab stop.
    virtual BOOL OnInitDialog();

protected:
    virtual void DoDataExchange(CDataExchange* pDX);
    // IDOK: a data exchange, then EndDialog(IDOK).
    virtual void OnOK();
    // IDCANCEL: EndDialog(IDCANCEL).
    virtual void OnCancel();

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;

    DECLARE_MESSAGE_MAP()

private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleInitDialog();
    void Fail(std::exception_ptr error);
    void WindowGone();

    std::exception_ptr m_error;
};
