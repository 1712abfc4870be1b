// A module of the add-in's class whose life-cycle events write into a journal, and a factory
// that creates connection objects with it, so that tests see what the connection object did
// from the very first OnConnection.
#pragma once

#include "addin/addin_module.h"
#include "server/addin.h"
#include "server/factory.h"

#include <functional>
#include <string>
#include <vector>

namespace qvrtest {

struct Journal {
    std::vector<std::wstring> events;
    // Runs inside the named event handler (e.g. to raise an error there).
    std::function<void(const std::wstring& event, qvr::TqvrCOMAddInModule&)> onEvent;
    void Clear() {
        events.clear();
        onEvent = nullptr;
    }
};
Journal& TheJournal();

class RecordingModule : public vortelix::TAddInModule {
public:
    explicit RecordingModule(qvr::TComponent* owner);
    ~RecordingModule() override;
    // Loads the add-in's own stored configuration.
    std::wstring ClassName() const override { return L"TAddInModule"; }
};

// A factory for the add-in's class whose modules are RecordingModules (made once per program).
qvr::TqvrFactory& RecordingFactory();

// The connection object behind an interface pointer of the in-process class.
qvr::TqvrAddin* AsAddin(IUnknown* unknown);

}  // namespace qvrtest
