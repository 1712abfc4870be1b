// markup_bench: what Office's ribbon costs the add-in.
//   - GetCustomUI through the connection object for the add-in's own ribbon;
//   - GetCustomUI for ribbons of 10, 1,000 and 10,000 buttons, to see how the time grows;
//   - one "GetLabel_Callback" round trip (GetIDsOfNames + Invoke, as Office makes it) next to the
//     Invoke alone and to a bare Invoke on a trivial object, in the same run;
//   - the label of the last of 10,000 buttons next to that of the first;
//   - ribbon load (GetCustomUI, then GetLabel_Callback for every button) for 10, 1,000 and 10,000
//     buttons, per button against the per-button time at 10.
#include "bench_support.h"
#include "com/handles.h"
#include "module/module.h"
#include "ribbon/controls.h"
#include "ribbon/dispatch.h"
#include "ribbon/markup.h"
#include "ribbon_host.h"
#include "server/addin.h"
#include "server/comserver.h"
#include "server/factory.h"
#include "excel_sim.h"
#include "sim_object.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vortelix {
void RegisterAddInFactory(qvr::TComServer& server);
}

using Microsoft::WRL::ComPtr;
using qvr::unique_variant;

namespace {

using bench::Now;
using bench::PerCall;

const CLSID kClsid = {0x5A7C2E91, 0x3D48, 0x4B6F, {0x9E, 0x21, 0x7C, 0x0D, 0x4A, 0x8B, 0x3F, 0x65}};

// An object whose Invoke does nothing but answer a constant: the floor of any IDispatch call.
class TrivialDispatch : public officesim::SimObject<IDispatch> {
public:
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                                     UINT*) override {
        if (result) {
            VariantInit(result);
            result->vt = VT_I4;
            result->lVal = 1;
        }
        return S_OK;
    }
};

// A module holding `controls` buttons, 1,000 to a group (a group's limit), groups in one tab.
std::unique_ptr<qvr::TqvrCOMAddInModule> RibbonOf(int controls, qvr::TqvrFactory& factory) {
    auto module = std::make_unique<qvr::TqvrCOMAddInModule>(nullptr);
    module->SetConnection(nullptr, &factory);
    module->SetHostMajorVersion(16);
    auto* tab = new qvr::TqvrRibbonTab(module.get());
    tab->SetId(L"Tab");
    qvr::TqvrRibbonGroup* group = nullptr;
    for (int i = 0; i < controls; ++i) {
        if (i % 1000 == 0) {
            group = static_cast<qvr::TqvrRibbonGroup*>(tab->Controls().Add());
            group->SetId(L"Group" + std::to_wstring(i / 1000));
        }
        auto* button = group->Controls().Add(qvr::rctButton);
        button->SetId(L"Button" + std::to_wstring(i));
        button->SetCaption(L"Button " + std::to_wstring(i));
    }
    return module;
}

}  // namespace

