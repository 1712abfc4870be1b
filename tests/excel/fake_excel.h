// A small fake of Excel's application object for the tests of the Excel binding and Excel's
// application events. It depends on nothing of the add-in (Windows, WRL and the standard library
// only), so that it can move into the Office/Excel stand-in (tools/officesim) as it is.
//
// - `fakexl::Object`: a reference-counted automation object answering IUnknown, IDispatch and
//   the interface ids it is made with; its members are handlers by dispatch id, and it records
//   every Invoke (id, flags, locale, arguments in declaration order).
// - `fakexl::Application`: Excel's application object: answers _Application, is a connection
//   point container for Excel's application events (AppEvents), counts its advises, fires any
//   event with positional or named arguments, answers Version, ActiveWindow, ActiveWorkbook,
//   Workbooks, Quit and Application, and registers itself as the running Excel in COM's running
//   object table, or a class factory for Excel's class, when a test asks.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>
#include <wrl/client.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace fakexl {

using Microsoft::WRL::ComPtr;

// Excel's identities (office-interfaces.md section 2.1).
inline constexpr CLSID CLSID_Application = {0x00024500, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_Application = {0x000208D5, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID DIID_AppEvents = {0x00024413, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_Workbook = {0x000208DA, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_Workbooks = {0x000208DB, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID DIID_Window = {0x00020893, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_Range = {0x00020846, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_Hyperlink = {0x00024431, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_PivotTable = {0x00020872, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_Chart = {0x000208D6, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// Dispatch ids of the members the fake answers.
namespace dispid {
inline constexpr DISPID Application = 148;
inline constexpr DISPID ActiveWindow = 759;
inline constexpr DISPID ActiveWorkbook = 308;
inline constexpr DISPID Workbooks = 572;
inline constexpr DISPID Quit = 302;
inline constexpr DISPID Version = 392;
inline constexpr DISPID Close = 277;
inline constexpr DISPID FullName = 289;
inline constexpr DISPID SaveCopyAs = 175;
}  // namespace dispid

// A VARIANT that owns its value (deep copies).
struct Var : VARIANT {
    Var() { VariantInit(this); }
    Var(const VARIANT& v) {  // implicit: a Var is passed where a VARIANT is
        VariantInit(this);
        VariantCopy(this, const_cast<VARIANT*>(&v));
    }
    Var(const Var& v) : Var(static_cast<const VARIANT&>(v)) {}
    Var& operator=(const Var& v) {
        if (this != &v) VariantCopy(this, const_cast<Var*>(&v));
        return *this;
    }
    ~Var() { VariantClear(this); }
    static Var Text(const std::wstring& s);
    static Var Bool(bool b);
    static Var Long(LONG l);
    static Var Object(IDispatch* d);
    static Var Missing();  // VT_ERROR, DISP_E_PARAMNOTFOUND
    std::wstring AsText() const;
};

// One Invoke an object received.
struct Call {
    DISPID id;
    WORD flags;
    LCID lcid;
    std::vector<Var> args;  // declaration order
};

class Object : public IDispatch {
public:
    // A member: gets the call, fills the result; returns the call's HRESULT.
    using Member = std::function<HRESULT(const Call& call, VARIANT* result)>;

    static ComPtr<Object> Make(std::vector<IID> iids = {});

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* excep, UINT* argErr) override;

    // Members by dispatch id; an unknown id answers DISP_E_MEMBERNOTFOUND.
    void On(DISPID id, Member member) { members_[id] = std::move(member); }
    // A property that answers `value`.
    void Property(DISPID id, const Var& value);
    // The next call of `id` fails with `hr`.
    void FailNext(DISPID id, HRESULT hr) { failures_[id] = hr; }

    const std::vector<Call>& Calls() const { return calls_; }
    std::vector<Call> CallsOf(DISPID id) const;
    LONG RefCount() const { return refs_; }

protected:
    explicit Object(std::vector<IID> iids) : iids_(std::move(iids)) {}
    virtual ~Object() = default;
    // Further interfaces of a derived object.
    virtual void* QueryMore(REFIID) { return nullptr; }

private:
    std::vector<IID> iids_;
    std::map<DISPID, Member> members_;
    std::map<DISPID, HRESULT> failures_;
    std::vector<Call> calls_;
    LONG refs_ = 0;
};

class Application : public Object, public IConnectionPointContainer {
public:
    // `withEvents` false: no connection point container (subscription must fail quietly).
    static ComPtr<Application> Make(std::wstring version = L"16.0", bool withEvents = true);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        return Object::QueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return Object::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return Object::Release(); }
    // IConnectionPointContainer: one point, AppEvents.
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** e) override;
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** point) override;

    // ---- events ----
    // Advises alive now, and all advises ever made.
    size_t AdviseCount() const { return sinks_.size(); }
    size_t TotalAdvises() const { return totalAdvises_; }
    // Cookies in the order they were unadvised.
    const std::vector<DWORD>& Unadvised() const { return unadvised_; }
    // The advised sinks (as the events interface each answered).
    std::vector<ComPtr<IDispatch>> Sinks() const;
    // The next Advise fails with `hr`.
    void FailNextAdvise(HRESULT hr) { adviseFailure_ = hr; }
    // Fires event `id` at every advised sink, as Excel does. `args` are in declaration order;
    // the last `namedCount` of them are passed as named arguments (their positions as dispatch
    // ids, in declaration order), the others positionally (last first). Returns what each
    // sink's Invoke returned.
    std::vector<HRESULT> Fire(DISPID id, const std::vector<VARIANT>& args = {}, size_t namedCount = 0);

    // ---- object model ----
    // What ActiveWindow and ActiveWorkbook answer (null: none).
    void SetActiveWindow(IDispatch* window);
    void SetActiveWorkbook(IDispatch* workbook);
    int QuitCount() const { return quits_; }

    // ---- registration with COM ----
    // As the running Excel in the running object table, until revoked or destroyed.
    void RegisterRunning();
    void RevokeRunning();

    // A class factory for Excel's class, registered for this process while the returned object
    // lives; every instance it creates is a new Application, kept in `created`.
    class Factory;
    static std::shared_ptr<Factory> RegisterFactory();

private:
    class Point;
    Application(std::wstring version, bool withEvents);
    ~Application() override;
    void* QueryMore(REFIID riid) override;

    struct Advised {
        DWORD cookie;
        ComPtr<IDispatch> sink;
    };
    bool withEvents_;
    std::unique_ptr<Point> point_;
    std::vector<Advised> sinks_;
    DWORD nextCookie_ = 1;
    size_t totalAdvises_ = 0;
    std::vector<DWORD> unadvised_;
    HRESULT adviseFailure_ = S_OK;
    ComPtr<IDispatch> activeWindow_;
    ComPtr<IDispatch> activeWorkbook_;
    int quits_ = 0;
    DWORD rotCookie_ = 0;
};

class Application::Factory {
public:
    ~Factory();
    std::vector<ComPtr<Application>> created;

private:
    friend class Application;
    class ClassObject;
    ComPtr<IClassFactory> classObject_;
    DWORD cookie_ = 0;
};

// A workbook: answers _Workbook; FullName (text given), SaveCopyAs, Close and Application (the
// application is not held: it must outlive the workbook).
ComPtr<Object> MakeWorkbook(const std::wstring& fullName, IDispatch* application = nullptr);
// A window: answers Window; Application (not held either).
ComPtr<Object> MakeWindow(IDispatch* application = nullptr);

}  // namespace fakexl
