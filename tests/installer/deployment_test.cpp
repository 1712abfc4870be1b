// What an administrator deploying the packages relies on: the tables (versioned files, short
// names, Add/Remove Programs, machine data only in the per-machine package, a test package named
// as one), and under msiexec: upgrades keep the install folder and refuse a downgrade, a repair
// restores a deleted DLL, the type library resolves, the package refuses Office of the other
// bitness, the per-user package installs and uninstalls for the user alone, the two scopes refuse
// each other, and an install while Excel runs says that Excel must start again.
#include "msi_support.h"
#include "packages.h"
#include "reg_support.h"

#include <gtest/gtest.h>

#include <msidefs.h>
#include <oleauto.h>

#include <cstdio>
#include <cstring>
#include <cwctype>
#include <map>
#include <string>
#include <vector>

using namespace regtest;
using namespace msitest;

namespace {

const std::wstring kClickToRunKey = L"SOFTWARE\\Microsoft\\Office\\ClickToRun\\Configuration";
const std::wstring kMachineRecordKey = L"Software\\VORTELIX\\Excel add-in";

std::wstring MachineFolder() { return ProgramFiles() + L"\\VORTELIX Excel\\"; }
std::wstring UserFolder() { return LocalAppData() + L"\\Programs\\VORTELIX Excel\\"; }


// The file version ("1.0.55.0") and first language of a file's version resource, read by the
// system's own version API.
std::wstring FileVersionOf(const std::wstring& path, std::wstring* language = nullptr) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (!size) return L"";
    std::vector<BYTE> data(size);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, data.data())) return L"";
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || !fixed) return L"";
    if (language) {
        WORD* translation = nullptr;
        if (VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length) &&
            length >= 4)
            *language = std::to_wstring(translation[0]);
    }
    return std::to_wstring(HIWORD(fixed->dwFileVersionMS)) + L"." + std::to_wstring(LOWORD(fixed->dwFileVersionMS)) +
           L"." + std::to_wstring(HIWORD(fixed->dwFileVersionLS)) + L"." +
           std::to_wstring(LOWORD(fixed->dwFileVersionLS));
}

// The system kind the built type library declares ("win32" or "win64"): the key under which
// RegisterTypeLib, and so the package, files the library's path.
std::wstring DeclaredTypeLibPlatform() {
    ITypeLib* library = nullptr;
    if (FAILED(LoadTypeLibEx(kShippedDll.c_str(), REGKIND_NONE, &library))) return L"(no type library)";
    TLIBATTR* attr = nullptr;
    std::wstring platform = L"(no attributes)";
    if (SUCCEEDED(library->GetLibAttr(&attr))) {
        platform = attr->syskind == SYS_WIN64 ? L"win64" : L"win32";
        library->ReleaseTLibAttr(attr);
    }
    library->Release();
    return platform;
}

