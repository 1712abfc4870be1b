// NullAddIn.dll: the add-in that does nothing, as a DLL of its own, so that addin_bench loads it
// exactly as it loads VORTELIXExcel.dll (LoadLibrary, DllGetClassObject, CreateInstance) and the
// two load times differ only by what the add-in itself does. It answers the same interfaces
// (IDTExtensibility2, IRibbonExtensibility, IDispatch), describes a one-button ribbon without
// callbacks and keeps nothing.
// Built with NULL_ADDIN_WINDOWS it is NullAddInWindows.dll, of a class of its own: the same
// null add-in that also keeps two hidden top-level windows, each of its own class, from
// OnConnection to OnDisconnection, as the add-in's design does (the colour scheme and messaging
// windows). Under Wine each is a real X window; this is the fair baseline for the add-in's load.
#include "com/office.h"

#include <windows.h>

#include <atomic>
#include <new>

namespace {

#ifdef NULL_ADDIN_WINDOWS
// {6E1F0C2A-9B4D-4E57-8A13-2C5D7F90B1E5}
constexpr CLSID kNullAddInClass = {0x6E1F0C2A, 0x9B4D, 0x4E57, {0x8A, 0x13, 0x2C, 0x5D, 0x7F, 0x90, 0xB1, 0xE5}};
#else
// {6E1F0C2A-9B4D-4E57-8A13-2C5D7F90B1E4}
constexpr CLSID kNullAddInClass = {0x6E1F0C2A, 0x9B4D, 0x4E57, {0x8A, 0x13, 0x2C, 0x5D, 0x7F, 0x90, 0xB1, 0xE4}};
#endif

std::atomic<long> g_objects{0};  // live add-in objects; the factory is static
HINSTANCE g_instance = nullptr;

#ifdef NULL_ADDIN_WINDOWS
// A hidden pop-up of the desktop, of a class of its own, as the add-in makes them: only
// top-level windows get Office's settings broadcast and Windows' shut-down query.
LRESULT CALLBACK HiddenProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_QUERYENDSESSION) return 1;
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

class HiddenWindow {
public:
    explicit HiddenWindow(const wchar_t* windowClass) : class_(windowClass) {
        WNDCLASSW wc{};
        wc.lpfnWndProc = HiddenProc;
        wc.hInstance = g_instance;
        wc.lpszClassName = windowClass;
        RegisterClassW(&wc);
        hwnd_ = CreateWindowExW(0, windowClass, L"", WS_POPUP, 0, 0, 0, 0, GetDesktopWindow(), nullptr, g_instance,
                                nullptr);
    }
    ~HiddenWindow() {
        if (hwnd_) DestroyWindow(hwnd_);
        UnregisterClassW(class_, g_instance);
    }
    HiddenWindow(const HiddenWindow&) = delete;
    HiddenWindow& operator=(const HiddenWindow&) = delete;
    bool Made() const { return hwnd_ != nullptr; }

private:
    const wchar_t* class_;
    HWND hwnd_ = nullptr;
};
#endif

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
#ifdef NULL_ADDIN_WINDOWS
    HRESULT STDMETHODCALLTYPE OnConnection(IDispatch*, LONG, IDispatch*, SAFEARRAY**) override {
        scheme_ = new (std::nothrow) HiddenWindow(L"NullAddInColorScheme");
        messages_ = new (std::nothrow) HiddenWindow(L"NullAddInMessages");
        return scheme_ && messages_ && scheme_->Made() && messages_->Made() ? S_OK : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE OnDisconnection(LONG, SAFEARRAY**) override {
        delete messages_;
        delete scheme_;
        messages_ = scheme_ = nullptr;
        return S_OK;
    }
#else
    HRESULT STDMETHODCALLTYPE OnConnection(IDispatch*, LONG, IDispatch*, SAFEARRAY**) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDisconnection(LONG, SAFEARRAY**) override { return S_OK; }
#endif
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
#ifdef NULL_ADDIN_WINDOWS
    HiddenWindow* scheme_ = nullptr;
    HiddenWindow* messages_ = nullptr;
#endif
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

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) g_instance = instance;
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualCLSID(clsid, kNullAddInClass)) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(riid, ppv);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return g_objects == 0 ? S_OK : S_FALSE; }
