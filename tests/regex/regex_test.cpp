// Behaviour of CRegex: the syntax it reads, what it refuses, and where it matches.
#include "rules/regex/regex.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Start of the leftmost match, or -1; -2 when the pattern does not compile.
int32_t Find(std::u16string_view pattern, std::u16string_view subject) {
    CRegex re;
    if (!re.Compile(pattern)) return -2;
    return re.Search(subject);
}

// The matched text, or "<none>".
std::u16string Matched(std::u16string_view pattern, std::u16string_view subject) {
    CRegex re;
    if (!re.Compile(pattern) || re.Search(subject) < 0) return u"<none>";
    return re.MatchText();
}

RegexError ErrorOf(std::u16string_view pattern) {
    CRegex re;
    EXPECT_FALSE(re.Compile(pattern));
    EXPECT_FALSE(re.IsCompiled());
    return re.Error();
}

// --- Syntax -------------------------------------------------------------------

TEST(RegexSyntax, PlainTextIsFoundWhereItFirstOccurs) {
    EXPECT_EQ(Find(u"ERR", u"AN ERROR"), 3);
    EXPECT_EQ(Find(u"ERR", u"AN ERRERR"), 3);
    EXPECT_EQ(Find(u"ERR", u"AN ER"), -1);
    EXPECT_EQ(Find(u"ERR", u""), -1);
}

TEST(RegexSyntax, BracesHyphenAndClosingBracketAreOrdinary) {
    EXPECT_EQ(Matched(u"a{2}", u"aa a{2}"), u"a{2}");
    EXPECT_EQ(Matched(u"x-y]", u"x-y]"), u"x-y]");
    EXPECT_EQ(Matched(u"}", u"{}"), u"}");
}

TEST(RegexSyntax, BackslashMakesAnyCharacterLiteral) {
    EXPECT_EQ(Find(u"\\d", u"123d"), 3);  // the letter d, not a digit
    EXPECT_EQ(Find(u"\\d", u"123"), -1);
    EXPECT_EQ(Find(u"\\w", u"a w"), 2);
    EXPECT_EQ(Matched(u"1\\.5", u"105 1.5"), u"1.5");
    EXPECT_EQ(Matched(u"\\(a\\)\\*", u"(a)*"), u"(a)*");
    EXPECT_EQ(Matched(u"\\\\", u"a\\b"), u"\\");
    EXPECT_EQ(Matched(u"\\^\\$\\|\\[", u"x^$|["), u"^$|[");
    EXPECT_EQ(Find(u"a\\*", u"aaa"), -1);
}

TEST(RegexSyntax, DotMatchesAnyCharacterIncludingLineFeed) {
    EXPECT_EQ(Matched(u"a.c", u"a\nc"), u"a\nc");
    EXPECT_EQ(Matched(u"a.c", u"abc"), u"abc");
    EXPECT_EQ(Find(u".", u""), -1);
    EXPECT_EQ(Matched(u".+", u"x\ny\n"), u"x\ny\n");
}

TEST(RegexSyntax, BracketListsAndRanges) {
    EXPECT_EQ(Matched(u"[a-c]+", u"xxbca"), u"bca");
    EXPECT_EQ(Find(u"[a-c]+", u"xxbca"), 2);
    EXPECT_EQ(Find(u"[^0-9]", u"123"), -1);
    EXPECT_EQ(Find(u"[^0-9]", u"12x"), 2);
    EXPECT_EQ(Matched(u"[aeiou]+", u"xyzaioux"), u"aiou");
    EXPECT_EQ(Matched(u"[a-a]", u"ba"), u"a");
}

