#include "server/addin.h"

#include "server/status.h"

#include "com/dispatch.h"
#include "com/error.h"
#include "com/guards.h"
#include "com/handles.h"
#include "com/query.h"
#include "module/excel_app.h"
#include "server/comserver.h"
#include "server/factory.h"

#include <wrl/client.h>


using Microsoft::WRL::ComPtr;

namespace qvr {

namespace {

// Element 1 of Office's custom array, as the way the host was started; anything unreadable
// leaves hsmUnknown.
TqvrHostStartMode HostStartModeFromCustom(SAFEARRAY** custom) {
    if (!custom || !*custom) return hsmUnknown;
    VARTYPE vt = VT_EMPTY;
    if (FAILED(SafeArrayGetVartype(*custom, &vt)) || vt != VT_VARIANT || SafeArrayGetDim(*custom) != 1)
        return hsmUnknown;
    LONG index = 1;
    unique_variant element;
    if (FAILED(SafeArrayGetElement(*custom, &index, element.put()))) return hsmUnknown;
    if (FAILED(VariantChangeType(&element, &element, 0, VT_I4))) return hsmUnknown;
    if (element.lVal < hsmUnknown || element.lVal > hsmProgrammatically) return hsmUnknown;
    return static_cast<TqvrHostStartMode>(element.lVal);
}

}  // namespace

TqvrAddin::TqvrAddin(TqvrFactory& factory, const IqvrRibbonHost& ribbon)
    : factory_(factory), ribbon_(ribbon), progId_(factory.ProgID()) {
    factory_.ComServer().CountObject();
}

TqvrAddin::~TqvrAddin() {
    FAddInModule.reset();
    if (ITypeInfo* info = typeInfo_.exchange(nullptr)) info->Release();
    if (factory_.FAddInInstance == this) factory_.FAddInInstance = nullptr;
    factory_.ComServer().UncountObject();
}

// Every operation Office calls: errors become HRESULTs and are recorded under the operation's
// name; at the verbose level each call is traced with its result and time, so that "why was
// start-up slow" has an answer in the trace file.
template <typename Body>
HRESULT TqvrAddin::Boundary(const wchar_t* operation, Body&& body) noexcept {
    VerboseTimer timer(L"connection", operation);
    HRESULT hr = ComBoundary(factory_.ErrorIID(), progId_, operation, std::forward<Body>(body));
    if (VerboseLogging()) timer.SetResult(HResultHex(hr));
    return hr;
}

// ---- IUnknown ----

void* TqvrAddin::QueryOwnInterface(REFIID) { return nullptr; }

HRESULT STDMETHODCALLTYPE TqvrAddin::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    void* found = QueryOwnInterface(riid);
    if (!found) {
        if (IsEqualIID(riid, __uuidof(ICustomTaskPaneConsumer)))
            found = static_cast<ICustomTaskPaneConsumer*>(this);
        else if (IsEqualIID(riid, __uuidof(IRibbonExtensibility)))
            found = static_cast<IRibbonExtensibility*>(this);
        else if (IsEqualIID(riid, __uuidof(IExtensionEvent)))
            found = static_cast<IExtensionEvent*>(this);
        else if (IsEqualIID(riid, __uuidof(IDTExtensibility2)))
            found = static_cast<IDTExtensibility2*>(this);
        else if (IsEqualIID(riid, IID_IDispatch))
            found = static_cast<IDTExtensibility2*>(this);
        else if (IsEqualIID(riid, IID_IProvideClassInfo))
            found = static_cast<IProvideClassInfo*>(this);
        else if (IsEqualIID(riid, IID_ISupportErrorInfo))
            found = static_cast<ISupportErrorInfo*>(this);
        else if (IsEqualIID(riid, IID_IUnknown))
            found = Identity();
    }
    *ppv = found;
    if (!found) return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE TqvrAddin::AddRef() { return static_cast<ULONG>(++refCount_); }

ULONG STDMETHODCALLTYPE TqvrAddin::Release() {
    LONG n = --refCount_;
    if (n == 0) delete this;
    return static_cast<ULONG>(n);
}

// ---- IDispatch: type information from the coclass's type library ----

HRESULT STDMETHODCALLTYPE TqvrAddin::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TqvrAddin::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    return DispatchTypeInfo(info);
}

