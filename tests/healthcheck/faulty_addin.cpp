// FaultyAddIn.dll: a tiny COM add-in for the tests only (never shipped), registered in the place
// of the VORTELIX add-in to make Excel see what Office turns add-ins off for. What it does comes
// from the environment variable QVR_FAULTY_ADDIN of the process that loads it:
//   (unset)          connects and starts like a good add-in
//   fail-connect     OnConnection returns E_FAIL
//   crash-connect    OnConnection writes through a null pointer (an access violation)
//   crash-create     the class factory's CreateInstance does the same
//   slow:<ms>        OnConnection takes <ms> milliseconds
#include "com/office.h"

#include <windows.h>

#include <cstdlib>
#include <string>

namespace {

LONG g_objects = 0, g_locks = 0;

std::wstring Fault() {
    wchar_t text[64] = {};
    GetEnvironmentVariableW(L"QVR_FAULTY_ADDIN", text, 64);
    return text;
}

void Crash() {
    volatile int* nowhere = nullptr;
    *nowhere = 1;
}

class AddIn final : public IDTExtensibility2 {
public:
    AddIn() { InterlockedIncrement(&g_objects); }
    ~AddIn() { InterlockedDecrement(&g_objects); }
    AddIn(const AddIn&) = delete;
    AddIn& operator=(const AddIn&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == __uuidof(IDTExtensibility2)) {
            *out = static_cast<IDTExtensibility2*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG n = InterlockedDecrement(&refs_);
        if (n == 0) delete this;
        return static_cast<ULONG>(n);
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override {
        if (n) *n = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE OnConnection(IDispatch*, LONG, IDispatch*, SAFEARRAY**) override {
        const std::wstring fault = Fault();
        if (fault == L"fail-connect") return E_FAIL;
        if (fault == L"crash-connect") Crash();
        if (fault.rfind(L"slow:", 0) == 0) Sleep(static_cast<DWORD>(wcstoul(fault.c_str() + 5, nullptr, 10)));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnDisconnection(LONG, SAFEARRAY**) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnAddInsUpdate(SAFEARRAY**) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnStartupComplete(SAFEARRAY**) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnBeginShutdown(SAFEARRAY**) override { return S_OK; }

private:
    LONG refs_ = 1;
};

class Factory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *out = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }  // static object
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        if (Fault() == L"crash-create") Crash();
        AddIn* addIn = new (std::nothrow) AddIn;
        if (!addIn) return E_OUTOFMEMORY;
        HRESULT hr = addIn->QueryInterface(riid, out);
        addIn->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock) InterlockedIncrement(&g_locks);
        else InterlockedDecrement(&g_locks);
        return S_OK;
    }
};

Factory g_factory;
// The VORTELIX add-in's class, which this DLL stands in for.
const CLSID kClsid = {0x5A7C2E91, 0x3D48, 0x4B6F, {0x9E, 0x21, 0x7C, 0x0D, 0x4A, 0x8B, 0x3F, 0x65}};

}  // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (clsid != kClsid) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(riid, out);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE; }
