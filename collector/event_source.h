// The collector worker and the source it drives. A watcher object and its
// worker hand batches back and forth through three manual-reset events:
// resume (script to worker), stop (object to worker), data-ready (worker to script).
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "collector/error_state.h"
#include "module/collection.h"
#include "module/com.h"

namespace brisel {

class EventSource : public ErrorState {
 public:
  static constexpr DWORD kPollTimeoutMs = 30000;
  static constexpr DWORD kBacklogDelayMs = 2000;

  explicit EventSource(std::shared_ptr<ItemCollection> owner);
  ~EventSource() override;
  EventSource(const EventSource&) = delete;
  EventSource& operator=(const EventSource&) = delete;

  // False when the three events could not be created.
  bool Valid() const noexcept { return resume_ && stop_ && ready_; }

  // Worker side, in the order the worker calls them.
  virtual bool Exec() = 0;
  virtual bool GetData() { return true; }
  virtual bool Wait(DWORD timeout_ms);
  virtual bool Publish();
  virtual bool Notify();

  // Script side.
  LONG Resume() noexcept;  // signals resume; gives the data-ready handle
  LONG Reset() noexcept;   // drops the batch, resumes; gives 1
  void Stop() noexcept;
  void DropRecords() noexcept;

  // The worker's poll interval; tests shorten it.
  DWORD PollTimeout() const noexcept { return poll_timeout_ms_; }
  void SetPollTimeout(DWORD ms) noexcept { poll_timeout_ms_ = ms; }
  void SetBacklogDelay(DWORD ms) noexcept { backlog_delay_ms_ = ms; }

  HANDLE ReadyEvent() const noexcept { return ready_.Get(); }
  // Set with the stop event; cheap enough to test between two records.
  const std::atomic<bool>& StopFlag() const noexcept { return stopping_; }

 protected:
  bool StopSignalled() const noexcept;
  HANDLE StopEvent() const noexcept { return stop_.Get(); }
  HANDLE ResumeEvent() const noexcept { return resume_.Get(); }

  // Records of the batch: guarded so that a reset from the script thread
  // never frees records the worker is using.
  std::unique_lock<std::mutex> LockRecords() { return std::unique_lock(records_lock_); }
  virtual size_t RecordCount() const = 0;
  virtual void ClearRecords() noexcept = 0;
  // True when the filter drops record i.
  virtual bool Rejected(size_t index) = 0;
  // Item factory: the automation object for record i.
  virtual HRESULT MakeItem(size_t index, ComPtr<IDispatch>* item) = 0;
  // True while some input still has unread entries.
  virtual bool HasBacklog() { return false; }

  // Handles watched besides the stop event; owned by the concrete source.
  std::vector<HANDLE> wait_handles_;

 private:
  std::shared_ptr<ItemCollection> owner_;
  UniqueEvent resume_;
  UniqueEvent stop_;
  UniqueEvent ready_;
  std::mutex records_lock_;
  std::atomic<bool> stopping_{false};
  std::atomic<DWORD> poll_timeout_ms_{kPollTimeoutMs};
  std::atomic<DWORD> backlog_delay_ms_{kBacklogDelayMs};
};

using ThreadProc = unsigned(__stdcall*)(void*);

// The watcher object's hold on its worker thread. The source is shared: the
// worker drops its reference when it ends, the object when it goes, so
// neither ever reaches a destroyed source.
class WorkerThread {
 public:
  WorkerThread() = default;
  ~WorkerThread() { Stop(); }
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  HRESULT Start(ThreadProc proc, std::shared_ptr<EventSource> source);
  // Signals stop and waits for the thread without time limit.
  void Stop() noexcept;
  bool Running() const noexcept;
  HANDLE Handle() const noexcept { return thread_.Get(); }

 private:
  std::shared_ptr<EventSource> source_;
  UniqueKernelHandle thread_;
};

// Thread procedure of the event-log style worker; the argument is a heap
// std::shared_ptr<EventSource> that the thread takes over.
unsigned __stdcall ntEventLogThread(void* arg);

}  // namespace brisel
