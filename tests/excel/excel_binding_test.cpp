// Host binding for Excel from the module, the module's release order, and the connection
// object's three Excel relays; at the end the same through the built DLL.
#include "addin/coclass.h"
#include "event_recorder.h"
#include "excel_sim.h"
#include "module/excel_events.h"
#include "module/module.h"
#include "server/addin.h"
#include "support/recording_module.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using Microsoft::WRL::ComPtr;
using xltest::Arguments;
using xltest::Log;
using xltest::Recorder;

namespace {

// ---- the module's binding and release --------------------------------------------------------

TEST(Binding, AModuleWithoutEventComponentsSubscribesExactlyOneSink) {
    auto app = xltest::MakeExcel();
    {
        qvr::TqvrCOMAddInModule module(nullptr);
        module.SetHostApp(app.Get());
        module.BindHost();
        EXPECT_EQ(qvr::ohaExcel, module.HostType());
        ASSERT_NE(nullptr, module.ExcelApp());
        EXPECT_TRUE(module.ExcelApp()->Connected());
        EXPECT_EQ(nullptr, module.ExcelApp()->Owner());
        EXPECT_EQ(nullptr, module.HostEvents());
        EXPECT_EQ(1u, app->AdviseCount());
        EXPECT_EQ(static_cast<IDispatch*>(module.ExcelApp()->EventSink()), app->Sinks().at(0).Get());
    }
    EXPECT_EQ(0u, app->AdviseCount()) << "release unsubscribes";
    EXPECT_EQ(1, app->RefCount()) << "and releases Excel";
}

TEST(Binding, OnlyTheFirstExcelEventsComponentIsConnected) {
    auto app = xltest::MakeExcel();
    Log first, second;
    {
        qvr::TqvrCOMAddInModule module(nullptr);
        auto* a = new qvr::TqvrExcelAppEvents(&module);
        auto* b = new qvr::TqvrExcelAppEvents(&module);
        a->OnWorkbookActivate = Recorder{&first};
        b->OnWorkbookActivate = Recorder{&second};
        module.SetHostApp(app.Get());
        module.BindHost();
        EXPECT_EQ(static_cast<qvr::TqvrCustomEvents*>(a), module.HostEvents());
        EXPECT_TRUE(a->Connected());
        EXPECT_FALSE(b->Connected());
        EXPECT_EQ(2u, app->AdviseCount()) << "the Excel application object and the first component";

        Arguments args("W");
        EXPECT_EQ(std::vector<HRESULT>({S_OK, S_OK}), app->Fire(1568, args.variants));
        EXPECT_EQ(1, first.calls);
        EXPECT_EQ(0, second.calls);
    }
    EXPECT_EQ(0u, app->AdviseCount());
    EXPECT_EQ(1, app->RefCount());
}

TEST(Binding, ReleaseDisconnectsTheEventComponentBeforeTheExcelApplicationObject) {
    auto app = xltest::MakeExcel();
    DWORD excelCookie = 0, componentCookie = 0;
    {
        qvr::TqvrCOMAddInModule module(nullptr);
        auto* events = new qvr::TqvrExcelAppEvents(&module);
        module.SetHostApp(app.Get());
        module.BindHost();
        excelCookie = module.ExcelApp()->EventsConnection();
        componentCookie = events->EventsConnection();
        ASSERT_NE(0u, excelCookie);
        ASSERT_NE(0u, componentCookie);
    }
    EXPECT_EQ(std::vector<DWORD>({componentCookie, excelCookie}), app->Unadvised());
}

TEST(Binding, AnEventComponentDestroyedBeforeTheModuleIsForgotten) {
    auto app = xltest::MakeExcel();
    {
        qvr::TqvrCOMAddInModule module(nullptr);
        auto* events = new qvr::TqvrExcelAppEvents(&module);
        module.SetHostApp(app.Get());
        module.BindHost();
        delete events;
        EXPECT_EQ(nullptr, module.HostEvents());
        EXPECT_EQ(1u, app->AdviseCount());
    }
    EXPECT_EQ(0u, app->AdviseCount());
}

TEST(Binding, ReleaseAfterTheExcelApplicationObjectWasDisconnectedStillReleasesEverything) {
    auto app = xltest::MakeExcel();
    {
        qvr::TqvrCOMAddInModule module(nullptr);
        new qvr::TqvrExcelAppEvents(&module);
        module.SetHostApp(app.Get());
        module.BindHost();
        module.ExcelApp()->Quit();
        module.ExcelApp()->Disconnect();  // as the order hand-off command does
        EXPECT_EQ(1u, app->AdviseCount());
    }
    EXPECT_EQ(1, app->quitCalls);
    EXPECT_EQ(0u, app->AdviseCount());
    EXPECT_EQ(1, app->RefCount());
}

// ---- the connection object's relays ------------------------------------------------------------

class Relays : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, qvrtest::Factory().CreateInstance(nullptr, __uuidof(IDTExtensibility2),
                                                          reinterpret_cast<void**>(addIn.GetAddressOf())));
        ASSERT_EQ(S_OK, addIn->OnConnection(app.Get(), 1, nullptr, nullptr));
        module = qvrtest::AsAddin(addIn.Get())->COMAddInModule();
        ASSERT_NE(nullptr, module);
        module->OnError = [this](const qvr::EqvrError& e, bool& handled) {
            errors.push_back(e.Message());
            handled = true;
        };
    }
    void TearDown() override {
        if (addIn) {
            EXPECT_EQ(S_OK, addIn->OnBeginShutdown(nullptr));
            EXPECT_EQ(S_OK, addIn->OnDisconnection(0, nullptr));
            addIn.Reset();
        }
        EXPECT_EQ(0u, app->AdviseCount()) << "nothing subscribed after shut-down";
        EXPECT_EQ(1, app->RefCount()) << "nothing holds Excel after shut-down";
        EXPECT_EQ(S_OK, qvr::TComServer::Instance()->CanUnloadNow());
    }
    std::vector<HRESULT> Fire(DISPID id, const std::string& kinds) {
        Arguments args(kinds);
        return app->Fire(id, args.variants);
    }

    ComPtr<officesim::ExcelApplicationSim> app = xltest::MakeExcel();
    ComPtr<IDTExtensibility2> addIn;
    qvr::TqvrCOMAddInModule* module = nullptr;
    std::vector<std::wstring> errors;
};

