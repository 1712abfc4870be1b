#include "module/excel_app.h"

#include "com/dispatch.h"
#include "com/error.h"
#include "com/query.h"
#include "module/excel_events.h"

using Microsoft::WRL::ComPtr;

namespace qvr {

TServerData& ExcelApplicationServerData() {
    static TServerData data{office::CLSID_ExcelApplication, __uuidof(ExcelApplication), office::DIID_AppEvents, 500, 0};
    return data;
}

// ---- Operations of Excel's object model ------------------------------------------------------

namespace xl {

namespace {

// The object a property returned, as the typed interface I: null for no object, E_NOINTERFACE
// raised for an object of another kind.
template <typename I>
ComPtr<I> ObjectAs(const unique_variant& v) {
    ComPtr<I> typed;
    *typed.GetAddressOf() = static_cast<I*>(event_args::TypedOf(&v, __uuidof(I)));  // takes its reference
    return typed;
}

std::wstring TextOf(const unique_variant& v) { return event_args::TextOf(&v); }

unique_variant Get(IDispatch* object, DISPID id, LCID lcid = LOCALE_USER_DEFAULT) {
    return qvr::Invoke(object, id, DISPATCH_PROPERTYGET, lcid);
}

}  // namespace

ComPtr<ExcelWindow> ActiveWindow(IDispatch* application) {
    return ObjectAs<ExcelWindow>(Get(application, xldisp::ActiveWindow));
}

ComPtr<ExcelWorkbook> ActiveWorkbook(IDispatch* application) {
    return ObjectAs<ExcelWorkbook>(Get(application, xldisp::ActiveWorkbook));
}

ComPtr<ExcelWorkbooks> Workbooks(IDispatch* application) {
    return ObjectAs<ExcelWorkbooks>(Get(application, xldisp::Workbooks));
}

void Quit(IDispatch* application) { qvr::Invoke(application, xldisp::Quit, DISPATCH_METHOD); }

std::wstring Version(IDispatch* application, LCID lcid) { return TextOf(Get(application, xldisp::Version, lcid)); }

ComPtr<IDispatch> Application(IDispatch* object) {
    unique_variant v = Get(object, xldisp::Application);
    ComPtr<IDispatch> holder;
    IDispatch* application = event_args::DispatchOf(&v, holder);
    return ComPtr<IDispatch>(application);
}

std::wstring FullName(IDispatch* workbook, LCID lcid) { return TextOf(Get(workbook, xldisp::FullName, lcid)); }

void SaveCopyAs(IDispatch* workbook, const VARIANT& Filename, LCID lcid) {
    qvr::Invoke(workbook, xldisp::SaveCopyAs, DISPATCH_METHOD, lcid, {&Filename});
}

void Close(IDispatch* workbook, const VARIANT& SaveChanges, const VARIANT& Filename, const VARIANT& RouteWorkbook,
           LCID lcid) {
    qvr::Invoke(workbook, xldisp::Close, DISPATCH_METHOD, lcid, {&SaveChanges, &Filename, &RouteWorkbook});
}

}  // namespace xl

// ---- The Excel application object ----------------------------------------------------------

TExcelApplication::TExcelApplication(TComponent* owner)
    : TComponent(owner), FServerData(&ExcelApplicationServerData()) {
    ++FServerData->InstanceCount;
    FEventDispatch = TqvrEventDispatch::Create(this);
}

TExcelApplication::~TExcelApplication() {
    try {
        Disconnect();
    } catch (...) {
        // Only AutoQuit's Quit can fail here; Excel is released all the same.
        RecordDroppedError(L"excel");
    }
    FEventDispatch->Detach();
    FEventDispatch.Reset();
    --FServerData->InstanceCount;
}

TqvrEventDispatch* TExcelApplication::EventSink() const { return FEventDispatch.Get(); }

void TExcelApplication::ConnectTo(IDispatch* svrIntf) {
    Disconnect();
    FIntf = svrIntf;
    FEventsConnection = SubscribeEvents(FIntf.Get(), FServerData->EventIID, FEventDispatch.Get());
}

void TExcelApplication::Disconnect() {
    if (!FIntf) return;
    UnsubscribeEvents(FIntf.Get(), FServerData->EventIID, FEventsConnection);
    // Not connected from here on; the reference goes when `app` does, after an AutoQuit.
    ComPtr<IDispatch> app = std::move(FIntf);
    if (AutoQuit) xl::Quit(app.Get());
}

void TExcelApplication::Connect() {
    if (FIntf) return;
    const CLSID& clsid = FServerData->ClassID;
    constexpr DWORD kContext = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER;
    ComPtr<IUnknown> server;
    switch (ConnectKind) {
        case ckRunningOrNew:
            if (SUCCEEDED(GetActiveObject(clsid, nullptr, server.GetAddressOf())) && server) break;
            ThrowIfFailed(CoCreateInstance(clsid, nullptr, kContext, IID_IUnknown,
                                           reinterpret_cast<void**>(server.ReleaseAndGetAddressOf())));
            break;
        case ckNewInstance:
            ThrowIfFailed(CoCreateInstance(clsid, nullptr, kContext, IID_IUnknown,
                                           reinterpret_cast<void**>(server.GetAddressOf())));
            break;
        case ckRunningInstance:
            ThrowIfFailed(GetActiveObject(clsid, nullptr, server.GetAddressOf()));
            break;
        case ckRemote: {
            COSERVERINFO info{0, RemoteMachineName.data(), nullptr, 0};
            MULTI_QI result{&IID_IUnknown, nullptr, S_OK};
            ThrowIfFailed(
                CoCreateInstanceEx(clsid, nullptr, CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER, &info, 1, &result));
            *server.GetAddressOf() = result.pItf;  // takes the reference CoCreateInstanceEx gave
            ThrowIfFailed(result.hr);
            break;
        }
        case ckAttachToInterface:
            break;
    }
    if (!server)
        RaiseOleError(E_POINTER, L"The Excel application object is not connected to Excel; call ConnectTo first.");
    ConnectTo(Query<ExcelApplication>(server.Get(), FServerData->IntfIID).Get());
}

IDispatch* TExcelApplication::DefaultInterface() {
    if (!FIntf) Connect();
    return FIntf.Get();
}

void TExcelApplication::Loaded() {
    if (AutoConnect && !DesignMode()) Connect();
}

ComPtr<ExcelWindow> TExcelApplication::ActiveWindow() { return xl::ActiveWindow(DefaultInterface()); }

ComPtr<ExcelWorkbook> TExcelApplication::ActiveWorkbook() { return xl::ActiveWorkbook(DefaultInterface()); }

ComPtr<ExcelWorkbooks> TExcelApplication::Workbooks() { return xl::Workbooks(DefaultInterface()); }

void TExcelApplication::Quit() { xl::Quit(DefaultInterface()); }

std::wstring TExcelApplication::Version(LCID lcid) { return xl::Version(DefaultInterface(), lcid); }

void TExcelApplication::FireEvent(DISPID DispID, std::span<VARIANT> Params) {
    try {
        DeliverEvent(DispID, Params);
    } catch (...) {
        // The connection object's relays of the three activation events report the errors of
        // the handlers they call; everything else is reported here, like any handler's error.
        constexpr DISPID kWindowActivate = 1556, kSheetActivate = 1561, kWorkbookActivate = 1568;
        const bool relayed = DispID == kWindowActivate || DispID == kSheetActivate || DispID == kWorkbookActivate;
        if (FErrorReport && !relayed) FErrorReport(CurrentError());
    }
}

void TExcelApplication::DeliverEvent(DISPID DispID, std::span<VARIANT> Params) {
    switch (DispID) {
#define QVR_DELIVER(event, params, ...)                \
    QVR_EVENT_CASES(__VA_ARGS__)                      \
        return DeliverTyped(On##event, this, Params);
        QVR_EXCEL_APP_EVENTS_21(QVR_DELIVER)
#undef QVR_DELIVER
        default:
            return;  // Excel's other events have no property here
    }
}

}  // namespace qvr
