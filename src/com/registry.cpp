#include "com/registry.h"

#include "com/error.h"

#include <cstring>

namespace qvr {

namespace {
[[noreturn]] void RaiseRegistry(const std::wstring& pattern, const std::wstring& name) {
    throw EqvrError(FormatText(pattern, {name}));
}
}  // namespace

void TRegistry::SetRootKey(HKEY root) {
    CloseKey();
    root_ = root;
}

std::wstring TRegistry::Resolve(const std::wstring& path) const {
    if (!path.empty() && path.front() == L'\\') return path.substr(1);
    if (path_.empty()) return path;
    if (path.empty()) return path_;
    return path_ + L'\\' + path;
}

bool TRegistry::OpenKey(const std::wstring& path, bool canCreate) {
    std::wstring full = Resolve(path);
    while (!full.empty() && full.back() == L'\\') full.pop_back();
    unique_hkey opened;
    LONG rc;
    if (canCreate)
        rc = RegCreateKeyExW(root_, full.c_str(), 0, nullptr, 0, access_, nullptr, opened.put(), nullptr);
    else
        rc = RegOpenKeyExW(root_, full.c_str(), 0, access_, opened.put());
    if (rc != ERROR_SUCCESS) return false;
    key_ = std::move(opened);
    path_ = full;
    return true;
}

bool TRegistry::OpenKeyReadOnly(const std::wstring& path) {
    REGSAM saved = access_;
    access_ = KEY_READ | (saved & (KEY_WOW64_32KEY | KEY_WOW64_64KEY));
    bool ok = OpenKey(path, false);
    access_ = saved;
    return ok;
}

void TRegistry::CloseKey() {
    key_.reset();
    path_.clear();
}

bool TRegistry::KeyExists(const std::wstring& path) const {
    unique_hkey probe;
    REGSAM view = access_ & (KEY_WOW64_32KEY | KEY_WOW64_64KEY);
    return RegOpenKeyExW(root_, Resolve(path).c_str(), 0, KEY_READ | view, probe.put()) == ERROR_SUCCESS;
}

bool TRegistry::DeleteKey(const std::wstring& path) {
    std::wstring full = Resolve(path);
    REGSAM view = access_ & (KEY_WOW64_32KEY | KEY_WOW64_64KEY);
    return RegDeleteKeyExW(root_, full.c_str(), view, 0) == ERROR_SUCCESS;
}

bool TRegistry::DeleteKeyTree(const std::wstring& path) {
    std::wstring full = Resolve(path);
    {
        unique_hkey key;
        if (RegOpenKeyExW(root_, full.c_str(), 0, access_, key.put()) != ERROR_SUCCESS) return false;
        std::vector<std::wstring> children;
        wchar_t name[256];
        for (DWORD i = 0;; ++i) {
            DWORD len = 256;
            if (RegEnumKeyExW(key.get(), i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
            children.emplace_back(name, len);
        }
        for (const auto& child : children) DeleteKeyTree(L"\\" + full + L"\\" + child);
    }
    return DeleteKey(L"\\" + full);
}

bool TRegistry::HasSubKeys() const {
    DWORD count = 0;
    return key_ && RegQueryInfoKeyW(key_.get(), nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr,
                                    nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
           count > 0;
}

std::vector<std::wstring> TRegistry::GetKeyNames() const {
    std::vector<std::wstring> names;
    wchar_t name[256];
    for (DWORD i = 0; key_; ++i) {
        DWORD len = 256;
        if (RegEnumKeyExW(key_.get(), i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, len);
    }
    return names;
}

std::vector<std::wstring> TRegistry::GetValueNames() const {
    std::vector<std::wstring> names;
    wchar_t name[16384];
    for (DWORD i = 0; key_; ++i) {
        DWORD len = 16384;
        if (RegEnumValueW(key_.get(), i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, len);
    }
    return names;
}

DWORD TRegistry::ValueType(const std::wstring& name) const {
    DWORD type = REG_NONE;
    if (!key_ || RegQueryValueExW(key_.get(), name.c_str(), nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS)
        return REG_NONE;
    return type;
}

bool TRegistry::ValueExists(const std::wstring& name) const {
    return key_ && RegQueryValueExW(key_.get(), name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

bool TRegistry::DeleteValue(const std::wstring& name) {
    return key_ && RegDeleteValueW(key_.get(), name.c_str()) == ERROR_SUCCESS;
}

bool TRegistry::ReadValue(const std::wstring& name, DWORD& type, std::vector<BYTE>& data) const {
    type = REG_NONE;
    data.assign(256, 0);
    // A value that grows between the size query and the read is asked for again.
    for (int attempt = 0; key_ && attempt < 4; ++attempt) {
        DWORD bytes = static_cast<DWORD>(data.size());
        const LONG rc = RegQueryValueExW(key_.get(), name.c_str(), nullptr, &type, data.data(), &bytes);
        if (rc == ERROR_SUCCESS) {
            data.resize(bytes);
            return true;
        }
        if (rc != ERROR_MORE_DATA) break;
        data.assign(bytes, 0);
    }
    type = REG_NONE;
    data.clear();
    return false;
}

std::wstring TRegistry::ReadString(const std::wstring& name) const {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    if (!ReadValue(name, type, data)) {
        if (!ValueExists(name)) return {};
        RaiseRegistry(L"Failed to get data for '%s'", name);
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ) RaiseRegistry(L"Invalid data type for '%s'", name);
    return RegistryText(data);
}

std::wstring RegistryText(const std::vector<BYTE>& data) {
    std::wstring text(data.size() / sizeof(wchar_t), L'\0');
    std::memcpy(text.data(), data.data(), text.size() * sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    return text;
}

int TRegistry::ReadInteger(const std::wstring& name) const {
    if (ValueType(name) != REG_DWORD) RaiseRegistry(L"Invalid data type for '%s'", name);
    DWORD value = 0, bytes = sizeof(value);
    RegQueryValueExW(key_.get(), name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &bytes);
    return static_cast<int>(value);
}

void TRegistry::WriteString(const std::wstring& name, const std::wstring& value) {
    if (!key_ || RegSetValueExW(key_.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) != ERROR_SUCCESS)
        RaiseRegistry(L"Failed to set data for '%s'", name);
}

void TRegistry::WriteExpandString(const std::wstring& name, const std::wstring& value) {
    if (!key_ || RegSetValueExW(key_.get(), name.c_str(), 0, REG_EXPAND_SZ,
                                reinterpret_cast<const BYTE*>(value.c_str()),
                                static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) != ERROR_SUCCESS)
        RaiseRegistry(L"Failed to set data for '%s'", name);
}

void TRegistry::WriteInteger(const std::wstring& name, DWORD value) {
    if (!key_ || RegSetValueExW(key_.get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                sizeof(value)) != ERROR_SUCCESS)
        RaiseRegistry(L"Failed to set data for '%s'", name);
}

}  // namespace qvr
