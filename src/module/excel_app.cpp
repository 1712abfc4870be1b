#include "module/excel_app.h"

#include "com/dispatch.h"
#include "com/error.h"

namespace qvr {

TExcelApplication::~TExcelApplication() { Disconnect(); }

void TExcelApplication::ConnectTo(IDispatch* application) {
    Disconnect();
    app_ = application;
}

void TExcelApplication::Disconnect() { app_.Reset(); }

std::wstring TExcelApplication::Version(LCID lcid) {
    if (!app_) RaiseOleError(E_POINTER, L"Excel is not connected");
    unique_variant v = Invoke(app_.Get(), xldisp::Version, DISPATCH_PROPERTYGET, lcid);
    ThrowIfFailed(VariantChangeType(&v, &v, 0, VT_BSTR));
    return std::wstring(v.bstrVal, SysStringLen(v.bstrVal));
}

}  // namespace qvr
