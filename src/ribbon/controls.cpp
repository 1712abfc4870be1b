#include "ribbon/controls.h"

#include "com/dialogs.h"
#include "com/error.h"

namespace qvr {

using namespace ribbonxml;

// ---- the published properties ----

namespace {

using C = TqvrRibbonCustomControl;
using Out = std::vector<FormProperty>;

template <typename T, auto Get, auto Set>
TqvrControlProperty StringProperty(const wchar_t* name) {
    return {name, [](C& c, const FormProperty& p) { (static_cast<T&>(c).*Set)(p.value.AsString()); },
            [](const C& c, const wchar_t* n, Out& o) {
                std::wstring v = (static_cast<const T&>(c).*Get)();
                if (!v.empty()) o.push_back({n, FormValue::String(v)});
            }};
}

template <typename T, auto Get, auto Set, bool Default>
TqvrControlProperty BoolProperty(const wchar_t* name) {
    return {name, [](C& c, const FormProperty& p) { (static_cast<T&>(c).*Set)(p.value.AsBoolean()); },
            [](const C& c, const wchar_t* n, Out& o) {
                bool v = (static_cast<const T&>(c).*Get)();
                if (v != Default) o.push_back({n, FormValue::Boolean(v)});
            }};
}

template <typename T, auto Get, auto Set, int32_t Default>
TqvrControlProperty IntProperty(const wchar_t* name) {
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
TqvrControlProperty EnumProperty(const wchar_t* name) {
    return {name, [](C& c, const FormProperty& p) { (static_cast<T&>(c).*Set)(Names.Parse(p.value)); },
            [](const C& c, const wchar_t* n, Out& o) {
                auto v = (static_cast<const T&>(c).*Get)();
                if (v != Default) o.push_back({n, FormValue::Ident(Names.names[static_cast<size_t>(v)])});
            }};
}

template <typename T, auto Member>
TqvrControlProperty EventProperty(const wchar_t* name) {
    return {name, [](C& c, const FormProperty& p) { c.BindEvent(static_cast<T&>(c).*Member, p); },
            [](const C& c, const wchar_t* n, Out& o) {
                std::wstring method = c.BoundMethod(n);
                if (!method.empty()) o.push_back({n, FormValue::Ident(method)});
            }};
}

// Id has no default: it is always stored.
const TqvrControlProperty kId{L"Id", [](C& c, const FormProperty& p) { c.SetId(p.value.AsString()); },
                              [](const C& c, const wchar_t* n, Out& o) { o.push_back({n, FormValue::String(c.Id())}); }};
const TqvrControlProperty kInsertAfterIdMso = StringProperty<C, &C::InsertAfterIdMso, &C::SetInsertAfterIdMso>(L"InsertAfterIdMso");
const TqvrControlProperty kInsertAfterId = StringProperty<C, &C::InsertAfterId, &C::SetInsertAfterId>(L"InsertAfterId");
const TqvrControlProperty kInsertBeforeIdMso =
    StringProperty<C, &C::InsertBeforeIdMso, &C::SetInsertBeforeIdMso>(L"InsertBeforeIdMso");
const TqvrControlProperty kInsertBeforeId = StringProperty<C, &C::InsertBeforeId, &C::SetInsertBeforeId>(L"InsertBeforeId");
const TqvrControlProperty kDescription = StringProperty<C, &C::Description, &C::SetDescription>(L"Description");
const TqvrControlProperty kEnabled = BoolProperty<C, &C::Enabled, &C::SetEnabled, true>(L"Enabled");
const TqvrControlProperty kIdMso = StringProperty<C, &C::IdMso, &C::SetIdMso>(L"IdMso");
const TqvrControlProperty kImageIndex = IntProperty<C, &C::ImageIndex, &C::SetImageIndex, -1>(L"ImageIndex");
const TqvrControlProperty kImageMso = StringProperty<C, &C::ImageMso, &C::SetImageMso>(L"ImageMso");
const TqvrControlProperty kItemHeight = IntProperty<C, &C::ItemHeight, &C::SetItemHeight, -1>(L"ItemHeight");
const TqvrControlProperty kItemWidth = IntProperty<C, &C::ItemWidth, &C::SetItemWidth, -1>(L"ItemWidth");
const TqvrControlProperty kPressed = BoolProperty<C, &C::Pressed, &C::SetPressed, false>(L"Pressed");
const TqvrControlProperty kScreenTip = StringProperty<C, &C::ScreenTip, &C::SetScreenTip>(L"ScreenTip");
const TqvrControlProperty kSelectedItemId = StringProperty<C, &C::SelectedItemId, &C::SetSelectedItemId>(L"SelectedItemId");
const TqvrControlProperty kSelectedItemIndex =
    IntProperty<C, &C::SelectedItemIndex, &C::SetSelectedItemIndex, -1>(L"SelectedItemIndex");
const TqvrControlProperty kShowCaption = BoolProperty<C, &C::ShowCaption, &C::SetShowCaption, true>(L"ShowCaption");
const TqvrControlProperty kSize = EnumProperty<C, &C::Size, &C::SetSize, csRegular, kSizeNames>(L"Size");
const TqvrControlProperty kSuperTip = StringProperty<C, &C::SuperTip, &C::SetSuperTip>(L"SuperTip");
const TqvrControlProperty kText = StringProperty<C, &C::Text, &C::SetText>(L"Text");
const TqvrControlProperty kTitle = StringProperty<C, &C::Title, &C::SetTitle>(L"Title");
const TqvrControlProperty kVisible = BoolProperty<C, &C::Visible, &C::SetVisible, true>(L"Visible");
const TqvrControlProperty kTag = IntProperty<C, &C::Tag, &C::SetTag, 0>(L"Tag");
const TqvrControlProperty kOnPropertyChanging = EventProperty<C, &C::OnPropertyChanging>(L"OnPropertyChanging");
const TqvrControlProperty kKeyTip{L"KeyTip",
                                  [](C& c, const FormProperty& p) { c.SetKeyTip(KeyTipFromText(p.value.AsString())); },
                                  [](const C& c, const wchar_t* n, Out& o) {
                                      if (!c.KeyTip().empty()) o.push_back({n, FormValue::String(KeyTipToText(c.KeyTip()))});
                                  }};
const TqvrControlProperty kGlyph{L"Glyph",
                                 [](C& c, const FormProperty& p) {
                                     if (p.value.kind != FormValue::Kind::Binary) throw EqvrError(L"Invalid property value");
                                     c.GlyphBitmap().LoadFromBytes(p.value.bytes);
                                 },
                                 [](const C& c, const wchar_t* n, Out& o) {
                                     if (!c.Glyph()->Empty()) o.push_back({n, FormValue::Binary(c.Glyph()->SaveToBytes())});
                                 }};
// Collections of a single item class.
const TqvrControlProperty kControls{L"Controls", [](C& c, const FormProperty& p) { c.GetControls()->ReadItems(p.value); },
                                    [](const C& c, const wchar_t* n, Out& o) {
                                        if (c.GetControls()->Count()) o.push_back({n, c.GetControls()->WriteItems()});
                                    }};
const TqvrControlProperty kItems{L"Items", [](C& c, const FormProperty& p) { c.GetItems()->ReadItems(p.value); },
                                 [](const C& c, const wchar_t* n, Out& o) {
                                     if (c.GetItems()->Count()) o.push_back({n, c.GetItems()->WriteItems()});
                                 }};

// Id and the placement properties, then the class's own, then Tag and OnPropertyChanging.
TqvrControlProperties Published(std::initializer_list<TqvrControlProperty> own, bool placement = true) {
    TqvrControlProperties out{kId};
    if (placement) out.insert(out.end(), {kInsertAfterIdMso, kInsertAfterId, kInsertBeforeIdMso, kInsertBeforeId});
    out.insert(out.end(), own);
    out.insert(out.end(), {kTag, kOnPropertyChanging});
    return out;
}

}  // namespace

const TqvrControlProperties& ribbonprops::BaseProperties() {
    static const TqvrControlProperties properties{kTag, kOnPropertyChanging};
    return properties;
}

const TqvrControlProperties& TqvrRibbonSeparator::PublishedProperties() const {
    static const TqvrControlProperties p = Published({kVisible});
    return p;
}

const TqvrControlProperties& TqvrRibbonMenuSeparator::PublishedProperties() const {
    static const TqvrControlProperties p = Published({});
    return p;
}

const TqvrControlProperties& TqvrRibbonDialogBoxLauncher::PublishedProperties() const {
    using T = TqvrRibbonDialogBoxLauncher;
    static const TqvrControlProperties p = Published(
        {kEnabled, kIdMso, kKeyTip, kScreenTip, kSuperTip, kVisible, EventProperty<T, &T::OnClick>(L"OnClick")}, false);
    return p;
}

const TqvrControlProperties& TqvrRibbonItem::PublishedProperties() const {
    static const TqvrControlProperties p = Published({kGlyph, kImageIndex, kScreenTip, kSuperTip}, false);
    return p;
}

const TqvrControlProperties& TqvrRibbonGroup::PublishedProperties() const {
    using T = TqvrRibbonGroup;
    static const TqvrControlProperties p =
        Published({kIdMso, kImageIndex, kImageMso, kGlyph, kKeyTip, kScreenTip,
                   BoolProperty<T, &T::Shared, &T::SetShared, false>(L"Shared"), kSuperTip, kVisible,
                   BoolProperty<T, &T::AutoScale, &T::SetAutoScale, false>(L"AutoScale"),
                   BoolProperty<T, &T::CenterVertically, &T::SetCenterVertically, false>(L"CenterVertically")});
    return p;
}

const TqvrControlProperties& TqvrRibbonLabel::PublishedProperties() const {
    static const TqvrControlProperties p = Published({kEnabled, kIdMso, kScreenTip, kShowCaption, kSuperTip, kVisible});
    return p;
}

const TqvrControlProperties& TqvrRibbonButton::PublishedProperties() const {
    using T = TqvrRibbonButton;
    static const TqvrControlProperties p = Published(
        {kDescription, kEnabled, kGlyph, kIdMso, kImageIndex, kImageMso, kKeyTip,
         EnumProperty<T, &T::ParseMsoXmlTypeAs, &T::SetParseMsoXmlTypeAs, pxtDefault, kParseAsNames>(L"ParseMsoXmlTypeAs"),
         kPressed, kScreenTip, kShowCaption, kSize, kSuperTip,
         BoolProperty<T, &T::ToggleButton, &T::SetToggleButton, false>(L"ToggleButton"), kVisible,
         EventProperty<T, &T::OnClick>(L"OnClick")});
    return p;
}

const TqvrControlProperties& TqvrRibbonCheckBox::PublishedProperties() const {
    using T = TqvrRibbonCheckBox;
    static const TqvrControlProperties p = Published({kDescription, kEnabled, kIdMso, kKeyTip, kPressed, kScreenTip,
                                                      kSuperTip, kVisible, EventProperty<T, &T::OnClick>(L"OnClick")});
    return p;
}

const TqvrControlProperties& TqvrRibbonEditBox::PublishedProperties() const {
    using T = TqvrRibbonEditBox;
    static const TqvrControlProperties p =
        Published({kEnabled, kGlyph, kIdMso, kImageIndex, kImageMso, kKeyTip,
                   IntProperty<T, &T::MaxLength, &T::SetMaxLength, 0>(L"MaxLength"), kScreenTip, kShowCaption,
                   StringProperty<T, &T::SizeString, &T::SetSizeString>(L"SizeString"), kSuperTip, kText, kVisible,
                   EventProperty<T, &T::OnChange>(L"OnChange")});
    return p;
}

const TqvrControlProperties& TqvrRibbonComboBox::PublishedProperties() const {
    using T = TqvrRibbonComboBox;
    static const TqvrControlProperties p =
        Published({kEnabled, kGlyph, kIdMso, kImageIndex, kImageMso, kItems, kKeyTip,
                   IntProperty<T, &T::MaxLength, &T::SetMaxLength, 0>(L"MaxLength"), kScreenTip, kShowCaption,
                   StringProperty<T, &T::SizeString, &T::SetSizeString>(L"SizeString"), kSuperTip, kText, kVisible,
                   EventProperty<T, &T::OnChange>(L"OnChange"),
                   EventProperty<T, &T::OnItemPropertyChanging>(L"OnItemPropertyChanging")});
    return p;
}

const TqvrControlProperties& TqvrRibbonDropDown::PublishedProperties() const {
    using T = TqvrRibbonDropDown;
    static const TqvrControlProperties p =
        Published({kControls, kEnabled, kGlyph, kIdMso, kImageIndex, kImageMso, kItems, kKeyTip, kScreenTip,
                   kSelectedItemId, kSelectedItemIndex, kShowCaption,
                   BoolProperty<T, &T::ShowItemCaption, &T::SetShowItemCaption, true>(L"ShowItemCaption"),
                   StringProperty<T, &T::SizeString, &T::SetSizeString>(L"SizeString"), kSuperTip, kVisible,
                   EventProperty<T, &T::OnChange>(L"OnChange"),
                   EventProperty<T, &T::OnItemPropertyChanging>(L"OnItemPropertyChanging")});
    return p;
}

const TqvrControlProperties& TqvrRibbonGallery::PublishedProperties() const {
    using T = TqvrRibbonGallery;
    static const TqvrControlProperties p =
        Published({kControls, IntProperty<T, &T::Columns, &T::SetColumns, 1>(L"Columns"), kDescription, kEnabled, kGlyph,
                   kIdMso, kImageIndex, kImageMso, kItemHeight, kItems, kItemWidth, kKeyTip,
                   IntProperty<T, &T::Rows, &T::SetRows, 1>(L"Rows"), kScreenTip, kSelectedItemId, kSelectedItemIndex,
                   kShowCaption, BoolProperty<T, &T::ShowItemCaption, &T::SetShowItemCaption, true>(L"ShowItemCaption"),
                   kSize, kSuperTip, kVisible, EventProperty<T, &T::OnChange>(L"OnChange"),
                   EventProperty<T, &T::OnItemPropertyChanging>(L"OnItemPropertyChanging")});
    return p;
}

const TqvrControlProperties& TqvrRibbonMenu::PublishedProperties() const {
    using T = TqvrRibbonMenu;
    static const TqvrControlProperties p = Published(
        {kDescription, BoolProperty<T, &T::Dynamic, &T::SetDynamic, false>(L"Dynamic"), kEnabled, kGlyph, kIdMso,
         kImageIndex, kImageMso,
         EnumProperty<T, &T::ItemSize, &T::SetItemSize, TqvrRibbonXItemSize::Normal, kItemSizeNames>(L"ItemSize"),
         kKeyTip, kScreenTip, kShowCaption, kSize, kSuperTip, kTitle, kVisible,
         EventProperty<T, &T::OnCreate>(L"OnCreate")});
    return p;
}

const TqvrControlProperties& TqvrRibbonSplitButton::PublishedProperties() const {
    using T = TqvrRibbonSplitButton;
    static const TqvrControlProperties p =
        Published({kControls, kDescription, kEnabled, kGlyph, kIdMso, kImageIndex, kImageMso, kKeyTip, kPressed,
                   kScreenTip, kShowCaption, kSize, BoolProperty<T, &T::ToggleButton, &T::SetToggleButton, false>(L"ToggleButton"),
                   kSuperTip, kVisible, EventProperty<T, &T::OnClick>(L"OnClick")});
    return p;
}

const TqvrControlProperties& TqvrRibbonBox::PublishedProperties() const {
    using T = TqvrRibbonBox;
    static const TqvrControlProperties p =
        Published({EnumProperty<T, &T::BoxStyle, &T::SetBoxStyle, bsHorizontal, kBoxStyleNames>(L"BoxStyle"),
                   BoolProperty<T, &T::Shared, &T::SetShared, false>(L"Shared"), kVisible});
    return p;
}

const TqvrControlProperties& TqvrRibbonButtonGroup::PublishedProperties() const {
    using T = TqvrRibbonButtonGroup;
    static const TqvrControlProperties p =
        Published({BoolProperty<T, &T::Shared, &T::SetShared, false>(L"Shared"), kVisible});
    return p;
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

// ---- constructors ----

TqvrRibbonDialogBoxLauncher::TqvrRibbonDialogBoxLauncher(TqvrRibbonControls* c) : TqvrRibbonCustomControl(c) {
    for (TCollectionItem* item : c->Items())
        if (static_cast<TqvrRibbonCustomControl*>(item)->GetControlType() == rctDialogBoxLauncher)
            throw EqvrError(FormatText(L"There can be only one instance of %s in the %s!",
                                       {L"TqvrRibbonDialogBoxLauncher", L"Ribbon Group"}),
                            kErrSecondLauncher, ErrorKind::Ole, 0);
}

TqvrRibbonGroup::TqvrRibbonGroup(TqvrRibbonControls* c)
    : TqvrRibbonCustomControl(c), FControls(std::make_unique<TqvrRibbonControls>(this, rctCommand, 1000)) {}

TqvrRibbonComboBox::TqvrRibbonComboBox(TqvrRibbonControls* c)
    : TqvrRibbonCustomControl(c), FItems(std::make_unique<TqvrRibbonItems>(this, 1000)) {}

TqvrRibbonDropDown::TqvrRibbonDropDown(TqvrRibbonControls* c)
    : TqvrRibbonCustomControl(c),
      FControls(std::make_unique<TqvrRibbonControls>(this, rctButton, 16)),
      FItems(std::make_unique<TqvrRibbonItems>(this, 1000)) {}

TqvrRibbonGallery::TqvrRibbonGallery(TqvrRibbonControls* c)
    : TqvrRibbonCustomControl(c),
      FControls(std::make_unique<TqvrRibbonControls>(this, rctButton, 16)),
      FItems(std::make_unique<TqvrRibbonItems>(this, 1000)) {}

TqvrRibbonMenu::TqvrRibbonMenu(TqvrRibbonControls* c)
    : TqvrRibbonCustomControl(c), FControls(std::make_unique<TqvrRibbonControls>(this, rctCommand, 1000)) {}

TqvrRibbonSplitButton::TqvrRibbonSplitButton(TqvrRibbonControls* c)
    : TqvrRibbonCustomControl(c), FControls(std::make_unique<TqvrRibbonControls>(this, rctMenu, 10)) {
    FPressed = false;
    FToggleButton = false;
}

void TqvrRibbonSplitButton::AfterConstruction() {
    TqvrRibbonCustomControl::AfterConstruction();
    FControls->Add();
}

TqvrRibbonBox::TqvrRibbonBox(TqvrRibbonControls* c)
    : TqvrRibbonCustomControl(c), FControls(std::make_unique<TqvrRibbonControls>(this, rctCommand, 1000)) {}

TqvrRibbonButtonGroup::TqvrRibbonButtonGroup(TqvrRibbonControls* c)
    : TqvrRibbonCustomControl(c), FControls(std::make_unique<TqvrRibbonControls>(this, rctCommand, 1000)) {}

// ---- class behaviour ----

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

// ---- actions ----

void TqvrRibbonDialogBoxLauncher::DoAction(TqvrRibbonActionArguments& Args) { RaiseAction(OnClick, Args.Control.Get()); }

#define QVR_ACTION(Class, Take, Event)                      \
    void Class::DoAction(TqvrRibbonActionArguments& Args) { \
        Take(Args);                                         \
        RaiseAction(Event, Args.Control.Get());             \
    }
QVR_ACTION(TqvrRibbonButton, TakePressed, OnClick)
QVR_ACTION(TqvrRibbonCheckBox, TakePressed, OnClick)
QVR_ACTION(TqvrRibbonSplitButton, TakePressed, OnClick)
QVR_ACTION(TqvrRibbonEditBox, TakeText, OnChange)
QVR_ACTION(TqvrRibbonComboBox, TakeText, OnChange)
QVR_ACTION(TqvrRibbonDropDown, TakeSelection, OnChange)
QVR_ACTION(TqvrRibbonGallery, TakeSelection, OnChange)
#undef QVR_ACTION

namespace {

bool IsItemProperty(TqvrRibbonControlPropertyType t) {
    return t == rcptItemID || t == rcptItemCaption || t == rcptItemScreenTip || t == rcptItemSuperTip ||
           t == rcptItemGlyph;
}

}  // namespace

// Lists raise their item event for questions about one item, and nothing without it.
#define QVR_LIST_PROPERTY_CHANGING(Class)                                                                  \
    void Class::DoPropertyChanging(TqvrRibbonControlPropertyType PropertyType, unique_variant& Value,      \
                                   IDispatch* Context, int32_t Index) {                                    \
        if (IsItemProperty(PropertyType))                                                                  \
            Fire(OnItemPropertyChanging, static_cast<TObject*>(this), PropertyType, Value, Context, Index); \
        else                                                                                               \
            TqvrRibbonCustomControl::DoPropertyChanging(PropertyType, Value, Context, Index);              \
    }
QVR_LIST_PROPERTY_CHANGING(TqvrRibbonComboBox)
QVR_LIST_PROPERTY_CHANGING(TqvrRibbonDropDown)
QVR_LIST_PROPERTY_CHANGING(TqvrRibbonGallery)
#undef QVR_LIST_PROPERTY_CHANGING

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

std::wstring Bool(bool b) { return b ? L"true" : L"false"; }

// The six callbacks by which Office reads a list's items.
void AddItemCallbacks(TqvrXmlAttributes& a) {
    a.Add(L"getItemCount", kGetItemCount);
    a.Add(L"getItemID", kGetItemID);
    a.Add(L"getItemImage", kGetItemImage);
    a.Add(L"getItemLabel", kGetItemLabel);
    a.Add(L"getItemScreentip", kGetItemScreenTip);
    a.Add(L"getItemSupertip", kGetItemSuperTip);
}

void AddSelection(TqvrXmlAttributes& a, int32_t index, const std::wstring& id) {
    if (index >= 0)
        a.Add(L"getSelectedItemIndex", kGetSelectedItemIndex);
    else if (!id.empty())
        a.Add(L"getSelectedItemID", kGetSelectedItemId);
}

}  // namespace

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
    TqvrXmlAttributes a;
    if (!FIDMso.empty()) {
        AddBuiltInStart(a, false);
        if (ContainerIdMso().empty()) a.Add(L"getVisible", kGetVisible);
        return a;
    }
    AddIdBlock(a, ContextIndex, false);
    a.Add(L"getKeytip", kGetKeyTip);
    a.Add(L"getSupertip", kGetSuperTip);
    a.Add(L"getScreentip", kGetScreenTip);
    a.Add(L"getEnabled", kGetEnabled);
    a.Add(L"onAction", kOnActionCommon);
    a.Add(L"getVisible", kGetVisible);
    return a;
}

TqvrXmlAttributes TqvrRibbonGroup::GetXmlAttributes(int32_t ContextIndex) const {
    TqvrXmlAttributes a;
    std::wstring ns = ModuleNamespace();
    if (!FIDMso.empty()) {
        a.Add(L"getVisible", kGetVisible);
        a.Add(L"idMso", FIDMso);
    } else if (FShared && !ns.empty()) {
        AddSharedBlock(a, FID, FVisible);
        AddInsertBlock(a);
        a.Add(L"keytip", KeyTipToText(FKeyTip));
        a.Add(L"label", FCaption);
        a.Add(L"screentip", FScreenTip);
        a.Add(L"supertip", FSuperTip);
    } else {
        a.Add(L"getVisible", kGetVisible);
        AddIdBlock(a, ContextIndex, false);
        AddInsertBlock(a);
        AddImageBlock(a);
        a.Add(L"imageMso", FImageMso);
        a.Add(L"getKeytip", kGetKeyTip);
        a.Add(L"getLabel", kGetLabel);
        a.Add(L"getSupertip", kGetSuperTip);
        a.Add(L"getScreentip", kGetScreenTip);
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
    std::wstring ns = ModuleNamespace();
    std::wstring style = FBoxStyle == bsVertical ? L"vertical" : L"horizontal";
    if (!FIDMso.empty()) {
        a.Add(L"getVisible", kGetVisible);
        a.Add(L"idMso", FIDMso);
    } else if (FShared && !ns.empty()) {
        AddSharedBlock(a, FID, FVisible);
        AddInsertBlock(a);
        a.Add(L"boxStyle", style);
    } else {
        a.Add(L"getVisible", kGetVisible);
        AddIdBlock(a, ContextIndex, false);
        AddInsertBlock(a);
        a.Add(L"boxStyle", style);
    }
    return a;
}

TqvrXmlAttributes TqvrRibbonButtonGroup::GetXmlAttributes(int32_t ContextIndex) const {
    TqvrXmlAttributes a;
    std::wstring ns = ModuleNamespace();
    if (!FIDMso.empty()) {
        a.Add(L"getVisible", kGetVisible);
        a.Add(L"idMso", FIDMso);
    } else if (FShared && !ns.empty()) {
        AddSharedBlock(a, FID, FVisible);
        AddInsertBlock(a);
    } else {
        a.Add(L"getVisible", kGetVisible);
        AddIdBlock(a, ContextIndex, false);
        AddInsertBlock(a);
    }
    return a;
}

TqvrXmlAttributes TqvrRibbonLabel::GetXmlAttributes(int32_t ContextIndex) const {
    TqvrXmlAttributes a;
    if (!FIDMso.empty()) {
        if (AddBuiltInStart(a, true)) return a;
        a.Add(L"label", FCaption);
        a.Add(L"supertip", FSuperTip);
        a.Add(L"screentip", FScreenTip);
        a.Add(L"showLabel", Bool(FShowCaption));
        a.Add(L"enabled", Bool(FEnabled));
    } else {
        AddIdBlock(a, ContextIndex, false);
        a.Add(L"getLabel", kGetLabel);
        a.Add(L"getSupertip", kGetSuperTip);
        a.Add(L"getScreentip", kGetScreenTip);
        a.Add(L"getShowLabel", kGetShowLabel);
        a.Add(L"getEnabled", kGetEnabled);
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
        a.Add(L"label", FCaption);
        a.Add(L"supertip", FSuperTip);
        a.Add(L"screentip", FScreenTip);
        a.Add(L"showLabel", Bool(FShowCaption));
        a.Add(L"enabled", Bool(FEnabled));
    } else {
        AddIdBlock(a, ContextIndex, true);
        AddImageBlock(a);
        a.Add(L"getKeytip", kGetKeyTip);
        a.Add(L"getLabel", kGetLabel);
        a.Add(L"getSupertip", kGetSuperTip);
        a.Add(L"getScreentip", kGetScreenTip);
        a.Add(L"getShowLabel", kGetShowLabel);
        a.Add(L"getShowImage", kGetShowImage);
        a.Add(L"getEnabled", kGetEnabled);
        // A toggle button reports its state, except inside a list, where it is a plain button.
        if (FToggleButton && !inList) {
            a.Add(L"getPressed", kGetPressed);
            a.Add(L"onAction", kOnActionState);
        } else {
            a.Add(L"onAction", kOnActionCommon);
        }
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
        a.Add(L"keytip", KeyTipToText(FKeyTip));
        a.Add(L"label", FCaption);
        a.Add(L"supertip", FSuperTip);
        a.Add(L"screentip", FScreenTip);
        a.Add(L"enabled", Bool(FEnabled));
        a.Add(L"description", FDescription);
    } else {
        AddIdBlock(a, ContextIndex, true);
        a.Add(L"getKeytip", kGetKeyTip);
        a.Add(L"getLabel", kGetLabel);
        a.Add(L"getSupertip", kGetSuperTip);
        a.Add(L"getScreentip", kGetScreenTip);
        a.Add(L"getEnabled", kGetEnabled);
        a.Add(L"getDescription", kGetDescription);
        a.Add(L"getPressed", kGetPressed);
        a.Add(L"onAction", kOnActionState);
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
    if (maxLength >= 1 && maxLength <= 1024) a.Add(L"maxLength", std::to_wstring(maxLength));
    a.Add(L"sizeString", sizeString);
    AddImageBlock(a);
    a.Add(L"imageMso", FImageMso);
    a.Add(L"getKeytip", kGetKeyTip);
    a.Add(L"getLabel", kGetLabel);
    a.Add(L"getSupertip", kGetSuperTip);
    a.Add(L"getScreentip", kGetScreenTip);
    a.Add(L"getShowLabel", kGetShowLabel);
    a.Add(L"getShowImage", kGetShowImage);
    a.Add(L"getEnabled", kGetEnabled);
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
        AddItemCallbacks(a);
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
        a.Add(L"keytip", KeyTipToText(FKeyTip));
        a.Add(L"label", FCaption);
        a.Add(L"supertip", FSuperTip);
        a.Add(L"screentip", FScreenTip);
        a.Add(L"showLabel", Bool(FShowCaption));
        a.Add(L"enabled", Bool(FEnabled));
        a.Add(L"showImage", Bool(!FImageMso.empty()));
    } else {
        AddIdBlock(a, ContextIndex, false);
        AddImageBlock(a);
        a.Add(L"getKeytip", kGetKeyTip);
        a.Add(L"getLabel", kGetLabel);
        a.Add(L"getSupertip", kGetSuperTip);
        a.Add(L"getScreentip", kGetScreenTip);
        a.Add(L"getShowLabel", kGetShowLabel);
        a.Add(L"getShowImage", kGetShowImage);
        a.Add(L"getEnabled", kGetEnabled);
        AddItemCallbacks(a);
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
    TqvrXmlAttributes a;
    if (!FIDMso.empty()) {
        if (AddBuiltInStart(a, true)) return a;
        a.Add(L"keytip", KeyTipToText(FKeyTip));
        a.Add(L"label", FCaption);
        a.Add(L"supertip", FSuperTip);
        a.Add(L"screentip", FScreenTip);
        if (!FShowCaption) a.Add(L"showLabel", L"false");
        a.Add(L"enabled", Bool(FEnabled));
        if (!FImageMso.empty()) a.Add(L"showImage", L"true");
    } else {
        AddIdBlock(a, ContextIndex, true);
        AddImageBlock(a);
        a.Add(L"getKeytip", kGetKeyTip);
        a.Add(L"getLabel", kGetLabel);
        a.Add(L"getSupertip", kGetSuperTip);
        a.Add(L"getScreentip", kGetScreenTip);
        a.Add(L"getShowLabel", kGetShowLabel);
        a.Add(L"getShowImage", kGetShowImage);
        a.Add(L"getEnabled", kGetEnabled);
        a.Add(L"showItemLabel", Bool(FShowItemCaption));
        AddItemCallbacks(a);
        AddSelection(a, FSelectedItemIndex, FSelectedItemId);
        a.Add(L"onAction", kOnActionSelected);
        a.Add(L"columns", std::to_wstring(FColumns));
        a.Add(L"rows", std::to_wstring(FRows));
        a.Add(L"getItemHeight", kGetItemHeight);
        a.Add(L"getItemWidth", kGetItemWidth);
        a.Add(L"invalidateContentOnDrop", L"true");
    }
    AddInsertBlock(a);
    a.Add(L"imageMso", FImageMso);
    a.Add(L"getVisible", kGetVisible);
    if (!(ContainerIs(rctMenu) || ContainerIs(rctButtonGroup))) a.Add(L"getSize", kGetSize);
    return a;
}

TqvrXmlAttributes TqvrRibbonMenu::GetXmlAttributes(int32_t ContextIndex) const {
    TqvrXmlAttributes a;
    bool inSplitButton = ContainerIs(rctSplitButton);
    if (!FIDMso.empty()) {
        if (AddBuiltInStart(a, true)) return a;
        a.Add(L"keytip", KeyTipToText(FKeyTip));
        a.Add(L"label", FCaption);
        a.Add(L"supertip", FSuperTip);
        a.Add(L"screentip", FScreenTip);
        a.Add(L"showLabel", Bool(FShowCaption));
        a.Add(L"enabled", Bool(FEnabled));
        a.Add(L"showImage", Bool(!FImageMso.empty()));
        a.Add(L"description", FDescription);
    } else {
        AddIdBlock(a, ContextIndex, true);
        if (FDynamic) {
            a.Add(L"getContent", kGetContent);
            a.Add(L"invalidateContentOnDrop", L"true");
        } else {
            a.Add(L"itemSize", std::wstring(FItemSize == TqvrRibbonXItemSize::Large ? L"large" : L"normal"));
        }
        AddImageBlock(a);
        a.Add(L"getShowLabel", kGetShowLabel);
        a.Add(L"getShowImage", kGetShowImage);
        a.Add(L"getEnabled", kGetEnabled);
        a.Add(L"getDescription", kGetDescription);
        a.Add(L"getKeytip", kGetKeyTip);
        a.Add(L"getLabel", kGetLabel);
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
    TqvrXmlAttributes a;
    std::wstring ns = ModuleNamespace();
    std::wstring id = FID + L"wrapped";
    if (!ns.empty())
        a.Add(L"idQ", L"default:" + id);
    else if (ContextIndex > 0)
        a.Add(L"id", id + kContextMenuMarker + std::to_wstring(ContextIndex));
    else
        a.Add(L"id", id);
    AddImageBlock(a);
    a.Add(L"imageMso", FImageMso);
    a.Add(L"getLabel", kGetLabel);
    a.Add(L"getSupertip", kGetSuperTip);
    a.Add(L"getScreentip", kGetScreenTip);
    a.Add(L"getShowImage", kGetShowImage);
    a.Add(L"getDescription", kGetDescription);
    if (FToggleButton) {
        a.Add(L"getPressed", kGetPressed);
        a.Add(L"onAction", kOnActionState);
    } else {
        a.Add(L"onAction", kOnActionCommon);
    }
    return a;
}

}  // namespace qvr
