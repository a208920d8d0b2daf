// An in-memory registry with the semantics of the ANSI registry calls that the settings
// persistence relies on, a log of every call, and failures on demand. Lets the persistence run
// without a registry and be driven into every failure path.
#pragma once

#include "app/registry.h"

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

enum class RegistryOp { Open, Create, Query, Set, Close };
const char* RegistryOpName(RegistryOp op);

// One call as the caller made it, and what it got back.
struct RegistryCall {
    RegistryOp op;
    std::string name;    // Open/Create: the sub-key; Query/Set: the value name
    DWORD type;          // Set: the type sent
    DWORD size;          // Query: the buffer size passed; Set: the data size passed
    LONG result;
    bool injected;       // the failure was asked for with FailCall
};

struct StoredValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

// Keys are addressed by a predefined root and a sub-key path, compared without regard to case
// as the registry does; there is no hierarchy (creating a key does not create its parents).
// Values keep the order in which they were first set. A handle allows reads with
// KEY_QUERY_VALUE and writes with KEY_SET_VALUE in its access.
class MemoryRegistry final : public SettingsRegistry {
public:
    LONG OpenKey(HKEY root, const char* subKey, DWORD options, REGSAM access, HKEY* result) override;
    LONG CreateKey(HKEY root, const char* subKey, DWORD reserved, char* keyClass, DWORD options, REGSAM access,
                   const SECURITY_ATTRIBUTES* security, HKEY* result, DWORD* disposition) override;
    LONG QueryValue(HKEY key, const char* name, DWORD* reserved, DWORD* type, BYTE* data,
                    DWORD* dataSize) override;
    LONG SetValue(HKEY key, const char* name, DWORD reserved, DWORD type, const BYTE* data,
                  DWORD dataSize) override;
    LONG CloseKey(HKEY key) override;

    // The store, seen from outside the calls (nothing here is logged).
    void AddKey(HKEY root, const std::string& path);
    void PutValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
                  std::vector<BYTE> data);
    const StoredValue* FindValue(HKEY root, const std::string& path, const std::string& name) const;
    std::vector<std::string> ValueNames(HKEY root, const std::string& path) const;

    // Makes call number `callNumber` (from 1) of `op` fail with `error` and no effect.
    void FailCall(RegistryOp op, unsigned callNumber, LONG error = ERROR_ACCESS_DENIED);
    // When set, a read of a value too large for the buffer fills the whole buffer with 0xcc
    // (Windows leaves the buffer undefined then; Wine leaves it alone).
    void SetScribbleOnMoreData(bool scribble) { m_scribble = scribble; }

    const std::vector<RegistryCall>& Calls() const { return m_calls; }
    unsigned CallCount(RegistryOp op) const { return m_counts[static_cast<int>(op)]; }
    // Forgets the calls made so far; failures are counted afresh from here.
    void ClearLog()
    {
        m_calls.clear();
        for (unsigned& count : m_counts)
            count = 0;
    }
    // Handles returned by Open/Create and not closed yet.
    size_t OpenHandleCount() const { return m_handles.size(); }

private:
    using Key = std::vector<std::pair<std::string, StoredValue>>; // name as first set
    struct Handle {
        std::string keyId;
        REGSAM access;
    };

    static std::string KeyId(HKEY root, const std::string& path);
    const StoredValue* Find(const std::string& keyId, const std::string& name) const;
    StoredValue& Put(const std::string& keyId, const std::string& name);
    LONG Begin(RegistryOp op, const char* name, DWORD type, DWORD size);
    LONG Finish(LONG result);
    LONG OpenHandle(HKEY root, const char* subKey, REGSAM access, bool create, HKEY* result, DWORD* disposition);

    std::map<std::string, Key> m_keys;
    std::map<HKEY, Handle> m_handles;
    uintptr_t m_nextHandle = 0x7e10;
    std::vector<RegistryCall> m_calls;
    unsigned m_counts[5] = {};
    std::vector<std::pair<RegistryOp, unsigned>> m_failures;
    std::vector<LONG> m_failureCodes;
    bool m_scribble = false;
};
