// Host events: the event sink `TqvrEventDispatch` that Excel calls, the host-event component
// base `TqvrCustomEvents`, Excel's host-event component `TqvrExcelAppEvents` with the whole table
// of Excel's application events, and the typed delivery of one event to its handler that the
// Excel application object uses as well.
#pragma once

#include "com/component.h"
#include "com/error.h"
#include "com/query.h"
#include "module/excel_app.h"

#include <wrl/client.h>

#include <functional>
#include <span>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

namespace qvr {

// ---- Subscription (shared by both layers) --------------------------------------------------

// Advises `sink` on the connection point `eventIID` of `source`; the cookie, or 0 when any step
// fails (nothing is raised).
DWORD SubscribeEvents(IUnknown* source, REFIID eventIID, IDispatch* sink) noexcept;
// Unadvises `cookie` (when not 0) and sets it to 0 when that succeeds; nothing is raised.
void UnsubscribeEvents(IUnknown* source, REFIID eventIID, DWORD& cookie) noexcept;

// ---- The event sink ------------------------------------------------------------------------

// The COM object the host calls with its events. It refers back to its server (component or
// Excel application object) until the server detaches it; it then stays alive while the host
// holds it, answers calls and delivers nothing. It counts as a live object of the COM server,
// so the DLL stays loaded while the host holds it.
class TqvrEventDispatch final : public IDispatch {
public:
    static Microsoft::WRL::ComPtr<TqvrEventDispatch> Create(IqvrEventServer* Server);
    TqvrEventDispatch(const TqvrEventDispatch&) = delete;
    TqvrEventDispatch& operator=(const TqvrEventDispatch&) = delete;

    // Clears the back reference: the server is being destroyed.
    void Detach() noexcept { FServer = nullptr; }
    IqvrEventServer* Server() const noexcept { return FServer; }
    ULONG RefCount() const noexcept { return FRefCount; }

    // IUnknown: IUnknown, IDispatch and, while it has its server, the server's events IID.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    // IDispatch: no type information, no names; Invoke delivers one event and returns S_OK.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* excep, UINT* argErr) override;

private:
    explicit TqvrEventDispatch(IqvrEventServer* server);
    ~TqvrEventDispatch();

    IqvrEventServer* FServer;
    ULONG FRefCount = 1;  // the creator's reference
};

// ---- Host-event components -----------------------------------------------------------------

// Base of the host-event components that an add-in places on its module. The owner must be an
// add-in module (TqvrCOMAddInModule); the Outlook application events component, the other
// owner the framework allows, is not part of this build.
class TqvrCustomEvents : public TComponent, public IqvrEventServer {
public:
    ~TqvrCustomEvents() override;

    // Sets FServerData to the record of the component's host.
    virtual void SetupServerData() = 0;
    // Calls the handler of one event; nothing in the base.
    void FireEvent(DISPID DispID, std::span<VARIANT> Params) override;
    virtual void ConnectTo(IDispatch* AIntf) = 0;
    virtual void ConnectTo(IDispatch* AIntf, const std::wstring& AVersion) = 0;
    virtual void Disconnect() = 0;

    const TServerData* ServerData() const { return FServerData; }
    TqvrEventDispatch* EventDispatch() const { return FEventDispatch.Get(); }
    DWORD EventsConnection() const { return FEventsConnection; }
    ULONG RefCount() const { return FRefCount; }

    // IqvrEventServer; an error FireEvent raised goes to the owner module's error report.
    const GUID& EventIID() const override { return FServerData->EventIID; }
    void EventAddRef() override { ++FRefCount; }
    void EventRelease() override { --FRefCount; }
    void EventFailed() noexcept override;

protected:
    // Raises 31113 unless the owner is an add-in module.
    TqvrCustomEvents(TComponent* owner, const wchar_t* className);
    // Run at the end of the derived constructor: the server data record and the sink.
    void InitEvents();
    void Subscribe(IUnknown* source) {
        FEventsConnection = SubscribeEvents(source, FServerData->EventIID, FEventDispatch.Get());
    }
    void Unsubscribe(IUnknown* source) { UnsubscribeEvents(source, FServerData->EventIID, FEventsConnection); }

    TServerData* FServerData = nullptr;
    ULONG FRefCount = 0;
    Microsoft::WRL::ComPtr<TqvrEventDispatch> FEventDispatch;
    DWORD FEventsConnection = 0;
};

// Excel's application events for an add-in's own handlers.
class TqvrExcelAppEvents : public TqvrCustomEvents {
public:
    explicit TqvrExcelAppEvents(TComponent* owner);
    ~TqvrExcelAppEvents() override;
    std::wstring ClassName() const override { return L"TqvrExcelAppEvents"; }

    void SetupServerData() override;
    void FireEvent(DISPID DispID, std::span<VARIANT> Params) override;
    // Binds to AIntf's _Application (raising when it has none) and subscribes.
    void ConnectTo(IDispatch* AIntf) override;
    // The version is ignored.
    void ConnectTo(IDispatch* AIntf, const std::wstring& AVersion) override;
    void Disconnect() override;
    bool Connected() const { return FIntf != nullptr; }
    ExcelApplication* Intf() const { return FIntf.Get(); }

