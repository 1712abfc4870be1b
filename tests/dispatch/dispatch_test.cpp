// The ribbon callbacks as Office calls them on the connection object: name resolution, the
// answers for the add-in's own controls and for ids that name nothing, id markers, the
// property-changing hook, list items, actions, command overrides, the ribbon's load callback and
// what a failing callback gives Office.
#include "dispatch_support.h"

#include "com/error.h"
#include "office_host.h"
#include "ribbon/markup.h"
#include "support/test_support.h"
#include "support/addin_facts.h"

#include <gtest/gtest.h>

#include <set>

using namespace qvr;
using namespace dispatchtest;
using Microsoft::WRL::ComPtr;

namespace {

const std::wstring kTab = L"qvrRibbonTab3E8A51D7C2F04B69A1D5E78C20B4F913";
const std::wstring kGroup = L"qvrRibbonGroup7D14E9A2B05C4F38962E1AC4D8F35B07";
const std::wstring kButton = qvrtest::kAddInButtonId;
const std::wstring kTip = L"Bestelling verwerken naar het VORTELIX platform";

std::vector<unique_variant> Args(unique_variant a) {
    std::vector<unique_variant> v;
    v.push_back(std::move(a));
    return v;
}
template <typename... More>
std::vector<unique_variant> Args(unique_variant a, More... more) {
    std::vector<unique_variant> v = Args(std::move(more)...);
    v.insert(v.begin(), std::move(a));
    return v;
}

// ---- names ----

class Names : public DispatchFixture {
protected:
    void SetUp() override { Connect(); }
    HRESULT Resolve(std::vector<std::wstring> names, std::vector<DISPID>& ids) {
        std::vector<LPOLESTR> raw;
        for (auto& n : names) raw.push_back(n.data());
        ids.assign(names.size(), 12345);
        return dispatch->GetIDsOfNames(IID_NULL, raw.data(), static_cast<UINT>(raw.size()), LOCALE_USER_DEFAULT,
                                       ids.data());
    }
};

// Office knows the callbacks by the names in the markup; it resolves each name and invokes the
// id it gets. Each name must lead to a member of its own.
const wchar_t* const kCallbackNames[] = {
    L"RibbonLoaded_Callback",         L"GetImages_Callback",          L"GetVisible_Callback",
    L"GetKeyTip_Callback",            L"GetLabel_Callback",           L"GetEnabled_Callback",
    L"GetPressed_Callback",           L"GetImage_Callback",           L"GetSuperTip_Callback",
    L"GetScreenTip_Callback",         L"GetSize_Callback",            L"GetShowLabel_Callback",
    L"GetShowImage_Callback",         L"GetDescription_Callback",     L"GetText_Callback",
    L"GetItemCount_Callback",         L"GetItemID_Callback",          L"GetItemImage_Callback",
    L"GetItemLabel_Callback",         L"GetItemScreenTip_Callback",   L"GetItemSuperTip_Callback",
    L"GetShowItemImage_Callback",     L"GetSelectedItemIndex_Callback", L"GetSelectedItemId_Callback",
    L"GetItemHeight_Callback",        L"GetItemWidth_Callback",       L"GetContent_Callback",
    L"GetTitle_Callback",             L"OnActionCommon_Callback",     L"OnActionCommonRepurposed_Callback",
    L"OnActionState_Callback",        L"OnActionStateRepurposed_Callback", L"OnActionSelected_Callback",
    L"OnChange_Callback",             L"OnBackstageShow_Callback",    L"OnBackstageHide_Callback",
    L"GetTarget_Callback",            L"GetAltText_Callback",         L"GetHelperText_Callback",
    L"GetStyle_Callback",
};

TEST_F(Names, EveryCallbackNameLeadsToAMemberOfItsOwn) {
    qvrtest::DialogRecorder dialogs;  // a callback given the wrong arguments may report it
    std::set<DISPID> seen;
    for (const wchar_t* name : kCallbackNames) {
        std::vector<DISPID> ids;
        ASSERT_EQ(S_OK, Resolve({name}, ids)) << name;
        EXPECT_TRUE(seen.insert(ids[0]).second) << name << " shares its id with another callback";
        // Invoked with a control that names nothing, so that no action runs.
        unique_variant control = Control(L"NoSuchControl");
        DISPPARAMS params{&control, nullptr, 1, 0};
        unique_variant result;
        HRESULT hr = dispatch->Invoke(ids[0], IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result.put(),
                                      nullptr, nullptr);
        EXPECT_NE(DISP_E_MEMBERNOTFOUND, hr) << name;
    }
}

TEST_F(Names, OnlyTheExactNameResolves) {
    const std::wstring unknown[] = {
        L"getLabel_Callback", L"GETLABEL_CALLBACK", L"GetLabel", L"", L"GetLabel_Callback ", L" GetLabel_Callback",
        std::wstring(L"GetLabel_Callback") + L'\u0100',  // a character beyond 8 bits does not end the name
        L"GetLabel_Callback" + std::wstring(300, L'x'),
    };
    for (const std::wstring& name : unknown) {
        std::vector<DISPID> ids;
        EXPECT_EQ(DISP_E_UNKNOWNNAME, Resolve({name}, ids)) << name.c_str();
        EXPECT_EQ(DISPID_UNKNOWN, ids[0]);
    }
}

TEST_F(Names, OnlyTheFirstOfSeveralNamesIsResolved) {
    std::vector<DISPID> ids;
    std::vector<DISPID> label;
    ASSERT_EQ(S_OK, Resolve({L"GetLabel_Callback"}, label));
    EXPECT_EQ(S_OK, Resolve({L"GetLabel_Callback", L"GetSize_Callback", L"Anything"}, ids));
    EXPECT_EQ((std::vector<DISPID>{label[0], DISPID_UNKNOWN, DISPID_UNKNOWN}), ids);
    EXPECT_EQ(DISP_E_UNKNOWNNAME, Resolve({L"Anything", L"GetLabel_Callback"}, ids));
    EXPECT_EQ((std::vector<DISPID>{DISPID_UNKNOWN, DISPID_UNKNOWN}), ids);
}

TEST_F(Names, IdsNoNameLeadsToGetTheTypeLibrarysAnswer) {
    std::set<DISPID> named;
    for (const wchar_t* name : kCallbackNames) {
        std::vector<DISPID> ids;
        ASSERT_EQ(S_OK, Resolve({name}, ids)) << name;
        named.insert(ids[0]);
    }
    for (DISPID id = -2; id <= 1000; ++id) {
        if (named.count(id) || (id > 100 && id % 97 != 0)) continue;  // every small id, a few larger ones
        unique_variant control = Control(kButton);
        DISPPARAMS params{&control, nullptr, 1, 0};
        unique_variant result;
        EXPECT_EQ(DISP_E_MEMBERNOTFOUND,
                  dispatch->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, result.put(), nullptr, nullptr))
            << id;
    }
}

