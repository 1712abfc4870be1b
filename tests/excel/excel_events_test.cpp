// Excel's application events: the sink as Excel sees it, the host-event component and its table
// of 47 events, and the Excel application object's 21 event properties.
#include "event_recorder.h"
#include "excel_sim.h"
#include "module/excel_events.h"
#include "module/module.h"
#include "server/comserver.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <olectl.h>

#include <cstring>
#include <memory>
#include <set>

using Microsoft::WRL::ComPtr;
using xltest::Arguments;
using xltest::EventRow;
using xltest::EventTable;
using xltest::Log;
using xltest::Recorder;

namespace {

// A module (defaults only) with one Excel events component, connected to the stand-in's Excel.
struct ComponentFixture {
    ComponentFixture() {
        module->SetAddInName(L"VX");
        module->OnError = [this](const qvr::EqvrError& e, bool& handled) {
            errors.push_back(e);
            handled = true;
        };
        events = new qvr::TqvrExcelAppEvents(module.get());
        events->ConnectTo(app.Get());
    }
    ComPtr<officesim::ExcelApplicationSim> app = xltest::MakeExcel();
    std::vector<qvr::EqvrError> errors;
    std::unique_ptr<qvr::TqvrCOMAddInModule> module = std::make_unique<qvr::TqvrCOMAddInModule>(nullptr);
    qvr::TqvrExcelAppEvents* events = nullptr;
};

// ---- every event of the table, both layers, positional and named -----------------------------

enum class Passing { Positional, Named, Mixed };

struct Case {
    EventRow row;
    Passing passing;
    bool application;  // the Excel application object's properties instead of the component's
};

std::string CaseName(const testing::TestParamInfo<Case>& info) {
    static const char* passing[] = {"Positional", "Named", "Mixed"};
    return std::string(info.param.application ? "ExcelApp_" : "Component_") + info.param.row.name + "_" +
           passing[static_cast<int>(info.param.passing)];
}

std::vector<Case> Cases() {
    std::vector<Case> out;
    for (const EventRow& row : EventTable())
        for (Passing p : {Passing::Positional, Passing::Named, Passing::Mixed}) {
            out.push_back({row, p, false});
            if (row.assignApplication) out.push_back({row, p, true});
        }
    return out;
}

class EveryEvent : public testing::TestWithParam<Case> {};

TEST_P(EveryEvent, ReachesItsHandlerWithItsArgumentsInDeclarationOrder) {
    const Case& c = GetParam();
    ComponentFixture f;
    qvr::TExcelApplication excel(nullptr);
    Log log;
    qvr::TObject* expectedSender = nullptr;
    if (c.application) {
        f.events->Disconnect();
        excel.ConnectTo(xltest::AsExcel(f.app.Get()).Get());
        c.row.assignApplication(excel, Recorder{&log});
        expectedSender = &excel;
    } else {
        c.row.assignComponent(*f.events, Recorder{&log});
        expectedSender = f.events;
    }
    ASSERT_EQ(1u, f.app->AdviseCount());

    for (DISPID id : c.row.ids) {
        SCOPED_TRACE(id);
        Arguments args(c.row.kinds);
        size_t named = c.passing == Passing::Named ? args.variants.size()
                       : c.passing == Passing::Mixed ? args.variants.size() / 2
                                                     : 0;
        int before = log.calls;
        EXPECT_EQ(std::vector<HRESULT>{S_OK}, f.app->Fire(id, args.variants, named));
        ASSERT_EQ(before + 1, log.calls);
        EXPECT_EQ(expectedSender, log.sender);
        EXPECT_EQ("", args.Mismatch(c.row.kinds, log));
        for (VARIANT_BOOL cancel : args.cancels) EXPECT_EQ(VARIANT_TRUE, cancel) << "Cancel reaches the caller";
    }
    EXPECT_TRUE(f.errors.empty());
}

INSTANTIATE_TEST_SUITE_P(Table, EveryEvent, testing::ValuesIn(Cases()), CaseName);

// The stored configuration names every event property "On" and the event: each binds the root's
// published method of the event's handler type to that event's dispatch ids, and is written back.
TEST(EventTable, EveryEventIsAStoredPropertyBoundToItsOwnDispatchIds) {
    qvr::TqvrCOMAddInModule module(nullptr);
    const auto& rows = EventTable();
    std::vector<Log> logs(rows.size());
    std::wstring form = L"object M: TqvrCOMAddInModule\r\n  object XLEvents: TqvrExcelAppEvents\r\n";
    std::vector<std::wstring> lines;
    for (size_t i = 0; i < rows.size(); ++i) {
        const std::wstring event(rows[i].name, rows[i].name + std::strlen(rows[i].name));
        rows[i].publish(module, L"XL" + event, Recorder{&logs[i]});
        lines.push_back(L"On" + event + L" = XL" + event);
        form += L"    " + lines.back() + L"\r\n";
    }
    form += L"  end\r\nend\r\n";
    qvr::TFormReader::ReadRoot(module, qvr::ParseForm(form));
    ASSERT_EQ(1u, module.Components().size());
    auto* events = dynamic_cast<qvr::TqvrExcelAppEvents*>(module.Components()[0]);
    ASSERT_NE(nullptr, events);

    auto app = xltest::MakeExcel();
    events->ConnectTo(app.Get());
    for (const EventRow& row : rows)
        for (DISPID id : row.ids) {
            Arguments args(row.kinds);
            EXPECT_EQ(std::vector<HRESULT>{S_OK}, app->Fire(id, args.variants));
        }
    // A property bound to the wrong event shows as one handler called too often and one never.
    for (size_t i = 0; i < rows.size(); ++i)
        EXPECT_EQ(static_cast<int>(rows[i].ids.size()), logs[i].calls) << rows[i].name;

    const std::wstring written = qvr::WriteForm(qvr::TFormReader::WriteRoot(module));
    for (const std::wstring& line : lines) EXPECT_NE(std::wstring::npos, written.find(line)) << line;
    events->Disconnect();
}

// Every dispatch id reaches its own property and no other one.
TEST(EventTable, EachDispatchIdReachesOnlyItsOwnProperty) {
    ComponentFixture f;
    qvr::TExcelApplication excel(nullptr);
    excel.ConnectTo(xltest::AsExcel(f.app.Get()).Get());
    const auto& rows = EventTable();
    std::vector<Log> componentLogs(rows.size()), applicationLogs(rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        rows[i].assignComponent(*f.events, Recorder{&componentLogs[i]});
        if (rows[i].assignApplication) rows[i].assignApplication(excel, Recorder{&applicationLogs[i]});
    }
    for (size_t i = 0; i < rows.size(); ++i) {
        for (DISPID id : rows[i].ids) {
            Arguments args(rows[i].kinds);
            f.app->Fire(id, args.variants);
        }
        for (size_t j = 0; j < rows.size(); ++j) {
            int expected = j <= i ? static_cast<int>(rows[j].ids.size()) : 0;
            EXPECT_EQ(expected, componentLogs[j].calls) << rows[j].name << " after firing " << rows[i].name;
            EXPECT_EQ(rows[j].assignApplication ? expected : 0, applicationLogs[j].calls)
                << rows[j].name << " after firing " << rows[i].name;
        }
    }
}

TEST(EventTable, UnknownDispatchIdsReturnSOkAndDoNothing) {
    ComponentFixture f;
    qvr::TExcelApplication excel(nullptr);
    excel.ConnectTo(xltest::AsExcel(f.app.Get()).Get());
    Log log;
    for (const EventRow& row : EventTable()) {
        row.assignComponent(*f.events, Recorder{&log});
        if (row.assignApplication) row.assignApplication(excel, Recorder{&log});
    }
    ComPtr<officesim::AutomationObject> workbook = officesim::AutomationObject::Make({officesim::xl::IID_Workbook});
    VARIANT wb;
    wb.vt = VT_DISPATCH;
    wb.pdispVal = workbook.Get();
    for (DISPID id : {1555, 1566, 0, -1, 1553, 3081, 99999}) {
        EXPECT_EQ(std::vector<HRESULT>({S_OK, S_OK}), f.app->Fire(id, {wb})) << id;
        EXPECT_EQ(std::vector<HRESULT>({S_OK, S_OK}), f.app->Fire(id)) << id;
    }
    EXPECT_EQ(0, log.calls);
    EXPECT_TRUE(f.errors.empty());
}

TEST(EventTable, UnassignedHandlersDoNothingAndReturnSOk) {
    ComponentFixture f;
    for (const EventRow& row : EventTable())
        for (DISPID id : row.ids) {
            Arguments args(row.kinds);
            EXPECT_EQ(std::vector<HRESULT>{S_OK}, f.app->Fire(id, args.variants)) << row.name;
        }
    EXPECT_TRUE(f.errors.empty());
}

// ---- Cancel ------------------------------------------------------------------------------------

TEST(Cancel, AWorkbookBeforeCloseHandlerChangesTheCallersVariable) {
    ComponentFixture f;
    f.events->OnWorkbookBeforeClose = [](qvr::TObject*, ExcelWorkbook*, VARIANT_BOOL& Cancel) {
        Cancel = VARIANT_TRUE;
    };
    ComPtr<officesim::AutomationObject> wb = officesim::AutomationObject::Make({officesim::xl::IID_Workbook});
    VARIANT_BOOL cancel = VARIANT_FALSE;
    VARIANT args[2];
    args[0].vt = VT_DISPATCH;
    args[0].pdispVal = wb.Get();
    args[1].vt = VT_BYREF | VT_BOOL;
    args[1].pboolVal = &cancel;
    EXPECT_EQ(std::vector<HRESULT>{S_OK}, f.app->Fire(1570, {args[0], args[1]}));
    EXPECT_EQ(VARIANT_TRUE, cancel);
}

TEST(Cancel, AHandlerThatLeavesCancelAloneLeavesTheCallersVariableAlone) {
    ComponentFixture f;
    f.events->OnWorkbookBeforeClose = [](qvr::TObject*, ExcelWorkbook*, VARIANT_BOOL&) {};
    VARIANT_BOOL cancel = VARIANT_TRUE;
    VARIANT wb{}, c{};
    wb.vt = VT_EMPTY;
    c.vt = VT_BYREF | VT_BOOL;
    c.pboolVal = &cancel;
    f.app->Fire(1570, {wb, c});
    EXPECT_EQ(VARIANT_TRUE, cancel);
}

// Cancel in by-reference forms other than a Boolean: the handler's value is copied back,
// converted to the caller's type.
TEST(Cancel, ReachesTheCallerInOtherByReferenceForms) {
    ComponentFixture f;
    f.events->OnWorkbookBeforePrint = [](qvr::TObject*, ExcelWorkbook*, VARIANT_BOOL& Cancel) {
        Cancel = VARIANT_TRUE;
    };
    VARIANT none{};
    none.vt = VT_EMPTY;

    officesim::Var inVariant = officesim::Var::Bool(false);  // by-reference variant holding a Boolean
    VARIANT byRefVariant{};
    byRefVariant.vt = VT_BYREF | VT_VARIANT;
    byRefVariant.pvarVal = &inVariant;
    f.app->Fire(1572, {none, byRefVariant});
    EXPECT_EQ(VT_BOOL, inVariant.vt);
    EXPECT_EQ(VARIANT_TRUE, inVariant.boolVal);

    officesim::Var longInVariant = officesim::Var::Long(0);  // by-reference variant holding an integer
    byRefVariant.pvarVal = &longInVariant;
    f.app->Fire(1572, {none, byRefVariant});
    EXPECT_EQ(VT_BOOL, longInVariant.vt);
    EXPECT_EQ(VARIANT_TRUE, longInVariant.boolVal);

    LONG asLong = 0;  // by-reference integer
    VARIANT byRefLong{};
    byRefLong.vt = VT_BYREF | VT_I4;
    byRefLong.plVal = &asLong;
    f.app->Fire(1572, {none, byRefLong});
    EXPECT_EQ(-1, asLong);

    VARIANT byValue{};  // passed by value: nothing to change, and no harm
    byValue.vt = VT_BOOL;
    byValue.boolVal = VARIANT_FALSE;
    EXPECT_EQ(std::vector<HRESULT>{S_OK}, f.app->Fire(1572, {none, byValue}));
    EXPECT_EQ(VARIANT_FALSE, byValue.boolVal);

    EXPECT_EQ(std::vector<HRESULT>{S_OK}, f.app->Fire(1572, {none})) << "Cancel missing";
    EXPECT_TRUE(f.errors.empty());
}

// ---- errors ------------------------------------------------------------------------------------

TEST(EventErrors, AHandlerThatRaisesReachesTheErrorReportAndExcelGetsSOk) {
    ComponentFixture f;
    f.events->OnWorkbookOpen = [](qvr::TObject*, ExcelWorkbook*) { throw qvr::EqvrError(L"boom", 42); };
    ComPtr<officesim::AutomationObject> wb = officesim::AutomationObject::Make({officesim::xl::IID_Workbook});
    EXPECT_EQ(std::vector<HRESULT>{S_OK}, f.app->Fire(1567, {officesim::Var::Object(wb.Get())}));
    ASSERT_EQ(1u, f.errors.size());
    EXPECT_EQ(L"boom", f.errors[0].Message());
    EXPECT_EQ(42, f.errors[0].Code());
}

TEST(EventErrors, WithoutOnErrorTheErrorDialogShowsTheAddInNameAndTheMessage) {
    ComponentFixture f;
    f.module->OnError = nullptr;
    qvrtest::DialogRecorder dialogs;
    f.events->OnAfterCalculate = [](qvr::TObject*) { throw qvr::EqvrError(L"calculation went wrong"); };
    EXPECT_EQ(std::vector<HRESULT>{S_OK}, f.app->Fire(2612));
    ASSERT_EQ(1u, dialogs.dialogs.size());
    EXPECT_EQ(L"VX error: the add-in has fired an exception.\r\ncalculation went wrong", dialogs.dialogs[0].text);
    EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), dialogs.dialogs[0].style & MB_ICONMASK);
}