    // The 47 event properties, stored by name in the module's configuration.
#define QVR_EXCEL_EVENT_PROPERTY(event, params, ...) TExcel##event##Event On##event;
    QVR_EXCEL_APP_EVENTS(QVR_EXCEL_EVENT_PROPERTY)
#undef QVR_EXCEL_EVENT_PROPERTY

    void ReadProperty(const FormProperty& property) override;
    void WriteProperties(std::vector<FormProperty>& out) const override;

private:
    Microsoft::WRL::ComPtr<ExcelApplication> FIntf;
};

// ---- Typed delivery of one event -----------------------------------------------------------

namespace event_args {

// One argument of an event converted from its variant (null when the event came with fewer
// arguments) to the handler's parameter type. A conversion that cannot be made raises.
template <typename T>
class Arg;

IDispatch* DispatchOf(const VARIANT* v, Microsoft::WRL::ComPtr<IDispatch>& holder);
// The object as interface `iid`, with a reference for the caller; null for no object.
IDispatch* TypedOf(const VARIANT* v, REFIID iid);
bool BoolOf(const VARIANT* v);
LONG LongOf(const VARIANT* v);
std::wstring TextOf(const VARIANT* v);
// Where a handler writes Cancel: the caller's variable for a by-reference Boolean, else the
// argument's slot in the array, made a Boolean (copied back to the caller after the handler),
// else `local`.
VARIANT_BOOL* CancelOf(VARIANT* v, VARIANT_BOOL* local);

// Objects come as VT_DISPATCH almost always: that case is handled inline.
template <>
class Arg<IDispatch*> {
public:
    explicit Arg(VARIANT* v) : value_(v && v->vt == VT_DISPATCH ? v->pdispVal : DispatchOf(v, holder_)) {}
    IDispatch* Get() const { return value_; }

private:
    Microsoft::WRL::ComPtr<IDispatch> holder_;
    IDispatch* value_;
};

// An Excel typed interface, obtained by QueryInterface for its IID.
template <typename I>
    requires std::is_base_of_v<IDispatch, I>
class Arg<I*> {
public:
    explicit Arg(VARIANT* v) {
        if (v && v->vt == VT_DISPATCH && v->pdispVal) {
            holder_ = Query<IDispatch>(v->pdispVal, __uuidof(I));
        } else {
            *holder_.GetAddressOf() = TypedOf(v, __uuidof(I));
        }
    }
    I* Get() const { return static_cast<I*>(holder_.Get()); }

private:
    Microsoft::WRL::ComPtr<IDispatch> holder_;
};

template <>
class Arg<bool> {
public:
    explicit Arg(VARIANT* v) : value_(BoolOf(v)) {}
    bool Get() const { return value_; }

private:
    bool value_;
};

template <>
class Arg<LONG> {
public:
    explicit Arg(VARIANT* v) : value_(LongOf(v)) {}
    LONG Get() const { return value_; }

private:
    LONG value_;
};

template <>
class Arg<const std::wstring&> {
public:
    explicit Arg(VARIANT* v) : value_(TextOf(v)) {}
    const std::wstring& Get() const { return value_; }

private:
    std::wstring value_;
};

template <>
class Arg<VARIANT_BOOL&> {
public:
    explicit Arg(VARIANT* v) : ref_(CancelOf(v, nullptr)) {}
    Arg(const Arg&) = delete;
    Arg& operator=(const Arg&) = delete;
    VARIANT_BOOL& Get() { return ref_ ? *ref_ : local_; }

private:
    VARIANT_BOOL* ref_;
    VARIANT_BOOL local_ = VARIANT_FALSE;
};

template <typename... A, size_t... I>
void Call(const std::function<void(TObject*, A...)>& handler, TObject* sender, std::span<VARIANT> params,
          std::index_sequence<I...>) {
    (void)params;
    // Each element is built in place from its variant (none when the event came with fewer).
    std::tuple<Arg<A>...> args{(I < params.size() ? &params[I] : nullptr)...};
    handler(sender, std::get<I>(args).Get()...);
}

}  // namespace event_args

// Calls `handler`, when assigned, with `sender` and the event's arguments converted to its
// parameter types.
template <typename... A>
void DeliverTyped(const std::function<void(TObject*, A...)>& handler, TObject* sender, std::span<VARIANT> params) {
    if (handler) event_args::Call(handler, sender, params, std::index_sequence_for<A...>{});
}

// `case` labels for one row of the event table (one or two dispatch ids).
#define QVR_EVENT_CASES_1(a) case a:
#define QVR_EVENT_CASES_2(a, b) case a: case b:
#define QVR_EVENT_CASES_PICK(_1, _2, NAME, ...) NAME
#define QVR_EVENT_CASES(...) QVR_EVENT_CASES_PICK(__VA_ARGS__, QVR_EVENT_CASES_2, QVR_EVENT_CASES_1, )(__VA_ARGS__)

}  // namespace qvr
