// The Excel application object: connection, disconnection, implicit reconnection by its connect
// kind, and the operations of Excel's object model the add-in uses.
#include "event_recorder.h"
#include "excel_sim.h"
#include "module/excel_app.h"
#include "server/comserver.h"

#include <gtest/gtest.h>

#include <functional>

using Microsoft::WRL::ComPtr;
using officesim::Var;
using xltest::AsExcel;

namespace {

TEST(ExcelApp, ConnectToSubscribesItsSink) {
    auto app = xltest::MakeExcel();
    qvr::TExcelApplication excel(nullptr);
    EXPECT_FALSE(excel.Connected());
    EXPECT_EQ(nullptr, excel.Owner());
    excel.ConnectTo(AsExcel(app.Get()).Get());
    EXPECT_TRUE(excel.Connected());
    EXPECT_EQ(1u, app->AdviseCount());
    EXPECT_NE(0u, excel.EventsConnection());
    EXPECT_EQ(static_cast<IDispatch*>(excel.EventSink()), app->Sinks().at(0).Get());
    EXPECT_EQ(AsExcel(app.Get()).Get(), excel.DefaultInterface());
}

TEST(ExcelApp, ConnectToAnotherExcelLeavesTheFirst) {
    auto first = xltest::MakeExcel();
    auto second = xltest::MakeExcel();
    qvr::TExcelApplication excel(nullptr);
    excel.ConnectTo(AsExcel(first.Get()).Get());
    excel.ConnectTo(AsExcel(second.Get()).Get());
    EXPECT_EQ(0u, first->AdviseCount());
    EXPECT_EQ(1, first->RefCount());
    EXPECT_EQ(1u, second->AdviseCount());
}

TEST(ExcelApp, DisconnectUnsubscribesAndReleasesExcelAndTwiceIsHarmless) {
    auto app = xltest::MakeExcel();
    qvr::TExcelApplication excel(nullptr);
    excel.ConnectTo(AsExcel(app.Get()).Get());
    excel.Disconnect();
    EXPECT_FALSE(excel.Connected());
    EXPECT_EQ(0u, app->AdviseCount());
    EXPECT_EQ(0u, excel.EventsConnection());
    EXPECT_EQ(1, app->RefCount()) << "only the test holds Excel";
    excel.Disconnect();
    EXPECT_EQ(1u, app->Unadvised().size());
    EXPECT_EQ(0, app->quitCalls) << "AutoQuit is False by default";
    EXPECT_FALSE(excel.AutoQuit);
    EXPECT_EQ(qvr::ckRunningOrNew, excel.ConnectKind);
    EXPECT_FALSE(excel.AutoConnect);
    EXPECT_TRUE(excel.RemoteMachineName.empty());
}

TEST(ExcelApp, AutoQuitQuitsExcelOnDisconnection) {
    auto app = xltest::MakeExcel();
    qvr::TExcelApplication excel(nullptr);
    excel.AutoQuit = true;
    excel.ConnectTo(AsExcel(app.Get()).Get());
    excel.Disconnect();
    EXPECT_EQ(1, app->quitCalls);
    EXPECT_EQ(0u, app->AdviseCount()) << "unsubscribed before quitting";
    EXPECT_EQ(1, app->RefCount());
    excel.Disconnect();
    EXPECT_EQ(1, app->quitCalls);
}

TEST(ExcelApp, DestructionDisconnects) {
    auto app = xltest::MakeExcel();
    LONG objects = qvr::TComServer::Instance()->ObjectCount();
    {
        qvr::TExcelApplication excel(nullptr);
        excel.ConnectTo(AsExcel(app.Get()).Get());
    }
    EXPECT_EQ(0u, app->AdviseCount());
    EXPECT_EQ(1, app->RefCount());
    EXPECT_EQ(objects, qvr::TComServer::Instance()->ObjectCount()) << "the sink is gone too";
}

TEST(ExcelApp, SubscriptionFailureIsSilent) {
    auto app = xltest::MakeExcel(L"16.0", false);
    qvr::TExcelApplication excel(nullptr);
    excel.ConnectTo(AsExcel(app.Get()).Get());
    EXPECT_TRUE(excel.Connected());
    EXPECT_EQ(0u, excel.EventsConnection());
    EXPECT_EQ(L"16.0", excel.Version());
}

// ---- implicit connection by ConnectKind -------------------------------------------------------

// Each test leaves COM's registrations as it found them.
class Reconnection : public testing::Test {
protected:
    ComPtr<officesim::ExcelApplicationSim> running = xltest::MakeExcel(L"15.0");
};

TEST_F(Reconnection, UseAfterDisconnectReconnectsToTheRunningExcel) {
    auto first = xltest::MakeExcel(L"16.0");
    qvr::TExcelApplication excel(nullptr);
    excel.ConnectTo(AsExcel(first.Get()).Get());
    excel.Disconnect();
    running->RegisterRunning();
    EXPECT_EQ(L"15.0", excel.Version()) << "the running Excel";
    EXPECT_TRUE(excel.Connected());
    EXPECT_EQ(1u, running->AdviseCount()) << "subscribed again";
    EXPECT_EQ(0u, first->AdviseCount());
    running->RevokeRunning();
}

TEST_F(Reconnection, RunningOrNewStartsANewExcelWhenNoneRuns) {
    auto factory = officesim::ExcelApplicationSim::RegisterFactory();
    qvr::TExcelApplication excel(nullptr);
    EXPECT_EQ(L"16.0", excel.Version());
    ASSERT_EQ(1u, factory->created.size());
    EXPECT_EQ(1u, factory->created[0]->AdviseCount());
    excel.Disconnect();
    EXPECT_EQ(0u, factory->created[0]->AdviseCount());
}

TEST_F(Reconnection, RunningOrNewPrefersTheRunningExcel) {
    auto factory = officesim::ExcelApplicationSim::RegisterFactory();
    running->RegisterRunning();
    qvr::TExcelApplication excel(nullptr);
    EXPECT_EQ(L"15.0", excel.Version());
    EXPECT_TRUE(factory->created.empty());
    running->RevokeRunning();
}

TEST_F(Reconnection, NewInstanceAlwaysStartsOne) {
    auto factory = officesim::ExcelApplicationSim::RegisterFactory();
    running->RegisterRunning();
    qvr::TExcelApplication excel(nullptr);
    excel.ConnectKind = qvr::ckNewInstance;
    excel.Quit();
    ASSERT_EQ(1u, factory->created.size());
    EXPECT_EQ(1, factory->created[0]->quitCalls);
    EXPECT_EQ(0, running->quitCalls);
    running->RevokeRunning();
}

TEST_F(Reconnection, RunningInstanceRaisesWhenNoneRuns) {
    auto factory = officesim::ExcelApplicationSim::RegisterFactory();
    qvr::TExcelApplication excel(nullptr);
    excel.ConnectKind = qvr::ckRunningInstance;
    EXPECT_THROW(excel.Version(), qvr::EqvrError);
    EXPECT_FALSE(excel.Connected());
    EXPECT_TRUE(factory->created.empty());
    running->RegisterRunning();
    EXPECT_EQ(L"15.0", excel.Version());
    running->RevokeRunning();
}

TEST_F(Reconnection, AttachToInterfaceRaisesWhenNotConnected) {
    running->RegisterRunning();
    qvr::TExcelApplication excel(nullptr);
    excel.ConnectKind = qvr::ckAttachToInterface;
    EXPECT_THROW(excel.ActiveWorkbook(), qvr::EqvrError);
    EXPECT_EQ(0u, running->AdviseCount());
    running->RevokeRunning();
}

TEST_F(Reconnection, WithNoExcelAtAllTheUseRaises) {
    qvr::TExcelApplication excel(nullptr);
    try {
        excel.Quit();
        FAIL() << "no error";
    } catch (const qvr::EqvrError& e) {
        EXPECT_LT(e.Code(), 0) << "the failure of starting Excel";
    }
    EXPECT_FALSE(excel.Connected());
}

// ---- operations -------------------------------------------------------------------------------

struct Operation {
    const char* name;
    std::function<void(qvr::TExcelApplication&, IDispatch* workbook, IDispatch* window)> run;
    bool onWorkbook;  // else on the application (or the window, for Application)
    bool onWindow;
    DISPID id;
    WORD flags;
    LCID lcid;
    std::vector<std::wstring> args;  // each argument as "type:text"
};

std::wstring Describe(const VARIANT& v) {
    Var copy(v);
    std::wstring type = std::to_wstring(v.vt);
    if (v.vt == VT_ERROR) return type + L":" + std::to_wstring(static_cast<unsigned long>(v.scode));
    return type + L":" + copy.AsText();
}

const LCID kDutch = 0x0413;

std::vector<Operation> Operations() {
    return {
        {"Version", [](auto& x, auto, auto) { EXPECT_EQ(L"16.0", x.Version(kDutch)); }, false, false, 392,
         DISPATCH_PROPERTYGET, kDutch, {}},
        {"VersionUserDefault", [](auto& x, auto, auto) { x.Version(); }, false, false, 392, DISPATCH_PROPERTYGET,
         LOCALE_USER_DEFAULT, {}},
        {"ActiveWindow", [](auto& x, auto, IDispatch* window) { EXPECT_EQ(window, x.ActiveWindow().Get()); }, false,
         false, 759, DISPATCH_PROPERTYGET, LOCALE_USER_DEFAULT, {}},
        {"ActiveWorkbook", [](auto& x, IDispatch* wb, auto) { EXPECT_EQ(wb, x.ActiveWorkbook().Get()); }, false,
         false, 308, DISPATCH_PROPERTYGET, LOCALE_USER_DEFAULT, {}},
        {"Workbooks", [](auto& x, auto, auto) { EXPECT_NE(nullptr, x.Workbooks().Get()); }, false, false, 572,
         DISPATCH_PROPERTYGET, LOCALE_USER_DEFAULT, {}},
        {"Quit", [](auto& x, auto, auto) { x.Quit(); }, false, false, 302, DISPATCH_METHOD, LOCALE_USER_DEFAULT, {}},
        {"WindowApplication",
         [](auto& x, auto, IDispatch* window) {
             ComPtr<IDispatch> app = qvr::xl::Application(window);
             EXPECT_EQ(x.DefaultInterface(), static_cast<IDispatch*>(app.Get()));
         },
         false, true, 148, DISPATCH_PROPERTYGET, LOCALE_USER_DEFAULT, {}},
        {"FullName",
         [](auto&, IDispatch* wb, auto) { EXPECT_EQ(L"C:\\data\\book.xlsx", qvr::xl::FullName(wb, kDutch)); }, true,
         false, 289, DISPATCH_PROPERTYGET, kDutch, {}},
        {"SaveCopyAs",
         [](auto&, IDispatch* wb, auto) { qvr::xl::SaveCopyAs(wb, Var::Text(L"C:\\tmp\\Order.xlsx"), kDutch); }, true,
         false, 175, DISPATCH_METHOD, kDutch, {L"8:C:\\tmp\\Order.xlsx"}},
        {"Close",
         [](auto&, IDispatch* wb, auto) {
             qvr::xl::Close(wb, Var::Bool(false), Var::Missing(), Var::Missing(), kDutch);
         },
         true, false, 277, DISPATCH_METHOD, kDutch, {L"11:0", L"10:2147614724", L"10:2147614724"}},
    };
}

// Excel with an active workbook and window, and the application object connected to it.
class Operations_ : public testing::TestWithParam<Operation> {
protected:
    void SetUp() override {
        app->SetActiveWorkbook(workbook.Get());
        app->SetActiveWindow(window.Get());
        excel.ConnectTo(AsExcel(app.Get()).Get());
    }
    void TearDown() override {
        app->SetActiveWorkbook(nullptr);
        app->SetActiveWindow(nullptr);
    }
    void Run() { GetParam().run(excel, workbook.Get(), window.Get()); }
    // The calls of the operation's member on the object it calls, each as flags, locale and its
    // arguments described.
    struct Seen {
        WORD flags;
        LCID lcid;
        std::vector<std::wstring> args;
    };
    std::vector<Seen> TargetCalls() {
        const Operation& op = GetParam();
        std::vector<Seen> seen;
        if (op.onWorkbook || op.onWindow) {
            for (const officesim::AutomationCall& c : (op.onWorkbook ? workbook : window)->CallsOf(op.id)) {
                seen.push_back({c.flags, c.lcid, {}});
                for (const Var& a : c.args) seen.back().args.push_back(Describe(a));
            }
        } else {
            for (const officesim::ExcelCall* c : app->CallsTo(op.id)) {
                seen.push_back({c->flags, c->lcid, {}});
                for (const VARIANT& a : c->args) seen.back().args.push_back(Describe(a));
            }
        }
        return seen;
    }
    void FailTarget(HRESULT hr) {
        const Operation& op = GetParam();
        if (op.onWorkbook || op.onWindow)
            (op.onWorkbook ? workbook : window)->FailNext(op.id, hr);
        else
            app->FailNext(op.id, hr);
    }

