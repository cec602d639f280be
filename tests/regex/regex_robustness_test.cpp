// Subjects are event messages that anyone able to make a program log something can
// shape: no subject may overflow the searching thread's stack, make a search take
// time beyond program size x subject length, or change what matches.
#include "rules/regex/regex.h"
#include "rules/regex/regex_internal.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>
#endif

namespace {

constexpr std::size_t kSmallStack = 64 * 1024;

// Runs work on a new thread with a 64 KiB stack and waits for it.
void RunOnSmallStack(const std::function<void()>& work) {
    auto body = [](void* arg) { (*static_cast<const std::function<void()>*>(arg))(); };
#ifdef _WIN32
    struct Start {
        static DWORD WINAPI Thread(void* arg) {
            (*static_cast<const std::function<void()>*>(arg))();
            return 0;
        }
    };
    (void)body;
    HANDLE thread = CreateThread(nullptr, kSmallStack, Start::Thread, const_cast<std::function<void()>*>(&work),
                                 STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    ASSERT_NE(thread, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
#else
    struct Start {
        static void* Thread(void* arg) {
            (*static_cast<const std::function<void()>*>(arg))();
            return nullptr;
        }
    };
    (void)body;
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    ASSERT_EQ(pthread_attr_setstacksize(&attr, kSmallStack), 0);
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, &attr, Start::Thread, const_cast<std::function<void()>*>(&work)), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
#endif
}

std::u16string Repeat(std::u16string_view unit, std::size_t count) {
    std::u16string out;
    out.reserve(unit.size() * count);
    for (std::size_t i = 0; i < count; ++i) out += unit;
    return out;
}

struct Outcome {
    int32_t start;
    int32_t length;
    bool operator==(const Outcome&) const = default;
};

Outcome SearchWith(CRegex& re, std::u16string_view subject, const RegexSearchTuning& tuning,
                   RegexSearchStats* stats = nullptr) {
    int32_t start = re.Search(subject, tuning, stats);
    return Outcome{start, re.MatchLength()};
}

RegexSearchTuning Breadth() {
    RegexSearchTuning t;
    t.engine = RegexSearchTuning::Engine::Breadth;
    return t;
}

RegexSearchTuning Plain(uint64_t limit) {
    RegexSearchTuning t;
    t.engine = RegexSearchTuning::Engine::Backtrack;
    t.memo = RegexSearchTuning::Memo::Never;
    t.stepLimit = limit;
    return t;
}

// --- Stack -----------------------------------------------------------------------

TEST(RegexStack, MegabyteSubjectsOnA64KiBStack) {
    const std::size_t n = 1 << 20;
    const std::u16string ab = Repeat(u"ab", n / 2);
    const std::u16string as = Repeat(u"a", n);
    struct Job {
        const char16_t* pattern;
        std::u16string subject;
        Outcome expected;
    };
    const std::vector<Job> jobs = {
        {u"(a|b)*", ab, {0, int32_t(n)}},
        {u"^(a|b)*$", ab, {0, int32_t(n)}},
        {u"(a|b)*c", ab + u"c", {0, int32_t(n + 1)}},
        {u"(ab)+$", ab, {0, int32_t(n)}},
        {u"(a|aa)*c", as + u"bc", {int32_t(n + 1), 1}},
        {u"(a|a)*b", as + u"cb", {int32_t(n + 1), 1}},
        {u"(x+x+)+y", Repeat(u"x", n) + u"zy", {-1, 0}},
        {u".*x", as + u"x", {0, int32_t(n + 1)}},
        {u"(.)*b", as, {-1, 0}},
        {u"a(.|b)*b$", std::u16string(u"a").append(ab).append(u"a"), {-1, 0}},
    };
    std::vector<Outcome> automatic(jobs.size()), breadth(jobs.size()), backtrack(jobs.size());
    RunOnSmallStack([&] {
        RegexSearchTuning big;  // the backtracker alone, with room for any of these
        big.engine = RegexSearchTuning::Engine::Backtrack;
        big.memoBudgetBits = std::size_t(1) << 28;
        big.stackBudget = std::size_t(1) << 23;
        for (std::size_t i = 0; i < jobs.size(); ++i) {
            CRegex re;
            if (!re.Compile(jobs[i].pattern)) continue;
            automatic[i] = SearchWith(re, jobs[i].subject, RegexSearchTuning());
            breadth[i] = SearchWith(re, jobs[i].subject, Breadth());
            backtrack[i] = SearchWith(re, jobs[i].subject, big);
        }
    });
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "pattern " << i);
        EXPECT_EQ(automatic[i], jobs[i].expected);
        EXPECT_EQ(breadth[i], jobs[i].expected);
        EXPECT_EQ(backtrack[i], jobs[i].expected);
    }
}

