#include "tests/win/eventlog/sim_event_log.h"

#include <windows.h>
#include <sddl.h>

#include <cstring>
#include <ctime>
#include <memory>

#include "eventlog/message_text.h"
#include "eventlog/testing.h"
#include "module/com.h"

namespace brisel::test {

namespace {

void PutBytes(std::vector<BYTE>* out, const void* p, size_t n) {
  size_t old = out->size();
  out->resize(old + n);
  if (n) std::memcpy(out->data() + old, p, n);
}

void PutWide(std::vector<BYTE>* out, const std::wstring& s) { PutBytes(out, s.c_str(), (s.size() + 1) * sizeof(wchar_t)); }

void AlignDword(std::vector<BYTE>* out) {
  while (out->size() % sizeof(DWORD)) out->push_back(0);
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

std::vector<BYTE> LayoutRecord(DWORD number, const SimEntry& entry) {
  EVENTLOGRECORD h = {};
  std::vector<BYTE> out(sizeof(EVENTLOGRECORD), 0);
  PutWide(&out, entry.source);
  PutWide(&out, entry.computer.empty() ? ThisComputer() : entry.computer);
  AlignDword(&out);
  if (!entry.sid.empty()) {
    h.UserSidOffset = static_cast<DWORD>(out.size());
    h.UserSidLength = static_cast<DWORD>(entry.sid.size());
    PutBytes(&out, entry.sid.data(), entry.sid.size());
  }
  h.StringOffset = static_cast<DWORD>(out.size());
  for (const auto& s : entry.strings) PutWide(&out, s);
  h.DataOffset = static_cast<DWORD>(out.size());
  h.DataLength = static_cast<DWORD>(entry.data.size());
  PutBytes(&out, entry.data.data(), entry.data.size());
  AlignDword(&out);
  h.Length = static_cast<DWORD>(out.size() + sizeof(DWORD));
  h.Reserved = 0x654c664c;  // "LfLe"
  h.RecordNumber = number;
  h.TimeWritten = entry.time_written ? entry.time_written : static_cast<DWORD>(std::time(nullptr));
  h.TimeGenerated = h.TimeWritten;
  h.EventID = entry.event_id;
  h.EventType = entry.type;
  h.NumStrings = static_cast<WORD>(entry.strings.size());
  h.EventCategory = entry.category;
  std::memcpy(out.data(), &h, sizeof h);
  DWORD length = h.Length;
  PutBytes(&out, &length, sizeof length);
  return out;
}

SimEventLogService& SimEventLogService::Get() {
  static SimEventLogService* service = new SimEventLogService();  // kept for the process
  return *service;
}

SimEventLogService::SimEventLogService() : api_{&Open, &Close, &GetOldest, &Read, &NotifyChange} {
  brisel::testing::UseEventLogApi(&api_);
}

SimEventLogService::Log& SimEventLogService::LogNamed(const std::wstring& name) { return logs_[name]; }

SimEventLogService::Handle* SimEventLogService::Find(HANDLE h) {
  auto it = handles_.find(h);
  return it == handles_.end() ? nullptr : it->second.get();
}

void SimEventLogService::Signal(const std::wstring& log) {
  for (auto& [h, handle] : handles_)
    if (handle->log == log)
      for (HANDLE e : handle->events) ::SetEvent(e);
}

DWORD SimEventLogService::Append(const std::wstring& log, const SimEntry& entry) {
  std::lock_guard lock(lock_);
  Log& l = LogNamed(log);
  DWORD number = l.next_number++;
  l.records.push_back({number, LayoutRecord(number, entry)});
  Signal(log);
  return number;
}

DWORD SimEventLogService::AppendRaw(const std::wstring& log, std::vector<BYTE> bytes) {
  std::lock_guard lock(lock_);
  Log& l = LogNamed(log);
  DWORD number = l.next_number++;
  if (bytes.size() >= 12) std::memcpy(bytes.data() + 8, &number, sizeof number);
  l.records.push_back({number, std::move(bytes)});
  Signal(log);
  return number;
}

void SimEventLogService::DropOldest(const std::wstring& log, size_t count) {
  std::lock_guard lock(lock_);
  Log& l = LogNamed(log);
  while (count-- && !l.records.empty()) l.records.pop_front();
}

void SimEventLogService::Clear(const std::wstring& log) {
  std::lock_guard lock(lock_);
  Log& l = LogNamed(log);
  l.records.clear();
  l.next_number = 1;
}

void SimEventLogService::Remove(const std::wstring& log) {
  std::lock_guard lock(lock_);
  Log& l = LogNamed(log);
  l.records.clear();
  l.removed = true;
}

void SimEventLogService::FailOldest(const std::wstring& log, DWORD error) {
  std::lock_guard lock(lock_);
  LogNamed(log).oldest_error = error;
}

void SimEventLogService::FailReads(const std::wstring& log, DWORD error, int count) {
  std::lock_guard lock(lock_);
  Log& l = LogNamed(log);
  l.fail_error = error;
  l.fail_count = count;
}

void SimEventLogService::Reset() {
  std::lock_guard lock(lock_);
  logs_.clear();
  fail_notify_ = false;
}

DWORD SimEventLogService::Oldest(const std::wstring& log) {
  std::lock_guard lock(lock_);
  Log& l = LogNamed(log);
  return l.records.empty() ? 0 : l.records.front().number;
}

size_t SimEventLogService::OpenHandles() {
  std::lock_guard lock(lock_);
  return handles_.size();
}

HANDLE WINAPI SimEventLogService::Open(LPCWSTR server, LPCWSTR name) {
  SimEventLogService& s = Get();
  std::lock_guard lock(s.lock_);
  if (server || !name) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (s.LogNamed(name).removed) {
    ::SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  auto handle = std::make_unique<Handle>();
  handle->log = name;
  HANDLE h = handle.get();
  s.handles_[h] = std::move(handle);
  return h;
}

BOOL WINAPI SimEventLogService::Close(HANDLE h) {
  SimEventLogService& s = Get();
  std::lock_guard lock(s.lock_);
  if (!s.handles_.erase(h)) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

BOOL WINAPI SimEventLogService::GetOldest(HANDLE h, PDWORD oldest) {
  SimEventLogService& s = Get();
  std::lock_guard lock(s.lock_);
  Handle* handle = s.Find(h);
  if (!handle) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  Log& l = s.LogNamed(handle->log);
  if (l.oldest_error) {
    ::SetLastError(l.oldest_error);
    return FALSE;
  }
  *oldest = l.records.empty() ? 0 : l.records.front().number;
  return TRUE;
}

BOOL WINAPI SimEventLogService::Read(HANDLE h, DWORD flags, DWORD record, LPVOID buffer, DWORD size, DWORD* read,
                                     DWORD* needed) {
  SimEventLogService& s = Get();
  ++s.reads;
  if (DWORD delay = s.read_delay_ms) ::Sleep(delay);
  std::lock_guard lock(s.lock_);
  Handle* handle = s.Find(h);
  if (!handle) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!buffer || !read || !needed || flags != (EVENTLOG_SEEK_READ | EVENTLOG_FORWARDS_READ)) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *read = 0;
  *needed = 0;
  Log& l = s.LogNamed(handle->log);
  if (l.removed) {
    ::SetLastError(ERROR_EVENTLOG_FILE_CHANGED);
    return FALSE;
  }
  if (l.fail_count > 0) {
    --l.fail_count;
    ::SetLastError(l.fail_error);
    return FALSE;
  }
  if (l.records.empty() || record > l.records.back().number) {
    ::SetLastError(ERROR_HANDLE_EOF);
    return FALSE;
  }
  if (record < l.records.front().number) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  size_t index = record - l.records.front().number;
  DWORD total = 0;
  BYTE* out = static_cast<BYTE*>(buffer);
  for (; index < l.records.size(); ++index) {
    const auto& bytes = l.records[index].bytes;
    if (total + bytes.size() > size) break;
    std::memcpy(out + total, bytes.data(), bytes.size());
    total += static_cast<DWORD>(bytes.size());
  }
  if (total == 0) {
    *needed = static_cast<DWORD>(l.records[record - l.records.front().number].bytes.size());
    ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  *read = total;
  return TRUE;
}

BOOL WINAPI SimEventLogService::NotifyChange(HANDLE h, HANDLE event) {
  SimEventLogService& s = Get();
  if (s.fail_notify_) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  std::lock_guard lock(s.lock_);
  Handle* handle = s.Find(h);
  if (!handle) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  handle->events.insert(event);
  return TRUE;
}

}  // namespace brisel::test
