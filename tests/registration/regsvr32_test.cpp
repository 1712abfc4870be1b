// Registration for real: the system's regsvr32 on the built VORTELIXExcel.dll, and an
// installer-like caller for the per-user switches, in this test's own Wine prefix. The registry
// is compared as a whole before and after, so that a key written anywhere else shows up.
#include "excel_sim.h"
#include "office_host.h"
#include "reg_support.h"

#include <gtest/gtest.h>

#include <iterator>
#include <set>

using namespace regtest;

namespace {

const std::wstring kAddInDll = WindowsPath(QVR_ADDIN_DLL);

std::wstring Quoted(const std::wstring& s) { return L"\"" + s + L"\""; }

DWORD Regsvr32(const std::wstring& switches, const std::wstring& dll) {
    return RunProgram(L"regsvr32.exe", switches + L" " + Quoted(dll));
}

// The installer-like caller: loads the DLL and calls one export, with extra switches on its own
// command line. 0: S_OK, 1: E_FAIL.
DWORD CallExport(const std::wstring& dll, const wchar_t* what, const std::wstring& switches = L"") {
    return RunProgram(ProgramFolder() + L"reg_caller.exe", Quoted(dll) + L" " + what + L" " + switches);
}

std::wstring Upper(std::wstring s) {
    CharUpperBuffW(s.data(), static_cast<DWORD>(s.size()));
    return s;
}

// The changes as "+ PATH|VALUE = data" lines with the path upper-cased and without the views'
// "Wow6432Node" components (a key written in both views counts once).
std::set<std::wstring> LogicalChanges(const Snapshot& before, const Snapshot& after) {
    std::set<std::wstring> out;
    for (const auto& line : Changes(before, after)) {
        size_t eq = line.find(L" = ");
        std::wstring path = line.substr(0, eq), data = eq == std::wstring::npos ? L"" : line.substr(eq);
        out.insert(Upper(LogicalPath(path)) + data);
    }
    return out;
}

// Splits off the type library's own entries: its TypeLib key and the Interface key the system
// writes for its dual interface, under the machine's or (registered per user) the user's classes.
std::set<std::wstring> TakeTypeLibrary(std::set<std::wstring>& changes) {
    std::set<std::wstring> typeLib;
    for (auto it = changes.begin(); it != changes.end();) {
        bool ours = false;
        for (const wchar_t* hive : {L"+ HKLM", L"+ HKCU"}) {
            ours = ours || it->rfind(Upper(hive + (L"\\Software\\Classes\\TypeLib\\" + kLibid)), 0) == 0;
            for (const auto& [iid, name] : kInterfaces)
                ours = ours || it->rfind(Upper(hive + (L"\\Software\\Classes\\Interface\\" + iid)), 0) == 0;
        }
        if (ours) {
            typeLib.insert(*it);
            it = changes.erase(it);
        } else {
            ++it;
        }
    }
    return typeLib;
}

// Takes away the parent keys of the Excel add-in key under the current user that the running
// add-in created with it (start-up opens its key, creating it and any missing parents). They
// belong to Office's key structure and hold nothing; unregistration deletes the add-in key only.
void TakeEmptyParentsOfTheUserAddInKey(std::set<std::wstring>& changes) {
    std::wstring key = Upper(L"+ HKCU\\" + kExcelAddInKey);
    for (auto it = changes.begin(); it != changes.end();) {
        bool parent = it->find(L'|') == std::wstring::npos && key.rfind(*it + L"\\", 0) == 0;
        it = parent ? changes.erase(it) : std::next(it);
    }
}

// The class keys registration writes, as logical change lines.
std::set<std::wstring> ClassKeyLines(const std::wstring& classes, const std::wstring& serverPath) {
    std::wstring clsid = Upper(classes + L"\\CLSID\\" + kClsid), progId = Upper(classes + L"\\" + kProgId);
    return {
        L"+ " + clsid,
        L"+ " + clsid + L"| = sz:" + kDescription,
        L"+ " + clsid + L"\\INPROCSERVER32",
        L"+ " + clsid + L"\\INPROCSERVER32| = sz:" + serverPath,
        L"+ " + clsid + L"\\INPROCSERVER32|THREADINGMODEL = sz:Apartment",
        L"+ " + progId,
        L"+ " + progId + L"| = sz:" + kDescription,
        L"+ " + progId + L"\\CLSID",
        L"+ " + progId + L"\\CLSID| = sz:" + kClsid,
        L"+ " + clsid + L"\\PROGID",
        L"+ " + clsid + L"\\PROGID| = sz:" + kProgId,
        L"+ " + clsid + L"\\VERSION",
        L"+ " + clsid + L"\\VERSION| = sz:1.0",
        L"+ " + clsid + L"\\TYPELIB",
        L"+ " + clsid + L"\\TYPELIB| = sz:" + kLibid,
    };
}

std::set<std::wstring> ExcelAddInKeyLines() {
    std::wstring key = Upper(L"HKLM\\" + kExcelAddInKey);
    return {
        L"+ " + key,
        L"+ " + key + L"|COMMANDLINESAFE = dword:0",
        L"+ " + key + L"|DESCRIPTION = sz:VORTELIX Excel plugin",
        L"+ " + key + L"|FRIENDLYNAME = sz:VORTELIX Excel",
        L"+ " + key + L"|LOADBEHAVIOR = dword:3",
    };
}

// The add-in's source in the Application log, with the registered DLL as its message file.
std::set<std::wstring> EventSourceLines(const std::wstring& dll) {
    std::wstring key = Upper(L"HKLM\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\VORTELIX Excel");
    return {
        L"+ " + key,
        L"+ " + key + L"|EVENTMESSAGEFILE = expand:" + dll,
        L"+ " + key + L"|TYPESSUPPORTED = dword:7",
    };
}

std::set<std::wstring> Union(std::set<std::wstring> a, const std::set<std::wstring>& b) {
    a.insert(b.begin(), b.end());
    return a;
}

// InprocServer32 holds the short form of a path with a blank.
std::wstring InprocPath(const std::wstring& dll) {
    if (dll.find(L' ') == std::wstring::npos) return dll;
    wchar_t shortPath[MAX_PATH];
    return GetShortPathNameW(dll.c_str(), shortPath, MAX_PATH) ? shortPath : L"";
}

std::wstring Folder(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\') + 1); }

void ExpectTypeLibrary(const std::set<std::wstring>& typeLib, const std::wstring& longPath) {
    std::wstring key = Upper(L"+ HKLM\\Software\\Classes\\TypeLib\\" + kLibid + L"\\1.0");
    EXPECT_TRUE(typeLib.count(key + L"| = sz:VORTELIXExcel Library"));
    // Under the system kind of the DLL's own bitness, where Office and VBA of that bitness look.
    EXPECT_TRUE(typeLib.count(key + L"\\409\\" + Upper(kTypeLibPlatform) + L"| = sz:" + longPath))
        << "registered with the long path";
    for (const auto& line : typeLib)
        EXPECT_EQ(std::wstring::npos, line.find(L"\\409\\" + Upper(kOtherTypeLibPlatform))) << line.c_str();
    EXPECT_TRUE(typeLib.count(key + L"\\HELPDIR| = sz:" + Folder(longPath))) << "and its folder as help directory";
    for (const auto& [iid, name] : kInterfaces)
        EXPECT_TRUE(typeLib.count(Upper(L"+ HKLM\\Software\\Classes\\Interface\\" + iid) + L"| = sz:" + name))
            << testing::PrintToString(name);
}

std::wstring Lines(const std::set<std::wstring>& lines) {
    std::wstring out;
    for (const auto& l : lines) out += l + L"\n";
    return out;
}

// Excel as the stand-in plays it: finds the add-in's key with LoadBehavior 3, creates the class
// by its ProgID through COM, and runs it from start-up to shut-down. Returns the path of the DLL
// the add-in object came from.
std::wstring ExcelLoadsTheAddIn() {
    EXPECT_EQ(3u, ReadDword(HKEY_LOCAL_MACHINE, kExcelAddInKey, L"LoadBehavior"));
    std::wstring loadedFrom;
    {
        auto app = officesim::ExcelApplicationSim::Make<officesim::ExcelApplicationSim>();
        auto inst = officesim::COMAddInSim::Make<officesim::COMAddInSim>();
        officesim::OfficeHost host;
        EXPECT_EQ(S_OK, host.LoadByProgId(kProgId));
        if (!host.AddIn()) return L"";
        HMODULE module = nullptr;
        wchar_t path[MAX_PATH] = {};
        if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                               *reinterpret_cast<LPCWSTR*>(host.AddIn()), &module) &&
            GetModuleFileNameW(module, path, MAX_PATH) && GetLongPathNameW(path, path, MAX_PATH))
            loadedFrom = path;
        EXPECT_EQ(S_OK, host.Connect(app.Get(), 1, inst.Get()));
        EXPECT_EQ(S_OK, host.StartupComplete());
        EXPECT_EQ(S_OK, host.BeginShutdown());
        EXPECT_EQ(S_OK, host.Disconnect(0));
        inst->object.Reset();
        host.ReleaseAddIn();
    }
    CoFreeUnusedLibrariesEx(0, 0);
    return loadedFrom;
}

