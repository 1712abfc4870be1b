// The stored configuration: the add-in's own (tab, group, button, image list), what the framework
// writes back, the special values and the failures while reading.
#include "ribbon_support.h"

#include "addin/addin_module.h"
#include "com/formdata.h"
#include "support/addin_facts.h"

#include <algorithm>

using namespace qvr;
using ribbontest::RegistryKeys;

namespace {

const std::wstring kTabId = L"qvrRibbonTab3E8A51D7C2F04B69A1D5E78C20B4F913";
const std::wstring kGroupId = L"qvrRibbonGroup7D14E9A2B05C4F38962E1AC4D8F35B07";
const std::wstring kButtonId = qvrtest::kAddInButtonId;
const std::wstring kTip = L"Bestelling verwerken naar het VORTELIX platform";

std::unique_ptr<vortelix::TAddInModule> LoadAddInModule() {
    auto m = TqvrCOMAddInModule::Create<vortelix::TAddInModule>(nullptr);
    return std::unique_ptr<vortelix::TAddInModule>(static_cast<vortelix::TAddInModule*>(m.release()));
}

// The configuration text as the DLL carries it.
std::wstring ResourceText() {
    HMODULE self = GetModuleHandleW(nullptr);
    HRSRC info = FindResourceW(self, L"TADDINMODULE", MAKEINTRESOURCEW(10));
    const char* bytes = static_cast<const char*>(LockResource(LoadResource(self, info)));
    std::string utf8(bytes, SizeofResource(self, info));
    std::wstring text(utf8.begin(), utf8.end());  // the configuration is plain ASCII
    text.erase(std::remove(text.begin(), text.end(), L'\r'), text.end());
    return text;
}

std::wstring Written(const TComponent& root) {
    std::wstring text = WriteForm(TFormReader::WriteRoot(root));
    text.erase(std::remove(text.begin(), text.end(), L'\r'), text.end());
    return text;
}

TEST(AddInConfiguration, HoldsExactlyTheTabGroupAndButton) {
    auto m = LoadAddInModule();
    EXPECT_EQ(L"VORTELIX Excel", m->AddInName());
    EXPECT_EQ(L"VORTELIX Excel plugin", m->Description);
    EXPECT_TRUE(m->RegisterForAllUsers);
    EXPECT_EQ(TqvrHostAppSet{ohaExcel}, m->SupportedApps());
    EXPECT_EQ(0u, m->StartFromScratch());
    EXPECT_EQ(L"", m->Namespace);

    TqvrRibbonTab* tab = m->VORTELIXRibbon;
    ASSERT_NE(nullptr, tab);
    EXPECT_EQ(kTabId, tab->Id());
    EXPECT_EQ(L"VORTELIX", tab->Caption());
    EXPECT_EQ(m->ImageListRibbon, tab->Images());
    EXPECT_EQ(TqvrRibbons{msrExcelWorkbook}, tab->Ribbons());
    EXPECT_EQ(TqvrRibbons2010{}, tab->Ribbons2010());
    EXPECT_TRUE(tab->Visible());
    EXPECT_FALSE(tab->Shared());
    EXPECT_EQ(L"", tab->Context());

    ASSERT_EQ(1, tab->Controls().Count());
    TqvrRibbonGroup* group = tab->Controls().GetItem(0)->AsRibbonGroup();
    ASSERT_NE(nullptr, group);
    EXPECT_EQ(kGroupId, group->Id());
    EXPECT_EQ(L"Bestelling", group->Caption());
    EXPECT_EQ(TqvrRibbons{msrExcelWorkbook}, group->Ribbons());
    EXPECT_EQ(TqvrRibbons2010{}, group->Ribbons2010());
    EXPECT_EQ(std::vector<uint32_t>{rctButton}, group->Controls().ControlTypes());

    ASSERT_EQ(1, group->Controls().Count());
    TqvrRibbonButton* button = group->Controls().GetItem(0)->AsRibbonButton();
    ASSERT_NE(nullptr, button);
    EXPECT_EQ(kButtonId, button->Id());
    EXPECT_EQ(L"Bestelling verwerken", button->Caption());
    EXPECT_EQ(kTip, button->Description());
    EXPECT_EQ(kTip, button->ScreenTip());
    EXPECT_EQ(csLarge, button->Size());
    EXPECT_EQ(0, button->ImageIndex());
    EXPECT_EQ(TqvrRibbons{msrExcelWorkbook}, button->Ribbons());
    EXPECT_EQ(TqvrRibbons2010{}, button->Ribbons2010());
    EXPECT_TRUE(static_cast<bool>(button->OnClick));
    EXPECT_EQ(L"VORTELIXRibbonControls0Controls0Click", button->BoundMethod(L"OnClick"));
    // Everything else at its default.
    EXPECT_TRUE(button->Visible());
    EXPECT_TRUE(button->Enabled());
    EXPECT_TRUE(button->ShowCaption());
    EXPECT_FALSE(button->ToggleButton());
    EXPECT_FALSE(button->Pressed());
    EXPECT_EQ("", button->KeyTip());
    EXPECT_EQ(L"", button->SuperTip());
    EXPECT_EQ(L"", button->IdMso());
    EXPECT_EQ(L"", button->ImageMso());
    EXPECT_TRUE(button->Glyph()->Empty());

    EXPECT_EQ((std::vector<std::wstring>{kTabId, kGroupId, kButtonId}), RegistryKeys(*m));
    EXPECT_EQ(std::vector<TqvrRibbonTab*>{tab}, m->Tabs());
    EXPECT_TRUE(m->ContextTabs().empty());
    EXPECT_TRUE(m->Commands().empty());
    EXPECT_EQ(button, m->FindRibbonControl(kButtonId));
}

TEST(AddInConfiguration, TheButtonsClickRunsTheHandOffCommandThroughTheModule) {
    auto m = LoadAddInModule();
    auto* button = static_cast<TqvrRibbonButton*>(m->FindRibbonControl(kButtonId));
    std::wstring reported;
    m->OnError = [&](const EqvrError& e, bool& handled) {
        reported = e.Message();
        handled = true;
    };
    TqvrRibbonActionArguments args;
    args.Pressed = true;
    EXPECT_NO_THROW(button->DoAction(args));
    // A module that is bound to no Excel: the command itself says so, through the error report.
    EXPECT_NE(std::wstring::npos, reported.find(L"not connected to Excel")) << testing::PrintToString(reported);
}

TEST(AddInConfiguration, TheImageListHoldsOneTransparent48x48Picture) {
    auto m = LoadAddInModule();
    TImageList* images = m->ImageListRibbon;
    ASSERT_NE(nullptr, images);
    EXPECT_EQ(48, images->Width());
    EXPECT_EQ(48, images->Height());
    ASSERT_EQ(1, images->Count());

    auto pixels = images->GetPixels(0);
    auto mask = images->GetMask(0);
    ASSERT_EQ(48u * 48u, pixels.size());
    ASSERT_EQ(pixels.size(), mask.size());
    int clear = 0, opaque = 0, graded = 0;
    for (size_t i = 0; i < pixels.size(); ++i) {
        uint32_t alpha = pixels[i] >> 24;
        if (alpha == 0) ++clear;
        else if (alpha == 255) ++opaque;
        else ++graded;
        // The mask leaves out what is at most 10% opaque, as the common controls make it.
        EXPECT_EQ(alpha <= 25, static_cast<bool>(mask[i])) << "pixel " << i;
    }
    EXPECT_GT(clear, 200);   // a transparent background
    EXPECT_GT(opaque, 200);  // a solid mark
    EXPECT_GT(graded, 50);   // with smooth edges
    EXPECT_EQ(0u, pixels[0] >> 24);  // the corner is background

    unique_hicon icon = images->GetIcon(0);
    EXPECT_TRUE(static_cast<bool>(icon));
}

TEST(AddInConfiguration, TheStoredTextIsExactlyWhatTheFrameworkWrites) {
    auto m = LoadAddInModule();
    EXPECT_EQ(ResourceText(), Written(*m));
}

TEST(AddInConfiguration, SurvivesAWriteAndReadRoundTrip) {
    auto m = LoadAddInModule();
    std::wstring first = WriteForm(TFormReader::WriteRoot(*m));
    vortelix::TAddInModule copy(nullptr);
    TFormReader::ReadRoot(copy, ParseForm(first));
    EXPECT_EQ(first, WriteForm(TFormReader::WriteRoot(copy)));
    EXPECT_EQ((std::vector<std::wstring>{kTabId, kGroupId, kButtonId}), RegistryKeys(copy));
}

// A module whose published methods record the events they receive.
class EventModule : public TqvrCOMAddInModule {
public:
    explicit EventModule(TComponent* owner) : TqvrCOMAddInModule(owner) {
        RegisterRibbonClasses();
        PublishMethod<TqvrRibbonOnClick>(L"Clicked", [this](TObject* s, IRibbonControl*) { Record(L"Clicked", s); });
        PublishMethod<TqvrRibbonOnChange>(L"Changed", [this](TObject* s, IRibbonControl*) { Record(L"Changed", s); });
        PublishMethod<TNotifyEvent>(L"Created", [this](TObject* s) { Record(L"Created", s); });
        PublishMethod<TqvrRibbonPropertyChanging>(
            L"Asked", [this](TObject* s, TqvrRibbonControlPropertyType, unique_variant&, IDispatch*) { Record(L"Asked", s); });
        PublishMethod<TqvrRibbonItemPropertyChanging>(
            L"ItemAsked",
            [this](TObject* s, TqvrRibbonControlPropertyType, unique_variant&, IDispatch*, int32_t) { Record(L"ItemAsked", s); });
    }
    std::wstring ClassName() const override { return L"TEventModule"; }
    std::vector<std::wstring> journal;

private:
    void Record(const std::wstring& what, TObject* sender) {
        auto* c = AsRibbonComponent(sender);
        journal.push_back(what + L" " + (c ? c->Id() : L"?"));
    }
};

std::unique_ptr<EventModule> Read(const std::wstring& text) {
    auto m = std::make_unique<EventModule>(nullptr);
    TFormReader::ReadRoot(*m, ParseForm(text));
    return m;
}

const wchar_t* kEveryClass = LR"(object M: TEventModule
  SupportedApps = [ohaExcel, ohaWord]
  StartFromScratch = [msrWordDocument]
  object Tab: TqvrRibbonTab
    Caption = 'Every class'
    Context = 'Excel.TabSetChart'
    Controls = <
      item
        Id = 'G'
        InsertAfterIdMso = 'GroupClipboard'
        KeyTip = 'GR'
        Shared = True
        AutoScale = True
        Tag = 9
        Caption = 'Group'
        Ribbons = [msrAccessDatabase, msrNoSuchRibbon]
        Ribbons2010 = []
        ControlTypes = {0B000000 07000000 08000000 09000000 0A000000 0B000000 0C000000 0D000000 0E000000 0F000000 05000000 12000000}
        Controls_ = <
          item
            Id = 'B'
            Glyph = {424D460000000000000036000000280000000200000002000000010020000000000010000000000000000000000000000000000000000000FFFFFFFFFF80FF0000FF00FF00FF}
            ParseMsoXmlTypeAs = pxtControl
            ToggleButton = True
            OnClick = Clicked
            OnPropertyChanging = Asked
            Caption = 'Button'
          end
          item [1]
            Id = 'S'
            Controls = <
              item
                Id = 'SM'
                Title = 'Menu title'
              end>
            OnClick = Clicked
          end
          item
            Id = 'L'
            ShowCaption = False
          end
          item
            Id = 'C'
            Pressed = True
            OnClick = Clicked
          end
          item
            Id = 'E'
            MaxLength = 20
            SizeString = 'WWW'
            Text = 'typed'
            OnChange = Changed
          end
          item
            Id = 'CB'
            Items = <
              item
                Id = 'CB1'
                Caption = 'First'
              end>
            OnChange = Changed
            OnItemPropertyChanging = ItemAsked
          end
          item
            Id = 'DD'
            Controls = <
              item
                Id = 'DDB'
              end>
            SelectedItemIndex = 1
            ShowItemCaption = False
            OnChange = Changed
          end
          item
            Id = 'GA'
            Columns = 3
            Rows = 2
            ItemHeight = 32
            Size = csLarge
          end
          item
            Id = 'MN'
            Dynamic = True
            ItemSize = Large
            OnCreate = Created
            ControlTypes = {02000000 10000000 11000000}
            Controls_ = <
              item
                Id = 'SEP'
              end
              item
                Id = 'MSEP'
                Caption = 'Section'
              end>
          end
          item
            Id = 'BX'
            BoxStyle = bsVertical
            ControlTypes = {01000000 06000000}
            Controls_ = <
              item
                Id = 'BG'
                ControlTypes = {01000000 07000000}
                Controls_ = <
                  item
                    Id = 'BGB'
                  end>
              end>
          end
          item
            Id = 'DBL'
            OnClick = Clicked
          end>
      end>
    Id = 'T'
    KeyTip = 'TABX'
    OnPropertyChanging = Asked
  end
end
)";

