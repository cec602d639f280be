// What the differential test cannot see: our messages and their places, options other
// than the rule files', DOCTYPE and entities, other encodings, the node API and bounds.
#include <gtest/gtest.h>

#include <chrono>

#include "tests/xml/xml_messages.h"
#include "tests/xml/xml_test_util.h"

namespace {

using namespace xmltest;

TEST(Document, EachFailureGivesItsMessageTagAndPlace) {
    for (const ErrorRow& row : kErrorRows) {
        SCOPED_TRACE(std::string(row.document) + " | options " + std::to_string(row.options));
        Result r = ParseBytes(Bytes(row.document.begin(), row.document.end()), row.options);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.message, row.message);
        if (row.tag) { EXPECT_EQ(r.tag, row.tag); }
        if (row.line) { EXPECT_EQ(r.line, row.line); }
        if (row.column) { EXPECT_EQ(r.column, row.column); }
    }
}

TEST(Document, DeclarationIsRecordedOrDefaulted) {
    // Without one, and after a failed parse of a declared document: the default, childless then.
    for (auto [doc, dump] : {std::pair{"<?xml version = \"1.0\" encoding='UTF-8'  standalone\t=\t\"no\" ?>\n<a/>",
                                       "Pxml{version=1.0 encoding=UTF-8 standalone=no}[Ea]"},
                             {"<a/>", "Pxml{version=1.0 standalone=yes}[Ea]"},
                             {"<?xml version='1.0' encoding='latin1'?><a></b>", "Pxml{version=1.0 standalone=yes}"}})
        EXPECT_EQ(Dump(Parse(doc).root()), dump);
}

const char kSpaced[] = "<a>\n  <b>x</b>\n  <c> </c>\n</a>";
const char kA[] = "Ea[T'xyz']";

