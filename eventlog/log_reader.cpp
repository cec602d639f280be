#include "eventlog/log_reader.h"

#include <cstring>

#include "collector/strings.h"
#include "eventlog/nt_events.h"
#include "trace/trace.h"

namespace brisel {

namespace {

int64_t Now() { return trace::UnixNow(); }

// A zero-terminated wide string starting at offset inside the record; false
// when it does not end inside [offset, end).
bool StringAt(const BYTE* record, size_t offset, size_t end, std::wstring_view* out, size_t* after) {
  if (offset > end) return false;
  size_t chars = (end - offset) / sizeof(wchar_t);
  const BYTE* p = record + offset;
  for (size_t i = 0; i < chars; ++i) {
    wchar_t c;
    std::memcpy(&c, p + i * sizeof(wchar_t), sizeof c);
    if (c == L'\0') {
      // Records are DWORD aligned, so the characters are wchar_t aligned.
      *out = std::wstring_view(reinterpret_cast<const wchar_t*>(p), i);
      *after = offset + (i + 1) * sizeof(wchar_t);
      return true;
    }
  }
  return false;
}

const wchar_t* TypeText(WORD type) {
  switch (type) {
    case EVENTLOG_ERROR_TYPE: return L"ERROR";
    case EVENTLOG_WARNING_TYPE: return L"WARNING";
    case EVENTLOG_INFORMATION_TYPE: return L"INFORMATION";
    case EVENTLOG_AUDIT_SUCCESS: return L"AUDIT_SUCCESS";
    case EVENTLOG_AUDIT_FAILURE: return L"AUDIT_FAILURE";
    default: return L"";
  }
}

}  // namespace

bool ParseRecord(const BYTE* data, size_t avail, RecordView* out) {
  constexpr size_t kFixed = sizeof(EVENTLOGRECORD);
  if (avail < kFixed) return false;
  std::memcpy(&out->header, data, kFixed);
  const EVENTLOGRECORD& h = out->header;
  size_t length = h.Length;
  if (length < kFixed || length > avail || length % sizeof(DWORD) != 0) return false;
  // Names and strings end before the closing length field.
  size_t end = length - sizeof(DWORD);
  size_t after = 0;
  if (!StringAt(data, kFixed, end, &out->source, &after)) return false;
  if (!StringAt(data, after, end, &out->computer, &after)) return false;
  out->strings.clear();
  size_t offset = h.StringOffset;
  for (WORD i = 0; i < h.NumStrings; ++i) {
    std::wstring_view s;
    if (offset % sizeof(wchar_t) != 0 || !StringAt(data, offset, end, &s, &offset)) return false;
    out->strings.push_back(s);
  }
  out->sid = nullptr;
  if (h.UserSidLength != 0) {
    size_t sid_offset = h.UserSidOffset;
    size_t sid_length = h.UserSidLength;
    if (sid_offset < kFixed || sid_offset > end || sid_length > end - sid_offset) return false;
    PSID sid = const_cast<BYTE*>(data + sid_offset);
    if (sid_length < 8 || !::IsValidSid(sid) || ::GetLengthSid(sid) > sid_length) return false;
    out->sid = sid;
  }
  return true;
}

void WriteTimeToLocal(DWORD seconds, double* date, SYSTEMTIME* local) {
  *date = 0.0;
  *local = SYSTEMTIME{};
  ULARGE_INTEGER t;
  t.QuadPart = static_cast<ULONGLONG>(seconds) * 10000000ULL + 116444736000000000ULL;
  FILETIME utc{t.LowPart, t.HighPart};
  FILETIME local_time;
  if (!::FileTimeToLocalFileTime(&utc, &local_time) || !::FileTimeToSystemTime(&local_time, local)) return;
  local->wMilliseconds = 0;
  double d = 0.0;
  if (::SystemTimeToVariantTime(local, &d)) *date = d;
}

void DecodeRecord(const RecordView& view, const std::wstring& log, MessageTextCache* texts, EventRecord* out) {
  const EVENTLOGRECORD& h = view.header;
  WriteTimeToLocal(h.TimeWritten, &out->CreationTime, &out->CreationSystemTime);
  out->Logfile = log;
  out->SourceName.assign(view.source);
  out->ComputerName.assign(view.computer);
  out->Type = TypeText(h.EventType);
  texts->CategoryText(h.EventCategory, out->SourceName, log, &out->Category);
  FormatW(&out->EventCode, L"%d", static_cast<int>(h.EventID & 0xFFFF));
  texts->MessageText(h.EventID, out->SourceName, view.strings, log, &out->Message);
  out->UserName = L"N/A";
  std::wstring account;
  if (view.sid && texts->Account(out->ComputerName, view.sid, &account)) out->UserName = std::move(account);
  for (std::wstring* field : {&out->Category, &out->EventCode, &out->Type, &out->Logfile, &out->Message,
                              &out->SourceName, &out->ComputerName, &out->UserName})
    *field = Trim(*field);
}

void EnableSecurityPrivilege() noexcept {
  UniqueKernelHandle token;
  if (!::OpenThreadToken(::GetCurrentThread(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, FALSE, token.Put()) &&
      !::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.Put()))
    return;
  TOKEN_PRIVILEGES privileges = {};
  if (!::LookupPrivilegeValueW(nullptr, L"SeSecurityPrivilege", &privileges.Privileges[0].Luid)) return;
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  ::AdjustTokenPrivileges(token.Get(), FALSE, &privileges, 0, nullptr, nullptr);
}

LogReader::LogReader(std::wstring name) : name_(std::move(name)) {
  std::wstring message;
  std::wstring key_path = std::wstring(kEventLogKey) + L"\\" + name_;
  UniqueRegKey key;
  LONG rc = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_path.c_str(), 0, KEY_READ | KEY_WRITE, key.Put());
  if (rc != ERROR_SUCCESS) {
    FormatW(&message, L"Open %s log registry key failed: %d\n", name_.c_str(), static_cast<int>(rc));
  } else {
    key.Reset();
    log_.Reset(EventLog().Open(nullptr, name_.c_str()));
    if (!log_) {
      FormatW(&message, L"OpenEventLog on %s log failed: %d\n", name_.c_str(), static_cast<int>(::GetLastError()));
    } else {
      change_.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
      if (!change_) {
        FormatW(&message, L"CreateEvent on %s log failed: %d\n", name_.c_str(), static_cast<int>(::GetLastError()));
      } else if (!EventLog().NotifyChange(log_.Get(), change_.Get())) {
        // Kept all the same: the poll timeout still drives its reads.
        std::wstring text;
        FormatW(&text, L"NotifyChangeEventLog on %s log failed: %d\n", name_.c_str(),
                static_cast<int>(::GetLastError()));
        SetErrorMessage(text);
      }
    }
  }
  if (!message.empty()) {
    SetErrorCode(-1);
    SetErrorMessage(message);
    WriteToDebugFile();
  }
}

