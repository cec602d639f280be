// NtEvents: a script's watch on the event logs; NtEvent: one published entry.
#pragma once

#include <memory>

#include "collector/event_source.h"
#include "eventlog/event_record.h"
#include "module/brisel_h.h"
#include "module/collection.h"
#include "module/object.h"

namespace brisel {

class EventLogSource;

class NtEvent final : public DispatchObject<NtEvent, INtEvent> {
 public:
  STDMETHODIMP get_Message(BSTR* out) override;
  STDMETHODIMP get_ComputerName(BSTR* out) override;
  STDMETHODIMP get_SourceName(BSTR* out) override;
  STDMETHODIMP get_EventCode(BSTR* out) override;
  STDMETHODIMP get_Category(BSTR* out) override;
  STDMETHODIMP get_Type(BSTR* out) override;
  STDMETHODIMP get_Logfile(BSTR* out) override;
  STDMETHODIMP get_UserName(BSTR* out) override;
  STDMETHODIMP get_CreationTime(DATE* out) override;
  STDMETHODIMP get_Help(BSTR* out) override;
  STDMETHODIMP get_CreationTimeString(BSTR* out) override;

  EventRecord record;  // filled once, before the item is published
};

class NtEvents final : public CollectionObject<NtEvents, INtEvents> {
 public:
  HRESULT Startup() noexcept;  // builds the source and starts its worker

  STDMETHODIMP get_Event(LONG* out) override;
  STDMETHODIMP SetFilter(BSTR name, BSTR value, VARIANT* error_text, LONG* result) override;
  STDMETHODIMP ResetEvent(VARIANT* error_text, LONG* result) override;
  STDMETHODIMP GetEvent(LONG* out) override;
  STDMETHODIMP SetFilterFile(BSTR file_type, BSTR file_name, VARIANT* error_text, LONG* result) override;
  STDMETHODIMP SetFilterRX(BSTR name, BSTR value, VARIANT* error_text, LONG* result) override;
  STDMETHODIMP WriteEventToEventLog(LONG job_id, LONG count, BSTR text) override;

  // For tests: the source behind the object.
  EventLogSource* Source() const noexcept { return source_.get(); }
  bool WorkerRunning() const noexcept { return worker_.Running(); }

 private:
  // Shared with the worker, so it outlives whichever of the two ends last.
  std::shared_ptr<EventLogSource> source_;
  // Declared last: destroyed first, stopping and joining the worker.
  WorkerThread worker_;
};

}  // namespace brisel
