// An event-log service in the test process, behind the reader's function
// table: records laid out and reads answered as the platform does (whole
// records only, 38 past the newest, 87 before the oldest, 122 with the size).
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
  std::wstring computer{};  // empty: accounts are looked up on this machine
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
  void Append(const std::wstring& log, const SimEntry& entry) { AppendRaw(log, LayoutRecord(entry)); }
  // Bytes as they are (a damaged record); signals the log's change events.
  void AppendRaw(const std::wstring& log, std::vector<BYTE> bytes);
  void DropOldest(const std::wstring& log, size_t count);  // as a log that wraps
  void Clear(const std::wstring& log);                     // numbering starts at 1 again
  void Fail(const std::wstring& log, DWORD read_error);      // the next read fails with it
  std::atomic<long> reads{0};  // reads are counted, and each takes this long (a slow disk)
  std::atomic<DWORD> read_delay_ms{0};

 private:
  SimEventLogService();
};

// A new log whose sources' message modules are the DLLs built beside the tests.
class TestLog {
 public:
  explicit TestLog(std::wstring name = L"BriselTest");
  ~TestLog() { ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, Key().c_str()); }
  const std::wstring& Name() const { return name_; }
  void Append(const SimEntry& entry) { SimEventLogService::Get().Append(name_, entry); }

 private:
  std::wstring Key() const { return std::wstring(kEventLogKey) + L"\\" + name_; }
  std::wstring name_;
};

}  // namespace brisel::test
