// Registration in-process: the server's registry update and the factory's
// UpdateRegistry, called as DllRegisterServer and DllUnregisterServer call them, with temporary
// modules whose settings each test chooses. Everything is read back from the registry of this
// program's own Wine prefix through the raw API.
#include "addin/addin_module.h"
#include "excel_sim.h"
#include "reg_support.h"
#include "server/registration.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <map>
#include <optional>

using namespace regtest;

namespace {

// ---------------------------------------------------------------------------------------------
// The hosts the framework knows (registry name, ProgID, add-in key form).
// ---------------------------------------------------------------------------------------------
struct Host {
    const wchar_t* name;
    const wchar_t* progId;
    bool office;
};
const Host kHostTable[12] = {
    {L"Excel", L"Excel.Application", true},         {L"Word", L"Word.Application", true},
    {L"Outlook", L"Outlook.Application", true},     {L"PowerPoint", L"PowerPoint.Application", true},
    {L"Access", L"Access.Application", true},       {L"MS Project", L"MSProject.Application", true},
    {L"FrontPage", L"FrontPage.Application", true}, {L"MapPoint", L"MapPoint.Application", false},
    {L"Visio", L"Visio.Application", false},        {L"Publisher", L"Publisher.Application", true},
    {L"InfoPath", L"InfoPath.Application", true},   {L"OneNote", L"OneNote.Application", true},
};

std::wstring AddInKey(int host) {
    const Host& h = kHostTable[host];
    return std::wstring(h.office ? L"Software\\Microsoft\\Office\\" : L"Software\\Microsoft\\") + h.name +
           L"\\AddIns\\" + kProgId;
}

const std::wstring kClsidKey = L"CLSID\\" + kClsid;
const std::wstring kUserClasses = L"Software\\Classes\\";
const std::wstring kTypeLibKey = L"TypeLib\\" + kLibid;
const std::wstring kOpenData = L"/A \"" + kProgId + L"\"";

std::wstring OptionsKey(int version) {
    return L"Software\\Microsoft\\Office\\" + std::to_wstring(version) + L".0\\Excel\\Options";
}

void InstallHost(int host) { WriteText(HKEY_CLASSES_ROOT, std::wstring(kHostTable[host].progId) + L"\\CLSID", L"",
                                       L"{0BADC0DE-0000-4000-8000-00000000000" + std::to_wstring(host % 10) + L"}"); }

// ---------------------------------------------------------------------------------------------
// Temporary modules: the add-in's own module class with settings each test chooses, counted.
// ---------------------------------------------------------------------------------------------
std::function<void(qvr::TqvrCOMAddInModule&)> g_configure;
int g_created = 0;
int g_alive = 0;

class TestModule : public vortelix::TAddInModule {
public:
    explicit TestModule(qvr::TComponent* owner) : TAddInModule(owner) {
        ++g_created;
        ++g_alive;
    }
    ~TestModule() override { --g_alive; }
};

std::unique_ptr<qvr::TqvrCOMAddInModule> MakeTestModule(qvr::TComponent* owner) {
    auto module = qvr::TqvrCOMAddInModule::Create<TestModule>(owner);
    if (g_configure) g_configure(*module);
    return module;
}

// Answers dialogs from a script (the last answer repeats) and records them.
class ScriptedDialogs {
public:
    explicit ScriptedDialogs(std::deque<int> answers, std::function<void()> onDialog = nullptr)
        : answers_(std::move(answers)), onDialog_(std::move(onDialog)) {
        previous_ = qvr::SetDialogHandler([this](const qvr::DialogRequest& r) {
            dialogs.push_back(r);
            if (onDialog_) onDialog_();
            int answer = answers_.front();
            if (answers_.size() > 1) answers_.pop_front();
            return answer;
        });
    }
    ~ScriptedDialogs() { qvr::SetDialogHandler(previous_); }
    ScriptedDialogs(const ScriptedDialogs&) = delete;
    ScriptedDialogs& operator=(const ScriptedDialogs&) = delete;
    std::vector<qvr::DialogRequest> dialogs;

private:
    std::deque<int> answers_;
    std::function<void()> onDialog_;
    qvr::DialogHandler previous_;
};
constexpr int kCancel = 1, kRetry = 2, kIgnore = 3;

// Excel running: the stand-in's application object in the running object table under Excel's
// class, while the guard lives (or until Quit).
class RunningExcel {
public:
    RunningExcel() : app_(officesim::ExcelApplicationSim::Make<officesim::ExcelApplicationSim>()) {
        EXPECT_EQ(S_OK, RegisterActiveObject(app_.Get(), kExcelClsid, ACTIVEOBJECT_STRONG, &cookie_));
    }
    ~RunningExcel() { Quit(); }
    RunningExcel(const RunningExcel&) = delete;
    RunningExcel& operator=(const RunningExcel&) = delete;
    void Quit() {
        if (cookie_) RevokeActiveObject(cookie_, nullptr);
        cookie_ = 0;
    }

private:
    Microsoft::WRL::ComPtr<officesim::ExcelApplicationSim> app_;
    DWORD cookie_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Fixture: a clean registry before and after every test, and the test module class.
// ---------------------------------------------------------------------------------------------
class Registration : public testing::Test {
protected:
    void SetUp() override {
        Clean();
        saved_ = qvrtest::Factory().ModuleClass();
        qvrtest::Factory().SetModuleClass(&MakeTestModule);
        g_configure = nullptr;
        g_created = g_alive = 0;
        qvr::SetPerUserRegistration(false);
    }
    void TearDown() override {
        qvrtest::Factory().SetModuleClass(saved_);
        g_configure = nullptr;
        qvr::SetPerUserRegistration(false);
        Clean();
        EXPECT_EQ(0, g_alive) << "every temporary module is destroyed";
    }

    static void Clean() {
        for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER}) {
            std::wstring prefix = root == HKEY_CURRENT_USER ? kUserClasses : L"";
            DeleteTree(root, prefix + kClsidKey);
            DeleteTree(root, prefix + kProgId);
            DeleteTree(root, prefix + L"AppID\\" + kClsid);
        }
        UnRegisterTypeLib(kLibidGuid, 1, 0, 0x409, kSysKind);
        for (int host = 0; host < 12; ++host) {
            DeleteTree(HKEY_LOCAL_MACHINE, AddInKey(host));
            DeleteTree(HKEY_CURRENT_USER, AddInKey(host));
            DeleteTree(HKEY_CLASSES_ROOT, kHostTable[host].progId);
        }
        UninstallExcel();
        DeleteTree(HKEY_LOCAL_MACHINE, kClickToRun14);
        DeleteTree(HKEY_LOCAL_MACHINE, kClickToRun15);
        for (int version = 10; version <= 16; ++version)
            DeleteTree(HKEY_CURRENT_USER, L"Software\\Microsoft\\Office\\" + std::to_wstring(version) + L".0");
    }

