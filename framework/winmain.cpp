// The product's entry point: everything happens in RunApplication.
#include <windows.h>

#include "framework/winapp.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return RunApplication(::GetModuleHandleA(nullptr));
}
