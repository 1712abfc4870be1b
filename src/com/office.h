// Office's add-in, ribbon and task pane interfaces, declared from their published IIDs and
// member order (mingw-w64 ships none of them). Excel itself is reached through IDispatch with
// its published dispatch ids; only the IIDs by which Excel is recognised are declared here.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>


namespace qvr::office {

enum ext_ConnectMode : LONG {
    ext_cm_AfterStartup = 0,
    ext_cm_Startup = 1,
    ext_cm_External = 2,
    ext_cm_CommandLine = 3,
};

enum ext_DisconnectMode : LONG {
    ext_dm_HostShutdown = 0,
    ext_dm_UserClosed = 1,
};

}  // namespace qvr::office

struct IRibbonUI;
struct ICTPFactory;

// {B65AD801-ABAF-11D0-BB8B-00A0C90F2744}
struct IDTExtensibility2;
__CRT_UUID_DECL(IDTExtensibility2, 0xB65AD801, 0xABAF, 0x11D0, 0xBB, 0x8B, 0x00, 0xA0, 0xC9, 0x0F, 0x27, 0x44)
struct IDTExtensibility2 : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE OnConnection(IDispatch* Application, LONG ConnectMode, IDispatch* AddInInst,
                                                   SAFEARRAY** custom) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnDisconnection(LONG RemoveMode, SAFEARRAY** custom) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnAddInsUpdate(SAFEARRAY** custom) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnStartupComplete(SAFEARRAY** custom) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnBeginShutdown(SAFEARRAY** custom) = 0;
};

// {000C0396-0000-0000-C000-000000000046}
struct IRibbonExtensibility;
__CRT_UUID_DECL(IRibbonExtensibility, 0x000C0396, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
struct IRibbonExtensibility : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE GetCustomUI(BSTR RibbonID, BSTR* RibbonXml) = 0;
};

// {000C03A7-0000-0000-C000-000000000046}; slots 9 to 12 exist from Office 2010 on.
__CRT_UUID_DECL(IRibbonUI, 0x000C03A7, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
struct IRibbonUI : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE Invalidate() = 0;
    virtual HRESULT STDMETHODCALLTYPE InvalidateControl(BSTR ControlID) = 0;
    virtual HRESULT STDMETHODCALLTYPE InvalidateControlMso(BSTR ControlID) = 0;
    virtual HRESULT STDMETHODCALLTYPE ActivateTab(BSTR ControlID) = 0;
    virtual HRESULT STDMETHODCALLTYPE ActivateTabMso(BSTR ControlID) = 0;
    virtual HRESULT STDMETHODCALLTYPE ActivateTabQ(BSTR ControlID, BSTR Namespace) = 0;
};

// {000C0395-0000-0000-C000-000000000046}
struct IRibbonControl;
__CRT_UUID_DECL(IRibbonControl, 0x000C0395, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
struct IRibbonControl : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_Id(BSTR* RHS) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Context(IDispatch** RHS) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Tag(BSTR* RHS) = 0;
};

// {000C033B-0000-0000-C000-000000000046}; only passed around, never called by the add-in.
struct _CustomTaskPane;
__CRT_UUID_DECL(_CustomTaskPane, 0x000C033B, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
struct _CustomTaskPane : public IDispatch {};

// {000C033D-0000-0000-C000-000000000046}
__CRT_UUID_DECL(ICTPFactory, 0x000C033D, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
struct ICTPFactory : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE CreateCTP(BSTR CTPAxID, BSTR CTPTitle, VARIANT CTPParentWindow,
                                                _CustomTaskPane** CTPInst) = 0;
};

// {000C033E-0000-0000-C000-000000000046}
struct ICustomTaskPaneConsumer;
__CRT_UUID_DECL(ICustomTaskPaneConsumer, 0x000C033E, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
struct ICustomTaskPaneConsumer : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE CTPFactoryAvailable(ICTPFactory* CTPFactoryInst) = 0;
};

// {000C0300-0000-0000-C000-000000000046}: base of Office's dispatch objects.
struct _IMsoDispObj;
__CRT_UUID_DECL(_IMsoDispObj, 0x000C0300, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
struct _IMsoDispObj : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_Application(IDispatch** ppidisp) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Creator(LONG* plCreator) = 0;
};

// {000C033A-0000-0000-C000-000000000046}
struct COMAddIn;
__CRT_UUID_DECL(COMAddIn, 0x000C033A, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
struct COMAddIn : public _IMsoDispObj {
    virtual HRESULT STDMETHODCALLTYPE get_Description(BSTR* RetValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Description(BSTR RetValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ProgId(BSTR* RetValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Guid(BSTR* RetValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Connect(VARIANT_BOOL* RetValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Connect(VARIANT_BOOL RetValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Object(IDispatch** RetValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Object(IDispatch* RetValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Parent(IDispatch** RetValue) = 0;
};

// {000C0302-0000-0000-C000-000000000046}: members are not used by this add-in.
struct _CommandBars;
__CRT_UUID_DECL(_CommandBars, 0x000C0302, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
struct _CommandBars : public _IMsoDispObj {};

// Excel's application interface {000208D5-0000-0000-C000-000000000046}. Excel is called through
// IDispatch; the type exists so that QueryInterface can recognise Excel.
struct ExcelApplication;
__CRT_UUID_DECL(ExcelApplication, 0x000208D5, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
struct ExcelApplication : public IDispatch {};

// The other Excel interfaces the add-in names. Only their identity matters: the add-in calls them
// through IDispatch, so none declares vtable members of its own. An automation object is turned
// into one of them by QueryInterface for its IID (office-interfaces.md section 2.1).

// _Workbook {000208DA-0000-0000-C000-000000000046}
struct ExcelWorkbook;
__CRT_UUID_DECL(ExcelWorkbook, 0x000208DA, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
struct ExcelWorkbook : public IDispatch {};
// Workbooks {000208DB-0000-0000-C000-000000000046}
struct ExcelWorkbooks;
__CRT_UUID_DECL(ExcelWorkbooks, 0x000208DB, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
struct ExcelWorkbooks : public IDispatch {};
// Window {00020893-0000-0000-C000-000000000046}, a pure dispinterface
struct ExcelWindow;
__CRT_UUID_DECL(ExcelWindow, 0x00020893, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
struct ExcelWindow : public IDispatch {};
// Range {00020846-0000-0000-C000-000000000046}
struct ExcelRange;
__CRT_UUID_DECL(ExcelRange, 0x00020846, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
struct ExcelRange : public IDispatch {};
// Hyperlink {00024431-0000-0000-C000-000000000046}
struct ExcelHyperlink;
__CRT_UUID_DECL(ExcelHyperlink, 0x00024431, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
struct ExcelHyperlink : public IDispatch {};
// PivotTable {00020872-0000-0000-C000-000000000046}
struct ExcelPivotTable;
__CRT_UUID_DECL(ExcelPivotTable, 0x00020872, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
struct ExcelPivotTable : public IDispatch {};
// _Chart {000208D6-0000-0000-C000-000000000046}
struct ExcelChart;
__CRT_UUID_DECL(ExcelChart, 0x000208D6, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
struct ExcelChart : public IDispatch {};

namespace qvr::office {

// Excel's application event source and the Application coclass.
inline constexpr GUID DIID_AppEvents = {0x00024413, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr GUID CLSID_ExcelApplication = {0x00024500, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr GUID IID_ExcelWorkbook = {0x000208DA, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr GUID DIID_ExcelWindow = {0x00020893, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

}  // namespace qvr::office
