// Subjects are event messages that anyone able to make a program log something can shape: no subject may
// overflow the searching thread's stack, make a search take time beyond program size x subject length.
#include "rules/regex/regex.h"
#include "rules/regex/regex_internal.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>
#endif

namespace {

// AddressSanitizer pads every frame; the nesting bound is about plain frames.
#if defined(__SANITIZE_ADDRESS__)
constexpr std::size_t kSmallStack = 8 * 64 * 1024;
#else
constexpr std::size_t kSmallStack = 64 * 1024;
#endif

// Runs work on a new thread with a small stack and waits for it.
void RunOnSmallStack(std::function<void()> work) {
#ifdef _WIN32
    struct Start { static DWORD WINAPI Thread(void* w) { return (*static_cast<std::function<void()>*>(w))(), 0; } };
    HANDLE thread = CreateThread(nullptr, kSmallStack, Start::Thread, &work, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    ASSERT_NE(thread, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
#else
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    ASSERT_EQ(pthread_attr_setstacksize(&attr, kSmallStack), 0);
    pthread_t thread;
    auto start = [](void* w) -> void* { return (*static_cast<std::function<void()>*>(w))(), nullptr; };
    ASSERT_EQ(pthread_create(&thread, &attr, start, &work), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
#endif
}

std::u16string Repeat(std::u16string_view unit, std::size_t count) {
    std::u16string out;
    while (count-- > 0) out += unit;
    return out;
}

using Outcome = std::pair<int32_t, int32_t>;  // start and length of the match
Outcome SearchWith(CRegex& re, std::u16string_view subject, const RegexSearchTuning& tuning, RegexSearchStats* stats) {
    const int32_t start = re.Search(subject, tuning, stats);
    return {start, re.MatchLength()};
}
using G = RegexSearchTuning::Engine; using M = RegexSearchTuning::Memo;

TEST(RegexRobustness, LinearStepsAndNoRecursionUpToMegabytes) {
    // Subject: prefix, count units, suffix; expected start and length: a + b * count.
    const struct { const char16_t *pattern, *prefix, *unit, *suffix; int32_t start, startPer, length, lengthPer; } jobs[] = {
        {u"(a|b)*", u"", u"ab", u"", 0, 0, 0, 2}, {u"(a|b)*c", u"", u"ab", u"c", 0, 0, 1, 2},
        {u"(ab)+$", u"", u"ab", u"", 0, 0, 0, 2}, {u"(a|aa)*c", u"", u"a", u"bc", 1, 1, 1, 0},
        {u"(x+x+)+y", u"", u"x", u"zy", -1, 0, 0, 0}, {u".*x", u"", u"a", u"x", 0, 0, 1, 1},
        {u"(.)*b", u"", u"a", u"", -1, 0, 0, 0}, {u"a(.|b)*b$", u"a", u"ab", u"a", -1, 0, 0, 0},
        // Each b starts a try whose .* runs to the end: quadratic without the memo.
        {u"b.*cd", u"cd", u"b", u"", -1, 0, 0, 0}, {u"[ab]*[ab]*[ab]*c", u"c", u"ab", u"x", 0, 0, 1, 0},
    };
    const std::size_t sizes[] = {100, 1000, 10000, 100000, 1 << 20}, kRuns = std::size(jobs) * std::size(sizes) * 3;
    const RegexSearchTuning engines[] = {{}, {.engine = G::Breadth}, {.engine = G::Backtrack, .memoBudgetBits = 1u << 28, .stackBudget = 1u << 23}};
    const std::u16string q = Repeat(u"q", 200000);  // long patterns too: nesting is bounded by the nine groups, length is not
    const struct { std::u16string pattern, subject; Outcome expected; } longPatterns[] = {
        {Repeat(u"ab|", 50000) + u"xyz", u"--xyz", {2, 3}}, {u"(a(b(c(d(e(f(g(h(i)?)?)?)?)?)?)?)?)?j", u"..abcj", {2, 4}},
        {q, std::u16string(u"x").append(q), {1, 200000}}};
    std::vector<Outcome> got(kRuns + 3, Outcome{-2, -2}), want(kRuns);
    std::vector<RegexSearchStats> stats(kRuns);
    RunOnSmallStack([&] {
        for (std::size_t i = 0; i < kRuns; ++i) {
            const auto& job = jobs[i / 3 / std::size(sizes)];
            const std::size_t count = sizes[i / 3 % std::size(sizes)] / std::u16string_view(job.unit).size();
            want[i] = {job.start + job.startPer * int32_t(count), job.length + job.lengthPer * int32_t(count)};
            CRegex re;
            if (re.Compile(job.pattern)) got[i] = SearchWith(re, job.prefix + Repeat(job.unit, count) + job.suffix, engines[i % 3], &stats[i]);
        }
        for (std::size_t i = 0; i < 3; ++i) {
            CRegex re;
            if (re.Compile(longPatterns[i].pattern)) got[kRuns + i] = SearchWith(re, longPatterns[i].subject, {}, nullptr);
        }
    });
    double perCharFirst = 0;
    for (std::size_t i = 0; i < kRuns; ++i) {
        const std::size_t size = sizes[i / 3 % std::size(sizes)];
        SCOPED_TRACE(testing::Message() << "job " << i / 3 / std::size(sizes) << ", size " << size << ", engine " << i % 3);
        EXPECT_EQ(got[i], want[i]);
        if (i % 3 == 0) {  // the default search: never gives up, steps in proportion
            EXPECT_FALSE(stats[i].gaveUp);
            const double perChar = double(stats[i].steps) / double(size + 1);
            perCharFirst = size == sizes[0] ? perChar : perCharFirst;
            EXPECT_LE(perChar, 2 * perCharFirst + 8);
            EXPECT_LE(perChar, 64.0);
        }
    }
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(got[kRuns + i], longPatterns[i].expected) << "long pattern " << i;
}

TEST(RegexRobustness, MemoAndBreadthFirstOnlyWhereNeededAndWithinTheirBudgets) {
    const std::u16string ab = Repeat(u"ab", 1 << 19);
    const struct { std::u16string pattern, subject; RegexSearchTuning tuning; Outcome expected; bool memo, breadth, gaveUp; uint64_t maxSteps; } rows[] = {
        {u"(a|aa)*c", Repeat(u"a", 40) + u"bc", {}, {41, 1}, true, false, false, 2000},  // exponential without the memo
        // Ordinary searches pay for neither; positions that cannot start a match are skipped.
        {u"(DISK|NTFS) ERROR", Repeat(u"DISK WARNING ", 300) + u"NTFS ERROR", {}, {3900, 10}, false, false, false, 4000},
        // Against a megabyte, (a|b)*$ would keep a choice per character: backtracking alone stops.
        {u"(a|b)*$", ab, {}, {0, 1 << 20}, false, true, false, ~0ull},
        {u"(a|b)*$", ab, {.engine = G::Backtrack}, {-1, 0}, false, false, true, ~0ull},
        {u"(a|aa)*c", Repeat(u"a", 5000) + u"bc", {.memoBudgetBits = 1000}, {5001, 1}, false, true, false, ~0ull},
        // 4096 repetitions, one memo row each, over positions 0 to 1048575: 2^32 bits, nothing in 32-bit arithmetic.
        {Repeat(u"x*", 4096) + u"[y]", std::u16string(1048575, u'x'), {.engine = G::Backtrack, .memo = M::Always}, {-1, 0}, false, false, true, ~0ull},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << "row " << (&r - rows));
        CRegex re;
        ASSERT_TRUE(re.Compile(r.pattern));
        RegexSearchStats stats;
        EXPECT_EQ(SearchWith(re, r.subject, r.tuning, &stats), r.expected);
        EXPECT_EQ(std::vector<bool>({stats.memo, stats.breadth, stats.gaveUp}), std::vector<bool>({r.memo, r.breadth, r.gaveUp}));
        EXPECT_LE(stats.steps, r.maxSteps);
    }
    if (sizeof(void*) == 4) {  // on i686 a pattern of some 54 million characters passes what one array holds
        CRegex re;
        EXPECT_FALSE(re.Compile(std::u16string(60000000, u'a')));
        EXPECT_EQ(re.Error(), RegexError::OutOfMemory);
    }
}

// Memo sizes against the product's budget in 32-bit arithmetic (i686) and 64-bit: 4096 rows over
// positions 0 to 1048575 are 2^32 bits, which wraps to nothing in 32 bits and must be refused.
template <class Size> void CheckMemoArithmetic() {
    const struct { uint32_t rows, length; uint64_t words; } sizes[] = {  // words 0: refused
        {3, 100, 5}, {64, (1u << 18) - 1, (1u << 18) + 1}, {64, 1u << 18, 0}, {4096, 1048575, 0}};  // exactly the budget; over it
    for (const auto& c : sizes) EXPECT_EQ(uint64_t(regex_internal::MemoWords<Size>(c.rows, c.length, 1u << 24)), c.words) << c.rows;
}

TEST(RegexRobustness, MemoSizesDoNotWrapIn32Bits) {
    CheckMemoArithmetic<uint32_t>();
    CheckMemoArithmetic<uint64_t>();
}

}  // namespace
