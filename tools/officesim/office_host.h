// Office's side of a COM add-in: loads the add-in's class (from a DLL path, as a test does, or
// by ProgID through COM, as Office does), connects it with IDTExtensibility2 in Office's order,
// and releases and unloads it at the end.
#pragma once

#include "office_api.h"

#include <wrl/client.h>

#include <string>
#include <vector>

namespace officesim {

class OfficeHost {
public:
    OfficeHost() = default;
    ~OfficeHost();
    OfficeHost(const OfficeHost&) = delete;
    OfficeHost& operator=(const OfficeHost&) = delete;

    // Loads the DLL and creates the class through its own DllGetClassObject.
    HRESULT LoadFromDll(const std::wstring& dllPath, REFCLSID clsid);
    // Creates the class from a factory already at hand (an add-in linked into the process).
    HRESULT LoadFromFactory(IClassFactory* factory);
    // Creates the class by ProgID through COM (the registered in-process server).
    HRESULT LoadByProgId(const std::wstring& progId);

    // The custom array Office passes: VARIANTs with element 1 the host start mode.
    static SAFEARRAY* MakeCustomArray(LONG hostStartMode);

    HRESULT Connect(IDispatch* application, LONG connectMode, IDispatch* addInInst, SAFEARRAY* custom = nullptr);
    HRESULT StartupComplete(SAFEARRAY* custom = nullptr);
    HRESULT BeginShutdown(SAFEARRAY* custom = nullptr);
    HRESULT Disconnect(LONG removeMode, SAFEARRAY* custom = nullptr);
    // Drops Office's reference to the add-in object.
    void ReleaseAddIn();
    // The DLL's DllCanUnloadNow (S_OK when it may go); S_OK when nothing is loaded.
    HRESULT CanUnloadNow() const;
    // Frees the DLL when it allows it; true when it is gone.
    bool Unload();

    mso::IDTExtensibility2* AddIn() const { return addIn_.Get(); }
    HMODULE Module() const { return dll_; }
    // The error description the add-in published with its last failure, if any.
    static std::wstring LastErrorDescription(std::wstring* source = nullptr, GUID* iid = nullptr);

private:
    HMODULE dll_ = nullptr;
    Microsoft::WRL::ComPtr<mso::IDTExtensibility2> addIn_;
};

std::wstring HResultText(HRESULT hr);

}  // namespace officesim
