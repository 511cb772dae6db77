#include "core/registry.h"

#include <algorithm>

namespace dm {

namespace {

constexpr DWORD kMaxKeyName = 260;

// Type and size of a value, without its data.
bool QueryShape(HKEY key, const char* name, DWORD& type, DWORD& size)
{
    size = 0;
    return RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS;
}

}  // namespace

RegKey& RegKey::operator=(RegKey&& other) noexcept
{
    if (this != &other) {
        Close();
        key_ = other.key_;
        other.key_ = nullptr;
    }
    return *this;
}

LONG RegKey::Open(HKEY parent, const std::string& path, REGSAM access)
{
    Close();
    return RegOpenKeyExA(parent, path.c_str(), 0, access | KEY_WOW64_64KEY, &key_);
}

LONG RegKey::Create(HKEY parent, const std::string& path, REGSAM access)
{
    Close();
    DWORD disposition = 0;
    return RegCreateKeyExA(parent, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                           access | KEY_WOW64_64KEY, nullptr, &key_, &disposition);
}

void RegKey::Close()
{
    if (key_)
        RegCloseKey(key_);
    key_ = nullptr;
}

std::optional<DWORD> ReadDword(HKEY key, const char* name)
{
    DWORD type = 0, value = 0, size = sizeof value;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof value)
        return std::nullopt;
    return value;
}

std::optional<std::string> ReadString(HKEY key, const char* name, size_t capacity)
{
    if (capacity == 0)
        return std::nullopt;
    // One byte more than allowed, so that an over-long value shows as one.
    std::vector<char> buffer(capacity + 1);
    DWORD type = 0, size = DWORD(buffer.size());
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                         &size) != ERROR_SUCCESS ||
        type != REG_SZ || size > buffer.size())
        return std::nullopt;
    const auto end = std::find(buffer.begin(), buffer.begin() + size, '\0');
    std::string text(buffer.begin(), end);
    if (text.size() >= capacity)
        return std::nullopt;
    return text;
}

std::optional<std::vector<BYTE>> ReadBinary(HKEY key, const char* name, DWORD size)
{
    DWORD type = 0, stored = 0;
    if (!QueryShape(key, name, type, stored) || type != REG_BINARY || stored != size)
        return std::nullopt;
    // The value may change between the two calls: check again what was read.
    std::vector<BYTE> data(size ? size : 1);
    DWORD read = DWORD(data.size());
    if (RegQueryValueExA(key, name, nullptr, &type, data.data(), &read) != ERROR_SUCCESS ||
        type != REG_BINARY || read != size)
        return std::nullopt;
    data.resize(size);
    return data;
}

LONG WriteDword(HKEY key, const char* name, DWORD value)
{
    return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof value);
}

LONG WriteString(HKEY key, const char* name, const std::string& text)
{
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          DWORD(text.size() + 1));
}

LONG WriteBinary(HKEY key, const char* name, const void* data, DWORD size)
{
    return RegSetValueExA(key, name, 0, REG_BINARY, static_cast<const BYTE*>(data), size);
}

