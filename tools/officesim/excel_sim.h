// Excel as the stand-in plays it: an application object that answers QueryInterface for
// Excel's application interface and the members of Excel's object model the add-in calls, with
// windows and workbooks opened from real files. Unsaved edits live in memory until SaveCopyAs
// writes them; an open workbook keeps its file open as Excel does; every operation can be made
// to fail.
#pragma once

#include "automation.h"
#include "com_addins.h"
#include "com/handles.h"
#include "office_api.h"
#include "excel_app_events.h"
#include "sim_object.h"
#include "xlsx.h"

#include <functional>
#include <map>
#include <optional>
#include <memory>
#include <string>
#include <vector>

namespace officesim {

// Excel's dispatch ids as the stand-in answers them.
namespace xl {
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
inline constexpr DISPID FileFormat = 0x120;
inline constexpr DISPID ReadOnly = 0x128;
inline constexpr DISPID Hwnd = 1950;
inline constexpr DISPID LanguageSettings = 0x668;
inline constexpr DISPID COMAddIns = 0x704;
// Asked for by name only (scripts and the health check set them before Quit).
inline constexpr DISPID DisplayAlerts = 0x157;
inline constexpr DISPID Visible = 0x22E;

// Excel's class and interface ids (office-interfaces.md section 2.1), for the objects of Excel's
// object model that tests make with AutomationObject.
inline constexpr CLSID CLSID_Application = mso::CLSID_ExcelApplication;
inline constexpr IID IID_Application = {0x000208D5, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID DIID_AppEvents = mso::DIID_AppEvents;
inline constexpr IID IID_Workbook = mso::IID_Workbook;
inline constexpr IID IID_Workbooks = {0x000208DB, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID DIID_Window = mso::DIID_Window;
inline constexpr IID IID_Range = {0x00020846, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_Hyperlink = {0x00024431, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_PivotTable = {0x00020872, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_Chart = {0x000208D6, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
}  // namespace xl

// Excel's file formats (XlFileFormat) as FileFormat answers them.
namespace xlformat {
inline constexpr LONG Workbook = 51;        // .xlsx, the Open XML workbook
inline constexpr LONG MacroWorkbook = 52;   // .xlsm
inline constexpr LONG BinaryWorkbook = 50;  // .xlsb
inline constexpr LONG Excel8 = 56;          // .xls
// The format Excel finds for a file of this name (by its extension); Workbook for others.
LONG ForName(const std::wstring& name);
}  // namespace xlformat

// How one operation fails: with a bare HRESULT, or, when it has a description, the way Excel
// raises its errors: DISP_E_EXCEPTION with EXCEPINFO holding the source "Microsoft Excel", the
// description and the code as scode.
struct ExcelFailure {
    ExcelFailure() = default;
    ExcelFailure(HRESULT c) : code(c) {}  // NOLINT: a bare code reads naturally in tests
    ExcelFailure(HRESULT c, std::wstring text) : code(c), description(std::move(text)) {}
    bool Fails() const { return FAILED(code); }
    // The answer of the failing Invoke, filling `excep` for a described failure.
    HRESULT Raise(EXCEPINFO* excep) const;

    HRESULT code = S_OK;
    std::wstring description;
    std::wstring source = L"Microsoft Excel";
};

// One call the add-in made into Excel: member, locale, kind and arguments in declaration order.
struct ExcelCall {
    std::wstring object;  // "Application", "Window", "Workbook"
    DISPID id;
    LCID lcid;
    WORD flags;
    std::vector<qvr::unique_variant> args;
};

class ExcelApplicationSim;

class WorkbookSim : public SimObject<IDispatch> {
public:
    WorkbookSim(ExcelApplicationSim& app, std::wstring fullName, std::optional<XlsxPackage> package, HANDLE file);
    ~WorkbookSim() override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* excep, UINT* argErr) override;

    const std::wstring& FullName() const { return fullName_; }
    // An unsaved edit: the cell's new text is held in memory only.
    void Edit(const std::string& ref, const std::string& text);
    bool Closed() const { return closed_; }
    bool Saved() const { return saved_; }
    // Opened read-only (as Excel does for a file with the read-only attribute, or when asked to).
    bool ReadOnly() const { return readOnly_; }
    void SetReadOnly(bool value) { readOnly_ = value; }
    // The workbook's format: by the file's extension when opened, Workbook (51) for a new one.
    LONG FileFormat() const { return fileFormat_; }
    void SetFileFormat(LONG value) { fileFormat_ = value; }
    bool HoldsFile() const { return file_ != nullptr; }
    void ReleaseFile();

protected:
    void* QueryExtra(REFIID riid) override;

private:
    ExcelApplicationSim& app_;
    std::wstring fullName_;
    std::optional<XlsxPackage> package_;
    HANDLE file_;
    bool closed_ = false;
    bool saved_ = true;
    bool readOnly_ = false;
    LONG fileFormat_ = xlformat::Workbook;
};

// Excel's window: a pure dispatch interface, reachable through Invoke only.
class WindowSim : public SimObject<IDispatch> {
public:
    explicit WindowSim(ExcelApplicationSim& app) : app_(app) {}
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* excep, UINT* argErr) override;

protected:
    void* QueryExtra(REFIID riid) override;

private:
    ExcelApplicationSim& app_;
};

// Failures a test can inject: how an operation fails (a code of S_OK: it works), and the
// absence of an active window or workbook.
struct ExcelFailures {
    ExcelFailure activeWindow;
    ExcelFailure windowApplication;
    ExcelFailure activeWorkbook;
    ExcelFailure fullName;
    ExcelFailure readOnly;
    ExcelFailure fileFormat;
    ExcelFailure saveCopyAs;
    ExcelFailure close;
    ExcelFailure quit;
    bool noActiveWindow = false;
    bool noActiveWorkbook = false;
};

class ExcelApplicationSim : public SimObject<mso::ExcelApplication> {
public:
    // `version` is what the Version property answers ("16.0").
    explicit ExcelApplicationSim(std::wstring version = L"16.0");
    ~ExcelApplicationSim() override;

    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* excep, UINT* argErr) override;
    // Members asked for by name, as Excel answers English names at any locale: LanguageSettings,
    // COMAddIns, Quit, Version, DisplayAlerts, Visible.
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;

    // Office's user-interface language, as LanguageSettings.LanguageID(msoLanguageIDUI) answers it.
    LANGID uiLanguage = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

    // Opens a workbook file (kept open, as Excel does, until the workbook is closed); null when
    // it cannot be read.
    WorkbookSim* Open(const std::wstring& path);
    // A workbook that was never saved: its full name is the bare title.
    WorkbookSim* NewUntitled(const std::wstring& title);
    WorkbookSim* ActiveWorkbook() const;
    size_t OpenWorkbooks() const;

    const std::vector<ExcelCall>& Calls() const { return calls_; }
    // The calls of one member, in order.
    std::vector<const ExcelCall*> CallsTo(DISPID id) const;
    ExcelFailures failures;
    // Quit was called: the host runs Office's shut-down once the current call has returned,
    // unless the user cancelled that quit.
    int quitCalls = 0;
    bool QuitRequested() const { return quitCalls > cancelledQuits; }
    // The next `cancelQuits` calls of Quit are cancelled by the user (another workbook with
    // unsaved changes asks to be saved and the user chooses Cancel): Quit returns without error,
    // as Excel's does, and Excel keeps running with the add-in loaded.
    int cancelQuits = 0;
    int cancelledQuits = 0;
    // Called when a Quit goes ahead (after it was counted), from inside the Quit call.
    std::function<void()> onQuit;

    // Office's COM add-ins list (Application.COMAddIns), in registry order.
    std::vector<Microsoft::WRL::ComPtr<COMAddInSim>> comAddIns;
    bool displayAlerts = true;
    bool visible = false;

    // Used by the workbook and window objects.
    void Record(const wchar_t* object, DISPID id, LCID lcid, WORD flags, const DISPPARAMS* params);
    void WorkbookClosed(WorkbookSim* book);
    WindowSim* Window() const { return window_.Get(); }

    // ---- what tests script ----
    // A member that answers before the stand-in's own, by dispatch id.
    void On(DISPID id, AutomationObject::Member member) { scripted_[id] = std::move(member); }
    void Property(DISPID id, const Var& value);
    // The next call of `id` fails with `hr`.
    void FailNext(DISPID id, HRESULT hr) { scriptedFailures_[id] = hr; }
    // What ActiveWindow and ActiveWorkbook answer instead of the stand-in's own (null: the
    // stand-in's own again).
    void SetActiveWindow(IDispatch* window);
    void SetActiveWorkbook(IDispatch* workbook);

    // ---- Excel's application events ----
    // False: no connection point container, as an Excel whose events cannot be subscribed.
    bool offersEvents = true;
    ExcelAppEventsPoint& Events() { return events_; }
    size_t AdviseCount() const { return events_.AdviseCount(); }
    size_t TotalAdvises() const { return events_.TotalAdvises(); }
    const std::vector<DWORD>& Unadvised() const { return events_.Unadvised(); }
    std::vector<Microsoft::WRL::ComPtr<IDispatch>> Sinks() const { return events_.Sinks(); }
    void FailNextAdvise(HRESULT hr) { events_.FailNextAdvise(hr); }
    std::vector<HRESULT> Fire(DISPID id, const std::vector<VARIANT>& args = {}, size_t namedCount = 0) {
        return events_.Fire(id, args, namedCount);
    }

    // ---- registration with COM ----
    // As the running Excel in the running object table, until revoked or destroyed.
    void RegisterRunning();
    void RevokeRunning();
    // A class factory for Excel's class, registered for this process while the returned object
    // lives; every instance it creates is a new ExcelApplicationSim, kept in `created`.
    class Factory;
    static std::shared_ptr<Factory> RegisterFactory();

protected:
    void* QueryExtra(REFIID riid) override;

private:
    // A scripted member or failure of `id`: true, with its result in `hr`.
    bool Scripted(DISPID id, LCID lcid, WORD flags, const DISPPARAMS* params, VARIANT* result, HRESULT& hr);

    std::wstring version_;
    std::vector<Microsoft::WRL::ComPtr<WorkbookSim>> books_;
    Microsoft::WRL::ComPtr<WindowSim> window_;
    std::vector<ExcelCall> calls_;
    std::map<DISPID, AutomationObject::Member> scripted_;
    std::map<DISPID, HRESULT> scriptedFailures_;
    ExcelAppEventsPoint events_{*this};
    DWORD rotCookie_ = 0;
};

class ExcelApplicationSim::Factory {
public:
    ~Factory();
    std::vector<Microsoft::WRL::ComPtr<ExcelApplicationSim>> created;

private:
    friend class ExcelApplicationSim;
    class ClassObject;
    Microsoft::WRL::ComPtr<IClassFactory> classObject_;
    DWORD cookie_ = 0;
};

// A host object that answers no Office host interface at all.
class ForeignHostSim : public SimObject<IDispatch> {
public:
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return DISP_E_MEMBERNOTFOUND;
    }
};

}  // namespace officesim
