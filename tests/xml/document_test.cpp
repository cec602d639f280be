// Document-level behaviour: settings, the steps around the content, the rule-file
// settings, callbacks and the nesting bound.
#include <gtest/gtest.h>

#include <chrono>

#include "tests/xml/xml_messages.h"
#include "tests/xml/xml_test_util.h"

namespace {

using namespace xmltest;

TEST(DocumentSettings, Defaults) {
    XmlDocument doc;
    EXPECT_EQ(doc.Options(), 0x10u);
    EXPECT_EQ(doc.FormatOptions(), 0x80u);
    uint32_t a = 9, b = 9, c = 9;
    doc.GetNumbers(a, b, c);
    EXPECT_EQ(a + b + c, 0u);
    EXPECT_EQ(doc.Separator(), u'.');
    EXPECT_EQ(doc.CodePage(), 65001u);
    EXPECT_TRUE(doc.Standalone());
    EXPECT_EQ(doc.Entities().size(), 5u);
    ASSERT_NE(doc.Root(), nullptr);
    EXPECT_EQ(doc.Root()->Type(), XmlType::ProcessingInstruction);
    EXPECT_FALSE(doc.HasError());
}

TEST(DocumentSettings, SettersReturnTheFormerWord) {
    XmlDocument doc;
    EXPECT_EQ(doc.SetOptions(0x1A), 0x10u);
    EXPECT_EQ(doc.SetOptions(0x01), 0x1Au);
    EXPECT_EQ(doc.SetFormatOptions(0x04), 0x80u);
    EXPECT_EQ(doc.Encoding(), u"UTF-16");
    EXPECT_EQ(doc.SetFormatOptions(0x80), 0x04u);
    EXPECT_FALSE(doc.SetSeparator(0));
    EXPECT_EQ(doc.Separator(), u'.');
    EXPECT_TRUE(doc.SetSeparator(u'/'));
    EXPECT_EQ(doc.Separator(), u'/');
}

TEST(DocumentSettings, RuleFileSettings) {
    XmlDocument doc;
    doc.ApplyRuleFileSettings();
    EXPECT_EQ(doc.Options(), 0x1Au);
    EXPECT_EQ(doc.FormatOptions(), 0x80u);
    uint32_t a = 0, b = 9, c = 0;
    doc.GetNumbers(a, b, c);
    EXPECT_EQ(a, 1u);
    EXPECT_EQ(b, 0u);
    EXPECT_EQ(c, 2u);
}

TEST(RuleFiles, DocumentWithoutDeclaration) {
    Result r = ParseRuleFile(u"<RULES>\n  <INCLUDE>\n    <EVENTS>\n      <LOG>Application</LOG>\n"
                             u"      <EVENTID>^1000$</EVENTID>\n    </EVENTS>\n  </INCLUDE>\n</RULES>\n");
    ASSERT_TRUE(r.ok) << r.message;
    const XmlNode& root = r.root();
    EXPECT_EQ(root.Type(), XmlType::ProcessingInstruction);
    EXPECT_EQ(*root.FindAttribute(u"version"), u"1.0");
    EXPECT_EQ(*root.FindAttribute(u"standalone"), u"yes");
    EXPECT_EQ(r.doc->Version(), u"1.0");
    EXPECT_TRUE(r.doc->Standalone());
    ASSERT_EQ(root.ChildCount(), 1u);
    const XmlNode* events = r.at({0, 0, 0});
    EXPECT_EQ(events->Name(), u"EVENTS");
    ASSERT_EQ(events->ChildCount(), 2u);
    EXPECT_EQ(events->Child(0)->Text(), u"Application");
    EXPECT_EQ(events->Child(1)->Text(), u"^1000$");
}

TEST(RuleFiles, DeclaredDocumentAndEntities) {
    Result r = ParseRuleFile(u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n"
                             u"<!DOCTYPE rules [<!ENTITY app \"Application\">]>\n"
                             u"<rules><LOG>&app; &amp; more</LOG></rules>");
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(r.at({1, 0})->Text(), u"Application & more");
}

TEST(RuleFiles, ErrorsCarryTagAndLine) {
    Result r = ParseRuleFile(u"<rules>\n<INCLUDE>\n<LOG>x</log>\n</INCLUDE></rules>");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.line, 3u);
    EXPECT_EQ(r.tag, "LOG");
    EXPECT_EQ(r.message, "Overlapping tags detected. Found \"log\" but needed to find \"LOG\".");
}

