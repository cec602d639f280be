// CRegex against PCRE2 (and its own engines against each other) on the syntax both
// share: the same match start and length for every pattern and subject.
#include "tests/regex/regex_peer.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

struct Case {
    const char16_t* pattern;
    const char16_t* subject;
};

const Case kTable[] = {
    {u"ERR", u"AN ERROR"}, {u"^ERR", u"AN ERROR"}, {u"ERROR$", u"AN ERROR"}, {u"a*", u"bbb"},
    {u"", u"abc"}, {u"", u""}, {u"[a-c]+", u"xxbca"}, {u"[^0-9]", u"123"}, {u"[]x]", u"a]x"},
    {u"[a-]", u"b-a"}, {u"\\d", u"12d"}, {u"DISK|NTFS", u"an NTFS disk"},
    {u"(DISK|NTFS) ERROR", u"DISK NTFS ERROR"}, {u"ab*", u"abbb"}, {u"ab*", u"a"}, {u"(a|)", u"b"},
    {u"(a|ab)(c|bcd)(d*)", u"abcd"}, {u"(a+|b)*", u"ab"}, {u"(a+|b)+", u"ab"}, {u"(a+|b)?", u"ab"},
    {u"[^ab]*", u"cde"}, {u"a.c", u"a\nc"}, {u"a$", u"a\n"}, {u"^$", u""}, {u"$", u"abc"},
    {u"x*$", u"axx"}, {u"(a|b)*c|(a|ab)*c", u"abc"}, {u"a(b|c)*d", u"abcbcbd"},
    {u"((a)|b)+", u"ab"}, {u"(a*)?b", u"aab"}, {u"(a?)?", u"a"}, {u"(^a|b)c", u"bc"},
    {u"a|^b", u"xb"}, {u"[-a]+", u"--a-"}, {u"[a-c-e]+", u"abcde-"}, {u"[]-a]+", u"^_`a]"},
    {u"a\\*b", u"aa*b"}, {u"\\(x\\)", u"(x)"}, {u"a{2}", u"aa{2}"}, {u"[\\]]", u"\\]"},
    {u".*timeout.*", u"connection timeout after 30s"}, {u"[0-9]+ bytes", u"wrote 4096 bytes"},
    {u"(x+x+)+y", u"xxxxxxxxxxxxxxxxxxxxy"}, {u"(a|aa)*c", u"aaaaaaaaaaaac"}, {u"(a|a)*b", u"aaaab"},
    {u"(ab|a)(bc|c)*$", u"abcbc"}, {u"(a|b|c)*b(a|b)", u"abcbabba"}, {u"a*a*a*b", u"aaaaaab"},
    {u"(.*)(.*)x", u"abxcdx"}, {u"b.*cd", u"cd bbbb"}, {u"(aa|a)+$", u"aaa"},
};

TEST(RegexPcre2, HandWrittenTableAgrees) {
    for (const Case& c : kTable) {
        CRegex re;
        ASSERT_TRUE(re.Compile(c.pattern)) << Show(c.pattern);
        PeerMatch peer = Pcre2Search(ToPcre2(c.pattern), c.subject);
        ASSERT_TRUE(peer.decided) << Show(c.pattern);
        EXPECT_EQ(re.Search(c.subject), peer.start) << Show(c.pattern) << " in " << Show(c.subject);
        if (peer.start >= 0) {
            EXPECT_EQ(re.MatchLength(), peer.length) << Show(c.pattern);
        }
        EXPECT_EQ(CrossCheck(c.pattern, c.subject), "");
    }
}

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

TEST(RegexPcre2, GeneratedPairsAgree) {
    std::mt19937 rng(20240601);
    int compiled = 0, compared = 0;
    for (int i = 0; i < 20000; ++i) {
        std::u16string pattern = RandomPattern(rng);
        CRegex re;
        if (!re.Compile(pattern)) continue;
        ++compiled;
        // Whatever compiles here must compile there too.
        ASSERT_NE(Pcre2Search(ToPcre2(pattern), u"").decided, false) << Show(pattern);
        for (int j = 0; j < 8; ++j) {
            std::u16string subject = RandomSubject(rng);
            std::string report = CrossCheck(pattern, subject);
            ASSERT_EQ(report, "");
            ++compared;
        }
    }
    EXPECT_GT(compiled, 5000);
    std::printf("generated: %d patterns compiled, %d pattern/subject pairs compared\n", compiled, compared);
}

TEST(RegexPcre2, LongerSubjectsAgree) {
    // Repetitive subjects make the backtracking engines work; PCRE2 may give up on
    // some (its match limit), the engines of CRegex must not disagree.
    std::mt19937 rng(77);
    const char16_t* patterns[] = {u"(a|aa)*c", u"(a|a)*b", u"(x+x+)+y", u"(a|b)*ab(a|b)", u"(.*a)*b",
                                  u"([ab]*c)+$", u"^(a|b)*$", u"(aa|a)*(ab|b)"};
    for (const char16_t* pattern : patterns) {
        for (int len : {0, 1, 5, 17, 40, 100}) {
            for (int k = 0; k < 4; ++k) {
                std::u16string subject;
                std::uniform_int_distribution<int> pick(0, 9);
                for (int i = 0; i < len; ++i) {
                    int r = pick(rng);
                    subject += r < 7 ? pattern[1] : r < 9 ? u'b' : u'c';
                }
                ASSERT_EQ(CrossCheck(pattern, subject), "");
            }
        }
    }
}

}  // namespace
