#include "ribbon/controls.h"

#include "com/dialogs.h"
#include "com/error.h"
#include "com/numbers.h"

#include <array>
#include <span>

namespace qvr {

using namespace ribbonxml;

// ---- the published properties ----

namespace {

using C = TqvrRibbonCustomControl;
using Out = std::vector<FormProperty>;

// Every property is a constant row of the class's table (a name and two plain functions), so
// the tables are data: nothing is built when the DLL loads or a class is first stored.

template <typename T, auto Get, auto Set>
constexpr TqvrControlProperty StringProperty(const wchar_t* name) {
    return {name, [](C& c, const FormProperty& p) { (static_cast<T&>(c).*Set)(p.value.AsString()); },
            [](const C& c, const wchar_t* n, Out& o) {
                std::wstring v = (static_cast<const T&>(c).*Get)();
                if (!v.empty()) o.push_back({n, FormValue::String(v)});
            }};
}

template <typename T, auto Get, auto Set, bool Default>
constexpr TqvrControlProperty BoolProperty(const wchar_t* name) {
    return {name, [](C& c, const FormProperty& p) { (static_cast<T&>(c).*Set)(p.value.AsBoolean()); },
            [](const C& c, const wchar_t* n, Out& o) {
                bool v = (static_cast<const T&>(c).*Get)();
                if (v != Default) o.push_back({n, FormValue::Boolean(v)});
            }};
}

template <typename T, auto Get, auto Set, int32_t Default>
constexpr TqvrControlProperty IntProperty(const wchar_t* name) {
    return {name, [](C& c, const FormProperty& p) { (static_cast<T&>(c).*Set)(static_cast<int32_t>(p.value.AsInteger())); },
            [](const C& c, const wchar_t* n, Out& o) {
                int32_t v = (static_cast<const T&>(c).*Get)();
                if (v != Default) o.push_back({n, FormValue::Integer(v)});
            }};
}

// Enumerations are stored by member name.
template <typename E, size_t N>
struct EnumNames {
    const wchar_t* names[N];
    E Parse(const FormValue& v) const {
        for (size_t i = 0; i < N; ++i)
            if (SameText(v.AsIdent(), names[i])) return static_cast<E>(i);
        throw EqvrError(L"Invalid property value");
    }
};
constexpr EnumNames<TqvrRibbonXControlSize, 2> kSizeNames{{L"csRegular", L"csLarge"}};
constexpr EnumNames<TqvrRibbonXItemSize, 2> kItemSizeNames{{L"Normal", L"Large"}};
constexpr EnumNames<TqvrRibbonXBoxStyle, 2> kBoxStyleNames{{L"bsHorizontal", L"bsVertical"}};
constexpr EnumNames<TqvrParseMsoXmlTypeAs, 2> kParseAsNames{{L"pxtDefault", L"pxtControl"}};

template <typename T, auto Get, auto Set, auto Default, const auto& Names>
constexpr TqvrControlProperty EnumProperty(const wchar_t* name) {
    return {name, [](C& c, const FormProperty& p) { (static_cast<T&>(c).*Set)(Names.Parse(p.value)); },
            [](const C& c, const wchar_t* n, Out& o) {
                auto v = (static_cast<const T&>(c).*Get)();
                if (v != Default) o.push_back({n, FormValue::Ident(Names.names[static_cast<size_t>(v)])});
            }};
}

template <typename T, auto Member>
constexpr TqvrControlProperty EventProperty(const wchar_t* name) {
    return {name, [](C& c, const FormProperty& p) { c.BindEvent(static_cast<T&>(c).*Member, p); },
            [](const C& c, const wchar_t* n, Out& o) {
                std::wstring method = c.BoundMethod(n);
                if (!method.empty()) o.push_back({n, FormValue::Ident(method)});
            }};
}

// Id has no default: it is always stored.
constexpr TqvrControlProperty kId{L"Id", [](C& c, const FormProperty& p) { c.SetId(p.value.AsString()); },
                                  [](const C& c, const wchar_t* n, Out& o) { o.push_back({n, FormValue::String(c.Id())}); }};
constexpr TqvrControlProperty kInsertAfterIdMso =
    StringProperty<C, &C::InsertAfterIdMso, &C::SetInsertAfterIdMso>(L"InsertAfterIdMso");
constexpr TqvrControlProperty kInsertAfterId = StringProperty<C, &C::InsertAfterId, &C::SetInsertAfterId>(L"InsertAfterId");
constexpr TqvrControlProperty kInsertBeforeIdMso =
    StringProperty<C, &C::InsertBeforeIdMso, &C::SetInsertBeforeIdMso>(L"InsertBeforeIdMso");
constexpr TqvrControlProperty kInsertBeforeId = StringProperty<C, &C::InsertBeforeId, &C::SetInsertBeforeId>(L"InsertBeforeId");
constexpr TqvrControlProperty kDescription = StringProperty<C, &C::Description, &C::SetDescription>(L"Description");
constexpr TqvrControlProperty kEnabled = BoolProperty<C, &C::Enabled, &C::SetEnabled, true>(L"Enabled");
constexpr TqvrControlProperty kIdMso = StringProperty<C, &C::IdMso, &C::SetIdMso>(L"IdMso");
constexpr TqvrControlProperty kImageIndex = IntProperty<C, &C::ImageIndex, &C::SetImageIndex, -1>(L"ImageIndex");
constexpr TqvrControlProperty kImageMso = StringProperty<C, &C::ImageMso, &C::SetImageMso>(L"ImageMso");
constexpr TqvrControlProperty kItemHeight = IntProperty<C, &C::ItemHeight, &C::SetItemHeight, -1>(L"ItemHeight");
constexpr TqvrControlProperty kItemWidth = IntProperty<C, &C::ItemWidth, &C::SetItemWidth, -1>(L"ItemWidth");
constexpr TqvrControlProperty kPressed = BoolProperty<C, &C::Pressed, &C::SetPressed, false>(L"Pressed");
constexpr TqvrControlProperty kScreenTip = StringProperty<C, &C::ScreenTip, &C::SetScreenTip>(L"ScreenTip");
constexpr TqvrControlProperty kSelectedItemId =
    StringProperty<C, &C::SelectedItemId, &C::SetSelectedItemId>(L"SelectedItemId");
constexpr TqvrControlProperty kSelectedItemIndex =
    IntProperty<C, &C::SelectedItemIndex, &C::SetSelectedItemIndex, -1>(L"SelectedItemIndex");
constexpr TqvrControlProperty kShowCaption = BoolProperty<C, &C::ShowCaption, &C::SetShowCaption, true>(L"ShowCaption");
constexpr TqvrControlProperty kSize = EnumProperty<C, &C::Size, &C::SetSize, csRegular, kSizeNames>(L"Size");
constexpr TqvrControlProperty kSuperTip = StringProperty<C, &C::SuperTip, &C::SetSuperTip>(L"SuperTip");
constexpr TqvrControlProperty kText = StringProperty<C, &C::Text, &C::SetText>(L"Text");
constexpr TqvrControlProperty kTitle = StringProperty<C, &C::Title, &C::SetTitle>(L"Title");
constexpr TqvrControlProperty kVisible = BoolProperty<C, &C::Visible, &C::SetVisible, true>(L"Visible");
constexpr TqvrControlProperty kTag = IntProperty<C, &C::Tag, &C::SetTag, 0>(L"Tag");
constexpr TqvrControlProperty kOnPropertyChanging = EventProperty<C, &C::OnPropertyChanging>(L"OnPropertyChanging");
constexpr TqvrControlProperty kKeyTip{L"KeyTip",
                                      [](C& c, const FormProperty& p) { c.SetKeyTip(KeyTipFromText(p.value.AsString())); },
                                      [](const C& c, const wchar_t* n, Out& o) {
                                          if (!c.KeyTip().empty()) o.push_back({n, FormValue::String(KeyTipToText(c.KeyTip()))});
                                      }};
constexpr TqvrControlProperty kGlyph{L"Glyph",
                                     [](C& c, const FormProperty& p) {
                                         if (p.value.kind != FormValue::Kind::Binary) throw EqvrError(L"Invalid property value");
                                         c.GlyphBitmap().LoadFromBytes(p.value.bytes);
                                     },
                                     [](const C& c, const wchar_t* n, Out& o) {
                                         if (!c.Glyph()->Empty()) o.push_back({n, FormValue::Binary(c.Glyph()->SaveToBytes())});
                                     }};
// Collections of a single item class.
constexpr TqvrControlProperty kControls{L"Controls", [](C& c, const FormProperty& p) { c.GetControls()->ReadItems(p.value); },
                                        [](const C& c, const wchar_t* n, Out& o) {
                                            if (c.GetControls()->Count()) o.push_back({n, c.GetControls()->WriteItems()});
                                        }};
constexpr TqvrControlProperty kItems{L"Items", [](C& c, const FormProperty& p) { c.GetItems()->ReadItems(p.value); },
                                     [](const C& c, const wchar_t* n, Out& o) {
                                         if (c.GetItems()->Count()) o.push_back({n, c.GetItems()->WriteItems()});
                                     }};
constexpr TqvrControlProperty kShared =
    BoolProperty<TqvrRibbonSharedContainer, &TqvrRibbonSharedContainer::Shared, &TqvrRibbonSharedContainer::SetShared,
                 false>(L"Shared");
// The properties published by more than one class under the same name, each on a member of its own.
template <typename T>
constexpr TqvrControlProperty kToggleButton = BoolProperty<T, &T::ToggleButton, &T::SetToggleButton, false>(L"ToggleButton");
template <typename T>
constexpr TqvrControlProperty kMaxLength = IntProperty<T, &T::MaxLength, &T::SetMaxLength, 0>(L"MaxLength");
template <typename T>
constexpr TqvrControlProperty kSizeString = StringProperty<T, &T::SizeString, &T::SetSizeString>(L"SizeString");
template <typename T>
constexpr TqvrControlProperty kShowItemCaption =
    BoolProperty<T, &T::ShowItemCaption, &T::SetShowItemCaption, true>(L"ShowItemCaption");
template <typename T>
constexpr TqvrControlProperty kOnClickEvent = EventProperty<T, &T::OnClick>(L"OnClick");
template <typename T>
constexpr TqvrControlProperty kOnChangeEvent = EventProperty<T, &T::OnChange>(L"OnChange");
template <typename T>
constexpr TqvrControlProperty kOnItemPropertyChangingEvent = EventProperty<T, &T::OnItemPropertyChanging>(L"OnItemPropertyChanging");

constexpr TqvrControlProperty kPlacement[] = {kInsertAfterIdMso, kInsertAfterId, kInsertBeforeIdMso, kInsertBeforeId};
constexpr std::array<TqvrControlProperty, 2> kBase{kTag, kOnPropertyChanging};

// A class's table: Id and (unless Placement is false) the placement properties, then the
// class's own, then Tag and OnPropertyChanging.
template <bool Placement = true, size_t N = 0>
constexpr auto Published(const TqvrControlProperty (&own)[N]) {
    std::array<TqvrControlProperty, 1 + (Placement ? 4 : 0) + N + 2> out{};
    size_t i = 0;
    out[i++] = kId;
    if constexpr (Placement)
        for (const auto& p : kPlacement) out[i++] = p;
    for (const auto& p : own) out[i++] = p;
    for (const auto& p : kBase) out[i++] = p;
    return out;
}
template <bool Placement = true>
constexpr auto Published() {
    std::array<TqvrControlProperty, 1 + (Placement ? 4 : 0) + 2> out{};
    size_t i = 0;
    out[i++] = kId;
    if constexpr (Placement)
        for (const auto& p : kPlacement) out[i++] = p;
    for (const auto& p : kBase) out[i++] = p;
    return out;
}

using Launcher = TqvrRibbonDialogBoxLauncher;
using Group = TqvrRibbonGroup;
using Button = TqvrRibbonButton;
using CheckBox = TqvrRibbonCheckBox;
using EditBox = TqvrRibbonEditBox;
using ComboBox = TqvrRibbonComboBox;
using DropDown = TqvrRibbonDropDown;
using Gallery = TqvrRibbonGallery;
using Menu = TqvrRibbonMenu;
using SplitButton = TqvrRibbonSplitButton;
using Box = TqvrRibbonBox;

// In the order each class publishes them (Caption is stored among the special values).
constexpr auto kSeparatorProperties = Published({kVisible});
constexpr auto kMenuSeparatorProperties = Published();
constexpr auto kLauncherProperties =
    Published<false>({kEnabled, kIdMso, kKeyTip, kScreenTip, kSuperTip, kVisible, kOnClickEvent<Launcher>});
constexpr auto kItemProperties = Published<false>({kGlyph, kImageIndex, kScreenTip, kSuperTip});
constexpr auto kGroupProperties =
    Published({kIdMso, kImageIndex, kImageMso, kGlyph, kKeyTip, kScreenTip, kShared, kSuperTip, kVisible,
               BoolProperty<Group, &Group::AutoScale, &Group::SetAutoScale, false>(L"AutoScale"),
               BoolProperty<Group, &Group::CenterVertically, &Group::SetCenterVertically, false>(L"CenterVertically")});
constexpr auto kLabelProperties = Published({kEnabled, kIdMso, kScreenTip, kShowCaption, kSuperTip, kVisible});
constexpr auto kButtonProperties = Published(
    {kDescription, kEnabled, kGlyph, kIdMso, kImageIndex, kImageMso, kKeyTip,
     EnumProperty<Button, &Button::ParseMsoXmlTypeAs, &Button::SetParseMsoXmlTypeAs, pxtDefault, kParseAsNames>(
         L"ParseMsoXmlTypeAs"),
     kPressed, kScreenTip, kShowCaption, kSize, kSuperTip, kToggleButton<Button>, kVisible, kOnClickEvent<Button>});
constexpr auto kCheckBoxProperties = Published({kDescription, kEnabled, kIdMso, kKeyTip, kPressed, kScreenTip, kSuperTip,
                                                kVisible, kOnClickEvent<CheckBox>});
constexpr auto kEditBoxProperties =
    Published({kEnabled, kGlyph, kIdMso, kImageIndex, kImageMso, kKeyTip, kMaxLength<EditBox>, kScreenTip, kShowCaption,
               kSizeString<EditBox>, kSuperTip, kText, kVisible, kOnChangeEvent<EditBox>});
constexpr auto kComboBoxProperties =
    Published({kEnabled, kGlyph, kIdMso, kImageIndex, kImageMso, kItems, kKeyTip, kMaxLength<ComboBox>, kScreenTip,
               kShowCaption, kSizeString<ComboBox>, kSuperTip, kText, kVisible, kOnChangeEvent<ComboBox>,
               kOnItemPropertyChangingEvent<ComboBox>});
constexpr auto kDropDownProperties =
    Published({kControls, kEnabled, kGlyph, kIdMso, kImageIndex, kImageMso, kItems, kKeyTip, kScreenTip, kSelectedItemId,
               kSelectedItemIndex, kShowCaption, kShowItemCaption<DropDown>, kSizeString<DropDown>, kSuperTip, kVisible,
               kOnChangeEvent<DropDown>, kOnItemPropertyChangingEvent<DropDown>});
constexpr auto kGalleryProperties =
    Published({kControls, IntProperty<Gallery, &Gallery::Columns, &Gallery::SetColumns, 1>(L"Columns"), kDescription,
               kEnabled, kGlyph, kIdMso, kImageIndex, kImageMso, kItemHeight, kItems, kItemWidth, kKeyTip,
               IntProperty<Gallery, &Gallery::Rows, &Gallery::SetRows, 1>(L"Rows"), kScreenTip, kSelectedItemId,
               kSelectedItemIndex, kShowCaption, kShowItemCaption<Gallery>, kSize, kSuperTip, kVisible,
               kOnChangeEvent<Gallery>, kOnItemPropertyChangingEvent<Gallery>});
constexpr auto kMenuProperties = Published(
    {kDescription, BoolProperty<Menu, &Menu::Dynamic, &Menu::SetDynamic, false>(L"Dynamic"), kEnabled, kGlyph, kIdMso,
     kImageIndex, kImageMso,
     EnumProperty<Menu, &Menu::ItemSize, &Menu::SetItemSize, TqvrRibbonXItemSize::Normal, kItemSizeNames>(L"ItemSize"),
     kKeyTip, kScreenTip, kShowCaption, kSize, kSuperTip, kTitle, kVisible, EventProperty<Menu, &Menu::OnCreate>(L"OnCreate")});
constexpr auto kSplitButtonProperties =
    Published({kControls, kDescription, kEnabled, kGlyph, kIdMso, kImageIndex, kImageMso, kKeyTip, kPressed, kScreenTip,
               kShowCaption, kSize, kToggleButton<SplitButton>, kSuperTip, kVisible, kOnClickEvent<SplitButton>});
constexpr auto kBoxProperties =
    Published({EnumProperty<Box, &Box::BoxStyle, &Box::SetBoxStyle, bsHorizontal, kBoxStyleNames>(L"BoxStyle"),
               kShared, kVisible});
constexpr auto kButtonGroupProperties = Published({kShared, kVisible});

}  // namespace

TqvrControlProperties ribbonprops::BaseProperties() { return kBase; }

// ---- the classes' rows ----

// What a class's action stores before its OnClick or OnChange runs.
enum class TqvrActionState : uint8_t { Nothing, Pressed, Text, Selection };

struct TqvrRibbonControlClass {
    TqvrRibbonControlType type;
    // The published class name; without its "T" it is the prefix of design-time ids and captions.
    const wchar_t* name;
    const wchar_t* elementName;
    uint8_t flags;
    TqvrControlProperties properties;
    TqvrActionState takes;
};

namespace {

using S = TqvrActionState;
// The element is "control" instead when the control stands for a built-in one (IdMso set).
constexpr uint8_t kBuiltInIsControl = 1;
// A new control of the class gets a numbered caption in design mode.
constexpr uint8_t kDesignCaption = 2;
// The class keeps a Caption and stores it among the special values.
constexpr uint8_t kStoresCaption = 4;
constexpr uint8_t kCaptioned = kDesignCaption | kStoresCaption;

// In type code order, from rctGroup to rctItem. The button's and the menu's element names depend
// on more than IdMso: those classes choose them.
constexpr TqvrRibbonControlClass kClasses[] = {
    {rctGroup, L"TqvrRibbonGroup", L"group", kCaptioned, kGroupProperties, S::Nothing},
    {rctBox, L"TqvrRibbonBox", L"box", 0, kBoxProperties, S::Nothing},
    {rctButtonGroup, L"TqvrRibbonButtonGroup", L"buttonGroup", 0, kButtonGroupProperties, S::Nothing},
    {rctButton, L"TqvrRibbonButton", L"button", kCaptioned, kButtonProperties, S::Pressed},
    {rctSplitButton, L"TqvrRibbonSplitButton", L"splitButton", kCaptioned, kSplitButtonProperties, S::Pressed},
    {rctLabel, L"TqvrRibbonLabel", L"labelControl", kBuiltInIsControl | kCaptioned, kLabelProperties, S::Nothing},
    {rctCheckBox, L"TqvrRibbonCheckBox", L"checkBox", kBuiltInIsControl | kCaptioned, kCheckBoxProperties, S::Pressed},
    {rctEditBox, L"TqvrRibbonEditBox", L"editBox", kBuiltInIsControl | kCaptioned, kEditBoxProperties, S::Text},
    {rctComboBox, L"TqvrRibbonComboBox", L"comboBox", kBuiltInIsControl | kCaptioned, kComboBoxProperties, S::Text},
    {rctDropDown, L"TqvrRibbonDropDown", L"dropDown", kBuiltInIsControl | kCaptioned, kDropDownProperties,
     S::Selection},
    {rctGallery, L"TqvrRibbonGallery", L"gallery", kCaptioned, kGalleryProperties, S::Selection},
    {rctMenu, L"TqvrRibbonMenu", L"menu", kCaptioned, kMenuProperties, S::Nothing},
    {rctSeparator, L"TqvrRibbonSeparator", L"separator", 0, kSeparatorProperties, S::Nothing},
    {rctMenuSeparator, L"TqvrRibbonMenuSeparator", L"menuSeparator", kStoresCaption, kMenuSeparatorProperties,
     S::Nothing},
    {rctDialogBoxLauncher, L"TqvrRibbonDialogBoxLauncher", L"dialogBoxLauncher", 0, kLauncherProperties, S::Nothing},
    {rctItem, L"TqvrRibbonItem", L"item", kCaptioned, kItemProperties, S::Nothing},
};

constexpr bool RowsInCodeOrder() {
    for (size_t i = 0; i < std::size(kClasses); ++i)
        if (kClasses[i].type != rctGroup + i || kClasses[i].name[0] != L'T') return false;
    return true;
}
static_assert(RowsInCodeOrder() && std::size(kClasses) == rctItem - rctGroup + 1);

}  // namespace

// ---- the shared base ----

// The type code is the base's own: GetControlType answers it.
TqvrRibbonControl::TqvrRibbonControl(TqvrRibbonControls* collection, TqvrRibbonControlType type)
    : TqvrRibbonCustomControl(collection, type), FClass(&kClasses[type - rctGroup]) {}

std::wstring TqvrRibbonControl::ClassName() const { return FClass->name; }
TqvrControlProperties TqvrRibbonControl::PublishedProperties() const { return FClass->properties; }
std::wstring TqvrRibbonControl::IdPrefix() const { return FClass->name + 1; }
bool TqvrRibbonControl::GetsDesignCaption() const { return FClass->flags & kDesignCaption; }
bool TqvrRibbonControl::StoresCaption() const { return FClass->flags & kStoresCaption; }

std::wstring TqvrRibbonControl::GetElementName() const {
    if ((FClass->flags & kBuiltInIsControl) && !FIDMso.empty()) return L"control";
    return FClass->elementName;
}

void TqvrRibbonControl::Act(TqvrRibbonActionArguments& Args, const TqvrRibbonOnClick& handler) {
    switch (FClass->takes) {
        case TqvrActionState::Nothing: break;
        case TqvrActionState::Pressed: TakePressed(Args); break;
        case TqvrActionState::Text: TakeText(Args); break;
        case TqvrActionState::Selection: TakeSelection(Args); break;
    }
    RaiseAction(handler, Args.Control.Get());
}

// ---- creation by type code ----

std::unique_ptr<TqvrRibbonCustomControl> CreateRibbonControl(TqvrRibbonControlType type, TqvrRibbonControls* collection) {
    using C = TqvrRibbonCustomControl;
    switch (type) {
        case rctGroup: return C::Create<TqvrRibbonGroup>(collection);
        case rctBox: return C::Create<TqvrRibbonBox>(collection);
        case rctButtonGroup: return C::Create<TqvrRibbonButtonGroup>(collection);
        case rctButton: return C::Create<TqvrRibbonButton>(collection);
        case rctSplitButton: return C::Create<TqvrRibbonSplitButton>(collection);
        case rctLabel: return C::Create<TqvrRibbonLabel>(collection);
        case rctCheckBox: return C::Create<TqvrRibbonCheckBox>(collection);
        case rctEditBox: return C::Create<TqvrRibbonEditBox>(collection);
        case rctComboBox: return C::Create<TqvrRibbonComboBox>(collection);
        case rctDropDown: return C::Create<TqvrRibbonDropDown>(collection);
        case rctGallery: return C::Create<TqvrRibbonGallery>(collection);
        case rctMenu: return C::Create<TqvrRibbonMenu>(collection);
        case rctSeparator: return C::Create<TqvrRibbonSeparator>(collection);
        case rctMenuSeparator: return C::Create<TqvrRibbonMenuSeparator>(collection);
        case rctDialogBoxLauncher: return C::Create<TqvrRibbonDialogBoxLauncher>(collection);
        case rctItem: return C::Create<TqvrRibbonItem>(collection);
        default:
            // The command, tab, QAT, Office menu, context menu and Backstage codes have no ribbon
            // control class of their own.
            return C::CreateBare(collection, type);
    }
}

// ---- class behaviour ----

TqvrRibbonDialogBoxLauncher::TqvrRibbonDialogBoxLauncher(TqvrRibbonControls* c)
    : TqvrRibbonControl(c, rctDialogBoxLauncher) {
    for (TCollectionItem* item : c->Items())
        if (static_cast<TqvrRibbonCustomControl*>(item)->GetControlType() == rctDialogBoxLauncher)
            throw EqvrError(FormatText(L"There can be only one instance of %s in the %s!",
                                       {L"TqvrRibbonDialogBoxLauncher", L"Ribbon Group"}),
                            kErrSecondLauncher, ErrorKind::Ole, 0);
}

void TqvrRibbonSplitButton::AfterConstruction() {
    TqvrRibbonControlsHolder::AfterConstruction();
    Controls().Add();
}

void TqvrRibbonItem::InvalidateDropDown() {
    if (ContainerIs(rctDropDown)) ContainerControl()->Invalidate();
}

void TqvrRibbonItem::SetCaption(const std::wstring& value) {
    if (value == FCaption) return;
    TqvrRibbonCustomControl::SetCaption(value);
    InvalidateDropDown();
}

void TqvrRibbonItem::SetScreenTip(const std::wstring& value) {
    if (value == FScreenTip) return;
    TqvrRibbonCustomControl::SetScreenTip(value);
    InvalidateDropDown();
}

void TqvrRibbonItem::SetSuperTip(const std::wstring& value) {
    if (value == FSuperTip) return;
    TqvrRibbonCustomControl::SetSuperTip(value);
    InvalidateDropDown();
}

void TqvrRibbonItem::SetImageIndex(int32_t value) {
    if (value == FImageIndex) return;
    TqvrRibbonCustomControl::SetImageIndex(value);
    InvalidateDropDown();
}

void TqvrRibbonItem::GlyphChanged() {
    Invalidate();
    InvalidateDropDown();
}

void TqvrRibbonGallery::SetColumns(int32_t value) {
    if (value < 1 || value > 1024) return;
    SetAndInvalidate(FColumns, value);
}

void TqvrRibbonGallery::SetRows(int32_t value) {
    if (value < 1 || value > 1024) return;
    SetAndInvalidate(FRows, value);
}

void TqvrRibbonMenu::SetDynamic(bool value) {
    if (value == FDynamic) return;
    if (ContainerIs(rctSplitButton)) {
        TqvrRibbonTab* tab = OwningTab();
        if (value && tab && tab->DesignMode())
            ShowMessageDialog(L"The TqvrRibbonSplitButton control cannot contain a dynamic menu!", L"Information",
                              MB_OK | MB_ICONINFORMATION);
        return;
    }
    FDynamic = value;
}

void TqvrRibbonMenu::DoCreate() { Fire(OnCreate, static_cast<TObject*>(this)); }

void TqvrRibbonSplitButton::Invalidate() {
    TqvrRibbonCustomControl::Invalidate();
    TqvrCOMAddInModule* m = Module();
    IRibbonUI* ui = m ? m->RibbonUI() : nullptr;
    if (ui && FIDMso.empty() && !FID.empty()) ThrowIfFailed(ui->InvalidateControl(unique_bstr(FID + L"wrapped").get()));
}

// ---- element names ----

std::wstring TqvrRibbonButton::GetElementName() const {
    if (!FIDMso.empty() && FParseMsoXmlTypeAs == pxtControl) return L"control";
    if (ContainerIs(rctDropDown) || ContainerIs(rctGallery)) return L"button";
    return FToggleButton ? L"toggleButton" : L"button";
}

std::wstring TqvrRibbonMenu::GetElementName() const {
    if (!FIDMso.empty() && ContainerIdMso().empty()) return L"control";
    return FDynamic ? L"dynamicMenu" : L"menu";
}

// ---- attribute lists ----

namespace {

const wchar_t* Bool(bool b) { return b ? L"true" : L"false"; }

// A run of attributes with fixed values (callback names), added in order.
struct Attr {
    const wchar_t* name;
    const wchar_t* value;
};
void AddRun(TqvrXmlAttributes& a, std::span<const Attr> run) {
    for (const Attr& p : run) a.Add(p.name, p.value);
}

// The callbacks for the tips of a control of the add-in's own.
constexpr Attr kTipCallbacks[] = {
    {L"getKeytip", kGetKeyTip}, {L"getLabel", kGetLabel}, {L"getSupertip", kGetSuperTip}, {L"getScreentip", kGetScreenTip}};
// ... and for what it shows and whether it is enabled.
constexpr Attr kShowCallbacks[] = {
    {L"getShowLabel", kGetShowLabel}, {L"getShowImage", kGetShowImage}, {L"getEnabled", kGetEnabled}};
// The six callbacks by which Office reads a list's items.
constexpr Attr kItemCallbacks[] = {{L"getItemCount", kGetItemCount},         {L"getItemID", kGetItemID},
                                   {L"getItemImage", kGetItemImage},         {L"getItemLabel", kGetItemLabel},
                                   {L"getItemScreentip", kGetItemScreenTip}, {L"getItemSupertip", kGetItemSuperTip}};
// A control that reports its state and is told of changes of it.
constexpr Attr kStateAction[] = {{L"getPressed", kGetPressed}, {L"onAction", kOnActionState}};

void AddSelection(TqvrXmlAttributes& a, int32_t index, const std::wstring& id) {
    if (index >= 0)
        a.Add(L"getSelectedItemIndex", kGetSelectedItemIndex);
    else if (!id.empty())
        a.Add(L"getSelectedItemID", kGetSelectedItemId);
}

}  // namespace

void TqvrRibbonControl::AddBuiltInTips(TqvrXmlAttributes& a, bool keyTip) const {
    if (keyTip) a.Add(L"keytip", KeyTipToText(FKeyTip));
    a.Add(L"label", FCaption);
    a.Add(L"supertip", FSuperTip);
    a.Add(L"screentip", FScreenTip);
}

TqvrRibbonSharedContainer::Form TqvrRibbonSharedContainer::AddContainerStart(TqvrXmlAttributes& a,
                                                                            int32_t contextIndex) const {
    if (!FIDMso.empty()) {
        a.Add(L"getVisible", kGetVisible);
        a.Add(L"idMso", FIDMso);
        return Form::BuiltIn;
    }
    if (FShared && !ModuleNamespace().empty()) {
        AddSharedBlock(a, FID, FVisible);
        AddInsertBlock(a);
        return Form::Shared;
    }
    a.Add(L"getVisible", kGetVisible);
    AddIdBlock(a, contextIndex, false);
    AddInsertBlock(a);
    return Form::Own;
}

TqvrXmlAttributes TqvrRibbonSeparator::GetXmlAttributes(int32_t ContextIndex) const {
    TqvrXmlAttributes a;
    AddIdBlock(a, ContextIndex, false);
    AddInsertBlock(a);
    if (HostMajorVersion() >= 14) a.Add(L"getVisible", kGetVisible);
    return a;
}

TqvrXmlAttributes TqvrRibbonMenuSeparator::GetXmlAttributes(int32_t ContextIndex) const {
    TqvrXmlAttributes a;
    AddIdBlock(a, ContextIndex, true);
    AddInsertBlock(a);
    a.Add(L"getTitle", kGetTitle);
    return a;
}

TqvrXmlAttributes TqvrRibbonDialogBoxLauncher::GetXmlAttributes(int32_t ContextIndex) const {
    static constexpr Attr kOwn[] = {{L"getKeytip", kGetKeyTip},     {L"getSupertip", kGetSuperTip},
                                    {L"getScreentip", kGetScreenTip}, {L"getEnabled", kGetEnabled},
                                    {L"onAction", kOnActionCommon}, {L"getVisible", kGetVisible}};
    TqvrXmlAttributes a;
    if (!FIDMso.empty()) {
        AddBuiltInStart(a, false);
        if (ContainerIdMso().empty()) a.Add(L"getVisible", kGetVisible);
        return a;
    }
    AddIdBlock(a, ContextIndex, false);
    AddRun(a, kOwn);
    return a;
}

TqvrXmlAttributes TqvrRibbonGroup::GetXmlAttributes(int32_t ContextIndex) const {
    TqvrXmlAttributes a;
    switch (AddContainerStart(a, ContextIndex)) {
        case Form::BuiltIn: break;
        case Form::Shared:
            a.Add(L"keytip", KeyTipToText(FKeyTip));
            a.Add(L"label", FCaption);
            a.Add(L"screentip", FScreenTip);
            a.Add(L"supertip", FSuperTip);
            break;
        case Form::Own:
            AddImageBlock(a);
            a.Add(L"imageMso", FImageMso);
            AddRun(a, kTipCallbacks);
            break;
    }
    // Scaling and centring exist only in Office 2010's schema.
    if (HostMajorVersion() >= 14 && DocumentUses2009Namespace()) {
        if (FAutoScale) a.Add(L"autoScale", L"true");
        if (FCenterVertically) a.Add(L"centerVertically", L"true");
    }
    return a;
}

TqvrXmlAttributes TqvrRibbonBox::GetXmlAttributes(int32_t ContextIndex) const {
    TqvrXmlAttributes a;
    if (AddContainerStart(a, ContextIndex) != Form::BuiltIn)
        a.Add(L"boxStyle", FBoxStyle == bsVertical ? L"vertical" : L"horizontal");
    return a;
}

TqvrXmlAttributes TqvrRibbonButtonGroup::GetXmlAttributes(int32_t ContextIndex) const {
    TqvrXmlAttributes a;
    AddContainerStart(a, ContextIndex);
    return a;
}

TqvrXmlAttributes TqvrRibbonLabel::GetXmlAttributes(int32_t ContextIndex) const {
    static constexpr Attr kOwn[] = {{L"getLabel", kGetLabel},         {L"getSupertip", kGetSuperTip},
                                    {L"getScreentip", kGetScreenTip}, {L"getShowLabel", kGetShowLabel},
                                    {L"getEnabled", kGetEnabled}};
    TqvrXmlAttributes a;
    if (!FIDMso.empty()) {
        if (AddBuiltInStart(a, true)) return a;
        AddBuiltInTips(a, false);
        a.Add(L"showLabel", Bool(FShowCaption));
        a.Add(L"enabled", Bool(FEnabled));
    } else {
        AddIdBlock(a, ContextIndex, false);
        AddRun(a, kOwn);
    }
    AddInsertBlock(a);
    a.Add(L"getVisible", kGetVisible);
    return a;
}

TqvrXmlAttributes TqvrRibbonButton::GetXmlAttributes(int32_t ContextIndex) const {
    TqvrXmlAttributes a;
    bool inList = ContainerIs(rctDropDown) || ContainerIs(rctGallery);
    if (!FIDMso.empty()) {
        if (AddBuiltInStart(a, true)) return a;
        AddBuiltInTips(a, false);
        a.Add(L"showLabel", Bool(FShowCaption));
        a.Add(L"enabled", Bool(FEnabled));
    } else {
        AddIdBlock(a, ContextIndex, true);
        AddImageBlock(a);
        AddRun(a, kTipCallbacks);
        AddRun(a, kShowCallbacks);
        // A toggle button reports its state, except inside a list, where it is a plain button.
        if (FToggleButton && !inList)
            AddRun(a, kStateAction);
        else
            a.Add(L"onAction", kOnActionCommon);
    }
    AddInsertBlock(a);
    a.Add(L"imageMso", FImageMso);
    if (GetElementName() != L"control") a.Add(L"getDescription", kGetDescription);
    if (!(ContainerIs(rctGallery) || ContainerIs(rctMenu) || ContainerIs(rctDropDown) || ContainerIs(rctSplitButton) ||
          ContainerIs(rctButtonGroup)))
        a.Add(L"getSize", kGetSize);
    if (!ContainerIs(rctSplitButton)) a.Add(L"getVisible", kGetVisible);
    return a;
}

TqvrXmlAttributes TqvrRibbonCheckBox::GetXmlAttributes(int32_t ContextIndex) const {
    TqvrXmlAttributes a;
    if (!FIDMso.empty()) {
        if (AddBuiltInStart(a, true)) return a;
        AddBuiltInTips(a, true);
        a.Add(L"enabled", Bool(FEnabled));
        a.Add(L"description", FDescription);
    } else {
        AddIdBlock(a, ContextIndex, true);
        AddRun(a, kTipCallbacks);
        a.Add(L"getEnabled", kGetEnabled);
        a.Add(L"getDescription", kGetDescription);
        AddRun(a, kStateAction);
    }
    AddInsertBlock(a);
    a.Add(L"getVisible", kGetVisible);
    return a;
}

bool TqvrRibbonCustomControl::AddEditBoxList(TqvrXmlAttributes& a, int32_t contextIndex, int32_t maxLength,
                                             const std::wstring& sizeString) const {
    if (!FIDMso.empty()) {
        if (AddBuiltInStart(a, true)) return false;
        a.Add(L"keytip", KeyTipToText(FKeyTip));
        a.Add(L"label", FCaption);
        a.Add(L"supertip", FSuperTip);
        a.Add(L"screentip", FScreenTip);
        a.Add(L"showLabel", Bool(FShowCaption));
        a.Add(L"enabled", Bool(FEnabled));
        a.Add(L"imageMso", FImageMso);
        a.Add(L"showImage", Bool(!FImageMso.empty()));
        return true;
    }
    AddIdBlock(a, contextIndex, false);
    // Office accepts lengths up to 1024 only.
    if (maxLength >= 1 && maxLength <= 1024) a.Add(L"maxLength", qvr::DecimalText(maxLength));
    a.Add(L"sizeString", sizeString);
    AddImageBlock(a);
    a.Add(L"imageMso", FImageMso);
    AddRun(a, kTipCallbacks);
    AddRun(a, kShowCallbacks);
    a.Add(L"getText", kGetText);
    a.Add(L"onChange", kOnChange);
    return true;
}

TqvrXmlAttributes TqvrRibbonEditBox::GetXmlAttributes(int32_t ContextIndex) const {
    TqvrXmlAttributes a;
    if (!AddEditBoxList(a, ContextIndex, FMaxLength, FSizeString)) return a;
    AddInsertBlock(a);
    a.Add(L"getVisible", kGetVisible);
    return a;
}

TqvrXmlAttributes TqvrRibbonComboBox::GetXmlAttributes(int32_t ContextIndex) const {
    TqvrXmlAttributes a;
    if (!AddEditBoxList(a, ContextIndex, FMaxLength, FSizeString)) return a;
    if (FIDMso.empty()) {
        AddRun(a, kItemCallbacks);
        a.Add(L"invalidateContentOnDrop", L"true");
    }
    AddInsertBlock(a);
    a.Add(L"getVisible", kGetVisible);
    return a;
}

TqvrXmlAttributes TqvrRibbonDropDown::GetXmlAttributes(int32_t ContextIndex) const {
    TqvrXmlAttributes a;
    if (!FIDMso.empty()) {
        if (AddBuiltInStart(a, true)) return a;
        AddBuiltInTips(a, true);
        a.Add(L"showLabel", Bool(FShowCaption));
        a.Add(L"enabled", Bool(FEnabled));
        a.Add(L"showImage", Bool(!FImageMso.empty()));
    } else {
        AddIdBlock(a, ContextIndex, false);
        AddImageBlock(a);
        AddRun(a, kTipCallbacks);
        AddRun(a, kShowCallbacks);
        AddRun(a, kItemCallbacks);
        AddSelection(a, FSelectedItemIndex, FSelectedItemId);
        a.Add(L"onAction", kOnActionSelected);
        a.Add(L"sizeString", FSizeString);
        a.Add(L"showItemLabel", Bool(FShowItemCaption));
    }
    AddInsertBlock(a);
    a.Add(L"imageMso", FImageMso);
    a.Add(L"getVisible", kGetVisible);
    return a;
}

TqvrXmlAttributes TqvrRibbonGallery::GetXmlAttributes(int32_t ContextIndex) const {
    static constexpr Attr kSizeCallbacks[] = {{L"getItemHeight", kGetItemHeight},
                                              {L"getItemWidth", kGetItemWidth},
                                              {L"invalidateContentOnDrop", L"true"}};
    TqvrXmlAttributes a;
    if (!FIDMso.empty()) {
        if (AddBuiltInStart(a, true)) return a;
        AddBuiltInTips(a, true);
        if (!FShowCaption) a.Add(L"showLabel", L"false");
        a.Add(L"enabled", Bool(FEnabled));
        if (!FImageMso.empty()) a.Add(L"showImage", L"true");
    } else {
        AddIdBlock(a, ContextIndex, true);
        AddImageBlock(a);
        AddRun(a, kTipCallbacks);
        AddRun(a, kShowCallbacks);
        a.Add(L"showItemLabel", Bool(FShowItemCaption));
        AddRun(a, kItemCallbacks);
        AddSelection(a, FSelectedItemIndex, FSelectedItemId);
        a.Add(L"onAction", kOnActionSelected);
        a.Add(L"columns", qvr::DecimalText(FColumns));
        a.Add(L"rows", qvr::DecimalText(FRows));
        AddRun(a, kSizeCallbacks);
    }
    AddInsertBlock(a);
    a.Add(L"imageMso", FImageMso);
    a.Add(L"getVisible", kGetVisible);
    if (!(ContainerIs(rctMenu) || ContainerIs(rctButtonGroup))) a.Add(L"getSize", kGetSize);
    return a;
}

TqvrXmlAttributes TqvrRibbonMenu::GetXmlAttributes(int32_t ContextIndex) const {
    static constexpr Attr kDynamic[] = {{L"getContent", kGetContent}, {L"invalidateContentOnDrop", L"true"}};
    static constexpr Attr kOwn[] = {{L"getShowLabel", kGetShowLabel}, {L"getShowImage", kGetShowImage},
                                    {L"getEnabled", kGetEnabled},     {L"getDescription", kGetDescription},
                                    {L"getKeytip", kGetKeyTip},       {L"getLabel", kGetLabel}};
    TqvrXmlAttributes a;
    bool inSplitButton = ContainerIs(rctSplitButton);
    if (!FIDMso.empty()) {
        if (AddBuiltInStart(a, true)) return a;
        AddBuiltInTips(a, true);
        a.Add(L"showLabel", Bool(FShowCaption));
        a.Add(L"enabled", Bool(FEnabled));
        a.Add(L"showImage", Bool(!FImageMso.empty()));
        a.Add(L"description", FDescription);
    } else {
        AddIdBlock(a, ContextIndex, true);
        if (FDynamic)
            AddRun(a, kDynamic);
        else
            a.Add(L"itemSize", FItemSize == TqvrRibbonXItemSize::Large ? L"large" : L"normal");
        AddImageBlock(a);
        AddRun(a, kOwn);
        // Office takes a split button's menu tip only as a fixed value.
        if (inSplitButton)
            a.Add(L"supertip", FSuperTip);
        else
            a.Add(L"getSupertip", kGetSuperTip);
        a.Add(L"getScreentip", kGetScreenTip);
    }
    AddInsertBlock(a);
    a.Add(L"imageMso", FImageMso);
    if (!(ContainerIs(rctMenu) || inSplitButton || ContainerIs(rctButtonGroup))) a.Add(L"getSize", kGetSize);
    a.Add(L"getVisible", kGetVisible);
    return a;
}

TqvrXmlAttributes TqvrRibbonSplitButton::GetXmlAttributes(int32_t ContextIndex) const {
    TqvrXmlAttributes a;
    if (!FIDMso.empty()) {
        if (AddBuiltInStart(a, true)) return a;
        a.Add(L"showLabel", Bool(FShowCaption));
        a.Add(L"enabled", Bool(FEnabled));
        a.Add(L"keytip", KeyTipToText(FKeyTip));
    } else {
        AddIdBlock(a, ContextIndex, true);
        a.Add(L"getShowLabel", kGetShowLabel);
        a.Add(L"getEnabled", kGetEnabled);
        a.Add(L"getKeytip", kGetKeyTip);
    }
    AddInsertBlock(a);
    if (!(ContainerIs(rctMenu) || ContainerIs(rctButtonGroup))) a.Add(L"getSize", kGetSize);
    a.Add(L"getVisible", kGetVisible);
    return a;
}

TqvrXmlAttributes TqvrRibbonSplitButton::GetWrappedButtonXmlAttributes(int32_t ContextIndex) const {
    static constexpr Attr kTips[] = {{L"getLabel", kGetLabel},           {L"getSupertip", kGetSuperTip},
                                     {L"getScreentip", kGetScreenTip},   {L"getShowImage", kGetShowImage},
                                     {L"getDescription", kGetDescription}};
    TqvrXmlAttributes a;
    std::wstring id = FID + L"wrapped";
    if (!ModuleNamespace().empty())
        a.Add(L"idQ", L"default:" + id);
    else if (ContextIndex > 0)
        a.Add(L"id", id + kContextMenuMarker + qvr::DecimalText(ContextIndex));
    else
        a.Add(L"id", id);
    AddImageBlock(a);
    a.Add(L"imageMso", FImageMso);
    AddRun(a, kTips);
    if (FToggleButton)
        AddRun(a, kStateAction);
    else
        a.Add(L"onAction", kOnActionCommon);
    return a;
}

}  // namespace qvr
