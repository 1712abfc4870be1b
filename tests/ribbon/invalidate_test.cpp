// Change notification: which setters make Office refresh which element, and what happens when
// Office refuses.
#include "ribbon_support.h"

#include <functional>

using namespace qvr;
using ribbontest::RibbonFixture;

namespace {

using Invalidation = RibbonFixture;

struct SetterCase {
    const char* what;
    std::function<void(TqvrRibbonCustomControl&)> change;
    bool refreshes;
};

TEST_F(Invalidation, ControlSettersRefreshOnlyForARealChange) {
    auto* group = AddGroup();
    auto* button = Add<TqvrRibbonButton>(group->Controls(), rctButton);
    button->SetId(L"B1");
    auto& ui = LoadRibbon();

    TqvrBitmap picture;
    picture.SetPixels(2, 2, {0xFF0000FF, 0xFF00FF00, 0xFFFF0000, 0x80FFFFFF});
    const SetterCase cases[] = {
        {"Caption", [](auto& c) { c.SetCaption(L"New"); }, true},
        {"same Caption", [](auto& c) { c.SetCaption(L"New"); }, false},
        {"Description", [](auto& c) { c.SetDescription(L"D"); }, true},
        {"Enabled", [](auto& c) { c.SetEnabled(false); }, true},
        {"ImageIndex", [](auto& c) { c.SetImageIndex(3); }, true},
        {"ImageMso", [](auto& c) { c.SetImageMso(L"Paste"); }, true},
        {"InsertAfterIdMso", [](auto& c) { c.SetInsertAfterIdMso(L"X"); }, true},
        {"InsertBeforeId", [](auto& c) { c.SetInsertBeforeId(L"Y"); }, true},
        {"ItemHeight", [](auto& c) { c.SetItemHeight(20); }, true},
        {"KeyTip", [](auto& c) { c.SetKeyTip("ABCD"); }, true},
        {"KeyTip cut to the same 3", [](auto& c) { c.SetKeyTip("ABCX"); }, false},
        {"Pressed", [](auto& c) { c.SetPressed(true); }, true},
        {"SelectedItemIndex", [](auto& c) { c.SetSelectedItemIndex(2); }, true},
        {"ScreenTip", [](auto& c) { c.SetScreenTip(L"S"); }, true},
        {"ShowCaption", [](auto& c) { c.SetShowCaption(false); }, true},
        {"Size", [](auto& c) { c.SetSize(csLarge); }, true},
        {"SuperTip", [](auto& c) { c.SetSuperTip(L"T"); }, true},
        {"Text", [](auto& c) { c.SetText(L"x"); }, true},
        {"Title", [](auto& c) { c.SetTitle(L"t"); }, true},
        {"Visible", [](auto& c) { c.SetVisible(false); }, true},
        {"Glyph (always)", [&](auto& c) { c.SetGlyph(picture); }, true},
        {"Glyph content", [](auto& c) { c.GlyphBitmap().SetPixels(1, 1, {0xFF000000}); }, true},
        {"Id", [](auto& c) { c.SetId(L"B2"); }, false},
        {"Tag", [](auto& c) { c.SetTag(5); }, false},
        {"Ribbons", [](auto& c) { c.SetRibbons({msrWordDocument}); }, false},
        {"Ribbons2010", [](auto& c) { c.SetRibbons2010({msrOneNote}); }, false},
        {"ToggleButton", [](auto& c) { c.AsRibbonButton()->SetToggleButton(true); }, false},
        {"ParseMsoXmlTypeAs", [](auto& c) { c.AsRibbonButton()->SetParseMsoXmlTypeAs(pxtControl); }, false},
    };
    for (const auto& c : cases) {
        ui.calls.clear();
        c.change(*button);
        std::vector<std::wstring> expected;
        if (c.refreshes) expected.push_back(L"InvalidateControl:" + button->Id());
        EXPECT_EQ(expected, ui.calls) << c.what;
    }
}

TEST_F(Invalidation, ABuiltInControlRefreshesTheWholeRibbonAndAnIdlessOneNothing) {
    auto* group = AddGroup();
    auto* builtIn = Add<TqvrRibbonButton>(group->Controls(), rctButton);
    builtIn->SetIdMso(L"FileSave");
    auto* idless = Add<TqvrRibbonLabel>(group->Controls(), rctLabel);
    auto& ui = LoadRibbon();
    builtIn->SetCaption(L"Save");
    idless->SetCaption(L"Label");
    EXPECT_EQ(std::vector<std::wstring>{L"Invalidate"}, ui.calls);
}

TEST_F(Invalidation, NothingIsRefreshedBeforeTheRibbonIsLoaded) {
    auto* group = AddGroup();
    group->SetId(L"G");
    group->SetCaption(L"Before");
    auto& ui = LoadRibbon();
    EXPECT_TRUE(ui.calls.empty());
    group->SetCaption(L"After");
    EXPECT_EQ(std::vector<std::wstring>{L"InvalidateControl:G"}, ui.calls);
}

TEST_F(Invalidation, ASplitButtonAlsoRefreshesItsInnerButton) {
    auto* split = Add<TqvrRibbonSplitButton>(AddGroup()->Controls(), rctSplitButton);
    split->SetId(L"Split");
    auto& ui = LoadRibbon();
    split->SetEnabled(false);
    EXPECT_EQ((std::vector<std::wstring>{L"InvalidateControl:Split", L"InvalidateControl:Splitwrapped"}), ui.calls);
}

TEST_F(Invalidation, TabRefreshesOnlyForItsKeyTip) {
    auto& ui = LoadRibbon();
    tab->SetCaption(L"Renamed");
    tab->SetVisible(false);
    tab->SetInsertAfterIdMso(L"TabHome");
    tab->SetContext(L"Excel.TabSetChart");
    tab->SetContext(L"");
    tab->SetShared(true);
    tab->SetId(L"Tab2");
    EXPECT_TRUE(ui.calls.empty());
    tab->SetKeyTip("VX");
    EXPECT_EQ(std::vector<std::wstring>{L"InvalidateControl:Tab2"}, ui.calls);
    tab->SetIdMso(L"TabHome");
    tab->SetKeyTip("H");
    EXPECT_EQ((std::vector<std::wstring>{L"InvalidateControl:Tab2", L"Invalidate"}), ui.calls);
}

TEST_F(Invalidation, ADropDownIsRefreshedWhenItsItemsChangeAComboBoxIsNot) {
    auto* group = AddGroup();
    auto* dropDown = Add<TqvrRibbonDropDown>(group->Controls(), rctDropDown);
    dropDown->SetId(L"DD");
    auto* combo = Add<TqvrRibbonComboBox>(group->Controls(), rctComboBox);
    combo->SetId(L"CB");
    auto* item = dropDown->Items().AddItem();
    item->SetId(L"I1");
    auto* comboItem = combo->Items().AddItem();
    comboItem->SetId(L"I2");
    auto& ui = LoadRibbon();

    item->SetCaption(L"One");
    EXPECT_EQ((std::vector<std::wstring>{L"InvalidateControl:I1", L"InvalidateControl:DD"}), ui.calls);
    ui.calls.clear();
    item->SetEnabled(false);  // not one of the properties a drop-down shows for its items
    EXPECT_EQ(std::vector<std::wstring>{L"InvalidateControl:I1"}, ui.calls);

    ui.calls.clear();
    dropDown->Items().AddItem();
    dropDown->Items().Item(0)->SetIndex(1);
    dropDown->Items().Delete(0);
    EXPECT_EQ(3u, ui.calls.size());
    for (const auto& call : ui.calls) EXPECT_EQ(L"InvalidateControl:DD", call);

    ui.calls.clear();
    comboItem->SetCaption(L"Two");
    combo->Items().AddItem();
    EXPECT_EQ(std::vector<std::wstring>{L"InvalidateControl:I2"}, ui.calls);
}

TEST_F(Invalidation, ClassSpecificSetters) {
    auto* group = AddGroup();
    auto* gallery = Add<TqvrRibbonGallery>(group->Controls(), rctGallery);
    gallery->SetId(L"Gal");
    auto* box = Add<TqvrRibbonBox>(group->Controls(), rctBox);
    box->SetId(L"Box");
    auto* edit = Add<TqvrRibbonEditBox>(group->Controls(), rctEditBox);
    edit->SetId(L"Edit");
    auto& ui = LoadRibbon();

    gallery->SetColumns(0);
    gallery->SetColumns(1025);
    gallery->SetRows(1);
    EXPECT_EQ(1, gallery->Columns());
    EXPECT_TRUE(ui.calls.empty());
    gallery->SetColumns(4);
    EXPECT_EQ(4, gallery->Columns());
    box->SetBoxStyle(bsVertical);
    edit->SetMaxLength(10);
    edit->SetSizeString(L"WWWW");
    group->SetAutoScale(true);
    group->SetShared(true);
    EXPECT_EQ((std::vector<std::wstring>{L"InvalidateControl:Gal", L"InvalidateControl:Box"}), ui.calls);
}

TEST_F(Invalidation, OfficeRefusingRaisesToTheSetterAndTheValueStays) {
    auto* group = AddGroup();
    group->SetId(L"G");
    auto& ui = LoadRibbon();
    ui.result = E_INVALIDARG;
    try {
        group->SetCaption(L"Refused");
        ADD_FAILURE() << "no error";
    } catch (const EqvrError& e) {
        EXPECT_EQ(E_INVALIDARG, e.Code());
    }
    EXPECT_EQ(L"Refused", group->Caption());
}

}  // namespace
