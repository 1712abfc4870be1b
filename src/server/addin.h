// The connection object that Office creates: IDTExtensibility2 drives the add-in module's life,
// IRibbonExtensibility hands out the ribbon markup, and IDispatch carries the ribbon callbacks.
#pragma once

#include "com/office.h"
#include "module/excel_app.h"
#include "module/module.h"
#include "module/ribbon_host.h"

#include <oaidl.h>
#include <ocidl.h>

#include <atomic>
#include <memory>
#include <string>

// The framework's in-process extension interface {7175D144-097E-4CB1-B3BD-9CA72BC05BD6}.
struct IExtensionEvent;
__CRT_UUID_DECL(IExtensionEvent, 0x7175D144, 0x097E, 0x4CB1, 0xB3, 0xBD, 0x9C, 0xA7, 0x2B, 0xC0, 0x5B, 0xD6)
struct IExtensionEvent : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE ExtensionEvent(const wchar_t* key, int i1, int i2, int i3, const wchar_t* s1,
                                                     const wchar_t* s2, const wchar_t* s3) = 0;
};

namespace qvr {

class TqvrFactory;

// Excel activation handlers the connection object chains to.
class TqvrAddin : public IDTExtensibility2,
                  public IRibbonExtensibility,
                  public ICustomTaskPaneConsumer,
                  public IProvideClassInfo,
                  public ISupportErrorInfo,
                  public IExtensionEvent {
public:
    // `ribbon` answers the ribbon's markup and callbacks (the add-in wires its ribbon layer in).
    TqvrAddin(TqvrFactory& factory, const IqvrRibbonHost& ribbon);
    TqvrAddin(const TqvrAddin&) = delete;
    TqvrAddin& operator=(const TqvrAddin&) = delete;
    virtual ~TqvrAddin();

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    LONG RefCount() const { return refCount_.load(); }

    // IDispatch (shared by every dual interface of the object)
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* excep, UINT* argErr) override;

    // IDTExtensibility2
    HRESULT STDMETHODCALLTYPE OnConnection(IDispatch* Application, LONG ConnectMode, IDispatch* AddInInst,
                                           SAFEARRAY** custom) override;
    HRESULT STDMETHODCALLTYPE OnDisconnection(LONG RemoveMode, SAFEARRAY** custom) override;
    HRESULT STDMETHODCALLTYPE OnAddInsUpdate(SAFEARRAY** custom) override;
    HRESULT STDMETHODCALLTYPE OnStartupComplete(SAFEARRAY** custom) override;
    HRESULT STDMETHODCALLTYPE OnBeginShutdown(SAFEARRAY** custom) override;

    // IRibbonExtensibility
    HRESULT STDMETHODCALLTYPE GetCustomUI(BSTR RibbonID, BSTR* RibbonXml) override;

    // ICustomTaskPaneConsumer
    HRESULT STDMETHODCALLTYPE CTPFactoryAvailable(ICTPFactory* CTPFactoryInst) override;

    // IProvideClassInfo
    HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** info) override;

    // ISupportErrorInfo
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override;

    // IExtensionEvent
    HRESULT STDMETHODCALLTYPE ExtensionEvent(const wchar_t* key, int i1, int i2, int i3, const wchar_t* s1,
                                             const wchar_t* s2, const wchar_t* s3) override;

    TqvrCOMAddInModule* COMAddInModule() const { return FAddInModule.get(); }
    TqvrFactory& Factory() const { return factory_; }
    int32_t ConnectionsCount() const { return FConnectionsCount; }

protected:
    // The coclass's own interfaces, asked before the framework's.
    virtual void* QueryOwnInterface(REFIID riid);
    // Runs an operation at the COM boundary of this object.
    template <typename Body>
    HRESULT Boundary(const wchar_t* operation, Body&& body) noexcept;

    // Start-up work that later layers add to: the Excel activation relays (step 14) and the
    // module's hidden windows and hooks (steps 15 to 17).
    virtual void InstallHostEventRelays();
    virtual void CreateWindowsAndHooks();

    void DoStartupComplete(SAFEARRAY** custom);
    void DoBeginShutdown(SAFEARRAY** custom);

    // The Excel event relays (start-up step 14).
    void ExcelWorkbookActivate(TObject* Sender, ExcelWorkbook* Wb);
    void ExcelSheetActivate(TObject* Sender, IDispatch* Sh);
    void ExcelWindowActivate(TObject* Sender, ExcelWorkbook* Wb, ExcelWindow* Wn);

    int32_t FConnectionsCount = 0;
    std::unique_ptr<TqvrCOMAddInModule> FAddInModule;
    // Handlers assigned to ExcelApp's activation events before the relays were installed.
    TExcelWorkbookActivateEvent FOnWorkbookActivate;
    TExcelSheetActivateEvent FOnSheetActivate;
    TExcelWindowActivateEvent FOnExcelWindowActivate;

private:
    IUnknown* Identity() { return static_cast<IDTExtensibility2*>(this); }
    // The dispatch interface's type information, read from the type library at its first use
    // (not at creation: the type library's load would count against Excel's start).
    HRESULT DispatchTypeInfo(ITypeInfo** info);

    TqvrFactory& factory_;
    const IqvrRibbonHost& ribbon_;
    // Made once: every boundary names the class by it, and each ribbon callback would otherwise
    // build it again.
    const std::wstring progId_;
    std::atomic<ITypeInfo*> typeInfo_{nullptr};
    std::atomic<LONG> refCount_{1};  // the creator's reference
};

}  // namespace qvr
