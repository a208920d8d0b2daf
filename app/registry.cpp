#include "app/registry.h"

namespace {

// The Windows registry through its ANSI entry points.
class WindowsRegistry final : public SettingsRegistry {
public:
    HKEY OpenToRead(const char* path) override
    {
        HKEY key = nullptr;
        return RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS ? key : nullptr;
    }
    HKEY CreateToWrite(const char* path) override
    {
        HKEY key = nullptr;
        return RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                               &key, nullptr)
                == ERROR_SUCCESS
            ? key
            : nullptr;
    }
    bool Query(HKEY key, const char* name, BYTE* data, DWORD size) override
    {
        return RegQueryValueExA(key, name, nullptr, nullptr, data, &size) == ERROR_SUCCESS;
    }
    void Set(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD size) override
    {
        RegSetValueExA(key, name, 0, type, data, size);
    }
    void Close(HKEY key) override { RegCloseKey(key); }
};

SettingsRegistry* g_activeRegistry = nullptr;

}  // namespace

SettingsRegistry& GetSettingsRegistry()
{
    static WindowsRegistry windowsRegistry;
    return g_activeRegistry != nullptr ? *g_activeRegistry : windowsRegistry;
}

void SetSettingsRegistry(SettingsRegistry* registry)
{
    g_activeRegistry = registry;
}
