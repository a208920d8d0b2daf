// CWinApp: the one application object, and the entry that drives it.
#pragma once

#include <windows.h>

#include "framework/message_map.h"
#include "framework/wnd.h"

// The standard help command.
#define ID_HELP 0xE146

class CWinApp : public CCmdTarget {
public:
    // The first application object constructed becomes the current one
    // (a program has exactly one, constructed statically).
    explicit CWinApp(LPCSTR lpszAppName = nullptr);
    ~CWinApp() override;

    // Called once by RunApplication. FALSE: no message loop runs.
    virtual BOOL InitInstance();
    // The message loop, until WM_QUIT; then ExitInstance.
    virtual int Run();
    // The default exit step: the exit status, which is the WM_QUIT code of the
    // message loop, or 0 when no loop ran.
    virtual int ExitInstance();
    // The default handler for ID_HELP, for a derived map to name. The program
    // ships no help file, so it does nothing.
    virtual void OnHelp();

    // The process-wide three-dimensional look: the templates of dialogs created
    // while it is on reach the dialog manager with DS_3DLOOK. Returns TRUE when
    // the look is on.
    static BOOL Enable3dControls();
    static void Disable3dControls();
    static BOOL Is3dLookEnabled();

    CWnd* m_pMainWnd = nullptr;
    HINSTANCE m_hInstance;
    LPCSTR m_pszAppName;

protected:
    int m_nExitCode = 0;  // of the last message loop of this run

    friend int RunApplication(HINSTANCE hInstance);

    DECLARE_MESSAGE_MAP()
};

CWinApp* GetCurrentApp();

// Loads the common controls and registers their bar classes (the trackbar among
// them). FALSE when the library or the registration is not available.
BOOL RegisterCommonControlClasses();

// The program's run: registers the common controls, calls InitInstance once,
// then either runs the message loop or, when InitInstance returned FALSE,
// destroys the window the main-window reference still names and calls
// ExitInstance. Returns the exit status; -1 when there is no application object.
int RunApplication(HINSTANCE hInstance);
