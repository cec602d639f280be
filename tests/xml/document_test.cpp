// What the differential test cannot see, read with the rule-file settings: our messages
// and their places, DOCTYPE and entities, the bounds on size and nesting.
#include <gtest/gtest.h>

#include "tests/xml/xml_test_util.h"
#include "xml/xml.h"

namespace {

using namespace xmltest;

// The message of the parse's failure, or "" (and the error flag agrees).
std::string Parse(XmlDocument& doc, std::string_view bytes) {
    doc.ApplyRuleFileSettings();
    const bool ok = doc.Parse(bytes.data(), bytes.size());
    return doc.HasError() == ok ? "<error flag disagrees>" : Narrow(doc.ErrorMessage());
}

// Each node as a type letter (P instruction, C comment, D CDATA, E element, T text,
// X declaration), its name, 'value' (of leaves), {attributes as name=text} and [children].
std::string Dump(const XmlNode& node) {
    std::string out = "UPCDETX"[node.Type()] + Narrow(node.Name());
    if (!node.Value().empty() && !node.ChildCount()) out.append("'").append(Narrow(node.Value())).append("'");
    for (std::size_t i = 0; i < node.AttributeCount(); ++i)
        out.append(i ? " " : "{").append(Narrow(node.Attribute(i)->name)).append("=")
            .append(Narrow(node.AttributeText(i))).append(i + 1 < node.AttributeCount() ? "" : "}");
    std::size_t pos;
    XmlNode* child;
    if (node.GetFirstChild(pos))
        for (const char* open = "["; node.GetNextChild(pos, child); open = " ") out.append(open).append(Dump(*child));
    return node.ChildCount() ? out + "]" : out;
}

const std::string kDefaultRoot = "Pxml{version=1.0 standalone=yes}";

// Every failure of the parser that a short document shows.
const struct {
    const char* document;
    const char* message;
    const char* tag = nullptr;    // checked when given,
    const char* place = nullptr;  // as is "line:column"
} kErrorRows[] = {
    {"<a>", "Too few bytes to parse."},
    {"abc<a/>", "Can't determine Character Encoding (Appendix F)."},
    {"<?xml version='1.0'><a/>", "Can't find the end of the end of the beginning-of-XML tag (?>).", "xml"},
    {"<?xml version='1.0'?><a/><?xml version='1.0'?>", "There can be only one prolog (Rule 1)."},
    {"<a><?XmL x?></a>", "The xml declaration must be lower case (Rule 23)."},
    // The declaration's pseudo-attributes (encoding and standalone take version's steps).
    {"<?xml?><a/>", "Not enough room left to parse (Rule 23).", "xml"},
    {"<?xml version '1.0'?><a/>", "Ill-formed VersionInfo missing = character (Rule 24).", "xml"},
    {"<?xml version=1.0?><a/>", "Illegal VersionNum delimiter, must be a single or double quote (Rule 24).", "xml"},
    {"<?xml version='1 0'?><a/>", "Character 2 (decimal 32) of the \"version\" attribute is illegal (Rule 26).", "xml"},
    {"<?xml version='1.0' encoding='utf 8'?><a/>", "Character 4 is illegal in EncName of \"utf 8\" (Rule 81).", "xml"},
    {"<?xml version='1.0' standalone='YES'?><a/>",
     "Illegal value for SDDecl, it must me lower case \"yes\" or \"no\" (Rule 32).", "xml"},
    {"<?xml version='1.0' standalone='no' encoding='utf-8'?><a/>", "Extra characters after SDDecl (Rule 23).", "xml"},
    // Tags, attributes, references, comments, CDATA sections and processing instructions.
    {"<a><></a>", "Tag is empty."},
    {"<a></></a>", "EmptyTag."},
    {"<a></a", "Premature end of data."},
    {"<a><1b/></a>", "First character of element name is not legal (Rule 5)."},
    {"<a><b\"c/></a>", "Character 2 of element named \"b\"c\" is invalid (Rule 999192)."},
    {"<a><bc", "Could not find terminator. Premature end of data encountered.", "bc"},
    {"<a><b ='2'/></a>", "Empty attribute not allowed (Rule 10)."},
    {"<a><b x '1'/></a>", "Attribute must have '=' between the name and the value (Rule 41)."},
    {"<a><b x=1/></a>", "Attribute values must begin with a \" or a ' (Rule 10)."},
    {"<a><b x=\"1/></a>", "Attribute missing matching \" (Rule 10)."},
    {"<a></a x='1'>", "Attributes not allowed in end tag (Rule 42)."},
    {"<a/></a>", "Not yet documented error 2726."},
    {"<a><b>", "There are no more bytes to parse. We ran out of bytes before we rand out of XML."},
    {"<a><!ENTITY e 'x'></a>", "Type of element is unknown. Could not parse element data."},
    // Names compare with case; lines count CR LF once.
    {"<a>\r\n<b>\r\n  </B></a>", "Overlapping tags detected. Found \"B\" but needed to find \"b\".", "b", "3:3"},
    {"<a>\r\n\r\n<b x='1' x='2'/></a>", "Attributes must be unique (Rule 40). An attribute named \"x\" was repeated.",
     "b", "3:10"},
    {"<a w='R&D'/>", "Attribute values cannot contain a '&' (Rule 41). Offending attribute is named named \"w\""},
    {"<a v='1<2'/>", "Attribute values cannot contain a '<' (Rule 41). Offending attribute is named named \"v\""},
    {"<a><b>R &amp D</b></a>", "Ill-formed entity reference in text section (Rule 68).", "b"},
    {"<a>&nbsp;</a>", "Bad entity reference in text section (Rule 68)."},
    {"<a>&#xD800;</a>", "Bad entity reference in text section (Rule 66)."},
    {"<a><!-- x ---></a>", "Comment contains illegal double dashes (Rule 15)."},
    {"<a><!-- x -</a>", "Comment is missing the -- terminator (Rule 15)."},
    {"<a><!-- x --", "Comment is missing the --> terminator (Rule 15)."},
    {"<a><![CDATA[x]]</a>", "Bad CDATA section (Rule 20)."},
    {"<a><![CDATX[x]]></a>", "Ill formed CDATA section (Rule 19)."},
    {"<a><?" "?></a>", "The processing instruction cannot be empty (Rule 16)."},
    {"<a><? x?></a>", "Illegal first character in processing instruction (Rule 16->5)."},
    {"<a><?x/y?></a>", "Processing instruction is not terminated with ?> (Rule 16)"},
    // DOCTYPE and entity declarations.
    {"<!DOCTYPE", "DOCTYPE Section, not enough room to parse Name (Rule 28)."},
    {"<!DOCTYPE r OTHER 'x'><r/>", "DOCTYPE ExternalID is not SYSTEM or PUBLIC (Rule 75)."},
    {"<!DOCTYPE r\"><r/>", "Illegal DOCTYPE name terminator (Rule 28)."},
    {"<!DOCTYPE r SYSTEM x><r/>", "String not properly quoted (Rule 11)."},
    {"<!DOCTYPE r [] x><r/>", "Missing closing > (Rule 28)."},
    {"<!DOCTYPE r [ x ]><r/>", "Ill-formed DOCTYPE child, missing < (Rule 29)."},
    {"<!DOCTYPE r [ %p ]><r/>", "DOCTYPE PEReference is missing terminating semi-colon (Rule 69)."},
    {"<!DOCTYPE r [ %p; ]><r/>", "Can't resolve DOCTYPE PEReference (Rule 69)."},
    // '&#37;' becomes '%' in the replacement text: the entity names itself until the nesting bound.
    {"<!DOCTYPE r [<!ENTITY % a '&#37;a;'> %a;]><r/>", "Can't parse tricky element (Rule 69)."},
    {"<!DOCTYPE r [ <!ELEMENT r 'ANY", "Ill-formed DOCTYPE child, missing terminating > (Rule 28)."},
    {"<!DOCTYPE r [<!ENTITYe 'x'>]><r/>", "Ill formed ENTITY section (Rule 71)."},
    {"<!DOCTYPE r [<!ENTITY e SYSTEM>]><r/>", "Ill formed ENTITY section[2] (Rule 75)."},
    {"<!DOCTYPE r [<!ENTITY e 'x>]><r/>", "ENTITY value missing closing single quote (Rule 9)."},
    {"<!DOCTYPE r [<!ENTITY e 'a & b'>]>", "ENTITY value contains & but is not used in an entity reference (Rule 9)."},
    {"<!DOCTYPE r [<!ENTITY e '100%'>]>", "ENTITY value contains % but is not used in a character reference (Rule 9)."},
    // External entities are never read.
    {"<!DOCTYPE r [<!ENTITY ext SYSTEM 'file:///etc/passwd'>]><r>&ext;</r>",
     "Unsupported (non-standalone) External Reference to &ext;"},
    {"<!DOCTYPE r [<!ENTITY % ext PUBLIC '-//A//B' 'b.dtd'> %ext;]><r/>",
     "Unsupported (non-standalone) External Reference to %ext;"},
};

TEST(Document, EachFailureGivesItsMessageTagAndPlace) {
    for (const auto& row : kErrorRows) {
        XmlDocument doc;
        EXPECT_EQ(Parse(doc, row.document), row.message) << row.document;
        if (row.tag) { EXPECT_EQ(Narrow(doc.ErrorTag()), row.tag) << row.document; }
        const std::string place = std::to_string(doc.ErrorLine()) + ":" + std::to_string(doc.ErrorPosition());
        if (row.place) { EXPECT_EQ(place, row.place) << row.document; }
    }
}

TEST(Document, WellFormedDocumentsGiveTheirTreeAndText) {
    const struct {
        std::string bytes;
        const char* dump;      // the root's children, when given
        const char16_t* text;  // Text of the root
    } rows[] = {
        {"<?xml-stylesheet href='s.css'?><a/>tail", "Pxml-stylesheet'href='s.css'' Ea T'tail'", u"tail"},
        {"<!DOCTYPE r SYSTEM \"r.dtd\" [\n <!ELEMENT r (#PCDATA)>\n <!ATTLIST r a CDATA \"x>y\">\n <!-- c -->\n"
         " <?pi d?>\n <!ENTITY e \"E\">\n]>\n<r/>",
         "XDOCTYPE[XELEMENT'r (#PCDATA)' XATTLIST'r a CDATA \"x>y\"' C' c ' Ppi'd' XENTITY'e \"E\"'] Er", u""},
        {"<!DOCTYPE r [<!ENTITY who \"world\"><!ENTITY hi 'hello &who;&#x2f;'>]><r>&hi; &amp; bye</r>",
         "XDOCTYPE[XENTITY'who \"world\"' XENTITY'hi 'hello &who;&#x2f;''] Er[T'&hi; &amp; bye']", u"hello world/ & bye"},
        {"<!DOCTYPE r [<!ENTITY e 'one'><!ENTITY e 'two'>]><r a='x&e;y'>&e;</r>",
         "XDOCTYPE[XENTITY'e 'one'' XENTITY'e 'two''] Er{a=xoney}[T'&e;']", u"one"},
        {"<!DOCTYPE r [<!ENTITY % decl '<!ENTITY x \"X\">'> %decl; <!ENTITY % v 'V'><!ENTITY y 'a%v;b'>]><r>&x;&y;</r>",
         nullptr, u"XaVb"},
        {"<a>\n  <b>x</b>\n  <c> </c>\n</a>", "Ea[Eb[T'x'] Ec]", u"x"},
        {"<a>1<b>2<c>3</c>4</b><!--no--><?pi no?><![CDATA[5&amp;]]>6</a>", nullptr, u"12345&amp;6"},
        // The rule files' form: UTF-16LE ending at a zero unit.
        {Encode(std::u16string_view(u"<a>xyz</a>\0<b>junk", 18), "21"), "Ea[T'xyz']", u"xyz"},
    };
    for (const auto& row : rows) {
        XmlDocument doc;
        ASSERT_EQ(Parse(doc, row.bytes), "") << row.bytes;
        if (row.dump) { EXPECT_EQ(Dump(*doc.Root()), kDefaultRoot + "[" + row.dump + "]") << row.bytes; }
        EXPECT_EQ(Narrow(doc.Root()->Text()), Narrow(row.text)) << row.bytes;
    }
}

TEST(Document, EntitiesAndErrorsAreResetForEachDocument) {
    XmlDocument doc;
    // A failed parse of a declared document leaves the default declaration, childless.
    EXPECT_EQ(Parse(doc, "<?xml version='1.0' encoding='latin1'?><a></a"), "Premature end of data.");
    EXPECT_EQ(Dump(*doc.Root()), kDefaultRoot);
    ASSERT_EQ(Parse(doc, "<!DOCTYPE r [<!ENTITY e 'E'>]><r>&e;</r>"), "");
    EXPECT_EQ(Parse(doc, "<r>\n&e;</r>"), "Bad entity reference in text section (Rule 68).");
    EXPECT_EQ(Parse(doc, "<r/>"), "");
}

std::string Repeat(const std::string& piece, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i) out += piece;
    return out;
}

