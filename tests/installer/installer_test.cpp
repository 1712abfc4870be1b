// The add-in's installer package under Windows Installer, in this test's own Wine prefix: msiexec
// installs it for all users, Excel of this program's bitness finds the add-in and loads it
// through COM, msiexec removes it again and nothing of it remains; and the registry the package
// writes is exactly what the DLL's own registration (regsvr32) writes for the same file.
#include "com/handles.h"
#include "excel_session.h"
#include "msi_support.h"
#include "packages.h"
#include "reg_support.h"
#include "support/test_support.h"

#include <wrl/client.h>

#include <gtest/gtest.h>

#include <algorithm>

#include <msi.h>
#include <msiquery.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>

using namespace regtest;
using namespace msitest;

namespace {

std::wstring Lines(const std::set<std::wstring>& lines) {
    std::wstring out;
    for (const auto& l : lines) out += l + L"\n";
    return out;
}

// ---------------------------------------------------------------------------------------------
// Where the add-in goes
// ---------------------------------------------------------------------------------------------

// An install place: the package's default folder, or the folder an administrator gives with
// INSTALLDIR. A folder without a blank is the case in which COM gets the long server path.
struct Place {
    const char* name;
    std::wstring installDir;  // as an administrator types it; empty: the default
};

std::wstring Folder(const Place& place) {
    return place.installDir.empty() ? ProgramFiles() + L"\\VORTELIX Excel\\" : place.installDir + L"\\";
}

std::wstring InstallArguments(const std::wstring& package, const Place& place = {}) {
    std::wstring arguments = L"/i " + Quoted(package);
    if (!place.installDir.empty()) arguments += L" INSTALLDIR=" + Quoted(place.installDir);
    return arguments;
}

using qvrtest::Exists;

// ---------------------------------------------------------------------------------------------
// The registry, as far as it is the add-in's
// ---------------------------------------------------------------------------------------------

// "+ HKLM\Software\...\Key|Value = data" -> "HKLM\Software\...\Key|Value"
std::wstring EntryOf(const std::wstring& line) {
    size_t eq = line.find(L" = ");
    return line.substr(2, eq == std::wstring::npos ? std::wstring::npos : eq - 2);
}

bool StartsWith(const std::wstring& text, const std::wstring& prefix) { return text.rfind(prefix, 0) == 0; }

// Windows Installer's records of the product (product, feature and component registration and
// the Add/Remove Programs entry) and the package's record of its install folder, by logical
// upper-case path.
bool InstallerRecord(const std::wstring& path) {
    for (const wchar_t* area : {L"HKLM\\SOFTWARE\\CLASSES\\INSTALLER", L"HKLM\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\INSTALLER",
                                L"HKLM\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\UNINSTALL\\",
                                L"HKLM\\SOFTWARE\\VORTELIX"})
        if (StartsWith(path, area)) return true;
    return false;
}

// Wine keeps the session's display settings under its own key.
bool WineSessionState(const std::wstring& path) { return StartsWith(path, L"HKCU\\SOFTWARE\\WINE\\"); }

// The parents of the Excel add-in key under the current user, which the running add-in creates
// with its key. They are Office's key structure and hold nothing.
bool ParentOfTheUserAddInKey(const std::wstring& path) {
    return StartsWith(Upper(L"HKCU\\" + kExcelAddInKey), path + L"\\");
}

// The user's add-in key and the start mode the running add-in keeps in it. The per-machine
// package writes no user data and leaves it, as it leaves that key of every other user.
bool TheUsersStartMode(const std::wstring& path) {
    std::wstring key = Upper(L"HKCU\\" + kExcelAddInKey);
    return path == key || path == key + L"|QVRSTARTMODE";
}

std::wstring LogicalUpper(const std::wstring& line) { return Upper(LogicalPath(EntryOf(line))); }

// The folders of COM's registration themselves (HKLM\Software\Classes\Interface, CLSID, TypeLib,
// in either view), without a value: Windows' own structure, present on every machine, never the
// add-in's. In a prefix booted without its 32-bit half the 32-bit view's Interface folder is empty,
// and Wine removes it with the last interface a test unregisters; the next registration makes it
// again. On Windows that folder holds the system's own interfaces and is never removed.
bool ComRegistrationFolder(const std::wstring& line) {
    if (line.find(L'|') != std::wstring::npos) return false;
    std::wstring path = LogicalUpper(line);
    for (const wchar_t* folder : {L"HKLM\\SOFTWARE\\CLASSES\\INTERFACE", L"HKLM\\SOFTWARE\\CLASSES\\CLSID",
                                  L"HKLM\\SOFTWARE\\CLASSES\\TYPELIB"})
        if (path == folder) return true;
    return false;
}

// What changed from before to after, without Windows Installer's records, Wine's session state
// and COM's folders: "+ HKLM\...|Value = type:data" lines with the raw paths (both views).
std::set<std::wstring> AddInChanges(const Snapshot& before, const Snapshot& after) {
    std::set<std::wstring> out;
    for (const auto& line : Changes(before, after)) {
        std::wstring path = LogicalUpper(line);
        if (!InstallerRecord(path) && !WineSessionState(path) && !ComRegistrationFolder(line)) out.insert(line);
    }
    return out;
}

// The same lines with the COM server path in its long form, taken while the file is there:
// regsvr32 writes the short form of a path with a blank, the package the long form, which is
// right also on a volume without short names. Both name the same file.
std::set<std::wstring> WithLongServerPath(const std::set<std::wstring>& lines) {
    const std::wstring value = L"\\INPROCSERVER32| = SZ:";
    std::set<std::wstring> out;
    for (const auto& line : lines) {
        size_t at = Upper(line).find(value);
        if (at == std::wstring::npos) {
            out.insert(line);
            continue;
        }
        // The file the path names, as the file system names it.
        qvr::unique_handle file(CreateFileW(line.substr(at + value.size()).c_str(), 0,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, 0, nullptr));
        wchar_t name[MAX_PATH] = {};
        DWORD length = file ? GetFinalPathNameByHandleW(file.get(), name, MAX_PATH, FILE_NAME_NORMALIZED) : 0;
        if (length == 0 || length >= MAX_PATH) {
            out.insert(line + L" (no such file)");
        } else {
            std::wstring path = name;
            if (path.starts_with(L"\\\\?\\")) path.erase(0, 4);
            out.insert(line.substr(0, at + value.size()) + path);
        }
    }
    return out;
}

// The same lines by logical path (a key written in both views counts once), upper-cased.
std::set<std::wstring> Logical(const std::set<std::wstring>& lines) {
    std::set<std::wstring> out;
    for (const auto& line : lines) {
        size_t eq = line.find(L" = ");
        out.insert(line.substr(0, 2) + LogicalUpper(line) + (eq == std::wstring::npos ? L"" : line.substr(eq)));
    }
    return out;
}

// What is left after an uninstall: every change except empty keys of Windows Installer's own
// structure, the user's add-in key with its parents and start mode, and Wine's session state.
std::set<std::wstring> Leftovers(const Snapshot& before, const Snapshot& after) {
    std::set<std::wstring> out;
    for (const auto& line : Changes(before, after)) {
        std::wstring path = LogicalUpper(line);
        bool emptyKeyAdded = line[0] == L'+' && path.find(L'|') == std::wstring::npos;
        if (WineSessionState(path) || TheUsersStartMode(path) ||
            (emptyKeyAdded && (InstallerRecord(path) || ParentOfTheUserAddInKey(path))))
            continue;
        out.insert(line);
    }
    return out;
}

// Office as installed on an ordinary machine: Excel's class, and another add-in in its add-in key.
const std::wstring kOtherAddInKey = L"Software\\Microsoft\\Office\\Excel\\AddIns\\Other.Connect";
void InstallExcelWithAnotherAddIn() {
    InstallExcel();
    WriteText(HKEY_LOCAL_MACHINE, kOtherAddInKey, L"FriendlyName", L"Another add-in");
    WriteDword(HKEY_LOCAL_MACHINE, kOtherAddInKey, L"LoadBehavior", 3);
    // The Application log always has sources on Windows; a new Wine prefix has none, and the
    // empty key would go with the add-in's source on uninstall.
    WriteDword(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Another source",
               L"TypesSupported", 7);
}

// The file the registry names for the add-in's type library, under the system kind (win32 or
// win64) and locale the library itself declares, where RegisterTypeLib records it.
std::wstring RegisteredTypeLibraryPath() {
    Microsoft::WRL::ComPtr<ITypeLib> library;
    if (FAILED(LoadTypeLibEx(kShippedDll.c_str(), REGKIND_NONE, &library))) return L"(the built library does not load)";
    TLIBATTR* attr = nullptr;
    if (FAILED(library->GetLibAttr(&attr))) return L"(no library attributes)";
    wchar_t lcid[16];
    swprintf(lcid, 16, L"%lx", static_cast<unsigned long>(attr->lcid));
    std::wstring key = L"TypeLib\\" + kLibid + L"\\1.0\\" + lcid + (attr->syskind == SYS_WIN64 ? L"\\win64" : L"\\win32");
    library->ReleaseTLibAttr(attr);
    return ReadText(HKEY_CLASSES_ROOT, key).value_or(L"");
}

// ---------------------------------------------------------------------------------------------
// Excel of this program's bitness
// ---------------------------------------------------------------------------------------------

// The add-ins Excel loads at start-up for all users: the subkeys of its add-in key under
// HKEY_LOCAL_MACHINE (in the registry view of Excel's own bitness) with LoadBehavior 3.
std::vector<std::wstring> AddInsExcelLoadsForAllUsers() {
    const std::wstring addIns = L"Software\\Microsoft\\Office\\Excel\\AddIns";
    std::vector<std::wstring> progIds;
    qvr::unique_hkey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, addIns.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return progIds;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        if (RegEnumKeyExW(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        if (ReadDword(HKEY_LOCAL_MACHINE, addIns + L"\\" + name, L"LoadBehavior") == 3u) progIds.emplace_back(name);
    }
    return progIds;
}

std::wstring ModulePathOf(const void* code) {
    HMODULE module = nullptr;
    wchar_t path[MAX_PATH] = {};
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(code), &module) ||
        !GetModuleFileNameW(module, path, MAX_PATH) || !GetLongPathNameW(path, path, MAX_PATH))
        return L"";
    return path;
}

