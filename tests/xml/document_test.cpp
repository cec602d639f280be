// What the differential test cannot see: our messages and their places, DOCTYPE and
// entities, other encodings and options, and the bounds on size and nesting.
#include <gtest/gtest.h>

#include <chrono>

#include "tests/xml/xml_test_util.h"

namespace {

using namespace xmltest;
using namespace std::string_view_literals;

// Every failure of the parser that a short document shows.
struct ErrorRow {
    std::string_view document;  // bytes, so a row can hold zeros and byte order marks
    const char* message;
    uint32_t options = 0x12;
    const char* tag = nullptr;  // checked when given, as are line and column when not 0
    uint32_t line = 0, column = 0;
};

const ErrorRow kErrorRows[] = {
    {"<a>"sv, "Too few bytes to parse."},
    {"\xFE<\0a"sv, "Second character of Byte Order Mark is invalid for UTF-16 Big Endian (Appendix F)."},
    {"\xFF<a\0"sv, "Second character of Byte Order Mark is invalid for UTF-16 Little Endian (Appendix F)."},
    {"abc<a/>"sv, "Can't determine Character Encoding (Appendix F)."},
    {"\xFF\xFE \0\n\0\t\0\r\0"sv, "Document is all white space (Rule 1)."},
    {"\xFF\xFE \0r\0u\0l\0e\0s\0"sv, "First non-space character is not '<' (Rule 1)."},
    {"<?XML version='1.0'?><a/>"sv, "XML Declaration is not lower case (Rule 23).", 0x10, "xml"},
    {"<?xml-stylesheet href='s.css'?><a/>"sv, "Can't find beginning-of-XML tag (<?xml) regardless of case.", 0},
    {"<?xml version='1.0'><a/>"sv, "Can't find the end of the end of the beginning-of-XML tag (?>).", 0x12, "xml"},
    {"<?xml version='1.0'?><a/>\n<!--x--><b/>"sv, "There can be only one element (Rule 1).", 0x30, "b", 2, 9},
    {"<?xml version='1.0'?><a/><?xml version='1.0'?>"sv, "There can be only one prolog (Rule 1)."},
    {"<a><?XmL x?></a>"sv, "The xml declaration must be lower case (Rule 23)."},
    // The declaration's pseudo-attributes, each failure naming the tag "xml"; encoding and
    // standalone take the same steps as version with messages of their own.
    {"<?xml?><a/>"sv, "Not enough room left to parse (Rule 23).", 0x12, "xml"},
    {"<?xml encoding='x'?><a/>"sv, "Missing VersionInfo data (Rule 23).", 0x12, "xml"},
    {"<?xml Version='1.0'?><a/>"sv, "The VersionInfo must be lower case (Rule 23).", 0x12, "xml"},
    {"<?xml version?><a/>"sv, "Truncated VersionInfo (Rule 24).", 0x12, "xml"},
    {"<?xml version '1.0'?><a/>"sv, "Ill-formed VersionInfo missing = character (Rule 24).", 0x12, "xml"},
    {"<?xml version= ?><a/>"sv, "Ill-formed VersionInfo, missing VersionNum (Rule 24).", 0x12, "xml"},
    {"<?xml version=1.0?><a/>"sv, "Illegal VersionNum delimiter, must be a single or double quote (Rule 24).", 0x12, "xml"},
    {"<?xml version=\"1.0'?><a/>"sv, "VersionNum missing matching delimiter (Rule 24).", 0x12, "xml"},
    {"<?xml version=''?><a/>"sv, "Empty VersionNum not allowed (Rule 26).", 0x12, "xml"},
    {"<?xml version='1 0'?><a/>"sv, "Character 2 (decimal 32) of the \"version\" attribute is illegal (Rule 26).", 0x12, "xml"},
    {"<?xml version='1.0' foo?><a/>"sv, "Not enough room left to parse SDDecl (Rule 32).", 0x12, "xml"},
    {"<?xml version='1.0' encoding?><a/>"sv, "Truncated EncodingDecl (Rule 80).", 0x12, "xml"},
    {"<?xml version='1.0' encoding='8bit'?><a/>"sv, "Illegal first character in EncName (Rule 81).", 0x12, "xml"},
    {"<?xml version='1.0' encoding='utf 8'?><a/>"sv, "Character 4 is illegal in EncName of \"utf 8\" (Rule 81).", 0x12, "xml"},
    {"<?xml version='1.0' standalone?><a/>"sv, "Truncated SDDecl (Rule 32).", 0x12, "xml"},
    {"<?xml version='1.0' standalone='YES'?><a/>"sv,
     "Illegal value for SDDecl, it must me lower case \"yes\" or \"no\" (Rule 32).", 0x12, "xml"},
    {"<?xml version='1.0' standalone='no' encoding='utf-8'?><a/>"sv, "Extra characters after SDDecl (Rule 23).", 0x12, "xml"},
    {"<?xml version='1.0' something='else'?><a/>"sv, "Extra characters after SDDecl (Rule 23).", 0x12, "xml"},
    // Tags, attributes, comments, CDATA sections and processing instructions.
    {"<a><></a>"sv, "Tag is empty."},
    {"<a></></a>"sv, "EmptyTag."},
    {"<a></a"sv, "Premature end of data."},
    {"<a>x<"sv, "Premature end of data."},
    {"<a><1b/></a>"sv, "First character of element name is not legal (Rule 5)."},
    {"<a><b\"c/></a>"sv, "Character 2 of element named \"b\"c\" is invalid (Rule 999192)."},
    {"<a><bc"sv, "Could not find terminator. Premature end of data encountered.", 0x12, "bc"},
    {"<a><b /"sv, "Could not find terminator. Premature end of data encountered."},
    {"<a><b/ ></a>"sv, "Not yet documented error 2785."},
    {"<a><b x='1' -y='2'/></a>"sv, "Not yet documented error 2804."},
    {"<a><b ='2'/></a>"sv, "Empty attribute not allowed (Rule 10)."},
    {"<a><b x '1'/></a>"sv, "Attribute must have '=' between the name and the value (Rule 41)."},
    {"<a><b x=1/></a>"sv, "Attribute values must begin with a \" or a ' (Rule 10)."},
    {"<a><b x=\"1/></a>"sv, "Attribute missing matching \" (Rule 10)."},
    {"<a><b x='1/></a>"sv, "Attribute missing matching ' (Rule 10)."},
    {"<a></a x='1'>"sv, "Attributes not allowed in end tag (Rule 42)."},
    {"<a/></a>"sv, "Not yet documented error 2726."},
    {"<a><b>"sv, "There are no more bytes to parse. We ran out of bytes before we rand out of XML."},
    {"<a><!ENTITY e 'x'></a>"sv, "Type of element is unknown. Could not parse element data."},
    {"<a/><?"sv, "META tag is too short."},
    {"<a/><!a"sv, "META tag is too short."},
    {"<a>\n<b>\n  </c></a>"sv, "Overlapping tags detected. Found \"c\" but needed to find \"b\".", 0x12, "b", 3, 3},
    {"<rules>\n<LOG>x</log>"sv, "Overlapping tags detected. Found \"log\" but needed to find \"LOG\".", 0x1A, "LOG", 2},
    {"<a>\r\n\r\n<b x='1' x='2'/></a>"sv, "Attributes must be unique (Rule 40). An attribute named \"x\" was repeated.",
     0x12, "b", 3},
    {"<a v='1<2'/>"sv, "Attribute values cannot contain a '<' (Rule 41). Offending attribute is named named \"v\""},
    {"<a w='&#;'/>"sv, "Attribute values cannot contain a '&' (Rule 41). Offending attribute is named named \"w\""},
    {"<a><b>R &amp D</b></a>"sv, "Ill-formed entity reference in text section (Rule 68).", 0x12, "b"},
    {"<a>&nbsp;</a>"sv, "Bad entity reference in text section (Rule 68)."},
    {"<a>&#xD800;</a>"sv, "Bad entity reference in text section (Rule 66)."},
    {"<a>&#0;</a>"sv, "Bad entity reference in text section (Rule 66)."},
    {"<a>&#X41;</a>"sv, "Bad entity reference in text section (Rule 66)."},
    {"<a><!-- x -</a>"sv, "Comment is missing the -- terminator (Rule 15)."},
    {"<a><!-- x --"sv, "Comment is missing the --> terminator (Rule 15)."},
    {"<a><!-- x ---></a>"sv, "Comment contains illegal double dashes (Rule 15)."},
    {"<a><![CDA"sv, "Ill formed CDATA section."},
    {"<a><![CDATX[x]]></a>"sv, "Ill formed CDATA section (Rule 19)."},
    {"<a><![CDATA[x]]</a>"sv, "Bad CDATA section (Rule 20)."},
    {"<a><?" "?></a>"sv, "The processing instruction cannot be empty (Rule 16)."},
    {"<a><? x?></a>"sv, "Illegal first character in processing instruction (Rule 16->5)."},
    {"<a><?x y></a>"sv, "Processing instruction is not terminated with ?> (Rule 16)"},
    {"<a><?x/y?></a>"sv, "Processing instruction is not terminated with ?> (Rule 16)"},
    // DOCTYPE and entity declarations.
    {"<!DOCTYPE"sv, "DOCTYPE Section, not enough room to parse Name (Rule 28)."},
    {"<!DOCTYPE 1r><r/>"sv, "DOCTYPE Section, illegal first character of Name (Rule 5)."},
    {"<!DOCTYPE r\"><r/>"sv, "Illegal DOCTYPE name terminator (Rule 28)."},
    {"<!DOCTYPE r\xC2\xA0><r/>"sv, "Illegal DOCTYPE name character (Rule 28)."},
    {"<!DOCTYPEr><r/>"sv, "Impossible character in DOCTYPE declaration (Rule 28)."},
    {"<!DOCTYPE r"sv, "No more room (Rule 28)."},
    {"<!DOCTYPE r "sv, "No room after continuation point (Rule 28)."},
    {"<!DOCTYPE r SYS"sv, "No more room to parse SYSTEM or PUBLIC (Rule 75)."},
    {"<!DOCTYPE r OTHER 'x'><r/>"sv, "DOCTYPE ExternalID is not SYSTEM or PUBLIC (Rule 75)."},
    {"<!DOCTYPE r SYSTEM "sv, "Not enough room to quote a string (Rule 11)."},
    {"<!DOCTYPE r SYSTEM x><r/>"sv, "String not properly quoted (Rule 11)."},
    {"<!DOCTYPE r SYSTEM 'x><r/>"sv, "Mismatched quotes (Rule 11)."},
    {"<!DOCTYPE r PUBLIC 'a{b' 'c'><r/>"sv, "Illegal PubidChar (Rule 13)."},
    {"<!DOCTYPE r PUBLIC 'ab'"sv, "No more room to quote a string (Rule 11)."},
    {"<!DOCTYPE r PUBLIC 'ab''c'><r/>"sv, "PUBLIS SystemLiteral not properly quoted (Rule 11)."},
    {"<!DOCTYPE r PUBLIC 'ab' "sv, "No more room to parse a quoted string (Rule 11)."},
    {"<!DOCTYPE r PUBLIC 'ab' c><r/>"sv, "PUBLIC SystemLiteral not properly quoted (Rule 11)."},
    {"<!DOCTYPE r PUBLIC 'ab' 'c><r/>"sv, "No more room to parse a quoted string (Rule 11)."},
    {"<!DOCTYPE r SYSTEM 'x' y><r/>"sv, "Illegal character at contiuation point (Rule 28)."},
    {"<!DOCTYPE r SYSTEM 'x' "sv, "No more room (Rule 28)."},
    {"<!DOCTYPE r []"sv, "No room after closing ] (Rule 28)."},
    {"<!DOCTYPE r [] x><r/>"sv, "Missing closing > (Rule 28)."},
    {"<!DOCTYPE r [ x ]><r/>"sv, "Ill-formed DOCTYPE child, missing < (Rule 29)."},
    {"<!DOCTYPE r [ %p ]><r/>"sv, "DOCTYPE PEReference is missing terminating semi-colon (Rule 69)."},
    {"<!DOCTYPE r [<!ENTITY % p ''> %p; ]><r/>"sv, "No entity database.", 0x10},
    {"<!DOCTYPE r [ %p; ]><r/>"sv, "Can't resolve DOCTYPE PEReference (Rule 69)."},
    {"<!DOCTYPE r [<!ENTITY % p '&#37;q;'> %p; ]><r/>"sv, "Can't resolve embedded DOCTYPE PEReference (Rule 69)."},
    {"<!DOCTYPE r [<!ENTITY % p ']'> %p; ]><r/>"sv, "Can't parse tricky element (Rule 69)."},
    // '&#37;' becomes '%' in the replacement text: the entity names itself until the nesting bound.
    {"<!DOCTYPE r [<!ENTITY % a '&#37;a;'> %a;]><r/>"sv, "Can't parse tricky element (Rule 69)."},
    {"<!DOCTYPE r [ <!FOO> ]><r/>"sv, "Error 2490 (Rule 28)."},
    {"<!DOCTYPE r [ <!ELEMENT r 'ANY"sv, "Ill-formed DOCTYPE child, missing terminating > (Rule 28)."},
    {"<!DOCTYPE r [ <!ENTITY e 'x' ]><r/>"sv, "Ill-formed DOCTYPE child, missing terminating > (Rule 28)."},
    {"<!DOCTYPE r [ <!ELEMENT r ANY>"sv, "DOCTYPE Section did not parse."},
    {"<!DOCTYPE r [<!ENTITYe 'x'>]><r/>"sv, "Ill formed ENTITY section (Rule 71)."},
    {"<!DOCTYPE r [<!ENTITY %e 'x'>]><r/>"sv, "Ill formed ENTITY section (Rule 71)."},
    {"<!DOCTYPE r [<!ENTITY 1 'x'>]><r/>"sv, "Ill formed ENTITY section[2] (Rule 71)."},
    {"<!DOCTYPE r [<!ENTITY e'x'>]><r/>"sv, "Ill formed ENTITY section[4] (Rule 71)."},
    {"<!DOCTYPE r [<!ENTITY e x>]><r/>"sv, "Ill formed ENTITY section (Rule 75)."},
    {"<!DOCTYPE r [<!ENTITY e SYSTEM>]><r/>"sv, "Ill formed ENTITY section[2] (Rule 75)."},
    {"<!DOCTYPE r [<!ENTITY e PUBLIC 'a{'>]><r/>"sv, "Ill formed ENTITY (PUBLIC) section (Rule 75)."},
    {"<!DOCTYPE r [<!ENTITY e PUBLIC 'a' >]><r/>"sv, "Ill formed ENTITY (PUBLIC) section[2] (Rule 75)."},
    {"<!DOCTYPE r [<!ENTITY e \"x>]><r/>"sv, "ENTITY value missing closing double quote (Rule 9)."},
    {"<!DOCTYPE r [<!ENTITY e \"x\"\">]><r/>"sv, "ENTITY value has extra double quote (Rule 9)."},
    {"<!DOCTYPE r [<!ENTITY e 'x>]><r/>"sv, "ENTITY value missing closing single quote (Rule 9)."},
    {"<!DOCTYPE r [<!ENTITY e 'x' '>]><r/>"sv, "ENTITY value has extra single quote (Rule 9)."},
    {"<!DOCTYPE r [<!ENTITY e 'a & b'>]><r/>"sv, "ENTITY value contains & but is not used in an entity reference (Rule 9)."},
    {"<!DOCTYPE r [<!ENTITY e '100%'>]><r/>"sv, "ENTITY value contains % but is not used in a character reference (Rule 9)."},
    // Declared entities: unknown without 0x02, external ones never read.
    {"<!DOCTYPE r [<!ENTITY e 'E'>]><r>&e;</r>"sv, "Bad entity reference in text section (Rule 68).", 0x10, "r"},
    {"<!DOCTYPE r [<!ENTITY ext SYSTEM 'file:///etc/passwd'>]><r>&ext;</r>"sv,
     "Unsupported (non-standalone) External Reference to &ext;"},
    {"<!DOCTYPE r [<!ENTITY % ext PUBLIC '-//A//B' 'b.dtd'> %ext;]><r/>"sv,
     "Unsupported (non-standalone) External Reference to %ext;"},
};

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
        {Utf8("<!DOCTYPE r [<!ENTITY who \"world\"><!ENTITY hi 'hello &who;&#33;'>]><r>&hi; &amp; bye</r>"), 0x1A,
         "XDOCTYPE[XENTITY'who \"world\"' XENTITY'hi 'hello &who;&#33;''] Er[T'&hi; &amp; bye']", u"hello world! & bye"},
        {Utf8("<!DOCTYPE r [<!ENTITY e 'one'><!ENTITY e 'two'>]><r a='x&e;y'>&e;</r>"), 0x12,
         "XDOCTYPE[XENTITY'e 'one'' XENTITY'e 'two''] Er{a=x&e;y=>xoney}[T'&e;']", u"one"},
        {Utf8("<!DOCTYPE r [<!ENTITY % decl '<!ENTITY x \"X\">'> %decl; <!ENTITY % v 'V'><!ENTITY y 'a%v;b'>]>"
              "<r>&x;&y;</r>"), 0x12, nullptr, u"XaVb"},
        // White-space-only text is dropped, with 0x08 also when 0x80 would keep it.
        {Utf8("<a>\n  <b>x</b>\n  <c> </c>\n</a>"), 0x98, "Ea[Eb[T'x'] Ec]", u"x"},
        {Utf8("<a>1<b>2<c>3</c>4</b><!--no--><?pi no?><![CDATA[5&amp;]]>6</a>"), 0x10, nullptr, u"12345&amp;6"},
        {Utf8("<!-- top --><a><!----><!-- - x - --><![CDATA[<b>&x;</b> ]] ]]><?do  it now ?><?go?></a>"), 0x30,
         "C' top ' Ea[C C' - x - ' D'<b>&x;</b> ]] ' Pdo'it now ' Pgo]", u"<b>&x;</b> ]] "},
        // Byte order marks, 32-bit units, a zero unit ending the text, an odd last byte, bad UTF-8.
        {Utf8("\xEF\xBB\xBF<a b=\"x\">t\xC3\xA9xt</a>"), 0x10, "Ea{b=x}[T't\\u00E9xt']", u"t\u00e9xt"},
        {Encode(u"\uFEFF<?xml version=\"1.0\"?><a b=\"x\">t\u00e9xt</a>", "12"), 0x10, "Ea{b=x}[T't\\u00E9xt']", u"t\u00e9xt"},
        {Encode(u" <a>xyz</a>", "1234"), 0x10, kA, u"xyz"},
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

TEST(Document, EntitiesAndErrorsAreResetForEachDocument) {
    XmlDocument doc;
    doc.ApplyRuleFileSettings();  // declared entities resolved
    ASSERT_TRUE(ParseInto(doc, "<!DOCTYPE r [<!ENTITY e 'E'>]><r>&e;</r>"));
    EXPECT_FALSE(ParseInto(doc, "<r>\n&e;</r>"));
    ASSERT_TRUE(ParseInto(doc, "<r/>"));
    EXPECT_TRUE(!doc.HasError() && doc.ErrorMessage().empty() && doc.ErrorTag().empty() && doc.ErrorLine() == 0);
}

const char kTooMuch[] = "Ran out of memory allocating for a tricky element.";

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
    for (int i = 1; i <= 9; ++i)
        laughs.append("<!ENTITY lol").append(std::to_string(i)).append(" \"")
            .append(Repeat("&lol" + std::to_string(i - 1) + ";", 10)).append("\">");
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Parse(laughs + "]><lolz>&lol9;</lolz>", kXmlRuleFileOptions).message, kTooMuch);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

TEST(Tree, DeepTreesGiveTheirTextAndAreReleasedWithoutRecursion) {
    auto doc = std::make_unique<XmlDocument>();
    XmlNode* node = doc->Root();
    for (int i = 0; i < 200000; ++i) node = node->AddChild(std::make_unique<XmlNode>(doc.get(), XmlType::Element, u"e"));
    node->AddChild(std::make_unique<XmlNode>(doc.get(), XmlType::Text))->SetValue(u"deep");
    EXPECT_EQ(doc->Root()->Text(), u"deep");
    doc.reset();
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
