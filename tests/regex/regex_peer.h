// Test peer of CRegex (native builds only): PCRE2 on the syntax both share, and its own engines.
#pragma once

#include "rules/regex/regex.h"

#include <string>
#include <string_view>

// Empty when all engines agree on the match, else what disagrees (also PCRE2 refusing a pattern CRegex compiles).
std::string CrossCheck(std::u16string_view pattern, std::u16string_view subject);
