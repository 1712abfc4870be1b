// The ribbon control catalogue: every control class with its published properties, defaults,
// collections, type code, element name, attribute list and action.
#pragma once

#include "ribbon/ribbon.h"

namespace qvr {

// Controls are created through their collection (TqvrRibbonControls::Add), never directly:
// their constructors are reachable only from TqvrRibbonCustomControl::Create.
#define QVR_RIBBON_CONTROL_CLASS(Name)                                   \
    friend class TqvrRibbonCustomControl;                                \
                                                                         \
public:                                                                  \
    std::wstring ClassName() const override { return L## #Name; }       \
    const TqvrControlProperties& PublishedProperties() const override;  \
                                                                         \
private:

class TqvrRibbonSeparator : public TqvrRibbonCustomControl {
    QVR_RIBBON_CONTROL_CLASS(TqvrRibbonSeparator)
public:
    TqvrRibbonControlType GetControlType() const override { return rctSeparator; }
    std::wstring GetElementName() const override { return L"separator"; }
    TqvrXmlAttributes GetXmlAttributes(int32_t ContextIndex) const override;

protected:
    explicit TqvrRibbonSeparator(TqvrRibbonControls* c) : TqvrRibbonCustomControl(c) {}
    std::wstring IdPrefix() const override { return L"qvrRibbonSeparator"; }
    bool GetsDesignCaption() const override { return false; }
};

class TqvrRibbonMenuSeparator : public TqvrRibbonCustomControl {
    QVR_RIBBON_CONTROL_CLASS(TqvrRibbonMenuSeparator)
public:
    TqvrRibbonControlType GetControlType() const override { return rctMenuSeparator; }
    std::wstring GetElementName() const override { return L"menuSeparator"; }
    TqvrXmlAttributes GetXmlAttributes(int32_t ContextIndex) const override;
    // The caption is the separator's title.
    std::wstring Title() const override { return FCaption; }

protected:
    explicit TqvrRibbonMenuSeparator(TqvrRibbonControls* c) : TqvrRibbonCustomControl(c) {}
    std::wstring IdPrefix() const override { return L"qvrRibbonMenuSeparator"; }
    bool GetsDesignCaption() const override { return false; }
    bool StoresCaption() const override { return true; }
};

class TqvrRibbonDialogBoxLauncher : public TqvrRibbonCustomControl {
    QVR_RIBBON_CONTROL_CLASS(TqvrRibbonDialogBoxLauncher)
public:
    TqvrRibbonOnClick OnClick;
    TqvrRibbonControlType GetControlType() const override { return rctDialogBoxLauncher; }
    std::wstring GetElementName() const override { return L"dialogBoxLauncher"; }
    TqvrXmlAttributes GetXmlAttributes(int32_t ContextIndex) const override;
    void DoAction(TqvrRibbonActionArguments& Args) override;

protected:
    // A collection holds at most one launcher (error 31119).
    explicit TqvrRibbonDialogBoxLauncher(TqvrRibbonControls* c);
    std::wstring IdPrefix() const override { return L"qvrRibbonDialogBoxLauncher"; }
    bool GetsDesignCaption() const override { return false; }
};

class TqvrRibbonItem : public TqvrRibbonCustomControl {
    QVR_RIBBON_CONTROL_CLASS(TqvrRibbonItem)
public:
    TqvrRibbonControlType GetControlType() const override { return rctItem; }
    std::wstring GetElementName() const override { return L"item"; }
    TqvrXmlAttributes GetXmlAttributes(int32_t) const override { return {}; }
    std::wstring DisplayName() const override { return ClassName(); }
    // These also make a drop-down that holds the item re-read its items.
    void SetCaption(const std::wstring& value) override;
    void SetScreenTip(const std::wstring& value) override;
    void SetSuperTip(const std::wstring& value) override;
    void SetImageIndex(int32_t value) override;

protected:
    explicit TqvrRibbonItem(TqvrRibbonControls* c) : TqvrRibbonCustomControl(c) {}
    std::wstring IdPrefix() const override { return L"qvrRibbonItem"; }
    bool StoresCaption() const override { return true; }
    bool StoresRibbons() const override { return false; }
    void GlyphChanged() override;

private:
    void InvalidateDropDown();
};

class TqvrRibbonGroup : public TqvrRibbonCustomControl {
    QVR_RIBBON_CONTROL_CLASS(TqvrRibbonGroup)
public:
    TqvrRibbonControlType GetControlType() const override { return rctGroup; }
    std::wstring GetElementName() const override { return L"group"; }
    TqvrXmlAttributes GetXmlAttributes(int32_t ContextIndex) const override;
    TqvrRibbonControls* GetControls() const override { return FControls.get(); }
    TqvrRibbonControls& Controls() { return *FControls; }
    void SetControls(const TqvrRibbonControls& value) { FControls->Assign(value); }
    bool Shared() const { return FShared; }
    void SetShared(bool value) { FShared = value; }
    bool AutoScale() const { return FAutoScale; }
    void SetAutoScale(bool value) { FAutoScale = value; }
    bool CenterVertically() const { return FCenterVertically; }
    void SetCenterVertically(bool value) { FCenterVertically = value; }

protected:
    explicit TqvrRibbonGroup(TqvrRibbonControls* c);
    std::wstring IdPrefix() const override { return L"qvrRibbonGroup"; }
    bool StoresCaption() const override { return true; }
    TqvrRibbonControls* MixedControls() const override { return FControls.get(); }

private:
    std::unique_ptr<TqvrRibbonControls> FControls;
    bool FShared = false;
    bool FAutoScale = false;
    bool FCenterVertically = false;
};

class TqvrRibbonLabel : public TqvrRibbonCustomControl {
    QVR_RIBBON_CONTROL_CLASS(TqvrRibbonLabel)
public:
    TqvrRibbonControlType GetControlType() const override { return rctLabel; }
    std::wstring GetElementName() const override { return FIDMso.empty() ? L"labelControl" : L"control"; }
    TqvrXmlAttributes GetXmlAttributes(int32_t ContextIndex) const override;

protected:
    explicit TqvrRibbonLabel(TqvrRibbonControls* c) : TqvrRibbonCustomControl(c) {}
    std::wstring IdPrefix() const override { return L"qvrRibbonLabel"; }
    bool StoresCaption() const override { return true; }
};

class TqvrRibbonButton : public TqvrRibbonCustomControl {
    QVR_RIBBON_CONTROL_CLASS(TqvrRibbonButton)
public:
    TqvrRibbonOnClick OnClick;
    TqvrRibbonControlType GetControlType() const override { return rctButton; }
    std::wstring GetElementName() const override;
    TqvrXmlAttributes GetXmlAttributes(int32_t ContextIndex) const override;
    void DoAction(TqvrRibbonActionArguments& Args) override;
    bool ToggleButton() const { return FToggleButton; }
    void SetToggleButton(bool value) { FToggleButton = value; }
    TqvrParseMsoXmlTypeAs ParseMsoXmlTypeAs() const { return FParseMsoXmlTypeAs; }
    void SetParseMsoXmlTypeAs(TqvrParseMsoXmlTypeAs value) { FParseMsoXmlTypeAs = value; }

protected:
    explicit TqvrRibbonButton(TqvrRibbonControls* c) : TqvrRibbonCustomControl(c) {}
    std::wstring IdPrefix() const override { return L"qvrRibbonButton"; }
    bool StoresCaption() const override { return true; }

private:
    bool FToggleButton = false;
    TqvrParseMsoXmlTypeAs FParseMsoXmlTypeAs = pxtDefault;
};

class TqvrRibbonCheckBox : public TqvrRibbonCustomControl {
    QVR_RIBBON_CONTROL_CLASS(TqvrRibbonCheckBox)
public:
    TqvrRibbonOnClick OnClick;
    TqvrRibbonControlType GetControlType() const override { return rctCheckBox; }
    std::wstring GetElementName() const override { return FIDMso.empty() ? L"checkBox" : L"control"; }
    TqvrXmlAttributes GetXmlAttributes(int32_t ContextIndex) const override;
    void DoAction(TqvrRibbonActionArguments& Args) override;

protected:
    explicit TqvrRibbonCheckBox(TqvrRibbonControls* c) : TqvrRibbonCustomControl(c) {}
    std::wstring IdPrefix() const override { return L"qvrRibbonCheckBox"; }
    bool StoresCaption() const override { return true; }
};

class TqvrRibbonEditBox : public TqvrRibbonCustomControl {
    QVR_RIBBON_CONTROL_CLASS(TqvrRibbonEditBox)
public:
    TqvrRibbonOnChange OnChange;
    TqvrRibbonControlType GetControlType() const override { return rctEditBox; }
    std::wstring GetElementName() const override { return FIDMso.empty() ? L"editBox" : L"control"; }
    TqvrXmlAttributes GetXmlAttributes(int32_t ContextIndex) const override;
    void DoAction(TqvrRibbonActionArguments& Args) override;
    int32_t MaxLength() const { return FMaxLength; }
    void SetMaxLength(int32_t value) { FMaxLength = value; }
    std::wstring SizeString() const { return FSizeString; }
    void SetSizeString(const std::wstring& value) { FSizeString = value; }

protected:
    explicit TqvrRibbonEditBox(TqvrRibbonControls* c) : TqvrRibbonCustomControl(c) {}
    std::wstring IdPrefix() const override { return L"qvrRibbonEditBox"; }
    bool StoresCaption() const override { return true; }

private:
    int32_t FMaxLength = 0;
    std::wstring FSizeString;
};

class TqvrRibbonComboBox : public TqvrRibbonCustomControl {
    QVR_RIBBON_CONTROL_CLASS(TqvrRibbonComboBox)
public:
    TqvrRibbonOnChange OnChange;
    TqvrRibbonItemPropertyChanging OnItemPropertyChanging;
    TqvrRibbonControlType GetControlType() const override { return rctComboBox; }
    std::wstring GetElementName() const override { return FIDMso.empty() ? L"comboBox" : L"control"; }
    TqvrXmlAttributes GetXmlAttributes(int32_t ContextIndex) const override;
    void DoAction(TqvrRibbonActionArguments& Args) override;
    void DoPropertyChanging(TqvrRibbonControlPropertyType PropertyType, unique_variant& Value, IDispatch* Context,
                            int32_t Index) override;
    TqvrRibbonItems* GetItems() const override { return FItems.get(); }
    TqvrRibbonItems& Items() { return *FItems; }
    void SetItems(const TqvrRibbonControls& value) { FItems->Assign(value); }
    int32_t MaxLength() const { return FMaxLength; }
    void SetMaxLength(int32_t value) { FMaxLength = value; }
    std::wstring SizeString() const { return FSizeString; }
    void SetSizeString(const std::wstring& value) { FSizeString = value; }

protected:
    explicit TqvrRibbonComboBox(TqvrRibbonControls* c);
    std::wstring IdPrefix() const override { return L"qvrRibbonComboBox"; }
    bool StoresCaption() const override { return true; }

private:
    std::unique_ptr<TqvrRibbonItems> FItems;
    int32_t FMaxLength = 0;
    std::wstring FSizeString;
};

class TqvrRibbonDropDown : public TqvrRibbonCustomControl {
    QVR_RIBBON_CONTROL_CLASS(TqvrRibbonDropDown)
public:
    TqvrRibbonOnChange OnChange;
    TqvrRibbonItemPropertyChanging OnItemPropertyChanging;
    TqvrRibbonControlType GetControlType() const override { return rctDropDown; }
    std::wstring GetElementName() const override { return FIDMso.empty() ? L"dropDown" : L"control"; }
    TqvrXmlAttributes GetXmlAttributes(int32_t ContextIndex) const override;
    void DoAction(TqvrRibbonActionArguments& Args) override;
    void DoPropertyChanging(TqvrRibbonControlPropertyType PropertyType, unique_variant& Value, IDispatch* Context,
                            int32_t Index) override;
    TqvrRibbonControls* GetControls() const override { return FControls.get(); }
    TqvrRibbonItems* GetItems() const override { return FItems.get(); }
    TqvrRibbonControls& Controls() { return *FControls; }
    void SetControls(const TqvrRibbonControls& value) { FControls->Assign(value); }
    TqvrRibbonItems& Items() { return *FItems; }
    void SetItems(const TqvrRibbonControls& value) { FItems->Assign(value); }
    bool ShowItemCaption() const { return FShowItemCaption; }
    void SetShowItemCaption(bool value) { FShowItemCaption = value; }
    std::wstring SizeString() const { return FSizeString; }
    void SetSizeString(const std::wstring& value) { FSizeString = value; }

protected:
    explicit TqvrRibbonDropDown(TqvrRibbonControls* c);
    std::wstring IdPrefix() const override { return L"qvrRibbonDropDown"; }
    bool StoresCaption() const override { return true; }

private:
    std::unique_ptr<TqvrRibbonControls> FControls;
    std::unique_ptr<TqvrRibbonItems> FItems;
    bool FShowItemCaption = true;
    std::wstring FSizeString;
};

class TqvrRibbonGallery : public TqvrRibbonCustomControl {
    QVR_RIBBON_CONTROL_CLASS(TqvrRibbonGallery)
public:
    TqvrRibbonOnChange OnChange;
    TqvrRibbonItemPropertyChanging OnItemPropertyChanging;
    TqvrRibbonControlType GetControlType() const override { return rctGallery; }
    std::wstring GetElementName() const override { return L"gallery"; }
    TqvrXmlAttributes GetXmlAttributes(int32_t ContextIndex) const override;
    void DoAction(TqvrRibbonActionArguments& Args) override;
    void DoPropertyChanging(TqvrRibbonControlPropertyType PropertyType, unique_variant& Value, IDispatch* Context,
                            int32_t Index) override;
    TqvrRibbonControls* GetControls() const override { return FControls.get(); }
    TqvrRibbonItems* GetItems() const override { return FItems.get(); }
    TqvrRibbonControls& Controls() { return *FControls; }
    void SetControls(const TqvrRibbonControls& value) { FControls->Assign(value); }
    TqvrRibbonItems& Items() { return *FItems; }
    void SetItems(const TqvrRibbonControls& value) { FItems->Assign(value); }
    // 1 to 1024; other values are ignored.
    int32_t Columns() const { return FColumns; }
    void SetColumns(int32_t value);
    int32_t Rows() const { return FRows; }
    void SetRows(int32_t value);
    bool ShowItemCaption() const { return FShowItemCaption; }
    void SetShowItemCaption(bool value) { FShowItemCaption = value; }

protected:
    explicit TqvrRibbonGallery(TqvrRibbonControls* c);
    std::wstring IdPrefix() const override { return L"qvrRibbonGallery"; }
    bool StoresCaption() const override { return true; }

private:
    int32_t FColumns = 1;
    std::unique_ptr<TqvrRibbonControls> FControls;
    std::unique_ptr<TqvrRibbonItems> FItems;
    int32_t FRows = 1;
    bool FShowItemCaption = true;
};

class TqvrRibbonMenu : public TqvrRibbonCustomControl {
    QVR_RIBBON_CONTROL_CLASS(TqvrRibbonMenu)
public:
    TNotifyEvent OnCreate;
    TqvrRibbonControlType GetControlType() const override { return rctMenu; }
    std::wstring GetElementName() const override;
    TqvrXmlAttributes GetXmlAttributes(int32_t ContextIndex) const override;
    TqvrRibbonControls* GetControls() const override { return FControls.get(); }
    TqvrRibbonControls& Controls() { return *FControls; }
    void SetControls(const TqvrRibbonControls& value) { FControls->Assign(value); }
    TqvrRibbonXItemSize ItemSize() const { return FItemSize; }
    void SetItemSize(TqvrRibbonXItemSize value) { FItemSize = value; }
    bool Dynamic() const { return FDynamic; }
    // Refused while the menu sits in a split button.
    void SetDynamic(bool value);
    // Raises OnCreate (the markup writer does, for every static menu it writes and every
    // dynamic menu content it builds); errors go to the module's error report.
    void DoCreate();

protected:
    explicit TqvrRibbonMenu(TqvrRibbonControls* c);
    std::wstring IdPrefix() const override { return L"qvrRibbonMenu"; }
    bool StoresCaption() const override { return true; }
    TqvrRibbonControls* MixedControls() const override { return FControls.get(); }

private:
    std::unique_ptr<TqvrRibbonControls> FControls;
    TqvrRibbonXItemSize FItemSize = TqvrRibbonXItemSize::Normal;
    bool FDynamic = false;
};

class TqvrRibbonSplitButton : public TqvrRibbonCustomControl {
    QVR_RIBBON_CONTROL_CLASS(TqvrRibbonSplitButton)
public:
    TqvrRibbonOnClick OnClick;
    TqvrRibbonControlType GetControlType() const override { return rctSplitButton; }
    std::wstring GetElementName() const override { return L"splitButton"; }
    TqvrXmlAttributes GetXmlAttributes(int32_t ContextIndex) const override;
    void DoAction(TqvrRibbonActionArguments& Args) override;
    // Also refreshes the inner button (Id followed by "wrapped").
    void Invalidate() override;
    TqvrRibbonControls* GetControls() const override { return FControls.get(); }
    TqvrRibbonControls& Controls() { return *FControls; }
    void SetControls(const TqvrRibbonControls& value) { FControls->Assign(value); }
    bool ToggleButton() const { return FToggleButton; }
    void SetToggleButton(bool value) { FToggleButton = value; }
    // The inner button written before the split button's menu.
    std::wstring GetWrappedButtonElementName() const { return FToggleButton ? L"toggleButton" : L"button"; }
    TqvrXmlAttributes GetWrappedButtonXmlAttributes(int32_t ContextIndex) const;

protected:
    explicit TqvrRibbonSplitButton(TqvrRibbonControls* c);
    // The split button is registered before the menu it starts with.
    void AfterConstruction() override;
    std::wstring IdPrefix() const override { return L"qvrRibbonSplitButton"; }
    bool StoresCaption() const override { return true; }

private:
    bool FToggleButton = false;
    std::unique_ptr<TqvrRibbonControls> FControls;
};

class TqvrRibbonBox : public TqvrRibbonCustomControl {
    QVR_RIBBON_CONTROL_CLASS(TqvrRibbonBox)
public:
    TqvrRibbonControlType GetControlType() const override { return rctBox; }
    std::wstring GetElementName() const override { return L"box"; }
    TqvrXmlAttributes GetXmlAttributes(int32_t ContextIndex) const override;
    TqvrRibbonControls* GetControls() const override { return FControls.get(); }
    TqvrRibbonControls& Controls() { return *FControls; }
    void SetControls(const TqvrRibbonControls& value) { FControls->Assign(value); }
    TqvrRibbonXBoxStyle BoxStyle() const { return FBoxStyle; }
    void SetBoxStyle(TqvrRibbonXBoxStyle value) { SetAndInvalidate(FBoxStyle, value); }
    bool Shared() const { return FShared; }
    void SetShared(bool value) { FShared = value; }

protected:
    explicit TqvrRibbonBox(TqvrRibbonControls* c);
    std::wstring IdPrefix() const override { return L"qvrRibbonBox"; }
    bool GetsDesignCaption() const override { return false; }
    TqvrRibbonControls* MixedControls() const override { return FControls.get(); }

private:
    TqvrRibbonXBoxStyle FBoxStyle = bsHorizontal;
    std::unique_ptr<TqvrRibbonControls> FControls;
    bool FShared = false;
};

class TqvrRibbonButtonGroup : public TqvrRibbonCustomControl {
    QVR_RIBBON_CONTROL_CLASS(TqvrRibbonButtonGroup)
public:
    TqvrRibbonControlType GetControlType() const override { return rctButtonGroup; }
    std::wstring GetElementName() const override { return L"buttonGroup"; }
    TqvrXmlAttributes GetXmlAttributes(int32_t ContextIndex) const override;
    TqvrRibbonControls* GetControls() const override { return FControls.get(); }
    TqvrRibbonControls& Controls() { return *FControls; }
    void SetControls(const TqvrRibbonControls& value) { FControls->Assign(value); }
    bool Shared() const { return FShared; }
    void SetShared(bool value) { FShared = value; }

protected:
    explicit TqvrRibbonButtonGroup(TqvrRibbonControls* c);
    std::wstring IdPrefix() const override { return L"qvrRibbonButtonGroup"; }
    bool GetsDesignCaption() const override { return false; }
    TqvrRibbonControls* MixedControls() const override { return FControls.get(); }

private:
    std::unique_ptr<TqvrRibbonControls> FControls;
    bool FShared = false;
};

#undef QVR_RIBBON_CONTROL_CLASS

namespace ribbonprops {
// The properties every control class publishes (Tag, OnPropertyChanging).
const TqvrControlProperties& BaseProperties();
}  // namespace ribbonprops

}  // namespace qvr
