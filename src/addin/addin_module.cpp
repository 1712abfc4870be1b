#include "addin/addin_module.h"

namespace vortelix {

TAddInModule::TAddInModule(qvr::TComponent* owner) : TqvrCOMAddInModule(owner) {}

}  // namespace vortelix
