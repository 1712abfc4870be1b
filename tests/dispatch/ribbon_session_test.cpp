// Office's ribbon played by the stand-in against the add-in: the markup read, every callback name
// resolved, every control asked, refreshed when the add-in invalidates it, and the button pressed
// through the ribbon, which runs the order hand-off from the built DLL to the uploader.
#include "dispatch_support.h"

#include "excel_session.h"
#include "ribbon_host.h"
#include "support/test_support.h"
#include "xlsx.h"
#include "support/addin_facts.h"

#include <gtest/gtest.h>

using namespace qvr;
using namespace dispatchtest;
using Microsoft::WRL::ComPtr;
using officesim::RibbonHost;

namespace {

const std::wstring kTab = L"qvrRibbonTab3E8A51D7C2F04B69A1D5E78C20B4F913";
const std::wstring kGroup = L"qvrRibbonGroup7D14E9A2B05C4F38962E1AC4D8F35B07";
const std::wstring kButton = qvrtest::kAddInButtonId;

using qvrtest::ProgramFolder;

using qvrtest::Exists;

std::wstring Answer(const RibbonHost& ribbon, const std::wstring& id, const std::wstring& property) {
    const officesim::RibbonElement* e = ribbon.Find(id);
    if (!e) return L"(no control " + id + L")";
    const std::wstring* a = e->Answer(property);
    return a ? *a : L"(not asked)";
}

// ---- the stand-in's ribbon against the connection object in this program ----

class StandInRibbon : public DispatchFixture {
protected:
    void SetUp() override {
        Connect();
        Module().SetHostMajorVersion(16);
        ASSERT_EQ(S_OK, ribbon.Load(addIn.Get(), L"Microsoft.Excel.Workbook", app->Window()));
    }
    void TearDown() override {
        ribbon.Release();
        DispatchFixture::TearDown();
    }
    RibbonHost ribbon;
};

TEST_F(StandInRibbon, ShowsTheAddInsTabGroupAndButton) {
    EXPECT_EQ(std::vector<std::wstring>{}, ribbon.problems);
    EXPECT_EQ(std::vector<std::wstring>{}, ribbon.Unresolved());
    const std::map<std::wstring, DISPID> resolved = {
        {L"RibbonLoaded_Callback", 10}, {L"GetImages_Callback", 11},     {L"GetVisible_Callback", 12},
        {L"GetKeyTip_Callback", 13},    {L"GetLabel_Callback", 14},      {L"GetEnabled_Callback", 15},
        {L"GetImage_Callback", 17},     {L"GetSuperTip_Callback", 19},   {L"GetScreenTip_Callback", 20},
        {L"GetSize_Callback", 21},      {L"GetShowLabel_Callback", 22},  {L"GetShowImage_Callback", 23},
        {L"GetDescription_Callback", 24}, {L"OnActionCommon_Callback", 50}};
    EXPECT_EQ(resolved, ribbon.CallbackIds());
    EXPECT_EQ(Module().RibbonUI(), qvrtest::AsSeenThroughIID<IRibbonUI>(static_cast<officesim::mso::IRibbonUI*>(&ribbon.UI())))
        << "onLoad handed Office's ribbon to the add-in";

    EXPECT_EQ(L"VORTELIX", Answer(ribbon, kTab, L"label"));
    EXPECT_EQ(L"Bestelling", Answer(ribbon, kGroup, L"label"));
    EXPECT_EQ(L"Bestelling verwerken", Answer(ribbon, kButton, L"label"));
    EXPECT_EQ(L"large", Answer(ribbon, kButton, L"size"));
    EXPECT_EQ(L"Bestelling verwerken naar het VORTELIX platform", Answer(ribbon, kButton, L"screentip"));
    EXPECT_EQ(L"Bestelling verwerken naar het VORTELIX platform", Answer(ribbon, kButton, L"description"));
    EXPECT_EQ(L"true", Answer(ribbon, kButton, L"enabled"));
    EXPECT_EQ(L"true", Answer(ribbon, kButton, L"showImage"));
    EXPECT_NE(L"(not asked)", Answer(ribbon, kButton, L"image"));
    std::vector<std::wstring> shown = ribbon.Describe();
    ASSERT_EQ(3u, shown.size());
    EXPECT_EQ(L"tab \"VORTELIX\"", shown[0]);
    EXPECT_EQ(L"  group \"Bestelling\"", shown[1]);
    EXPECT_EQ(0u, shown[2].find(L"    button \"Bestelling verwerken\" (large; ")) << shown[2].c_str();
}

TEST_F(StandInRibbon, AsksAgainWhatTheAddInInvalidates) {
    auto* button = dynamic_cast<TqvrRibbonButton*>(Module().FindRibbonControl(kButton));
    ASSERT_NE(nullptr, button);
    button->SetCaption(L"Order versturen");
    button->SetSize(csRegular);
    EXPECT_EQ((std::vector<std::wstring>{L"InvalidateControl:" + kButton, L"InvalidateControl:" + kButton}),
              ribbon.UI().calls);
    EXPECT_EQ(L"Order versturen", Answer(ribbon, kButton, L"label"));
    EXPECT_EQ(L"normal", Answer(ribbon, kButton, L"size"));
    // A tab's caption does not make Office ask again; its key tip does.
    auto* tab = dynamic_cast<TqvrRibbonTab*>(Module().FindRibbonControl(kTab));
    tab->SetCaption(L"Orders");
    EXPECT_EQ(L"VORTELIX", Answer(ribbon, kTab, L"label"));
    tab->SetKeyTip(KeyTipFromText(L"V"));
    EXPECT_EQ(L"Orders", Answer(ribbon, kTab, L"label"));
    EXPECT_EQ(L"V", Answer(ribbon, kTab, L"keytip"));
}

TEST_F(StandInRibbon, PressingRunsTheButtonsClickWithOfficesControl) {
    std::vector<std::wstring> clicks;
    auto* button = dynamic_cast<TqvrRibbonButton*>(Module().FindRibbonControl(kButton));
    button->OnClick = [&](TObject* sender, IRibbonControl* control) {
        unique_bstr id;
        control->get_Id(id.put());
        ComPtr<IDispatch> context;
        control->get_Context(&context);
        clicks.push_back(sender->ClassName() + L" " + id.str() + (context.Get() == app->Window() ? L" in window" : L""));
    };
    EXPECT_EQ(S_OK, ribbon.Press(kButton));
    EXPECT_EQ(std::vector<std::wstring>{L"TqvrRibbonButton " + kButton + L" in window"}, clicks);
    EXPECT_EQ(E_INVALIDARG, ribbon.Press(L"NoSuchButton"));
}

TEST_F(DispatchFixture, MarkupThatIsNotWellFormedGivesNoRibbon) {
    Connect();
    Module().OnRibbonBeforeLoad = [](TObject*, const std::wstring&, std::wstring& xml) { xml = L"<customUI><tabs>"; };
    RibbonHost ribbon;
    EXPECT_EQ(E_FAIL, ribbon.Load(addIn.Get(), L"Microsoft.Excel.Workbook", app->Window()));
    EXPECT_FALSE(ribbon.Loaded());
    ASSERT_EQ(1u, ribbon.problems.size());
    EXPECT_EQ(0u, ribbon.problems[0].find(L"the custom UI markup is not well formed")) << ribbon.problems[0].c_str();
    EXPECT_EQ(nullptr, Module().RibbonUI()) << "Office does not load a ribbon it cannot read";
}

// ---- the built DLL in an Excel session, end to end ----

TEST(RibbonSession, PressingBestellingVerwerkenHandsTheWorkbookOver) {
    const std::wstring folder = ProgramFolder();
    const std::wstring source = folder + L"ribbon-session.xlsx";
    ASSERT_TRUE(CopyFileW((folder + L"order.xlsx").c_str(), source.c_str(), FALSE)) << "order fixture missing";
    DeleteFileW((folder + L"Dravenport.log").c_str());
    ASSERT_TRUE(Exists(folder + L"Dravenport.exe")) << "the uploader stand-in is built next to the tests";
    {
        officesim::ExcelSession session(L"16.0");
        ASSERT_NE(nullptr, session.App().Open(source));
        ASSERT_EQ(S_OK, session.Start(folder + L"VORTELIXExcel.dll"));
        RibbonHost& ribbon = session.Ribbon();
        EXPECT_EQ(std::vector<std::wstring>{}, ribbon.problems);
        const officesim::RibbonElement* button = ribbon.FindByLabel(L"Bestelling verwerken");
        ASSERT_NE(nullptr, button) << "the ribbon shows no such button";
        EXPECT_EQ(kButton, button->id);

        EXPECT_EQ(S_OK, ribbon.Press(button->id));
        EXPECT_EQ(1, session.App().quitCalls);
        EXPECT_TRUE(session.AfterCall()) << "Excel shuts down after the call";
        EXPECT_TRUE(session.Unloaded()) << "the add-in let go of everything";
    }
    EXPECT_FALSE(Exists(source)) << "the handed-over workbook is deleted";
    wchar_t temp[MAX_PATH] = {}, longTemp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    GetLongPathNameW(temp, longTemp, MAX_PATH);
    EXPECT_TRUE(Exists(std::wstring(longTemp) + L"VortelixExcel\\Order.xlsx"));
    std::string log;
    for (int waited = 0; waited < 15000 && log.empty(); waited += 100) {
        bool ok = false;
        std::vector<uint8_t> bytes = officesim::ReadWholeFile(folder + L"Dravenport.log", &ok);
        if (ok) log.assign(bytes.begin(), bytes.end());
        else Sleep(100);
    }
    EXPECT_NE(std::string::npos, log.find("found=yes")) << log;
    EXPECT_NE(std::string::npos, log.find("complete_before_start=yes")) << log;
}

}  // namespace
