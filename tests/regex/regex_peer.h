// Test peers of CRegex: PCRE2 on the syntax both share, and the cross-checks
// between CRegex's own engines. Native builds only.
#pragma once

#include "rules/regex/regex.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The pattern in PCRE2's syntax (to be compiled with DOTALL and DOLLAR_ENDONLY):
// every literal as \x{..}, bracket lists spelled out as the ranges this dialect
// means, groups non-capturing. Only for patterns that CRegex compiles.
std::u16string ToPcre2(std::u16string_view pattern);

struct PeerMatch {
    bool decided = false;  // false: the peer refused the pattern or hit its match limit
    int32_t start = -1;
    int32_t length = 0;
};

// PCRE2 (16-bit, interpreter) on a translated pattern.
PeerMatch Pcre2Search(std::u16string_view translated, std::u16string_view subject);

// Every engine of CRegex on one subject, and PCRE2; returns an empty string when all
// that decided agree, otherwise a description of the disagreement.
std::string CrossCheck(std::u16string_view pattern, std::u16string_view subject, bool withPcre2 = true);

// Printable form of UTF-16 test data.
std::string Show(std::u16string_view text);