    static HRESULT Register() { return qvr::DllUpdateRegistry(true); }
    static HRESULT Unregister() { return qvr::DllUpdateRegistry(false); }

    // The factory's update alone; the framework error it raises, if any.
    static std::optional<qvr::EqvrError> FactoryUpdate(bool reg) {
        try {
            qvrtest::Factory().UpdateRegistry(reg);
        } catch (const qvr::EqvrError& e) {
            return e;
        }
        return std::nullopt;
    }

    static std::wstring ServerPath() {
        wchar_t self[MAX_PATH], longPath[MAX_PATH];
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        GetLongPathNameW(self, longPath, MAX_PATH);
        return longPath;
    }

    static bool ClassKeysPresent(HKEY root, const std::wstring& prefix) {
        return KeyExists(root, prefix + kClsidKey) && KeyExists(root, prefix + kProgId);
    }

    // The class keys with their values, under the machine's classes (root HKCR, no prefix) or
    // the current user's (HKCU, Software\Classes\).
    static void ExpectClassKeys(HKEY root, const std::wstring& prefix) {
        struct Value {
            std::wstring key, name, data;
        };
        const Value values[] = {
            {kClsidKey, L"", kDescription},
            {kClsidKey + L"\\InprocServer32", L"", ServerPath()},
            {kClsidKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
            {kProgId, L"", kDescription},
            {kProgId + L"\\Clsid", L"", kClsid},
            {kClsidKey + L"\\ProgID", L"", kProgId},
            {kClsidKey + L"\\Version", L"", L"1.0"},
            {kClsidKey + L"\\TypeLib", L"", kLibid},
        };
        for (const Value& v : values)
            EXPECT_EQ(v.data, ReadText(root, prefix + v.key, v.name)) << (prefix + v.key).c_str() << " " << v.name.c_str();
    }

    qvr::TqvrModuleClass saved_ = nullptr;
};

// ---------------------------------------------------------------------------------------------
// The add-in as it is configured
// ---------------------------------------------------------------------------------------------

TEST_F(Registration, WritesTheTypeLibraryTheSevenClassKeysAndTheAllUsersExcelKey) {
    InstallExcel();
    qvrtest::DialogRecorder recorder;
    ASSERT_EQ(S_OK, Register());

    const HKEY cr = HKEY_CLASSES_ROOT;
    ExpectClassKeys(cr, L"");
    EXPECT_EQ(std::vector<std::wstring>{L""}, ValueNames(cr, kClsidKey)) << "no AppID without OneNote";

    // The type library with the long path and its folder as help directory, under the system kind
    // of this build only.
    std::wstring path = ServerPath();
    EXPECT_EQ(path, ReadText(cr, kTypeLibKey + L"\\1.0\\409\\" + kTypeLibPlatform));
    EXPECT_FALSE(KeyExists(cr, kTypeLibKey + L"\\1.0\\409\\" + kOtherTypeLibPlatform));
    EXPECT_EQ(path.substr(0, path.find_last_of(L'\\') + 1), ReadText(cr, kTypeLibKey + L"\\1.0\\HELPDIR"));

    // The Excel add-in key for all users, with its four values in their types.
    EXPECT_EQ(L"VORTELIX Excel", ReadText(HKEY_LOCAL_MACHINE, kExcelAddInKey, L"FriendlyName"));
    EXPECT_EQ(L"VORTELIX Excel plugin", ReadText(HKEY_LOCAL_MACHINE, kExcelAddInKey, L"Description"));
    EXPECT_EQ(3u, ReadDword(HKEY_LOCAL_MACHINE, kExcelAddInKey, L"LoadBehavior"));
    EXPECT_EQ(0u, ReadDword(HKEY_LOCAL_MACHINE, kExcelAddInKey, L"CommandLineSafe"));
    EXPECT_EQ((std::vector<std::wstring>{L"CommandLineSafe", L"Description", L"FriendlyName", L"LoadBehavior"}),
              ValueNames(HKEY_LOCAL_MACHINE, kExcelAddInKey));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kExcelAddInKey)) << "nothing under the current user";
    EXPECT_FALSE(KeyExists(cr, L"AppID\\" + kClsid));
    EXPECT_TRUE(recorder.dialogs.empty());
    EXPECT_EQ(2, g_created) << "the running-instance check and the add-in keys each build a module";
}

TEST_F(Registration, UnregistrationRemovesEveryTraceAndSucceedsTwice) {
    InstallExcel();
    qvrtest::DialogRecorder recorder;
    ASSERT_EQ(S_OK, Register());
    // The add-in has run: its key under the current user holds the start mode.
    WriteText(HKEY_CURRENT_USER, kExcelAddInKey, L"QVRStartMode", L"NORMAL");
    g_created = 0;

    ASSERT_EQ(S_OK, Unregister());
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClsidKey));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kProgId));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kTypeLibKey));
    for (const auto& [iid, name] : kInterfaces) EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"Interface\\" + iid)) << name.c_str();
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kExcelAddInKey));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kExcelAddInKey));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Office\\Excel\\AddIns")) << "only our key goes";
    EXPECT_EQ(3, g_created) << "check, disabling pass and removal pass each build a module";

    EXPECT_EQ(S_OK, Unregister()) << "nothing left to delete";
    EXPECT_TRUE(recorder.dialogs.empty());
}

TEST_F(Registration, RegisteringAgainOverwritesTheSameValues) {
    InstallExcel();
    ASSERT_EQ(S_OK, Register());
    WriteDword(HKEY_LOCAL_MACHINE, kExcelAddInKey, L"LoadBehavior", 0);
    ASSERT_EQ(S_OK, Register());
    EXPECT_EQ(3u, ReadDword(HKEY_LOCAL_MACHINE, kExcelAddInKey, L"LoadBehavior"));
    EXPECT_EQ(kDescription, ReadText(HKEY_CLASSES_ROOT, kClsidKey));
}

// ---------------------------------------------------------------------------------------------
// Which hosts get keys: supported and installed (ProgID, or either Click-to-Run key)
// ---------------------------------------------------------------------------------------------

struct InstalledCase {
    const char* name;
    std::vector<int> supported;
    std::vector<int> progIdsInstalled;
    const std::wstring* clickToRun;  // nullptr: neither key
    std::vector<int> expected;
};
void PrintTo(const InstalledCase& c, std::ostream* os) { *os << c.name; }


class HostsInstalled : public Registration, public testing::WithParamInterface<InstalledCase> {};

