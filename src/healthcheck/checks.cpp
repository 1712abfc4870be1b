#include "healthcheck/checks.h"

#include "healthcheck/pe_file.h"
#include "healthcheck/policy.h"
#include "healthcheck/registry.h"
#include "healthcheck/resiliency.h"

#include <aclapi.h>
#include <sddl.h>
#include <softpub.h>
#include <wintrust.h>

#include <algorithm>

namespace qvrcheck {

namespace {

// A function of version.dll or wintrust.dll, loaded by its full path in the system folder. An
// administrator may run the check from a writable folder (a download, a share, the desktop),
// where a planted copy of such a library would be loaded first if the program imported it; the
// library's own dependencies are then looked for in the system folder too. Null when missing.
template <typename F>
F SystemFunction(const wchar_t* library, const char* name) {
    wchar_t folder[MAX_PATH] = {};
    const UINT n = GetSystemDirectoryW(folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return nullptr;
    HMODULE module = LoadLibraryExW((std::wstring(folder) + L"\\" + library).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    return module ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

const wchar_t kClickToRun[] = L"SOFTWARE\\Microsoft\\Office\\ClickToRun\\Configuration";
const wchar_t kAppPaths[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\excel.exe";
const wchar_t kEventSource[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\VORTELIX Excel";
const wchar_t kLogPolicy[] = L"Software\\Policies\\VORTELIX\\Excel";
const wchar_t kLogUser[] = L"Software\\VORTELIX\\Excel";
const wchar_t kReinstall[] =
    L"Install the package for Office's bitness (VORTELIXExcel-<version>-x86.msi for 32-bit Office, -x64.msi for "
    L"64-bit Office), or register the DLL with the regsvr32 of Office's bitness from an elevated prompt.";

int OwnBits() { return sizeof(void*) == 8 ? 64 : 32; }
std::wstring BitsText(int bits) { return bits ? std::to_wstring(bits) + L"-bit" : L"unknown bitness"; }

bool FileExists(const std::wstring& path) {
    DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L"\\/") + 1); }
std::wstring FileNameOf(const std::wstring& path) { return path.substr(path.find_last_of(L"\\/") + 1); }

std::wstring Unquoted(std::wstring text) {
    if (text.size() >= 2 && text.front() == L'"') text = text.substr(1, text.find(L'"', 1) - 1);
    return text;
}

// The path as the file system names it: full, and long when the file is there.
std::wstring NormalPath(const std::wstring& path) {
    wchar_t full[MAX_PATH * 2] = {}, longer[MAX_PATH * 2] = {};
    std::wstring result = path;
    if (GetFullPathNameW(path.c_str(), MAX_PATH * 2, full, nullptr)) result = full;
    if (GetLongPathNameW(result.c_str(), longer, MAX_PATH * 2)) result = longer;
    return result;
}

std::wstring FileVersion(const std::wstring& path, WORD* major) {
    static const auto getSize = SystemFunction<decltype(&GetFileVersionInfoSizeW)>(L"version.dll", "GetFileVersionInfoSizeW");
    static const auto getInfo = SystemFunction<decltype(&GetFileVersionInfoW)>(L"version.dll", "GetFileVersionInfoW");
    static const auto query = SystemFunction<decltype(&VerQueryValueW)>(L"version.dll", "VerQueryValueW");
    if (!getSize || !getInfo || !query) return {};
    DWORD ignored = 0, size = getSize(path.c_str(), &ignored);
    if (!size) return {};
    std::vector<uint8_t> data(size);
    VS_FIXEDFILEINFO* info = nullptr;
    UINT len = 0;
    if (!getInfo(path.c_str(), 0, size, data.data()) || !query(data.data(), L"\\", reinterpret_cast<void**>(&info), &len) ||
        !info)
        return {};
    *major = HIWORD(info->dwFileVersionMS);
    return std::to_wstring(HIWORD(info->dwFileVersionMS)) + L"." + std::to_wstring(LOWORD(info->dwFileVersionMS)) + L"." +
           std::to_wstring(HIWORD(info->dwFileVersionLS)) + L"." + std::to_wstring(LOWORD(info->dwFileVersionLS));
}

std::wstring ProductName(const std::wstring& version) {
    if (version == L"12.0") return L"Excel 2007";
    if (version == L"14.0") return L"Excel 2010";
    if (version == L"15.0") return L"Excel 2013";
    if (version == L"16.0") return L"Excel 2016 or later (Microsoft 365)";
    return L"Excel " + version;
}

// The add-in's class as registered in one registry view.
struct ClassRegistration {
    REGSAM view = 0;
    bool progId = false;
    std::wstring classesHive;  // where the ProgID was found: "HKCU\Software\Classes" or "HKLM..."
    std::wstring clsid, dllPath, threadingModel, typeLib, version;
};

ClassRegistration ReadClass(REGSAM view) {
    ClassRegistration r;
    r.view = view;
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        const std::wstring classes = L"Software\\Classes\\";
        auto clsid = ReadText(root, classes + kProgId + L"\\CLSID", L"", view);
        if (!clsid) continue;
        r.progId = true;
        r.classesHive = HiveName(root) + L"\\Software\\Classes";
        r.clsid = *clsid;
        const std::wstring key = classes + L"CLSID\\" + r.clsid;
        for (HKEY where : {root, root == HKEY_CURRENT_USER ? HKEY_LOCAL_MACHINE : root}) {
            if (auto path = ReadText(where, key + L"\\InprocServer32", L"", view)) {
                r.dllPath = Unquoted(*path);
                r.threadingModel = ReadText(where, key + L"\\InprocServer32", L"ThreadingModel", view).value_or(L"");
                r.typeLib = ReadText(where, key + L"\\TypeLib", L"", view).value_or(L"");
                r.version = ReadText(where, key + L"\\Version", L"", view).value_or(L"");
                break;
            }
        }
        break;
    }
    return r;
}

std::wstring ViewText(REGSAM view) { return view == KEY_WOW64_32KEY ? L"32-bit registry view" : L"64-bit registry view"; }

// What the checks need to know, gathered once.
struct Facts {
    OfficeInstall office;
    REGSAM view = 0;
    ClassRegistration reg;
    std::wstring dllPath;  // normalised; empty when the class is not registered
    std::vector<std::wstring> versions;  // the Office versions whose per-user keys matter
};

Facts Gather() {
    Facts f;
    f.office = FindOffice();
    f.view = ViewFor(f.office.bits);
    f.reg = ReadClass(f.view);
    if (!f.reg.dllPath.empty()) f.dllPath = NormalPath(f.reg.dllPath);
    for (const wchar_t* v : kOfficeVersions) f.versions.push_back(v);
    return f;
}

// The Office versions DoNotDisableAddinList is written for: the installed one, else every version
// this user has Excel settings of, else the current one.
std::vector<std::wstring> KeepEnabledVersions(const Facts& f) {
    if (!f.office.version.empty()) return {f.office.version};
    std::vector<std::wstring> versions;
    for (const std::wstring& v : f.versions)
        if (KeyExists(HKEY_CURRENT_USER, L"Software\\Microsoft\\Office\\" + v + L"\\Excel")) versions.push_back(v);
    if (versions.empty()) versions.push_back(L"16.0");
    return versions;
}

bool IsOurDisabledItem(const std::optional<DisabledItem>& item, const Facts& f) {
    return item && item->type == kDisabledAddIn && !f.dllPath.empty() &&
           (SamePath(item->path, f.dllPath) || SamePath(item->path, f.reg.dllPath));
}

bool IsOurListValue(const std::wstring& name, const Facts& f) {
    return SamePath(name, kProgId) || (!f.dllPath.empty() && (SamePath(name, f.dllPath) || SamePath(name, f.reg.dllPath)));
}

AddInKeys ReadAddInKeys(const Facts& f) {
    AddInKeys keys;
    keys.machineKey = KeyExists(HKEY_LOCAL_MACHINE, AddInKey(), f.view);
    keys.machine = ReadDword(HKEY_LOCAL_MACHINE, AddInKey(), L"LoadBehavior", f.view);
    keys.userKey = KeyExists(HKEY_CURRENT_USER, AddInKey());
    keys.user = ReadDword(HKEY_CURRENT_USER, AddInKey(), L"LoadBehavior");
    return keys;
}

// ---- repairs ----

void DeleteValue(const std::wstring& key, const std::wstring& name, const std::wstring& what, Report& report) {
    RegKey k;
    LONG rc = k.Open(HKEY_CURRENT_USER, key, KEY_SET_VALUE);
    if (rc == ERROR_SUCCESS) rc = RegDeleteValueW(k.get(), name.c_str());
    if (rc == ERROR_SUCCESS) report.changes.push_back(L"removed " + what + L" (value \"" + name + L"\" of HKCU\\" + key + L")");
    else report.fixErrors.push_back(L"could not remove " + what + L" from HKCU\\" + key + L": " + ErrorText(rc));
}

void SetDword(const std::wstring& key, const std::wstring& name, DWORD value, bool create, const std::wstring& what,
              Report& report) {
    RegKey k;
    LONG rc = create ? k.Create(HKEY_CURRENT_USER, key) : k.Open(HKEY_CURRENT_USER, key, KEY_SET_VALUE);
    if (rc == ERROR_SUCCESS)
        rc = RegSetValueExW(k.get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    if (rc == ERROR_SUCCESS) report.changes.push_back(what + L" (HKCU\\" + key + L", " + name + L" = " + std::to_wstring(value) + L")");
    else report.fixErrors.push_back(L"could not write HKCU\\" + key + L" " + name + L": " + ErrorText(rc));
}

void ApplyFixes(const Options& options, const Facts& f, Report& report) {
    if (JudgeLoadBehavior(ReadAddInKeys(f)).userValueFixable)
        SetDword(AddInKey(), L"LoadBehavior", 3, false, L"LoadBehavior set back from 2 to 3: Excel loads the add-in at its next start", report);
    for (const std::wstring& v : f.versions) {
        for (const auto& [name, raw] : ReadValues(HKEY_CURRENT_USER, DisabledItemsKey(v))) {
            auto item = raw.type == REG_BINARY ? ParseDisabledItem(raw.data) : std::nullopt;
            if (IsOurDisabledItem(item, f))
                DeleteValue(DisabledItemsKey(v), name, L"Office " + v + L" DisabledItems entry \"" + item->friendlyName + L"\"", report);
        }
        for (const auto& [name, raw] : ReadValues(HKEY_CURRENT_USER, CrashingAddinListKey(v)))
            if (IsOurListValue(name, f)) DeleteValue(CrashingAddinListKey(v), name, L"Office " + v + L" CrashingAddinList entry", report);
        for (const auto& [name, raw] : ReadValues(HKEY_CURRENT_USER, SlowStartListKey(v)))
            if (IsOurListValue(name, f)) DeleteValue(SlowStartListKey(v), name, L"Office " + v + L" record of a slow start-up", report);
    }
    if (options.keepEnabled)
        for (const std::wstring& v : KeepEnabledVersions(f))
            if (ReadDword(HKEY_CURRENT_USER, DoNotDisableAddinListKey(v), kProgId) != 1u)
                SetDword(DoNotDisableAddinListKey(v), kProgId, 1, true,
                         L"listed in Office " + v + L" DoNotDisableAddinList: Office keeps the add-in on after a slow start", report);
}

// ---- checks ----

Check CheckExcel(const Facts& f) {
    Check c{L"excel", L"Excel installed, version and bitness", Status::Ok, {}, {}};
    if (!f.office.installed) {
        c.status = Status::Fail;
        c.detail = L"No Excel found: neither Click-to-Run (HKLM\\" + std::wstring(kClickToRun) +
                   L", Platform) nor an Excel.exe under HKLM\\" + kAppPaths + L".";
        c.fix = L"Install Microsoft Excel; the add-in runs inside Excel.";
        return c;
    }
    c.detail = ProductName(f.office.version) + (f.office.fullVersion.empty() ? L"" : L" (" + f.office.fullVersion + L")") +
               L", " + BitsText(f.office.bits) + L", " + f.office.how + L".";
    if (!f.office.bits) {
        c.status = Status::Warn;
        c.detail += L" The bitness cannot be read, so the checks below use the " + ViewText(f.view) + L".";
        c.fix = L"Repair the Office installation.";
    }
    return c;
}

Check CheckClass(const Facts& f) {
    Check c{L"class-registration", L"Class registration (ProgID, CLSID, InprocServer32)", Status::Ok, {}, {}};
    const std::wstring where = L" in the " + ViewText(f.view) + L" (Office's)";
    if (!f.reg.progId || f.reg.dllPath.empty()) {
        c.status = Status::Fail;
        c.detail = !f.reg.progId ? std::wstring(L"The ProgID ") + kProgId + L" is not registered" + where + L", so Excel cannot create the add-in."
                                 : std::wstring(kProgId) + L" -> " + f.reg.clsid + L", but the class has no InprocServer32" + where +
                                       L", so Excel cannot create the add-in.";
        // ProgIDs are shared by both views, classes are not: a class of the other bitness shows here.
        ClassRegistration other = ReadClass(f.view == KEY_WOW64_32KEY ? KEY_WOW64_64KEY : KEY_WOW64_32KEY);
        if (!other.dllPath.empty())
            c.detail += L" It is registered in the other view (" + ViewText(other.view) + L", " + other.dllPath +
                        L"): the package of the other bitness is installed.";
        c.fix = kReinstall;
        return c;
    }
    c.detail = std::wstring(kProgId) + L" -> " + f.reg.clsid + L" -> " + f.reg.dllPath + where + L", under " + f.reg.classesHive +
               L"; ThreadingModel " + (f.reg.threadingModel.empty() ? L"(none)" : f.reg.threadingModel) + L".";
    if (!FileExists(f.dllPath)) {
        c.status = Status::Fail;
        c.detail += L" The DLL is not there: Excel cannot load the add-in.";
        c.fix = kReinstall;
    } else if (_wcsicmp(f.reg.threadingModel.c_str(), L"Apartment") != 0) {
        c.status = Status::Warn;
        c.detail += L" The add-in is written for Excel's single-threaded apartment (\"Apartment\").";
        c.fix = kReinstall;
    }
    return c;
}

Check CheckDllBitness(const Facts& f) {
    Check c{L"dll-bitness", L"Add-in DLL bitness matches Office", Status::Ok, {}, {}};
    if (f.dllPath.empty() || !FileExists(f.dllPath)) {
        c.status = Status::Fail;
        c.detail = L"No registered add-in DLL to read.";
        c.fix = kReinstall;
        return c;
    }
    auto pe = ReadPeInfo(f.dllPath);
    if (!pe) {
        c.status = Status::Fail;
        c.detail = f.dllPath + L" is not a Windows DLL (no PE header).";
        c.fix = kReinstall;
        return c;
    }
    c.detail = f.dllPath + L" is " + MachineName(pe->machine) + L"; Office is " + BitsText(f.office.bits) + L".";
    if (f.office.bits && pe->bits != f.office.bits) {
        c.status = Status::Fail;
        c.detail += L" Office cannot load a DLL of the other bitness.";
        c.fix = kReinstall;
    } else if (!f.office.bits) {
        c.status = Status::Warn;
        c.detail += L" It cannot be compared.";
        c.fix = L"Repair the Office installation.";
    }
    return c;
}

Check CheckTypeLibrary(const Facts& f) {
    Check c{L"type-library", L"Type library registered", Status::Ok, {}, {}};
    if (!f.reg.progId) {
        c.status = Status::Warn;
        c.detail = L"No class registration to follow to a type library.";
        c.fix = kReinstall;
        return c;
    }
    if (f.reg.typeLib.empty()) {
        c.status = Status::Warn;
        c.detail = L"The class names no type library (CLSID\\" + f.reg.clsid + L"\\TypeLib); scripts that bind to the add-in by name fail.";
        c.fix = kReinstall;
        return c;
    }
    const std::wstring version = f.reg.version.empty() ? L"1.0" : f.reg.version;
    // TypeLib\<libid>\<version>\<locale id in hex>\win32 or win64: the path of the library.
    const std::wstring versionKey = L"Software\\Classes\\TypeLib\\" + f.reg.typeLib + L"\\" + version;
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        for (REGSAM view : {f.view, ViewFor(f.office.bits == 32 ? 64 : 32)}) {
            for (const std::wstring& locale : SubKeys(root, versionKey, view)) {
                if (locale.find_first_not_of(L"0123456789abcdefABCDEF") != std::wstring::npos) continue;  // FLAGS, HELPDIR
                for (const wchar_t* kind : {L"win32", L"win64"}) {
                    const std::wstring key = versionKey + L"\\" + locale + L"\\" + kind;
                    auto file = ReadText(root, key, L"", view);
                    if (!file) continue;
                    c.detail = L"Type library " + f.reg.typeLib + L" " + version + L" at " + *file + L" (" + HiveName(root) + L"\\" + key + L").";
                    if (!FileExists(Unquoted(*file))) {
                        c.status = Status::Warn;
                        c.detail += L" The file is not there.";
                        c.fix = kReinstall;
                    }
                    return c;
                }
            }
        }
    }
    c.status = Status::Warn;
    c.detail = L"Type library " + f.reg.typeLib + L" " + version + L" is not registered; scripts that bind to the add-in by name fail.";
    c.fix = kReinstall;
    return c;
}

Check CheckAddInKey(const Facts& f) {
    Check c{L"addin-key", L"Add-in key and LoadBehavior (HKLM and HKCU\\" + AddInKey() + L")", Status::Ok, {}, {}};
    LoadBehaviorVerdict v = JudgeLoadBehavior(ReadAddInKeys(f));
    c.status = v.status;
    c.detail = v.detail;
    c.fix = v.fix;
    return c;
}

// The add-in's values in one of Office's per-version lists under Resiliency, each described for the
// report by `describe(version, name, value)`.
template <typename Describe>
std::vector<std::wstring> OurListValues(const Facts& f, std::wstring (*listKey)(const std::wstring&), Describe describe) {
    std::vector<std::wstring> found;
    for (const std::wstring& v : f.versions)
        for (const auto& [name, raw] : ReadValues(HKEY_CURRENT_USER, listKey(v)))
            if (IsOurListValue(name, f)) found.push_back(describe(v, name, raw));
    return found;
}

std::wstring Joined(const std::vector<std::wstring>& items, const wchar_t* separator) {
    std::wstring out;
    for (size_t i = 0; i < items.size(); ++i) out += (i ? separator : L"") + items[i];
    return out;
}

Check CheckDisabledItems(const Facts& f) {
    Check c{L"disabled-items", L"Office's list of disabled add-ins (Resiliency\\DisabledItems)", Status::Ok, {}, {}};
    std::vector<std::wstring> ours, elsewhere;
    int malformed = 0;
    for (const std::wstring& v : f.versions)
        for (const auto& [name, raw] : ReadValues(HKEY_CURRENT_USER, DisabledItemsKey(v))) {
            auto item = raw.type == REG_BINARY ? ParseDisabledItem(raw.data) : std::nullopt;
            if (!item) ++malformed;
            else if (IsOurDisabledItem(item, f)) ours.push_back(L"Office " + v + L": \"" + item->friendlyName + L"\" (" + item->path + L")");
            else if (item->type == kDisabledAddIn && SamePath(FileNameOf(item->path), L"vortelixexcel.dll"))
                elsewhere.push_back(L"Office " + v + L": " + item->path);
        }
    if (!ours.empty()) {
        c.status = Status::Fail;
        c.detail = L"Office turned the add-in off after it crashed Excel: " + Joined(ours, L"; ") +
                   L". Excel does not load it until the entry is removed.";
        c.fix = L"Run VORTELIXExcelCheck --fix, or in Excel: File > Options > Add-ins > Manage: Disabled Items > Enable.";
    } else {
        c.detail = f.dllPath.empty() ? L"No add-in DLL is registered to look for." : L"The add-in is not in the list.";
    }
    if (!elsewhere.empty()) {
        c.detail += L" Entries for a VORTELIXExcel.dll at another path, left alone:";
        for (const std::wstring& e : elsewhere) c.detail += L" " + e + L";";
    }
    if (malformed) c.detail += L" " + std::to_wstring(malformed) + L" entry(ies) of another format, left alone.";
    return c;
}

Check CheckCrashingList(const Facts& f) {
    Check c{L"crashing-addin-list", L"Office's record of add-ins loading when Excel crashed (Resiliency\\CrashingAddinList)", Status::Ok, {}, {}};
    std::vector<std::wstring> found = OurListValues(f, CrashingAddinListKey, [](const std::wstring& v, const std::wstring& name, const RawValue&) {
        return L"Office " + v + L" (" + name + L")";
    });
    if (found.empty()) {
        c.detail = L"The add-in is not in the list.";
        return c;
    }
    c.status = Status::Warn;
    c.detail = L"Excel ended while it was loading the add-in: " + Joined(found, L", ") +
               L". At its next start Office offers to turn the add-in off.";
    c.fix = L"Run VORTELIXExcelCheck --fix; if Excel keeps crashing, send the Application event log to support.";
    return c;
}

Check CheckSlowStart(const Facts& f) {
    Check c{L"slow-start", L"Record of a slow start-up (Resiliency\\SlowStartAddinList)", Status::Ok, {}, {}};
    std::vector<std::wstring> found = OurListValues(f, SlowStartListKey, [](const std::wstring& v, const std::wstring&, const RawValue& raw) {
        auto ms = AsDword(raw);
        return L"Office " + v + (ms ? L": " + std::to_wstring(*ms) + L" ms" : L"");
    });
    if (found.empty()) {
        c.detail = L"No slow start-up is recorded.";
        return c;
    }
    c.status = Status::Warn;
    c.detail = L"The add-in's start-up took longer than Office allows (1,000 ms): " + Joined(found, L", ") +
               L". Office turns slow add-ins off unless they are listed in DoNotDisableAddinList.";
    c.fix = L"Run VORTELIXExcelCheck --fix --keep-enabled to keep it on; look for what slows Excel's start (antivirus, network drives).";
    return c;
}

Check CheckDoNotDisable(const Facts& f) {
    Check c{L"do-not-disable-list", L"Kept on after a slow start (Resiliency\\DoNotDisableAddinList)", Status::Ok, {}, {}};
    std::vector<std::wstring> listed;
    for (const std::wstring& v : f.versions)
        if (ReadDword(HKEY_CURRENT_USER, DoNotDisableAddinListKey(v), kProgId) == 1u) listed.push_back(v);
    if (listed.empty()) {
        c.detail = L"Not listed: Office may turn the add-in off after a slow start (VORTELIXExcelCheck --fix --keep-enabled lists it).";
    } else {
        c.detail = L"Listed for Office";
        for (const std::wstring& v : listed) c.detail += L" " + v;
        c.detail += L": Office keeps the add-in on after a slow start.";
    }
    return c;
}

Check CheckPolicyList(const Facts& f) {
    Check c{L"policy-addin-list", L"Administrator's list of managed add-ins (Policies ...\\Resiliency\\AddinList)", Status::Ok, {}, {}};
    std::vector<std::wstring> notes;
    for (const std::wstring& v : f.versions) {
        auto raw = ReadValue(HKEY_CURRENT_USER, PolicyAddinListKey(v), kProgId);
        if (!raw) continue;
        std::wstring setting;
        if (auto dw = AsDword(raw)) setting = std::to_wstring(*dw);
        else if (auto text = ReadText(HKEY_CURRENT_USER, PolicyAddinListKey(v), kProgId)) setting = *text;
        if (setting == L"0") {
            c.status = Status::Fail;
            notes.push_back(L"Office " + v + L": 0, always turned off by policy");
            c.fix = L"Ask the administrator of the group policy \"List of managed add-ins\" to set the add-in to 1 (always enabled).";
        } else if (setting == L"1") {
            notes.push_back(L"Office " + v + L": 1, always on by policy");
        } else if (setting == L"2") {
            notes.push_back(L"Office " + v + L": 2, the user may turn it on and off");
        } else {
            if (c.status == Status::Ok) c.status = Status::Warn;
            notes.push_back(L"Office " + v + L": \"" + setting + L"\", a value Office does not know");
            c.fix = L"Set the add-in's entry in the policy \"List of managed add-ins\" to 1 (always enabled).";
        }
    }
    if (notes.empty()) {
        c.detail = L"The add-in is not in the policy list.";
        return c;
    }
    for (size_t i = 0; i < notes.size(); ++i) c.detail += (i ? L"; " : L"") + notes[i];
    c.detail += L".";
    return c;
}

LONG VerifySignature(const std::wstring& path) {
    static const auto verify = SystemFunction<decltype(&WinVerifyTrust)>(L"wintrust.dll", "WinVerifyTrust");
    if (!verify) return TRUST_E_PROVIDER_UNKNOWN;
    WINTRUST_FILE_INFO file{};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = path.c_str();
    WINTRUST_DATA data{};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    LONG result = verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    return result;
}

Check CheckSigning(const Facts& f) {
    Check c{L"signing", L"Signing policy (RequireAddinSig) and the DLL's signature", Status::Ok, {}, {}};
    std::vector<std::wstring> requiring;
    for (const std::wstring& v : f.versions)
        if (ReadDword(HKEY_CURRENT_USER, SecurityPolicyKey(v), L"RequireAddinSig") == 1u) requiring.push_back(v);
    const bool required = f.office.version.empty()
                              ? !requiring.empty()
                              : std::find(requiring.begin(), requiring.end(), f.office.version) != requiring.end();
    std::wstring signature;
    bool valid = false;
    auto pe = f.dllPath.empty() ? std::nullopt : ReadPeInfo(f.dllPath);
    if (!pe) {
        signature = L"no registered DLL to read";
    } else if (!pe->hasSignature) {
        signature = L"the DLL carries no signature";
    } else {
        LONG rc = VerifySignature(f.dllPath);
        valid = rc == ERROR_SUCCESS;
        wchar_t hex[16];
        swprintf(hex, 16, L"0x%08lX", static_cast<unsigned long>(rc));
        signature = valid ? L"the DLL is signed and the signature verifies" : L"the DLL is signed but its signature does not verify (" + std::wstring(hex) + L")";
    }
    if (!required) {
        c.detail = L"Office does not require signed add-ins here (RequireAddinSig not 1); " + signature + L".";
        return c;
    }
    c.detail = L"Policy RequireAddinSig = 1 (HKCU\\Software\\Policies\\Microsoft\\Office\\<version>\\Excel\\Security): "
               L"Office turns unsigned add-ins off; " + signature + L".";
    if (!valid) {
        c.status = Status::Fail;
        c.fix = L"Install a build of the add-in signed with a certificate this machine trusts, with its publisher in "
                L"Trusted Publishers, or ask the administrator to lift the policy.";
    }
    return c;
}

Check CheckUploader(const Facts& f) {
    Check c{L"uploader", L"Order uploader Dravenport.exe next to the add-in", Status::Ok, {}, {}};
    if (f.dllPath.empty()) {
        c.status = Status::Fail;
        c.detail = L"No registered add-in DLL, so no folder to look in.";
        c.fix = kReinstall;
        return c;
    }
    const std::wstring uploader = FolderOf(f.dllPath) + L"Dravenport.exe";
    if (FileExists(uploader)) {
        c.detail = uploader + L" is there.";
    } else {
        c.status = Status::Fail;
        c.detail = uploader + L" is missing: \"Bestelling verwerken\" cannot hand orders over.";
        c.fix = L"Install the package again (it installs both files), or copy Dravenport.exe into " + FolderOf(f.dllPath) + L".";
    }
    return c;
}

// Whether this user owns the folder: the token's user, or the default owner of what it creates
// (an administrator's full token makes the Administrators group the owner). `owner` names the
// owner found, for the report.
bool OwnedByThisUser(const std::wstring& folder, std::wstring& owner) {
    PSID sid = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &sid, nullptr, nullptr,
                              nullptr, &descriptor) != ERROR_SUCCESS) {
        owner = L"an owner that cannot be read";
        return false;
    }
    bool mine = false;
    HANDLE token = nullptr;
    if (sid && OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        for (TOKEN_INFORMATION_CLASS what : {TokenUser, TokenOwner}) {
            DWORD size = 0;
            GetTokenInformation(token, what, nullptr, 0, &size);
            std::vector<BYTE> buffer(size);
            if (!size || !GetTokenInformation(token, what, buffer.data(), size, &size)) continue;
            PSID me = what == TokenUser ? reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid
                                        : reinterpret_cast<TOKEN_OWNER*>(buffer.data())->Owner;
            mine = mine || EqualSid(sid, me);
        }
        CloseHandle(token);
    }
    LPWSTR text = nullptr;
    owner = sid && ConvertSidToStringSidW(sid, &text) ? text : L"an unknown owner";
    if (text) LocalFree(text);
    LocalFree(descriptor);
    return mine;
}

Check CheckWorkFolder() {
    Check c{L"work-folder", L"Work folder %TEMP%\\VortelixExcel", Status::Ok, {}, {}};
    wchar_t temp[MAX_PATH] = {}, longTemp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    std::wstring base = GetLongPathNameW(temp, longTemp, MAX_PATH) ? longTemp : temp;
    const std::wstring folder = base + L"VortelixExcel";
    const DWORD attrs = GetFileAttributesW(folder.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES) {
        if (!CreateDirectoryW(folder.c_str(), nullptr)) {
            LONG rc = static_cast<LONG>(GetLastError());
            c.status = Status::Fail;
            c.detail = folder + L" cannot be created: " + ErrorText(rc) + L". The hand-off needs it.";
            c.fix = L"Give the user write access to " + base + L", or point TEMP at a folder the user may write.";
            return c;
        }
        RemoveDirectoryW(folder.c_str());  // the check leaves nothing behind
        c.detail = folder + L" does not exist yet and can be created.";
        return c;
    }
    if (attrs & FILE_ATTRIBUTE_REPARSE_POINT) {
        c.status = Status::Fail;
        c.detail = folder + L" is a link (reparse point), not a real folder: the hand-off does not write orders through it.";
        c.fix = L"Remove the link (rmdir \"" + folder + L"\"); the add-in creates a real folder.";
        return c;
    }
    if (!(attrs & FILE_ATTRIBUTE_DIRECTORY)) {
        c.status = Status::Fail;
        c.detail = folder + L" is a file, not a folder: the hand-off cannot create its work folder.";
        c.fix = L"Move the file " + folder + L" away.";
        return c;
    }
    if (std::wstring owner; !OwnedByThisUser(folder, owner)) {
        c.status = Status::Fail;
        c.detail = folder + L" belongs to " + owner +
                   L", not to this user: the hand-off neither empties nor writes an order into another user's folder.";
        c.fix = L"Remove the folder (rmdir /s \"" + folder + L"\" as its owner or an administrator), or give the user a "
                L"TEMP folder of their own; the add-in creates its work folder there.";
        return c;
    }
    const std::wstring probe = folder + L"\\healthcheck-" + std::to_wstring(GetCurrentProcessId()) + L".tmp";
    HANDLE h = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        LONG rc = static_cast<LONG>(GetLastError());
        c.status = Status::Fail;
        c.detail = folder + L" is a folder, but no file can be written in it: " + ErrorText(rc) + L".";
        c.fix = L"Give the user write access to " + folder + L".";
        return c;
    }
    CloseHandle(h);
    c.detail = folder + L" is a real folder and writable.";
    return c;
}

Check CheckEventSource() {
    Check c{L"event-log-source", L"Event log source \"VORTELIX Excel\"", Status::Ok, {}, {}};
    const std::wstring key = L"HKLM\\" + std::wstring(kEventSource);
    auto files = ReadText(HKEY_LOCAL_MACHINE, kEventSource, L"EventMessageFile");
    const wchar_t* fix = L"Register the add-in again (package repair, or regsvr32 from an elevated prompt).";
    if (!KeyExists(HKEY_LOCAL_MACHINE, kEventSource)) {
        c.status = Status::Warn;
        c.detail = key + L" is missing: the add-in's errors reach the Application log without readable text.";
        c.fix = fix;
        return c;
    }
    if (!files || files->empty()) {
        c.status = Status::Warn;
        c.detail = key + L" has no EventMessageFile: Event Viewer cannot show the add-in's messages.";
        c.fix = fix;
        return c;
    }
    std::wstring missing;
    size_t start = 0;
    while (start <= files->size()) {
        size_t end = files->find(L';', start);
        if (end == std::wstring::npos) end = files->size();
        std::wstring one = Unquoted(files->substr(start, end - start));
        if (!one.empty() && !FileExists(one)) missing += (missing.empty() ? L"" : L", ") + one;
        start = end + 1;
    }
    c.detail = key + L", EventMessageFile " + *files;
    if (!missing.empty()) {
        c.status = Status::Warn;
        c.detail += L": " + missing + L" is missing, so Event Viewer cannot show the add-in's messages.";
        c.fix = fix;
    } else {
        c.detail += L".";
    }
    return c;
}

Check CheckLogLevel() {
    Check c{L"log-level", L"Log level in force (LogLevel)", Status::Ok, {}, {}};
    LogLevel level = ResolveLogLevel(ReadValue(HKEY_LOCAL_MACHINE, kLogPolicy, L"LogLevel"),
                                     ReadValue(HKEY_CURRENT_USER, kLogUser, L"LogLevel"));
    c.detail = L"Level " + LogLevelMeaning(level.level) + L", from the " + level.source + L".";
    if (level.malformed) {
        c.status = Status::Warn;
        c.detail += L" The value set there is not a DWORD from 0 to 3, so the default applies.";
        c.fix = L"Set LogLevel as a DWORD: 0 off, 1 errors, 2 errors and hand-offs, 3 verbose.";
    }
    return c;
}

}  // namespace

