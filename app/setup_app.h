// The application object: fixes the order of the whole run.
#pragma once

#include "display/display_enumeration.h"
#include "framework/framework.h"

// Accepts every device: the program lists them all.
int32_t AcceptAllDevices(const DDCAPS* halCaps, const D3DDEVICEDESC7* deviceDesc);

class CSetupApp : public CWinApp {
public:
    CSetupApp();
    ~CSetupApp() override;

    BOOL InitInstance() override;
    int ExitInstance() override;

    // Fills the display device table; true unless no device was found or accepted.
    bool EnumerateDevices();
    // Defaults the settings, then writes them (first run) or reads the stored ones.
    void LoadSettings();

protected:
    DECLARE_MESSAGE_MAP()
};
