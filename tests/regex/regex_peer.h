// Test peers of CRegex: PCRE2 on the syntax both share, and its own engines against each
// other. Native builds only.
#pragma once

#include "rules/regex/regex.h"

#include <string>
#include <string_view>

// The pattern in PCRE2's syntax (to be compiled with DOTALL and DOLLAR_ENDONLY): every
// literal as \x{..}, bracket lists spelled out as the ranges this dialect means, groups
// non-capturing. Only for patterns that CRegex compiles.
std::u16string ToPcre2(std::u16string_view pattern);

// Every engine of CRegex on one subject, and PCRE2 (unless it hits its match limit); empty
// when all agree on the match, else a description of the disagreement (also when PCRE2
// refuses a pattern that CRegex compiles).
std::string CrossCheck(std::u16string_view pattern, std::u16string_view subject);

// Printable form of UTF-16 test data.
std::string Show(std::u16string_view text);
