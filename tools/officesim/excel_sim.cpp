#include "excel_sim.h"

namespace officesim {

namespace {
constexpr DISPID kVersion = 392;
}

HRESULT STDMETHODCALLTYPE ExcelApplicationSim::Invoke(DISPID id, REFIID, LCID lcid, WORD flags, DISPPARAMS*,
                                                      VARIANT* result, EXCEPINFO*, UINT*) {
    calls_.push_back({id, lcid, flags});
    if (id == kVersion && (flags & DISPATCH_PROPERTYGET)) {
        if (!result) return E_POINTER;
        VariantInit(result);
        result->vt = VT_BSTR;
        result->bstrVal = SysAllocString(version_.c_str());
        return S_OK;
    }
    return DISP_E_MEMBERNOTFOUND;
}

}  // namespace officesim
