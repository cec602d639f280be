// The tree and the document object: walking, changing and releasing nodes, callbacks
// and the bounds on nesting and attribute counts.
#include <gtest/gtest.h>

#include <chrono>

#include "tests/xml/xml_test_util.h"

namespace {

using namespace xmltest;

TEST(Tree, WalkingChildrenAttributesAndPositions) {
    Result r = Parse("<a x='1' y='2'>\n  <b/>\n\t<c\n/></a>");
    const XmlNode* a = r.root().Child(0);
    ASSERT_TRUE(r.ok && a->Parent() == r.doc->Root() && a->Document() == r.doc.get()) << r.message;
    std::size_t pos = 99;
    ASSERT_TRUE(a->GetFirstChild(pos));
    EXPECT_EQ(pos, 0u);
    XmlNode* child = nullptr;
    std::string seen;
    while (a->GetNextChild(pos, child))
        seen += Narrow(child->Name()) + std::to_string(child->Line()) + ":" + std::to_string(child->Position()) +
                (child->Parent() == a ? " " : "(not a child) ");
    const XmlAttribute* attribute = nullptr;
    ASSERT_TRUE(a->GetFirstAttribute(pos));
    while (a->GetNextAttribute(pos, attribute)) seen += Narrow(attribute->name + attribute->value);
    EXPECT_EQ(seen, "b2:3 c3:2 x1y2");
    EXPECT_TRUE(child == nullptr && attribute == nullptr && a->Child(2) == nullptr && a->Attribute(2) == nullptr);
    EXPECT_FALSE(a->Child(0)->GetFirstChild(pos));
}

TEST(Tree, ChangingNodes) {
    Result r = Parse("<a x='1'/>");
    XmlNode* a = r.doc->Root()->Child(0);
    EXPECT_TRUE(a->AddAttribute(u"y", u"&lt;2"));
    EXPECT_FALSE(r.doc->HasError());
    EXPECT_FALSE(a->AddAttribute(u"x", u"2"));
    EXPECT_EQ(r.doc->ErrorMessage(), u"Attributes must be unique (Rule 40). An attribute named \"x\" was repeated.");
    EXPECT_FALSE(a->AddAttribute(u"z", u"R&D"));
    EXPECT_EQ(r.doc->ErrorMessage(), u"Attribute values cannot contain a '&' (Rule 41). Offending attribute is named named \"z\"");
    EXPECT_EQ(a->RemoveAttributes(u"x"), 1u);
    XmlNode* child = a->AddChild(std::make_unique<XmlNode>(nullptr, XmlType::Element, u"n"));
    EXPECT_TRUE(child->Parent() == a && child->Document() == r.doc.get());
    XmlNode* text = child->AddChild(std::make_unique<XmlNode>(r.doc.get(), XmlType::Text));
    EXPECT_EQ(Dump(*a), "Ea{y=&lt;2=><2}[En[T]]");
    // Text resolves the references of a text node, or gives it as written when one is unknown.
    for (auto [raw, resolved] : {std::pair{u"a&amp;b&lt;c", u"a&b<c"}, {u"a&amp;b&nope;c", u"a&amp;b&nope;c"}, {u"a&amp;b&lt", u"a&amp;b&lt"}}) {
        text->SetValue(raw);
        EXPECT_EQ(r.root().Text(), resolved);
    }
    EXPECT_EQ(child->Escape(u"a&b<c>d\"e'f"), u"a&amp;b&lt;c&gt;d&quot;e&apos;f");
    XmlNode other(r.doc.get(), XmlType::Element);
    EXPECT_FALSE(a->RemoveChild(&other));
    EXPECT_TRUE(a->RemoveChild(child));
    EXPECT_EQ(Dump(r.root()), "Pxml{version=1.0 standalone=yes}[Ea{y=&lt;2=><2}]");
    // Types above 6 become 0 (undetermined).
    XmlNode typed(r.doc.get(), 7);
    EXPECT_EQ(typed.Type(), XmlType::Undetermined);
    for (auto [set, got] : {std::pair{2u, 2u}, {9u, 0u}, {6u, 6u}, {7u, 0u}}) {
        typed.SetType(set);
        EXPECT_EQ(typed.Type(), got) << set;
    }
}

TEST(Tree, DeepTreesGiveTheirTextAndAreReleasedWithoutRecursion) {
    auto doc = std::make_unique<XmlDocument>();
    XmlNode* node = doc->Root();
    for (int i = 0; i < 200000; ++i) node = node->AddChild(std::make_unique<XmlNode>(doc.get(), XmlType::Element, u"e"));
    node->AddChild(std::make_unique<XmlNode>(doc.get(), XmlType::Text))->SetValue(u"deep");
    EXPECT_EQ(doc->Root()->Text(), u"deep");
    doc.reset();
}

TEST(Document, CallbacksSeeEachCompletedNodeAndCanAbort) {
    XmlDocument doc;
    std::u16string seen;
    doc.SetCallback([&seen](XmlNode& node) {
        seen += node.Type() == XmlType::Element ? node.Name() : u"#";
        return true;
    });
    const char* text = "<a>t<b/><!--c--></a>";
    ASSERT_TRUE(ParseInto(doc, text));
    EXPECT_EQ(seen, u"#b#a");
    doc.SetCallback([](XmlNode& node) { return node.Name() != u"b"; });
    EXPECT_FALSE(ParseInto(doc, text));
    EXPECT_EQ(doc.ErrorMessage() + u"|" + doc.ErrorTag(), u"Parsing was aborted by Callback function.|b");
    doc.SetCallback([](XmlNode& node) { return node.Type() != XmlType::Comment; });
    EXPECT_FALSE(ParseInto(doc, text));
    EXPECT_EQ(doc.ErrorMessage(), u"Parsing aborted by Callback function.");
    // The next parse starts without the error.
    doc.SetCallback(nullptr);
    ASSERT_TRUE(ParseInto(doc, "<c/>"));
    EXPECT_TRUE(!doc.HasError() && doc.ErrorMessage().empty() && doc.ErrorTag().empty() && doc.ErrorLine() == 0);
}

std::string Repeat(const std::string& piece, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i) out += piece;
    return out;
}

