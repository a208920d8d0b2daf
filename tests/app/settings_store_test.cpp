// LoadSettings, ReadStoredSettings and SaveSettings against the in-memory registry with each
// single open, create, query and set refused in turn, against a model of the documented passes.
#include "app/memory_registry.h"
#include "app/registry.h"
#include "settings_test_support.h"

using namespace settings_test;

namespace {

RealKey Contents(const MemoryRegistry& registry)
{
    RealKey key;
    for (const std::string& name : registry.ValueNames(HKEY_CURRENT_USER, SETTINGS_KEY_PATH)) {
        const StoredValue* value = registry.FindValue(HKEY_CURRENT_USER, SETTINGS_KEY_PATH, name);
        key[name] = RealValue{value->type, value->data};
    }
    return key;
}

// The documented passes with call `failing` of `failOp` refused: the record and key they leave.
struct Model {
    RegistryOp failOp;
    unsigned failing;
    SetupSettings record{};
    RealKey key;
    unsigned counts[5] = {};

    bool Call(RegistryOp op) { return !(++counts[int(op)] == failing && op == failOp); }
    void WritePass(const Names& names, const SetupSettings& from)
    {
        if (!Call(RegistryOp::Create))
            return;
        for (const std::string& name : names) {
            if (Call(RegistryOp::Set))
                key[name] = RealValue{Field(name).type, FieldBytes(from, Field(name))};
        }
    }
    void ReadPass(const Names& names)
    {
        if (!Call(RegistryOp::Open))
            return;
        for (const std::string& name : names) {
            const StoredField& field = Field(name);
            BYTE* target = reinterpret_cast<BYTE*>(&record) + field.offset;
            if (Call(RegistryOp::Query))
                std::memcpy(target, key[name].data.data(), field.size);
            else if (field.fallback >= 0)
                std::memcpy(target, &field.fallback, 4);
        }
    }
};

enum class Scenario { FirstRun, LaterRun, ReadOverSentinels, Save };

void RunWithFault(Scenario run, MemoryRegistry& registry, Model& model, SetupSettings& settings)
{
    registry.FailCall(model.failOp, model.failing);
    std::memset(&settings, run == Scenario::ReadOverSentinels ? 0xa5 : 0, sizeof settings);
    model.record = settings;
    if (run != Scenario::FirstRun) {
        const SetupSettings stored = run == Scenario::Save ? StandardDefaults() : DistinctSettings();
        for (const StoredField& field : kFields)
            registry.PutValue(HKEY_CURRENT_USER, SETTINGS_KEY_PATH, field.name, field.type, FieldBytes(stored, field));
    }
    model.key = Contents(registry);
    SetSettingsRegistry(&registry);
    if (run == Scenario::FirstRun || run == Scenario::LaterRun) {
        LoadSettings(settings);
        model.record = StandardDefaults();
        // The probe alone decides: refused or absent, it is a first run.
        if (model.Call(RegistryOp::Open) && run == Scenario::LaterRun) {
            model.ReadPass(kLoadPass1);
            model.ReadPass(kSoundPass);
        } else {
            model.WritePass(kFirstRunPass1, model.record);
            model.WritePass(kSoundPass, model.record);
        }
    } else if (run == Scenario::ReadOverSentinels) { // a failed read without fallback keeps 0xa5
        ReadStoredSettings(settings);
        model.ReadPass(kLoadPass1);
        model.ReadPass(kSoundPass);
    } else {
        SaveSettings(DistinctSettings());
        model.WritePass(kSavePass1, DistinctSettings());
        model.WritePass(kSavePass2, DistinctSettings());
    }
    SetSettingsRegistry(nullptr);
}

} // namespace

TEST(SettingsStore, EverySingleFailingCallGivesTheDocumentedResult)
{
    DeviceTable table;
    FillStandardDevices(table);
    const struct {
        Scenario run;
        const char* name;
        unsigned positions; // calls of a clean run, and one more of each operation
    } runs[] = {{Scenario::FirstRun, "first run", 23}, {Scenario::LaterRun, "later run", 27},
                {Scenario::ReadOverSentinels, "reads", 26}, {Scenario::Save, "save", 26}};
    for (const auto& r : runs) {
        unsigned positions = 0;
        for (RegistryOp op : {RegistryOp::Open, RegistryOp::Create, RegistryOp::Query, RegistryOp::Set}) {
            // The last position of each operation is never reached: the clean run.
            bool reached = true;
            for (unsigned n = 1; reached; ++n, ++positions) {
                MemoryRegistry registry;
                Model model{op, n, {}, {}};
                SetupSettings settings;
                RunWithFault(r.run, registry, model, settings);
                reached = n <= registry.CallCount(op);
                const std::string context =
                    std::string(r.name) + " with " + RegistryOpName(op) + " #" + std::to_string(n) + " failing";
                // Only handles that a pass opened are used and closed.
                for (const RegistryCall& call : registry.Calls()) {
                    EXPECT_TRUE(call.injected || call.result == ERROR_SUCCESS || call.result == ERROR_FILE_NOT_FOUND)
                        << context << ": " << RegistryOpName(call.op) << " " << call.name << " returned " << call.result;
                }
                ExpectSameSettings(model.record, settings, context);
                EXPECT_EQ(model.key, Contents(registry)) << context;
                EXPECT_EQ(0u, registry.OpenHandleCount()) << context;
            }
        }
        EXPECT_EQ(r.positions, positions) << r.name;
    }
}