TEST(StoredForm, EveryClassIsReadWithItsValuesAndEventsAndWrittenBackUnchanged) {
    auto m = Read(kEveryClass);
    auto find = [&](const wchar_t* id) {
        auto* c = dynamic_cast<TqvrRibbonCustomControl*>(m->FindRibbonControl(id));
        EXPECT_NE(nullptr, c) << "no " << std::string(id, id + wcslen(id));
        return c;
    };
    EXPECT_EQ(TqvrRibbons{msrWordDocument}.bits, m->StartFromScratch());
    auto* tab = static_cast<TqvrRibbonTab*>(m->FindRibbonControl(L"T"));
    EXPECT_EQ("TAB", tab->KeyTip());  // cut to three characters
    EXPECT_EQ(std::vector<TqvrRibbonTab*>{tab}, m->ContextTabs());
    auto* group = find(L"G")->AsRibbonGroup();
    EXPECT_TRUE(group->Shared());
    EXPECT_TRUE(group->AutoScale());
    EXPECT_EQ(9, group->Tag());
    // Stored members add to the inherited set; unknown names are skipped.
    EXPECT_EQ((TqvrRibbons{msrAccessDatabase, msrExcelWorkbook, msrWordDocument}), group->Ribbons());
    EXPECT_EQ(group->Ribbons(), find(L"BGB")->Ribbons());

    auto* b = find(L"B")->AsRibbonButton();
    EXPECT_EQ(pxtControl, b->ParseMsoXmlTypeAs());
    EXPECT_TRUE(b->ToggleButton());
    EXPECT_EQ(2, b->Glyph()->Width());
    EXPECT_EQ((std::vector<uint32_t>{0xFF0000FF, 0xFF00FF00, 0xFFFF0000, 0x80FFFFFF}), b->Glyph()->Pixels());
    EXPECT_EQ(L"Menu title", find(L"SM")->Title());
    EXPECT_EQ(1, find(L"S")->GetControls()->Count());  // the stored menu replaces the one a split button starts with
    EXPECT_FALSE(find(L"L")->ShowCaption());
    EXPECT_TRUE(find(L"C")->Pressed());
    EXPECT_EQ(20, find(L"E")->AsRibbonEditBox()->MaxLength());
    EXPECT_EQ(L"typed", find(L"E")->Text());
    EXPECT_EQ(L"First", find(L"CB1")->Caption());
    EXPECT_EQ(1, find(L"DD")->SelectedItemIndex());
    EXPECT_FALSE(find(L"DD")->AsRibbonDropDown()->ShowItemCaption());
    EXPECT_EQ(3, find(L"GA")->AsRibbonGallery()->Columns());
    EXPECT_EQ(32, find(L"GA")->ItemHeight());
    EXPECT_TRUE(find(L"MN")->AsRibbonMenu()->Dynamic());
    EXPECT_EQ(TqvrRibbonXItemSize::Large, find(L"MN")->AsRibbonMenu()->ItemSize());
    EXPECT_EQ(L"Section", find(L"MSEP")->Title());
    EXPECT_EQ(bsVertical, find(L"BX")->AsRibbonBox()->BoxStyle());
    // The launcher came last in the stored list and stays last.
    EXPECT_EQ(L"DBL", group->Controls().GetItem(group->Controls().Count() - 1)->Id());

    // Every stored event is bound to the module's method of that name.
    TqvrRibbonActionArguments args;
    for (const wchar_t* id : {L"B", L"S", L"C", L"E", L"CB", L"DD", L"DBL"}) find(id)->DoAction(args);
    find(L"MN")->AsRibbonMenu()->DoCreate();
    unique_variant v;
    find(L"B")->DoPropertyChanging(rcptCaption, v, nullptr, -1);
    find(L"CB")->DoPropertyChanging(rcptItemCaption, v, nullptr, 0);
    tab->DoPropertyChanging(rcptKeyTip, v, nullptr, -1);
    EXPECT_EQ((std::vector<std::wstring>{L"Clicked B", L"Clicked S", L"Clicked C", L"Changed E", L"Changed CB",
                                         L"Changed DD", L"Clicked DBL", L"Created MN", L"Asked B", L"ItemAsked CB",
                                         L"Asked T"}),
              m->journal);

    // What the framework writes reads back into the same tree.
    std::wstring first = Written(*m);
    auto again = Read(first);
    EXPECT_EQ(first, Written(*again));
    EXPECT_EQ(RegistryKeys(*m), RegistryKeys(*again));
}

