#include "app/registry.h"

namespace {

// The Windows registry through its ANSI entry points.
class WindowsRegistry final : public SettingsRegistry {
public:
    LONG OpenKey(HKEY root, const char* subKey, DWORD options, REGSAM access, HKEY* result) override
    {
        return RegOpenKeyExA(root, subKey, options, access, result);
    }
    LONG CreateKey(HKEY root, const char* subKey, DWORD reserved, char* keyClass, DWORD options, REGSAM access,
                   const SECURITY_ATTRIBUTES* security, HKEY* result, DWORD* disposition) override
    {
        return RegCreateKeyExA(root, subKey, reserved, keyClass, options, access,
                               const_cast<SECURITY_ATTRIBUTES*>(security), result, disposition);
    }
    LONG QueryValue(HKEY key, const char* name, DWORD* reserved, DWORD* type, BYTE* data, DWORD* dataSize) override
    {
        return RegQueryValueExA(key, name, reserved, type, data, dataSize);
    }
    LONG SetValue(HKEY key, const char* name, DWORD reserved, DWORD type, const BYTE* data,
                  DWORD dataSize) override
    {
        return RegSetValueExA(key, name, reserved, type, data, dataSize);
    }
    LONG CloseKey(HKEY key) override { return RegCloseKey(key); }
};

SettingsRegistry* g_activeRegistry = nullptr;

} // namespace

SettingsRegistry& GetSettingsRegistry()
{
    static WindowsRegistry windowsRegistry;
    return g_activeRegistry != nullptr ? *g_activeRegistry : windowsRegistry;
}

void SetSettingsRegistry(SettingsRegistry* registry)
{
    g_activeRegistry = registry;
}