TEST(RegexSyntax, BracketEdgeMembers) {
    EXPECT_EQ(Find(u"[]x]", u"a]"), 1);  // ] right after [ is a member
    EXPECT_EQ(Find(u"[]x]", u"ax"), 1);
    EXPECT_EQ(Find(u"[]x]", u"ab"), -1);
    EXPECT_EQ(Find(u"[a-]", u"b-"), 1);  // - before ] is a member
    EXPECT_EQ(Find(u"[a-]", u"ba"), 1);
    EXPECT_EQ(Find(u"[-a]", u"x-"), 1);  // - right after [ is a member
    EXPECT_EQ(Find(u"[^]]", u"]]a"), 2);  // ] right after [^ is a member
    EXPECT_EQ(Find(u"[^-]", u"--a"), 2);
    EXPECT_EQ(Find(u"[\\]", u"a\\"), 1);  // a backslash inside brackets is a member
    EXPECT_EQ(Matched(u"[a\\]+", u"xa\\a]"), u"a\\a");
    EXPECT_EQ(Find(u"[\\n]", u"x\n"), -1);
    EXPECT_EQ(Find(u"[\\n]", u"xn"), 1);
    EXPECT_EQ(Find(u"[.*+]", u"ab+"), 2);  // no special characters inside brackets
}

TEST(RegexSyntax, RangeStartsAtTheCharacterWrittenBeforeTheHyphen) {
    // [a-c-e]: the second range runs from c (the end of the first) to e.
    EXPECT_EQ(Matched(u"[a-c-e]+", u"-abcde-"), u"abcde");
    EXPECT_EQ(Find(u"[a-c-e]", u"-"), -1);
    // [--/] runs from - to /.
    EXPECT_EQ(Matched(u"[--/]+", u"a-./b"), u"-./");
    // []-a] runs from ] to a.
    EXPECT_EQ(Matched(u"[]-a]+", u"Z]^_`ab"), u"]^_`a");
}

TEST(RegexSyntax, NegatedListNeverMatchesTheEnd) {
    EXPECT_EQ(Find(u"a[^b]", u"a"), -1);
    EXPECT_EQ(Find(u"a[^b]", u"ab ac"), 3);
    EXPECT_EQ(Find(u"[^a]*$", u"aaa"), 3);
}

TEST(RegexSyntax, CharactersBeyondAsciiAndSurrogatesAreCodeUnits) {
    EXPECT_EQ(Find(u"\u00e9t\u00e9", u"ete \u00e9t\u00e9"), 4);
    EXPECT_EQ(Find(u"[\u0400-\u04ff]+", u"abc \u0416\u0443\u043a"), 4);
    EXPECT_EQ(Find(u"[\u00ff-\u0101]", u"\u0100"), 0);
    EXPECT_EQ(Find(u"[\u0001-\uffff]", u"x"), 0);
    // A surrogate pair is two characters: . takes only the first half.
    std::u16string pair = u"\U0001F600";
    EXPECT_EQ(Matched(u"^.", pair), pair.substr(0, 1));
    EXPECT_EQ(Matched(u"^..$", pair), pair);
    EXPECT_EQ(Find(u"\uffff", u"a\uffff"), 1);
}

TEST(RegexSyntax, CodeUnitZeroIsOrdinaryWithExplicitLengths) {
    std::u16string pattern(u"a\0b", 3);
    std::u16string subject(u"xa\0b", 4);
    EXPECT_EQ(Find(pattern, subject), 1);
    EXPECT_EQ(Find(pattern, u"xab"), -1);
    EXPECT_EQ(Find(std::u16string(u"[\0]", 3), subject), 2);
    // The zero-terminated forms stop at the first zero.
    CRegex re;
    ASSERT_TRUE(re.Compile(pattern.c_str()));
    EXPECT_EQ(re.Search(u"xab"), 1);
    EXPECT_EQ(re.MatchLength(), 1);
}

TEST(RegexSyntax, LongerLiteralRunGivesItsLastCharacterToTheRepetition) {
    EXPECT_EQ(Matched(u"ab*", u"ab"), u"ab");
    EXPECT_EQ(Matched(u"ab*", u"abbb"), u"abbb");
    EXPECT_EQ(Matched(u"ab*", u"a"), u"a");  // b is optional, a is not
    EXPECT_EQ(Find(u"ab*", u"bbb"), -1);
    EXPECT_EQ(Matched(u"abc+", u"ab abccc"), u"abccc");
    EXPECT_EQ(Matched(u"abc?d", u"abd"), u"abd");
}

// --- Errors --------------------------------------------------------------------

