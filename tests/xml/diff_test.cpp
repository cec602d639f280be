// Hand-written and generated documents, in UTF-8, UTF-16LE with and without a byte order
// mark and UTF-16BE, give the same tree as expat's.
#include <gtest/gtest.h>

#include <random>

#include "tests/xml/expat_compare.h"

namespace {

using namespace xmltest;

void ExpectSameInEveryEncoding(std::string_view utf8, const std::string& label) {
    const std::u16string wide = xmldiff::FromUtf8(utf8);
    const std::pair<Bytes, const char*> forms[] = {{Utf8(utf8), "UTF-8"},
                                                   {Encode(wide, "21"), "UTF-16LE"},
                                                   {Encode(u"\uFEFF" + wide, "21"), "UTF-16LE, BOM"},
                                                   {Encode(wide, "12"), "UTF-16BE"}};
    for (const auto& [bytes, form] : forms) {
        std::optional<std::string> difference = xmldiff::Compare(bytes.data(), bytes.size());
        ASSERT_TRUE(difference) << label << " (" << form << "): not compared (expat refuses it?)";
        EXPECT_EQ(*difference, "") << label << " (" << form << ")";
    }
}

// What the generator below does not make.
TEST(Differential, HandWrittenDocuments) {
    for (const char* doc : {"<a>\r\n  line one\r\n  line two\r&#x263a;&#x6f;&#x1F600;</a>",
                            "<a> <![CDATA[ <not> &markup; ]]> <![CDATA[]]>after</a>",
                            "<a>]]</a>",
                            "<a>text with > and ]] > inside</a>",
                            "<?xml version='1-0'?><a/>"})
        ExpectSameInEveryEncoding(doc, doc);
}

// Random well-formed documents built from pieces that exercise the parser.
class Generator {
public:
    explicit Generator(uint32_t seed) : rng_(seed) {}

    std::string Document() {
        std::string doc;
        if (Chance(2))
            doc = std::string("<?xml version=\"1.0\"") + (Chance(2) ? " encoding='UTF-8'" : "") +
                  Any({"", "", " standalone='yes'", " standalone=\"no\""}) + (Chance(2) ? "?>" : " ?>");
        Misc(doc);
        Element(doc, 0);
        Misc(doc);
        std::string crlf;  // Windows line ends throughout
        for (char c : doc) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
        return Chance(3) ? crlf : doc;
    }

private:
    int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
    bool Chance(int n) { return Pick(n) == 0; }
    template <std::size_t N>
    const char* Any(const char* const (&pieces)[N]) { return pieces[Pick(static_cast<int>(N))]; }

    std::string Name() {
        return Any({"a", "rule", "LOG", "EventID", "x-y.z", "_u", "ns:tag", "\xC3\xA9t\xC3\xA9",
                    "\xE6\x97\xA5\xE6\x9C\xAC", "a1", "xmlish", "B\xCC\x80"});
    }
    std::string Space() { return Any({"", " ", "\n", "\t", "  ", "\n    "}); }
    std::string Comment() { return Chance(2) ? "<!-- note -->" : "<!--- a - b-->"; }

    // Character data; quote is the attribute delimiter to avoid (0 in content).
    std::string Chars(char quote) {
        std::string out;
        for (int i = Pick(6); i > 0; --i) {
            std::string piece = Any({"word", " ", "  ", "\t", "\n", "\r", "&amp;", "&lt;", "&gt;", "&apos;", "&quot;",
                                     "&#65;", "&#x20AC;", "&#32;", "&#10;", "&#x9;", "&#60;", "&#x1F600;", ">", "]x",
                                     "=", "/", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "'", "\"", "?", "-",
                                     "%", ";"});
            if (piece.size() != 1 || piece[0] != quote) out += piece;
        }
        return out;
    }

    void Misc(std::string& doc) {
        for (int i = Pick(3); i > 0; --i)
            doc += Space() + (Chance(2) ? Comment() : std::string("<?") + Any({"pi", "xml-stylesheet"}) + (Chance(2) ? "" : " data ?") + "?>");
        doc += Space();
    }

    void Element(std::string& doc, int depth) {
        std::string name = Name();
        doc += "<" + name;
        std::vector<std::string> used;
        for (int i = Pick(4); i > 0; --i) {
            std::string attribute = Name();
            if (std::find(used.begin(), used.end(), attribute) != used.end()) continue;
            used.push_back(attribute);
            const char quote = Chance(2) ? '"' : '\'';
            doc += " " + attribute + Space() + "=" + Space() + quote + Chars(quote) + quote;
        }
        doc += Space();
        if (depth > 5 || Chance(5)) {
            doc += "/>";
            return;
        }
        doc += ">";
        for (int i = Pick(6); i > 0; --i) {
            const int kind = Pick(6);
            if (kind < 2) Element(doc, depth + 1);
            if (kind == 2) doc += Chars(0);
            if (kind == 3) doc += "<![CDATA[" + Chars(0) + "]]>";
            if (kind == 4) doc += Comment();
            if (kind == 5) doc += Space();
        }
        doc += "</" + name + Space() + ">";
    }

    std::mt19937 rng_;
};

TEST(Differential, GeneratedDocuments) {
    for (uint32_t seed = 1; seed <= 2000 && !HasFailure(); ++seed) {
        std::string doc = Generator(seed).Document();
        ExpectSameInEveryEncoding(doc, "seed " + std::to_string(seed) + ": " + doc);
    }
}

}  // namespace