TEST(StoredForm, AGroupStoredWithOneButtonCodeReadsBackOneButton) {
    auto m = Read(LR"(object M: TEventModule
  object Tab: TqvrRibbonTab
    Controls = <
      item
        ControlTypes = {0100000007000000}
        Controls_ = <
          item
            Id = 'B'
          end>
      end>
  end
end)");
    auto* group = static_cast<TqvrRibbonTab*>(m->Components()[0])->Controls().GetItem(0)->AsRibbonGroup();
    ASSERT_EQ(1, group->Controls().Count());
    EXPECT_EQ(L"TqvrRibbonButton", group->Controls().GetItem(0)->ClassName());
}

TEST(StoredForm, MoreChildrenThanTypeCodesFailsAndKeepsTheChildrenRead) {
    EventModule m(nullptr);
    try {
        TFormReader::ReadRoot(m, ParseForm(LR"(object M: TEventModule
  object Tab: TqvrRibbonTab
    Controls = <
      item
        ControlTypes = {020000000700000009000000}
        Controls_ = <
          item
            Id = 'One'
          end
          item
            Id = 'Two'
          end
          item
            Id = 'Three'
          end>
      end>
  end
end)"));
        ADD_FAILURE() << "read without error";
    } catch (const EqvrError& e) {
        EXPECT_NE(std::wstring::npos, e.Message().find(L"Range check error")) << std::string(e.what());
    }
    auto* group = static_cast<TqvrRibbonTab*>(m.Components()[0])->Controls().GetItem(0)->AsRibbonGroup();
    ASSERT_EQ(2, group->Controls().Count());
    EXPECT_EQ(L"TqvrRibbonButton", group->Controls().GetItem(0)->ClassName());
    EXPECT_EQ(L"TqvrRibbonLabel", group->Controls().GetItem(1)->ClassName());
    EXPECT_EQ(L"Two", group->Controls().GetItem(1)->Id());
}

struct BadText {
    const char* what;
    const wchar_t* text;
    const wchar_t* message;
};

TEST(StoredForm, BadValuesAreReportedWithTheirCause) {
    const BadText cases[] = {
        {"unknown property",
         LR"(object M: TEventModule
  object Tab: TqvrRibbonTab
    Bogus = 1
  end
end)",
         L"Property Bogus does not exist"},
        {"unknown method",
         LR"(object M: TEventModule
  object Tab: TqvrRibbonTab
    Controls = <
      item
        ControlTypes = {0100000007000000}
        Controls_ = <
          item
            OnClick = NoSuchMethod
          end>
      end>
  end
end)",
         L"Invalid property value: method NoSuchMethod not found"},
        {"image list that is not there",
         LR"(object M: TEventModule
  object Tab: TqvrRibbonTab
    Images = Missing
  end
end)",
         L"Invalid property value: no image list Missing"},
        {"truncated type codes",
         LR"(object M: TEventModule
  object Tab: TqvrRibbonTab
    Controls = <
      item
        ControlTypes = {0200000007000000}
      end>
  end
end)",
         L"Invalid property value"},
    };
    for (const auto& c : cases) {
        try {
            Read(c.text);
            ADD_FAILURE() << c.what << ": no error";
        } catch (const EqvrError& e) {
            EXPECT_EQ(c.message, e.Message()) << c.what;
        }
    }
}