// Waits (bounded) until no process of this name runs: an uploader still running would keep its
// file from being removed with the package.
bool WaitUntilNotRunning(const wchar_t* exe, DWORD timeoutMs = 30000) {
    for (DWORD waited = 0;; waited += 100) {
        bool running = false;
        // INVALID_HANDLE_VALUE on failure.
        qvr::unique_hfile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        PROCESSENTRY32W entry{};
        entry.dwSize = sizeof(entry);
        if (snapshot && Process32FirstW(snapshot.get(), &entry)) {
            do running = running || _wcsicmp(entry.szExeFile, exe) == 0;
            while (Process32NextW(snapshot.get(), &entry));
        }
        if (!running) return true;
        if (waited >= timeoutMs) return false;
        Sleep(100);
    }
}

// What the installed uploader (the stand-in) wrote next to itself, once it has written all of
// it; empty when it did not within the wait.
std::string UploaderLog(const std::wstring& folder, DWORD timeoutMs = 30000) {
    for (DWORD waited = 0;; waited += 100) {
        std::string log = Contents(folder + L"Dravenport.log");
        if (log.find("found=") != std::string::npos && log.size() >= 2 && log.substr(log.size() - 2) == "\r\n")
            return log;
        if (waited >= timeoutMs) return {};
        Sleep(100);
    }
}

