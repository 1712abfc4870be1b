// The ribbon control catalogue: every control class with its published properties, defaults,
// collections, type code, element name, attribute list and action.
#pragma once

#include "ribbon/ribbon.h"

namespace qvr {

// ---- what the classes share ----

// The facts of one control class that are plain data: its name, customUI element, design-time
// id prefix, published properties and the state its action stores. One row per type code, in
// controls.cpp.
struct TqvrRibbonControlClass;

// The base of every class of the catalogue. A class names its type code; the row of that code
// answers the class name, the published properties, the element name and the design-time
// prefix, so that a class writes only what differs. Not a published class.
//
// Controls are created through their collection (TqvrRibbonControls::Add), never directly: the
// classes' constructors are reachable only from TqvrRibbonCustomControl::Create.
class TqvrRibbonControl : public TqvrRibbonCustomControl {
public:
    std::wstring ClassName() const override;
    TqvrControlProperties PublishedProperties() const override;
    // The row's element name; "control" instead for the classes that become a plain control
    // when they stand for a built-in one (IdMso set).
    std::wstring GetElementName() const override;

protected:
    TqvrRibbonControl(TqvrRibbonControls* collection, TqvrRibbonControlType type);
    std::wstring IdPrefix() const override;
    bool GetsDesignCaption() const override;
    bool StoresCaption() const override;
    // Stores what the action carries (the row says which: the pressed state, the text or the
    // selection), then raises the class's OnClick or OnChange.
    void Act(TqvrRibbonActionArguments& Args, const TqvrRibbonOnClick& handler);
    // The fixed tips of a control that stands for a built-in one: keytip (when asked), label,
    // supertip, screentip.
    void AddBuiltInTips(TqvrXmlAttributes& a, bool keyTip) const;

private:
    const TqvrRibbonControlClass* FClass;
};

// A control that holds child controls. A collection whose item class is rctCommand holds
// controls of any class, created by type code: it is stored as "ControlTypes" and "Controls_".
class TqvrRibbonControlsHolder : public TqvrRibbonControl {
public:
    TqvrRibbonControls* GetControls() const override { return FControls.get(); }
    TqvrRibbonControls& Controls() { return *FControls; }
    void SetControls(const TqvrRibbonControls& value) { FControls->Assign(value); }

protected:
    TqvrRibbonControlsHolder(TqvrRibbonControls* collection, TqvrRibbonControlType type,
                             TqvrRibbonControlType itemType = rctCommand, int32_t maxCount = 1000)
        : TqvrRibbonControl(collection, type),
          FControls(std::make_unique<TqvrRibbonControls>(this, itemType, maxCount)) {}
    TqvrRibbonControls* MixedControls() const override {
        return FControls->ItemType() == rctCommand ? FControls.get() : nullptr;
    }

private:
    std::unique_ptr<TqvrRibbonControls> FControls;
};

// A container that may be shared with other add-ins through the module's Namespace (group, box,
// button group).
class TqvrRibbonSharedContainer : public TqvrRibbonControlsHolder {
public:
    bool Shared() const { return FShared; }
    void SetShared(bool value) { FShared = value; }

protected:
    using TqvrRibbonControlsHolder::TqvrRibbonControlsHolder;
    // How a container is written: as a built-in one (getVisible and idMso, nothing more), as
    // shared (idQ in the shared namespace, visible, placement) or as the add-in's own
    // (getVisible, id, placement). Each class adds its own attributes after these.
    enum class Form { BuiltIn, Shared, Own };
    Form AddContainerStart(TqvrXmlAttributes& a, int32_t contextIndex) const;

private:
    bool FShared = false;
};

// A control that holds items (combo box, drop-down, gallery), on top of Base. Questions about
// one item raise OnItemPropertyChanging instead of OnPropertyChanging, and nothing without it.
template <class Base>
class TqvrRibbonItemsHolder : public Base {
public:
    TqvrRibbonItemPropertyChanging OnItemPropertyChanging;
    TqvrRibbonItems* GetItems() const override { return FItems.get(); }
    TqvrRibbonItems& Items() { return *FItems; }
    void SetItems(const TqvrRibbonControls& value) { FItems->Assign(value); }
    void DoPropertyChanging(TqvrRibbonControlPropertyType PropertyType, unique_variant& Value, IDispatch* Context,
                            int32_t Index) override {
        if (IsItemProperty(PropertyType))
            this->Fire(OnItemPropertyChanging, static_cast<TObject*>(this), PropertyType, Value, Context, Index);
        else
            Base::DoPropertyChanging(PropertyType, Value, Context, Index);
    }

protected:
    template <typename... BaseArgs>
    explicit TqvrRibbonItemsHolder(TqvrRibbonControls* collection, BaseArgs... args)
        : Base(collection, args...), FItems(std::make_unique<TqvrRibbonItems>(this, 1000)) {}

private:
    static bool IsItemProperty(TqvrRibbonControlPropertyType t) {
        return t == rcptItemID || t == rcptItemCaption || t == rcptItemScreenTip || t == rcptItemSuperTip ||
               t == rcptItemGlyph;
    }

