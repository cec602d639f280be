// Regular expressions over UTF-16 text for the event rules.
//
// The dialect is small: literals, \c (always the literal c), ., [list], [^list],
// ^ and $ (subject ends only), groups, alternatives and greedy * + ?. There are no
// character classes, no back-references and no multi-line mode; matching is exact
// (callers fold case themselves). A search finds the leftmost match; at that start,
// alternatives are tried left to right and repetitions are greedy, as a
// backtracking matcher would.
//
// Searching never recurses and takes time bounded by program size x subject length,
// whatever the pattern and subject: failed (instruction, position) states are
// remembered, and when a search would need more memory than a fixed budget it
// continues with a breadth-first simulation that needs memory only in proportion
// to the pattern. Both give the same match.
//
// Pure component: standard library only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Why a compile failed.
enum class RegexError : uint8_t {
    None = 0,
    NoPattern,          // no pattern given
    TrailingBackslash,  // the pattern ends with a lone backslash
    MissingBracket,     // [ without its closing ]
    InvalidRange,       // a range in [] whose first character is greater than its last
    TooManyGroups,      // a tenth opening parenthesis
    MissingParen,       // ( without its closing )
    UnmatchedParen,     // ) without its (
    NothingToRepeat,    // * + or ? with nothing before it
    NestedRepeat,       // a repetition sign right after another one
    EmptyRepeat,        // * or + applied to something that can match the empty string
    OutOfMemory,
};

// Knobs of a search. The defaults are what the product uses; tests and benchmarks
// force one engine or the other, or turn the failure memo off to compare with
// plain backtracking.
struct RegexSearchTuning {
    enum class Engine : uint8_t {
        Automatic,  // backtracking, continued breadth-first beyond the memory budget
        Backtrack,  // backtracking only; fails with gaveUp when a budget is exceeded
        Breadth,    // breadth-first simulation only
    };
    enum class Memo : uint8_t {
        Lazy,    // remember failed states once a search has done more than a few steps per character
        Always,  // from the first step
        Never,   // plain backtracking: exponential time on some patterns, so set stepLimit
    };
    Engine engine = Engine::Automatic;
    Memo memo = Memo::Lazy;
    uint64_t stepLimit = 0;                 // backtracking gives up after this many steps (0: no limit)
    std::size_t memoBudgetBits = 1u << 24;  // largest failure memo (2 MiB)
    std::size_t stackBudget = 1u << 17;     // largest backtracking stack, in entries (12 bytes each)
};

// What a search did, for tests and benchmarks.
struct RegexSearchStats {
    bool breadth = false;  // the breadth-first engine found the result
    bool memo = false;     // the failure memo was in use
    bool gaveUp = false;   // a limit of the tuning stopped the search: the result says nothing
    uint64_t steps = 0;    // backtracking steps, or breadth-first thread steps
};

class CRegex {
public:
    CRegex();
    ~CRegex();
    CRegex(CRegex&& other) noexcept;
    CRegex& operator=(CRegex&& other) noexcept;
    CRegex(const CRegex&) = delete;
    CRegex& operator=(const CRegex&) = delete;

    // True when the pattern compiled. A failed compile leaves nothing usable: IsCompiled
    // is false afterwards and Error / ErrorOffset say what went wrong where. The
    // zero-terminated form fails for a null pointer; the other forms take the given
    // length, and a code unit 0 in them is an ordinary character.
    bool Compile(const char16_t* pattern);
    bool Compile(const char16_t* pattern, std::size_t length);
    bool Compile(std::u16string_view pattern);
    bool IsCompiled() const { return compiled_; }
    RegexError Error() const { return error_; }
    std::size_t ErrorOffset() const { return errorOffset_; }  // in code units
    static const char* ErrorText(RegexError error);

    // Index (in code units) where the leftmost match starts, or -1: no match, nothing
    // compiled, a null subject, or a subject longer than INT32_MAX - 1 code units.
    int32_t Search(const char16_t* subject);
    int32_t Search(const char16_t* subject, std::size_t length);
    int32_t Search(std::u16string_view subject);
    int32_t Search(std::u16string_view subject, const RegexSearchTuning& tuning,
                   RegexSearchStats* stats = nullptr);

    // The last search's match: start (-1 when there was none), length (0 when none)
    // and a copy of its text.
    int32_t MatchStart() const { return matchStart_; }
    int32_t MatchLength() const { return matchLength_; }
    const std::u16string& MatchText() const { return matchText_; }

    struct Inst;  // one instruction of the compiled program

private:
    friend class RegexCompiler;
    friend class RegexSearcher;

    bool CompileText(const char16_t* pattern, std::size_t length);
    void Reset();

    std::vector<Inst> program_;
    std::u16string literals_;      // characters of literal strings
    std::vector<uint32_t> ranges_;  // bracket lists: (first << 16) | last, sorted, disjoint
    uint32_t start_ = 0;           // first instruction
    uint32_t memoRows_ = 0;        // instructions whose failed positions are remembered
    uint32_t states_ = 0;          // breadth-first states (one per literal character)
    bool compiled_ = false;
    bool anchored_ = false;        // every match starts at 0
    bool pureLiteral_ = false;     // the program is one literal string
    bool hasFirstChar_ = false;    // every match starts with firstChar_
    char16_t firstChar_ = 0;
    bool hasFirstSet_ = false;     // every match starts with a character whose low byte is in firstSet_
    uint64_t firstSet_[4] = {};
    uint32_t leadingRepeat_ = 0xFFFFFFFFu;  // the Star of a pattern that starts with x* or x+
    uint32_t requiredOffset_ = 0;  // a literal every match contains (in literals_), if length > 0
    uint32_t requiredLength_ = 0;
    RegexError error_ = RegexError::None;
    std::size_t errorOffset_ = 0;

    int32_t matchStart_ = -1;
    int32_t matchLength_ = 0;
    std::u16string matchText_;
};
