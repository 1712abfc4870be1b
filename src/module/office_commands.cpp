// The module's side of Office's built-in controls: their state, label and picture as the host's
// command bars report them, their execution, and the activation of built-in and shared tabs.
#include "module/module.h"

#include "com/dispatch.h"
#include "com/error.h"
#include "com/query.h"

#include <wrl/client.h>

#include <initializer_list>

using Microsoft::WRL::ComPtr;

namespace qvr {

ComPtr<_CommandBars> TqvrCOMAddInModule::HostCommandBars() const noexcept {
    // Asked at every start: a host without command bars answers without an exception raised and
    // caught, which costs a freshly loaded DLL most of a millisecond.
    try {
        if (FHostApp.vt != VT_DISPATCH || !FHostApp.pdispVal) return {};
        unique_variant bars;
        if (FAILED(TryGetPropertyByName(FHostApp.pdispVal, L"CommandBars", bars))) return {};
        if (bars.vt != VT_DISPATCH || !bars.pdispVal) return {};
        return TryQuery<_CommandBars>(bars.pdispVal);
    } catch (...) {
        // Without command bars the legacy command-bar helpers do nothing; start-up goes on.
        RecordDroppedError(L"command bars");
        return {};
    }
}

namespace {

// A method of the command bars that takes a built-in control's idMso first.
unique_variant CallMso(IDispatch* bars, const wchar_t* method, std::initializer_list<const VARIANT*> args) {
    return InvokeByName(bars, method, DISPATCH_METHOD, LOCALE_USER_DEFAULT, args);
}

bool MsoFlag(const TqvrCOMAddInModule& module, const wchar_t* method, const std::wstring& idMso) {
    ComPtr<_CommandBars> bars = module.HostCommandBars();
    if (!bars) return false;
    unique_variant id = unique_variant::FromString(idMso);
    return ConvertedVariant(CallMso(bars.Get(), method, {&id}), VT_BOOL).boolVal != VARIANT_FALSE;
}

std::wstring MsoText(const TqvrCOMAddInModule& module, const wchar_t* method, const std::wstring& idMso) {
    ComPtr<_CommandBars> bars = module.HostCommandBars();
    if (!bars) return {};
    unique_variant id = unique_variant::FromString(idMso);
    unique_variant text = ConvertedVariant(CallMso(bars.Get(), method, {&id}), VT_BSTR);
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
    ComPtr<_CommandBars> bars = HostCommandBars();
    if (!bars) return {};
    unique_variant id = unique_variant::FromString(idMso);
    unique_variant width = unique_variant::FromInt(Width);
    unique_variant height = unique_variant::FromInt(Height);
    unique_variant answer = CallMso(bars.Get(), L"GetImageMso", {&id, &width, &height});
    ComPtr<IPictureDisp> picture;
    IUnknown* unknown = answer.vt == VT_UNKNOWN ? answer.punkVal : answer.vt == VT_DISPATCH ? answer.pdispVal : nullptr;
    if (unknown) picture = Query<IPictureDisp>(unknown);
    return picture;
}

void TqvrCOMAddInModule::RibbonControlExecute(const std::wstring& idMso) {
    ComPtr<_CommandBars> bars = HostCommandBars();
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
