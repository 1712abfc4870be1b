// The registry as the health check reads and repairs it: every call names its hive, its key and
// the registry view (KEY_WOW64_32KEY or KEY_WOW64_64KEY, 0 for the program's own).
#pragma once

#include "healthcheck/policy.h"

#include <windows.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qvrcheck {

class RegKey {
public:
    RegKey() = default;
    ~RegKey() { Close(); }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    // ERROR_SUCCESS or the error of RegOpenKeyExW / RegCreateKeyExW.
    LONG Open(HKEY root, const std::wstring& path, REGSAM access, REGSAM view = 0);
    LONG Create(HKEY root, const std::wstring& path, REGSAM view = 0);
    HKEY get() const { return key_; }
    explicit operator bool() const { return key_ != nullptr; }

private:
    void Close();
    HKEY key_ = nullptr;
};

bool KeyExists(HKEY root, const std::wstring& path, REGSAM view = 0);
std::optional<RawValue> ReadValue(HKEY root, const std::wstring& path, const std::wstring& name, REGSAM view = 0);
// REG_SZ or REG_EXPAND_SZ (the latter expanded) as text.
std::optional<std::wstring> ReadText(HKEY root, const std::wstring& path, const std::wstring& name, REGSAM view = 0);
std::optional<DWORD> ReadDword(HKEY root, const std::wstring& path, const std::wstring& name, REGSAM view = 0);
// The names of a key's subkeys.
std::vector<std::wstring> SubKeys(HKEY root, const std::wstring& path, REGSAM view = 0);
// Every value of a key, by name.
std::vector<std::pair<std::wstring, RawValue>> ReadValues(HKEY root, const std::wstring& path, REGSAM view = 0);

std::wstring HiveName(HKEY root);
std::wstring ErrorText(LONG error);

}  // namespace qvrcheck
