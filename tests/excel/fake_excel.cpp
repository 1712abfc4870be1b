#include "fake_excel.h"

#include <oleauto.h>
#include <olectl.h>

#include <algorithm>
#include <utility>

namespace fakexl {

// ---- Var ----

Var Var::Text(const std::wstring& s) {
    Var v;
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
    return v;
}

Var Var::Bool(bool b) {
    Var v;
    v.vt = VT_BOOL;
    v.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}

Var Var::Long(LONG l) {
    Var v;
    v.vt = VT_I4;
    v.lVal = l;
    return v;
}

Var Var::Object(IDispatch* d) {
    Var v;
    v.vt = VT_DISPATCH;
    v.pdispVal = d;
    if (d) d->AddRef();
    return v;
}

Var Var::Missing() {
    Var v;
    v.vt = VT_ERROR;
    v.scode = DISP_E_PARAMNOTFOUND;
    return v;
}

std::wstring Var::AsText() const {
    Var copy;
    if (FAILED(VariantChangeType(&copy, const_cast<Var*>(this), 0, VT_BSTR)) || !copy.bstrVal) return {};
    return std::wstring(copy.bstrVal, SysStringLen(copy.bstrVal));
}

// ---- Object ----

ComPtr<Object> Object::Make(std::vector<IID> iids) { return ComPtr<Object>(new Object(std::move(iids))); }

HRESULT STDMETHODCALLTYPE Object::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
        std::any_of(iids_.begin(), iids_.end(), [&](const IID& iid) { return IsEqualIID(riid, iid) != 0; }))
        *ppv = static_cast<IDispatch*>(this);
    else
        *ppv = QueryMore(riid);
    if (!*ppv) return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE Object::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }

ULONG STDMETHODCALLTYPE Object::Release() {
    LONG n = InterlockedDecrement(&refs_);
    if (n == 0) delete this;
    return static_cast<ULONG>(n);
}

HRESULT STDMETHODCALLTYPE Object::GetTypeInfoCount(UINT* count) {
    if (count) *count = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Object::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE Object::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return DISP_E_UNKNOWNNAME; }

HRESULT STDMETHODCALLTYPE Object::Invoke(DISPID id, REFIID, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                                         EXCEPINFO*, UINT*) {
    Call call{id, flags, lcid, {}};
    if (params) {
        // Positional arguments only: last first.
        for (UINT i = params->cArgs; i > 0; --i) call.args.emplace_back(params->rgvarg[i - 1]);
    }
    calls_.push_back(call);
    if (result) VariantInit(result);
    auto failure = failures_.find(id);
    if (failure != failures_.end()) {
        HRESULT hr = failure->second;
        failures_.erase(failure);
        return hr;
    }
    auto member = members_.find(id);
    if (member == members_.end()) return DISP_E_MEMBERNOTFOUND;
    Var ignored;
    return member->second(call, result ? result : &ignored);
}

void Object::Property(DISPID id, const Var& value) {
    On(id, [value](const Call&, VARIANT* result) { return VariantCopy(result, const_cast<Var*>(&value)); });
}

std::vector<Call> Object::CallsOf(DISPID id) const {
    std::vector<Call> out;
    for (const Call& c : calls_)
        if (c.id == id) out.push_back(c);
    return out;
}

// ---- Application: the connection point ----