HRESULT TqvrAddin::DispatchTypeInfo(ITypeInfo** info) {
    if (ITypeInfo* kept = typeInfo_.load()) {
        kept->AddRef();
        *info = kept;
        return S_OK;
    }
    // Recorded when it fails, never traced.
    ComPtr<ITypeInfo> read;
    const HRESULT hr = ComBoundary(factory_.ErrorIID(), progId_, L"GetTypeInfo", [&] {
        return factory_.ComServer().TypeLib()->GetTypeInfoOfGuid(factory_.ErrorIID(), read.GetAddressOf());
    });
    if (FAILED(hr)) return hr;
    // Two threads asking at once both read it; the first kept wins and the other's goes.
    ITypeInfo* expected = nullptr;
    if (typeInfo_.compare_exchange_strong(expected, read.Get())) read->AddRef();
    else read = expected;
    *info = read.Detach();
    return S_OK;
}

// The ribbon callbacks named in the markup come through these two (the ribbon host).
HRESULT STDMETHODCALLTYPE TqvrAddin::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (!names || !ids) return E_POINTER;
    ComPtr<ITypeInfo> info;
    HRESULT hr = DispatchTypeInfo(info.GetAddressOf());
    if (FAILED(hr)) return hr;
    return ribbon_.GetIDsOfNames(info.Get(), names, count, ids);
}

HRESULT STDMETHODCALLTYPE TqvrAddin::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                            EXCEPINFO* excep, UINT* argErr) {
    ComPtr<ITypeInfo> info;
    HRESULT hr = DispatchTypeInfo(info.GetAddressOf());
    if (FAILED(hr)) return hr;
    const TqvrRibbonDispatchTarget target{FAddInModule.get(), static_cast<IDTExtensibility2*>(this), info.Get(),
                                          factory_.ErrorIID(), progId_};
    return ribbon_.Invoke(target, id, flags, params, result, excep, argErr);
}

// ---- IDTExtensibility2 ----

