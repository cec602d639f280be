#include "files/file_watch.h"

#include <utility>

#include "files/nt_files.h"
#include "trace/trace.h"

namespace brisel {

namespace {

constexpr DWORD kNotifyFileName = FILE_NOTIFY_CHANGE_FILE_NAME;
constexpr DWORD kNotifyAttributes = FILE_NOTIFY_CHANGE_ATTRIBUTES;
constexpr DWORD kNotifySize = FILE_NOTIFY_CHANGE_SIZE;
constexpr DWORD kNotifyLastWrite = FILE_NOTIFY_CHANGE_LAST_WRITE;

struct FindCloser {
  using Type = HANDLE;
  static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) noexcept { ::FindClose(h); }
};
using UniqueFind = UniqueHandle<FindCloser>;

UniqueFind FindFirst(const std::wstring& pattern, WIN32_FIND_DATAW* data) {
  return UniqueFind(::FindFirstFileExW(pattern.c_str(), FindExInfoStandard, data, FindExSearchNameMatch, nullptr, 0));
}

void Trace(const char* text) {
  if (tvDebugLevel > 0) tvDebugPrint(1, text);
}

}  // namespace

LONG FileFilter::SetFilter(std::wstring_view name, std::wstring_view value, std::wstring* error_text) {
  error_text->clear();
  if (value.empty()) return -1;
  bool on = value == L"TRUE";
  std::lock_guard lock(lock_);
  FileFilterSettings& s = settings_;
  auto set_bit = [&s](DWORD bit, bool set) { s.mask = set ? (s.mask | bit) : (s.mask & ~bit); };
  if (name == L"FILE PATH") {
    std::wstring v(value);
    if (v.back() == L'\\') v.pop_back();
    WIN32_FIND_DATAW data;
    UniqueFind find = FindFirst(v, &data);
    if (!find) {
      SetErrorFromSystemCode(::GetLastError());
      *error_text = ErrorMessage();
      return -1;
    }
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && std::wstring_view(data.cFileName) != L"." &&
        v.find(L'*') == std::wstring::npos) {
      if (v.empty() || v.back() != L'\\') v += L'\\';
      v += L'*';
    }
    size_t slash = v.rfind(L'\\');
    s.directory = slash == std::wstring::npos ? std::wstring() : v.substr(0, slash + 1);
    s.pattern = std::move(v);
  } else if (name == L"FILE NAME") {
    set_bit(kNotifyFileName, on);
  } else if (name == L"CREATE") {
    s.create = on;  // creations are reported whatever its value
  } else if (name == L"ATTRIBUTES") {
    s.attributes = on;
    set_bit(kNotifyAttributes, on);
  } else if (name == L"SIZE") {
    s.size = on;
    set_bit(kNotifySize, on);
  } else if (name == L"LAST WRITE TIME") {
    s.last_write = on;
    set_bit(kNotifyLastWrite, on);
  } else {
    *error_text = L"Invalid Filter";
    return 1;
  }
  return 0;
}

FileFilterSettings FileFilter::Settings() const {
  std::lock_guard lock(lock_);
  return settings_;
}

bool FileFilter::Record(const std::wstring& name, const FileRecord& entry, std::wstring_view description) {
  // An earlier change to the same name that is still unpublished wins.
  if (pending_.count(name)) return true;
  try {
    pending_.emplace(name, FileRecord(entry.data, description));
  } catch (...) {
    return false;  // skipped, as an unallocatable record is
  }
  return true;
}