// Office learns the callbacks' names from the markup alone: every name the markup writes, for
// every kind of control, must resolve to a member of the connection object.
TEST_F(DispatchFixture, EveryCallbackTheMarkupNamesResolves) {
    Connect([](TqvrCOMAddInModule& m) {
        Tree t(m);
        t.Add<TqvrRibbonButton>(rctButton, L"B");
        t.Add<TqvrRibbonCheckBox>(rctCheckBox, L"C");
        t.Add<TqvrRibbonEditBox>(rctEditBox, L"E");
        t.Add<TqvrRibbonComboBox>(rctComboBox, L"Co");
        t.Add<TqvrRibbonDropDown>(rctDropDown, L"D");
        t.Add<TqvrRibbonGallery>(rctGallery, L"Ga");
        t.Add<TqvrRibbonLabel>(rctLabel, L"L");
        auto* split = t.Add<TqvrRibbonSplitButton>(rctSplitButton, L"S");
        t.Add<TqvrRibbonButton>(split->Controls(), rctButton, L"SB");
        auto* menu = t.Add<TqvrRibbonMenu>(rctMenu, L"M");
        menu->SetDynamic(true);
        t.Add<TqvrRibbonMenuSeparator>(menu->Controls(), rctMenuSeparator, L"MS");
        t.Add<TqvrRibbonDialogBoxLauncher>(rctDialogBoxLauncher, L"DL");
    });
    std::wstring xml;
    GetCustomUI(Module(), L"Microsoft.Excel.Workbook", xml);
    std::set<std::wstring> names;
    for (size_t at = xml.find(L"_Callback\""); at != std::wstring::npos; at = xml.find(L"_Callback\"", at + 1)) {
        size_t start = xml.rfind(L'"', at) + 1;
        names.insert(xml.substr(start, at + 9 - start));
    }
    // The document's own two and the getters and actions of the controls above.
    for (const wchar_t* expected : {L"RibbonLoaded_Callback", L"GetImages_Callback", L"GetLabel_Callback",
                                    L"OnActionCommon_Callback", L"OnActionState_Callback", L"OnChange_Callback",
                                    L"OnActionSelected_Callback", L"GetItemCount_Callback", L"GetContent_Callback"})
        EXPECT_EQ(1u, names.count(expected)) << expected;
    for (const std::wstring& name : names) {
        DISPID id = DISPID_UNKNOWN;
        LPOLESTR raw[] = {const_cast<LPOLESTR>(name.c_str())};
        EXPECT_EQ(S_OK, dispatch->GetIDsOfNames(IID_NULL, raw, 1, LOCALE_USER_DEFAULT, &id)) << name;
        EXPECT_NE(DISPID_UNKNOWN, id) << name;
    }
}

// ---- answers ----

class AddInAnswers : public DispatchFixture {
protected:
    void SetUp() override { Connect(); }
};

