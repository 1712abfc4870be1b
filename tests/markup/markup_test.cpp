// The markup writer: the text rules of a document, the add-in's own document for every Office
// version through the connection object, and the cases where the shape of the document depends on
// the host version, the module's settings or the components.
#include "markup_support.h"

#include "ribbon/controls.h"
#include "server/addin.h"
#include "support/recording_module.h"
#include "support/test_support.h"
#include "excel_sim.h"
#include "office_host.h"
#include "xml_reader.h"

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <functional>

using namespace qvr;
using namespace markuptest;
using Microsoft::WRL::ComPtr;

namespace {

// ---- the text builder ----

struct HelperCase {
    const char* name;
    std::function<void(TqvrXMLHelper&)> write;
    std::wstring expected;
};

class XmlHelperText : public ::testing::TestWithParam<HelperCase> {};

TEST_P(XmlHelperText, IsExactly) {
    TqvrXMLHelper xml;
    GetParam().write(xml);
    EXPECT_EQ(GetParam().expected, xml.Text());
}

TqvrXmlAttributes Attrs(std::initializer_list<std::pair<const wchar_t*, const wchar_t*>> pairs) {
    TqvrXmlAttributes a;
    for (auto [n, v] : pairs) a.Add(n, v);
    return a;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, XmlHelperText,
    ::testing::Values(
        HelperCase{"first start tag has no line break before it",
                   [](TqvrXMLHelper& x) { x.WriteStartElement(L"customUI"); }, L"<customUI>"},
        HelperCase{"attributes go into the last start tag in call order, empty values too",
                   [](TqvrXMLHelper& x) {
                       x.WriteStartElement(L"a");
                       x.WriteAttributeString(L"x", L"1");
                       x.WriteAttributeString(L"y", L"");
                       x.WriteAttributeString(Attrs({{L"z", L"3"}}));
                   },
                   L"<a x=\"1\" y=\"\" z=\"3\">"},
        HelperCase{"depth is one TAB per level, lines end in CR LF, no final line break",
                   [](TqvrXMLHelper& x) {
                       x.WriteStartElement(L"a");
                       x.WriteStartElement(L"b");
                       x.WriteStartElement(L"c");
                       x.WriteEndElement(L"c");
                       x.WriteEndElement(L"b");
                       x.WriteEndElement(L"a");
                   },
                   L"<a>\r\n\t<b>\r\n\t\t<c>\r\n\t\t</c>\r\n\t</b>\r\n</a>"},
        HelperCase{"an empty element ends in blank slash and keeps the depth",
                   [](TqvrXMLHelper& x) {
                       x.WriteStartElement(L"a");
                       x.WriteElementWithAttributeString(L"b", Attrs({{L"id", L"B"}, {L"getLabel", L"L"}}));
                       x.WriteElementWithAttributeString(L"c", {});
                       x.WriteEndElement(L"a");
                   },
                   L"<a>\r\n\t<b id=\"B\" getLabel=\"L\" />\r\n\t<c />\r\n</a>"},
        HelperCase{"user text is escaped in both attribute forms",
                   [](TqvrXMLHelper& x) {
                       x.WriteStartElement(L"a");
                       x.WriteAttributeString(L"label", L"Orders & \"Returns\"");
                       x.WriteElementWithAttributeString(L"b", Attrs({{L"label", L"<x>"}}));
                   },
                   L"<a label=\"Orders &amp; &quot;Returns&quot;\">\r\n\t<b label=\"&lt;x&gt;\" />"}),
    [](const auto& info) {
        std::string n = info.param.name;
        for (char& c : n) c = isalnum(static_cast<unsigned char>(c)) ? c : '_';
        return n;
    });

TEST(EscapeXmlAttribute, KeepsEveryCharacterXmlCanCarry) {
    struct Case {
        std::wstring in, out;
    };
    for (const Case& c : {Case{L"Bestelling verwerken", L"Bestelling verwerken"},
                          Case{L"A&B", L"A&amp;B"},
                          Case{L"a<b>c", L"a&lt;b&gt;c"},
                          Case{L"\"quoted\" 'single'", L"&quot;quoted&quot; 'single'"},
                          Case{L"two\r\nlines\tand tab", L"two&#13;&#10;lines&#9;and tab"},
                          Case{L"\u00E9t\u00E9 \u20AC", L"\u00E9t\u00E9 \u20AC"},
                          Case{std::wstring(L"bell\x07 and nul\0!", 15), L"bell and nul!"},
                          Case{L"&amp;", L"&amp;amp;"}})
        EXPECT_EQ(c.out, EscapeXmlAttribute(c.in)) << c.in.c_str();
}

// ---- the add-in's own document, through the connection object ----

const std::wstring kNs2006 = L"http://schemas.microsoft.com/office/2006/01/customui";
const std::wstring kNs2009 = L"http://schemas.microsoft.com/office/2009/07/customui";
const std::wstring kRootTag = L"<customUI xmlns=\"" + kNs2006 +
                              L"\" onLoad=\"RibbonLoaded_Callback\" loadImage=\"GetImages_Callback\">";

// The add-in's document for Excel's workbook ribbon, line for line.
const std::vector<std::wstring> kAddInDocument = {
    kRootTag,
    L"\t<ribbon>",
    L"\t\t<tabs>",
    L"\t\t\t<tab getVisible=\"GetVisible_Callback\" id=\"qvrRibbonTab3E8A51D7C2F04B69A1D5E78C20B4F913\" "
    L"getKeytip=\"GetKeyTip_Callback\" getLabel=\"GetLabel_Callback\">",
    L"\t\t\t\t<group getVisible=\"GetVisible_Callback\" id=\"qvrRibbonGroup7D14E9A2B05C4F38962E1AC4D8F35B07\" "
    L"getKeytip=\"GetKeyTip_Callback\" getLabel=\"GetLabel_Callback\" getSupertip=\"GetSuperTip_Callback\" "
    L"getScreentip=\"GetScreenTip_Callback\">",
    L"\t\t\t\t\t<button id=\"qvrRibbonButtonA92C6E14F83B47D0B5E1094D7C26E8F3\" getImage=\"GetImage_Callback\" "
    L"getKeytip=\"GetKeyTip_Callback\" getLabel=\"GetLabel_Callback\" getSupertip=\"GetSuperTip_Callback\" "
    L"getScreentip=\"GetScreenTip_Callback\" getShowLabel=\"GetShowLabel_Callback\" "
    L"getShowImage=\"GetShowImage_Callback\" getEnabled=\"GetEnabled_Callback\" "
    L"onAction=\"OnActionCommon_Callback\" getDescription=\"GetDescription_Callback\" "
    L"getSize=\"GetSize_Callback\" getVisible=\"GetVisible_Callback\" />",
    L"\t\t\t\t</group>",
    L"\t\t\t</tab>",
    L"\t\t</tabs>",
    L"\t</ribbon>",
    L"</customUI>",
};

// The add-in connected as Excel connects it, asked for its markup as Office asks.
class AddInMarkup : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, qvrtest::Factory().CreateInstance(nullptr, __uuidof(IDTExtensibility2),
                                                          reinterpret_cast<void**>(addIn.GetAddressOf())));
        ASSERT_EQ(S_OK, addIn->OnConnection(app.Get(), 1, nullptr, nullptr));
        ASSERT_EQ(S_OK, addIn.As(&ribbon));
    }
    void TearDown() override {
        if (addIn) {
            EXPECT_EQ(S_OK, addIn->OnDisconnection(0, nullptr));
        }
        ribbon.Reset();
        addIn.Reset();
        EXPECT_EQ(S_OK, TComServer::Instance()->CanUnloadNow());
    }
    TqvrCOMAddInModule& Module() { return *qvrtest::AsAddin(addIn.Get())->COMAddInModule(); }
    std::wstring Ask(const std::wstring& ribbonId) {
        unique_bstr xml;
        EXPECT_EQ(S_OK, ribbon->GetCustomUI(unique_bstr(ribbonId).get(), xml.put()));
        return xml.str();
    }

    ComPtr<officesim::ExcelApplicationSim> app = officesim::ExcelApplicationSim::Make<officesim::ExcelApplicationSim>();
    ComPtr<IDTExtensibility2> addIn;
    ComPtr<IRibbonExtensibility> ribbon;
};

