#include "support/recording_module.h"

#include "addin/coclass.h"
#include "server/comserver.h"

namespace qvrtest {

Journal& TheJournal() {
    static Journal journal;
    return journal;
}

namespace {
void Note(const std::wstring& event, qvr::TqvrCOMAddInModule& m) {
    TheJournal().events.push_back(event);
    if (TheJournal().onEvent) TheJournal().onEvent(event, m);
}

qvr::TqvrAddin* CreateRecordingObject(qvr::TqvrFactory& factory) { return new vortelix::TcoVORTELIXExcel(factory); }
}  // namespace

RecordingModule::RecordingModule(qvr::TComponent* owner) : TAddInModule(owner) {
    OnAddInInitialize = [this](qvr::TObject* sender) {
        Note(sender == this ? L"Initialize" : L"Initialize(wrong sender)", *this);
    };
    OnAddInStartupComplete = [this](qvr::TObject*) { Note(L"StartupComplete", *this); };
    OnAddInBeginShutdown = [this](qvr::TObject*) { Note(L"BeginShutdown", *this); };
    OnAddInFinalize = [this](qvr::TObject*) { Note(L"Finalize", *this); };
    TheJournal().events.push_back(L"Created");
}

RecordingModule::~RecordingModule() { TheJournal().events.push_back(L"Destroyed"); }

qvr::TqvrFactory& RecordingFactory() {
    static qvr::TqvrFactory* factory = nullptr;
    if (!factory)
        factory = &qvr::TqvrFactory::Create(*qvr::TComServer::Instance(), &CreateRecordingObject,
                                            vortelix::CLSID_coVORTELIXExcel,
                                            &qvr::TqvrCOMAddInModule::Create<RecordingModule>);
    return *factory;
}

qvr::TqvrAddin* AsAddin(IUnknown* unknown) {
    Microsoft::WRL::ComPtr<IDTExtensibility2> ext;
    if (!unknown || FAILED(unknown->QueryInterface(__uuidof(IDTExtensibility2), reinterpret_cast<void**>(ext.GetAddressOf()))))
        return nullptr;
    return static_cast<qvr::TqvrAddin*>(ext.Get());
}

}  // namespace qvrtest
