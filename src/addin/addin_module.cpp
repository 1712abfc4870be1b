#include "addin/addin_module.h"

namespace vortelix {

TAddInModule::TAddInModule(qvr::TComponent* owner) : TqvrCOMAddInModule(owner) {
    // The classes the stored configuration creates by name, registered here rather than from
    // static initialisers, which the linker may drop from a static library.
    qvr::RegisterRibbonClasses();
    PublishMethod<qvr::TqvrRibbonOnClick>(L"VORTELIXRibbonControls0Controls0Click",
                                          [this](qvr::TObject* Sender, IRibbonControl* RibbonControl) {
                                              VORTELIXRibbonControls0Controls0Click(Sender, RibbonControl);
                                          });
}

void TAddInModule::Loaded() {
    TqvrCOMAddInModule::Loaded();
    VORTELIXRibbon = dynamic_cast<qvr::TqvrRibbonTab*>(FindComponent(L"VORTELIXRibbon"));
    ImageListRibbon = dynamic_cast<qvr::TImageList*>(FindComponent(L"ImageListRibbon"));
}

void TAddInModule::Notification(qvr::TComponent* component, qvr::TOperation operation) {
    TqvrCOMAddInModule::Notification(component, operation);
    if (operation != qvr::TOperation::opRemove) return;
    if (component == VORTELIXRibbon) VORTELIXRibbon = nullptr;
    if (component == ImageListRibbon) ImageListRibbon = nullptr;
}

void TAddInModule::VORTELIXRibbonControls0Controls0Click(qvr::TObject* Sender, IRibbonControl* RibbonControl) {
    RunOrderHandOff(Sender, RibbonControl);
}

}  // namespace vortelix