TEST(DocumentErrors, AllWhiteSpace) {
    EXPECT_EQ(Parse(" \n\t \r\n").message, "Document is all white space (Rule 1).");
    EXPECT_EQ(ParseBytes(Utf16LE(u"    ", true)).message, "Document is all white space (Rule 1).");
}

TEST(DocumentErrors, FirstNonSpaceIsNotLessThan) {
    EXPECT_EQ(Parse("  x<a/>").message, "First non-space character is not '<' (Rule 1).");
    EXPECT_EQ(ParseBytes(Utf16LE(u"rules", true)).message, "First non-space character is not '<' (Rule 1).");
}

TEST(DocumentErrors, OnlyOneElementWithOption0x20) {
    EXPECT_TRUE(Parse("<a/><b/>", 0x10).ok);
    Result r = Parse("<?xml version='1.0'?><a/>\n<!--x--><b/>", 0x30);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.message, "There can be only one element (Rule 1).");
    EXPECT_EQ(r.tag, "b");
    EXPECT_EQ(r.line, 2u);
    EXPECT_EQ(r.column, 9u);
    EXPECT_EQ(Parse("<a/><b/>", 0x30).message, "There can be only one element (Rule 1).");
    EXPECT_TRUE(Parse("<!--x--><a/><?p?>", 0x30).ok);
}

TEST(DocumentErrors, ErrorIsClearedByTheNextParse) {
    XmlDocument doc;
    Bytes bad = Utf8("<a><b></a>");
    EXPECT_FALSE(doc.Parse(bad.data(), bad.size()));
    EXPECT_TRUE(doc.HasError());
    Bytes good = Utf8("<c/>");
    EXPECT_TRUE(doc.Parse(good.data(), good.size()));
    EXPECT_FALSE(doc.HasError());
    EXPECT_EQ(doc.ErrorMessage(), u"");
    ASSERT_EQ(doc.Root()->ChildCount(), 1u);
    EXPECT_EQ(doc.Root()->Child(0)->Name(), u"c");
}

TEST(DocumentErrors, TopLevelTextIsANode) {
    Result r = Parse("<a/>tail");
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(r.at({1})->Type(), XmlType::Text);
    EXPECT_EQ(r.at({1})->Value(), u"tail");
}

TEST(Callbacks, SeeEachCompletedNodeAndCanAbort) {
    XmlDocument doc;
    std::u16string seen;
    doc.SetCallback([&seen](XmlNode& node) {
        seen += node.Type() == XmlType::Element ? node.Name() : u"#";
        return true;
    });
    Bytes bytes = Utf8("<a>t<b/><!--c--></a>");
    ASSERT_TRUE(doc.Parse(bytes.data(), bytes.size()));
    EXPECT_EQ(seen, u"#b#a");

    doc.SetCallback([](XmlNode& node) { return node.Name() != u"b"; });
    EXPECT_FALSE(doc.Parse(bytes.data(), bytes.size()));
    EXPECT_EQ(doc.ErrorMessage(), u"Parsing was aborted by Callback function.");
    doc.SetCallback([](XmlNode& node) { return node.Type() != XmlType::Comment; });
    EXPECT_FALSE(doc.Parse(bytes.data(), bytes.size()));
    EXPECT_EQ(doc.ErrorMessage(), u"Parsing aborted by Callback function.");
}

