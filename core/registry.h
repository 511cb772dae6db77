// Registry access that trusts nothing it reads: every value is checked for its type and size
// before use, and a value that does not fit reads as missing.
#pragma once

#ifdef _WIN32

#  include "core/platform.h"

#  include <cstddef>
#  include <optional>
#  include <string>
#  include <vector>

namespace dm {

// One open key, closed with its owner.
class RegKey {
public:
    RegKey() = default;
    ~RegKey() { Close(); }
    RegKey(RegKey&& other) noexcept : key_(other.key_) { other.key_ = nullptr; }
    RegKey& operator=(RegKey&& other) noexcept;
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;

    // Registry error codes; the key is closed first either way. Keys are always those of the
    // native (64-bit) view, so that a 32-bit module and the 64-bit programs share one set of
    // settings on 64-bit Windows.
    LONG Open(HKEY parent, const std::string& path, REGSAM access);
    LONG Create(HKEY parent, const std::string& path, REGSAM access);
    void Close();

    HKEY Get() const { return key_; }
    explicit operator bool() const { return key_ != nullptr; }

private:
    HKEY key_ = nullptr;
};

// A REG_DWORD of exactly four bytes.
std::optional<DWORD> ReadDword(HKEY key, const char* name);
// A REG_SZ whose text (up to its first NUL, the NUL itself optional) is shorter than
// `capacity` bytes, as in a char[capacity] field.
std::optional<std::string> ReadString(HKEY key, const char* name, size_t capacity);
// A REG_BINARY of exactly `size` bytes.
std::optional<std::vector<BYTE>> ReadBinary(HKEY key, const char* name, DWORD size);

LONG WriteDword(HKEY key, const char* name, DWORD value);
// Written with its terminating NUL.
LONG WriteString(HKEY key, const char* name, const std::string& text);
LONG WriteBinary(HKEY key, const char* name, const void* data, DWORD size);

// The name of subkey `index` (at most 260 characters), or none when enumeration ends or fails.
std::optional<std::string> SubkeyName(HKEY key, DWORD index);

// Deletes `path` below `parent` with everything under it, deepest first. A missing key is
// success.
LONG DeleteKeyTree(HKEY parent, const std::string& path);

// Copies the subkeys of `from` into `to`, recursively; values are copied at every level below
// the top and, with `topValues`, at the top as well. Stops at the first failure.
LONG CopyKeyTree(HKEY from, HKEY to, bool topValues);

// What a key and everything under it held, to put back when a change of several values breaks
// off half way.
struct RegistrySnapshot {
    struct Value {
        std::string name;
        DWORD type = 0;
        std::vector<BYTE> data;
    };
    bool existed = false;
    std::vector<Value> values;
    std::vector<std::string> subkeyNames;
    std::vector<RegistrySnapshot> subkeys;  // in the order of their names
};

// None when part of it cannot be read.
std::optional<RegistrySnapshot> TakeRegistrySnapshot(HKEY parent, const std::string& path);
// Writes the snapshot's values back and removes values and subkeys it did not have; goes on past
// keys it cannot change and returns the first failure.
LONG RestoreRegistrySnapshot(HKEY parent, const std::string& path,
                             const RegistrySnapshot& snapshot);

}  // namespace dm

#endif  // _WIN32
