// DOCTYPE, entity declarations and the bound on entity expansion.
#include <gtest/gtest.h>

#include <chrono>

#include "tests/xml/xml_test_util.h"

namespace {

using namespace xmltest;

TEST(Doctype, DeclarationNodeAndItsChildren) {
    Result r = Parse("<!DOCTYPE r SYSTEM \"r.dtd\" [\n"
                     "  <!ELEMENT r (#PCDATA)>\n"
                     "  <!ATTLIST r a CDATA \"x>y\">\n"
                     "  <!-- c -->\n"
                     "  <?pi d?>\n"
                     "  <!ENTITY e \"E\">\n"
                     "]>\n<r/>",
                     0x12);
    ASSERT_TRUE(r.ok) << r.message;
    const XmlNode* doctype = r.at({0});
    EXPECT_EQ(doctype->Type(), XmlType::Declaration);
    EXPECT_EQ(doctype->Name(), u"DOCTYPE");
    ASSERT_EQ(doctype->ChildCount(), 5u);
    EXPECT_EQ(doctype->Child(0)->Name(), u"ELEMENT");
    EXPECT_EQ(doctype->Child(1)->Value(), u"r a CDATA \"x>y\"");
    EXPECT_EQ(doctype->Child(2)->Type(), XmlType::Comment);
    EXPECT_EQ(doctype->Child(3)->Type(), XmlType::ProcessingInstruction);
    EXPECT_EQ(doctype->Child(4)->Name(), u"ENTITY");
    EXPECT_EQ(r.at({1})->Name(), u"r");
    EXPECT_TRUE(Parse("<!DOCTYPE r PUBLIC \"-//X//Y//EN\" 'y.dtd'><r/>").ok);
    EXPECT_TRUE(Parse("<!DOCTYPE r><r/>").ok);
}

TEST(Entities, DeclaredEntitiesResolveWithOption0x02) {
    const char* doc = "<!DOCTYPE r [<!ENTITY who \"world\"><!ENTITY hi 'hello &who;&#33;'>]><r>&hi; &amp; bye</r>";
    Result r = Parse(doc, kXmlRuleFileOptions);
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(r.at({1})->Text(), u"hello world! & bye");
    // Without it only the five predefined references are known.
    Result plain = Parse(doc, 0x10);
    EXPECT_EQ(plain.message, "Bad entity reference in text section (Rule 68).");
    EXPECT_EQ(plain.tag, "r");
}

TEST(Entities, EntityTableIsResetForEachDocument) {
    XmlDocument doc;
    doc.SetOptions(kXmlRuleFileOptions);
    Bytes first = Utf8("<!DOCTYPE r [<!ENTITY e 'E'>]><r>&e;</r>");
    ASSERT_TRUE(doc.Parse(first.data(), first.size()));
    EXPECT_EQ(doc.Entities().size(), 6u);
    EXPECT_NE(doc.LookupEntity(u"&e;"), nullptr);
    Bytes second = Utf8("<r>&e;</r>");
    EXPECT_FALSE(doc.Parse(second.data(), second.size()));
    EXPECT_EQ(doc.Entities().size(), 5u);
    EXPECT_EQ(doc.Entities()[0].text, u"&");
    EXPECT_EQ(doc.Entities()[0].reference, u"&amp;");
    EXPECT_EQ(doc.Entities()[4].reference, u"&quot;");
}

TEST(Entities, FirstDeclarationIsBinding) {
    Result r = Parse("<!DOCTYPE r [<!ENTITY e 'one'><!ENTITY e 'two'>]><r>&e;</r>", 0x12);
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(r.at({1})->Text(), u"one");
}

TEST(Entities, AttributeValuesResolveDeclaredEntities) {
    Result r = Parse("<!DOCTYPE r [<!ENTITY e 'E'>]><r a='x&e;y'/>", 0x12);
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(r.at({1})->AttributeText(0), u"xEy");
}

TEST(Entities, ParameterEntitiesAddDeclarations) {
    Result r = Parse("<!DOCTYPE r [<!ENTITY % decl '<!ENTITY x \"X\">'> %decl; <!ENTITY % v 'V'>"
                     "<!ENTITY y 'a%v;b'>]><r>&x;&y;</r>",
                     0x12);
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(r.at({1})->Text(), u"XaVb");
}

TEST(Entities, ExternalEntitiesAreNeverRead) {
    Result text = Parse("<!DOCTYPE r [<!ENTITY ext SYSTEM 'file:///etc/passwd'>]><r>&ext;</r>", 0x12);
    EXPECT_EQ(text.message, "Unsupported (non-standalone) External Reference to &ext;");
    Result parameter = Parse("<!DOCTYPE r [<!ENTITY % ext PUBLIC '-//A//B' 'b.dtd'> %ext;]><r/>", 0x12);
    EXPECT_EQ(parameter.message, "Unsupported (non-standalone) External Reference to %ext;");
    EXPECT_TRUE(Parse("<!DOCTYPE r [<!ENTITY pic SYSTEM 'p.gif' NDATA gif>]><r/>", 0x12).ok);
}

TEST(EntityExpansion, BillionLaughsStopsAtTheBound) {
    std::string doc = "<!DOCTYPE lolz [<!ENTITY lol \"lol\">";
    std::string previous = "lol";
    for (int i = 1; i <= 9; ++i) {
        std::string name = "lol" + std::to_string(i);
        doc += "<!ENTITY " + name + " \"";
        for (int k = 0; k < 10; ++k) doc += "&" + previous + ";";
        doc += "\">";
        previous = name;
    }
    doc += "]><lolz>&lol9;</lolz>";
    auto start = std::chrono::steady_clock::now();
    Result r = Parse(doc, kXmlRuleFileOptions);
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.message, "Ran out of memory allocating for a tricky element.");
    EXPECT_LT(elapsed, std::chrono::seconds(10));
}