TEST_F(AddInAnswers, AreTheConfiguredTextsSizesAndStates) {
    struct Case {
        const wchar_t* callback;
        std::wstring control;
        std::wstring answer;
    };
    for (const Case& c : {
             Case{L"GetLabel_Callback", kTab, L"s:VORTELIX"},
             Case{L"GetLabel_Callback", kGroup, L"s:Bestelling"},
             Case{L"GetLabel_Callback", kButton, L"s:Bestelling verwerken"},
             Case{L"GetSize_Callback", kButton, L"i:1"},
             Case{L"GetScreenTip_Callback", kButton, L"s:" + kTip},
             Case{L"GetDescription_Callback", kButton, L"s:" + kTip},
             Case{L"GetSuperTip_Callback", kButton, L"s:"},
             Case{L"GetKeyTip_Callback", kButton, L"s:"},
             Case{L"GetShowImage_Callback", kButton, L"b:true"},
             Case{L"GetShowLabel_Callback", kButton, L"b:true"},
             Case{L"GetEnabled_Callback", kButton, L"b:true"},
             Case{L"GetVisible_Callback", kTab, L"b:true"},
             Case{L"GetVisible_Callback", kButton, L"b:true"},
             Case{L"GetLabel_Callback", L"QVRRIBBONBUTTONA92C6E14F83B47D0B5E1094D7C26E8F3", L"s:Bestelling verwerken"},
         })
        EXPECT_EQ(c.answer, Show(Ask(c.callback, c.control))) << c.callback << " " << c.control.c_str();
}

TEST_F(AddInAnswers, ForAnIdThatNamesNoControlAreTheDefaults) {
    struct Case {
        const wchar_t* callback;
        std::wstring answer;
        std::optional<int> index;
    };
    const std::optional<int> none;
    for (const Case& c : {
             Case{L"GetLabel_Callback", L"s:", none},          Case{L"GetVisible_Callback", L"b:true", none},
             Case{L"GetEnabled_Callback", L"b:true", none},    Case{L"GetPressed_Callback", L"b:false", none},
             Case{L"GetShowLabel_Callback", L"b:true", none},  Case{L"GetShowImage_Callback", L"b:false", none},
             Case{L"GetSize_Callback", L"i:0", none},          Case{L"GetText_Callback", L"s:", none},
             Case{L"GetItemCount_Callback", L"i:0", none},     Case{L"GetSelectedItemIndex_Callback", L"i:0", none},
             Case{L"GetItemHeight_Callback", L"i:0", none},    Case{L"GetTitle_Callback", L"s:", none},
             Case{L"GetStyle_Callback", L"s:", none},          Case{L"GetImage_Callback", L"none", none},
             Case{L"GetContent_Callback", L"s:", none},        Case{L"GetItemLabel_Callback", L"s:", 3},
             Case{L"GetShowItemImage_Callback", L"b:true", 0}, Case{L"GetItemImage_Callback", L"none", 0},
         })
        EXPECT_EQ(c.answer, Show(Ask(c.callback, L"NoSuchControl", c.index))) << c.callback;
}

// ---- markers, wrapped inner buttons and letter case ----

class Markers : public DispatchFixture {
protected:
    void SetUp() override {
        Connect([](TqvrCOMAddInModule& m) {
            Tree t(m);
            auto* split = t.Add<TqvrRibbonSplitButton>(rctSplitButton, L"SB");
            split->SetCaption(L"Split");
            split->SetVisible(false);
            t.Add<TqvrRibbonButton>(rctButton, L"B")->SetCaption(L"Button");
        });
    }
};

TEST_F(Markers, AreUndoneAsTheCallbackRequires) {
    struct Case {
        const wchar_t* callback;
        std::wstring control;
        std::wstring answer;
    };
    for (const Case& c : {
             Case{L"GetLabel_Callback", L"SBwrapped", L"s:Split"},          // inner button reaches the split button
             Case{L"GetVisible_Callback", L"SB", L"b:false"},
             Case{L"GetVisible_Callback", L"SBwrapped", L"b:true"},         // no "wrapped" removal: nothing found
             Case{L"GetLabel_Callback", L"B_qvr_context_menu_1", L"s:Button"},
             Case{L"GetLabel_Callback", L"B_qvr_context_menu_9999", L"s:Button"},
             Case{L"GetLabel_Callback", L"B_qvr_context_menu_12345", L"s:"},  // only four digits go
             Case{L"GetLabel_Callback", L"Bwrapped_qvr_context_menu_7", L"s:Button"},
             Case{L"GetLabel_Callback", L"b", L"s:Button"},                   // ids ignore letter case
             Case{L"GetLabel_Callback", L"SBWRAPPED", L"s:"},                 // the marker does not
         })
        EXPECT_EQ(c.answer, Show(Ask(c.callback, c.control))) << c.callback << " " << c.control.c_str();
}

TEST_F(Markers, TheInnerButtonsActionReachesTheSplitButton) {
    std::vector<std::wstring> clicks;
    Component<TqvrRibbonSplitButton>(L"SB")->OnClick = [&](TObject* sender, IRibbonControl* control) {
        unique_bstr id;
        control->get_Id(id.put());
        clicks.push_back(sender->ClassName() + L" " + id.str());
    };
    EXPECT_EQ(S_OK, Call(L"OnActionCommon_Callback", Args(Control(L"SBwrapped"))));
    EXPECT_EQ(std::vector<std::wstring>{L"TqvrRibbonSplitButton SBwrapped"}, clicks);
}

// ---- the property-changing hook ----