TEST(RegexErrors, TheListedSyntaxErrors) {
    EXPECT_EQ(ErrorOf(u"("), RegexError::MissingParen);
    EXPECT_EQ(ErrorOf(u"(a|b"), RegexError::MissingParen);
    EXPECT_EQ(ErrorOf(u")"), RegexError::UnmatchedParen);
    EXPECT_EQ(ErrorOf(u"a)b"), RegexError::UnmatchedParen);
    EXPECT_EQ(ErrorOf(u"[z-a]"), RegexError::InvalidRange);
    EXPECT_EQ(ErrorOf(u"[abc"), RegexError::MissingBracket);
    EXPECT_EQ(ErrorOf(u"[]"), RegexError::MissingBracket);
    EXPECT_EQ(ErrorOf(u"[^]"), RegexError::MissingBracket);
    EXPECT_EQ(ErrorOf(u"[a\\"), RegexError::MissingBracket);
    EXPECT_EQ(ErrorOf(u"a**"), RegexError::NestedRepeat);
    EXPECT_EQ(ErrorOf(u"a+?"), RegexError::NestedRepeat);
    EXPECT_EQ(ErrorOf(u"a*?"), RegexError::NestedRepeat);
    EXPECT_EQ(ErrorOf(u"a??"), RegexError::NestedRepeat);
    EXPECT_EQ(ErrorOf(u"*a"), RegexError::NothingToRepeat);
    EXPECT_EQ(ErrorOf(u"a|+b"), RegexError::NothingToRepeat);
    EXPECT_EQ(ErrorOf(u"(?)"), RegexError::NothingToRepeat);
    EXPECT_EQ(ErrorOf(u"x\\"), RegexError::TrailingBackslash);
    EXPECT_EQ(ErrorOf(u"\\"), RegexError::TrailingBackslash);
    EXPECT_EQ(ErrorOf(u"(a*)*"), RegexError::EmptyRepeat);
    EXPECT_EQ(ErrorOf(u"()+"), RegexError::EmptyRepeat);
    EXPECT_EQ(ErrorOf(u"(^)*"), RegexError::EmptyRepeat);
    EXPECT_EQ(ErrorOf(u"^*"), RegexError::EmptyRepeat);
    EXPECT_EQ(ErrorOf(u"(a|)+"), RegexError::EmptyRepeat);
    EXPECT_EQ(ErrorOf(u"(a?b?)*"), RegexError::EmptyRepeat);
}

TEST(RegexErrors, AtMostNineGroups) {
    EXPECT_TRUE(CRegex().Compile(u"(a)(b)(c)(d)(e)(f)(g)(h)(i)"));
    EXPECT_TRUE(CRegex().Compile(u"(((((((((a)))))))))"));
    EXPECT_EQ(ErrorOf(u"(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)"), RegexError::TooManyGroups);
    EXPECT_EQ(ErrorOf(u"((((((((((a))))))))))"), RegexError::TooManyGroups);
    EXPECT_TRUE(CRegex().Compile(u"\\(\\(\\(\\(\\(\\(\\(\\(\\(\\(a"));  // escaped ones are not groups
}

TEST(RegexErrors, EmptyCapableOperandsMayTakeQuestionMark) {
    EXPECT_EQ(Find(u"(a*)?b", u"aab"), 0);
    EXPECT_EQ(Find(u"()?x", u"yx"), 1);
    EXPECT_EQ(Find(u"(^)?x", u"yx"), 1);
    EXPECT_EQ(Find(u"^?x", u"yx"), 1);
    EXPECT_EQ(Find(u"(a+)*b", u"aab"), 0);  // a+ cannot match empty: * is fine
}

TEST(RegexErrors, ErrorOffsetPointsAtTheFault) {
    CRegex re;
    EXPECT_FALSE(re.Compile(u"abc[z-a]"));
    EXPECT_EQ(re.ErrorOffset(), 5u);
    EXPECT_FALSE(re.Compile(u"ab(cd"));
    EXPECT_EQ(re.ErrorOffset(), 2u);
    EXPECT_FALSE(re.Compile(u"ab)"));
    EXPECT_EQ(re.ErrorOffset(), 2u);
    EXPECT_FALSE(re.Compile(u"ab**"));
    EXPECT_EQ(re.ErrorOffset(), 3u);
    EXPECT_STRNE(CRegex::ErrorText(re.Error()), CRegex::ErrorText(RegexError::None));
}

