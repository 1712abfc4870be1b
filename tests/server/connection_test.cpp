// The connection object driven as Office drives it: life-cycle order, start mode, error report
// and the errors it returns to Office.
#include "addin/coclass.h"
#include "com/registry.h"
#include "excel_sim.h"
#include "office_host.h"
#include "support/recording_module.h"
#include "support/test_support.h"

#include "server/status.h"

#include <gtest/gtest.h>
#include <wrl/client.h>

using Microsoft::WRL::ComPtr;
using officesim::COMAddInSim;
using officesim::ExcelApplicationSim;
using officesim::OfficeHost;
using Events = std::vector<std::wstring>;

namespace {

const wchar_t kKey[] = L"Software\\Microsoft\\Office\\Excel\\AddIns\\VORTELIXExcel.coVORTELIXExcel";

class Connection : public testing::Test {
protected:
    void SetUp() override {
        qvrtest::TheJournal().Clear();
        qvrtest::DeleteUserKey(kKey);
        ASSERT_EQ(S_OK, qvrtest::RecordingFactory().CreateInstance(nullptr, __uuidof(IDTExtensibility2),
                                                                   reinterpret_cast<void**>(addIn.GetAddressOf())));
    }
    void TearDown() override {
        addIn.Reset();
        // Every scenario ends with nothing alive: the server could unload.
        EXPECT_EQ(S_OK, qvr::TComServer::Instance()->CanUnloadNow());
        qvrtest::TheJournal().Clear();
    }
    qvr::TqvrAddin& Object() { return *qvrtest::AsAddin(addIn.Get()); }
    qvr::TqvrCOMAddInModule* Module() { return Object().COMAddInModule(); }
    const Events& Journal() { return qvrtest::TheJournal().events; }

    HRESULT Connect(LONG mode, IDispatch* addInInst = nullptr, SAFEARRAY** custom = nullptr) {
        return addIn->OnConnection(app.Get(), mode, addInInst, custom);
    }

