// Differential test: documents expat accepts (without DOCTYPE) are accepted by our
// parser with the rule-file options and give the same elements, attributes and
// character data.
#include <gtest/gtest.h>

#include <random>

#include "tests/xml/expat_compare.h"
#include "tests/xml/xml_test_util.h"

namespace {

using namespace xmltest;
using xmldiff::Encoding;

void ExpectSame(const Bytes& bytes, Encoding encoding, const std::string& label) {
    xmldiff::Outcome expat = xmldiff::ParseWithExpat(bytes.data(), bytes.size(), encoding);
    ASSERT_TRUE(expat.accepted) << label << ": expat refuses its input (" << expat.error << ")";
    ASSERT_FALSE(expat.doctype);
    xmldiff::Outcome ours = xmldiff::ParseWithOurs(bytes.data(), bytes.size(), kXmlRuleFileOptions);
    ASSERT_TRUE(ours.accepted) << label << ": " << ours.error;
    EXPECT_EQ(ours.canonical, expat.canonical) << label;
}

std::u16string FromUtf8(std::string_view s) {
    std::u16string out;
    for (std::size_t i = 0; i < s.size();) {
        unsigned char c = s[i];
        char32_t cp;
        int n;
        if (c < 0x80) { cp = c; n = 1; }
        else if (c < 0xE0) { cp = c & 0x1F; n = 2; }
        else if (c < 0xF0) { cp = c & 0x0F; n = 3; }
        else { cp = c & 0x07; n = 4; }
        for (int k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        i += n;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

void ExpectSameInEveryEncoding(std::string_view utf8, const std::string& label) {
    ExpectSame(Utf8(utf8), Encoding::Utf8, label + " (UTF-8)");
    std::u16string wide = FromUtf8(utf8);
    ExpectSame(Utf16LE(wide), Encoding::Utf16LE, label + " (UTF-16LE)");
    ExpectSame(Utf16LE(wide, true), Encoding::Utf16LE, label + " (UTF-16LE, BOM)");
    ExpectSame(Utf16BE(wide), Encoding::Utf16BE, label + " (UTF-16BE)");
}

const char* kHandWritten[] = {
    "<a/>",
    "<a></a>",
    "<?xml version=\"1.0\"?>\n<rules>\n  <include>\n    <events><log>Application</log></events>\n  </include>\n</rules>\n",
    "<?xml version='1.0' encoding='UTF-8' standalone='yes'?><a b='1' c=\"2\"/>",
    "<a>fish &amp; chips &lt;tag&gt; &apos;q&quot; &#65;&#x263A;&#x1F600;</a>",
    "<a x='a&amp;b &#60; &#x9;tab\tand\nnewline' y=\"it's\" z='say \"hi\"'/>",
    "<a>\r\n  line one\r\n  line two\r</a>",
    "<a>x<!-- comment -->y<?pi data?>z</a>",
    "<a> <![CDATA[ <not> &markup; ]]> <![CDATA[]]>after</a>",
    "<a>  <b>  </b>  <c> x </c>\n</a>",
    "<!-- before --><?pi before?>\n<root>text</root>\n<!-- after -->\n",
    "<\xC3\xA9l\xC3\xA9ment \xE6\x97\xA5\xE6\x9C\xAC='\xE2\x82\xAC'>\xF0\x9F\x98\x80</\xC3\xA9l\xC3\xA9ment>",
    "<ns:a xmlns:ns='urn:x' ns:b='c'><_x.y-z1/></ns:a>",
    "<a\n  b = 'c'\n  d\t=\t\"e\"\n></a\n>",
    "<?xml-stylesheet href='a.css'?><a/>",
    "<a>&#32;</a>",
    "<a>]]</a>",
    "<a>text with > and ]] > inside</a>",
    "<?xml version='1-0'?><a/>",
    "<a><b><c><d><e><f>deep</f></e></d></c></b></a>",
};

TEST(Differential, HandWrittenDocuments) {
    for (std::size_t i = 0; i < std::size(kHandWritten); ++i)
        ExpectSameInEveryEncoding(kHandWritten[i], "document " + std::to_string(i));
}

// Random well-formed documents built from pieces that exercise the parser.
class Generator {
public:
    explicit Generator(uint32_t seed) : rng_(seed) {}

    std::string Document() {
        std::string doc;
        if (Chance(2)) {
            doc += "<?xml version=\"1.0\"";
            if (Chance(2)) doc += " encoding='UTF-8'";
            if (Chance(3)) doc += Chance(2) ? " standalone='yes'" : " standalone=\"no\"";
            doc += Chance(2) ? "?>" : " ?>";
        }
        Misc(doc);
        Element(doc, 0);
        Misc(doc);
        if (Chance(3)) {
            // Windows line ends throughout.
            std::string crlf;
            for (char c : doc) {
                if (c == '\n') crlf += '\r';
                crlf += c;
            }
            doc = crlf;
        }
        return doc;
    }

private:
    int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
    bool Chance(int n) { return Pick(n) == 0; }

    std::string Name() {
        static const char* names[] = {"a", "rule", "LOG", "EventID", "x-y.z", "_u", "ns:tag", "\xC3\xA9t\xC3\xA9",
                                      "\xE6\x97\xA5\xE6\x9C\xAC", "a1", "xmlish", "B\xCC\x80"};
        return names[Pick(static_cast<int>(std::size(names)))];
    }

    std::string Space() {
        static const char* spaces[] = {"", " ", "\n", "\t", "  ", "\n    "};
        return spaces[Pick(static_cast<int>(std::size(spaces)))];
    }

    // Character data pieces; quote is the attribute delimiter to avoid (0 in content).
    std::string Chars(char quote) {
        static const char* pieces[] = {"word", " ", "  ", "\t", "\n", "&amp;", "&lt;", "&gt;", "&apos;", "&quot;",
                                       "&#65;", "&#x20AC;", "&#32;", "&#10;", "&#x1F600;", ">", "]x", "=", "/",
                                       "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "'", "\"", "?", "-", "%", ";"};
        std::string out;
        int n = Pick(6);
        for (int i = 0; i < n; ++i) {
            std::string piece = pieces[Pick(static_cast<int>(std::size(pieces)))];
            if (quote && piece.size() == 1 && piece[0] == quote) continue;
            out += piece;
        }
        return out;
    }

    void Misc(std::string& doc) {
        int n = Pick(3);
        for (int i = 0; i < n; ++i) {
            doc += Space();
            if (Chance(2))
                doc += "<!--" + Comment() + "-->";
            else
                doc += "<?pi" + std::string(Chance(2) ? "" : " data ?") + "?>";
        }
        doc += Space();
    }

    std::string Comment() {
        std::string text = Chance(2) ? " note " : "- a - b";
        return text;
    }

    void Element(std::string& doc, int depth) {
        std::string name = Name();
        doc += "<" + name;
        std::vector<std::string> used;
        int attributes = Pick(4);
        for (int i = 0; i < attributes; ++i) {
            std::string attribute = Name();
            bool repeated = false;
            for (const auto& u : used) repeated |= u == attribute;
            if (repeated) continue;
            used.push_back(attribute);
            char quote = Chance(2) ? '"' : '\'';
            std::string value = Chars(quote);
            // '<' is never allowed in a value; '>' is.
            doc += " " + attribute + Space() + "=" + Space() + quote + value + quote;
        }
        doc += Space();
        if (depth > 5 || Chance(5)) {
            doc += "/>";
            return;
        }
        doc += ">";
        int children = Pick(6);
        for (int i = 0; i < children; ++i) {
            switch (Pick(6)) {
            case 0:
            case 1: Element(doc, depth + 1); break;
            case 2: doc += Chars(0); break;
            case 3: doc += "<![CDATA[" + Chars(0) + "]]>"; break;
            case 4: doc += "<!--" + Comment() + "-->"; break;
            default: doc += Space(); break;
            }
        }
        doc += "</" + name + Space() + ">";
    }

    std::mt19937 rng_;
};

TEST(Differential, GeneratedDocuments) {
    for (uint32_t seed = 1; seed <= 2000; ++seed) {
        Generator generator(seed);
        std::string doc = generator.Document();
        ExpectSameInEveryEncoding(doc, "seed " + std::to_string(seed) + ": " + doc);
        if (HasFatalFailure() || HasNonfatalFailure()) break;
    }
}

}  // namespace
