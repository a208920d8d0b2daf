// Any program can write the settings key. Seeded random keys, each value missing or of any type,
// size and bytes, must load without writing outside the record, leaving every field at its
// default, its fallback or the stored bytes, with both texts terminated.
#include "app/memory_registry.h"
#include "app/registry.h"
#include "settings_test_support.h"

#include <random>

using namespace settings_test;

namespace {

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
        const unsigned pattern = rng() % 3;
        for (BYTE& b : value.data) // anything, no zero byte, mostly zero
            b = pattern == 0 ? BYTE(rng()) : pattern == 1 ? BYTE(1 + rng() % 255) : rng() % 8 ? 0 : BYTE(rng());
    }
    return state;
}

} // namespace

TEST(UntrustedStore, RandomKeysLoadIntoTheirFieldsOnly)
{
    DeviceTable table;
    FillStandardDevices(table);
    constexpr uint32_t kSeed = 0x7a5e1c01;
    std::mt19937 rng(kSeed);
    int firstRuns = 0, storedReads = 0;
    for (int i = 0; i < 4000 && !::testing::Test::HasFailure(); ++i) {
        const std::string context = "state " + std::to_string(i) + " of seed " + std::to_string(kSeed);
        const bool keyExists = rng() % 16 != 0;
        const RealKey state = Generate(rng);
        MemoryRegistry memory;
        memory.SetScribbleOnMoreData(rng() % 2 == 0);
        if (keyExists) {
            memory.AddKey(HKEY_CURRENT_USER, SETTINGS_KEY_PATH);
            for (const auto& value : state)
                memory.PutValue(HKEY_CURRENT_USER, SETTINGS_KEY_PATH, value.first, value.second.type, value.second.data);
        }
        struct {
            BYTE before[64];
            SetupSettings settings;
            BYTE after[64];
        } guarded;
        std::memset(&guarded, 0xfd, sizeof guarded);
        std::memset(&guarded.settings, 0, sizeof guarded.settings);
        SetSettingsRegistry(&memory);
        LoadSettings(guarded.settings);
        SetSettingsRegistry(nullptr);

        ASSERT_EQ(Hex(std::vector<BYTE>(64, 0xfd)), Hex({guarded.before, guarded.before + 64})) << context;
        ASSERT_EQ(Hex(std::vector<BYTE>(64, 0xfd)), Hex({guarded.after, guarded.after + 64})) << context;
        SetupSettings expected = StandardDefaults();
        for (const StoredField& field : kFields) {
            auto found = keyExists ? state.find(field.name) : state.end();
            BYTE* target = reinterpret_cast<BYTE*>(&expected) + field.offset;
            if (found != state.end() && found->second.data.size() <= field.size) {
                // An ANSI read of string data that lacks a terminator adds one if there is room.
                const std::vector<BYTE>& data = found->second.data;
                const DWORD type = found->second.type;
                std::memcpy(target, data.data(), data.size());
                if ((type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ) && !data.empty() &&
                    data.size() < field.size && data.back() != 0)
                    target[data.size()] = 0;
                if (field.type == REG_SZ)
                    target[field.size - 1] = 0;
                ++storedReads;
            } else if (keyExists && field.fallback >= 0) {
                std::memcpy(target, &field.fallback, 4);
            }
        }
        ExpectSameSettings(expected, guarded.settings, context);
        EXPECT_EQ(keyExists ? 0u : 16u, memory.CallCount(RegistryOp::Set)) << context << ": written at start-up";
        EXPECT_EQ(0u, memory.OpenHandleCount()) << context;
        firstRuns += !keyExists;
    }
    // The generator reaches both paths and plenty of successful reads.
    EXPECT_GT(firstRuns, 100);
    EXPECT_GT(storedReads, 16000);
}
