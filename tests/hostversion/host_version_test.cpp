// Host recognition in a process whose executable says which Excel it is.
#include "addin/addin_module.h"
#include "excel_sim.h"
#include "module/excel_app.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// --expect-major=N, or "keep" for an executable without a version resource.
std::wstring Expected() {
    std::wstring cmd = GetCommandLineW();
    size_t at = cmd.find(L"--expect-major=");
    return at == std::wstring::npos ? L"" : cmd.substr(at + 15, cmd.find(L' ', at) - at - 15);
}

TEST(HostBinding, TakesTheMajorVersionFromTheExecutable) {
    std::wstring expected = Expected();
    ASSERT_FALSE(expected.empty()) << "run with --expect-major";
    auto module = qvr::TqvrCOMAddInModule::Create<vortelix::TAddInModule>(nullptr);
    auto app = officesim::ExcelApplicationSim::Make<officesim::ExcelApplicationSim>();
    module->SetHostApp(app.Get());
    // What the markup writer may have set before the binding runs.
    module->SetHostMajorVersion(14);
    module->BindHost();
    EXPECT_EQ(qvr::ohaExcel, module->HostType());
    ASSERT_NE(nullptr, module->ExcelApp());
    if (expected == L"keep") {
        EXPECT_EQ(14, module->HostMajorVersion()) << "no version resource: the value stays";
        EXPECT_TRUE(module->IsRibbon());
    } else {
        EXPECT_EQ(std::stoi(expected), module->HostMajorVersion());
        EXPECT_TRUE(module->IsRibbon());
    }
}

TEST(HostBinding, WithoutVersionResourceAndNothingKnownNoRibbonIsAssumed) {
    if (Expected() != L"keep") GTEST_SKIP() << "only for an executable without version";
    auto module = qvr::TqvrCOMAddInModule::Create<vortelix::TAddInModule>(nullptr);
    auto app = officesim::ExcelApplicationSim::Make<officesim::ExcelApplicationSim>();
    module->SetHostApp(app.Get());
    module->BindHost();
    EXPECT_EQ(0, module->HostMajorVersion());
    EXPECT_FALSE(module->IsRibbon());
}

}  // namespace