std::optional<std::string> SubkeyName(HKEY key, DWORD index)
{
    char name[kMaxKeyName + 1];
    DWORD length = sizeof name;
    if (RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
        return std::nullopt;
    return std::string(name, std::min<DWORD>(length, kMaxKeyName));
}

LONG DeleteKeyTree(HKEY parent, const std::string& path)
{
    RegKey key;
    LONG result = key.Open(parent, path, KEY_READ | KEY_WRITE | DELETE);
    if (result == ERROR_FILE_NOT_FOUND)
        return ERROR_SUCCESS;
    if (result != ERROR_SUCCESS)
        return result;
    // Always the first subkey: each deletion shifts the rest down.
    while (std::optional<std::string> child = SubkeyName(key.Get(), 0)) {
        result = DeleteKeyTree(key.Get(), *child);
        if (result != ERROR_SUCCESS)
            return result;
    }
    key.Close();
    return RegDeleteKeyExA(parent, path.c_str(), KEY_WOW64_64KEY, 0);
}

LONG CopyKeyTree(HKEY from, HKEY to, bool topValues)
{
    if (topValues) {
        DWORD count = 0, longestName = 0, largest = 0;
        LONG result = RegQueryInfoKeyA(from, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                       &count, &longestName, &largest, nullptr, nullptr);
        if (result != ERROR_SUCCESS)
            return result;
        std::vector<char> name(longestName + 1);
        std::vector<BYTE> data(std::max<DWORD>(largest, 1));
        for (DWORD i = 0; i < count; ++i) {
            DWORD nameLength = DWORD(name.size()), type = 0, size = DWORD(data.size());
            result = RegEnumValueA(from, i, name.data(), &nameLength, nullptr, &type, data.data(),
                                   &size);
            if (result == ERROR_SUCCESS)
                result = RegSetValueExA(to, name.data(), 0, type, data.data(), size);
            if (result != ERROR_SUCCESS)
                return result;
        }
    }
    for (DWORD i = 0;; ++i) {
        const std::optional<std::string> child = SubkeyName(from, i);
        if (!child)
            break;
        RegKey source, target;
        LONG result = source.Open(from, *child, KEY_READ);
        if (result == ERROR_SUCCESS)
            result = target.Create(to, *child, KEY_ALL_ACCESS);
        if (result == ERROR_SUCCESS)
            result = CopyKeyTree(source.Get(), target.Get(), true);
        if (result != ERROR_SUCCESS)
            return result;
    }
    return ERROR_SUCCESS;
}

namespace {

std::optional<std::vector<RegistrySnapshot::Value>> ReadValues(HKEY key)
{
    DWORD count = 0, longestName = 0, largest = 0;
    if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count,
                         &longestName, &largest, nullptr, nullptr) != ERROR_SUCCESS)
        return std::nullopt;
    std::vector<RegistrySnapshot::Value> values;
    std::vector<char> name(longestName + 1);
    for (DWORD i = 0; i < count; ++i) {
        RegistrySnapshot::Value value;
        value.data.resize(std::max<DWORD>(largest, 1));
        DWORD nameLength = DWORD(name.size()), size = DWORD(value.data.size());
        if (RegEnumValueA(key, i, name.data(), &nameLength, nullptr, &value.type,
                          value.data.data(), &size) != ERROR_SUCCESS)
            return std::nullopt;
        value.name.assign(name.data(), nameLength);
        value.data.resize(size);
        values.push_back(std::move(value));
    }
    return values;
}

bool HoldsValue(const std::vector<RegistrySnapshot::Value>& values, const std::string& name)
{
    for (const RegistrySnapshot::Value& value : values) {
        if (value.name == name)
            return true;
    }
    return false;
}

}  // namespace

std::optional<RegistrySnapshot> TakeRegistrySnapshot(HKEY parent, const std::string& path)
{
    RegistrySnapshot snapshot;
    RegKey key;
    const LONG opened = key.Open(parent, path, KEY_READ);
    if (opened == ERROR_FILE_NOT_FOUND)
        return snapshot;
    if (opened != ERROR_SUCCESS)
        return std::nullopt;
    snapshot.existed = true;
    std::optional<std::vector<RegistrySnapshot::Value>> values = ReadValues(key.Get());
    if (!values)
        return std::nullopt;
    snapshot.values = std::move(*values);
    for (DWORD i = 0;; ++i) {
        const std::optional<std::string> child = SubkeyName(key.Get(), i);
        if (!child)
            break;
        std::optional<RegistrySnapshot> below = TakeRegistrySnapshot(key.Get(), *child);
        if (!below)
            return std::nullopt;
        snapshot.subkeyNames.push_back(*child);
        snapshot.subkeys.push_back(std::move(*below));
    }
    return snapshot;
}

LONG RestoreRegistrySnapshot(HKEY parent, const std::string& path,
                             const RegistrySnapshot& snapshot)
{
    if (!snapshot.existed)
        return DeleteKeyTree(parent, path);
    RegKey key;
    LONG first = key.Create(parent, path, KEY_ALL_ACCESS);
    if (first != ERROR_SUCCESS)
        return first;
    auto note = [&first](LONG result) {
        if (first == ERROR_SUCCESS)
            first = result;
    };
    if (std::optional<std::vector<RegistrySnapshot::Value>> now = ReadValues(key.Get())) {
        for (const RegistrySnapshot::Value& value : *now) {
            if (!HoldsValue(snapshot.values, value.name))
                note(RegDeleteValueA(key.Get(), value.name.c_str()));
        }
    }
    for (const RegistrySnapshot::Value& value : snapshot.values)
        note(RegSetValueExA(key.Get(), value.name.c_str(), 0, value.type, value.data.data(),
                            DWORD(value.data.size())));
    std::vector<std::string> added;
    for (DWORD i = 0;; ++i) {
        const std::optional<std::string> child = SubkeyName(key.Get(), i);
        if (!child)
            break;
        if (std::find(snapshot.subkeyNames.begin(), snapshot.subkeyNames.end(), *child) ==
            snapshot.subkeyNames.end())
            added.push_back(*child);
    }
    for (const std::string& child : added)
        note(DeleteKeyTree(key.Get(), child));
    for (size_t i = 0; i < snapshot.subkeys.size(); ++i)
        note(RestoreRegistrySnapshot(key.Get(), snapshot.subkeyNames[i], snapshot.subkeys[i]));
    return first;
}

}  // namespace dm
