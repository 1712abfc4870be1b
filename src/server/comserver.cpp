#include "server/comserver.h"

#include "com/error.h"
#include "com/handles.h"
#include "com/locks.h"
#include "server/factory.h"

namespace qvr {

namespace {
TComServer* g_server = nullptr;

}  // namespace

std::wstring GetModulePath(HMODULE module) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

TComServer* TComServer::Instance() noexcept { return g_server; }

TComServer& TComServer::Create(HMODULE module) {
    if (!g_server) {
        g_server = new TComServer(module);
        SetServerModule(module);
    }
    return *g_server;
}

void TComServer::Destroy() noexcept {
    SetServerModule(nullptr);
    delete std::exchange(g_server, nullptr);
}

void TComServer::Abandon() noexcept {
    TComServer* server = std::exchange(g_server, nullptr);
    if (!server) return;
    SetServerModule(nullptr);
    for (TqvrFactory* factory : server->Factories()) factory->AbandonTypeInfo();
    server->typeLib_.Detach();
    delete server;
}

TComServer::TComServer(HMODULE module) : module_(module), fileName_(GetModulePath(module)) {}

TComServer::~TComServer() {
    ExclusiveLock lock(factoriesLock_);
    SetFirstServerClass(nullptr);
    factories_.clear();
}

void TComServer::AddFactory(std::unique_ptr<TqvrFactory> factory) {
    ExclusiveLock lock(factoriesLock_);
    // The first factory names the modules that no class connected.
    if (factories_.empty()) SetFirstServerClass(factory.get());
    factories_.push_back(std::move(factory));
}

TqvrFactory* TComServer::FindFactory(REFCLSID clsid) const {
    SharedLock lock(factoriesLock_);
    for (const auto& f : factories_)
        if (IsEqualCLSID(f->ClassID(), clsid)) return f.get();
    return nullptr;
}

std::vector<TqvrFactory*> TComServer::Factories() const {
    SharedLock lock(factoriesLock_);
    std::vector<TqvrFactory*> list;
    for (const auto& f : factories_) list.push_back(f.get());
    return list;
}

ITypeLib* TComServer::TypeLib() {
    ExclusiveLock lock(typeLibLock_);
    if (!typeLib_) {
        HRESULT hr = LoadTypeLibEx(fileName_.c_str(), REGKIND_NONE, &typeLib_);
        if (FAILED(hr)) RaiseOleError(hr, SysErrorMessage(hr));
    }
    return typeLib_.Get();
}

std::wstring TComServer::ServerName() {
    unique_bstr name;
    ThrowIfFailed(TypeLib()->GetDocumentation(-1, name.put(), nullptr, nullptr, nullptr));
    return name.str();
}

}  // namespace qvr
