#include "reg_support.h"

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <functional>

namespace regtest {

namespace {

struct Key {
    HKEY h = nullptr;
    ~Key() {
        if (h) RegCloseKey(h);
    }
};

bool Open(HKEY root, const std::wstring& path, REGSAM access, Key& key) {
    return RegOpenKeyExW(root, path.c_str(), 0, access, &key.h) == ERROR_SUCCESS;
}

std::wstring Hex(const BYTE* data, DWORD size) {
    static const wchar_t digits[] = L"0123456789ABCDEF";
    std::wstring out;
    for (DWORD i = 0; i < size; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
    }
    return out;
}

std::wstring ValueText(DWORD type, const std::vector<BYTE>& data, DWORD size) {
    switch (type) {
        case REG_SZ:
        case REG_EXPAND_SZ: {
            std::wstring s(reinterpret_cast<const wchar_t*>(data.data()), size / sizeof(wchar_t));
            while (!s.empty() && s.back() == L'\0') s.pop_back();
            return (type == REG_SZ ? L"sz:" : L"expand:") + s;
        }
        case REG_DWORD:
            return L"dword:" + std::to_wstring(size >= 4 ? *reinterpret_cast<const DWORD*>(data.data()) : 0);
        default:
            return L"type" + std::to_wstring(type) + L":" + Hex(data.data(), size);
    }
}

// Links (Wine joins the two views with them) are listed as links, not followed, so that every
// key is seen once.
void Walk(HKEY root, const std::wstring& label, const std::wstring& path, Snapshot& out) {
    Key key;
    if (RegOpenKeyExW(root, path.c_str(), REG_OPTION_OPEN_LINK, KEY_READ | KEY_WOW64_64KEY, &key.h) != ERROR_SUCCESS)
        return;
    out[label + L"\\" + path] = L"";
    std::vector<wchar_t> name(16384);
    std::vector<BYTE> data(1 << 16);
    for (DWORD i = 0;; ++i) {
        DWORD nameLen = static_cast<DWORD>(name.size()), size = static_cast<DWORD>(data.size()), type = 0;
        LONG rc = RegEnumValueW(key.h, i, name.data(), &nameLen, nullptr, &type, data.data(), &size);
        if (rc == ERROR_MORE_DATA) {
            data.resize(size + 2);
            --i;
            continue;
        }
        if (rc != ERROR_SUCCESS) break;
        out[label + L"\\" + path + L"|" + std::wstring(name.data(), nameLen)] = ValueText(type, data, size);
    }
    std::vector<std::wstring> children;
    for (DWORD i = 0;; ++i) {
        DWORD nameLen = static_cast<DWORD>(name.size());
        if (RegEnumKeyExW(key.h, i, name.data(), &nameLen, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        children.emplace_back(name.data(), nameLen);
    }
    for (const auto& child : children) Walk(root, label, path + L"\\" + child, out);
}

}  // namespace

bool KeyExists(HKEY root, const std::wstring& path) {
    Key key;
    return Open(root, path, KEY_READ, key);
}

bool HasSubKeys(HKEY root, const std::wstring& path) {
    Key key;
    DWORD count = 0;
    return Open(root, path, KEY_READ, key) &&
           RegQueryInfoKeyW(key.h, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr,
                            nullptr, nullptr) == ERROR_SUCCESS &&
           count > 0;
}

std::optional<std::wstring> ReadText(HKEY root, const std::wstring& path, const std::wstring& name) {
    Key key;
    if (!Open(root, path, KEY_READ, key)) return std::nullopt;
    DWORD type = 0, size = 0;
    const wchar_t* n = name.empty() ? nullptr : name.c_str();
    if (RegQueryValueExW(key.h, n, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ)
        return std::nullopt;
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (RegQueryValueExW(key.h, n, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) != ERROR_SUCCESS)
        return std::nullopt;
    text.resize(size / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    return text;
}

std::optional<DWORD> ReadDword(HKEY root, const std::wstring& path, const std::wstring& name) {
    Key key;
    if (!Open(root, path, KEY_READ, key)) return std::nullopt;
    DWORD type = 0, value = 0, size = sizeof(value);
    if (RegQueryValueExW(key.h, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD)
        return std::nullopt;
    return value;
}

std::vector<std::wstring> ValueNames(HKEY root, const std::wstring& path) {
    std::vector<std::wstring> names;
    Key key;
    if (!Open(root, path, KEY_READ, key)) return names;
    wchar_t name[16384];
    for (DWORD i = 0;; ++i) {
        DWORD len = 16384;
        if (RegEnumValueW(key.h, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, len);
    }
    std::sort(names.begin(), names.end(),
              [](const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) < 0; });
    return names;
}

void CreateKey(HKEY root, const std::wstring& path) {
    Key key;
    RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key.h, nullptr);
}

void WriteText(HKEY root, const std::wstring& path, const std::wstring& name, const std::wstring& value) {
    Key key;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key.h, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExW(key.h, name.empty() ? nullptr : name.c_str(), 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(value.c_str()), static_cast<DWORD>((value.size() + 1) * 2));
}

void WriteDword(HKEY root, const std::wstring& path, const std::wstring& name, DWORD value) {
    Key key;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key.h, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExW(key.h, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

void DeleteTree(HKEY root, const std::wstring& path) {
    MakeWritable(root, path);
    RegDeleteTreeW(root, path.c_str());
    RegDeleteKeyW(root, path.c_str());
}

namespace {
void SetDacl(HKEY root, const std::wstring& path, const wchar_t* sddl) {
    Key key;
    if (!Open(root, path, WRITE_DAC | READ_CONTROL, key)) return;
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &sd, nullptr)) return;
    RegSetKeySecurity(key.h, DACL_SECURITY_INFORMATION, sd);
    LocalFree(sd);
}
}  // namespace

// KR: read; KA: all access; WD: everyone.
void MakeReadOnly(HKEY root, const std::wstring& path) { SetDacl(root, path, L"D:P(A;;KR;;;WD)"); }
void MakeWritable(HKEY root, const std::wstring& path) { SetDacl(root, path, L"D:P(A;;KA;;;WD)"); }

Snapshot TakeSnapshot() {
    Snapshot s;
    Walk(HKEY_LOCAL_MACHINE, L"HKLM", L"Software", s);
    Walk(HKEY_CURRENT_USER, L"HKCU", L"Software", s);
    // Event-log sources live outside Software.
    Walk(HKEY_LOCAL_MACHINE, L"HKLM", L"SYSTEM\\CurrentControlSet\\Services\\EventLog", s);
    return s;
}

std::vector<std::wstring> Changes(const Snapshot& before, const Snapshot& after) {
    std::vector<std::wstring> out;
    for (const auto& [entry, data] : after) {
        auto old = before.find(entry);
        if (old == before.end())
            out.push_back(L"+ " + entry + (data.empty() ? L"" : L" = " + data));
        else if (old->second != data)
            out.push_back(L"~ " + entry + L" = " + data);
    }
    for (const auto& [entry, data] : before)
        if (!after.count(entry)) out.push_back(L"- " + entry);
    return out;
}

std::wstring LogicalPath(const std::wstring& entry) {
    std::wstring out = entry;
    for (size_t at; (at = out.find(L"\\Wow6432Node")) != std::wstring::npos;) out.erase(at, 12);
    return out;
}

void MakeVolatile(HKEY root, const std::wstring& path) {
    DeleteTree(root, path);
    HKEY key = nullptr;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr) ==
        ERROR_SUCCESS)
        RegCloseKey(key);
}

void InstallExcel() {
    wchar_t clsid[40];
    StringFromGUID2(kExcelClsid, clsid, 40);
    WriteText(HKEY_CLASSES_ROOT, L"Excel.Application\\CLSID", L"", clsid);
    CreateKey(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Office\\Excel\\AddIns");
}

void UninstallExcel() {
    DeleteTree(HKEY_CLASSES_ROOT, L"Excel.Application");
    DeleteTree(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Office\\Excel");
}

DWORD RunProgram(const std::wstring& program, const std::wstring& arguments, DWORD timeoutMs) {
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return static_cast<DWORD>(-1);
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(pi.hProcess, timeoutMs) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
    else TerminateProcess(pi.hProcess, code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

std::wstring WindowsPath(const std::string& buildPath) {
    if (buildPath.empty() || buildPath[0] != '/') {
        int n = MultiByteToWideChar(CP_UTF8, 0, buildPath.c_str(), -1, nullptr, 0);
        std::wstring w(static_cast<size_t>(n), L'\0');
        MultiByteToWideChar(CP_UTF8, 0, buildPath.c_str(), -1, w.data(), n);
        w.resize(w.size() - 1);
        return w;
    }
    // Wine maps Unix paths to DOS ones through kernel32's wine_get_dos_file_name.
    using ToDos = wchar_t*(CDECL*)(const char*);
    auto toDos = reinterpret_cast<ToDos>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
    if (!toDos) return {};
    wchar_t* dos = toDos(buildPath.c_str());
    if (!dos) return {};
    std::wstring result = dos;
    HeapFree(GetProcessHeap(), 0, dos);
    return result;
}

}  // namespace regtest
