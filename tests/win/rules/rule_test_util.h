// Scratch rule files and records for the rule tests.
#pragma once

#include <windows.h>

#include <clocale>
#include <cstdio>
#include <string>
#include <string_view>

#include "eventlog/event_record.h"
#include "module/com.h"

namespace brisel::test {

// The module runs with the ANSI code page's locale; so do these tests.
inline const bool kAnsiLocale = [] {
  std::setlocale(LC_ALL, ".ACP");
  return true;
}();

// A file with the given bytes, removed at the end of the test.
class RuleFile {
 public:
  explicit RuleFile(std::string_view bytes, const wchar_t* ext = L".txt") {
    wchar_t dir[MAX_PATH];
    ::GetTempPathW(MAX_PATH, dir);
    static LONG counter = 0;
    path_ = std::wstring(dir) + L"rules_" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
            std::to_wstring(::InterlockedIncrement(&counter)) + ext;
    UniqueStdFile f(_wfopen(path_.c_str(), L"wb"));
    if (f) std::fwrite(bytes.data(), 1, bytes.size(), f.get());
  }
  ~RuleFile() { ::DeleteFileW(path_.c_str()); }
  RuleFile(const RuleFile&) = delete;
  RuleFile& operator=(const RuleFile&) = delete;
  const std::wstring& Path() const { return path_; }

 private:
  std::wstring path_;
};

// UTF-16LE bytes of a text, optionally behind a byte-order mark.
inline std::string Utf16Bytes(std::wstring_view text, bool big_endian, bool mark) {
  std::string out;
  if (mark) out += big_endian ? "\xFE\xFF" : "\xFF\xFE";
  for (wchar_t c : text) {
    char lo = static_cast<char>(c & 0xFF);
    char hi = static_cast<char>((c >> 8) & 0xFF);
    out += big_endian ? hi : lo;
    out += big_endian ? lo : hi;
  }
  return out;
}

struct RecordFields {
  const wchar_t* log = L"";
  const wchar_t* type = L"";
  const wchar_t* source = L"";
  const wchar_t* category = L"";
  const wchar_t* event_id = L"";
  const wchar_t* user = L"";
  const wchar_t* computer = L"";
  const wchar_t* message = L"";
};

inline EventRecord MakeRecord(const RecordFields& f) {
  EventRecord r;
  r.Logfile = f.log;
  r.Type = f.type;
  r.SourceName = f.source;
  r.Category = f.category;
  r.EventCode = f.event_id;
  r.UserName = f.user;
  r.ComputerName = f.computer;
  r.Message = f.message;
  return r;
}

}  // namespace brisel::test