    ComPtr<officesim::ExcelApplicationSim> app = xltest::MakeExcel(L"16.0");
    ComPtr<officesim::AutomationObject> workbook = xltest::MakeWorkbook(L"C:\\data\\book.xlsx", app.Get());
    ComPtr<officesim::AutomationObject> window = xltest::MakeWindow(app.Get());
    qvr::TExcelApplication excel{nullptr};
};

TEST_P(Operations_, CallTheirDispatchIdWithTheirLocaleAndArguments) {
    const Operation& op = GetParam();
    Run();
    std::vector<Seen> calls = TargetCalls();
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(op.flags, calls[0].flags);
    EXPECT_EQ(op.lcid, calls[0].lcid);
    EXPECT_EQ(op.args, calls[0].args);
}

TEST_P(Operations_, RaiseTheFailureOfTheirCall) {
    FailTarget(E_ACCESSDENIED);
    try {
        Run();
        ADD_FAILURE() << "no error";
    } catch (const qvr::EqvrError& e) {
        EXPECT_EQ(E_ACCESSDENIED, e.Code());
        EXPECT_EQ(qvr::ErrorKind::Ole, e.Kind());
    }
}

INSTANTIATE_TEST_SUITE_P(ExcelApp, Operations_, testing::ValuesIn(Operations()),
                         [](const testing::TestParamInfo<Operation>& info) { return std::string(info.param.name); });

TEST(ExcelAppOperations, NoActiveWindowOrWorkbookGivesNull) {
    auto app = xltest::MakeExcel();
    qvr::TExcelApplication excel(nullptr);
    excel.ConnectTo(AsExcel(app.Get()).Get());
    EXPECT_EQ(nullptr, excel.ActiveWindow().Get());
    EXPECT_EQ(nullptr, excel.ActiveWorkbook().Get());
}

TEST(ExcelAppOperations, AnActiveWorkbookThatIsNoWorkbookRaises) {
    auto app = xltest::MakeExcel();
    auto notAWorkbook = officesim::AutomationObject::Make();
    app->SetActiveWorkbook(notAWorkbook.Get());
    qvr::TExcelApplication excel(nullptr);
    excel.ConnectTo(AsExcel(app.Get()).Get());
    try {
        excel.ActiveWorkbook();
        FAIL() << "no error";
    } catch (const qvr::EqvrError& e) {
        EXPECT_EQ(E_NOINTERFACE, e.Code());
    }
    app->SetActiveWorkbook(nullptr);
}

TEST(ExcelAppOperations, ReachTheActiveWorkbookThroughTheWindowsApplication) {
    // The hand-off command's path to the workbook: ActiveWindow, its Application late bound, that
    // application's ActiveWorkbook.
    auto app = xltest::MakeExcel();
    IDispatch* appDispatch = app.Get();
    auto workbook = xltest::MakeWorkbook(L"Book1", appDispatch);
    auto window = xltest::MakeWindow(appDispatch);
    app->SetActiveWorkbook(workbook.Get());
    app->SetActiveWindow(window.Get());
    qvr::TExcelApplication excel(nullptr);
    excel.ConnectTo(AsExcel(appDispatch).Get());
    ComPtr<ExcelWorkbook> active = qvr::xl::ActiveWorkbook(qvr::xl::Application(excel.ActiveWindow().Get()).Get());
    EXPECT_EQ(L"Book1", qvr::xl::FullName(active.Get(), kDutch));
    active.Reset();
    app->SetActiveWorkbook(nullptr);
    app->SetActiveWindow(nullptr);
}

}  // namespace
