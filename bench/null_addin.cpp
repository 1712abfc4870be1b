// NullAddIn.dll: the add-in that does nothing, as a DLL of its own, so that addin_bench loads it
// exactly as it loads VORTELIXExcel.dll (LoadLibrary, DllGetClassObject, CreateInstance) and the
// two load times differ only by what the add-in itself does. It answers the same interfaces
// (IDTExtensibility2, IRibbonExtensibility, IDispatch), describes a one-button ribbon without
// callbacks and keeps nothing.
#include "com/office.h"

#include <windows.h>

#include <atomic>
#include <new>

namespace {

// {6E1F0C2A-9B4D-4E57-8A13-2C5D7F90B1E4}
constexpr CLSID kNullAddInClass = {0x6E1F0C2A, 0x9B4D, 0x4E57, {0x8A, 0x13, 0x2C, 0x5D, 0x7F, 0x90, 0xB1, 0xE4}};

std::atomic<long> g_objects{0};  // live add-in objects; the factory is static

class NullAddIn final : public IDTExtensibility2, public IRibbonExtensibility {
public:
    NullAddIn() { ++g_objects; }
    ~NullAddIn() { --g_objects; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
            IsEqualIID(riid, __uuidof(IDTExtensibility2)))
            *ppv = static_cast<IDTExtensibility2*>(this);
        else if (IsEqualIID(riid, __uuidof(IRibbonExtensibility)))
            *ppv = static_cast<IRibbonExtensibility*>(this);
        else
            *ppv = nullptr;
        if (!*ppv) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG STDMETHODCALLTYPE Release() override {
        long n = --refs_;
        if (n == 0) delete this;
        return static_cast<ULONG>(n);
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return DISP_E_MEMBERNOTFOUND;
    }
    HRESULT STDMETHODCALLTYPE OnConnection(IDispatch*, LONG, IDispatch*, SAFEARRAY**) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDisconnection(LONG, SAFEARRAY**) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnAddInsUpdate(SAFEARRAY**) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnStartupComplete(SAFEARRAY**) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnBeginShutdown(SAFEARRAY**) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetCustomUI(BSTR, BSTR* xml) override {
        if (!xml) return E_POINTER;
        *xml = SysAllocString(
            L"<customUI xmlns=\"http://schemas.microsoft.com/office/2009/07/customui\"><ribbon><tabs>"
            L"<tab id=\"NullTab\" label=\"Null\"><group id=\"NullGroup\" label=\"Null\">"
            L"<button id=\"NullButton\" label=\"Null\"/></group></tab></tabs></ribbon></customUI>");
        return *xml ? S_OK : E_OUTOFMEMORY;
    }

private:
    std::atomic<long> refs_{1};
};

class NullFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory) ? this : nullptr;
        return *ppv ? S_OK : E_NOINTERFACE;  // static: no count to keep
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        auto* addIn = new (std::nothrow) NullAddIn();
        if (!addIn) return E_OUTOFMEMORY;
        HRESULT hr = addIn->QueryInterface(riid, ppv);
        addIn->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

NullFactory g_factory;

}  // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualCLSID(clsid, kNullAddInClass)) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(riid, ppv);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return g_objects == 0 ? S_OK : S_FALSE; }