class Regsvr32Test : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(kAddInDll.empty());
        ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(kAddInDll.c_str())) << "the built DLL";
    }
    // Whatever a failed test left behind does not reach the next one.
    void TearDown() override {
        for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER}) {
            std::wstring prefix = root == HKEY_CURRENT_USER ? L"Software\\Classes\\" : L"";
            DeleteTree(root, prefix + L"CLSID\\" + kClsid);
            DeleteTree(root, prefix + kProgId);
        }
        UnRegisterTypeLib(kLibidGuid, 1, 0, 0x409, kSysKind);
        DeleteTree(HKEY_LOCAL_MACHINE, kExcelAddInKey);
        DeleteTree(HKEY_CURRENT_USER, kExcelAddInKey);
        DeleteTree(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\VORTELIX Excel");
        UninstallExcel();
    }
};

// Where the DLL is registered from: the build's folder, or a folder with a blank in its name,
// where COM gets the short form of the path and the type library the long one.
struct FolderCase {
    const char* name;
    const wchar_t* folder;  // under %TEMP%; null: the built DLL where it is
};
void PrintTo(const FolderCase& c, std::ostream* os) { *os << c.name; }

class Regsvr32Folder : public Regsvr32Test, public testing::WithParamInterface<FolderCase> {
protected:
    void SetUp() override {
        Regsvr32Test::SetUp();
        if (!GetParam().folder) {
            dll_ = kAddInDll;
            return;
        }
        wchar_t temp[MAX_PATH], longTemp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        GetLongPathNameW(temp, longTemp, MAX_PATH);
        folder_ = std::wstring(longTemp) + GetParam().folder + L"\\";
        CreateDirectoryW(folder_.c_str(), nullptr);
        dll_ = folder_ + L"VORTELIXExcel.dll";
        ASSERT_TRUE(CopyFileW(kAddInDll.c_str(), dll_.c_str(), FALSE));
    }
    void TearDown() override {
        Regsvr32Test::TearDown();
        if (folder_.empty()) return;
        DeleteFileW(dll_.c_str());
        RemoveDirectoryW(folder_.c_str());
    }
    std::wstring folder_, dll_;
};

