// The product's entry point: WinMain from framework_main drives the one
// statically constructed application object. Exit status 0 means every check held.
#include <windows.h>

#include <cstdio>

#include "framework/winapp.h"

namespace {

class CEntryApp : public CWinApp {
public:
    int inits = 0;
    int failures = 0;

    BOOL InitInstance() override {
        ++inits;
        Check(m_hInstance == ::GetModuleHandleA(nullptr), "instance handle is the module's");
        Check(::GetModuleHandleA("comctl32.dll") != nullptr, "common controls loaded");
        return FALSE;
    }
    int ExitInstance() override {
        Check(inits == 1, "initialisation hook called once");
        Check(CWinApp::ExitInstance() == 0, "default exit status is 0");
        std::printf("%d passed, %d failed\n", 4 - failures, failures);
        return failures;
    }

private:
    void Check(bool ok, const char* what) {
        if (!ok) {
            ++failures;
            std::printf("FAILED: %s\n", what);
        }
    }
};

CEntryApp theApp;

}  // namespace