// The user's order in a folder of the user's, open in Excel when the button is pressed.
std::wstring OrderWorkbook() { return TempFolder() + L"Bestelling installer.xlsx"; }
std::wstring WorkCopy() {
    wchar_t longTemp[MAX_PATH] = {};
    GetLongPathNameW(TempFolder().c_str(), longTemp, MAX_PATH);
    return std::wstring(longTemp) + L"VortelixExcel\\Order.xlsx";
}

// Excel starts with the add-in it found, with an order open; the user presses "Bestelling
// verwerken", and Excel quits as the hand-off asks. Returns the path of the DLL the add-in
// object came from.
std::wstring ExcelRunsTheAddInAndTheButtonIsPressed(const std::wstring& progId) {
    EXPECT_EQ(kProgId, progId) << "the stand-in creates the add-in by this ProgID";
    EXPECT_TRUE(CopyFileW((qvrtest::ProgramFolder() + L"order.xlsx").c_str(), OrderWorkbook().c_str(), FALSE))
        << "order fixture missing";
    DeleteFileW(WorkCopy().c_str());
    std::wstring loadedFrom;
    {
        officesim::ExcelSession excel;
        EXPECT_NE(nullptr, excel.App().Open(OrderWorkbook()));
        EXPECT_EQ(S_OK, excel.Start(L"")) << "created by ProgID through COM";
        if (!excel.Host().AddIn()) return L"";
        loadedFrom = ModulePathOf(*reinterpret_cast<void* const*>(excel.Host().AddIn()));
        const officesim::RibbonElement* button = excel.Ribbon().FindByLabel(L"Bestelling verwerken");
        EXPECT_NE(nullptr, button) << "the ribbon shows the button";
        if (button) {
            EXPECT_EQ(S_OK, excel.Ribbon().Press(button->id));
            EXPECT_TRUE(excel.AfterCall()) << "Excel quits after the hand-off";
        }
        excel.Shutdown();
    }
    CoFreeUnusedLibrariesEx(0, 0);
    return loadedFrom;
}