TEST_P(Regsvr32Folder, WritesExactlyTheListedKeysExcelLoadsItAndUnregistrationRemovesEveryTrace) {
    const std::wstring inproc = InprocPath(dll_);
    ASSERT_FALSE(inproc.empty());
    EXPECT_EQ(std::wstring::npos, inproc.find(L' ')) << "COM gets a path without blanks: " << inproc.c_str();
    InstallExcel();
    Snapshot before = TakeSnapshot();

    ASSERT_EQ(0u, Regsvr32(L"/s", dll_));
    Snapshot registered = TakeSnapshot();
    std::set<std::wstring> changes = LogicalChanges(before, registered);
    std::set<std::wstring> typeLib = TakeTypeLibrary(changes);
    std::set<std::wstring> expected =
        Union(Union(ClassKeyLines(L"HKLM\\Software\\Classes", inproc), ExcelAddInKeyLines()), EventSourceLines(dll_));
    EXPECT_EQ(Lines(expected), Lines(changes))
        << "the class keys, the all-users Excel key and the event-log source, nothing else";
    ExpectTypeLibrary(typeLib, dll_);

    ASSERT_EQ(0u, Regsvr32(L"/s", dll_));
    EXPECT_EQ(L"", Lines(LogicalChanges(registered, TakeSnapshot()))) << "registering again changes nothing";

    // Excel finds and loads it (COM through the path it was given); the running add-in keeps its
    // start mode under the current user.
    EXPECT_EQ(Upper(dll_), Upper(ExcelLoadsTheAddIn()));
    EXPECT_TRUE(ReadText(HKEY_CURRENT_USER, kExcelAddInKey, L"QVRStartMode").has_value());

    ASSERT_EQ(0u, Regsvr32(L"/u /s", dll_));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kExcelAddInKey));
    changes = LogicalChanges(before, TakeSnapshot());
    TakeEmptyParentsOfTheUserAddInKey(changes);
    EXPECT_EQ(L"", Lines(changes)) << "nothing of the add-in remains";

    ASSERT_EQ(0u, Regsvr32(L"/u /s", dll_)) << "unregistering twice succeeds";
    changes = LogicalChanges(before, TakeSnapshot());
    TakeEmptyParentsOfTheUserAddInKey(changes);
    EXPECT_EQ(L"", Lines(changes));
}

