#include "ribbon/dispatch.h"
#include "com/numbers.h"

#include "com/dispatch.h"
#include "com/error.h"
#include "com/log.h"
#include "com/query.h"
#include "ribbon/controls.h"
#include "ribbon/markup.h"
#include "ribbon/pictures.h"

#include <wrl/client.h>

#include <optional>
#include <string_view>

using Microsoft::WRL::ComPtr;

namespace qvr {

// ---- the table ----

const TqvrRibbonCallback kRibbonCallbacks[kRibbonCallbackCount] = {
    {L"RibbonLoaded_Callback", 10},
    {L"GetImages_Callback", 11},
    {L"GetVisible_Callback", 12},
    {L"GetKeyTip_Callback", 13},
    {L"GetLabel_Callback", 14},
    {L"GetEnabled_Callback", 15},
    {L"GetPressed_Callback", 16},
    {L"GetImage_Callback", 17},
    {L"GetSuperTip_Callback", 19},
    {L"GetScreenTip_Callback", 20},
    {L"GetSize_Callback", 21},
    {L"GetShowLabel_Callback", 22},
    {L"GetShowImage_Callback", 23},
    {L"GetDescription_Callback", 24},
    {L"GetText_Callback", 25},
    {L"GetItemCount_Callback", 26},
    {L"GetItemID_Callback", 27},
    {L"GetItemImage_Callback", 28},
    {L"GetItemLabel_Callback", 29},
    {L"GetItemScreenTip_Callback", 30},
    {L"GetItemSuperTip_Callback", 31},
    {L"GetShowItemImage_Callback", 32},
    {L"GetSelectedItemIndex_Callback", 33},
    {L"GetSelectedItemId_Callback", 34},
    {L"GetItemHeight_Callback", 35},
    {L"GetItemWidth_Callback", 36},
    {L"GetContent_Callback", 37},
    {L"GetTitle_Callback", 38},
    {L"OnActionCommon_Callback", 50},
    {L"OnActionCommonRepurposed_Callback", 51},
    {L"OnActionState_Callback", 52},
    {L"OnActionStateRepurposed_Callback", 53},
    {L"OnActionSelected_Callback", 54},
    {L"OnChange_Callback", 55},
    {L"OnBackstageShow_Callback", 60},
    {L"OnBackstageHide_Callback", 61},
    {L"GetTarget_Callback", 62},
    {L"GetAltText_Callback", 63},
    {L"GetHelperText_Callback", 64},
    {L"GetStyle_Callback", 65},
};

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

unique_variant Converted(const VARIANT& v, VARTYPE vt) {
    unique_variant out;
    ThrowIfFailed(VariantCopyInd(&out, const_cast<VARIANT*>(&v)));
    ThrowIfFailed(VariantChangeType(&out, &out, 0, vt));
    return out;
}

// Office's arguments in Office's order: its first argument is the last element of the array.
class Arguments {
public:
    explicit Arguments(const DISPPARAMS* params) : params_(params) {}

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
        unique_variant v = Converted(At(i), VT_BSTR);
        return std::wstring(v.bstrVal, SysStringLen(v.bstrVal));
    }
    bool Bool(UINT i) const { return Converted(At(i), VT_BOOL).boolVal != VARIANT_FALSE; }
    int32_t Int(UINT i) const { return Converted(At(i), VT_I4).lVal; }

