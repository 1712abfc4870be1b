// Excel as the add-in sees it: Excel's dispatch ids, the server data record of Excel's
// application family, Excel's application events, and the module's Excel application wrapper
// `TExcelApplication` (`ExcelApp`). Excel's interface types are in com/office.h.
//
// Excel is reached through IDispatch with its published dispatch ids, the locale travelling in
// Invoke's own lcid argument. This header is the one place that knows those ids.
#pragma once

#include "com/component.h"
#include "com/error.h"
#include "com/handles.h"
#include "com/office.h"

#include <wrl/client.h>

#include <functional>
#include <span>
#include <string>

namespace qvr {

class TObject;
class TqvrEventDispatch;

// What an event sink delivers to: a host-event component or the Excel application object.
class IqvrEventServer {
public:
    // The events interface the sink answers while it has its server.
    virtual const GUID& EventIID() const = 0;
    // The sink's references are counted on its server too.
    virtual void EventAddRef() = 0;
    virtual void EventRelease() = 0;
    // Calls the handler of one event, arguments in declaration order; a handler may write the
    // by-reference arguments. May raise.
    virtual void FireEvent(DISPID DispID, std::span<VARIANT> Params) = 0;
    // Called inside the sink's catch block when FireEvent raised.
    virtual void EventFailed() noexcept = 0;

protected:
    ~IqvrEventServer() = default;
};

// Excel's dispatch ids used by the add-in (office-interfaces.md section 2.2).
namespace xldisp {
inline constexpr DISPID Application = 148;
inline constexpr DISPID ActiveWindow = 759;
inline constexpr DISPID ActiveWorkbook = 308;
inline constexpr DISPID CommandBars = 1439;
inline constexpr DISPID Workbooks = 572;
inline constexpr DISPID Quit = 302;
inline constexpr DISPID Version = 392;
inline constexpr DISPID Close = 277;
inline constexpr DISPID FullName = 289;
inline constexpr DISPID Name = 110;
inline constexpr DISPID SaveCopyAs = 175;
}  // namespace xldisp

// Server data record: one per host interface family, shared by every object that binds to it.
struct TServerData {
    GUID ClassID;        // the application's class
    GUID IntfIID;        // its application interface
    GUID EventIID;       // its application events interface
    int Version;
    int InstanceCount;   // live objects using the record
};

// Excel's record: Application class, _Application, AppEvents, version 500.
TServerData& ExcelApplicationServerData();

// ---- Excel's application events ------------------------------------------------------------
// One row per event: X(name, (arguments after the sender), dispatch ids...). Four events answer
// to two ids. The first 21 rows are also the event properties of TExcelApplication. `Cancel` is
// Excel's by-reference 16-bit Boolean; enumerations are 32-bit integers.
#define QVR_EXCEL_APP_EVENTS_21(X)                                                                                   \
    X(WindowResize, (ExcelWorkbook* Wb, ExcelWindow* Wn), 1554)                                                      \
    X(WindowActivate, (ExcelWorkbook* Wb, ExcelWindow* Wn), 1556)                                                    \
    X(WindowDeactivate, (ExcelWorkbook* Wb, ExcelWindow* Wn), 1557)                                                  \
    X(SheetSelectionChange, (IDispatch* Sh, ExcelRange* Target), 1558)                                               \
    X(SheetBeforeDoubleClick, (IDispatch* Sh, ExcelRange* Target, VARIANT_BOOL& Cancel), 1559)                       \
    X(SheetBeforeRightClick, (IDispatch* Sh, ExcelRange* Target, VARIANT_BOOL& Cancel), 1560)                        \
    X(SheetActivate, (IDispatch* Sh), 1561)                                                                          \
    X(SheetDeactivate, (IDispatch* Sh), 1562)                                                                        \
    X(SheetCalculate, (IDispatch* Sh), 1563)                                                                         \
    X(SheetChange, (IDispatch* Sh, ExcelRange* Target), 1564)                                                        \
    X(NewWorkbook, (ExcelWorkbook* Wb), 1565)                                                                        \
    X(WorkbookOpen, (ExcelWorkbook* Wb), 1567)                                                                       \
    X(WorkbookActivate, (ExcelWorkbook* Wb), 1568)                                                                   \
    X(WorkbookDeactivate, (ExcelWorkbook* Wb), 1569)                                                                 \
    X(WorkbookBeforeClose, (ExcelWorkbook* Wb, VARIANT_BOOL& Cancel), 1570)                                          \
    X(WorkbookBeforeSave, (ExcelWorkbook* Wb, bool SaveAsUI, VARIANT_BOOL& Cancel), 1571)                            \
    X(WorkbookBeforePrint, (ExcelWorkbook* Wb, VARIANT_BOOL& Cancel), 1572)                                          \
    X(WorkbookNewSheet, (ExcelWorkbook* Wb, IDispatch* Sh), 1573)                                                    \
    X(WorkbookAddinInstall, (ExcelWorkbook* Wb), 1574)                                                               \
    X(WorkbookAddinUninstall, (ExcelWorkbook* Wb), 1575)                                                             \
    X(SheetFollowHyperlink, (IDispatch* Sh, ExcelHyperlink* Target), 1854)

#define QVR_EXCEL_APP_EVENTS_MORE(X)                                                                                 \
    X(SheetPivotTableUpdate, (IDispatch* Sh, ExcelPivotTable* Target), 2157)                                         \
    X(WorkbookPivotTableCloseConnection, (ExcelWorkbook* Wb, ExcelPivotTable* Target), 2160)                         \
    X(WorkbookPivotTableOpenConnection, (ExcelWorkbook* Wb, ExcelPivotTable* Target), 2161)                          \
    X(WorkbookSync, (ExcelWorkbook* Wb, LONG SyncEventType), 2289)                                                   \
    X(WorkbookBeforeXmlImport,                                                                                       \
      (ExcelWorkbook* Wb, IDispatch* Map, const std::wstring& Url, bool IsRefresh, VARIANT_BOOL& Cancel),            \
      2290)                                                                                                          \
    X(WorkbookAfterXmlImport, (ExcelWorkbook* Wb, IDispatch* Map, bool IsRefresh, LONG Result), 2291)                \
    X(WorkbookBeforeXmlExport, (ExcelWorkbook* Wb, IDispatch* Map, const std::wstring& Url,                          \
                                VARIANT_BOOL& Cancel), 2292)                                                         \
    X(WorkbookAfterXmlExport, (ExcelWorkbook* Wb, IDispatch* Map, const std::wstring& Url, LONG Result),             \
      2293)                                                                                                          \
    X(WorkbookRowsetComplete, (ExcelWorkbook* Wb, const std::wstring& Description,                                   \
                               const std::wstring& Sheet, bool Success), 2611)                                       \
    X(AfterCalculate, (), 2612)                                                                                      \
    X(SheetPivotTableAfterValueChange, (IDispatch* Sh, ExcelPivotTable* TargetPivotTable,                            \
                                        ExcelRange* TargetRange), 2895)                                              \
    X(SheetPivotTableBeforeAllocateChanges, (IDispatch* Sh, ExcelPivotTable* TargetPivotTable,                       \
                                             LONG ValueChangeStart, LONG ValueChangeEnd, VARIANT_BOOL& Cancel),      \
      2896)                                                                                                          \
    X(SheetPivotTableBeforeCommitChanges, (IDispatch* Sh, ExcelPivotTable* TargetPivotTable,                         \
                                           LONG ValueChangeStart, LONG ValueChangeEnd, VARIANT_BOOL& Cancel),        \
      2897)                                                                                                          \
    X(SheetPivotTableBeforeDiscardChanges, (IDispatch* Sh, ExcelPivotTable* TargetPivotTable,                        \
                                            LONG ValueChangeStart, LONG ValueChangeEnd), 2898)                       \
    X(ProtectedViewWindowOpen, (IDispatch* Pvw), 2903)                                                               \
    X(ProtectedViewWindowBeforeEdit, (IDispatch* Pvw, VARIANT_BOOL& Cancel), 2905)                                   \
    X(ProtectedViewWindowBeforeClose, (IDispatch* Pvw, LONG Reason, VARIANT_BOOL& Cancel), 2906)                     \
    X(ProtectedViewWindowResize, (IDispatch* Pvw), 2908)                                                             \
    X(ProtectedViewWindowActivate, (IDispatch* Pvw), 2909)                                                           \
    X(ProtectedViewWindowDeactivate, (IDispatch* Pvw), 2910)                                                         \
    X(WorkbookAfterSave, (ExcelWorkbook* Wb, bool Success), 2911)                                                    \
    X(WorkbookNewChart, (ExcelWorkbook* Wb, ExcelChart* Ch), 2912)                                                   \
    X(SheetLensGalleryRenderComplete, (IDispatch* Sh), 3073, 3075)                                                   \
    X(SheetTableUpdate, (IDispatch* Sh, IDispatch* Target), 3074, 3076)                                              \
    X(SheetBeforeDelete, (IDispatch* Sh), 3077, 3079)                                                                \
    X(WorkbookModelChange, (ExcelWorkbook* Wb, IDispatch* Changes), 3078, 3080)

#define QVR_EXCEL_APP_EVENTS(X) QVR_EXCEL_APP_EVENTS_21(X) QVR_EXCEL_APP_EVENTS_MORE(X)

// The handler type of each event: TExcel<name>Event = void(TObject* Sender, arguments...).
#define QVR_WITH_SENDER(...) (TObject* Sender __VA_OPT__(, ) __VA_ARGS__)
#define QVR_EXCEL_EVENT_TYPE(event, params, ...) \
    using TExcel##event##Event = std::function<void QVR_WITH_SENDER params>;
QVR_EXCEL_APP_EVENTS(QVR_EXCEL_EVENT_TYPE)
#undef QVR_EXCEL_EVENT_TYPE

// ---- Operations of Excel's object model, through IDispatch ----------------------------------
// A failure HRESULT raises an OLE error carrying that code. An object property that yields no
// object gives a null pointer; an object of the wrong kind raises E_NOINTERFACE.
namespace xl {
// _Application
Microsoft::WRL::ComPtr<ExcelWindow> ActiveWindow(IDispatch* application);
Microsoft::WRL::ComPtr<ExcelWorkbook> ActiveWorkbook(IDispatch* application);
Microsoft::WRL::ComPtr<ExcelWorkbooks> Workbooks(IDispatch* application);
void Quit(IDispatch* application);
std::wstring Version(IDispatch* application, LCID lcid);
// The Application property (148) of any Excel object, late bound, as an IDispatch.
Microsoft::WRL::ComPtr<IDispatch> Application(IDispatch* object);
// _Workbook
std::wstring FullName(IDispatch* workbook, LCID lcid);
void SaveCopyAs(IDispatch* workbook, const VARIANT& Filename, LCID lcid);
void Close(IDispatch* workbook, const VARIANT& SaveChanges, const VARIANT& Filename, const VARIANT& RouteWorkbook,
           LCID lcid);
}  // namespace xl

// ---- The Excel application object ---------------------------------------------------------

enum TConnectKind : uint8_t { ckRunningOrNew, ckNewInstance, ckRunningInstance, ckRemote, ckAttachToInterface };

class TExcelApplication : public TComponent, public IqvrEventServer {
public:
    explicit TExcelApplication(TComponent* owner);
    ~TExcelApplication() override;
    std::wstring ClassName() const override { return L"TExcelApplication"; }

