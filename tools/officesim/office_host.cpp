#include "office_host.h"

#include <cstdio>

namespace officesim {

namespace {
using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using CanUnloadFn = HRESULT(STDAPICALLTYPE*)();
}  // namespace

std::wstring HResultText(HRESULT hr) {
    switch (hr) {
        case S_OK: return L"S_OK";
        case S_FALSE: return L"S_FALSE";
        case E_FAIL: return L"E_FAIL";
        case E_UNEXPECTED: return L"E_UNEXPECTED";
        case E_POINTER: return L"E_POINTER";
        case E_NOINTERFACE: return L"E_NOINTERFACE";
        case CLASS_E_CLASSNOTAVAILABLE: return L"CLASS_E_CLASSNOTAVAILABLE";
        default: {
            wchar_t text[16];
            swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(hr));
            return text;
        }
    }
}

OfficeHost::~OfficeHost() {
    addIn_.Reset();
    if (dll_) FreeLibrary(dll_);
}

HRESULT OfficeHost::LoadFromDll(const std::wstring& dllPath, REFCLSID clsid) {
    dll_ = LoadLibraryW(dllPath.c_str());
    if (!dll_) return HRESULT_FROM_WIN32(GetLastError());
    auto getClassObject = reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(GetProcAddress(dll_, "DllGetClassObject")));
    if (!getClassObject) return E_FAIL;
    Microsoft::WRL::ComPtr<IClassFactory> factory;
    HRESULT hr = getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(factory.GetAddressOf()));
    if (FAILED(hr)) return hr;
    return factory->CreateInstance(nullptr, __uuidof(mso::IDTExtensibility2), reinterpret_cast<void**>(addIn_.GetAddressOf()));
}

HRESULT OfficeHost::LoadFromFactory(IClassFactory* factory) {
    if (!factory) return E_POINTER;
    return factory->CreateInstance(nullptr, __uuidof(mso::IDTExtensibility2), reinterpret_cast<void**>(addIn_.GetAddressOf()));
}

HRESULT OfficeHost::LoadByProgId(const std::wstring& progId) {
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(progId.c_str(), &clsid);
    if (FAILED(hr)) return hr;
    return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(mso::IDTExtensibility2),
                            reinterpret_cast<void**>(addIn_.GetAddressOf()));
}

SAFEARRAY* OfficeHost::MakeCustomArray(LONG hostStartMode) {
    SAFEARRAYBOUND bound{2, 1};  // Office's arrays are 1-based
    SAFEARRAY* array = SafeArrayCreate(VT_VARIANT, 1, &bound);
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = hostStartMode;
    LONG index = 1;
    SafeArrayPutElement(array, &index, &v);
    return array;
}

HRESULT OfficeHost::Connect(IDispatch* application, LONG connectMode, IDispatch* addInInst, SAFEARRAY* custom) {
    if (!addIn_) return E_POINTER;
    return addIn_->OnConnection(application, connectMode, addInInst, custom ? &custom : nullptr);
}

HRESULT OfficeHost::StartupComplete(SAFEARRAY* custom) {
    return addIn_ ? addIn_->OnStartupComplete(custom ? &custom : nullptr) : E_POINTER;
}

HRESULT OfficeHost::BeginShutdown(SAFEARRAY* custom) {
    return addIn_ ? addIn_->OnBeginShutdown(custom ? &custom : nullptr) : E_POINTER;
}

HRESULT OfficeHost::Disconnect(LONG removeMode, SAFEARRAY* custom) {
    return addIn_ ? addIn_->OnDisconnection(removeMode, custom ? &custom : nullptr) : E_POINTER;
}

void OfficeHost::ReleaseAddIn() { addIn_.Reset(); }

HRESULT OfficeHost::CanUnloadNow() const {
    if (!dll_) return S_OK;
    auto canUnload = reinterpret_cast<CanUnloadFn>(reinterpret_cast<void*>(GetProcAddress(dll_, "DllCanUnloadNow")));
    return canUnload ? canUnload() : E_FAIL;
}

bool OfficeHost::Unload() {
    if (!dll_) return true;
    if (CanUnloadNow() != S_OK) return false;
    FreeLibrary(dll_);
    dll_ = nullptr;
    return true;
}

std::wstring OfficeHost::LastErrorDescription(std::wstring* source, GUID* iid) {
    Microsoft::WRL::ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, &info) != S_OK || !info) return {};
    BSTR text = nullptr;
    info->GetDescription(&text);
    std::wstring result = text ? text : L"";
    SysFreeString(text);
    if (source) {
        BSTR s = nullptr;
        info->GetSource(&s);
        *source = s ? s : L"";
        SysFreeString(s);
    }
    if (iid) info->GetGUID(iid);
    return result;
}

}  // namespace officesim
