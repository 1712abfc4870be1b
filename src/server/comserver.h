// The COM server object of the DLL: counts live objects and factory references for
// DllCanUnloadNow, keeps the list of class factories and the DLL's own type library.
#pragma once

#include "com/dll.h"
#include "com/locks.h"

#include <windows.h>
#include <oaidl.h>
#include <wrl/client.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace qvr {

class TqvrFactory;

class TComServer {
public:
    // The one server of the process: created on first use, destroyed once nothing uses it.
    static TComServer* Instance() noexcept;
    static TComServer& Create(HMODULE module);
    static void Destroy() noexcept;
    // Destroys the server without releasing its COM references (the type library and the
    // factories' type information): for the DLL's detach, where no other DLL may be called.
    static void Abandon() noexcept;

    explicit TComServer(HMODULE module);
    ~TComServer();

    HMODULE Module() const { return module_; }
    // Full path of the module that holds the server (the DLL, or a test program linking it).
    const std::wstring& ModuleFileName() const { return fileName_; }
    bool IsInprocServer() const { return true; }

    // Live objects are counted for the whole DLL (com/dll.h), by every layer that makes one.
    LONG ObjectCount() const { return DllObjectCount(); }
    LONG FactoryCount() const { return factoryCount_.load(); }
    LONG CountObject() { return DllAddRef(); }
    LONG UncountObject() { return DllRelease(); }
    LONG CountFactory() { return ++factoryCount_; }
    LONG UncountFactory() { return --factoryCount_; }

    // Factories register themselves; the server owns them until it is destroyed.
    void AddFactory(std::unique_ptr<TqvrFactory> factory);
    TqvrFactory* FindFactory(REFCLSID clsid) const;
    std::vector<TqvrFactory*> Factories() const;

    // The type library embedded in the module, loaded on first use and kept. Raises when it
    // cannot be loaded.
    ITypeLib* TypeLib();
    // The library's name (the first part of every ProgID).
    std::wstring ServerName();

    HRESULT CanUnloadNow() const { return DllObjectCount() == 0 && factoryCount_ == 0 ? S_OK : S_FALSE; }

private:
    HMODULE module_;
    std::wstring fileName_;
    std::atomic<LONG> factoryCount_{0};
    mutable SrwLock factoriesLock_;
    std::vector<std::unique_ptr<TqvrFactory>> factories_;
    SrwLock typeLibLock_;
    Microsoft::WRL::ComPtr<ITypeLib> typeLib_;
};

// Full path of a module, any length.
std::wstring GetModulePath(HMODULE module);

}  // namespace qvr