INSTANTIATE_TEST_SUITE_P(Folders, Regsvr32Folder,
                         testing::Values(FolderCase{"BuiltFolder", nullptr},
                                         FolderCase{"FolderWithABlank", L"VORTELIX Add In"}),
                         [](const testing::TestParamInfo<FolderCase>& info) { return std::string(info.param.name); });

TEST_F(Regsvr32Test, WithoutExcelOnlyTheTypeLibraryAndTheClassKeysAreWritten) {
    Snapshot before = TakeSnapshot();
    ASSERT_EQ(0u, Regsvr32(L"/s", kAddInDll));
    std::set<std::wstring> changes = LogicalChanges(before, TakeSnapshot());
    TakeTypeLibrary(changes);
    EXPECT_EQ(Lines(Union(ClassKeyLines(L"HKLM\\Software\\Classes", InprocPath(kAddInDll)), EventSourceLines(kAddInDll))),
              Lines(changes));
    ASSERT_EQ(0u, Regsvr32(L"/u /s", kAddInDll));
    EXPECT_EQ(L"", Lines(LogicalChanges(before, TakeSnapshot())));
}

TEST_F(Regsvr32Test, PerUserSwitchesPutTheClassKeysUnderTheCurrentUser) {
    InstallExcel();
    CreateKey(HKEY_CURRENT_USER, L"Software\\Classes\\CLSID");  // always there on Windows, not in a new prefix
    Snapshot before = TakeSnapshot();
    ASSERT_EQ(0u, CallExport(kAddInDll, L"register", L"/RegServerPerUser"));
    std::set<std::wstring> changes = LogicalChanges(before, TakeSnapshot());
    // Wine's per-user type library registration records the library machine-wide; Windows
    // records it under the user's classes. Either way it is the type library's own entry.
    EXPECT_FALSE(TakeTypeLibrary(changes).empty());
    EXPECT_EQ(Lines(Union(ClassKeyLines(L"HKCU\\Software\\Classes", InprocPath(kAddInDll)), ExcelAddInKeyLines())),
              Lines(changes))
        << "class keys under the current user; the Office add-in key and the machine's event log are not affected";
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID\\" + kClsid));

    ASSERT_EQ(0u, CallExport(kAddInDll, L"unregister", L"-UNREGSERVERPERUSER"));
    EXPECT_EQ(L"", Lines(LogicalChanges(before, TakeSnapshot())));
}

