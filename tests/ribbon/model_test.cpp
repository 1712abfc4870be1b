// The component model: the module's registry, creation by type code, limits and coded errors,
// dialog box launchers, design-time ids, contextual tabs, image list removal and destruction.
#include "ribbon_support.h"

#include "support/test_support.h"

using namespace qvr;
using ribbontest::RegistryKeys;
using ribbontest::RibbonFixture;

namespace {

using Model = RibbonFixture;

struct TypeCase {
    TqvrRibbonControlType type;
    const wchar_t* className;
};

TEST_F(Model, AddByTypeCodeCreatesTheClassOfThatCode) {
    const TypeCase cases[] = {
        {rctGroup, L"TqvrRibbonGroup"},
        {rctBox, L"TqvrRibbonBox"},
        {rctButtonGroup, L"TqvrRibbonButtonGroup"},
        {rctButton, L"TqvrRibbonButton"},
        {rctSplitButton, L"TqvrRibbonSplitButton"},
        {rctLabel, L"TqvrRibbonLabel"},
        {rctCheckBox, L"TqvrRibbonCheckBox"},
        {rctEditBox, L"TqvrRibbonEditBox"},
        {rctComboBox, L"TqvrRibbonComboBox"},
        {rctDropDown, L"TqvrRibbonDropDown"},
        {rctGallery, L"TqvrRibbonGallery"},
        {rctMenu, L"TqvrRibbonMenu"},
        {rctSeparator, L"TqvrRibbonSeparator"},
        {rctMenuSeparator, L"TqvrRibbonMenuSeparator"},
        {rctDialogBoxLauncher, L"TqvrRibbonDialogBoxLauncher"},
        {rctItem, L"TqvrRibbonItem"},
        {rctCommand, L"TqvrRibbonCustomControl"},
        {rctContextMenu, L"TqvrRibbonCustomControl"},
        {rctBackstageTab, L"TqvrRibbonCustomControl"},
    };
    auto* group = AddGroup();
    for (const auto& c : cases) {
        TqvrRibbonCustomControl* control = group->Controls().Add(c.type);
        ASSERT_NE(nullptr, control);
        EXPECT_EQ(c.className, control->ClassName());
        EXPECT_EQ(c.type, control->GetControlType()) << c.className;
    }
}

TEST_F(Model, CheckedDowncastsAnswerOnlyForTheirOwnClass) {
    auto* group = AddGroup();
    TqvrRibbonCustomControl* button = group->Controls().Add(rctButton);
    TqvrRibbonCustomControl* split = group->Controls().Add(rctSplitButton);
    EXPECT_EQ(button, button->AsRibbonButton());
    EXPECT_EQ(nullptr, button->AsRibbonSplitButton());
    EXPECT_EQ(nullptr, button->AsRibbonGroup());
    EXPECT_EQ(split, split->AsRibbonSplitButton());
    EXPECT_EQ(nullptr, split->AsRibbonButton());
    EXPECT_EQ(group, group->AsRibbonGroup());
}

TEST_F(Model, TheRegistryHoldsEveryComponentInCreationOrder) {
    auto* group = AddGroup();
    group->SetId(L"Group1");
    auto* split = Add<TqvrRibbonSplitButton>(group->Controls(), rctSplitButton);
    split->SetId(L"Split1");
    auto* menu = static_cast<TqvrRibbonCustomControl*>(split->Controls().GetItem(0));
    menu->SetId(L"Menu1");
    EXPECT_EQ((std::vector<std::wstring>{L"Tab1", L"Group1", L"Split1", L"Menu1"}), RegistryKeys(*module));
    EXPECT_EQ(std::vector<TqvrRibbonTab*>{tab}, module->Tabs());
    EXPECT_TRUE(module->ContextTabs().empty());

    // Destroying a container takes its whole subtree out of the registry.
    group->Controls().Delete(0);
    EXPECT_EQ((std::vector<std::wstring>{L"Tab1", L"Group1"}), RegistryKeys(*module));
}

TEST_F(Model, IdChangesReKeyTheEntryAndNeverEmptyIt) {
    auto* group = AddGroup();
    auto* button = Add<TqvrRibbonButton>(group->Controls(), rctButton);
    EXPECT_EQ(L"", RegistryKeys(*module)[2]);  // registered under its empty id
    button->SetId(L"B1");
    EXPECT_EQ(L"B1", RegistryKeys(*module)[2]);
    button->SetId(L"");
    EXPECT_EQ(L"B1", button->Id());
    button->SetIdMso(L"FileSave");
    EXPECT_EQ(L"FileSave", RegistryKeys(*module)[2]);
    button->SetIdMso(L"");
    EXPECT_EQ(L"B1", RegistryKeys(*module)[2]);
    button->SetIdMso(L"Copy");
    button->SetId(L"B2");  // an id re-keys even an entry kept under IdMso
    EXPECT_EQ(L"B2", RegistryKeys(*module)[2]);
}

TEST_F(Model, FindRibbonControlByIdAndByTag) {
    auto* group = AddGroup();
    group->SetId(L"Group1");
    auto* button = Add<TqvrRibbonButton>(group->Controls(), rctButton);
    button->SetId(L"Order");
    button->SetTag(42);
    tab->SetTag(7);

    EXPECT_EQ(button, module->FindRibbonControl(L"ORDER"));  // letter case ignored
    EXPECT_EQ(tab, module->FindRibbonControl(L"Tab1"));
    EXPECT_EQ(nullptr, module->FindRibbonControl(L"Nothing"));
    EXPECT_EQ(button, module->FindRibbonControl(42));
    EXPECT_EQ(tab, module->FindRibbonControl(7));
    EXPECT_EQ(nullptr, module->FindRibbonControl(3));

    // An entry kept under IdMso is still found by the component's current Id.
    button->SetIdMso(L"Copy");
    EXPECT_EQ(button, module->FindRibbonControl(L"Order"));
    EXPECT_EQ(button, module->FindRibbonControl(L"copy"));
}

TEST_F(Model, CollectionLimitsRaiseTheCodedError) {
    struct LimitCase {
        TqvrRibbonControls* collection;
        int limit;
    };
    auto* group = AddGroup();
    auto* split = Add<TqvrRibbonSplitButton>(group->Controls(), rctSplitButton);
    auto* dropDown = Add<TqvrRibbonDropDown>(group->Controls(), rctDropDown);
    auto* gallery = Add<TqvrRibbonGallery>(group->Controls(), rctGallery);
    const LimitCase cases[] = {{&tab->Controls(), 100}, {&split->Controls(), 10}, {&dropDown->Controls(), 16},
                               {&gallery->Controls(), 16}, {&gallery->Items(), 1000}, {&group->Controls(), 1000}};
    for (const auto& c : cases) {
        while (c.collection->Count() < c.limit) c.collection->Add();
        try {
            c.collection->Add();
            ADD_FAILURE() << "no error at " << c.limit;
        } catch (const EqvrError& e) {
            EXPECT_EQ(31120, e.Code());
            EXPECT_EQ(ErrorKind::Ole, e.Kind());
            EXPECT_EQ(L"There cannot be more than " + std::to_wstring(c.limit) + L" items in this control!", e.Message());
        }
        EXPECT_EQ(c.limit, c.collection->Count());
    }
}

TEST_F(Model, CollectionsHoldTheirItemClass) {
    auto* group = AddGroup();
    auto* split = Add<TqvrRibbonSplitButton>(group->Controls(), rctSplitButton);
    auto* dropDown = Add<TqvrRibbonDropDown>(group->Controls(), rctDropDown);
    auto* combo = Add<TqvrRibbonComboBox>(group->Controls(), rctComboBox);
    EXPECT_EQ(L"TqvrRibbonGroup", tab->Controls().GetItem(0)->ClassName());
    EXPECT_EQ(L"TqvrRibbonMenu", split->Controls().Add()->ClassName());
    EXPECT_EQ(L"TqvrRibbonButton", dropDown->Controls().Add()->ClassName());
    EXPECT_EQ(L"TqvrRibbonItem", combo->Items().Add()->ClassName());
    // Items are never created by type code.
    EXPECT_EQ(nullptr, combo->Items().Add(rctButton));
    // A split button starts with its menu.
    EXPECT_EQ(2, split->Controls().Count());
}

TEST_F(Model, OnlyOneDialogBoxLauncherAndItComesLast) {
    auto* group = AddGroup();
    auto* launcher = group->Controls().Add(rctDialogBoxLauncher);
    auto* button = group->Controls().Add(rctButton);
    auto* label = group->Controls().Add(rctLabel);
    EXPECT_EQ(button, group->Controls().GetItem(0));
    EXPECT_EQ(label, group->Controls().GetItem(1));
    EXPECT_EQ(launcher, group->Controls().GetItem(2));

    int registered = module->RibbonControls().Count();
    try {
        group->Controls().Add(rctDialogBoxLauncher);
        ADD_FAILURE() << "a second launcher was created";
    } catch (const EqvrError& e) {
        EXPECT_EQ(31119, e.Code());
        EXPECT_EQ(L"There can be only one instance of TqvrRibbonDialogBoxLauncher in the Ribbon Group!", e.Message());
    }
    EXPECT_EQ(3, group->Controls().Count());
    EXPECT_EQ(registered, module->RibbonControls().Count());

    // Moving another control behind it puts the launcher back at the end.
    button->SetIndex(2);
    EXPECT_EQ(launcher, group->Controls().GetItem(2));
}

TEST(RibbonTab, MustBeOwnedByTheModule) {
    struct Other : TComponent {
        using TComponent::TComponent;
        std::wstring ClassName() const override { return L"TOther"; }
    };
    Other other(nullptr);
    const std::pair<TComponent*, const wchar_t*> cases[] = {
        {nullptr, L"The TqvrRibbonTab class cannot be contained in the nil class."},
        {&other, L"The TqvrRibbonTab class cannot be contained in the TOther class."}};
    for (const auto& [owner, message] : cases) {
        try {
            new TqvrRibbonTab(owner);
            ADD_FAILURE() << "created";
        } catch (const EqvrError& e) {
            EXPECT_EQ(31112, e.Code());
            EXPECT_EQ(message, e.Message());
        }
    }
    EXPECT_TRUE(other.Components().empty());
}

TEST(RibbonDesign, NewComponentsGetIdsAndNumberedCaptions) {
    TqvrCOMAddInModule module(nullptr);
    module.SetDesignMode(true);
    auto* first = new TqvrRibbonTab(&module);
    new TqvrRibbonTab(&module);
    auto* third = new TqvrRibbonTab(&module);
    EXPECT_EQ(L"qvrRibbonTab1", first->Caption());
    EXPECT_EQ(L"qvrRibbonTab3", third->Caption());
    ASSERT_EQ(12u + 32u, third->Id().size());
    EXPECT_EQ(0u, third->Id().find(L"qvrRibbonTab"));
    EXPECT_EQ(std::wstring::npos, third->Id().find_first_not_of(L"0123456789ABCDEF", 12));
    EXPECT_NE(first->Id(), third->Id());

    auto* group = static_cast<TqvrRibbonGroup*>(first->Controls().Add());
    auto* b1 = group->Controls().Add(rctButton);
    auto* b2 = group->Controls().Add(rctButton);
    auto* separator = group->Controls().Add(rctSeparator);
    auto* box = group->Controls().Add(rctBox);
    EXPECT_EQ(L"qvrRibbonGroup1", group->Caption());
    EXPECT_EQ(L"qvrRibbonButton1", b1->Caption());
    EXPECT_EQ(L"qvrRibbonButton2", b2->Caption());
    EXPECT_EQ(0u, b2->Id().find(L"qvrRibbonButton"));
    EXPECT_EQ(15u + 32u, b2->Id().size());
    EXPECT_EQ(0u, separator->Id().find(L"qvrRibbonSeparator"));
    EXPECT_EQ(L"", separator->Caption());
    EXPECT_EQ(L"", box->Caption());
    // Display names as editing tools show them.
    EXPECT_EQ(L"qvrRibbonButton1 (TqvrRibbonButton)", b1->DisplayName());
    EXPECT_EQ(L"(TqvrRibbonSeparator)", separator->DisplayName());
}

TEST_F(Model, OutsideDesignModeIdsComeOnlyFromTheConfiguration) {
    auto* group = AddGroup();
    EXPECT_EQ(L"", group->Id());
    EXPECT_EQ(L"", group->Caption());
}

TEST_F(Model, ContextMovesATabBetweenTheTabLists) {
    tab->SetContext(L"Excel.TabSetChart");
    EXPECT_TRUE(module->Tabs().empty());
    EXPECT_EQ(std::vector<TqvrRibbonTab*>{tab}, module->ContextTabs());
    auto* second = new TqvrRibbonTab(module.get());
    tab->SetContext(L"");
    EXPECT_EQ((std::vector<TqvrRibbonTab*>{second, tab}), module->Tabs());
    EXPECT_TRUE(module->ContextTabs().empty());
    delete second;
    EXPECT_EQ(std::vector<TqvrRibbonTab*>{tab}, module->Tabs());
    EXPECT_EQ(-1, module->RibbonControls().IndexOfObject(second));
}

TEST_F(Model, DestroyingTheImageListResetsEveryImageIndexUnderTheTab) {
    auto* images = new TImageList(module.get());
    tab->SetImages(images);
    auto* group = AddGroup();
    group->SetImageIndex(0);
    auto* dropDown = Add<TqvrRibbonDropDown>(group->Controls(), rctDropDown);
    dropDown->SetImageIndex(1);
    auto* item = dropDown->Items().AddItem();
    item->SetImageIndex(2);
    auto* inner = Add<TqvrRibbonButton>(dropDown->Controls(), rctButton);
    inner->SetImageIndex(3);
    auto& ui = LoadRibbon();

    delete images;
    EXPECT_EQ(nullptr, tab->Images());
    for (TqvrRibbonCustomControl* c : std::initializer_list<TqvrRibbonCustomControl*>{group, dropDown, item, inner})
        EXPECT_EQ(-1, c->ImageIndex()) << c->ClassName();
    EXPECT_TRUE(ui.calls.empty());  // the reset does not make Office refresh
}

TEST_F(Model, CollectionAssignCopiesClassesAndProperties) {
    auto* source = AddGroup();
    auto* b = Add<TqvrRibbonButton>(source->Controls(), rctButton);
    b->SetCaption(L"Copy me");
    b->SetSize(csLarge);
    b->SetId(L"NotCopied");
    Add<TqvrRibbonLabel>(source->Controls(), rctLabel)->SetCaption(L"Label");
    auto* target = AddGroup();
    target->SetControls(source->Controls());
    ASSERT_EQ(2, target->Controls().Count());
    EXPECT_EQ(L"TqvrRibbonButton", target->Controls().GetItem(0)->ClassName());
    EXPECT_EQ(L"Copy me", target->Controls().GetItem(0)->Caption());
    EXPECT_EQ(csLarge, target->Controls().GetItem(0)->Size());
    EXPECT_EQ(L"", target->Controls().GetItem(0)->Id());
    EXPECT_EQ(L"Label", target->Controls().GetItem(1)->Caption());

    // Items are copied as items.
    auto* from = Add<TqvrRibbonComboBox>(source->Controls(), rctComboBox);
    from->Items().AddItem()->SetCaption(L"One");
    from->Items().AddItem()->SetCaption(L"Two");
    auto* to = Add<TqvrRibbonComboBox>(target->Controls(), rctComboBox);
    to->SetItems(from->Items());
    ASSERT_EQ(2, to->Items().Count());
    EXPECT_EQ(L"Two", to->Items().GetItem(1)->Caption());
}

TEST(RibbonModule, DestroyingAModuleWithATreeAndImagesReleasesEverything) {
    for (int order = 0; order < 2; ++order) {
        auto module = std::make_unique<TqvrCOMAddInModule>(nullptr);
        TImageList* images = nullptr;
        if (order == 0) images = new TImageList(module.get());
        auto* tab = new TqvrRibbonTab(module.get());
        if (order == 1) images = new TImageList(module.get());
        tab->SetImages(images);
        auto* group = static_cast<TqvrRibbonGroup*>(tab->Controls().Add());
        group->Controls().Add(rctSplitButton);
        group->Controls().Add(rctGallery);
        EXPECT_EQ(5, module->RibbonControls().Count());  // tab, group, split button, its menu, gallery
        module.reset();  // must not touch freed lists, whichever component goes first
    }
}

}  // namespace