// ---------------------------------------------------------------------------------------------
// The package itself
// ---------------------------------------------------------------------------------------------

// Each test starts on a machine without the add-in and leaves it so, also when it fails half-way:
// every product of either package line still installed is removed, and Excel with it.
class PackageTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Exists(kMachinePackage)) << "the package of this build";
        ASSERT_TRUE(Exists(kShippedDll));
    }
    void TearDown() override {
        RemoveEveryProductOf({kMachinePackage, kOtherBitnessPackage, kRebuiltPackage});
        UninstallExcel();
        DeleteTree(HKEY_CURRENT_USER, kExcelAddInKey);
        DeleteTree(HKEY_LOCAL_MACHINE, kOtherAddInKey);
    }
};

TEST_F(PackageTest, IsPerMachineForThisBitnessAndRegistersThroughItsTables) {
    MsiHandle database;
    ASSERT_EQ(ERROR_SUCCESS, MsiOpenDatabaseW(kMachinePackage.c_str(), MSIDBOPEN_READONLY, database.put()));
    MsiHandle summary;
    ASSERT_EQ(ERROR_SUCCESS, MsiGetSummaryInformationW(database.get(), nullptr, 0, summary.put()));
    wchar_t platform[64] = {};
    DWORD length = 64;
    UINT type = 0;
    ASSERT_EQ(ERROR_SUCCESS,
              MsiSummaryInfoGetPropertyW(summary.get(), PIDSI_TEMPLATE, &type, nullptr, nullptr, platform, &length));
    EXPECT_EQ(k64Bit ? L"x64;1033" : L"Intel;1033", std::wstring(platform)) << "the platform of this build";

    EXPECT_EQ((Rows{{L"1"}}), Query(database.get(), L"SELECT `Value` FROM `Property` WHERE `Property` = 'ALLUSERS'"))
        << "installed for all users of the machine";
    for (const wchar_t* table : {L"SelfReg", L"Class", L"TypeLib", L"ProgId"}) {
        auto rows = Query(database.get(), std::wstring(L"SELECT * FROM `") + table + L"`");
        EXPECT_TRUE(!rows || rows->empty()) << "no " << testing::PrintToString(std::wstring(table))
                                            << " rows: the registry comes from plain Registry rows";
    }
    // The one custom action of code only looks (whether Excel runs, Office's bitness): an
    // immediate DLL call whose result is ignored (msidbCustomActionTypeDll |
    // msidbCustomActionTypeContinue). The other only sets Add/Remove Programs' install location
    // from INSTALLDIR (a property-setting action, type 51).
    auto actions = Query(database.get(), L"SELECT `Action`, `Type`, `Source`, `Target` FROM `CustomAction`");
    ASSERT_TRUE(actions);
    std::sort(actions->begin(), actions->end());
    EXPECT_EQ((Rows{{L"FindRunningExcel", L"65", L"ExcelCheck", L"FindRunningExcel"},
                    {L"SetInstallLocation", L"51", L"ARPINSTALLLOCATION", L"[INSTALLDIR]"}}),
              *actions);
    // Every component lives in the registry view of this bitness (msidbComponentAttributes64bit).
    constexpr int k64BitComponent = 0x100;
    auto components = Query(database.get(), L"SELECT `Component`, `Attributes` FROM `Component`");
    ASSERT_TRUE(components && !components->empty());
    for (const auto& c : *components)
        EXPECT_EQ(k64Bit, (std::stoi(c[1]) & k64BitComponent) != 0) << testing::PrintToString(c[0]);
}

