#include "framework/winapp.h"

#include <commctrl.h>

namespace {
CWinApp* g_currentApp = nullptr;
bool g_3dLook = false;
}  // namespace

CWinApp* GetCurrentApp()
{
    return g_currentApp;
}

CWinApp::CWinApp()
    : m_hInstance(::GetModuleHandleA(nullptr))
{
    if (!g_currentApp)
        g_currentApp = this;
}

CWinApp::~CWinApp()
{
    if (g_currentApp == this)
        g_currentApp = nullptr;
}

// Empty: a program routes ID_HELP to OnHelp in its own map when it wants help.
BEGIN_MESSAGE_MAP(CWinApp, CCmdTarget)
END_MESSAGE_MAP()

BOOL CWinApp::InitInstance()
{
    return FALSE;
}

int CWinApp::ExitInstance()
{
    return 0;
}

void CWinApp::OnHelp()
{ }

BOOL CWinApp::Enable3dControls()
{
    g_3dLook = true;
    return TRUE;
}

BOOL CWinApp::Is3dLookEnabled()
{
    return g_3dLook;
}

BOOL RegisterCommonControlClasses()
{
    // Loaded here rather than imported: a missing library then leaves the
    // dialogs that need it uncreated instead of stopping the process at load
    // with a loader message, and the classes exist from this call on.
    static HMODULE comctl = ::LoadLibraryA("comctl32.dll");
    if (!comctl)
        return FALSE;
    typedef BOOL(WINAPI * InitFn)(const INITCOMMONCONTROLSEX*);
    const InitFn init
        = reinterpret_cast<InitFn>(reinterpret_cast<void (*)()>(::GetProcAddress(comctl, "InitCommonControlsEx")));
    if (!init)
        return FALSE;
    INITCOMMONCONTROLSEX icc;
    icc.dwSize = sizeof icc;
    icc.dwICC = ICC_BAR_CLASSES;
    return init(&icc);
}

int RunApplication(HINSTANCE hInstance)
{
    CWinApp* app = GetCurrentApp();
    if (!app)
        return -1;
    app->m_hInstance = hInstance;
    // Dialogs that fail for want of the classes fail silently; nothing to report here.
    RegisterCommonControlClasses();
    app->InitInstance();

    // Take down what is left of the main window.
    if (CWnd* main = app->m_pMainWnd) {
        HWND hWnd = main->m_hWnd;
        if (hWnd && ::IsWindow(hWnd)) {
            ::DestroyWindow(hWnd);
            if (main->m_hWnd == hWnd)
                main->Detach();
        }
    }
    return app->ExitInstance();
}
