#include "snmp/trap_source.h"

#include <process.h>

#include <algorithm>

#include "collector/strings.h"
#include "snmp/snmp_api.h"
#include "snmp/snmp_objects.h"
#include "snmp/varbind.h"
#include "trace/trace.h"

namespace brisel {

void TrapRecord::CopyFieldsFrom(const TrapRecord& other) {
  TimeStamp = other.TimeStamp;
  Generic = other.Generic;
  Specific = other.Specific;
  AgentAddress = other.AgentAddress;
  TransportAddress = other.TransportAddress;
  Community = other.Community;
  Identification = other.Identification;
}

bool TrapSource::Wait(DWORD timeout_ms) {
  if (!wait_handle_) return false;
  // A handle that cannot be waited on would make the worker spin.
  if (::WaitForSingleObject(wait_handle_.Get(), timeout_ms) == WAIT_FAILED) return false;
  ::ResetEvent(wait_handle_.Get());
  return true;
}

bool TrapSource::Publish(TrapWatcher& watcher) {
  ItemCollection::Items items;
  for (const auto& record : pending_) {
    if (watcher.Rejects(*record)) {
      rejected_ = true;
      continue;
    }
    ComPtr<SnmpEvent> event;
    if (FAILED(SnmpEvent::Create(&event))) continue;
    try {
      for (const auto& binding : record->Varbinds) {
        try {
          event->Record().Varbinds.push_back(std::make_unique<VarbindRecord>(*binding));
        } catch (...) {  // that binding is left out
        }
      }
      event->FillVarbindList();
      event->Record().CopyFieldsFrom(*record);
      items.emplace_back(static_cast<IDispatch*>(static_cast<ISnmpEvent*>(event.Get())));
    } catch (...) {
    }
  }
  try {
    watcher.Owner().Replace(std::move(items));
  } catch (...) {
    watcher.Owner().Clear();
  }
  return true;
}

namespace {

// What SnmpMgrGetTrapEx hands out, freed as the API asks once copied.
struct DeliveredTrap {
  AsnObjectIdentifier enterprise{};
  AsnOctetString agent{};
  AsnOctetString source{};
  AsnInteger generic = 0;
  AsnInteger specific = 0;
  AsnOctetString community{};
  AsnTimeticks time_stamp = 0;
  SnmpVarBindList bindings{};

