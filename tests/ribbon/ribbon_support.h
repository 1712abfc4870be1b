// What the ribbon tests share: Office's ribbon object that records what it is asked to refresh,
// and a module with one tab to build trees in.
#pragma once

#include "module/module.h"
#include "ribbon/controls.h"
#include "ribbon/ribbon.h"
#include "sim_object.h"

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <memory>
#include <string>
#include <vector>

namespace ribbontest {

// Office's IRibbonUI: every call is recorded as text ("Invalidate", "InvalidateControl:id",
// "ActivateTab:id"); each answers `result`.
class RecordingRibbonUI : public officesim::SimObject<IRibbonUI> {
public:
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invalidate() override { return Record(L"Invalidate"); }
    HRESULT STDMETHODCALLTYPE InvalidateControl(BSTR id) override { return Record(L"InvalidateControl:" + Text(id)); }
    HRESULT STDMETHODCALLTYPE InvalidateControlMso(BSTR id) override {
        return Record(L"InvalidateControlMso:" + Text(id));
    }
    HRESULT STDMETHODCALLTYPE ActivateTab(BSTR id) override { return Record(L"ActivateTab:" + Text(id)); }
    HRESULT STDMETHODCALLTYPE ActivateTabMso(BSTR id) override { return Record(L"ActivateTabMso:" + Text(id)); }
    HRESULT STDMETHODCALLTYPE ActivateTabQ(BSTR id, BSTR ns) override {
        return Record(L"ActivateTabQ:" + Text(id) + L"," + Text(ns));
    }

    std::vector<std::wstring> calls;
    HRESULT result = S_OK;

private:
    static std::wstring Text(BSTR s) { return s ? std::wstring(s, SysStringLen(s)) : std::wstring(); }
    HRESULT Record(std::wstring call) {
        calls.push_back(std::move(call));
        return result;
    }
};

// A module of the framework's own class (defaults only, nothing loaded) holding one tab.
class RibbonFixture : public ::testing::Test {
protected:
    RibbonFixture();

    // Ribbon loaded: from here on setters make Office refresh.
    RecordingRibbonUI& LoadRibbon();

    // A new control of class T in `collection`.
    template <typename T>
    T* Add(qvr::TqvrRibbonControls& collection, qvr::TqvrRibbonControlType type) {
        auto* c = dynamic_cast<T*>(collection.Add(type));
        EXPECT_NE(nullptr, c);
        return c;
    }
    qvr::TqvrRibbonGroup* AddGroup() { return Add<qvr::TqvrRibbonGroup>(tab->Controls(), qvr::rctGroup); }

    std::unique_ptr<qvr::TqvrCOMAddInModule> module;
    qvr::TqvrRibbonTab* tab = nullptr;
    Microsoft::WRL::ComPtr<RecordingRibbonUI> ribbon;
};

// The keys of the module's registry, in order.
std::vector<std::wstring> RegistryKeys(qvr::TqvrCOMAddInModule& module);

}  // namespace ribbontest