TEST(Limits, NestingDepth) {
    const std::size_t max = XmlDocument::kMaxDepth;
    Result r = Parse(Repeat("<e>", max) + Repeat("</e>", max));
    ASSERT_TRUE(r.ok) << r.message;
    std::size_t depth = 0;
    for (const XmlNode* node = r.doc->Root(); node->ChildCount() > 0; node = node->Child(0)) ++depth;
    EXPECT_EQ(depth, max);
    r = Parse(Repeat("<e>", max + 1) + Repeat("</e>", max + 1));
    EXPECT_EQ(r.message + "|" + r.tag, "Internal error: Could not create new element.|e");
    EXPECT_EQ(Parse(Repeat("<e>", max) + "<x/>" + Repeat("</e>", max)).message, "Internal error: Could not create new element.");
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Parse(Repeat("<e>", 1000000), kXmlRuleFileOptions).message, "Internal error: Could not create new element.");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

TEST(Limits, ManyAttributesStayFastAndRepeatsAreStillFound) {
    std::string doc = "<a";
    for (int i = 0; i < 100000; ++i) doc += " n" + std::to_string(i) + "=''";
    auto start = std::chrono::steady_clock::now();
    Result r = Parse(doc + "/>");
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(r.root().Child(0)->AttributeCount(), 100000u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    for (const char* name : {"n99999", "n3"})
        EXPECT_EQ(Parse(doc + " " + name + "='x'/>").message,
                  "Attributes must be unique (Rule 40). An attribute named \"" + std::string(name) + "\" was repeated.");
}

}  // namespace