TEST_P(HostsInstalled, GetTheirAddInKeys) {
    const InstalledCase& c = GetParam();
    g_configure = [&](qvr::TqvrCOMAddInModule& m) {
        qvr::TqvrHostAppSet set;
        for (int h : c.supported) set.bits = static_cast<uint16_t>(set.bits | (1u << h));
        m.SetSupportedApps(set);
    };
    for (int h : c.progIdsInstalled) InstallHost(h);
    if (c.clickToRun) CreateKey(HKEY_LOCAL_MACHINE, *c.clickToRun);
    ASSERT_EQ(S_OK, Register());
    EXPECT_TRUE(ClassKeysPresent(HKEY_CLASSES_ROOT, L"")) << "class keys are written whatever is installed";
    for (int host = 0; host < 12; ++host) {
        bool expected = std::find(c.expected.begin(), c.expected.end(), host) != c.expected.end();
        EXPECT_EQ(expected, KeyExists(HKEY_LOCAL_MACHINE, AddInKey(host))) << AddInKey(host).c_str();
        if (expected) {
            EXPECT_EQ(3u, ReadDword(HKEY_LOCAL_MACHINE, AddInKey(host), L"LoadBehavior"));
        }
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, AddInKey(host)));
    }
    ASSERT_EQ(S_OK, Unregister());
    for (int host = 0; host < 12; ++host) EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, AddInKey(host)));
}

INSTANTIATE_TEST_SUITE_P(
    Table, HostsInstalled,
    testing::Values(InstalledCase{"ExcelNotInstalled", {0}, {}, nullptr, {}},
                    InstalledCase{"ExcelInstalled", {0}, {0}, nullptr, {0}},
                    InstalledCase{"OnlyInstalledOnesOfTheSupported", {0, 1, 8}, {1, 3}, nullptr, {1}},
                    InstalledCase{"ClickToRun14MakesEverySupportedHostInstalled", {0, 1, 7, 8}, {}, &kClickToRun14,
                                  {0, 1, 7, 8}},
                    InstalledCase{"ClickToRun15MakesEverySupportedHostInstalled", {2, 5, 9}, {}, &kClickToRun15,
                                  {2, 5, 9}},
                    InstalledCase{"ClickToRunDoesNotAddUnsupportedHosts", {0}, {1}, &kClickToRun15, {0}}),
    [](const testing::TestParamInfo<InstalledCase>& info) { return std::string(info.param.name); });

TEST_F(Registration, AddInKeyPathsFollowTheHostTable) {
    g_configure = [](qvr::TqvrCOMAddInModule& m) { m.SetSupportedApps(qvr::TqvrHostAppSet(0x0FFF)); };
    CreateKey(HKEY_LOCAL_MACHINE, kClickToRun14);
    ASSERT_EQ(S_OK, Register());
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Office\\MS Project\\AddIns\\" + kProgId));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\MapPoint\\AddIns\\" + kProgId));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Visio\\AddIns\\" + kProgId));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Office\\OneNote\\AddIns\\" + kProgId));
    for (int host = 0; host < 12; ++host) EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, AddInKey(host)));
    for (int host = 0; host < 12; ++host)
        EXPECT_EQ(qvrtest::Factory().GetRegKey(static_cast<qvr::TqvrOfficeHostApp>(host)), L"\\" + AddInKey(host));
}

// ---------------------------------------------------------------------------------------------
// All users or the current user
// ---------------------------------------------------------------------------------------------

TEST_F(Registration, AllUsersKeyGoesToTheMachineAndUnregistrationDeletesBothHives) {
    InstallExcel();
    std::map<std::wstring, std::optional<std::wstring>> seen;
    g_configure = [&](qvr::TqvrCOMAddInModule& m) {
        m.RegisterForAllUsers = true;
        // The removal pass runs after the disabling pass: it sees what that pass wrote.
        m.OnBeforeAddinUnregister = [&](qvr::TObject*) {
            auto lb = ReadDword(HKEY_LOCAL_MACHINE, kExcelAddInKey, L"LoadBehavior");
            seen[L"HKLM LoadBehavior"] = lb ? std::optional<std::wstring>(std::to_wstring(*lb)) : std::nullopt;
            seen[L"HKCU QVRStartMode"] = ReadText(HKEY_CURRENT_USER, kExcelAddInKey, L"QVRStartMode");
            auto userLb = ReadDword(HKEY_CURRENT_USER, kExcelAddInKey, L"LoadBehavior");
            seen[L"HKCU LoadBehavior"] = userLb ? std::optional<std::wstring>(std::to_wstring(*userLb)) : std::nullopt;
        };
    };
    ASSERT_EQ(S_OK, Register());
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kExcelAddInKey));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kExcelAddInKey));

    WriteText(HKEY_CURRENT_USER, kExcelAddInKey, L"QVRStartMode", L"NORMAL");
    CreateKey(HKEY_CURRENT_USER, kExcelAddInKey + L"\\CommandBars");
    ASSERT_EQ(S_OK, Unregister());
    EXPECT_EQ(std::optional<std::wstring>(L"0"), seen[L"HKLM LoadBehavior"]);
    EXPECT_EQ(std::optional<std::wstring>(L"UNINSTALL"), seen[L"HKCU QVRStartMode"]);
    EXPECT_EQ(std::nullopt, seen[L"HKCU LoadBehavior"]) << "LoadBehavior 0 goes to the registration's hive only";
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kExcelAddInKey));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kExcelAddInKey)) << "deleted with its subkeys";
}

TEST_F(Registration, CurrentUserKeyIsDisabledBeforeItIsRemoved) {
    InstallExcel();
    std::optional<DWORD> loadBehaviorBeforeRemoval;
    std::optional<std::wstring> startModeBeforeRemoval;
    g_configure = [&](qvr::TqvrCOMAddInModule& m) {
        m.RegisterForAllUsers = false;
        m.LoadBehavior = 2;
        m.OnBeforeAddinUnregister = [&](qvr::TObject*) {
            loadBehaviorBeforeRemoval = ReadDword(HKEY_CURRENT_USER, kExcelAddInKey, L"LoadBehavior");
            startModeBeforeRemoval = ReadText(HKEY_CURRENT_USER, kExcelAddInKey, L"QVRStartMode");
        };
    };
    ASSERT_EQ(S_OK, Register());
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kExcelAddInKey));
    EXPECT_EQ(2u, ReadDword(HKEY_CURRENT_USER, kExcelAddInKey, L"LoadBehavior"));
    EXPECT_EQ(L"VORTELIX Excel", ReadText(HKEY_CURRENT_USER, kExcelAddInKey, L"FriendlyName"));

    ASSERT_EQ(S_OK, Unregister());
    EXPECT_EQ(std::optional<DWORD>(0), loadBehaviorBeforeRemoval);
    EXPECT_EQ(std::optional<std::wstring>(L"UNINSTALL"), startModeBeforeRemoval);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kExcelAddInKey));
}

TEST_F(Registration, DisablingPassLeavesMapPointEnabled) {
    CreateKey(HKEY_LOCAL_MACHINE, kClickToRun14);
    std::map<int, std::optional<DWORD>> loadBehavior;
    g_configure = [&](qvr::TqvrCOMAddInModule& m) {
        m.RegisterForAllUsers = false;
        m.SetSupportedApps({qvr::ohaWord, qvr::ohaMapPoint, qvr::ohaVisio});
        m.OnBeforeAddinUnregister = [&](qvr::TObject* sender) {
            auto& module = *static_cast<qvr::TqvrCOMAddInModule*>(sender);
            int host = module.HostType();
            loadBehavior[host] = ReadDword(HKEY_CURRENT_USER, AddInKey(host), L"LoadBehavior");
        };
    };
    ASSERT_EQ(S_OK, Register());
    ASSERT_EQ(S_OK, Unregister());
    EXPECT_EQ((std::map<int, std::optional<DWORD>>{{1, 0}, {7, 3}, {8, 0}}), loadBehavior);
    for (int host : {1, 7, 8}) EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, AddInKey(host)));
}

