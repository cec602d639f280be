// The file watcher: snapshots of one directory pattern, their comparison,
// and the worker that lists again whenever the directory changes.
#pragma once

#include <windows.h>

#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "collector/error_state.h"
#include "collector/event_source.h"
#include "module/com.h"

namespace brisel {

// One directory entry as a listing returned it, with what happened to it.
class FileRecord : public ErrorState {
 public:
  FileRecord() noexcept : data{} {}
  FileRecord(const WIN32_FIND_DATAW& found, std::wstring_view what) : description(what), data(found) {}

  std::wstring description;
  WIN32_FIND_DATAW data;
};

// Keyed by long name; std::wstring orders by UTF-16 code unit, which is the
// ordinal, case-sensitive order the batches are published in.
using FileMap = std::map<std::wstring, FileRecord>;

struct FileFilterSettings {
  bool create = true;
  bool size = false;
  bool attributes = false;
  bool last_write = false;
  std::wstring directory;  // with its trailing backslash
  std::wstring pattern;
  DWORD watch_subtree = 0;
  DWORD mask = 0;  // FILE_NOTIFY_CHANGE_* bits
};

// The settings given through SetFilter, and the changes not yet published.
class FileFilter : public ErrorState {
 public:
  // 0 accepted, 1 unknown key, -1 empty value or a path that cannot be found.
  LONG SetFilter(std::wstring_view name, std::wstring_view value, std::wstring* error_text);
  FileFilterSettings Settings() const;

  // Records every difference of current against previous as a pending
  // change; true when at least one was recorded.
  bool Filter(const FileMap& current, const FileMap& previous);

  // Worker side only.
  const FileMap& Pending() const noexcept { return pending_; }
  FileMap TakePending() noexcept { return std::exchange(pending_, {}); }
  void DropPending() noexcept { pending_.clear(); }

 private:
  bool Record(const std::wstring& name, const FileRecord& entry, std::wstring_view description);

  // The script's thread writes the settings while the worker reads them.
  mutable std::mutex lock_;
  FileFilterSettings settings_;
  FileMap pending_;
};

// Lists the pattern into *out (emptied first). Code 2 (nothing matches) is
// an empty listing; any other failure gives false with the code in *error.
bool ListPattern(const std::wstring& pattern, FileMap* out, DWORD* error);

// The watcher's state, shared by the NtFiles object and its worker.
class FileWatchSource final : public EventSource {
 public:
  explicit FileWatchSource(std::shared_ptr<ItemCollection> owner);

  // Script side.
  LONG SetFilter(std::wstring_view name, std::wstring_view value, std::wstring* error_text) {
    return filter_.SetFilter(name, value, error_text);
  }
  bool ResetEvent() noexcept;

  // Worker side.
  bool Exec() override { return true; }  // nothing to prepare: the notification opens at the first resume
  bool GetData() override;
  bool Notify() override;
  // The worker's whole life: returns when stopped or when the platform fails.
  void Run();

  FileFilter& Filter() noexcept { return filter_; }
  bool Armed() const;

 protected:
  size_t RecordCount() const override { return batch_.size(); }
  void ClearRecords() noexcept override { batch_.clear(); }
  bool Rejected(size_t) override { return false; }
  HRESULT MakeItem(size_t index, ComPtr<IDispatch>* item) override;

 private:
  // The generic wait with no handles of its own and no timeout is exactly
  // the idle wait: resume (true) or stop (false).
  bool WaitForResume() { return EventSource::Wait(0); }
  void Loop();

  std::shared_ptr<ItemCollection> items_;
  FileFilter filter_;
  FileMap current_;
  FileMap previous_;
  bool first_snapshot_ = true;
  std::vector<FileRecord> batch_;  // the pending changes being published, in name order
  UniqueChangeNotification notification_;
  mutable std::mutex state_lock_;
  bool armed_ = true;
};

// Thread procedure of the file watcher; the argument is a heap
// std::shared_ptr<EventSource> holding a FileWatchSource, taken over.
unsigned __stdcall ntFilesThread(void* arg);

}  // namespace brisel