TEST(RegexErrors, FailedCompileLeavesNothingUsable) {
    CRegex re;
    ASSERT_TRUE(re.Compile(u"ERR"));
    EXPECT_EQ(re.Search(u"AN ERROR"), 3);
    EXPECT_FALSE(re.Compile(u"(ERR"));
    EXPECT_FALSE(re.IsCompiled());
    EXPECT_EQ(re.Search(u"AN ERROR"), -1);
    EXPECT_EQ(re.MatchLength(), 0);
    EXPECT_EQ(re.MatchStart(), -1);
    ASSERT_TRUE(re.Compile(u"ROR"));
    EXPECT_EQ(re.Error(), RegexError::None);
    EXPECT_EQ(re.Search(u"AN ERROR"), 5);
}

TEST(RegexErrors, MissingPatternOrSubject) {
    CRegex re;
    EXPECT_EQ(re.Search(u"abc"), -1);  // nothing compiled
    EXPECT_FALSE(re.Compile(static_cast<const char16_t*>(nullptr)));
    EXPECT_EQ(re.Error(), RegexError::NoPattern);
    EXPECT_FALSE(re.Compile(nullptr, 3));
    ASSERT_TRUE(re.Compile(u""));
    EXPECT_EQ(re.Search(static_cast<const char16_t*>(nullptr)), -1);
    EXPECT_EQ(re.Search(nullptr, 0), -1);
    EXPECT_EQ(re.Search(std::u16string_view()), 0);  // an empty subject is a subject
}

// --- Anchoring -----------------------------------------------------------------

TEST(RegexAnchoring, CaretOnlyAtTheStartOfTheSubject) {
    EXPECT_EQ(Find(u"^ERR", u"AN ERROR"), -1);
    EXPECT_EQ(Find(u"^ERR", u"ERROR"), 0);
    EXPECT_EQ(Find(u"^b", u"a\nb"), -1);  // never after a line feed
    EXPECT_EQ(Find(u"a^b", u"ab"), -1);
    EXPECT_EQ(Find(u"(^a|b)", u"cab"), 2);
    EXPECT_EQ(Find(u"x|^a", u"ba"), -1);
    EXPECT_EQ(Find(u"x|^a", u"ax"), 0);
}

TEST(RegexAnchoring, DollarOnlyAtTheEndOfTheSubject) {
    EXPECT_EQ(Find(u"ERROR$", u"AN ERROR"), 3);
    EXPECT_EQ(Find(u"ERROR$", u"AN ERROR\n"), -1);  // never before a final line feed
    EXPECT_EQ(Find(u"a$\n", u"a\n"), -1);
    EXPECT_EQ(Find(u"$", u"abc"), 3);
    EXPECT_EQ(Find(u"^$", u""), 0);
    EXPECT_EQ(Find(u"^$", u"x"), -1);
    EXPECT_EQ(Find(u"(a$|b)", u"ab a"), 1);
}

TEST(RegexAnchoring, EmptyMatches) {
    EXPECT_EQ(Find(u"", u"anything"), 0);
    EXPECT_EQ(Find(u"", u""), 0);
    EXPECT_EQ(Find(u"a*", u"bbb"), 0);
    EXPECT_EQ(Matched(u"a*", u"bbb"), u"");
    EXPECT_EQ(Find(u"x?$", u"ab"), 2);
    EXPECT_EQ(Find(u"()", u"ab"), 0);
}

// --- Repetition ----------------------------------------------------------------

TEST(RegexRepetition, GreedyAndBacktracking) {
    EXPECT_EQ(Matched(u"a*", u"aaab"), u"aaa");
    EXPECT_EQ(Matched(u"a+", u"baaab"), u"aaa");
    EXPECT_EQ(Matched(u"a?", u"aa"), u"a");
    EXPECT_EQ(Matched(u"a*ab", u"aaab"), u"aaab");  // gives back one a
    EXPECT_EQ(Matched(u".*x", u"axbxc"), u"axbx");
    EXPECT_EQ(Matched(u".*", u"abc"), u"abc");
    EXPECT_EQ(Matched(u"[0-9]+ bytes", u"wrote 1234 bytes"), u"1234 bytes");
    EXPECT_EQ(Matched(u".*timeout.*", u"a timeout here"), u"a timeout here");
    EXPECT_EQ(Matched(u"x[^x]*x", u"axbbxcx"), u"xbbx");
}

