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