TEST(EntityExpansion, ManyReferencesToALargeEntityStopAtTheBound) {
    std::string doc = "<!DOCTYPE r [<!ENTITY big \"" + std::string(60000, 'x') + "\">]><r>";
    for (int i = 0; i < 400; ++i) doc += "<v>&big;</v>";
    doc += "</r>";
    Result r = Parse(doc, kXmlRuleFileOptions);
    EXPECT_EQ(r.message, "Ran out of memory allocating for a tricky element.");
    // The same in attribute values.
    std::string attrs = "<!DOCTYPE r [<!ENTITY big \"" + std::string(60000, 'x') + "\">]><r>";
    for (int i = 0; i < 400; ++i) attrs += "<v a='&big;'/>";
    attrs += "</r>";
    EXPECT_EQ(Parse(attrs, kXmlRuleFileOptions).message, "Ran out of memory allocating for a tricky element.");
    // Modest use stays well inside.
    std::string modest = "<!DOCTYPE r [<!ENTITY big \"" + std::string(60000, 'x') + "\">]><r>";
    for (int i = 0; i < 20; ++i) modest += "<v>&big;</v>";
    modest += "</r>";
    Result ok = Parse(modest, kXmlRuleFileOptions);
    ASSERT_TRUE(ok.ok) << ok.message;
    EXPECT_EQ(ok.at({1})->Text().size(), 20u * 60000u);
}

TEST(EntityExpansion, SelfReferringParameterEntitiesStopAtTheNestingBound) {
    // '&#37;' becomes '%' in the replacement text, so the entity names itself.
    Result r = Parse("<!DOCTYPE r [<!ENTITY % a '&#37;a;'> %a;]><r/>", 0x12);
    EXPECT_EQ(r.message, "Can't parse tricky element (Rule 69).");
}

struct Case {
    const char* document;
    const char* message;
};

class DoctypeMessages : public testing::TestWithParam<Case> {};

TEST_P(DoctypeMessages, Produced) {
    Result r = Parse(GetParam().document, 0x12);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.message, GetParam().message) << GetParam().document;
}

