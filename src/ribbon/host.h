// The ribbon layer's side of the module: tabs, controls, the markup and the callbacks, as the
// module and the connection object reach them (module/ribbon_host.h).
#pragma once

#include "module/ribbon_host.h"

namespace qvr {

// The one ribbon host of the process; it keeps no state of its own.
const IqvrRibbonHost& RibbonHost() noexcept;

}  // namespace qvr