// Each class stores exactly the names it publishes, in its order, then the special values; and
// what it stores reads back into a new control of its class as the same values. Every value is
// set to something other than its default, so that every name the class stores is written (the
// events are bound only by reading: the every-class test above covers their names).
struct StoredNamesCase {
    TqvrRibbonControlType type;
    std::vector<std::wstring> names;
};

void PrintTo(const StoredNamesCase& c, std::ostream* os) { *os << "type code " << int(c.type); }

class StoredNames : public ribbontest::RibbonFixture, public ::testing::WithParamInterface<StoredNamesCase> {};

// What every control gets, through the common interface.
void SetEveryCommonValue(TqvrRibbonCustomControl& c) {
    c.SetId(L"X");
    c.SetCaption(L"Caption");
    c.SetDescription(L"Description");
    c.SetEnabled(false);
    c.SetIdMso(L"Copy");
    c.SetImageIndex(0);
    c.SetImageMso(L"Paste");
    c.SetInsertAfterIdMso(L"A");
    c.SetInsertAfterId(L"B");
    c.SetInsertBeforeIdMso(L"C");
    c.SetInsertBeforeId(L"D");
    c.SetItemHeight(16);
    c.SetItemWidth(24);
    c.SetKeyTip("K");
    c.SetPressed(true);
    c.SetSelectedItemId(L"S");
    c.SetSelectedItemIndex(1);
    c.SetScreenTip(L"Screen");
    c.SetShowCaption(false);
    c.SetSize(csLarge);
    c.SetSuperTip(L"Super");
    c.SetText(L"Text");
    c.SetTitle(L"Title");
    c.SetVisible(false);
    c.SetTag(7);
    c.GlyphBitmap().SetPixels(1, 1, {0xFF102030});
}

