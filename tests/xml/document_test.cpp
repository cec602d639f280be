// Whole documents: every failure with its text and place, well-formed documents in each
// encoding and option set with the tree and text they give, entities and the budget on
// their expansion, and every truncation of a rich document.
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
    const char* dump;      // the root's children, when given
    const char16_t* text;  // Text of the root
};

// What the differential test cannot see: options other than the rule files', DOCTYPE
// and declared entities, comments, instructions and raw values, other encodings.
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
        // White-space-only text: dropped unless 0x80 without 0x08.
        {Utf8(kSpaced), 0x10, "Ea[Eb[T'x'] Ec]", u"x"},
        {Utf8(kSpaced), 0x98, "Ea[Eb[T'x'] Ec]", u"x"},
        {Utf8(kSpaced), 0x90, "Ea[T'\n  ' Eb[T'x'] T'\n  ' Ec[T' '] T'\n']", u"\n  x\n   \n"},
        {Utf8("<a>  x  </a><b> &#32; </b>"), 0x10, "Ea[T'  x  '] Eb[T' &#32; ']", u"  x     "},
        {Utf8("<a>1<b>2<c>3</c>4</b><!--no--><?pi no?><![CDATA[5&amp;]]>6</a>"), 0x10, nullptr, u"12345&amp;6"},
        {Utf8("<!-- top --><a><!----><!-- - x - --><![CDATA[<b>&x;</b> ]] ]]><![CDATA[ ]]><?do  it now ?><?go?></a>"),
         0x10, "C' top ' Ea[C C' - x - ' D'<b>&x;</b> ]] ' D' ' Pdo'it now ' Pgo]", u"<b>&x;</b> ]]  "},
        // Byte order marks, 32-bit units, a zero unit ending the text, an odd last byte, bad UTF-8.
        {Utf8("\xEF\xBB\xBF<a b=\"x\">t\xC3\xA9xt</a>"), 0x10, "Ea{b=x}[T't\\u00E9xt']", u"t\u00e9xt"},
        {Encode(u"\uFEFF<?xml version=\"1.0\"?><a b=\"x\">t\u00e9xt</a>", "12"), 0x10, "Ea{b=x}[T't\\u00E9xt']", u"t\u00e9xt"},
        {Encode(u" <a>xyz</a>", "1234"), 0x10, kA, u"xyz"},
        {Encode(u" <a>xyz</a>", "4321"), 0x10, kA, u"xyz"},
        {Encode(u"<a>xyz</a>", "2143"), 0x10, kA, u"xyz"},
        {Encode(u"<a>xyz</a>", "3412"), 0x10, kA, u"xyz"},
        {Encode(u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<!DOCTYPE rules [<!ENTITY app \"Application\">]>\n"
                u"<rules><LOG>&app; &amp; more</LOG></rules>\0"sv, "21"), 0x1A, nullptr, u"Application & more"},
        {Encode(u"<a>xyz</a>\0<b>junk"sv, "21"), 0x1A, kA, u"xyz"},
        {Utf8("<\0a\0>\0x\0y\0z\0<\0/\0a\0>\0<"sv), 0x10, kA, u"xyz"},
        {Utf8("  \n<a>1\r\n2\r3\n\xC3(\xF0\x9F\x98\x80\xFF</a>\xE2\x82"), 0x10, nullptr,
         u"1\n2\n3\n\uFFFD(\U0001F600\uFFFD\uFFFD"},
    };
    for (const GoodRow& row : rows) {
        SCOPED_TRACE(row.dump ? row.dump : Narrow(row.text));
        Result r = ParseBytes(row.bytes, row.options);
        ASSERT_TRUE(r.ok) << r.message;
        std::string dump;
        for (std::size_t i = 0; i < r.root().ChildCount(); ++i)
            dump.append(i ? " " : "").append(Dump(*r.root().Child(i)));
        if (row.dump) { EXPECT_EQ(dump, row.dump); }
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

TEST(Document, EveryPrefixFailsWithAFixedMessageOrParses) {
    const std::string full =
        "<?xml version='1.0' encoding='UTF-8' standalone='yes'?>\n"
        "<!DOCTYPE r PUBLIC '-//A//B' 'r.dtd' [<!ENTITY e 'E&#38;&amp;'><!ENTITY % p '<!ENTITY f \"F\">'>%p;"
        "<!ELEMENT r ANY><!ATTLIST r a CDATA 'd'><!-- c --><?pi x?>]>\n"
        "<r a='1&amp;&#65;' b=\"2\"><!-- note --><?do it?><x>t&e;&f;&lt;</x><![CDATA[<y>]]><z/>\xC3\xA9</r>\n";
    std::u16string wide = u"\uFEFF";
    wide.append(full.begin(), full.end());  // Latin-1 view is enough here
    ASSERT_FALSE(IsFixedMessage(u"Character 2 of element named \"b\" is fine."));
    for (uint32_t options : {XmlDocument::kDefaultOptions, kXmlRuleFileOptions, 0x3Bu}) {
        ASSERT_TRUE(Parse(full, options | 0x02).ok);
        for (std::size_t n = 0; n <= full.size(); ++n)
            for (const Result& r : {Parse(full.substr(0, n), options), ParseBytes(Encode(wide.substr(0, n + 1), "21"), options)})
                if (!r.ok) {
                    EXPECT_TRUE(IsFixedMessage(std::u16string(r.message.begin(), r.message.end()))) << n << ": " << r.message;
                }
    }
}

TEST(Entities, TableIsResetForEachDocument) {
    XmlDocument doc;
    doc.ApplyRuleFileSettings();  // declared entities resolved
    ASSERT_TRUE(ParseInto(doc, "<!DOCTYPE r [<!ENTITY e 'E'>]><r>&e;</r>"));
    ASSERT_EQ(doc.Entities().size(), 6u);
    EXPECT_TRUE(doc.Entities()[5].text == u"E" && doc.Entities()[5].reference == u"&e;");
    EXPECT_EQ(*doc.LookupEntity(u"&e;"), u"E");
    EXPECT_FALSE(ParseInto(doc, "<r>&e;</r>"));
    EXPECT_EQ(doc.LookupEntity(u"&e;"), nullptr);
    std::u16string table;
    for (const XmlEntity& entity : doc.Entities()) table += entity.text + entity.reference;
    EXPECT_EQ(table, u"&&amp;'&apos;>&gt;<&lt;\"&quot;");
}

const char kTooMuch[] = "Ran out of memory allocating for a tricky element.";

// big declared with size units, then used in each of uses copies of use.
std::string UsesOfBig(std::size_t size, int uses, const std::string& use) {
    std::string doc = "<!DOCTYPE r [<!ENTITY big \"" + std::string(size, 'x') + "\">]><r>";
    for (int i = 0; i < uses; ++i) doc += use;
    return doc + "</r>";
}

TEST(Entities, ExpansionStopsExactlyAtTheBudget) {
    // A document under 41943 units has the least budget, 4 Mi units: 1024 uses of 4 Ki.
    for (const char* use : {"<v>&big;</v>", "<v a='&big;'/>"}) {
        Result full = Parse(UsesOfBig(4096, 1024, use), kXmlRuleFileOptions);
        ASSERT_TRUE(full.ok) << use << ": " << full.message;
        EXPECT_EQ(Parse(UsesOfBig(4096, 1025, use), kXmlRuleFileOptions).message, kTooMuch) << use;
    }
    EXPECT_EQ(Parse(UsesOfBig(4096, 1024, "<v>&big;</v>"), kXmlRuleFileOptions).root().Text().size(), 4096u * 1024u);
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

}  // namespace