TEST_F(Registration, FailingDisablingPassStopsUnregistrationWith31103) {
    InstallExcel();
    qvrtest::DialogRecorder recorder;
    ASSERT_EQ(S_OK, Register());
    WriteText(HKEY_CURRENT_USER, kExcelAddInKey, L"QVRStartMode", L"NORMAL");
    MakeReadOnly(HKEY_CURRENT_USER, kExcelAddInKey);

    auto error = FactoryUpdate(false);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(L"Can't unregister add-in controls.", error->Message());
    EXPECT_EQ(31103, error->Code());
    EXPECT_EQ(3u, ReadDword(HKEY_LOCAL_MACHINE, kExcelAddInKey, L"LoadBehavior"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kExcelAddInKey)) << "no removal pass";
    EXPECT_TRUE(ClassKeysPresent(HKEY_CLASSES_ROOT, L"")) << "class keys untouched";

    EXPECT_EQ(E_FAIL, Unregister());
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kTypeLibKey)) << "the type library step ran before";
    EXPECT_TRUE(recorder.dialogs.empty()) << "nothing is shown";
    MakeWritable(HKEY_CURRENT_USER, kExcelAddInKey);
}

// Excel's add-in key that cannot be opened for writing fails the registration with the reason,
// and the call takes back what it created: a class that Excel never loads must not look
// registered. What an earlier registration left stays as it was.
struct UnwritableKeyCase {
    const char* name;
    void (*block)();        // makes the add-in key impossible to open for writing
    bool registeredBefore;  // an earlier registration is in place
};
void PrintTo(const UnwritableKeyCase& c, std::ostream* os) { *os << c.name; }

const std::wstring kExcelAddIns = L"Software\\Microsoft\\Office\\Excel\\AddIns";

class AddInKeyThatCannotBeOpened : public Registration, public testing::WithParamInterface<UnwritableKeyCase> {
protected:
    void TearDown() override {
        if (KeyExists(HKEY_LOCAL_MACHINE, kExcelAddInKey)) MakeWritable(HKEY_LOCAL_MACHINE, kExcelAddInKey);
        Registration::TearDown();
    }
};

TEST_P(AddInKeyThatCannotBeOpened, FailsTheRegistrationAndTakesBackWhatItCreated) {
    const UnwritableKeyCase& c = GetParam();
    InstallExcel();
    if (c.registeredBefore) {
        ASSERT_EQ(S_OK, Register());
    }
    c.block();
    qvrtest::DialogRecorder recorder;

    EXPECT_EQ(E_FAIL, Register());
    EXPECT_EQ(c.registeredBefore, ClassKeysPresent(HKEY_CLASSES_ROOT, L""));
    EXPECT_EQ(c.registeredBefore, KeyExists(HKEY_CLASSES_ROOT, kClsidKey + L"\\TypeLib"));
    EXPECT_EQ(c.registeredBefore, KeyExists(HKEY_CLASSES_ROOT, kTypeLibKey + L"\\1.0\\409\\" + kTypeLibPlatform));
    EXPECT_EQ(c.registeredBefore ? std::optional<DWORD>(3) : std::nullopt,
              ReadDword(HKEY_LOCAL_MACHINE, kExcelAddInKey, L"LoadBehavior"));

    auto error = FactoryUpdate(true);
    ASSERT_TRUE(error.has_value());
    const std::wstring start = L"The add-in key HKEY_LOCAL_MACHINE\\" + kExcelAddInKey + L" cannot be written: ";
    EXPECT_EQ(start, error->Message().substr(0, start.size()));
    EXPECT_GT(error->Message().size(), start.size()) << "with the system's reason";
    EXPECT_EQ(c.registeredBefore, ClassKeysPresent(HKEY_CLASSES_ROOT, L""));
    EXPECT_TRUE(recorder.dialogs.empty()) << "nothing is shown";
}

void ReadOnlyAddInKey() {
    CreateKey(HKEY_LOCAL_MACHINE, kExcelAddInKey);
    MakeReadOnly(HKEY_LOCAL_MACHINE, kExcelAddInKey);
}
void VolatileAddInsFolder() { MakeVolatile(HKEY_LOCAL_MACHINE, kExcelAddIns); }

INSTANTIATE_TEST_SUITE_P(
    Table, AddInKeyThatCannotBeOpened,
    testing::Values(UnwritableKeyCase{"ReadOnlyKey", &ReadOnlyAddInKey, false},
                    UnwritableKeyCase{"AddInsFolderThatTakesNoKey", &VolatileAddInsFolder, false},
                    UnwritableKeyCase{"ReadOnlyKeyOfAnEarlierRegistration", &ReadOnlyAddInKey, true}),
    [](const testing::TestParamInfo<UnwritableKeyCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// Running-instance check
// ---------------------------------------------------------------------------------------------

class RunningInstances : public Registration {
protected:
    void SetUp() override {
        Registration::SetUp();
        InstallExcel();
        g_configure = [](qvr::TqvrCOMAddInModule& m) { m.DisplayAlerts = true; };
    }
};

void ExpectRunningDialog(const qvr::DialogRequest& d) {
    EXPECT_EQ(L"VORTELIX Excel", d.caption);
    EXPECT_EQ(L"Please close all running host application instances:\r\nExcel ", d.text);
    EXPECT_EQ(static_cast<UINT>(MB_ICONINFORMATION), d.style & MB_ICONMASK);
    EXPECT_EQ((std::vector<std::wstring>{L"Cancel", L"&Retry", L"&Ignore"}), d.buttons);
}

// The check ends with registration going ahead: the cases of who answers the dialog, and how.
enum class AlertsHandler { None, HandlesTheFirstCheck, ClearsDisplayAlerts };
struct ProceedCase {
    const char* name;
    bool running;        // Excel runs when registration starts
    bool displayAlerts;  // the module's setting (the add-in's own is False)
    AlertsHandler handler;
    std::deque<int> answers;  // the dialog's answers, the last one repeating
    bool quitAtDialog;        // Excel quits while the dialog is shown
    size_t dialogs;           // running-instance dialogs shown
    std::vector<uint16_t> handlerSaw;  // the running hosts each call of the handler saw
};
void PrintTo(const ProceedCase& c, std::ostream* os) { *os << c.name; }

class RunningInstancesProceed : public RunningInstances, public testing::WithParamInterface<ProceedCase> {};

TEST_P(RunningInstancesProceed, RegistrationWritesTheAddInKey) {
    const ProceedCase& c = GetParam();
    std::optional<RunningExcel> excel;
    if (c.running) excel.emplace();
    std::vector<uint16_t> calls;
    g_configure = [&](qvr::TqvrCOMAddInModule& m) {
        m.DisplayAlerts = c.displayAlerts;
        if (c.handler == AlertsHandler::HandlesTheFirstCheck)
            m.OnBeforeDisplayAlerts = [&](qvr::TObject*, qvr::TqvrHostAppSet hosts, bool& handled) {
                calls.push_back(hosts.bits);
                if (calls.size() == 1) handled = true;  // checks again without a dialog
            };
        if (c.handler == AlertsHandler::ClearsDisplayAlerts)
            m.OnBeforeDisplayAlerts = [&](qvr::TObject*, qvr::TqvrHostAppSet hosts, bool&) {
                calls.push_back(hosts.bits);
                m.DisplayAlerts = false;
            };
    };
    ScriptedDialogs dialogs(c.answers, [&] {
        if (c.quitAtDialog && excel) excel->Quit();
    });
    ASSERT_EQ(S_OK, Register());
    EXPECT_EQ(c.dialogs, dialogs.dialogs.size());
    for (const auto& d : dialogs.dialogs) ExpectRunningDialog(d);
    EXPECT_EQ(c.handlerSaw, calls);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kExcelAddInKey));
}

