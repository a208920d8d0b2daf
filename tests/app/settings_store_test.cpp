// LoadSettings, ReadStoredSettings and SaveSettings against a model of the documented passes: in
// the Windows registry of the test prefix, in the in-memory registry with each single open,
// create, query and set refused in turn, and on seeded random keys that any program could write.
#include "app/memory_registry.h"
#include "app/registry.h"
#include "settings_test_support.h"

#include <random>

using namespace settings_test;

namespace {

// The documented passes with call `failing` of `failOp` refused: the calls, record and key.
struct Model {
    RegistryOp failOp;
    unsigned failing;
    SetupSettings record;
    RealKey key;
    std::vector<unsigned> counts = std::vector<unsigned>(5);

    bool Call(RegistryOp op) { return !(++counts[int(op)] == failing && op == failOp); }
    void WritePass(const Names& names, const SetupSettings& from)
    {
        if (!Call(RegistryOp::Create))
            return;
        for (const std::string& name : names) {
            RealValue value{Field(name).type, FieldBytes(from, Field(name))};
            if (value.type == REG_SZ) // a text goes out terminated, whatever the field holds
                value.data.back() = 0;
            if (Call(RegistryOp::Set))
                key[name] = value;
        }
        Call(RegistryOp::Close);
    }
    void ReadPass(const Names& names)
    {
        if (!Call(RegistryOp::Open))
            return;
        for (const std::string& name : names) {
            const StoredField& field = Field(name);
            BYTE* target = reinterpret_cast<BYTE*>(&record) + field.offset;
            auto stored = key.find(name);
            if (Call(RegistryOp::Query) && stored != key.end() && stored->second.data.size() <= field.size) {
                // Bytes past the data keep theirs; an ANSI read of string data adds a missing
                // terminator where there is room; a text field always ends in zero.
                const std::vector<BYTE>& data = stored->second.data;
                const DWORD type = stored->second.type;
                std::memcpy(target, data.data(), data.size());
                if ((type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ) && !data.empty() &&
                    data.size() < field.size && data.back() != 0)
                    target[data.size()] = 0;
                if (field.type == REG_SZ)
                    target[field.size - 1] = 0;
            } else if (field.fallback >= 0) {
                std::memcpy(target, &field.fallback, 4);
            }
        }
        Call(RegistryOp::Close);
    }
};

enum class Run { Load, ReadOverSentinels, Save };

// Every field differs from its default and from its fallback; both texts fill their fields.
const SetupSettings kDistinct = [] {
    SetupSettings s;
    std::memset(&s, 'Q', sizeof s);
    return s;
}();

RealKey Values(const SetupSettings& from, std::vector<Names> passes)
{
    RealKey key{{"OTHER", RealValue{REG_DWORD, Dword(0x01020304)}}};
    for (const Names& names : passes) {
        for (const std::string& name : names)
            key[name] = RealValue{Field(name).type, FieldBytes(from, Field(name))};
    }
    return key;
}

struct Case {
    const char* what;
    Run run;
    bool keyExists;
    RealKey key;
};

// Runs the case in `memory`, or in the Windows registry when it is null, and checks the calls,
// the record (never written outside) and the key against the model.
void Check(const Case& c, MemoryRegistry* memory, RegistryOp failOp, unsigned failing, const std::string& context)
{
    memory ? memory->FailCall(failOp, failing) : DeleteSettingsKey();
    if (c.keyExists)
        memory ? memory->AddKey(HKEY_CURRENT_USER, SETTINGS_KEY_PATH) : PutRealValue(nullptr, 0, {});
    for (const auto& [name, value] : c.key) {
        memory ? memory->PutValue(HKEY_CURRENT_USER, SETTINGS_KEY_PATH, name, value.type, value.data)
               : PutRealValue(name.c_str(), value.type, value.data);
    }
    auto contents = [memory] {
        if (memory == nullptr)
            return ReadRealKey();
        RealKey key;
        for (const std::string& name : memory->ValueNames(HKEY_CURRENT_USER, SETTINGS_KEY_PATH)) {
            const StoredValue* value = memory->FindValue(HKEY_CURRENT_USER, SETTINGS_KEY_PATH, name);
            key[name] = RealValue{value->type, value->data};
        }
        return key;
    };

    Model model{failOp, failing, {}, contents()};
    struct {
        BYTE before[64];
        SetupSettings settings;
        BYTE after[64];
    } guarded;
    std::memset(&guarded, 0xfd, sizeof guarded);
    std::memset(&guarded.settings, c.run == Run::ReadOverSentinels ? 0xa5 : 0, sizeof guarded.settings);
    model.record = guarded.settings;
    SetSettingsRegistry(memory);
    if (c.run == Run::Load) {
        LoadSettings(guarded.settings);
        model.record = StandardDefaults();
        // The probe alone decides: refused or absent, it is a first run.
        if (model.Call(RegistryOp::Open) && c.keyExists) {
            model.Call(RegistryOp::Close);
            model.ReadPass(kLoadPass1);
            model.ReadPass(kSoundPass);
        } else {
            model.WritePass(kFirstRunPass1, model.record);
            model.WritePass(kSoundPass, model.record);
        }
    } else if (c.run == Run::ReadOverSentinels) { // a failed read without a fallback keeps 0xa5
        ReadStoredSettings(guarded.settings);
        model.ReadPass(kLoadPass1);
        model.ReadPass(kSoundPass);
    } else {
        SaveSettings(kDistinct);
        model.WritePass(kSavePass1, kDistinct);
        model.WritePass(kSavePass2, kDistinct);
    }
    SetSettingsRegistry(nullptr);

    ASSERT_EQ(Hex(std::vector<BYTE>(64, 0xfd)), Hex({guarded.before, guarded.before + 64})) << context;
    ASSERT_EQ(Hex(std::vector<BYTE>(64, 0xfd)), Hex({guarded.after, guarded.after + 64})) << context;
    ExpectSameSettings(model.record, guarded.settings, context);
    EXPECT_EQ(model.key, contents()) << context;
    if (memory == nullptr)
        return;
    std::vector<unsigned> counts;
    for (RegistryOp op : {RegistryOp::Open, RegistryOp::Create, RegistryOp::Query, RegistryOp::Set, RegistryOp::Close})
        counts.push_back(memory->CallCount(op));
    EXPECT_EQ(model.counts, counts) << context << ": calls of open, create, query, set, close";
    // Only handles that a pass opened are used (with the access asked for) and closed, each once.
    for (const RegistryCall& call : memory->Calls()) {
        EXPECT_TRUE(call.injected || (call.result != ERROR_INVALID_HANDLE && call.result != ERROR_ACCESS_DENIED))
            << context << ": " << RegistryOpName(call.op) << " " << call.name << " returned " << call.result;
    }
    EXPECT_EQ(0u, memory->OpenHandleCount()) << context;
}

class SettingsStore : public ::testing::Test {
protected:
    void SetUp() override { FillStandardDevices(m_table); }
    void TearDown() override { DeleteSettingsKey(); }
    DeviceTable m_table;
};

// The stored format: REG_DWORD of 4 bytes, the texts at their widths 40 and 1024 with zero after
// the terminator, the GUIDs as 16-byte REG_BINARY. A first run leaves four values out, which a
// later run sets to 2, 2, 2 and 1; stored rows are taken unchecked; shorter data replaces the
// low bytes only, longer data is a failed read; values of other programs are left alone.
const Case kCases[] = {
    {"first run", Run::Load, false, {}},
    {"empty key", Run::Load, true, {}},
    {"later run", Run::Load, true, Values(kDistinct, {kFirstRunPass1, kSoundPass})},
    {"short and long data", Run::ReadOverSentinels, true,
     {{"WIDTH", {REG_SZ, {'1', 0}}}, {"HEIGHT", {REG_BINARY, {0x34, 0x12}}},
      {"BITPERPIXEL", {REG_BINARY, {1, 2, 3, 4, 5}}}, {"ISVOODOO", {REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0}}},
      {"SPRITEMODE", {REG_DWORD, {0, 0, 0, 0, 0}}}}},
    {"save", Run::Save, true, Values(StandardDefaults(), {kLoadPass1, kSoundPass})},
};

} // namespace

