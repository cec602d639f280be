#include "tests/win/eventlog/sim_event_log.h"

#include <windows.h>
#include <sddl.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <ctime>
#include <deque>
#include <map>
#include <mutex>
#include <utility>

#include "eventlog/eventlog_api.h"
#include "eventlog/message_text.h"
#include "eventlog/testing.h"
#include "module/com.h"

namespace brisel::test {


namespace {

void PutBytes(std::vector<BYTE>* out, const void* p, size_t n) {
  out->insert(out->end(), static_cast<const BYTE*>(p), static_cast<const BYTE*>(p) + n);
}

void PutWide(std::vector<BYTE>* out, const std::wstring& s) { PutBytes(out, s.c_str(), (s.size() + 1) * sizeof(wchar_t)); }

bool Failed(DWORD error) {
  if (error) ::SetLastError(error);
  return error != 0;
}

struct Log {
  std::deque<std::pair<DWORD, std::vector<BYTE>>> records;  // number, bytes
  DWORD next_number = 1;
  bool removed = false;
  DWORD read_error = 0;
  DWORD oldest_error = 0;
};
struct Handle {
  std::wstring log;
  std::vector<HANDLE> events;
};
std::mutex lock;
std::map<std::wstring, Log> logs;
std::map<HANDLE, Handle> handles;
uintptr_t last_handle = 0;

Log* LogOf(HANDLE h) {  // null with 6 as the last error
  auto it = handles.find(h);
  if (it != handles.end()) return &logs[it->second.log];
  ::SetLastError(ERROR_INVALID_HANDLE);
  return nullptr;
}

HANDLE WINAPI Open(LPCWSTR server, LPCWSTR name) {
  std::lock_guard hold(lock);
  if (Failed(server || !name ? ERROR_INVALID_PARAMETER : logs[name].removed ? ERROR_FILE_NOT_FOUND : 0)) return nullptr;
  HANDLE h = reinterpret_cast<HANDLE>(++last_handle * 4);
  handles[h].log = name;
  return h;
}

BOOL WINAPI Close(HANDLE h) {
  std::lock_guard hold(lock);
  return !Failed(handles.erase(h) ? 0 : ERROR_INVALID_HANDLE);
}

BOOL WINAPI GetOldest(HANDLE h, PDWORD oldest) {
  std::lock_guard hold(lock);
  Log* l = LogOf(h);
  if (!l || Failed(l->oldest_error)) return FALSE;
  *oldest = l->records.empty() ? 0 : l->records.front().first;
  return TRUE;
}

BOOL WINAPI Read(HANDLE h, DWORD flags, DWORD record, LPVOID buffer, DWORD size, DWORD* read, DWORD* needed) {
  std::lock_guard hold(lock);
  Log* l = LogOf(h);
  if (!l || Failed(!buffer || !read || !needed || flags != (EVENTLOG_SEEK_READ | EVENTLOG_FORWARDS_READ)
                       ? ERROR_INVALID_PARAMETER
                       : 0))
    return FALSE;
  *read = *needed = 0;
  if (Failed(l->removed ? ERROR_EVENTLOG_FILE_CHANGED : std::exchange(l->read_error, 0))) return FALSE;
  if (Failed(l->records.empty() || record > l->records.back().first ? ERROR_HANDLE_EOF
             : record < l->records.front().first                    ? ERROR_INVALID_PARAMETER
                                                                    : 0))
    return FALSE;
  // Whole records from the one asked for, as many as fit.
  const size_t first = record - l->records.front().first;
  for (size_t i = first; i < l->records.size() && *read + l->records[i].second.size() <= size; ++i) {
    std::memcpy(static_cast<BYTE*>(buffer) + *read, l->records[i].second.data(), l->records[i].second.size());
    *read += static_cast<DWORD>(l->records[i].second.size());
  }
  if (*read == 0) *needed = static_cast<DWORD>(l->records[first].second.size());
  return !Failed(*read == 0 ? ERROR_INSUFFICIENT_BUFFER : 0);
}

BOOL WINAPI NotifyChange(HANDLE h, HANDLE event) {
  if (Failed(SimEventLogService::Get().fail_notify ? ERROR_ACCESS_DENIED : 0)) return FALSE;
  std::lock_guard hold(lock);
  Log* l = LogOf(h);
  if (l) handles[h].events.push_back(event);
  return l != nullptr;
}

}  // namespace

std::wstring MessageDir() {
  std::wstring dir = EVMSG_DIR;
  for (auto& c : dir)
    if (c == L'/') c = L'\\';
  return dir;
}

bool AddLogSource(const std::wstring& log, const std::wstring& source, const wchar_t* event_files,
                  const wchar_t* category_file, const wchar_t* parameter_files) {
  UniqueRegKey key;
  if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(kEventLogKey) + L"\\" + log + L"\\" + source).c_str(), 0,
                        nullptr, 0, KEY_READ | KEY_WRITE, nullptr, key.Put(), nullptr) != ERROR_SUCCESS)
    return false;
  const std::pair<const wchar_t*, const wchar_t*> values[] = {
      {L"EventMessageFile", event_files}, {L"CategoryMessageFile", category_file}, {L"ParameterMessageFile", parameter_files}};
  for (const auto& [name, value] : values)
    if (value && ::RegSetValueExW(key.Get(), name, 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(value),
                                  static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t))) != ERROR_SUCCESS)
      return false;
  return true;
}