std::string Nested(std::size_t depth) {
    std::string doc;
    doc.reserve(depth * 7);
    for (std::size_t i = 0; i < depth; ++i) doc += "<e>";
    for (std::size_t i = 0; i < depth; ++i) doc += "</e>";
    return doc;
}

TEST(NestingBound, LimitIsAccepted) {
    Result r = Parse(Nested(XmlDocument::kMaxDepth));
    ASSERT_TRUE(r.ok) << r.message;
    const XmlNode* node = r.doc->Root();
    std::size_t depth = 0;
    while (node->ChildCount() > 0) {
        node = node->Child(0);
        ++depth;
    }
    EXPECT_EQ(depth, XmlDocument::kMaxDepth);
}

TEST(NestingBound, OneDeeperFails) {
    Result r = Parse(Nested(XmlDocument::kMaxDepth + 1));
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.message, "Internal error: Could not create new element.");
    EXPECT_EQ(r.tag, "e");
    std::string empty = Nested(XmlDocument::kMaxDepth);
    empty.insert(XmlDocument::kMaxDepth * 3, "<x/>");
    EXPECT_EQ(Parse(empty).message, "Internal error: Could not create new element.");
}

TEST(NestingBound, AMillionLevelsFailQuickly) {
    std::string doc;
    for (int i = 0; i < 1000000; ++i) doc += "<e>";
    auto start = std::chrono::steady_clock::now();
    Result r = Parse(doc, kXmlRuleFileOptions);
    EXPECT_EQ(r.message, "Internal error: Could not create new element.");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(NestingBound, DeepTreesBuiltByHandAreReleasedWithoutRecursion) {
    auto doc = std::make_unique<XmlDocument>();
    XmlNode* node = doc->Root();
    for (int i = 0; i < 200000; ++i) node = node->AddChild(std::make_unique<XmlNode>(doc.get(), XmlType::Element, u"e"));
    node->AddChild(std::make_unique<XmlNode>(doc.get(), XmlType::Text))->SetValue(u"deep");
    EXPECT_EQ(doc->Root()->Text(), u"deep");
    doc.reset();
}

}  // namespace

namespace {

using namespace xmltest;

const char kRich[] =
    "<?xml version='1.0' encoding='UTF-8' standalone='yes'?>\n"
    "<!DOCTYPE r PUBLIC '-//A//B' 'r.dtd' [<!ENTITY e 'E&#38;&amp;'><!ENTITY % p '<!ENTITY f \"F\">'>%p;"
    "<!ELEMENT r ANY><!ATTLIST r a CDATA 'd'><!-- c --><?pi x?>]>\n"
    "<r a='1&amp;&#65;' b=\"2\"><!-- note --><?do it?><x>t&e;&f;&lt;</x><![CDATA[<y>]]><z/>\xC3\xA9</r>\n";

TEST(TruncatedInput, EveryPrefixFailsWithAFixedMessageOrParses) {
    std::string full(kRich);
    std::u16string wide;
    for (unsigned char c : full) wide.push_back(c);  // Latin-1 view is enough here
    for (uint32_t options : {XmlDocument::kDefaultOptions, kXmlRuleFileOptions, 0x3Bu}) {
        ASSERT_TRUE(Parse(full, options | 0x02).ok);
        for (std::size_t n = 0; n <= full.size(); ++n) {
            Result eight = Parse(full.substr(0, n), options);
            if (!eight.ok) {
                EXPECT_TRUE(IsFixedMessage(FromNarrow(eight.message))) << n << ": " << eight.message;
            }
            Result sixteen = ParseBytes(Utf16LE(wide.substr(0, n), true), options);
            if (!sixteen.ok) {
                EXPECT_TRUE(IsFixedMessage(FromNarrow(sixteen.message))) << n << ": " << sixteen.message;
            }
        }
    }
}

}  // namespace
