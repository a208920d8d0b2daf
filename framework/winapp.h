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
    CWinApp();
    ~CWinApp() override;

    // Called once by RunApplication. This framework runs no message loop of its
    // own, whatever the result: the windows of its programs are modal dialogs,
    // which run theirs.
    virtual BOOL InitInstance();
    // The default exit step: the exit status, 0.
    virtual int ExitInstance();
    // The default handler for ID_HELP, for a derived map to name. The program
    // ships no help file, so it does nothing.
    virtual void OnHelp();

    // The process-wide three-dimensional look: the templates of dialogs created
    // while it is on reach the dialog manager with DS_3DLOOK. Returns TRUE when
    // the look is on.
    static BOOL Enable3dControls();
    static BOOL Is3dLookEnabled();

    // The main window: a dialog's reference is cleared when its window is destroyed.
    CWnd* m_pMainWnd = nullptr;
    HINSTANCE m_hInstance;

protected:
    DECLARE_MESSAGE_MAP()
};

CWinApp* GetCurrentApp();

// Loads the common controls and registers their bar classes (the trackbar among
// them). FALSE when the library or the registration is not available.
BOOL RegisterCommonControlClasses();

// The program's run: registers the common controls, calls InitInstance once,
// destroys the window the main-window reference still names and returns what
// ExitInstance returns; -1 when there is no application object.
int RunApplication(HINSTANCE hInstance);
