#include "com/dll.h"

#include <atomic>

namespace qvr {

namespace {
std::atomic<LONG> g_objects{0};
std::atomic<HMODULE> g_serverModule{nullptr};
}  // namespace

LONG DllAddRef() noexcept { return ++g_objects; }
LONG DllRelease() noexcept { return --g_objects; }
LONG DllObjectCount() noexcept { return g_objects.load(); }

HMODULE ServerModule() noexcept { return g_serverModule.load(); }
void SetServerModule(HMODULE module) noexcept { g_serverModule.store(module); }

}  // namespace qvr
