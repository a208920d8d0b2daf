// Any program can write the settings key. Seeded random registry states, each value missing or
// present with any type, size and bytes, must load without writing outside the record, leaving
// every field at its default, its fallback, or the stored bytes.
#include "app/memory_registry.h"
#include "app/registry.h"
#include "app/settings.h"
#include "app/settings_store.h"
#include "real_registry_support.h"
#include "settings_test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

using namespace settings_test;

namespace {

constexpr uint32_t kSeed = 0x7a5e1c01;

struct GeneratedValue {
    bool present = false;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

struct GeneratedState {
    bool keyExists = true;
    bool scribble = false;
    GeneratedValue values[20]; // in the order of kFields
};

bool IsStringType(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

GeneratedState Generate(std::mt19937& rng)
{
    static const DWORD kTypes[] = {REG_NONE,  REG_SZ,       REG_EXPAND_SZ, REG_BINARY, REG_DWORD,
                                   REG_DWORD_BIG_ENDIAN, REG_LINK, REG_MULTI_SZ, REG_QWORD};
    GeneratedState state;
    state.keyExists = rng() % 16 != 0;
    state.scribble = rng() % 2 == 0;
    for (size_t i = 0; i < 20; ++i) {
        const FieldSpec& field = kFields[i];
        GeneratedValue& value = state.values[i];
        value.present = rng() % 6 != 0;
        if (!value.present)
            continue;
        switch (rng() % 4) {
        case 0: value.type = field.type; break;
        case 1: value.type = rng(); break;
        default: value.type = kTypes[rng() % (sizeof kTypes / sizeof kTypes[0])]; break;
        }
        const size_t width = field.size;
        size_t size = 0;
        switch (rng() % 9) {
        case 0: size = 0; break;
        case 1: size = 1 + rng() % (width - 1); break;
        case 2: size = width; break;
        case 3: size = width; break;
        case 4: size = width - 1; break;
        case 5: size = width + 1; break;
        case 6: size = width + 1 + rng() % 64; break;
        case 7: size = rng() % (width + 1); break;
        case 8: size = rng() % 3000; break;
        }
        value.data.resize(size);
        switch (rng() % 4) {
        case 0: // anything
            for (BYTE& b : value.data)
                b = static_cast<BYTE>(rng());
            break;
        case 1: // no zero byte at all
            for (BYTE& b : value.data)
                b = static_cast<BYTE>(1 + rng() % 255);
            break;
        case 2: // mostly zero
            for (BYTE& b : value.data)
                b = rng() % 8 == 0 ? static_cast<BYTE>(rng()) : 0;
            break;
        case 3: // printable text, terminated somewhere
            for (BYTE& b : value.data)
                b = static_cast<BYTE>(' ' + rng() % 95);
            if (!value.data.empty())
                value.data[rng() % value.data.size()] = 0;
            break;
        }
    }
    return state;
}

// What a field must hold after the load, given the value as the registry returns it.
void ApplyStored(SetupSettings& expected, const FieldSpec& field, bool present, DWORD type,
                 const std::vector<BYTE>& data)
{
    BYTE* target = FieldPointer(expected, field);
    if (!present || data.size() > field.size) {
        if (field.hasFallback)
            std::memcpy(target, &field.fallback, 4);
        return;
    }
    std::memcpy(target, data.data(), data.size());
    if (IsStringType(type) && !data.empty() && data.size() < field.size && data.back() != 0)
        target[data.size()] = 0;
    if (field.isText)
        target[field.size - 1] = 0;
}

// The record with guard bytes on both sides.
struct GuardedSettings {
    BYTE before[64];
    SetupSettings settings;
    BYTE after[64];
};

void PrepareGuarded(GuardedSettings& guarded)
{
    std::memset(&guarded, 0xfd, sizeof guarded);
    std::memset(&guarded.settings, 0, sizeof guarded.settings);
}

bool GuardsIntact(const GuardedSettings& guarded)
{
    for (BYTE b : guarded.before) {
        if (b != 0xfd)
            return false;
    }
    for (BYTE b : guarded.after) {
        if (b != 0xfd)
            return false;
    }
    return true;
}

class UntrustedStoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FillStandardDevices(m_table);
        ResetModeChoiceTable();
    }
    void TearDown() override
    {
        SetSettingsRegistry(nullptr);
        ResetModeChoiceTable();
        DeleteSettingsKey();
    }

