#include "server/registration.h"

#include "com/dialogs.h"
#include "com/error.h"
#include "com/guards.h"
#include "com/handles.h"
#include "com/numbers.h"
#include "com/registry.h"
#include "com/texts.h"
#include "module/module.h"
#include "server/comserver.h"
#include "server/factory.h"

#include <oleauto.h>
#include <shellapi.h>
#include <wrl/client.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qvr {

namespace {

// ---------------------------------------------------------------------------------------------
// Small helpers
// ---------------------------------------------------------------------------------------------

std::wstring RegistryGuid(REFGUID guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);  // braces, upper-case hexadecimal digits, 8-4-4-4-12
    return text;
}

// A path through one of the system's path conversions; the path itself when it fails.
template <typename Convert>
std::wstring ConvertedPath(const std::wstring& path, Convert convert) {
    DWORD n = convert(path.c_str(), nullptr, 0);
    if (n == 0) return path;
    std::wstring out(n, L'\0');
    n = convert(path.c_str(), out.data(), n);
    if (n == 0 || n >= out.size()) return path;
    out.resize(n);
    return out;
}

std::wstring LongPath(const std::wstring& path) { return ConvertedPath(path, GetLongPathNameW); }
std::wstring ShortPath(const std::wstring& path) { return ConvertedPath(path, GetShortPathNameW); }
std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L"\\/:") + 1); }

// ---------------------------------------------------------------------------------------------
// Per-user switch
// ---------------------------------------------------------------------------------------------

// -1 unknown (read from the command line on first use), 0 or 1.
std::atomic<int> g_perUser{-1};

bool IsPerUserSwitch(const wchar_t* arg) {
    if (arg[0] != L'-' && arg[0] != L'/') return false;
    return _wcsicmp(arg + 1, L"REGSERVERPERUSER") == 0 || _wcsicmp(arg + 1, L"UNREGSERVERPERUSER") == 0;
}

// ---------------------------------------------------------------------------------------------
// Type library
// ---------------------------------------------------------------------------------------------

using RegisterTypeLibFunc = HRESULT(WINAPI*)(ITypeLib*, OLECHAR*, OLECHAR*);
using UnRegisterTypeLibFunc = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);

// The per-user function of the automation library when it offers one, else the machine-wide one.
template <typename Func>
Func TypeLibFunction(bool perUser, const char* perUserName, Func machineWide) {
    HMODULE oleaut = perUser ? GetModuleHandleW(L"oleaut32.dll") : nullptr;
    FARPROC f = oleaut ? GetProcAddress(oleaut, perUserName) : nullptr;
    return f ? reinterpret_cast<Func>(reinterpret_cast<void*>(f)) : machineWide;
}

void RegisterTypeLibrary(ITypeLib* lib, const std::wstring& modulePath, bool perUser) {
    std::wstring path = LongPath(modulePath);
    std::wstring helpDir = FolderOf(path);
    auto func = TypeLibFunction<RegisterTypeLibFunc>(perUser, "RegisterTypeLibForUser", &RegisterTypeLib);
    ThrowIfFailed(func(lib, path.data(), helpDir.data()));
}

void UnregisterTypeLibrary(ITypeLib* lib, bool perUser) {
    LibAttr attr(lib);
    auto func = TypeLibFunction<UnRegisterTypeLibFunc>(perUser, "UnRegisterTypeLibForUser", &UnRegisterTypeLib);
    func(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid, attr->syskind);  // result ignored
}

// The library is registered for its version, locale and system kind (where the system looks for
// it, machine-wide or for the current user).
bool TypeLibraryRegistered(ITypeLib* lib) {
    LibAttr attr(lib);
    const std::wstring locale = qvr::HexText(attr->lcid, 1, true);
    std::wstring key = L"TypeLib\\" + RegistryGuid(attr->guid) + L"\\" + qvr::DecimalText(attr->wMajorVerNum) + L"." +
                       qvr::DecimalText(attr->wMinorVerNum) + L"\\" + locale +
                       (attr->syskind == SYS_WIN64 ? L"\\win64" : L"\\win32");
    unique_hkey probe;
    return RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, probe.put()) == ERROR_SUCCESS;
}

