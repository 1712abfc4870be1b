#include "com_addins.h"

#include <cwchar>

namespace officesim {

namespace {

HRESULT Text(BSTR* v, const std::wstring& s) {
    if (!v) return E_POINTER;
    *v = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
    return *v ? S_OK : E_OUTOFMEMORY;
}

HRESULT NullObject(IDispatch** v) {
    if (!v) return E_POINTER;
    *v = nullptr;
    return S_OK;
}

struct Name {
    const wchar_t* name;
    DISPID id;
};

HRESULT IdsOfNames(const Name* table, size_t n, LPOLESTR* names, UINT count, DISPID* ids) {
    if (!names || !ids) return E_POINTER;
    if (count == 0) return S_OK;
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    for (size_t i = 0; i < n; ++i)
        if (_wcsicmp(names[0], table[i].name) == 0) {
            ids[0] = table[i].id;
            return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;  // no named arguments here
        }
    return DISP_E_UNKNOWNNAME;
}

void SetResult(VARIANT* result, VARTYPE type) {
    VariantInit(result);
    result->vt = type;
}

}  // namespace

// ---- one add-in ----

HRESULT STDMETHODCALLTYPE COMAddInSim::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    static const Name kNames[] = {{L"Description", comaddin::Description}, {L"ProgId", comaddin::ProgId},
                                  {L"Guid", comaddin::Guid},               {L"Connect", comaddin::Connect},
                                  {L"Object", comaddin::Object}};
    return IdsOfNames(kNames, sizeof kNames / sizeof kNames[0], names, count, ids);
}

HRESULT STDMETHODCALLTYPE COMAddInSim::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                              VARIANT* result, EXCEPINFO*, UINT*) {
    const bool get = (flags & DISPATCH_PROPERTYGET) && (!params || params->cArgs == 0);
    VARIANT ignored;
    VariantInit(&ignored);
    VARIANT* out = result ? result : &ignored;
    HRESULT hr = DISP_E_MEMBERNOTFOUND;
    if (get) {
        switch (id) {
            case comaddin::Description:
                SetResult(out, VT_BSTR);
                hr = get_Description(&out->bstrVal);
                break;
            case comaddin::ProgId:
                SetResult(out, VT_BSTR);
                hr = get_ProgId(&out->bstrVal);
                break;
            case comaddin::Guid:
                SetResult(out, VT_BSTR);
                hr = get_Guid(&out->bstrVal);
                break;
            case comaddin::Connect:
                SetResult(out, VT_BOOL);
                hr = get_Connect(&out->boolVal);
                break;
            case comaddin::Object:
                SetResult(out, VT_DISPATCH);
                hr = get_Object(&out->pdispVal);
                break;
            default:
                break;
        }
        if (FAILED(hr)) VariantInit(out);
    }
    VariantClear(&ignored);
    return hr;
}

HRESULT STDMETHODCALLTYPE COMAddInSim::get_Application(IDispatch** v) { return NullObject(v); }
HRESULT STDMETHODCALLTYPE COMAddInSim::get_Creator(LONG* v) {
    if (!v) return E_POINTER;
    *v = 0x5843454C;  // 'XCEL'
    return S_OK;
}
HRESULT STDMETHODCALLTYPE COMAddInSim::get_Description(BSTR* v) { return Text(v, description_); }
HRESULT STDMETHODCALLTYPE COMAddInSim::put_Description(BSTR) { return S_OK; }
HRESULT STDMETHODCALLTYPE COMAddInSim::get_ProgId(BSTR* v) { return Text(v, progId_); }
HRESULT STDMETHODCALLTYPE COMAddInSim::get_Guid(BSTR* v) { return Text(v, L"{5A7C2E91-3D48-4B6F-9E21-7C0D4A8B3F65}"); }
HRESULT STDMETHODCALLTYPE COMAddInSim::get_Connect(VARIANT_BOOL* v) {
    if (!v) return E_POINTER;
    *v = connected ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}
// Connecting or disconnecting from outside (the COM add-ins dialog) is not played here.
HRESULT STDMETHODCALLTYPE COMAddInSim::put_Connect(VARIANT_BOOL) { return S_OK; }
HRESULT STDMETHODCALLTYPE COMAddInSim::get_Object(IDispatch** v) {
    if (!v) return E_POINTER;
    Microsoft::WRL::ComPtr<IDispatch> copy = object;
    *v = copy.Detach();
    return S_OK;
}
HRESULT STDMETHODCALLTYPE COMAddInSim::put_Object(IDispatch* v) {
    if (failPutObject) return E_ACCESSDENIED;
    object = v;
    ++objectSets;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE COMAddInSim::get_Parent(IDispatch** v) { return NullObject(v); }

// ---- the collection ----

HRESULT STDMETHODCALLTYPE COMAddInsSim::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    static const Name kNames[] = {{L"Item", DISPID_VALUE}, {L"Count", 1}};
    return IdsOfNames(kNames, sizeof kNames / sizeof kNames[0], names, count, ids);
}

HRESULT STDMETHODCALLTYPE COMAddInsSim::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                               VARIANT* result, EXCEPINFO*, UINT* argErr) {
    if (id == 1 && (flags & DISPATCH_PROPERTYGET)) {
        if (result) {
            SetResult(result, VT_I4);
            result->lVal = static_cast<LONG>(items_.size());
        }
        return S_OK;
    }
    if (id != DISPID_VALUE || !(flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET))) return DISP_E_MEMBERNOTFOUND;
    if (!params || params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
    VARIANT index;
    VariantInit(&index);
    COMAddInSim* found = nullptr;
    const VARTYPE given = static_cast<VARTYPE>(params->rgvarg[0].vt & ~VT_BYREF);
    if (given == VT_BSTR && SUCCEEDED(VariantChangeType(&index, &params->rgvarg[0], 0, VT_BSTR))) {
        for (const auto& item : items_)
            if (_wcsicmp(item->ProgIdText().c_str(), index.bstrVal ? index.bstrVal : L"") == 0) found = item.Get();
    } else if (SUCCEEDED(VariantChangeType(&index, &params->rgvarg[0], 0, VT_I4))) {
        if (index.lVal >= 1 && static_cast<size_t>(index.lVal) <= items_.size()) found = items_[index.lVal - 1].Get();
    } else {
        if (argErr) *argErr = 0;
        return DISP_E_TYPEMISMATCH;
    }
    VariantClear(&index);
    if (!found) return DISP_E_BADINDEX;
    if (result) {
        SetResult(result, VT_DISPATCH);
        result->pdispVal = static_cast<mso::COMAddIn*>(found);
        found->AddRef();
    }
    return S_OK;
}

}  // namespace officesim
