// Generated documents, in UTF-8, UTF-16LE without and with a byte order mark and UTF-16BE
// (forms 0 to 3), give the same tree as expat's.
#include <gtest/gtest.h>

#include <random>

#include "tests/xml/expat_compare.h"

namespace {

// Random well-formed documents built from pieces that exercise the parser.
struct Generator {
    std::mt19937 rng;

    int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); }
    template <std::size_t N>
    std::string Any(const char* const (&pieces)[N]) { return pieces[Pick(static_cast<int>(N))]; }

    std::string Space() { return Any({"", " ", "\n", "\t", "  ", "\n    "}); }
    std::string Name() {
        return Any({"a", "rule", "LOG", "EventID", "x-y.z", "_u", "ns:tag", "\xC3\xA9t\xC3\xA9",
                    "\xE6\x97\xA5\xE6\x9C\xAC", "a1", "xmlish", "B\xCC\x80"});
    }
    std::string Misc() {
        return Space() + Any({"<!-- note -->", "<!--- a - b-->", "<?pi?>", "<?pi data ?" "?>", "<?xml-stylesheet?>"});
    }

    // Character data; quote is the attribute delimiter to avoid (0 in content).
    std::string Chars(char quote) {
        std::string out;
        for (int i = Pick(6); i > 0; --i) {
            std::string piece = Any({"word", " ", "  ", "\t", "\n", "\r", "&amp;", "&lt;", "&gt;", "&apos;", "&quot;",
                                     "&#65;", "&#x20AC;", "&#x6f;", "&#32;", "&#10;", "&#x9;", "&#60;", "&#x1F600;",
                                     ">", "]x", "=", "/", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "'", "\"",
                                     "?", "-", "%", ";"});
            if (piece.size() != 1 || piece[0] != quote) out += piece;
        }
        return out;
    }

    std::string Element(int depth) {
        const std::string name = Name();
        std::string out = "<" + name;
        for (int i = Pick(4); i > 0; --i) {
            const std::string attribute = Name() + std::to_string(i);  // the digit keeps names unique
            const char quote = Pick(2) ? '"' : '\'';
            out += " " + attribute + Space() + "=" + Space() + quote + Chars(quote) + quote;
        }
        if (depth > 5 || Pick(5) == 0) return out + Space() + "/>";
        out += Space() + ">";
        for (int i = Pick(6); i > 0; --i) {
            const int kind = Pick(6);
            out += kind < 2 ? Element(depth + 1) : kind == 2 ? Chars(0) : kind == 3 ? "<![CDATA[" + Chars(0) + "]]>"
                 : kind == 4 ? Misc() : Space();
        }
        return out + "</" + name + Space() + ">";
    }

    std::string Document() {
        std::string doc;
        if (Pick(2))
            doc = "<?xml version=\"1.0\"" + Any({"", " encoding='UTF-8'"}) +
                  Any({"", "", " standalone='yes'", " standalone=\"no\""}) + Any({"?>", " ?>"});
        for (int i = Pick(3); i > 0; --i) doc += Misc();
        doc += Space() + Element(0);
        for (int i = Pick(3); i > 0; --i) doc += Misc();
        if (Pick(3) == 0)  // Windows line ends throughout
            for (std::size_t at = doc.find('\n'); at != doc.npos; at = doc.find('\n', at + 2)) doc.insert(at, 1, '\r');
        return doc + Space();
    }
};

TEST(Differential, GeneratedDocuments) {
    for (uint32_t seed = 1; seed <= 2000 && !HasFailure(); ++seed) {
        const std::string doc = Generator{std::mt19937(seed)}.Document();
        const std::u16string wide = xmldiff::FromUtf8(doc);
        const std::string forms[] = {doc, xmltest::Encode(wide, "21"), xmltest::Encode(u"\uFEFF" + wide, "21"),
                                     xmltest::Encode(wide, "12")};
        for (const std::string& bytes : forms) {
            auto difference = xmldiff::Compare(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
            ASSERT_TRUE(difference) << "not compared (expat refuses it?): seed " << seed << ": " << doc;
            EXPECT_EQ(*difference, "") << "seed " << seed << " in form " << &bytes - forms << ": " << doc;
        }
    }
}

}  // namespace