// ---------------------------------------------------------------------------------------------
// COM class keys
// ---------------------------------------------------------------------------------------------

struct ClassEntry {
    std::wstring key;
    const wchar_t* valueName;  // nullptr: the key's default value
    std::wstring value;
};

// The class keys in the order they are written; unregistration deletes the distinct keys in the
// reverse order.
std::vector<ClassEntry> ClassEntries(TqvrFactory& factory) {
    TComServer& server = factory.ComServer();
    LibAttr attr(server.TypeLib());
    std::wstring clsid = RegistryGuid(factory.ClassID());
    std::wstring clsidKey = L"CLSID\\" + clsid;
    std::wstring progId = factory.ProgID();
    std::wstring serverPath = LongPath(server.ModuleFileName());
    if (serverPath.find(L' ') != std::wstring::npos) serverPath = ShortPath(serverPath);
    std::wstring version = qvr::DecimalText(attr->wMajorVerNum) + L"." + qvr::DecimalText(attr->wMinorVerNum);
    return {
        {clsidKey, nullptr, factory.Description()},
        {clsidKey + L"\\InprocServer32", nullptr, serverPath},
        {clsidKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
        {progId, nullptr, factory.Description()},
        {progId + L"\\Clsid", nullptr, clsid},
        {clsidKey + L"\\ProgID", nullptr, progId},
        {clsidKey + L"\\Version", nullptr, version},
        {clsidKey + L"\\TypeLib", nullptr, RegistryGuid(attr->guid)},
    };
}

// HKEY_CLASSES_ROOT, or HKEY_CURRENT_USER\Software\Classes for a per-user registration.
struct ClassesRoot {
    HKEY root;
    std::wstring prefix;
    static ClassesRoot For(bool perUser) {
        return perUser ? ClassesRoot{HKEY_CURRENT_USER, L"Software\\Classes\\"} : ClassesRoot{HKEY_CLASSES_ROOT, L""};
    }
};


// Deletes one key without subkeys; a key that is missing or still has subkeys stays.
void DeleteLeafKey(const ClassesRoot& classes, const std::wstring& path) {
    std::wstring full = classes.prefix + path;
    {
        unique_hkey key;
        if (RegOpenKeyExW(classes.root, full.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return;
        DWORD subKeys = 0;
        if (RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr) != ERROR_SUCCESS ||
            subKeys > 0)
            return;
    }
    RegDeleteKeyW(classes.root, full.c_str());
}

// Takes back the class keys a registration created, the last one first.
void RemoveCreatedClassKeys(const std::vector<std::wstring>& created, bool perUser) {
    ClassesRoot classes = ClassesRoot::For(perUser);
    for (auto it = created.rbegin(); it != created.rend(); ++it) DeleteLeafKey(classes, *it);
}

// Raised by a registration that failed after it had started writing and took back what it had
// written, so that the server's registry update also takes back the type library.
class ERegistrationTakenBack : public EqvrError {
public:
    explicit ERegistrationTakenBack(const EqvrError& e) : EqvrError(e) {}
};

// Writes the class keys; returns the keys that did not exist before, in the order they were made.
// A key that cannot be written takes back the keys made so far: a class half registered (a ProgID
// without its class, a class without its server) is what COM and Office trip over later.
std::vector<std::wstring> RegisterClassKeys(TqvrFactory& factory, bool perUser) {
    ClassesRoot classes = ClassesRoot::For(perUser);
    std::vector<std::wstring> created;
    try {
        for (const ClassEntry& e : ClassEntries(factory)) {
            unique_hkey key;
            DWORD disposition = 0;
            if (RegCreateKeyExW(classes.root, (classes.prefix + e.key).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                key.put(), &disposition) != ERROR_SUCCESS)
                throw EqvrError(L"Error creating system registry entry");
            if (disposition == REG_CREATED_NEW_KEY) created.push_back(e.key);
            if (RegSetValueExW(key.get(), e.valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(e.value.c_str()),
                               static_cast<DWORD>((e.value.size() + 1) * sizeof(wchar_t))) != ERROR_SUCCESS)
                throw EqvrError(L"Error creating system registry entry");
        }
    } catch (...) {
        const EqvrError error = CurrentError();
        RemoveCreatedClassKeys(created, perUser);
        throw ERegistrationTakenBack(error);
    }
    return created;
}

void UnregisterClassKeys(TqvrFactory& factory, bool perUser) {
    ClassesRoot classes = ClassesRoot::For(perUser);
    std::vector<ClassEntry> entries = ClassEntries(factory);
    std::vector<std::wstring> keys;
    for (auto it = entries.rbegin(); it != entries.rend(); ++it)
        if (std::find(keys.begin(), keys.end(), it->key) == keys.end()) keys.push_back(it->key);
    for (const auto& key : keys) DeleteLeafKey(classes, key);
}

// ---------------------------------------------------------------------------------------------
// Hosts
// ---------------------------------------------------------------------------------------------

bool LocalMachineKeyExists(const wchar_t* path) {
    try {
        TRegistry reg(HKEY_LOCAL_MACHINE, KEY_READ);
        return reg.KeyExists(path);
    } catch (...) {
        RecordDroppedError(L"registration: Office's install root");
        return false;
    }
}

// The host's ProgID resolves to a class, or Office runs as Click-to-Run (then every host counts).
bool HostInstalled(TqvrOfficeHostApp host) {
    CLSID clsid = GUID_NULL;
    if (SUCCEEDED(CLSIDFromProgID(kHosts[host].progId, &clsid)) && !IsEqualCLSID(clsid, GUID_NULL)) return true;
    return LocalMachineKeyExists(L"Software\\Microsoft\\Office\\14.0\\Common\\InstallRoot\\Virtual") ||
           LocalMachineKeyExists(L"Software\\Microsoft\\Office\\15.0\\Common\\InstallRoot\\Virtual");
}

// Calls body for every host the module supports and that is installed, in ascending order.
template <typename Body>
void ForEachHost(const TqvrCOMAddInModule& module, Body&& body) {
    for (int i = 0; i < kHostCount; ++i) {
        auto host = static_cast<TqvrOfficeHostApp>(i);
        if (module.SupportedApps().Contains(host) && HostInstalled(host)) body(host);
    }
}

// ---------------------------------------------------------------------------------------------
// Excel "OPEN" entries
// ---------------------------------------------------------------------------------------------
// Excel loads automation add-ins from the values OPEN, OPEN1, OPEN2, ... of its Options key. Only
// names of that form are entries: a name with anything but decimal digits after "OPEN" is left
// alone. Entries are ordered by their number (text order would put OPEN10 before OPEN2), a new
// entry takes the number after the highest one, and no write ever replaces an existing value.

constexpr uint32_t kMaxOpenNumber = 0x7FFFFFFF;

struct OpenEntry {
    std::wstring name;
    uint32_t number;  // 0 for "OPEN"
};

std::optional<uint32_t> OpenNumber(const std::wstring& name) {
    if (name.size() < 4 || _wcsnicmp(name.c_str(), L"OPEN", 4) != 0) return std::nullopt;
    uint64_t n = 0;
    for (size_t i = 4; i < name.size(); ++i) {
        if (name[i] < L'0' || name[i] > L'9') return std::nullopt;
        n = n * 10 + static_cast<uint64_t>(name[i] - L'0');
        if (n > kMaxOpenNumber) return std::nullopt;
    }
    return static_cast<uint32_t>(n);
}

std::wstring OpenName(uint32_t number) { return number == 0 ? L"OPEN" : L"OPEN" + qvr::DecimalText(number); }

std::vector<OpenEntry> OpenEntries(const TRegistry& options) {
    std::vector<OpenEntry> entries;
    for (auto& name : options.GetValueNames())
        if (auto number = OpenNumber(name)) entries.push_back({std::move(name), *number});
    std::sort(entries.begin(), entries.end(), [](const OpenEntry& a, const OpenEntry& b) {
        return a.number != b.number ? a.number < b.number : _wcsicmp(a.name.c_str(), b.name.c_str()) < 0;
    });
    return entries;
}

// The entry's text names the ProgID (case-sensitive); a value that is not text names nothing.
bool EntryLists(const TRegistry& options, const std::wstring& name, const std::wstring& progId) {
    DWORD type = REG_NONE;
    if (RegQueryValueExW(options.CurrentKey(), name.c_str(), nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    return options.ReadString(name).find(progId) != std::wstring::npos;
}

// Copies a value of any type to a free name and removes the old one.
void RenameValue(TRegistry& options, const std::wstring& from, const std::wstring& to) {
    HKEY key = options.CurrentKey();
    DWORD type = REG_NONE, bytes = 0;
    if (RegQueryValueExW(key, from.c_str(), nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS) return;
    std::vector<BYTE> data(bytes);
    if (RegQueryValueExW(key, from.c_str(), nullptr, &type, data.data(), &bytes) != ERROR_SUCCESS) return;
    if (RegSetValueExW(key, to.c_str(), 0, type, data.data(), bytes) != ERROR_SUCCESS) return;
    RegDeleteValueW(key, from.c_str());
}

// Calls body with each existing Excel Options key of the versions 10 to 16, opened under
// HKEY_CURRENT_USER; a key that cannot be opened is skipped.
template <typename Body>
void ForEachExcelOptionsKey(Body&& body) {
    for (int version = 10; version <= 16; ++version) {
        TRegistry options(HKEY_CURRENT_USER, KEY_ALL_ACCESS);
        if (!options.OpenKey(FormatText(L"\\Software\\Microsoft\\Office\\%d.0\\Excel\\Options",
                                        {qvr::DecimalText(version)}),
                             false))
            continue;
        body(options);
    }
}

// True when an entry was added to at least one Options key.
bool AddExcelOpenEntry(const std::wstring& progId) {
    bool added = false;
    ForEachExcelOptionsKey([&](TRegistry& options) {
        std::vector<OpenEntry> entries = OpenEntries(options);
        for (const auto& e : entries)
            if (EntryLists(options, e.name, progId)) return;
        uint32_t number = entries.empty() ? 0 : entries.back().number + 1;
        while (number <= kMaxOpenNumber && options.ValueExists(OpenName(number))) ++number;
        options.WriteString(OpenName(number), L"/A \"" + progId + L"\"");
        added = true;
    });
    return added;
}

void RemoveExcelOpenEntry(const std::wstring& progId) {
    ForEachExcelOptionsKey([&](TRegistry& options) {
        std::vector<OpenEntry> entries = OpenEntries(options);
        auto listed = std::find_if(entries.begin(), entries.end(),
                                   [&](const OpenEntry& e) { return EntryLists(options, e.name, progId); });
        if (listed == entries.end()) return;
        options.DeleteValue(listed->name);
        entries.erase(listed);
        // Close the gap: OPEN, OPEN1, OPEN2, ... in the entries' order. Going up from the lowest,
        // each target is either the entry's own name or already vacated; a target that still
        // exists (two names for one number) is left as it is.
        for (uint32_t k = 0; k < entries.size(); ++k) {
            std::wstring target = OpenName(k);
            if (_wcsicmp(target.c_str(), entries[k].name.c_str()) == 0 || options.ValueExists(target)) continue;
            RenameValue(options, entries[k].name, target);
        }
    });
}

// ---------------------------------------------------------------------------------------------
// The factory's registration
// ---------------------------------------------------------------------------------------------


// Opens (creating it and any missing parents) a host's add-in key for writing, and closes it
// again; `created` tells whether the key is new. Raises, naming the key and the system's reason,
// when it cannot be opened for writing: Excel would never load the add-in.
void OpenAddInKeyForWriting(HKEY root, const std::wstring& key, bool& created) {
    unique_hkey opened;
    DWORD disposition = 0;
    LONG rc = RegCreateKeyExW(root, key.substr(key.front() == L'\\' ? 1 : 0).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, opened.put(), &disposition);
    if (rc != ERROR_SUCCESS) {
        HRESULT hr = HRESULT_FROM_WIN32(static_cast<DWORD>(rc));
        throw EqvrError(FormatText(L"The add-in key %s%s cannot be written: %s",
                                   {root == HKEY_LOCAL_MACHINE ? L"HKEY_LOCAL_MACHINE" : L"HKEY_CURRENT_USER", key,
                                    SysErrorMessage(hr)}),
                        hr, ErrorKind::Ole);
    }
    created = disposition == REG_CREATED_NEW_KEY;
}

// The running-instance dialog's buttons, as ShowButtonDialog numbers them (1 is Cancel, which Esc
// and the close button also choose; 0: no dialog could be shown).
constexpr int kButtonRetry = 2;
constexpr int kButtonIgnore = 3;

class Registration {
public:
    Registration(TqvrFactory& factory, bool perUser) : factory_(factory), perUser_(perUser) {}

    // A host whose add-in key cannot be written fails the registration, and what this call
    // created is taken back: Excel would never load a class registered without its add-in key.
    void Register() {
        CheckRunningInstances();
        std::vector<std::wstring> createdClassKeys = RegisterClassKeys(factory_, perUser_);
        try {
            RegisterAddInKeys();
        } catch (...) {
            EqvrError error = CurrentError();
            RemoveCreatedClassKeys(createdClassKeys, perUser_);
            throw ERegistrationTakenBack(error);
        }
    }

    void Unregister() {
        CheckRunningInstances();
        DisableAddIn();
        RemoveAddInKeys();
        UnregisterClassKeys(factory_, perUser_);
    }

private:
    // Each step builds its own module, destroyed at the end of the step, also when it fails.
    std::unique_ptr<TqvrCOMAddInModule> TemporaryModule() const { return factory_.ModuleClass()(nullptr); }

    void CheckRunningInstances();
    void RegisterAddInKeys();
    void DisableAddIn();
    void RemoveAddInKeys();
    void FireAddInEvent(TqvrCOMAddInModule& module, const TNotifyEvent& handler, TqvrOfficeHostApp host,
                        bool create);

    TqvrFactory& factory_;
    bool perUser_;
};

void Registration::CheckRunningInstances() {
    auto module = TemporaryModule();
    if (!module->DisplayAlerts) return;
    for (;;) {
        std::wstring list;
        TqvrHostAppSet running;
        ForEachHost(*module, [&](TqvrOfficeHostApp host) {
            CLSID clsid;
            ThrowIfFailed(CLSIDFromProgID(kHosts[host].progId, &clsid));
            Microsoft::WRL::ComPtr<IUnknown> active;
            if (SUCCEEDED(GetActiveObject(clsid, nullptr, &active)) && active) {
                list += kHosts[host].registryName;
                list += L' ';
                running.bits = static_cast<uint16_t>(running.bits | (1u << host));
            }
        });
        if (list.empty()) return;
        bool handled = false;
        module->Fire(module->OnBeforeDisplayAlerts, module.get(), running, handled);
        if (!module->DisplayAlerts) return;
        if (handled) continue;
        int answer = ShowButtonDialog(Text(kTextRunningHosts) + list, module->AddInName(), MB_ICONINFORMATION,
                                      {Text(kTextButtonCancel), Text(kTextButtonRetry), Text(kTextButtonIgnore)});
        if (answer == kButtonIgnore) return;
        // Cancel (the button, Esc or the close button), or no dialog at all.
        if (answer != kButtonRetry)
            throw EqvrError(Text(kTextRegistrationCancelled), kErrRegistrationCancelled,
                            ErrorKind::Ole);
    }
}

void Registration::FireAddInEvent(TqvrCOMAddInModule& module, const TNotifyEvent& handler, TqvrOfficeHostApp host,
                                  bool create) {
    if (!handler) return;
    module.SetHostType(host);
    module.SetConnection(nullptr, &factory_);
    module.Registry().SetRootKey(HKEY_CURRENT_USER);
    module.Registry().OpenKey(factory_.GetRegKey(host), create);
    module.Fire(handler, &module);
    module.Registry().CloseKey();
}

void Registration::RegisterAddInKeys() {
    auto module = TemporaryModule();
    // What this call created for the hosts done so far, taken back (last first) when a later
    // host fails.
    std::vector<std::function<void()>> undo;
    try {
        TRegistry reg(HKEY_CURRENT_USER, KEY_ALL_ACCESS);
        ForEachHost(*module, [&](TqvrOfficeHostApp host) {
            const HKEY root = module->RegisterForAllUsers ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
            const std::wstring key = factory_.GetRegKey(host);
            bool created = false;
            OpenAddInKeyForWriting(root, key, created);
            if (created)
                undo.push_back([root, key] {
                    TRegistry owner(root, KEY_ALL_ACCESS);
                    owner.DeleteKeyTree(key);
                });
            reg.SetRootKey(root);
            if (!reg.OpenKey(key, false))
                throw EqvrError(FormatText(L"The add-in key %s cannot be written", {key}));
            reg.WriteString(L"FriendlyName", module->AddInName());
            reg.WriteString(L"Description", module->Description);
            reg.WriteInteger(L"LoadBehavior", static_cast<DWORD>(module->LoadBehavior));
            reg.WriteInteger(L"CommandLineSafe", 0);
            reg.CloseKey();
            reg.SetRootKey(HKEY_CURRENT_USER);
            if (host == ohaExcel && module->XLAutomationAddIn && AddExcelOpenEntry(factory_.ProgID()))
                undo.push_back([progId = factory_.ProgID()] { RemoveExcelOpenEntry(progId); });
            if (host == ohaOneNote) {
                std::wstring clsid = RegistryGuid(factory_.ClassID());
                TRegistry classes(HKEY_CLASSES_ROOT, KEY_ALL_ACCESS);
                const std::wstring appId = L"\\AppID\\" + clsid;
                const bool appIdExisted = classes.KeyExists(appId);
                if (classes.OpenKey(appId, true)) {
                    if (!appIdExisted)
                        undo.push_back([appId] {
                            TRegistry owner(HKEY_CLASSES_ROOT, KEY_ALL_ACCESS);
                            owner.DeleteKeyTree(appId);
                        });
                    classes.WriteString(L"DllSurrogate", L"");
                    classes.CloseKey();
                }
                if (classes.OpenKey(L"\\CLSID\\" + clsid, false)) classes.WriteString(L"AppID", clsid);
            }
            FireAddInEvent(*module, module->OnAfterAddinRegister, host, true);
        });
    } catch (...) {
        EqvrError error = CurrentError();
        for (auto it = undo.rbegin(); it != undo.rend(); ++it) {
            try {
                (*it)();
            } catch (...) {
                // Take back what can be taken back; the failure that started this is reported.
                RecordDroppedError(L"registration");
            }
        }
        throw error;
    }
}

void Registration::DisableAddIn() {
    auto module = TemporaryModule();
    ForEachHost(*module, [&](TqvrOfficeHostApp host) {
        if (host == ohaMapPoint) return;
        // Steps 1 and 4 of the pass (reading the "CommandBars" and "Controls" lists and removing
        // those toolbars and controls from the host) belong to the legacy command bar subsystem,
        // which this framework does not build: a module has no legacy components, so the pass
        // ends after step 3.
        try {
            std::wstring key = factory_.GetRegKey(host);
            // 2. The running add-in's start mode.
            TRegistry user(HKEY_CURRENT_USER, KEY_ALL_ACCESS);
            if (user.KeyExists(key)) {
                if (!user.OpenKey(key, false)) throw EqvrError(L"Cannot open " + key);
                user.WriteString(L"QVRStartMode", L"UNINSTALL");
                user.CloseKey();
            }
            // 3. Office stops loading it.
            TRegistry reg(module->RegisterForAllUsers ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, KEY_ALL_ACCESS);
            if (reg.KeyExists(key)) {
                if (!reg.OpenKey(key, false)) throw EqvrError(L"Cannot open " + key);
                reg.WriteInteger(L"LoadBehavior", 0);
                reg.CloseKey();
            }
        } catch (const std::exception&) {
            // The caller gets the coded error; the trace keeps what caused it.
            RecordDroppedError(L"unregister add-in controls");
            throw EqvrError(L"Can't unregister add-in controls.", kErrLegacyUnregister, ErrorKind::Ole);
        }
    });
}

void Registration::RemoveAddInKeys() {
    auto module = TemporaryModule();
    TRegistry reg(HKEY_CURRENT_USER, KEY_ALL_ACCESS);
    ForEachHost(*module, [&](TqvrOfficeHostApp host) {
        std::wstring key = factory_.GetRegKey(host);
        FireAddInEvent(*module, module->OnBeforeAddinUnregister, host, false);
        if (module->RegisterForAllUsers) {
            reg.SetRootKey(HKEY_LOCAL_MACHINE);
            if (reg.KeyExists(key)) reg.DeleteKeyTree(key);
            reg.SetRootKey(HKEY_CURRENT_USER);
        }
        if (reg.KeyExists(key)) reg.DeleteKeyTree(key);
        if (host == ohaOneNote) {
            TRegistry classes(HKEY_CLASSES_ROOT, KEY_ALL_ACCESS);
            std::wstring appId = L"\\AppID\\" + RegistryGuid(factory_.ClassID());
            if (classes.KeyExists(appId)) classes.DeleteKey(appId);
        }
        if (host == ohaExcel && module->XLAutomationAddIn) RemoveExcelOpenEntry(factory_.ProgID());
    });
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Public entry points
// ---------------------------------------------------------------------------------------------

bool CommandLineAsksPerUser(const wchar_t* commandLine) {
    if (!commandLine || !*commandLine) return false;
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(commandLine, &argc);
    if (!argv) return false;
    bool found = false;
    for (int i = 1; i < argc && !found; ++i) found = IsPerUserSwitch(argv[i]);
    LocalFree(argv);
    return found;
}

bool PerUserRegistration() {
    int state = g_perUser.load();
    if (state < 0) {
        state = CommandLineAsksPerUser(GetCommandLineW()) ? 1 : 0;
        g_perUser.store(state);
    }
    return state == 1;
}

void SetPerUserRegistration(bool perUser) { g_perUser.store(perUser ? 1 : 0); }

void UpdateServerRegistry(TComServer& server, bool reg) {
    bool perUser = PerUserRegistration();
    if (!reg) {
        UnregisterTypeLibrary(server.TypeLib(), perUser);
        for (TqvrFactory* factory : server.Factories()) factory->UpdateRegistry(false);
        if (!perUser) UnregisterAddInEventSource(server.ModuleFileName());
        return;
    }
    const bool typeLibWasRegistered = TypeLibraryRegistered(server.TypeLib());
    RegisterTypeLibrary(server.TypeLib(), server.ModuleFileName(), perUser);
    try {
        for (TqvrFactory* factory : server.Factories()) factory->UpdateRegistry(true);
    } catch (const ERegistrationTakenBack&) {
        if (!typeLibWasRegistered) UnregisterTypeLibrary(server.TypeLib(), perUser);
        throw;
    }
    if (!perUser) RegisterAddInEventSource(server.ModuleFileName());
}

HRESULT DllUpdateRegistry(bool reg) noexcept {
    try {
        TComServer* server = TComServer::Instance();
        if (!server) return E_FAIL;
        ComApartment apartment;
        UpdateServerRegistry(*server, reg);
        return S_OK;
    } catch (...) {
        // regsvr32 and the installer only see E_FAIL: the reason goes to the administrator's record.
        LogBoundaryError(reg ? L"DllRegisterServer" : L"DllUnregisterServer", E_FAIL, CurrentError().Message());
        return E_FAIL;
    }
}

void UpdateFactoryRegistry(TqvrFactory& factory, bool reg) {
    Registration registration(factory, PerUserRegistration());
    if (reg)
        registration.Register();
    else
        registration.Unregister();
}

}  // namespace qvr
