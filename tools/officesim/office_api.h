// Office's and Excel's interfaces as the stand-in plays them, declared here from the published
// type-library facts (IIDs, member order, parameters) and never taken from the add-in's own
// declarations: a member out of place on the add-in's side must show up as a failing call between
// the two, not be repeated on both sides. tests/interfaces checks both sides against the published
// slot numbers.
#pragma once

#include <windows.h>
#include <oaidl.h>

namespace officesim::mso {

// Office's add-in interface (Add-In Designer type library, _IDTExtensibility2), slots 7 to 11.
struct IDTExtensibility2 : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE OnConnection(IDispatch* Application, LONG ConnectMode, IDispatch* AddInInst,
                                                   SAFEARRAY** custom) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnDisconnection(LONG RemoveMode, SAFEARRAY** custom) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnAddInsUpdate(SAFEARRAY** custom) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnStartupComplete(SAFEARRAY** custom) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnBeginShutdown(SAFEARRAY** custom) = 0;
};

// Office's ribbon interfaces (Office type library).
struct IRibbonExtensibility : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE GetCustomUI(BSTR RibbonID, BSTR* RibbonXml) = 0;  // slot 7
};

// Slots 7 and 8 since Office 2007; 9 to 12 since Office 2010.
struct IRibbonUI : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE Invalidate() = 0;
    virtual HRESULT STDMETHODCALLTYPE InvalidateControl(BSTR ControlID) = 0;
    virtual HRESULT STDMETHODCALLTYPE InvalidateControlMso(BSTR ControlID) = 0;
    virtual HRESULT STDMETHODCALLTYPE ActivateTab(BSTR ControlID) = 0;
    virtual HRESULT STDMETHODCALLTYPE ActivateTabMso(BSTR ControlID) = 0;
    virtual HRESULT STDMETHODCALLTYPE ActivateTabQ(BSTR ControlID, BSTR Namespace) = 0;
};

struct IRibbonControl : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_Id(BSTR* Id) = 0;               // slot 7
    virtual HRESULT STDMETHODCALLTYPE get_Context(IDispatch** Context) = 0;  // slot 8
    virtual HRESULT STDMETHODCALLTYPE get_Tag(BSTR* Tag) = 0;             // slot 9
};

// The base of Office's dispatch objects: slots 7 and 8.
struct IMsoDispObj : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_Application(IDispatch** Application) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Creator(LONG* Creator) = 0;
};

// An add-in in Office's COM add-ins list: slots 9 to 17.
struct COMAddIn : public IMsoDispObj {
    virtual HRESULT STDMETHODCALLTYPE get_Description(BSTR* Description) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Description(BSTR Description) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ProgId(BSTR* ProgId) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Guid(BSTR* Guid) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Connect(VARIANT_BOOL* Connect) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Connect(VARIANT_BOOL Connect) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Object(IDispatch** Object) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Object(IDispatch* Object) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Parent(IDispatch** Parent) = 0;
};

// Excel's _Application. The stand-in answers Excel's members through IDispatch only (the add-in
// calls them late bound); the interface is declared for its identity.
struct ExcelApplication : public IDispatch {};

// Excel's class, event source and the interfaces it is recognised by.
inline constexpr CLSID CLSID_ExcelApplication = {0x00024500, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID DIID_AppEvents = {0x00024413, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_Workbook = {0x000208DA, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID DIID_Window = {0x00020893, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

}  // namespace officesim::mso

__CRT_UUID_DECL(officesim::mso::IDTExtensibility2, 0xB65AD801, 0xABAF, 0x11D0, 0xBB, 0x8B, 0x00, 0xA0, 0xC9, 0x0F, 0x27, 0x44)
__CRT_UUID_DECL(officesim::mso::IRibbonExtensibility, 0x000C0396, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
__CRT_UUID_DECL(officesim::mso::IRibbonUI, 0x000C03A7, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
__CRT_UUID_DECL(officesim::mso::IRibbonControl, 0x000C0395, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
__CRT_UUID_DECL(officesim::mso::IMsoDispObj, 0x000C0300, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
__CRT_UUID_DECL(officesim::mso::COMAddIn, 0x000C033A, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
__CRT_UUID_DECL(officesim::mso::ExcelApplication, 0x000208D5, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