// What only some classes have.
void SetEveryClassValue(TqvrRibbonCustomControl& c) {
    if (auto* g = c.AsRibbonGroup()) {
        g->SetShared(true);
        g->SetAutoScale(true);
        g->SetCenterVertically(true);
    }
    if (auto* b = c.AsRibbonButton()) {
        b->SetToggleButton(true);
        b->SetParseMsoXmlTypeAs(pxtControl);
    }
    if (auto* e = c.AsRibbonEditBox()) {
        e->SetMaxLength(5);
        e->SetSizeString(L"WW");
    }
    if (auto* cb = c.AsRibbonComboBox()) {
        cb->SetMaxLength(5);
        cb->SetSizeString(L"WW");
        cb->Items().AddItem();
    }
    if (auto* d = c.AsRibbonDropDown()) {
        d->SetShowItemCaption(false);
        d->SetSizeString(L"WW");
        d->Controls().Add();
        d->Items().AddItem();
    }
    if (auto* g = c.AsRibbonGallery()) {
        g->SetColumns(2);
        g->SetRows(3);
        g->SetShowItemCaption(false);
        g->Controls().Add();
        g->Items().AddItem();
    }
    if (auto* m = c.AsRibbonMenu()) {
        m->SetItemSize(TqvrRibbonXItemSize::Large);
        m->SetDynamic(true);
        m->Controls().Add(rctButton);
    }
    if (auto* s = c.AsRibbonSplitButton()) s->SetToggleButton(true);
    if (auto* b = c.AsRibbonBox()) {
        b->SetBoxStyle(bsVertical);
        b->SetShared(true);
        b->Controls().Add(rctButton);
    }
    if (auto* bg = c.AsRibbonButtonGroup()) {
        bg->SetShared(true);
        bg->Controls().Add(rctButton);
    }
}

