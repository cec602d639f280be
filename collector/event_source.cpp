#include "collector/event_source.h"

#include <process.h>

#include "trace/trace.h"

namespace brisel {

EventSource::EventSource(std::shared_ptr<ItemCollection> owner)
    : owner_(std::move(owner)),
      resume_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      stop_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      ready_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

EventSource::~EventSource() = default;

bool EventSource::StopSignalled() const noexcept { return ::WaitForSingleObject(stop_.Get(), 0) == WAIT_OBJECT_0; }

bool EventSource::Wait(DWORD timeout_ms) {
  HANDLE idle[2] = {resume_.Get(), stop_.Get()};
  DWORD r = ::WaitForMultipleObjects(2, idle, FALSE, INFINITE);
  if (r != WAIT_OBJECT_0) return false;
  ::ResetEvent(resume_.Get());

  if (HasBacklog()) return ::WaitForSingleObject(stop_.Get(), backlog_delay_ms_) == WAIT_TIMEOUT;

  std::vector<HANDLE> list;
  try {
    list.reserve(wait_handles_.size() + 1);
    list.push_back(stop_.Get());
    list.insert(list.end(), wait_handles_.begin(), wait_handles_.end());
  } catch (...) {
    return false;
  }
  // Above 64 handles the wait itself fails, which ends the worker.
  r = ::WaitForMultipleObjects(static_cast<DWORD>(list.size()), list.data(), FALSE, timeout_ms);
  if (r == WAIT_TIMEOUT) return true;
  if (r > WAIT_OBJECT_0 && r < WAIT_OBJECT_0 + list.size()) {
    ::ResetEvent(list[r - WAIT_OBJECT_0]);
    return true;
  }
  return false;
}

bool EventSource::Publish() {
  if (StopSignalled()) return false;
  ItemCollection::Items items;
  {
    auto lock = LockRecords();
    for (size_t i = 0; i < RecordCount(); ++i) {
      // A record that cannot be tested or made into an item is left out;
      // the batch goes out without it.
      try {
        if (Rejected(i)) continue;
        ComPtr<IDispatch> item;
        if (FAILED(MakeItem(i, &item)) || !item) continue;
        items.emplace_back(item.Get());
      } catch (...) {
      }
    }
  }
  try {
    owner_->Replace(std::move(items));
  } catch (...) {
    owner_->Clear();
  }
  return true;
}

bool EventSource::Notify() {
  if (StopSignalled()) return false;
  Publish();
  ::SetEvent(ready_.Get());
  return true;
}

LONG EventSource::Resume() noexcept {
  ::SetEvent(resume_.Get());
  // The handle travels as a 32-bit integer; kernel handles fit in 32 bits.
  return static_cast<LONG>(reinterpret_cast<LONG_PTR>(ready_.Get()));
}

void EventSource::DropRecords() noexcept {
  auto lock = LockRecords();
  ClearRecords();
}

LONG EventSource::Reset() noexcept {
  DropRecords();
  owner_->Clear();
  ::ResetEvent(ready_.Get());
  ::SetEvent(resume_.Get());
  return 1;
}

void EventSource::Stop() noexcept {
  stopping_ = true;
  ::SetEvent(stop_.Get());
}

HRESULT WorkerThread::Start(ThreadProc proc, std::shared_ptr<EventSource> source) {
  if (!source || !source->Valid()) return E_OUTOFMEMORY;
  auto* arg = new (std::nothrow) std::shared_ptr<EventSource>(source);
  if (!arg) return E_OUTOFMEMORY;
  uintptr_t h = ::_beginthreadex(nullptr, 0, proc, arg, 0, nullptr);
  if (h == 0) {
    // The runtime may fail without a system error code; never S_OK then.
    DWORD error = ::GetLastError();
    delete arg;
    return error != ERROR_SUCCESS ? HRESULT_FROM_WIN32(error) : E_OUTOFMEMORY;
  }
  thread_.Reset(reinterpret_cast<HANDLE>(h));
  source_ = std::move(source);
  return S_OK;
}

void WorkerThread::Stop() noexcept {
  if (!thread_) return;
  if (source_) source_->Stop();
  ::WaitForSingleObject(thread_.Get(), INFINITE);
  thread_.Reset();
  source_.reset();
}

bool WorkerThread::Running() const noexcept {
  return thread_ && ::WaitForSingleObject(thread_.Get(), 0) == WAIT_TIMEOUT;
}

namespace {

void Trace(const char* text) noexcept {
  if (tvDebugLevel > 0) tvDebugPrint(1, text);
}

// The worker's loop. An allocation failure in a pass drops that pass: the
// script still gets its (empty) batch and the worker goes on.
void RunSource(EventSource& source) {
  if (!source.Exec()) {
    Trace("Exec failed\n");
    return;
  }
  for (;;) {
    if (!source.Wait(source.PollTimeout())) {
      Trace("Wait failed\n");
      return;
    }
    bool collected = false;
    try {
      collected = source.GetData();
    } catch (...) {
      Trace("GetData: out of memory, pass dropped\n");
      source.DropRecords();
      collected = true;
    }
    if (!collected) {
      Trace("GetData failed\n");
      return;
    }
    if (!source.Notify()) {
      Trace("Notify failed\n");
      return;
    }
  }
}

}  // namespace

unsigned __stdcall ntEventLogThread(void* arg) {
  std::unique_ptr<std::shared_ptr<EventSource>> owned(static_cast<std::shared_ptr<EventSource>*>(arg));
  trace::StartWorker("ASYNC Thread");
  // Nothing may leave a thread procedure: it would end the host process.
  try {
    Trace("Enter ntEventLogThread\n");
    if (!owned || !*owned) {
      Trace("null pv\n");
    } else {
      RunSource(**owned);
    }
  } catch (...) {
    Trace("worker ended: out of memory\n");
  }
  owned.reset();  // the worker's share of the source
  Trace("Exit ntEventLogThread\n");
  return 0;
}

}  // namespace brisel
