// Direct access to the settings key of the (throwaway) Windows registry, bypassing the code
// under test: used to prepare stored states and to read back exactly what was stored.
#pragma once

#include "app/settings_store.h"

#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace settings_test {

struct RealValue {
    std::string name;
    DWORD type;
    std::vector<BYTE> data;
};

inline void DeleteSettingsKey()
{
    LONG result = RegDeleteKeyA(HKEY_CURRENT_USER, SETTINGS_KEY_PATH);
    ASSERT_TRUE(result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND) << "RegDeleteKeyA returned " << result;
}

inline bool SettingsKeyExists()
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY_PATH, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

inline void CreateSettingsKey()
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY_PATH, 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &key, nullptr));
    RegCloseKey(key);
}

inline void PutRealValue(const std::string& name, DWORD type, const std::vector<BYTE>& data)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY_PATH, 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &key, nullptr));
    // One spare byte that is not zero: the registry looks past unterminated string data for a
    // terminator to count.
    std::vector<BYTE> buffer = data;
    buffer.push_back(0x7f);
    LONG result = RegSetValueExA(key, name.c_str(), 0, type, buffer.data(), static_cast<DWORD>(data.size()));
    RegCloseKey(key);
    ASSERT_EQ(ERROR_SUCCESS, result) << name;
}

// Every value of the key, read with RegEnumValueA into a sentinel-filled buffer: the bytes
// after the reported size must still be the sentinel.
inline std::vector<RealValue> ReadRealKey()
{
    std::vector<RealValue> values;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY_PATH, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return values;
    for (DWORD index = 0;; ++index) {
        char name[256];
        DWORD nameSize = sizeof name;
        std::vector<BYTE> data(8192, 0xde);
        DWORD dataSize = static_cast<DWORD>(data.size() - 64);
        DWORD type = 0xdeadbeef;
        LONG result = RegEnumValueA(key, index, name, &nameSize, nullptr, &type, data.data(), &dataSize);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        EXPECT_EQ(ERROR_SUCCESS, result) << "RegEnumValueA at " << index;
        if (result != ERROR_SUCCESS)
            break;
        // The registry adds a terminator after an unterminated string when there is room.
        const bool isString = type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
        const bool terminatedOrBinary = !isString || dataSize == 0 || data[dataSize - 1] == 0;
        if (terminatedOrBinary) {
            for (size_t i = dataSize; i < dataSize + 32; ++i)
                EXPECT_EQ(0xde, data[i]) << name << ": byte " << i << " past the data was written";
        }
        data.resize(dataSize);
        values.push_back(RealValue{name, type, data});
    }
    RegCloseKey(key);
    return values;
}

inline const RealValue* FindReal(const std::vector<RealValue>& values, const std::string& name)
{
    for (const RealValue& value : values) {
        if (_stricmp(value.name.c_str(), name.c_str()) == 0)
            return &value;
    }
    return nullptr;
}

} // namespace settings_test
