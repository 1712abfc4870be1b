#include "ribbon/ribbon.h"

#include "com/error.h"
#include "com/numbers.h"
#include "ribbon/controls.h"
#include "ribbon/host.h"

#include <algorithm>
#include <mutex>
#include <typeinfo>

namespace qvr {

namespace {

[[noreturn]] void ThrowNoProperty(const std::wstring& name) {
    throw EqvrError(FormatText(L"Property %s does not exist", {name}));
}

bool Is(const FormProperty& p, const wchar_t* name) { return SameText(p.name, name); }

const std::vector<FormItem>& CollectionItems(const FormValue& value) {
    if (value.kind != FormValue::Kind::Collection) throw EqvrError(L"Invalid property value");
    return value.items;
}

void RemoveFrom(std::vector<TqvrRibbonTab*>& list, TqvrRibbonTab* tab) {
    list.erase(std::remove(list.begin(), list.end(), tab), list.end());
}

}  // namespace

IqvrRibbonComponent* AsRibbonComponent(TObject* object) { return dynamic_cast<IqvrRibbonComponent*>(object); }

void RegisterRibbonClasses() {
    // Registering again replaces an entry with the same one: no once-only guard is needed.
    RegisterComponentClass(L"TqvrRibbonTab", [](TComponent* owner) -> TComponent* { return new TqvrRibbonTab(owner); });
    RegisterComponentClass(L"TImageList", [](TComponent* owner) -> TComponent* { return new TImageList(owner); });
}

std::wstring NewDesignId(const std::wstring& prefix) {
    GUID guid{};
    ThrowIfFailed(CoCreateGuid(&guid));
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    std::wstring id = prefix;
    for (const wchar_t* p = text; *p; ++p)
        if (*p != L'{' && *p != L'}' && *p != L'-') id += static_cast<wchar_t>(towupper(*p));
    return id;
}

// ---- attribute building blocks ----

namespace ribbonxml {

void AddIdBlock(TqvrXmlAttributes& a, const std::wstring& id, const std::wstring& moduleNamespace,
                int32_t contextIndex, bool contextClass) {
    if (!moduleNamespace.empty())
        a.Add(L"idQ", L"default:" + id);
    else if (contextClass && contextIndex > 0)
        a.Add(L"id", id + kContextMenuMarker + qvr::DecimalText(contextIndex));
    else
        a.Add(L"id", id);
}

void AddSharedBlock(TqvrXmlAttributes& a, const std::wstring& id, bool visible) {
    a.Add(L"idQ", L"shared:" + id);
    a.Add(L"visible", visible ? L"true" : L"false");
}

void AddInsertBlock(TqvrXmlAttributes& a, const IqvrRibbonComponent& c) {
    if (auto v = c.InsertAfterIdMso(); !v.empty())
        a.Add(L"insertAfterMso", v);
    else if (auto v = c.InsertBeforeIdMso(); !v.empty())
        a.Add(L"insertBeforeMso", v);
    else if (auto v = c.InsertAfterId(); !v.empty())
        a.Add(L"insertAfterQ", v);
    else if (auto v = c.InsertBeforeId(); !v.empty())
        a.Add(L"insertBeforeQ", v);
}

}  // namespace ribbonxml

// ---- TqvrRibbonControls ----

TqvrRibbonControls::TqvrRibbonControls(TqvrRibbonTab* AOwner, TqvrRibbonControlType ItemType, int32_t MaxCount)
    : TCollection(AOwner), ownerTab_(AOwner), itemType_(ItemType), FMaxCount(MaxCount) {}

TqvrRibbonControls::TqvrRibbonControls(TqvrRibbonCustomControl* AOwner, TqvrRibbonControlType ItemType,
                                       int32_t MaxCount)
    : TCollection(AOwner), ownerControl_(AOwner), itemType_(ItemType), FMaxCount(MaxCount) {}

TqvrRibbonControls::~TqvrRibbonControls() {
    // The children go while the collection is still whole; nobody is told.
    BeginUpdate();
    Clear();
}

TqvrRibbonCustomControl* TqvrRibbonControls::GetItem(int index) const {
    return static_cast<TqvrRibbonCustomControl*>(Item(index));
}

void TqvrRibbonControls::SetItem(int index, const TqvrRibbonCustomControl& value) { GetItem(index)->Assign(value); }

void TqvrRibbonControls::CheckLimit() const {
    if (Count() >= FMaxCount)
        throw EqvrError(FormatText(L"There cannot be more than %d items in this control!", {qvr::DecimalText(FMaxCount)}),
                        kErrCollectionLimit, ErrorKind::Ole, 0);
}

TqvrRibbonCustomControl* TqvrRibbonControls::Adopt(std::unique_ptr<TqvrRibbonCustomControl> item) {
    TqvrRibbonCustomControl* raw = item.get();
    Insert(std::move(item));
    return raw;
}

TqvrRibbonCustomControl* TqvrRibbonControls::Add() { return Add(itemType_); }

TqvrRibbonCustomControl* TqvrRibbonControls::Add(TqvrRibbonControlType AType) {
    CheckLimit();
    return Adopt(CreateRibbonControl(AType, this));
}

TqvrRibbonCustomControl* TqvrRibbonControls::AddLike(const TqvrRibbonCustomControl& source) {
    return Add(source.GetControlType());
}

void TqvrRibbonControls::Assign(const TqvrRibbonControls& Source) {
    if (&Source == this) return;
    TCollectionUpdate update(this);
    Clear();
    for (TCollectionItem* item : Source.Items()) {
        const auto& from = *static_cast<TqvrRibbonCustomControl*>(item);
        AddLike(from)->Assign(from);
    }
}

void TqvrRibbonControls::Update(TCollectionItem*) {
    // A dialog box launcher always comes last in its group.
    for (int i = 0; i < Count(); ++i)
        if (GetItem(i)->GetControlType() == rctDialogBoxLauncher) {
            if (i != Count() - 1) MoveSilently(i, Count() - 1);
            break;
        }
}

void TqvrRibbonControls::ReadItems(const FormValue& value) {
    const auto& items = CollectionItems(value);
    Clear();
    for (const FormItem& item : items) Add()->ReadProperties(item.properties);
}

FormValue TqvrRibbonControls::WriteItems() const {
    FormValue v;
    v.kind = FormValue::Kind::Collection;
    for (TCollectionItem* item : Items()) {
        FormItem stored;
        static_cast<TqvrRibbonCustomControl*>(item)->WriteProperties(stored.properties);
        v.items.push_back(std::move(stored));
    }
    return v;
}

void TqvrRibbonControls::ReadMixed(const std::vector<uint32_t>& controlTypes, const FormValue& children) {
    const auto& items = CollectionItems(children);
    Clear();
    for (size_t i = 0; i < items.size(); ++i) {
        if (i >= controlTypes.size())
            throw EqvrError(FormatText(L"Range check error: Controls_ holds more children than the %d of ControlTypes",
                                       {qvr::DecimalText(controlTypes.size())}));
        Add(static_cast<TqvrRibbonControlType>(controlTypes[i] & 0xFF))->ReadProperties(items[i].properties);
    }
}

FormValue TqvrRibbonControls::WriteMixed() const { return WriteItems(); }

std::vector<uint32_t> TqvrRibbonControls::ControlTypes() const {
    std::vector<uint32_t> codes;
    for (TCollectionItem* item : Items()) codes.push_back(static_cast<TqvrRibbonCustomControl*>(item)->GetControlType());
    return codes;
}

// ---- TqvrRibbonItems ----

TqvrRibbonItems::TqvrRibbonItems(TqvrRibbonCustomControl* AOwner, int32_t MaxCount)
    : TqvrRibbonControls(AOwner, rctItem, MaxCount) {}

TqvrRibbonItem* TqvrRibbonItems::GetItem(int index) const { return static_cast<TqvrRibbonItem*>(Item(index)); }

TqvrRibbonCustomControl* TqvrRibbonItems::Add() {
    CheckLimit();
    return Adopt(TqvrRibbonCustomControl::Create<TqvrRibbonItem>(this));
}

TqvrRibbonItem* TqvrRibbonItems::AddItem() { return static_cast<TqvrRibbonItem*>(Add()); }

TqvrRibbonCustomControl* TqvrRibbonItems::Add(TqvrRibbonControlType) { return nullptr; }

// Items are copied as items: creating them by type code would create nothing.
TqvrRibbonCustomControl* TqvrRibbonItems::AddLike(const TqvrRibbonCustomControl&) { return Add(); }

void TqvrRibbonItems::Update(TCollectionItem* item) {
    TqvrRibbonControls::Update(item);
    // Office re-reads a drop-down's items only when the drop-down is invalidated.
    if (OwnerControl() && OwnerControl()->GetControlType() == rctDropDown) OwnerControl()->Invalidate();
}

// ---- TqvrRibbonTab ----

TqvrRibbonTab::TqvrRibbonTab(TComponent* AOwner) : TComponent(AOwner) {
    auto* module = dynamic_cast<TqvrCOMAddInModule*>(AOwner);
    if (!module)
        throw EqvrError(FormatText(L"The %s class cannot be contained in the %s class.",
                                   {ClassName(), AOwner ? AOwner->ClassName() : std::wstring(L"nil")}),
                        kErrWrongParent, ErrorKind::Ole, 0);
    FOwner = module;

    // The ribbons of the hosts the add-in supports.
    TqvrHostAppSet apps = module->SupportedApps();
    TqvrRibbons r = kDefaultRibbons;
    TqvrRibbons2010 r2010 = kDefaultRibbons2010;
    if (!apps.Contains(ohaAccess)) r = r.Without(msrAccessDatabase);
    if (!apps.Contains(ohaExcel)) r = r.Without(msrExcelWorkbook);
    if (!apps.Contains(ohaPowerPoint)) r = r.Without(msrPowerPointPresentation);
    if (!apps.Contains(ohaWord)) r = r.Without(msrWordDocument);
    if (!apps.Contains(ohaOutlook)) {
        r = r.Without(msrOutlookMailRead).Without(msrOutlookMailCompose).Without(msrOutlookExplorer);
        r2010 = r2010.Without(msrOutlookExplorer2010);
    }
    if (apps.Contains(ohaInfoPath))
        r2010 = r2010.With(msrInfoPathDesigner2010).With(msrInforPathFiller2010).With(msrInfoPathPrintPreview2010);
    else if (apps.Contains(ohaPublisher))
        r2010 = r2010.With(msrPublisherPublication2010);
    else if (apps.Contains(ohaProject))
        r2010 = r2010.With(msrProjectProject2010);
    else if (apps.Contains(ohaVisio))
        r2010 = r2010.With(msrVisioDrawing2010);
    else if (apps.Contains(ohaOneNote))
        r2010 = r2010.With(msrOneNote);
    FRibbons = r;
    FRibbons2010 = r2010;

    FVisible = true;
    FControls = std::make_unique<TqvrRibbonControls>(this, rctGroup, 100);

    if (DesignMode() && FID.empty()) {
        FID = NewDesignId(L"qvrRibbonTab");
        int tabs = 0;
        for (const auto& e : module->RibbonControls().Entries())
            if (dynamic_cast<TqvrRibbonTab*>(e.object)) ++tabs;
        FCaption = L"qvrRibbonTab" + qvr::DecimalText(tabs + 1);
    }
    module->AttachRibbonHost(RibbonHost());
    module->Tabs().push_back(this);
    module->RibbonControls().Add(FID, this);
}

TqvrRibbonTab::~TqvrRibbonTab() {
    if (FOwner) {
        RemoveFrom(FOwner->Tabs(), this);
        RemoveFrom(FOwner->ContextTabs(), this);
        auto& registry = FOwner->RibbonControls();
        if (int i = registry.IndexOfObject(this); i >= 0) registry.Delete(i);
    }
    FControls.reset();  // the groups leave the registry while the module is still known
    FOwner = nullptr;
}

std::wstring TqvrRibbonTab::DisplayName() const {
    return (FCaption.empty() ? std::wstring() : FCaption + L" ") + L"(" + ClassName() + L")";
}

void TqvrRibbonTab::SetImages(TImageList* value) {
    if (value == FImages) return;
    if (FImages) RemoveFreeNotification(FImages);
    FImages = value;
    if (FImages) FImages->FreeNotification(this);
}

void TqvrRibbonTab::SetContext(const std::wstring& value) {
    if (value == FContext) return;
    FContext = value;
    if (!FOwner) return;
    RemoveFrom(FOwner->Tabs(), this);
    RemoveFrom(FOwner->ContextTabs(), this);
    (FContext.empty() ? FOwner->Tabs() : FOwner->ContextTabs()).push_back(this);
}

void TqvrRibbonTab::SetId(const std::wstring& value) {
    if (value.empty() || value == FID) return;
    FID = value;
    if (!FOwner) return;
    auto& registry = FOwner->RibbonControls();
    if (int i = registry.IndexOfObject(this); i >= 0) registry.SetString(i, FID);
}

void TqvrRibbonTab::SetIdMso(const std::wstring& value) {
    if (value == FIDMso) return;
    FIDMso = value;
    if (!FOwner) return;
    auto& registry = FOwner->RibbonControls();
    if (int i = registry.IndexOfObject(this); i >= 0) registry.SetString(i, FIDMso.empty() ? FID : FIDMso);
}

void TqvrRibbonTab::SetKeyTip(const TqvrRibbonKeyTip& value) {
    TqvrRibbonKeyTip v = value.substr(0, kMaxKeyTipLength);
    if (v == FKeyTip) return;
    FKeyTip = v;
    Invalidate();
}

void TqvrRibbonTab::SetRibbons(TqvrRibbons value) {
    if (value == FRibbons) return;
    FRibbons = value;
    if (!Loading())
        for (TCollectionItem* group : FControls->Items()) static_cast<TqvrRibbonCustomControl*>(group)->SetRibbons(value);
    SetRibbons2010(value.Contains(msrOutlookExplorer) ? FRibbons2010.With(msrOutlookExplorer2010)
                                                     : FRibbons2010.Without(msrOutlookExplorer2010));
}

void TqvrRibbonTab::SetRibbons2010(TqvrRibbons2010 value) {
    if (value == FRibbons2010) return;
    FRibbons2010 = value;
    if (!Loading())
        for (TCollectionItem* group : FControls->Items())
            static_cast<TqvrRibbonCustomControl*>(group)->SetRibbons2010(value);
    SetRibbons(value.Contains(msrOutlookExplorer2010) ? FRibbons.With(msrOutlookExplorer)
                                                      : FRibbons.Without(msrOutlookExplorer));
}

void TqvrRibbonTab::ApplyStoredRibbons(TqvrRibbons ribbons, TqvrRibbons2010 ribbons2010) {
    // Stored values only add to the filter the tab was created with.
    TqvrRibbons r = FRibbons.Union(ribbons);
    TqvrRibbons2010 r2010 = FRibbons2010.Union(ribbons2010);
    if (r.Contains(msrOutlookExplorer)) r2010 = r2010.With(msrOutlookExplorer2010);
    if (r2010.Contains(msrOutlookExplorer2010)) r = r.With(msrOutlookExplorer);
    FRibbons = r;
    FRibbons2010 = r2010;
}

void TqvrRibbonTab::Invalidate() {
    IRibbonUI* ui = FOwner ? FOwner->RibbonUI() : nullptr;
    if (!ui) return;
    if (!FIDMso.empty())
        ThrowIfFailed(ui->Invalidate());
    else if (!FID.empty())
        ThrowIfFailed(ui->InvalidateControl(unique_bstr(FID).get()));
}

void TqvrRibbonTab::Activate() {
    IRibbonUI* ui = FOwner ? FOwner->RibbonUI() : nullptr;
    if (!ui || FOwner->HostMajorVersion() < 14) return;
    try {
        ThrowIfFailed(ui->ActivateTab(unique_bstr(FID).get()));
    } catch (const std::exception&) {
        FOwner->HandleError(CurrentError());
    }
}

void TqvrRibbonTab::DoAction(TqvrRibbonActionArguments&) {}

void TqvrRibbonTab::DoPropertyChanging(TqvrRibbonControlPropertyType PropertyType, unique_variant& Value,
                                       IDispatch* Context, int32_t) {
    if (!OnPropertyChanging) return;
    TObject* sender = this;
    if (FOwner)
        FOwner->Fire(OnPropertyChanging, sender, PropertyType, Value, Context);
    else
        OnPropertyChanging(sender, PropertyType, Value, Context);
}

TqvrXmlAttributes TqvrRibbonTab::GetXmlAttributes(int32_t) const {
    using namespace ribbonxml;
    TqvrXmlAttributes a;
    std::wstring ns = FOwner ? FOwner->Namespace : std::wstring();
    if (!FIDMso.empty()) {
        a.Add(L"getVisible", kGetVisible);
        a.Add(L"idMso", FIDMso);
    } else if (FShared && !ns.empty()) {
        AddSharedBlock(a, FID, FVisible);
        AddInsertBlock(a, *this);
        a.Add(L"keytip", KeyTipToText(FKeyTip));
        a.Add(L"label", FCaption);
    } else {
        a.Add(L"getVisible", kGetVisible);
        AddIdBlock(a, FID, ns, 0, false);
        AddInsertBlock(a, *this);
        a.Add(L"getKeytip", kGetKeyTip);
        a.Add(L"getLabel", kGetLabel);
    }
    return a;
}

void TqvrRibbonTab::ClearImageIndexes() {
    for (TCollectionItem* group : FControls->Items()) static_cast<TqvrRibbonCustomControl*>(group)->ClearImageIndexes();
}

void TqvrRibbonTab::Notification(TComponent* component, TOperation operation) {
    TComponent::Notification(component, operation);
    if (operation == TOperation::opRemove && component == FImages) {
        FImages = nullptr;
        ClearImageIndexes();
    }
}

void TqvrRibbonTab::ReadProperty(const FormProperty& p) {
    if (Is(p, L"Caption")) SetCaption(p.value.AsString());
    else if (Is(p, L"Context")) SetContext(p.value.AsString());
    else if (Is(p, L"Controls")) FControls->ReadItems(p.value);
    else if (Is(p, L"Id")) SetId(p.value.AsString());
    else if (Is(p, L"IdMso")) SetIdMso(p.value.AsString());
    else if (Is(p, L"Images")) FPendingImages = p.value.AsIdent();
    else if (Is(p, L"InsertAfterIdMso")) SetInsertAfterIdMso(p.value.AsString());
    else if (Is(p, L"InsertAfterId")) SetInsertAfterId(p.value.AsString());
    else if (Is(p, L"InsertBeforeIdMso")) SetInsertBeforeIdMso(p.value.AsString());
    else if (Is(p, L"InsertBeforeId")) SetInsertBeforeId(p.value.AsString());
    else if (Is(p, L"KeyTip")) SetKeyTip(KeyTipFromText(p.value.AsString()));
    else if (Is(p, L"Shared")) SetShared(p.value.AsBoolean());
    else if (Is(p, L"Visible")) SetVisible(p.value.AsBoolean());
    else if (Is(p, L"Tag")) SetTag(static_cast<int32_t>(p.value.AsInteger()));
    else if (Is(p, L"OnPropertyChanging")) OnPropertyChanging = BindEvent<TqvrRibbonPropertyChanging>(p);
    else if (Is(p, L"Left")) FDesignLeft = p.value.AsInteger();
    else if (Is(p, L"Top")) FDesignTop = p.value.AsInteger();
    else if (Is(p, L"Ribbons")) ApplyStoredRibbons(RibbonsFromValue(p.value), {});
    else if (Is(p, L"Ribbons2010")) ApplyStoredRibbons({}, Ribbons2010FromValue(p.value));
    else ThrowNoProperty(p.name);
}

void TqvrRibbonTab::WriteProperties(std::vector<FormProperty>& out) const {
    if (!FCaption.empty()) out.push_back({L"Caption", FormValue::String(FCaption)});
    if (!FContext.empty()) out.push_back({L"Context", FormValue::String(FContext)});
    if (FControls->Count()) out.push_back({L"Controls", FControls->WriteItems()});
    out.push_back({L"Id", FormValue::String(FID)});
    if (!FIDMso.empty()) out.push_back({L"IdMso", FormValue::String(FIDMso)});
    if (FImages) out.push_back({L"Images", FormValue::Ident(FImages->Name())});
    if (!FInsertAfterIdMso.empty()) out.push_back({L"InsertAfterIdMso", FormValue::String(FInsertAfterIdMso)});
    if (!FInsertAfterId.empty()) out.push_back({L"InsertAfterId", FormValue::String(FInsertAfterId)});
    if (!FInsertBeforeIdMso.empty()) out.push_back({L"InsertBeforeIdMso", FormValue::String(FInsertBeforeIdMso)});
    if (!FInsertBeforeId.empty()) out.push_back({L"InsertBeforeId", FormValue::String(FInsertBeforeId)});
    if (!FKeyTip.empty()) out.push_back({L"KeyTip", FormValue::String(KeyTipToText(FKeyTip))});
    if (FShared) out.push_back({L"Shared", FormValue::Boolean(true)});
    if (!FVisible) out.push_back({L"Visible", FormValue::Boolean(false)});
    if (FTag) out.push_back({L"Tag", FormValue::Integer(FTag)});
    WriteEventBindings(out);
    if (FDesignLeft) out.push_back({L"Left", FormValue::Integer(FDesignLeft)});
    if (FDesignTop) out.push_back({L"Top", FormValue::Integer(FDesignTop)});
    out.push_back({L"Ribbons", FormValue::Set(RibbonsNames(FRibbons))});
    out.push_back({L"Ribbons2010", FormValue::Set(Ribbons2010Names(FRibbons2010))});
}

void TqvrRibbonTab::Loaded() {
    if (FPendingImages.empty()) return;
    auto* list = dynamic_cast<TImageList*>(Root()->FindComponent(FPendingImages));
    if (!list) throw EqvrError(FormatText(L"Invalid property value: no image list %s", {FPendingImages}));
    FPendingImages.clear();
    SetImages(list);
}

// ---- TqvrRibbonCustomControl ----

TqvrRibbonCustomControl::TqvrRibbonCustomControl(TqvrRibbonControls* collection, TqvrRibbonControlType bareType)
    : TCollectionItem(collection), FBareType(bareType) {
    FGlyph.OnChange = [this] { GlyphChanged(); };
    // A new control starts with its container's filter.
    if (IqvrRibbonComponent* container = ContainerComponent()) {
        FRibbons = container->Ribbons();
        FRibbons2010 = container->Ribbons2010();
    }
}

TqvrRibbonCustomControl::~TqvrRibbonCustomControl() {
    FGlyph.OnChange = nullptr;
    if (TqvrCOMAddInModule* m = Module()) {
        auto& registry = m->RibbonControls();
        if (int i = registry.IndexOfObject(this); i >= 0) registry.Delete(i);
    }
}

std::unique_ptr<TqvrRibbonCustomControl> TqvrRibbonCustomControl::CreateBare(TqvrRibbonControls* collection,
                                                                             TqvrRibbonControlType type) {
    std::unique_ptr<TqvrRibbonCustomControl> c(new TqvrRibbonCustomControl(collection, type));
    c->AfterConstruction();
    return c;
}

void TqvrRibbonCustomControl::AfterConstruction() {
    TqvrRibbonTab* tab = OwningTab();
    TqvrCOMAddInModule* module = tab ? tab->Module() : nullptr;
    std::wstring prefix = IdPrefix();
    if (tab && tab->DesignMode() && FID.empty() && !prefix.empty()) {
        FID = NewDesignId(prefix);
        if (GetsDesignCaption()) {
            int same = 0;
            if (module)
                for (const auto& e : module->RibbonControls().Entries())
                    if (e.object && typeid(*e.object) == typeid(*this)) ++same;
            FCaption = prefix + qvr::DecimalText(same + 1);
        }
    }
    if (module) module->RibbonControls().Add(FID, this);
}

std::wstring TqvrRibbonCustomControl::DisplayName() const {
    return (FCaption.empty() ? std::wstring() : FCaption + L" ") + L"(" + ClassName() + L")";
}

TqvrRibbonControls* TqvrRibbonCustomControl::ParentCollection() const {
    return static_cast<TqvrRibbonControls*>(Collection());
}

TObject* TqvrRibbonCustomControl::Container() const {
    TqvrRibbonControls* c = ParentCollection();
    return c ? c->Owner() : nullptr;
}

IqvrRibbonComponent* TqvrRibbonCustomControl::ContainerComponent() const {
    TqvrRibbonControls* c = ParentCollection();
    if (!c) return nullptr;
    if (c->OwnerTab()) return c->OwnerTab();
    return c->OwnerControl();
}

TqvrRibbonCustomControl* TqvrRibbonCustomControl::ContainerControl() const {
    TqvrRibbonControls* c = ParentCollection();
    return c ? c->OwnerControl() : nullptr;
}

TqvrRibbonTab* TqvrRibbonCustomControl::OwningTab() const {
    for (TqvrRibbonControls* c = ParentCollection(); c;) {
        if (c->OwnerTab()) return c->OwnerTab();
        TqvrRibbonCustomControl* owner = c->OwnerControl();
        c = owner ? owner->ParentCollection() : nullptr;
    }
    return nullptr;
}

TqvrCOMAddInModule* TqvrRibbonCustomControl::Module() const {
    TqvrRibbonTab* tab = OwningTab();
    return tab ? tab->Module() : nullptr;
}

TqvrRibbonSeparator* TqvrRibbonCustomControl::AsRibbonSeparator() { return dynamic_cast<TqvrRibbonSeparator*>(this); }
TqvrRibbonMenuSeparator* TqvrRibbonCustomControl::AsRibbonMenuSeparator() {
    return dynamic_cast<TqvrRibbonMenuSeparator*>(this);
}
TqvrRibbonDialogBoxLauncher* TqvrRibbonCustomControl::AsRibbonDialogBoxLauncher() {
    return dynamic_cast<TqvrRibbonDialogBoxLauncher*>(this);
}
TqvrRibbonItem* TqvrRibbonCustomControl::AsRibbonItem() { return dynamic_cast<TqvrRibbonItem*>(this); }
TqvrRibbonGroup* TqvrRibbonCustomControl::AsRibbonGroup() { return dynamic_cast<TqvrRibbonGroup*>(this); }
TqvrRibbonLabel* TqvrRibbonCustomControl::AsRibbonLabel() { return dynamic_cast<TqvrRibbonLabel*>(this); }
TqvrRibbonButton* TqvrRibbonCustomControl::AsRibbonButton() { return dynamic_cast<TqvrRibbonButton*>(this); }
TqvrRibbonCheckBox* TqvrRibbonCustomControl::AsRibbonCheckBox() { return dynamic_cast<TqvrRibbonCheckBox*>(this); }
TqvrRibbonEditBox* TqvrRibbonCustomControl::AsRibbonEditBox() { return dynamic_cast<TqvrRibbonEditBox*>(this); }
TqvrRibbonComboBox* TqvrRibbonCustomControl::AsRibbonComboBox() { return dynamic_cast<TqvrRibbonComboBox*>(this); }
TqvrRibbonDropDown* TqvrRibbonCustomControl::AsRibbonDropDown() { return dynamic_cast<TqvrRibbonDropDown*>(this); }
TqvrRibbonGallery* TqvrRibbonCustomControl::AsRibbonGallery() { return dynamic_cast<TqvrRibbonGallery*>(this); }
TqvrRibbonMenu* TqvrRibbonCustomControl::AsRibbonMenu() { return dynamic_cast<TqvrRibbonMenu*>(this); }
TqvrRibbonSplitButton* TqvrRibbonCustomControl::AsRibbonSplitButton() {
    return dynamic_cast<TqvrRibbonSplitButton*>(this);
}
TqvrRibbonBox* TqvrRibbonCustomControl::AsRibbonBox() { return dynamic_cast<TqvrRibbonBox*>(this); }
TqvrRibbonButtonGroup* TqvrRibbonCustomControl::AsRibbonButtonGroup() {
    return dynamic_cast<TqvrRibbonButtonGroup*>(this);
}

void TqvrRibbonCustomControl::Assign(const TqvrRibbonCustomControl& Source) {
    if (&Source == this) return;
    TCollectionUpdate update(Collection());
    SetCaption(Source.Caption());
    SetDescription(Source.Description());
    SetEnabled(Source.Enabled());
    SetImageIndex(Source.ImageIndex());
    SetImageMso(Source.ImageMso());
    SetInsertAfterIdMso(Source.InsertAfterIdMso());
    SetInsertAfterId(Source.InsertAfterId());
    SetInsertBeforeIdMso(Source.InsertBeforeIdMso());
    SetInsertBeforeId(Source.InsertBeforeId());
    SetItemHeight(Source.ItemHeight());
    SetItemWidth(Source.ItemWidth());
    SetPressed(Source.Pressed());
    SetSelectedItemId(Source.SelectedItemId());
    SetSelectedItemIndex(Source.SelectedItemIndex());
    SetShowCaption(Source.ShowCaption());
    SetSize(Source.Size());
    SetSuperTip(Source.SuperTip());
    SetRibbons(Source.Ribbons());
    SetText(Source.Text());
    SetVisible(Source.Visible());
}

void TqvrRibbonCustomControl::Invalidate() {
    TqvrCOMAddInModule* m = Module();
    IRibbonUI* ui = m ? m->RibbonUI() : nullptr;
    if (!ui) return;
    if (!FIDMso.empty())
        ThrowIfFailed(ui->Invalidate());
    else if (!FID.empty())
        ThrowIfFailed(ui->InvalidateControl(unique_bstr(FID).get()));
}

void TqvrRibbonCustomControl::SetId(const std::wstring& value) {
    if (value.empty() || value == FID) return;
    FID = value;
    Rekey(FID);
}

void TqvrRibbonCustomControl::SetIdMso(const std::wstring& value) {
    if (value == FIDMso) return;
    FIDMso = value;
    Rekey(FIDMso.empty() ? FID : FIDMso);
}

void TqvrRibbonCustomControl::Rekey(const std::wstring& key) {
    TqvrCOMAddInModule* m = Module();
    if (!m) return;
    auto& registry = m->RibbonControls();
    if (int i = registry.IndexOfObject(this); i >= 0) registry.SetString(i, key);
}

void TqvrRibbonCustomControl::SetKeyTip(const TqvrRibbonKeyTip& value) {
    SetAndInvalidate(FKeyTip, value.substr(0, kMaxKeyTipLength));
}

std::vector<TqvrRibbonControls*> TqvrRibbonCustomControl::OwnedCollections() const {
    std::vector<TqvrRibbonControls*> out;
    for (TqvrRibbonControls* c : {GetItems() ? static_cast<TqvrRibbonControls*>(GetItems()) : nullptr, GetControls(),
                                  GetFirstColumn(), GetSecondColumn(), GetPrimaryItem(), GetTopItems(), GetBottomItems()})
        if (c) out.push_back(c);
    return out;
}

void TqvrRibbonCustomControl::SetRibbons(TqvrRibbons value) { ApplyRibbons(value, true); }

void TqvrRibbonCustomControl::SetRibbons2010(TqvrRibbons2010 value) { ApplyRibbons2010(value, true); }

void TqvrRibbonCustomControl::ApplyRibbons(TqvrRibbons value, bool propagate) {
    if (value == FRibbons) return;
    FRibbons = value;
    if (propagate)
        for (TqvrRibbonControls* c : OwnedCollections())
            for (TCollectionItem* item : c->Items()) static_cast<TqvrRibbonCustomControl*>(item)->ApplyRibbons(value, true);
    // msrOutlookExplorer and msrOutlookExplorer2010 name the same ribbon.
    ApplyRibbons2010(value.Contains(msrOutlookExplorer) ? FRibbons2010.With(msrOutlookExplorer2010)
                                                        : FRibbons2010.Without(msrOutlookExplorer2010),
                     propagate);
}

void TqvrRibbonCustomControl::ApplyRibbons2010(TqvrRibbons2010 value, bool propagate) {
    if (value == FRibbons2010) return;
    FRibbons2010 = value;
    if (propagate)
        for (TqvrRibbonControls* c : OwnedCollections())
            for (TCollectionItem* item : c->Items())
                static_cast<TqvrRibbonCustomControl*>(item)->ApplyRibbons2010(value, true);
    ApplyRibbons(value.Contains(msrOutlookExplorer2010) ? FRibbons.With(msrOutlookExplorer)
                                                        : FRibbons.Without(msrOutlookExplorer),
                 propagate);
}

void TqvrRibbonCustomControl::ClearImageIndexes() {
    FImageIndex = -1;
    for (TqvrRibbonControls* c : OwnedCollections())
        for (TCollectionItem* item : c->Items()) static_cast<TqvrRibbonCustomControl*>(item)->ClearImageIndexes();
}

void TqvrRibbonCustomControl::DoAction(TqvrRibbonActionArguments&) {}

void TqvrRibbonCustomControl::DoPropertyChanging(TqvrRibbonControlPropertyType PropertyType, unique_variant& Value,
                                                 IDispatch* Context, int32_t) {
    Fire(OnPropertyChanging, static_cast<TObject*>(this), PropertyType, Value, Context);
}

TqvrXmlAttributes TqvrRibbonCustomControl::GetXmlAttributes(int32_t) const { return {}; }

std::wstring TqvrRibbonCustomControl::ModuleNamespace() const {
    TqvrCOMAddInModule* m = Module();
    return m ? m->Namespace : std::wstring();
}

int32_t TqvrRibbonCustomControl::HostMajorVersion() const {
    TqvrCOMAddInModule* m = Module();
    return m ? m->HostMajorVersion() : 0;
}

bool TqvrRibbonCustomControl::DocumentUses2009Namespace() const {
    TqvrCOMAddInModule* m = Module();
    return m && m->OfficeXMLNS().find(L"/office/2009/07/customui") != std::wstring::npos;
}

std::wstring TqvrRibbonCustomControl::ContainerIdMso() const {
    IqvrRibbonComponent* c = ContainerComponent();
    return c ? c->IdMso() : std::wstring();
}

bool TqvrRibbonCustomControl::ContainerIs(TqvrRibbonControlType type) const {
    TqvrRibbonCustomControl* c = ContainerControl();
    return c && c->GetControlType() == type;
}

void TqvrRibbonCustomControl::AddIdBlock(TqvrXmlAttributes& a, int32_t contextIndex, bool contextClass) const {
    ribbonxml::AddIdBlock(a, FID, ModuleNamespace(), contextIndex, contextClass);
}

void TqvrRibbonCustomControl::AddInsertBlock(TqvrXmlAttributes& a) const { ribbonxml::AddInsertBlock(a, *this); }

void TqvrRibbonCustomControl::AddImageBlock(TqvrXmlAttributes& a) const {
    if (!FGlyph.Empty() || FImageIndex >= 0) a.Add(L"getImage", ribbonxml::kGetImage);
}

bool TqvrRibbonCustomControl::AddBuiltInStart(TqvrXmlAttributes& a, bool stopClass) const {
    a.Add(L"idMso", FIDMso);
    return stopClass && !ContainerIdMso().empty();
}

// ---- stored form ----

TqvrControlProperties TqvrRibbonCustomControl::PublishedProperties() const {
    return ribbonprops::BaseProperties();
}

void TqvrRibbonCustomControl::ReadProperties(const std::vector<FormProperty>& properties) {
    for (const FormProperty& p : properties) ReadProperty(p);
}

void TqvrRibbonCustomControl::ReadProperty(const FormProperty& p) {
    for (const TqvrControlProperty& prop : PublishedProperties())
        if (Is(p, prop.name)) {
            prop.read(*this, p);
            return;
        }
    if (StoresCaption() && Is(p, L"Caption")) {
        SetCaption(p.value.AsString());
    } else if (StoresRibbons() && Is(p, L"Ribbons")) {
        ApplyRibbons(FRibbons.Union(RibbonsFromValue(p.value)), false);
    } else if (StoresRibbons() && Is(p, L"Ribbons2010")) {
        ApplyRibbons2010(FRibbons2010.Union(Ribbons2010FromValue(p.value)), false);
    } else if (MixedControls() && Is(p, L"ControlTypes")) {
        if (p.value.kind != FormValue::Kind::Binary) throw EqvrError(L"Invalid property value");
        const auto& b = p.value.bytes;
        auto word = [&](size_t i) {
            return static_cast<uint32_t>(b[i]) | static_cast<uint32_t>(b[i + 1]) << 8 |
                   static_cast<uint32_t>(b[i + 2]) << 16 | static_cast<uint32_t>(b[i + 3]) << 24;
        };
        if (b.size() < 4) throw EqvrError(L"Invalid property value");
        uint32_t count = word(0);
        if ((b.size() - 4) / 4 < count) throw EqvrError(L"Invalid property value");
        FControlTypes.clear();
        for (uint32_t i = 0; i < count; ++i) FControlTypes.push_back(word(4 + 4 * static_cast<size_t>(i)));
    } else if (MixedControls() && Is(p, L"Controls_")) {
        MixedControls()->ReadMixed(FControlTypes, p.value);
    } else {
        ThrowNoProperty(p.name);
    }
}

void TqvrRibbonCustomControl::WriteProperties(std::vector<FormProperty>& out) const {
    for (const TqvrControlProperty& prop : PublishedProperties()) prop.write(*this, prop.name, out);
    if (StoresCaption() && !FCaption.empty()) out.push_back({L"Caption", FormValue::String(FCaption)});
    if (StoresRibbons()) {
        out.push_back({L"Ribbons", FormValue::Set(RibbonsNames(FRibbons))});
        out.push_back({L"Ribbons2010", FormValue::Set(Ribbons2010Names(FRibbons2010))});
    }
    if (TqvrRibbonControls* mixed = MixedControls()) {
        std::vector<uint8_t> bytes;
        auto put = [&](uint32_t v) {
            for (int s = 0; s < 32; s += 8) bytes.push_back(static_cast<uint8_t>(v >> s));
        };
        auto codes = mixed->ControlTypes();
        put(static_cast<uint32_t>(codes.size()));
        for (uint32_t code : codes) put(code);
        out.push_back({L"ControlTypes", FormValue::Binary(std::move(bytes))});
        out.push_back({L"Controls_", mixed->WriteMixed()});
    }
}

TComponent& TqvrRibbonCustomControl::EventRoot(const FormProperty& property) const {
    TqvrRibbonTab* tab = OwningTab();
    if (!tab)
        throw EqvrError(FormatText(L"Invalid property value: %s has no module to bind %s to",
                                   {ClassName(), property.value.kind == FormValue::Kind::Ident ? property.value.text : property.name}));
    return *tab->Root();
}

void TqvrRibbonCustomControl::RememberBinding(const std::wstring& eventName, const std::wstring& method) {
    for (auto& b : eventBindings_)
        if (SameText(b.first, eventName)) {
            b.second = method;
            return;
        }
    eventBindings_.emplace_back(eventName, method);
}

std::wstring TqvrRibbonCustomControl::BoundMethod(const std::wstring& eventName) const {
    for (const auto& b : eventBindings_)
        if (SameText(b.first, eventName)) return b.second;
    return {};
}

}  // namespace qvr
