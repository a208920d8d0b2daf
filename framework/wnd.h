// CWnd: a non-owning window handle with message-map routing.
#pragma once

#include <windows.h>

#include "framework/message_map.h"

class CWnd : public CCmdTarget {
public:
    CWnd() noexcept = default;
    // Does not destroy the window.
    ~CWnd() override;

    // FALSE when this object already holds a window or hWnd is no window.
    BOOL Attach(HWND hWnd);
    HWND Detach();

    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    BOOL IsIconic() const;
    void GetClientRect(LPRECT lpRect) const;
    // Centres the window on the work area of its monitor.
    void CenterWindow();

    // Routes a window message through the message map. TRUE when a handler ran
    // and did not ask for the default processing; *pResult gets its result.
    BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);

    HWND m_hWnd = nullptr;

protected:
    // Called from a handler: once the handler returns, the message goes on to
    // the platform's default processing as if no handler had been mapped.
    void Default() { m_defaultRequested = true; }

private:
    bool m_defaultRequested = false;
};