    // A flag Office passes by reference and reads back.
    VARIANT& CancelFlag(UINT i) const {
        VARIANT& v = At(i);
        if ((v.vt == (VT_BYREF | VT_VARIANT) && v.pvarVal) || (v.vt == (VT_BYREF | VT_BOOL) && v.pboolVal)) return v;
        RaiseArgumentError(L"cancel flag (not passed by reference)");
    }
    static bool ReadFlag(const VARIANT& ref) {
        return ref.vt == (VT_BYREF | VT_BOOL) ? *ref.pboolVal != VARIANT_FALSE
                                              : Converted(*ref.pvarVal, VT_BOOL).boolVal != VARIANT_FALSE;
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

struct PropertyCallback {
    DISPID id;
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
    {12, false, false, rcptVisible, VT_BOOL, [] { return Flag(true); }, [](IqvrRibbonComponent& c) { return Flag(c.Visible()); }, false},
    {13, false, false, rcptKeyTip, VT_BSTR, [] { return Text(L""); }, [](IqvrRibbonComponent& c) { return Text(KeyTipToText(c.KeyTip())); }, false},
    {14, true, false, rcptCaption, VT_BSTR, [] { return Text(L""); }, [](IqvrRibbonComponent& c) { return Text(c.Caption()); }, false},
    {15, false, false, rcptEnabled, VT_BOOL, [] { return Flag(true); }, [](IqvrRibbonComponent& c) { return Flag(c.Enabled()); }, false},
    {16, true, false, rcptPressed, VT_BOOL, [] { return Flag(false); }, [](IqvrRibbonComponent& c) { return Flag(c.Pressed()); }, false},
    {19, true, false, rcptSuperTip, VT_BSTR, [] { return Text(L""); }, [](IqvrRibbonComponent& c) { return Text(c.SuperTip()); }, false},
    {20, true, false, rcptScreenTip, VT_BSTR, [] { return Text(L""); }, [](IqvrRibbonComponent& c) { return Text(c.ScreenTip()); }, false},
    {21, false, false, rcptSize, VT_I4, [] { return Number(0); }, [](IqvrRibbonComponent& c) { return Number(c.Size()); }, false},
    {22, true, false, rcptShowCaption, VT_BOOL, [] { return Flag(true); }, [](IqvrRibbonComponent& c) { return Flag(c.ShowCaption()); }, false},
    {23, true, false, rcptShowImage, VT_BOOL, [] { return Flag(false); }, [](IqvrRibbonComponent& c) { return Flag(RibbonHasImage(c)); }, false},
    {24, true, false, rcptDescription, VT_BSTR, [] { return Text(L""); }, [](IqvrRibbonComponent& c) { return Text(c.Description()); }, false},
    {25, false, false, rcptText, VT_EMPTY, [] { return Text(L""); }, [](IqvrRibbonComponent& c) { return Text(c.Text()); }, false},
    {26, false, false, rcptItemCount, VT_I4, [] { return Number(0); },
     [](IqvrRibbonComponent& c) { return Number(c.GetItems() ? c.GetItems()->Count() : 0); }, false},
    {27, false, true, rcptItemID, VT_BSTR, [] { return Text(L""); }, [](IqvrRibbonComponent& c) { return Text(c.Id()); }, false},
    {29, false, true, rcptItemCaption, VT_BSTR, [] { return Text(L""); }, [](IqvrRibbonComponent& c) { return Text(c.Caption()); }, false},
    {30, false, true, rcptItemScreenTip, VT_BSTR, [] { return Text(L""); }, [](IqvrRibbonComponent& c) { return Text(c.ScreenTip()); }, false},
    {31, false, true, rcptItemSuperTip, VT_BSTR, [] { return Text(L""); }, [](IqvrRibbonComponent& c) { return Text(c.SuperTip()); }, false},
    {32, false, true, rcptShowItemImage, VT_BOOL, [] { return Flag(true); }, [](IqvrRibbonComponent& c) { return Flag(RibbonHasImage(c)); }, false},
    {33, false, false, rcptSelectedItemIndex, VT_I4, [] { return Number(0); }, [](IqvrRibbonComponent& c) { return Number(c.SelectedItemIndex()); }, false},
    {34, false, false, rcptSelectedItemID, VT_BSTR, [] { return Text(L""); }, [](IqvrRibbonComponent& c) { return Text(c.SelectedItemId()); }, false},
    {35, false, false, rcptItemHeight, VT_I4, [] { return Number(0); }, [](IqvrRibbonComponent& c) { return Number(c.ItemHeight()); }, true},
    {36, false, false, rcptItemWidth, VT_I4, [] { return Number(0); }, [](IqvrRibbonComponent& c) { return Number(c.ItemWidth()); }, true},
    {37, false, false, rcptContent, VT_BSTR, [] { return Text(L""); }, ReadContent, false},
    {38, false, false, rcptTitle, VT_BSTR, [] { return Text(L""); }, [](IqvrRibbonComponent& c) { return Text(c.Title()); }, false},
    {62, false, false, rcptTarget, VT_BSTR, [] { return Text(L""); }, [](IqvrRibbonComponent& c) { return Text(c.Target()); }, false},
    {63, false, false, rcptAltText, VT_BSTR, [] { return Text(L""); }, [](IqvrRibbonComponent& c) { return Text(c.AltText()); }, false},
    {64, false, false, rcptHelperText, VT_BSTR, [] { return Text(L""); }, [](IqvrRibbonComponent& c) { return Text(c.HelperText()); }, false},
    {65, false, false, rcptGroupStyle, VT_BSTR, [] { return Text(L""); }, [](IqvrRibbonComponent& c) { return Text(c.GroupStyle()); }, false},
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

unique_variant AnswerProperty(const PropertyCallback& cb, TqvrCOMAddInModule* module, const Arguments& args) {
    ComPtr<IRibbonControl> control = args.Control(0);
    const int32_t index = cb.item ? args.Int(1) : -1;
    IqvrRibbonComponent* component = FindRibbonComponent(module, ControlId(control.Get()), cb.wrapped);
    if (!component) return cb.fallback();

    unique_variant value = cb.read(cb.item ? ItemOf(*component, index) : *component);
    ComPtr<IDispatch> context = ControlContext(control.Get());
    component->DoPropertyChanging(cb.kind, value, context.Get(), index);
    if (cb.answer == VT_EMPTY) return value;
    unique_variant answer = Converted(value, cb.answer);
    if (cb.minusOneIsZero && answer.lVal == -1) answer.lVal = 0;
    return answer;
}

// ---- the other callbacks ----

unique_variant AnswerImage(TqvrCOMAddInModule* module, const Arguments& args) {
    ComPtr<IRibbonControl> control = args.Control(0);
    IqvrRibbonComponent* component = FindRibbonComponent(module, ControlId(control.Get()), true);
    if (!component) return Picture(nullptr);
    unique_variant value;
    ComPtr<IDispatch> context = ControlContext(control.Get());
    component->DoPropertyChanging(rcptGlyph, value, context.Get(), -1);
    if (ComPtr<IUnknown> replaced = InterfaceIn(value)) return Picture(replaced);
    return Picture(RibbonControlPicture(*component, *module));
}

unique_variant AnswerItemImage(TqvrCOMAddInModule* module, const Arguments& args) {
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

unique_variant AnswerImages(TqvrCOMAddInModule* module, const Arguments& args) {
    IqvrRibbonComponent* component = FindRibbonComponent(module, args.String(0), true);
    return Picture(component ? RibbonControlPicture(*component, *module) : nullptr);
}

void RibbonLoaded(TqvrCOMAddInModule* module, const Arguments& args) {
    ComPtr<IRibbonUI> ribbon = args.Interface<IRibbonUI>(0, L"ribbon");
    if (!module) return;
    module->SetRibbonUI(ribbon.Get());
    if (module->OfficeXMLNS().empty())
        module->SetOfficeXMLNS(module->HostMajorVersion() == 12 ? kCustomUINamespace2006 : kCustomUINamespace2009);
    module->Fire(module->OnRibbonLoaded, static_cast<TObject*>(module), ribbon.Get());
}

// Actions: the component stores what Office reports and raises its event (errors of the
// add-in's handler go to the error report there, and Office is told success).
void Act(TqvrCOMAddInModule* module, DISPID id, const Arguments& args) {
    TqvrRibbonActionArguments action;
    action.Control = args.Control(0);
    const bool wrapped = id == 50 || id == 52;
    if (id == 52) action.Pressed = args.Bool(1);
    if (id == 54) {
        action.SelectedID = args.String(1);
        action.SelectedIndex = args.Int(2);
    }
    if (id == 55) action.Text = args.String(1);
    if (IqvrRibbonComponent* component = FindRibbonComponent(module, ControlId(action.Control.Get()), wrapped))
        component->DoAction(action);
}

// Built-in commands the add-in overrides: Office's cancel flag comes back as the override left
// it, unchanged when nothing overrides the command.
void Repurpose(TqvrCOMAddInModule* module, DISPID id, const Arguments& args) {
    TqvrRibbonActionArguments action;
    action.Control = args.Control(0);
    action.Pressed = id == 51 ? true : args.Bool(1);
    VARIANT& flag = args.CancelFlag(id == 51 ? 1 : 2);
    bool cancel = Arguments::ReadFlag(flag);
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
    Arguments::WriteFlag(flag, cancel);
}

unique_variant RunCallback(TqvrCOMAddInModule* module, DISPID id, const Arguments& args) {
    if (const PropertyCallback* property = FindPropertyCallback(id)) return AnswerProperty(*property, module, args);
    switch (id) {
        case 10: RibbonLoaded(module, args); break;
        case 11: return AnswerImages(module, args);
        case 17: return AnswerImage(module, args);
        case 28: return AnswerItemImage(module, args);
        case 50: case 52: case 54: case 55: Act(module, id, args); break;
        case 51: case 53: Repurpose(module, id, args); break;
        case 60: case 61: break;  // no component of this framework takes part in the Backstage view
        default: break;
    }
    return {};
}

bool IsCallback(DISPID id) {
    for (const TqvrRibbonCallback& cb : kRibbonCallbacks)
        if (cb.id == id) return true;
    return false;
}

}  // namespace

// ---- IDispatch ----

HRESULT RibbonGetIDsOfNames(ITypeInfo* typeInfo, LPOLESTR* names, UINT count, DISPID* ids) {
    if (!names || !ids) return E_POINTER;
    HRESULT typeLibAnswer = DispGetIDsOfNames(typeInfo, names, count, ids);
    if (SUCCEEDED(typeLibAnswer) || count == 0) return typeLibAnswer;
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    DISPID id = RibbonCallbackId(names[0]);
    if (id == DISPID_UNKNOWN) return typeLibAnswer;
    ids[0] = id;
    return S_OK;
}

namespace {

// "GetLabel_Callback qvrRibbonButton..." for the administrator's record: the callback's name and
// the id of the control Office named, when it named one.
std::wstring CallbackDescription(DISPID id, const DISPPARAMS* params) noexcept {
    try {
        std::wstring text = L"callback " + qvr::DecimalText(id);
        for (const TqvrRibbonCallback& c : kRibbonCallbacks)
            if (c.id == id) text = c.name;
        if (params && params->cArgs > 0) {
            if (ComPtr<IRibbonControl> control = Arguments(params).Control(0)) {
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
    HRESULT typeLibAnswer = DispInvoke(target.self, target.typeInfo, id, flags, params, result, excep, argErr);
    if (SUCCEEDED(typeLibAnswer) || !IsCallback(id)) return typeLibAnswer;

    // At the verbose level each callback is traced by name and control with its result and time,
    // so that "was my callback called" has an answer.
    std::optional<VerboseTimer> timer;
    if (VerboseLogging()) timer.emplace(L"callback", CallbackDescription(id, params));
    unique_variant answer;
    try {
        answer = RunCallback(target.module, id, Arguments(params));
    } catch (...) {
        // The caller learns what went wrong from EXCEPINFO, as IDispatch's contract asks of
        // DISP_E_EXCEPTION; the same is published as error information for callers that look there.
        const EqvrError error = CurrentError();
        const HRESULT code = PublishError(error, target.errorIID, target.errorSource);
        LogBoundaryError(CallbackDescription(id, params), code, error.Message());
        if (timer) timer->SetResult(L"DISP_E_EXCEPTION " + HResultHex(code));
        if (excep) {
            *excep = {};
            excep->bstrSource = SysAllocString(target.errorSource.c_str());
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

// ---- the module's helpers for Office's built-in controls ----

namespace {

// The host's command bars, late bound; none when the host has none or will not say.
ComPtr<IDispatch> HostCommandBars(const TqvrCOMAddInModule& module) {
    try {
        const VARIANT& host = module.HostApp();
        if (host.vt != VT_DISPATCH || !host.pdispVal) return {};
        unique_variant bars = GetPropertyByName(host.pdispVal, L"CommandBars");
        if (bars.vt != VT_DISPATCH || !bars.pdispVal) return {};
        return ComPtr<IDispatch>(TryQuery<_CommandBars>(bars.pdispVal).Get());
    } catch (...) {
        return {};
    }
}

unique_variant CallMso(IDispatch* bars, const wchar_t* method, std::initializer_list<const VARIANT*> args) {
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(method)};
    ThrowIfFailed(bars->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id));
    return Invoke(bars, id, DISPATCH_METHOD, LOCALE_USER_DEFAULT, args);
}

bool MsoFlag(const TqvrCOMAddInModule& module, const wchar_t* method, const std::wstring& idMso) {
    ComPtr<IDispatch> bars = HostCommandBars(module);
    if (!bars) return false;
    unique_variant id = unique_variant::FromString(idMso);
    return Converted(CallMso(bars.Get(), method, {&id}), VT_BOOL).boolVal != VARIANT_FALSE;
}

std::wstring MsoText(const TqvrCOMAddInModule& module, const wchar_t* method, const std::wstring& idMso) {
    ComPtr<IDispatch> bars = HostCommandBars(module);
    if (!bars) return {};
    unique_variant id = unique_variant::FromString(idMso);
    unique_variant text = Converted(CallMso(bars.Get(), method, {&id}), VT_BSTR);
    return std::wstring(text.bstrVal, SysStringLen(text.bstrVal));
}

}  // namespace

bool TqvrCOMAddInModule::GetRibbonControlEnabled(const std::wstring& idMso) {
    return MsoFlag(*this, L"GetEnabledMso", idMso);
}

bool TqvrCOMAddInModule::GetRibbonControlPressed(const std::wstring& idMso) {
    return MsoFlag(*this, L"GetPressedMso", idMso);
}

bool TqvrCOMAddInModule::GetRibbonControlVisible(const std::wstring& idMso) {
    return MsoFlag(*this, L"GetVisibleMso", idMso);
}

std::wstring TqvrCOMAddInModule::GetRibbonControlCaption(const std::wstring& idMso) {
    return MsoText(*this, L"GetLabelMso", idMso);
}

std::wstring TqvrCOMAddInModule::GetRibbonControlScreentip(const std::wstring& idMso) {
    return MsoText(*this, L"GetScreentipMso", idMso);
}

std::wstring TqvrCOMAddInModule::GetRibbonControlSupertip(const std::wstring& idMso) {
    return MsoText(*this, L"GetSupertipMso", idMso);
}

ComPtr<IPictureDisp> TqvrCOMAddInModule::GetRibbonControlImage(const std::wstring& idMso, int32_t Width,
                                                                int32_t Height) {
    ComPtr<IDispatch> bars = HostCommandBars(*this);
    if (!bars) return {};
    unique_variant id = unique_variant::FromString(idMso);
    unique_variant width = unique_variant::FromInt(Width);
    unique_variant height = unique_variant::FromInt(Height);
    unique_variant answer = CallMso(bars.Get(), L"GetImageMso", {&id, &width, &height});
    ComPtr<IPictureDisp> picture;
    if (ComPtr<IUnknown> unknown = InterfaceIn(answer))
        ThrowIfFailed(unknown.As(&picture));
    return picture;
}

void TqvrCOMAddInModule::RibbonControlExecute(const std::wstring& idMso) {
    ComPtr<IDispatch> bars = HostCommandBars(*this);
    if (!bars) return;
    unique_variant id = unique_variant::FromString(idMso);
    CallMso(bars.Get(), L"ExecuteMso", {&id});
}

void TqvrCOMAddInModule::ActivateRibbonTabMso(const std::wstring& ControlID) {
    if (!FRibbonUI || FHostMajorVersion <= 13) return;
    try {
        ThrowIfFailed(FRibbonUI->ActivateTabMso(unique_bstr(ControlID).get()));
    } catch (const std::exception&) {
        HandleError(CurrentError());
    }
}

void TqvrCOMAddInModule::ActivateRibbonTabQ(const std::wstring& ControlID, const std::wstring& TabNamespace) {
    if (!FRibbonUI || FHostMajorVersion <= 13) return;
    try {
        ThrowIfFailed(FRibbonUI->ActivateTabQ(unique_bstr(ControlID).get(), unique_bstr(TabNamespace).get()));
    } catch (const std::exception&) {
        HandleError(CurrentError());
    }
}

}  // namespace qvr
