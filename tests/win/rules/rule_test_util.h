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
inline const bool kAnsiLocale = std::setlocale(LC_ALL, ".ACP") != nullptr;

// A file with the given bytes, removed at the end of the test.
class RuleFile {
 public:
  explicit RuleFile(std::string_view bytes, const wchar_t* ext = L".txt") {
    wchar_t dir[MAX_PATH];
    ::GetTempPathW(MAX_PATH, dir);
    static LONG counter = 0;
    path_ = dir + (L"rules_" + std::to_wstring(::GetCurrentProcessId())) + L"_" +
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

// A record's fields in the order of NtEventFilter's Filter arguments; unset fields are empty.
struct RecordFields {
  const wchar_t *log = L"", *type = L"", *source = L"", *category = L"", *event_id = L"", *user = L"",
                *computer = L"", *message = L"";
};

inline EventRecord MakeRecord(const RecordFields& f) {
  EventRecord r;
  r.Logfile = f.log, r.Type = f.type, r.SourceName = f.source, r.Category = f.category;
  r.EventCode = f.event_id, r.UserName = f.user, r.ComputerName = f.computer, r.Message = f.message;
  return r;
}

}  // namespace brisel::test