// ---------------------------------------------------------------------------------------------
// Install, Excel, uninstall
// ---------------------------------------------------------------------------------------------

class Installed : public PackageTest, public testing::WithParamInterface<Place> {};

TEST_P(Installed, ExcelLoadsTheAddInAndUninstallLeavesNothing) {
    const std::wstring folder = Folder(GetParam());
    const std::wstring dll = folder + L"VORTELIXExcel.dll";
    InstallExcelWithAnotherAddIn();
    Snapshot before = TakeSnapshot();
    std::set<std::wstring> cachedBefore = FileNames(InstallerCache());
    ASSERT_FALSE(Exists(folder));

    ASSERT_EQ(0u, Msiexec(InstallArguments(kMachinePackage, GetParam())));

    // The DLL and the uploader it starts, next to each other, as built.
    EXPECT_EQ((std::set<std::wstring>{L"Dravenport.exe", L"VORTELIXExcel.dll", L"VORTELIXExcelCheck.exe"}), FileNames(folder));
    EXPECT_TRUE(Contents(kShippedDll) == Contents(dll)) << "the DLL of this build";
    EXPECT_TRUE(Contents(kPackagedUploader) == Contents(folder + L"Dravenport.exe")) << "the uploader";
    EXPECT_EQ(Upper(dll), Upper(RegisteredTypeLibraryPath())) << "the type library is registered from the DLL";

    // Excel of this bitness finds the add-in among its all-users add-ins and loads the installed DLL.
    std::vector<std::wstring> found = AddInsExcelLoadsForAllUsers();
    ASSERT_EQ(1, std::count(found.begin(), found.end(), kProgId)) << "found next to the other add-in";
    EXPECT_EQ(2u, found.size());
    EXPECT_EQ(Upper(dll), Upper(ExcelRunsTheAddInAndTheButtonIsPressed(kProgId)));
    EXPECT_EQ(nullptr, GetModuleHandleW(dll.c_str())) << "Excel has let the DLL go";
    EXPECT_TRUE(ReadText(HKEY_CURRENT_USER, kExcelAddInKey, L"QVRStartMode").has_value())
        << "the add-in ran and keeps its start mode for the user";

    // The hand-off from the installed folder: the copy in the work folder, the order deleted and
    // the uploader installed next to the DLL started, finding the copy.
    EXPECT_FALSE(Exists(OrderWorkbook())) << "the handed-over workbook is deleted";
    EXPECT_TRUE(Exists(WorkCopy()));
    const std::string uploader = UploaderLog(folder);
    EXPECT_NE(std::string::npos, uploader.find("found=yes")) << "the installed uploader ran and found the copy:\n"
                                                             << uploader;
    EXPECT_TRUE(WaitUntilNotRunning(L"Dravenport.exe")) << "the uploader ends";
    // The package removes only the files it installed.
    DeleteFileW((folder + L"Dravenport.log").c_str());
    DeleteFileW(OrderWorkbook().c_str());
    DeleteFileW(WorkCopy().c_str());
    RemoveDirectoryW((TempFolder() + L"VortelixExcel").c_str());

    ASSERT_EQ(0u, Msiexec(L"/x " + Quoted(kMachinePackage)));

    EXPECT_EQ(L"", Lines(Leftovers(before, TakeSnapshot()))) << "no key or value of the add-in remains";
    EXPECT_TRUE(ReadText(HKEY_CURRENT_USER, kExcelAddInKey, L"QVRStartMode").has_value())
        << "the per-machine package writes and removes no user data: the user's start mode stays";
    EXPECT_FALSE(Exists(folder)) << "the install folder is gone";
    EXPECT_EQ(cachedBefore, FileNames(InstallerCache())) << "the cached package is gone";
    EXPECT_EQ(L"", RegisteredTypeLibraryPath()) << "no type library registration";
    CLSID clsid;
    EXPECT_FALSE(SUCCEEDED(CLSIDFromProgID(kProgId.c_str(), &clsid))) << "COM no longer knows the ProgID";
    EXPECT_EQ(3u, ReadDword(HKEY_LOCAL_MACHINE, kOtherAddInKey, L"LoadBehavior")) << "the other add-in is untouched";
}

