// Element names and attribute lists of every control class: what Office gets as fixed values and
// what it must ask for through callbacks.
#include "ribbon_support.h"
#include "support/addin_facts.h"

#include <functional>
#include <string>
#include <vector>

using namespace qvr;

namespace {

// A module whose custom UI namespace a test can choose (the markup writer sets it in use).
class XmlModule : public TqvrCOMAddInModule {
public:
    using TqvrCOMAddInModule::TqvrCOMAddInModule;
    void SetOfficeXMLNS(const std::wstring& ns) { FOfficeXMLNS = ns; }
};

// The tree a case builds: one module, one tab, one group.
struct Tree {
    Tree() {
        module = std::make_unique<XmlModule>(nullptr);
        tab = new TqvrRibbonTab(module.get());
        tab->SetId(L"T");
        group = static_cast<TqvrRibbonGroup*>(tab->Controls().Add());
        group->SetId(L"G");
    }
    template <typename T>
    T* In(TqvrRibbonControls& c, TqvrRibbonControlType type, const wchar_t* id = nullptr) {
        auto* control = static_cast<T*>(c.Add(type));
        if (id) control->SetId(id);
        return control;
    }
    std::unique_ptr<XmlModule> module;
    TqvrRibbonTab* tab;
    TqvrRibbonGroup* group;
};

struct AttributeCase {
    const char* name;
    // Builds the component to ask in the tree; returns it.
    std::function<IqvrRibbonComponent*(Tree&)> build;
    std::wstring element;
    std::vector<std::wstring> attributes;  // "name=value" in order
    int32_t contextIndex = 0;
};

std::vector<std::wstring> Pairs(const TqvrXmlAttributes& a) {
    std::vector<std::wstring> out;
    for (const auto& [n, v] : a.Pairs()) out.push_back(n + L"=" + v);
    return out;
}

class AttributeLists : public ::testing::TestWithParam<AttributeCase> {};

TEST_P(AttributeLists, AreExactly) {
    const auto& c = GetParam();
    Tree tree;
    IqvrRibbonComponent* component = c.build(tree);
    EXPECT_EQ(c.element, component->GetElementName());
    EXPECT_EQ(c.attributes, Pairs(component->GetXmlAttributes(c.contextIndex)));
}

const std::wstring kButtonId = qvrtest::kAddInButtonId;

INSTANTIATE_TEST_SUITE_P(
    Catalogue, AttributeLists,
    ::testing::Values(
        // The add-in's own button.
        AttributeCase{"own button (worked list)",
                      [](Tree& t) {
                          auto* b = t.In<TqvrRibbonButton>(t.group->Controls(), rctButton, kButtonId.c_str());
                          b->SetImageIndex(0);
                          return b;
                      },
                      L"button",
                      {L"id=" + kButtonId, L"getImage=GetImage_Callback", L"getKeytip=GetKeyTip_Callback",
                       L"getLabel=GetLabel_Callback", L"getSupertip=GetSuperTip_Callback",
                       L"getScreentip=GetScreenTip_Callback", L"getShowLabel=GetShowLabel_Callback",
                       L"getShowImage=GetShowImage_Callback", L"getEnabled=GetEnabled_Callback",
                       L"onAction=OnActionCommon_Callback", L"getDescription=GetDescription_Callback",
                       L"getSize=GetSize_Callback", L"getVisible=GetVisible_Callback"}},
        AttributeCase{"built-in button in an own group",
                      [](Tree& t) {
                          auto* b = t.In<TqvrRibbonButton>(t.group->Controls(), rctButton);
                          b->SetIdMso(L"Copy");
                          b->SetCaption(L"Kopieer");
                          b->SetShowCaption(false);
                          return b;
                      },
                      L"button",
                      {L"idMso=Copy", L"label=Kopieer", L"showLabel=false", L"enabled=true",
                       L"getDescription=GetDescription_Callback", L"getSize=GetSize_Callback",
                       L"getVisible=GetVisible_Callback"}},
        AttributeCase{"built-in button in a built-in group",
                      [](Tree& t) {
                          t.group->SetIdMso(L"GroupClipboard");
                          auto* b = t.In<TqvrRibbonButton>(t.group->Controls(), rctButton);
                          b->SetIdMso(L"Copy");
                          b->SetCaption(L"Kopieer");
                          return b;
                      },
                      L"button",
                      {L"idMso=Copy"}},
        AttributeCase{"built-in button parsed as a control",
                      [](Tree& t) {
                          auto* b = t.In<TqvrRibbonButton>(t.group->Controls(), rctButton);
                          b->SetIdMso(L"Copy");
                          b->SetParseMsoXmlTypeAs(pxtControl);
                          return b;
                      },
                      L"control",
                      {L"idMso=Copy", L"showLabel=true", L"enabled=true", L"getSize=GetSize_Callback",
                       L"getVisible=GetVisible_Callback"}},
        AttributeCase{"toggle button in a group",
                      [](Tree& t) {
                          auto* b = t.In<TqvrRibbonButton>(t.group->Controls(), rctButton, L"B");
                          b->SetToggleButton(true);
                          return b;
                      },
                      L"toggleButton",
                      {L"id=B", L"getKeytip=GetKeyTip_Callback", L"getLabel=GetLabel_Callback",
                       L"getSupertip=GetSuperTip_Callback", L"getScreentip=GetScreenTip_Callback",
                       L"getShowLabel=GetShowLabel_Callback", L"getShowImage=GetShowImage_Callback",
                       L"getEnabled=GetEnabled_Callback", L"getPressed=GetPressed_Callback",
                       L"onAction=OnActionState_Callback", L"getDescription=GetDescription_Callback",
                       L"getSize=GetSize_Callback", L"getVisible=GetVisible_Callback"}},
        AttributeCase{"toggle button in a gallery",
                      [](Tree& t) {
                          auto* g = t.In<TqvrRibbonGallery>(t.group->Controls(), rctGallery, L"Gal");
                          auto* b = t.In<TqvrRibbonButton>(g->Controls(), rctButton, L"B");
                          b->SetToggleButton(true);
                          return b;
                      },
                      L"button",
                      {L"id=B", L"getKeytip=GetKeyTip_Callback", L"getLabel=GetLabel_Callback",
                       L"getSupertip=GetSuperTip_Callback", L"getScreentip=GetScreenTip_Callback",
                       L"getShowLabel=GetShowLabel_Callback", L"getShowImage=GetShowImage_Callback",
                       L"getEnabled=GetEnabled_Callback", L"onAction=OnActionCommon_Callback",
                       L"getDescription=GetDescription_Callback", L"getVisible=GetVisible_Callback"}},
        AttributeCase{"button in a context menu, with placement and imageMso",
                      [](Tree& t) {
                          auto* b = t.In<TqvrRibbonButton>(t.group->Controls(), rctButton, L"B");
                          b->SetInsertAfterId(L"Q");
                          b->SetInsertBeforeIdMso(L"Paste");  // the first placement that is set wins
                          b->SetImageMso(L"Cut");
                          return b;
                      },
                      L"button",
                      {L"id=B_qvr_context_menu_2", L"getKeytip=GetKeyTip_Callback", L"getLabel=GetLabel_Callback",
                       L"getSupertip=GetSuperTip_Callback", L"getScreentip=GetScreenTip_Callback",
                       L"getShowLabel=GetShowLabel_Callback", L"getShowImage=GetShowImage_Callback",
                       L"getEnabled=GetEnabled_Callback", L"onAction=OnActionCommon_Callback",
                       L"insertBeforeMso=Paste", L"imageMso=Cut", L"getDescription=GetDescription_Callback",
                       L"getSize=GetSize_Callback", L"getVisible=GetVisible_Callback"},
                      2},
        AttributeCase{"empty id without namespace: no id at all",
                      [](Tree& t) { return t.In<TqvrRibbonLabel>(t.group->Controls(), rctLabel); },
                      L"labelControl",
                      {L"getLabel=GetLabel_Callback", L"getSupertip=GetSuperTip_Callback",
                       L"getScreentip=GetScreenTip_Callback", L"getShowLabel=GetShowLabel_Callback",
                       L"getEnabled=GetEnabled_Callback", L"getVisible=GetVisible_Callback"}},
        AttributeCase{"empty id with namespace",
                      [](Tree& t) {
                          t.module->Namespace = L"vortelix";
                          return t.In<TqvrRibbonLabel>(t.group->Controls(), rctLabel);
                      },
                      L"labelControl",
                      {L"idQ=default:", L"getLabel=GetLabel_Callback", L"getSupertip=GetSuperTip_Callback",
                       L"getScreentip=GetScreenTip_Callback", L"getShowLabel=GetShowLabel_Callback",
                       L"getEnabled=GetEnabled_Callback", L"getVisible=GetVisible_Callback"}},
        AttributeCase{"built-in label",
                      [](Tree& t) {
                          auto* l = t.In<TqvrRibbonLabel>(t.group->Controls(), rctLabel);
                          l->SetIdMso(L"FontSize");
                          l->SetScreenTip(L"Tip");
                          l->SetEnabled(false);
                          return l;
                      },
                      L"control",
                      {L"idMso=FontSize", L"screentip=Tip", L"showLabel=true", L"enabled=false",
                       L"getVisible=GetVisible_Callback"}},
        AttributeCase{"edit box with MaxLength 2000",
                      [](Tree& t) {
                          auto* e = t.In<TqvrRibbonEditBox>(t.group->Controls(), rctEditBox, L"E");
                          e->SetMaxLength(2000);
                          return e;
                      },
                      L"editBox",
                      {L"id=E", L"getKeytip=GetKeyTip_Callback", L"getLabel=GetLabel_Callback",
                       L"getSupertip=GetSuperTip_Callback", L"getScreentip=GetScreenTip_Callback",
                       L"getShowLabel=GetShowLabel_Callback", L"getShowImage=GetShowImage_Callback",
                       L"getEnabled=GetEnabled_Callback", L"getText=GetText_Callback", L"onChange=OnChange_Callback",
                       L"getVisible=GetVisible_Callback"}},
        AttributeCase{"edit box with MaxLength 1024 and a size string",
                      [](Tree& t) {
                          auto* e = t.In<TqvrRibbonEditBox>(t.group->Controls(), rctEditBox, L"E");
                          e->SetMaxLength(1024);
                          e->SetSizeString(L"WWWWW");
                          return e;
                      },
                      L"editBox",
                      {L"id=E", L"maxLength=1024", L"sizeString=WWWWW", L"getKeytip=GetKeyTip_Callback",
                       L"getLabel=GetLabel_Callback", L"getSupertip=GetSuperTip_Callback",
                       L"getScreentip=GetScreenTip_Callback", L"getShowLabel=GetShowLabel_Callback",
                       L"getShowImage=GetShowImage_Callback", L"getEnabled=GetEnabled_Callback",
                       L"getText=GetText_Callback", L"onChange=OnChange_Callback", L"getVisible=GetVisible_Callback"}},
        AttributeCase{"combo box",
                      [](Tree& t) { return t.In<TqvrRibbonComboBox>(t.group->Controls(), rctComboBox, L"C"); },
                      L"comboBox",
                      {L"id=C", L"getKeytip=GetKeyTip_Callback", L"getLabel=GetLabel_Callback",
                       L"getSupertip=GetSuperTip_Callback", L"getScreentip=GetScreenTip_Callback",
                       L"getShowLabel=GetShowLabel_Callback", L"getShowImage=GetShowImage_Callback",
                       L"getEnabled=GetEnabled_Callback", L"getText=GetText_Callback", L"onChange=OnChange_Callback",
                       L"getItemCount=GetItemCount_Callback", L"getItemID=GetItemID_Callback",
                       L"getItemImage=GetItemImage_Callback", L"getItemLabel=GetItemLabel_Callback",
                       L"getItemScreentip=GetItemScreenTip_Callback", L"getItemSupertip=GetItemSuperTip_Callback",
                       L"invalidateContentOnDrop=true", L"getVisible=GetVisible_Callback"}},
        AttributeCase{"built-in combo box",
                      [](Tree& t) {
                          auto* c = t.In<TqvrRibbonComboBox>(t.group->Controls(), rctComboBox);
                          c->SetIdMso(L"Font");
                          c->SetKeyTip("FF");
                          return c;
                      },
                      L"control",
                      {L"idMso=Font", L"keytip=FF", L"showLabel=true", L"enabled=true", L"showImage=false",
                       L"getVisible=GetVisible_Callback"}},
        AttributeCase{"drop-down without a selection",
                      [](Tree& t) { return t.In<TqvrRibbonDropDown>(t.group->Controls(), rctDropDown, L"D"); },
                      L"dropDown",
                      {L"id=D", L"getKeytip=GetKeyTip_Callback", L"getLabel=GetLabel_Callback",
                       L"getSupertip=GetSuperTip_Callback", L"getScreentip=GetScreenTip_Callback",
                       L"getShowLabel=GetShowLabel_Callback", L"getShowImage=GetShowImage_Callback",
                       L"getEnabled=GetEnabled_Callback", L"getItemCount=GetItemCount_Callback",
                       L"getItemID=GetItemID_Callback", L"getItemImage=GetItemImage_Callback",
                       L"getItemLabel=GetItemLabel_Callback", L"getItemScreentip=GetItemScreenTip_Callback",
                       L"getItemSupertip=GetItemSuperTip_Callback", L"onAction=OnActionSelected_Callback",
                       L"showItemLabel=true", L"getVisible=GetVisible_Callback"}},
        AttributeCase{"drop-down selected by id",
                      [](Tree& t) {
                          auto* d = t.In<TqvrRibbonDropDown>(t.group->Controls(), rctDropDown, L"D");
                          d->SetSelectedItemId(L"x");
                          d->SetShowItemCaption(false);
                          return d;
                      },
                      L"dropDown",
                      {L"id=D", L"getKeytip=GetKeyTip_Callback", L"getLabel=GetLabel_Callback",
                       L"getSupertip=GetSuperTip_Callback", L"getScreentip=GetScreenTip_Callback",
                       L"getShowLabel=GetShowLabel_Callback", L"getShowImage=GetShowImage_Callback",
                       L"getEnabled=GetEnabled_Callback", L"getItemCount=GetItemCount_Callback",
                       L"getItemID=GetItemID_Callback", L"getItemImage=GetItemImage_Callback",
                       L"getItemLabel=GetItemLabel_Callback", L"getItemScreentip=GetItemScreenTip_Callback",
                       L"getItemSupertip=GetItemSuperTip_Callback", L"getSelectedItemID=GetSelectedItemId_Callback",
                       L"onAction=OnActionSelected_Callback", L"showItemLabel=false", L"getVisible=GetVisible_Callback"}},
        AttributeCase{"gallery selected by index, in a menu",
                      [](Tree& t) {
                          auto* m = t.In<TqvrRibbonMenu>(t.group->Controls(), rctMenu, L"M");
                          auto* g = t.In<TqvrRibbonGallery>(m->Controls(), rctGallery, L"Gal");
                          g->SetSelectedItemIndex(0);
                          g->SetSelectedItemId(L"ignored");
                          g->SetColumns(3);
                          return g;
                      },
                      L"gallery",
                      {L"id=Gal", L"getKeytip=GetKeyTip_Callback", L"getLabel=GetLabel_Callback",
                       L"getSupertip=GetSuperTip_Callback", L"getScreentip=GetScreenTip_Callback",
                       L"getShowLabel=GetShowLabel_Callback", L"getShowImage=GetShowImage_Callback",
                       L"getEnabled=GetEnabled_Callback", L"showItemLabel=true", L"getItemCount=GetItemCount_Callback",
                       L"getItemID=GetItemID_Callback", L"getItemImage=GetItemImage_Callback",
                       L"getItemLabel=GetItemLabel_Callback", L"getItemScreentip=GetItemScreenTip_Callback",
                       L"getItemSupertip=GetItemSuperTip_Callback",
                       L"getSelectedItemIndex=GetSelectedItemIndex_Callback", L"onAction=OnActionSelected_Callback",
                       L"columns=3", L"rows=1", L"getItemHeight=GetItemHeight_Callback",
                       L"getItemWidth=GetItemWidth_Callback", L"invalidateContentOnDrop=true",
                       L"getVisible=GetVisible_Callback"}},
        AttributeCase{"built-in gallery: showLabel only when hidden, showImage only with imageMso",
                      [](Tree& t) {
                          auto* g = t.In<TqvrRibbonGallery>(t.group->Controls(), rctGallery);
                          g->SetIdMso(L"ShapesInsertGallery");
                          return g;
                      },
                      L"gallery",
                      {L"idMso=ShapesInsertGallery", L"enabled=true", L"getVisible=GetVisible_Callback",
                       L"getSize=GetSize_Callback"}},
        AttributeCase{"menu in a split button",
                      [](Tree& t) {
                          auto* s = t.In<TqvrRibbonSplitButton>(t.group->Controls(), rctSplitButton, L"S");
                          auto* m = static_cast<TqvrRibbonMenu*>(s->Controls().GetItem(0));
                          m->SetId(L"M");
                          m->SetSuperTip(L"Fixed");
                          m->SetItemSize(TqvrRibbonXItemSize::Large);
                          return m;
                      },
                      L"menu",
                      {L"id=M", L"itemSize=large", L"getShowLabel=GetShowLabel_Callback",
                       L"getShowImage=GetShowImage_Callback", L"getEnabled=GetEnabled_Callback",
                       L"getDescription=GetDescription_Callback", L"getKeytip=GetKeyTip_Callback",
                       L"getLabel=GetLabel_Callback", L"supertip=Fixed", L"getScreentip=GetScreenTip_Callback",
                       L"getVisible=GetVisible_Callback"}},
        AttributeCase{"dynamic menu in a group",
                      [](Tree& t) {
                          auto* m = t.In<TqvrRibbonMenu>(t.group->Controls(), rctMenu, L"M");
                          m->SetDynamic(true);
                          return m;
                      },
                      L"dynamicMenu",
                      {L"id=M", L"getContent=GetContent_Callback", L"invalidateContentOnDrop=true",
                       L"getShowLabel=GetShowLabel_Callback", L"getShowImage=GetShowImage_Callback",
                       L"getEnabled=GetEnabled_Callback", L"getDescription=GetDescription_Callback",
                       L"getKeytip=GetKeyTip_Callback", L"getLabel=GetLabel_Callback",
                       L"getSupertip=GetSuperTip_Callback", L"getScreentip=GetScreenTip_Callback",
                       L"getSize=GetSize_Callback", L"getVisible=GetVisible_Callback"}},
        AttributeCase{"built-in menu in an own group is a control",
                      [](Tree& t) {
                          auto* m = t.In<TqvrRibbonMenu>(t.group->Controls(), rctMenu);
                          m->SetIdMso(L"MenuX");
                          return m;
                      },
                      L"control",
                      {L"idMso=MenuX", L"showLabel=true", L"enabled=true", L"showImage=false",
                       L"getSize=GetSize_Callback", L"getVisible=GetVisible_Callback"}},
        AttributeCase{"split button in a button group",
                      [](Tree& t) {
                          auto* bg = t.In<TqvrRibbonButtonGroup>(t.group->Controls(), rctButtonGroup, L"BG");
                          return t.In<TqvrRibbonSplitButton>(bg->Controls(), rctSplitButton, L"S");
                      },
                      L"splitButton",
                      {L"id=S", L"getShowLabel=GetShowLabel_Callback", L"getEnabled=GetEnabled_Callback",
                       L"getKeytip=GetKeyTip_Callback", L"getVisible=GetVisible_Callback"}},
        AttributeCase{"check box",
                      [](Tree& t) { return t.In<TqvrRibbonCheckBox>(t.group->Controls(), rctCheckBox, L"C"); },
                      L"checkBox",
                      {L"id=C", L"getKeytip=GetKeyTip_Callback", L"getLabel=GetLabel_Callback",
                       L"getSupertip=GetSuperTip_Callback", L"getScreentip=GetScreenTip_Callback",
                       L"getEnabled=GetEnabled_Callback", L"getDescription=GetDescription_Callback",
                       L"getPressed=GetPressed_Callback", L"onAction=OnActionState_Callback",
                       L"getVisible=GetVisible_Callback"}},
        AttributeCase{"own dialog box launcher",
                      [](Tree& t) { return t.In<TqvrRibbonDialogBoxLauncher>(t.group->Controls(), rctDialogBoxLauncher, L"L"); },
                      L"dialogBoxLauncher",
                      {L"id=L", L"getKeytip=GetKeyTip_Callback", L"getSupertip=GetSuperTip_Callback",
                       L"getScreentip=GetScreenTip_Callback", L"getEnabled=GetEnabled_Callback",
                       L"onAction=OnActionCommon_Callback", L"getVisible=GetVisible_Callback"}},
        AttributeCase{"built-in launcher in a built-in group",
                      [](Tree& t) {
                          t.group->SetIdMso(L"GroupFont");
                          auto* l = t.In<TqvrRibbonDialogBoxLauncher>(t.group->Controls(), rctDialogBoxLauncher);
                          l->SetIdMso(L"FontDialog");
                          return l;
                      },
                      L"dialogBoxLauncher",
                      {L"idMso=FontDialog"}},
        AttributeCase{"menu separator in a context menu",
                      [](Tree& t) {
                          auto* m = t.In<TqvrRibbonMenu>(t.group->Controls(), rctMenu, L"M");
                          return t.In<TqvrRibbonMenuSeparator>(m->Controls(), rctMenuSeparator, L"MS");
                      },
                      L"menuSeparator",
                      {L"id=MS_qvr_context_menu_1", L"getTitle=GetTitle_Callback"},
                      1},
        AttributeCase{"separator for Office 2007",
                      [](Tree& t) {
                          t.module->SetHostMajorVersion(12);
                          return t.In<TqvrRibbonSeparator>(t.group->Controls(), rctSeparator, L"Sep");
                      },
                      L"separator",
                      {L"id=Sep"}},
        AttributeCase{"separator for Office 2010",
                      [](Tree& t) {
                          t.module->SetHostMajorVersion(14);
                          return t.In<TqvrRibbonSeparator>(t.group->Controls(), rctSeparator, L"Sep");
                      },
                      L"separator",
                      {L"id=Sep", L"getVisible=GetVisible_Callback"}},
        AttributeCase{"own group, not in a context menu even when asked",
                      [](Tree& t) {
                          t.group->SetImageIndex(0);
                          return t.group;
                      },
                      L"group",
                      {L"getVisible=GetVisible_Callback", L"id=G", L"getImage=GetImage_Callback",
                       L"getKeytip=GetKeyTip_Callback", L"getLabel=GetLabel_Callback",
                       L"getSupertip=GetSuperTip_Callback", L"getScreentip=GetScreenTip_Callback"},
                      3},
        AttributeCase{"shared group without caption",
                      [](Tree& t) {
                          t.module->Namespace = L"vortelix";
                          t.group->SetShared(true);
                          t.group->SetScreenTip(L"Tip");
                          return t.group;
                      },
                      L"group",
                      {L"idQ=shared:G", L"visible=true", L"screentip=Tip"}},
        AttributeCase{"group with 2010 layout in the 2009 namespace",
                      [](Tree& t) {
                          t.module->SetHostMajorVersion(14);
                          t.module->SetOfficeXMLNS(L"http://schemas.microsoft.com/office/2009/07/customui");
                          t.group->SetAutoScale(true);
                          t.group->SetCenterVertically(true);
                          t.group->SetIdMso(L"GroupX");
                          return t.group;
                      },
                      L"group",
                      {L"getVisible=GetVisible_Callback", L"idMso=GroupX", L"autoScale=true",
                       L"centerVertically=true"}},
        AttributeCase{"group with 2010 layout in the 2006 namespace",
                      [](Tree& t) {
                          t.module->SetHostMajorVersion(14);
                          t.module->SetOfficeXMLNS(L"http://schemas.microsoft.com/office/2006/01/customui");
                          t.group->SetAutoScale(true);
                          t.group->SetIdMso(L"GroupX");
                          return t.group;
                      },
                      L"group",
                      {L"getVisible=GetVisible_Callback", L"idMso=GroupX"}},
        AttributeCase{"vertical box",
                      [](Tree& t) {
                          auto* b = t.In<TqvrRibbonBox>(t.group->Controls(), rctBox, L"Box");
                          b->SetBoxStyle(bsVertical);
                          return b;
                      },
                      L"box",
                      {L"getVisible=GetVisible_Callback", L"id=Box", L"boxStyle=vertical"}},
        AttributeCase{"item", [](Tree& t) { return t.In<TqvrRibbonComboBox>(t.group->Controls(), rctComboBox)->Items().AddItem(); },
                      L"item", {}},
        AttributeCase{"own tab",
                      [](Tree& t) {
                          t.tab->SetInsertAfterIdMso(L"TabHome");
                          return t.tab;
                      },
                      L"tab",
                      {L"getVisible=GetVisible_Callback", L"id=T", L"insertAfterMso=TabHome",
                       L"getKeytip=GetKeyTip_Callback", L"getLabel=GetLabel_Callback"}},
        AttributeCase{"shared tab",
                      [](Tree& t) {
                          t.module->Namespace = L"vortelix";
                          t.tab->SetShared(true);
                          t.tab->SetCaption(L"VORTELIX");
                          t.tab->SetKeyTip("V");
                          return t.tab;
                      },
                      L"tab",
                      {L"idQ=shared:T", L"visible=true", L"keytip=V", L"label=VORTELIX"}},
        AttributeCase{"built-in tab",
                      [](Tree& t) {
                          t.tab->SetIdMso(L"TabHome");
                          return t.tab;
                      },
                      L"tab",
                      {L"getVisible=GetVisible_Callback", L"idMso=TabHome"}}));

TEST(SplitButtonInnerButton, IsWrittenWithTheWrappedId) {
    Tree t;
    t.module->Namespace = L"";
    auto* split = t.In<TqvrRibbonSplitButton>(t.group->Controls(), rctSplitButton, L"S");
    split->SetImageIndex(0);
    EXPECT_EQ(L"button", split->GetWrappedButtonElementName());
    EXPECT_EQ((std::vector<std::wstring>{L"id=Swrapped", L"getImage=GetImage_Callback", L"getLabel=GetLabel_Callback",
                                         L"getSupertip=GetSuperTip_Callback", L"getScreentip=GetScreenTip_Callback",
                                         L"getShowImage=GetShowImage_Callback",
                                         L"getDescription=GetDescription_Callback",
                                         L"onAction=OnActionCommon_Callback"}),
              Pairs(split->GetWrappedButtonXmlAttributes(0)));
    split->SetToggleButton(true);
    t.module->Namespace = L"ns";
    EXPECT_EQ(L"toggleButton", split->GetWrappedButtonElementName());
    auto pairs = Pairs(split->GetWrappedButtonXmlAttributes(0));
    EXPECT_EQ(L"idQ=default:Swrapped", pairs.front());
    EXPECT_EQ(L"onAction=OnActionState_Callback", pairs.back());
    EXPECT_EQ(L"getPressed=GetPressed_Callback", pairs[pairs.size() - 2]);
    t.module->Namespace = L"";
    EXPECT_EQ(L"id=Swrapped_qvr_context_menu_3", Pairs(split->GetWrappedButtonXmlAttributes(3)).front());
}

TEST(XmlAttributes, EmptyValuesRemoveAndRepeatedNamesReplaceInPlace) {
    TqvrXmlAttributes a;
    a.Add(L"a", L"1");
    a.Add(L"b", L"2");
    a.Add(L"c", L"3");
    a.Add(L"a", L"9");
    a.Add(L"b", L"");
    a.Add(L"d", L"");
    EXPECT_EQ((std::vector<std::wstring>{L"a=9", L"c=3"}), Pairs(a));
}

}  // namespace
