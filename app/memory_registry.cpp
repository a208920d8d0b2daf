#include "app/memory_registry.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

std::string Upper(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

bool IsStringType(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

} // namespace

const char* RegistryOpName(RegistryOp op)
{
    static const char* const names[] = {"open", "create", "query", "set", "close"};
    return names[static_cast<int>(op)];
}

std::string MemoryRegistry::KeyId(HKEY root, const std::string& path)
{
    return std::to_string(reinterpret_cast<uintptr_t>(root)) + ":" + Upper(path);
}

const StoredValue* MemoryRegistry::Find(const std::string& keyId, const std::string& name) const
{
    auto key = m_keys.find(keyId);
    if (key == m_keys.end())
        return nullptr;
    for (const auto& entry : key->second) {
        if (Upper(entry.first) == Upper(name))
            return &entry.second;
    }
    return nullptr;
}

StoredValue& MemoryRegistry::Put(const std::string& keyId, const std::string& name)
{
    if (const StoredValue* value = Find(keyId, name))
        return const_cast<StoredValue&>(*value);
    Key& key = m_keys[keyId];
    key.emplace_back(name, StoredValue{});
    return key.back().second;
}

// Logs the call and returns the injected error for it, or ERROR_SUCCESS to go on.
LONG MemoryRegistry::Begin(RegistryOp op, const char* name, DWORD type, DWORD size)
{
    unsigned number = ++m_counts[static_cast<int>(op)];
    m_calls.push_back(RegistryCall{op, name != nullptr ? name : "", type, size, ERROR_SUCCESS, false});
    for (size_t i = 0; i < m_failures.size(); ++i) {
        if (m_failures[i] == std::make_pair(op, number)) {
            m_calls.back().injected = true;
            return m_calls.back().result = m_failureCodes[i];
        }
    }
    return ERROR_SUCCESS;
}

LONG MemoryRegistry::Finish(LONG result)
{
    return m_calls.back().result = result;
}

LONG MemoryRegistry::OpenHandle(HKEY root, const char* subKey, REGSAM access, bool create, HKEY* result,
                                DWORD* disposition)
{
    if (result != nullptr)
        *result = nullptr;
    if (LONG injected = Begin(create ? RegistryOp::Create : RegistryOp::Open, subKey, 0, 0))
        return injected;
    if (result == nullptr || subKey == nullptr)
        return Finish(ERROR_INVALID_PARAMETER);
    if (root != HKEY_CURRENT_USER && root != HKEY_LOCAL_MACHINE && root != HKEY_CLASSES_ROOT && root != HKEY_USERS)
        return Finish(ERROR_INVALID_HANDLE);
    const std::string id = KeyId(root, subKey);
    const bool existed = m_keys.count(id) != 0;
    if (!existed && !create)
        return Finish(ERROR_FILE_NOT_FOUND);
    m_keys[id];
    if (disposition != nullptr)
        *disposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    *result = reinterpret_cast<HKEY>(m_nextHandle);
    m_nextHandle += 4;
    m_handles[*result] = Handle{id, access};
    return Finish(ERROR_SUCCESS);
}

LONG MemoryRegistry::OpenKey(HKEY root, const char* subKey, DWORD, REGSAM access, HKEY* result)
{
    return OpenHandle(root, subKey, access, false, result, nullptr);
}

LONG MemoryRegistry::CreateKey(HKEY root, const char* subKey, DWORD, char*, DWORD, REGSAM access,
                               const SECURITY_ATTRIBUTES*, HKEY* result, DWORD* disposition)
{
    return OpenHandle(root, subKey, access, true, result, disposition);
}

LONG MemoryRegistry::QueryValue(HKEY key, const char* name, DWORD* reserved, DWORD* type, BYTE* data,
                                DWORD* dataSize)
{
    if (LONG injected = Begin(RegistryOp::Query, name, 0, dataSize != nullptr ? *dataSize : 0))
        return injected;
    if ((data != nullptr && dataSize == nullptr) || reserved != nullptr)
        return Finish(ERROR_INVALID_PARAMETER);
    auto handle = m_handles.find(key);
    if (handle == m_handles.end())
        return Finish(ERROR_INVALID_HANDLE);
    if ((handle->second.access & KEY_QUERY_VALUE) != KEY_QUERY_VALUE)
        return Finish(ERROR_ACCESS_DENIED);
    const StoredValue* value = Find(handle->second.keyId, name != nullptr ? name : "");
    if (value == nullptr)
        return Finish(ERROR_FILE_NOT_FOUND);

    // The type is reported, never examined; the data goes in only when it fits.
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
    return Finish(result);
}

LONG MemoryRegistry::SetValue(HKEY key, const char* name, DWORD, DWORD type, const BYTE* data, DWORD dataSize)
{
    if (LONG injected = Begin(RegistryOp::Set, name, type, dataSize))
        return injected;
    if (data == nullptr && dataSize != 0)
        return Finish(ERROR_NOACCESS);
    auto handle = m_handles.find(key);
    if (handle == m_handles.end())
        return Finish(ERROR_INVALID_HANDLE);
    if ((handle->second.access & KEY_SET_VALUE) != KEY_SET_VALUE)
        return Finish(ERROR_ACCESS_DENIED);
    StoredValue& value = Put(handle->second.keyId, name != nullptr ? name : "");
    value.type = type;
    value.data.assign(data, data + dataSize);
    return Finish(ERROR_SUCCESS);
}

LONG MemoryRegistry::CloseKey(HKEY key)
{
    if (LONG injected = Begin(RegistryOp::Close, nullptr, 0, 0))
        return injected;
    return Finish(m_handles.erase(key) == 0 ? ERROR_INVALID_HANDLE : ERROR_SUCCESS);
}

void MemoryRegistry::AddKey(HKEY root, const std::string& path)
{
    m_keys[KeyId(root, path)];
}

void MemoryRegistry::PutValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
                              std::vector<BYTE> data)
{
    StoredValue& value = Put(KeyId(root, path), name);
    value.type = type;
    value.data = std::move(data);
}

const StoredValue* MemoryRegistry::FindValue(HKEY root, const std::string& path, const std::string& name) const
{
    return Find(KeyId(root, path), name);
}

std::vector<std::string> MemoryRegistry::ValueNames(HKEY root, const std::string& path) const
{
    std::vector<std::string> names;
    auto key = m_keys.find(KeyId(root, path));
    if (key != m_keys.end()) {
        for (const auto& entry : key->second)
            names.push_back(entry.first);
    }
    return names;
}

void MemoryRegistry::FailCall(RegistryOp op, unsigned callNumber, LONG error)
{
    m_failures.emplace_back(op, callNumber);
    m_failureCodes.push_back(error);
}
