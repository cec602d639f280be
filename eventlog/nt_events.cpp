#include "eventlog/nt_events.h"

#include "collector/strings.h"
#include "eventlog/log_reader.h"
#include "module/module.h"
#include "trace/trace.h"

namespace brisel {

namespace {

HRESULT CopyText(const std::wstring& text, BSTR* out) {
  if (!out) return E_POINTER;
  *out = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}

}  // namespace

STDMETHODIMP NtEvent::get_Message(BSTR* out) { return CopyText(record.Message, out); }
STDMETHODIMP NtEvent::get_ComputerName(BSTR* out) { return CopyText(record.ComputerName, out); }
STDMETHODIMP NtEvent::get_SourceName(BSTR* out) { return CopyText(record.SourceName, out); }
STDMETHODIMP NtEvent::get_EventCode(BSTR* out) { return CopyText(record.EventCode, out); }
STDMETHODIMP NtEvent::get_Category(BSTR* out) { return CopyText(record.Category, out); }
STDMETHODIMP NtEvent::get_Type(BSTR* out) { return CopyText(record.Type, out); }
STDMETHODIMP NtEvent::get_Logfile(BSTR* out) { return CopyText(record.Logfile, out); }
STDMETHODIMP NtEvent::get_UserName(BSTR* out) { return CopyText(record.UserName, out); }
STDMETHODIMP NtEvent::get_Help(BSTR* out) { return CopyText(record.Help, out); }

STDMETHODIMP NtEvent::get_CreationTime(DATE* out) {
  if (!out) return E_POINTER;
  *out = record.CreationTime;
  return S_OK;
}

STDMETHODIMP NtEvent::get_CreationTimeString(BSTR* out) {
  if (!out) return E_POINTER;
  const SYSTEMTIME& t = record.CreationSystemTime;
  std::wstring text;
  try {
    if (!FormatW(&text, L"%d:%d:%d:%d:%d:%d:%d", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond,
                 t.wMilliseconds))
      return E_OUTOFMEMORY;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  return CopyText(text, out);
}

HRESULT NtEvents::Startup() noexcept {
  EnableSecurityPrivilege();
  try {
    source_ = std::make_shared<EventLogSource>(items_);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  HRESULT hr = worker_.Start(&ntEventLogThread, source_);
  if (FAILED(hr)) return hr;
  // Loads the type information while the object is made, not at the first call.
  DISPID id;
  LPOLESTR name = const_cast<LPOLESTR>(L"SetFilter");
  GetIDsOfNames(IID_NULL, &name, 1, LOCALE_SYSTEM_DEFAULT, &id);
  return S_OK;
}

STDMETHODIMP NtEvents::get_Event(LONG* out) {
  if (!out) return E_POINTER;
  *out = source_->Resume();
  return S_OK;
}

STDMETHODIMP NtEvents::GetEvent(LONG* out) { return get_Event(out); }

STDMETHODIMP NtEvents::SetFilter(BSTR name, BSTR value, VARIANT* error_text, LONG* result) {
  if (!result) return E_POINTER;
  try {
    *result = source_->SetFilter(Bstr::View(name), Bstr::View(value));
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  SetOutText(error_text, L"");
  return S_OK;
}

STDMETHODIMP NtEvents::SetFilterRX(BSTR name, BSTR value, VARIANT* error_text, LONG* result) {
  if (!result) return E_POINTER;
  try {
    std::wstring errors;
    *result = source_->SetFilterRX(Bstr::View(name), Bstr::View(value), &errors);
    SetOutText(error_text, errors);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

STDMETHODIMP NtEvents::SetFilterFile(BSTR file_type, BSTR file_name, VARIANT* error_text, LONG* result) {
  if (!result) return E_POINTER;
  try {
    std::wstring errors;
    *result = source_->SetFilterFile(Bstr::View(file_type), std::wstring(Bstr::View(file_name)), &errors);
    SetOutText(error_text, errors);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

STDMETHODIMP NtEvents::ResetEvent(VARIANT* error_text, LONG* result) {
  if (!result) return E_POINTER;
  *result = source_->Reset();
  SetOutText(error_text, L"");
  return S_OK;
}

STDMETHODIMP NtEvents::WriteEventToEventLog(LONG job_id, LONG count, BSTR text) {
  if (tvDebugLevel != 0)
    tvDebugPrint(1, "Job ID %u, gcount %u createtime %S\n", static_cast<unsigned>(job_id), static_cast<unsigned>(count),
                 text ? text : L"");
  return S_OK;
}

}  // namespace brisel