REGSAM ViewFor(int bits) { return (bits ? bits : OwnBits()) == 64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY; }

OfficeInstall FindOffice() {
    OfficeInstall o;
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        auto platform = ReadText(HKEY_LOCAL_MACHINE, kClickToRun, L"Platform", view);
        if (!platform) continue;
        o.installed = true;
        o.how = L"Click-to-Run (Platform " + *platform + L")";
        o.bits = _wcsicmp(platform->c_str(), L"x64") == 0 ? 64 : _wcsicmp(platform->c_str(), L"x86") == 0 ? 32 : 0;
        o.fullVersion = ReadText(HKEY_LOCAL_MACHINE, kClickToRun, L"VersionToReport", view).value_or(L"");
        const size_t dot = o.fullVersion.find(L'.');
        o.version = dot == std::wstring::npos ? L"16.0" : o.fullVersion.substr(0, dot) + L".0";
        return o;
    }
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        auto path = ReadText(HKEY_LOCAL_MACHINE, kAppPaths, L"", view);
        if (!path) continue;
        const std::wstring exe = Unquoted(*path);
        if (!FileExists(exe)) continue;
        o.installed = true;
        o.how = L"Excel.exe at " + exe;
        if (auto pe = ReadPeInfo(exe)) o.bits = pe->bits;
        WORD major = 0;
        o.fullVersion = FileVersion(exe, &major);
        if (major) o.version = std::to_wstring(major) + L".0";
        return o;
    }
    return o;
}

Report RunHealthCheck(const Options& options) {
    Report report;
    wchar_t name[256] = {};
    DWORD size = 256;
    if (GetComputerNameW(name, &size)) report.computer = name;
    size = 256;
    if (GetUserNameW(name, &size)) report.user = name;
    if (options.fix) ApplyFixes(options, Gather(), report);
    const Facts f = Gather();
    report.checks = {CheckExcel(f),         CheckClass(f),        CheckDllBitness(f),   CheckTypeLibrary(f),
                     CheckAddInKey(f),      CheckDisabledItems(f), CheckCrashingList(f), CheckSlowStart(f),
                     CheckDoNotDisable(f),  CheckPolicyList(f),   CheckSigning(f),      CheckUploader(f),
                     CheckWorkFolder(),     CheckEventSource(),   CheckLogLevel()};
    if (options.live) {
        Check live = RunLiveCheck(options.liveOptions, report.checks);
        report.checks.push_back(std::move(live));
    }
    return report;
}

}  // namespace qvrcheck