class AddInMarkupPerVersion : public AddInMarkup, public ::testing::WithParamInterface<int> {};

TEST_P(AddInMarkupPerVersion, IsTheElevenLinesAndTheSameWhenAskedAgain) {
    // This test program carries no version resource, so the version set here is the one used.
    Module().SetHostMajorVersion(GetParam());
    std::wstring first = Ask(kExcel);
    EXPECT_EQ(Lines(kAddInDocument), first);
    EXPECT_EQ(first, Ask(kExcel));
    EXPECT_EQ(ohaExcel, Module().HostType());
    EXPECT_TRUE(Module().IsRibbon());
    EXPECT_EQ(kNs2006, Module().OfficeXMLNS());
    EXPECT_EQ(3, Module().RibbonControls().Count()) << "nothing pruned";
    KeepForSchemaCheck(L"addin-excel-" + std::to_wstring(GetParam()), first);
}

INSTANTIATE_TEST_SUITE_P(Office, AddInMarkupPerVersion, ::testing::Values(12, 14, 15, 16));

TEST_F(AddInMarkup, ForAnotherRibbonIsAnEmptyRibbonAndPrunesEverything) {
    Module().SetHostMajorVersion(16);
    std::wstring word = Ask(L"Microsoft.Word.Document");
    EXPECT_EQ(Lines({kRootTag, L"\t<ribbon>", L"\t</ribbon>", L"</customUI>"}), word);
    EXPECT_EQ(ohaWord, Module().HostType());
    EXPECT_EQ(0, Module().RibbonControls().Count());
    KeepForSchemaCheck(L"addin-word-16", word);
    // Pruning is not undone: the tab is still written for Excel, but no callback can find it.
    EXPECT_EQ(Lines(kAddInDocument), Ask(kExcel));
    EXPECT_EQ(0, Module().RibbonControls().Count());
}

