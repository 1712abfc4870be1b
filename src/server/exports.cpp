// The DLL's entry point and its four COM server exports.
#include "com/error.h"
#include "server/comserver.h"
#include "server/factory.h"
#include "server/registration.h"

#include <windows.h>

namespace vortelix {
void RegisterAddInFactory(qvr::TComServer& server);
}

namespace {

// Process attach: the automation library, the server object, the framework's window message,
// then the add-in's factory. Nothing here may throw out of DllMain.
void Attach(HINSTANCE instance) {
    DisableThreadLibraryCalls(instance);
    UINT oldMode = SetErrorMode(SEM_NOOPENFILEERRORBOX);
    LoadLibraryW(L"OLEAUT32.DLL");
    SetErrorMode(oldMode);
    qvr::TComServer& server = qvr::TComServer::Create(instance);
    RegisterWindowMessageW(L"WM_QVRKEYDOWN");
    try {
        vortelix::RegisterAddInFactory(server);
    } catch (...) {
        // Without its factory the class is simply not available.
    }
}

void Detach() {
    qvr::TComServer::Destroy();
    if (HMODULE oleaut = GetModuleHandleW(L"OLEAUT32.DLL")) FreeLibrary(oleaut);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    try {
        if (reason == DLL_PROCESS_ATTACH) Attach(instance);
        if (reason == DLL_PROCESS_DETACH) Detach();
    } catch (...) {
        return FALSE;
    }
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    qvr::TComServer* server = qvr::TComServer::Instance();
    qvr::TqvrFactory* factory = server ? server->FindFactory(rclsid) : nullptr;
    if (!factory) return CLASS_E_CLASSNOTAVAILABLE;
    return factory->QueryInterface(riid, ppv);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    qvr::TComServer* server = qvr::TComServer::Instance();
    return server ? server->CanUnloadNow() : S_OK;
}

// The server's registry update (type library, then every factory); E_FAIL on any error.
extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() { return qvr::DllUpdateRegistry(true); }

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() { return qvr::DllUpdateRegistry(false); }
