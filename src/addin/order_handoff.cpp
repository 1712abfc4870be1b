// The order hand-off command: the open workbook goes to the order upload program.
#include "addin/addin_module.h"

namespace vortelix {

void TAddInModule::RunOrderHandOff(qvr::TObject*, IRibbonControl*) {}

}  // namespace vortelix
