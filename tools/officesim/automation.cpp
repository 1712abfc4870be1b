#include "automation.h"

#include <oleauto.h>
#include <olectl.h>

#include <algorithm>
#include <utility>

namespace officesim {

// ---- Var ----

Var Var::Text(const std::wstring& s) {
    Var v;
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
    return v;
}

Var Var::Bool(bool b) {
    Var v;
    v.vt = VT_BOOL;
    v.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}

Var Var::Long(LONG l) {
    Var v;
    v.vt = VT_I4;
    v.lVal = l;
    return v;
}

Var Var::Object(IDispatch* d) {
    Var v;
    v.vt = VT_DISPATCH;
    v.pdispVal = d;
    if (d) d->AddRef();
    return v;
}

Var Var::Missing() {
    Var v;
    v.vt = VT_ERROR;
    v.scode = DISP_E_PARAMNOTFOUND;
    return v;
}

std::wstring Var::AsText() const {
    Var copy;
    if (FAILED(VariantChangeType(&copy, const_cast<Var*>(this), 0, VT_BSTR)) || !copy.bstrVal) return {};
    return std::wstring(copy.bstrVal, SysStringLen(copy.bstrVal));
}

// ---- AutomationObject ----

Microsoft::WRL::ComPtr<AutomationObject> AutomationObject::Make(std::vector<IID> iids) {
    return Microsoft::WRL::ComPtr<AutomationObject>(new AutomationObject(std::move(iids)));
}

HRESULT STDMETHODCALLTYPE AutomationObject::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
        std::any_of(iids_.begin(), iids_.end(), [&](const IID& iid) { return IsEqualIID(riid, iid) != 0; }))
        *ppv = static_cast<IDispatch*>(this);
    else
        *ppv = QueryMore(riid);
    if (!*ppv) return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE AutomationObject::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }

ULONG STDMETHODCALLTYPE AutomationObject::Release() {
    LONG n = InterlockedDecrement(&refs_);
    if (n == 0) delete this;
    return static_cast<ULONG>(n);
}

HRESULT STDMETHODCALLTYPE AutomationObject::GetTypeInfoCount(UINT* count) {
    if (count) *count = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE AutomationObject::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE AutomationObject::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) {
    return DISP_E_UNKNOWNNAME;
}

HRESULT STDMETHODCALLTYPE AutomationObject::Invoke(DISPID id, REFIID, LCID lcid, WORD flags, DISPPARAMS* params,
                                                   VARIANT* result, EXCEPINFO*, UINT*) {
    AutomationCall call{id, flags, lcid, {}};
    if (params) {
        // Positional arguments only: last first.
        for (UINT i = params->cArgs; i > 0; --i) call.args.emplace_back(params->rgvarg[i - 1]);
    }
    calls_.push_back(call);
    if (result) VariantInit(result);
    auto failure = failures_.find(id);
    if (failure != failures_.end()) {
        HRESULT hr = failure->second;
        failures_.erase(failure);
        return hr;
    }
    auto member = members_.find(id);
    if (member == members_.end()) return DISP_E_MEMBERNOTFOUND;
    Var ignored;
    return member->second(call, result ? result : &ignored);
}

void AutomationObject::Property(DISPID id, const Var& value) {
    On(id, [value](const AutomationCall&, VARIANT* result) { return VariantCopy(result, const_cast<Var*>(&value)); });
}

std::vector<AutomationCall> AutomationObject::CallsOf(DISPID id) const {
    std::vector<AutomationCall> out;
    for (const AutomationCall& c : calls_)
        if (c.id == id) out.push_back(c);
    return out;
}

}  // namespace officesim
