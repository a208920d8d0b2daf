#include "framework/dialog.h"

#include <vector>

#include "framework/dialog_template.h"
#include "framework/winapp.h"

namespace {

// Messages whose dialog-procedure return value is the message result itself;
// every other result goes through DWLP_MSGRESULT.
bool ReturnsResultDirectly(UINT message)
{
    switch (message) {
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
    case WM_INITDIALOG: return true;
    default: return false;
    }
}

HINSTANCE ResourceInstance()
{
    CWinApp* app = GetCurrentApp();
    return app && app->m_hInstance ? app->m_hInstance : ::GetModuleHandleA(nullptr);
}

}  // namespace

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd) noexcept
    : m_nIDTemplate(nIDTemplate)
    , m_pParentWnd(pParentWnd)
{ }

CDialog::~CDialog() = default;

BEGIN_MESSAGE_MAP(CDialog, CWnd)
ON_COMMAND(IDOK, &CDialog::OnOK)
ON_COMMAND(IDCANCEL, &CDialog::OnCancel)
END_MESSAGE_MAP()

INT_PTR CDialog::DoModal()
{
    if (m_hWnd)
        return -1;  // already running
    INT_PTR result = -1;
    HINSTANCE inst = ResourceInstance();
    HRSRC res = ::FindResourceA(inst, MAKEINTRESOURCEA(m_nIDTemplate), MAKEINTRESOURCEA(5) /* RT_DIALOG */);
    HGLOBAL loaded = res ? ::LoadResource(inst, res) : nullptr;
    const void* resource = loaded ? ::LockResource(loaded) : nullptr;
    std::vector<DWORD> copy;
    const DLGTEMPLATE* tmpl = resource
        ? PrepareDialogTemplate(resource, ::SizeofResource(inst, res), CWinApp::Is3dLookEnabled() != FALSE, copy)
        : nullptr;
    if (tmpl) {
        m_error = nullptr;
        HWND owner = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
        result = ::DialogBoxIndirectParamA(inst, tmpl, owner, &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
    }
    // The window is gone (or never existed); nothing may still name it.
    WindowGone();
    if (m_error) {
        std::exception_ptr error = m_error;
        m_error = nullptr;
        std::rethrow_exception(error);
    }
    return result;
}

void CDialog::EndDialog(int nResult)
{
    ::EndDialog(m_hWnd, nResult);
}

void CDialog::UpdateData()
{
    CDataExchange dx(this);
    DoDataExchange(&dx);
}

void CDialog::DoDataExchange(CDataExchange*)
{ }

BOOL CDialog::OnInitDialog()
{
    UpdateData();
    return TRUE;
}

void CDialog::OnOK()
{
    UpdateData();
    EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

void CDialog::Fail(std::exception_ptr error)
{
    // Only the first failure is reported; the dialog ends with it.
    if (!m_error)
        m_error = error;
    if (m_hWnd)
        ::EndDialog(m_hWnd, -1);
}

void CDialog::WindowGone()
{
    CWinApp* app = GetCurrentApp();
    if (app && app->m_pMainWnd == this)
        app->m_pMainWnd = nullptr;
    m_hWnd = nullptr;
}

INT_PTR CDialog::HandleInitDialog()
{
    RECT before, after;
    ::GetWindowRect(m_hWnd, &before);
    BOOL focusFirst;
    try {
        focusFirst = OnInitDialog();
    } catch (...) {
        Fail(std::current_exception());
        return FALSE;
    }
    // Centre on the screen unless an owner decides the place or OnInitDialog moved it.
    if (m_hWnd && !::GetWindow(m_hWnd, GW_OWNER) && ::GetWindowRect(m_hWnd, &after) && after.left == before.left
        && after.top == before.top)
        CenterWindow();
    return focusFirst;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        CDialog* dlg = reinterpret_cast<CDialog*>(lParam);
        ::SetWindowLongPtrA(hWnd, DWLP_USER, lParam);
        dlg->m_hWnd = hWnd;
        return dlg->HandleInitDialog();
    }
    CDialog* dlg = reinterpret_cast<CDialog*>(::GetWindowLongPtrA(hWnd, DWLP_USER));
    if (!dlg)
        return FALSE;  // before WM_INITDIALOG
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrA(hWnd, DWLP_USER, 0);
        dlg->WindowGone();
        return FALSE;
    }
    // Once a handler has failed, the dialog only winds down.
    if (dlg->m_error)
        return FALSE;

    // No exception may unwind through the platform's frames above this one.
    LRESULT result = 0;
    BOOL handled;
    try {
        handled = dlg->OnWndMsg(message, wParam, lParam, &result);
        // Commands the dialog does not handle go on to the application.
        if (!handled && message == WM_COMMAND) {
            CWinApp* app = GetCurrentApp();
            handled = app && app->OnCmdMsg(LOWORD(wParam), HIWORD(wParam));
        }
    } catch (...) {
        dlg->Fail(std::current_exception());
        return FALSE;
    }
    if (!handled)
        return FALSE;
    if (ReturnsResultDirectly(message))
        return static_cast<INT_PTR>(result);
    ::SetWindowLongPtrA(hWnd, DWLP_MSGRESULT, result);
    return TRUE;
}
