#include "app/memory_registry.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

std::string Upper(const std::string& text)
{
    std::string result = text;
    for (char& c : result)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return result;
}

bool IsStringType(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

} // namespace

const char* RegistryOpName(RegistryOp op)
{
    switch (op) {
    case RegistryOp::Open: return "open";
    case RegistryOp::Create: return "create";
    case RegistryOp::Query: return "query";
    case RegistryOp::Set: return "set";
    case RegistryOp::Close: return "close";
    }
    return "?";
}

MemoryRegistry::MemoryRegistry() : m_nextHandle(0x7e10), m_counts{}, m_scribble(false) {}

MemoryRegistry::~MemoryRegistry() = default;

std::string MemoryRegistry::KeyId(HKEY root, const std::string& path)
{
    return std::to_string(reinterpret_cast<uintptr_t>(root)) + ":" + Upper(path);
}

bool MemoryRegistry::IsPredefined(HKEY root)
{
    return root == HKEY_CURRENT_USER || root == HKEY_LOCAL_MACHINE || root == HKEY_CLASSES_ROOT ||
           root == HKEY_USERS;
}

MemoryRegistry::Key* MemoryRegistry::FindKey(const std::string& id)
{
    auto it = m_keys.find(id);
    return it == m_keys.end() ? nullptr : &it->second;
}

const MemoryRegistry::Key* MemoryRegistry::FindKey(const std::string& id) const
{
    auto it = m_keys.find(id);
    return it == m_keys.end() ? nullptr : &it->second;
}

StoredValue* MemoryRegistry::FindIn(Key& key, const std::string& name)
{
    const std::string wanted = Upper(name);
    for (auto& entry : key.values) {
        if (Upper(entry.first) == wanted)
            return &entry.second;
    }
    return nullptr;
}

bool MemoryRegistry::Injected(RegistryOp op, RegistryCall& call)
{
    unsigned number = ++m_counts[static_cast<int>(op)];
    for (size_t i = 0; i < m_failures.size(); ++i) {
        if (m_failures[i].first == op && m_failures[i].second == number) {
            call.injected = true;
            call.result = m_failureCodes[i];
            return true;
        }
    }
    return false;
}

LONG MemoryRegistry::Finish(RegistryCall& call, LONG result)
{
    call.result = result;
    m_calls.push_back(call);
    return result;
}

LONG MemoryRegistry::OpenKey(HKEY root, const char* subKey, DWORD options, REGSAM access, HKEY* result)
{
    RegistryCall call(RegistryOp::Open);
    call.key = root;
    call.name = subKey != nullptr ? subKey : "";
    call.options = options;
    call.access = access;
    if (result != nullptr)
        *result = nullptr;
    if (Injected(RegistryOp::Open, call))
        return Finish(call, call.result);
    if (result == nullptr)
        return Finish(call, ERROR_INVALID_PARAMETER);
    if (!IsPredefined(root))
        return Finish(call, ERROR_INVALID_HANDLE);
    const std::string id = KeyId(root, call.name);
    if (FindKey(id) == nullptr)
        return Finish(call, ERROR_FILE_NOT_FOUND);
    HKEY handle = reinterpret_cast<HKEY>(m_nextHandle);
    m_nextHandle += 4;
    m_handles[handle] = Handle{id, access};
    *result = handle;
    call.handle = handle;
    return Finish(call, ERROR_SUCCESS);
}

LONG MemoryRegistry::CreateKey(HKEY root, const char* subKey, DWORD reserved, char* keyClass, DWORD options,
                               REGSAM access, const SECURITY_ATTRIBUTES* security, HKEY* result,
                               DWORD* disposition)
{
    RegistryCall call(RegistryOp::Create);
    call.key = root;
    call.name = subKey != nullptr ? subKey : "";
    call.reserved = reserved;
    call.classGiven = keyClass != nullptr;
    call.securityGiven = security != nullptr;
    call.options = options;
    call.access = access;
    if (result != nullptr)
        *result = nullptr;
    if (Injected(RegistryOp::Create, call))
        return Finish(call, call.result);
    if (result == nullptr)
        return Finish(call, ERROR_INVALID_PARAMETER);
    if (!IsPredefined(root))
        return Finish(call, ERROR_INVALID_HANDLE);
    const std::string id = KeyId(root, call.name);
    const bool existed = FindKey(id) != nullptr;
    if (!existed)
        m_keys[id];
    if (disposition != nullptr)
        *disposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    HKEY handle = reinterpret_cast<HKEY>(m_nextHandle);
    m_nextHandle += 4;
    m_handles[handle] = Handle{id, access};
    *result = handle;
    call.handle = handle;
    return Finish(call, ERROR_SUCCESS);
}