TEST(Document, WellFormedDocumentsGiveTheirTreeAndText) {
    const struct {
        Bytes bytes;
        uint32_t options;
        const char* dump;      // the root's children, when given
        const char16_t* text;  // Text of the root
    } rows[] = {
        {Utf8("<?xml-stylesheet href='s.css'?><a/>tail"), 0x10, "Pxml-stylesheet'href='s.css'' Ea T'tail'", u"tail"},
        {Utf8("<!DOCTYPE r SYSTEM \"r.dtd\" [\n <!ELEMENT r (#PCDATA)>\n <!ATTLIST r a CDATA \"x>y\">\n <!-- c -->\n"
              " <?pi d?>\n <!ENTITY e \"E\">\n]>\n<r/>"), 0x12,
         "XDOCTYPE[XELEMENT'r (#PCDATA)' XATTLIST'r a CDATA \"x>y\"' C' c ' Ppi'd' XENTITY'e \"E\"'] Er", u""},
        {Utf8("<!DOCTYPE r PUBLIC \"-//X//Y//EN\" 'y.dtd'><r/>"), 0x10, "XDOCTYPE'r PUBLIC \"-//X//Y//EN\" 'y.dtd'' Er", u""},
        {Utf8("<!DOCTYPE r [<!ENTITY who \"world\"><!ENTITY hi 'hello &who;&#33;'>]><r>&hi; &amp; bye</r>"), 0x1A,
         "XDOCTYPE[XENTITY'who \"world\"' XENTITY'hi 'hello &who;&#33;''] Er[T'&hi; &amp; bye']", u"hello world! & bye"},
        {Utf8("<!DOCTYPE r [<!ENTITY e 'one'><!ENTITY e 'two'>]><r a='x&e;y'>&e;</r>"), 0x12,
         "XDOCTYPE[XENTITY'e 'one'' XENTITY'e 'two''] Er{a=x&e;y=>xoney}[T'&e;']", u"one"},
        {Utf8("<!DOCTYPE r [<!ENTITY % decl '<!ENTITY x \"X\">'> %decl; <!ENTITY % v 'V'><!ENTITY y 'a%v;b'>]>"
              "<r>&x;&y;</r>"), 0x12, nullptr, u"XaVb"},
        // White-space-only text: dropped unless 0x80 without 0x08.
        {Utf8(kSpaced), 0x98, "Ea[Eb[T'x'] Ec]", u"x"},
        {Utf8(kSpaced), 0x90, "Ea[T'\n  ' Eb[T'x'] T'\n  ' Ec[T' '] T'\n']", u"\n  x\n   \n"},
        {Utf8("<a>1<b>2<c>3</c>4</b><!--no--><?pi no?><![CDATA[5&amp;]]>6</a>"), 0x10, nullptr, u"12345&amp;6"},
        {Utf8("<!-- top --><a><!----><!-- - x - --><![CDATA[<b>&x;</b> ]] ]]><?do  it now ?><?go?></a>"), 0x30,
         "C' top ' Ea[C C' - x - ' D'<b>&x;</b> ]] ' Pdo'it now ' Pgo]", u"<b>&x;</b> ]] "},
        // Byte order marks, 32-bit units, a zero unit ending the text, an odd last byte, bad UTF-8.
        {Utf8("\xEF\xBB\xBF<a b=\"x\">t\xC3\xA9xt</a>"), 0x10, "Ea{b=x}[T't\\u00E9xt']", u"t\u00e9xt"},
        {Encode(u"\uFEFF<?xml version=\"1.0\"?><a b=\"x\">t\u00e9xt</a>", "12"), 0x10, "Ea{b=x}[T't\\u00E9xt']", u"t\u00e9xt"},
        {Encode(u" <a>xyz</a>", "1234"), 0x10, kA, u"xyz"},
        {Encode(u" <a>xyz</a>", "4321"), 0x10, kA, u"xyz"},
        {Encode(u"<a>xyz</a>", "2143"), 0x10, kA, u"xyz"},
        {Encode(u"<a>xyz</a>", "3412"), 0x10, kA, u"xyz"},
        {Encode(u"<a>xyz</a>\0<b>junk"sv, "21"), 0x1A, kA, u"xyz"},
        {Utf8("<\0a\0>\0x\0y\0z\0<\0/\0a\0>\0<"sv), 0x10, kA, u"xyz"},
        {Utf8("  \n<a>1\r\n2\r3\n\xC3(\xF0\x9F\x98\x80\xFF</a>\xE2\x82"), 0x10, nullptr,
         u"1\n2\n3\n\uFFFD(\U0001F600\uFFFD\uFFFD"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.dump ? row.dump : Narrow(row.text));
        Result r = ParseBytes(row.bytes, row.options);
        ASSERT_TRUE(r.ok) << r.message;
        std::string dump;
        for (std::size_t i = 0; i < r.root().ChildCount(); ++i) dump.append(i ? " " : "").append(Dump(*r.root().Child(i)));
        if (row.dump) { EXPECT_EQ(dump, row.dump); }
        EXPECT_EQ(Narrow(r.root().Text()), Narrow(row.text));
    }
}

TEST(Entities, TableIsResetForEachDocument) {
    XmlDocument doc;
    doc.ApplyRuleFileSettings();  // declared entities resolved
    ASSERT_TRUE(ParseInto(doc, "<!DOCTYPE r [<!ENTITY e 'E'>]><r>&e;</r>"));
    EXPECT_FALSE(ParseInto(doc, "<r>&e;</r>"));
}

const char kTooMuch[] = "Ran out of memory allocating for a tricky element.";

// big declared with size units, then used in each of uses copies of use.
std::string UsesOfBig(std::size_t size, int uses, const std::string& use) {
    std::string doc = "<!DOCTYPE r [<!ENTITY big \"" + std::string(size, 'x') + "\">]><r>";
    for (int i = 0; i < uses; ++i) doc += use;
    return doc + "</r>";
}

