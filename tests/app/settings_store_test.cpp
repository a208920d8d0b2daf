// LoadSettings and SaveSettings against the in-memory registry: the calls they make, what they
// store and read, and what every single failing registry call leaves behind.
#include "app/memory_registry.h"
#include "app/registry.h"
#include "app/settings.h"
#include "app/settings_store.h"
#include "settings_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

using namespace settings_test;

namespace {

const HKEY kRoot = HKEY_CURRENT_USER;

void PutFields(MemoryRegistry& registry, const SetupSettings& settings, const std::vector<std::string>& names)
{
    for (const std::string& name : names) {
        const FieldSpec& field = Field(name);
        registry.PutValue(kRoot, SETTINGS_KEY_PATH, name, field.type, FieldBytes(settings, field));
    }
}

const std::vector<std::string> kAllNames = Concat(kLoadPass1, kLoadPass2);

// Every handle that an open or create returned is closed exactly once, after it was opened;
// nothing else is closed, queried or written; no call was refused except on request.
void ExpectCleanCallLog(const MemoryRegistry& registry, const std::string& context)
{
    std::set<HKEY> open;
    std::set<HKEY> closed;
    for (size_t i = 0; i < registry.Calls().size(); ++i) {
        const RegistryCall& call = registry.Calls()[i];
        const std::string where = context + ", call " + std::to_string(i) + " (" + RegistryOpName(call.op) + ")";
        if (!call.injected) {
            EXPECT_NE(ERROR_INVALID_HANDLE, call.result) << where;
            EXPECT_NE(ERROR_ACCESS_DENIED, call.result) << where;
            EXPECT_NE(ERROR_INVALID_PARAMETER, call.result) << where;
        }
        switch (call.op) {
        case RegistryOp::Open:
        case RegistryOp::Create:
            EXPECT_EQ(kRoot, call.key) << where;
            EXPECT_STREQ(SETTINGS_KEY_PATH, call.name.c_str()) << where;
            if (call.result == ERROR_SUCCESS)
                open.insert(call.handle);
            break;
        case RegistryOp::Query:
        case RegistryOp::Set:
            EXPECT_EQ(1u, open.count(call.key)) << where << ": handle not open";
            break;
        case RegistryOp::Close:
            EXPECT_EQ(1u, open.count(call.key)) << where << ": closes a handle that is not open";
            EXPECT_EQ(0u, closed.count(call.key)) << where << ": closed twice";
            open.erase(call.key);
            closed.insert(call.key);
            break;
        }
    }
    EXPECT_TRUE(open.empty()) << context << ": " << open.size() << " handle(s) left open";
    // A refused close leaves its handle with the store; the caller cannot do more.
    const bool closeRefused = std::any_of(registry.Calls().begin(), registry.Calls().end(), [](const RegistryCall& c) {
        return c.op == RegistryOp::Close && c.injected;
    });
    if (!closeRefused) {
        EXPECT_TRUE(registry.OpenHandles().empty()) << context;
    }
}

std::vector<std::string> CallNames(const MemoryRegistry& registry, RegistryOp op)
{
    std::vector<std::string> names;
    for (const RegistryCall& call : registry.Calls()) {
        if (call.op == op)
            names.push_back(call.name);
    }
    return names;
}

// The operations of the log, as a compact string such as "open create set set close".
std::string OpSequence(const MemoryRegistry& registry)
{
    std::string text;
    for (const RegistryCall& call : registry.Calls()) {
        if (!text.empty())
            text += ' ';
        text += RegistryOpName(call.op);
    }
    return text;
}

std::string Repeat(const char* op, int times)
{
    std::string text;
    for (int i = 0; i < times; ++i) {
        text += ' ';
        text += op;
    }
    return text;
}

class SettingsStoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FillStandardDevices(m_table);
        ResetModeChoiceTable();
        SetSettingsRegistry(&m_registry);
        std::memset(&m_settings, 0, sizeof m_settings);
    }
    void TearDown() override
    {
        SetSettingsRegistry(nullptr);
        ResetModeChoiceTable();
    }

    void ExpectStoredField(const std::string& name, const SetupSettings& source)
    {
        const FieldSpec& field = Field(name);
        const StoredValue* value = m_registry.FindValue(kRoot, SETTINGS_KEY_PATH, name);
        ASSERT_NE(nullptr, value) << name << " is not stored";
        EXPECT_EQ(field.type, value->type) << name;
        EXPECT_EQ(FieldBytes(source, field), value->data) << name;
    }

    DeviceTable m_table;
    MemoryRegistry m_registry;
    SetupSettings m_settings;
};

} // namespace

