// The ribbon component model: tabs owned by the module, groups in tabs, controls in groups and
// in other controls, the common interface through which markup and callbacks see tabs and
// controls alike, and the collections that hold them.
#pragma once

#include "com/collection.h"
#include "com/component.h"
#include "module/module.h"
#include "ribbon/callbacks.h"
#include "ribbon/graphics.h"
#include "module/ribbon_types.h"

#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace qvr {

class TqvrRibbonTab;
class TqvrRibbonControls;
class TqvrRibbonItems;
class TqvrRibbonCustomControl;
class TqvrRibbonSeparator;
class TqvrRibbonMenuSeparator;
class TqvrRibbonDialogBoxLauncher;
class TqvrRibbonItem;
class TqvrRibbonGroup;
class TqvrRibbonLabel;
class TqvrRibbonButton;
class TqvrRibbonCheckBox;
class TqvrRibbonEditBox;
class TqvrRibbonComboBox;
class TqvrRibbonDropDown;
class TqvrRibbonGallery;
class TqvrRibbonMenu;
class TqvrRibbonSplitButton;
class TqvrRibbonBox;
class TqvrRibbonButtonGroup;

// What the markup writer and the callback dispatch need of a tab or a control. It has no
// interface identifier and is not reference counted: it is a plain view of a component that
// the component's owner keeps alive. Properties a component lacks read as empty, false, 0 or -1
// and ignore their setters.
class IqvrRibbonComponent {
public:
    virtual void DoAction(TqvrRibbonActionArguments& Args) = 0;
    virtual void DoPropertyChanging(TqvrRibbonControlPropertyType PropertyType, unique_variant& Value,
                                    IDispatch* Context, int32_t Index) = 0;
    virtual std::wstring GetElementName() const = 0;
    // A new attribute list; the caller owns it.
    virtual TqvrXmlAttributes GetXmlAttributes(int32_t ContextIndex) const = 0;
    virtual TqvrRibbonControls* GetControls() const = 0;
    virtual TqvrRibbonItems* GetItems() const = 0;
    virtual TqvrRibbonControlType GetControlType() const = 0;

    virtual std::wstring Caption() const = 0;
    virtual void SetCaption(const std::wstring& value) = 0;
    virtual std::wstring Description() const = 0;
    virtual void SetDescription(const std::wstring& value) = 0;
    virtual bool Enabled() const = 0;
    virtual void SetEnabled(bool value) = 0;
    virtual std::wstring Id() const = 0;
    virtual void SetId(const std::wstring& value) = 0;
    virtual std::wstring IdMso() const = 0;
    virtual void SetIdMso(const std::wstring& value) = 0;
    virtual int32_t ImageIndex() const = 0;
    virtual void SetImageIndex(int32_t value) = 0;
    virtual std::wstring ImageMso() const = 0;
    virtual void SetImageMso(const std::wstring& value) = 0;
    virtual std::wstring InsertAfterIdMso() const = 0;
    virtual void SetInsertAfterIdMso(const std::wstring& value) = 0;
    virtual std::wstring InsertAfterId() const = 0;
    virtual void SetInsertAfterId(const std::wstring& value) = 0;
    virtual std::wstring InsertBeforeIdMso() const = 0;
    virtual void SetInsertBeforeIdMso(const std::wstring& value) = 0;
    virtual std::wstring InsertBeforeId() const = 0;
    virtual void SetInsertBeforeId(const std::wstring& value) = 0;
    virtual int32_t ItemHeight() const = 0;
    virtual void SetItemHeight(int32_t value) = 0;
    virtual int32_t ItemWidth() const = 0;
    virtual void SetItemWidth(int32_t value) = 0;
    // nullptr for a component without a picture of its own (a tab).
    virtual const TqvrBitmap* Glyph() const = 0;
    virtual TqvrRibbonKeyTip KeyTip() const = 0;
    virtual void SetKeyTip(const TqvrRibbonKeyTip& value) = 0;
    virtual bool Pressed() const = 0;
    virtual void SetPressed(bool value) = 0;
    virtual TqvrRibbons Ribbons() const = 0;
    virtual void SetRibbons(TqvrRibbons value) = 0;
    virtual std::wstring SelectedItemId() const = 0;
    virtual void SetSelectedItemId(const std::wstring& value) = 0;
    virtual int32_t SelectedItemIndex() const = 0;
    virtual void SetSelectedItemIndex(int32_t value) = 0;
    virtual std::wstring ScreenTip() const = 0;
    virtual void SetScreenTip(const std::wstring& value) = 0;
    virtual bool ShowCaption() const = 0;
    virtual void SetShowCaption(bool value) = 0;
    virtual TqvrRibbonXControlSize Size() const = 0;
    virtual void SetSize(TqvrRibbonXControlSize value) = 0;
    virtual std::wstring SuperTip() const = 0;
    virtual void SetSuperTip(const std::wstring& value) = 0;
    virtual std::wstring Text() const = 0;
    virtual void SetText(const std::wstring& value) = 0;
    virtual std::wstring Title() const = 0;
    virtual bool Visible() const = 0;
    virtual void SetVisible(bool value) = 0;
    virtual std::wstring GetContent() = 0;
    virtual TqvrRibbons2010 Ribbons2010() const = 0;
    virtual void SetRibbons2010(TqvrRibbons2010 value) = 0;
    // The Backstage view's child collections; none for ribbon components.
    virtual TqvrRibbonControls* GetFirstColumn() const = 0;
    virtual TqvrRibbonControls* GetSecondColumn() const = 0;
    virtual TqvrRibbonControls* GetPrimaryItem() const = 0;
    virtual TqvrRibbonControls* GetTopItems() const = 0;
    virtual TqvrRibbonControls* GetBottomItems() const = 0;
    virtual std::wstring Target() const = 0;
    virtual std::wstring AltText() const = 0;
    virtual std::wstring HelperText() const = 0;
    // The group style text of the Backstage view; empty for every ribbon component.
    virtual std::wstring GroupStyle() const = 0;

protected:
    ~IqvrRibbonComponent() = default;
};