TEST_F(AddInMarkup, WithoutAModuleThereIsNoDocumentButAnError) {
    EXPECT_EQ(E_POINTER, ribbon->GetCustomUI(unique_bstr(kExcel).get(), nullptr));
    EXPECT_EQ(S_OK, addIn->OnDisconnection(0, nullptr));
    BSTR xml = SysAllocString(L"stale");
    BSTR stale = xml;
    EXPECT_EQ(E_UNEXPECTED, ribbon->GetCustomUI(unique_bstr(kExcel).get(), &xml));
    EXPECT_EQ(nullptr, xml);
    SysFreeString(stale);
    EXPECT_NE(std::wstring::npos, officesim::OfficeHost::LastErrorDescription().find(L"not connected"));
    addIn.Reset();
}

// ---- documents of own configurations ----

// A case: a tree built on the fixture's tab and group, the host version, and what the document
// must and must not hold.
struct ShapeCase {
    const char* name;
    int version;
    std::function<void(TqvrCOMAddInModule&, TqvrRibbonTab&, TqvrRibbonGroup&)> build;
    std::wstring ns;  // the namespace chosen
    std::vector<std::wstring> holds;
    std::vector<std::wstring> lacks;
};

class DocumentShape : public MarkupFixture, public ::testing::WithParamInterface<ShapeCase> {};