TEST_F(SettingsStoreTest, FirstRunProbesThenWritesSixteenValuesInTwoPasses)
{
    LoadSettings(m_settings);

    ExpectSameSettings(StandardDefaults(), m_settings, "record after a first run");
    EXPECT_EQ("open create" + Repeat("set", 11) + " close create" + Repeat("set", 5) + " close",
              OpSequence(m_registry));
    const std::vector<RegistryCall>& calls = m_registry.Calls();
    ASSERT_EQ(21u, calls.size());
    EXPECT_EQ(0u, calls[0].options);
    EXPECT_EQ(static_cast<REGSAM>(KEY_QUERY_VALUE), calls[0].access);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, calls[0].result);
    for (size_t i : {size_t(1), size_t(14)}) {
        EXPECT_EQ(0u, calls[i].reserved) << i;
        EXPECT_FALSE(calls[i].classGiven) << i;
        EXPECT_EQ(static_cast<DWORD>(REG_OPTION_NON_VOLATILE), calls[i].options) << i;
        EXPECT_EQ(static_cast<REGSAM>(KEY_ALL_ACCESS), calls[i].access) << i;
        EXPECT_FALSE(calls[i].securityGiven) << i;
    }
    EXPECT_EQ(calls[1].handle, calls[13].key) << "pass 1 closes its own handle";
    EXPECT_EQ(calls[14].handle, calls[20].key) << "pass 2 closes its own handle";

    EXPECT_EQ(Concat(kFirstRunPass1, kFirstRunPass2), CallNames(m_registry, RegistryOp::Set));
    for (const RegistryCall& call : calls) {
        if (call.op != RegistryOp::Set)
            continue;
        const FieldSpec& field = Field(call.name);
        EXPECT_EQ(field.type, call.type) << call.name;
        EXPECT_EQ(field.size, call.size) << call.name;
        EXPECT_EQ(0u, call.reserved) << call.name;
        EXPECT_FALSE(call.unterminatedText) << call.name;
    }
    EXPECT_EQ(Concat(kFirstRunPass1, kFirstRunPass2), m_registry.ValueNames(kRoot, SETTINGS_KEY_PATH));
    const SetupSettings defaults = StandardDefaults();
    for (const std::string& name : Concat(kFirstRunPass1, kFirstRunPass2))
        ExpectStoredField(name, defaults);
    // The exact bytes, not only "the same as the record".
    EXPECT_EQ(Text(kHardwareName, 40), m_registry.FindValue(kRoot, SETTINGS_KEY_PATH, "DEVICENAME")->data);
    EXPECT_EQ(Text("No Provider", 1024), m_registry.FindValue(kRoot, SETTINGS_KEY_PATH, "PROVIDERNAME")->data);
    EXPECT_EQ(Dword(640), m_registry.FindValue(kRoot, SETTINGS_KEY_PATH, "WIDTH")->data);
    ExpectCleanCallLog(m_registry, "first run");
}

