// Office's COM add-ins list as Excel keeps it: one COMAddIn object per registered add-in, with its
// ProgID, whether it is connected, and the object the add-in handed over (its Object property);
// and the collection Application.COMAddIns answers, by position or by ProgID.
#pragma once

#include "office_api.h"
#include "sim_object.h"

#include <wrl/client.h>

#include <string>
#include <vector>

namespace officesim {

// Dispatch ids of COMAddIn as Office's type library gives them.
namespace comaddin {
inline constexpr DISPID Description = 0;
inline constexpr DISPID ProgId = 3;
inline constexpr DISPID Guid = 4;
inline constexpr DISPID Connect = 6;
inline constexpr DISPID Object = 7;
}  // namespace comaddin

// Office's object for an add-in in its COM add-ins collection; records the add-in's Object.
class COMAddInSim : public SimObject<mso::COMAddIn> {
public:
    explicit COMAddInSim(std::wstring progId = L"VORTELIXExcel.coVORTELIXExcel",
                         std::wstring description = L"VORTELIX Excel")
        : progId_(std::move(progId)), description_(std::move(description)) {}

    // Late-bound callers (scripts, the health check) use names and the dispatch ids above.
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* excep, UINT* argErr) override;

    HRESULT STDMETHODCALLTYPE get_Application(IDispatch** v) override;
    HRESULT STDMETHODCALLTYPE get_Creator(LONG* v) override;
    HRESULT STDMETHODCALLTYPE get_Description(BSTR* v) override;
    HRESULT STDMETHODCALLTYPE put_Description(BSTR v) override;
    HRESULT STDMETHODCALLTYPE get_ProgId(BSTR* v) override;
    HRESULT STDMETHODCALLTYPE get_Guid(BSTR* v) override;
    HRESULT STDMETHODCALLTYPE get_Connect(VARIANT_BOOL* v) override;
    HRESULT STDMETHODCALLTYPE put_Connect(VARIANT_BOOL v) override;
    HRESULT STDMETHODCALLTYPE get_Object(IDispatch** v) override;
    HRESULT STDMETHODCALLTYPE put_Object(IDispatch* v) override;
    HRESULT STDMETHODCALLTYPE get_Parent(IDispatch** v) override;

    const std::wstring& ProgIdText() const { return progId_; }

    Microsoft::WRL::ComPtr<IDispatch> object;
    int objectSets = 0;
    // Office refuses the add-in's object (put_Object fails with E_ACCESSDENIED).
    bool failPutObject = false;
    // Whether Excel connected the add-in: set by the host when OnConnection succeeded, cleared
    // when it disconnects it or the connection failed.
    bool connected = false;

private:
    std::wstring progId_, description_;
};

// Application.COMAddIns: Item(index) by 1-based position or by ProgID (case does not matter),
// Count; an unknown add-in is Office's "subscript out of range".
class COMAddInsSim : public SimObject<IDispatch> {
public:
    explicit COMAddInsSim(std::vector<Microsoft::WRL::ComPtr<COMAddInSim>> items) : items_(std::move(items)) {}
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* excep, UINT* argErr) override;

private:
    std::vector<Microsoft::WRL::ComPtr<COMAddInSim>> items_;
};

}  // namespace officesim
