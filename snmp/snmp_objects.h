// SnmpEvents (the watcher a script creates) and the read-only trap items
// SnmpEvent, SnmpVarbindList and SnmpVarbind.
#pragma once

#include <memory>
#include <string>

#include "module/brisel_h.h"
#include "module/collection.h"
#include "module/object.h"
#include "snmp/trap_source.h"

namespace brisel {

class SnmpVarbind final : public DispatchObject<SnmpVarbind, ISnmpVarbind> {
 public:
  STDMETHODIMP get_ObjectIdentifier(BSTR* out) override;
  STDMETHODIMP get_Encoding(BSTR* out) override;
  STDMETHODIMP get_Value(BSTR* out) override;

  VarbindRecord record;
};

class SnmpVarbindList final : public CollectionObject<SnmpVarbindList, ISnmpVarbindList> {
 public:
  // One SnmpVarbind per binding, in order; one that cannot be made is left out.
  void Fill(const std::vector<std::unique_ptr<VarbindRecord>>& bindings);
};

class SnmpEvent final : public DispatchObject<SnmpEvent, ISnmpEvent> {
 public:
  // An event with an empty record and its (empty) varbind list.
  static HRESULT Create(ComPtr<SnmpEvent>* out) noexcept;

  STDMETHODIMP get_AgentAddress(BSTR* out) override;
  STDMETHODIMP get_Community(BSTR* out) override;
  STDMETHODIMP get_TimeStamp(LONG* out) override;
  STDMETHODIMP get_Identification(BSTR* out) override;
  STDMETHODIMP get_SnmpVarbindList(IDispatch** out) override;
  STDMETHODIMP get_Generic(LONG* out) override;
  STDMETHODIMP get_Specific(LONG* out) override;
  STDMETHODIMP get_TransportAddress(BSTR* out) override;

  // Filled once by the trap source before the event is published.
  TrapRecord& Record() noexcept { return record_; }
  void FillVarbindList() { list_->Fill(record_.Varbinds); }

 private:
  TrapRecord record_;
  ComPtr<SnmpVarbindList> list_;
};

// Ties one SnmpEvents object to the process's dispatcher.
class SnmpEventSink : public ErrorState {
 public:
  static constexpr const wchar_t* kTrapServiceKey = L"SYSTEM\\CurrentControlSet\\Services\\SNMPTrap";

  // Without the trap service's key the sink has no watcher. Throws when it
  // cannot be set up.
  explicit SnmpEventSink(std::shared_ptr<ItemCollection> items);
  ~SnmpEventSink() override;
  SnmpEventSink(const SnmpEventSink&) = delete;
  SnmpEventSink& operator=(const SnmpEventSink&) = delete;

  bool HasWatcher() const noexcept { return watcher_ != nullptr; }
  // Registers the watcher, starts the worker once per process; the data
  // event's handle, 0 without watcher, -1 when 64 watchers are registered.
  LONG StartWatching();
  LONG SetFilter(std::wstring_view name, std::wstring_view value);
  void Acknowledge() noexcept;
  const std::shared_ptr<TrapWatcher>& Watcher() const noexcept { return watcher_; }

 private:
  std::shared_ptr<TrapDispatcher> dispatcher_;
  std::shared_ptr<TrapWatcher> watcher_;
};

class SnmpEvents final : public CollectionObject<SnmpEvents, ISnmpEvents> {
 public:
  HRESULT Startup() noexcept;

  STDMETHODIMP get_Event(LONG* out) override;
  STDMETHODIMP SetFilter(BSTR name, BSTR value, VARIANT* error_text, LONG* result) override;
  STDMETHODIMP ResetEvent(VARIANT* error_text, LONG* result) override;
  STDMETHODIMP GetEvent(LONG* out) override;
  STDMETHODIMP SnmpMgrStrToOid(BSTR ode, VARIANT* oid, LONG* retcode) override;
  STDMETHODIMP WriteEventToEventLog(LONG job_id, LONG count, BSTR text) override;
  STDMETHODIMP TVSnmpMgrOidToStr(BSTR oid_nums, VARIANT* oid_desc, LONG* retcode) override;

  SnmpEventSink* Sink() const noexcept { return sink_.get(); }

 private:
  // Set once by Startup, null only when it could not be made.
  std::unique_ptr<SnmpEventSink> sink_;
};

}  // namespace brisel