TEST_F(SettingsStoreTest, LaterRunReadsEveryValueWithItsFieldWidth)
{
    const SetupSettings stored = DistinctSettings();
    PutFields(m_registry, stored, kAllNames);

    LoadSettings(m_settings);

    ExpectSameSettings(stored, m_settings, "record after a later run");
    EXPECT_EQ("open close open" + Repeat("query", 15) + " close open" + Repeat("query", 5) + " close",
              OpSequence(m_registry));
    EXPECT_EQ(Concat(kLoadPass1, kLoadPass2), CallNames(m_registry, RegistryOp::Query));
    for (const RegistryCall& call : m_registry.Calls()) {
        if (call.op == RegistryOp::Open) {
            EXPECT_EQ(static_cast<REGSAM>(KEY_QUERY_VALUE), call.access);
            EXPECT_EQ(0u, call.options);
        }
        if (call.op == RegistryOp::Query) {
            EXPECT_EQ(Field(call.name).size, call.size) << call.name;
            EXPECT_TRUE(call.dataGiven) << call.name;
            EXPECT_EQ(0u, call.reserved) << call.name;
        }
    }
    const std::vector<RegistryCall>& calls = m_registry.Calls();
    EXPECT_EQ(calls[0].handle, calls[1].key) << "the probe closes its handle at once";
    ExpectCleanCallLog(m_registry, "later run");
}

TEST_F(SettingsStoreTest, LoadWithoutArgumentsFillsTheGlobalRecord)
{
    const SetupSettings stored = DistinctSettings();
    PutFields(m_registry, stored, kAllNames);
    std::memset(&g_setupSettings, 0, sizeof g_setupSettings);
    LoadSettings();
    ExpectSameSettings(stored, g_setupSettings, "global record");

    g_setupSettings.fog = 1;
    g_setupSettings.width = 1600;
    SaveSettings();
    EXPECT_EQ(Dword(1), m_registry.FindValue(kRoot, SETTINGS_KEY_PATH, "FOG")->data);
    EXPECT_EQ(Dword(1600), m_registry.FindValue(kRoot, SETTINGS_KEY_PATH, "WIDTH")->data);
    std::memset(&g_setupSettings, 0, sizeof g_setupSettings);
}

TEST_F(SettingsStoreTest, SaveWritesTwentyValuesInTwoPassesAndLeavesOthersAlone)
{
    m_registry.PutValue(kRoot, SETTINGS_KEY_PATH, "OTHER", REG_SZ, {'k', 'e', 'e', 'p', 0});
    const SetupSettings record = DistinctSettings();
    SaveSettings(record);

    EXPECT_EQ("create" + Repeat("set", 14) + " close create" + Repeat("set", 6) + " close", OpSequence(m_registry));
    EXPECT_EQ(Concat(kSavePass1, kSavePass2), CallNames(m_registry, RegistryOp::Set));
    for (const RegistryCall& call : m_registry.Calls()) {
        if (call.op == RegistryOp::Create) {
            EXPECT_EQ(static_cast<REGSAM>(KEY_ALL_ACCESS), call.access);
            EXPECT_EQ(0u, call.reserved);
            EXPECT_FALSE(call.classGiven);
            EXPECT_FALSE(call.securityGiven);
        }
        if (call.op == RegistryOp::Set) {
            const FieldSpec& field = Field(call.name);
            EXPECT_EQ(field.type, call.type) << call.name;
            EXPECT_EQ(field.size, call.size) << call.name;
            EXPECT_EQ(FieldBytes(record, field), call.data) << call.name;
        }
    }
    for (const std::string& name : kAllNames)
        ExpectStoredField(name, record);
    const StoredValue* other = m_registry.FindValue(kRoot, SETTINGS_KEY_PATH, "OTHER");
    ASSERT_NE(nullptr, other);
    EXPECT_EQ(std::vector<BYTE>({'k', 'e', 'e', 'p', 0}), other->data);
    EXPECT_EQ(21u, m_registry.ValueNames(kRoot, SETTINGS_KEY_PATH).size());
    ExpectCleanCallLog(m_registry, "save");
}

