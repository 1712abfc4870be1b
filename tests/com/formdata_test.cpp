// The stored-configuration text: every kind of value, the errors a damaged text gives, and the
// round trip through the writer.
#include "com/error.h"
#include "com/formdata.h"

#include <gtest/gtest.h>

namespace {

using qvr::FormValue;

const wchar_t kSample[] =
    L"object AddInModule: TAddInModule\r\n"
    L"  AddInName = 'VORTELIX '#39'Excel'#39 +\r\n"
    L"    ' plugin'\r\n"
    L"  LoadBehavior = -3\r\n"
    L"  RegisterForAllUsers = True\r\n"
    L"  SupportedApps = [ohaExcel, ohaWord]\r\n"
    L"  Empty = []\r\n"
    L"  ControlTypes = {\r\n"
    L"    01000000\r\n"
    L"    07000000}\r\n"
    L"  Controls_ = <\r\n"
    L"    item [2]\r\n"
    L"      Caption = 'it''s'\r\n"
    L"    end\r\n"
    L"    item\r\n"
    L"    end>\r\n"
    L"  Strings = (\r\n"
    L"    'a'\r\n"
    L"    12)\r\n"
    L"  object VORTELIXRibbon: TqvrRibbonTab\r\n"
    L"    Images = ImageListRibbon\r\n"
    L"  end\r\n"
    L"end\r\n";

TEST(FormData, ReadsEveryKindOfValue) {
    qvr::FormObject o = qvr::ParseForm(kSample);
    EXPECT_EQ(L"AddInModule", o.name);
    EXPECT_EQ(L"TAddInModule", o.className);
    ASSERT_EQ(8u, o.properties.size());
    EXPECT_EQ(L"VORTELIX 'Excel' plugin", o.properties[0].value.AsString());
    EXPECT_EQ(-3, o.properties[1].value.AsInteger());
    EXPECT_TRUE(o.properties[2].value.AsBoolean());
    EXPECT_EQ((std::vector<std::wstring>{L"ohaExcel", L"ohaWord"}), o.properties[3].value.members);
    EXPECT_TRUE(o.properties[4].value.members.empty());
    EXPECT_EQ((std::vector<uint8_t>{1, 0, 0, 0, 7, 0, 0, 0}), o.properties[5].value.bytes);
    const FormValue& items = o.properties[6].value;
    ASSERT_EQ(FormValue::Kind::Collection, items.kind);
    ASSERT_EQ(2u, items.items.size());
    EXPECT_EQ(2, items.items[0].index.value());
    EXPECT_EQ(L"it's", items.items[0].properties[0].value.AsString());
    EXPECT_FALSE(items.items[1].index.has_value());
    EXPECT_EQ(2u, o.properties[7].value.list.size());
    EXPECT_EQ(L"Empty", o.properties[4].name);
    ASSERT_EQ(1u, o.children.size());
    EXPECT_EQ(L"ImageListRibbon", o.children[0].properties[0].value.AsIdent());
}

TEST(FormData, WriterOutputReadsBackTheSame) {
    qvr::FormObject first = qvr::ParseForm(kSample);
    std::wstring text = qvr::WriteForm(first);
    qvr::FormObject second = qvr::ParseForm(text);
    EXPECT_EQ(text, qvr::WriteForm(second));
    EXPECT_EQ(first.properties[0].value.AsString(), second.properties[0].value.AsString());
    EXPECT_EQ(first.properties[5].value.bytes, second.properties[5].value.bytes);
    EXPECT_EQ(first.properties[6].value.items[0].index, second.properties[6].value.items[0].index);
}

TEST(FormData, NonPrintableCharactersSurviveTheRoundTrip) {
    qvr::FormObject o;
    o.className = L"T";
    o.properties.push_back({L"Text", FormValue::String(L"line\r\n\x00e9t\x00e9 'q'")});
    qvr::FormObject back = qvr::ParseForm(qvr::WriteForm(o));
    EXPECT_EQ(o.properties[0].value.AsString(), back.properties[0].value.AsString());
}

TEST(FormData, NumbersAreWrittenInDecimalExactly) {
    struct Case {
        int64_t value;
        const wchar_t* text;
    };
    const Case cases[] = {
        {0, L"0"},
        {7, L"7"},
        {-3, L"-3"},
        {1000000, L"1000000"},
        {4294967296LL, L"4294967296"},
        {INT64_MAX, L"9223372036854775807"},
        {INT64_MIN, L"-9223372036854775808"},
    };
    for (const Case& c : cases) {
        qvr::FormObject o;
        o.name = L"A";
        o.className = L"T";
        o.properties.push_back({L"N", FormValue::Integer(c.value)});
        std::wstring text = qvr::WriteForm(o);
        EXPECT_NE(std::wstring::npos, text.find(std::wstring(L"  N = ") + c.text + L"\r\n")) << testing::PrintToString(text);
        EXPECT_EQ(c.value, qvr::ParseForm(text).properties[0].value.AsInteger()) << c.value;
    }
    // Characters outside the quotes and collection item indexes are numbers too.
    std::wstring written = qvr::WriteForm(qvr::ParseForm(
        L"object A: T\r\n  S = 'a'#13#10'b'\r\n  C = <\r\n    item [12]\r\n    end>\r\nend\r\n"));
    EXPECT_NE(std::wstring::npos, written.find(L"'a'#13#10'b'")) << testing::PrintToString(written);
    EXPECT_NE(std::wstring::npos, written.find(L"item [12]\r\n")) << testing::PrintToString(written);
}

TEST(FormData, DamagedTextNamesTheLine) {
    struct Case {
        const wchar_t* text;
        const wchar_t* line;
    };
    const Case cases[] = {
        {L"object A: T\r\n  X = 'open\r\nend", L"line 2"},
        {L"object A: T\r\n  X = {0A1}\r\nend", L"line 2"},
        {L"object A: T\r\n\r\n  X = [a b]\r\nend", L"line 3"},
        {L"thing A: T\r\nend", L"line 1"},
        {L"object A: T\r\n  X = 1\r\n", L"line 3"},
        {L"object A: T\r\nend\r\nextra", L"line 3"},
    };
    for (const Case& c : cases) {
        try {
            qvr::ParseForm(c.text);
            ADD_FAILURE() << "no error for: " << testing::PrintToString(std::wstring(c.text));
        } catch (const qvr::EqvrError& e) {
            EXPECT_NE(std::wstring::npos, e.Message().find(c.line)) << testing::PrintToString(e.Message());
        }
    }
}

TEST(FormData, TypedReadsRefuseTheWrongKind) {
    EXPECT_THROW(FormValue::Integer(1).AsString(), qvr::EqvrError);
    EXPECT_THROW(FormValue::String(L"True").AsBoolean(), qvr::EqvrError);
    EXPECT_THROW(FormValue::Ident(L"Maybe").AsBoolean(), qvr::EqvrError);
    EXPECT_FALSE(FormValue::Ident(L"false").AsBoolean());
}

}  // namespace