// A copy of a DLL whose version resource says 0.9.0.0, older than any build: what an earlier
// install (regsvr32 or a package) may have left. The fixed file information is found by its
// signature and changed in place; Windows Installer reads the version from there.
bool WriteOlderCopy(const std::wstring& from, const std::wstring& to) {
    std::string bytes = Contents(from);
    const std::string signature("\xBD\x04\xEF\xFE", 4);
    size_t at = bytes.find(signature);
    if (at == std::string::npos || at + 24 > bytes.size()) return false;
    const DWORD ms = MAKELONG(9, 0), ls = 0;  // 0.9 . 0.0
    memcpy(&bytes[at + 8], &ms, 4);
    memcpy(&bytes[at + 12], &ls, 4);
    HANDLE file = CreateFileW(to.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size();
    CloseHandle(file);
    return ok && FileVersionOf(to) == L"0.9.0.0";
}

// Click-to-Run's record of Office's bitness, in the 64-bit view where Office keeps it.
void SetClickToRunPlatform(const std::wstring& platform) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kClickToRunKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExW(key, L"Platform", 0, REG_SZ, reinterpret_cast<const BYTE*>(platform.c_str()),
                   static_cast<DWORD>((platform.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}
void RemoveClickToRun() {
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kClickToRunKey.c_str(), KEY_WOW64_64KEY, 0);
}

class Deployment : public testing::Test {
protected:
    void SetUp() override {
        for (const auto& package : {kMachinePackage, kUserPackage, kOlderPackage, kNewerPackage, kRebuiltPackage})
            ASSERT_TRUE(qvrtest::Exists(package)) << testing::PrintToString(package);
    }
    void TearDown() override {
        RemoveEveryProductOf({kMachinePackage, kUserPackage, kOtherBitnessPackage, kOtherBitnessUserPackage,
                              kOlderPackage, kNewerPackage, kRebuiltPackage});
        RemoveClickToRun();
        DeleteTree(HKEY_CURRENT_USER, kExcelAddInKey);
    }
};

// ---------------------------------------------------------------------------------------------
// The tables
// ---------------------------------------------------------------------------------------------

struct PackageCase {
    const char* name;
    const std::wstring* package;
    bool perUser;
};
const PackageCase kPackages[] = {{"PerMachine", &kMachinePackage, false}, {"PerUser", &kUserPackage, true}};

class PackageTables : public testing::TestWithParam<PackageCase> {};

// Windows Installer replaces a versioned file by version: an older DLL left by regsvr32 or a
// changed DLL found by a repair is replaced. Hashes are for unversioned files only.
TEST_P(PackageTables, EveryProgramFileIsVersionedFromItsVersionResource) {
    const std::wstring& package = *GetParam().package;
    auto files = QueryPackage(package, L"SELECT `File`, `FileName`, `Version`, `Language` FROM `File`");
    ASSERT_TRUE(files && files->size() == 3u);
    const std::map<std::wstring, std::wstring> source = {{L"VORTELIXExcel.dll", kShippedDll},
                                                         {L"Dravenport.exe", kPackagedUploader},
                                                         {L"VORTELIXExcelCheck.exe", kShippedHealthCheck}};
    for (const auto& row : *files) {
        std::wstring longName = row[1].substr(row[1].find(L'|') + 1);
        ASSERT_EQ(1u, source.count(longName)) << testing::PrintToString(row[1]);
        std::wstring language;
        std::wstring version = FileVersionOf(source.at(longName), &language);
        ASSERT_FALSE(version.empty()) << testing::PrintToString(longName) << " has a version resource";
        EXPECT_EQ(version, row[2]) << testing::PrintToString(longName);
        EXPECT_EQ(language, row[3]) << testing::PrintToString(longName);
        EXPECT_EQ((Rows{}), QueryPackage(package, L"SELECT `File_` FROM `MsiFileHash` WHERE `File_` = '" + row[0] + L"'"))
            << "no hash for a versioned file";
    }
}

// One source for the version: the DLL's version resource and the package's ProductVersion carry
// the build number of this build.
TEST_P(PackageTables, ProductVersionIsTheDllsVersion) {
    EXPECT_EQ(kVersion, PackageProperty(*GetParam().package, L"ProductVersion"));
    EXPECT_EQ(kVersion + L".0", FileVersionOf(kShippedDll));
    EXPECT_NE(std::wstring::npos, GetParam().package->find(L"-" + kVersion + L"-")) << "the file name says the version";
}

// A package with the uploader stand-in can be told from a release everywhere an administrator
// looks; a release package (the real uploader) carries no such mark.
TEST_P(PackageTables, ATestPackageSaysSo) {
    const bool testPackage = QVR_TEST_PACKAGES;
    const std::wstring& package = *GetParam().package;
    const std::wstring mark = L"TEST BUILD with uploader stand-in, not for use";
    EXPECT_EQ(testPackage, PackageProperty(package, L"ProductName").find(mark) != std::wstring::npos);
    EXPECT_EQ(testPackage, SummaryText(package, PID_SUBJECT).find(mark) != std::wstring::npos);
    EXPECT_EQ(testPackage, package.find(L"\\VORTELIXExcel-TEST-") != std::wstring::npos) << "the file name";
}

// 8.3 names next to the long ones, for installs with SHORTFILENAMES and volumes without long
// names (ICE03): a short name is at most 8 + 3 upper-case characters.
TEST_P(PackageTables, LongNamesHaveShortNames) {
    auto isShort = [](const std::wstring& name) {
        size_t dot = name.find(L'.');
        std::wstring stem = name.substr(0, dot), ext = dot == std::wstring::npos ? L"" : name.substr(dot + 1);
        for (wchar_t c : name)
            if (c == L' ' || std::iswlower(c)) return false;
        return !stem.empty() && stem.size() <= 8 && ext.size() <= 3 && ext.find(L'.') == std::wstring::npos;
    };
    auto names = QueryPackage(*GetParam().package, L"SELECT `FileName` FROM `File`");
    auto dirs = QueryPackage(*GetParam().package, L"SELECT `DefaultDir` FROM `Directory`");
    ASSERT_TRUE(names && dirs);
    std::vector<std::wstring> all;
    for (const auto& r : *names) all.push_back(r[0]);
    for (const auto& r : *dirs)
        if (r[0] != L"." && r[0] != L"SourceDir") all.push_back(r[0]);
    for (const auto& name : all) {
        size_t bar = name.find(L'|');
        if (bar == std::wstring::npos) {
            EXPECT_TRUE(isShort(name)) << testing::PrintToString(name) << " is a long name without a short one";
        } else {
            EXPECT_TRUE(isShort(name.substr(0, bar))) << testing::PrintToString(name);
        }
    }
    EXPECT_EQ(L"VORTEL~1|VORTELIX Excel",
              QueryPackage(*GetParam().package, L"SELECT `DefaultDir` FROM `Directory` WHERE `Directory` = 'INSTALLDIR'")
                  ->at(0)
                  .at(0));
}

// The per-machine package writes machine data only (ICE57: a user's hive is not there for an
// uninstall as SYSTEM); the per-user package writes the user's data only and needs no elevation.
TEST_P(PackageTables, WritesTheDataOfItsScopeOnly) {
    const std::wstring& package = *GetParam().package;
    auto roots = QueryPackage(package, L"SELECT `Registry`, `Root`, `Key` FROM `Registry`");
    ASSERT_TRUE(roots && !roots->empty());
    constexpr wchar_t kHkcu[] = L"1";
    for (const auto& row : *roots)
        EXPECT_EQ(GetParam().perUser, row[1] == kHkcu) << testing::PrintToString(row[2]);
    constexpr int kNoElevation = 8;  // msidbSumInfoSourceTypeLUAPackage
    EXPECT_EQ(GetParam().perUser, (SummaryNumber(package, PID_WORDCOUNT) & kNoElevation) != 0);
    EXPECT_EQ(GetParam().perUser ? L"" : L"1", PackageProperty(package, L"ALLUSERS"));
}

// ICE80: a 32-bit package searches no 64-bit registry view and has no 64-bit component (the 64-bit
// view is read by the custom action); a 64-bit package's components are all 64-bit.
TEST_P(PackageTables, SearchesAndComponentsMatchThePackagesBitness) {
    const std::wstring& package = *GetParam().package;
    constexpr int kLocator64 = 16;     // msidbLocatorType64bit
    constexpr int kComponent64 = 256;  // msidbComponentAttributes64bit
    if (auto locators = QueryPackage(package, L"SELECT `Signature_`, `Type` FROM `RegLocator`")) {
        for (const auto& row : *locators)
            if (!k64Bit) {
                EXPECT_EQ(0, std::stoi(row[1]) & kLocator64) << "a 64-bit search: " << testing::PrintToString(row[0]);
            }
    }
    auto components = QueryPackage(package, L"SELECT `Component`, `Attributes` FROM `Component`");
    ASSERT_TRUE(components && !components->empty());
    for (const auto& row : *components)
        EXPECT_EQ(k64Bit, (std::stoi(row[1]) & kComponent64) != 0) << testing::PrintToString(row[0]);
}

// The 32-bit and 64-bit packages of one scope install into the same folder and keys; sharing a
// component code, Windows Installer would count one's 32-bit component as the other's 64-bit one.
TEST_P(PackageTables, ShareNoComponentCodeWithThePackageOfTheOtherBitness) {
    const std::wstring& other = GetParam().perUser ? kOtherBitnessUserPackage : kOtherBitnessPackage;
    auto codes = [](const std::wstring& package) {
        std::set<std::wstring> set;
        if (auto rows = QueryPackage(package, L"SELECT `ComponentId` FROM `Component`"))
            for (const auto& row : *rows) set.insert(Upper(row[0]));
        return set;
    };
    const std::set<std::wstring> ours = codes(*GetParam().package), theirs = codes(other);
    ASSERT_FALSE(ours.empty());
    ASSERT_FALSE(theirs.empty());
    for (const std::wstring& code : ours) EXPECT_EQ(0u, theirs.count(code)) << testing::PrintToString(code);
}

// The order the package relies on, read from its tables: the Excel and Office check before the
// launch conditions (and, with a user interface, before anything is installed), run once; the
// replaced version removed between InstallValidate and InstallInitialize; a restart scheduled only
// when Excel holds the add-in.
TEST_P(PackageTables, ActionsRunInTheOrderThePackageReliesOn) {
    const std::wstring& package = *GetParam().package;
    auto sequence = [&](const wchar_t* table) {
        std::map<std::wstring, std::pair<int, std::wstring>> actions;
        auto rows = QueryPackage(package, std::wstring(L"SELECT `Action`, `Sequence`, `Condition` FROM `") + table + L"`");
        if (rows)
            for (const auto& row : *rows) actions[row[0]] = {std::stoi(row[1]), row[2]};
        return actions;
    };
    auto ui = sequence(L"InstallUISequence"), execute = sequence(L"InstallExecuteSequence");
    const struct {
        std::map<std::wstring, std::pair<int, std::wstring>>* table;
        const wchar_t* first;
        const wchar_t* then;
    } order[] = {
        {&ui, L"AppSearch", L"FindRunningExcel"},
        {&ui, L"FindRunningExcel", L"LaunchConditions"},
        {&ui, L"FindRunningExcel", L"ExecuteAction"},
        {&execute, L"AppSearch", L"FindRunningExcel"},
        {&execute, L"FindRunningExcel", L"LaunchConditions"},
        {&execute, L"InstallValidate", L"RemoveExistingProducts"},
        {&execute, L"RemoveExistingProducts", L"InstallInitialize"},
        {&execute, L"InstallFinalize", L"ScheduleReboot"},
    };
    for (const auto& o : order) {
        ASSERT_TRUE(o.table->count(o.first) && o.table->count(o.then)) << testing::PrintToString(std::wstring(o.then));
        EXPECT_LT(o.table->at(o.first).first, o.table->at(o.then).first)
            << testing::PrintToString(std::wstring(o.first)) << " before " << testing::PrintToString(std::wstring(o.then));
    }
    EXPECT_EQ(L"NOT EXCELCHECKED", execute.at(L"FindRunningExcel").second) << "once, not again after the UI sequence";
    EXPECT_EQ(L"EXCELHOLDSADDIN", execute.at(L"ScheduleReboot").second) << "a restart only for a DLL in use";
    const std::wstring secure = PackageProperty(package, L"SecureCustomProperties");
    for (const wchar_t* property : {L"EXCELCHECKED", L"EXCELRUNNING", L"EXCELHOLDSADDIN", L"OTHEROFFICE"})
        EXPECT_NE(std::wstring::npos, (L";" + secure + L";").find(std::wstring(L";") + property + L";")) << property;
}

// Add/Remove Programs shows the add-in's icon, where to get help, and no "Change"; the installer
// never closes Excel (restart manager off) but replaces a DLL in use at the next restart.
TEST_P(PackageTables, AddRemoveProgramsEntry) {
    const std::wstring& package = *GetParam().package;
    std::wstring icon = PackageProperty(package, L"ARPPRODUCTICON");
    EXPECT_EQ((Rows{{icon}}), QueryPackage(package, L"SELECT `Name` FROM `Icon`")) << "the icon is in the package";
    EXPECT_EQ(0u, PackageProperty(package, L"ARPHELPLINK").rfind(L"https://", 0));
    EXPECT_FALSE(PackageProperty(package, L"ARPCONTACT").empty());
    EXPECT_EQ(L"1", PackageProperty(package, L"ARPNOMODIFY"));
    EXPECT_EQ(L"Disable", PackageProperty(package, L"MSIRESTARTMANAGERCONTROL"));
}

INSTANTIATE_TEST_SUITE_P(Packages, PackageTables, testing::ValuesIn(kPackages),
                         [](const testing::TestParamInfo<PackageCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// Upgrades
// ---------------------------------------------------------------------------------------------

struct UpgradeCase {
    const char* name;
    const std::wstring* installed;
    DWORD expected;        // exit code of installing this build's package over it
    bool thisBuildStays;   // afterwards: this build's product (else the installed one)
    const wchar_t* message;  // what Windows Installer shows when it refuses
};
const UpgradeCase kUpgrades[] = {
    {"OlderVersionIsReplaced", &kOlderPackage, ERROR_SUCCESS, true, L""},
    {"SameVersionRebuildIsReplaced", &kRebuiltPackage, ERROR_SUCCESS, true, L""},
    {"NewerVersionIsKept", &kNewerPackage, kInstallFailure, false,
     L"Install Failed: A newer version of the VORTELIX Excel add-in is already installed. This package (version " QVR_VERSION_TEXT
     L") does not replace it; to go back to this version, remove the newer one first."},
};

class Upgrade : public Deployment, public testing::WithParamInterface<UpgradeCase> {};

// Installed into a folder an administrator chose; this build's package, given no folder, goes
// to the same folder (or leaves the newer version where it is).
TEST_P(Upgrade, OverAnInstalledVersion) {
    const UpgradeCase& c = GetParam();
    const std::wstring folder = L"C:\\Apps\\VORTELIX Excel";
    const std::wstring upgradeCode = PackageProperty(kMachinePackage, L"UpgradeCode");
    ASSERT_EQ(upgradeCode, PackageProperty(*c.installed, L"UpgradeCode"));
    ASSERT_EQ(0u, Msiexec(L"/i " + Quoted(*c.installed) + L" INSTALLDIR=" + Quoted(folder)));
    const std::wstring installedProduct = PackageProperty(*c.installed, L"ProductCode");

    if (c.expected == ERROR_SUCCESS) {
        // Silently, as deployment tools run it. (Wine's basic user interface runs an upgrade's
        // removal of the old product differently, and wrongly.)
        EXPECT_EQ(c.expected, Msiexec(L"/i " + Quoted(kMachinePackage)));
    } else {
        std::wstring shown;
        EXPECT_EQ(c.expected, MsiexecShowingMessage(L"/i " + Quoted(kMachinePackage), c.expected, &shown));
        EXPECT_EQ(std::wstring(c.message), shown) << "what the administrator is told";
    }

    // Which product is installed, by product code. (Wine's removal of the replaced product drops
    // the whole product line's upgrade-code record, so the line's list is no witness here.)
    const std::wstring thisBuild = PackageProperty(kMachinePackage, L"ProductCode");
    auto installed = [](const std::wstring& product) { return MsiQueryProductStateW(product.c_str()) == INSTALLSTATE_DEFAULT; };
    EXPECT_EQ(c.thisBuildStays, installed(thisBuild)) << "this build";
    EXPECT_EQ(!c.thisBuildStays, installed(installedProduct)) << "the version installed before";
    EXPECT_EQ((std::set<std::wstring>{L"Dravenport.exe", L"VORTELIXExcel.dll", L"VORTELIXExcelCheck.exe"}), FileNames(folder))
        << "in the folder chosen first";
    // The version replaced goes before this one is installed: its DLL, also one of the same
    // version with other bytes (a rebuild), does not stay behind.
    if (c.thisBuildStays) {
        EXPECT_TRUE(Contents(kShippedDll) == Contents(folder + L"\\VORTELIXExcel.dll")) << "this build's DLL is installed";
    }
    EXPECT_FALSE(qvrtest::Exists(MachineFolder())) << "nothing in the default folder";
    EXPECT_EQ(Upper(folder + L"\\VORTELIXExcel.dll"),
              Upper(ReadText(HKEY_CLASSES_ROOT, L"CLSID\\" + kClsid + L"\\InprocServer32").value_or(L"")))
        << "COM names the DLL in that folder";
}

INSTANTIATE_TEST_SUITE_P(Versions, Upgrade, testing::ValuesIn(kUpgrades),
                         [](const testing::TestParamInfo<UpgradeCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// Repair and the type library
// ---------------------------------------------------------------------------------------------

TEST_F(Deployment, RepairRestoresADeletedDll) {
    ASSERT_EQ(0u, Msiexec(L"/i " + Quoted(kMachinePackage)));
    const std::wstring dll = MachineFolder() + L"VORTELIXExcel.dll";
    ASSERT_TRUE(DeleteFileW(dll.c_str()));

    // A repair from the package, as msiexec /f does it (Wine's msiexec /f does not find the
    // product; the properties are the same repair).
    EXPECT_EQ(0u, Msiexec(L"/i " + Quoted(kMachinePackage) + L" REINSTALL=ALL REINSTALLMODE=omus"));
    EXPECT_TRUE(Contents(kShippedDll) == Contents(dll)) << "the DLL is back, as shipped";
}

// Windows Installer replaces a DLL by version: an older one found at install (left by regsvr32 or
// an earlier install) or at a repair gives way to the shipped one.
struct OlderDllCase {
    const char* name;
    bool beforeInstall;  // else: found by a repair after the install
};
const OlderDllCase kOlderDlls[] = {{"LeftBeforeTheInstall", true}, {"FoundByARepair", false}};

class OlderDll : public Deployment, public testing::WithParamInterface<OlderDllCase> {};

TEST_P(OlderDll, IsReplacedByTheShippedOne) {
    const std::wstring dll = MachineFolder() + L"VORTELIXExcel.dll";
    if (GetParam().beforeInstall) {
        ASSERT_TRUE(CreateDirectoryW(MachineFolder().c_str(), nullptr));
        ASSERT_TRUE(WriteOlderCopy(kShippedDll, dll));
        ASSERT_EQ(0u, Msiexec(L"/i " + Quoted(kMachinePackage)));
    } else {
        ASSERT_EQ(0u, Msiexec(L"/i " + Quoted(kMachinePackage)));
        ASSERT_TRUE(WriteOlderCopy(kShippedDll, dll));
        // msiexec /fo: reinstall files that are missing or older.
        ASSERT_EQ(0u, Msiexec(L"/i " + Quoted(kMachinePackage) + L" REINSTALL=ALL REINSTALLMODE=omus"));
    }
    EXPECT_EQ(kVersion + L".0", FileVersionOf(dll));
    EXPECT_TRUE(Contents(kShippedDll) == Contents(dll)) << "the shipped DLL";
}

INSTANTIATE_TEST_SUITE_P(Versions, OlderDll, testing::ValuesIn(kOlderDlls),
                         [](const testing::TestParamInfo<OlderDllCase>& info) { return std::string(info.param.name); });

// Automation finds the add-in's type library the way every client does, in the bitness of the
// package (this program's).
TEST_F(Deployment, TypeLibraryResolvesInThePackagesBitness) {
    ITypeLib* built = nullptr;
    ASSERT_EQ(S_OK, LoadTypeLibEx(kShippedDll.c_str(), REGKIND_NONE, &built));
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(S_OK, built->GetLibAttr(&attr));
    const SYSKIND declared = attr->syskind;
    built->ReleaseTLibAttr(attr);
    built->Release();
    if (declared != (k64Bit ? SYS_WIN64 : SYS_WIN32))
        GTEST_SKIP() << "the built library declares system kind " << declared
                     << ", not this bitness's: a client of this bitness cannot resolve it, whatever the package writes";

    ASSERT_EQ(0u, Msiexec(L"/i " + Quoted(kMachinePackage)));
    BSTR path = nullptr;
    ASSERT_EQ(S_OK, QueryPathOfRegTypeLib(kLibidGuid, 1, 0, 0x409, &path));
    EXPECT_EQ(Upper(MachineFolder() + L"VORTELIXExcel.dll"), Upper(path));
    SysFreeString(path);
    ITypeLib* registered = nullptr;
    EXPECT_EQ(S_OK, LoadRegTypeLib(kLibidGuid, 1, 0, 0x409, &registered));
    if (registered) registered->Release();
}

// ---------------------------------------------------------------------------------------------
// Office's bitness
// ---------------------------------------------------------------------------------------------

// Windows Installer Office (2010, 2013, 2016) and Office 2013 Click-to-Run record Excel's folder
// in the registry view of their own bitness.
const wchar_t* const kOfficeVersions[] = {L"14.0", L"15.0", L"16.0"};
std::wstring InstallRootKey(const wchar_t* version) {
    return std::wstring(L"SOFTWARE\\Microsoft\\Office\\") + version + L"\\Excel\\InstallRoot";
}
void SetInstallRoot(const wchar_t* version, bool view64) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, InstallRootKey(version).c_str(), 0, nullptr, 0,
                        KEY_ALL_ACCESS | (view64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY), nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return;
    const std::wstring path = view64 ? L"C:\\Program Files\\Microsoft Office\\Office\\"
                                     : L"C:\\Program Files (x86)\\Microsoft Office\\Office\\";
    RegSetValueExW(key, L"Path", 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                   static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}
void RemoveInstallRoots() {
    for (const wchar_t* version : kOfficeVersions)
        for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
            const std::wstring office = std::wstring(L"SOFTWARE\\Microsoft\\Office\\") + version;
            RegDeleteKeyExW(HKEY_LOCAL_MACHINE, (office + L"\\Excel\\InstallRoot").c_str(), view, 0);
            RegDeleteKeyExW(HKEY_LOCAL_MACHINE, (office + L"\\Excel").c_str(), view, 0);
            RegDeleteKeyExW(HKEY_LOCAL_MACHINE, office.c_str(), view, 0);
        }
}

const wchar_t* const kThisPlatform = k64Bit ? L"x64" : L"x86";
const wchar_t* const kOtherPlatform = k64Bit ? L"x86" : L"x64";

struct OfficeCase {
    const char* name;
    const wchar_t* platform;     // Click-to-Run's Platform value; nullptr: none
    const wchar_t* installRoot;  // the Windows Installer Office's version whose record is there; nullptr: none
    bool installRootOfThisBitness;
    const wchar_t* refusedFor;   // what the refusal names; nullptr: the package installs
};
const OfficeCase kOffices[] = {
    {"BeforeOffice", nullptr, nullptr, false, nullptr},
    {"ClickToRunOfThisBitness", kThisPlatform, nullptr, false, nullptr},
    {"ClickToRunOfTheOtherBitness", kOtherPlatform, nullptr, false,
     k64Bit ? L"Click-to-Run, Platform x86" : L"Click-to-Run, Platform x64"},
    {"Excel2010OfThisBitness", nullptr, L"14.0", true, nullptr},
    {"Excel2010OfTheOtherBitness", nullptr, L"14.0", false, L"Excel 2010, Windows Installer"},
    {"Excel2013OfThisBitness", nullptr, L"15.0", true, nullptr},
    {"Excel2013OfTheOtherBitness", nullptr, L"15.0", false, L"Excel 2013, Windows Installer"},
    {"Excel2016OfThisBitness", nullptr, L"16.0", true, nullptr},
    {"Excel2016OfTheOtherBitness", nullptr, L"16.0", false, L"Excel 2016, Windows Installer"},
    // A record of this bitness beside one of the other (Office changed its bitness, a record was
    // left): Office of this bitness is there, and the package installs.
    {"ClickToRunOfThisBitnessBesideAnOldRecord", kThisPlatform, L"15.0", false, nullptr},
};

class OfficeBitness : public Deployment, public testing::WithParamInterface<OfficeCase> {
protected:
    void TearDown() override {
        RemoveInstallRoots();
        Deployment::TearDown();
    }
};

TEST_P(OfficeBitness, DecidesWhetherThePackageInstalls) {
    const OfficeCase& c = GetParam();
    for (const auto* package : {&kMachinePackage, &kUserPackage}) {
        if (c.platform) SetClickToRunPlatform(c.platform);
        if (c.installRoot) SetInstallRoot(c.installRoot, c.installRootOfThisBitness == k64Bit);
        const DWORD expected = c.refusedFor ? kInstallFailure : ERROR_SUCCESS;
        std::wstring shown;
        EXPECT_EQ(expected, MsiexecShowingMessage(L"/i " + Quoted(*package), expected, &shown));
        if (c.refusedFor) {
            EXPECT_EQ(std::wstring(L"Install Failed: Microsoft Office on this computer is ") +
                          (k64Bit ? L"32-bit (" : L"64-bit (") + c.refusedFor +
                          (k64Bit ? L"). This package is for 64-bit Office: install the 32-bit package of the VORTELIX "
                                    L"Excel add-in instead."
                                  : L"). This package is for 32-bit Office: install the 64-bit package of the VORTELIX "
                                    L"Excel add-in instead."),
                      shown);
            EXPECT_TRUE(InstalledProducts(PackageProperty(*package, L"UpgradeCode")).empty());
        } else {
            EXPECT_EQ(L"", shown);
            // Installed; and removable also after Office changed its bitness.
            RemoveInstallRoots();
            SetClickToRunPlatform(kOtherPlatform);
            EXPECT_EQ(0u, Msiexec(L"/x " + Quoted(*package)));
        }
        RemoveClickToRun();
        RemoveInstallRoots();
    }
}

INSTANTIATE_TEST_SUITE_P(Office, OfficeBitness, testing::ValuesIn(kOffices),
                         [](const testing::TestParamInfo<OfficeCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// Per user
// ---------------------------------------------------------------------------------------------

// What the per-user package writes, read from the registry: Wine's COM does not look up classes
// under HKCU\Software\Classes (CLSIDFromProgID ignores them), so COM cannot be asked here.
// A deployment tool detects the add-in by a registry value: "Version" under the packages' record,
// in the hive of the package's scope, while it is installed; inventory tools find its folder as
// the product's InstallLocation (Add/Remove Programs).
TEST_F(Deployment, WritesItsVersionAndFolderWhereDeploymentToolsReadThem) {
    const std::wstring record = L"Software\\VORTELIX\\Excel add-in";
    const struct {
        std::wstring package;
        HKEY root;
        std::wstring folder;
    } cases[] = {{kMachinePackage, HKEY_LOCAL_MACHINE, MachineFolder()},
                 {kUserPackage, HKEY_CURRENT_USER, LocalAppData() + L"\\Programs\\VORTELIX Excel\\"}};
    for (const auto& [package, root, folder] : cases) {
        ASSERT_EQ(0u, Msiexec(L"/i " + Quoted(package)));
        EXPECT_EQ(std::wstring(L"" QVR_VERSION_TEXT), ReadText(root, record, L"Version").value_or(L"(none)"))
            << testing::PrintToString(package);
        wchar_t location[MAX_PATH] = {};
        DWORD size = MAX_PATH;
        MsiGetProductInfoW(PackageProperty(package, L"ProductCode").c_str(), INSTALLPROPERTY_INSTALLLOCATION, location, &size);
        EXPECT_EQ(Upper(folder), Upper(location)) << "InstallLocation of " << testing::PrintToString(package);
        ASSERT_EQ(0u, Msiexec(L"/x " + Quoted(package)));
        EXPECT_FALSE(ReadText(root, record, L"Version")) << "gone with the product";
    }
}

// A system-context deployment runs the package as SYSTEM: the per-user package would install into
// the system account's profile, where no user sees it. It refuses and names the per-machine one.
// (Windows Installer sets UserSID itself, also over the command line, so the launch condition is
// evaluated in a session of the package with UserSID set as SYSTEM's and as a user's.)
TEST_F(Deployment, PerUserPackageRefusesToInstallAsSystem) {
    auto refusal = QueryPackage(kUserPackage, L"SELECT `Condition`, `Description` FROM `LaunchCondition`");
    ASSERT_TRUE(refusal);
    std::wstring condition, message;
    for (const auto& row : *refusal)
        if (row[1].find(L"SYSTEM account") != std::wstring::npos) condition = row[0], message = row[1];
    ASSERT_FALSE(condition.empty()) << "a launch condition about the SYSTEM account";
    const std::wstring machineName = kMachinePackage.substr(kMachinePackage.find_last_of(L"\\/") + 1);
    EXPECT_NE(std::wstring::npos, message.find(L"Deploy the per-machine package (" + machineName + L")")) << testing::PrintToString(message);
    EXPECT_TRUE(QueryPackage(kMachinePackage, L"SELECT `Condition` FROM `LaunchCondition` WHERE `Condition` = '" + condition + L"'")
                    ->empty())
        << "the per-machine package installs as SYSTEM";

    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    MsiHandle session;
    ASSERT_EQ(ERROR_SUCCESS, MsiOpenPackageW(kUserPackage.c_str(), session.put()));
    const struct {
        const wchar_t* sid;
        MSICONDITION installs;
    } cases[] = {{L"S-1-5-18", MSICONDITION_FALSE}, {L"S-1-5-21-1004336348-1177238915-682003330-1001", MSICONDITION_TRUE}};
    for (const auto& c : cases) {
        ASSERT_EQ(ERROR_SUCCESS, MsiSetPropertyW(session.get(), L"UserSID", c.sid));
        EXPECT_EQ(c.installs, MsiEvaluateConditionW(session.get(), condition.c_str())) << testing::PrintToString(std::wstring(c.sid));
    }
}

TEST_F(Deployment, PerUserInstallWritesTheUsersKeysAndUninstallsCleanly) {
    const std::wstring folder = UserFolder();
    const std::wstring dll = folder + L"VORTELIXExcel.dll";
    const std::wstring classes = L"Software\\Classes\\";
    Snapshot before = TakeSnapshot();
    ASSERT_FALSE(qvrtest::Exists(folder));

    ASSERT_EQ(0u, Msiexec(L"/i " + Quoted(kUserPackage)));

    EXPECT_EQ((std::set<std::wstring>{L"Dravenport.exe", L"VORTELIXExcel.dll", L"VORTELIXExcelCheck.exe"}), FileNames(folder));
    EXPECT_TRUE(Contents(kShippedDll) == Contents(dll));
    EXPECT_EQ(Upper(dll), Upper(ReadText(HKEY_CURRENT_USER, classes + L"CLSID\\" + kClsid + L"\\InprocServer32").value_or(L"")));
    EXPECT_EQ(L"Apartment",
              ReadText(HKEY_CURRENT_USER, classes + L"CLSID\\" + kClsid + L"\\InprocServer32", L"ThreadingModel"));
    EXPECT_EQ(kClsid, ReadText(HKEY_CURRENT_USER, classes + kProgId + L"\\Clsid"));
    EXPECT_EQ(Upper(dll), Upper(ReadText(HKEY_CURRENT_USER, classes + L"TypeLib\\" + kLibid + L"\\1.0\\409\\" +
                                             DeclaredTypeLibPlatform())
                                    .value_or(L"")));
    for (const auto& [iid, name] : kInterfaces) {
        EXPECT_EQ(L"{00020424-0000-0000-C000-000000000046}",
                  ReadText(HKEY_CURRENT_USER, classes + L"Interface\\" + iid + L"\\ProxyStubClsid32"))
            << name.c_str();
    }
    EXPECT_EQ(3u, ReadDword(HKEY_CURRENT_USER, kExcelAddInKey, L"LoadBehavior")) << "Excel loads it for this user";
    EXPECT_EQ(L"VORTELIX Excel", ReadText(HKEY_CURRENT_USER, kExcelAddInKey, L"FriendlyName"));
    // Nothing of the add-in for other users or the machine.
    for (const auto& line : Changes(before, TakeSnapshot())) {
        std::wstring path = Upper(LogicalPath(line.substr(2)));
        bool installerRecord = path.find(L"\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\INSTALLER") != std::wstring::npos ||
                               path.find(L"HKLM\\SOFTWARE\\CLASSES\\INSTALLER") == 0 ||
                               path.find(L"HKCU\\SOFTWARE\\MICROSOFT\\INSTALLER") == 0 ||
                               // Wine files a per-user product's Add/Remove Programs entry here.
                               path.find(L"\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\UNINSTALL\\") != std::wstring::npos;
        if (path.rfind(L"HKLM\\", 0) == 0 && !installerRecord)
            ADD_FAILURE() << "machine data written: " << testing::PrintToString(line);
    }
    CLSID clsid{};
    HRESULT viaCom = CLSIDFromProgID(kProgId.c_str(), &clsid);
    std::printf("CLSIDFromProgID of the per-user class under this Wine: 0x%08lx\n", static_cast<unsigned long>(viaCom));

    // The running add-in keeps its start mode in the user's add-in key: uninstall removes it too.
    WriteText(HKEY_CURRENT_USER, kExcelAddInKey, L"QVRStartMode", L"NORMAL");
    ASSERT_EQ(0u, Msiexec(L"/x " + Quoted(kUserPackage)));

    EXPECT_FALSE(qvrtest::Exists(folder)) << "the install folder is gone";
    for (const auto& line : Changes(before, TakeSnapshot())) {
        std::wstring path = Upper(LogicalPath(line.substr(2)));
        bool emptyKey = line[0] == L'+' && path.find(L'|') == std::wstring::npos;
        bool wine = path.rfind(L"HKCU\\SOFTWARE\\WINE\\", 0) == 0;
        bool installerStructure = emptyKey && path.find(L"INSTALLER") != std::wstring::npos;
        bool officeStructure = emptyKey && Upper(L"HKCU\\" + kExcelAddInKey).rfind(path + L"\\", 0) == 0;
        if (!wine && !installerStructure && !officeStructure) ADD_FAILURE() << "left behind: " << testing::PrintToString(line);
    }
}

// The user's classes shadow the machine's: with both installed, the machine's registration of
// the add-in would be hidden for that user, and removing one would break the other.
struct ScopeCase {
    const char* name;
    const std::wstring* first;
    const std::wstring* second;
    const wchar_t* message;
};
const ScopeCase kScopes[] = {
    {"PerUserWhilePerMachineInstalled", &kMachinePackage, &kUserPackage,
     L"The VORTELIX Excel add-in is installed for all users of this computer"},
    {"PerMachineWhilePerUserInstalled", &kUserPackage, &kMachinePackage,
     L"The VORTELIX Excel add-in is installed for this user only"},
    {"PerUserWhileOtherBitnessPerMachineInstalled", &kOtherBitnessPackage, &kUserPackage,
     L"The VORTELIX Excel add-in is installed for all users of this computer"},
    {"PerMachineWhileOtherBitnessPerUserInstalled", &kOtherBitnessUserPackage, &kMachinePackage,
     L"The VORTELIX Excel add-in is installed for this user only"},
};

class Scopes : public Deployment, public testing::WithParamInterface<ScopeCase> {};

TEST_P(Scopes, RefuseEachOther) {
    const ScopeCase& c = GetParam();
    ASSERT_EQ(0u, Msiexec(L"/i " + Quoted(*c.first)));
    std::wstring shown;
    EXPECT_EQ(kInstallFailure, MsiexecShowingMessage(L"/i " + Quoted(*c.second), kInstallFailure, &shown));
    EXPECT_TRUE(shown.find(c.message) != std::wstring::npos) << testing::PrintToString(shown);
    EXPECT_TRUE(InstalledProducts(PackageProperty(*c.second, L"UpgradeCode")).empty());
    ASSERT_EQ(0u, Msiexec(L"/x " + Quoted(*c.first)));
    EXPECT_EQ(0u, Msiexec(L"/i " + Quoted(*c.second))) << "once the other is gone";
}

INSTANTIATE_TEST_SUITE_P(Scope, Scopes, testing::ValuesIn(kScopes),
                         [](const testing::TestParamInfo<ScopeCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// Excel running
// ---------------------------------------------------------------------------------------------

enum class Excel { NotRunning, RunningWithoutTheAddIn, HoldingTheAddIn };

struct ExcelCase {
    const char* name;
    Excel excel;
    DWORD expected;  // installing this build's package, and removing it again
    bool warned;     // the user is told that Excel must start again
};
const ExcelCase kExcels[] = {
    {"NotRunning", Excel::NotRunning, ERROR_SUCCESS, false},
    // A first install, or Excel started without the add-in: no file in use, no restart.
    {"RunningWithoutTheAddIn", Excel::RunningWithoutTheAddIn, ERROR_SUCCESS, true},
    // An upgrade while Excel holds the installed add-in's DLL: replaced or removed at the restart.
    {"HoldingTheAddIn", Excel::HoldingTheAddIn, kRestartRequired, true},
};

class RunningExcel : public Deployment, public testing::WithParamInterface<ExcelCase> {};

// Excel loads the add-in when it starts: installed while Excel runs, the add-in is not there
// until Excel starts again, which the package says. It never closes Excel, which may hold an
// unsaved order. A restart is asked for only when Excel holds a file the package replaces: a quiet
// install with a restart scheduled restarts the computer by itself.
TEST_P(RunningExcel, InstallSaysWhetherExcelMustStartAgainAndRestartsOnlyForAFileInUse) {
    const ExcelCase& c = GetParam();
    const std::wstring installedDll = MachineFolder() + L"VORTELIXExcel.dll";
    if (c.excel == Excel::HoldingTheAddIn) {
        // The rebuild of this version installed, and loaded by the running Excel.
        ASSERT_EQ(0u, Msiexec(L"/i " + Quoted(kRebuiltPackage)));
        ASSERT_TRUE(qvrtest::Exists(installedDll));
    }
    PROCESS_INFORMATION excel{};
    if (c.excel != Excel::NotRunning) {
        STARTUPINFOW si{};
        si.cb = sizeof(si);
        std::wstring commandLine = Quoted(WindowsPath(QVR_RUNNING_EXCEL));
        if (c.excel == Excel::HoldingTheAddIn) commandLine += L" " + Quoted(installedDll);
        ASSERT_TRUE(CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &excel));
        Sleep(1000);  // loaded
        DWORD code = 0;
        ASSERT_TRUE(GetExitCodeProcess(excel.hProcess, &code) && code == STILL_ACTIVE) << "Excel runs (exit code " << code << ")";
    }
    std::wstring shown;
    EXPECT_EQ(c.expected, MsiexecShowingMessage(L"/i " + Quoted(kMachinePackage), c.expected, &shown));
    EXPECT_EQ(c.warned ? L"Microsoft Excel is running. The change to the VORTELIX Excel add-in takes effect when Excel is "
                         L"started again: save your work, close Excel and start it again (or restart the computer)."
                       : L"",
              shown.substr(shown.find(L": ") == std::wstring::npos ? 0 : shown.find(L": ") + 2));
    EXPECT_TRUE(MsiQueryProductStateW(PackageProperty(kMachinePackage, L"ProductCode").c_str()) == INSTALLSTATE_DEFAULT)
        << "installed";
    if (c.excel != Excel::HoldingTheAddIn) {
        EXPECT_TRUE(Contents(kShippedDll) == Contents(installedDll));
    }
    if (c.excel != Excel::NotRunning) {
        EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(excel.hProcess, 0)) << "Excel still runs";
        // Removing it while Excel runs: a restart only when Excel holds the DLL; silently.
        EXPECT_EQ(c.expected, Msiexec(L"/x " + Quoted(kMachinePackage), c.expected));
        TerminateProcess(excel.hProcess, 0);
        WaitForSingleObject(excel.hProcess, 10000);
        CloseHandle(excel.hThread);
        CloseHandle(excel.hProcess);
        // The restart: what was in use goes now (Windows would delete it while restarting).
        DeleteFileW(installedDll.c_str());
        RemoveDirectoryW(MachineFolder().c_str());
        HKEY sessionManager = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0, KEY_SET_VALUE,
                          &sessionManager) == ERROR_SUCCESS) {
            RegDeleteValueW(sessionManager, L"PendingFileRenameOperations");
            RegCloseKey(sessionManager);
        }
        EXPECT_FALSE(qvrtest::Exists(MachineFolder())) << "nothing left after the restart";
    }
}

INSTANTIATE_TEST_SUITE_P(Excel, RunningExcel, testing::ValuesIn(kExcels),
                         [](const testing::TestParamInfo<ExcelCase>& info) { return std::string(info.param.name); });

}  // namespace