TEST_F(SettingsStoreTest, SaveAfterFirstRunRewritesTheSameDataAndAddsFourValues)
{
    LoadSettings(m_settings);
    std::map<std::string, std::vector<BYTE>> firstRun;
    for (const std::string& name : m_registry.ValueNames(kRoot, SETTINGS_KEY_PATH))
        firstRun[name] = m_registry.FindValue(kRoot, SETTINGS_KEY_PATH, name)->data;
    ASSERT_EQ(16u, firstRun.size());

    SaveSettings(m_settings);
    EXPECT_EQ(20u, m_registry.ValueNames(kRoot, SETTINGS_KEY_PATH).size());
    for (const auto& entry : firstRun)
        EXPECT_EQ(entry.second, m_registry.FindValue(kRoot, SETTINGS_KEY_PATH, entry.first)->data) << entry.first;
    EXPECT_EQ(Dword(2), m_registry.FindValue(kRoot, SETTINGS_KEY_PATH, "SPRITEMODE")->data);
    EXPECT_EQ(Dword(2), m_registry.FindValue(kRoot, SETTINGS_KEY_PATH, "TEXTUREMODE")->data);
    EXPECT_EQ(Dword(2), m_registry.FindValue(kRoot, SETTINGS_KEY_PATH, "NUMSAMPLETYPE")->data);
    EXPECT_EQ(Dword(1), m_registry.FindValue(kRoot, SETTINGS_KEY_PATH, "FOG")->data);
}

TEST_F(SettingsStoreTest, ValuesTooLargeLeaveFieldsIntactEvenWhenTheRegistryScribbles)
{
    m_registry.SetScribbleOnMoreData(true);
    for (const FieldSpec& field : kFields)
        m_registry.PutValue(kRoot, SETTINGS_KEY_PATH, field.name, field.type, std::vector<BYTE>(field.size + 1, 0x41));
    LoadSettings(m_settings);
    ExpectSameSettings(StandardDefaults(), m_settings, "every value one byte too large");
    ASSERT_EQ(20u, m_registry.CallCount(RegistryOp::Query));
    for (const RegistryCall& call : m_registry.Calls()) {
        if (call.op == RegistryOp::Query) {
            EXPECT_EQ(ERROR_MORE_DATA, call.result) << call.name;
        }
    }
}

// ---- every single failing call -------------------------------------------------------------

namespace {

struct Fault {
    RegistryOp op;
    unsigned callNumber;
};

std::string Describe(const Fault& fault)
{
    return std::string("failing ") + RegistryOpName(fault.op) + " #" + std::to_string(fault.callNumber);
}

const RegistryOp kAllOps[] = {RegistryOp::Open, RegistryOp::Create, RegistryOp::Query, RegistryOp::Set,
                              RegistryOp::Close};

// Every call position of every operation in a clean run, and one more.
template <typename Run>
std::vector<Fault> AllFaults(Run cleanRun)
{
    MemoryRegistry registry;
    cleanRun(registry);
    std::vector<Fault> faults;
    for (RegistryOp op : kAllOps) {
        for (unsigned n = 1; n <= registry.CallCount(op) + 1; ++n)
            faults.push_back(Fault{op, n});
    }
    return faults;
}

class FaultTest : public ::testing::Test {
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
    }

    DeviceTable m_table;
};

} // namespace

