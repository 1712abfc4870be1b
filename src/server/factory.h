// The class factory of the add-in's COM class: hands out one connection object per process and
// knows the add-in's module class.
#pragma once

#include "module/addin_class.h"
#include "module/module.h"
#include "module/types.h"

#include <oaidl.h>
#include <wrl/client.h>

#include <string>

namespace qvr {

class TComServer;
class TqvrAddin;

class TqvrFactory : public IClassFactory, public IqvrAddInClass {
public:
    // Creates the connection object class (e.g. TcoVORTELIXExcel) for this factory.
    using TComObjectCreator = TqvrAddin* (*)(TqvrFactory& factory);

    // Registers itself in the server's factory list; raises when the type library has no usable
    // entry for the class.
    static TqvrFactory& Create(TComServer& server, TComObjectCreator objectClass, REFCLSID clsid,
                               TqvrModuleClass moduleClass);

    TqvrFactory(const TqvrFactory&) = delete;
    TqvrFactory& operator=(const TqvrFactory&) = delete;
    virtual ~TqvrFactory() = default;

    // IUnknown: the factory lives until the DLL is unloaded; the counts only feed
    // DllCanUnloadNow.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    // IClassFactory
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

    // The one connection object of the process while it lives, else a new one; either comes
    // with a reference of its own for the caller.
    virtual TqvrAddin* CreateComObject(IUnknown* controller);
    // Registration and unregistration of the class and its Office add-in keys.
    virtual void UpdateRegistry(bool reg);
    // The add-in key path of a host, absolute from the hive root.
    std::wstring GetRegKey(TqvrOfficeHostApp index) const override;

    const std::wstring& FilePath() const { return FAddInPath; }
    TComServer& ComServer() const { return server_; }
    const GUID& ClassID() const { return clsid_; }
    const std::wstring& ClassName() const { return className_; }
    const std::wstring& Description() const { return description_; }
    std::wstring ProgID() const override;
    const GUID& ErrorIID() const { return errorIID_; }
    ITypeInfo* ClassInfo() const { return classInfo_.Get(); }
    TqvrModuleClass ModuleClass() const { return FModuleClass; }
    // Replaces the module class that the connection object and registration create (tests).
    void SetModuleClass(TqvrModuleClass moduleClass) { FModuleClass = moduleClass; }
    // Forgets the class's type information without releasing it (the server's Abandon).
    void AbandonTypeInfo() noexcept { classInfo_.Detach(); }

    // Kept by the connection object: set on creation, cleared by its destructor.
    TqvrAddin* FAddInInstance = nullptr;

private:
    TqvrFactory(TComServer& server, TComObjectCreator objectClass, REFCLSID clsid, TqvrModuleClass moduleClass);

    TComServer& server_;
    TComObjectCreator objectClass_;
    GUID clsid_;
    std::wstring className_;
    std::wstring description_;
    std::wstring serverName_;
    GUID errorIID_{};
    Microsoft::WRL::ComPtr<ITypeInfo> classInfo_;
    TqvrModuleClass FModuleClass;
    std::wstring FAddInPath;
};

}  // namespace qvr