TEST(RegexStack, LargePatternsCompileOnA64KiBStack) {
    // Nesting is bounded by the nine groups; length is not.
    const std::u16string alternatives = Repeat(u"ab|", 50000) + u"xyz";
    const std::u16string nested = u"(a(b(c(d(e(f(g(h(i)?)?)?)?)?)?)?)?)?j";
    const std::u16string long_literal = Repeat(u"q", 200000);
    bool ok[3] = {};
    int32_t found[3] = {-2, -2, -2};
    RunOnSmallStack([&] {
        CRegex re;
        ok[0] = re.Compile(alternatives);
        found[0] = re.Search(u"--xyz");
        ok[1] = re.Compile(nested);
        found[1] = re.Search(u"..abcj");
        ok[2] = re.Compile(long_literal);
        found[2] = re.Search(std::u16string(u"x").append(long_literal));
    });
    EXPECT_TRUE(ok[0]);
    EXPECT_EQ(found[0], 2);
    EXPECT_TRUE(ok[1]);
    EXPECT_EQ(found[1], 2);
    EXPECT_TRUE(ok[2]);
    EXPECT_EQ(found[2], 1);
}

// --- Time ------------------------------------------------------------------------

// Steps of the default search for each length; the steps per character must not grow.
void ExpectLinear(const char16_t* pattern, const std::function<std::u16string(std::size_t)>& subject,
                  const std::function<Outcome(std::size_t)>& expected) {
    CRegex re;
    ASSERT_TRUE(re.Compile(pattern));
    double perCharFirst = 0;
    for (std::size_t n : {10, 100, 1000, 10000, 100000}) {
        std::u16string s = subject(n);
        RegexSearchStats stats;
        auto begin = std::chrono::steady_clock::now();
        Outcome got = SearchWith(re, s, RegexSearchTuning(), &stats);
        double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin).count();
        EXPECT_EQ(got, expected(n)) << "n=" << n;
        EXPECT_FALSE(stats.gaveUp);
        double perChar = double(stats.steps) / double(s.size() + 1);
        if (n == 100) perCharFirst = perChar;
        if (n > 100) {
            EXPECT_LE(perChar, 2 * perCharFirst + 8) << "n=" << n;
        }
        EXPECT_LE(perChar, 64.0) << "n=" << n;
        if (n == 10000) {
            EXPECT_LT(ms, 250.0);  // the goal is 10 ms; room for slow and emulated runs
        }
    }
}

TEST(RegexTime, AlternativesOfOverlappingLengths) {
    // (a|aa)*c: a run of a's then no c where the run ends.
    ExpectLinear(u"(a|aa)*c", [](std::size_t n) { return Repeat(u"a", n) + u"bc"; },
                 [](std::size_t n) { return Outcome{int32_t(n + 1), 1}; });
}

TEST(RegexTime, IdenticalAlternatives) {
    ExpectLinear(u"(a|a)*b", [](std::size_t n) { return Repeat(u"a", n) + u"cb"; },
                 [](std::size_t n) { return Outcome{int32_t(n + 1), 1}; });
}

TEST(RegexTime, NestedRepetitions) {
    ExpectLinear(u"(x+x+)+y", [](std::size_t n) { return Repeat(u"x", n) + u"zy"; },
                 [](std::size_t) { return Outcome{-1, 0}; });
}

TEST(RegexTime, RepeatedScansFromEveryStart) {
    // Each b starts a try whose .* runs to the end: quadratic without the memo.
    ExpectLinear(u"b.*cd", [](std::size_t n) { return std::u16string(u"cd").append(Repeat(u"b", n)); },
                 [](std::size_t) { return Outcome{-1, 0}; });
    ExpectLinear(u"[ab]*[ab]*[ab]*c", [](std::size_t n) { return std::u16string(u"c").append(Repeat(u"ab", n / 2)).append(u"x"); },
                 [](std::size_t) { return Outcome{0, 1}; });
}