TEST_P(DocumentShape, Is) {
    const ShapeCase& c = GetParam();
    c.build(*module, *tab, *group);
    std::wstring xml = Markup(c.version);
    EXPECT_EQ(c.ns, module->OfficeXMLNS());
    EXPECT_NE(std::wstring::npos, xml.find(L"xmlns=\"" + c.ns + L"\"")) << xml.c_str();
    for (const std::wstring& h : c.holds) EXPECT_NE(std::wstring::npos, xml.find(h)) << "missing " << h.c_str() << "\n" << xml.c_str();
    for (const std::wstring& l : c.lacks) EXPECT_EQ(std::wstring::npos, xml.find(l)) << "unexpected " << l.c_str() << "\n" << xml.c_str();
    std::string name = c.name;
    KeepForSchemaCheck(L"shape-" + std::wstring(name.begin(), name.end()), xml);
}

template <typename T>
T* AddControl(TqvrRibbonControls& c, TqvrRibbonControlType type, const wchar_t* id) {
    auto* control = dynamic_cast<T*>(c.Add(type));
    control->SetId(id);
    return control;
}

TqvrRibbonButtonGroup* ButtonGroupWithSeparator(TqvrRibbonGroup& g) {
    auto* bg = AddControl<TqvrRibbonButtonGroup>(g.Controls(), rctButtonGroup, L"BG1");
    AddControl<TqvrRibbonButton>(bg->Controls(), rctButton, L"B1");
    AddControl<TqvrRibbonSeparator>(bg->Controls(), rctSeparator, L"S1");
    AddControl<TqvrRibbonButton>(bg->Controls(), rctButton, L"B2");
    return bg;
}

