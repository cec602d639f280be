// Elements, attributes and the tree they make.
#include <gtest/gtest.h>

#include <chrono>

#include "tests/xml/xml_test_util.h"

namespace {

using namespace xmltest;

TEST(Elements, NestingAndEmptyElements) {
    Result r = Parse("<a><b><c/></b><d /><e></e></a>");
    ASSERT_TRUE(r.ok) << r.message;
    const XmlNode* a = r.at({0});
    ASSERT_EQ(a->ChildCount(), 3u);
    EXPECT_EQ(a->Child(0)->Name(), u"b");
    EXPECT_EQ(a->Child(0)->Child(0)->Name(), u"c");
    EXPECT_EQ(a->Child(0)->Child(0)->Parent(), a->Child(0));
    EXPECT_EQ(a->Child(1)->Name(), u"d");
    EXPECT_EQ(a->Child(2)->Name(), u"e");
    EXPECT_EQ(a->Child(2)->ChildCount(), 0u);
    EXPECT_EQ(a->Parent(), r.doc->Root());
    EXPECT_EQ(a->Document(), r.doc.get());
}

TEST(Elements, EnumerationByPosition) {
    Result r = Parse("<a x='1' y='2'><b/><c/></a>");
    ASSERT_TRUE(r.ok) << r.message;
    const XmlNode* a = r.at({0});
    std::size_t pos = 99;
    ASSERT_TRUE(a->GetFirstChild(pos));
    EXPECT_EQ(pos, 0u);
    XmlNode* child = nullptr;
    std::u16string names;
    while (a->GetNextChild(pos, child)) names += child->Name();
    EXPECT_EQ(names, u"bc");
    EXPECT_EQ(child, nullptr);
    EXPECT_FALSE(a->GetNextChild(pos, child));

    const XmlAttribute* attribute = nullptr;
    ASSERT_TRUE(a->GetFirstAttribute(pos));
    ASSERT_TRUE(a->GetNextAttribute(pos, attribute));
    EXPECT_EQ(attribute->name, u"x");
    ASSERT_TRUE(a->GetNextAttribute(pos, attribute));
    EXPECT_EQ(attribute->value, u"2");
    EXPECT_FALSE(a->GetNextAttribute(pos, attribute));
    EXPECT_EQ(attribute, nullptr);
    EXPECT_FALSE(a->Child(0)->GetFirstChild(pos));
}

TEST(Elements, OverlappingTagsNameBoth) {
    Result r = Parse("<a><b></a></b>");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.message, "Overlapping tags detected. Found \"a\" but needed to find \"b\".");
    EXPECT_EQ(r.tag, "b");
}

TEST(Elements, PositionsAreLineAndColumn) {
    Result r = Parse("<a>\n  <b/>\n\t<c\n/></a>");
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(r.at({0, 0})->Line(), 2u);
    EXPECT_EQ(r.at({0, 0})->Position(), 3u);
    EXPECT_EQ(r.at({0, 1})->Line(), 3u);
    EXPECT_EQ(r.at({0, 1})->Position(), 2u);
    Result bad = Parse("<a>\n<b>\n  </c></a>");
    EXPECT_EQ(bad.line, 3u);
    EXPECT_EQ(bad.column, 3u);
}

TEST(Elements, NonAsciiNames) {
    Result r = Parse("<\xC3\xA9l\xC3\xA9ment \xE6\x97\xA5='1'/>");
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(r.at({0})->Name(), u"\u00e9l\u00e9ment");
    EXPECT_EQ(r.at({0})->Attribute(0)->name, u"\u65e5");
}

TEST(Attributes, OrderQuotesAndRawValues) {
    Result r = Parse("<a one=\"1\" two='it\"s' three = \"a&amp;b&#65;\" four=''/>");
    ASSERT_TRUE(r.ok) << r.message;
    const XmlNode* a = r.at({0});
    ASSERT_EQ(a->AttributeCount(), 4u);
    EXPECT_EQ(a->Attribute(1)->value, u"it\"s");
    EXPECT_EQ(a->Attribute(2)->value, u"a&amp;b&#65;");
    EXPECT_EQ(a->AttributeText(2), u"a&bA");
    EXPECT_EQ(a->Attribute(3)->value, u"");
}

TEST(Attributes, AttributeTextNormalisesLiteralWhiteSpaceOnly) {
    Result r = Parse("<a v='x\ty\nz&#10;'/>");
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(r.at({0})->AttributeText(0), u"x y z\n");
}

TEST(Attributes, RepeatedNameIsRefused) {
    Result r = Parse("<a x='1' y='2' x='3'/>");
    EXPECT_EQ(r.message, "Attributes must be unique (Rule 40). An attribute named \"x\" was repeated.");
    EXPECT_EQ(r.tag, "a");
}

