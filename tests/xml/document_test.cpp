// Whole documents: every failure with its text and place, well-formed documents in each
// encoding and option set with the tree they give, and every truncation of a rich one.
#include <gtest/gtest.h>

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

TEST(Document, DeclarationIsRecordedOnTheRootAndTheDocument) {
    Result r = Parse("<?xml version = \"1.0\" encoding='UTF-8'  standalone\t=\t\"no\" ?>\n<a/>");
    EXPECT_EQ(Dump(r.root()), "Pxml{version=1.0 encoding=UTF-8 standalone=no}[Ea]");
    EXPECT_EQ(r.doc->Version() + u"|" + r.doc->Encoding(), u"1.0|UTF-8");
    EXPECT_FALSE(r.doc->Standalone());
    EXPECT_EQ(Dump(Parse("<?XML version='1.0' standalone='yes'?><a/>", 0x11).root()), "Pxml{version=1.0 standalone=yes}[Ea]");
    EXPECT_EQ(Dump(Parse("<?xml version='1.0'?><a/>", 0).root()), "Pxml{version=1.0}[Ea]");
    // Without a declaration, and after a failed parse of a declared document: the default, childless then.
    for (const char* doc : {"<a/>", "<?xml version='1.0' encoding='latin1'?><a></b>", "<?xml version='1.0' standalone='YES'?>"}) {
        r = Parse(doc);
        EXPECT_EQ(Dump(r.root()), r.ok ? "Pxml{version=1.0 standalone=yes}[Ea]" : "Pxml{version=1.0 standalone=yes}") << doc;
        EXPECT_EQ(r.doc->Version() + r.doc->Encoding(), u"1.0");
        EXPECT_TRUE(r.doc->Standalone());
    }
}

const char kSpaced[] = "<a>\n  <b>x</b>\n  <c> </c>\n</a>";
const char kA[] = "Ea[T'xyz']";

struct GoodRow {
    Bytes bytes;
    uint32_t options;
    const char* dump;      // DumpChildren of the root, when given
    const char16_t* text;  // Text of the root
};