TEST(EventErrors, AnArgumentOfTheWrongInterfaceIsReportedAndTheHandlerNotCalled) {
    ComponentFixture f;
    Log log;
    f.events->OnWorkbookActivate = Recorder{&log};
    ComPtr<officesim::AutomationObject> notAWorkbook = officesim::AutomationObject::Make();  // IDispatch only
    EXPECT_EQ(std::vector<HRESULT>{S_OK}, f.app->Fire(1568, {officesim::Var::Object(notAWorkbook.Get())}));
    EXPECT_EQ(0, log.calls);
    ASSERT_EQ(1u, f.errors.size());
    EXPECT_EQ(E_NOINTERFACE, f.errors[0].Code());
}

TEST(EventErrors, AnArgumentThatIsNoObjectIsReported) {
    ComponentFixture f;
    Log log;
    f.events->OnSheetActivate = Recorder{&log};
    EXPECT_EQ(std::vector<HRESULT>{S_OK}, f.app->Fire(1561, {officesim::Var::Long(7)}));
    EXPECT_EQ(0, log.calls);
    ASSERT_EQ(1u, f.errors.size());
    EXPECT_EQ(DISP_E_TYPEMISMATCH, f.errors[0].Code());
}

TEST(EventErrors, TheExcelApplicationObjectsSinkAlsoReturnsSOkWhenAHandlerRaises) {
    auto app = xltest::MakeExcel();
    qvr::TExcelApplication excel(nullptr);
    excel.ConnectTo(xltest::AsExcel(app.Get()).Get());
    excel.OnSheetCalculate = [](qvr::TObject*, IDispatch*) { throw qvr::EqvrError(L"not caught by the object"); };
    EXPECT_EQ(std::vector<HRESULT>{S_OK}, app->Fire(1563, {officesim::Var()}));
}