TEST(RegexRepetition, RepeatedGroups) {
    EXPECT_EQ(Matched(u"(ab)*", u"ababa"), u"abab");
    EXPECT_EQ(Matched(u"(ab)+c", u"abab ababc"), u"ababc");
    EXPECT_EQ(Matched(u"(a|b)*c", u"xabbac"), u"abbac");
    EXPECT_EQ(Matched(u"(ab)?ab", u"ab"), u"ab");
    EXPECT_EQ(Matched(u"(a|ab)*c", u"ababc"), u"ababc");  // needs the second choice inside the loop
    EXPECT_EQ(Matched(u"(aa|a)+$", u"aaa"), u"aaa");
    EXPECT_EQ(Matched(u"(a+)+b", u"aaab"), u"aaab");
    EXPECT_EQ(Matched(u"(x+x+)+y", u"xxxxy"), u"xxxxy");
}

TEST(RegexRepetition, RepetitionAtTheEndsOfTheSubject) {
    EXPECT_EQ(Matched(u"a*$", u"baa"), u"aa");
    EXPECT_EQ(Find(u"a*$", u"baa"), 1);
    EXPECT_EQ(Find(u"b*", u""), 0);
    EXPECT_EQ(Find(u"b+", u""), -1);
    EXPECT_EQ(Matched(u"^a*", u"aab"), u"aa");
}

// --- Alternation ---------------------------------------------------------------

TEST(RegexAlternation, LeftmostStartWins) {
    EXPECT_EQ(Find(u"DISK|NTFS", u"an NTFS DISK"), 3);
    EXPECT_EQ(Find(u"DISK|NTFS", u"a DISK NTFS"), 2);
    EXPECT_EQ(Find(u"DISK|NTFS", u"none"), -1);
}

TEST(RegexAlternation, FirstAlternativeThatMatchesWinsNotTheLongest) {
    EXPECT_EQ(Matched(u"a|ab", u"ab"), u"a");
    EXPECT_EQ(Matched(u"ab|a", u"ab"), u"ab");
    EXPECT_EQ(Matched(u"(ab|a)(c|bcd)", u"abcd"), u"abc");
    EXPECT_EQ(Matched(u"(a|ab)(c|bcd)", u"abcd"), u"abcd");
    EXPECT_EQ(Matched(u"(a|ab)(c|bcd)(d*)", u"abcd"), u"abcd");
}

TEST(RegexAlternation, EmptyAlternatives) {
    EXPECT_EQ(Find(u"(a|)", u"b"), 0);
    EXPECT_EQ(Matched(u"(a|)", u"ab"), u"a");
    EXPECT_EQ(Matched(u"(|a)", u"ab"), u"");
    EXPECT_EQ(Find(u"x|", u"ab"), 0);
    EXPECT_EQ(Find(u"|", u""), 0);
    EXPECT_EQ(Matched(u"b(|x)c", u"abc"), u"bc");
}

TEST(RegexAlternation, ManyAlternatives) {
    const char16_t* pattern = u"DISK|NTFS|FTDISK|ATAPI|CDROM|SERIAL|PARPORT|TCPIP|DHCP|NETBT";
    EXPECT_EQ(Find(pattern, u"warning from PARPORT"), 13);
    EXPECT_EQ(Find(pattern, u"nothing"), -1);
    EXPECT_EQ(Matched(pattern, u"FTDISK"), u"FTDISK");  // DISK starts later
}

// --- Groups --------------------------------------------------------------------

TEST(RegexGroups, GroupsOnlyGroup) {
    EXPECT_EQ(Find(u"(DISK|NTFS) ERROR", u"NTFS WARNING, DISK ERROR"), 14);
    EXPECT_EQ(Find(u"(DISK|NTFS) ERROR", u"DISK WARNING"), -1);
    EXPECT_EQ(Matched(u"((a)(b(c)))", u"xabc"), u"abc");
    EXPECT_EQ(Matched(u"(a(b|c)d)+", u"abdacdx"), u"abdacd");
}

// --- Shortcuts -----------------------------------------------------------------

