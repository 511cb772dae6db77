// Windows side of the settings tests: a settings store of the tests' own in the test prefix,
// raw registry access, keys made read-only for real access failures, and this test program run
// again as a second process.
#pragma once

#include "core/registry.h"
#include "core/settings_registry.h"
#include "link/tcp_link.h"
#include "protocol/session_support.h"

#include <windows.h>

#include <sddl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace dm::test {

// Never the product's keys. Wine has a configuration for every port from COM1 to COM9: these
// three stand for the ports of the machine.
inline SettingsStore TestStore()
{
    SettingsStore store;
    store.productKey = "SOFTWARE\\Quenzor\\Drovemark Tests";
    store.hideIconsKey = "SOFTWARE\\Quenzor\\Drovemark Test Icons";
    store.portPresent = [](const std::string& port) {
        return port == "COM1" || port == "COM2" || port == "COM4";
    };
    return store;
}

constexpr char kAllMayWrite[] = "D:(A;OICI;KA;;;WD)";
constexpr char kAllMayRead[] = "D:P(A;OICI;KR;;;WD)";
constexpr char kNobody[] = "D:P";

// The owner may always change the access list, even of a key it may not otherwise touch.
inline void SetAccess(const std::string& path, const char* sddl, HKEY root = HKEY_LOCAL_MACHINE)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    HKEY key = nullptr;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor,
                                                             nullptr) &&
        RegOpenKeyExA(root, path.c_str(), 0, WRITE_DAC | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS) {
        RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor);
        RegCloseKey(key);
    }
    LocalFree(descriptor);
}

// Also where a failed test left keys locked.
inline void ForceDeleteTree(HKEY root, const std::string& path)
{
    SetAccess(path, kAllMayWrite, root);
    std::vector<std::string> children;
    RegKey key;
    if (key.Open(root, path, KEY_READ) == ERROR_SUCCESS) {
        while (std::optional<std::string> child = SubkeyName(key.Get(), DWORD(children.size())))
            children.push_back(*child);
    }
    key.Close();
    for (const std::string& child : children)
        ForceDeleteTree(root, path + "\\" + child);
    RegDeleteKeyExA(root, path.c_str(), KEY_WOW64_64KEY, 0);
}

// Type and bytes exactly as stored, or none.
struct RawValue {
    DWORD type;
    std::string bytes;
    bool operator==(const RawValue&) const = default;
};

inline std::optional<RawValue> ReadRaw(const std::string& path, const char* name,
                                       HKEY root = HKEY_LOCAL_MACHINE)
{
    RegKey key;
    char data[1024];
    DWORD type = 0, size = sizeof data;
    if (key.Open(root, path, KEY_READ) != ERROR_SUCCESS ||
        RegQueryValueExA(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) !=
            ERROR_SUCCESS)
        return std::nullopt;
    return RawValue {type, std::string(data, size)};
}

inline void WriteRaw(const std::string& path, const char* name, DWORD type,
                     const std::string& bytes)
{
    RegKey key;
    ASSERT_EQ(key.Create(HKEY_LOCAL_MACHINE, path, KEY_ALL_ACCESS), ERROR_SUCCESS);
    RegSetValueExA(key.Get(), name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                   DWORD(bytes.size()));
}

inline std::string Dword(uint32_t value)
{
    return std::string(reinterpret_cast<const char*>(&value), 4);
}

inline std::string UniqueName(const std::string& tag)
{
    return "DrovemarkTest-" + std::to_string(GetCurrentProcessId()) + "-" + tag;
}

constexpr char kChildSwitch[] = "--child";

// This program again, as `--child ARGS...`.
inline HANDLE StartChild(const std::vector<std::string>& args)
{
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string command = std::string("\"") + self + "\" " + kChildSwitch;
    for (const std::string& arg : args)
        command += " \"" + arg + "\"";
    STARTUPINFOA startup {sizeof startup};
    PROCESS_INFORMATION process {};
    if (!CreateProcessA(self, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return nullptr;
    CloseHandle(process.hThread);
    return process.hProcess;
}

// The exit code of the process, -1 when it did not end within 20 s.
inline int ExitCodeOf(HANDLE process)
{
    DWORD code = DWORD(-1);
    if (!process || WaitForSingleObject(process, 20000) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process, &code))
        code = DWORD(-1);
    if (process)
        CloseHandle(process);
    return int(code);
}

int RunChildRole(const std::vector<std::string>& args);

// Each test starts from an empty store of its own and leaves nothing behind; the first-run
// message stays away unless a test asks for it.
class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TearDown();
        SharedSection().firstRunShown = 1;
        ASSERT_TRUE(StartSockets());
    }
    void TearDown() override
    {
        ForceDeleteTree(HKEY_LOCAL_MACHINE, store_.productKey);
        ForceDeleteTree(HKEY_CURRENT_USER, store_.hideIconsKey);
        ForceDeleteTree(HKEY_LOCAL_MACHINE, store_.hideIconsKey);
    }
    std::string Key(const std::string& below = {}) const
    {
        return store_.SettingsKey() + (below.empty() ? "" : "\\" + below);
    }

    SettingsStore store_ = TestStore();
    SharedSectionGuard shared_;
};

}  // namespace dm::test