int main() {
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
    qvr::TComServer& server = qvr::TComServer::Create(GetModuleHandleW(nullptr));
    vortelix::RegisterAddInFactory(server);
    qvr::TqvrFactory& factory = *server.FindFactory(kClsid);
    qvr::RegisterRibbonClasses();
    {
        // The add-in as Excel connects it.
        auto app = officesim::ExcelApplicationSim::Make<officesim::ExcelApplicationSim>();
        ComPtr<IDTExtensibility2> addIn;
        factory.CreateInstance(nullptr, __uuidof(IDTExtensibility2), reinterpret_cast<void**>(addIn.GetAddressOf()));
        addIn->OnConnection(app.Get(), 1, nullptr, nullptr);
        static_cast<qvr::TqvrAddin*>(addIn.Get())->COMAddInModule()->SetHostMajorVersion(16);
        ComPtr<IRibbonExtensibility> ribbon;
        addIn.As(&ribbon);
        qvr::unique_bstr ribbonId(std::wstring_view(L"Microsoft.Excel.Workbook"));
        size_t length = 0;
        double addInMarkup = PerCall(2000, [&] {
            qvr::unique_bstr xml;
            ribbon->GetCustomUI(ribbonId.get(), xml.put());
            length = SysStringLen(xml.get());
        });
        std::printf("GetCustomUI, the add-in's ribbon (%zu characters): %.1f us\n", length, addInMarkup * 1e6);
        std::printf("ROW|markup: GetCustomUI, the add-in's ribbon (%zu characters)|%.1f us|-|-\n", length,
                    addInMarkup * 1e6);

        // How the document's cost grows with the ribbon.
        std::printf("GetCustomUI by ribbon size (ms per document, us per button, time against the size before):\n");
        double previous = 0;
        int previousControls = 0;
        for (int controls : {10, 1000, 10000}) {
            auto module = RibbonOf(controls, factory);
            std::wstring xml;
            double t = PerCall(controls >= 10000 ? 3 : controls >= 1000 ? 20 : 2000,
                               [&] { qvr::GetCustomUI(*module, L"Microsoft.Excel.Workbook", xml); });
            std::printf("  %6d buttons: %9.3f ms  %6.2f us/button  %zu characters", controls, t * 1e3,
                        t * 1e6 / controls, xml.size());
            if (previous > 0) std::printf("  x%.1f for x%d buttons", t / previous, controls / previousControls);
            std::printf("\n");
            std::printf("ROW|markup scaling: GetCustomUI, %d buttons|%.3f ms (%.2f us/button)|%s|", controls, t * 1e3,
                        t * 1e6 / controls, previous > 0 ? "previous size" : "-");
            if (previous > 0)
                std::printf("x%.1f time for x%d buttons\n", t / previous, controls / previousControls);
            else
                std::printf("-\n");
            previous = t;
            previousControls = controls;
            module->SetConnection(nullptr, nullptr);
        }

        // One label as Office asks for it, against the floor of an IDispatch call.
        ComPtr<IDispatch> dispatch;
        addIn.As(&dispatch);
        auto control = officesim::RibbonControlSim::Make<officesim::RibbonControlSim>(
            L"qvrRibbonButtonA92C6E14F83B47D0B5E1094D7C26E8F3", L"", app->Window());
        unique_variant controlArg = unique_variant::FromDispatch(control.Get());
        DISPPARAMS params{&controlArg, nullptr, 1, 0};
        LPOLESTR name[] = {const_cast<LPOLESTR>(L"GetLabel_Callback")};
        const int n = 200000;
        double roundTrip = PerCall(n, [&] {
            DISPID id = 0;
            dispatch->GetIDsOfNames(IID_NULL, name, 1, LOCALE_USER_DEFAULT, &id);
            unique_variant result;
            dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result.put(), nullptr, nullptr);
        });
        double invokeOnly = PerCall(n, [&] {
            unique_variant result;
            dispatch->Invoke(14, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result.put(), nullptr, nullptr);
        });
        auto trivial = TrivialDispatch::Make<TrivialDispatch>();
        double bare = PerCall(n, [&] {
            unique_variant result;
            trivial->Invoke(14, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result.put(), nullptr, nullptr);
        });
        std::printf("GetLabel_Callback, GetIDsOfNames + Invoke: %.3f us\n", roundTrip * 1e6);
        std::printf("GetLabel_Callback, Invoke alone:           %.3f us\n", invokeOnly * 1e6);
        std::printf("bare Invoke on a trivial object:           %.3f us\n", bare * 1e6);
        std::printf("ROW|per callback: GetLabel_Callback, Invoke alone|%.3f us|%.3f us bare Invoke|x%.1f\n",
                    invokeOnly * 1e6, bare * 1e6, invokeOnly / bare);
        std::printf("ROW|per callback: GetLabel_Callback, GetIDsOfNames + Invoke|%.3f us|%.3f us bare Invoke|x%.1f\n",
                    roundTrip * 1e6, bare * 1e6, roundTrip / bare);

        // The registry lookup behind every callback, on a large ribbon: the last of 10,000 against
        // the first, on the same module.
        {
            auto module = RibbonOf(10000, factory);
            const std::wstring progId = factory.ProgID();  // the target only views it
            qvr::TqvrRibbonDispatchTarget target{module.get(), dispatch.Get(), nullptr, factory.ErrorIID(), progId};
            ComPtr<ITypeInfo> info;
            dispatch->GetTypeInfo(0, 0, &info);
            target.typeInfo = info.Get();
            auto labelOf = [&](const wchar_t* id) {
                auto control = officesim::RibbonControlSim::Make<officesim::RibbonControlSim>(id, L"", nullptr);
                unique_variant arg = unique_variant::FromDispatch(control.Get());
                DISPPARAMS params{&arg, nullptr, 1, 0};
                return PerCall(20000, [&] {
                    unique_variant result;
                    qvr::RibbonInvoke(target, 14, DISPATCH_METHOD, &params, result.put(), nullptr, nullptr);
                });
            };
            // Alternated, best of each, so that the machine's load falls on both alike.
            double first = 1e30, last = 1e30;
            for (int round = 0; round < 3; ++round) {
                first = std::min(first, labelOf(L"Button0"));
                last = std::min(last, labelOf(L"Button9999"));
            }
            std::printf("GetLabel_Callback for the last of 10,000 registered buttons: %.3f us (first: %.3f us)\n",
                        last * 1e6, first * 1e6);
            std::printf("ROW|per callback: GetLabel_Callback, last of 10,000 buttons|%.3f us|%.3f us first of the same "
                        "10,000|x%.2f; %s\n",
                        last * 1e6, first * 1e6, last / first,
                        last / first <= 1.5 ? "target <= 1.5x: met" : "target <= 1.5x: NOT met");
            module->SetConnection(nullptr, nullptr);
        }

        // Ribbon load as Office makes it: the document, then the label of every control, by size.
        {
            const std::wstring progId = factory.ProgID();  // the targets only view it
            auto loadOf = [&](qvr::TqvrCOMAddInModule& module, int controls) {
                qvr::TqvrRibbonDispatchTarget target{&module, dispatch.Get(), nullptr, factory.ErrorIID(), progId};
                ComPtr<ITypeInfo> info;
                dispatch->GetTypeInfo(0, 0, &info);
                target.typeInfo = info.Get();
                std::vector<unique_variant> args;
                args.reserve(static_cast<size_t>(controls));
                std::vector<ComPtr<officesim::RibbonControlSim>> sims;
                for (int i = 0; i < controls; ++i) {
                    sims.push_back(officesim::RibbonControlSim::Make<officesim::RibbonControlSim>(
                        L"Button" + std::to_wstring(i), L"", nullptr));
                    args.push_back(unique_variant::FromDispatch(sims.back().Get()));
                }
                return PerCall(controls >= 10000 ? 1 : controls >= 1000 ? 5 : 500, [&] {
                    std::wstring xml;
                    qvr::GetCustomUI(module, L"Microsoft.Excel.Workbook", xml);
                    for (auto& arg : args) {
                        DISPPARAMS params{&arg, nullptr, 1, 0};
                        unique_variant result;
                        qvr::RibbonInvoke(target, 14, DISPATCH_METHOD, &params, result.put(), nullptr, nullptr);
                    }
                });
            };
            double firstPerControl = 0;
            for (int controls : {10, 1000, 10000}) {
                auto module = RibbonOf(controls, factory);
                double t = loadOf(*module, controls);
                double perControl = t / controls;
                if (controls == 10) firstPerControl = perControl;
                std::printf("ROW|ribbon load: GetCustomUI + GetLabel_Callback for each of %d buttons|%.3f ms (%.2f us per "
                            "button)|%s|",
                            controls, t * 1e3, perControl * 1e6,
                            controls == 10 ? "-" : "per button at 10 buttons");
                if (controls == 10)
                    std::printf("-\n");
                else
                    std::printf("x%.2f per button; %s\n", perControl / firstPerControl,
                                perControl / firstPerControl <= 1.5 ? "linear (within 1.5x per button)"
                                                                    : "NOT linear (over 1.5x per button)");
                module->SetConnection(nullptr, nullptr);
            }
        }
        addIn->OnDisconnection(0, nullptr);
    }
    qvr::TComServer::Destroy();
    CoUninitialize();
    return 0;
}