    // Binds to the given Excel instance (its _Application) and subscribes the event sink.
    void ConnectTo(IDispatch* svrIntf);
    // Obtains Excel according to ConnectKind and binds to it (what every use does when the
    // object is not connected).
    void Connect();
    // Unsubscribes, quits Excel when AutoQuit is set, releases Excel. Nothing when not connected.
    void Disconnect();
    bool Connected() const { return FIntf != nullptr; }
    // The connected _Application, connecting first when needed.
    IDispatch* DefaultInterface();

    bool AutoQuit = false;
    TConnectKind ConnectKind = ckRunningOrNew;
    bool AutoConnect = false;
    std::wstring RemoteMachineName;

    // The 21 event properties.
#define QVR_EXCEL_EVENT_PROPERTY(event, params, ...) TExcel##event##Event On##event;
    QVR_EXCEL_APP_EVENTS_21(QVR_EXCEL_EVENT_PROPERTY)
#undef QVR_EXCEL_EVENT_PROPERTY

    // Typed operations of the object model the add-in uses; each connects first when not connected.
    Microsoft::WRL::ComPtr<ExcelWindow> ActiveWindow();
    Microsoft::WRL::ComPtr<ExcelWorkbook> ActiveWorkbook();
    Microsoft::WRL::ComPtr<ExcelWorkbooks> Workbooks();
    void Quit();
    std::wstring Version(LCID lcid = LOCALE_USER_DEFAULT);

