// Any program can write the settings key. Seeded random registry states, each value missing or
// present with any type, size and bytes, must load without writing outside the record, leaving
// every field at its default, its fallback, or the stored bytes.
#include "app/memory_registry.h"
#include "app/registry.h"
#include "app/settings.h"
#include "app/settings_store.h"
#include "settings_test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

using namespace settings_test;

namespace {

bool IsStringType(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// Values named as the settings, each present or not, of any type, size and contents.
RealKey Generate(std::mt19937& rng)
{
    static const DWORD kTypes[] = {REG_NONE, REG_SZ,       REG_EXPAND_SZ, REG_BINARY, REG_DWORD,
                                   REG_LINK, REG_MULTI_SZ, REG_QWORD,     0x12345678};
    RealKey state;
    for (const StoredField& field : kFields) {
        if (rng() % 6 == 0)
            continue;
        RealValue& value = state[field.name];
        value.type = rng() % 3 == 0 ? field.type : kTypes[rng() % 9];
        const size_t width = field.size;
        const size_t sizes[] = {0, 1 + rng() % (width - 1), width, width, width - 1, width + 1,
                                width + 1 + rng() % 64, rng() % 3000};
        value.data.resize(sizes[rng() % 8]);
        const unsigned pattern = rng() % 4;
        for (BYTE& b : value.data) {
            switch (pattern) {
            case 0: b = BYTE(rng()); break;                              // anything
            case 1: b = BYTE(1 + rng() % 255); break;                    // no zero byte
            case 2: b = rng() % 8 == 0 ? BYTE(rng()) : 0; break;         // mostly zero
            default: b = BYTE(' ' + rng() % 95); break;                  // printable
            }
        }
        if (pattern == 3 && !value.data.empty())
            value.data[rng() % value.data.size()] = 0;
    }
    return state;
}

// What a field must hold after the load, given the value as the registry returns it.
void ApplyStored(SetupSettings& expected, const StoredField& field, const RealValue* value)
{
    BYTE* target = FieldPointer(expected, field);
    if (value == nullptr || value->data.size() > field.size) {
        if (field.fallback >= 0)
            std::memcpy(target, &field.fallback, 4);
        return;
    }
    const std::vector<BYTE>& data = value->data;
    std::memcpy(target, data.data(), data.size());
    if (IsStringType(value->type) && !data.empty() && data.size() < field.size && data.back() != 0)
        target[data.size()] = 0;
    if (field.type == REG_SZ)
        target[field.size - 1] = 0;
}

} // namespace

TEST(UntrustedStore, RandomStatesInMemoryAndInTheWindowsRegistry)
{
    DeviceTable table;
    FillStandardDevices(table);
    for (bool real : {false, true}) {
        const uint32_t seed = real ? 0x7a5e4454 : 0x7a5e1c01;
        const int states = real ? 150 : 4000;
        std::mt19937 rng(seed);
        int firstRuns = 0, storedReads = 0;
        for (int i = 0; i < states && !::testing::Test::HasFailure(); ++i) {
            const std::string context = std::string(real ? "registry" : "memory") + " state " + std::to_string(i) +
                                        " of seed " + std::to_string(seed);
            const bool keyExists = rng() % 16 != 0;
            const RealKey state = Generate(rng);
            MemoryRegistry memory;
            memory.SetScribbleOnMoreData(rng() % 2 == 0);
            if (real)
                DeleteSettingsKey();
            if (keyExists) {
                real ? CreateSettingsKey() : memory.AddKey(HKEY_CURRENT_USER, SETTINGS_KEY_PATH);
                for (const auto& value : state) {
                    if (real)
                        PutRealValue(value.first.c_str(), value.second.type, value.second.data);
                    else
                        memory.PutValue(HKEY_CURRENT_USER, SETTINGS_KEY_PATH, value.first, value.second.type,
                                        value.second.data);
                }
            }
            // What an ANSI reader sees: string data goes through the code page.
            const RealKey stored = real ? ReadRealKey() : state;
            auto contents = [&] {
                if (real)
                    return ReadRealKey();
                RealKey key;
                for (const std::string& name : memory.ValueNames(HKEY_CURRENT_USER, SETTINGS_KEY_PATH)) {
                    const StoredValue* value = memory.FindValue(HKEY_CURRENT_USER, SETTINGS_KEY_PATH, name);
                    key[name] = RealValue{value->type, value->data};
                }
                return key;
            };

            struct {
                BYTE before[64];
                SetupSettings settings;
                BYTE after[64];
            } guarded;
            std::memset(&guarded, 0xfd, sizeof guarded);
            std::memset(&guarded.settings, 0, sizeof guarded.settings);
            SetSettingsRegistry(real ? nullptr : &memory);
            LoadSettings(guarded.settings);
            SetSettingsRegistry(nullptr);

            ASSERT_EQ(std::vector<BYTE>(64, 0xfd), std::vector<BYTE>(guarded.before, guarded.before + 64)) << context;
            ASSERT_EQ(std::vector<BYTE>(64, 0xfd), std::vector<BYTE>(guarded.after, guarded.after + 64)) << context;
            SetupSettings expected = StandardDefaults();
            if (keyExists) {
                for (const StoredField& field : kFields) {
                    auto value = stored.find(field.name);
                    ApplyStored(expected, field, value == stored.end() ? nullptr : &value->second);
                    storedReads += value != stored.end() && value->second.data.size() <= field.size;
                }
                EXPECT_TRUE(stored == contents()) << context << ": nothing is written at start-up";
            } else {
                ++firstRuns;
                EXPECT_EQ(16u, contents().size()) << context;
            }
            ExpectSameSettings(expected, guarded.settings, context);
            EXPECT_LT(std::strlen(guarded.settings.deviceName), 40u) << context;
            EXPECT_LT(std::strlen(guarded.settings.providerName), 1024u) << context;
            EXPECT_EQ(0u, memory.OpenHandleCount()) << context;
        }
        // The generator reaches both paths and plenty of successful reads.
        EXPECT_GT(firstRuns, states / 40);
        EXPECT_GT(storedReads, states * 4);
    }
    DeleteSettingsKey();
    ResetModeChoiceTable();
}