bool FileFilter::Filter(const FileMap& current, const FileMap& previous) {
  Trace("Entering filter\n");
  FileFilterSettings s = Settings();
  bool recorded = false;
  // Both maps are in key order: one merge walk finds every difference.
  auto cur = current.begin();
  auto prev = previous.begin();
  while (cur != current.end() || prev != previous.end()) {
    if (cur == current.end() || (prev != previous.end() && prev->first < cur->first)) {
      recorded |= Record(prev->first, prev->second, L"deleted");
      Trace("deleted\n");
      ++prev;
      continue;
    }
    if (prev == previous.end() || cur->first < prev->first) {
      recorded |= Record(cur->first, cur->second, L"created");
      Trace("created,\n");
      ++cur;
      continue;
    }
    const WIN32_FIND_DATAW& now = cur->second.data;
    const WIN32_FIND_DATAW& before = prev->second.data;
    std::wstring what;
    if (s.attributes && now.dwFileAttributes != before.dwFileAttributes) {
      what += L"attributes changed,";
      Trace("attributes changed\n");
    }
    if (s.size && (now.nFileSizeHigh != before.nFileSizeHigh || now.nFileSizeLow != before.nFileSizeLow)) {
      what += L"size changed,";
      Trace("size changed,\n");
    }
    if (s.last_write && ::CompareFileTime(&now.ftLastWriteTime, &before.ftLastWriteTime) != 0) {
      what += L"last write time changed,";
      Trace("last write time changed,");
    }
    if (!what.empty()) {
      what.pop_back();
      recorded |= Record(cur->first, cur->second, what);
    }
    ++cur;
    ++prev;
  }
  Trace("Exiting Filter\n");
  return recorded;
}

bool ListPattern(const std::wstring& pattern, FileMap* out, DWORD* error) {
  out->clear();
  WIN32_FIND_DATAW data;
  UniqueFind find = FindFirst(pattern, &data);
  if (!find) {
    DWORD code = ::GetLastError();
    if (code == ERROR_FILE_NOT_FOUND) return true;
    *error = code;
    return false;
  }
  do {
    // A name listed twice keeps its first entry.
    out->try_emplace(std::wstring(data.cFileName), data, std::wstring_view());
  } while (::FindNextFileW(find.Get(), &data));
  return true;
}

FileWatchSource::FileWatchSource(std::shared_ptr<ItemCollection> owner) : EventSource(owner), items_(std::move(owner)) {
  // The worker waits on the change notification alone; tests shorten this
  // to have it look again without one.
  SetPollTimeout(INFINITE);
}

bool FileWatchSource::Armed() const {
  std::lock_guard lock(state_lock_);
  return armed_;
}

bool FileWatchSource::ResetEvent() noexcept {
  // Data-ready goes down before re-arming, so a batch published right after
  // keeps its signal.
  ::ResetEvent(ReadyEvent());
  {
    std::lock_guard lock(state_lock_);
    armed_ = true;
  }
  Resume();
  return true;
}

bool FileWatchSource::GetData() {
  Trace("Enter GetData()\n");
  Trace("Generating m_pCurrentMap\n");
  DWORD error = 0;
  bool listed = false;
  bool changed = false;
  try {
    std::wstring pattern = filter_.Settings().pattern;
    listed = ListPattern(pattern, &current_, &error);
    if (listed) {
      if (first_snapshot_) {
        // The baseline reports nothing, and an empty one is as good as any.
        filter_.DropPending();
        first_snapshot_ = false;
      } else {
        changed = filter_.Filter(current_, previous_);
      }
    }
  } catch (...) {
    // Out of memory: as a failed listing. What was recorded stays pending.
    listed = false;
    error = ERROR_NOT_ENOUGH_MEMORY;
  }
  if (!listed) {
    // The previous snapshot stays; the next notification tries again.
    current_.clear();
    SetErrorCode(static_cast<LONG>(error));
    return false;
  }
  std::swap(current_, previous_);
  Trace("Exit GetData\n");
  return changed;
}

