// The stand-in's XML reader, on which the well-formedness checks of these tests and Office's
// side of the ribbon rely: it reads what XML allows and refuses what Office would refuse.
#include "xml_reader.h"

#include <gtest/gtest.h>

using officesim::ParseXml;

namespace {

TEST(XmlReader, ReadsElementsAttributesAndReferences) {
    auto doc = ParseXml(L"<?xml version=\"1.0\"?>\r\n<!-- note --><a x=\"1 &amp; &lt;2&gt; &quot;q&quot; &#65;&#x42;\" "
                        L"y='it&apos;s'>\r\n\t<b/>\r\n\t<c z=\"\"></c>\r\n</a>");
    ASSERT_TRUE(doc);
    EXPECT_EQ(L"a", doc->name);
    EXPECT_EQ(L"1 & <2> \"q\" AB", *doc->Attribute(L"x"));
    EXPECT_EQ(L"it's", *doc->Attribute(L"y"));
    ASSERT_EQ(2u, doc->children.size());
    EXPECT_EQ(L"b", doc->children[0].name);
    EXPECT_EQ(L"", *doc->children[1].Attribute(L"z"));
    EXPECT_EQ(nullptr, doc->children[1].Attribute(L"x"));
}

TEST(XmlReader, RefusesWhatIsNotWellFormed) {
    for (const wchar_t* text : {L"", L"<a>", L"<a></b>", L"<a x=\"1\" x=\"2\"/>", L"<a x=\"a & b\"/>",
                                L"<a x=\"a < b\"/>", L"<a x=1/>", L"<a x=\"1\"y=\"2\"/>", L"<a/><b/>",
                                L"<a>text</a>", L"<a x=\"&bogus;\"/>", L"<a x=\"&#1;\"/>", L"<1a/>",
                                L"<a x=\"unterminated/>"}) {
        std::wstring why;
        EXPECT_FALSE(ParseXml(text, &why)) << text;
        EXPECT_FALSE(why.empty()) << text;
    }
}

}  // namespace