TEST_F(SettingsStore, WindowsRegistryHoldsTheDocumentedValues)
{
    for (const Case& c : kCases)
        Check(c, nullptr, RegistryOp::Close, 0, c.what);
}

TEST_F(SettingsStore, EverySingleFailingCallGivesTheDocumentedResult)
{
    for (const Case& c : kCases) {
        for (RegistryOp op : {RegistryOp::Open, RegistryOp::Create, RegistryOp::Query, RegistryOp::Set}) {
            // The last position of each operation is never reached: the clean run.
            bool reached = true;
            for (unsigned n = 1; reached; ++n) {
                MemoryRegistry registry;
                Check(c, &registry, op, n,
                      std::string(c.what) + " with " + RegistryOpName(op) + " #" + std::to_string(n) + " failing");
                reached = n <= registry.CallCount(op);
            }
        }
    }
}

TEST_F(SettingsStore, RandomKeysLoadIntoTheirFieldsOnly)
{
    static const DWORD kTypes[] = {REG_NONE, REG_SZ,       REG_EXPAND_SZ, REG_BINARY, REG_DWORD,
                                   REG_LINK, REG_MULTI_SZ, REG_QWORD,     0x12345678};
    constexpr uint32_t kSeed = 0x7a5e1c01;
    std::mt19937 rng(kSeed);
    for (int i = 0; i < 4000 && !HasFailure(); ++i) {
        // Each value missing or of any type, size and bytes: anything, no zero, mostly zero.
        Case c{"random", Run::Load, rng() % 16 != 0, {}};
        for (const StoredField& field : kFields) {
            if (!c.keyExists || rng() % 6 == 0)
                continue;
            RealValue& value = c.key[field.name];
            value.type = rng() % 3 == 0 ? field.type : kTypes[rng() % 9];
            const size_t width = field.size;
            const size_t sizes[] = {0, 1 + rng() % (width - 1), width, width, width - 1, width + 1,
                                    width + 1 + rng() % 64, rng() % 3000};
            value.data.resize(sizes[rng() % 8]);
            const unsigned pattern = rng() % 3;
            for (BYTE& b : value.data)
                b = pattern == 0 ? BYTE(rng()) : pattern == 1 ? BYTE(1 + rng() % 255) : rng() % 8 ? 0 : BYTE(rng());
        }
        MemoryRegistry registry;
        registry.SetScribbleOnMoreData(rng() % 2 == 0);
        Check(c, &registry, RegistryOp::Close, 0, "state " + std::to_string(i) + " of seed " + std::to_string(kSeed));
    }
}