INSTANTIATE_TEST_SUITE_P(
    Doctype, DoctypeMessages,
    testing::Values(
        Case{"<!DOCTYPE", "DOCTYPE Section, not enough room to parse Name (Rule 28)."},
        Case{"<!DOCTYPE   ", "DOCTYPE Section, not enough room to parse Name (Rule 28)."},
        Case{"<!DOCTYPE 1r><r/>", "DOCTYPE Section, illegal first character of Name (Rule 5)."},
        Case{"<!DOCTYPE r\"><r/>", "Illegal DOCTYPE name terminator (Rule 28)."},
        Case{"<!DOCTYPE r\xC2\xA0><r/>", "Illegal DOCTYPE name character (Rule 28)."},
        Case{"<!DOCTYPEr><r/>", "Impossible character in DOCTYPE declaration (Rule 28)."},
        Case{"<!DOCTYPE r", "No more room (Rule 28)."},
        Case{"<!DOCTYPE r ", "No room after continuation point (Rule 28)."},
        Case{"<!DOCTYPE r SYS", "No more room to parse SYSTEM or PUBLIC (Rule 75)."},
        Case{"<!DOCTYPE r OTHER 'x'><r/>", "DOCTYPE ExternalID is not SYSTEM or PUBLIC (Rule 75)."},
        Case{"<!DOCTYPE r SYSTEM ", "Not enough room to quote a string (Rule 11)."},
        Case{"<!DOCTYPE r SYSTEM x><r/>", "String not properly quoted (Rule 11)."},
        Case{"<!DOCTYPE r SYSTEM 'x><r/>", "Mismatched quotes (Rule 11)."},
        Case{"<!DOCTYPE r PUBLIC 'a{b' 'c'><r/>", "Illegal PubidChar (Rule 13)."},
        Case{"<!DOCTYPE r PUBLIC 'ab'", "No more room to quote a string (Rule 11)."},
        Case{"<!DOCTYPE r PUBLIC 'ab''c'><r/>", "PUBLIS SystemLiteral not properly quoted (Rule 11)."},
        Case{"<!DOCTYPE r PUBLIC 'ab' ", "No more room to parse a quoted string (Rule 11)."},
        Case{"<!DOCTYPE r PUBLIC 'ab' c><r/>", "PUBLIC SystemLiteral not properly quoted (Rule 11)."},
        Case{"<!DOCTYPE r PUBLIC 'ab' 'c><r/>", "No more room to parse a quoted string (Rule 11)."},
        Case{"<!DOCTYPE r SYSTEM 'x' ", "No more room (Rule 28)."},
        Case{"<!DOCTYPE r SYSTEM 'x' y><r/>", "Illegal character at contiuation point (Rule 28)."},
        Case{"<!DOCTYPE r []", "No room after closing ] (Rule 28)."},
        Case{"<!DOCTYPE r [] x><r/>", "Missing closing > (Rule 28)."},
        Case{"<!DOCTYPE r [ x ]><r/>", "Ill-formed DOCTYPE child, missing < (Rule 29)."},
        Case{"<!DOCTYPE r [ %p ]><r/>", "DOCTYPE PEReference is missing terminating semi-colon (Rule 69)."},
        Case{"<!DOCTYPE r [ %p; ]><r/>", "Can't resolve DOCTYPE PEReference (Rule 69)."},
        Case{"<!DOCTYPE r [<!ENTITY % p '&#37;q;'> %p; ]><r/>", "Can't resolve embedded DOCTYPE PEReference (Rule 69)."},
        Case{"<!DOCTYPE r [<!ENTITY % p ']'> %p; ]><r/>", "Can't parse tricky element (Rule 69)."},
        Case{"<!DOCTYPE r [ <!FOO> ]><r/>", "Error 2490 (Rule 28)."},
        Case{"<!DOCTYPE r [ <!ELEMENT r 'ANY", "Ill-formed DOCTYPE child, missing terminating > (Rule 28)."},
        Case{"<!DOCTYPE r [ <!ENTITY e 'x' ]><r/>", "Ill-formed DOCTYPE child, missing terminating > (Rule 28)."},
        Case{"<!DOCTYPE r [ <!ELEMENT r ANY>", "DOCTYPE Section did not parse."}));

INSTANTIATE_TEST_SUITE_P(
    Entity, DoctypeMessages,
    testing::Values(
        Case{"<!DOCTYPE r [<!ENTITYe 'x'>]><r/>", "Ill formed ENTITY section (Rule 71)."},
        Case{"<!DOCTYPE r [<!ENTITY %e 'x'>]><r/>", "Ill formed ENTITY section (Rule 71)."},
        Case{"<!DOCTYPE r [<!ENTITY 1 'x'>]><r/>", "Ill formed ENTITY section[2] (Rule 71)."},
        Case{"<!DOCTYPE r [<!ENTITY e'x'>]><r/>", "Ill formed ENTITY section[4] (Rule 71)."},
        Case{"<!DOCTYPE r [<!ENTITY e x>]><r/>", "Ill formed ENTITY section (Rule 75)."},
        Case{"<!DOCTYPE r [<!ENTITY e SYSTEM>]><r/>", "Ill formed ENTITY section[2] (Rule 75)."},
        Case{"<!DOCTYPE r [<!ENTITY e PUBLIC 'a{'>]><r/>", "Ill formed ENTITY (PUBLIC) section (Rule 75)."},
        Case{"<!DOCTYPE r [<!ENTITY e PUBLIC 'a' >]><r/>", "Ill formed ENTITY (PUBLIC) section[2] (Rule 75)."},
        Case{"<!DOCTYPE r [<!ENTITY e \"x>]><r/>", "ENTITY value missing closing double quote (Rule 9)."},
        Case{"<!DOCTYPE r [<!ENTITY e \"x\"\">]><r/>", "ENTITY value has extra double quote (Rule 9)."},
        Case{"<!DOCTYPE r [<!ENTITY e 'x>]><r/>", "ENTITY value missing closing single quote (Rule 9)."},
        Case{"<!DOCTYPE r [<!ENTITY e 'x' '>]><r/>", "ENTITY value has extra single quote (Rule 9)."},
        Case{"<!DOCTYPE r [<!ENTITY e 'a & b'>]><r/>", "ENTITY value contains & but is not used in an entity reference (Rule 9)."},
        Case{"<!DOCTYPE r [<!ENTITY e '100%'>]><r/>", "ENTITY value contains % but is not used in a character reference (Rule 9)."}));

TEST(DoctypeMessagesWithoutEntityTable, ParameterReferenceNeedsOption0x02) {
    EXPECT_EQ(Parse("<!DOCTYPE r [<!ENTITY % p ''> %p; ]><r/>", 0x10).message, "No entity database.");
}

}  // namespace
