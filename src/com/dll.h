// What every layer may know of the DLL that holds it: the count of its live COM objects, which
// DllCanUnloadNow answers from (as DllAddRef/DllRelease in the Windows in-process server samples),
// and the module whose resources and type library the framework reads.
#pragma once

#include <windows.h>

namespace qvr {

// One live COM object more or less; the new count.
LONG DllAddRef() noexcept;
LONG DllRelease() noexcept;
LONG DllObjectCount() noexcept;

// The module that holds the COM server (the DLL, or a test program linking the framework), kept
// by the server while it exists; nullptr without a server.
HMODULE ServerModule() noexcept;
void SetServerModule(HMODULE module) noexcept;

}  // namespace qvr