// A failure ends the call with E_FAIL and shows nothing: under the test's display a dialog would
// keep the caller waiting until the timeout.
TEST_F(Regsvr32Test, AnyFailureIsEFailAndShowsNothing) {
    InstallExcel();
    // A class key that cannot be written.
    std::wstring clsidKey = L"CLSID\\" + kClsid;
    CreateKey(HKEY_CLASSES_ROOT, clsidKey);
    MakeReadOnly(HKEY_CLASSES_ROOT, clsidKey);
    EXPECT_EQ(1u, CallExport(kAddInDll, L"register")) << "E_FAIL";
    DWORD regsvr32 = Regsvr32(L"/s", kAddInDll);
    EXPECT_NE(0u, regsvr32);
    EXPECT_NE(static_cast<DWORD>(-1), regsvr32) << "it ended by itself";
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kExcelAddInKey));
    MakeWritable(HKEY_CLASSES_ROOT, clsidKey);
    EXPECT_EQ(0u, CallExport(kAddInDll, L"unregister"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, clsidKey));
}

// ---------------------------------------------------------------------------------------------
// Failures that used to be reported as success
// ---------------------------------------------------------------------------------------------

// Excel's add-in key that cannot be written (an ACL that lets the administrator read it only, or
// a parent key the caller may not change): Excel would never load the add-in, so regsvr32 must
// fail, and what it had written (type library, class keys) is taken back. The same holds for a
// class key that cannot be written half-way through the class keys.
struct UnwritableKeyCase {
    const char* name;
    void (*block)();  // makes the add-in key impossible to open for writing
};
void PrintTo(const UnwritableKeyCase& c, std::ostream* os) { *os << c.name; }

class UnwritableAddInKey : public Regsvr32Test, public testing::WithParamInterface<UnwritableKeyCase> {
protected:
    void TearDown() override {
        if (KeyExists(HKEY_LOCAL_MACHINE, kExcelAddInKey)) MakeWritable(HKEY_LOCAL_MACHINE, kExcelAddInKey);
        Regsvr32Test::TearDown();
    }
};

TEST_P(UnwritableAddInKey, RegistrationFailsAndLeavesTheRegistryAsItWas) {
    InstallExcel();
    GetParam().block();
    Snapshot before = TakeSnapshot();
    DWORD exitCode = Regsvr32(L"/s", kAddInDll);
    EXPECT_NE(0u, exitCode) << "regsvr32 reports the failure";
    EXPECT_NE(static_cast<DWORD>(-1), exitCode) << "it ended by itself, showing nothing";
    EXPECT_EQ(L"", Lines(LogicalChanges(before, TakeSnapshot()))) << "nothing half-registered";
}