// A tab or a control seen through the common interface; nullptr for anything else.
IqvrRibbonComponent* AsRibbonComponent(TObject* object);

// Registers the component classes that stored configurations create by name (the tab and the
// image list). Idempotent; modules call it before they read their configuration.
void RegisterRibbonClasses();

// ---- collections ----

class TqvrRibbonControls : public TCollection {
public:
    // ItemType: the code of the item class (rctCommand for collections that hold any control,
    // created by type code). The owner is a tab or a control.
    TqvrRibbonControls(TqvrRibbonTab* AOwner, TqvrRibbonControlType ItemType, int32_t MaxCount);
    TqvrRibbonControls(TqvrRibbonCustomControl* AOwner, TqvrRibbonControlType ItemType, int32_t MaxCount);
    ~TqvrRibbonControls() override;

    // The owner as what it is (one of the two is set); kept so that walking up the tree needs
    // no type tests.
    TqvrRibbonTab* OwnerTab() const { return ownerTab_; }
    TqvrRibbonCustomControl* OwnerControl() const { return ownerControl_; }
    TqvrRibbonControlType ItemType() const { return itemType_; }
    int32_t MaxCount() const { return FMaxCount; }
    TqvrRibbonCustomControl* GetItem(int index) const;
    void SetItem(int index, const TqvrRibbonCustomControl& value);

    // A new item of the collection's item class.
    virtual TqvrRibbonCustomControl* Add();
    // A new item of the class registered for AType.
    virtual TqvrRibbonCustomControl* Add(TqvrRibbonControlType AType);
    // The content of another collection: the same classes, with their properties assigned.
    void Assign(const TqvrRibbonControls& Source);

    // Stored form: items of the collection's single item class.
    void ReadItems(const FormValue& value);
    FormValue WriteItems() const;
    // Stored form of collections that hold mixed classes: the "ControlTypes" codes and the
    // "Controls_" children created from them.
    void ReadMixed(const std::vector<uint32_t>& controlTypes, const FormValue& children);
    FormValue WriteMixed() const;
    std::vector<uint32_t> ControlTypes() const;

protected:
    void Update(TCollectionItem* item) override;
    // The limit error when the collection is full.
    void CheckLimit() const;
    // Takes a newly created item into the collection.
    TqvrRibbonCustomControl* Adopt(std::unique_ptr<TqvrRibbonCustomControl> item);
    // The item an assignment creates for a source item.
    virtual TqvrRibbonCustomControl* AddLike(const TqvrRibbonCustomControl& source);

private:
    TqvrRibbonTab* ownerTab_ = nullptr;
    TqvrRibbonCustomControl* ownerControl_ = nullptr;
    TqvrRibbonControlType itemType_;
    int32_t FMaxCount;
};

