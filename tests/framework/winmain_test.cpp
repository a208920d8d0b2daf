// The product's entry point: WinMain from framework_main drives the statically
// constructed application object. ctest looks for the success line, which
// nothing prints unless WinMain ran the application.
#include <windows.h>

#include <cstdio>

#include "framework/winapp.h"

namespace {

class CEntryApp : public CWinApp {
public:
    int inits = 0;

    BOOL InitInstance() override { ++inits; return FALSE; }
    int ExitInstance() override {
        const int status = CWinApp::ExitInstance();
        std::printf(inits == 1 && status == 0 ? "winmain: every check held\n"
                                              : "winmain: FAILED: %d initialisations, exit status %d\n",
                    inits, status);
        return status;
    }
} theApp;

}  // namespace
