#include "addin/coclass.h"

#include "addin/addin_module.h"
#include "com/log.h"
#include "server/comserver.h"
#include "server/factory.h"

namespace vortelix {

namespace {
qvr::TqvrAddin* CreateCoClass(qvr::TqvrFactory& factory) { return new TcoVORTELIXExcel(factory); }
}  // namespace

void RegisterAddInFactory(qvr::TComServer& server) {
    // Named first, so that a factory that cannot be built is recorded under the add-in's name too.
    qvr::ConfigureLog({L"VORTELIX Excel", L"VORTELIX\\Excel", L"VORTELIX\\Excel\\Logs", L"VORTELIXExcel.log"});
    qvr::TqvrFactory::Create(server, &CreateCoClass, CLSID_coVORTELIXExcel,
                             &qvr::TqvrCOMAddInModule::Create<TAddInModule>);
}

}  // namespace vortelix