    // The server data record and the event sink (tests and the sink's own use).
    const TServerData& ServerData() const { return *FServerData; }
    TqvrEventDispatch* EventSink() const;
    DWORD EventsConnection() const { return FEventsConnection; }
    // The sink's references as counted on this object.
    ULONG RefCount() const { return FRefCount; }

    // Delivers one event to its property (arguments in declaration order). An error the handler
    // raises, or an argument that cannot be converted for it, goes to the error report (when one
    // is set), except for the three activation events, whose relays report their own; Excel is
    // told success either way.
    void FireEvent(DISPID DispID, std::span<VARIANT> Params) override;

    // IqvrEventServer
    const GUID& EventIID() const override { return FServerData->EventIID; }
    void EventAddRef() override { ++FRefCount; }
    void EventRelease() override { --FRefCount; }
    // FireEvent lets no error through.
    void EventFailed() noexcept override {}
    // Where event errors are reported: the add-in module that holds this object sets its own.
    void SetErrorReport(std::function<void(const EqvrError&)> report) { FErrorReport = std::move(report); }

    // Connects at the end of loading when AutoConnect is set.
    void Loaded() override;

private:
    void DeliverEvent(DISPID DispID, std::span<VARIANT> Params);

    TServerData* FServerData;
    Microsoft::WRL::ComPtr<IDispatch> FIntf;  // Excel's _Application
    Microsoft::WRL::ComPtr<TqvrEventDispatch> FEventDispatch;
    DWORD FEventsConnection = 0;
    ULONG FRefCount = 0;
    std::function<void(const EqvrError&)> FErrorReport;
};

}  // namespace qvr