std::wstring StoredText(const std::vector<FormProperty>& properties) {
    return WriteForm(FormObject{L"C", L"TqvrRibbonCustomControl", false, properties, {}});
}

TEST_P(StoredNames, AreThePublishedOnesInOrderAndReadBackAsWritten) {
    const StoredNamesCase& c = GetParam();
    // Items live in a combo box, every other class in a group; each control in a home of its own
    // (a group holds one dialog box launcher only). An item collection makes only items.
    auto make = [&] {
        if (c.type == rctItem) return AddGroup()->Controls().Add(rctComboBox)->GetItems()->Add();
        return AddGroup()->Controls().Add(c.type);
    };
    TqvrRibbonCustomControl* control = make();
    SetEveryCommonValue(*control);
    SetEveryClassValue(*control);

    std::vector<FormProperty> stored;
    control->WriteProperties(stored);
    std::vector<std::wstring> names;
    for (const auto& p : stored) names.push_back(p.name);
    EXPECT_EQ(c.names, names) << control->ClassName();

    TqvrRibbonCustomControl* copy = make();
    copy->ReadProperties(stored);
    std::vector<FormProperty> again;
    copy->WriteProperties(again);
    EXPECT_EQ(StoredText(stored), StoredText(again)) << control->ClassName();
}