    ComPtr<ExcelApplicationSim> app = ExcelApplicationSim::Make<ExcelApplicationSim>();
    ComPtr<IDTExtensibility2> addIn;
};

TEST_F(Connection, StartupLoadFiresTheLifeCycleOnceInOrder) {
    ASSERT_EQ(S_OK, Connect(1));
    EXPECT_EQ(Events({L"Created"}), Journal()) << "ConnectMode 1 waits for OnStartupComplete";
    ASSERT_EQ(S_OK, addIn->OnStartupComplete(nullptr));
    ASSERT_EQ(S_OK, addIn->OnStartupComplete(nullptr));  // a second call changes nothing
    ASSERT_EQ(S_OK, addIn->OnBeginShutdown(nullptr));
    ASSERT_EQ(S_OK, addIn->OnDisconnection(0, nullptr));
    EXPECT_EQ(Events({L"Created", L"Initialize", L"StartupComplete", L"BeginShutdown", L"Finalize", L"Destroyed"}),
              Journal());
}

TEST_F(Connection, LoadWhileRunningStartsUpInsideOnConnection) {
    ASSERT_EQ(S_OK, Connect(0));
    EXPECT_EQ(Events({L"Created", L"Initialize", L"StartupComplete"}), Journal());
    ASSERT_EQ(S_OK, addIn->OnStartupComplete(nullptr));
    EXPECT_EQ(3u, Journal().size());
    ASSERT_EQ(S_OK, addIn->OnDisconnection(0, nullptr));
    EXPECT_EQ(L"Finalize", Journal()[3]);
}

TEST_F(Connection, SecondConnectionReusesTheModuleUntilTheLastDisconnection) {
    ASSERT_EQ(S_OK, Connect(1));
    qvr::TqvrCOMAddInModule* first = Module();
    ASSERT_EQ(S_OK, Connect(1));
    EXPECT_EQ(first, Module());
    ASSERT_EQ(S_OK, addIn->OnStartupComplete(nullptr));
    ASSERT_EQ(S_OK, addIn->OnBeginShutdown(nullptr));
    EXPECT_EQ(Events({L"Created"}), Journal()) << "with two connections start-up and shut-down do nothing";
    ASSERT_EQ(S_OK, addIn->OnDisconnection(0, nullptr));
    EXPECT_NE(nullptr, Module());
    ASSERT_EQ(S_OK, addIn->OnDisconnection(0, nullptr));
    EXPECT_EQ(nullptr, Module());
    EXPECT_EQ(Events({L"Created", L"Finalize", L"Destroyed"}), Journal());
}

TEST_F(Connection, UserRemovalRunsBeginShutdownItself) {
    struct Case {
        LONG removeMode;
        Events tail;
    };
    for (const Case& c : {Case{1, {L"BeginShutdown", L"Finalize", L"Destroyed"}}, Case{0, {L"Finalize", L"Destroyed"}}}) {
        qvrtest::TheJournal().Clear();
        ASSERT_EQ(S_OK, Connect(0));
        ASSERT_EQ(S_OK, addIn->OnDisconnection(c.removeMode, nullptr));
        Events expected = {L"Created", L"Initialize", L"StartupComplete"};
        expected.insert(expected.end(), c.tail.begin(), c.tail.end());
        EXPECT_EQ(expected, Journal()) << "RemoveMode " << c.removeMode;
    }
}

TEST_F(Connection, DisconnectionWithoutModuleOnlyCountsDown) {
    ASSERT_EQ(S_OK, addIn->OnDisconnection(0, nullptr));
    EXPECT_EQ(-1, Object().ConnectionsCount());
    EXPECT_TRUE(Journal().empty());
    // Creation depends only on the module being absent; the next disconnection destroys it.
    ASSERT_EQ(S_OK, Connect(1));
    EXPECT_NE(nullptr, Module());
    ASSERT_EQ(S_OK, addIn->OnDisconnection(0, nullptr));
    EXPECT_EQ(nullptr, Module());
}

TEST_F(Connection, ReconnectingAfterTheLastDisconnectionStartsAFreshModule) {
    ASSERT_EQ(S_OK, Connect(0));
    ASSERT_EQ(S_OK, addIn->OnDisconnection(0, nullptr));
    qvrtest::TheJournal().Clear();
    ASSERT_EQ(S_OK, Connect(0));
    EXPECT_EQ(Events({L"Created", L"Initialize", L"StartupComplete"}), Journal());
    ASSERT_EQ(S_OK, addIn->OnDisconnection(0, nullptr));
}

TEST_F(Connection, HostStartModeComesFromElementOneOfTheCustomArray) {
    struct Case {
        const char* what;
        SAFEARRAY* array;
        qvr::TqvrHostStartMode expected;
    };
    auto strings = [] {
        SAFEARRAYBOUND b{2, 0};
        SAFEARRAY* a = SafeArrayCreate(VT_BSTR, 1, &b);
        return a;
    };
    auto variantText = [](const wchar_t* text) {
        SAFEARRAYBOUND b{2, 0};
        SAFEARRAY* a = SafeArrayCreate(VT_VARIANT, 1, &b);
        qvr::unique_variant v = qvr::unique_variant::FromString(text);
        LONG i = 1;
        SafeArrayPutElement(a, &i, &v);
        return a;
    };
    auto shortArray = [] {
        SAFEARRAYBOUND b{1, 0};
        return SafeArrayCreate(VT_VARIANT, 1, &b);
    };
    Case cases[] = {
        {"absent", nullptr, qvr::hsmUnknown},
        {"embedded document", OfficeHost::MakeCustomArray(2), qvr::hsmEmbeddedDocument},
        {"text that is a number", variantText(L"3"), qvr::hsmProgrammatically},
        {"text that is no number", variantText(L"abc"), qvr::hsmUnknown},
        {"array of strings", strings(), qvr::hsmUnknown},
        {"no element 1", shortArray(), qvr::hsmUnknown},
        {"out of range", OfficeHost::MakeCustomArray(77), qvr::hsmUnknown},
    };
    for (Case& c : cases) {
        ASSERT_EQ(S_OK, Connect(1, nullptr, c.array ? &c.array : nullptr)) << c.what;
        EXPECT_EQ(c.expected, Module()->HostStartMode()) << c.what;
        ASSERT_EQ(S_OK, addIn->OnDisconnection(0, nullptr));
        if (c.array) SafeArrayDestroy(c.array);
    }
}

// Office's COMAddIn gets the add-in's status object (its Object), after the start-up events.
TEST_F(Connection, AddInInstanceGetsTheStatusObjectAfterStartupEvents) {
    auto inst = COMAddInSim::Make<COMAddInSim>();
    qvrtest::TheJournal().onEvent = [&](const std::wstring& e, qvr::TqvrCOMAddInModule& m) {
        if (e == L"Initialize") {
            EXPECT_EQ(nullptr, m.AddInInstance()) << "start-up events come before AddInInstance";
        }
    };
    ASSERT_EQ(S_OK, Connect(0, inst.Get()));
    ASSERT_EQ(1, inst->objectSets);
    ComPtr<qvr::IqvrAddInStatus> status;
    ASSERT_EQ(S_OK, inst->object.As(&status));
    ComPtr<IDTExtensibility2> back;
    EXPECT_EQ(E_NOINTERFACE, inst->object.As(&back)) << "not the connection object";
    VARIANT_BOOL loaded = VARIANT_TRUE;
    EXPECT_EQ(S_OK, status->get_RibbonLoaded(&loaded));
    EXPECT_EQ(VARIANT_FALSE, loaded) << "no ribbon yet";
    status.Reset();
    EXPECT_NE(nullptr, Module()->AddInInstance());
    inst->object.Reset();
    ASSERT_EQ(S_OK, addIn->OnDisconnection(0, nullptr));
}

TEST_F(Connection, AFailingObjectPropertyFailsTheConnectionWithItsCode) {
    auto inst = COMAddInSim::Make<COMAddInSim>();
    inst->failPutObject = true;
    EXPECT_EQ(E_ACCESSDENIED, Connect(1, inst.Get()));
    EXPECT_NE(nullptr, Module()) << "the module stays created";
    ASSERT_EQ(S_OK, addIn->OnDisconnection(0, nullptr));
}

TEST_F(Connection, AHostAnsweringNoOfficeInterfaceStartsWithoutExcel) {
    auto foreign = officesim::ForeignHostSim::Make<officesim::ForeignHostSim>();
    ASSERT_EQ(S_OK, addIn->OnConnection(foreign.Get(), 1, nullptr, nullptr));
    ASSERT_EQ(S_OK, addIn->OnStartupComplete(nullptr));
    EXPECT_EQ(nullptr, Module()->ExcelApp());
    EXPECT_EQ(qvr::ohaExcel, Module()->HostType());
    EXPECT_EQ(Events({L"Created", L"Initialize", L"StartupComplete"}), Journal());
    ASSERT_EQ(S_OK, addIn->OnDisconnection(0, nullptr));
}

TEST_F(Connection, ExcelIsBoundAtStartup) {
    ASSERT_EQ(S_OK, Connect(1));
    EXPECT_EQ(nullptr, Module()->ExcelApp());
    ASSERT_EQ(S_OK, addIn->OnStartupComplete(nullptr));
    ASSERT_NE(nullptr, Module()->ExcelApp());
    EXPECT_EQ(L"16.0", Module()->HostVersion());
    ASSERT_FALSE(app->Calls().empty());
    EXPECT_EQ(LOCALE_USER_DEFAULT, app->Calls().back().lcid);
    ASSERT_EQ(S_OK, addIn->OnDisconnection(0, nullptr));
    EXPECT_EQ(1, app->RefCount()) << "the module released Excel";
}

// ---- start mode ----

struct StartModeCase {
    const char* what;
    bool write;
    DWORD type;           // the stored value's registry type
    std::wstring stored;  // its text (for a number, the number)
    qvr::TqvrStartMode expected;
    std::wstring afterwards;  // the stored text after start-up
};

// Writes "QVRStartMode" as a script or an administrative template might: text, a number or bytes.
void WriteStartMode(DWORD type, const std::wstring& stored) {
    qvr::TRegistry reg(HKEY_CURRENT_USER);
    ASSERT_TRUE(reg.OpenKey(kKey, true));
    if (type == REG_SZ) return reg.WriteString(L"QVRStartMode", stored);
    if (type == REG_DWORD) return reg.WriteInteger(L"QVRStartMode", static_cast<DWORD>(std::stoul(stored)));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(reg.CurrentKey(), L"QVRStartMode", 0, type,
                                            reinterpret_cast<const BYTE*>(stored.c_str()),
                                            static_cast<DWORD>(stored.size() * sizeof(wchar_t))));
}

