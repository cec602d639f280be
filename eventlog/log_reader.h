// Reading the Windows event logs: one reader per log, and the source that
// an NtEvents worker drives.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "collector/error_state.h"
#include "collector/event_source.h"
#include "eventlog/event_record.h"
#include "eventlog/eventlog_api.h"
#include "eventlog/message_text.h"
#include "rules/event_filter.h"

namespace brisel {

// One entry of a read buffer, checked against the bytes the platform returned.
struct RecordView {
  EVENTLOGRECORD header;
  std::wstring_view source;
  std::wstring_view computer;
  std::vector<std::wstring_view> strings;
  PSID sid = nullptr;  // null without a user
};

// False when the entry at data (avail bytes left in the buffer) is not a
// whole, consistent record: a length below the fixed part or beyond avail,
// names or strings that are not terminated inside the record, or a SID
// outside it.
bool ParseRecord(const BYTE* data, size_t avail, RecordView* out);

// Decodes a parsed entry of log into a record.
void DecodeRecord(const RecordView& view, const std::wstring& log, MessageTextCache* texts, EventRecord* out);

// Write time (seconds since 1970, UTC) as local automation date and local time.
void WriteTimeToLocal(DWORD seconds, double* date, SYSTEMTIME* local);

// Enables "SeSecurityPrivilege" for the thread's token, or the process's;
// failures are ignored.
void EnableSecurityPrivilege() noexcept;

// What a read needs from its source.
struct ReadContext {
  int64_t start_time = 0;     // entries of a first read written before start_time - recent are skipped
  int64_t recent_seconds = 0;
  MessageTextCache* texts = nullptr;
  ErrorState* source = nullptr;  // takes the error of a failed oldest-record query
  const std::atomic<bool>* stop = nullptr;  // set: the pass ends at the next record
  bool Stopped() const noexcept { return stop && stop->load(std::memory_order_relaxed); }
};

class LogReader : public ErrorState {
 public:
  static constexpr DWORD kBufferBytes = 10240;
  // The size a platform may ask for before the read is given up.
  static constexpr DWORD kMaxBufferBytes = 16u * 1024 * 1024;

  // Opens the log; ErrorCode() is -1 when it cannot be watched.
  explicit LogReader(std::wstring name);
  LogReader(const LogReader&) = delete;
  LogReader& operator=(const LogReader&) = delete;

  // Decodes the entries written since the last read into *out. False only
  // when the log could not be read for an unexpected reason.
  bool Read(const ReadContext& context, std::vector<EventRecord>* out);

  const std::wstring& Name() const noexcept { return name_; }
  bool MorePending() const noexcept { return more_pending_; }
  HANDLE ChangeEvent() const noexcept { return change_.Get(); }
  DWORD NextRecord() const noexcept { return next_record_; }

 private:
  // One buffer from start; *bytes_read is what it holds. False with the
  // platform's error in *error.
  bool ReadBuffer(DWORD start, DWORD* bytes_read, DWORD* error);
  // True when the log still holds the last entry this reader passed, so a
  // read past the end meant "nothing new" and not a cleared log.
  bool StillHoldsLastEntry();

  std::wstring name_;
  bool more_pending_ = false;
  UniqueEvent change_;
  UniqueEventLog log_;
  DWORD next_record_ = 0;
  // The last entry passed (published or skipped); 0: none yet.
  DWORD last_number_ = 0;
  DWORD last_time_ = 0;
  DWORD last_event_id_ = 0;
  std::vector<BYTE> buffer_;
  DWORD buffer_bytes_ = kBufferBytes;
};

class EventLogSource final : public EventSource {
 public:
  explicit EventLogSource(std::shared_ptr<ItemCollection> owner);
  ~EventLogSource() override;

  // Worker side.
  bool Exec() override;
  bool GetData() override;
  // Unloads the message modules when the script stays away for their idle
  // time, and when the worker is to end.
  bool Wait(DWORD timeout_ms) override;

  // Script side. The first call fixes the filter's kind: SetFilter makes a
  // plain filter, SetFilterRX and SetFilterFile a regular-expression one.
  LONG SetFilter(std::wstring_view name, std::wstring_view value);
  LONG SetFilterRX(std::wstring_view name, std::wstring_view value, std::wstring* errors);
  LONG SetFilterFile(std::wstring_view kind, const std::wstring& file, std::wstring* errors);

  // For tests: read on the worker thread only, or while the worker is idle.
  size_t ReaderCount() const noexcept { return readers_.size(); }
  const LogReader* Reader(const std::wstring& name) const;
  MessageTextCache& Texts() noexcept { return texts_; }
  EventFilter* Filter();
  std::vector<EventRecord> Records();

  // A pass watches at most this many change events: the platform waits on
  // 64 handles, one of them the stop event.
  static constexpr size_t kMaxWatchedLogs = MAXIMUM_WAIT_OBJECTS - 1;

 protected:
  size_t RecordCount() const override { return records_.size(); }
  void ClearRecords() noexcept override { records_.clear(); }
  bool Rejected(size_t index) override;
  HRESULT MakeItem(size_t index, ComPtr<IDispatch>* item) override;
  bool HasBacklog() override;

 private:
  EventFilter* FilterOfKind(bool regex);

  std::map<std::wstring, std::unique_ptr<LogReader>> readers_;
  int64_t start_time_ = 0;
  MessageTextCache texts_;
  std::vector<EventRecord> records_;  // under LockRecords()
  std::mutex filter_lock_;
  std::unique_ptr<EventFilter> filter_;  // made once, then never replaced
};

}  // namespace brisel