LONG MemoryRegistry::QueryValue(HKEY key, const char* name, DWORD* reserved, DWORD* type, BYTE* data,
                                DWORD* dataSize)
{
    RegistryCall call(RegistryOp::Query);
    call.key = key;
    call.name = name != nullptr ? name : "";
    call.reserved = reserved != nullptr ? 1 : 0;
    call.typeRequested = type != nullptr;
    call.dataGiven = data != nullptr;
    call.size = dataSize != nullptr ? *dataSize : 0;
    if (Injected(RegistryOp::Query, call))
        return Finish(call, call.result);
    if ((data != nullptr && dataSize == nullptr) || reserved != nullptr)
        return Finish(call, ERROR_INVALID_PARAMETER);
    auto handle = m_handles.find(key);
    if (handle == m_handles.end())
        return Finish(call, ERROR_INVALID_HANDLE);
    if ((handle->second.access & KEY_QUERY_VALUE) != KEY_QUERY_VALUE)
        return Finish(call, ERROR_ACCESS_DENIED);
    Key* stored = FindKey(handle->second.keyId);
    const StoredValue* value = stored != nullptr ? FindIn(*stored, call.name) : nullptr;
    if (value == nullptr)
        return Finish(call, ERROR_FILE_NOT_FOUND);

    const DWORD size = static_cast<DWORD>(value->data.size());
    LONG result = ERROR_SUCCESS;
    if (data != nullptr) {
        if (size > *dataSize) {
            if (m_scribble)
                std::memset(data, 0xcc, *dataSize);
            result = ERROR_MORE_DATA;
        } else {
            std::copy(value->data.begin(), value->data.end(), data);
            // As the registry does: a string whose data lacks the terminator gets one after it
            // when the buffer has room.
            if (IsStringType(value->type) && size > 0 && size < *dataSize && data[size - 1] != 0)
                data[size] = 0;
        }
    }
    if (type != nullptr)
        *type = value->type;
    if (dataSize != nullptr)
        *dataSize = size;
    call.type = value->type;
    return Finish(call, result);
}

LONG MemoryRegistry::SetValue(HKEY key, const char* name, DWORD reserved, DWORD type, const BYTE* data,
                              DWORD dataSize)
{
    RegistryCall call(RegistryOp::Set);
    call.key = key;
    call.name = name != nullptr ? name : "";
    call.reserved = reserved;
    call.type = type;
    call.size = dataSize;
    call.dataGiven = data != nullptr;
    if (data != nullptr)
        call.data.assign(data, data + dataSize);
    // The registry would read the byte after the data to see whether a terminator follows.
    call.unterminatedText = IsStringType(type) && data != nullptr && dataSize > 0 && data[dataSize - 1] != 0;
    if (Injected(RegistryOp::Set, call))
        return Finish(call, call.result);
    if (data == nullptr && dataSize != 0)
        return Finish(call, ERROR_NOACCESS);
    auto handle = m_handles.find(key);
    if (handle == m_handles.end())
        return Finish(call, ERROR_INVALID_HANDLE);
    if ((handle->second.access & KEY_SET_VALUE) != KEY_SET_VALUE)
        return Finish(call, ERROR_ACCESS_DENIED);
    Key* stored = FindKey(handle->second.keyId);
    if (stored == nullptr)
        return Finish(call, ERROR_KEY_DELETED);
    StoredValue* value = FindIn(*stored, call.name);
    if (value == nullptr) {
        stored->values.emplace_back(call.name, StoredValue{});
        value = &stored->values.back().second;
    }
    value->type = type;
    value->data = call.data;
    return Finish(call, ERROR_SUCCESS);
}

LONG MemoryRegistry::CloseKey(HKEY key)
{
    RegistryCall call(RegistryOp::Close);
    call.key = key;
    if (Injected(RegistryOp::Close, call))
        return Finish(call, call.result);
    if (m_handles.erase(key) == 0)
        return Finish(call, ERROR_INVALID_HANDLE);
    return Finish(call, ERROR_SUCCESS);
}

bool MemoryRegistry::HasKey(HKEY root, const std::string& path) const
{
    return FindKey(KeyId(root, path)) != nullptr;
}

void MemoryRegistry::AddKey(HKEY root, const std::string& path)
{
    m_keys[KeyId(root, path)];
}

void MemoryRegistry::RemoveKey(HKEY root, const std::string& path)
{
    m_keys.erase(KeyId(root, path));
}

void MemoryRegistry::PutValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
                              std::vector<BYTE> data)
{
    Key& key = m_keys[KeyId(root, path)];
    StoredValue* value = FindIn(key, name);
    if (value == nullptr) {
        key.values.emplace_back(name, StoredValue{});
        value = &key.values.back().second;
    }
    value->type = type;
    value->data = std::move(data);
}

const StoredValue* MemoryRegistry::FindValue(HKEY root, const std::string& path, const std::string& name) const
{
    const Key* key = FindKey(KeyId(root, path));
    if (key == nullptr)
        return nullptr;
    const std::string wanted = Upper(name);
    for (const auto& entry : key->values) {
        if (Upper(entry.first) == wanted)
            return &entry.second;
    }
    return nullptr;
}

std::vector<std::string> MemoryRegistry::ValueNames(HKEY root, const std::string& path) const
{
    std::vector<std::string> names;
    if (const Key* key = FindKey(KeyId(root, path))) {
        for (const auto& entry : key->values)
            names.push_back(entry.first);
    }
    return names;
}

void MemoryRegistry::FailCall(RegistryOp op, unsigned callNumber, LONG error)
{
    m_failures.emplace_back(op, callNumber);
    m_failureCodes.push_back(error);
}

unsigned MemoryRegistry::CallCount(RegistryOp op) const
{
    return m_counts[static_cast<int>(op)];
}

void MemoryRegistry::ClearLog()
{
    m_calls.clear();
    std::fill(std::begin(m_counts), std::end(m_counts), 0u);
}

std::vector<HKEY> MemoryRegistry::OpenHandles() const
{
    std::vector<HKEY> handles;
    for (const auto& entry : m_handles)
        handles.push_back(entry.first);
    return handles;
}