class TqvrRibbonItems : public TqvrRibbonControls {
public:
    TqvrRibbonItems(TqvrRibbonCustomControl* AOwner, int32_t MaxCount);
    TqvrRibbonItem* GetItem(int index) const;
    TqvrRibbonCustomControl* Add() override;
    TqvrRibbonItem* AddItem();
    // Items are of one class only: no item is created by type code.
    TqvrRibbonCustomControl* Add(TqvrRibbonControlType AType) override;

protected:
    void Update(TCollectionItem* item) override;
    TqvrRibbonCustomControl* AddLike(const TqvrRibbonCustomControl& source) override;
};

// ---- the tab ----

class TqvrRibbonTab : public TComponent, public IqvrRibbonComponent {
public:
    // AOwner must be the add-in module (error 31112 otherwise).
    explicit TqvrRibbonTab(TComponent* AOwner);
    ~TqvrRibbonTab() override;
    std::wstring ClassName() const override { return L"TqvrRibbonTab"; }
    std::wstring DisplayName() const;

    // The module that owns the tab; nullptr once the module is going away.
    TqvrCOMAddInModule* Module() const { return FOwner; }
    // Called by the module while it is destroyed: the tab stops touching the module's lists.
    void DetachFromModule() { FOwner = nullptr; }

    TImageList* Images() const { return FImages; }
    void SetImages(TImageList* value);
    // The contextual tab set ("Host.TabSetId"); empty for an ordinary tab.
    std::wstring Context() const { return FContext; }
    void SetContext(const std::wstring& value);
    bool Shared() const { return FShared; }
    void SetShared(bool value) { FShared = value; }
    int32_t Tag() const { return FTag; }
    void SetTag(int32_t value) { FTag = value; }
    TqvrRibbonControls& Controls() { return *FControls; }
    void SetControls(const TqvrRibbonControls& value) { FControls->Assign(value); }
    TqvrRibbonPropertyChanging OnPropertyChanging;

    // Makes Office refresh the tab (the whole ribbon for a built-in tab).
    void Invalidate();
    // Selects the tab in Office 2010 and later; errors go to the module's error report.
    void Activate();

    // ---- IqvrRibbonComponent ----
    void DoAction(TqvrRibbonActionArguments& Args) override;
    void DoPropertyChanging(TqvrRibbonControlPropertyType PropertyType, unique_variant& Value, IDispatch* Context,
                            int32_t Index) override;
    std::wstring GetElementName() const override { return L"tab"; }
    TqvrXmlAttributes GetXmlAttributes(int32_t ContextIndex) const override;
    TqvrRibbonControls* GetControls() const override { return FControls.get(); }
    TqvrRibbonItems* GetItems() const override { return nullptr; }
    TqvrRibbonControlType GetControlType() const override { return rctTab; }
    std::wstring Caption() const override { return FCaption; }
    void SetCaption(const std::wstring& value) override { FCaption = value; }
    std::wstring Description() const override { return {}; }
    void SetDescription(const std::wstring&) override {}
    bool Enabled() const override { return true; }
    void SetEnabled(bool) override {}
    std::wstring Id() const override { return FID; }
    void SetId(const std::wstring& value) override;
    std::wstring IdMso() const override { return FIDMso; }
    void SetIdMso(const std::wstring& value) override;
    int32_t ImageIndex() const override { return 0; }
    void SetImageIndex(int32_t) override {}
    std::wstring ImageMso() const override { return {}; }
    void SetImageMso(const std::wstring&) override {}
    std::wstring InsertAfterIdMso() const override { return FInsertAfterIdMso; }
    void SetInsertAfterIdMso(const std::wstring& value) override { FInsertAfterIdMso = value; }
    std::wstring InsertAfterId() const override { return FInsertAfterId; }
    void SetInsertAfterId(const std::wstring& value) override { FInsertAfterId = value; }
    std::wstring InsertBeforeIdMso() const override { return FInsertBeforeIdMso; }
    void SetInsertBeforeIdMso(const std::wstring& value) override { FInsertBeforeIdMso = value; }
    std::wstring InsertBeforeId() const override { return FInsertBeforeId; }
    void SetInsertBeforeId(const std::wstring& value) override { FInsertBeforeId = value; }
    int32_t ItemHeight() const override { return -1; }
    void SetItemHeight(int32_t) override {}
    int32_t ItemWidth() const override { return -1; }
    void SetItemWidth(int32_t) override {}
    const TqvrBitmap* Glyph() const override { return nullptr; }
    TqvrRibbonKeyTip KeyTip() const override { return FKeyTip; }
    void SetKeyTip(const TqvrRibbonKeyTip& value) override;
    bool Pressed() const override { return false; }
    void SetPressed(bool) override {}
    TqvrRibbons Ribbons() const override { return FRibbons; }
    void SetRibbons(TqvrRibbons value) override;
    std::wstring SelectedItemId() const override { return {}; }
    void SetSelectedItemId(const std::wstring&) override {}
    int32_t SelectedItemIndex() const override { return -1; }
    void SetSelectedItemIndex(int32_t) override {}
    std::wstring ScreenTip() const override { return {}; }
    void SetScreenTip(const std::wstring&) override {}
    bool ShowCaption() const override { return false; }
    void SetShowCaption(bool) override {}
    TqvrRibbonXControlSize Size() const override { return csRegular; }
    void SetSize(TqvrRibbonXControlSize) override {}
    std::wstring SuperTip() const override { return {}; }
    void SetSuperTip(const std::wstring&) override {}
    std::wstring Text() const override { return {}; }
    void SetText(const std::wstring&) override {}
    std::wstring Title() const override { return {}; }
    bool Visible() const override { return FVisible; }
    void SetVisible(bool value) override { FVisible = value; }
    std::wstring GetContent() override { return {}; }
    TqvrRibbons2010 Ribbons2010() const override { return FRibbons2010; }
    void SetRibbons2010(TqvrRibbons2010 value) override;
    TqvrRibbonControls* GetFirstColumn() const override { return nullptr; }
    TqvrRibbonControls* GetSecondColumn() const override { return nullptr; }
    TqvrRibbonControls* GetPrimaryItem() const override { return nullptr; }
    TqvrRibbonControls* GetTopItems() const override { return nullptr; }
    TqvrRibbonControls* GetBottomItems() const override { return nullptr; }
    std::wstring Target() const override { return {}; }
    std::wstring AltText() const override { return {}; }
    std::wstring HelperText() const override { return {}; }
    std::wstring GroupStyle() const override { return {}; }