TEST(Attributes, ManyAttributesStayFastAndRepeatsAreStillFound) {
    std::string doc = "<a";
    for (int i = 0; i < 100000; ++i) doc += " n" + std::to_string(i) + "=''";
    auto start = std::chrono::steady_clock::now();
    Result r = Parse(doc + "/>");
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(r.at({0})->AttributeCount(), 100000u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(Parse(doc + " n99999='x'/>").message,
              "Attributes must be unique (Rule 40). An attribute named \"n99999\" was repeated.");
    EXPECT_EQ(Parse(doc + " n3='x'/>").message,
              "Attributes must be unique (Rule 40). An attribute named \"n3\" was repeated.");
}

TEST(Attributes, LessThanAndBareAmpersandAreRefused) {
    EXPECT_EQ(Parse("<a v='1<2'/>").message,
              "Attribute values cannot contain a '<' (Rule 41). Offending attribute is named named \"v\"");
    EXPECT_EQ(Parse("<a w='R&D'/>").message,
              "Attribute values cannot contain a '&' (Rule 41). Offending attribute is named named \"w\"");
    EXPECT_EQ(Parse("<a w='&#;'/>").message,
              "Attribute values cannot contain a '&' (Rule 41). Offending attribute is named named \"w\"");
}

TEST(Attributes, AddAttributeThroughTheTree) {
    Result r = Parse("<a x='1'/>");
    ASSERT_TRUE(r.ok);
    XmlNode* a = r.doc->Root()->Child(0);
    EXPECT_TRUE(a->AddAttribute(u"y", u"&lt;2"));
    EXPECT_FALSE(r.doc->HasError());
    EXPECT_FALSE(a->AddAttribute(u"x", u"2"));
    EXPECT_TRUE(r.doc->HasError());
    EXPECT_EQ(r.doc->ErrorMessage(), u"Attributes must be unique (Rule 40). An attribute named \"x\" was repeated.");
    EXPECT_FALSE(a->AddAttribute(u"z", u"<"));
    EXPECT_EQ(a->AttributeCount(), 2u);
    EXPECT_EQ(a->RemoveAttributes(u"x"), 1u);
    EXPECT_EQ(a->AttributeCount(), 1u);
    EXPECT_EQ(a->FindAttribute(u"x"), nullptr);
}

TEST(Tree, AddRemoveAndEscape) {
    XmlDocument doc;
    XmlNode* root = doc.Root();
    XmlNode* child = root->AddChild(std::make_unique<XmlNode>(nullptr, XmlType::Element, u"n"));
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(child->Parent(), root);
    EXPECT_EQ(child->Document(), &doc);
    child->AddChild(std::make_unique<XmlNode>(&doc, XmlType::Text))->SetValue(u"v");
    EXPECT_EQ(root->Text(), u"v");
    EXPECT_EQ(child->Escape(u"a&b<c>d\"e'f"), u"a&amp;b&lt;c&gt;d&quot;e&apos;f");
    XmlNode other(&doc, XmlType::Element);
    EXPECT_FALSE(root->RemoveChild(&other));
    EXPECT_TRUE(root->RemoveChild(child));
    EXPECT_EQ(root->ChildCount(), 0u);
    XmlNode typed(&doc, 7);
    EXPECT_EQ(typed.Type(), XmlType::Undetermined);
    typed.SetType(XmlType::Comment);
    EXPECT_EQ(typed.Type(), XmlType::Comment);
    typed.SetType(9);
    EXPECT_EQ(typed.Type(), XmlType::Undetermined);
}

struct Case {
    const char* document;
    const char* message;
};

class TagMessages : public testing::TestWithParam<Case> {};

TEST_P(TagMessages, Produced) {
    Result r = Parse(GetParam().document);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.message, GetParam().message) << GetParam().document;
}

INSTANTIATE_TEST_SUITE_P(
    Tags, TagMessages,
    testing::Values(
        Case{"<a><></a>", "Tag is empty."},
        Case{"<a></></a>", "EmptyTag."},
        Case{"<a>x<", "Premature end of data."},
        Case{"<a></a", "Premature end of data."},
        Case{"<a><1b/></a>", "First character of element name is not legal (Rule 5)."},
        Case{"<a><b\"c/></a>", "Character 2 of element named \"b\"c\" is invalid (Rule 999192)."},
        Case{"<a><b x='1'", "Could not find terminator. Premature end of data encountered."},
        Case{"<a><b /", "Could not find terminator. Premature end of data encountered."},
        Case{"<a><b/ ></a>", "Not yet documented error 2785."},
        Case{"<a><b x='1' -y='2'/></a>", "Not yet documented error 2804."},
        Case{"<a><b ='2'/></a>", "Empty attribute not allowed (Rule 10)."},
        Case{"<a><b x '1'/></a>", "Attribute must have '=' between the name and the value (Rule 41)."},
        Case{"<a><b x=1/></a>", "Attribute values must begin with a \" or a ' (Rule 10)."},
        Case{"<a><b x=\"1/></a>", "Attribute missing matching \" (Rule 10)."},
        Case{"<a><b x='1/></a>", "Attribute missing matching ' (Rule 10)."},
        Case{"<a></a x='1'>", "Attributes not allowed in end tag (Rule 42)."},
        Case{"<a/></a>", "Not yet documented error 2726."},
        Case{"<a><b>", "There are no more bytes to parse. We ran out of bytes before we rand out of XML."},
        Case{"<a><!ELEMENT a ANY></a>", "Type of element is unknown. Could not parse element data."},
        Case{"<a><!DOCTYPE a></a>", "Type of element is unknown. Could not parse element data."},
        Case{"<a/><!a", "META tag is too short."},
        Case{"<a/><?", "META tag is too short."}));

}  // namespace
