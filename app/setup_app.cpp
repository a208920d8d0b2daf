#include "app/setup_app.h"

#include "app/settings_store.h"
#include "dialog/setup_dlg.h"
#include "res/resource.h"

int32_t AcceptAllDevices(const DDCAPS*, const D3DDEVICEDESC7*)
{
    return 0;
}

BEGIN_MESSAGE_MAP(CSetupApp, CWinApp)
ON_COMMAND(ID_HELP, &CWinApp::OnHelp)
END_MESSAGE_MAP()

CSetupApp::CSetupApp() = default;
CSetupApp::~CSetupApp() = default;

bool CSetupApp::EnumerateDevices()
{
    return EnumerateDisplayDevices(AcceptAllDevices) >= 0;
}

void CSetupApp::LoadSettings()
{
    ::LoadSettings();
}

BOOL CSetupApp::InitInstance()
{
    Enable3dControls();
    EnumerateDevices();
    LoadSettings();

    CSetupDlg dlg(nullptr);
    m_pMainWnd = &dlg;
    dlg.DoModal();
    return FALSE;
}

int CSetupApp::ExitInstance()
{
    FreeDisplayDeviceModes();
    return CWinApp::ExitInstance();
}