    // ---- stored form ----
    void ReadProperty(const FormProperty& property) override;
    void WriteProperties(std::vector<FormProperty>& out) const override;
    void Loaded() override;

protected:
    void Notification(TComponent* component, TOperation operation) override;

private:
    // Stored sets add to the filter the tab has; they are not handed on to the groups.
    void ApplyStoredRibbons(TqvrRibbons ribbons, TqvrRibbons2010 ribbons2010);
    void ClearImageIndexes();

    TImageList* FImages = nullptr;
    TqvrCOMAddInModule* FOwner = nullptr;
    std::wstring FCaption;
    std::wstring FContext;
    std::unique_ptr<TqvrRibbonControls> FControls;
    std::wstring FID;
    std::wstring FIDMso;
    std::wstring FInsertAfterIdMso;
    std::wstring FInsertAfterId;
    std::wstring FInsertBeforeIdMso;
    std::wstring FInsertBeforeId;
    TqvrRibbonKeyTip FKeyTip;
    TqvrRibbons FRibbons;
    TqvrRibbons2010 FRibbons2010;
    bool FVisible = true;
    bool FShared = false;
    int32_t FTag = 0;
    std::wstring FPendingImages;  // the image list named by the stored configuration
    int64_t FDesignLeft = 0;
    int64_t FDesignTop = 0;
};

// ---- the control base ----

// One published property of a control class in the stored configuration.
struct TqvrControlProperty {
    const wchar_t* name;
    void (*read)(TqvrRibbonCustomControl& control, const FormProperty& property);
    // Appends the stored form unless the value is the class's default.
    void (*write)(const TqvrRibbonCustomControl& control, const wchar_t* name, std::vector<FormProperty>& out);
};
// A class's table of them, kept as constant data.
using TqvrControlProperties = std::span<const TqvrControlProperty>;

class TqvrRibbonCustomControl : public TCollectionItem, public IqvrRibbonComponent {
public:
    ~TqvrRibbonCustomControl() override;
    std::wstring ClassName() const override { return L"TqvrRibbonCustomControl"; }
    std::wstring DisplayName() const override;

    // The control's place in the tree.
    TqvrRibbonControls* ParentCollection() const;
    // The owner of the control's collection: a tab or a control (nullptr without a collection).
    TObject* Container() const;
    IqvrRibbonComponent* ContainerComponent() const;
    TqvrRibbonCustomControl* ContainerControl() const;
    // The tab above the control, reached through the owners of the enclosing collections.
    TqvrRibbonTab* OwningTab() const;
    // The module of that tab; nullptr when there is none.
    TqvrCOMAddInModule* Module() const;

    int32_t Tag() const { return FTag; }
    void SetTag(int32_t value) { FTag = value; }
    bool InUse() const { return FInUse; }
    TqvrRibbonPropertyChanging OnPropertyChanging;