TEST_F(Relays, StartupSubscribesOneSinkAndInstallsTheThreeRelays) {
    ASSERT_EQ(S_OK, addIn->OnStartupComplete(nullptr));
    qvr::TExcelApplication* excel = module->ExcelApp();
    ASSERT_NE(nullptr, excel);
    EXPECT_EQ(1u, app->AdviseCount());
    EXPECT_TRUE(excel->OnWorkbookActivate);
    EXPECT_TRUE(excel->OnSheetActivate);
    EXPECT_TRUE(excel->OnWindowActivate);
    EXPECT_FALSE(excel->OnWorkbookOpen) << "the other events stay unassigned";
    EXPECT_EQ(std::vector<HRESULT>{S_OK}, Fire(1568, "W"));
    EXPECT_EQ(std::vector<HRESULT>{S_OK}, Fire(1561, "D"));
    EXPECT_EQ(std::vector<HRESULT>{S_OK}, Fire(1556, "WN"));
    EXPECT_TRUE(errors.empty());
}

TEST_F(Relays, HandlersAssignedDuringStartupKeepBeingCalled) {
    Log workbook, sheet, window;
    module->OnAddInInitialize = [&](qvr::TObject*) {
        module->ExcelApp()->OnWorkbookActivate = Recorder{&workbook};
        module->ExcelApp()->OnSheetActivate = Recorder{&sheet};
    };
    module->OnAddInStartupComplete = [&](qvr::TObject*) { module->ExcelApp()->OnWindowActivate = Recorder{&window}; };
    ASSERT_EQ(S_OK, addIn->OnStartupComplete(nullptr));

    Arguments wb("W");
    EXPECT_EQ(std::vector<HRESULT>{S_OK}, app->Fire(1568, wb.variants));
    ASSERT_EQ(1, workbook.calls);
    EXPECT_EQ(static_cast<qvr::TObject*>(module->ExcelApp()), workbook.sender);
    EXPECT_EQ("", wb.Mismatch("W", workbook));

    Arguments sh("D");
    app->Fire(1561, sh.variants);
    ASSERT_EQ(1, sheet.calls);
    EXPECT_EQ("", sh.Mismatch("D", sheet));

    Arguments wn("WN");
    app->Fire(1556, wn.variants);
    ASSERT_EQ(1, window.calls);
    EXPECT_EQ("", wn.Mismatch("WN", window));
    EXPECT_EQ(static_cast<qvr::TObject*>(module->ExcelApp()), window.sender);
}