// ---- the sink ------------------------------------------------------------------------------------

TEST(Sink, AnswersIUnknownIDispatchAndTheEventsInterfaceWhileItHasItsComponent) {
    ComponentFixture f;
    ComPtr<IDispatch> sink = f.app->Sinks().at(0);
    for (const IID& iid : {IID_IUnknown, IID_IDispatch, officesim::xl::DIID_AppEvents}) {
        ComPtr<IUnknown> answer;
        EXPECT_EQ(S_OK, sink->QueryInterface(iid, reinterpret_cast<void**>(answer.GetAddressOf())));
        EXPECT_EQ(static_cast<IUnknown*>(sink.Get()), answer.Get()) << "the IDispatch interface";
    }
    ComPtr<IUnknown> other;
    EXPECT_EQ(E_NOINTERFACE,
              sink->QueryInterface(IID_IConnectionPoint, reinterpret_cast<void**>(other.GetAddressOf())));
    EXPECT_EQ(nullptr, other.Get());

    delete f.events;  // the component goes; Excel still holds the sink
    f.events = nullptr;
    ComPtr<IUnknown> answer;
    EXPECT_EQ(E_NOINTERFACE,
              sink->QueryInterface(officesim::xl::DIID_AppEvents, reinterpret_cast<void**>(answer.GetAddressOf())));
    EXPECT_EQ(S_OK, sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(answer.GetAddressOf())));
}