    // Copies the common properties of another control through the setters.
    virtual void Assign(const TqvrRibbonCustomControl& Source);
    // Makes Office re-query the control (nothing before the ribbon is loaded).
    virtual void Invalidate();
    void SetGlyph(const TqvrBitmap& value) { FGlyph.Assign(value); }
    TqvrBitmap& GlyphBitmap() { return FGlyph; }

    TqvrRibbonSeparator* AsRibbonSeparator();
    TqvrRibbonMenuSeparator* AsRibbonMenuSeparator();
    TqvrRibbonDialogBoxLauncher* AsRibbonDialogBoxLauncher();
    TqvrRibbonItem* AsRibbonItem();
    TqvrRibbonGroup* AsRibbonGroup();
    TqvrRibbonLabel* AsRibbonLabel();
    TqvrRibbonButton* AsRibbonButton();
    TqvrRibbonCheckBox* AsRibbonCheckBox();
    TqvrRibbonEditBox* AsRibbonEditBox();
    TqvrRibbonComboBox* AsRibbonComboBox();
    TqvrRibbonDropDown* AsRibbonDropDown();
    TqvrRibbonGallery* AsRibbonGallery();
    TqvrRibbonMenu* AsRibbonMenu();
    TqvrRibbonSplitButton* AsRibbonSplitButton();
    TqvrRibbonBox* AsRibbonBox();
    TqvrRibbonButtonGroup* AsRibbonButtonGroup();

    // ---- IqvrRibbonComponent ----
    void DoAction(TqvrRibbonActionArguments& Args) override;
    void DoPropertyChanging(TqvrRibbonControlPropertyType PropertyType, unique_variant& Value, IDispatch* Context,
                            int32_t Index) override;
    std::wstring GetElementName() const override { return {}; }
    TqvrXmlAttributes GetXmlAttributes(int32_t ContextIndex) const override;
    TqvrRibbonControls* GetControls() const override { return nullptr; }
    TqvrRibbonItems* GetItems() const override { return nullptr; }
    TqvrRibbonControlType GetControlType() const override { return FBareType; }
    std::wstring Caption() const override { return FCaption; }
    void SetCaption(const std::wstring& value) override { SetAndInvalidate(FCaption, value); }
    std::wstring Description() const override { return FDescription; }
    void SetDescription(const std::wstring& value) override { SetAndInvalidate(FDescription, value); }
    bool Enabled() const override { return FEnabled; }
    void SetEnabled(bool value) override { SetAndInvalidate(FEnabled, value); }
    std::wstring Id() const override { return FID; }
    void SetId(const std::wstring& value) override;
    std::wstring IdMso() const override { return FIDMso; }
    void SetIdMso(const std::wstring& value) override;
    int32_t ImageIndex() const override { return FImageIndex; }
    void SetImageIndex(int32_t value) override { SetAndInvalidate(FImageIndex, value); }
    std::wstring ImageMso() const override { return FImageMso; }
    void SetImageMso(const std::wstring& value) override { SetAndInvalidate(FImageMso, value); }
    std::wstring InsertAfterIdMso() const override { return FInsertAfterIdMso; }
    void SetInsertAfterIdMso(const std::wstring& value) override { SetAndInvalidate(FInsertAfterIdMso, value); }
    std::wstring InsertAfterId() const override { return FInsertAfterId; }
    void SetInsertAfterId(const std::wstring& value) override { SetAndInvalidate(FInsertAfterId, value); }
    std::wstring InsertBeforeIdMso() const override { return FInsertBeforeIdMso; }
    void SetInsertBeforeIdMso(const std::wstring& value) override { SetAndInvalidate(FInsertBeforeIdMso, value); }
    std::wstring InsertBeforeId() const override { return FInsertBeforeId; }
    void SetInsertBeforeId(const std::wstring& value) override { SetAndInvalidate(FInsertBeforeId, value); }
    int32_t ItemHeight() const override { return FItemHeight; }
    void SetItemHeight(int32_t value) override { SetAndInvalidate(FItemHeight, value); }
    int32_t ItemWidth() const override { return FItemWidth; }
    void SetItemWidth(int32_t value) override { SetAndInvalidate(FItemWidth, value); }
    const TqvrBitmap* Glyph() const override { return &FGlyph; }
    TqvrRibbonKeyTip KeyTip() const override { return FKeyTip; }
    void SetKeyTip(const TqvrRibbonKeyTip& value) override;
    bool Pressed() const override { return FPressed; }
    void SetPressed(bool value) override { SetAndInvalidate(FPressed, value); }
    TqvrRibbons Ribbons() const override { return FRibbons; }
    void SetRibbons(TqvrRibbons value) override;
    std::wstring SelectedItemId() const override { return FSelectedItemId; }
    void SetSelectedItemId(const std::wstring& value) override { SetAndInvalidate(FSelectedItemId, value); }
    int32_t SelectedItemIndex() const override { return FSelectedItemIndex; }
    void SetSelectedItemIndex(int32_t value) override { SetAndInvalidate(FSelectedItemIndex, value); }
    std::wstring ScreenTip() const override { return FScreenTip; }
    void SetScreenTip(const std::wstring& value) override { SetAndInvalidate(FScreenTip, value); }
    bool ShowCaption() const override { return FShowCaption; }
    void SetShowCaption(bool value) override { SetAndInvalidate(FShowCaption, value); }
    TqvrRibbonXControlSize Size() const override { return FSize; }
    void SetSize(TqvrRibbonXControlSize value) override { SetAndInvalidate(FSize, value); }
    std::wstring SuperTip() const override { return FSuperTip; }
    void SetSuperTip(const std::wstring& value) override { SetAndInvalidate(FSuperTip, value); }
    std::wstring Text() const override { return FText; }
    void SetText(const std::wstring& value) override { SetAndInvalidate(FText, value); }
    std::wstring Title() const override { return FTitle; }
    void SetTitle(const std::wstring& value) { SetAndInvalidate(FTitle, value); }
    bool Visible() const override { return FVisible; }
    void SetVisible(bool value) override { SetAndInvalidate(FVisible, value); }
    std::wstring GetContent() override { return {}; }
    TqvrRibbons2010 Ribbons2010() const override { return FRibbons2010; }
    void SetRibbons2010(TqvrRibbons2010 value) override;
    TqvrRibbonControls* GetFirstColumn() const override { return nullptr; }
    TqvrRibbonControls* GetSecondColumn() const override { return nullptr; }
    TqvrRibbonControls* GetPrimaryItem() const override { return nullptr; }
    TqvrRibbonControls* GetTopItems() const override { return nullptr; }
    TqvrRibbonControls* GetBottomItems() const override { return nullptr; }
    std::wstring Target() const override { return FTarget; }
    std::wstring AltText() const override { return FAltText; }
    std::wstring HelperText() const override { return FHelperText; }
    std::wstring GroupStyle() const override { return {}; }

