// The DLL's entry point and its four COM server functions.
//
// DllMain runs under the loader lock, where loading libraries, COM and the type library are off
// limits: it only keeps the DLL's handle. The COM server, its factory and the type library are
// built on first use (DllGetClassObject, DllRegisterServer, DllUnregisterServer) and released
// again once nothing of the server is in use: when DllCanUnloadNow answers S_OK, and after a
// registration call that found nothing else alive (regsvr32 frees the DLL right after it).
#include "addin/coclass.h"
#include "com/error.h"
#include "com/log.h"
#include "server/comserver.h"
#include "server/factory.h"
#include "server/registration.h"

#include <windows.h>

#include <string>
#include <utility>

namespace {

HINSTANCE g_instance = nullptr;
// Guards building and releasing the server; the exports may come on any thread.
qvr::SrwLock g_serverLock;
// The automation library, held while the server exists.
HMODULE g_oleaut = nullptr;


void ReleaseServer() noexcept {
    qvr::TComServer::Destroy();
    if (HMODULE oleaut = std::exchange(g_oleaut, nullptr)) FreeLibrary(oleaut);
}

// The server with the add-in's factory, built when missing. Raises when the factory cannot be
// built (a type library without a usable class), and then keeps nothing. Call under the lock.
qvr::TComServer& Server() {
    qvr::TComServer* server = qvr::TComServer::Instance();
    if (server && !server->Factories().empty()) return *server;
    try {
        if (!server) {
            UINT oldMode = SetErrorMode(SEM_NOOPENFILEERRORBOX);
            g_oleaut = LoadLibraryW(L"OLEAUT32.DLL");
            SetErrorMode(oldMode);
            server = &qvr::TComServer::Create(g_instance);
            RegisterWindowMessageW(L"WM_QVRKEYDOWN");
        }
        vortelix::RegisterAddInFactory(*server);
    } catch (...) {
        ReleaseServer();
        throw;
    }
    return *server;
}

// Releases the server when nothing of it is in use any more. Call under the lock.
bool ReleaseServerIfUnused() noexcept {
    qvr::TComServer* server = qvr::TComServer::Instance();
    if (server && server->CanUnloadNow() != S_OK) return false;
    ReleaseServer();
    return true;
}

// DllRegisterServer / DllUnregisterServer. The server counts as in use while the registration
// runs (without holding the lock through it: registration may show a dialog).
HRESULT UpdateRegistry(bool reg) noexcept {
    {
        qvr::ExclusiveLock lock(g_serverLock);
        // A server that cannot be made fails the registration; the administrator's record says why.
        const HRESULT made = qvr::ComBoundary(
            [] {
                Server().CountObject();
                return S_OK;
            },
            [reg](const qvr::EqvrError& error) {
                qvr::LogBoundaryError(reg ? L"DllRegisterServer" : L"DllUnregisterServer", E_FAIL, error.Message());
                return E_FAIL;
            });
        if (FAILED(made)) return made;
    }
    HRESULT hr = qvr::DllUpdateRegistry(reg);
    qvr::ExclusiveLock lock(g_serverLock);
    qvr::TComServer::Instance()->UncountObject();
    ReleaseServerIfUnused();
    return hr;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_instance = instance;
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH && !reserved) {
        // Unloaded while the server still exists (freed without asking DllCanUnloadNow): its own
        // memory goes, its COM references and the automation library are left alone, since no
        // other DLL may be called from here. At process exit nothing needs freeing.
        qvr::TComServer::Abandon();
    }
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    qvr::ExclusiveLock lock(g_serverLock);
    qvr::TComServer* server = nullptr;
    try {
        server = &Server();
    } catch (...) {
        // The class exists but cannot be served: the caller learns why.
        std::wstring source = qvr::GetModulePath(g_instance);
        source.erase(0, source.find_last_of(L"\\/") + 1);
        const qvr::EqvrError error = qvr::CurrentError();
        const HRESULT hr = qvr::PublishError(error, IID_IClassFactory, source);
        qvr::LogBoundaryError(L"DllGetClassObject", hr, error.Message(), error.Where());
        return hr;
    }
    qvr::TqvrFactory* factory = server->FindFactory(rclsid);
    if (!factory) return CLASS_E_CLASSNOTAVAILABLE;
    return factory->QueryInterface(riid, ppv);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    qvr::ExclusiveLock lock(g_serverLock);
    return ReleaseServerIfUnused() ? S_OK : S_FALSE;
}

// The server's registry update (type library, then every factory); E_FAIL on any error.
extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() { return UpdateRegistry(true); }

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() { return UpdateRegistry(false); }