  DeliveredTrap() = default;
  DeliveredTrap(const DeliveredTrap&) = delete;
  DeliveredTrap& operator=(const DeliveredTrap&) = delete;
  ~DeliveredTrap() {
    for (AsnOctetString* octets : {&agent, &source, &community}) {
      if (octets->dynamic && octets->stream) ::SnmpUtilMemFree(octets->stream);
    }
    ::SnmpUtilVarBindListFree(&bindings);
    ::SnmpUtilOidFree(&enterprise);
  }
};

}  // namespace

bool SnmpMgrTrapSource::Exec() {
  HANDLE handle = nullptr;
  if (SnmpMgr().TrapListen(&handle)) {
    wait_handle_.Reset(handle);
    return true;
  }
  DWORD code = ::GetLastError();
  SetErrorCode(static_cast<LONG>(code));
  std::wstring message;
  if (FormatW(&message, L"%d\n", static_cast<int>(code))) SetErrorMessage(message);
  return false;
}

bool SnmpMgrTrapSource::GetData() {
  std::unique_ptr<TrapRecord> record(new (std::nothrow) TrapRecord);
  pending_.clear();
  DeliveredTrap trap;
  BOOL got = SnmpMgr().GetTrapEx(&trap.enterprise, &trap.agent, &trap.source, &trap.generic, &trap.specific,
                                 &trap.community, &trap.time_stamp, &trap.bindings);
  if (!got) {
    // Nothing was handed out: nothing to free.
    trap.bindings = {};
    trap.enterprise = {};
    trap.agent = trap.source = trap.community = {};
    return false;
  }
  // From here on a trap was taken: true, so the queue behind it is drained
  // even when this one is dropped (nothing pending, its memory freed).
  if (!record) return true;
  try {
    OidToText(trap.enterprise.idLength, trap.enterprise.ids, &record->Identification);
    record->AgentAddress = AddressText(trap.agent);
    record->TransportAddress = AddressText(trap.source);
    record->TimeStamp = trap.time_stamp;
    record->Generic = trap.generic;
    record->Specific = trap.specific;
    if (trap.community.stream) {
      // Octets as characters of the same code, as the varbind texts show them.
      record->Community.assign(trap.community.stream, trap.community.stream + trap.community.length);
    }
    if (trap.bindings.list) {
      for (UINT i = 0; i < trap.bindings.len; ++i) {
        std::unique_ptr<VarbindRecord> binding(new (std::nothrow) VarbindRecord);
        if (!binding) continue;
        FormatVarbind(trap.bindings.list[i], &binding->ObjectIdentifier, &binding->Encoding, &binding->Value);
        record->Varbinds.push_back(std::move(binding));
      }
    }
    pending_.push_back(std::move(record));
  } catch (...) {
    pending_.clear();
  }
  return true;
}

TrapWatcher::TrapWatcher(std::shared_ptr<ItemCollection> owner)
    : data_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      ack_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      owner_(std::move(owner)) {}

LONG TrapWatcher::SetFilter(std::wstring_view name, std::wstring_view value) {
  std::lock_guard lock(filter_lock_);
  return filter_.SetFilter(name, value);
}

bool TrapWatcher::Rejects(const TrapRecord& record) const {
  std::lock_guard lock(filter_lock_);
  return filter_.Filter(record);
}

void TrapWatcher::Acknowledge() noexcept {
  ::ResetEvent(data_.Get());
  ::SetEvent(ack_.Get());
}

const std::shared_ptr<TrapDispatcher>& TrapDispatcher::Instance() {
  static const std::shared_ptr<TrapDispatcher> instance = std::make_shared<TrapDispatcher>();
  return instance;
}

bool TrapDispatcher::Register(const std::shared_ptr<TrapWatcher>& watcher) {
  if (!watcher) return false;
  std::lock_guard lock(lock_);
  // One already registered stays so, also when the table is full.
  if (std::find(watchers_.begin(), watchers_.end(), watcher) != watchers_.end()) return true;
  if (watchers_.size() >= kMaxWatchers) return false;
  try {
    watchers_.push_back(watcher);
  } catch (...) {
    return false;
  }
  return true;
}

bool TrapDispatcher::Unregister(const TrapWatcher* watcher) {
  std::lock_guard lock(lock_);
  auto it = std::find_if(watchers_.begin(), watchers_.end(), [&](const auto& w) { return w.get() == watcher; });
  if (it != watchers_.end()) watchers_.erase(it);
  return true;
}

size_t TrapDispatcher::WatcherCount() const {
  std::lock_guard lock(lock_);
  return watchers_.size();
}

bool TrapDispatcher::IsRegistered(const TrapWatcher* watcher) const {
  std::lock_guard lock(lock_);
  return std::any_of(watchers_.begin(), watchers_.end(), [&](const auto& w) { return w.get() == watcher; });
}

bool TrapDispatcher::Notify(TrapSource& source) {
  // The watchers told of this trap; holding them keeps their events valid
  // through the acknowledgement wait even when their objects go.
  std::vector<std::shared_ptr<TrapWatcher>> told;
  {
    std::lock_guard lock(lock_);
    try {
      told.reserve(watchers_.size());
    } catch (...) {
    }
    for (const auto& watcher : watchers_) {
      source.Publish(*watcher);
      ::ResetEvent(watcher->AckEvent());
      LONG count = 0;
      watcher->Owner().Count(&count);
      bool signal = count > 0;
      if (!signal) {
        signal = source.IsRejected();
        source.SetRejected(false);
      }
      // A watcher not prompted to look cannot be expected to acknowledge.
      if (!signal) continue;
      ::SetEvent(watcher->DataEvent());
      if (told.size() < told.capacity()) told.push_back(watcher);
    }
  }
  // Rebuilt each round: watchers that left are no longer waited for.
  for (;;) {
    HANDLE handles[kMaxWatchers];
    DWORD n = 0;
    {
      std::lock_guard lock(lock_);
      for (const auto& watcher : told) {
        if (std::find(watchers_.begin(), watchers_.end(), watcher) != watchers_.end()) handles[n++] = watcher->AckEvent();
      }
    }
    if (n == 0) break;
    if (source.WaitAcknowledgements(n, handles, ack_wait_ms_) != WAIT_TIMEOUT) break;
    source.Pause(ack_sleep_ms_);
  }
  return true;
}

namespace {

std::mutex g_start_lock;
std::atomic<DWORD> g_worker_thread_id{0};

}  // namespace

bool StartTrapWorker(const std::shared_ptr<TrapDispatcher>& dispatcher) {
  std::lock_guard lock(g_start_lock);
  if (g_worker_thread_id != 0) return true;
  // The worker never ends: keep its code loaded for the rest of the process.
  HMODULE self = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&SnmpTrapThread), &self);
  auto* arg = new (std::nothrow) std::shared_ptr<TrapDispatcher>(dispatcher);
  if (!arg) return false;
  unsigned id = 0;
  UniqueKernelHandle thread(reinterpret_cast<HANDLE>(::_beginthreadex(nullptr, 0, &SnmpTrapThread, arg, 0, &id)));
  if (!thread) {
    delete arg;
    return false;
  }
  g_worker_thread_id = id;
  return true;
}

DWORD TrapWorkerThreadId() noexcept { return g_worker_thread_id; }

unsigned __stdcall SnmpTrapThread(void* arg) {
  std::unique_ptr<std::shared_ptr<TrapDispatcher>> owned(static_cast<std::shared_ptr<TrapDispatcher>*>(arg));
  if (!owned || !*owned) return 0;
  TrapDispatcher& dispatcher = **owned;
  // Nothing may escape a thread; and as the one trap worker of the process
  // it outlives an allocation failure, which costs only the trap at hand.
  try {
    trace::StartWorker("ASYNC SNMPEVENT Thread");
  } catch (...) {
  }
  std::unique_ptr<TrapSource> source;
  try {
    source = MakeTrapSource();
    if (!source->Exec()) return 0;
  } catch (...) {
    return 0;
  }
  for (;;) {
    if (!source->Wait(INFINITE)) return 0;
    // Every trap queued so far, one delivery each; one that cannot be
    // decoded or delivered is lost, the ones behind it are not.
    for (;;) {
      try {
        if (!source->GetData()) break;
        if (!source->Pending().empty() && !dispatcher.Notify(*source)) return 0;
      } catch (...) {
        if (tvDebugLevel > 0) tvDebugPrint(1, "SNMP trap dropped: out of memory\n");
      }
    }
  }
}

}  // namespace brisel
