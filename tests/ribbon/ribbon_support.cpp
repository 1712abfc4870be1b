#include "ribbon_support.h"

namespace ribbontest {

RibbonFixture::RibbonFixture() {
    qvr::RegisterRibbonClasses();
    module = std::make_unique<qvr::TqvrCOMAddInModule>(nullptr);
    tab = new qvr::TqvrRibbonTab(module.get());
    tab->SetId(L"Tab1");
}

RecordingRibbonUI& RibbonFixture::LoadRibbon() {
    ribbon = RecordingRibbonUI::Make<RecordingRibbonUI>();
    module->SetRibbonUI(ribbon.Get());
    return *ribbon.Get();
}

std::vector<std::wstring> RegistryKeys(qvr::TqvrCOMAddInModule& module) {
    std::vector<std::wstring> keys;
    for (const auto& e : module.RibbonControls().Entries()) keys.push_back(e.key);
    return keys;
}

}  // namespace ribbontest
