// Self-registration: the server's registry update (type library, then every class
// factory), the factory's Office registration (running-instance check, COM class keys, Office
// add-in keys, OneNote surrogate and Excel "OPEN" entries) and its unregistration (disabling
// pass, removal pass, COM class keys).
#pragma once

#include <windows.h>

#include <string_view>

namespace qvr {

class TComServer;
class TqvrFactory;

// ---- per-user registration ----
// True when one argument of the command line (the program name excluded) is "REGSERVERPERUSER"
// or "UNREGSERVERPERUSER" introduced by "-" or "/", in any case.
bool CommandLineAsksPerUser(const wchar_t* commandLine);
// The process's setting: from the process's own command line unless set explicitly. Per-user
// registration moves the COM class keys to HKEY_CURRENT_USER\Software\Classes and registers the
// type library for the current user only.
bool PerUserRegistration();
void SetPerUserRegistration(bool perUser);

// ---- the server's registry update ----
// The type library (the long module path, its folder as help directory), then UpdateRegistry of
// every class factory of the server. Raises on any error.
void UpdateServerRegistry(TComServer& server, bool reg);

// The add-in's Application-log source (com/log.h's identity) with this DLL as its message file;
// machine-wide registration only.
void RegisterAddInEventSource(const std::wstring& dllPath) noexcept;
void UnregisterAddInEventSource(const std::wstring& dllPath) noexcept;
// DllRegisterServer / DllUnregisterServer: the server's registry update of the process's server;
// S_OK, or E_FAIL when anything is raised. Nothing is shown on failure.
HRESULT DllUpdateRegistry(bool reg) noexcept;

// ---- the factory's registry update (TqvrFactory::UpdateRegistry) ----
// Registration: running-instance check, COM class keys, Office add-in keys. Unregistration:
// running-instance check, disabling pass, removal pass, COM class keys. Each step that needs
// settings builds its own temporary module of the factory's module class.
void UpdateFactoryRegistry(TqvrFactory& factory, bool reg);

}  // namespace qvr
