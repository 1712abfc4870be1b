#include "server/status.h"

#include "com/dll.h"
#include "com/error.h"
#include "com/log.h"
#include "com/numbers.h"
#include "server/addin.h"
#include "server/comserver.h"

#include <wrl/client.h>

#include <atomic>
#include <cstring>
#include <string>

namespace qvr {

namespace {

using Microsoft::WRL::ComPtr;

// The file version of the module holding the server, from its own version resource (no
// version.dll: the resource is read in place). The resource is a VS_VERSIONINFO block: three
// WORDs (length, value length, type), the key "VS_VERSION_INFO", padding to 32 bits, then its
// value, VS_FIXEDFILEINFO.
std::wstring OwnFileVersion() {
    HMODULE module = ServerModule();
    HRSRC found = module ? FindResourceW(module, MAKEINTRESOURCEW(VS_VERSION_INFO), MAKEINTRESOURCEW(16)) : nullptr;
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const BYTE* data = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
    const DWORD size = found ? SizeofResource(module, found) : 0;
    constexpr DWORD kValueAt = (3 * sizeof(WORD) + sizeof(L"VS_VERSION_INFO") + 3) & ~3u;
    if (!data || size < kValueAt + sizeof(VS_FIXEDFILEINFO)) return {};
    WORD valueLength = 0;
    memcpy(&valueLength, data + sizeof(WORD), sizeof(valueLength));
    if (valueLength < sizeof(VS_FIXEDFILEINFO)) return {};
    VS_FIXEDFILEINFO fixed;
    memcpy(&fixed, data + kValueAt, sizeof(fixed));
    // AppendUnsigned, not std::to_wstring: that one would link the C library's printf into the DLL.
    std::wstring version;
    for (WORD part : {HIWORD(fixed.dwFileVersionMS), LOWORD(fixed.dwFileVersionMS), HIWORD(fixed.dwFileVersionLS),
                      LOWORD(fixed.dwFileVersionLS)}) {
        if (!version.empty()) version += L'.';
        AppendUnsigned(version, part);
    }
    return version;
}

HRESULT Text(BSTR* value, const std::wstring& text) {
    if (!value) return E_POINTER;
    *value = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *value ? S_OK : E_OUTOFMEMORY;
}

class TqvrAddInStatus final : public IqvrAddInStatus {
public:
    explicit TqvrAddInStatus(TqvrAddin& addIn) : addIn_(static_cast<IDTExtensibility2*>(&addIn)) { DllAddRef(); }
    ~TqvrAddInStatus() { DllRelease(); }
    TqvrAddInStatus(const TqvrAddInStatus&) = delete;
    TqvrAddInStatus& operator=(const TqvrAddInStatus&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID_IqvrAddInStatus)) {
            *ppv = static_cast<IqvrAddInStatus*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
        if (!info) return E_POINTER;
        *info = nullptr;
        if (index != 0) return DISP_E_BADINDEX;
        HRESULT hr = LoadTypeInfo();
        if (FAILED(hr)) return hr;
        return typeInfo_.CopyTo(info);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        HRESULT hr = LoadTypeInfo();
        return FAILED(hr) ? hr : DispGetIDsOfNames(typeInfo_.Get(), names, count, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* excep, UINT* argErr) override {
        if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
        HRESULT hr = LoadTypeInfo();
        if (FAILED(hr)) return hr;
        // Through the type information: a property put (there is none) answers
        // DISP_E_MEMBERNOTFOUND.
        return DispInvoke(static_cast<IqvrAddInStatus*>(this), typeInfo_.Get(), id, flags, params, result, excep, argErr);
    }

    HRESULT STDMETHODCALLTYPE get_Version(BSTR* value) override {
        return Guarded([&] { return Text(value, OwnFileVersion()); });
    }
    HRESULT STDMETHODCALLTYPE get_RibbonLoaded(VARIANT_BOOL* value) override {
        if (!value) return E_POINTER;
        TqvrCOMAddInModule* module = static_cast<TqvrAddin*>(addIn_.Get())->COMAddInModule();
        *value = module && module->RibbonUI() ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_LogLevel(LONG* value) override {
        if (!value) return E_POINTER;
        *value = static_cast<LONG>(CurrentLogLevel());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_TraceFile(BSTR* value) override {
        return Guarded([&] { return Text(value, TraceFilePath()); });
    }
    HRESULT STDMETHODCALLTYPE get_LastErrorText(BSTR* value) override {
        return Guarded([&] { return Text(value, LastReportedError().text); });
    }
    HRESULT STDMETHODCALLTYPE get_LastErrorCode(LONG* value) override {
        if (!value) return E_POINTER;
        return Guarded([&] {
            *value = static_cast<LONG>(LastReportedError().code);
            return S_OK;
        });
    }

private:
    // Loaded at the first call that needs it, not when Office connects the add-in.
    HRESULT LoadTypeInfo() {
        if (typeInfo_) return S_OK;
        return Guarded([&] {
            TComServer* server = TComServer::Instance();
            ITypeLib* library = server ? server->TypeLib() : nullptr;
            if (!library) return TYPE_E_CANTLOADLIBRARY;
            // The library answers a dual interface's dispatch view; DispInvoke calls through the
            // vtable, which the interface's own description (its implemented type -1) gives.
            ComPtr<ITypeInfo> dispatchView;
            HREFTYPE vtableView = 0;
            HRESULT hr = library->GetTypeInfoOfGuid(IID_IqvrAddInStatus, &dispatchView);
            if (SUCCEEDED(hr)) hr = dispatchView->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtableView);
            if (SUCCEEDED(hr)) hr = dispatchView->GetRefTypeInfo(vtableView, &typeInfo_);
            return hr;
        });
    }
    template <typename Body>
    HRESULT Guarded(Body&& body) noexcept {
        return ComBoundary(IID_IqvrAddInStatus, L"VORTELIX add-in status", std::forward<Body>(body));
    }

    std::atomic<ULONG> refs_{1};
    // The connection object, kept while Office holds this object.
    ComPtr<IDTExtensibility2> addIn_;
    ComPtr<ITypeInfo> typeInfo_;
};

}  // namespace

IqvrAddInStatus* CreateAddInStatus(TqvrAddin& addIn) { return new TqvrAddInStatus(addIn); }

}  // namespace qvr
