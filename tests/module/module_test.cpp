// The add-in module on its own: defaults, the add-in's stored settings, setter checks, the
// registry key, the host version and the error dialog's texts.
#include "addin/addin_module.h"
#include "excel_sim.h"
#include "module/excel_app.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace {

using qvr::TqvrCOMAddInModule;

class DefaultsModule : public TqvrCOMAddInModule {
public:
    using TqvrCOMAddInModule::TqvrCOMAddInModule;
};

// The framework's defaults are what a stored configuration leaves out: a module with nothing
// changed stores no setting, so a stored configuration without them reads back to the same module.
TEST(Module, AModuleWithTheFrameworkDefaultsStoresNoSetting) {
    DefaultsModule m(nullptr);
    const qvr::FormObject written = qvr::TFormReader::WriteRoot(m);
    EXPECT_TRUE(written.properties.empty()) << qvr::WriteForm(written);
    EXPECT_TRUE(written.children.empty());
}

TEST(Module, TheAddInsStoredSettingsAreApplied) {
    auto m = TqvrCOMAddInModule::Create<vortelix::TAddInModule>(nullptr);
    EXPECT_EQ(L"VORTELIX Excel", m->AddInName());
    EXPECT_EQ(L"VORTELIX Excel plugin", m->Description);
    EXPECT_TRUE(m->RegisterForAllUsers);
    EXPECT_EQ(3, m->LoadBehavior);
    EXPECT_EQ(qvr::TqvrHostAppSet{qvr::ohaExcel}, m->SupportedApps());
    EXPECT_FALSE(m->DisplayAlerts);
    EXPECT_FALSE(m->XLAutomationAddIn);
    EXPECT_FALSE(m->HandleShortcuts());
    // A module made outside a connection has no host and no connection.
    EXPECT_EQ(nullptr, m->COMAddInClassInstance());
    EXPECT_EQ(nullptr, m->ExcelApp());
    EXPECT_EQ(L"", m->RegistryKey());
    m->SetConnection(nullptr, &qvrtest::Factory());
    EXPECT_EQ(L"\\Software\\Microsoft\\Office\\Excel\\AddIns\\VORTELIXExcel.coVORTELIXExcel", m->RegistryKey());
}

TEST(Module, EmptyRequiredPropertiesAreRefusedAndKeepTheirValue) {
    auto m = TqvrCOMAddInModule::Create<vortelix::TAddInModule>(nullptr);
    try {
        m->SetAddInName(L"");
        FAIL() << "no error";
    } catch (const qvr::EqvrError& e) {
        EXPECT_EQ(L"The AddInName property cannot be empty.", e.Message());
        EXPECT_EQ(31101, e.Code());
        EXPECT_EQ(qvr::ErrorKind::Ole, e.Kind());
    }
    EXPECT_EQ(L"VORTELIX Excel", m->AddInName());
    try {
        m->SetSupportedApps(qvr::TqvrHostAppSet{});
        FAIL() << "no error";
    } catch (const qvr::EqvrError& e) {
        EXPECT_EQ(L"The SupportedApps property cannot be empty.", e.Message());
        EXPECT_EQ(31101, e.Code());
    }
    EXPECT_EQ(qvr::TqvrHostAppSet{qvr::ohaExcel}, m->SupportedApps());
}

TEST(Module, OutlookExplorerIsOneRibbonInBothFilterSets) {
    DefaultsModule m(nullptr);
    const uint32_t explorer = 1u << 23, excelWorkbook = 1u << 0;
    m.SetStartFromScratch(explorer | excelWorkbook);
    EXPECT_EQ(1u, m.StartFromScratch2010());
    m.SetStartFromScratch(excelWorkbook);
    EXPECT_EQ(0u, m.StartFromScratch2010());
    m.SetStartFromScratch2010(1u | 4u);
    EXPECT_EQ(excelWorkbook | explorer, m.StartFromScratch());
    EXPECT_EQ(5u, m.StartFromScratch2010());
    m.SetStartFromScratch2010(4u);
    EXPECT_EQ(excelWorkbook, m.StartFromScratch()) << "other members are independent";
}

TEST(Module, FactoryKnowsTheClassAndTheDllFolder) {
    auto& f = qvrtest::Factory();
    EXPECT_EQ(L"coVORTELIXExcel", f.ClassName());
    EXPECT_EQ(L"coVORTELIXExcel Object", f.Description());
    EXPECT_EQ(L"VORTELIXExcel.coVORTELIXExcel", f.ProgID());
    EXPECT_EQ(qvrtest::ProgramFolder(), f.FilePath());
}

TEST(Module, HostVersionFallsBackWhenExcelCannotSay) {
    auto m = TqvrCOMAddInModule::Create<vortelix::TAddInModule>(nullptr);
    EXPECT_EQ(L"9.0.0.0", m->HostVersion()) << "no Excel bound";
    auto app = officesim::ExcelApplicationSim::Make<officesim::ExcelApplicationSim>(L"15.0");
    m->SetHostApp(app.Get());
    m->BindHost();
    EXPECT_EQ(L"15.0", m->HostVersion());
    auto mute = officesim::ForeignHostSim::Make<officesim::ForeignHostSim>();
    m->ExcelApp()->ConnectTo(mute.Get());
    EXPECT_EQ(L"9.0.0.0", m->HostVersion()) << "Version fails";
}

TEST(Module, OnlyFrameworkErrorsAreReportedByTheFiringGuard) {
    qvrtest::DialogRecorder dialogs;
    auto m = TqvrCOMAddInModule::Create<vortelix::TAddInModule>(nullptr);
    qvr::TNotifyEvent raisesText = [](qvr::TObject*) { throw std::runtime_error("plain text"); };
    m->Fire(raisesText, m.get());
    ASSERT_EQ(1u, dialogs.dialogs.size());
    EXPECT_EQ(L"VORTELIX Excel error: the add-in has fired an exception.\r\nplain text", dialogs.dialogs[0].text);
    qvr::TNotifyEvent raisesOther = [](qvr::TObject*) { throw 42; };
    EXPECT_THROW(m->Fire(raisesOther, m.get()), int) << "anything that carries no message propagates";
    qvr::TNotifyEvent none;
    m->Fire(none, m.get());  // an unassigned event is not called
    EXPECT_EQ(1u, dialogs.dialogs.size());
}

}  // namespace