TEST_P(Installed, RegistryIsWhatRegsvr32WritesForTheSameFile) {
    const std::wstring folder = Folder(GetParam());
    const std::wstring dll = folder + L"VORTELIXExcel.dll";
    InstallExcelWithAnotherAddIn();

    Snapshot before = TakeSnapshot();
    ASSERT_EQ(0u, Msiexec(InstallArguments(kMachinePackage, GetParam())));
    std::set<std::wstring> package = WithLongServerPath(AddInChanges(before, TakeSnapshot()));
    ASSERT_EQ(0u, Msiexec(L"/x " + Quoted(kMachinePackage)));
    ASSERT_FALSE(Exists(folder));

    // The same DLL at the same place, registered by the system's registration tool.
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(CopyFileW(kShippedDll.c_str(), dll.c_str(), TRUE));
    before = TakeSnapshot();
    ASSERT_EQ(0u, RunProgram(L"regsvr32.exe", L"/s " + Quoted(dll)));
    std::set<std::wstring> regsvr32 = WithLongServerPath(AddInChanges(before, TakeSnapshot()));
    EXPECT_EQ(0u, RunProgram(L"regsvr32.exe", L"/u /s " + Quoted(dll)));
    DeleteFileW(dll.c_str());
    RemoveDirectoryW(folder.c_str());

    EXPECT_FALSE(package.empty());
    EXPECT_EQ(Lines(Logical(regsvr32)), Lines(Logical(package))) << "the same keys and values";
    // In the same registry view: the package writes the view of its bitness, regsvr32 that view
    // and (Wine's type library registration) copies of the type library's keys in the other.
    for (const auto& line : package) EXPECT_EQ(1u, regsvr32.count(line)) << testing::PrintToString(line);
}

