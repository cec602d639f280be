// Test peers of CRegex (native builds only): PCRE2 on the syntax both share, and its own
// engines against each other.
#pragma once

#include "rules/regex/regex.h"

#include <string>
#include <string_view>

// The pattern in PCRE2's syntax (to be compiled with DOTALL and DOLLAR_ENDONLY): every
// literal as \x{..}, bracket lists spelled out as the ranges this dialect means, groups
// non-capturing. Only for patterns that CRegex compiles.
std::u16string ToPcre2(std::u16string_view pattern);

// Empty when every engine of CRegex and PCRE2 (unless it hits its match limit) agree on the
// match, else what disagrees (also PCRE2 refusing a pattern that CRegex compiles).
std::string CrossCheck(std::u16string_view pattern, std::u16string_view subject);
std::string Show(std::u16string_view text);
