#include "excel_app_events.h"

#include "office_api.h"

#include <olectl.h>

#include <algorithm>
#include <utility>

namespace officesim {

using Microsoft::WRL::ComPtr;

ExcelAppEventsPoint::ExcelAppEventsPoint(IUnknown& owner) : owner_(owner) {}

IConnectionPointContainer* ExcelAppEventsPoint::Container() { return &container_; }

HRESULT STDMETHODCALLTYPE ExcelAppEventsPoint::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IConnectionPoint)) return E_NOINTERFACE;
    *ppv = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ExcelAppEventsPoint::GetConnectionInterface(IID* iid) {
    if (!iid) return E_POINTER;
    *iid = mso::DIID_AppEvents;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ExcelAppEventsPoint::GetConnectionPointContainer(IConnectionPointContainer** c) {
    if (!c) return E_POINTER;
    *c = &container_;
    container_.AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ExcelAppEventsPoint::Advise(IUnknown* sink, DWORD* cookie) {
    if (!sink || !cookie) return E_POINTER;
    *cookie = 0;
    if (HRESULT hr = std::exchange(adviseFailure_, S_OK); FAILED(hr)) return hr;
    ComPtr<IDispatch> events;
    if (FAILED(sink->QueryInterface(mso::DIID_AppEvents, reinterpret_cast<void**>(events.GetAddressOf()))) ||
        !events)
        return CONNECT_E_CANNOTCONNECT;
    *cookie = nextCookie_++;
    sinks_.push_back({*cookie, events});
    ++totalAdvises_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ExcelAppEventsPoint::Unadvise(DWORD cookie) {
    auto it = std::find_if(sinks_.begin(), sinks_.end(), [&](const Advised& a) { return a.cookie == cookie; });
    if (it == sinks_.end()) return CONNECT_E_NOCONNECTION;
    ComPtr<IDispatch> released = std::move(it->sink);  // released after the list is consistent
    sinks_.erase(it);
    unadvised_.push_back(cookie);
    return S_OK;
}

std::vector<ComPtr<IDispatch>> ExcelAppEventsPoint::Sinks() const {
    std::vector<ComPtr<IDispatch>> out;
    for (const Advised& a : sinks_) out.push_back(a.sink);
    return out;
}

std::vector<HRESULT> ExcelAppEventsPoint::Fire(DISPID id, const std::vector<VARIANT>& args, size_t namedCount) {
    const size_t n = args.size();
    namedCount = std::min(namedCount, n);
    const size_t positional = n - namedCount;
    std::vector<VARIANT> rgvarg(n);
    std::vector<DISPID> names(namedCount);
    for (size_t i = 0; i < namedCount; ++i) {
        rgvarg[i] = args[positional + i];
        names[i] = static_cast<DISPID>(positional + i);
    }
    for (size_t k = 0; k < positional; ++k) rgvarg[n - 1 - k] = args[k];
    DISPPARAMS params{rgvarg.data(), names.empty() ? nullptr : names.data(), static_cast<UINT>(n),
                      static_cast<UINT>(namedCount)};
    std::vector<HRESULT> results;
    for (const ComPtr<IDispatch>& sink : Sinks())  // a snapshot: handlers may unadvise
        results.push_back(sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr,
                                       nullptr));
    return results;
}

HRESULT STDMETHODCALLTYPE ExcelAppEventsPoint::ContainerTearOff::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IConnectionPointContainer)) {
        *ppv = static_cast<IConnectionPointContainer*>(this);
        AddRef();
        return S_OK;
    }
    return point_.owner_.QueryInterface(riid, ppv);  // the application's identity
}

HRESULT STDMETHODCALLTYPE ExcelAppEventsPoint::ContainerTearOff::FindConnectionPoint(REFIID riid,
                                                                                     IConnectionPoint** point) {
    if (!point) return E_POINTER;
    *point = nullptr;
    if (!IsEqualIID(riid, mso::DIID_AppEvents)) return CONNECT_E_NOCONNECTION;
    *point = &point_;
    point_.AddRef();
    return S_OK;
}

}  // namespace officesim
