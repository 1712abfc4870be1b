// What the callback tests share: a connection object made by the add-in's class factory, whose
// module is the add-in's own or one a test builds, called the way Office calls the ribbon
// callbacks (GetIDsOfNames, then Invoke with an IRibbonControl of the stand-in's).
#pragma once

#include "com/handles.h"
#include "excel_sim.h"
#include "module/module.h"
#include "ribbon/controls.h"
#include "ribbon/ribbon.h"
#include "ribbon_host.h"

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace dispatchtest {

// A module's tree: tab "T" with group "G".
struct Tree {
    explicit Tree(qvr::TqvrCOMAddInModule& m);
    template <typename T>
    T* Add(qvr::TqvrRibbonControls& c, qvr::TqvrRibbonControlType type, const std::wstring& id) {
        auto* control = dynamic_cast<T*>(c.Add(type));
        control->SetId(id);
        return control;
    }
    template <typename T>
    T* Add(qvr::TqvrRibbonControlType type, const std::wstring& id) {
        return Add<T>(group->Controls(), type, id);
    }
    qvr::TqvrRibbonTab* tab;
    qvr::TqvrRibbonGroup* group;
};

using Builder = std::function<void(qvr::TqvrCOMAddInModule&)>;

class DispatchFixture : public ::testing::Test {
protected:
    void TearDown() override;

    // A new connection object, connected as Excel connects it, whose module is the add-in's own
    // (no builder) or a framework module named "Dispatch Test" built by `build`.
    void Connect(Builder build = {});
    qvr::TqvrCOMAddInModule& Module();
    // The component registered under `id`, as its class.
    template <typename T>
    T* Component(const std::wstring& id) {
        return dynamic_cast<T*>(Module().FindRibbonControl(id));
    }

    // Office's IRibbonControl for a control id, with Excel's window as context.
    qvr::unique_variant Control(const std::wstring& id);
    // GetIDsOfNames for `name`, then Invoke with `args` in Office's order.
    HRESULT Call(const wchar_t* name, std::vector<qvr::unique_variant> args, qvr::unique_variant* result = nullptr,
                 EXCEPINFO* excep = nullptr);
    // A property callback for a control (and an item index), which must succeed.
    qvr::unique_variant Ask(const wchar_t* name, const std::wstring& controlId, std::optional<int> index = {});

    Microsoft::WRL::ComPtr<officesim::ExcelApplicationSim> app =
        officesim::ExcelApplicationSim::Make<officesim::ExcelApplicationSim>();
    Microsoft::WRL::ComPtr<IDTExtensibility2> addIn;
    Microsoft::WRL::ComPtr<IDispatch> dispatch;
};

// A variant as text for comparisons: "s:text", "b:true", "i:42", "none" (no picture), "empty".
std::wstring Show(const VARIANT& v);

}  // namespace dispatchtest