class PropertyChanging : public DispatchFixture {
protected:
    void SetUp() override {
        Connect([](TqvrCOMAddInModule& m) {
            Tree t(m);
            auto* b = t.Add<TqvrRibbonButton>(rctButton, L"B");
            b->SetCaption(L"Original");
            b->SetImageIndex(0);
            auto* gallery = t.Add<TqvrRibbonGallery>(rctGallery, L"Gal");
            gallery->SetItemWidth(40);
        });
    }
};

TEST_F(PropertyChanging, ReplacesTheLabelAndThePicture) {
    auto picture = officesim::RibbonControlSim::Make<officesim::RibbonControlSim>(L"any object", L"", nullptr);
    std::vector<std::wstring> seen;
    auto* button = Component<TqvrRibbonButton>(L"B");
    button->OnPropertyChanging = [&](TObject* sender, TqvrRibbonControlPropertyType kind, unique_variant& value,
                                     IDispatch* context) {
        EXPECT_EQ(button, sender);
        EXPECT_EQ(app->Window(), context) << "Office's context is handed through";
        seen.push_back(std::to_wstring(kind) + L"=" + Show(value));
        if (kind == rcptCaption) value = unique_variant::FromString(L"Replaced");
        if (kind == rcptGlyph) {
            value.reset();
            value.vt = VT_UNKNOWN;
            value.punkVal = static_cast<IUnknown*>(static_cast<officesim::mso::IRibbonControl*>(picture.Get()));
            value.punkVal->AddRef();
        }
        if (kind == rcptEnabled) value = unique_variant::FromInt(0);  // converted to the answer's kind
    };
    EXPECT_EQ(L"s:Replaced", Show(Ask(L"GetLabel_Callback", L"B")));
    EXPECT_EQ(L"b:false", Show(Ask(L"GetEnabled_Callback", L"B")));
    unique_variant image = Ask(L"GetImage_Callback", L"B");
    ASSERT_EQ(VT_UNKNOWN, image.vt);
    ComPtr<IUnknown> expected;
    picture.As(&expected);
    ComPtr<IUnknown> got;
    image.punkVal->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(got.GetAddressOf()));
    EXPECT_EQ(expected.Get(), got.Get());
    EXPECT_EQ((std::vector<std::wstring>{std::to_wstring(rcptCaption) + L"=s:Original",
                                         std::to_wstring(rcptEnabled) + L"=b:true",
                                         std::to_wstring(rcptGlyph) + L"=empty"}),
              seen);
}

TEST_F(PropertyChanging, ItemSizesOfMinusOneReadAsZero) {
    // The gallery's ItemHeight is left at -1 ("not set"); its ItemWidth is 40.
    EXPECT_EQ(L"i:0", Show(Ask(L"GetItemHeight_Callback", L"Gal")));
    EXPECT_EQ(L"i:40", Show(Ask(L"GetItemWidth_Callback", L"Gal")));
    // A handler's -1 is read the same way.
    Component<TqvrRibbonGallery>(L"Gal")->OnPropertyChanging = [](TObject*, TqvrRibbonControlPropertyType,
                                                                  unique_variant& value, IDispatch*) {
        value = unique_variant::FromInt(-1);
    };
    EXPECT_EQ(L"i:0", Show(Ask(L"GetItemWidth_Callback", L"Gal")));
}

TEST_F(PropertyChanging, AFailingHandlerIsReportedAndTheValueStands) {
    qvrtest::DialogRecorder dialogs;
    Component<TqvrRibbonButton>(L"B")->OnPropertyChanging = [](TObject*, TqvrRibbonControlPropertyType,
                                                              unique_variant&, IDispatch*) {
        throw EqvrError(L"no label for you");
    };
    EXPECT_EQ(L"s:Original", Show(Ask(L"GetLabel_Callback", L"B")));
    ASSERT_EQ(1u, dialogs.dialogs.size());
    EXPECT_EQ(L"Dispatch Test error: the add-in has fired an exception.\r\nno label for you", dialogs.dialogs[0].text);
}

// ---- list items ----

class Items : public DispatchFixture {
protected:
    void SetUp() override {
        Connect([](TqvrCOMAddInModule& m) {
            Tree t(m);
            auto* combo = t.Add<TqvrRibbonComboBox>(rctComboBox, L"Fruit");
            for (const wchar_t* name : {L"Apples", L"Pears"}) {
                TqvrRibbonItem* item = combo->Items().AddItem();
                item->SetId(std::wstring(L"I") + name);
                item->SetCaption(name);
                item->SetScreenTip(std::wstring(L"All ") + name);
            }
            combo->Items().GetItem(1)->SetImageIndex(0);
            t.Add<TqvrRibbonButton>(rctButton, L"Plain");
        });
    }
};

TEST_F(Items, AreAnsweredByIndex) {
    struct Case {
        const wchar_t* callback;
        std::optional<int> index;
        std::wstring answer;
    };
    for (const Case& c : {Case{L"GetItemCount_Callback", {}, L"i:2"},
                          Case{L"GetItemID_Callback", 0, L"s:IApples"},
                          Case{L"GetItemLabel_Callback", 1, L"s:Pears"},
                          Case{L"GetItemScreenTip_Callback", 1, L"s:All Pears"},
                          Case{L"GetItemSuperTip_Callback", 0, L"s:"},
                          Case{L"GetShowItemImage_Callback", 0, L"b:false"},
                          Case{L"GetShowItemImage_Callback", 1, L"b:true"}})
        EXPECT_EQ(c.answer, Show(Ask(c.callback, L"Fruit", c.index))) << c.callback;
}

