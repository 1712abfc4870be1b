// The VORTELIX add-in's own module: its stored configuration and its one command.
#pragma once

#include "module/module.h"
#include "ribbon/graphics.h"
#include "ribbon/ribbon.h"

namespace vortelix {

class TAddInModule : public qvr::TqvrCOMAddInModule {
public:
    explicit TAddInModule(qvr::TComponent* owner);
    std::wstring ClassName() const override { return L"TAddInModule"; }

    // ---- published fields: the components of the stored configuration with these names ----
    // The "VORTELIX" tab with the group "Bestelling" and the button "Bestelling verwerken".
    qvr::TqvrRibbonTab* VORTELIXRibbon = nullptr;
    // The 48 x 48 picture of that button, index 0.
    qvr::TImageList* ImageListRibbon = nullptr;

    // ---- published method ----
    // The button's OnClick: hands the open workbook over to the order upload program.
    void VORTELIXRibbonControls0Controls0Click(qvr::TObject* Sender, IRibbonControl* RibbonControl);

    // The order hand-off command (order_handoff.cpp).
    void RunOrderHandOff(qvr::TObject* Sender, IRibbonControl* RibbonControl);

    void Loaded() override;

protected:
    void Notification(qvr::TComponent* component, qvr::TOperation operation) override;

private:
    // Deletes every file in the folder tree (Folder without trailing separator).
    void ClearFolder(const std::wstring& Folder);
};

}  // namespace vortelix
