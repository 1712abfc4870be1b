#include "addin/coclass.h"

#include "addin/addin_module.h"
#include "server/comserver.h"
#include "server/factory.h"

namespace vortelix {

namespace {
qvr::TqvrAddin* CreateCoClass(qvr::TqvrFactory& factory) { return new TcoVORTELIXExcel(factory); }
}  // namespace

void RegisterAddInFactory(qvr::TComServer& server) {
    qvr::TqvrFactory::Create(server, &CreateCoClass, CLSID_coVORTELIXExcel,
                             &qvr::TqvrCOMAddInModule::Create<TAddInModule>);
}

}  // namespace vortelix
