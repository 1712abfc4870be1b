#include "module/excel_events.h"

#include "com/dll.h"
#include "com/query.h"

#include "module/module.h"

#include <ocidl.h>

#include <cstring>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace qvr {

// ---- The event sink --------------------------------------------------------------------------

namespace {

// Size of the value a by-reference variant of base type `vt` points at; 0 when it is not a
// plain value.
size_t ScalarSize(VARTYPE vt) {
    switch (vt) {
        case VT_I1: case VT_UI1: return 1;
        case VT_I2: case VT_UI2: case VT_BOOL: return 2;
        case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_R4: case VT_ERROR: return 4;
        case VT_I8: case VT_UI8: case VT_R8: case VT_DATE: case VT_CY: return 8;
        default: return 0;
    }
}

// Stores `value` in the caller's variable that the by-reference variant `target` points at,
// converted to that variable's type. Values that cannot be converted are left alone.
void WriteThrough(const VARIANT& target, const VARIANT& value) noexcept {
    if (!target.byref || (target.vt & VT_ARRAY)) return;
    VARTYPE base = static_cast<VARTYPE>(target.vt & ~VT_BYREF);
    if (base == VT_VARIANT) {
        VariantCopy(target.pvarVal, const_cast<VARIANT*>(&value));
        return;
    }
    unique_variant converted;
    if (FAILED(VariantChangeType(&converted, const_cast<VARIANT*>(&value), 0, base))) return;
    switch (base) {
        case VT_BSTR:
            SysFreeString(*target.pbstrVal);
            *target.pbstrVal = std::exchange(converted.bstrVal, nullptr);
            return;
        case VT_DISPATCH:
        case VT_UNKNOWN:
            if (*target.ppunkVal) (*target.ppunkVal)->Release();
            *target.ppunkVal = std::exchange(converted.punkVal, nullptr);
            return;
        case VT_DECIMAL:
            *target.pdecVal = converted.decVal;
            return;
        default:
            if (size_t n = ScalarSize(base)) std::memcpy(target.byref, &converted.bVal, n);
            return;
    }
}

}  // namespace

ComPtr<TqvrEventDispatch> TqvrEventDispatch::Create(IqvrEventServer* Server) {
    // Created with one reference, which the pointer takes over.
    ComPtr<TqvrEventDispatch> dispatch;
    *dispatch.ReleaseAndGetAddressOf() = new TqvrEventDispatch(Server);
    return dispatch;
}

TqvrEventDispatch::TqvrEventDispatch(IqvrEventServer* server) : FServer(server) {
    DllAddRef();
    // The server counts the references of its sink; this is the first.
    if (FServer) FServer->EventAddRef();
}

TqvrEventDispatch::~TqvrEventDispatch() { DllRelease(); }

HRESULT STDMETHODCALLTYPE TqvrEventDispatch::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
        (FServer && IsEqualIID(riid, FServer->EventIID()))) {
        *ppv = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE TqvrEventDispatch::AddRef() {
    if (FServer) FServer->EventAddRef();
    return ++FRefCount;
}

ULONG STDMETHODCALLTYPE TqvrEventDispatch::Release() {
    if (FServer) FServer->EventRelease();
    ULONG n = --FRefCount;
    if (n == 0) delete this;
    return n;
}

HRESULT STDMETHODCALLTYPE TqvrEventDispatch::GetTypeInfoCount(UINT* count) {
    if (count) *count = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TqvrEventDispatch::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE TqvrEventDispatch::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) {
    return E_NOTIMPL;
}

namespace {
// The element of rgvarg that holds the argument at declaration position k, or -1. Positional
// arguments arrive last-first after the named ones; a named argument's dispatch id is its
// position.
int SourceOf(const DISPPARAMS& p, UINT named, UINT k) {
    for (UINT i = 0; i < named; ++i)
        if (p.rgdispidNamedArgs[i] == static_cast<DISPID>(k)) return static_cast<int>(i);
    return k < p.cArgs - named ? static_cast<int>(p.cArgs - 1 - k) : -1;
}
}  // namespace

HRESULT STDMETHODCALLTYPE TqvrEventDispatch::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*,
                                                    EXCEPINFO*, UINT*) {
    static const DISPPARAMS kNone{nullptr, nullptr, 0, 0};
    const DISPPARAMS& p = params && params->rgvarg ? *params : kNone;
    const UINT named = p.rgdispidNamedArgs ? std::min(p.cNamedArgs, p.cArgs) : 0;
    constexpr DISPID kMaxPosition = 63;
    UINT size = p.cArgs;
    for (UINT i = 0; i < named; ++i) {
        DISPID position = p.rgdispidNamedArgs[i];
        if (position >= 0 && position <= kMaxPosition && static_cast<UINT>(position) >= size) size = position + 1;
    }

    // The array of arguments in declaration order holds shallow copies: a by-reference argument
    // still points at the caller's variable, so a handler writing through it reaches the caller.
    constexpr UINT kInline = 8;
    VARIANT inlineArgs[kInline];
    std::vector<VARIANT> heapArgs;
    VARIANT* args = inlineArgs;
    if (size > kInline) {
        heapArgs.resize(size);
        args = heapArgs.data();
    }
    bool byRef = false;
    for (UINT k = 0; k < size; ++k) {
        int source = named ? SourceOf(p, named, k) : static_cast<int>(p.cArgs - 1 - k);
        if (source < 0) {
            VariantInit(&args[k]);
            continue;
        }
        args[k] = p.rgvarg[source];
        byRef |= (args[k].vt & VT_BYREF) != 0;
    }

    // The sink stays alive during the call even if a handler lets its server go.
    ++FRefCount;
    if (FServer) {
        try {
            FServer->FireEvent(id, std::span<VARIANT>(args, size));
        } catch (...) {
            // Nothing crosses into the host: a component reports the error, the Excel
            // application object drops it (its relays catch their own).
            if (FServer) FServer->EventFailed();
        }
    }

    // A by-reference element that the handler replaced (rather than wrote through) goes back
    // to the caller.
    for (UINT k = 0; byRef && k < size; ++k) {
        int source = SourceOf(p, named, k);
        if (source < 0) continue;
        const VARIANT& original = p.rgvarg[source];
        if ((original.vt & VT_BYREF) && std::memcmp(&original, &args[k], sizeof(VARIANT)) != 0)
            WriteThrough(original, args[k]);
    }
    if (--FRefCount == 0) delete this;
    return S_OK;
}

