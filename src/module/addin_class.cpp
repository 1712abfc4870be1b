#include "module/addin_class.h"

#include <atomic>

namespace qvr {

namespace {
std::atomic<IqvrAddInClass*> g_firstClass{nullptr};
}  // namespace

IqvrAddInClass* FirstServerClass() noexcept { return g_firstClass.load(); }
void SetFirstServerClass(IqvrAddInClass* addInClass) noexcept { g_firstClass.store(addInClass); }

}  // namespace qvr
