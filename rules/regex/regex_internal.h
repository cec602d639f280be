// The compiled program of CRegex, shared by the compiler and the two matchers.
#pragma once

#include "rules/regex/regex.h"

#include <cstdint>

namespace regex_internal {

enum class Op : uint8_t {
    Match,   // the whole expression has matched
    Bol,     // at the start of the subject
    Eol,     // at the end of the subject
    Any,     // any one character
    Char,    // the character arg
    Str,     // the literal string literals_[arg, arg + alt)
    Set,     // one character in the bracket list ranges_[arg, arg + alt)
    NotSet,  // one character not in that list
    Split,   // next, and when that fails, alt
    Star,    // item (Any, Char, Set or NotSet, operands as for that op) repeated greedily, then next
    Jmp,     // only while compiling: continue at next
};

inline constexpr uint32_t kNone = 0xFFFFFFFFu;

// The failure memo holds one bit per (row, position), position-major, for positions
// 0 to length. Size is the size type of the target: on i686 it has 32 bits, which
// rows x positions can pass, so the arithmetic is done in 64 bits and narrowed only
// once the result is known to fit.
// Words to allocate, or 0 when the memo would pass budgetBits or the address space.
template <class Size>
Size MemoWords(uint32_t rows, uint32_t length, uint64_t budgetBits) {
    const uint64_t bits = uint64_t(rows) * (uint64_t(length) + 1);
    if (bits > budgetBits) return 0;
    const uint64_t words = bits / 64 + 1;
    if (words > uint64_t(Size(~Size(0))) / sizeof(uint64_t)) return 0;
    return static_cast<Size>(words);
}

// Index of the word that holds the bit of (row, pos), and that bit's place in it.
// Within a memo that MemoWords admitted, the word index fits in Size.
template <class Size>
Size MemoWord(uint32_t rows, uint32_t row, uint32_t pos) {
    return static_cast<Size>((uint64_t(pos) * rows + row) >> 6);
}
inline uint32_t MemoBit(uint32_t rows, uint32_t row, uint32_t pos) {
    return static_cast<uint32_t>((uint64_t(pos) * rows + row) & 63);
}

}  // namespace regex_internal

struct CRegex::Inst {
    regex_internal::Op op;
    regex_internal::Op item;  // Star: the repeated single-character instruction
    uint32_t next;
    uint32_t alt;
    uint32_t arg;
    uint32_t memo;  // row in the failure memo, or kNone
};

namespace regex_internal {

// Is c in the sorted, disjoint ranges?
inline bool InRanges(const uint32_t* ranges, uint32_t count, char16_t c) {
    if (count <= 8) {
        for (uint32_t i = 0; i < count; ++i) {
            if (c < (ranges[i] >> 16)) return false;
            if (c <= (ranges[i] & 0xFFFF)) return true;
        }
        return false;
    }
    uint32_t lo = 0, hi = count;
    while (lo < hi) {
        uint32_t mid = (lo + hi) / 2;
        if ((ranges[mid] & 0xFFFF) < c) lo = mid + 1;
        else hi = mid;
    }
    return lo < count && (ranges[lo] >> 16) <= c;
}

}  // namespace regex_internal