class StartMode : public Connection, public testing::WithParamInterface<StartModeCase> {};

TEST_P(StartMode, ComesFromQVRStartMode) {
    const StartModeCase& c = GetParam();
    if (c.write) WriteStartMode(c.type, c.stored);
    qvr::TqvrStartMode during = qvr::smUninstall;
    qvrtest::TheJournal().onEvent = [&](const std::wstring& e, qvr::TqvrCOMAddInModule& m) {
        if (e == L"Initialize") during = m.StartMode();
    };
    ASSERT_EQ(S_OK, Connect(0));
    EXPECT_EQ(c.expected, during);
    qvr::TRegistry reg(HKEY_CURRENT_USER);
    ASSERT_TRUE(reg.OpenKey(kKey, false));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), reg.ValueType(L"QVRStartMode")) << "text after every start";
    EXPECT_EQ(c.afterwards, reg.ReadString(L"QVRStartMode"));
    ASSERT_EQ(S_OK, addIn->OnDisconnection(0, nullptr));
}

INSTANTIATE_TEST_SUITE_P(
    Values, StartMode,
    testing::Values(StartModeCase{"missing", false, REG_SZ, L"", qvr::smFirstStart, L"NORMAL"},
                    StartModeCase{"normal", true, REG_SZ, L"NORMAL", qvr::smNormal, L"NORMAL"},
                    StartModeCase{"lower case", true, REG_SZ, L"uninstall", qvr::smUninstall, L"uninstall"},
                    StartModeCase{"explicit first start", true, REG_SZ, L"FirstStart", qvr::smFirstStart, L"NORMAL"},
                    StartModeCase{"unknown text", true, REG_SZ, L"bogus", qvr::smUnrecognized, L"bogus"},
                    StartModeCase{"empty text", true, REG_SZ, L"", qvr::smUnrecognized, L""},
                    // Longer than the first read takes: read again at its size.
                    StartModeCase{"long text", true, REG_SZ, std::wstring(300, L'N'), qvr::smUnrecognized,
                                  std::wstring(300, L'N')},
                    StartModeCase{"normal, at the end of long text", true, REG_SZ, std::wstring(300, L' ') + L"NORMAL",
                                  qvr::smUnrecognized, std::wstring(300, L' ') + L"NORMAL"},
                    // A value that is not text is taken like unrecognised text and replaced.
                    StartModeCase{"number", true, REG_DWORD, L"1", qvr::smUnrecognized, L"NORMAL"},
                    StartModeCase{"bytes", true, REG_BINARY, L"NORMAL", qvr::smUnrecognized, L"NORMAL"}));