INSTANTIATE_TEST_SUITE_P(
    Table, RunningInstancesProceed,
    testing::Values(
        ProceedCase{"IgnoreProceeds", true, true, AlertsHandler::None, {kIgnore}, false, 1, {}},
        ProceedCase{"RetryWithExcelStillRunningAsksAgain", true, true, AlertsHandler::None, {kRetry, kRetry, kIgnore},
                    false, 3, {}},
        ProceedCase{"RetryAfterExcelQuitProceeds", true, true, AlertsHandler::None, {kRetry}, true, 1, {}},
        // A dialog here would be answered Cancel, and registration would fail.
        ProceedCase{"NothingRunningShowsNothing", false, true, AlertsHandler::None, {kCancel}, false, 0, {}},
        ProceedCase{"WithoutDisplayAlertsNothingIsChecked", true, false, AlertsHandler::None, {kCancel}, false, 0, {}},
        ProceedCase{"HandlerSeesTheRunningHostsAndHandledSkipsTheDialog", true, true,
                    AlertsHandler::HandlesTheFirstCheck, {kIgnore}, false, 1, {1, 1}},
        ProceedCase{"HandlerThatClearsDisplayAlertsEndsTheCheck", true, true, AlertsHandler::ClearsDisplayAlerts,
                    {kCancel}, false, 0, {1}}),
    [](const testing::TestParamInfo<ProceedCase>& info) { return std::string(info.param.name); });

struct CancelCase {
    const char* name;
    int answer;
};
void PrintTo(const CancelCase& c, std::ostream* os) { *os << c.name; }

class RunningInstancesCancel : public RunningInstances, public testing::WithParamInterface<CancelCase> {};

TEST_P(RunningInstancesCancel, RegistrationLeavesOnlyTheTypeLibrary) {
    RunningExcel excel;
    ScriptedDialogs dialogs({GetParam().answer});
    auto error = FactoryUpdate(true);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(L"The registration process has been canceled.", error->Message());
    EXPECT_EQ(31105, error->Code());

    EXPECT_EQ(E_FAIL, Register());
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kTypeLibKey)) << "the type-library step ran first";
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClsidKey));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kProgId));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kExcelAddInKey));
    EXPECT_EQ(2u, dialogs.dialogs.size()) << "the running-instance dialog and nothing else";
    EXPECT_EQ(2, g_created);
}

TEST_P(RunningInstancesCancel, UnregistrationLeavesAllButTheTypeLibrary) {
    {
        ScriptedDialogs none({kIgnore});
        ASSERT_EQ(S_OK, Register());
        ASSERT_TRUE(none.dialogs.empty());
    }
    RunningExcel excel;
    ScriptedDialogs dialogs({GetParam().answer});
    EXPECT_EQ(E_FAIL, Unregister());
    EXPECT_EQ(1u, dialogs.dialogs.size());
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kTypeLibKey));
    EXPECT_TRUE(ClassKeysPresent(HKEY_CLASSES_ROOT, L""));
    EXPECT_EQ(3u, ReadDword(HKEY_LOCAL_MACHINE, kExcelAddInKey, L"LoadBehavior")) << "not disabled";
}

INSTANTIATE_TEST_SUITE_P(Table, RunningInstancesCancel,
                         testing::Values(CancelCase{"Cancel", kCancel}, CancelCase{"Closed", 0}),
                         [](const testing::TestParamInfo<CancelCase>& info) { return std::string(info.param.name); });

TEST_F(RunningInstances, AnInstalledHostWhoseProgIdDoesNotResolveFailsTheCall) {
    UninstallExcel();
    CreateKey(HKEY_LOCAL_MACHINE, kClickToRun15);  // Excel counts as installed, its ProgID is unknown
    qvrtest::DialogRecorder recorder;
    EXPECT_EQ(E_FAIL, Register());
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClsidKey));
    EXPECT_TRUE(recorder.dialogs.empty());
}

// ---------------------------------------------------------------------------------------------
// Registration events
// ---------------------------------------------------------------------------------------------

struct EventCall {
    int hostType;
    qvr::IqvrAddInClass* factory;
    HKEY root;
    std::wstring openKey;
    bool sameModule;
};

TEST_F(Registration, AfterRegisterFiresPerHostWithHostFactoryAndOpenedRegistry) {
    CreateKey(HKEY_LOCAL_MACHINE, kClickToRun14);
    std::vector<EventCall> calls;
    g_configure = [&](qvr::TqvrCOMAddInModule& m) {
        m.SetSupportedApps({qvr::ohaExcel, qvr::ohaVisio});
        m.OnAfterAddinRegister = [&calls, &m](qvr::TObject* sender) {
            calls.push_back({m.HostType(), m.COMAddInClassFactory(), m.Registry().RootKey(),
                             m.Registry().CurrentPath(), sender == &m});
            m.Registry().WriteString(L"Extra", L"written by the handler");
        };
    };
    ASSERT_EQ(S_OK, Register());
    ASSERT_EQ(2u, calls.size());
    for (size_t i = 0; i < 2; ++i) {
        int host = i == 0 ? 0 : 8;
        EXPECT_EQ(host, calls[i].hostType);
        EXPECT_EQ(static_cast<qvr::IqvrAddInClass*>(&qvrtest::Factory()), calls[i].factory);
        EXPECT_EQ(HKEY_CURRENT_USER, calls[i].root);
        EXPECT_EQ(AddInKey(host), calls[i].openKey);
        EXPECT_TRUE(calls[i].sameModule);
        EXPECT_EQ(L"written by the handler", ReadText(HKEY_CURRENT_USER, AddInKey(host), L"Extra"));
    }
}