TEST_F(Relays, AnErrorInASavedHandlerIsReportedAndExcelGetsSOk) {
    int calls = 0;
    module->OnAddInInitialize = [&](qvr::TObject*) {
        module->ExcelApp()->OnWorkbookActivate = [&](qvr::TObject*, ExcelWorkbook*) {
            ++calls;
            throw qvr::EqvrError(L"handler failed");
        };
    };
    ASSERT_EQ(S_OK, addIn->OnStartupComplete(nullptr));
    EXPECT_EQ(std::vector<HRESULT>{S_OK}, Fire(1568, "W"));
    EXPECT_EQ(std::vector<HRESULT>{S_OK}, Fire(1568, "W"));
    EXPECT_EQ(2, calls) << "the relay stays in place";
    EXPECT_EQ(std::vector<std::wstring>({L"handler failed", L"handler failed"}), errors);
}

TEST_F(Relays, AHandlerAssignedAfterStartupReplacesTheRelay) {
    ASSERT_EQ(S_OK, addIn->OnStartupComplete(nullptr));
    Log log;
    module->ExcelApp()->OnSheetActivate = Recorder{&log};
    Fire(1561, "D");
    EXPECT_EQ(1, log.calls);
}

TEST_F(Relays, AHostWithoutExcelGetsNoRelays) {
    // The module's host is not Excel: start-up binds nothing and installs nothing.
    EXPECT_EQ(S_OK, addIn->OnDisconnection(0, nullptr));
    auto foreign = officesim::AutomationObject::Make();
    ASSERT_EQ(S_OK, addIn->OnConnection(foreign.Get(), 1, nullptr, nullptr));
    ASSERT_EQ(S_OK, addIn->OnStartupComplete(nullptr));
    EXPECT_EQ(nullptr, qvrtest::AsAddin(addIn.Get())->COMAddInModule()->ExcelApp());
}

// ---- a reconnection of the same connection object ---------------------------------------------

// Office disconnects the add-in when the user unticks it and connects the same object again when
// the user ticks it. The second module assigns no activation handler of its own: none that the
// first module assigned may still be called (it would run against a module that is gone).
struct ActivationCase {
    const char* name;
    DISPID id;
    const char* kinds;
    void (*assign)(qvr::TExcelApplication& excel, Log& log);
};
void PrintTo(const ActivationCase& c, std::ostream* os) { *os << c.name; }

class ReconnectedAddIn : public Relays, public testing::WithParamInterface<ActivationCase> {};