std::vector<std::wstring> Names(std::initializer_list<std::vector<std::wstring>> parts) {
    std::vector<std::wstring> out;
    for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}
const std::vector<std::wstring> kIdAndPlace = {L"Id", L"InsertAfterIdMso", L"InsertAfterId", L"InsertBeforeIdMso",
                                               L"InsertBeforeId"};
const std::vector<std::wstring> kFilter = {L"Ribbons", L"Ribbons2010"};
const std::vector<std::wstring> kMixed = {L"ControlTypes", L"Controls_"};

INSTANTIATE_TEST_SUITE_P(
    EveryClass, StoredNames,
    ::testing::Values(
        StoredNamesCase{rctSeparator, Names({kIdAndPlace, {L"Visible", L"Tag"}, kFilter})},
        StoredNamesCase{rctMenuSeparator, Names({kIdAndPlace, {L"Tag", L"Caption"}, kFilter})},
        StoredNamesCase{rctDialogBoxLauncher, Names({{L"Id", L"Enabled", L"IdMso", L"KeyTip", L"ScreenTip", L"SuperTip",
                                                      L"Visible", L"Tag"},
                                                     kFilter})},
        StoredNamesCase{rctItem, {L"Id", L"Glyph", L"ImageIndex", L"ScreenTip", L"SuperTip", L"Tag", L"Caption"}},
        StoredNamesCase{rctGroup, Names({kIdAndPlace,
                                         {L"IdMso", L"ImageIndex", L"ImageMso", L"Glyph", L"KeyTip", L"ScreenTip",
                                          L"Shared", L"SuperTip", L"Visible", L"AutoScale", L"CenterVertically", L"Tag",
                                          L"Caption"},
                                         kFilter, kMixed})},
        StoredNamesCase{rctLabel, Names({kIdAndPlace,
                                         {L"Enabled", L"IdMso", L"ScreenTip", L"ShowCaption", L"SuperTip", L"Visible",
                                          L"Tag", L"Caption"},
                                         kFilter})},
        StoredNamesCase{rctButton, Names({kIdAndPlace,
                                          {L"Description", L"Enabled", L"Glyph", L"IdMso", L"ImageIndex", L"ImageMso",
                                           L"KeyTip", L"ParseMsoXmlTypeAs", L"Pressed", L"ScreenTip", L"ShowCaption",
                                           L"Size", L"SuperTip", L"ToggleButton", L"Visible", L"Tag", L"Caption"},
                                          kFilter})},
        StoredNamesCase{rctCheckBox, Names({kIdAndPlace,
                                            {L"Description", L"Enabled", L"IdMso", L"KeyTip", L"Pressed", L"ScreenTip",
                                             L"SuperTip", L"Visible", L"Tag", L"Caption"},
                                            kFilter})},
        StoredNamesCase{rctEditBox, Names({kIdAndPlace,
                                           {L"Enabled", L"Glyph", L"IdMso", L"ImageIndex", L"ImageMso", L"KeyTip",
                                            L"MaxLength", L"ScreenTip", L"ShowCaption", L"SizeString", L"SuperTip",
                                            L"Text", L"Visible", L"Tag", L"Caption"},
                                           kFilter})},
        StoredNamesCase{rctComboBox, Names({kIdAndPlace,
                                            {L"Enabled", L"Glyph", L"IdMso", L"ImageIndex", L"ImageMso", L"Items",
                                             L"KeyTip", L"MaxLength", L"ScreenTip", L"ShowCaption", L"SizeString",
                                             L"SuperTip", L"Text", L"Visible", L"Tag", L"Caption"},
                                            kFilter})},
        StoredNamesCase{rctDropDown, Names({kIdAndPlace,
                                            {L"Controls", L"Enabled", L"Glyph", L"IdMso", L"ImageIndex", L"ImageMso",
                                             L"Items", L"KeyTip", L"ScreenTip", L"SelectedItemId", L"SelectedItemIndex",
                                             L"ShowCaption", L"ShowItemCaption", L"SizeString", L"SuperTip", L"Visible",
                                             L"Tag", L"Caption"},
                                            kFilter})},
        StoredNamesCase{rctGallery, Names({kIdAndPlace,
                                           {L"Controls", L"Columns", L"Description", L"Enabled", L"Glyph", L"IdMso",
                                            L"ImageIndex", L"ImageMso", L"ItemHeight", L"Items", L"ItemWidth", L"KeyTip",
                                            L"Rows", L"ScreenTip", L"SelectedItemId", L"SelectedItemIndex",
                                            L"ShowCaption", L"ShowItemCaption", L"Size", L"SuperTip", L"Visible", L"Tag",
                                            L"Caption"},
                                           kFilter})},
        StoredNamesCase{rctMenu, Names({kIdAndPlace,
                                        {L"Description", L"Dynamic", L"Enabled", L"Glyph", L"IdMso", L"ImageIndex",
                                         L"ImageMso", L"ItemSize", L"KeyTip", L"ScreenTip", L"ShowCaption", L"Size",
                                         L"SuperTip", L"Title", L"Visible", L"Tag", L"Caption"},
                                        kFilter, kMixed})},
        StoredNamesCase{rctSplitButton, Names({kIdAndPlace,
                                               {L"Controls", L"Description", L"Enabled", L"Glyph", L"IdMso",
                                                L"ImageIndex", L"ImageMso", L"KeyTip", L"Pressed", L"ScreenTip",
                                                L"ShowCaption", L"Size", L"ToggleButton", L"SuperTip", L"Visible", L"Tag",
                                                L"Caption"},
                                               kFilter})},
        StoredNamesCase{rctBox, Names({kIdAndPlace, {L"BoxStyle", L"Shared", L"Visible", L"Tag"}, kFilter, kMixed})},
        StoredNamesCase{rctButtonGroup, Names({kIdAndPlace, {L"Shared", L"Visible", L"Tag"}, kFilter, kMixed})}));