    // ---- stored form ----
    // The published properties of the class, in the order they are stored.
    virtual TqvrControlProperties PublishedProperties() const;
    void ReadProperties(const std::vector<FormProperty>& properties);
    virtual void ReadProperty(const FormProperty& property);
    virtual void WriteProperties(std::vector<FormProperty>& out) const;

    // Binds a stored event property to the module's published method of that name.
    template <typename Handler>
    void BindEvent(Handler& handler, const FormProperty& property) {
        handler = EventRoot(property).template MethodAddress<Handler>(property.value.AsIdent());
        RememberBinding(property.name, property.value.AsIdent());
    }
    // The method name a stored event property was bound to; empty if none.
    std::wstring BoundMethod(const std::wstring& eventName) const;

    // Creates a control of class T in `collection` (after the collection's checks, see
    // TqvrRibbonControls::Add): construction, then the steps that need the finished object.
    template <typename T>
    static std::unique_ptr<TqvrRibbonCustomControl> Create(TqvrRibbonControls* collection) {
        std::unique_ptr<TqvrRibbonCustomControl> c(new T(collection));
        c->AfterConstruction();
        return c;
    }
    // A bare control standing for a type code without a class of its own.
    static std::unique_ptr<TqvrRibbonCustomControl> CreateBare(TqvrRibbonControls* collection,
                                                               TqvrRibbonControlType type);

protected:
    explicit TqvrRibbonCustomControl(TqvrRibbonControls* collection, TqvrRibbonControlType bareType = rctCommand);

    // Design-mode id and caption, then registration in the module.
    virtual void AfterConstruction();
    // "qvrRibbonButton" and so on; empty for the bare class.
    virtual std::wstring IdPrefix() const { return {}; }
    // Whether a new control of the class gets a numbered caption in design mode.
    virtual bool GetsDesignCaption() const { return true; }
    // The stored "Caption" (controls keep it among the special values).
    virtual bool StoresCaption() const { return false; }
    // Whether "Ribbons" and "Ribbons2010" are stored (every class but the item).
    virtual bool StoresRibbons() const { return true; }
    // The child collection stored as "ControlTypes" and "Controls_" (classes whose children are
    // of mixed classes); nullptr otherwise.
    virtual TqvrRibbonControls* MixedControls() const { return nullptr; }
    // The glyph's content changed.
    virtual void GlyphChanged() { Invalidate(); }

