// CRegex against PCRE2 and its own engines on random pairs; hand-written pairs are seeds of fuzz_regex (same check).
#include "tests/regex/regex_peer.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

// From min to max pieces picked at random.
std::u16string Random(std::mt19937& rng, const std::vector<std::u16string>& pieces, int min, int max) {
    std::uniform_int_distribution<int> length(min, max), pick(0, int(pieces.size()) - 1);
    std::u16string out;
    for (int i = length(rng); i > 0; --i) out += pieces[pick(rng)];
    return out;
}

TEST(RegexPcre2, GeneratedPairsAgree) {
    // Pieces of the syntax both share; patterns that do not compile here (a lone parenthesis) are skipped.
    const std::vector<std::u16string> tokens = {
        u"a", u"b", u"c", u"ab", u"\n", u".", u"[ab]", u"[^a]", u"[a-c]", u"[]a]", u"[-b]", u"(", u"(", u")",
        u")", u"|", u"*", u"+", u"?", u"^", u"$", u"\\a", u"\\.", u"\\*", u"a*", u"(a|b)", u"(a|ab)",
        u"b+", u"[\n]",
    };
    const std::vector<std::u16string> chars = {u"a", u"a", u"a", u"b", u"b", u"b", u"c", u"\n", u".", u"*"};
    std::mt19937 rng(20240601);
    int compiled = 0;
    for (int i = 0; i < 20000; ++i) {
        const std::u16string pattern = Random(rng, tokens, 1, 10);
        if (!CRegex().Compile(pattern)) continue;
        ++compiled;
        for (int j = 0; j < 8; ++j) ASSERT_EQ(CrossCheck(pattern, Random(rng, chars, 0, 24)), "");
    }
    EXPECT_GT(compiled, 5000);  // the generator still reaches the syntax
}

}  // namespace
