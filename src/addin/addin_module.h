// The VORTELIX add-in's own module: its stored configuration and its one command.
#pragma once

#include "module/module.h"

namespace vortelix {

class TAddInModule : public qvr::TqvrCOMAddInModule {
public:
    explicit TAddInModule(qvr::TComponent* owner);
    std::wstring ClassName() const override { return L"TAddInModule"; }
};

}  // namespace vortelix