TEST(RegexShortcuts, FirstCharacterSkipsOtherPositions) {
    // Positions that do not hold the first character are skipped, not lost.
    EXPECT_EQ(Find(u"ab+c", u"aab abbc"), 4);
    EXPECT_EQ(Find(u"a(b|c)", u"xxac"), 2);
    EXPECT_EQ(Find(u"[xy]z", u"xxyz"), 2);
    EXPECT_EQ(Find(u"(ab|ac)d", u"abacd"), 2);
}

TEST(RegexShortcuts, AnchoredTriesOnlyTheStart) {
    EXPECT_EQ(Find(u"^a*b", u"aab"), 0);
    EXPECT_EQ(Find(u"^a*b", u"cab"), -1);
    EXPECT_EQ(Find(u"^Disk", u"Disk full"), 0);
    EXPECT_EQ(Find(u"^Disk", u" Disk"), -1);
    EXPECT_EQ(Find(u"^a|^b", u"b"), 0);
}

TEST(RegexShortcuts, RequiredLiteralMustOccur) {
    EXPECT_EQ(Find(u".*timeout", u"no time out"), -1);
    EXPECT_EQ(Find(u".*timeout", u"a timeout"), 0);
    EXPECT_EQ(Find(u"a*xyz", u"aaxy xyz"), 5);
    EXPECT_EQ(Find(u"[0-9]+ bytes", u"123 byte"), -1);
    // A literal inside one alternative or a group is not required.
    EXPECT_EQ(Find(u"a*(xyz|b)", u"aab"), 0);
    EXPECT_EQ(Find(u"a*xyz|b", u"b"), 0);
    EXPECT_EQ(Find(u"a*(xyz)?c", u"ac"), 0);
    EXPECT_EQ(Find(u"a*x\\yz", u"axyz"), 0);  // joined literal pieces
    EXPECT_EQ(Find(u"a*x\\yz", u"axy z"), -1);
}

TEST(RegexShortcuts, PatternsThatCanMatchEmptyAreTriedAtTheEnd) {
    EXPECT_EQ(Find(u"x*$", u"abc"), 3);
    EXPECT_EQ(Find(u"(a|)$", u"bc"), 2);
    EXPECT_EQ(Find(u"b?$", u""), 0);
}

// --- Interface -----------------------------------------------------------------

TEST(RegexInterface, MatchLengthAndTextFollowTheLastSearch) {
    CRegex re;
    ASSERT_TRUE(re.Compile(u"b+"));
    EXPECT_EQ(re.Search(u"abbbc"), 1);
    EXPECT_EQ(re.MatchStart(), 1);
    EXPECT_EQ(re.MatchLength(), 3);
    EXPECT_EQ(re.MatchText(), u"bbb");
    EXPECT_EQ(re.Search(u"xyz"), -1);
    EXPECT_EQ(re.MatchLength(), 0);
    EXPECT_EQ(re.MatchText(), u"");
    EXPECT_EQ(re.Search(u"b", 1), 0);
    EXPECT_EQ(re.MatchText(), u"b");
    std::u16string owned = u"abb";
    EXPECT_EQ(re.Search(owned), 1);
    EXPECT_EQ(re.Search(owned.data(), 1), -1);  // the length is respected
}

TEST(RegexInterface, CompiledExpressionMovesWithItsOwner) {
    CRegex a;
    ASSERT_TRUE(a.Compile(u"(x|y)z"));
    CRegex b(std::move(a));
    EXPECT_TRUE(b.IsCompiled());
    EXPECT_EQ(b.Search(u"aayz"), 2);
    CRegex c;
    c = std::move(b);
    EXPECT_EQ(c.Search(u"xz"), 0);
}

TEST(RegexInterface, RecompilingReplacesTheProgram) {
    CRegex re;
    ASSERT_TRUE(re.Compile(u"[a-z]+"));
    ASSERT_TRUE(re.Compile(u"[0-9]+"));
    EXPECT_EQ(re.Search(u"abc123"), 3);
    ASSERT_TRUE(re.Compile(u"^c"));
    EXPECT_EQ(re.Search(u"abc"), -1);
    ASSERT_TRUE(re.Compile(u"c"));
    EXPECT_EQ(re.Search(u"abc"), 2);
}

}  // namespace