TEST(RegexTime, PlainBacktrackingWouldNotFinish) {
    // The same search without the memo runs out of a generous step budget at a mere
    // 40 characters, while the memo finishes it at once with the same answer.
    CRegex re;
    ASSERT_TRUE(re.Compile(u"(a|aa)*c"));
    const std::u16string s = Repeat(u"a", 40) + u"bc";
    RegexSearchStats plain;
    re.Search(s, Plain(5000000), &plain);
    EXPECT_TRUE(plain.gaveUp);
    RegexSearchStats memo;
    EXPECT_EQ(re.Search(s, RegexSearchTuning(), &memo), 41);
    EXPECT_TRUE(memo.memo);
    EXPECT_LT(memo.steps, 2000u);
}

TEST(RegexTime, OrdinarySearchesDoNotPayForTheMemo) {
    CRegex re;
    ASSERT_TRUE(re.Compile(u"(DISK|NTFS) ERROR"));
    RegexSearchStats stats;
    EXPECT_EQ(re.Search(Repeat(u"DISK WARNING ", 300) + u"NTFS ERROR", RegexSearchTuning(), &stats), 3900);
    EXPECT_FALSE(stats.memo);
    EXPECT_FALSE(stats.breadth);
}

// --- Same results ------------------------------------------------------------------

TEST(RegexSameResults, EveryEngineAgreesWithPlainBacktracking) {
    const char16_t* patterns[] = {
        u"(a|ab)(c|bcd)(d*)", u"(a|aa)*c", u"(a|a)*b", u"(x+x+)+y", u"(a|b)*ab", u"(ab|a)(bc|c)*$",
        u"a*a*a*b", u"(.*)(.*)x", u"b.*cd", u"(aa|a)+$", u"([ab]*c)+", u"^(a|b)*$", u"(a?)?b",
        u"(a|b|)c", u"[^b]*b?[^a]+", u"((a|b)(c|a))*a", u"a+b?a+", u"(a(b|c)?)+d", u"$|a", u"x?(^a|b)",
    };
    const char16_t* subjects[] = {
        u"", u"a", u"ab", u"abcd", u"aaaaaaaac", u"aaaaaaab", u"xxxxxxy", u"xxxxxxxz", u"abababab",
        u"abcbcbc", u"aaab", u"axbxcx", u"cdbbbcd", u"aaa", u"acbcabc", u"baab", u"caca", u"abacad", u"b",
        u"aaaaaaaaaaaaaaaaaab",
    };
    RegexSearchTuning always;
    always.memo = RegexSearchTuning::Memo::Always;
    RegexSearchTuning tiny;  // changes engine in the middle of the search
    tiny.memo = RegexSearchTuning::Memo::Always;
    tiny.stackBudget = 2;
    RegexSearchTuning noMemoRoom;  // the memo does not fit: breadth-first from the start
    noMemoRoom.memo = RegexSearchTuning::Memo::Always;
    noMemoRoom.memoBudgetBits = 1;
    int compared = 0;
    for (const char16_t* p : patterns) {
        CRegex re;
        ASSERT_TRUE(re.Compile(p)) << "pattern " << compared;
        for (const char16_t* s : subjects) {
            RegexSearchStats plainStats;
            Outcome plain = SearchWith(re, s, Plain(10000000), &plainStats);
            ASSERT_FALSE(plainStats.gaveUp);
            EXPECT_EQ(SearchWith(re, s, RegexSearchTuning()), plain);
            EXPECT_EQ(SearchWith(re, s, always), plain);
            EXPECT_EQ(SearchWith(re, s, Breadth()), plain);
            EXPECT_EQ(SearchWith(re, s, tiny), plain);
            RegexSearchStats stats;
            EXPECT_EQ(SearchWith(re, s, noMemoRoom, &stats), plain);
            ++compared;
        }
    }
    EXPECT_EQ(compared, 400);
}

// --- Memory --------------------------------------------------------------------------

TEST(RegexMemory, LongSubjectsContinueBreadthFirstWithinTheBudget) {
    // Against a megabyte, (a|b)*$ would keep a choice per character: the search goes
    // on breadth-first, whose memory depends only on the pattern.
    CRegex re;
    ASSERT_TRUE(re.Compile(u"(a|b)*$"));
    const std::u16string s = Repeat(u"ab", 1 << 19);
    RegexSearchStats stats;
    EXPECT_EQ(re.Search(s, RegexSearchTuning(), &stats), 0);
    EXPECT_EQ(re.MatchLength(), int32_t(s.size()));
    EXPECT_TRUE(stats.breadth);
    RegexSearchTuning backtrackOnly;
    backtrackOnly.engine = RegexSearchTuning::Engine::Backtrack;
    EXPECT_EQ(re.Search(s, backtrackOnly, &stats), -1);
    EXPECT_TRUE(stats.gaveUp);  // beyond its budget it stops rather than grow
}