TEST_F(Registration, BeforeUnregisterFiresPerHostWithoutCreatingTheKey) {
    InstallExcel();
    std::vector<EventCall> calls;
    std::optional<std::wstring> extra;
    g_configure = [&](qvr::TqvrCOMAddInModule& m) {
        m.OnBeforeAddinUnregister = [&](qvr::TObject* sender) {
            calls.push_back({m.HostType(), m.COMAddInClassFactory(), m.Registry().RootKey(),
                             m.Registry().CurrentPath(), sender == &m});
            if (m.Registry().CurrentKey()) extra = m.Registry().ReadString(L"Extra");
        };
    };
    ASSERT_EQ(S_OK, Register());
    ASSERT_EQ(S_OK, Unregister());
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(0, calls[0].hostType);
    EXPECT_EQ(&qvrtest::Factory(), calls[0].factory);
    EXPECT_EQ(L"", calls[0].openKey) << "no key under the current user, none created";
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kExcelAddInKey));

    // With the key there, the handler reads its own values.
    ASSERT_EQ(S_OK, Register());
    WriteText(HKEY_CURRENT_USER, kExcelAddInKey, L"Extra", L"kept by the add-in");
    ASSERT_EQ(S_OK, Unregister());
    ASSERT_EQ(2u, calls.size());
    EXPECT_EQ(kExcelAddInKey, calls[1].openKey);
    EXPECT_EQ(std::optional<std::wstring>(L"kept by the add-in"), extra);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kExcelAddInKey));
}

TEST_F(Registration, HandlerErrorGoesToOnErrorAndRegistrationGoesOn) {
    InstallExcel();
    std::vector<std::wstring> errors;
    g_configure = [&](qvr::TqvrCOMAddInModule& m) {
        m.OnAfterAddinRegister = [](qvr::TObject*) { throw qvr::EqvrError(L"handler failed"); };
        m.OnBeforeAddinUnregister = [](qvr::TObject*) { throw qvr::EqvrError(L"handler failed too"); };
        m.OnError = [&](const qvr::EqvrError& e, bool& handled) {
            errors.push_back(e.Message());
            handled = true;
        };
    };
    qvrtest::DialogRecorder recorder;
    ASSERT_EQ(S_OK, Register());
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kExcelAddInKey));
    ASSERT_EQ(S_OK, Unregister());
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kExcelAddInKey));
    EXPECT_EQ((std::vector<std::wstring>{L"handler failed", L"handler failed too"}), errors);
    EXPECT_TRUE(recorder.dialogs.empty());
}

TEST_F(Registration, HandlerErrorWithoutOnErrorIsReportedInTheErrorDialog) {
    InstallExcel();
    g_configure = [](qvr::TqvrCOMAddInModule& m) {
        m.OnAfterAddinRegister = [](qvr::TObject*) { throw qvr::EqvrError(L"handler failed"); };
    };
    qvrtest::DialogRecorder recorder;
    ASSERT_EQ(S_OK, Register());
    ASSERT_EQ(1u, recorder.dialogs.size());
    EXPECT_EQ(L"VORTELIX Excel error: the add-in has fired an exception.\r\nhandler failed", recorder.dialogs[0].text);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kExcelAddInKey));
}

// ---------------------------------------------------------------------------------------------
// OneNote surrogate entries
// ---------------------------------------------------------------------------------------------

TEST_F(Registration, OneNoteGetsTheSurrogateEntriesAndUnregistrationRemovesThem) {
    InstallHost(11);
    g_configure = [](qvr::TqvrCOMAddInModule& m) { m.SetSupportedApps({qvr::ohaOneNote}); };
    ASSERT_EQ(S_OK, Register());
    EXPECT_EQ(std::optional<std::wstring>(L""), ReadText(HKEY_CLASSES_ROOT, L"AppID\\" + kClsid, L"DllSurrogate"));
    EXPECT_EQ(kClsid, ReadText(HKEY_CLASSES_ROOT, kClsidKey, L"AppID"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, AddInKey(11)));
    ASSERT_EQ(S_OK, Unregister());
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"AppID\\" + kClsid));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClsidKey));
}

// ---------------------------------------------------------------------------------------------
// Excel "OPEN" entries
// ---------------------------------------------------------------------------------------------

using Values = std::map<std::wstring, std::wstring>;

Values OpenValues(int version) {
    Values v;
    for (const auto& name : ValueNames(HKEY_CURRENT_USER, OptionsKey(version)))
        v[name] = ReadText(HKEY_CURRENT_USER, OptionsKey(version), name).value_or(L"(not text)");
    return v;
}

void SetOpenValues(int version, const Values& values) {
    CreateKey(HKEY_CURRENT_USER, OptionsKey(version));
    for (const auto& [name, data] : values) WriteText(HKEY_CURRENT_USER, OptionsKey(version), name, data);
}

std::wstring OpenName(int n) { return n == 0 ? L"OPEN" : L"OPEN" + std::to_wstring(n); }
std::wstring OtherAddIn(int n) { return L"\"C:\\addins\\other" + std::to_wstring(n) + L".xla\""; }

// Other add-ins listed under OPEN, OPEN1 ... OPEN<n-1>.
Values Others(int n) {
    Values v;
    for (int i = 0; i < n; ++i) v[OpenName(i)] = OtherAddIn(i);
    return v;
}

Values With(Values v, const std::wstring& name, const std::wstring& data) {
    v[name] = data;
    return v;
}

struct OpenCase {
    const char* name;
    Values before;
    Values after;
};
void PrintTo(const OpenCase& c, std::ostream* os) { *os << c.name; }


class OpenEntries : public Registration, public testing::WithParamInterface<OpenCase> {
protected:
    void SetUp() override {
        Registration::SetUp();
        InstallExcel();
        g_configure = [](qvr::TqvrCOMAddInModule& m) { m.XLAutomationAddIn = true; };
    }
};

class OpenRegistration : public OpenEntries {};
class OpenUnregistration : public OpenEntries {};