INSTANTIATE_TEST_SUITE_P(Places, Installed,
                         testing::Values(Place{"ProgramFiles", L""}, Place{"FolderWithoutBlank", L"C:\\VORTELIX"}),
                         [](const testing::TestParamInfo<Place>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// One bitness per machine
// ---------------------------------------------------------------------------------------------

// Both packages write the same ProgID (and, on 64-bit Windows, the same type library key, which
// both views share): with both installed, removing one would break the other.
TEST_F(PackageTest, RefusesToInstallWhileThePackageOfTheOtherBitnessIsInstalled) {
    ASSERT_TRUE(Exists(kOtherBitnessPackage));
    ASSERT_EQ(0u, Msiexec(L"/i " + Quoted(kOtherBitnessPackage)));
    Snapshot before = TakeSnapshot();

    EXPECT_EQ(kInstallFailure, Msiexec(InstallArguments(kMachinePackage), kInstallFailure));
    EXPECT_EQ(L"", Lines(AddInChanges(before, TakeSnapshot()))) << "nothing written";
    EXPECT_FALSE(Exists(Folder({}))) << "nothing installed";

    ASSERT_EQ(0u, Msiexec(L"/x " + Quoted(kOtherBitnessPackage)));
    EXPECT_EQ(0u, Msiexec(InstallArguments(kMachinePackage))) << "once the other is gone";
    EXPECT_EQ(0u, Msiexec(L"/x " + Quoted(kMachinePackage)));
}

// ---------------------------------------------------------------------------------------------
// Rebuilds and upgrades
// ---------------------------------------------------------------------------------------------

// Every build of the package has a new product code. A rebuild of the installed version replaces
// the installed product instead of becoming a second one with the same files and keys.
TEST_F(PackageTest, ARebuildOfTheInstalledVersionReplacesIt) {
    const std::wstring upgradeCode = PackageProperty(kMachinePackage, L"UpgradeCode");
    const std::wstring rebuilt = PackageProperty(kRebuiltPackage, L"ProductCode");
    ASSERT_FALSE(upgradeCode.empty());
    ASSERT_EQ(upgradeCode, PackageProperty(kRebuiltPackage, L"UpgradeCode"));
    ASSERT_EQ(PackageProperty(kMachinePackage, L"ProductVersion"), PackageProperty(kRebuiltPackage, L"ProductVersion"));
    ASSERT_NE(PackageProperty(kMachinePackage, L"ProductCode"), rebuilt);
    InstallExcelWithAnotherAddIn();
    Snapshot before = TakeSnapshot();

    ASSERT_EQ(0u, Msiexec(InstallArguments(kMachinePackage)));
    ASSERT_EQ(0u, Msiexec(InstallArguments(kRebuiltPackage)));
    // By product code: Wine's removal of the replaced product drops the product line's list.
    const std::wstring first = PackageProperty(kMachinePackage, L"ProductCode");
    EXPECT_EQ(INSTALLSTATE_DEFAULT, MsiQueryProductStateW(rebuilt.c_str())) << "the rebuild is installed";
    EXPECT_NE(INSTALLSTATE_DEFAULT, MsiQueryProductStateW(first.c_str())) << "the product it replaced is not";
    EXPECT_EQ((std::set<std::wstring>{L"Dravenport.exe", L"VORTELIXExcel.dll", L"VORTELIXExcelCheck.exe"}), FileNames(Folder({})));

    ASSERT_EQ(0u, Msiexec(L"/x " + Quoted(kRebuiltPackage)));
    EXPECT_NE(INSTALLSTATE_DEFAULT, MsiQueryProductStateW(rebuilt.c_str()));
    EXPECT_EQ(L"", Lines(Leftovers(before, TakeSnapshot()))) << "the replaced product left nothing behind";
    EXPECT_FALSE(Exists(Folder({})));
}

}  // namespace
