// Actions and property questions: what each class stores from an action, how its events are
// raised, the re-entry guard and the error report.
#include "ribbon_support.h"

#include "support/test_support.h"

using namespace qvr;
using ribbontest::RibbonFixture;

namespace {

// A stand-in for the control Office passes with an action.
class FakeRibbonControl : public officesim::SimObject<IRibbonControl> {
public:
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_Id(BSTR* id) override {
        *id = SysAllocString(L"B");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Context(IDispatch** context) override {
        *context = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Tag(BSTR* tag) override {
        *tag = SysAllocString(L"");
        return S_OK;
    }
};

class Actions : public RibbonFixture {
protected:
    Actions() : control(FakeRibbonControl::Make<FakeRibbonControl>()) {
        group = AddGroup();
        args.Control = control;
    }
    TqvrRibbonGroup* group;
    Microsoft::WRL::ComPtr<FakeRibbonControl> control;
    TqvrRibbonActionArguments args;
};

TEST_F(Actions, AButtonStoresThePressedStateThenRaisesOnClickWithItselfAndTheControl) {
    auto* button = Add<TqvrRibbonButton>(group->Controls(), rctButton);
    button->SetId(L"B");
    auto& ui = LoadRibbon();
    std::vector<std::pair<TObject*, IRibbonControl*>> clicks;
    bool pressedSeen = false;
    button->OnClick = [&](TObject* sender, IRibbonControl* c) {
        clicks.emplace_back(sender, c);
        pressedSeen = button->Pressed();
        EXPECT_TRUE(button->InUse());
    };
    args.Pressed = true;
    button->DoAction(args);
    ASSERT_EQ(1u, clicks.size());
    EXPECT_EQ(button, clicks[0].first);
    EXPECT_EQ(control.Get(), clicks[0].second);
    EXPECT_TRUE(pressedSeen);
    EXPECT_FALSE(button->InUse());
    EXPECT_TRUE(ui.calls.empty());  // an action's state is not sent back to Office
}

struct StoredState {
    const char* what;
    TqvrRibbonControlType type;
    bool pressed;
    std::wstring text;
    std::wstring selectedId;
    int32_t selectedIndex;
};

TEST_F(Actions, EveryClassStoresWhatItsActionCarries) {
    const StoredState cases[] = {
        {"button", rctButton, true, L"", L"", -1},
        {"split button", rctSplitButton, true, L"", L"", -1},
        {"check box", rctCheckBox, true, L"", L"", -1},
        {"edit box", rctEditBox, false, L"typed", L"", -1},
        {"combo box", rctComboBox, false, L"typed", L"", -1},
        {"drop-down", rctDropDown, false, L"", L"item2", 2},
        {"gallery", rctGallery, false, L"", L"item2", 2},
        {"launcher", rctDialogBoxLauncher, false, L"", L"", -1},
        {"label", rctLabel, false, L"", L"", -1},
    };
    args.Pressed = true;
    args.Text = L"typed";
    args.SelectedID = L"item2";
    args.SelectedIndex = 2;
    for (const auto& c : cases) {
        TqvrRibbonCustomControl* control = group->Controls().Add(c.type);
        control->DoAction(args);
        EXPECT_EQ(c.pressed, control->Pressed()) << c.what;
        EXPECT_EQ(c.text, control->Text()) << c.what;
        EXPECT_EQ(c.selectedId, control->SelectedItemId()) << c.what;
        EXPECT_EQ(c.selectedIndex, control->SelectedItemIndex()) << c.what;
    }
}

TEST_F(Actions, TheEventOfEachClassIsRaised) {
    int raised = 0;
    auto count = [&](TObject*, IRibbonControl*) { ++raised; };
    Add<TqvrRibbonDialogBoxLauncher>(group->Controls(), rctDialogBoxLauncher)->OnClick = count;
    Add<TqvrRibbonCheckBox>(group->Controls(), rctCheckBox)->OnClick = count;
    Add<TqvrRibbonSplitButton>(group->Controls(), rctSplitButton)->OnClick = count;
    Add<TqvrRibbonEditBox>(group->Controls(), rctEditBox)->OnChange = count;
    Add<TqvrRibbonComboBox>(group->Controls(), rctComboBox)->OnChange = count;
    Add<TqvrRibbonDropDown>(group->Controls(), rctDropDown)->OnChange = count;
    Add<TqvrRibbonGallery>(group->Controls(), rctGallery)->OnChange = count;
    for (int i = 0; i < group->Controls().Count(); ++i) group->Controls().GetItem(i)->DoAction(args);
    EXPECT_EQ(7, raised);
}

TEST_F(Actions, AHandlerThatCausesItsOwnActionIsNotCalledAgain) {
    auto* button = Add<TqvrRibbonButton>(group->Controls(), rctButton);
    int calls = 0;
    button->OnClick = [&](TObject*, IRibbonControl*) {
        ++calls;
        TqvrRibbonActionArguments nested;
        nested.Pressed = false;
        button->DoAction(nested);  // stores its state, raises nothing
    };
    args.Pressed = true;
    button->DoAction(args);
    EXPECT_EQ(1, calls);
    EXPECT_FALSE(button->Pressed());
    button->DoAction(args);
    EXPECT_EQ(2, calls);
}

TEST_F(Actions, AFailingHandlerGoesToTheErrorReportAndTheGuardIsCleared) {
    module->SetAddInName(L"VORTELIX Excel");
    auto* button = Add<TqvrRibbonButton>(group->Controls(), rctButton);
    button->OnClick = [](TObject*, IRibbonControl*) { throw EqvrError(L"Upload failed"); };
    {
        qvrtest::DialogRecorder dialogs;
        args.Pressed = true;
        EXPECT_NO_THROW(button->DoAction(args));
        ASSERT_EQ(1u, dialogs.dialogs.size());
        EXPECT_EQ(L"VORTELIX Excel error: the add-in has fired an exception.\r\nUpload failed", dialogs.dialogs[0].text);
    }
    EXPECT_FALSE(button->InUse());
    EXPECT_TRUE(button->Pressed());  // the state stored before the handler stays

    std::vector<std::wstring> reported;
    module->OnError = [&](const EqvrError& e, bool& handled) {
        reported.push_back(e.Message());
        handled = true;
    };
    button->DoAction(args);
    EXPECT_EQ(std::vector<std::wstring>{L"Upload failed"}, reported);
}

TEST_F(Actions, PropertyQuestionsRaiseTheRightEvent) {
    auto* dropDown = Add<TqvrRibbonDropDown>(group->Controls(), rctDropDown);
    std::vector<std::wstring> seen;
    dropDown->OnPropertyChanging = [&](TObject* sender, TqvrRibbonControlPropertyType type, unique_variant& value,
                                       IDispatch*) {
        EXPECT_EQ(dropDown, sender);
        seen.push_back(L"property " + std::to_wstring(type));
        value = unique_variant::FromString(L"Changed");
    };
    unique_variant caption = unique_variant::FromString(L"Label");
    dropDown->DoPropertyChanging(rcptCaption, caption, nullptr, -1);
    EXPECT_EQ(std::wstring(L"Changed"), caption.bstrVal);

    // Item questions go to the item event, and nowhere without it.
    unique_variant itemCaption = unique_variant::FromString(L"Item");
    dropDown->DoPropertyChanging(rcptItemCaption, itemCaption, nullptr, 3);
    EXPECT_EQ(std::wstring(L"Item"), itemCaption.bstrVal);
    dropDown->OnItemPropertyChanging = [&](TObject*, TqvrRibbonControlPropertyType type, unique_variant&, IDispatch*,
                                           int32_t index) {
        seen.push_back(L"item " + std::to_wstring(type) + L" at " + std::to_wstring(index));
    };
    dropDown->DoPropertyChanging(rcptItemCaption, itemCaption, nullptr, 3);
    dropDown->DoPropertyChanging(rcptItemCount, itemCaption, nullptr, -1);
    EXPECT_EQ((std::vector<std::wstring>{L"property 2", L"item 21 at 3", L"property 13"}), seen);

    // The tab raises its own event.
    int tabEvents = 0;
    tab->OnPropertyChanging = [&](TObject* sender, TqvrRibbonControlPropertyType, unique_variant&, IDispatch*) {
        EXPECT_EQ(tab, sender);
        ++tabEvents;
    };
    tab->DoPropertyChanging(rcptKeyTip, caption, nullptr, -1);
    EXPECT_EQ(1, tabEvents);
}

TEST_F(Actions, AMenuInASplitButtonStaysStatic) {
    auto* split = Add<TqvrRibbonSplitButton>(group->Controls(), rctSplitButton);
    auto* menu = static_cast<TqvrRibbonMenu*>(split->Controls().GetItem(0));
    {
        qvrtest::DialogRecorder dialogs;
        menu->SetDynamic(true);
        EXPECT_FALSE(menu->Dynamic());
        EXPECT_TRUE(dialogs.dialogs.empty());  // explained only while the tab is being edited

        tab->SetDesignMode(true);
        menu->SetDynamic(true);
        EXPECT_FALSE(menu->Dynamic());
        ASSERT_EQ(1u, dialogs.dialogs.size());
        EXPECT_EQ(L"The TqvrRibbonSplitButton control cannot contain a dynamic menu!", dialogs.dialogs[0].text);
        EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONINFORMATION), dialogs.dialogs[0].style);
    }
    auto* free = Add<TqvrRibbonMenu>(group->Controls(), rctMenu);
    free->SetDynamic(true);
    EXPECT_TRUE(free->Dynamic());
}

TEST_F(Actions, AMenusOnCreateGoesThroughTheErrorReport) {
    auto* menu = Add<TqvrRibbonMenu>(group->Controls(), rctMenu);
    std::vector<TObject*> senders;
    menu->OnCreate = [&](TObject* sender) {
        senders.push_back(sender);
        throw EqvrError(L"no content");
    };
    bool reported = false;
    module->OnError = [&](const EqvrError&, bool& handled) { reported = handled = true; };
    menu->DoCreate();
    EXPECT_EQ(std::vector<TObject*>{menu}, senders);
    EXPECT_TRUE(reported);
}

TEST_F(Actions, TabActivationNeedsOffice2010AndReportsErrors) {
    auto& ui = LoadRibbon();
    module->SetHostMajorVersion(12);
    tab->Activate();
    EXPECT_TRUE(ui.calls.empty());
    module->SetHostMajorVersion(16);
    tab->Activate();
    EXPECT_EQ(std::vector<std::wstring>{L"ActivateTab:Tab1"}, ui.calls);
    ui.result = E_FAIL;
    bool reported = false;
    module->OnError = [&](const EqvrError&, bool& handled) { reported = handled = true; };
    EXPECT_NO_THROW(tab->Activate());
    EXPECT_TRUE(reported);
}

}  // namespace
