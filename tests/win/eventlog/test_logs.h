// An event-log service in the test process, behind the reader's function
// table, and logs made for a test with sources whose message modules are the
// DLLs built beside the tests. Records are laid out and reads answered as the
// platform does: whole records only, 38 past the newest record, 87 before the
// oldest, 122 with the needed size.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "eventlog/log_reader.h"

namespace brisel::test {

struct SimEntry {
  DWORD time_written = 0;  // seconds since 1970 (UTC); 0: now
  DWORD event_id = 0;
  WORD type = EVENTLOG_INFORMATION_TYPE;
  WORD category = 0;
  std::wstring source = L"SimSource";
  std::wstring computer{};  // empty: this machine's name
  std::vector<std::wstring> strings{};
  std::vector<BYTE> sid{};  // empty: no user
};

std::wstring MessageDir();  // of the message DLLs built beside the tests
std::vector<BYTE> LayoutRecord(const SimEntry& entry);
std::vector<BYTE> SidBytes(const wchar_t* text);  // of "S-1-5-18"

// The one service of the process, behind the reader's table from the first Get.
class SimEventLogService {
 public:
  static SimEventLogService& Get();
  DWORD Append(const std::wstring& log, const SimEntry& entry) { return AppendRaw(log, LayoutRecord(entry)); }
  // Bytes as they are (a damaged record; its number goes in when they hold
  // the field), to a log made if new; signals its change events.
  DWORD AppendRaw(const std::wstring& log, std::vector<BYTE> bytes);
  void DropOldest(const std::wstring& log, size_t count);  // as a log that wraps
  void Clear(const std::wstring& log);                     // numbering starts at 1 again
  // The next read fails with read_error, the oldest-record queries with oldest_error (0: none).
  void Fail(const std::wstring& log, DWORD read_error, DWORD oldest_error = 0);
  void Reset();  // forgets every log and its change events; open handles read empty logs
  std::atomic<long> reads{0};  // reads are counted, and each takes this long (a slow disk)
  std::atomic<DWORD> read_delay_ms{0};

 private:
  SimEventLogService();
};

// A log named after this process and a count, so that programs running side
// by side never share one; it starts a fresh service.
class TestLog {
 public:
  explicit TestLog(std::wstring name = L"BriselTest");
  ~TestLog() { ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, Key().c_str()); }
  const std::wstring& Name() const { return name_; }
  DWORD Append(const SimEntry& entry) { return SimEventLogService::Get().Append(name_, entry); }

 private:
  std::wstring Key() const { return std::wstring(kEventLogKey) + L"\\" + name_; }
  std::wstring name_;
};

}  // namespace brisel::test