TEST_F(FaultTest, FirstRunWithEachCallFailing)
{
    auto run = [](MemoryRegistry& registry, SetupSettings& settings) {
        SetSettingsRegistry(&registry);
        LoadSettings(settings);
        SetSettingsRegistry(nullptr);
    };
    SetupSettings scratch{};
    const std::vector<Fault> faults = AllFaults([&](MemoryRegistry& r) { run(r, scratch); });
    ASSERT_EQ(1u + 2 + 0 + 16 + 2 + 5, faults.size());

    const SetupSettings defaults = StandardDefaults();
    for (const Fault& fault : faults) {
        MemoryRegistry registry;
        registry.FailCall(fault.op, fault.callNumber);
        SetupSettings settings;
        std::memset(&settings, 0, sizeof settings);
        run(registry, settings);
        const std::string context = Describe(fault);

        const bool pass1 = !(fault.op == RegistryOp::Create && fault.callNumber == 1);
        const bool pass2 = !(fault.op == RegistryOp::Create && fault.callNumber == 2);
        std::vector<std::string> expected;
        if (pass1)
            expected = kFirstRunPass1;
        if (pass2)
            expected = Concat(expected, kFirstRunPass2);
        if (fault.op == RegistryOp::Set && fault.callNumber <= expected.size())
            expected.erase(expected.begin() + (fault.callNumber - 1));

        ExpectSameSettings(defaults, settings, context);
        EXPECT_EQ(expected, registry.ValueNames(kRoot, SETTINGS_KEY_PATH)) << context;
        for (const std::string& name : expected) {
            const StoredValue* value = registry.FindValue(kRoot, SETTINGS_KEY_PATH, name);
            ASSERT_NE(nullptr, value) << context << ": " << name;
            EXPECT_EQ(FieldBytes(defaults, Field(name)), value->data) << context << ": " << name;
        }
        // The pass after a failed write still writes its other values, and the pass after a
        // failed create still runs.
        EXPECT_EQ(2u, registry.CallCount(RegistryOp::Create)) << context;
        EXPECT_EQ(1u, registry.CallCount(RegistryOp::Open)) << context;
        EXPECT_EQ(0u, registry.CallCount(RegistryOp::Query)) << context;
        EXPECT_EQ((pass1 ? 11u : 0u) + (pass2 ? 5u : 0u), registry.CallCount(RegistryOp::Set)) << context;
        EXPECT_EQ((pass1 ? 1u : 0u) + (pass2 ? 1u : 0u), registry.CallCount(RegistryOp::Close)) << context;
        ExpectCleanCallLog(registry, context);
    }
}

TEST_F(FaultTest, LaterRunWithEachCallFailing)
{
    const SetupSettings stored = DistinctSettings();
    auto run = [&](MemoryRegistry& registry, SetupSettings& settings) {
        PutFields(registry, stored, kAllNames);
        SetSettingsRegistry(&registry);
        LoadSettings(settings);
        SetSettingsRegistry(nullptr);
    };
    SetupSettings scratch{};
    const std::vector<Fault> faults = AllFaults([&](MemoryRegistry& r) { run(r, scratch); });
    ASSERT_EQ(4u + 1 + 21 + 1 + 4, faults.size());

    const SetupSettings defaults = StandardDefaults();
    for (const Fault& fault : faults) {
        MemoryRegistry registry;
        registry.FailCall(fault.op, fault.callNumber);
        SetupSettings settings;
        std::memset(&settings, 0, sizeof settings);
        run(registry, settings);
        const std::string context = Describe(fault);

        if (fault.op == RegistryOp::Open && fault.callNumber == 1) {
            // A refused probe is a first run, whatever the key holds: the defaults are written.
            ExpectSameSettings(defaults, settings, context);
            for (const std::string& name : kAllNames) {
                const bool written = std::count(kFirstRunPass1.begin(), kFirstRunPass1.end(), name) +
                                         std::count(kFirstRunPass2.begin(), kFirstRunPass2.end(), name) >
                                     0;
                EXPECT_EQ(FieldBytes(written ? defaults : stored, Field(name)),
                          registry.FindValue(kRoot, SETTINGS_KEY_PATH, name)->data)
                    << context << ": " << name;
            }
            EXPECT_EQ(16u, registry.CallCount(RegistryOp::Set)) << context;
            ExpectCleanCallLog(registry, context);
            continue;
        }

        const bool pass1 = !(fault.op == RegistryOp::Open && fault.callNumber == 2);
        const bool pass2 = !(fault.op == RegistryOp::Open && fault.callNumber == 3);
        SetupSettings expected = defaults;
        unsigned query = 0;
        auto read = [&](const std::vector<std::string>& names) {
            for (const std::string& name : names) {
                ++query;
                if (fault.op == RegistryOp::Query && fault.callNumber == query)
                    continue; // default, which equals the fallback where there is one
                const FieldSpec& field = Field(name);
                std::memcpy(FieldPointer(expected, field), FieldBytes(stored, field).data(), field.size);
            }
        };
        if (pass1)
            read(kLoadPass1);
        if (pass2)
            read(kLoadPass2);
        ExpectSameSettings(expected, settings, context);
        EXPECT_EQ(3u, registry.CallCount(RegistryOp::Open)) << context;
        EXPECT_EQ((pass1 ? 15u : 0u) + (pass2 ? 5u : 0u), registry.CallCount(RegistryOp::Query)) << context;
        EXPECT_EQ(0u, registry.CallCount(RegistryOp::Create)) << context;
        EXPECT_EQ(0u, registry.CallCount(RegistryOp::Set)) << context;
        ExpectCleanCallLog(registry, context);
    }
}