bool LogReader::ReadBuffer(DWORD start, DWORD* bytes_read, DWORD* error) {
  *bytes_read = 0;
  DWORD needed = 0;
  if (EventLog().Read(log_.Get(), EVENTLOG_SEEK_READ | EVENTLOG_FORWARDS_READ, start, buffer_.data(), buffer_bytes_,
                      bytes_read, &needed))
    return true;
  *error = ::GetLastError();
  if (*error != ERROR_INSUFFICIENT_BUFFER) return false;
  // Nothing named, or more than any entry can take: as a record the log no longer holds.
  if (needed == 0 || needed > kMaxBufferBytes) {
    *error = ERROR_INVALID_PARAMETER;
    return false;
  }
  try {
    buffer_.resize(needed);
  } catch (...) {
    *error = ERROR_NOT_ENOUGH_MEMORY;
    return false;
  }
  buffer_bytes_ = needed;
  *bytes_read = 0;
  if (EventLog().Read(log_.Get(), EVENTLOG_SEEK_READ | EVENTLOG_FORWARDS_READ, start, buffer_.data(), buffer_bytes_,
                      bytes_read, &needed))
    return true;
  *error = ERROR_INVALID_PARAMETER;  // a second failure ends the pass for this log
  return false;
}

bool LogReader::StillHoldsLastEntry() {
  DWORD bytes_read = 0;
  DWORD needed = 0;
  if (!EventLog().Read(log_.Get(), EVENTLOG_SEEK_READ | EVENTLOG_FORWARDS_READ, last_number_, buffer_.data(),
                       buffer_bytes_, &bytes_read, &needed))
    return false;
  RecordView view;
  return ParseRecord(buffer_.data(), bytes_read > buffer_bytes_ ? buffer_bytes_ : bytes_read, &view) &&
         view.header.RecordNumber == last_number_ && view.header.TimeWritten == last_time_ &&
         view.header.EventID == last_event_id_;
}