// ---- Typed arguments -------------------------------------------------------------------------

namespace event_args {

namespace {
// A variant passed as a reference to a variant stands for the variant it refers to.
const VARIANT* Deref(const VARIANT* v) {
    while (v && v->vt == (VT_BYREF | VT_VARIANT)) v = v->pvarVal;
    return v;
}

[[noreturn]] void RaiseTypeMismatch() { RaiseOleError(DISP_E_TYPEMISMATCH, SysErrorMessage(DISP_E_TYPEMISMATCH)); }

unique_variant Converted(const VARIANT* v, VARTYPE vt) {
    unique_variant out;
    if (v) {
        HRESULT hr = VariantChangeType(&out, const_cast<VARIANT*>(v), 0, vt);
        if (FAILED(hr)) RaiseOleError(hr, SysErrorMessage(hr));
    } else {
        out.vt = vt;  // no argument: the type's zero value
    }
    return out;
}
}  // namespace

IDispatch* DispatchOf(const VARIANT* v, ComPtr<IDispatch>& holder) {
    v = Deref(v);
    if (!v) return nullptr;
    IUnknown* unknown = nullptr;
    switch (v->vt) {
        case VT_DISPATCH: return v->pdispVal;
        case VT_BYREF | VT_DISPATCH: return v->ppdispVal ? *v->ppdispVal : nullptr;
        case VT_UNKNOWN: unknown = v->punkVal; break;
        case VT_BYREF | VT_UNKNOWN: unknown = v->ppunkVal ? *v->ppunkVal : nullptr; break;
        case VT_EMPTY:
        case VT_NULL: return nullptr;
        default: RaiseTypeMismatch();
    }
    if (!unknown) return nullptr;
    holder = Query<IDispatch>(unknown);
    return holder.Get();
}

IDispatch* TypedOf(const VARIANT* v, REFIID iid) {
    ComPtr<IDispatch> plain;
    IDispatch* object = DispatchOf(v, plain);
    if (!object) return nullptr;
    return Query<IDispatch>(object, iid).Detach();
}

bool BoolOf(const VARIANT* v) {
    if (v && v->vt == VT_BOOL) return v->boolVal != VARIANT_FALSE;
    return Converted(v, VT_BOOL).boolVal != VARIANT_FALSE;
}

LONG LongOf(const VARIANT* v) {
    if (v && v->vt == VT_I4) return v->lVal;
    return Converted(v, VT_I4).lVal;
}

std::wstring TextOf(const VARIANT* v) {
    if (v && v->vt == VT_BSTR) return std::wstring(v->bstrVal ? v->bstrVal : L"", SysStringLen(v->bstrVal));
    unique_variant text = Converted(v, VT_BSTR);
    return std::wstring(text.bstrVal ? text.bstrVal : L"", SysStringLen(text.bstrVal));
}

VARIANT_BOOL* CancelOf(VARIANT* v, VARIANT_BOOL* local) {
    if (!v) return local;
    if (v->vt == (VT_BYREF | VT_BOOL) && v->pboolVal) return v->pboolVal;
    if (v->vt == (VT_BYREF | VT_VARIANT) && v->pvarVal && v->pvarVal->vt == VT_BOOL) return &v->pvarVal->boolVal;
    // Any other form: the element becomes a Boolean of the same value (it is a shallow copy, so
    // nothing is freed); the sink copies it back to a by-reference caller afterwards.
    VARIANT_BOOL value = BoolOf(v) ? VARIANT_TRUE : VARIANT_FALSE;
    v->vt = VT_BOOL;
    v->boolVal = value;
    return &v->boolVal;
}

}  // namespace event_args

// ---- Delivery to the host-event components ----------------------------------------------------

void TqvrCustomEvents::FireEvent(DISPID, std::span<VARIANT>) {}

void TqvrExcelAppEvents::FireEvent(DISPID DispID, std::span<VARIANT> Params) {
    switch (DispID) {
#define QVR_DELIVER(event, params, ...)                \
    QVR_EVENT_CASES(__VA_ARGS__)                      \
        return DeliverTyped(On##event, this, Params);
        QVR_EXCEL_APP_EVENTS(QVR_DELIVER)
#undef QVR_DELIVER
        default:
            return;  // not an event of the table
    }
}

}  // namespace qvr