TEST(ImageListStream, IsWrittenBackByteForByte) {
    auto form = TFormReader::LoadResourceForm(GetModuleHandleW(nullptr), L"TADDINMODULE");
    const FormObject* stored = nullptr;
    for (const auto& child : form.children)
        if (child.name == L"ImageListRibbon") stored = &child;
    ASSERT_NE(nullptr, stored);
    const FormValue* bitmap = nullptr;
    for (const auto& p : stored->properties)
        if (p.name == L"Bitmap") bitmap = &p.value;
    ASSERT_NE(nullptr, bitmap);
    // The header as the common controls write it: "IL", 0x0101, 1 image, capacity 8, growth 4,
    // 48 x 48, no background colour, flags 0x10FF, no overlays.
    const uint8_t header[] = {'I', 'L', 0x01, 0x01, 1, 0, 8, 0, 4, 0, 48, 0, 48, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x10};
    ASSERT_GT(bitmap->bytes.size(), sizeof(header));
    EXPECT_TRUE(std::equal(std::begin(header), std::end(header), bitmap->bytes.begin()));

    TImageList list(nullptr);
    list.ReadData(bitmap->bytes);
    EXPECT_EQ(bitmap->bytes, list.WriteData());

    std::vector<uint8_t> broken(bitmap->bytes.begin(), bitmap->bytes.begin() + 100);
    EXPECT_THROW(list.ReadData(broken), EqvrError);
    EXPECT_EQ(1, list.Count());  // a failed read keeps what the list held
}

}  // namespace