TEST(Sink, CountsItsReferencesOnItsComponentToo) {
    ComponentFixture f;
    qvr::TqvrEventDispatch* sink = f.events->EventDispatch();
    ULONG component = f.events->RefCount();
    ULONG own = sink->RefCount();
    EXPECT_EQ(own, component) << "every reference to the sink is one on the component";
    sink->AddRef();
    EXPECT_EQ(own + 1, sink->RefCount());
    EXPECT_EQ(component + 1, f.events->RefCount());
    sink->Release();
    EXPECT_EQ(component, f.events->RefCount());
    f.events->Disconnect();
    EXPECT_EQ(component - 1, f.events->RefCount()) << "Excel released its reference";
}

TEST(Sink, HasNoTypeInformationAndNoNames) {
    ComponentFixture f;
    ComPtr<IDispatch> sink = f.app->Sinks().at(0);
    UINT count = 7;
    EXPECT_EQ(S_OK, sink->GetTypeInfoCount(&count));
    EXPECT_EQ(0u, count);
    ITypeInfo* info = nullptr;
    EXPECT_EQ(E_NOTIMPL, sink->GetTypeInfo(0, 0, &info));
    LPOLESTR name = const_cast<LPOLESTR>(L"WorkbookOpen");
    DISPID id = 0;
    EXPECT_EQ(E_NOTIMPL, sink->GetIDsOfNames(IID_NULL, &name, 1, 0, &id));
}