HRESULT STDMETHODCALLTYPE TqvrAddin::OnConnection(IDispatch* Application, LONG ConnectMode, IDispatch* AddInInst,
                                                  SAFEARRAY** custom) {
    // Counted first; a failure later on does not undo it.
    ++FConnectionsCount;
    return Boundary(L"OnConnection", [&] {
        if (FAddInModule) return S_OK;
        FAddInModule = factory_.ModuleClass()(nullptr);
        FAddInModule->Connect({Application, this, &factory_, &ribbon_, HostStartModeFromCustom(custom)});

        // Loaded while the host runs: the host will not call OnStartupComplete.
        if (ConnectMode != office::ext_cm_Startup) DoStartupComplete(custom);

        if (AddInInst) {
            if (ComPtr<COMAddIn> instance = TryQuery<COMAddIn>(AddInInst)) {
                FAddInModule->ConnectAddInInstance(instance.Get());
                // The host's add-in collection then hands the add-in's status object to whoever
                // asks for the add-in's Object (a script, VBA, the health check's live check).
                ComPtr<IqvrAddInStatus> status;
                *status.ReleaseAndGetAddressOf() = CreateAddInStatus(*this);  // takes over its one reference
                ThrowIfFailed(instance->put_Object(status.Get()));
            }
        }
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE TqvrAddin::OnStartupComplete(SAFEARRAY** custom) {
    return Boundary(L"OnStartupComplete", [&] {
        DoStartupComplete(custom);
        return S_OK;
    });
}

void TqvrAddin::DoStartupComplete(SAFEARRAY**) {
    if (FConnectionsCount > 1 || !FAddInModule) return;
    if (!FAddInModule->StartupComplete()) return;
    InstallHostEventRelays();
    CreateWindowsAndHooks();
}

void TqvrAddin::InstallHostEventRelays() {
    TExcelApplication* excel = FAddInModule ? FAddInModule->ExcelApp() : nullptr;
    if (!excel) return;
    // A handler the add-in assigned before (in OnAddInInitialize, say) is kept and chained. Each
    // is copied whether assigned or not: one saved from an earlier module must not survive it.
    FOnWorkbookActivate = excel->OnWorkbookActivate;
    excel->OnWorkbookActivate = [this](TObject* Sender, ExcelWorkbook* Wb) { ExcelWorkbookActivate(Sender, Wb); };
    FOnSheetActivate = excel->OnSheetActivate;
    excel->OnSheetActivate = [this](TObject* Sender, IDispatch* Sh) { ExcelSheetActivate(Sender, Sh); };
    FOnExcelWindowActivate = excel->OnWindowActivate;
    excel->OnWindowActivate = [this](TObject* Sender, ExcelWorkbook* Wb, ExcelWindow* Wn) {
        ExcelWindowActivate(Sender, Wb, Wn);
    };
}

void TqvrAddin::ExcelWorkbookActivate(TObject* Sender, ExcelWorkbook* Wb) {
    if (!FAddInModule) return;
    // From Office 2013 on the module's temporary legacy command bars are shown again here;
    // this framework build has no legacy command bars.
    FAddInModule->Fire(FOnWorkbookActivate, Sender, Wb);
}

void TqvrAddin::ExcelSheetActivate(TObject* Sender, IDispatch* Sh) {
    if (FAddInModule) FAddInModule->Fire(FOnSheetActivate, Sender, Sh);
}

void TqvrAddin::ExcelWindowActivate(TObject* Sender, ExcelWorkbook* Wb, ExcelWindow* Wn) {
    if (!FAddInModule) return;
    // The custom task pane instances for Wn would be created here when the module held the
    // task pane factory and defined task panes; this framework build defines none.
    FAddInModule->Fire(FOnExcelWindowActivate, Sender, Wb, Wn);
}

void TqvrAddin::CreateWindowsAndHooks() { FAddInModule->CreateWindowsAndHooks(); }

HRESULT STDMETHODCALLTYPE TqvrAddin::OnBeginShutdown(SAFEARRAY** custom) {
    return Boundary(L"OnBeginShutdown", [&] {
        DoBeginShutdown(custom);
        return S_OK;
    });
}

void TqvrAddin::DoBeginShutdown(SAFEARRAY**) {
    if (!FAddInModule || FConnectionsCount > 1) return;
    FAddInModule->BeginShutdown();
}

HRESULT STDMETHODCALLTYPE TqvrAddin::OnDisconnection(LONG RemoveMode, SAFEARRAY**) {
    --FConnectionsCount;
    return Boundary(L"OnDisconnection", [&] {
        if (!FAddInModule || FConnectionsCount > 0) return S_OK;
        // The module goes whatever happens below; a failure is reported after the clean-up.
        const ScopeExit cleanUp([this]() noexcept {
            // The saved handlers belong to the module's add-in code: they go with it.
            FOnWorkbookActivate = nullptr;
            FOnSheetActivate = nullptr;
            FOnExcelWindowActivate = nullptr;
            FAddInModule.reset();
        });
        FAddInModule->Disconnect(RemoveMode, true);
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE TqvrAddin::OnAddInsUpdate(SAFEARRAY**) { return S_OK; }

// ---- IRibbonExtensibility ----

HRESULT STDMETHODCALLTYPE TqvrAddin::GetCustomUI(BSTR RibbonID, BSTR* RibbonXml) {
    if (!RibbonXml) return E_POINTER;
    *RibbonXml = nullptr;
    return Boundary(L"GetCustomUI", [&] {
        if (!FAddInModule) throw EqvrError(L"The add-in is not connected: there is no ribbon to describe.");
        const std::wstring ribbonId = RibbonID ? std::wstring(RibbonID, SysStringLen(RibbonID)) : std::wstring();
        const std::wstring xml = ribbon_.CustomUI(*FAddInModule, ribbonId);
        *RibbonXml = SysAllocStringLen(xml.data(), static_cast<UINT>(xml.size()));
        if (!*RibbonXml) ThrowIfFailed(E_OUTOFMEMORY);
        return S_OK;
    });
}

// ---- ICustomTaskPaneConsumer ----

HRESULT STDMETHODCALLTYPE TqvrAddin::CTPFactoryAvailable(ICTPFactory* CTPFactoryInst) {
    return Boundary(L"CTPFactoryAvailable", [&] {
        if (FAddInModule) FAddInModule->CTPFactoryAvailable(CTPFactoryInst);
        // Task pane instances would be created here once start-up has run; none are defined.
        return S_OK;
    });
}

// ---- IProvideClassInfo, ISupportErrorInfo ----

HRESULT STDMETHODCALLTYPE TqvrAddin::GetClassInfo(ITypeInfo** info) {
    if (!info) return E_POINTER;
    ComPtr<ITypeInfo> classInfo = factory_.ClassInfo();
    *info = classInfo.Detach();
    return *info ? S_OK : E_UNEXPECTED;
}

HRESULT STDMETHODCALLTYPE TqvrAddin::InterfaceSupportsErrorInfo(REFIID riid) {
    return TryQuery<IUnknown>(Identity(), riid) ? S_OK : S_FALSE;
}

// ---- IExtensionEvent ----

HRESULT STDMETHODCALLTYPE TqvrAddin::ExtensionEvent(const wchar_t* key, int i1, int i2, int i3, const wchar_t* s1,
                                                    const wchar_t* s2, const wchar_t* s3) {
    return Boundary(L"ExtensionEvent", [&] {
        auto text = [](const wchar_t* s) { return std::wstring(s ? s : L""); };
        if (FAddInModule) FAddInModule->ExtensionEvent(text(key), i1, i2, i3, text(s1), text(s2), text(s3));
        return S_OK;
    });
}

}  // namespace qvr
