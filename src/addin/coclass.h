// The add-in's COM class: the framework's connection object answering the type library's dual
// interface IcoVORTELIXExcel, and the registration of its class factory.
#pragma once

#include "ribbon/host.h"
#include "server/addin.h"
#include "server/comserver.h"
#include "VORTELIXExcel_h.h"

namespace vortelix {

inline constexpr CLSID CLSID_coVORTELIXExcel = {
    0x5A7C2E91, 0x3D48, 0x4B6F, {0x9E, 0x21, 0x7C, 0x0D, 0x4A, 0x8B, 0x3F, 0x65}};
inline constexpr IID IID_IcoVORTELIXExcel_ = {
    0x9B3D5F70, 0x2E6C, 0x4A18, {0x8D, 0x4B, 0xE0, 0x5C, 0x71, 0xA2, 0xF9, 0x36}};

class TcoVORTELIXExcel : public qvr::TqvrAddin, public IcoVORTELIXExcel {
public:
    explicit TcoVORTELIXExcel(qvr::TqvrFactory& factory) : TqvrAddin(factory, qvr::RibbonHost()) {}

    // One implementation of IUnknown and IDispatch serves every interface of the object.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override { return TqvrAddin::QueryInterface(riid, ppv); }
    ULONG STDMETHODCALLTYPE AddRef() override { return TqvrAddin::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return TqvrAddin::Release(); }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override { return TqvrAddin::GetTypeInfoCount(count); }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override {
        return TqvrAddin::GetTypeInfo(index, lcid, info);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override {
        return TqvrAddin::GetIDsOfNames(riid, names, count, lcid, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* excep, UINT* argErr) override {
        return TqvrAddin::Invoke(id, riid, lcid, flags, params, result, excep, argErr);
    }

protected:
    void* QueryOwnInterface(REFIID riid) override {
        return IsEqualIID(riid, IID_IcoVORTELIXExcel_) ? static_cast<IcoVORTELIXExcel*>(this) : nullptr;
    }
};

// Creates the server's one factory for the class (at library load).
void RegisterAddInFactory(qvr::TComServer& server);

}  // namespace vortelix
