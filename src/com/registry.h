// A registry accessor with one root and at most one open key, the way the framework reads and
// writes its add-in keys. Paths starting with "\" are taken from the root, others from the
// open key.
#pragma once

#include "com/handles.h"

#include <optional>
#include <string>
#include <vector>

namespace qvr {

class TRegistry {
public:
    explicit TRegistry(HKEY root = HKEY_CURRENT_USER, REGSAM access = KEY_ALL_ACCESS) : root_(root), access_(access) {}

    HKEY RootKey() const { return root_; }
    void SetRootKey(HKEY root);
    REGSAM Access() const { return access_; }
    void SetAccess(REGSAM access) { access_ = access; }

    // Opens (and, when canCreate, creates) the key; false when that is not possible.
    bool OpenKey(const std::wstring& path, bool canCreate);
    bool OpenKeyReadOnly(const std::wstring& path);
    void CloseKey();
    HKEY CurrentKey() const { return key_.get(); }
    const std::wstring& CurrentPath() const { return path_; }

    bool KeyExists(const std::wstring& path) const;
    bool DeleteKey(const std::wstring& path);  // the key only; fails when it has subkeys
    bool DeleteKeyTree(const std::wstring& path);
    bool HasSubKeys() const;
    std::vector<std::wstring> GetKeyNames() const;
    std::vector<std::wstring> GetValueNames() const;

    bool ValueExists(const std::wstring& name) const;
    // The value's registry type (REG_DWORD, REG_SZ, ...); REG_NONE when it does not exist.
    DWORD ValueType(const std::wstring& name) const;
    bool DeleteValue(const std::wstring& name);
    // The value's type and data in one query where the data is short (every query is a round trip
    // to the registry's server, paid at each start); false, REG_NONE and no data when the value
    // does not exist or cannot be read.
    bool ReadValue(const std::wstring& name, DWORD& type, std::vector<BYTE>& data) const;
    // Reads a REG_SZ or REG_EXPAND_SZ value; a value of another type raises
    // "Invalid data type for '<name>'". A missing value reads as empty text.
    std::wstring ReadString(const std::wstring& name) const;
    int ReadInteger(const std::wstring& name) const;
    void WriteString(const std::wstring& name, const std::wstring& value);
    void WriteExpandString(const std::wstring& name, const std::wstring& value);
    void WriteInteger(const std::wstring& name, DWORD value);

private:
    std::wstring Resolve(const std::wstring& path) const;

    HKEY root_;
    REGSAM access_;
    unique_hkey key_;
    std::wstring path_;
};

// The text of a string value's data (REG_SZ, REG_EXPAND_SZ), without its terminating nulls.
std::wstring RegistryText(const std::vector<BYTE>& data);

}  // namespace qvr
