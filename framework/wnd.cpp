#include "framework/wnd.h"

CWnd::~CWnd() = default;

BOOL CWnd::Attach(HWND hWnd)
{
    if (m_hWnd || !hWnd || !::IsWindow(hWnd))
        return FALSE;
    m_hWnd = hWnd;
    return TRUE;
}

HWND CWnd::Detach()
{
    HWND hWnd = m_hWnd;
    m_hWnd = nullptr;
    return hWnd;
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const
{
    return ::SendMessageA(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::IsIconic() const
{
    return ::IsIconic(m_hWnd);
}

void CWnd::GetClientRect(LPRECT lpRect) const
{
    ::GetClientRect(m_hWnd, lpRect);
}

void CWnd::CenterWindow()
{
    RECT rc;
    if (!::GetWindowRect(m_hWnd, &rc))
        return;
    RECT area;
    MONITORINFO mi;
    mi.cbSize = sizeof mi;
    if (::GetMonitorInfoA(::MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTOPRIMARY), &mi))
        area = mi.rcWork;
    else if (!::SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0))
        return;
    const int width = rc.right - rc.left, height = rc.bottom - rc.top;
    int x = area.left + (area.right - area.left - width) / 2;
    int y = area.top + (area.bottom - area.top - height) / 2;
    // A window larger than the area keeps its caption on screen.
    if (x < area.left)
        x = area.left;
    if (y < area.top)
        y = area.top;
    ::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult)
{
    UINT code = 0, id = 0;
    if (message == WM_COMMAND) {
        code = HIWORD(wParam);
        id = LOWORD(wParam);
    } else if (message == WM_NOTIFY) {
        const NMHDR* hdr = reinterpret_cast<const NMHDR*>(lParam);
        if (!hdr)
            return FALSE;
        code = hdr->code;
        id = static_cast<UINT>(hdr->idFrom);
    }
    const MessageMapEntry* e = FindMessageEntry(GetMessageMap(), message, code, id);
    if (!e)
        return FALSE;

    // A handler may route further messages before it returns; each keeps its own
    // request, also when a handler throws.
    struct RequestScope {
        bool& flag;
        bool outer;
        explicit RequestScope(bool& f)
            : flag(f)
            , outer(f)
        {
            flag = false;
        }
        ~RequestScope() { flag = outer; }
    } scope(m_defaultRequested);
    LRESULT result = CallHandler(*e, lParam);
    if (m_defaultRequested)
        return FALSE;
    if (pResult)
        *pResult = result;
    return TRUE;
}