    std::unique_ptr<TqvrRibbonItems> FItems;
};

// ---- the classes ----

class TqvrRibbonSeparator : public TqvrRibbonControl {
    friend class TqvrRibbonCustomControl;

public:
    TqvrXmlAttributes GetXmlAttributes(int32_t ContextIndex) const override;

protected:
    explicit TqvrRibbonSeparator(TqvrRibbonControls* c) : TqvrRibbonControl(c, rctSeparator) {}
};

class TqvrRibbonMenuSeparator : public TqvrRibbonControl {
    friend class TqvrRibbonCustomControl;

public:
    TqvrXmlAttributes GetXmlAttributes(int32_t ContextIndex) const override;
    // The caption is the separator's title.
    std::wstring Title() const override { return FCaption; }

protected:
    explicit TqvrRibbonMenuSeparator(TqvrRibbonControls* c) : TqvrRibbonControl(c, rctMenuSeparator) {}
};

class TqvrRibbonDialogBoxLauncher : public TqvrRibbonControl {
    friend class TqvrRibbonCustomControl;

public:
    TqvrRibbonOnClick OnClick;
    TqvrXmlAttributes GetXmlAttributes(int32_t ContextIndex) const override;
    void DoAction(TqvrRibbonActionArguments& Args) override { Act(Args, OnClick); }

protected:
    // A collection holds at most one launcher (error 31119).
    explicit TqvrRibbonDialogBoxLauncher(TqvrRibbonControls* c);
};

// Items are never written into the markup: their attribute list is the base's empty one.
class TqvrRibbonItem : public TqvrRibbonControl {
    friend class TqvrRibbonCustomControl;

public:
    std::wstring DisplayName() const override { return ClassName(); }
    // These also make a drop-down that holds the item re-read its items.
    void SetCaption(const std::wstring& value) override;
    void SetScreenTip(const std::wstring& value) override;
    void SetSuperTip(const std::wstring& value) override;
    void SetImageIndex(int32_t value) override;

protected:
    explicit TqvrRibbonItem(TqvrRibbonControls* c) : TqvrRibbonControl(c, rctItem) {}
    bool StoresRibbons() const override { return false; }
    void GlyphChanged() override;

private:
    void InvalidateDropDown();
};

class TqvrRibbonGroup : public TqvrRibbonSharedContainer {
    friend class TqvrRibbonCustomControl;

public:
    TqvrXmlAttributes GetXmlAttributes(int32_t ContextIndex) const override;
    bool AutoScale() const { return FAutoScale; }
    void SetAutoScale(bool value) { FAutoScale = value; }
    bool CenterVertically() const { return FCenterVertically; }
    void SetCenterVertically(bool value) { FCenterVertically = value; }

protected:
    explicit TqvrRibbonGroup(TqvrRibbonControls* c) : TqvrRibbonSharedContainer(c, rctGroup) {}

private:
    bool FAutoScale = false;
    bool FCenterVertically = false;
};

class TqvrRibbonLabel : public TqvrRibbonControl {
    friend class TqvrRibbonCustomControl;

public:
    TqvrXmlAttributes GetXmlAttributes(int32_t ContextIndex) const override;

protected:
    explicit TqvrRibbonLabel(TqvrRibbonControls* c) : TqvrRibbonControl(c, rctLabel) {}
};

class TqvrRibbonButton : public TqvrRibbonControl {
    friend class TqvrRibbonCustomControl;

public:
    TqvrRibbonOnClick OnClick;
    std::wstring GetElementName() const override;
    TqvrXmlAttributes GetXmlAttributes(int32_t ContextIndex) const override;
    void DoAction(TqvrRibbonActionArguments& Args) override { Act(Args, OnClick); }
    bool ToggleButton() const { return FToggleButton; }
    void SetToggleButton(bool value) { FToggleButton = value; }
    TqvrParseMsoXmlTypeAs ParseMsoXmlTypeAs() const { return FParseMsoXmlTypeAs; }
    void SetParseMsoXmlTypeAs(TqvrParseMsoXmlTypeAs value) { FParseMsoXmlTypeAs = value; }

protected:
    explicit TqvrRibbonButton(TqvrRibbonControls* c) : TqvrRibbonControl(c, rctButton) {}

private:
    bool FToggleButton = false;
    TqvrParseMsoXmlTypeAs FParseMsoXmlTypeAs = pxtDefault;
};

class TqvrRibbonCheckBox : public TqvrRibbonControl {
    friend class TqvrRibbonCustomControl;

public:
    TqvrRibbonOnClick OnClick;
    TqvrXmlAttributes GetXmlAttributes(int32_t ContextIndex) const override;
    void DoAction(TqvrRibbonActionArguments& Args) override { Act(Args, OnClick); }

protected:
    explicit TqvrRibbonCheckBox(TqvrRibbonControls* c) : TqvrRibbonControl(c, rctCheckBox) {}
};

class TqvrRibbonEditBox : public TqvrRibbonControl {
    friend class TqvrRibbonCustomControl;

public:
    TqvrRibbonOnChange OnChange;
    TqvrXmlAttributes GetXmlAttributes(int32_t ContextIndex) const override;
    void DoAction(TqvrRibbonActionArguments& Args) override { Act(Args, OnChange); }
    int32_t MaxLength() const { return FMaxLength; }
    void SetMaxLength(int32_t value) { FMaxLength = value; }
    std::wstring SizeString() const { return FSizeString; }
    void SetSizeString(const std::wstring& value) { FSizeString = value; }

protected:
    explicit TqvrRibbonEditBox(TqvrRibbonControls* c) : TqvrRibbonControl(c, rctEditBox) {}

private:
    int32_t FMaxLength = 0;
    std::wstring FSizeString;
};

class TqvrRibbonComboBox : public TqvrRibbonItemsHolder<TqvrRibbonControl> {
    friend class TqvrRibbonCustomControl;

public:
    TqvrRibbonOnChange OnChange;
    TqvrXmlAttributes GetXmlAttributes(int32_t ContextIndex) const override;
    void DoAction(TqvrRibbonActionArguments& Args) override { Act(Args, OnChange); }
    int32_t MaxLength() const { return FMaxLength; }
    void SetMaxLength(int32_t value) { FMaxLength = value; }
    std::wstring SizeString() const { return FSizeString; }
    void SetSizeString(const std::wstring& value) { FSizeString = value; }

protected:
    explicit TqvrRibbonComboBox(TqvrRibbonControls* c) : TqvrRibbonItemsHolder(c, rctComboBox) {}

private:
    int32_t FMaxLength = 0;
    std::wstring FSizeString;
};

class TqvrRibbonDropDown : public TqvrRibbonItemsHolder<TqvrRibbonControlsHolder> {
    friend class TqvrRibbonCustomControl;

public:
    TqvrRibbonOnChange OnChange;
    TqvrXmlAttributes GetXmlAttributes(int32_t ContextIndex) const override;
    void DoAction(TqvrRibbonActionArguments& Args) override { Act(Args, OnChange); }
    bool ShowItemCaption() const { return FShowItemCaption; }
    void SetShowItemCaption(bool value) { FShowItemCaption = value; }
    std::wstring SizeString() const { return FSizeString; }
    void SetSizeString(const std::wstring& value) { FSizeString = value; }

protected:
    explicit TqvrRibbonDropDown(TqvrRibbonControls* c) : TqvrRibbonItemsHolder(c, rctDropDown, rctButton, 16) {}

private:
    bool FShowItemCaption = true;
    std::wstring FSizeString;
};

class TqvrRibbonGallery : public TqvrRibbonItemsHolder<TqvrRibbonControlsHolder> {
    friend class TqvrRibbonCustomControl;

public:
    TqvrRibbonOnChange OnChange;
    TqvrXmlAttributes GetXmlAttributes(int32_t ContextIndex) const override;
    void DoAction(TqvrRibbonActionArguments& Args) override { Act(Args, OnChange); }
    // 1 to 1024; other values are ignored.
    int32_t Columns() const { return FColumns; }
    void SetColumns(int32_t value);
    int32_t Rows() const { return FRows; }
    void SetRows(int32_t value);
    bool ShowItemCaption() const { return FShowItemCaption; }
    void SetShowItemCaption(bool value) { FShowItemCaption = value; }

protected:
    explicit TqvrRibbonGallery(TqvrRibbonControls* c) : TqvrRibbonItemsHolder(c, rctGallery, rctButton, 16) {}

private:
    int32_t FColumns = 1;
    int32_t FRows = 1;
    bool FShowItemCaption = true;
};

class TqvrRibbonMenu : public TqvrRibbonControlsHolder {
    friend class TqvrRibbonCustomControl;

public:
    TNotifyEvent OnCreate;
    std::wstring GetElementName() const override;
    TqvrXmlAttributes GetXmlAttributes(int32_t ContextIndex) const override;
    TqvrRibbonXItemSize ItemSize() const { return FItemSize; }
    void SetItemSize(TqvrRibbonXItemSize value) { FItemSize = value; }
    bool Dynamic() const { return FDynamic; }
    // Refused while the menu sits in a split button.
    void SetDynamic(bool value);
    // Raises OnCreate (the markup writer does, for every static menu it writes and every
    // dynamic menu content it builds); errors go to the module's error report.
    void DoCreate();

protected:
    explicit TqvrRibbonMenu(TqvrRibbonControls* c) : TqvrRibbonControlsHolder(c, rctMenu) {}

private:
    TqvrRibbonXItemSize FItemSize = TqvrRibbonXItemSize::Normal;
    bool FDynamic = false;
};

// Starts with one menu; Pressed and ToggleButton start false.
class TqvrRibbonSplitButton : public TqvrRibbonControlsHolder {
    friend class TqvrRibbonCustomControl;

public:
    TqvrRibbonOnClick OnClick;
    TqvrXmlAttributes GetXmlAttributes(int32_t ContextIndex) const override;
    void DoAction(TqvrRibbonActionArguments& Args) override { Act(Args, OnClick); }
    // Also refreshes the inner button (Id followed by "wrapped").
    void Invalidate() override;
    bool ToggleButton() const { return FToggleButton; }
    void SetToggleButton(bool value) { FToggleButton = value; }
    // The inner button written before the split button's menu.
    std::wstring GetWrappedButtonElementName() const { return FToggleButton ? L"toggleButton" : L"button"; }
    TqvrXmlAttributes GetWrappedButtonXmlAttributes(int32_t ContextIndex) const;

protected:
    explicit TqvrRibbonSplitButton(TqvrRibbonControls* c) : TqvrRibbonControlsHolder(c, rctSplitButton, rctMenu, 10) {}
    // The split button is registered before the menu it starts with.
    void AfterConstruction() override;

private:
    bool FToggleButton = false;
};

class TqvrRibbonBox : public TqvrRibbonSharedContainer {
    friend class TqvrRibbonCustomControl;

public:
    TqvrXmlAttributes GetXmlAttributes(int32_t ContextIndex) const override;
    TqvrRibbonXBoxStyle BoxStyle() const { return FBoxStyle; }
    void SetBoxStyle(TqvrRibbonXBoxStyle value) { SetAndInvalidate(FBoxStyle, value); }

protected:
    explicit TqvrRibbonBox(TqvrRibbonControls* c) : TqvrRibbonSharedContainer(c, rctBox) {}

private:
    TqvrRibbonXBoxStyle FBoxStyle = bsHorizontal;
};

class TqvrRibbonButtonGroup : public TqvrRibbonSharedContainer {
    friend class TqvrRibbonCustomControl;

public:
    TqvrXmlAttributes GetXmlAttributes(int32_t ContextIndex) const override;

protected:
    explicit TqvrRibbonButtonGroup(TqvrRibbonControls* c) : TqvrRibbonSharedContainer(c, rctButtonGroup) {}
};

namespace ribbonprops {
// The properties every control class publishes (Tag, OnPropertyChanging).
TqvrControlProperties BaseProperties();
}  // namespace ribbonprops

}  // namespace qvr
