#include "ribbon/dispatch.h"

#include "com/dispatch.h"
#include "com/error.h"
#include "com/log.h"
#include "com/numbers.h"
#include "com/query.h"
#include "ribbon/controls.h"
#include "ribbon/markup.h"
#include "ribbon/pictures.h"

#include <wrl/client.h>

#include <optional>
#include <string_view>

using Microsoft::WRL::ComPtr;

namespace qvr {

// ---- names ----

DISPID RibbonCallbackId(const wchar_t* name) {
    if (!name) return DISPID_UNKNOWN;
    // The name as 8-bit text of at most 255 characters; a character beyond Latin-1 becomes a
    // zero that stays part of the text, so such a name matches nothing.
    std::wstring narrow;
    for (const wchar_t* p = name; *p && narrow.size() < 255; ++p) narrow += *p < 256 ? *p : L'\0';
    for (const TqvrRibbonCallback& cb : kRibbonCallbacks)
        if (narrow == cb.name) return cb.id;
    return DISPID_UNKNOWN;
}

// ---- component lookup ----

IqvrRibbonComponent* FindRibbonComponent(TqvrCOMAddInModule* module, std::wstring controlId, bool unwrap) {
    if (!module) return nullptr;
    static constexpr std::wstring_view kWrapped = L"wrapped";
    static constexpr std::wstring_view kMarker = ribbonxml::kContextMenuMarker;
    if (unwrap)
        if (size_t at = controlId.find(kWrapped); at != std::wstring::npos) controlId.erase(at, kWrapped.size());
    // The marker and the number after it: the number has at most four digits.
    if (size_t at = controlId.find(kMarker); at != std::wstring::npos) controlId.erase(at, kMarker.size() + 4);
    const TqvrRibbonControlList& registry = module->RibbonControls();
    int index = registry.IndexOf(controlId);
    return index < 0 ? nullptr : AsRibbonComponent(registry.Objects(index));
}

bool RibbonHasImage(const IqvrRibbonComponent& c) {
    if (const TqvrBitmap* glyph = c.Glyph(); glyph && !glyph->Empty()) return true;
    return c.ImageIndex() >= 0 || !c.ImageMso().empty();
}

namespace {

// ---- Office's arguments ----

[[noreturn]] void RaiseArgumentError(const wchar_t* what) {
    throw EqvrError(FormatText(L"Invalid ribbon callback argument: %s", {what}), DISP_E_TYPEMISMATCH, ErrorKind::Ole);
}

}  // namespace

// Office's arguments in Office's order: its first argument is the last element of the array.
class TqvrCallbackArguments {
public:
    explicit TqvrCallbackArguments(const DISPPARAMS* params) : params_(params) {}

    VARIANT& At(UINT i) const {
        if (!params_ || !params_->rgvarg || i >= params_->cArgs)
            throw EqvrError(L"The ribbon callback was called with too few arguments.", DISP_E_BADPARAMCOUNT,
                            ErrorKind::Ole);
        return params_->rgvarg[params_->cArgs - 1 - i];
    }

    template <typename I>
    ComPtr<I> Interface(UINT i, const wchar_t* what) const {
        const VARIANT* v = &At(i);
        if (v->vt == (VT_BYREF | VT_VARIANT) && v->pvarVal) v = v->pvarVal;
        IUnknown* unknown = nullptr;
        switch (v->vt) {
            case VT_DISPATCH: unknown = v->pdispVal; break;
            case VT_UNKNOWN: unknown = v->punkVal; break;
            case VT_BYREF | VT_DISPATCH: unknown = v->ppdispVal ? *v->ppdispVal : nullptr; break;
            case VT_BYREF | VT_UNKNOWN: unknown = v->ppunkVal ? *v->ppunkVal : nullptr; break;
            default: break;
        }
        if (!unknown) RaiseArgumentError(what);
        return Query<I>(unknown);
    }
    ComPtr<IRibbonControl> Control(UINT i) const { return Interface<IRibbonControl>(i, L"ribbon control"); }
    std::wstring String(UINT i) const {
        unique_variant v = ConvertedVariant(At(i), VT_BSTR);
        return std::wstring(v.bstrVal, SysStringLen(v.bstrVal));
    }
    bool Bool(UINT i) const { return ConvertedVariant(At(i), VT_BOOL).boolVal != VARIANT_FALSE; }
    int32_t Int(UINT i) const { return ConvertedVariant(At(i), VT_I4).lVal; }