bool LogReader::Read(const ReadContext& context, std::vector<EventRecord>* out) {
  if (!change_) return true;
  try {
    if (buffer_.size() < kBufferBytes) buffer_.resize(kBufferBytes);
  } catch (...) {
    return true;  // no memory: the position is kept for the next pass
  }
  buffer_bytes_ = kBufferBytes;
  DWORD oldest = 0;
  if (!EventLog().GetOldest(log_.Get(), &oldest)) {
    if (context.source) context.source->SetErrorCode(static_cast<LONG>(::GetLastError()));
    more_pending_ = false;
    return true;
  }
  bool first_read = next_record_ == 0;
  DWORD start = next_record_ != 0 && next_record_ >= oldest ? next_record_ : oldest;
  // After a read past the end, the entries up to the last one passed are
  // not new unless the log was cleared: go on behind them rather than
  // publish again those written in the same second as the previous pass.
  if (first_read && last_number_ != 0 && last_number_ >= oldest && last_number_ != 0xFFFFFFFF &&
      StillHoldsLastEntry()) {
    first_read = false;
    start = last_number_ + 1;
  }
  const int64_t not_before = context.start_time - context.recent_seconds;
  DWORD next = start;
  for (;;) {
    if (context.Stopped()) {
      next_record_ = start;
      more_pending_ = true;
      return true;
    }
    DWORD bytes_read = 0;
    DWORD error = 0;
    if (!ReadBuffer(start, &bytes_read, &error)) {
      more_pending_ = false;
      switch (error) {
        case ERROR_HANDLE_EOF:
          next_record_ = 0;
          return true;
        case ERROR_INVALID_PARAMETER:
        case ERROR_NOT_ENOUGH_MEMORY:
          next_record_ = start;
          return true;
        default:
          next_record_ = start;
          return false;
      }
    }
    bytes_read = bytes_read > buffer_bytes_ ? buffer_bytes_ : bytes_read;
    next = start;
    size_t offset = 0;
    RecordView view;
    while (offset < bytes_read) {
      if (context.Stopped()) {
        next_record_ = next;
        more_pending_ = true;
        return true;
      }
      if (!ParseRecord(buffer_.data() + offset, bytes_read - offset, &view)) {
        // A record that does not hold together ends this buffer. When its
        // number can be read it is passed over, so the log does not stall on it.
        if (bytes_read - offset >= sizeof(EVENTLOGRECORD) && view.header.RecordNumber >= next)
          next = view.header.RecordNumber + 1;
        if (tvDebugLevel > 0) tvDebugPrint(1, "Malformed event-log record skipped\n");
        break;
      }
      offset += view.header.Length;
      last_number_ = view.header.RecordNumber;
      last_time_ = view.header.TimeWritten;
      last_event_id_ = view.header.EventID;
      if (first_read && static_cast<int64_t>(view.header.TimeWritten) < not_before) {
        next = view.header.RecordNumber + 1;
        continue;
      }
      first_read = false;
      size_t before = out->size();
      try {
        out->emplace_back();
        DecodeRecord(view, name_, context.texts, &out->back());
      } catch (...) {
        out->resize(before);  // no memory: the entry is lost, the walk goes on
      }
      next = view.header.RecordNumber + 1;
    }
    // Every entry was old: read on from behind them, as long as the reads advance.
    if (first_read && next > start) {
      start = next;
      continue;
    }
    break;
  }
  // Probe whether more entries wait behind this buffer.
  {
    BYTE probe[kBufferBytes];
    DWORD bytes_read = 0;
    DWORD needed = 0;
    BOOL ok = EventLog().Read(log_.Get(), EVENTLOG_SEEK_READ | EVENTLOG_FORWARDS_READ, next, probe, kBufferBytes,
                              &bytes_read, &needed);
    more_pending_ = ok ? bytes_read != 0 : ::GetLastError() == ERROR_INSUFFICIENT_BUFFER;
  }
  next_record_ = next;
  return true;
}

