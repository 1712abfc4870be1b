// Documents of broad configurations, kept for the check against Office's custom UI schemas that
// runs after this program (markup_schema_valid): every control class, own and built-in, shared
// containers with the module's Namespace, contextual tabs, start from scratch and dynamic menu
// content, for Office 2007's schema and the one of Office 2010 and later.
#include "markup_support.h"

#include "ribbon/controls.h"

#include <gtest/gtest.h>

#include <functional>

using namespace qvr;
using namespace markuptest;

namespace {

template <typename T>
T* AddControl(TqvrRibbonControls& c, TqvrRibbonControlType type, const std::wstring& id) {
    auto* control = dynamic_cast<T*>(c.Add(type));
    control->SetId(id);
    return control;
}

void Items(TqvrRibbonItems& items, int n) {
    for (int i = 0; i < n; ++i) {
        TqvrRibbonItem* item = items.AddItem();
        item->SetId(L"Item" + std::to_wstring(i));
        item->SetCaption(L"Item " + std::to_wstring(i));
    }
}

// One control of every own class, in the ways each can be placed.
void EveryOwnControl(TqvrCOMAddInModule&, TqvrRibbonTab& tab, TqvrRibbonGroup& g, const std::wstring& p) {
    g.SetImageIndex(0);
    AddControl<TqvrRibbonLabel>(g.Controls(), rctLabel, p + L"Label");
    AddControl<TqvrRibbonButton>(g.Controls(), rctButton, p + L"Button")->SetImageIndex(0);
    AddControl<TqvrRibbonButton>(g.Controls(), rctButton, p + L"Toggle")->SetToggleButton(true);
    AddControl<TqvrRibbonCheckBox>(g.Controls(), rctCheckBox, p + L"Check");
    auto* edit = AddControl<TqvrRibbonEditBox>(g.Controls(), rctEditBox, p + L"Edit");
    edit->SetMaxLength(20);
    edit->SetSizeString(L"WWWWWWWW");
    auto* combo = AddControl<TqvrRibbonComboBox>(g.Controls(), rctComboBox, p + L"Combo");
    Items(combo->Items(), 3);
    auto* drop = AddControl<TqvrRibbonDropDown>(g.Controls(), rctDropDown, p + L"Drop");
    Items(drop->Items(), 2);
    drop->SetSelectedItemIndex(1);
    AddControl<TqvrRibbonButton>(drop->Controls(), rctButton, p + L"DropMore");
    auto* gallery = AddControl<TqvrRibbonGallery>(g.Controls(), rctGallery, p + L"Gallery");
    Items(gallery->Items(), 4);
    gallery->SetColumns(2);
    gallery->SetRows(2);
    gallery->SetSelectedItemId(L"Item2");
    AddControl<TqvrRibbonButton>(gallery->Controls(), rctButton, p + L"GalleryMore")->SetToggleButton(true);
    AddControl<TqvrRibbonSeparator>(g.Controls(), rctSeparator, p + L"Sep");

    auto* menu = AddControl<TqvrRibbonMenu>(g.Controls(), rctMenu, p + L"Menu");
    menu->SetItemSize(TqvrRibbonXItemSize::Large);
    AddControl<TqvrRibbonButton>(menu->Controls(), rctButton, p + L"MenuButton");
    AddControl<TqvrRibbonMenuSeparator>(menu->Controls(), rctMenuSeparator, p + L"MenuSep")->SetCaption(L"Section");
    AddControl<TqvrRibbonCheckBox>(menu->Controls(), rctCheckBox, p + L"MenuCheck");
    auto* sub = AddControl<TqvrRibbonMenu>(menu->Controls(), rctMenu, p + L"SubMenu");
    AddControl<TqvrRibbonButton>(sub->Controls(), rctButton, p + L"SubButton");
    AddControl<TqvrRibbonGallery>(menu->Controls(), rctGallery, p + L"MenuGallery");
    auto* dynamic = AddControl<TqvrRibbonMenu>(g.Controls(), rctMenu, p + L"Dynamic");
    dynamic->SetDynamic(true);

    auto* split = AddControl<TqvrRibbonSplitButton>(g.Controls(), rctSplitButton, p + L"Split");
    auto* splitMenu = static_cast<TqvrRibbonMenu*>(split->Controls().GetItem(0));
    splitMenu->SetId(p + L"SplitMenu");
    AddControl<TqvrRibbonButton>(splitMenu->Controls(), rctButton, p + L"SplitItem");
    auto* toggleSplit = AddControl<TqvrRibbonSplitButton>(g.Controls(), rctSplitButton, p + L"ToggleSplit");
    toggleSplit->SetToggleButton(true);
    static_cast<TqvrRibbonMenu*>(toggleSplit->Controls().GetItem(0))->SetId(p + L"ToggleSplitMenu");

    auto* box = AddControl<TqvrRibbonBox>(g.Controls(), rctBox, p + L"Box");
    box->SetBoxStyle(bsVertical);
    AddControl<TqvrRibbonButton>(box->Controls(), rctButton, p + L"BoxButton");
    AddControl<TqvrRibbonEditBox>(box->Controls(), rctEditBox, p + L"BoxEdit");
    auto* buttons = AddControl<TqvrRibbonButtonGroup>(g.Controls(), rctButtonGroup, p + L"Buttons");
    AddControl<TqvrRibbonButton>(buttons->Controls(), rctButton, p + L"BG1");
    AddControl<TqvrRibbonButton>(buttons->Controls(), rctButton, p + L"BG2");
    AddControl<TqvrRibbonMenu>(buttons->Controls(), rctMenu, p + L"BGMenu");
    AddControl<TqvrRibbonDialogBoxLauncher>(g.Controls(), rctDialogBoxLauncher, p + L"Launcher");

    // A second group placed among Office's own.
    auto* second = dynamic_cast<TqvrRibbonGroup*>(tab.Controls().Add());
    second->SetId(p + L"Second");
    second->SetInsertAfterIdMso(L"GroupClipboard");
    AddControl<TqvrRibbonButton>(second->Controls(), rctButton, p + L"Large")->SetSize(csLarge);
}

// Office's own controls placed in the add-in's containers, and an Office group and tab holding
// more of them.
void EveryBuiltInControl(TqvrCOMAddInModule& m, TqvrRibbonTab&, TqvrRibbonGroup& g, const std::wstring& p) {
    auto builtIn = [&](TqvrRibbonControlType type, const wchar_t* idMso, const wchar_t* caption) {
        TqvrRibbonCustomControl* c = g.Controls().Add(type);
        c->SetId(p + idMso);
        c->SetIdMso(idMso);
        c->SetCaption(caption);
        c->SetScreenTip(L"Office's own");
        return c;
    };
    builtIn(rctButton, L"Copy", L"Copy & keep");
    builtIn(rctButton, L"PasteSpecialDialog", L"")->AsRibbonButton()->SetParseMsoXmlTypeAs(pxtControl);
    builtIn(rctLabel, L"FontSizeLabel", L"Size");
    builtIn(rctCheckBox, L"ViewGridlines", L"Gridlines")->SetKeyTip(KeyTipFromText(L"G"));
    builtIn(rctEditBox, L"NameBox", L"Name");
    builtIn(rctComboBox, L"Font", L"Font")->SetImageMso(L"FontDialog");
    builtIn(rctDropDown, L"NumberFormatGallery", L"");
    builtIn(rctGallery, L"CellStylesGallery", L"Styles")->SetShowCaption(false);
    builtIn(rctMenu, L"ClearMenu", L"Clear")->SetDescription(L"Clears things");
    builtIn(rctSplitButton, L"PasteMenu", L"Paste");
    builtIn(rctDialogBoxLauncher, L"FontDialog", L"");

    auto* officeTab = new TqvrRibbonTab(&m);
    officeTab->SetId(p + L"HomeTab");
    officeTab->SetIdMso(L"TabHome");
    auto* officeGroup = dynamic_cast<TqvrRibbonGroup*>(officeTab->Controls().Add());
    officeGroup->SetId(p + L"OfficeClipboard");
    officeGroup->SetIdMso(L"GroupClipboard");
    auto* inner = officeGroup->Controls().Add(rctButton);
    inner->SetId(p + L"InnerCut");
    inner->SetIdMso(L"Cut");
    auto* ownInOffice = dynamic_cast<TqvrRibbonGroup*>(officeTab->Controls().Add());
    ownInOffice->SetId(p + L"OwnOnHome");
    ownInOffice->SetInsertBeforeIdMso(L"GroupFont");
    AddControl<TqvrRibbonButton>(ownInOffice->Controls(), rctButton, p + L"OwnOnHomeButton");
}

// Containers shared with other add-ins through the module's Namespace; their labels, tips and
// key tips are fixed values written into the document.
void SharedContainers(TqvrCOMAddInModule& m, TqvrRibbonTab& tab, TqvrRibbonGroup& g, const std::wstring& p) {
    m.Namespace = L"urn:vortelix:shared-" + p;
    tab.SetShared(true);
    tab.SetCaption(L"Orders & \"Returns\"");
    tab.SetKeyTip(KeyTipFromText(L"O&"));
    tab.SetInsertAfterId(L"shared:OtherTab");
    g.SetShared(true);
    g.SetCaption(L"<Inbound>");
    g.SetScreenTip(L"Tip \"quoted\"");
    g.SetSuperTip(L"Line one\r\nline two");
    g.SetKeyTip(KeyTipFromText(L"I"));
    auto* box = AddControl<TqvrRibbonBox>(g.Controls(), rctBox, p + L"SharedBox");
    box->SetShared(true);
    AddControl<TqvrRibbonButton>(box->Controls(), rctButton, p + L"InBox");
    auto* buttons = AddControl<TqvrRibbonButtonGroup>(g.Controls(), rctButtonGroup, p + L"SharedButtons");
    buttons->SetShared(true);
    AddControl<TqvrRibbonButton>(buttons->Controls(), rctButton, p + L"InButtons");
    auto* own = dynamic_cast<TqvrRibbonGroup*>(tab.Controls().Add());
    own->SetId(p + L"OwnGroup");
    auto* split = AddControl<TqvrRibbonSplitButton>(own->Controls(), rctSplitButton, p + L"QSplit");
    static_cast<TqvrRibbonMenu*>(split->Controls().GetItem(0))->SetId(p + L"QSplitMenu");
    AddControl<TqvrRibbonCheckBox>(own->Controls(), rctCheckBox, p + L"QCheck");
}

void ContextualTabs(TqvrCOMAddInModule& m, TqvrRibbonTab&, TqvrRibbonGroup&, const std::wstring& p) {
    for (const wchar_t* context : {L"Excel.TabSetChartTools", L"Excel.TabSetChartTools", L"Excel.TabSetPivotTableTools"}) {
        auto* t = new TqvrRibbonTab(&m);
        t->SetId(p + L"Context" + std::to_wstring(m.ContextTabs().size()));
        t->SetContext(context);
        auto* cg = dynamic_cast<TqvrRibbonGroup*>(t->Controls().Add());
        cg->SetId(t->Id() + L"Group");
        AddControl<TqvrRibbonButton>(cg->Controls(), rctButton, t->Id() + L"Button");
    }
}

void StartFromScratch(TqvrCOMAddInModule& m, TqvrRibbonTab&, TqvrRibbonGroup& g, const std::wstring& p) {
    m.SetStartFromScratch(TqvrRibbons{msrExcelWorkbook}.bits);
    AddControl<TqvrRibbonButton>(g.Controls(), rctButton, p + L"Alone");
}

// What Office opens as a dynamic menu's content: everything a menu may hold.
void FillMenu(TqvrRibbonMenu& menu) {
    const std::wstring p = menu.Id();
    AddControl<TqvrRibbonButton>(menu.Controls(), rctButton, p + L"Button")->SetImageIndex(0);
    AddControl<TqvrRibbonButton>(menu.Controls(), rctButton, p + L"Toggle")->SetToggleButton(true);
    AddControl<TqvrRibbonCheckBox>(menu.Controls(), rctCheckBox, p + L"Check");
    AddControl<TqvrRibbonMenuSeparator>(menu.Controls(), rctMenuSeparator, p + L"Sep");
    auto* sub = AddControl<TqvrRibbonMenu>(menu.Controls(), rctMenu, p + L"Sub");
    AddControl<TqvrRibbonButton>(sub->Controls(), rctButton, p + L"SubButton");
    AddControl<TqvrRibbonGallery>(menu.Controls(), rctGallery, p + L"Gallery");
    auto* split = AddControl<TqvrRibbonSplitButton>(menu.Controls(), rctSplitButton, p + L"Split");
    static_cast<TqvrRibbonMenu*>(split->Controls().GetItem(0))->SetId(p + L"SplitMenu");
    AddControl<TqvrRibbonMenu>(menu.Controls(), rctMenu, p + L"Nested")->SetDynamic(true);
}

struct Configuration {
    const wchar_t* name;
    std::function<void(TqvrCOMAddInModule&, TqvrRibbonTab&, TqvrRibbonGroup&, const std::wstring&)> build;
};

// The Office version asking, and whether the document needs the 2009 schema.
struct Flavour {
    const wchar_t* name;
    int version;
    bool needs2009;
};

class SchemaDocuments : public MarkupFixture,
                        public ::testing::WithParamInterface<std::tuple<Configuration, Flavour>> {};

TEST_P(SchemaDocuments, AreWellFormedAndKeptForTheSchemaCheck) {
    const auto& [config, flavour] = GetParam();
    config.build(*module, *tab, *group, L"X");
    // What only the 2009 schema knows: scaled groups and separators in button groups. Office 2007
    // gets the same tree without them.
    if (flavour.needs2009 || flavour.version == 12) {
        group->SetAutoScale(true);
        group->SetCenterVertically(true);
        auto* buttons = AddControl<TqvrRibbonButtonGroup>(group->Controls(), rctButtonGroup, L"Scaled");
        AddControl<TqvrRibbonButton>(buttons->Controls(), rctButton, L"ScaledA");
        AddControl<TqvrRibbonSeparator>(buttons->Controls(), rctSeparator, L"ScaledSep");
        AddControl<TqvrRibbonButton>(buttons->Controls(), rctButton, L"ScaledB");
    }
    std::wstring xml = Markup(flavour.version);
    EXPECT_EQ(flavour.needs2009 ? kCustomUINamespace2009 : kCustomUINamespace2006, module->OfficeXMLNS());
    std::wstring name = std::wstring(config.name) + L"-" + flavour.name;
    KeepForSchemaCheck(name, xml);
    // The content of dynamic menus, in the namespace of the same document.
    std::vector<TqvrRibbonMenu*> dynamicMenus;
    for (const auto& e : module->RibbonControls().Entries())
        if (auto* menu = dynamic_cast<TqvrRibbonMenu*>(e.object); menu && menu->Dynamic()) dynamicMenus.push_back(menu);
    for (size_t i = 0; i < dynamicMenus.size(); ++i) {
        if (dynamicMenus[i]->Controls().Count() == 0) FillMenu(*dynamicMenus[i]);
        KeepForSchemaCheck(name + L"-content" + std::to_wstring(i), GetContent(*dynamicMenus[i]));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Broad, SchemaDocuments,
    ::testing::Combine(::testing::Values(Configuration{L"own-controls", EveryOwnControl},
                                         Configuration{L"builtin-controls", EveryBuiltInControl},
                                         Configuration{L"shared-containers", SharedContainers},
                                         Configuration{L"contextual-tabs", ContextualTabs},
                                         Configuration{L"start-from-scratch", StartFromScratch}),
                       ::testing::Values(Flavour{L"office2007", 12, false}, Flavour{L"office2016", 16, false},
                                         Flavour{L"office2016-2009", 16, true})),
    [](const auto& info) {
        std::wstring n = std::wstring(std::get<0>(info.param).name) + L"_" + std::get<1>(info.param).name;
        std::string out;
        for (wchar_t c : n) out += isalnum(c) ? static_cast<char>(c) : '_';
        return out;
    });

}  // namespace