// A number written by a script once used to fail every start for good; now the start goes on and
// the value is replaced, so that the next start is a normal one.
TEST_F(Connection, NumberStartModeStartsUpAndTheNextStartIsNormal) {
    WriteStartMode(REG_DWORD, L"7");
    std::vector<qvr::TqvrStartMode> during;
    qvrtest::TheJournal().onEvent = [&](const std::wstring& e, qvr::TqvrCOMAddInModule& m) {
        if (e == L"Initialize") during.push_back(m.StartMode());
    };
    ASSERT_EQ(S_OK, Connect(1));
    EXPECT_EQ(S_OK, addIn->OnStartupComplete(nullptr));
    EXPECT_EQ(Events({L"Created", L"Initialize", L"StartupComplete"}), Journal());
    ASSERT_EQ(S_OK, addIn->OnBeginShutdown(nullptr));
    ASSERT_EQ(S_OK, addIn->OnDisconnection(0, nullptr));

    ASSERT_EQ(S_OK, Connect(0));  // the next start, in the same process
    ASSERT_EQ(S_OK, addIn->OnDisconnection(0, nullptr));
    EXPECT_EQ(std::vector<qvr::TqvrStartMode>({qvr::smUnrecognized, qvr::smNormal}), during);
}

// A connection object whose start-up fails at its relay step (after the module's events).
class FailingStartupObject : public vortelix::TcoVORTELIXExcel {
public:
    using TcoVORTELIXExcel::TcoVORTELIXExcel;

protected:
    void InstallHostEventRelays() override { throw qvr::EqvrError(L"start-up step failed"); }
};