TEST(RegexMemory, MemoLargerThanItsBudgetIsNotAllocated) {
    CRegex re;
    ASSERT_TRUE(re.Compile(u"(a|aa)*c"));
    const std::u16string s = Repeat(u"a", 5000) + u"bc";
    RegexSearchTuning small;
    small.memoBudgetBits = 1000;
    RegexSearchStats stats;
    EXPECT_EQ(re.Search(s, small, &stats), 5001);
    EXPECT_FALSE(stats.memo);
    EXPECT_TRUE(stats.breadth);
}

TEST(RegexMemory, AMemoOf2To32BitsIsRefusedOnEveryTarget) {
    // 4096 repetitions, one memo row each, over positions 0 to 1048575: exactly
    // 2^32 bits, which a 32-bit size type wraps to nothing.
    std::u16string pattern;
    for (int i = 0; i < 4096; ++i) pattern += u"x*";
    pattern += u"[y]";
    CRegex re;
    ASSERT_TRUE(re.Compile(pattern));
    RegexSearchTuning memoOnly;
    memoOnly.engine = RegexSearchTuning::Engine::Backtrack;
    memoOnly.memo = RegexSearchTuning::Memo::Always;
    RegexSearchStats stats;
    EXPECT_EQ(re.Search(std::u16string(1048575, u'x'), memoOnly, &stats), -1);
    EXPECT_FALSE(stats.memo);
    EXPECT_TRUE(stats.gaveUp);
}

TEST(RegexMemory, APatternWhoseProgramCannotBeAddressedFailsToCompile) {
    // On i686 the program of a pattern of some 54 million characters or more passes
    // what one array can hold: an ordinary failed compile, not an exception.
    if (sizeof(void*) > 4) GTEST_SKIP() << "64-bit targets hold any pattern below 2^29 characters";
    CRegex re;
    EXPECT_FALSE(re.Compile(std::u16string(60000000, u'a')));
    EXPECT_EQ(re.Error(), RegexError::OutOfMemory);
    EXPECT_FALSE(re.IsCompiled());
}

// Sizes that wrap in a 32-bit size type: i686 must refuse or index them as a 64-bit
// target does, so both instantiations are checked on every build.
template <class Size>
void CheckMemoArithmetic() {
    using regex_internal::MemoWord;
    using regex_internal::MemoWords;
    const uint64_t kAll = ~uint64_t(0);
    const bool wide = sizeof(Size) >= 8;
    const struct {
        uint32_t rows, length;
        uint64_t budget;
        uint64_t words;  // 0: refused
    } sizes[] = {
        {3, 100, 1u << 24, 5},                                // 303 bits
        {64, 0, 64, 2},                                       // exactly the budget
        {64, 0, 63, 0},
        {4096, 1048575, 1u << 24, 0},                         // 2^32 bits: 0 in 32-bit arithmetic
        {4096, 1048575, kAll, (uint64_t(1) << 26) + 1},
        {8192, 1u << 20, kAll, (uint64_t(8192) * ((1u << 20) + 1)) / 64 + 1},  // 2^33 bits and more
        {65536, 0x7FFFFFFE, kAll, wide ? uint64_t(65536) * 0x7FFFFFFF / 64 + 1 : 0},  // not addressable on i686
    };
    for (const auto& c : sizes) {
        SCOPED_TRACE(testing::Message() << c.rows << " rows, length " << c.length << ", budget " << c.budget);
        EXPECT_EQ(uint64_t(MemoWords<Size>(c.rows, c.length, c.budget)), c.words);
    }
    EXPECT_EQ(uint64_t(MemoWord<Size>(4096, 4095, 1048575)), (uint64_t(1) << 26) - 1);
    EXPECT_EQ(uint64_t(MemoWord<Size>(8192, 1, 1u << 20)), uint64_t(1) << 27);  // bit 2^33 + 1
}

TEST(RegexMemory, MemoSizesAndIndexesDoNotWrapIn32Bits) {
    CheckMemoArithmetic<uint32_t>();
    CheckMemoArithmetic<uint64_t>();
}

}  // namespace
