#include "collector/strings.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <vector>

namespace brisel {

namespace {
// 65536 attempts of 2048 bytes: the largest text the module composes.
constexpr size_t kMaxFormattedChars = 65536u * 2048u / sizeof(wchar_t) - 1;
}  // namespace

bool FormatW(std::wstring* target, const wchar_t* format, ...) {
  if (!target || !format) return false;
  va_list args;
  va_start(args, format);
  va_list count_args;
  va_copy(count_args, args);
  int needed = _vscwprintf(format, count_args);
  va_end(count_args);
  bool ok = false;
  if (needed >= 0 && static_cast<size_t>(needed) <= kMaxFormattedChars) {
    try {
      std::wstring text(static_cast<size_t>(needed) + 1, L'\0');
      int written = _vsnwprintf(text.data(), text.size(), format, args);
      if (written == needed) {
        text.resize(static_cast<size_t>(written));
        *target = std::move(text);
        ok = true;
      }
    } catch (...) {
      ok = false;
    }
  }
  va_end(args);
  return ok;
}

std::wstring Trim(std::wstring_view text) {
  auto blank = [](wchar_t c) { return c == L'\r' || c == L'\n' || c == L' ' || c == L'\t'; };
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && blank(text[begin])) ++begin;
  while (end > begin && blank(text[end - 1])) --end;
  return std::wstring(text.substr(begin, end - begin));
}

}  // namespace brisel