TEST_F(Items, AnIndexOutsideTheListIsAFailedCallback) {
    struct Case {
        const wchar_t* callback;
        std::wstring control;
        int index;
    };
    for (const Case& c : {Case{L"GetItemLabel_Callback", L"Fruit", 2}, Case{L"GetItemLabel_Callback", L"Fruit", -1},
                          Case{L"GetItemID_Callback", L"Plain", 0}, Case{L"GetItemImage_Callback", L"Fruit", 5}}) {
        EXCEPINFO excep{};
        excep.wCode = 0x1234;  // garbage from the caller: scode and wCode exclude each other
        unique_variant result;
        EXPECT_EQ(DISP_E_EXCEPTION,
                  Call(c.callback, Args(Control(c.control), unique_variant::FromInt(c.index)), &result, &excep))
            << c.callback << " " << c.index;
        const std::wstring message = L"List index out of bounds (" + std::to_wstring(c.index) + L")";
        // IDispatch's contract: the exception is described in EXCEPINFO...
        EXPECT_EQ(0, excep.wCode);
        EXPECT_EQ(DISP_E_BADINDEX, excep.scode);  // the code the error was raised with
        EXPECT_EQ(L"VORTELIXExcel.coVORTELIXExcel", std::wstring(excep.bstrSource ? excep.bstrSource : L"(none)"));
        EXPECT_EQ(message, std::wstring(excep.bstrDescription ? excep.bstrDescription : L"(none)"));
        EXPECT_EQ(nullptr, excep.pfnDeferredFillIn);
        SysFreeString(excep.bstrSource);
        SysFreeString(excep.bstrDescription);
        SysFreeString(excep.bstrHelpFile);
        // ...and published as error information too.
        std::wstring source;
        EXPECT_EQ(message, officesim::OfficeHost::LastErrorDescription(&source));
        EXPECT_EQ(L"VORTELIXExcel.coVORTELIXExcel", source);
    }
}

TEST_F(Items, TheItemHookSeesTheIndex) {
    std::vector<std::wstring> seen;
    Component<TqvrRibbonComboBox>(L"Fruit")->OnItemPropertyChanging =
        [&](TObject*, TqvrRibbonControlPropertyType kind, unique_variant& value, IDispatch*, int32_t index) {
            seen.push_back(std::to_wstring(kind) + L"@" + std::to_wstring(index));
            value = unique_variant::FromString(L"Item " + std::to_wstring(index));
        };
    EXPECT_EQ(L"s:Item 1", Show(Ask(L"GetItemLabel_Callback", L"Fruit", 1)));
    EXPECT_EQ(std::vector<std::wstring>{std::to_wstring(rcptItemCaption) + L"@1"}, seen);
}

// ---- actions ----

class Actions : public DispatchFixture {
protected:
    void SetUp() override {
        Connect([](TqvrCOMAddInModule& m) {
            Tree t(m);
            t.Add<TqvrRibbonButton>(rctButton, L"Go");
            t.Add<TqvrRibbonButton>(rctButton, L"Toggle")->SetToggleButton(true);
            auto* drop = t.Add<TqvrRibbonDropDown>(rctDropDown, L"Pick");
            drop->Items().AddItem()->SetId(L"First");
            drop->Items().AddItem()->SetId(L"Second");
            t.Add<TqvrRibbonEditBox>(rctEditBox, L"Edit");
        });
        auto record = [this](TObject* sender, IRibbonControl* control) {
            unique_bstr id;
            control->get_Id(id.put());
            events.push_back(sender->ClassName() + L" " + id.str());
        };
        Component<TqvrRibbonButton>(L"Go")->OnClick = record;
        Component<TqvrRibbonButton>(L"Toggle")->OnClick = record;
        Component<TqvrRibbonDropDown>(L"Pick")->OnChange = record;
        Component<TqvrRibbonEditBox>(L"Edit")->OnChange = record;
    }
    std::vector<std::wstring> events;
};