TEST_P(OpenRegistration, AddsTheEntryUnderTheNextFreeNumber) {
    SetOpenValues(16, GetParam().before);
    qvrtest::DialogRecorder recorder;
    ASSERT_EQ(S_OK, Register());
    EXPECT_EQ(GetParam().after, OpenValues(16));
    EXPECT_TRUE(recorder.dialogs.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, OpenRegistration,
    testing::Values(
        OpenCase{"None", {}, {{L"OPEN", kOpenData}}},
        OpenCase{"OnlyOpen", {{L"OPEN", L"a.xla"}}, {{L"OPEN", L"a.xla"}, {L"OPEN1", kOpenData}}},
        OpenCase{"OpenAndOpen1",
                 {{L"OPEN", L"a"}, {L"OPEN1", L"b"}},
                 {{L"OPEN", L"a"}, {L"OPEN1", L"b"}, {L"OPEN2", kOpenData}}},
        OpenCase{"OnlyOpen1", {{L"OPEN1", L"b"}}, {{L"OPEN1", L"b"}, {L"OPEN2", kOpenData}}},
        OpenCase{"LowerCaseNames",
                 {{L"open", L"a"}, {L"Open1", L"b"}},
                 {{L"open", L"a"}, {L"Open1", L"b"}, {L"OPEN2", kOpenData}}},
        OpenCase{"GapKeepsTheNumberAfterTheHighest",
                 {{L"OPEN", L"a"}, {L"OPEN2", L"c"}},
                 {{L"OPEN", L"a"}, {L"OPEN2", L"c"}, {L"OPEN3", kOpenData}}},
        OpenCase{"ElevenEntriesGiveOpen11NotOpen10", Others(11), With(Others(11), L"OPEN11", kOpenData)},
        OpenCase{"TwentyEntries", Others(20), With(Others(20), L"OPEN20", kOpenData)},
        OpenCase{"NonNumericSuffixIsSkipped",
                 {{L"OPEN", L"a"}, {L"OPENX", L"x"}, {L"OPEN1", L"b"}},
                 {{L"OPEN", L"a"}, {L"OPENX", L"x"}, {L"OPEN1", L"b"}, {L"OPEN2", kOpenData}}},
        OpenCase{"OnlyNonNumeric", {{L"OPENER", L"x"}}, {{L"OPENER", L"x"}, {L"OPEN", kOpenData}}},
        OpenCase{"AlreadyListedAddsNothing",
                 {{L"OPEN", L"a"}, {L"OPEN1", kOpenData}},
                 {{L"OPEN", L"a"}, {L"OPEN1", kOpenData}}},
        OpenCase{"ListedWithOtherSwitches",
                 {{L"OPEN", L"/R \"" + kProgId + L"\""}},
                 {{L"OPEN", L"/R \"" + kProgId + L"\""}}},
        OpenCase{"ProgIdIsCaseSensitive",
                 {{L"OPEN", L"/A \"vortelixexcel.covortelixexcel\""}},
                 {{L"OPEN", L"/A \"vortelixexcel.covortelixexcel\""}, {L"OPEN1", kOpenData}}},
        OpenCase{"OtherValuesStay", {{L"DefaultPath", L"C:\\x"}}, {{L"DefaultPath", L"C:\\x"}, {L"OPEN", kOpenData}}}),
    [](const testing::TestParamInfo<OpenCase>& info) { return std::string(info.param.name); });

TEST_P(OpenUnregistration, RemovesTheEntryAndRenumbersTheRest) {
    ASSERT_EQ(S_OK, Register());  // with no Options key yet: nothing is added
    SetOpenValues(16, GetParam().before);
    qvrtest::DialogRecorder recorder;
    ASSERT_EQ(S_OK, Unregister());
    EXPECT_EQ(GetParam().after, OpenValues(16));
    EXPECT_TRUE(recorder.dialogs.empty());
}

Values Shifted(int n, int removed) {
    Values v;
    for (int i = 0, k = 0; i < n; ++i) {
        if (i == removed) continue;
        v[OpenName(k++)] = OtherAddIn(i);
    }
    return v;
}

INSTANTIATE_TEST_SUITE_P(
    Table, OpenUnregistration,
    testing::Values(
        OpenCase{"MiddleOfThree",
                 {{L"OPEN", L"a"}, {L"OPEN1", kOpenData}, {L"OPEN2", L"c"}},
                 {{L"OPEN", L"a"}, {L"OPEN1", L"c"}}},
        OpenCase{"OnlyEntry", {{L"OPEN", kOpenData}}, {}},
        OpenCase{"FirstOfTwo", {{L"OPEN", kOpenData}, {L"OPEN1", L"b"}}, {{L"OPEN", L"b"}}},
        OpenCase{"RenumberingStartsAtOpen",
                 {{L"OPEN1", L"b"}, {L"OPEN2", kOpenData}, {L"OPEN4", L"d"}},
                 {{L"OPEN", L"b"}, {L"OPEN1", L"d"}}},
        OpenCase{"TwelveEntriesInNumericOrder", With(Others(12), L"OPEN3", kOpenData), Shifted(12, 3)},
        OpenCase{"NonNumericNamesAreLeftAlone",
                 {{L"OPEN", L"a"}, {L"OPENX", L"x"}, {L"OPEN1", kOpenData}, {L"OPEN2", L"c"}},
                 {{L"OPEN", L"a"}, {L"OPENX", L"x"}, {L"OPEN1", L"c"}}},
        OpenCase{"NotListedChangesNothing", {{L"OPEN1", L"b"}, {L"OPEN3", L"d"}}, {{L"OPEN1", L"b"}, {L"OPEN3", L"d"}}},
        OpenCase{"TwoNamesForOneNumberLoseNothing",
                 {{L"OPEN", kOpenData}, {L"OPEN01", L"b"}, {L"OPEN1", L"c"}},
                 {{L"OPEN", L"b"}, {L"OPEN1", L"c"}}}),
    [](const testing::TestParamInfo<OpenCase>& info) { return std::string(info.param.name); });

TEST_F(OpenEntries, EveryExistingOptionsKeyFromVersion10To16GetsTheEntry) {
    for (int version : {10, 12, 16}) CreateKey(HKEY_CURRENT_USER, OptionsKey(version));
    CreateKey(HKEY_CURRENT_USER, L"Software\\Microsoft\\Office\\9.0\\Excel\\Options");
    CreateKey(HKEY_CURRENT_USER, L"Software\\Microsoft\\Office\\17.0\\Excel\\Options");
    ASSERT_EQ(S_OK, Register());
    for (int version = 10; version <= 16; ++version) {
        bool exists = version == 10 || version == 12 || version == 16;
        EXPECT_EQ(exists, KeyExists(HKEY_CURRENT_USER, OptionsKey(version))) << version << ": no key is created";
        if (exists) {
            EXPECT_EQ((Values{{L"OPEN", kOpenData}}), OpenValues(version)) << version;
        }
    }
    EXPECT_TRUE(ValueNames(HKEY_CURRENT_USER, L"Software\\Microsoft\\Office\\9.0\\Excel\\Options").empty());
    EXPECT_TRUE(ValueNames(HKEY_CURRENT_USER, L"Software\\Microsoft\\Office\\17.0\\Excel\\Options").empty());
    ASSERT_EQ(S_OK, Register());
    EXPECT_EQ((Values{{L"OPEN", kOpenData}}), OpenValues(16)) << "a second registration adds nothing";
    ASSERT_EQ(S_OK, Unregister());
    for (int version : {10, 12, 16}) EXPECT_TRUE(OpenValues(version).empty()) << version;
    DeleteTree(HKEY_CURRENT_USER, L"Software\\Microsoft\\Office\\9.0");
    DeleteTree(HKEY_CURRENT_USER, L"Software\\Microsoft\\Office\\17.0");
}

TEST_F(OpenEntries, RoundTripRestoresTheOtherAddIns) {
    SetOpenValues(14, Others(10));
    ASSERT_EQ(S_OK, Register());
    EXPECT_EQ(With(Others(10), L"OPEN10", kOpenData), OpenValues(14));
    ASSERT_EQ(S_OK, Unregister());
    EXPECT_EQ(Others(10), OpenValues(14));
}

TEST_F(OpenEntries, NotWrittenWithoutXLAutomationAddInOrWithoutExcel) {
    SetOpenValues(16, {});
    g_configure = nullptr;
    ASSERT_EQ(S_OK, Register());
    EXPECT_TRUE(OpenValues(16).empty());
    g_configure = [](qvr::TqvrCOMAddInModule& m) { m.XLAutomationAddIn = true; };
    UninstallExcel();
    ASSERT_EQ(S_OK, Register());
    EXPECT_TRUE(OpenValues(16).empty()) << "Excel not installed";
}

// ---------------------------------------------------------------------------------------------
// COM class keys
// ---------------------------------------------------------------------------------------------

struct BlockedKeyCase {
    const char* name;
    std::wstring blocked;             // made read-only before registration
    std::vector<std::wstring> written;  // keys that exist afterwards (besides the blocked one)
    std::vector<std::wstring> missing;
};
void PrintTo(const BlockedKeyCase& c, std::ostream* os) { *os << c.name; }


class ClassKeyFailure : public Registration, public testing::WithParamInterface<BlockedKeyCase> {};

// The keys are written in the table's order: a key that cannot be written stops the call with
// E_FAIL, the ones written before it are taken back (a class half registered is what COM and
// Office trip over later), the ones after are never written.
TEST_P(ClassKeyFailure, StopsAtTheKeyThatCannotBeWrittenAndTakesBackTheOnesBefore) {
    const BlockedKeyCase& c = GetParam();
    InstallExcel();
    CreateKey(HKEY_CLASSES_ROOT, c.blocked);
    MakeReadOnly(HKEY_CLASSES_ROOT, c.blocked);
    auto error = FactoryUpdate(true);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(L"Error creating system registry entry", error->Message());
    for (const auto& key : c.written) EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, key)) << key.c_str() << " taken back";
    for (const auto& key : c.missing) EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, key)) << key.c_str();
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kExcelAddInKey)) << "the add-in keys come after the class keys";
    qvrtest::DialogRecorder recorder;
    EXPECT_EQ(E_FAIL, Register());
    EXPECT_TRUE(recorder.dialogs.empty());
    MakeWritable(HKEY_CLASSES_ROOT, c.blocked);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ClassKeyFailure,
    testing::Values(
        BlockedKeyCase{"ProgIdKey", kProgId, {kClsidKey, kClsidKey + L"\\InprocServer32"},
                       {kProgId + L"\\Clsid", kClsidKey + L"\\ProgID", kClsidKey + L"\\Version",
                        kClsidKey + L"\\TypeLib"}},
        BlockedKeyCase{"VersionKey", kClsidKey + L"\\Version",
                       {kClsidKey + L"\\InprocServer32", kProgId + L"\\Clsid", kClsidKey + L"\\ProgID"},
                       {kClsidKey + L"\\TypeLib"}}),
    [](const testing::TestParamInfo<BlockedKeyCase>& info) { return std::string(info.param.name); });