void ContextTabs(TqvrCOMAddInModule& m, TqvrRibbonTab& tab, TqvrRibbonGroup&) {
    tab.SetContext(L"Excel.TabSetChartTools");
    auto* second = new TqvrRibbonTab(&m);
    second->SetId(L"Tab2");
    second->SetContext(L"Excel.TabSetChartTools");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DocumentShape,
    ::testing::Values(
        ShapeCase{"v12_autoscale_group_stays_2006", 12,
                  [](auto&, auto&, TqvrRibbonGroup& g) { g.SetAutoScale(true); }, kNs2006, {}, {L"autoScale"}},
        ShapeCase{"v16_center_vertically_group_takes_2009", 16,
                  [](auto&, auto&, TqvrRibbonGroup& g) { g.SetCenterVertically(true); }, kNs2009,
                  {L"centerVertically=\"true\""}, {}},
        // The separator still chooses the namespace, but no custom UI schema lets it into a
        // button group, and Office would refuse the whole document.
        ShapeCase{"v16_separator_in_button_group_takes_2009_but_is_left_out", 16,
                  [](auto&, auto&, TqvrRibbonGroup& g) { ButtonGroupWithSeparator(g); }, kNs2009,
                  {L"<button id=\"B1\"", L"<button id=\"B2\""}, {L"separator"}},
        ShapeCase{"separator_directly_in_a_group_is_written", 12,
                  [](auto&, auto&, TqvrRibbonGroup& g) {
                      AddControl<TqvrRibbonSeparator>(g.Controls(), rctSeparator, L"S0");
                  },
                  kNs2006, {L"<separator id=\"S0\" />"}, {}},
        ShapeCase{"v12_separator_in_button_group_is_left_out", 12,
                  [](auto&, auto&, TqvrRibbonGroup& g) { ButtonGroupWithSeparator(g); }, kNs2006,
                  {L"<button id=\"B1\"", L"<button id=\"B2\""}, {L"separator"}},
        ShapeCase{"v16_plain_group_stays_2006", 16, [](auto&, auto&, auto&) {}, kNs2006, {}, {}},
        ShapeCase{"namespace_set_qualifies_every_id", 16,
                  [](TqvrCOMAddInModule& m, auto&, TqvrRibbonGroup& g) {
                      m.Namespace = L"urn:contoso:shared";
                      AddControl<TqvrRibbonButton>(g.Controls(), rctButton, L"B1");
                  },
                  kNs2006,
                  {L"xmlns:default=\"VORTELIXExcel.coVORTELIXExcel\" xmlns:shared=\"urn:contoso:shared\" onLoad=",
                   L"idQ=\"default:Tab1\"", L"idQ=\"default:G1\"", L"idQ=\"default:B1\""},
                  {L" id=\""}},
        ShapeCase{"start_from_scratch_without_tabs", 16,
                  [](TqvrCOMAddInModule& m, TqvrRibbonTab& tab, auto&) {
                      m.SetStartFromScratch(TqvrRibbons{msrExcelWorkbook}.bits);
                      delete &tab;
                  },
                  kNs2006, {L"\r\n\t<ribbon startFromScratch=\"true\">\r\n\t</ribbon>\r\n</customUI>"}, {L"<tabs>"}},
        ShapeCase{"start_from_scratch_for_another_ribbon_is_not_written", 16,
                  [](TqvrCOMAddInModule& m, auto&, auto&) { m.SetStartFromScratch(TqvrRibbons{msrWordDocument}.bits); },
                  kNs2006, {L"\t<ribbon>\r\n"}, {L"startFromScratch"}},
        ShapeCase{"v15_context_tabs_share_one_tab_set", 15, ContextTabs, kNs2006,
                  {L"\t\t<contextualTabs>\r\n\t\t\t<tabSet idMso=\"TabSetChartTools\">\r\n\t\t\t\t<tab "
                   L"getVisible=\"GetVisible_Callback\" id=\"Tab1\"",
                   L"\t\t\t\t<tab getVisible=\"GetVisible_Callback\" id=\"Tab2\" getKeytip=\"GetKeyTip_Callback\" "
                   L"getLabel=\"GetLabel_Callback\" />\r\n\t\t\t</tabSet>\r\n\t\t</contextualTabs>"},
                  {L"<tabs>"}},
        ShapeCase{"v14_context_tabs_are_not_written", 14, ContextTabs, kNs2006, {L"\t<ribbon>\r\n\t</ribbon>"},
                  {L"contextualTabs", L"tabSet"}},
        ShapeCase{"group_without_controls_is_an_empty_element", 16, [](auto&, auto&, auto&) {}, kNs2006,
                  {L"getScreentip=\"GetScreenTip_Callback\" />\r\n\t\t\t</tab>"}, {L"</group>"}},
        ShapeCase{"control_of_another_ribbon_is_left_out", 16,
                  [](auto&, auto&, TqvrRibbonGroup& g) {
                      AddControl<TqvrRibbonButton>(g.Controls(), rctButton, L"Mine");
                      AddControl<TqvrRibbonButton>(g.Controls(), rctButton, L"Word")->SetRibbons(TqvrRibbons{msrWordDocument});
                  },
                  kNs2006, {L"id=\"Mine\""}, {L"id=\"Word\""}},
        ShapeCase{"bare_control_without_element_is_left_out", 16,
                  [](auto&, auto&, TqvrRibbonGroup& g) {
                      g.Controls().Add(rctCommand);
                      AddControl<TqvrRibbonButton>(g.Controls(), rctButton, L"B1");
                  },
                  kNs2006, {L"<button id=\"B1\""}, {L"< "}},
        ShapeCase{"builtin_drop_down_holds_no_content", 16,
                  [](auto&, auto&, TqvrRibbonGroup& g) {
                      auto* d = AddControl<TqvrRibbonDropDown>(g.Controls(), rctDropDown, L"D1");
                      d->SetIdMso(L"FontSize");
                      AddControl<TqvrRibbonButton>(d->Controls(), rctButton, L"More");
                  },
                  kNs2006, {L"<control idMso=\"FontSize\""}, {L"id=\"More\"", L"</control>"}},
        ShapeCase{"split_button_writes_its_inner_button_before_the_menu", 16,
                  [](auto&, auto&, TqvrRibbonGroup& g) {
                      auto* s = AddControl<TqvrRibbonSplitButton>(g.Controls(), rctSplitButton, L"SB");
                      auto* menu = static_cast<TqvrRibbonMenu*>(s->Controls().GetItem(0));
                      menu->SetId(L"SBM");
                      AddControl<TqvrRibbonButton>(menu->Controls(), rctButton, L"SBI");
                  },
                  kNs2006,
                  {L"<splitButton id=\"SB\"", L">\r\n\t\t\t\t\t\t<button id=\"SBwrapped\"",
                   L"onAction=\"OnActionCommon_Callback\" />\r\n\t\t\t\t\t\t<menu id=\"SBM\""},
                  {}},
        ShapeCase{"dialog_box_launcher_wraps_a_button", 16,
                  [](auto&, auto&, TqvrRibbonGroup& g) {
                      AddControl<TqvrRibbonDialogBoxLauncher>(g.Controls(), rctDialogBoxLauncher, L"DL");
                  },
                  kNs2006,
                  {L"\t\t\t\t\t<dialogBoxLauncher>\r\n\t\t\t\t\t\t<button id=\"DL\"",
                   L" />\r\n\t\t\t\t\t</dialogBoxLauncher>\r\n\t\t\t\t</group>"},
                  {}},
        ShapeCase{"dynamic_menu_is_empty_and_asks_for_its_content", 16,
                  [](auto&, auto&, TqvrRibbonGroup& g) {
                      auto* menu = AddControl<TqvrRibbonMenu>(g.Controls(), rctMenu, L"DM");
                      menu->SetDynamic(true);
                      AddControl<TqvrRibbonButton>(menu->Controls(), rctButton, L"Inside");
                  },
                  kNs2006, {L"<dynamicMenu id=\"DM\" getContent=\"GetContent_Callback\""}, {L"id=\"Inside\""}}),
    [](const auto& info) { return std::string(info.param.name); });