TEST(Limits, EntityExpansionStopsExactlyAtTheBudget) {
    // A document under 41943 units has the least budget, 4 Mi units: 1024 uses of 4 Ki.
    for (const char* use : {"<v>&big;</v>", "<v a='&big;'/>"}) {
        EXPECT_TRUE(Parse(UsesOfBig(4096, 1024, use), kXmlRuleFileOptions).ok) << use;
        EXPECT_EQ(Parse(UsesOfBig(4096, 1025, use), kXmlRuleFileOptions).message, kTooMuch) << use;
    }
    // A larger one has 100 times its size: 100 uses of 60000 fit in a document of some 61000 units, 400 do not.
    EXPECT_TRUE(Parse(UsesOfBig(60000, 100, "<v>&big;</v>"), kXmlRuleFileOptions).ok);
    EXPECT_EQ(Parse(UsesOfBig(60000, 400, "<v>&big;</v>"), kXmlRuleFileOptions).message, kTooMuch);
    // Ten levels of ten references each.
    std::string laughs = "<!DOCTYPE lolz [<!ENTITY lol0 \"lol\">";
    for (int i = 1; i <= 9; ++i) {
        laughs += "<!ENTITY lol" + std::to_string(i) + " \"";
        for (int k = 0; k < 10; ++k) laughs += "&lol" + std::to_string(i - 1) + ";";
        laughs += "\">";
    }
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Parse(laughs + "]><lolz>&lol9;</lolz>", kXmlRuleFileOptions).message, kTooMuch);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

TEST(Tree, WalkingAndChangingNodes) {
    Result r = Parse("<a x='1' y='2'>\n  <b/>\n\t<c\n/></a>");
    XmlNode* a = r.doc->Root()->Child(0);
    std::size_t pos = 99;
    XmlNode* child = nullptr;
    std::string seen;
    for (a->GetFirstChild(pos); a->GetNextChild(pos, child);)
        seen += Narrow(child->Name()) + std::to_string(child->Line()) + ":" + std::to_string(child->Position()) + " ";
    const XmlAttribute* attribute = nullptr;
    for (a->GetFirstAttribute(pos); a->GetNextAttribute(pos, attribute);) seen += Narrow(attribute->name + attribute->value);
    EXPECT_EQ(seen, "b2:3 c3:2 x1y2");
    EXPECT_TRUE(child == nullptr && attribute == nullptr && !a->Child(0)->GetFirstChild(pos));
    EXPECT_TRUE(a->AddAttribute(u"z", u"&lt;2") && !a->AddAttribute(u"x", u"2"));
    EXPECT_EQ(r.doc->ErrorMessage(), u"Attributes must be unique (Rule 40). An attribute named \"x\" was repeated.");
    EXPECT_EQ(a->RemoveAttributes(u"x") + a->RemoveChild(a->Child(0)), 2u);
    XmlNode* n = a->AddChild(std::make_unique<XmlNode>(nullptr, XmlType::Element, u"n"));
    XmlNode* text = n->AddChild(std::make_unique<XmlNode>(r.doc.get(), XmlType::Text));
    EXPECT_EQ(Dump(*a), "Ea{y=2 z=&lt;2=><2}[Ec En[T]]");
    // Text resolves the references of a text node, or gives it as written when one is unknown.
    for (auto [raw, resolved] : {std::pair{u"a&amp;b&lt;c", u"a&b<c"}, {u"a&amp;b&nope;c", u"a&amp;b&nope;c"}, {u"a&amp;b&lt", u"a&amp;b&lt"}}) {
        text->SetValue(raw);
        EXPECT_EQ(r.root().Text(), resolved);
    }
    EXPECT_EQ(n->Escape(u"a&b<c>d\"e'f"), u"a&amp;b&lt;c&gt;d&quot;e&apos;f");
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
    std::u16string seen, errors;
    doc.SetCallback([&seen](XmlNode& node) {
        seen += node.Type() == XmlType::Element ? node.Name() : u"#";
        return node.Name() != u"x" && node.Value() != u"stop";
    });
    // The last parse starts without the error before it.
    for (const char* text : {"<a>t<b/><!--c--></a>", "<a><x/></a>", "<a><!--stop--></a>", "<c/>"}) {
        const bool ok = ParseInto(doc, text);
        EXPECT_NE(ok, doc.HasError());
        errors += doc.ErrorMessage() + u"|" + doc.ErrorTag() + u"|" + (doc.ErrorLine() ? u"line;" : u";");
    }
    EXPECT_EQ(seen, u"#b#ax#c");
    EXPECT_EQ(errors, u"||;Parsing was aborted by Callback function.|x|line;Parsing aborted by Callback function.||line;||;");
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
    r = Parse(Repeat("<e>", max) + "<x/>" + Repeat("</e>", max));
    EXPECT_EQ(r.message + "|" + r.tag, "Internal error: Could not create new element.|e");
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