TEST_F(Connection, LoadWhileRunningFailsWhenStartupFails) {
    static qvr::TqvrFactory& factory = qvr::TqvrFactory::Create(
        *qvr::TComServer::Instance(), [](qvr::TqvrFactory& f) -> qvr::TqvrAddin* { return new FailingStartupObject(f); },
        vortelix::CLSID_coVORTELIXExcel, &qvr::TqvrCOMAddInModule::Create<qvrtest::RecordingModule>);
    ComPtr<IDTExtensibility2> failing;
    ASSERT_EQ(S_OK, factory.CreateInstance(nullptr, __uuidof(IDTExtensibility2),
                                           reinterpret_cast<void**>(failing.GetAddressOf())));
    EXPECT_EQ(E_UNEXPECTED, failing->OnConnection(app.Get(), 0, nullptr, nullptr));
    EXPECT_EQ(L"start-up step failed", OfficeHost::LastErrorDescription());
    EXPECT_NE(nullptr, qvrtest::AsAddin(failing.Get())->COMAddInModule()) << "the module stays created";
    ASSERT_EQ(S_OK, failing->OnDisconnection(0, nullptr));
}

TEST_F(Connection, AnAddInKeyThatCannotBeCreatedLeavesAFirstStartAndWritesNothing) {
    // Under a volatile parent no ordinary key can be created, so the add-in key can be neither
    // opened nor created.
    const wchar_t parent[] = L"Software\\Microsoft\\Office\\Excel\\AddIns";
    qvrtest::DeleteUserKey(parent);
    qvr::unique_hkey volatileKey;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, parent, 0, nullptr, REG_OPTION_VOLATILE,
                                             KEY_ALL_ACCESS, nullptr, volatileKey.put(), nullptr));
    EXPECT_EQ(S_OK, Connect(0));
    EXPECT_EQ(qvr::smFirstStart, Module()->StartMode());
    EXPECT_EQ(Events({L"Created", L"Initialize", L"StartupComplete"}), Journal());
    qvr::TRegistry reg(HKEY_CURRENT_USER);
    EXPECT_FALSE(reg.KeyExists(kKey));
    ASSERT_EQ(S_OK, addIn->OnDisconnection(0, nullptr));
    volatileKey.reset();
    qvrtest::DeleteUserKey(parent);
}

// ---- errors in event handlers ----

TEST_F(Connection, HandlerErrorsReachTheErrorReportAndNeverOffice) {
    qvrtest::DialogRecorder dialogs;
    qvrtest::TheJournal().onEvent = [](const std::wstring& e, qvr::TqvrCOMAddInModule&) {
        throw qvr::EqvrError(L"boom in " + e);
    };
    ASSERT_EQ(S_OK, Connect(0));
    ASSERT_EQ(S_OK, addIn->OnBeginShutdown(nullptr));
    ASSERT_EQ(S_OK, addIn->OnDisconnection(0, nullptr));
    ASSERT_EQ(4u, dialogs.dialogs.size());
    EXPECT_EQ(L"VORTELIX Excel error: the add-in has fired an exception.\r\nboom in Initialize", dialogs.dialogs[0].text);
    EXPECT_EQ(L"VORTELIX Excel error: the add-in has fired an exception.\r\nboom in Finalize", dialogs.dialogs[3].text);
    EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), dialogs.dialogs[0].style & MB_ICONMASK);
    EXPECT_EQ(static_cast<UINT>(MB_OK), dialogs.dialogs[0].style & MB_TYPEMASK);
    EXPECT_EQ(Events({L"Created", L"Initialize", L"StartupComplete", L"BeginShutdown", L"Finalize", L"Destroyed"}),
              Journal());
}

TEST_F(Connection, AnOnErrorHandlerThatHandlesTheErrorSuppressesTheDialog) {
    qvrtest::DialogRecorder dialogs;
    std::vector<std::wstring> reported;
    ASSERT_EQ(S_OK, Connect(1));
    Module()->OnError = [&](const qvr::EqvrError& e, bool& handled) {
        reported.push_back(e.Message());
        handled = true;
    };
    qvrtest::TheJournal().onEvent = [](const std::wstring& e, qvr::TqvrCOMAddInModule&) {
        if (e == L"StartupComplete") throw qvr::EqvrError(L"quiet");
    };
    ASSERT_EQ(S_OK, addIn->OnStartupComplete(nullptr));
    EXPECT_EQ(std::vector<std::wstring>{L"quiet"}, reported);
    EXPECT_TRUE(dialogs.dialogs.empty());
    ASSERT_EQ(S_OK, addIn->OnDisconnection(0, nullptr));
}

}  // namespace