// A shared container's label is a fixed value: user text must not break the document.
TEST_F(MarkupFixture, UserTextInFixedValuesIsEscaped) {
    module->Namespace = L"urn:contoso:shared";
    tab->SetShared(true);
    tab->SetCaption(L"Orders & \"Returns\" <2026>");
    tab->SetKeyTip(KeyTipFromText(L"&<"));
    auto* builtIn = AddControl<TqvrRibbonButton>(group->Controls(), rctButton, L"Copy1");
    builtIn->SetIdMso(L"Copy");
    builtIn->SetCaption(L"Copy \"this\" & that");
    std::wstring xml = Markup(16);
    std::wstring why;
    auto doc = officesim::ParseXml(xml, &why);
    ASSERT_TRUE(doc) << why.c_str() << "\n" << xml.c_str();
    const officesim::XmlElement& tabElement = doc->children.at(0).children.at(0).children.at(0);
    ASSERT_NE(nullptr, tabElement.Attribute(L"label"));
    EXPECT_EQ(L"Orders & \"Returns\" <2026>", *tabElement.Attribute(L"label"));
    EXPECT_EQ(L"&<", *tabElement.Attribute(L"keytip"));
    EXPECT_EQ(L"Copy \"this\" & that", *tabElement.children.at(0).children.at(0).Attribute(L"label"));
    KeepForSchemaCheck(L"escaped-user-text", xml);
}

// ---- the module's ribbon events and menu creation ----

TEST_F(MarkupFixture, RibbonEventsSeeTheRibbonIdAndMayReplaceTheDocument) {
    std::vector<std::wstring> seen;
    module->OnRibbonBeforeCreate = [&](TObject* sender, const std::wstring& id) {
        EXPECT_EQ(module.get(), sender);
        seen.push_back(L"create " + id);
    };
    module->OnRibbonBeforeLoad = [&](TObject*, const std::wstring& id, std::wstring& xml) {
        seen.push_back(L"load " + id + (xml.find(L"<tab ") != std::wstring::npos ? L" with tab" : L""));
        xml = L"<customUI xmlns=\"" + kNs2006 + L"\" />";
    };
    EXPECT_EQ(L"<customUI xmlns=\"" + kNs2006 + L"\" />", Markup(16));
    EXPECT_EQ((std::vector<std::wstring>{L"create " + kExcel, L"load " + kExcel + L" with tab"}), seen);
}

