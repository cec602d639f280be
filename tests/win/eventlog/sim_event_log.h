// An event-log service in the test process, behind the reader's function
// table. Records are laid out as the platform lays them out, and reads
// answer as the platform answers: whole records only, 38 past the newest
// record, 87 before the oldest, 122 with the needed size.
#pragma once

#include <windows.h>

#include <atomic>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "eventlog/eventlog_api.h"

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
  std::vector<BYTE> data{};
};

// The directory of the message DLLs built beside the tests, as a test program sees it.
std::wstring MessageDir();
// A source of a log under the event-log service key (both made if new),
// with the values that are not null (REG_EXPAND_SZ).
bool AddLogSource(const std::wstring& log, const std::wstring& source, const wchar_t* event_files,
                  const wchar_t* category_file, const wchar_t* parameter_files);
// The log's key and its sources go.
void RemoveLogKey(const std::wstring& log);

// The bytes of one record as the platform returns it.
std::vector<BYTE> LayoutRecord(DWORD number, const SimEntry& entry);
// The binary form of a SID text ("S-1-5-18").
std::vector<BYTE> SidBytes(const wchar_t* text);
std::wstring ThisComputer();

class SimEventLogService {
 public:
  // The one service of the process, installed behind the table at first use.
  static SimEventLogService& Get();

  // Appends to a log (made if new); signals its change events. Gives the
  // record number.
  DWORD Append(const std::wstring& log, const SimEntry& entry);
  // Appends bytes as they are (a damaged record); the record number field is
  // set when the bytes hold one. Gives the number.
  DWORD AppendRaw(const std::wstring& log, std::vector<BYTE> bytes);
  // Drops the oldest records, as a log that wraps.
  void DropOldest(const std::wstring& log, size_t count);
  // Empties the log; numbering starts at 1 again.
  void Clear(const std::wstring& log);
  // The log is gone: opening fails, reads of open handles fail with 1503.
  void Remove(const std::wstring& log);
  // GetOldestEventLogRecord fails with this code (0: answers).
  void FailOldest(const std::wstring& log, DWORD error);
  // The next reads of the log fail with this code.
  void FailReads(const std::wstring& log, DWORD error, int count);
  void FailNotify(bool fail) { fail_notify_ = fail; }
  // Forget every log (handles stay valid and read empty logs).
  void Reset();

  DWORD Oldest(const std::wstring& log);
  size_t OpenHandles();
  std::atomic<long> reads{0};
  // Every read takes this long, as on a slow or remote log.
  std::atomic<DWORD> read_delay_ms{0};

 private:
  struct Record {
    DWORD number;
    std::vector<BYTE> bytes;
  };
  struct Log {
    std::deque<Record> records;
    DWORD next_number = 1;
    bool removed = false;
    DWORD fail_error = 0;
    int fail_count = 0;
    DWORD oldest_error = 0;
  };
  struct Handle {
    std::wstring log;
    std::set<HANDLE> events;
  };

  SimEventLogService();
  Log& LogNamed(const std::wstring& name);
  Handle* Find(HANDLE h);
  void Signal(const std::wstring& log);

  static HANDLE WINAPI Open(LPCWSTR server, LPCWSTR name);
  static BOOL WINAPI Close(HANDLE h);
  static BOOL WINAPI GetOldest(HANDLE h, PDWORD oldest);
  static BOOL WINAPI Read(HANDLE h, DWORD flags, DWORD record, LPVOID buffer, DWORD size, DWORD* read, DWORD* needed);
  static BOOL WINAPI NotifyChange(HANDLE h, HANDLE event);

  std::mutex lock_;
  std::map<std::wstring, Log> logs_;
  std::map<HANDLE, std::unique_ptr<Handle>> handles_;
  std::atomic<bool> fail_notify_{false};
  EventLogApi api_;
};

}  // namespace brisel::test