// big declared with size units, then used in each of uses copies of use.
std::string UsesOfBig(std::size_t size, int uses, const std::string& use) {
    return "<!DOCTYPE r [<!ENTITY big \"" + std::string(size, 'x') + "\">]><r>" + Repeat(use, uses) + "</r>";
}

TEST(Limits, EntityExpansionStopsExactlyAtTheBudget) {
    const std::string tooMuch = "Ran out of memory allocating for a tricky element.";
    XmlDocument doc;
    // A document under 41943 units has the least budget, 4 Mi units: 1024 uses of 4 Ki.
    for (const char* use : {"<v>&big;</v>", "<v a='&big;'/>"}) {
        EXPECT_EQ(Parse(doc, UsesOfBig(4096, 1024, use)), "") << use;
        EXPECT_EQ(Parse(doc, UsesOfBig(4096, 1025, use)), tooMuch) << use;
    }
    // A larger one has 100 times its size: 100 uses of 60000 fit in a document of some 61000 units, 400 do not.
    EXPECT_EQ(Parse(doc, UsesOfBig(60000, 100, "<v>&big;</v>")), "");
    EXPECT_EQ(Parse(doc, UsesOfBig(60000, 400, "<v>&big;</v>")), tooMuch);
    // Ten levels of ten references each.
    std::string laughs = "<!DOCTYPE lolz [<!ENTITY lol0 \"lol\">";
    for (char i = '1'; i <= '9'; ++i)
        laughs += std::string("<!ENTITY lol") + i + " \"" + Repeat(std::string("&lol") + char(i - 1) + ";", 10) + "\">";
    EXPECT_EQ(Parse(doc, laughs + "]><lolz>&lol9;</lolz>"), tooMuch);
}