    DeviceTable m_table;
};

} // namespace

TEST_F(UntrustedStoreTest, RandomStatesInMemory)
{
    std::mt19937 rng(kSeed);
    const SetupSettings defaults = StandardDefaults();
    const int kStates = 4000;
    int firstRuns = 0;
    int readsStored = 0;
    for (int iteration = 0; iteration < kStates && !HasFailure(); ++iteration) {
        const GeneratedState state = Generate(rng);
        MemoryRegistry registry;
        registry.SetScribbleOnMoreData(state.scribble);
        if (state.keyExists) {
            registry.AddKey(HKEY_CURRENT_USER, SETTINGS_KEY_PATH);
            for (size_t i = 0; i < 20; ++i) {
                if (state.values[i].present)
                    registry.PutValue(HKEY_CURRENT_USER, SETTINGS_KEY_PATH, kFields[i].name, state.values[i].type,
                                      state.values[i].data);
            }
        }
        GuardedSettings guarded;
        PrepareGuarded(guarded);
        SetSettingsRegistry(&registry);
        LoadSettings(guarded.settings);
        SetSettingsRegistry(nullptr);

        const std::string context = "state " + std::to_string(iteration) + " of seed " + std::to_string(kSeed);
        ASSERT_TRUE(GuardsIntact(guarded)) << context << ": a write outside the record";
        SetupSettings expected = defaults;
        if (state.keyExists) {
            for (size_t i = 0; i < 20; ++i) {
                const GeneratedValue& value = state.values[i];
                ApplyStored(expected, kFields[i], value.present, value.type, value.data);
                readsStored += value.present && value.data.size() <= kFields[i].size;
            }
            EXPECT_EQ(0u, registry.CallCount(RegistryOp::Set)) << context;
        } else {
            ++firstRuns;
            EXPECT_EQ(16u, registry.ValueNames(HKEY_CURRENT_USER, SETTINGS_KEY_PATH).size()) << context;
        }
        EXPECT_TRUE(registry.OpenHandles().empty()) << context;
        ExpectSameSettings(expected, guarded.settings, context);
        EXPECT_LT(std::strlen(guarded.settings.deviceName), 40u) << context;
        EXPECT_LT(std::strlen(guarded.settings.providerName), 1024u) << context;
    }
    // The generator reaches both paths and plenty of successful reads.
    EXPECT_GT(firstRuns, kStates / 32);
    EXPECT_GT(readsStored, kStates * 4);
}

TEST_F(UntrustedStoreTest, RandomStatesInTheWindowsRegistry)
{
    std::mt19937 rng(kSeed ^ 0x5555);
    SetSettingsRegistry(nullptr);
    const SetupSettings defaults = StandardDefaults();
    const int kStates = 150;
    for (int iteration = 0; iteration < kStates && !HasFailure(); ++iteration) {
        const GeneratedState state = Generate(rng);
        DeleteSettingsKey();
        if (state.keyExists) {
            CreateSettingsKey();
            for (size_t i = 0; i < 20; ++i) {
                const GeneratedValue& value = state.values[i];
                if (value.present)
                    PutRealValue(kFields[i].name, value.type, value.data);
            }
        }
        // What an ANSI reader sees is the stored state: string data goes through the code page.
        const std::vector<RealValue> stored = ReadRealKey();

        GuardedSettings guarded;
        PrepareGuarded(guarded);
        LoadSettings(guarded.settings);

        const std::string context = "state " + std::to_string(iteration) + " of seed " + std::to_string(kSeed ^ 0x5555);
        ASSERT_TRUE(GuardsIntact(guarded)) << context << ": a write outside the record";
        SetupSettings expected = defaults;
        if (state.keyExists) {
            for (const FieldSpec& field : kFields) {
                const RealValue* value = FindReal(stored, field.name);
                ApplyStored(expected, field, value != nullptr, value ? value->type : 0,
                            value ? value->data : std::vector<BYTE>());
            }
            EXPECT_EQ(stored.size(), ReadRealKey().size()) << context << ": nothing is written";
        } else {
            EXPECT_EQ(16u, ReadRealKey().size()) << context;
        }
        ExpectSameSettings(expected, guarded.settings, context);
    }
}