TEST_F(Actions, StoreWhatOfficeReportsAndRaiseTheEvent) {
    EXPECT_EQ(S_OK, Call(L"OnActionCommon_Callback", Args(Control(L"Go"))));
    EXPECT_EQ(S_OK, Call(L"OnActionState_Callback", Args(Control(L"Toggle"), unique_variant::FromBool(true))));
    EXPECT_EQ(S_OK, Call(L"OnActionSelected_Callback",
                         Args(Control(L"Pick"), unique_variant::FromString(L"Second"), unique_variant::FromInt(1))));
    EXPECT_EQ(S_OK, Call(L"OnChange_Callback", Args(Control(L"Edit"), unique_variant::FromString(L"typed"))));
    EXPECT_EQ((std::vector<std::wstring>{L"TqvrRibbonButton Go", L"TqvrRibbonButton Toggle",
                                         L"TqvrRibbonDropDown Pick", L"TqvrRibbonEditBox Edit"}),
              events);
    EXPECT_TRUE(Component<TqvrRibbonButton>(L"Toggle")->Pressed());
    EXPECT_EQ(L"Second", Component<TqvrRibbonDropDown>(L"Pick")->SelectedItemId());
    EXPECT_EQ(1, Component<TqvrRibbonDropDown>(L"Pick")->SelectedItemIndex());
    EXPECT_EQ(L"typed", Component<TqvrRibbonEditBox>(L"Edit")->Text());
    // What the actions stored is what Office reads back.
    EXPECT_EQ(L"b:true", Show(Ask(L"GetPressed_Callback", L"Toggle")));
    EXPECT_EQ(L"s:typed", Show(Ask(L"GetText_Callback", L"Edit")));
}

TEST_F(Actions, AFailingHandlerIsReportedAndOfficeIsToldSuccess) {
    qvrtest::DialogRecorder dialogs;
    Component<TqvrRibbonButton>(L"Go")->OnClick = [](TObject*, IRibbonControl*) { throw EqvrError(L"boom"); };
    EXPECT_EQ(S_OK, Call(L"OnActionCommon_Callback", Args(Control(L"Go"))));
    ASSERT_EQ(1u, dialogs.dialogs.size());
    EXPECT_EQ(L"Dispatch Test error: the add-in has fired an exception.\r\nboom", dialogs.dialogs[0].text);
    EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), dialogs.dialogs[0].style & MB_ICONMASK);
    EXPECT_FALSE(Component<TqvrRibbonButton>(L"Go")->InUse()) << "the button can be pressed again";
}

TEST_F(Actions, WithoutAControlOrAResultVariantNothingBreaks) {
    EXPECT_EQ(S_OK, Call(L"OnActionCommon_Callback", Args(Control(L"Nobody"))));
    // Office may pass no result variant: the answer is computed and dropped.
    unique_variant control = Control(L"Go");
    DISPPARAMS params{&control, nullptr, 1, 0};
    EXPECT_EQ(S_OK, dispatch->Invoke(14, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr));
    EXPECT_EQ(std::vector<std::wstring>{}, events);
}

TEST_F(Actions, ArgumentsOfTheWrongKindFailTheCallback) {
    auto notAControl = officesim::ExcelApplicationSim::Make<officesim::ExcelApplicationSim>();
    struct Case {
        const char* what;
        const wchar_t* callback;
        std::vector<unique_variant> args;
    };
    std::vector<Case> cases;
    cases.push_back({"no arguments", L"GetLabel_Callback", {}});
    cases.push_back({"a number for the control", L"GetLabel_Callback", Args(unique_variant::FromInt(7))});
    cases.push_back({"an object that is no ribbon control", L"OnActionCommon_Callback",
                     Args(unique_variant::FromDispatch(notAControl.Get()))});
    cases.push_back({"a null control", L"GetVisible_Callback", Args(unique_variant::FromDispatch(nullptr))});
    cases.push_back({"no index", L"GetItemLabel_Callback", Args(Control(L"Pick"))});
    cases.push_back({"an index that is no number", L"GetItemLabel_Callback",
                     Args(Control(L"Pick"), unique_variant::FromString(L"first"))});
    cases.push_back({"no pressed state", L"OnActionState_Callback", Args(Control(L"Toggle"))});
    for (Case& c : cases) {
        unique_variant result;
        EXCEPINFO excep{};
        EXPECT_EQ(DISP_E_EXCEPTION, Call(c.callback, std::move(c.args), &result, &excep)) << c.what;
        const std::wstring published = officesim::OfficeHost::LastErrorDescription();
        EXPECT_FALSE(published.empty()) << c.what;
        EXPECT_EQ(published, std::wstring(excep.bstrDescription ? excep.bstrDescription : L"(none)")) << c.what;
        EXPECT_TRUE(FAILED(excep.scode)) << c.what;
        EXPECT_EQ(L"VORTELIXExcel.coVORTELIXExcel", std::wstring(excep.bstrSource ? excep.bstrSource : L"(none)"))
            << c.what;
        SysFreeString(excep.bstrSource);
        SysFreeString(excep.bstrDescription);
        SysFreeString(excep.bstrHelpFile);
    }
    EXPECT_EQ(std::vector<std::wstring>{}, events);
}

// ---- command overrides and the Backstage view ----