EventLogSource::EventLogSource(std::shared_ptr<ItemCollection> owner) : EventSource(std::move(owner)) {
  start_time_ = Now();
  UniqueRegKey key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kEventLogKey, 0, KEY_READ | KEY_WRITE, key.Put()) != ERROR_SUCCESS) return;
  for (DWORD index = 0;; ++index) {
    wchar_t name[261];
    DWORD chars = 261;
    if (::RegEnumKeyExW(key.Get(), index, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    auto reader = std::make_unique<LogReader>(name);
    if (reader->ErrorCode() < 0) continue;
    readers_[name] = std::move(reader);
  }
}

EventLogSource::~EventLogSource() = default;

bool EventLogSource::Exec() {
  wait_handles_.clear();
  for (const auto& [name, reader] : readers_) {
    if (wait_handles_.size() == kMaxWatchedLogs) break;  // the rest is read at every pass all the same
    wait_handles_.push_back(reader->ChangeEvent());
  }
  return true;
}

bool EventLogSource::GetData() {
  DropRecords();
  std::vector<EventRecord> batch;
  ReadContext context;
  context.start_time = start_time_;
  context.recent_seconds = RecentSeconds();
  context.texts = &texts_;
  context.source = this;
  context.stop = &StopFlag();
  bool changed = false;
  for (auto it = readers_.begin(); it != readers_.end(); ++it) {
    if (context.Stopped()) break;  // the worker is ending: the rest can wait
    size_t before = batch.size();
    try {
      if (it->second->Read(context, &batch)) continue;
      changed = true;
      auto fresh = std::make_unique<LogReader>(it->first);
      if (fresh->ErrorCode() < 0) {
        it->second.reset();  // removed below
        continue;
      }
      fresh->Read(context, &batch);
      it->second = std::move(fresh);
    } catch (...) {
      // Out of memory: this log keeps its position and is read again at the
      // next pass, so what it added here would come twice.
      batch.erase(batch.begin() + static_cast<std::ptrdiff_t>(before), batch.end());
      if (tvDebugLevel > 0) tvDebugPrint(1, "Out of memory reading a log; it is read again at the next pass\n");
    }
  }
  std::erase_if(readers_, [](const auto& entry) { return !entry.second; });
  texts_.EndPass();
  {
    auto lock = LockRecords();
    records_ = std::move(batch);
  }
  if (changed) {
    try {
      Exec();
    } catch (...) {
      // The logs left out of the wait are still read at every pass.
    }
  }
  start_time_ = Now();
  return true;
}

bool EventLogSource::Wait(DWORD timeout_ms) {
  // A script may wait hours before it asks for the next batch.
  if (texts_.LoadedModules() != 0) {
    HANDLE handles[] = {ResumeEvent(), StopEvent()};
    if (::WaitForMultipleObjects(2, handles, FALSE, texts_.IdleRelease()) == WAIT_TIMEOUT) texts_.ReleaseModules();
  }
  if (EventSource::Wait(timeout_ms)) return true;
  texts_.ReleaseModules();
  return false;
}

bool EventLogSource::HasBacklog() {
  for (const auto& [name, reader] : readers_)
    if (reader->MorePending()) return true;
  return false;
}

const LogReader* EventLogSource::Reader(const std::wstring& name) const {
  auto it = readers_.find(name);
  return it == readers_.end() ? nullptr : it->second.get();
}

EventFilter* EventLogSource::Filter() {
  std::lock_guard lock(filter_lock_);
  return filter_.get();
}

std::vector<EventRecord> EventLogSource::Records() {
  auto lock = LockRecords();
  return records_;
}

EventFilter* EventLogSource::FilterOfKind(bool regex) {
  std::lock_guard lock(filter_lock_);
  if (!filter_) filter_ = regex ? std::make_unique<RegexEventFilter>() : std::make_unique<EventFilter>();
  return filter_.get();
}

LONG EventLogSource::SetFilter(std::wstring_view name, std::wstring_view value) {
  return FilterOfKind(false)->SetFilter(name, value);
}

LONG EventLogSource::SetFilterRX(std::wstring_view name, std::wstring_view value, std::wstring* errors) {
  return FilterOfKind(true)->SetFilterRX(name, value, errors);
}

LONG EventLogSource::SetFilterFile(std::wstring_view kind, const std::wstring& file, std::wstring* errors) {
  return FilterOfKind(true)->SetFilterFile(kind, file, errors);
}

bool EventLogSource::Rejected(size_t index) {
  EventFilter* filter = Filter();
  return filter && filter->Test(records_[index]);
}

HRESULT EventLogSource::MakeItem(size_t index, ComPtr<IDispatch>* item) {
  ComPtr<NtEvent> event;
  HRESULT hr = NtEvent::CreateItem(&event);
  if (FAILED(hr)) return hr;
  try {
    event->record = records_[index];
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  *item = static_cast<IDispatch*>(static_cast<INtEvent*>(event.Get()));
  return S_OK;
}

}  // namespace brisel