TEST(Limits, NestingDepthAndDeepTreesReleasedWithoutRecursion) {
    const std::size_t max = XmlDocument::kMaxDepth;
    XmlDocument doc;
    ASSERT_EQ(Parse(doc, Repeat("<e>", max) + Repeat("</e>", max)), "");
    EXPECT_EQ(Dump(*doc.Root()), kDefaultRoot + Repeat("[Ee", max) + Repeat("]", max));
    const std::string tooDeep = Repeat("<e>", max) + "<x/>" + Repeat("</e>", max);
    EXPECT_EQ(Parse(doc, tooDeep), "Internal error: Could not create new element.");
    EXPECT_EQ(Narrow(doc.ErrorTag()), "e");
    // Deeper than a parse makes: text found, and every node released without recursion at the end.
    XmlNode* node = doc.Root();
    for (int i = 0; i < 200000; ++i) node = node->AddChild(std::make_unique<XmlNode>(&doc, XmlType::Element, u"e"));
    node->AddChild(std::make_unique<XmlNode>(&doc, XmlType::Text))->SetValue(u"deep");
    EXPECT_EQ(doc.Root()->Text(), u"deep");
}

TEST(Limits, ManyAttributesAndRepeatsAmongThem) {
    std::string text = "<a";
    for (int i = 0; i < 100000; ++i) text += " n" + std::to_string(i) + "=''";
    XmlDocument doc;
    ASSERT_EQ(Parse(doc, text + "/>"), "");
    EXPECT_EQ(doc.Root()->Child(0)->AttributeCount(), 100000u);
    for (const char* name : {"n99999", "n3"})
        EXPECT_EQ(Parse(doc, text + " " + name + "='x'/>"),
                  "Attributes must be unique (Rule 40). An attribute named \"" + std::string(name) + "\" was repeated.");
}

}  // namespace