    // A flag Office passes by reference and reads back.
    VARIANT& CancelFlag(UINT i) const {
        VARIANT& v = At(i);
        if ((v.vt == (VT_BYREF | VT_VARIANT) && v.pvarVal) || (v.vt == (VT_BYREF | VT_BOOL) && v.pboolVal)) return v;
        RaiseArgumentError(L"cancel flag (not passed by reference)");
    }
    static bool ReadFlag(const VARIANT& ref) {
        return ref.vt == (VT_BYREF | VT_BOOL) ? *ref.pboolVal != VARIANT_FALSE
                                              : ConvertedVariant(*ref.pvarVal, VT_BOOL).boolVal != VARIANT_FALSE;
    }
    static void WriteFlag(VARIANT& ref, bool value) {
        if (ref.vt == (VT_BYREF | VT_BOOL)) {
            *ref.pboolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
            return;
        }
        VariantClear(ref.pvarVal);
        ref.pvarVal->vt = VT_BOOL;
        ref.pvarVal->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    }

private:
    const DISPPARAMS* params_;
};

namespace {

std::wstring ControlId(IRibbonControl* control) {
    unique_bstr id;
    ThrowIfFailed(control->get_Id(id.put()));
    return id.str();
}

ComPtr<IDispatch> ControlContext(IRibbonControl* control) {
    ComPtr<IDispatch> context;
    ThrowIfFailed(control->get_Context(&context));
    return context;
}

unique_variant Picture(ComPtr<IUnknown> picture) {
    unique_variant v;
    v.vt = VT_UNKNOWN;
    v.punkVal = picture.Detach();
    return v;
}

// The interface a property-changing handler left in the value, if any.
ComPtr<IUnknown> InterfaceIn(const VARIANT& v) {
    ComPtr<IUnknown> unknown;
    if (v.vt == VT_UNKNOWN) unknown = v.punkVal;
    else if (v.vt == VT_DISPATCH) unknown = v.pdispVal;
    return unknown;
}

// ---- property callbacks ----

unique_variant Text(const std::wstring& s) { return unique_variant::FromString(s); }
unique_variant Flag(bool b) { return unique_variant::FromBool(b); }
unique_variant Number(int32_t i) { return unique_variant::FromInt(i); }

// How a getter of the callback table answers: which property of the control it reads, and how.
struct PropertyCallback {
    TqvrRibbonCallbackId id;
    bool wrapped;      // the first "wrapped" of the control id is removed before the lookup
    bool item;         // Office passes an item index; the value is read from that item
    TqvrRibbonControlPropertyType kind;
    VARTYPE answer;    // VT_EMPTY: the value as the handler left it
    unique_variant (*fallback)();
    unique_variant (*read)(IqvrRibbonComponent& source);
    bool minusOneIsZero;  // gallery item sizes: -1 means "not set", which Office reads as 0
};

unique_variant ReadContent(IqvrRibbonComponent& c) {
    // A menu's content is the markup of its children, which the markup writer builds.
    if (auto* control = dynamic_cast<TqvrRibbonCustomControl*>(&c))
        if (TqvrRibbonMenu* menu = control->AsRibbonMenu()) return Text(GetContent(*menu));
    return Text(c.GetContent());
}

const PropertyCallback kPropertyCallbacks[] = {
    {rcbGetVisible, false, false, rcptVisible, VT_BOOL, [] { return Flag(true); }, [](IqvrRibbonComponent& c) { return Flag(c.Visible()); }, false},
    {rcbGetKeyTip, false, false, rcptKeyTip, VT_BSTR, [] { return Text(L""); }, [](IqvrRibbonComponent& c) { return Text(KeyTipToText(c.KeyTip())); }, false},
    {rcbGetLabel, true, false, rcptCaption, VT_BSTR, [] { return Text(L""); }, [](IqvrRibbonComponent& c) { return Text(c.Caption()); }, false},
    {rcbGetEnabled, false, false, rcptEnabled, VT_BOOL, [] { return Flag(true); }, [](IqvrRibbonComponent& c) { return Flag(c.Enabled()); }, false},
    {rcbGetPressed, true, false, rcptPressed, VT_BOOL, [] { return Flag(false); }, [](IqvrRibbonComponent& c) { return Flag(c.Pressed()); }, false},
    {rcbGetSuperTip, true, false, rcptSuperTip, VT_BSTR, [] { return Text(L""); }, [](IqvrRibbonComponent& c) { return Text(c.SuperTip()); }, false},
    {rcbGetScreenTip, true, false, rcptScreenTip, VT_BSTR, [] { return Text(L""); }, [](IqvrRibbonComponent& c) { return Text(c.ScreenTip()); }, false},
    {rcbGetSize, false, false, rcptSize, VT_I4, [] { return Number(0); }, [](IqvrRibbonComponent& c) { return Number(c.Size()); }, false},
    {rcbGetShowLabel, true, false, rcptShowCaption, VT_BOOL, [] { return Flag(true); }, [](IqvrRibbonComponent& c) { return Flag(c.ShowCaption()); }, false},
    {rcbGetShowImage, true, false, rcptShowImage, VT_BOOL, [] { return Flag(false); }, [](IqvrRibbonComponent& c) { return Flag(RibbonHasImage(c)); }, false},
    {rcbGetDescription, true, false, rcptDescription, VT_BSTR, [] { return Text(L""); }, [](IqvrRibbonComponent& c) { return Text(c.Description()); }, false},
    {rcbGetText, false, false, rcptText, VT_EMPTY, [] { return Text(L""); }, [](IqvrRibbonComponent& c) { return Text(c.Text()); }, false},
    {rcbGetItemCount, false, false, rcptItemCount, VT_I4, [] { return Number(0); },
     [](IqvrRibbonComponent& c) { return Number(c.GetItems() ? c.GetItems()->Count() : 0); }, false},
    {rcbGetItemID, false, true, rcptItemID, VT_BSTR, [] { return Text(L""); }, [](IqvrRibbonComponent& c) { return Text(c.Id()); }, false},
    {rcbGetItemLabel, false, true, rcptItemCaption, VT_BSTR, [] { return Text(L""); }, [](IqvrRibbonComponent& c) { return Text(c.Caption()); }, false},
    {rcbGetItemScreenTip, false, true, rcptItemScreenTip, VT_BSTR, [] { return Text(L""); }, [](IqvrRibbonComponent& c) { return Text(c.ScreenTip()); }, false},
    {rcbGetItemSuperTip, false, true, rcptItemSuperTip, VT_BSTR, [] { return Text(L""); }, [](IqvrRibbonComponent& c) { return Text(c.SuperTip()); }, false},
    {rcbGetShowItemImage, false, true, rcptShowItemImage, VT_BOOL, [] { return Flag(true); }, [](IqvrRibbonComponent& c) { return Flag(RibbonHasImage(c)); }, false},
    {rcbGetSelectedItemIndex, false, false, rcptSelectedItemIndex, VT_I4, [] { return Number(0); }, [](IqvrRibbonComponent& c) { return Number(c.SelectedItemIndex()); }, false},
    {rcbGetSelectedItemId, false, false, rcptSelectedItemID, VT_BSTR, [] { return Text(L""); }, [](IqvrRibbonComponent& c) { return Text(c.SelectedItemId()); }, false},
    {rcbGetItemHeight, false, false, rcptItemHeight, VT_I4, [] { return Number(0); }, [](IqvrRibbonComponent& c) { return Number(c.ItemHeight()); }, true},
    {rcbGetItemWidth, false, false, rcptItemWidth, VT_I4, [] { return Number(0); }, [](IqvrRibbonComponent& c) { return Number(c.ItemWidth()); }, true},
    {rcbGetContent, false, false, rcptContent, VT_BSTR, [] { return Text(L""); }, ReadContent, false},
    {rcbGetTitle, false, false, rcptTitle, VT_BSTR, [] { return Text(L""); }, [](IqvrRibbonComponent& c) { return Text(c.Title()); }, false},
    {rcbGetTarget, false, false, rcptTarget, VT_BSTR, [] { return Text(L""); }, [](IqvrRibbonComponent& c) { return Text(c.Target()); }, false},
    {rcbGetAltText, false, false, rcptAltText, VT_BSTR, [] { return Text(L""); }, [](IqvrRibbonComponent& c) { return Text(c.AltText()); }, false},
    {rcbGetHelperText, false, false, rcptHelperText, VT_BSTR, [] { return Text(L""); }, [](IqvrRibbonComponent& c) { return Text(c.HelperText()); }, false},
    {rcbGetStyle, false, false, rcptGroupStyle, VT_BSTR, [] { return Text(L""); }, [](IqvrRibbonComponent& c) { return Text(c.GroupStyle()); }, false},
};

const PropertyCallback* FindPropertyCallback(DISPID id) {
    for (const PropertyCallback& p : kPropertyCallbacks)
        if (p.id == id) return &p;
    return nullptr;
}

// Item `index` of a list control; an index outside the list is an error.
IqvrRibbonComponent& ItemOf(IqvrRibbonComponent& list, int32_t index) {
    TqvrRibbonItems* items = list.GetItems();
    if (!items || index < 0 || index >= items->Count())
        throw EqvrError(FormatText(L"List index out of bounds (%d)", {qvr::DecimalText(index)}), DISP_E_BADINDEX,
                        ErrorKind::Ole);
    return *items->GetItem(index);
}

unique_variant AnswerProperty(const PropertyCallback& cb, TqvrCOMAddInModule* module, const TqvrCallbackArguments& args) {
    ComPtr<IRibbonControl> control = args.Control(0);
    const int32_t index = cb.item ? args.Int(1) : -1;
    IqvrRibbonComponent* component = FindRibbonComponent(module, ControlId(control.Get()), cb.wrapped);
    if (!component) return cb.fallback();

    unique_variant value = cb.read(cb.item ? ItemOf(*component, index) : *component);
    ComPtr<IDispatch> context = ControlContext(control.Get());
    component->DoPropertyChanging(cb.kind, value, context.Get(), index);
    if (cb.answer == VT_EMPTY) return value;
    unique_variant answer = ConvertedVariant(value, cb.answer);
    if (cb.minusOneIsZero && answer.lVal == -1) answer.lVal = 0;
    return answer;
}

// ---- the other callbacks ----

}  // namespace

// ---- the handlers of the callback table ----

namespace ribbon_callbacks {

unique_variant Property(TqvrCOMAddInModule* module, DISPID id, const TqvrCallbackArguments& args) {
    const PropertyCallback* property = FindPropertyCallback(id);
    if (!property) throw EqvrError(L"The ribbon callback has no property to answer with.", DISP_E_MEMBERNOTFOUND, ErrorKind::Ole);
    return AnswerProperty(*property, module, args);
}

unique_variant Image(TqvrCOMAddInModule* module, DISPID, const TqvrCallbackArguments& args) {
    ComPtr<IRibbonControl> control = args.Control(0);
    IqvrRibbonComponent* component = FindRibbonComponent(module, ControlId(control.Get()), true);
    if (!component) return Picture(nullptr);
    unique_variant value;
    ComPtr<IDispatch> context = ControlContext(control.Get());
    component->DoPropertyChanging(rcptGlyph, value, context.Get(), -1);
    if (ComPtr<IUnknown> replaced = InterfaceIn(value)) return Picture(replaced);
    return Picture(RibbonControlPicture(*component, *module));
}

unique_variant ItemImage(TqvrCOMAddInModule* module, DISPID, const TqvrCallbackArguments& args) {
    ComPtr<IRibbonControl> control = args.Control(0);
    const int32_t index = args.Int(1);
    const std::wstring controlId = ControlId(control.Get());
    IqvrRibbonComponent* component = FindRibbonComponent(module, controlId, false);
    if (!component) return Picture(nullptr);
    unique_variant value;
    ComPtr<IDispatch> context = ControlContext(control.Get());
    component->DoPropertyChanging(rcptItemGlyph, value, context.Get(), index);
    if (ComPtr<IUnknown> replaced = InterfaceIn(value)) return Picture(replaced);
    return Picture(RibbonItemPicture(ItemOf(*component, index), controlId, *module));
}

unique_variant Images(TqvrCOMAddInModule* module, DISPID, const TqvrCallbackArguments& args) {
    IqvrRibbonComponent* component = FindRibbonComponent(module, args.String(0), true);
    return Picture(component ? RibbonControlPicture(*component, *module) : nullptr);
}

unique_variant RibbonLoaded(TqvrCOMAddInModule* module, DISPID, const TqvrCallbackArguments& args) {
    ComPtr<IRibbonUI> ribbon = args.Interface<IRibbonUI>(0, L"ribbon");
    if (!module) return {};
    module->SetRibbonUI(ribbon.Get());
    if (module->OfficeXMLNS().empty())
        module->SetOfficeXMLNS(module->HostMajorVersion() == 12 ? kCustomUINamespace2006 : kCustomUINamespace2009);
    module->Fire(module->OnRibbonLoaded, static_cast<TObject*>(module), ribbon.Get());
    return {};
}

// Actions: the component stores what Office reports and raises its event (errors of the
// add-in's handler go to the error report there, and Office is told success).
unique_variant Act(TqvrCOMAddInModule* module, DISPID id, const TqvrCallbackArguments& args) {
    TqvrRibbonActionArguments action;
    action.Control = args.Control(0);
    // A split button's inner button carries its own id ("...wrapped"): the buttons' actions
    // reach the split button itself.
    const bool wrapped = id == rcbOnActionCommon || id == rcbOnActionState;
    if (id == rcbOnActionState) action.Pressed = args.Bool(1);
    if (id == rcbOnActionSelected) {
        action.SelectedID = args.String(1);
        action.SelectedIndex = args.Int(2);
    }
    if (id == rcbOnChange) action.Text = args.String(1);
    if (IqvrRibbonComponent* component = FindRibbonComponent(module, ControlId(action.Control.Get()), wrapped))
        component->DoAction(action);
    return {};
}

// Built-in commands the add-in overrides: Office's cancel flag comes back as the override left
// it, unchanged when nothing overrides the command.
unique_variant Repurpose(TqvrCOMAddInModule* module, DISPID id, const TqvrCallbackArguments& args) {
    const bool common = id == rcbOnActionCommonRepurposed;
    TqvrRibbonActionArguments action;
    action.Control = args.Control(0);
    action.Pressed = common ? true : args.Bool(1);
    VARIANT& flag = args.CancelFlag(common ? 1 : 2);
    bool cancel = TqvrCallbackArguments::ReadFlag(flag);
    const std::wstring controlId = ControlId(action.Control.Get());
    if (module)
        for (TObject* command : module->Commands()) {
            IqvrRibbonComponent* c = AsRibbonComponent(command);
            if (!c || c->IdMso() != controlId) continue;
            action.Cancel = false;
            c->DoAction(action);
            cancel = action.Cancel;
            break;
        }
    TqvrCallbackArguments::WriteFlag(flag, cancel);
    return {};
}

unique_variant Ignore(TqvrCOMAddInModule*, DISPID, const TqvrCallbackArguments&) { return {}; }

}  // namespace ribbon_callbacks

// ---- IDispatch ----

HRESULT RibbonGetIDsOfNames(ITypeInfo* typeInfo, LPOLESTR* names, UINT count, DISPID* ids) {
    if (!names || !ids) return E_POINTER;
    if (count > 0) {
        if (DISPID id = RibbonCallbackId(names[0]); id != DISPID_UNKNOWN) {
            for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
            ids[0] = id;
            return S_OK;
        }
    }
    return DispGetIDsOfNames(typeInfo, names, count, ids);
}

namespace {

// "GetLabel_Callback qvrRibbonButton..." for the administrator's record: the callback's name and
// the id of the control Office named, when it named one.
std::wstring CallbackDescription(DISPID id, const DISPPARAMS* params) noexcept {
    try {
        std::wstring text = L"callback " + qvr::DecimalText(id);
        const TqvrRibbonCallback* c = FindRibbonCallback(id);
        if (c) text = c->name;
        // Arguments of a call with the wrong count are not read, not even for the record.
        if (c && params && params->cArgs == c->arguments && params->cArgs > 0) {
            if (ComPtr<IRibbonControl> control = TqvrCallbackArguments(params).Control(0)) {
                unique_bstr controlId;
                if (SUCCEEDED(control->get_Id(controlId.put()))) text += L" " + controlId.str();
            }
        }
        return text;
    } catch (...) {
        return L"callback " + qvr::DecimalText(id);
    }
}

}  // namespace

HRESULT RibbonInvoke(const TqvrRibbonDispatchTarget& target, DISPID id, WORD flags, DISPPARAMS* params,
                     VARIANT* result, EXCEPINFO* excep, UINT* argErr) {
    const TqvrRibbonCallback* callback = FindRibbonCallback(id);
    if (!callback) return DispInvoke(target.self, target.typeInfo, id, flags, params, result, excep, argErr);

    // At the verbose level each callback is traced by name and control with its result and time,
    // so that "was my callback called" has an answer.
    std::optional<VerboseTimer> timer;
    if (VerboseLogging()) timer.emplace(L"callback", CallbackDescription(id, params));
    unique_variant answer;
    try {
        // Office passes each callback its own number of arguments: another number is a caller that
        // means another signature, answered as IDispatch's contract asks, before anything is read.
        const UINT passed = params ? params->cArgs : 0;
        if (passed != callback->arguments)
            throw EqvrError(FormatText(L"The ribbon callback %s takes %s arguments, not %s.",
                                       {callback->name, qvr::DecimalText(callback->arguments), qvr::DecimalText(passed)}),
                            DISP_E_BADPARAMCOUNT, ErrorKind::Ole);
        answer = callback->handler(target.module, id, TqvrCallbackArguments(params));
    } catch (...) {
        // The caller learns what went wrong from EXCEPINFO, as IDispatch's contract asks of
        // DISP_E_EXCEPTION; the same is published as error information for callers that look there.
        const EqvrError error = CurrentError();
        const HRESULT code = PublishError(error, target.errorIID, target.errorSource);
        LogBoundaryError(CallbackDescription(id, params), code, error.Message(), error.Where());
        if (timer) timer->SetResult(L"DISP_E_EXCEPTION " + HResultHex(code));
        if (excep) {
            *excep = {};
            excep->bstrSource = SysAllocStringLen(target.errorSource.data(), static_cast<UINT>(target.errorSource.size()));
            excep->bstrDescription = SysAllocStringLen(error.Message().data(), static_cast<UINT>(error.Message().size()));
            excep->scode = code;
        }
        return DISP_E_EXCEPTION;
    }
    if (timer) timer->SetResult(L"S_OK");
    // Without a result variant the answer is computed and dropped.
    if (result) {
        VariantInit(result);
        static_cast<VARIANT&>(*result) = answer;
        VariantInit(&answer);
    }
    return S_OK;
}

}  // namespace qvr
