// The ribbon filter: the sets' member names and ribbon ids, the filter test, the filter a new
// tab gets from the module's hosts, its propagation into a tree and the Outlook Explorer coupling.
#include "ribbon_support.h"

#include "com/formdata.h"

using namespace qvr;
using ribbontest::RibbonFixture;

namespace {

TEST(RibbonTypes, SetsAreStoredByTheirExactMemberNames) {
    TqvrRibbons all(0x00FFFFFF);
    auto names = RibbonsNames(all);
    ASSERT_EQ(24u, names.size());
    EXPECT_EQ(L"msrAccessDatabase", names.front());
    EXPECT_EQ(L"msrOutlookExplorer", names.back());
    EXPECT_EQ(all, RibbonsFromNames(names));

    auto names2010 = Ribbons2010Names(TqvrRibbons2010(0x0FFF));
    ASSERT_EQ(12u, names2010.size());
    EXPECT_EQ(L"msrInforPathFiller2010", names2010[6]);
    EXPECT_EQ(L"msrOneNote", names2010[11]);
    EXPECT_EQ(TqvrRibbons2010(0x0FFF), Ribbons2010FromNames(names2010));
}

TEST(RibbonTypes, UnknownMemberNamesAreSkipped) {
    EXPECT_EQ((TqvrRibbons{msrExcelWorkbook, msrWordDocument}),
              RibbonsFromNames({L"msrExcelWorkbook", L"msrNoSuchRibbon", L"msrWordDocument"}));
    // The corrected spelling is not a member.
    EXPECT_EQ(TqvrRibbons2010{}, Ribbons2010FromNames({L"msrInfoPathFiller2010"}));
    EXPECT_THROW(RibbonsFromValue(FormValue::String(L"msrExcelWorkbook")), EqvrError);
}

struct MatchCase {
    const wchar_t* ribbonId;
    TqvrRibbons ribbons;
    TqvrRibbons2010 ribbons2010;
    bool matches;
};

class MatchesRibbonCases : public ::testing::TestWithParam<MatchCase> {};

TEST_P(MatchesRibbonCases, Decides) {
    const auto& c = GetParam();
    EXPECT_EQ(c.matches, MatchesRibbon(c.ribbonId, c.ribbons, c.ribbons2010)) << c.ribbonId;
}

INSTANTIATE_TEST_SUITE_P(
    Filter, MatchesRibbonCases,
    ::testing::Values(
        // Both sets empty: nothing matches, not even the special ids.
        MatchCase{L"DynamicMenu", {}, {}, false}, MatchCase{L"Microsoft.Mso.IMLayerUI", {}, {}, false},
        MatchCase{L"DynamicMenu", {msrWordDocument}, {}, true},
        MatchCase{L"Microsoft.Mso.IMLayerUI", {}, {msrOneNote}, true},
        MatchCase{L"Microsoft.Excel.Workbook", {msrExcelWorkbook}, {}, true},
        MatchCase{L"Microsoft.Excel.Workbook", {msrWordDocument}, {}, false},
        // Exact and case-sensitive.
        MatchCase{L"microsoft.excel.workbook", {msrExcelWorkbook}, {}, false},
        MatchCase{L"Microsoft.Outlook.Explorer", {msrOutlookExplorer}, {}, true},
        MatchCase{L"Microsoft.Outlook.Explorer", {}, {msrOutlookExplorer2010}, true},
        MatchCase{L"Microsoft.OMS.SMS.Compose", {}, {msrOutlookSMSCompose2010}, true},
        MatchCase{L"Microsoft.OMS.SMS", {}, {msrOutlookSMSCompose2010}, true},
        MatchCase{L"Microsoft.OMS.SMS.Read", {}, {msrOutlookSMSCompose2010}, false},
        MatchCase{L"Microsoft.OMS.MMS", {}, {msrOutlookMMSRead2010}, true},
        MatchCase{L"Microsoft.OMS.MMS", {}, {msrOutlookSMSRead2010}, false},
        MatchCase{L"Microsoft.InfoPath.Editor", {}, {msrInforPathFiller2010}, true},
        MatchCase{L"Microsoft.OneNote", {}, {msrOneNote}, true}));

struct TabFilterCase {
    TqvrHostAppSet apps;
    TqvrRibbons ribbons;
    TqvrRibbons2010 ribbons2010;
};

class TabFilterCases : public ::testing::TestWithParam<TabFilterCase> {};

TEST_P(TabFilterCases, NarrowsToTheSupportedHosts) {
    const auto& c = GetParam();
    TqvrCOMAddInModule module(nullptr);
    module.SetSupportedApps(c.apps);
    auto* tab = new TqvrRibbonTab(&module);
    EXPECT_EQ(c.ribbons, tab->Ribbons());
    EXPECT_EQ(c.ribbons2010, tab->Ribbons2010());
}

INSTANTIATE_TEST_SUITE_P(
    Filter, TabFilterCases,
    ::testing::Values(
        TabFilterCase{{ohaExcel}, {msrExcelWorkbook}, {}},
        TabFilterCase{{ohaWord, ohaPowerPoint}, {msrPowerPointPresentation, msrWordDocument}, {}},
        TabFilterCase{{ohaOutlook},
                      {msrOutlookMailRead, msrOutlookMailCompose, msrOutlookExplorer},
                      {msrOutlookExplorer2010}},
        // Only the first later host that applies adds its ribbons.
        TabFilterCase{{ohaExcel, ohaInfoPath, ohaOneNote},
                      {msrExcelWorkbook},
                      {msrInfoPathDesigner2010, msrInforPathFiller2010, msrInfoPathPrintPreview2010}},
        TabFilterCase{{ohaVisio, ohaProject}, {}, {msrProjectProject2010}},
        TabFilterCase{{ohaOneNote, ohaAccess}, {msrAccessDatabase}, {msrOneNote}}));

using FilterTree = RibbonFixture;

TEST_F(FilterTree, NewControlsInheritTheirContainersFilter) {
    auto* group = AddGroup();
    auto* menu = Add<TqvrRibbonMenu>(group->Controls(), rctMenu);
    auto* button = Add<TqvrRibbonButton>(menu->Controls(), rctButton);
    EXPECT_EQ(TqvrRibbons{msrExcelWorkbook}, group->Ribbons());
    EXPECT_EQ(TqvrRibbons{msrExcelWorkbook}, button->Ribbons());
    EXPECT_EQ(TqvrRibbons2010{}, button->Ribbons2010());
}

TEST_F(FilterTree, AContainersNewFilterReplacesEveryDescendants) {
    auto* group = AddGroup();
    auto* button = Add<TqvrRibbonButton>(group->Controls(), rctButton);
    auto* dropDown = Add<TqvrRibbonDropDown>(group->Controls(), rctDropDown);
    auto* item = dropDown->Items().AddItem();
    auto* inner = Add<TqvrRibbonButton>(dropDown->Controls(), rctButton);
    button->SetRibbons({msrAccessDatabase, msrExcelWorkbook});

    group->SetRibbons({msrWordDocument});
    for (TqvrRibbonCustomControl* c : std::initializer_list<TqvrRibbonCustomControl*>{group, button, dropDown, item, inner})
        EXPECT_EQ(TqvrRibbons{msrWordDocument}, c->Ribbons()) << c->ClassName();

    tab->SetRibbons({msrPowerPointPresentation});
    EXPECT_EQ(TqvrRibbons{msrPowerPointPresentation}, inner->Ribbons());
}

TEST_F(FilterTree, OutlookExplorerIsAlwaysInBothSetsOrInNeither) {
    auto* group = AddGroup();
    auto* button = Add<TqvrRibbonButton>(group->Controls(), rctButton);

    button->SetRibbons(button->Ribbons().With(msrOutlookExplorer));
    EXPECT_TRUE(button->Ribbons2010().Contains(msrOutlookExplorer2010));
    button->SetRibbons(button->Ribbons().Without(msrOutlookExplorer));
    EXPECT_FALSE(button->Ribbons2010().Contains(msrOutlookExplorer2010));

    button->SetRibbons2010({msrOutlookExplorer2010, msrOneNote});
    EXPECT_TRUE(button->Ribbons().Contains(msrOutlookExplorer));
    EXPECT_TRUE(button->Ribbons().Contains(msrExcelWorkbook));

    // Through a container as well: both sets of the child follow.
    group->SetRibbons({msrOutlookExplorer});
    EXPECT_EQ(TqvrRibbons{msrOutlookExplorer}, button->Ribbons());
    EXPECT_EQ(TqvrRibbons2010{msrOutlookExplorer2010}, button->Ribbons2010());
}

TEST_F(FilterTree, ModuleStartFromScratchCouplesTheExplorerMembers) {
    TqvrCOMAddInModule m(nullptr);
    m.ReadProperty({L"StartFromScratch", FormValue::Set({L"msrOutlookExplorer", L"msrWordDocument", L"msrBogus"})});
    EXPECT_EQ((TqvrRibbons{msrWordDocument, msrOutlookExplorer}).bits, m.StartFromScratch());
    EXPECT_EQ(TqvrRibbons2010{msrOutlookExplorer2010}.bits, m.StartFromScratch2010());

    std::vector<FormProperty> stored;
    m.WriteProperties(stored);
    TqvrCOMAddInModule copy(nullptr);
    for (const auto& p : stored) copy.ReadProperty(p);
    EXPECT_EQ(m.StartFromScratch(), copy.StartFromScratch());
    EXPECT_EQ(m.StartFromScratch2010(), copy.StartFromScratch2010());
}

}  // namespace
