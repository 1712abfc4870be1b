#include "dispatch_support.h"

#include "server/addin.h"
#include "support/recording_module.h"
#include "support/test_support.h"

using Microsoft::WRL::ComPtr;
using qvr::unique_variant;

namespace dispatchtest {

namespace {

Builder& PendingBuilder() {
    static Builder builder;
    return builder;
}

std::unique_ptr<qvr::TqvrCOMAddInModule> BuiltModule(qvr::TComponent* owner) {
    qvr::RegisterRibbonClasses();
    auto module = std::make_unique<qvr::TqvrCOMAddInModule>(owner);
    module->SetAddInName(L"Dispatch Test");
    PendingBuilder()(*module);
    return module;
}

}  // namespace

Tree::Tree(qvr::TqvrCOMAddInModule& m) {
    tab = new qvr::TqvrRibbonTab(&m);
    tab->SetId(L"T");
    group = dynamic_cast<qvr::TqvrRibbonGroup*>(tab->Controls().Add());
    group->SetId(L"G");
}

void DispatchFixture::Connect(Builder build) {
    qvr::TqvrFactory& factory = qvrtest::Factory();
    const qvr::TqvrModuleClass own = factory.ModuleClass();
    if (build) {
        PendingBuilder() = std::move(build);
        factory.SetModuleClass(BuiltModule);
    }
    ASSERT_EQ(S_OK, factory.CreateInstance(nullptr, __uuidof(IDTExtensibility2),
                                           reinterpret_cast<void**>(addIn.GetAddressOf())));
    HRESULT hr = addIn->OnConnection(app.Get(), 1, nullptr, nullptr);
    factory.SetModuleClass(own);
    PendingBuilder() = nullptr;
    ASSERT_EQ(S_OK, hr);
    ASSERT_EQ(S_OK, addIn.As(&dispatch));
}

void DispatchFixture::TearDown() {
    if (addIn) {
        EXPECT_EQ(S_OK, addIn->OnDisconnection(0, nullptr));
    }
    dispatch.Reset();
    addIn.Reset();
    EXPECT_EQ(S_OK, qvr::TComServer::Instance()->CanUnloadNow()) << "a COM reference was left behind";
}

qvr::TqvrCOMAddInModule& DispatchFixture::Module() { return *qvrtest::AsAddin(addIn.Get())->COMAddInModule(); }

unique_variant DispatchFixture::Control(const std::wstring& id) {
    auto control = officesim::RibbonControlSim::Make<officesim::RibbonControlSim>(id, L"", app->Window());
    return unique_variant::FromDispatch(control.Get());
}

HRESULT DispatchFixture::Call(const wchar_t* name, std::vector<unique_variant> args, unique_variant* result,
                              EXCEPINFO* excep) {
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) return hr;
    std::vector<VARIANT> reversed(args.size());
    for (size_t i = 0; i < args.size(); ++i) reversed[args.size() - 1 - i] = args[i];
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    EXCEPINFO local{};
    UINT argErr = 0;
    hr = dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result ? result->put() : nullptr,
                          excep ? excep : &local, &argErr);
    SysFreeString(local.bstrSource);
    SysFreeString(local.bstrDescription);
    SysFreeString(local.bstrHelpFile);
    return hr;
}

unique_variant DispatchFixture::Ask(const wchar_t* name, const std::wstring& controlId, std::optional<int> index) {
    std::vector<unique_variant> args;
    args.push_back(Control(controlId));
    if (index) args.push_back(unique_variant::FromInt(*index));
    unique_variant result;
    EXPECT_EQ(S_OK, Call(name, std::move(args), &result)) << name;
    return result;
}

std::wstring Show(const VARIANT& v) {
    switch (v.vt) {
        case VT_EMPTY: return L"empty";
        case VT_BSTR: return L"s:" + std::wstring(v.bstrVal, SysStringLen(v.bstrVal));
        case VT_BOOL: return v.boolVal == VARIANT_TRUE ? L"b:true" : v.boolVal == VARIANT_FALSE ? L"b:false" : L"b:?";
        case VT_I4: return L"i:" + std::to_wstring(v.lVal);
        case VT_UNKNOWN: return v.punkVal ? L"interface" : L"none";
        case VT_DISPATCH: return v.pdispVal ? L"dispatch" : L"none";
        default: return L"vt:" + std::to_wstring(v.vt);
    }
}

}  // namespace dispatchtest