TEST(Document, WellFormedDocumentsGiveTheirTreeAndText) {
    const GoodRow rows[] = {
        {Utf8("<?xml-stylesheet href='s.css'?><a/>tail"), 0x10, "Pxml-stylesheet'href='s.css'' Ea T'tail'", u"tail"},
        {Utf8("<a/><b/>"), 0x10, "Ea Eb", u""},
        {Utf8("<!--x--><a/><?p?>"), 0x30, "C'x' Ea Pp", u""},
        {Utf8("<!DOCTYPE r SYSTEM \"r.dtd\" [\n <!ELEMENT r (#PCDATA)>\n <!ATTLIST r a CDATA \"x>y\">\n <!-- c -->\n"
              " <?pi d?>\n <!ENTITY e \"E\">\n]>\n<r/>"), 0x12,
         "XDOCTYPE[XELEMENT'r (#PCDATA)' XATTLIST'r a CDATA \"x>y\"' C' c ' Ppi'd' XENTITY'e \"E\"'] Er", u""},
        {Utf8("<!DOCTYPE r PUBLIC \"-//X//Y//EN\" 'y.dtd'><r/>"), 0x10, "XDOCTYPE'r PUBLIC \"-//X//Y//EN\" 'y.dtd'' Er", u""},
        {Utf8("<!DOCTYPE r><r/>"), 0x10, "XDOCTYPE'r' Er", u""},
        {Utf8("<!DOCTYPE r [<!ENTITY who \"world\"><!ENTITY hi 'hello &who;&#33;'>]><r>&hi; &amp; bye</r>"), 0x1A,
         "XDOCTYPE[XENTITY'who \"world\"' XENTITY'hi 'hello &who;&#33;''] Er[T'&hi; &amp; bye']", u"hello world! & bye"},
        {Utf8("<!DOCTYPE r [<!ENTITY e 'one'><!ENTITY e 'two'>]><r a='x&e;y'>&e;</r>"), 0x12,
         "XDOCTYPE[XENTITY'e 'one'' XENTITY'e 'two''] Er{a=x&e;y=>xoney}[T'&e;']", u"one"},
        {Utf8("<!DOCTYPE r [<!ENTITY % decl '<!ENTITY x \"X\">'> %decl; <!ENTITY % v 'V'><!ENTITY y 'a%v;b'>]>"
              "<r>&x;&y;</r>"), 0x12, nullptr, u"XaVb"},
        {Utf8("<!DOCTYPE r [<!ENTITY pic SYSTEM 'p.gif' NDATA gif>]><r/>"), 0x12, nullptr, u""},
        {Utf8("<a one=\"1\" two='it\"s' three = \"a&amp;b&#65;\" four='' v='x\ty\nz&#10;'/>"), 0x10,
         "Ea{one=1 two=it\"s three=a&amp;b&#65;=>a&bA four= v=x\ty\nz&#10;=>x y z\n}", u""},
        // White-space-only text: dropped unless 0x80 without 0x08.
        {Utf8(kSpaced), 0x10, "Ea[Eb[T'x'] Ec]", u"x"},
        {Utf8(kSpaced), 0x1A, "Ea[Eb[T'x'] Ec]", u"x"},
        {Utf8(kSpaced), 0x98, "Ea[Eb[T'x'] Ec]", u"x"},
        {Utf8(kSpaced), 0x90, "Ea[T'\n  ' Eb[T'x'] T'\n  ' Ec[T' '] T'\n']", u"\n  x\n   \n"},
        {Utf8("<a>  x  </a><b> &#32; </b>"), 0x10, "Ea[T'  x  '] Eb[T' &#32; ']", u"  x     "},
        {Utf8("<a>fish &amp; chips &lt;&gt;&apos;&quot;&#65;&#x42;&#x1F600;&#x6f;</a>"), 0x10, nullptr,
         u"fish & chips <>'\"AB\U0001F600o"},
        {Utf8("<a>1<b>2<c>3</c>4</b><!--no--><?pi no?><![CDATA[5&amp;]]>6</a>"), 0x10, nullptr, u"12345&amp;6"},
        {Utf8("<!-- top --><a><!----><!-- - x - --><![CDATA[<b>&x;</b> ]] ]]><![CDATA[ ]]><?do  it now ?><?go?></a>"),
         0x10, "C' top ' Ea[C C' - x - ' D'<b>&x;</b> ]] ' D' ' Pdo'it now ' Pgo]", u"<b>&x;</b> ]]  "},
        // Encodings the differential test does not see, and what ends the text.
        {Utf8("\xEF\xBB\xBF<a b=\"x\">t\xC3\xA9xt</a>"), 0x10, "Ea{b=x}[T't\\u00E9xt']", u"t\u00e9xt"},
        {Utf16BE(u"<?xml version=\"1.0\"?><a b=\"x\">t\u00e9xt</a>", true), 0x10, "Ea{b=x}[T't\\u00E9xt']", u"t\u00e9xt"},
        {Utf32(u" <a>xyz</a>", "1234"), 0x10, kA, u"xyz"},
        {Utf32(u" <a>xyz</a>", "4321"), 0x10, kA, u"xyz"},
        {Utf32(u"<a>xyz</a>", "2143"), 0x10, kA, u"xyz"},
        {Utf32(u"<a>xyz</a>", "3412"), 0x10, kA, u"xyz"},
        {Utf16LE(u"<rules><x>v\u20ac</x></rules>", false, true), 0x1A, nullptr, u"v\u20ac"},
        {Utf16LE(u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<!DOCTYPE rules [<!ENTITY app \"Application\">]>\n"
                 u"<rules><LOG>&app; &amp; more</LOG></rules>", false, true), 0x1A, nullptr, u"Application & more"},
        {Utf16LE(u"<a>xyz</a>\0<b>junk"sv), 0x1A, kA, u"xyz"},
        {Utf8("<\0a\0>\0x\0y\0z\0<\0/\0a\0>\0<"sv), 0x10, kA, u"xyz"},  // the odd last byte is dropped
        {Utf8("  \n<a>1\r\n2\r3\n\xC3(\xF0\x9F\x98\x80\xFF</a>\xE2\x82"), 0x10, nullptr,
         u"1\n2\n3\n\uFFFD(\U0001F600\uFFFD\uFFFD"},
    };
    for (const GoodRow& row : rows) {
        SCOPED_TRACE(row.dump ? row.dump : Narrow(row.text));
        Result r = ParseBytes(row.bytes, row.options);
        ASSERT_TRUE(r.ok) << r.message;
        if (row.dump) { EXPECT_EQ(DumpChildren(r.root()), row.dump); }
        EXPECT_EQ(Narrow(r.root().Text()), Narrow(row.text));
    }
}

TEST(Document, EightBitCodePages) {
    for (auto [page, text] : {std::pair{1252u, u"\u20ac\u00e9"}, {0u, u"\u20ac\u00e9"}, {28591u, u"\u0080\u00e9"}}) {
        XmlDocument doc;
        doc.SetCodePage(page);
        ASSERT_TRUE(doc.Parse("<a>\x80\xE9</a>", 9));
        EXPECT_EQ(doc.Root()->Text(), text) << page;
    }
}

const char kRich[] =
    "<?xml version='1.0' encoding='UTF-8' standalone='yes'?>\n"
    "<!DOCTYPE r PUBLIC '-//A//B' 'r.dtd' [<!ENTITY e 'E&#38;&amp;'><!ENTITY % p '<!ENTITY f \"F\">'>%p;"
    "<!ELEMENT r ANY><!ATTLIST r a CDATA 'd'><!-- c --><?pi x?>]>\n"
    "<r a='1&amp;&#65;' b=\"2\"><!-- note --><?do it?><x>t&e;&f;&lt;</x><![CDATA[<y>]]><z/>\xC3\xA9</r>\n";

TEST(Document, EveryPrefixFailsWithAFixedMessageOrParses) {
    std::string full(kRich);
    std::u16string wide;
    for (unsigned char c : full) wide.push_back(c);  // Latin-1 view is enough here
    for (uint32_t options : {XmlDocument::kDefaultOptions, kXmlRuleFileOptions, 0x3Bu}) {
        ASSERT_TRUE(Parse(full, options | 0x02).ok);
        for (std::size_t n = 0; n <= full.size(); ++n)
            for (const Result& r : {Parse(full.substr(0, n), options), ParseBytes(Utf16LE(wide.substr(0, n), true), options)})
                if (!r.ok) { EXPECT_TRUE(IsFixedMessage(std::u16string(r.message.begin(), r.message.end()))) << n << ": " << r.message; }
    }
}

}  // namespace
