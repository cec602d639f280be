// What the comparison with PCRE2 cannot check: edge syntax that must compile, UTF-16, error codes, the interface.
#include "rules/regex/regex.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace {

using namespace std::string_literals;

TEST(Regex, MatchStartAndText) {
    const std::u16string pair = u"\U0001F600";  // a surrogate pair is two characters
    const struct { std::u16string pattern, subject; int32_t start; std::u16string text; } rows[] = {
        // Bracket lists: no escapes inside, edge members, ranges chained from the character before the hyphen.
        {u"x-y]", u"x-y]", 0, u"x-y]"}, {u"[a-a]", u"ba", 1, u"a"}, {u"[a\\]+", u"xa\\a]", 1, u"a\\a"},
        {u"[a-c-e]+", u"-abcde-", 1, u"abcde"}, {u"[--/]+", u"a-./b", 1, u"-./"}, {u"[]-a]+", u"Z]^_`ab", 1, u"]^_`a"},
        // Code units sharing a low byte with the ASCII letters that the first-character scan skips to.
        {u"\u00e9t\u00e9", u"ete \u00e9t\u00e9", 4, u"\u00e9t\u00e9"}, {u"[\u00ff-\u0101]", u"\u0100", 0, u"\u0100"},
        {u"[\u0400-\u04ff]+", u"abc \u0416\u0443\u043a", 4, u"\u0416\u0443\u043a"}, {u"[\u0001-\uffff]", u"x", 0, u"x"},
        {u"[\u0141]x", u"AxAx\u0141x", 4, u"\u0141x"}, {u"\u0141", u"A\u0141", 1, u"\u0141"},
        {u"^.", pair, 0, pair.substr(0, 1)}, {u"^..$", pair, 0, pair},
        {u"a\0b"s, u"xab", -1, u""}, {u"a\0b"s, u"xa\0b"s, 1, u"a\0b"s}, {u"[\0]"s, u"xa\0b"s, 2, u"\0"s},
        // Operands that can match empty take ? but not * or +; at most nine groups.
        {u"(a*)?b", u"aab", 0, u"aab"}, {u"(^)?x", u"yx", 1, u"x"}, {u"^?x", u"yx", 1, u"x"},
        {u"(a)(b)(c)(d)(e)(f)(g)(h)(i)", u"abcdefghi", 0, u"abcdefghi"}, {u"(((((((((a)))))))))", u"ba", 1, u"a"},
        {u"\\(\\(\\(\\(\\(\\(\\(\\(\\(\\(a", u"((((((((((a", 0, u"((((((((((a"},
        // An opening of more than 64 instructions goes without the first-character shortcut.
        {u"a|b|c|d|e|f|g|h|i|j|k|l|m|n|o|p|q|r|s|t|u|v|w|x|y|z|A|B|C|D|E|F|G|H|I|J|K|L|M|N|O|P|Q|R|S|T|U|V|W|X|Y|Z|9", u"-9", 1, u"9"},
    };
    CRegex re;  // one object for all rows: a failed search clears the last match
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::PrintToString(r.pattern) + " in " + testing::PrintToString(r.subject));
        CRegex compiled;
        ASSERT_TRUE(compiled.Compile(r.pattern));
        re = std::move(compiled);  // the program moves with its owner
        const int32_t start = re.Search(r.subject);
        EXPECT_EQ(std::tuple(start, re.MatchStart(), re.MatchText(), re.MatchLength()),
                  std::tuple(r.start, r.start, r.text, int32_t(r.text.size())));
    }
}

TEST(Regex, CompileErrorsAndTheirOffsets) {
    using E = RegexError;
    const struct { const char16_t* pattern; RegexError error; std::size_t offset; } rows[] = {
        {nullptr, E::NoPattern, 0}, {u"ab(cd", E::MissingParen, 2}, {u"a)b", E::UnmatchedParen, 1},
        {u"[a-c-b]", E::InvalidRange, 4}, {u"x[a\\", E::MissingBracket, 1}, {u"a+?", E::NestedRepeat, 2},
        {u"a|+b", E::NothingToRepeat, 2}, {u"x\\", E::TrailingBackslash, 1}, {u"(a*)*", E::EmptyRepeat, 4},
        {u"()+", E::EmptyRepeat, 2}, {u"(^)*", E::EmptyRepeat, 3}, {u"^*", E::EmptyRepeat, 1},
        {u"(a|)+", E::EmptyRepeat, 4}, {u"(a?b?)*", E::EmptyRepeat, 6}, {u"((((((((((a))))))))))", E::TooManyGroups, 9},
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
    ASSERT_TRUE(re.Compile(u"b+"));
    re = CRegex(std::move(re));  // moved out and back in: the program survives, nothing is freed twice
    EXPECT_EQ(re.Search(u"abb", 2), 1);  // the length is respected
    EXPECT_EQ(re.MatchText(), u"b");
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