    // What Office reports with an action, kept before the handler runs so that the handler reads
    // the control's new state: a click the pressed state, an edit the text, a choice the selection.
    void TakePressed(const TqvrRibbonActionArguments& a) { FPressed = a.Pressed; }
    void TakeText(const TqvrRibbonActionArguments& a) { FText = a.Text; }
    void TakeSelection(const TqvrRibbonActionArguments& a) {
        FSelectedItemId = a.SelectedID;
        FSelectedItemIndex = a.SelectedIndex;
    }

    template <typename T>
    void SetAndInvalidate(T& field, const T& value) {
        if (field == value) return;
        field = value;
        Invalidate();
    }
    // Raises an action event: not while the control's own handler runs; errors go to the
    // module's error report.
    template <typename Handler>
    void RaiseAction(const Handler& handler, IRibbonControl* control) {
        if (!handler || FInUse) return;
        FInUse = true;
        struct Reset {
            bool& flag;
            ~Reset() { flag = false; }
        } reset{FInUse};
        Fire(handler, static_cast<TObject*>(this), control);
    }
    // Calls a handler through the module's error report (directly when there is no module).
    template <typename Handler, typename... Args>
    void Fire(const Handler& handler, Args&&... args) {
        if (!handler) return;
        if (TqvrCOMAddInModule* m = Module())
            m->Fire(handler, std::forward<Args>(args)...);
        else
            handler(std::forward<Args>(args)...);
    }

    // The children of every collection the control owns (filter propagation, images removal).
    virtual std::vector<TqvrRibbonControls*> OwnedCollections() const;
    // The filter handed on to the children; `propagate` is false while stored values are read.
    void ApplyRibbons(TqvrRibbons value, bool propagate);
    void ApplyRibbons2010(TqvrRibbons2010 value, bool propagate);

    // Building blocks of the attribute lists.
    std::wstring ModuleNamespace() const;
    int32_t HostMajorVersion() const;
    bool DocumentUses2009Namespace() const;
    std::wstring ContainerIdMso() const;
    bool ContainerIs(TqvrRibbonControlType type) const;
    void AddIdBlock(TqvrXmlAttributes& a, int32_t contextIndex, bool contextClass) const;
    void AddInsertBlock(TqvrXmlAttributes& a) const;
    void AddImageBlock(TqvrXmlAttributes& a) const;
    // idMso first; true when the list ends there (a built-in control in a built-in container).
    bool AddBuiltInStart(TqvrXmlAttributes& a, bool stopClass) const;
    // The list the edit box and the combo box share; false when it ended at a built-in stop.
    bool AddEditBoxList(TqvrXmlAttributes& a, int32_t contextIndex, int32_t maxLength,
                        const std::wstring& sizeString) const;

    bool FInUse = false;
    std::wstring FCaption;
    std::wstring FDescription;
    bool FEnabled = true;
    std::wstring FID;
    std::wstring FIDMso;
    int32_t FImageIndex = -1;
    std::wstring FImageMso;
    std::wstring FInsertAfterIdMso;
    std::wstring FInsertAfterId;
    std::wstring FInsertBeforeIdMso;
    std::wstring FInsertBeforeId;
    int32_t FItemHeight = -1;
    int32_t FItemWidth = -1;
    TqvrRibbonKeyTip FKeyTip;
    bool FPressed = false;
    TqvrRibbons FRibbons = kDefaultRibbons;
    TqvrRibbons2010 FRibbons2010 = kDefaultRibbons2010;
    std::wstring FSelectedItemId;
    int32_t FSelectedItemIndex = -1;
    std::wstring FScreenTip;
    bool FShowCaption = true;
    TqvrRibbonXControlSize FSize = csRegular;
    std::wstring FSuperTip;
    std::wstring FText;
    bool FVisible = true;
    TqvrBitmap FGlyph;
    std::wstring FTitle;
    int32_t FTag = 0;
    std::wstring FTarget;
    std::wstring FAltText;
    std::wstring FHelperText;
    // The type codes of the children, kept between reading "ControlTypes" and "Controls_".
    std::vector<uint32_t> FControlTypes;

private:
    friend class TqvrRibbonTab;
    friend class TqvrRibbonControls;
    TComponent& EventRoot(const FormProperty& property) const;
    void RememberBinding(const std::wstring& eventName, const std::wstring& method);
    // Re-keys the control's registry entry.
    void Rekey(const std::wstring& key);
    // Writes -1 into ImageIndex here and below, without telling Office (the image list is gone).
    void ClearImageIndexes();

