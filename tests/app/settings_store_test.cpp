// LoadSettings, ReadStoredSettings and SaveSettings against the in-memory registry, with every
// single registry call refused in turn: the calls made, in order with their value types and
// sizes, and the record and key left behind, against a model of the documented passes.
#include "app/memory_registry.h"
#include "app/registry.h"
#include "app/settings.h"
#include "app/settings_store.h"
#include "settings_test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

using namespace settings_test;

namespace {

const HKEY kRoot = HKEY_CURRENT_USER;
using Key = std::map<std::string, std::vector<BYTE>>;

std::string LogEntry(RegistryOp op, const std::string& name, DWORD type, DWORD size)
{
    std::string text = std::string(" ") + RegistryOpName(op);
    if (op == RegistryOp::Set)
        text += " " + name + " type " + std::to_string(type);
    if (op == RegistryOp::Query)
        text += " " + name;
    if (op == RegistryOp::Query || op == RegistryOp::Set)
        text += " size " + std::to_string(size);
    return text;
}

Key Contents(const MemoryRegistry& registry)
{
    Key key;
    for (const std::string& name : registry.ValueNames(kRoot, SETTINGS_KEY_PATH))
        key[name] = registry.FindValue(kRoot, SETTINGS_KEY_PATH, name)->data;
    return key;
}

// The documented passes with call `failing` of `failOp` refused: the calls they make and the
// record and key they must leave.
struct Model {
    RegistryOp failOp;
    unsigned failing;
    SetupSettings record;
    Key key;
    std::string log;
    unsigned counts[5] = {};

    bool Call(RegistryOp op, const std::string& name = "")
    {
        const StoredField* field = name.empty() ? nullptr : &Field(name);
        log += LogEntry(op, name, field ? field->type : 0, field ? DWORD(field->size) : 0);
        return !(++counts[int(op)] == failing && op == failOp);
    }
    void WritePass(const Names& names, const SetupSettings& from)
    {
        if (!Call(RegistryOp::Create))
            return;
        for (const std::string& name : names) {
            if (Call(RegistryOp::Set, name))
                key[name] = FieldBytes(from, Field(name));
        }
        Call(RegistryOp::Close);
    }
    void ReadPass(const Names& names)
    {
        if (!Call(RegistryOp::Open))
            return;
        for (const std::string& name : names) {
            const StoredField& field = Field(name);
            if (Call(RegistryOp::Query, name))
                std::memcpy(FieldPointer(record, field), key[name].data(), field.size);
            else if (field.fallback >= 0)
                std::memcpy(FieldPointer(record, field), &field.fallback, 4);
        }
        Call(RegistryOp::Close);
    }
};

enum class Scenario { FirstRun, LaterRun, ReadOverSentinels, Save };

void RunWithFault(Scenario run, RegistryOp failOp, unsigned failing, MemoryRegistry& registry, Model& model,
                  SetupSettings& settings)
{
    registry.FailCall(failOp, failing);
    model.failOp = failOp;
    model.failing = failing;
    std::memset(&settings, 0, sizeof settings);
    model.record = settings;
    if (run != Scenario::FirstRun) {
        for (const StoredField& field : kFields) {
            registry.PutValue(kRoot, SETTINGS_KEY_PATH, field.name, field.type,
                              FieldBytes(run == Scenario::Save ? StandardDefaults() : DistinctSettings(), field));
        }
    }
    model.key = Contents(registry);
    SetSettingsRegistry(&registry);
    switch (run) {
    case Scenario::FirstRun:
    case Scenario::LaterRun:
        LoadSettings(settings);
        model.record = StandardDefaults();
        // The probe alone decides: refused or absent, it is a first run.
        if (model.Call(RegistryOp::Open) && run == Scenario::LaterRun) {
            model.Call(RegistryOp::Close);
            model.ReadPass(kLoadPass1);
            model.ReadPass(kSoundPass);
        } else {
            model.WritePass(kFirstRunPass1, model.record);
            model.WritePass(kSoundPass, model.record);
        }
        break;
    case Scenario::ReadOverSentinels: // a failed read without a fallback keeps the 0xa5 bytes
        std::memset(&settings, 0xa5, sizeof settings);
        std::memset(&model.record, 0xa5, sizeof model.record);
        ReadStoredSettings(settings);
        model.ReadPass(kLoadPass1);
        model.ReadPass(kSoundPass);
        break;
    case Scenario::Save:
        SaveSettings(DistinctSettings());
        model.WritePass(kSavePass1, DistinctSettings());
        model.WritePass(kSavePass2, DistinctSettings());
        break;
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
        unsigned positions; // call positions of a clean run, and one more of each operation
    } runs[] = {{Scenario::FirstRun, "first run", 26}, {Scenario::LaterRun, "later run", 31},
                {Scenario::ReadOverSentinels, "reads", 29}, {Scenario::Save, "save", 29}};
    for (const auto& r : runs) {
        unsigned positions = 0;
        for (RegistryOp op : {RegistryOp::Open, RegistryOp::Create, RegistryOp::Query, RegistryOp::Set,
                              RegistryOp::Close}) {
            // The last position of each operation is never reached: the clean run.
            bool reached = true;
            for (unsigned n = 1; reached; ++n, ++positions) {
                MemoryRegistry registry;
                Model model;
                SetupSettings settings;
                RunWithFault(r.run, op, n, registry, model, settings);
                reached = n <= registry.CallCount(op);
                const std::string context = std::string(r.name) + " with " + RegistryOpName(op) + " #" +
                                            std::to_string(n) + " failing";
                std::string log;
                for (const RegistryCall& call : registry.Calls()) {
                    log += LogEntry(call.op, call.name, call.type, call.size);
                    // Only handles that a pass opened are used and closed, each once.
                    EXPECT_TRUE(call.injected || call.result == ERROR_SUCCESS || call.result == ERROR_FILE_NOT_FOUND)
                        << context << ": " << RegistryOpName(call.op) << " " << call.name << " returned "
                        << call.result;
                }
                EXPECT_EQ(model.log, log) << context;
                ExpectSameSettings(model.record, settings, context);
                EXPECT_EQ(model.key, Contents(registry)) << context;
                EXPECT_EQ(op == RegistryOp::Close && reached ? 1u : 0u, registry.OpenHandleCount()) << context;
            }
        }
        EXPECT_EQ(r.positions, positions) << r.name;
    }
    ResetModeChoiceTable();
}
