#include "healthcheck/registry.h"

namespace qvrcheck {

LONG RegKey::Open(HKEY root, const std::wstring& path, REGSAM access, REGSAM view) {
    Close();
    return RegOpenKeyExW(root, path.c_str(), 0, access | view, &key_);
}

LONG RegKey::Create(HKEY root, const std::wstring& path, REGSAM view) {
    Close();
    return RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE | view, nullptr, &key_, nullptr);
}

void RegKey::Close() {
    if (key_) RegCloseKey(key_);
    key_ = nullptr;
}

bool KeyExists(HKEY root, const std::wstring& path, REGSAM view) {
    RegKey key;
    return key.Open(root, path, KEY_READ, view) == ERROR_SUCCESS;
}

std::optional<RawValue> ReadValue(HKEY root, const std::wstring& path, const std::wstring& name, REGSAM view) {
    RegKey key;
    if (key.Open(root, path, KEY_QUERY_VALUE, view) != ERROR_SUCCESS) return std::nullopt;
    RawValue value;
    DWORD bytes = 0;
    if (RegQueryValueExW(key.get(), name.c_str(), nullptr, &value.type, nullptr, &bytes) != ERROR_SUCCESS)
        return std::nullopt;
    value.data.resize(bytes);
    if (RegQueryValueExW(key.get(), name.c_str(), nullptr, &value.type, value.data.data(), &bytes) != ERROR_SUCCESS)
        return std::nullopt;
    value.data.resize(bytes);
    return value;
}

std::optional<std::wstring> ReadText(HKEY root, const std::wstring& path, const std::wstring& name, REGSAM view) {
    std::optional<RawValue> raw = ReadValue(root, path, name, view);
    if (!raw || (raw->type != REG_SZ && raw->type != REG_EXPAND_SZ)) return std::nullopt;
    std::wstring text(raw->data.size() / 2, L'\0');
    for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<wchar_t>(raw->data[2 * i] | raw->data[2 * i + 1] << 8);
    text.resize(wcsnlen(text.c_str(), text.size()));
    if (raw->type == REG_EXPAND_SZ) {
        DWORD n = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
        std::wstring expanded(n, L'\0');
        if (n && ExpandEnvironmentStringsW(text.c_str(), expanded.data(), n) == n) {
            expanded.resize(n - 1);
            return expanded;
        }
    }
    return text;
}

std::optional<DWORD> ReadDword(HKEY root, const std::wstring& path, const std::wstring& name, REGSAM view) {
    return AsDword(ReadValue(root, path, name, view));
}

std::vector<std::wstring> SubKeys(HKEY root, const std::wstring& path, REGSAM view) {
    std::vector<std::wstring> names;
    RegKey key;
    if (key.Open(root, path, KEY_ENUMERATE_SUB_KEYS, view) != ERROR_SUCCESS) return names;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD len = 256;
        if (RegEnumKeyExW(key.get(), i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, len);
    }
    return names;
}

std::vector<std::pair<std::wstring, RawValue>> ReadValues(HKEY root, const std::wstring& path, REGSAM view) {
    std::vector<std::pair<std::wstring, RawValue>> values;
    RegKey key;
    if (key.Open(root, path, KEY_QUERY_VALUE, view) != ERROR_SUCCESS) return values;
    DWORD maxName = 0, maxData = 0;
    if (RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &maxName, &maxData,
                         nullptr, nullptr) != ERROR_SUCCESS)
        return values;
    for (DWORD i = 0;; ++i) {
        std::wstring name(maxName + 1, L'\0');
        RawValue value;
        value.data.resize(maxData);
        DWORD nameLen = maxName + 1, bytes = maxData;
        LONG rc = RegEnumValueW(key.get(), i, name.data(), &nameLen, nullptr, &value.type, value.data.data(), &bytes);
        if (rc != ERROR_SUCCESS) break;
        name.resize(nameLen);
        value.data.resize(bytes);
        values.emplace_back(std::move(name), std::move(value));
    }
    return values;
}

std::wstring HiveName(HKEY root) {
    if (root == HKEY_LOCAL_MACHINE) return L"HKLM";
    if (root == HKEY_CURRENT_USER) return L"HKCU";
    if (root == HKEY_CLASSES_ROOT) return L"HKCR";
    return L"?";
}

std::wstring ErrorText(LONG error) {
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   static_cast<DWORD>(error), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring result = text ? text : L"";
    if (text) LocalFree(text);
    while (!result.empty() && (result.back() == L'\n' || result.back() == L'\r' || result.back() == L' ')) result.pop_back();
    return L"error " + std::to_wstring(error) + (result.empty() ? L"" : L" (" + result + L")");
}

}  // namespace qvrcheck
