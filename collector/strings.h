// Wide-string helpers shared by every subsystem.
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>

namespace brisel {

// printf-style formatting with the C runtime's wide meaning (%s is a wide
// string). Assigns the result to *target; on failure (no memory, or a text
// above the module's 64 Mi-character limit) leaves *target unchanged and
// returns false.
bool FormatW(std::wstring* target, const wchar_t* format, ...);

// Removes carriage returns, line feeds, blanks and tabs from both ends.
std::wstring Trim(std::wstring_view text);

}  // namespace brisel
