// CRegex against PCRE2 (and its own engines against each other) on the syntax both
// share: the same match start and length for every pattern and subject.
#include "tests/regex/regex_peer.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

// Random patterns from pieces of the shared syntax; many do not compile here
// (a repeated empty group, a lone parenthesis) and are skipped.
std::u16string RandomPattern(std::mt19937& rng) {
    static const char16_t* const kTokens[] = {
        u"a", u"b", u"c", u"ab", u"\n", u".", u"[ab]", u"[^a]", u"[a-c]", u"[]a]", u"[-b]", u"(", u"(", u")",
        u")", u"|", u"*", u"+", u"?", u"^", u"$", u"\\a", u"\\.", u"\\*", u"a*", u"(a|b)", u"(a|ab)",
        u"b+", u"[\n]",
    };
    std::uniform_int_distribution<int> length(1, 10);
    std::uniform_int_distribution<int> token(0, int(std::size(kTokens)) - 1);
    std::u16string pattern;
    for (int i = length(rng); i > 0; --i) pattern += kTokens[token(rng)];
    return pattern;
}

std::u16string RandomSubject(std::mt19937& rng) {
    static const char16_t kChars[] = u"aaabbbc\n.*";
    std::uniform_int_distribution<int> length(0, 24);
    std::uniform_int_distribution<int> pick(0, int(std::size(kChars)) - 2);
    std::u16string subject;
    for (int i = length(rng); i > 0; --i) subject += kChars[pick(rng)];
    return subject;
}

TEST(RegexPcre2, HandWrittenAndGeneratedPairsAgree) {
    // What the generator does not make: words, digits, escapes of syntax, chained and edge ranges.
    const char16_t* const table[][2] = {
        {u"ERR", u"AN ERROR"}, {u"", u"abc"}, {u"[^0-9]", u"123"}, {u"[a-]", u"b-a"},
        {u"DISK|NTFS", u"an NTFS disk"}, {u"(DISK|NTFS) ERROR", u"DISK NTFS ERROR"},
        {u"\\(x\\)", u"(x)"}, {u"a{2}", u"aa{2}"}, {u"[\\]]", u"\\]"},
        {u".*timeout.*", u"connection timeout after 30s"}, {u"[0-9]+ bytes", u"wrote 4096 bytes"},
        {u"(.*)(.*)x", u"abxcdx"}, {u"b.*cd", u"cd bbbb"},
        {u"(a|ab)(c|bcd)(d*)", u"abcd"}, {u"a*a*a*b", u"aaaaaab"},
    };
    for (const auto& [pattern, subject] : table) {
        ASSERT_TRUE(CRegex().Compile(pattern)) << Show(pattern);
        EXPECT_EQ(CrossCheck(pattern, subject), "");
    }
    std::mt19937 rng(20240601);
    int compiled = 0;
    for (int i = 0; i < 20000; ++i) {
        const std::u16string pattern = RandomPattern(rng);
        if (!CRegex().Compile(pattern)) continue;
        ++compiled;
        for (int j = 0; j < 8; ++j) ASSERT_EQ(CrossCheck(pattern, RandomSubject(rng)), "");
    }
    EXPECT_GT(compiled, 5000);  // the generator still reaches the syntax
}

}  // namespace