TEST_P(ReconnectedAddIn, HandlersOfTheFirstModuleAreNotCalledThroughTheSecond) {
    const ActivationCase& c = GetParam();
    qvrtest::DialogRecorder dialogs;
    Log log;
    module->OnAddInInitialize = [&](qvr::TObject*) { c.assign(*module->ExcelApp(), log); };
    ASSERT_EQ(S_OK, addIn->OnStartupComplete(nullptr));
    EXPECT_EQ(std::vector<HRESULT>{S_OK}, Fire(c.id, c.kinds));
    ASSERT_EQ(1, log.calls) << "the first module's handler runs while that module is connected";

    ASSERT_EQ(S_OK, addIn->OnDisconnection(1, nullptr));  // unticked
    ASSERT_EQ(nullptr, qvrtest::AsAddin(addIn.Get())->COMAddInModule());
    ASSERT_EQ(S_OK, addIn->OnConnection(app.Get(), 0, nullptr, nullptr));  // ticked again
    module = qvrtest::AsAddin(addIn.Get())->COMAddInModule();
    ASSERT_NE(nullptr, module);
    ASSERT_NE(nullptr, module->ExcelApp());
    EXPECT_EQ(1u, app->AdviseCount()) << "only the second module's sink";

    EXPECT_EQ(std::vector<HRESULT>{S_OK}, Fire(c.id, c.kinds));
    EXPECT_EQ(1, log.calls) << "the first module's handler went with its module";
    EXPECT_TRUE(dialogs.dialogs.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, ReconnectedAddIn,
    testing::Values(
        ActivationCase{"WorkbookActivate", 1568, "W",
                       [](qvr::TExcelApplication& excel, Log& log) { excel.OnWorkbookActivate = Recorder{&log}; }},
        ActivationCase{"SheetActivate", 1561, "D",
                       [](qvr::TExcelApplication& excel, Log& log) { excel.OnSheetActivate = Recorder{&log}; }},
        ActivationCase{"WindowActivate", 1556, "WN",
                       [](qvr::TExcelApplication& excel, Log& log) { excel.OnWindowActivate = Recorder{&log}; }}),
    [](const testing::TestParamInfo<ActivationCase>& info) { return std::string(info.param.name); });

// ---- errors of handlers on ExcelApp's own events --------------------------------------------------

// A handler the add-in assigns to one of ExcelApp's events (other than the three the connection
// object relays) reports its error like every other handler; Excel is told success.
struct ExcelAppErrorCase {
    const char* name;
    DISPID id;
    const char* kinds;
    void (*assign)(qvr::TExcelApplication& excel);
    std::wstring message;
};
void PrintTo(const ExcelAppErrorCase& c, std::ostream* os) { *os << c.name; }

class ExcelAppHandlerError : public Relays, public testing::WithParamInterface<ExcelAppErrorCase> {};

TEST_P(ExcelAppHandlerError, GoesToTheModulesErrorReport) {
    const ExcelAppErrorCase& c = GetParam();
    ASSERT_EQ(S_OK, addIn->OnStartupComplete(nullptr));
    c.assign(*module->ExcelApp());
    EXPECT_EQ(std::vector<HRESULT>{S_OK}, Fire(c.id, c.kinds));
    EXPECT_EQ(std::vector<std::wstring>{c.message}, errors);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ExcelAppHandlerError,
    testing::Values(
        ExcelAppErrorCase{"NewWorkbook", 1565, "W",
                          [](qvr::TExcelApplication& excel) {
                              excel.OnNewWorkbook = [](qvr::TObject*, ExcelWorkbook*) {
                                  throw qvr::EqvrError(L"new workbook refused");
                              };
                          },
                          L"new workbook refused"},
        ExcelAppErrorCase{"WorkbookBeforeClose", 1570, "WX",
                          [](qvr::TExcelApplication& excel) {
                              excel.OnWorkbookBeforeClose = [](qvr::TObject*, ExcelWorkbook*, VARIANT_BOOL&) {
                                  throw qvr::EqvrError(L"close refused");
                              };
                          },
                          L"close refused"},
        // An argument that cannot be converted for the handler is reported the same way.
        ExcelAppErrorCase{"ArgumentOfTheWrongKind", 1565, "I",
                          [](qvr::TExcelApplication& excel) {
                              excel.OnNewWorkbook = [](qvr::TObject*, ExcelWorkbook*) {};
                          },
                          qvr::SysErrorMessage(DISP_E_TYPEMISMATCH)}),
    [](const testing::TestParamInfo<ExcelAppErrorCase>& info) { return std::string(info.param.name); });

TEST_F(Relays, WithoutOnErrorAnExcelAppHandlerErrorShowsTheErrorDialog) {
    qvrtest::DialogRecorder dialogs;
    module->OnError = nullptr;
    ASSERT_EQ(S_OK, addIn->OnStartupComplete(nullptr));
    module->ExcelApp()->OnSheetCalculate = [](qvr::TObject*, IDispatch*) { throw qvr::EqvrError(L"calculation failed"); };
    EXPECT_EQ(std::vector<HRESULT>{S_OK}, Fire(1563, "D"));
    ASSERT_EQ(1u, dialogs.dialogs.size());
    EXPECT_EQ(L"VORTELIX Excel error: the add-in has fired an exception.\r\ncalculation failed", dialogs.dialogs[0].text);
}

// ---- the built DLL -------------------------------------------------------------------------------

std::wstring DllPath() { return qvrtest::AddInDllPath(); }

TEST(Dll, BindsExcelRelaysItsEventsAndUnsubscribesEverythingBeforeItUnloads) {
    using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    using CanUnloadFn = HRESULT(STDAPICALLTYPE*)();
    HMODULE dll = LoadLibraryW(DllPath().c_str());
    ASSERT_NE(nullptr, dll);
    auto getClassObject =
        reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(GetProcAddress(dll, "DllGetClassObject")));
    auto canUnload = reinterpret_cast<CanUnloadFn>(reinterpret_cast<void*>(GetProcAddress(dll, "DllCanUnloadNow")));
    ASSERT_NE(nullptr, getClassObject);
    ASSERT_NE(nullptr, canUnload);

    auto app = xltest::MakeExcel();
    auto workbook = xltest::MakeWorkbook(L"Book1");
    {
        ComPtr<IClassFactory> factory;
        ASSERT_EQ(S_OK, getClassObject(vortelix::CLSID_coVORTELIXExcel, IID_IClassFactory,
                                       reinterpret_cast<void**>(factory.GetAddressOf())));
        ComPtr<IDTExtensibility2> addIn;
        ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, __uuidof(IDTExtensibility2),
                                                reinterpret_cast<void**>(addIn.GetAddressOf())));
        factory.Reset();
        ASSERT_EQ(S_OK, addIn->OnConnection(app.Get(), 1, nullptr, nullptr));
        EXPECT_EQ(0u, app->AdviseCount());
        ASSERT_EQ(S_OK, addIn->OnStartupComplete(nullptr));
        EXPECT_EQ(1u, app->AdviseCount()) << "exactly one sink";

        officesim::Var wb = officesim::Var::Object(workbook.Get());
        VARIANT_BOOL cancel = VARIANT_FALSE;
        VARIANT byRef;
        byRef.vt = VT_BYREF | VT_BOOL;
        byRef.pboolVal = &cancel;
        for (DISPID id : {1568, 1561, 1556, 1570, 1555, 1566})
            EXPECT_EQ(std::vector<HRESULT>{S_OK}, app->Fire(id, {wb, byRef})) << id;
        EXPECT_EQ(VARIANT_FALSE, cancel) << "nobody handles WorkbookBeforeClose";

        EXPECT_EQ(S_OK, addIn->OnBeginShutdown(nullptr));
        EXPECT_EQ(S_OK, addIn->OnDisconnection(0, nullptr));
        EXPECT_EQ(0u, app->AdviseCount()) << "the stand-in counts zero advises after shut-down";
    }
    EXPECT_EQ(1, app->RefCount());
    EXPECT_EQ(S_OK, canUnload());
    EXPECT_TRUE(FreeLibrary(dll));
    EXPECT_EQ(nullptr, GetModuleHandleW(L"VORTELIXExcel.dll")) << "the DLL unloaded";
}

}  // namespace
