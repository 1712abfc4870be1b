// The host-event components: their subscription to the host's connection points, their life
// cycle and their stored event bindings. Built for size like the rest of the framework: this runs
// once per connection, unlike the event sink and the delivery to the handlers (excel_events.cpp),
// which run for every event Excel raises and keep full speed optimisation.
#include "module/excel_events.h"

#include "com/query.h"

#include "module/module.h"

#include <ocidl.h>

using Microsoft::WRL::ComPtr;

namespace qvr {

// ---- Subscription ----------------------------------------------------------------------------

namespace {

ComPtr<IConnectionPoint> FindConnectionPoint(IUnknown* source, REFIID eventIID) noexcept {
    ComPtr<IConnectionPointContainer> container = TryQuery<IConnectionPointContainer>(source);
    ComPtr<IConnectionPoint> point;
    if (!container || FAILED(container->FindConnectionPoint(eventIID, point.GetAddressOf()))) return nullptr;
    return point;
}

}  // namespace

DWORD SubscribeEvents(IUnknown* source, REFIID eventIID, IDispatch* sink) noexcept {
    DWORD cookie = 0;
    ComPtr<IConnectionPoint> point = FindConnectionPoint(source, eventIID);
    if (!point || !sink || FAILED(point->Advise(sink, &cookie))) return 0;
    return cookie;
}

void UnsubscribeEvents(IUnknown* source, REFIID eventIID, DWORD& cookie) noexcept {
    if (cookie == 0) return;
    ComPtr<IConnectionPoint> point = FindConnectionPoint(source, eventIID);
    if (point && SUCCEEDED(point->Unadvise(cookie))) cookie = 0;
}

// ---- Host-event components -------------------------------------------------------------------

TqvrCustomEvents::TqvrCustomEvents(TComponent* owner, const wchar_t* className) : TComponent(owner) {
    if (!dynamic_cast<TqvrCOMAddInModule*>(owner))
        throw EqvrError(FormatText(L"The %s class cannot be contained in the %s class.",
                                   {className, owner ? owner->ClassName() : std::wstring(L"nil")}),
                        kErrWrongOwner, ErrorKind::Ole);
}

void TqvrCustomEvents::InitEvents() {
    SetupServerData();
    ++FServerData->InstanceCount;
    FEventDispatch = TqvrEventDispatch::Create(this);
}

TqvrCustomEvents::~TqvrCustomEvents() {
    if (FEventDispatch) {
        FEventDispatch->Detach();
        FEventDispatch.Reset();
    }
    if (FServerData) --FServerData->InstanceCount;
}

void TqvrCustomEvents::EventFailed() noexcept {
    try {
        if (auto* module = dynamic_cast<TqvrCOMAddInModule*>(Owner())) module->HandleError(CurrentError());
    } catch (...) {
        RecordDroppedError(L"error report");
    }
}

namespace {
TComponent* CreateExcelAppEvents(TComponent* owner) { return new TqvrExcelAppEvents(owner); }
// The stored configuration may hold the component by its class name.
const bool kExcelAppEventsRegistered = (RegisterComponentClass(L"TqvrExcelAppEvents", &CreateExcelAppEvents), true);
}  // namespace

TqvrExcelAppEvents::TqvrExcelAppEvents(TComponent* owner) : TqvrCustomEvents(owner, L"TqvrExcelAppEvents") {
    (void)kExcelAppEventsRegistered;
    InitEvents();
}

TqvrExcelAppEvents::~TqvrExcelAppEvents() { Disconnect(); }

void TqvrExcelAppEvents::SetupServerData() { FServerData = &ExcelApplicationServerData(); }

void TqvrExcelAppEvents::ConnectTo(IDispatch* AIntf) {
    Disconnect();
    if (!AIntf) ThrowIfFailed(E_NOINTERFACE);
    FIntf = Query<ExcelApplication>(AIntf, FServerData->IntfIID);
    Subscribe(FIntf.Get());
}

void TqvrExcelAppEvents::ConnectTo(IDispatch* AIntf, const std::wstring&) { ConnectTo(AIntf); }

void TqvrExcelAppEvents::Disconnect() {
    if (!FIntf) return;
    Unsubscribe(FIntf.Get());
    FIntf.Reset();
}

void TqvrExcelAppEvents::ReadProperty(const FormProperty& p) {
#define QVR_READ_EVENT(event, params, ...)                      \
    if (_wcsicmp(p.name.c_str(), L"On" #event) == 0) {          \
        On##event = BindEvent<TExcel##event##Event>(p);          \
        return;                                                \
    }
    QVR_EXCEL_APP_EVENTS(QVR_READ_EVENT)
#undef QVR_READ_EVENT
    TqvrCustomEvents::ReadProperty(p);
}

void TqvrExcelAppEvents::WriteProperties(std::vector<FormProperty>& out) const { WriteEventBindings(out); }

}  // namespace qvr