TEST_F(AddInAnswers, OverriddenCommandsGiveOfficesCancelFlagBack) {
    // No command of this add-in is overridden: the flag comes back as Office passed it, in the
    // variant it passed it by reference.
    for (bool cancel : {false, true}) {
        unique_variant flag = unique_variant::FromBool(cancel);
        unique_variant byRef;
        byRef.vt = VT_BYREF | VT_VARIANT;
        byRef.pvarVal = &flag;
        EXPECT_EQ(S_OK, Call(L"OnActionCommonRepurposed_Callback", Args(Control(L"FileSave"), std::move(byRef))));
        EXPECT_EQ(L"b:" + std::wstring(cancel ? L"true" : L"false"), Show(flag));

        VARIANT_BOOL raw = cancel ? VARIANT_TRUE : VARIANT_FALSE;
        unique_variant boolRef;
        boolRef.vt = VT_BYREF | VT_BOOL;
        boolRef.pboolVal = &raw;
        EXPECT_EQ(S_OK, Call(L"OnActionStateRepurposed_Callback",
                             Args(Control(L"Bold"), unique_variant::FromBool(true), std::move(boolRef))));
        EXPECT_EQ(cancel ? VARIANT_TRUE : VARIANT_FALSE, raw);
    }
    // A flag Office could not read back is refused.
    EXPECT_EQ(DISP_E_EXCEPTION,
              Call(L"OnActionCommonRepurposed_Callback", Args(Control(L"FileSave"), unique_variant::FromBool(true))));
}

TEST_F(AddInAnswers, BackstageCallbacksDoNothing) {
    EXPECT_EQ(S_OK, Call(L"OnBackstageShow_Callback", Args(unique_variant::FromDispatch(app.Get()))));
    EXPECT_EQ(S_OK, Call(L"OnBackstageHide_Callback", Args(unique_variant::FromDispatch(app.Get()))));
}

// Touching it is the fault: every QueryInterface, AddRef or Release is counted.
struct Untouchable : IUnknown {
    int touched = 0;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
        ++touched;
        if (ppv) *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++touched, 2; }
    ULONG STDMETHODCALLTYPE Release() override { return ++touched, 1; }
};

// Office passes each callback its own number of arguments. One too few or one too many is a
// caller with another signature in mind: the callback answers DISP_E_BADPARAMCOUNT through
// EXCEPINFO and reads no argument, neither those passed nor the slots on either side of them.
TEST_F(AddInAnswers, EveryCallbackRefusesOneArgumentTooFewOrTooMany) {
    struct Case {
        const wchar_t* name;
        UINT arguments;  // what Office passes: control (or ribbon, image id), index, state, text, cancel flag
    };
    const Case cases[] = {
        {L"RibbonLoaded_Callback", 1},      {L"GetImages_Callback", 1},           {L"GetVisible_Callback", 1},
        {L"GetKeyTip_Callback", 1},         {L"GetLabel_Callback", 1},            {L"GetEnabled_Callback", 1},
        {L"GetPressed_Callback", 1},        {L"GetImage_Callback", 1},            {L"GetSuperTip_Callback", 1},
        {L"GetScreenTip_Callback", 1},      {L"GetSize_Callback", 1},             {L"GetShowLabel_Callback", 1},
        {L"GetShowImage_Callback", 1},      {L"GetDescription_Callback", 1},      {L"GetText_Callback", 1},
        {L"GetItemCount_Callback", 1},      {L"GetItemID_Callback", 2},           {L"GetItemImage_Callback", 2},
        {L"GetItemLabel_Callback", 2},      {L"GetItemScreenTip_Callback", 2},    {L"GetItemSuperTip_Callback", 2},
        {L"GetShowItemImage_Callback", 2},  {L"GetSelectedItemIndex_Callback", 1}, {L"GetSelectedItemId_Callback", 1},
        {L"GetItemHeight_Callback", 1},     {L"GetItemWidth_Callback", 1},        {L"GetContent_Callback", 1},
        {L"GetTitle_Callback", 1},          {L"OnActionCommon_Callback", 1},      {L"OnActionCommonRepurposed_Callback", 2},
        {L"OnActionState_Callback", 2},     {L"OnActionStateRepurposed_Callback", 3}, {L"OnActionSelected_Callback", 3},
        {L"OnChange_Callback", 2},          {L"OnBackstageShow_Callback", 1},     {L"OnBackstageHide_Callback", 1},
        {L"GetTarget_Callback", 1},         {L"GetAltText_Callback", 1},          {L"GetHelperText_Callback", 1},
        {L"GetStyle_Callback", 1},
    };
    EXPECT_EQ(std::size(kCallbackNames), std::size(cases)) << "every callback has a row";
    Untouchable poison;
    for (const Case& c : cases) {
        DISPID id = DISPID_UNKNOWN;
        LPOLESTR names[] = {const_cast<LPOLESTR>(c.name)};
        ASSERT_EQ(S_OK, dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id));
        for (UINT passed : {c.arguments - 1, c.arguments + 1}) {
            // The passed arguments with one more slot on each side, every one of them untouchable.
            std::vector<VARIANT> slots(passed + 2);
            for (VARIANT& v : slots) {
                v.vt = VT_UNKNOWN;
                v.punkVal = &poison;
            }
            DISPPARAMS params{slots.data() + 1, nullptr, passed, 0};
            VARIANT result;
            VariantInit(&result);
            EXCEPINFO excep{};
            UINT argErr = 0;
            EXPECT_EQ(DISP_E_EXCEPTION,
                      dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, &excep, &argErr))
                << testing::PrintToString(std::wstring(c.name)) << " with " << passed << " arguments";
            EXPECT_EQ(DISP_E_BADPARAMCOUNT, excep.scode) << testing::PrintToString(std::wstring(c.name)) << " with " << passed;
            EXPECT_EQ(VT_EMPTY, result.vt);
            SysFreeString(excep.bstrSource);
            SysFreeString(excep.bstrDescription);
            SysFreeString(excep.bstrHelpFile);
        }
    }
    EXPECT_EQ(0, poison.touched) << "an argument was read although the count was wrong";
}