class Application::Point : public IConnectionPoint {
public:
    explicit Point(Application& app) : app_(app) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IConnectionPoint)) return E_NOINTERFACE;
        *ppv = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    // The point lives as long as its application.
    ULONG STDMETHODCALLTYPE AddRef() override { return app_.AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return app_.Release(); }
    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override {
        if (!iid) return E_POINTER;
        *iid = DIID_AppEvents;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** c) override {
        if (!c) return E_POINTER;
        *c = &app_;
        app_.AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override {
        if (!sink || !cookie) return E_POINTER;
        *cookie = 0;
        if (HRESULT hr = std::exchange(app_.adviseFailure_, S_OK); FAILED(hr)) return hr;
        // As Excel: the sink must answer the events interface.
        ComPtr<IDispatch> events;
        if (FAILED(sink->QueryInterface(DIID_AppEvents, reinterpret_cast<void**>(events.GetAddressOf()))) || !events)
            return CONNECT_E_CANNOTCONNECT;
        *cookie = app_.nextCookie_++;
        app_.sinks_.push_back({*cookie, events});
        ++app_.totalAdvises_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override {
        auto& sinks = app_.sinks_;
        auto it = std::find_if(sinks.begin(), sinks.end(), [&](const Advised& a) { return a.cookie == cookie; });
        if (it == sinks.end()) return CONNECT_E_NOCONNECTION;
        ComPtr<IDispatch> released = std::move(it->sink);  // released after the list is consistent
        sinks.erase(it);
        app_.unadvised_.push_back(cookie);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections**) override { return E_NOTIMPL; }

private:
    Application& app_;
};

// ---- Application ----

ComPtr<Application> Application::Make(std::wstring version, bool withEvents) {
    return ComPtr<Application>(new Application(std::move(version), withEvents));
}

Application::Application(std::wstring version, bool withEvents)
    : Object({IID_Application}), withEvents_(withEvents), point_(std::make_unique<Point>(*this)) {
    Property(dispid::Version, Var::Text(version));
    On(dispid::Application, [this](const Call&, VARIANT* result) {
        result->vt = VT_DISPATCH;
        result->pdispVal = static_cast<IDispatch*>(static_cast<Object*>(this));
        AddRef();
        return S_OK;
    });
    On(dispid::ActiveWindow, [this](const Call&, VARIANT* result) {
        result->vt = VT_DISPATCH;
        result->pdispVal = activeWindow_.Get();
        if (activeWindow_) activeWindow_->AddRef();
        return S_OK;
    });
    On(dispid::ActiveWorkbook, [this](const Call&, VARIANT* result) {
        result->vt = VT_DISPATCH;
        result->pdispVal = activeWorkbook_.Get();
        if (activeWorkbook_) activeWorkbook_->AddRef();
        return S_OK;
    });
    On(dispid::Workbooks, [](const Call&, VARIANT* result) {
        ComPtr<Object> books = Object::Make({IID_Workbooks});
        result->vt = VT_DISPATCH;
        result->pdispVal = books.Detach();
        return S_OK;
    });
    On(dispid::Quit, [this](const Call&, VARIANT*) {
        ++quits_;
        return S_OK;
    });
}

Application::~Application() { RevokeRunning(); }

void* Application::QueryMore(REFIID riid) {
    if (withEvents_ && IsEqualIID(riid, IID_IConnectionPointContainer))
        return static_cast<IConnectionPointContainer*>(this);
    return nullptr;
}

HRESULT STDMETHODCALLTYPE Application::EnumConnectionPoints(IEnumConnectionPoints**) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE Application::FindConnectionPoint(REFIID riid, IConnectionPoint** point) {
    if (!point) return E_POINTER;
    *point = nullptr;
    if (!IsEqualIID(riid, DIID_AppEvents)) return CONNECT_E_NOCONNECTION;
    *point = point_.get();
    point_->AddRef();
    return S_OK;
}

std::vector<ComPtr<IDispatch>> Application::Sinks() const {
    std::vector<ComPtr<IDispatch>> out;
    for (const Advised& a : sinks_) out.push_back(a.sink);
    return out;
}

std::vector<HRESULT> Application::Fire(DISPID id, const std::vector<VARIANT>& args, size_t namedCount) {
    const size_t n = args.size();
    namedCount = std::min(namedCount, n);
    const size_t positional = n - namedCount;
    std::vector<VARIANT> rgvarg(n);
    std::vector<DISPID> names(namedCount);
    for (size_t i = 0; i < namedCount; ++i) {
        rgvarg[i] = args[positional + i];
        names[i] = static_cast<DISPID>(positional + i);
    }
    for (size_t k = 0; k < positional; ++k) rgvarg[n - 1 - k] = args[k];
    DISPPARAMS params{rgvarg.data(), names.empty() ? nullptr : names.data(), static_cast<UINT>(n),
                      static_cast<UINT>(namedCount)};
    std::vector<HRESULT> results;
    for (const ComPtr<IDispatch>& sink : Sinks())  // a snapshot: handlers may unadvise
        results.push_back(sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr,
                                       nullptr));
    return results;
}

void Application::SetActiveWindow(IDispatch* window) { activeWindow_ = window; }

void Application::SetActiveWorkbook(IDispatch* workbook) { activeWorkbook_ = workbook; }

void Application::RegisterRunning() {
    if (rotCookie_) return;
    if (FAILED(RegisterActiveObject(static_cast<IDispatch*>(static_cast<Object*>(this)), CLSID_Application,
                                    ACTIVEOBJECT_STRONG, &rotCookie_)))
        rotCookie_ = 0;
}

void Application::RevokeRunning() {
    if (rotCookie_) RevokeActiveObject(std::exchange(rotCookie_, 0), nullptr);
}

// ---- Application::Factory ----

class Application::Factory::ClassObject final : public IClassFactory {
public:
    explicit ClassObject(Factory& owner) : owner_(&owner) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) return E_NOINTERFACE;
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG n = InterlockedDecrement(&refs_);
        if (n == 0) delete this;
        return static_cast<ULONG>(n);
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        if (!owner_) return E_UNEXPECTED;
        ComPtr<Application> app = Application::Make();
        owner_->created.push_back(app);
        return app->QueryInterface(riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
    void Orphan() { owner_ = nullptr; }

private:
    Factory* owner_;
    LONG refs_ = 0;
};

std::shared_ptr<Application::Factory> Application::RegisterFactory() {
    std::shared_ptr<Factory> factory(new Factory);
    auto* object = new Factory::ClassObject(*factory);
    factory->classObject_ = object;
    if (FAILED(CoRegisterClassObject(CLSID_Application, factory->classObject_.Get(), CLSCTX_LOCAL_SERVER,
                                     REGCLS_MULTIPLEUSE, &factory->cookie_)))
        factory->cookie_ = 0;
    return factory;
}

Application::Factory::~Factory() {
    if (cookie_) CoRevokeClassObject(cookie_);
    if (classObject_) static_cast<ClassObject*>(classObject_.Get())->Orphan();
}

// ---- Workbook and window ----

namespace {
// Not an owning reference: the application usually holds the object (cycle otherwise).
Object::Member ApplicationMember(IDispatch* application) {
    return [application](const Call&, VARIANT* result) {
        result->vt = VT_DISPATCH;
        result->pdispVal = application;
        application->AddRef();
        return S_OK;
    };
}
}  // namespace

ComPtr<Object> MakeWorkbook(const std::wstring& fullName, IDispatch* application) {
    ComPtr<Object> book = Object::Make({IID_Workbook});
    book->Property(dispid::FullName, Var::Text(fullName));
    book->On(dispid::SaveCopyAs, [](const Call&, VARIANT*) { return S_OK; });
    book->On(dispid::Close, [](const Call&, VARIANT*) { return S_OK; });
    if (application) book->On(dispid::Application, ApplicationMember(application));
    return book;
}

ComPtr<Object> MakeWindow(IDispatch* application) {
    ComPtr<Object> window = Object::Make({DIID_Window});
    if (application) window->On(dispid::Application, ApplicationMember(application));
    return window;
}

}  // namespace fakexl