TEST_F(MarkupFixture, FailingRibbonEventsAreReportedAndTheDocumentStands) {
    qvrtest::DialogRecorder dialogs;
    module->SetAddInName(L"Markup Test");
    module->OnRibbonBeforeCreate = [](TObject*, const std::wstring&) { throw EqvrError(L"before create failed"); };
    module->OnRibbonBeforeLoad = [](TObject*, const std::wstring&, std::wstring& xml) {
        xml = L"half-edited";
        throw EqvrError(L"before load failed");
    };
    std::wstring xml = Markup(16);
    EXPECT_EQ(0u, xml.find(L"<customUI xmlns=")) << "the document as written, not the handler's half edit";
    EXPECT_NE(std::wstring::npos, xml.find(L"id=\"Tab1\""));
    ASSERT_EQ(2u, dialogs.dialogs.size());
    EXPECT_EQ(L"Markup Test error: the add-in has fired an exception.\r\nbefore create failed", dialogs.dialogs[0].text);
    EXPECT_EQ(L"Markup Test error: the add-in has fired an exception.\r\nbefore load failed", dialogs.dialogs[1].text);
}

TEST_F(MarkupFixture, MenusAreCreatedWhenWrittenAndDynamicContentIsAMenuDocument) {
    qvrtest::DialogRecorder dialogs;
    auto* menu = AddControl<TqvrRibbonMenu>(group->Controls(), rctMenu, L"M1");
    AddControl<TqvrRibbonButton>(menu->Controls(), rctButton, L"M1B");
    auto* dynamic = AddControl<TqvrRibbonMenu>(group->Controls(), rctMenu, L"DM");
    dynamic->SetDynamic(true);
    dynamic->SetItemSize(TqvrRibbonXItemSize::Large);
    int created = 0, dynamicCreated = 0;
    menu->OnCreate = [&](TObject* sender) {
        EXPECT_EQ(menu, sender);
        ++created;
    };
    // The dynamic menu's OnCreate fills it: its content follows what the add-in has now.
    dynamic->OnCreate = [&](TObject*) {
        ++dynamicCreated;
        if (dynamic->Controls().Count() == 0) AddControl<TqvrRibbonButton>(dynamic->Controls(), rctButton, L"Late");
    };
    std::wstring xml = Markup(16);
    EXPECT_EQ(1, created);
    EXPECT_EQ(0, dynamicCreated) << "a dynamic menu is built when Office opens it";
    EXPECT_NE(std::wstring::npos, xml.find(L"\t\t\t\t\t<menu id=\"M1\""));

    std::wstring content = GetContent(*dynamic);
    EXPECT_EQ(1, dynamicCreated);
    EXPECT_EQ(Lines({L"<menu xmlns=\"" + kNs2006 + L"\" itemSize=\"large\">",
                     L"\t<button id=\"Late\" getKeytip=\"GetKeyTip_Callback\" getLabel=\"GetLabel_Callback\" "
                     L"getSupertip=\"GetSuperTip_Callback\" getScreentip=\"GetScreenTip_Callback\" "
                     L"getShowLabel=\"GetShowLabel_Callback\" getShowImage=\"GetShowImage_Callback\" "
                     L"getEnabled=\"GetEnabled_Callback\" onAction=\"OnActionCommon_Callback\" "
                     L"getDescription=\"GetDescription_Callback\" getVisible=\"GetVisible_Callback\" />",
                     L"</menu>"}),
              content);
    KeepForSchemaCheck(L"dynamic-menu-content", content);

    // A failing OnCreate is reported; the menu is still written.
    menu->OnCreate = [](TObject*) { throw EqvrError(L"no menu today"); };
    xml = Markup(16);
    EXPECT_NE(std::wstring::npos, xml.find(L"<menu id=\"M1\""));
    ASSERT_EQ(1u, dialogs.dialogs.size());
    EXPECT_NE(std::wstring::npos, dialogs.dialogs[0].text.find(L"no menu today"));
}

}  // namespace