void RemoveLogKey(const std::wstring& log) {
  const std::wstring path = std::wstring(kEventLogKey) + L"\\" + log;
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, path.c_str());
  ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str());
}

std::wstring ThisComputer() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD n = MAX_COMPUTERNAME_LENGTH + 1;
  return ::GetComputerNameW(name, &n) ? std::wstring(name, n) : std::wstring();
}

std::vector<BYTE> SidBytes(const wchar_t* text) {
  PSID sid = nullptr;
  if (!::ConvertStringSidToSidW(text, &sid)) return {};
  UniqueLocalMemory owner(sid);
  const BYTE* p = static_cast<const BYTE*>(sid);
  return std::vector<BYTE>(p, p + ::GetLengthSid(sid));
}

// Fixed part, source and computer names, SID (DWORD aligned), strings, no
// data, padding, and the length once more.
std::vector<BYTE> LayoutRecord(const SimEntry& entry) {
  EVENTLOGRECORD h = {};
  std::vector<BYTE> out(sizeof(EVENTLOGRECORD), 0);
  PutWide(&out, entry.source);
  PutWide(&out, entry.computer.empty() ? ThisComputer() : entry.computer);
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


SimEventLogService& SimEventLogService::Get() {
  static SimEventLogService* service = new SimEventLogService();  // kept for the process
  return *service;
}

SimEventLogService::SimEventLogService() {
  static const EventLogApi api{&Open, &Close, &GetOldest, &Read, &NotifyChange};
  brisel::testing::UseEventLogApi(&api);
}

DWORD SimEventLogService::AppendRaw(const std::wstring& log, std::vector<BYTE> bytes) {
  std::lock_guard hold(lock);
  Log& l = logs[log];
  DWORD number = l.next_number++;
  if (bytes.size() >= offsetof(EVENTLOGRECORD, TimeGenerated))
    std::memcpy(&bytes[offsetof(EVENTLOGRECORD, RecordNumber)], &number, sizeof number);
  l.records.emplace_back(number, std::move(bytes));
  for (auto& [h, handle] : handles)
    if (handle.log == log)
      for (HANDLE e : handle.events) ::SetEvent(e);
  return number;
}

void SimEventLogService::DropOldest(const std::wstring& log, size_t count) {
  std::lock_guard hold(lock);
  auto& records = logs[log].records;
  records.erase(records.begin(), records.begin() + static_cast<ptrdiff_t>(std::min(count, records.size())));
}

void SimEventLogService::Clear(const std::wstring& log) {
  std::lock_guard hold(lock);
  logs[log].records.clear();
  logs[log].next_number = 1;
}

void SimEventLogService::Remove(const std::wstring& log) {
  std::lock_guard hold(lock);
  logs[log].records.clear();
  logs[log].removed = true;
}

void SimEventLogService::Fail(const std::wstring& log, DWORD read_error, DWORD oldest_error) {
  std::lock_guard hold(lock);
  logs[log].read_error = read_error;
  logs[log].oldest_error = oldest_error;
}

void SimEventLogService::Reset() {
  std::lock_guard hold(lock);
  logs.clear();
  fail_notify = false;
}

size_t SimEventLogService::OpenHandles() {
  std::lock_guard hold(lock);
  return handles.size();
}

}  // namespace brisel::test
