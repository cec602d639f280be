// Event logs of a simulated service behind the reader's function table: records laid out and reads
// answered as the platform does (whole records only, 38 past the newest, 87 before the oldest, 122 with the size).
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

std::vector<BYTE> LayoutRecord(const SimEntry& entry);
std::vector<BYTE> SidBytes(const wchar_t* text);  // of "S-1-5-18"
// The service counts its reads, and each takes this long (a slow disk).
extern std::atomic<long> g_sim_reads;
extern std::atomic<DWORD> g_sim_read_delay_ms;

// A new log, its sources' message modules the DLLs built beside the tests.
class TestLog {
 public:
  explicit TestLog(std::wstring name = L"BriselTest");
  ~TestLog() { ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, Key().c_str()); }
  const std::wstring& Name() const { return name_; }
  void Append(const SimEntry& entry) { AppendRaw(LayoutRecord(entry)); }
  void AppendRaw(std::vector<BYTE> bytes);  // as they are (a damaged record); signals the change events
  void DropOldest(size_t count);            // as a log that wraps
  void Clear();                             // numbering starts at 1 again
  void Fail(DWORD read_error);              // the next read fails with it

 private:
  std::wstring Key() const { return std::wstring(kEventLogKey) + L"\\" + name_; }
  std::wstring name_;
};

}  // namespace brisel::test
