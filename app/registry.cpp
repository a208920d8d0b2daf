#include "app/registry.h"

namespace {

SettingsRegistry* g_activeRegistry = nullptr;

} // namespace

LONG WindowsRegistry::OpenKey(HKEY root, const char* subKey, DWORD options, REGSAM access, HKEY* result)
{
    return RegOpenKeyExA(root, subKey, options, access, result);
}

LONG WindowsRegistry::CreateKey(HKEY root, const char* subKey, DWORD reserved, char* keyClass, DWORD options,
                                REGSAM access, const SECURITY_ATTRIBUTES* security, HKEY* result,
                                DWORD* disposition)
{
    return RegCreateKeyExA(root, subKey, reserved, keyClass, options, access,
                           const_cast<SECURITY_ATTRIBUTES*>(security), result, disposition);
}

LONG WindowsRegistry::QueryValue(HKEY key, const char* name, DWORD* reserved, DWORD* type, BYTE* data,
                                 DWORD* dataSize)
{
    return RegQueryValueExA(key, name, reserved, type, data, dataSize);
}

LONG WindowsRegistry::SetValue(HKEY key, const char* name, DWORD reserved, DWORD type, const BYTE* data,
                               DWORD dataSize)
{
    return RegSetValueExA(key, name, reserved, type, data, dataSize);
}

LONG WindowsRegistry::CloseKey(HKEY key)
{
    return RegCloseKey(key);
}

SettingsRegistry& GetSettingsRegistry()
{
    static WindowsRegistry windowsRegistry;
    return g_activeRegistry != nullptr ? *g_activeRegistry : windowsRegistry;
}

void SetSettingsRegistry(SettingsRegistry* registry)
{
    g_activeRegistry = registry;
}