TEST_F(FaultTest, EachFailingReadGivesItsFallbackOrKeepsTheField)
{
    const SetupSettings stored = DistinctSettings();
    const std::vector<std::string> order = Concat(kLoadPass1, kLoadPass2);
    for (unsigned n = 1; n <= order.size(); ++n) {
        MemoryRegistry registry;
        PutFields(registry, stored, kAllNames);
        registry.FailCall(RegistryOp::Query, n, ERROR_FILE_NOT_FOUND);
        SetupSettings settings;
        std::memset(&settings, 0xa5, sizeof settings);
        SetSettingsRegistry(&registry);
        ReadStoredSettings(settings);
        SetSettingsRegistry(nullptr);

        SetupSettings expected = stored;
        const FieldSpec& failed = Field(order[n - 1]);
        if (failed.hasFallback)
            std::memcpy(FieldPointer(expected, failed), &failed.fallback, 4);
        else
            std::memset(FieldPointer(expected, failed), 0xa5, failed.size);
        ExpectSameSettings(expected, settings, "failing read of " + order[n - 1]);
    }
}

TEST_F(FaultTest, SaveWithEachCallFailing)
{
    const SetupSettings old = StandardDefaults();
    const SetupSettings record = DistinctSettings();
    auto run = [&](MemoryRegistry& registry) {
        PutFields(registry, old, kAllNames);
        SetSettingsRegistry(&registry);
        SaveSettings(record);
        SetSettingsRegistry(nullptr);
    };
    const std::vector<Fault> faults = AllFaults(run);
    ASSERT_EQ(1u + 3 + 1 + 21 + 3, faults.size());

    for (const Fault& fault : faults) {
        MemoryRegistry registry;
        registry.FailCall(fault.op, fault.callNumber);
        run(registry);
        const std::string context = Describe(fault);

        const bool pass1 = !(fault.op == RegistryOp::Create && fault.callNumber == 1);
        const bool pass2 = !(fault.op == RegistryOp::Create && fault.callNumber == 2);
        std::vector<std::string> written;
        if (pass1)
            written = kSavePass1;
        if (pass2)
            written = Concat(written, kSavePass2);
        if (fault.op == RegistryOp::Set && fault.callNumber <= written.size())
            written.erase(written.begin() + (fault.callNumber - 1));

        for (const std::string& name : kAllNames) {
            const bool isNew = std::find(written.begin(), written.end(), name) != written.end();
            EXPECT_EQ(FieldBytes(isNew ? record : old, Field(name)), registry.FindValue(kRoot, SETTINGS_KEY_PATH, name)->data)
                << context << ": " << name << (isNew ? " should be rewritten" : " should keep its old data");
        }
        EXPECT_EQ(2u, registry.CallCount(RegistryOp::Create)) << context;
        EXPECT_EQ((pass1 ? 14u : 0u) + (pass2 ? 6u : 0u), registry.CallCount(RegistryOp::Set)) << context;
        EXPECT_EQ(0u, registry.CallCount(RegistryOp::Open)) << context;
        ExpectCleanCallLog(registry, context);
    }
}

TEST_F(FaultTest, UncreatableKeyLeavesDefaultsAndNoKey)
{
    MemoryRegistry registry;
    registry.FailCall(RegistryOp::Create, 1);
    registry.FailCall(RegistryOp::Create, 2);
    SetupSettings settings{};
    SetSettingsRegistry(&registry);
    LoadSettings(settings);
    SetSettingsRegistry(nullptr);
    ExpectSameSettings(StandardDefaults(), settings, "both creates refused");
    EXPECT_FALSE(registry.HasKey(kRoot, SETTINGS_KEY_PATH));
    EXPECT_EQ("open create create", OpSequence(registry));
}