TEST(Sink, OutlivesItsComponentAnswersAndDeliversNothingAndKeepsTheServerLoaded) {
    qvr::TComServer& server = *qvr::TComServer::Instance();
    LONG objects = server.ObjectCount();
    ComPtr<IDispatch> sink;
    Log log;
    {
        ComponentFixture f;
        EXPECT_EQ(objects + 1, server.ObjectCount()) << "the sink counts as a live object";
        f.events->OnAfterCalculate = Recorder{&log};
        sink = f.app->Sinks().at(0);
        delete f.events;  // destroyed without unsubscribing first: it unsubscribes itself
        f.events = nullptr;
        EXPECT_EQ(0u, f.app->AdviseCount());
    }
    ASSERT_TRUE(sink);
    EXPECT_EQ(objects + 1, server.ObjectCount());
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    EXPECT_EQ(S_OK, sink->Invoke(2612, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr));
    EXPECT_EQ(S_OK, sink->Invoke(2612, IID_NULL, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(0, log.calls);
    sink.Reset();
    EXPECT_EQ(objects, server.ObjectCount());
}

TEST(Sink, NamedArgumentsGoToThePositionTheirDispatchIdGives) {
    ComponentFixture f;
    std::wstring url;
    LONG result = 0;
    f.events->OnWorkbookAfterXmlExport = [&](qvr::TObject*, ExcelWorkbook*, IDispatch*, const std::wstring& Url,
                                             LONG Result) {
        url = Url;
        result = Result;
    };
    // Only Result (position 3) and Url (position 2) are passed, both named, Result first.
    officesim::Var u = officesim::Var::Text(L"http://x/"), r = officesim::Var::Long(2);
    VARIANT rgvarg[2] = {r, u};
    DISPID names[2] = {3, 2};
    DISPPARAMS params{rgvarg, names, 2, 2};
    ComPtr<IDispatch> sink = f.app->Sinks().at(0);
    EXPECT_EQ(S_OK, sink->Invoke(2293, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr));
    EXPECT_EQ(L"http://x/", url);
    EXPECT_EQ(2, result);
    EXPECT_TRUE(f.errors.empty());
}

TEST(Sink, MissingArgumentsArriveEmpty) {
    ComponentFixture f;
    Log log;
    f.events->OnSheetBeforeDoubleClick = Recorder{&log};
    ComPtr<officesim::AutomationObject> sheet = officesim::AutomationObject::Make();
    EXPECT_EQ(std::vector<HRESULT>{S_OK}, f.app->Fire(1559, {officesim::Var::Object(sheet.Get())}));
    ASSERT_EQ(1, log.calls);
    ASSERT_EQ(3u, log.args.size());
    EXPECT_EQ(static_cast<void*>(sheet.Get()), log.args[0].object);
    EXPECT_EQ(nullptr, log.args[1].object);
    EXPECT_EQ(VARIANT_FALSE, log.args[2].number);
}

// ---- the component ---------------------------------------------------------------------------

TEST(Component, MustBeOwnedByAnAddInModule) {
    try {
        qvr::TqvrExcelAppEvents orphan(nullptr);
        FAIL() << "no error";
    } catch (const qvr::EqvrError& e) {
        EXPECT_EQ(L"The TqvrExcelAppEvents class cannot be contained in the nil class.", e.Message());
        EXPECT_EQ(31113, e.Code());
    }
    qvr::TExcelApplication notAModule(nullptr);
    try {
        new qvr::TqvrExcelAppEvents(&notAModule);
        FAIL() << "no error";
    } catch (const qvr::EqvrError& e) {
        EXPECT_EQ(L"The TqvrExcelAppEvents class cannot be contained in the TExcelApplication class.", e.Message());
        EXPECT_EQ(31113, e.Code());
    }
    EXPECT_TRUE(notAModule.Components().empty()) << "the refused component left its owner";
}

TEST(Component, UsesExcelsServerDataAndCountsItsInstances) {
    qvr::TServerData& data = qvr::ExcelApplicationServerData();
    EXPECT_TRUE(IsEqualGUID(officesim::xl::CLSID_Application, data.ClassID));
    EXPECT_TRUE(IsEqualGUID(officesim::xl::IID_Application, data.IntfIID));
    EXPECT_TRUE(IsEqualGUID(officesim::xl::DIID_AppEvents, data.EventIID));
    EXPECT_EQ(500, data.Version);
    int before = data.InstanceCount;
    {
        qvr::TqvrCOMAddInModule module(nullptr);
        auto* events = new qvr::TqvrExcelAppEvents(&module);
        EXPECT_EQ(&data, events->ServerData());
        qvr::TExcelApplication excel(nullptr);
        EXPECT_EQ(before + 2, data.InstanceCount);
    }
    EXPECT_EQ(before, data.InstanceCount);
}

TEST(Component, ConnectToRaisesForAnObjectThatIsNotExcel) {
    qvr::TqvrCOMAddInModule module(nullptr);
    auto* events = new qvr::TqvrExcelAppEvents(&module);
    ComPtr<officesim::AutomationObject> notExcel = officesim::AutomationObject::Make();
    try {
        events->ConnectTo(notExcel.Get());
        FAIL() << "no error";
    } catch (const qvr::EqvrError& e) {
        EXPECT_EQ(E_NOINTERFACE, e.Code());
    }
    EXPECT_FALSE(events->Connected());
}

TEST(Component, ConnectsAgainAfterDisconnectingAndIgnoresTheVersion) {
    ComponentFixture f;
    DWORD first = f.events->EventsConnection();
    EXPECT_NE(0u, first);
    f.events->ConnectTo(f.app.Get(), L"16.0");
    EXPECT_EQ(1u, f.app->AdviseCount());
    EXPECT_EQ(2u, f.app->TotalAdvises());
    EXPECT_EQ(std::vector<DWORD>{first}, f.app->Unadvised());
    EXPECT_TRUE(f.events->Connected());
}

TEST(Component, DisconnectTwiceIsHarmlessAndReleasesExcel) {
    ComponentFixture f;
    f.events->Disconnect();
    f.events->Disconnect();
    EXPECT_EQ(0u, f.app->AdviseCount());
    EXPECT_EQ(0u, f.events->EventsConnection());
    EXPECT_FALSE(f.events->Connected());
    EXPECT_EQ(1, f.app->RefCount()) << "only the test holds Excel";
}

TEST(Component, AFailedSubscriptionIsSilent) {
    qvr::TqvrCOMAddInModule module(nullptr);
    auto* events = new qvr::TqvrExcelAppEvents(&module);
    auto noEvents = xltest::MakeExcel(L"16.0", false);
    events->ConnectTo(noEvents.Get());
    EXPECT_TRUE(events->Connected());
    EXPECT_EQ(0u, events->EventsConnection());

    auto refusing = xltest::MakeExcel();
    refusing->FailNextAdvise(CONNECT_E_ADVISELIMIT);
    events->ConnectTo(refusing.Get());
    EXPECT_EQ(0u, events->EventsConnection());
    EXPECT_EQ(0u, refusing->AdviseCount());
    events->Disconnect();
    EXPECT_TRUE(refusing->Unadvised().empty()) << "nothing to unsubscribe";
}

TEST(Component, IsReadFromTheStoredConfigurationWithItsHandlers) {
    qvr::TqvrCOMAddInModule module(nullptr);
    Log log;
    module.PublishMethod(L"XLWorkbookActivate", qvr::TExcelWorkbookActivateEvent(Recorder{&log}));
    module.PublishMethod(L"XLBeforeClose", qvr::TExcelWorkbookBeforeCloseEvent(Recorder{&log}));
    qvr::TFormReader::ReadRoot(module, qvr::ParseForm(L"object M: TqvrCOMAddInModule\r\n"
                                                      L"  object XLEvents: TqvrExcelAppEvents\r\n"
                                                      L"    OnWorkbookActivate = XLWorkbookActivate\r\n"
                                                      L"    OnWorkbookBeforeClose = XLBeforeClose\r\n"
                                                      L"  end\r\n"
                                                      L"end\r\n"));
    ASSERT_EQ(1u, module.Components().size());
    auto* events = dynamic_cast<qvr::TqvrExcelAppEvents*>(module.Components()[0]);
    ASSERT_NE(nullptr, events);
    EXPECT_EQ(L"XLEvents", events->Name());
    EXPECT_TRUE(events->OnWorkbookActivate);
    EXPECT_TRUE(events->OnWorkbookBeforeClose);
    EXPECT_FALSE(events->OnWorkbookOpen);

    auto app = xltest::MakeExcel();
    events->ConnectTo(app.Get());
    Arguments args("W");
    app->Fire(1568, args.variants);
    EXPECT_EQ(1, log.calls);

    std::wstring written = qvr::WriteForm(qvr::TFormReader::WriteRoot(module));
    EXPECT_NE(std::wstring::npos, written.find(L"OnWorkbookActivate = XLWorkbookActivate")) << written;
    EXPECT_NE(std::wstring::npos, written.find(L"OnWorkbookBeforeClose = XLBeforeClose")) << written;
}

}  // namespace
