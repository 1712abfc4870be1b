// Excel's application object as the stand-in plays it: answers QueryInterface for Excel's
// application interface and the members of Excel's object model that the add-in calls.
#pragma once

#include "com/office.h"
#include "sim_object.h"

#include <string>
#include <vector>

namespace officesim {

class ExcelApplicationSim : public SimObject<ExcelApplication> {
public:
    // `version` is what the Version property answers ("16.0").
    explicit ExcelApplicationSim(std::wstring version = L"16.0") : version_(std::move(version)) {}

    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* excep, UINT* argErr) override;

    // Every Invoke the add-in made: dispatch id and locale, in order.
    struct Call {
        DISPID id;
        LCID lcid;
        WORD flags;
    };
    const std::vector<Call>& Calls() const { return calls_; }
    bool quitRequested = false;

private:
    std::wstring version_;
    std::vector<Call> calls_;
};

// A host object that answers no Office host interface at all.
class ForeignHostSim : public SimObject<IDispatch> {
public:
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return DISP_E_MEMBERNOTFOUND;
    }
};

// Office's object for an add-in in its COM add-ins collection; records the add-in's Object.
class COMAddInSim : public SimObject<COMAddIn> {
public:
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return DISP_E_MEMBERNOTFOUND;
    }
    HRESULT STDMETHODCALLTYPE get_Application(IDispatch** v) override { return Null(v); }
    HRESULT STDMETHODCALLTYPE get_Creator(LONG* v) override {
        if (v) *v = 0x5843454C;  // 'XCEL'
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Description(BSTR* v) override { return Text(v, L"VORTELIX Excel"); }
    HRESULT STDMETHODCALLTYPE put_Description(BSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE get_ProgId(BSTR* v) override { return Text(v, L"VORTELIXExcel.coVORTELIXExcel"); }
    HRESULT STDMETHODCALLTYPE get_Guid(BSTR* v) override { return Text(v, L"{5A7C2E91-3D48-4B6F-9E21-7C0D4A8B3F65}"); }
    HRESULT STDMETHODCALLTYPE get_Connect(VARIANT_BOOL* v) override {
        if (v) *v = VARIANT_TRUE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Connect(VARIANT_BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE get_Object(IDispatch** v) override {
        if (!v) return E_POINTER;
        Microsoft::WRL::ComPtr<IDispatch> copy = object;
        *v = copy.Detach();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Object(IDispatch* v) override {
        if (failPutObject) return E_ACCESSDENIED;
        object = v;
        ++objectSets;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Parent(IDispatch** v) override { return Null(v); }

    Microsoft::WRL::ComPtr<IDispatch> object;
    int objectSets = 0;
    bool failPutObject = false;

private:
    static HRESULT Null(IDispatch** v) {
        if (!v) return E_POINTER;
        *v = nullptr;
        return S_OK;
    }
    static HRESULT Text(BSTR* v, const wchar_t* s) {
        if (!v) return E_POINTER;
        *v = SysAllocString(s);
        return S_OK;
    }
};

}  // namespace officesim