HRESULT FileWatchSource::MakeItem(size_t index, ComPtr<IDispatch>* item) {
  ComPtr<NtFileItem> file;
  HRESULT hr = NtFileItem::CreateItem(&file);
  if (FAILED(hr)) return hr;
  Trace("Generating pVarVector\n");
  try {
    file->record = batch_[index];
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  *item = static_cast<IDispatch*>(static_cast<INtFile*>(file.Get()));
  return S_OK;
}

bool FileWatchSource::Notify() {
  // Held across publishing so that ResetEvent sees either the old batch
  // armed or the new one published, never half of each.
  std::lock_guard state(state_lock_);
  if (!armed_) return true;  // the changes stay pending until the next reset
  {
    auto records = LockRecords();
    batch_.clear();
    try {
      FileMap pending = filter_.TakePending();
      batch_.reserve(pending.size());
      for (auto& [name, record] : pending) batch_.push_back(std::move(record));
    } catch (...) {
      // Out of memory: what made it into the batch goes out.
    }
  }
  bool published = Publish();
  {
    auto records = LockRecords();
    batch_.clear();
  }
  if (!published) return false;
  LONG count = 0;
  items_->Count(&count);
  if (count == 0) return true;
  armed_ = false;
  if (tvDebugLevel > 0) tvDebugPrint(1, "Data Ready %u\n", static_cast<unsigned>(count));
  return ::SetEvent(ReadyEvent()) != FALSE;
}

void FileWatchSource::Run() {
  Loop();
  notification_.Reset();
}

void FileWatchSource::Loop() {
  HANDLE stop = StopEvent();
  bool resumed = false;  // a resume that came while the worker was watching
  for (;;) {
    if (!resumed && !WaitForResume()) return;
    resumed = false;
    if (!notification_) {
      FileFilterSettings s = filter_.Settings();
      notification_.Reset(::FindFirstChangeNotificationW(s.directory.c_str(), s.watch_subtree, s.mask));
      if (!notification_) {
        if (tvDebugLevel > 0)
          tvDebugPrint(1, "FindFirstChangeNotification failed: %lu\n", static_cast<unsigned long>(::GetLastError()));
        return;
      }
      GetData();  // the baseline; a failed listing leaves the next one to be it
    }
    // Changes already seen go out as soon as a reset re-arms; otherwise
    // until a listing shows a change.
    bool found = Armed() && !filter_.Pending().empty();
    while (!found) {
      HANDLE handles[3] = {stop, notification_.Get(), ResumeEvent()};
      DWORD r = ::WaitForMultipleObjects(3, handles, FALSE, PollTimeout());
      if (r == WAIT_OBJECT_0 + 1) {
        // Re-armed before listing: a change after the listing signals again
        // instead of falling between the listing and a later re-arm.
        ::FindNextChangeNotification(notification_.Get());
        found = GetData();
      } else if (r == WAIT_OBJECT_0 + 2) {
        // Kept in mind, so the worker watches on after this batch as the
        // still-signalled event would have had it.
        ::ResetEvent(ResumeEvent());
        resumed = true;
        found = Armed() && !filter_.Pending().empty();
      } else if (r == WAIT_TIMEOUT) {
        found = GetData();
      } else {
        return;  // stopped, or the wait failed
      }
    }
    if (!Notify()) return;
    // Drain a burst while a batch can still go out; once one is published
    // and unread, what follows waits in the notification, not in a loop here.
    while (Armed()) {
      if (StopSignalled()) return;
      if (!GetData()) break;
      if (!Notify()) return;
    }
  }
}

unsigned __stdcall ntFilesThread(void* arg) {
  std::unique_ptr<std::shared_ptr<EventSource>> owned(static_cast<std::shared_ptr<EventSource>*>(arg));
  auto* source = owned ? dynamic_cast<FileWatchSource*>(owned->get()) : nullptr;
  trace::StartWorker("ASYNC NTFILES Thread");
  // Nothing may leave a thread procedure: it would end the host process.
  try {
    if (source) {
      source->Run();
    } else {
      Trace("null pv\n");
    }
  } catch (...) {
    Trace("worker ended: out of memory\n");
  }
  owned.reset();  // the worker's share of the source
  return 0;
}

}  // namespace brisel
