// The registry calls the settings store makes on its one key under HKEY_CURRENT_USER, behind
// one interface, so that the store can also run against a registry of the tests' own.
#pragma once

#include <windows.h>

class SettingsRegistry {
public:
    virtual ~SettingsRegistry() = default;

    // The key opened for reading (RegOpenKeyExA, KEY_QUERY_VALUE); null when it cannot be.
    virtual HKEY OpenToRead(const char* path) = 0;
    // The key created or opened for writing (RegCreateKeyExA, KEY_ALL_ACCESS); null when it cannot be.
    virtual HKEY CreateToWrite(const char* path) = 0;
    // RegQueryValueExA into the `size` bytes at `data`; true when the value was read. After a
    // failure the buffer may hold anything.
    virtual bool Query(HKEY key, const char* name, BYTE* data, DWORD size) = 0;
    // RegSetValueExA; its result is not examined.
    virtual void Set(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD size) = 0;
    // RegCloseKey
    virtual void Close(HKEY key) = 0;
};

// The registry the settings store uses: the Windows registry unless another was set.
SettingsRegistry& GetSettingsRegistry();
// Makes `registry` the one in use; null goes back to the Windows registry. Not owned.
void SetSettingsRegistry(SettingsRegistry* registry);