    TqvrRibbonControlType FBareType;
    std::vector<std::pair<std::wstring, std::wstring>> eventBindings_;
};

// Building blocks of the attribute lists shared by tabs and controls.
namespace ribbonxml {
inline constexpr const wchar_t* kGetVisible = RibbonCallbackName(rcbGetVisible);
inline constexpr const wchar_t* kGetKeyTip = RibbonCallbackName(rcbGetKeyTip);
inline constexpr const wchar_t* kGetLabel = RibbonCallbackName(rcbGetLabel);
inline constexpr const wchar_t* kGetEnabled = RibbonCallbackName(rcbGetEnabled);
inline constexpr const wchar_t* kGetPressed = RibbonCallbackName(rcbGetPressed);
inline constexpr const wchar_t* kGetImage = RibbonCallbackName(rcbGetImage);
inline constexpr const wchar_t* kGetSuperTip = RibbonCallbackName(rcbGetSuperTip);
inline constexpr const wchar_t* kGetScreenTip = RibbonCallbackName(rcbGetScreenTip);
inline constexpr const wchar_t* kGetSize = RibbonCallbackName(rcbGetSize);
inline constexpr const wchar_t* kGetShowLabel = RibbonCallbackName(rcbGetShowLabel);
inline constexpr const wchar_t* kGetShowImage = RibbonCallbackName(rcbGetShowImage);
inline constexpr const wchar_t* kGetDescription = RibbonCallbackName(rcbGetDescription);
inline constexpr const wchar_t* kGetText = RibbonCallbackName(rcbGetText);
inline constexpr const wchar_t* kGetItemCount = RibbonCallbackName(rcbGetItemCount);
inline constexpr const wchar_t* kGetItemID = RibbonCallbackName(rcbGetItemID);
inline constexpr const wchar_t* kGetItemImage = RibbonCallbackName(rcbGetItemImage);
inline constexpr const wchar_t* kGetItemLabel = RibbonCallbackName(rcbGetItemLabel);
inline constexpr const wchar_t* kGetItemScreenTip = RibbonCallbackName(rcbGetItemScreenTip);
inline constexpr const wchar_t* kGetItemSuperTip = RibbonCallbackName(rcbGetItemSuperTip);
inline constexpr const wchar_t* kGetSelectedItemIndex = RibbonCallbackName(rcbGetSelectedItemIndex);
inline constexpr const wchar_t* kGetSelectedItemId = RibbonCallbackName(rcbGetSelectedItemId);
inline constexpr const wchar_t* kGetItemHeight = RibbonCallbackName(rcbGetItemHeight);
inline constexpr const wchar_t* kGetItemWidth = RibbonCallbackName(rcbGetItemWidth);
inline constexpr const wchar_t* kGetContent = RibbonCallbackName(rcbGetContent);
inline constexpr const wchar_t* kGetTitle = RibbonCallbackName(rcbGetTitle);
inline constexpr const wchar_t* kOnActionCommon = RibbonCallbackName(rcbOnActionCommon);
inline constexpr const wchar_t* kOnActionState = RibbonCallbackName(rcbOnActionState);
inline constexpr const wchar_t* kOnActionSelected = RibbonCallbackName(rcbOnActionSelected);
inline constexpr const wchar_t* kOnChange = RibbonCallbackName(rcbOnChange);

// The marker of a control written into a context menu.
inline constexpr const wchar_t* kContextMenuMarker = L"_qvr_context_menu_";

// id / idQ of a component of the add-in's own.
void AddIdBlock(TqvrXmlAttributes& a, const std::wstring& id, const std::wstring& moduleNamespace,
                int32_t contextIndex, bool contextClass);
// idQ in the shared namespace, then visible.
void AddSharedBlock(TqvrXmlAttributes& a, const std::wstring& id, bool visible);
// At most one placement pair, the first placement property that is set.
void AddInsertBlock(TqvrXmlAttributes& a, const IqvrRibbonComponent& c);
}  // namespace ribbonxml

// The text a design-time id is made of: prefix plus a new GUID's 32 hexadecimal digits.
std::wstring NewDesignId(const std::wstring& prefix);

// Creates the control class registered for a type code (codes without a class of their own
// give a bare TqvrRibbonCustomControl that remembers its code).
std::unique_ptr<TqvrRibbonCustomControl> CreateRibbonControl(TqvrRibbonControlType type, TqvrRibbonControls* collection);

}  // namespace qvr
