// The five registry operations the settings persistence needs, behind one interface, so that
// the same logic runs against the Windows registry or against an in-memory store.
#pragma once

#include <windows.h>

// Each operation takes the arguments of its ANSI registry call and returns its result:
// ERROR_SUCCESS or an error code.
class SettingsRegistry {
public:
    virtual ~SettingsRegistry() = default;

    // RegOpenKeyExA
    virtual LONG OpenKey(HKEY root, const char* subKey, DWORD options, REGSAM access, HKEY* result) = 0;
    // RegCreateKeyExA
    virtual LONG CreateKey(HKEY root, const char* subKey, DWORD reserved, char* keyClass, DWORD options,
                           REGSAM access, const SECURITY_ATTRIBUTES* security, HKEY* result,
                           DWORD* disposition) = 0;
    // RegQueryValueExA
    virtual LONG QueryValue(HKEY key, const char* name, DWORD* reserved, DWORD* type, BYTE* data,
                            DWORD* dataSize) = 0;
    // RegSetValueExA
    virtual LONG SetValue(HKEY key, const char* name, DWORD reserved, DWORD type, const BYTE* data,
                          DWORD dataSize) = 0;
    // RegCloseKey
    virtual LONG CloseKey(HKEY key) = 0;
};

// The registry the settings persistence uses: the Windows registry unless another was set.
SettingsRegistry& GetSettingsRegistry();
// Makes `registry` the one in use; null goes back to the Windows registry. Not owned.
void SetSettingsRegistry(SettingsRegistry* registry);
