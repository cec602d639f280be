// CRegex's own dialect, errors and interface. regex_pcre2_test compares matching in the syntax PCRE2 shares;
// these rows are what it cannot check: UTF-16 code units, code unit 0, our error codes and offsets.
#include "rules/regex/regex.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace {

using namespace std::string_literals;

TEST(Regex, MatchStartAndText) {
    const std::u16string pair = u"\U0001F600";  // a surrogate pair is two characters
    const struct { std::u16string pattern, subject; int32_t start; std::u16string text; } rows[] = {
        // \c is always the character c; {, }, - and ] outside a list are ordinary.
        {u"\\\\", u"a\\b", 1, u"\\"}, {u"\\^\\$\\|\\[", u"x^$|[", 1, u"^$|["}, {u"x-y]", u"x-y]", 0, u"x-y]"},
        // Bracket lists: no escapes inside, edge members, ranges chained from the character before the hyphen.
        {u"[a-a]", u"ba", 1, u"a"}, {u"[^]]", u"]]a", 2, u"a"}, {u"[a\\]+", u"xa\\a]", 1, u"a\\a"}, {u"a[^b]", u"a", -1, u""},
        {u"[\\n]", u"x\n", -1, u""}, {u"[.*+]", u"ab+", 2, u"+"}, {u"[a-c-e]+", u"-abcde-", 1, u"abcde"},
        {u"[--/]+", u"a-./b", 1, u"-./"}, {u"[]-a]+", u"Z]^_`ab", 1, u"]^_`a"},
        // UTF-16 code units, also ones sharing a low byte with the ASCII letters the first-character scan skips to.
        {u"\u00e9t\u00e9", u"ete \u00e9t\u00e9", 4, u"\u00e9t\u00e9"}, {u"[\u00ff-\u0101]", u"\u0100", 0, u"\u0100"},
        {u"[\u0400-\u04ff]+", u"abc \u0416\u0443\u043a", 4, u"\u0416\u0443\u043a"}, {u"[\u0001-\uffff]", u"x", 0, u"x"},
        {u"[\u0141]x", u"AxAx\u0141x", 4, u"\u0141x"}, {u"\u0141", u"A\u0141", 1, u"\u0141"},
        {u"\uffff", u"a\uffff", 1, u"\uffff"}, {u"^.", pair, 0, pair.substr(0, 1)}, {u"^..$", pair, 0, pair},
        {u"a\0b"s, u"xab", -1, u""}, {u"a\0b"s, u"xa\0b"s, 1, u"a\0b"s}, {u"[\0]"s, u"xa\0b"s, 2, u"\0"s},
        // Operands that can match empty take ? but not * or +; at most nine groups.
        {u"(a*)?b", u"aab", 0, u"aab"}, {u"(^)?x", u"yx", 1, u"x"}, {u"^?x", u"yx", 1, u"x"},
        {u"(a)(b)(c)(d)(e)(f)(g)(h)(i)", u"abcdefghi", 0, u"abcdefghi"}, {u"(((((((((a)))))))))", u"ba", 1, u"a"},
        {u"\\(\\(\\(\\(\\(\\(\\(\\(\\(\\(a", u"((((((((((a", 0, u"((((((((((a"},
        // Shortcuts: a required literal.
        {u"a*(xyz|b)", u"aab", 0, u"aab"}, {u"a*x\\yz", u"axy z", -1, u""}, {u"a*x\\yz", u"axyz", 0, u"axyz"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::PrintToString(r.pattern) + " in " + testing::PrintToString(r.subject));
        CRegex compiled;
        ASSERT_TRUE(compiled.Compile(r.pattern));
        CRegex re(std::move(compiled));  // the program moves with its owner
        const int32_t start = re.Search(r.subject);
        EXPECT_EQ(std::tuple(start, re.MatchStart(), re.MatchText(), re.MatchLength()),
                  std::tuple(r.start, r.start, r.text, int32_t(r.text.size())));
    }
}

TEST(Regex, CompileErrorsAndTheirOffsets) {
    using E = RegexError;
    const struct { const char16_t* pattern; RegexError error; std::size_t offset; } rows[] = {
        {nullptr, E::NoPattern, 0}, {u"(a|b", E::MissingParen, 0}, {u"ab(cd", E::MissingParen, 2},
        {u"a)b", E::UnmatchedParen, 1}, {u"ab)", E::UnmatchedParen, 2}, {u"abc[z-a]", E::InvalidRange, 5},
        {u"[a-c-b]", E::InvalidRange, 4}, {u"[abc", E::MissingBracket, 0}, {u"[]", E::MissingBracket, 0},
        {u"[^]", E::MissingBracket, 0}, {u"x[a\\", E::MissingBracket, 1}, {u"a**", E::NestedRepeat, 2},
        {u"a+?", E::NestedRepeat, 2}, {u"a??", E::NestedRepeat, 2}, {u"*a", E::NothingToRepeat, 0},
        {u"a|+b", E::NothingToRepeat, 2}, {u"(?)", E::NothingToRepeat, 1}, {u"x\\", E::TrailingBackslash, 1},
        {u"(a*)*", E::EmptyRepeat, 4}, {u"()+", E::EmptyRepeat, 2}, {u"(^)*", E::EmptyRepeat, 3},
        {u"^*", E::EmptyRepeat, 1}, {u"(a|)+", E::EmptyRepeat, 4}, {u"(a?b?)*", E::EmptyRepeat, 6},
        {u"(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)", E::TooManyGroups, 27}, {u"((((((((((a))))))))))", E::TooManyGroups, 9},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::PrintToString(r.pattern));
        CRegex re;
        ASSERT_TRUE(re.Compile(u"ERR"));
        const bool compiled = re.Compile(r.pattern);
        // A failed compile leaves nothing usable, not the previous program.
        EXPECT_EQ(std::tuple(compiled, re.Error(), re.ErrorOffset(), re.IsCompiled(), re.Search(u"AN ERROR")),
                  std::tuple(false, r.error, r.offset, false, -1));
    }
}

TEST(Regex, InterfaceEdges) {
    CRegex re;
    EXPECT_EQ(re.Search(u"abc"), -1);  // nothing compiled
    ASSERT_TRUE(re.Compile(u"b+"));
    EXPECT_EQ(re.Search(u"abbbc"), 1);
    EXPECT_EQ(re.Search(u"xyz"), -1);  // a failed search clears the last match
    EXPECT_EQ(re.MatchLength(), 0);
    EXPECT_EQ(re.MatchText(), u"");
    EXPECT_EQ(re.Search(u"abb", 2), 1);  // the length is respected
    EXPECT_EQ(re.MatchText(), u"b");
    re = CRegex(std::move(re));  // moved out and back in: the program survives, nothing is freed twice
    EXPECT_EQ(re.Search(u"bx"), 0);
    EXPECT_FALSE(re.Compile(nullptr, 3));
    EXPECT_EQ(re.Error(), RegexError::NoPattern);
    ASSERT_TRUE(re.Compile(u"a\0b"));  // the zero-terminated forms stop at the first zero
    EXPECT_EQ(re.Error(), RegexError::None);
    EXPECT_EQ(re.Search(u"xab"), 1);
    ASSERT_TRUE(re.Compile(u""));
    EXPECT_EQ(re.Search(static_cast<const char16_t*>(nullptr)), -1);
    EXPECT_EQ(re.Search(nullptr, 0), -1);
    EXPECT_EQ(re.Search(std::u16string_view()), 0);  // an empty subject is a subject
}

}  // namespace