// ---- the ribbon is loaded ----

class Loading : public DispatchFixture {
protected:
    void SetUp() override { Connect(); }
    ComPtr<officesim::RibbonUISim> ui = officesim::RibbonUISim::Make<officesim::RibbonUISim>();
};

TEST_F(Loading, KeepsOfficesRibbonAndRaisesTheEvent) {
    std::vector<IRibbonUI*> loaded;
    Module().OnRibbonLoaded = [&](TObject* sender, IRibbonUI* ribbon) {
        EXPECT_EQ(&Module(), sender);
        loaded.push_back(ribbon);
    };
    EXPECT_EQ(S_OK, Call(L"RibbonLoaded_Callback", Args(unique_variant::FromDispatch(ui.Get()))));
    IRibbonUI* offices = qvrtest::AsSeenThroughIID<IRibbonUI>(static_cast<officesim::mso::IRibbonUI*>(ui.Get()));
    EXPECT_EQ(offices, Module().RibbonUI());
    EXPECT_EQ(std::vector<IRibbonUI*>{offices}, loaded);
    // The kept ribbon is how a component asks Office to show a new value.
    dynamic_cast<TqvrRibbonButton*>(Module().FindRibbonControl(kButton))->SetCaption(L"Nieuw");
    EXPECT_EQ(std::vector<std::wstring>{L"InvalidateControl:" + kButton}, ui->calls);
}

TEST_F(Loading, ChoosesTheNamespaceWhenTheMarkupDidNot) {
    struct Case {
        int version;
        bool markupFirst;
        std::wstring ns;
    };
    for (const Case& c : {Case{12, false, kCustomUINamespace2006}, Case{16, false, kCustomUINamespace2009},
                          Case{0, false, kCustomUINamespace2009}, Case{16, true, kCustomUINamespace2006}}) {
        Module().SetOfficeXMLNS(L"");
        Module().SetHostMajorVersion(c.version);
        if (c.markupFirst) {
            std::wstring xml;
            GetCustomUI(Module(), L"Microsoft.Excel.Workbook", xml);
        }
        EXPECT_EQ(S_OK, Call(L"RibbonLoaded_Callback", Args(unique_variant::FromDispatch(ui.Get()))));
        EXPECT_EQ(c.ns, Module().OfficeXMLNS()) << c.version;
    }
}

TEST_F(Loading, AFailingHandlerIsReportedAndAnythingButARibbonIsRefused) {
    qvrtest::DialogRecorder dialogs;
    Module().OnRibbonLoaded = [](TObject*, IRibbonUI*) { throw EqvrError(L"not now"); };
    EXPECT_EQ(S_OK, Call(L"RibbonLoaded_Callback", Args(unique_variant::FromDispatch(ui.Get()))));
    ASSERT_EQ(1u, dialogs.dialogs.size());
    EXPECT_NE(std::wstring::npos, dialogs.dialogs[0].text.find(L"\r\nnot now"));
    IRibbonUI* offices = qvrtest::AsSeenThroughIID<IRibbonUI>(static_cast<officesim::mso::IRibbonUI*>(ui.Get()));
    EXPECT_EQ(offices, Module().RibbonUI());
    EXPECT_EQ(DISP_E_EXCEPTION, Call(L"RibbonLoaded_Callback", Args(unique_variant::FromDispatch(app.Get()))));
    EXPECT_EQ(offices, Module().RibbonUI()) << "a refused call changes nothing";
}

// ---- dynamic menus and texts ----

TEST_F(DispatchFixture, ADynamicMenusContentIsItsMarkup) {
    Connect([](TqvrCOMAddInModule& m) {
        Tree t(m);
        auto* menu = t.Add<TqvrRibbonMenu>(rctMenu, L"Recent");
        menu->SetDynamic(true);
        t.Add<TqvrRibbonButton>(menu->Controls(), rctButton, L"Order1");
        auto* separator = t.Add<TqvrRibbonMenuSeparator>(menu->Controls(), rctMenuSeparator, L"Older");
        separator->SetCaption(L"Older orders");
    });
    Module().SetOfficeXMLNS(kCustomUINamespace2009);
    unique_variant content = Ask(L"GetContent_Callback", L"Recent");
    ASSERT_EQ(VT_BSTR, content.vt);
    std::wstring xml(content.bstrVal);
    EXPECT_EQ(0u, xml.find(L"<menu xmlns=\"" + std::wstring(kCustomUINamespace2009) + L"\">\r\n\t<button id=\"Order1\""));
    EXPECT_NE(std::wstring::npos, xml.find(L"\t<menuSeparator id=\"Older\" getTitle=\"GetTitle_Callback\" />\r\n</menu>"));
    EXPECT_EQ(L"s:Older orders", Show(Ask(L"GetTitle_Callback", L"Older")));
}

}  // namespace
