#include <windows.h>
#include <sddl.h>

#include <cstring>
#include <ctime>
#include <deque>
#include <map>
#include <mutex>
#include <utility>

#include "eventlog/testing.h"
#include "tests/win/eventlog/test_logs.h"

namespace brisel::test {

namespace {

void PutBytes(std::vector<BYTE>* out, const void* p, size_t n) {
  out->resize(out->size() + n);
  if (n) std::memcpy(out->data() + out->size() - n, p, n);
}

void PutWide(std::vector<BYTE>* out, const std::wstring& s) { PutBytes(out, s.c_str(), (s.size() + 1) * 2); }

BOOL Error(DWORD error) {
  ::SetLastError(error);
  return FALSE;
}

struct Log {
  DWORD oldest = 1, read_error = 0;  // oldest: the number of the first record
  std::deque<std::vector<BYTE>> records;
  std::vector<HANDLE> change_events;
};
std::mutex lock;
std::map<std::wstring, Log> logs;

Log& LogOf(HANDLE h) { return logs[*static_cast<std::wstring*>(h)]; }

HANDLE WINAPI Open(LPCWSTR, LPCWSTR name) { return new std::wstring(name); }  // a handle holds its log's name

BOOL WINAPI Close(HANDLE h) {
  delete static_cast<std::wstring*>(h);
  return TRUE;
}

BOOL WINAPI GetOldest(HANDLE h, PDWORD oldest) {
  std::lock_guard hold(lock);
  *oldest = LogOf(h).records.empty() ? 0 : LogOf(h).oldest;
  return TRUE;
}

BOOL WINAPI Read(HANDLE h, DWORD flags, DWORD record, LPVOID buffer, DWORD size, DWORD* read, DWORD* needed) {
  ++g_sim_reads;
  if (DWORD delay = g_sim_read_delay_ms) ::Sleep(delay);
  std::lock_guard hold(lock);
  Log& l = LogOf(h);
  *read = *needed = 0;
  if (flags != (EVENTLOG_SEEK_READ | EVENTLOG_FORWARDS_READ)) return Error(ERROR_INVALID_PARAMETER);
  if (DWORD error = std::exchange(l.read_error, 0)) return Error(error);
  if (l.records.empty() || record >= l.oldest + l.records.size()) return Error(ERROR_HANDLE_EOF);
  if (record < l.oldest) return Error(ERROR_INVALID_PARAMETER);
  // Whole records from the one asked for, as many as fit.
  for (size_t i = record - l.oldest; i < l.records.size() && *read + l.records[i].size() <= size; ++i) {
    std::memcpy(static_cast<BYTE*>(buffer) + *read, l.records[i].data(), l.records[i].size());
    *read += static_cast<DWORD>(l.records[i].size());
  }
  if (*read) return TRUE;
  *needed = static_cast<DWORD>(l.records[record - l.oldest].size());
  return Error(ERROR_INSUFFICIENT_BUFFER);
}

BOOL WINAPI NotifyChange(HANDLE h, HANDLE event) {
  std::lock_guard hold(lock);
  LogOf(h).change_events.push_back(event);
  return TRUE;
}

}  // namespace

std::atomic<long> g_sim_reads{0};
std::atomic<DWORD> g_sim_read_delay_ms{0};

std::vector<BYTE> SidBytes(const wchar_t* text) {
  PSID sid = nullptr;
  if (!::ConvertStringSidToSidW(text, &sid)) return {};
  UniqueLocalMemory owner(sid);
  return std::vector<BYTE>(static_cast<const BYTE*>(sid), static_cast<const BYTE*>(sid) + ::GetLengthSid(sid));
}

// Fixed part, source and computer names, SID (DWORD aligned), strings, no data, padding, the length again.
std::vector<BYTE> LayoutRecord(const SimEntry& entry) {
  EVENTLOGRECORD h = {};
  std::vector<BYTE> out(sizeof(EVENTLOGRECORD), 0);
  PutWide(&out, entry.source);
  PutWide(&out, entry.computer);
  out.resize((out.size() + 3) & ~size_t(3));
  h.UserSidOffset = entry.sid.empty() ? 0 : static_cast<DWORD>(out.size());
  h.UserSidLength = static_cast<DWORD>(entry.sid.size());
  PutBytes(&out, entry.sid.data(), entry.sid.size());
  h.StringOffset = static_cast<DWORD>(out.size());
  for (const auto& s : entry.strings) PutWide(&out, s);
  h.DataOffset = static_cast<DWORD>(out.size());
  out.resize((out.size() + 3) & ~size_t(3));
  h.Length = static_cast<DWORD>(out.size() + sizeof(DWORD));
  h.Reserved = 0x654c664c;  // "LfLe"
  h.TimeWritten = h.TimeGenerated = entry.time_written ? entry.time_written : static_cast<DWORD>(std::time(nullptr));
  h.EventID = entry.event_id;
  h.EventType = entry.type;
  h.NumStrings = static_cast<WORD>(entry.strings.size());
  h.EventCategory = entry.category;
  std::memcpy(out.data(), &h, sizeof h);
  PutBytes(&out, &h.Length, sizeof h.Length);
  return out;
}

// Named after this process and a count: programs running side by side never share a log.
TestLog::TestLog(std::wstring name) {
  static const EventLogApi api{&Open, &Close, &GetOldest, &Read, &NotifyChange};
  brisel::testing::UseEventLogApi(&api);
  static int count = 0;
  name_ = name + L"_" + std::to_wstring(::GetCurrentProcessId()) + L"_" + std::to_wstring(++count);
  ::SetEnvironmentVariableW(L"BRISEL_EVMSG_DIR", EVMSG_DIR);  // where the message DLLs are built
  const std::wstring dir = L"%BRISEL_EVMSG_DIR%\\", a = dir + L"evmsg_a.dll";
  const std::wstring values[][3] = {
      {L"SrcA", L"EventMessageFile", a + L";" + dir + L"evmsg_b.dll"},
      {L"SrcA", L"CategoryMessageFile", a},
      {L"SrcA", L"ParameterMessageFile", dir + L"absent.dll;" + dir + L"evparam.dll"},
      {L"MissingFirst", L"EventMessageFile", dir + L"absent.dll;" + dir + L"evmsg_b.dll"}};
  for (const auto& [source, value, text] : values)
    ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, (Key() + L"\\" + source).c_str(), value.c_str(), REG_EXPAND_SZ,
                      text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

void TestLog::AppendRaw(std::vector<BYTE> bytes) {
  std::lock_guard hold(lock);
  Log& l = logs[name_];
  DWORD number = l.oldest + static_cast<DWORD>(l.records.size());
  if (bytes.size() >= 12) std::memcpy(&bytes[8], &number, sizeof number);  // RecordNumber
  l.records.push_back(std::move(bytes));
  for (HANDLE e : l.change_events) ::SetEvent(e);
}

void TestLog::DropOldest(size_t count) {
  std::lock_guard hold(lock);
  for (Log& l = logs[name_]; count-- && !l.records.empty(); ++l.oldest) l.records.pop_front();
}

void TestLog::Clear() {
  std::lock_guard hold(lock);
  logs[name_] = {.oldest = 1, .read_error = 0, .records = {}, .change_events = logs[name_].change_events};
}

void TestLog::Fail(DWORD read_error) {
  std::lock_guard hold(lock);
  logs[name_].read_error = read_error;
}

}  // namespace brisel::test
