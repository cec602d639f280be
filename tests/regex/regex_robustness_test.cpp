// Anyone who can make a program log can shape a subject: none may overflow the stack or take time beyond size x length.
#include "rules/regex/regex.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <tuple>

namespace {

std::u16string Repeat(std::u16string_view unit, std::size_t count) {
    std::u16string out;
    while (count-- > 0) out += unit;
    return out;
}

using G = RegexSearchTuning::Engine;

TEST(RegexRobustness, LinearStepsAndNoRecursionUpToAMegabyte) {
    // Subject: prefix, count units, suffix; expected start and length: a + b * count.
    const struct { const char16_t *pattern, *prefix, *unit, *suffix; int32_t start, startPer, length, lengthPer; } jobs[] = {
        {u"(a|b)*c", u"", u"ab", u"c", 0, 0, 1, 2}, {u"(a|aa)*c", u"", u"a", u"bc", 1, 1, 1, 0},
        {u"(x+x+)+y", u"", u"x", u"zy", -1, 0, 0, 0}, {u".*x", u"", u"a", u"x", 0, 0, 1, 1},
        // Each b starts a try whose .* runs to the end: quadratic without the memo.
        {u"b.*cd", u"cd", u"b", u"", -1, 0, 0, 0}, {u"[ab]*[ab]*[ab]*c", u"c", u"ab", u"x", 0, 0, 1, 0},
    };
    const RegexSearchTuning engines[] = {{}, {.engine = G::Breadth}, {.engine = G::Backtrack, .memoBudgetBits = 1u << 28, .stackBudget = 1u << 23}};
    // On a thread of its own, with a stack of a few megabytes: one frame per character of a megabyte overflows it.
    std::thread([&] {
        for (const auto& job : jobs) {
            for (std::size_t size : {100, 1 << 20}) {
                const int32_t count = int32_t(size / std::u16string_view(job.unit).size());
                const std::u16string subject = job.prefix + Repeat(job.unit, count) + job.suffix;
                for (std::size_t e = 0; e < std::size(engines); ++e) {
                    SCOPED_TRACE(testing::Message() << "pattern " << (&job - jobs) << ", size " << size << ", engine " << e);
                    CRegex re;
                    ASSERT_TRUE(re.Compile(job.pattern));
                    RegexSearchStats stats;
                    const int32_t start = re.Search(subject, engines[e], &stats);
                    EXPECT_EQ(std::tuple(start, re.MatchLength(), stats.gaveUp),
                              std::tuple(job.start + job.startPer * count, job.length + job.lengthPer * count, false));
                    EXPECT_LE(stats.steps, 64 * (size + 1));  // steps grow with the subject only
                }
            }
        }
    }).join();
}

TEST(RegexRobustness, MemoAndBreadthFirstOnlyWhereNeededAndWithinTheirBudgets) {
    const std::u16string ab = Repeat(u"ab", 1 << 19);
    const struct { std::u16string pattern, subject; RegexSearchTuning tuning; int32_t start, length; bool memo, breadth, gaveUp; uint64_t maxSteps; } rows[] = {
        {u"(a|aa)*c", Repeat(u"a", 40) + u"bc", {}, 41, 1, true, false, false, 2000},  // exponential without the memo
        // Against a megabyte, (a|b)*$ would keep a choice per character: backtracking alone stops.
        {u"(a|b)*$", ab, {}, 0, 1 << 20, false, true, false, ~0ull},
        {u"(a|b)*$", ab, {.engine = G::Backtrack}, -1, 0, false, false, true, ~0ull},
        {u"(a|aa)*c", Repeat(u"a", 5000) + u"bc", {.memoBudgetBits = 1000}, 5001, 1, false, true, false, ~0ull},
        // 4096 repetitions, one memo row each, over positions 0 to 1048575: 2^32 bits, nothing in 32-bit arithmetic.
        {Repeat(u"x*", 4096) + u"[y]", std::u16string(1048575, u'x'),
         {.engine = G::Backtrack, .memo = RegexSearchTuning::Memo::Always}, -1, 0, false, false, true, ~0ull},
    };
    CRegex re;
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << "row " << (&r - rows));
        ASSERT_TRUE(re.Compile(r.pattern));
        RegexSearchStats stats;
        const int32_t start = re.Search(r.subject, r.tuning, &stats);
        EXPECT_EQ(std::tuple(start, re.MatchLength(), stats.memo, stats.breadth, stats.gaveUp),
                  std::tuple(r.start, r.length, r.memo, r.breadth, r.gaveUp));
        EXPECT_LE(stats.steps, r.maxSteps);
    }
    if (sizeof(void*) == 4) {  // on i686 a pattern of some 54 million characters passes what one array holds
        EXPECT_FALSE(re.Compile(std::u16string(60000000, u'a')));
        EXPECT_EQ(re.Error(), RegexError::OutOfMemory);
    }
}

}  // namespace
