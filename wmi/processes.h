// Processes: a snapshot of the running processes, taken from WMI at creation.
#pragma once

#include <wbemcli.h>

#include <string>

#include "module/brisel_h.h"
#include "module/collection.h"
#include "module/object.h"

namespace brisel {

class ProcessItem final : public DispatchObject<ProcessItem, IProcess> {
 public:
  STDMETHODIMP get_Name(BSTR* out) override;
  STDMETHODIMP get_ProcessId(LONG* out) override;
  STDMETHODIMP get_ThreadCount(LONG* out) override;
  STDMETHODIMP get_HandleCount(LONG* out) override;

  std::wstring name;
  LONG process_id = 0;
  LONG thread_count = 0;
  LONG handle_count = 0;
};

class ProcessList final : public CollectionObject<ProcessList, IProcesses> {
 public:
  HRESULT Startup() noexcept;  // takes the snapshot
};

// Reads one 32-bit property; a property that is missing, empty or not a number gives 0.
LONG ReadWmiLong(IWbemClassObject* object, const wchar_t* name);

}  // namespace brisel
