// The module's helpers for Office's built-in controls (asked through the host's command bars,
// late bound) and for selecting tabs.
#include "module/module.h"
#include "ribbon_support.h"
#include "sim_object.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <map>

using namespace qvr;
using Microsoft::WRL::ComPtr;

namespace {

// Office's command bars: answers the *Mso methods by name and records each call.
class CommandBarsSim : public officesim::SimObject<_CommandBars> {
public:
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT, LCID, DISPID* ids) override {
        auto it = kMethods.find(names[0]);
        if (it == kMethods.end()) return DISP_E_UNKNOWNNAME;
        ids[0] = it->second;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                                     UINT*) override {
        std::wstring call = std::to_wstring(id);
        for (UINT i = params->cArgs; i-- > 0;) {
            unique_variant text;
            VariantChangeType(&text, &params->rgvarg[i], 0, VT_BSTR);
            call += L" " + std::wstring(text.bstrVal ? text.bstrVal : L"?");
        }
        calls.push_back(call);
        if (FAILED(failure)) return failure;
        if (!result) return S_OK;
        VariantInit(result);
        if (id <= 3) {
            result->vt = VT_BOOL;
            result->boolVal = VARIANT_TRUE;
        } else if (id <= 6) {
            result->vt = VT_BSTR;
            result->bstrVal = SysAllocString(L"Office text");
        } else if (id == 7 && picture) {
            result->vt = VT_DISPATCH;
            result->pdispVal = picture.Get();
            picture->AddRef();
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Application(IDispatch** v) override {
        *v = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Creator(LONG* v) override {
        *v = 0;
        return S_OK;
    }

    inline static const std::map<std::wstring, DISPID> kMethods = {
        {L"GetEnabledMso", 1}, {L"GetPressedMso", 2},   {L"GetVisibleMso", 3}, {L"GetLabelMso", 4},
        {L"GetScreentipMso", 5}, {L"GetSupertipMso", 6}, {L"GetImageMso", 7},   {L"ExecuteMso", 8}};
    std::vector<std::wstring> calls;
    HRESULT failure = S_OK;
    ComPtr<IPictureDisp> picture;
};

// A picture object as Office hands out for built-in images.
class PictureSim : public officesim::SimObject<IPictureDisp> {
public:
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return DISP_E_MEMBERNOTFOUND;
    }
};

// Excel's application object with its "CommandBars" property, found by name.
class HostWithCommandBars : public officesim::SimObject<ExcelApplication> {
public:
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT, LCID, DISPID* ids) override {
        if (std::wstring(names[0]) != L"CommandBars") return DISP_E_UNKNOWNNAME;
        ids[0] = 1439;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                                     UINT*) override {
        if (id != 1439) return DISP_E_MEMBERNOTFOUND;
        if (FAILED(failure)) return failure;
        VariantInit(result);
        result->vt = VT_DISPATCH;
        result->pdispVal = bars;
        if (bars) bars->AddRef();
        return S_OK;
    }
    IDispatch* bars = nullptr;
    HRESULT failure = S_OK;
};

class BuiltInControls : public ::testing::Test {
public:
    void SetUp() override {
        host->bars = bars.Get();
        module.SetHostApp(host.Get());
    }
    void TearDown() override { module.SetHostApp(nullptr); }
    ComPtr<CommandBarsSim> bars = CommandBarsSim::Make<CommandBarsSim>();
    ComPtr<HostWithCommandBars> host = HostWithCommandBars::Make<HostWithCommandBars>();
    TqvrCOMAddInModule module{nullptr};
};

TEST_F(BuiltInControls, AreAskedThroughTheHostsCommandBars) {
    bars->picture = PictureSim::Make<PictureSim>();
    EXPECT_TRUE(module.GetRibbonControlEnabled(L"FileSave"));
    EXPECT_TRUE(module.GetRibbonControlPressed(L"Bold"));
    EXPECT_TRUE(module.GetRibbonControlVisible(L"Copy"));
    EXPECT_EQ(L"Office text", module.GetRibbonControlCaption(L"Paste"));
    EXPECT_EQ(L"Office text", module.GetRibbonControlScreentip(L"Paste"));
    EXPECT_EQ(L"Office text", module.GetRibbonControlSupertip(L"Paste"));
    EXPECT_EQ(bars->picture.Get(), module.GetRibbonControlImage(L"Paste", 32, 16).Get());
    module.RibbonControlExecute(L"FileSave");
    EXPECT_EQ((std::vector<std::wstring>{L"1 FileSave", L"2 Bold", L"3 Copy", L"4 Paste", L"5 Paste", L"6 Paste",
                                         L"7 Paste 32 16", L"8 FileSave"}),
              bars->calls);
}

TEST_F(BuiltInControls, WithoutCommandBarsAnswerNothing) {
    struct Case {
        const char* what;
        std::function<void(BuiltInControls&)> arrange;
    };
    for (const Case& c : {Case{"no host", [](BuiltInControls& t) { t.module.SetHostApp(nullptr); }},
                          Case{"the host has no command bars", [](BuiltInControls& t) { t.host->bars = nullptr; }},
                          Case{"the host refuses them", [](BuiltInControls& t) { t.host->failure = E_ACCESSDENIED; }},
                          Case{"not Office's command bars",
                               [](BuiltInControls& t) { t.host->bars = t.host.Get(); }}}) {
        SetUp();
        host->failure = S_OK;
        c.arrange(*this);
        EXPECT_FALSE(module.GetRibbonControlEnabled(L"FileSave")) << c.what;
        EXPECT_FALSE(module.GetRibbonControlPressed(L"FileSave")) << c.what;
        EXPECT_FALSE(module.GetRibbonControlVisible(L"FileSave")) << c.what;
        EXPECT_EQ(L"", module.GetRibbonControlCaption(L"FileSave")) << c.what;
        EXPECT_EQ(L"", module.GetRibbonControlSupertip(L"FileSave")) << c.what;
        EXPECT_EQ(nullptr, module.GetRibbonControlImage(L"FileSave", 16, 16).Get()) << c.what;
        module.RibbonControlExecute(L"FileSave");
    }
    EXPECT_EQ(std::vector<std::wstring>{}, bars->calls);
}

TEST_F(BuiltInControls, AFailingCallReachesTheCaller) {
    bars->failure = E_INVALIDARG;
    EXPECT_THROW(module.GetRibbonControlEnabled(L"NoSuchControl"), EqvrError);
    EXPECT_THROW(module.GetRibbonControlCaption(L"NoSuchControl"), EqvrError);
    try {
        module.RibbonControlExecute(L"NoSuchControl");
        ADD_FAILURE() << "ExecuteMso failed quietly";
    } catch (const EqvrError& e) {
        EXPECT_EQ(E_INVALIDARG, e.Code());
    }
}

// ---- tabs ----

class TabActivation : public ribbontest::RibbonFixture {};

TEST_F(TabActivation, HappensFromOffice2010OnOnceTheRibbonIsLoaded) {
    struct Case {
        int version;
        bool loaded;
        std::vector<std::wstring> calls;
    };
    for (const Case& c : {Case{14, true, {L"ActivateTabMso:TabHome", L"ActivateTabQ:Orders,urn:vortelix"}},
                          Case{16, true, {L"ActivateTabMso:TabHome", L"ActivateTabQ:Orders,urn:vortelix"}},
                          Case{13, true, {}}, Case{12, true, {}}, Case{16, false, {}}}) {
        module->SetRibbonUI(nullptr);
        ribbon.Reset();
        auto& ui = LoadRibbon();
        if (!c.loaded) module->SetRibbonUI(nullptr);
        module->SetHostMajorVersion(c.version);
        module->ActivateRibbonTabMso(L"TabHome");
        module->ActivateRibbonTabQ(L"Orders", L"urn:vortelix");
        EXPECT_EQ(c.calls, ui.calls) << c.version;
    }
}

TEST_F(TabActivation, OfficesRefusalGoesToTheErrorReport) {
    qvrtest::DialogRecorder dialogs;
    module->SetAddInName(L"Tabs");
    LoadRibbon().result = E_FAIL;
    module->SetHostMajorVersion(16);
    module->ActivateRibbonTabMso(L"TabHome");
    module->ActivateRibbonTabQ(L"Orders", L"urn:vortelix");
    ASSERT_EQ(2u, dialogs.dialogs.size());
    EXPECT_EQ(0u, dialogs.dialogs[0].text.find(L"Tabs error: the add-in has fired an exception.\r\n"));
}

}  // namespace