INSTANTIATE_TEST_SUITE_P(
    Table, UnwritableAddInKey,
    testing::Values(UnwritableKeyCase{"ReadOnlyKey",
                                      [] {
                                          CreateKey(HKEY_LOCAL_MACHINE, kExcelAddInKey);
                                          MakeReadOnly(HKEY_LOCAL_MACHINE, kExcelAddInKey);
                                      }},
                    UnwritableKeyCase{"AddInsFolderThatTakesNoKey",
                                      [] { MakeVolatile(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Office\\Excel\\AddIns"); }},
                    // The class key and its server key are written before the ProgID's.
                    UnwritableKeyCase{"ProgIdKeyAfterTheClassKeys",
                                      [] {
                                          CreateKey(HKEY_CLASSES_ROOT, kProgId);
                                          MakeReadOnly(HKEY_CLASSES_ROOT, kProgId);
                                      }}),
    [](const testing::TestParamInfo<UnwritableKeyCase>& info) { return std::string(info.param.name); });

// A DLL whose type library has no usable class: its factory cannot be built. Loading it stays
// harmless, but registration, unregistration and DllGetClassObject report the error instead of
// registering a type library for a class nobody can create.
struct BrokenLibraryCase {
    const char* name;
    std::wstring dll;
    std::wstring message;
};
void PrintTo(const BrokenLibraryCase& c, std::ostream* os) { *os << c.name; }

class BrokenTypeLibrary : public Regsvr32Test, public testing::WithParamInterface<BrokenLibraryCase> {};

TEST_P(BrokenTypeLibrary, RegistrationFailsAndWritesNothing) {
    const BrokenLibraryCase& c = GetParam();
    InstallExcel();
    Snapshot before = TakeSnapshot();
    DWORD exitCode = Regsvr32(L"/s", c.dll);
    EXPECT_NE(0u, exitCode);
    EXPECT_NE(static_cast<DWORD>(-1), exitCode);
    EXPECT_EQ(L"", Lines(LogicalChanges(before, TakeSnapshot()))) << "not even the type library";
    exitCode = Regsvr32(L"/u /s", c.dll);
    EXPECT_NE(0u, exitCode) << "unregistration reports it too";
    EXPECT_NE(static_cast<DWORD>(-1), exitCode);
}

TEST_P(BrokenTypeLibrary, GetClassObjectReportsWhyTheClassCannotBeServed) {
    const BrokenLibraryCase& c = GetParam();
    HMODULE dll = LoadLibraryW(c.dll.c_str());
    ASSERT_NE(nullptr, dll) << "loading the DLL does nothing that can fail";
    using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    using CanUnloadFn = HRESULT(STDAPICALLTYPE*)();
    auto getClassObject =
        reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(GetProcAddress(dll, "DllGetClassObject")));
    auto canUnload = reinterpret_cast<CanUnloadFn>(reinterpret_cast<void*>(GetProcAddress(dll, "DllCanUnloadNow")));
    ASSERT_NE(nullptr, getClassObject);
    const CLSID clsid = {0x5A7C2E91, 0x3D48, 0x4B6F, {0x9E, 0x21, 0x7C, 0x0D, 0x4A, 0x8B, 0x3F, 0x65}};
    for (int attempt = 0; attempt < 2; ++attempt) {  // the same answer every time
        void* factory = reinterpret_cast<void*>(1);
        HRESULT hr = getClassObject(clsid, IID_IClassFactory, &factory);
        EXPECT_TRUE(FAILED(hr));
        EXPECT_NE(CLASS_E_CLASSNOTAVAILABLE, hr) << "not mistaken for an unknown class";
        EXPECT_EQ(nullptr, factory);
        std::wstring source;
        EXPECT_EQ(c.message, officesim::OfficeHost::LastErrorDescription(&source));
        EXPECT_EQ(Upper(c.dll.substr(c.dll.find_last_of(L"\\/") + 1)), Upper(source)) << "the DLL's file name";
    }
    EXPECT_EQ(S_OK, canUnload());
    EXPECT_TRUE(FreeLibrary(dll));
}

INSTANTIATE_TEST_SUITE_P(
    Table, BrokenTypeLibrary,
    testing::Values(BrokenLibraryCase{"NoClass", WindowsPath(QVR_NoClass_DLL),
                                      L"Incorrect type information for class {5A7C2E91-3D48-4B6F-9E21-7C0D4A8B3F65}"},
                    BrokenLibraryCase{"NoDispatch", WindowsPath(QVR_NoDispatch_DLL),
                                      L"Dispatch interface missing from class coVORTELIXExcel"}),
    [](const testing::TestParamInfo<BrokenLibraryCase>& info) { return std::string(info.param.name); });

}  // namespace