TEST_F(Registration, UnregistrationDeletesOnlyClassKeysWithoutSubkeys) {
    InstallExcel();
    ASSERT_EQ(S_OK, Register());
    CreateKey(HKEY_CLASSES_ROOT, kClsidKey + L"\\InprocServer32\\Foreign");
    CreateKey(HKEY_CLASSES_ROOT, kProgId + L"\\CurVer");
    ASSERT_EQ(S_OK, Unregister());
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kClsidKey + L"\\InprocServer32")) << "has a subkey";
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kClsidKey)) << "still has InprocServer32";
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kProgId)) << "still has CurVer";
    for (const auto& key : {kClsidKey + L"\\TypeLib", kClsidKey + L"\\Version", kClsidKey + L"\\ProgID",
                            kProgId + L"\\Clsid"})
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, key)) << key.c_str();
}

// ---------------------------------------------------------------------------------------------
// Per-user registration
// ---------------------------------------------------------------------------------------------

struct SwitchCase {
    const wchar_t* commandLine;
    bool perUser;
};
void PrintTo(const SwitchCase& c, std::ostream* os) { *os << testing::PrintToString(std::wstring(c.commandLine)); }

class PerUserSwitch : public testing::TestWithParam<SwitchCase> {};

TEST_P(PerUserSwitch, IsRecognisedWithDashOrSlashInAnyCase) {
    EXPECT_EQ(GetParam().perUser, qvr::CommandLineAsksPerUser(GetParam().commandLine)) << GetParam().commandLine;
}

INSTANTIATE_TEST_SUITE_P(
    Table, PerUserSwitch,
    testing::Values(SwitchCase{L"setup.exe /REGSERVERPERUSER", true}, SwitchCase{L"setup.exe -regserverperuser", true},
                    SwitchCase{L"setup.exe /UnRegServerPerUser", true},
                    SwitchCase{L"setup.exe -UNREGSERVERPERUSER x.dll", true},
                    SwitchCase{L"\"C:\\Program Files\\setup.exe\" x.dll /regserverperuser", true},
                    SwitchCase{L"setup.exe REGSERVERPERUSER", false},
                    SwitchCase{L"setup.exe --regserverperuser", false},
                    SwitchCase{L"setup.exe /regserverperuserx", false}, SwitchCase{L"setup.exe /regserver", false},
                    SwitchCase{L"/regserverperuser", false} /* the program's own name */,
                    SwitchCase{L"setup.exe \"/regserverperuser x\"", false}, SwitchCase{L"", false}));

TEST_F(Registration, PerUserMovesTheClassKeysToTheCurrentUserOnly) {
    InstallExcel();
    qvr::SetPerUserRegistration(true);
    ASSERT_EQ(S_OK, Register());
    const HKEY cu = HKEY_CURRENT_USER;
    ExpectClassKeys(cu, kUserClasses);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClsidKey));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kProgId));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kExcelAddInKey)) << "the Office add-in keys are not affected";

    ASSERT_EQ(S_OK, Unregister());
    EXPECT_FALSE(KeyExists(cu, kUserClasses + kClsidKey));
    EXPECT_FALSE(KeyExists(cu, kUserClasses + kProgId));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kExcelAddInKey));
}

TEST_F(Registration, MachineWideUnregistrationLeavesPerUserKeysAlone) {
    InstallExcel();
    qvr::SetPerUserRegistration(true);
    ASSERT_EQ(S_OK, Register());
    qvr::SetPerUserRegistration(false);
    ASSERT_EQ(S_OK, Unregister());
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, kUserClasses + kClsidKey));
    qvr::SetPerUserRegistration(true);
    ASSERT_EQ(S_OK, Unregister());
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kUserClasses + kClsidKey));
}

}  // namespace
