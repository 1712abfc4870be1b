#include "server/factory.h"

#include "com/dialogs.h"
#include "com/error.h"
#include "com/guards.h"
#include "com/handles.h"
#include "server/addin.h"
#include "server/comserver.h"
#include "server/registration.h"

namespace qvr {

TqvrFactory& TqvrFactory::Create(TComServer& server, TComObjectCreator objectClass, REFCLSID clsid,
                                 TqvrModuleClass moduleClass) {
    std::unique_ptr<TqvrFactory> factory(new TqvrFactory(server, objectClass, clsid, moduleClass));
    TqvrFactory& ref = *factory;
    server.AddFactory(std::move(factory));
    return ref;
}

TqvrFactory::TqvrFactory(TComServer& server, TComObjectCreator objectClass, REFCLSID clsid,
                         TqvrModuleClass moduleClass)
    : server_(server), objectClass_(objectClass), clsid_(clsid), FModuleClass(moduleClass) {
    // Class name and description come from the coclass's entry in the type library; its default
    // dispatch interface is the interface named in error information.
    ITypeLib* lib = server.TypeLib();
    Microsoft::WRL::ComPtr<ITypeInfo> info;
    wchar_t guidText[40] = {};
    StringFromGUID2(clsid, guidText, 40);
    if (FAILED(lib->GetTypeInfoOfGuid(clsid, &info)))
        throw EqvrError(FormatText(L"Incorrect type information for class %s", {guidText}));
    unique_bstr name, doc;
    info->GetDocumentation(MEMBERID_NIL, name.put(), doc.put(), nullptr, nullptr);
    className_ = name.str();
    description_ = doc.str();

    bool found = false;
    if (const TypeAttr attr(info.Get()); attr) {
        for (UINT i = 0; i < attr->cImplTypes && !found; ++i) {
            INT flags = 0;
            HREFTYPE ref = 0;
            Microsoft::WRL::ComPtr<ITypeInfo> impl;
            if (FAILED(info->GetImplTypeFlags(i, &flags)) || !(flags & IMPLTYPEFLAG_FDEFAULT) ||
                (flags & IMPLTYPEFLAG_FSOURCE) || FAILED(info->GetRefTypeOfImplType(i, &ref)) ||
                FAILED(info->GetRefTypeInfo(ref, &impl)))
                continue;
            const TypeAttr implAttr(impl.Get());
            if (implAttr && (implAttr->wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE))) {
                errorIID_ = implAttr->guid;
                found = true;
            }
        }
    }
    if (!found) throw EqvrError(FormatText(L"Dispatch interface missing from class %s", {className_}));
    classInfo_ = info;
    serverName_ = server.ServerName();

    // The DLL's own folder, with its trailing backslash.
    wchar_t path[262] = {};
    GetModuleFileNameW(server.Module(), path, 262);
    FAddInPath = path;
    FAddInPath.erase(FAddInPath.find_last_of(L"\\/:") + 1);
}

std::wstring TqvrFactory::ProgID() const { return serverName_ + L"." + className_; }

HRESULT STDMETHODCALLTYPE TqvrFactory::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE TqvrFactory::AddRef() { return static_cast<ULONG>(server_.CountFactory()); }

ULONG STDMETHODCALLTYPE TqvrFactory::Release() { return static_cast<ULONG>(server_.UncountFactory()); }

HRESULT STDMETHODCALLTYPE TqvrFactory::LockServer(BOOL lock) {
    HRESULT hr = CoLockObjectExternal(static_cast<IClassFactory*>(this), lock, TRUE);
    if (lock)
        server_.CountObject();
    else
        server_.UncountObject();
    return hr;
}

HRESULT STDMETHODCALLTYPE TqvrFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer && !IsEqualIID(riid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
    TqvrAddin* object = nullptr;
    // The one boundary where the user is told: whoever asked for the object (Office) shows
    // nothing of its own, so the message goes to a dialog, and the answer is E_UNEXPECTED
    // whatever the error.
    const HRESULT created = ComBoundary(
        [&] {
            object = CreateComObject(outer);
            return S_OK;
        },
        [](const EqvrError& e) {
            std::wstring text = e.Message();
            if (!text.empty() && text.back() > L'.') text += L'.';
            LogErrorShown(L"class factory", text);
            ShowMessageDialog(text, L"ZUR Error", MB_OK | MB_ICONSTOP | MB_SETFOREGROUND);
            return E_UNEXPECTED;
        });
    if (FAILED(created)) return created;
    // new, QueryInterface, Release: an object whose query failed goes with the creation's own
    // reference, one that answered lives on in the caller's.
    HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
}

TqvrAddin* TqvrFactory::CreateComObject(IUnknown*) {
    if (FAddInInstance) {
        FAddInInstance->AddRef();
        return FAddInInstance;
    }
    FAddInInstance = objectClass_(*this);
    return FAddInInstance;
}

void TqvrFactory::UpdateRegistry(bool reg) { UpdateFactoryRegistry(*this, reg); }

std::wstring TqvrFactory::GetRegKey(TqvrOfficeHostApp index) const {
    const HostInfo& host = kHosts[index];
    return FormatText(host.officeKeyForm ? L"\\Software\\Microsoft\\Office\\%s\\AddIns\\%s"
                                         : L"\\Software\\Microsoft\\%s\\AddIns\\%s",
                      {host.registryName, ProgID()});
}

}  // namespace qvr
