#include "com/dispatch.h"

#include "com/error.h"

#include <vector>

namespace qvr {

HRESULT TryInvoke(IDispatch* target, DISPID id, WORD flags, LCID lcid, std::initializer_list<const VARIANT*> args,
                  unique_variant* result, TDispatchException* exception) {
    if (exception) *exception = {};
    if (!target) return E_POINTER;
    std::vector<VARIANT> reversed(args.size());
    size_t i = args.size();
    for (const VARIANT* a : args) reversed[--i] = *a;  // shallow: Invoke does not take ownership
    DISPID putId = DISPID_PROPERTYPUT;
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
        params.rgdispidNamedArgs = &putId;
        params.cNamedArgs = 1;
    }
    EXCEPINFO excep{};
    UINT argErr = 0;
    unique_variant local;
    HRESULT hr = target->Invoke(id, IID_NULL, lcid, flags, &params, result ? result->put() : local.put(), &excep, &argErr);
    if (hr == DISP_E_EXCEPTION) {
        if (excep.pfnDeferredFillIn) excep.pfnDeferredFillIn(&excep);
        if (excep.scode) hr = excep.scode;
        if (exception) {
            if (excep.bstrSource) exception->source.assign(excep.bstrSource, SysStringLen(excep.bstrSource));
            if (excep.bstrDescription)
                exception->description.assign(excep.bstrDescription, SysStringLen(excep.bstrDescription));
        }
    }
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrHelpFile);
    return hr;
}

std::wstring DispatchFailureText(HRESULT hr, const TDispatchException& exception) {
    if (exception.description.empty()) return SysErrorMessage(hr);
    wchar_t code[16];
    wsprintfW(code, L"%08X", static_cast<unsigned>(hr));
    std::wstring text = exception.description + L"\r\n(";
    if (!exception.source.empty()) text += exception.source + L", ";
    return text + L"error " + code + L")";
}

unique_variant Invoke(IDispatch* target, DISPID id, WORD flags, LCID lcid, std::initializer_list<const VARIANT*> args) {
    unique_variant result;
    TDispatchException exception;
    HRESULT hr = TryInvoke(target, id, flags, lcid, args, &result, &exception);
    if (FAILED(hr)) RaiseOleError(hr, DispatchFailureText(hr, exception));
    return result;
}

unique_variant InvokeByName(IDispatch* target, const wchar_t* name, WORD flags, LCID lcid,
                            std::initializer_list<const VARIANT*> args) {
    if (!target) ThrowIfFailed(E_POINTER);
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    ThrowIfFailed(target->GetIDsOfNames(IID_NULL, names, 1, lcid, &id));
    return Invoke(target, id, flags, lcid, args);
}

unique_variant GetPropertyByName(IDispatch* target, const wchar_t* name, LCID lcid) {
    return InvokeByName(target, name, DISPATCH_PROPERTYGET, lcid);
}

HRESULT TryGetPropertyByName(IDispatch* target, const wchar_t* name, unique_variant& result, LCID lcid) {
    if (!target) return E_POINTER;
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    if (HRESULT hr = target->GetIDsOfNames(IID_NULL, names, 1, lcid, &id); FAILED(hr)) return hr;
    return TryInvoke(target, id, DISPATCH_PROPERTYGET, lcid, {}, &result, nullptr);
}

unique_variant ConvertedVariant(const VARIANT& value, VARTYPE type) {
    unique_variant out;
    ThrowIfFailed(VariantCopyInd(&out, const_cast<VARIANT*>(&value)));
    ThrowIfFailed(VariantChangeType(&out, &out, 0, type));
    return out;
}

}  // namespace qvr
