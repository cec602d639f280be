// Trap delivery: one worker per process fetches traps from the SNMP
// Management API and the process-wide TrapDispatcher hands each one to every
// registered watcher, then waits until all of them have acknowledged it.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "collector/error_state.h"
#include "module/collection.h"
#include "module/com.h"
#include "snmp/trap_filter.h"

namespace brisel {

class VarbindRecord : public ErrorState {
 public:
  std::wstring ObjectIdentifier;
  std::wstring Encoding;
  std::wstring Value;
};

class TrapRecord : public ErrorState {
 public:
  // The seven fields before Varbinds; the bindings are not copied.
  void CopyFieldsFrom(const TrapRecord& other);

  DWORD TimeStamp = 0;
  LONG Generic = 0;
  LONG Specific = 0;
  std::wstring AgentAddress;
  std::wstring TransportAddress;
  std::wstring Community;
  std::wstring Identification;
  std::vector<std::unique_ptr<VarbindRecord>> Varbinds;
};

class TrapWatcher;

class TrapSource : public ErrorState {
 public:
  TrapSource() = default;
  TrapSource(const TrapSource&) = delete;
  TrapSource& operator=(const TrapSource&) = delete;

  virtual bool Exec() = 0;
  virtual bool GetData() { return true; }
  bool IsRejected() const noexcept { return rejected_; }
  void SetRejected(bool rejected) noexcept { rejected_ = rejected; }
  // Waits for the trap-available event and resets it. False when there is no
  // event or the wait fails.
  virtual bool Wait(DWORD timeout_ms);
  // Replaces the watcher's collection with the pending trap, or with nothing
  // when its filter rejects it (then sets the rejected flag).
  virtual bool Publish(TrapWatcher& watcher);
  // The dispatcher's acknowledgement wait (all handles, a WaitForMultipleObjects
  // result) and its pause after a wait that timed out; a source that must go
  // on reading while the watchers look at a trap does so here.
  virtual DWORD WaitAcknowledgements(DWORD count, const HANDLE* handles, DWORD timeout_ms) {
    return ::WaitForMultipleObjects(count, handles, TRUE, timeout_ms);
  }
  virtual void Pause(DWORD ms) { ::Sleep(ms); }

  const std::vector<std::unique_ptr<TrapRecord>>& Pending() const noexcept { return pending_; }

 protected:
  std::vector<std::unique_ptr<TrapRecord>> pending_;  // at most one
  UniqueEvent wait_handle_;

 private:
  bool rejected_ = false;
};

// The source on the SNMP Management API (through the SnmpMgr() table).
class SnmpMgrTrapSource : public TrapSource {
 public:
  bool Exec() override;
  bool GetData() override;
};

// Delivery state of one SnmpEvents object. Shared by the object and the
// dispatcher, so a watcher released while a trap is out stays valid until
// the dispatcher lets go of it.
class TrapWatcher : public ErrorState {
 public:
  explicit TrapWatcher(std::shared_ptr<ItemCollection> owner);
  TrapWatcher(const TrapWatcher&) = delete;
  TrapWatcher& operator=(const TrapWatcher&) = delete;

  bool Valid() const noexcept { return data_ && ack_; }
  HANDLE DataEvent() const noexcept { return data_.Get(); }
  HANDLE AckEvent() const noexcept { return ack_.Get(); }
  ItemCollection& Owner() const noexcept { return *owner_; }

  // The filter is set from script threads and read by the worker.
  LONG SetFilter(std::wstring_view name, std::wstring_view value);
  bool Rejects(const TrapRecord& record) const;

  // ResetEvent: the script is done with the trap.
  void Acknowledge() noexcept;

 private:
  UniqueEvent data_;
  UniqueEvent ack_;
  std::shared_ptr<ItemCollection> owner_;
  mutable std::mutex filter_lock_;
  CSnmpEventSinkFilter filter_;
};

class TrapDispatcher : public ErrorState {
 public:
  static constexpr size_t kMaxWatchers = MAXIMUM_WAIT_OBJECTS;
  static constexpr DWORD kAckWaitMs = 10000;
  static constexpr DWORD kAckSleepMs = 10000;

  // The one dispatcher of the process. Shared with the trap worker, which
  // may outlive the module's static objects at process exit.
  static const std::shared_ptr<TrapDispatcher>& Instance();

  // False only for a new watcher while 64 are registered.
  bool Register(const std::shared_ptr<TrapWatcher>& watcher);
  bool Unregister(const TrapWatcher* watcher);
  // Publishes the source's pending trap to every watcher and waits until
  // every one that received it has acknowledged it or is gone.
  bool Notify(TrapSource& source);

  size_t WatcherCount() const;
  bool IsRegistered(const TrapWatcher* watcher) const;

  // The acknowledgement wait and the pause after a wait that timed out;
  // tests shorten them.
  void SetAckIntervals(DWORD wait_ms, DWORD sleep_ms) noexcept {
    ack_wait_ms_ = wait_ms;
    ack_sleep_ms_ = sleep_ms;
  }

 private:
  mutable std::mutex lock_;
  std::vector<std::shared_ptr<TrapWatcher>> watchers_;
  std::atomic<DWORD> ack_wait_ms_{kAckWaitMs};
  std::atomic<DWORD> ack_sleep_ms_{kAckSleepMs};
};

// The source the worker drives: the built-in receiver when the registry
// enables it, else the SNMP Management API. Throws when out of memory.
std::unique_ptr<TrapSource> MakeTrapSource();
// Whether the registry enables the built-in receiver (then the platform's
// trap service is not needed).
bool TrapReceiverEnabled();

// Starts the process's trap worker on the dispatcher unless it runs already;
// the test and the start are one step. False when the thread could not be
// started (a later call tries again).
bool StartTrapWorker(const std::shared_ptr<TrapDispatcher>& dispatcher);
// Thread id of the worker, 0 before it was started.
DWORD TrapWorkerThreadId() noexcept;

// Thread procedure; the argument is a heap std::shared_ptr<TrapDispatcher>
// that the thread takes over.
unsigned __stdcall SnmpTrapThread(void* arg);

}  // namespace brisel
