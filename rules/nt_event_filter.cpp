#include "rules/nt_event_filter.h"

#include <new>
#include <string>

namespace brisel {

namespace {

std::wstring Text(BSTR b) { return std::wstring(Bstr::View(b)); }

}  // namespace

void NtEventFilterObject::LoadFile(BSTR file_name, VARIANT* error_text) {
  std::wstring errors;
  filter_.SetFilterFile(L"INCLUDE", Text(file_name), &errors);
  SetOutText(error_text, errors);
}

void NtEventFilterObject::ApplySettings(BSTR log, BSTR type, BSTR source, BSTR category, BSTR event_id, BSTR user,
                                        BSTR computer, BSTR description, BSTR case_sensitive, VARIANT* error_text) {
  const std::wstring_view sensitive = Bstr::View(case_sensitive);
  const std::pair<const wchar_t*, std::wstring_view> settings[] = {
      {L"SOURCES", Bstr::View(source)},
      {L"TYPES", Bstr::View(type)},
      {L"EVENTIDS", Bstr::View(event_id)},
      {L"COMPUTERS", Bstr::View(computer)},
      {L"USERS", Bstr::View(user)},
      {L"LOGS", Bstr::View(log)},
      {L"CATEGORIES", Bstr::View(category)},
      {L"MESSAGE", Bstr::View(description)},
      {L"CASE SENSITIVE", sensitive == L"y" || sensitive == L"Y" ? L"TRUE" : L"FALSE"},
  };
  std::wstring errors;
  for (const auto& [name, value] : settings) filter_.SetFilterRX(name, value, &errors);
  SetOutText(error_text, errors);
}

STDMETHODIMP NtEventFilterObject::SetFilterFile(BSTR file_name, VARIANT* error_text) {
  if (!file_name) return S_OK;
  try {
    std::lock_guard guard(lock_);
    LoadFile(file_name, error_text);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {  // nothing may leave a COM method
    return E_UNEXPECTED;
  }
}

STDMETHODIMP NtEventFilterObject::SetFilterRX(BSTR log, BSTR type, BSTR source, BSTR category, BSTR event_id, BSTR user,
                                              BSTR computer, BSTR description, BSTR case_sensitive,
                                              VARIANT* error_text) {
  try {
    std::lock_guard guard(lock_);
    ApplySettings(log, type, source, category, event_id, user, computer, description, case_sensitive, error_text);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {  // nothing may leave a COM method
    return E_UNEXPECTED;
  }
}

STDMETHODIMP NtEventFilterObject::Filter(BSTR file_name, BSTR log_filter, BSTR log_value, BSTR type_filter,
                                         BSTR type_value, BSTR source_filter, BSTR source_value, BSTR category_filter,
                                         BSTR category_value, BSTR event_id_filter, BSTR event_id_value,
                                         BSTR user_filter, BSTR user_value, BSTR computer_filter, BSTR computer_value,
                                         BSTR description_filter, BSTR description_value, BSTR case_sensitive,
                                         VARIANT* error_text, VARIANT_BOOL* result) {
  try {
    std::lock_guard guard(lock_);
    if (!Bstr::View(file_name).empty()) {
      LoadFile(file_name, error_text);
    } else {
      ApplySettings(log_filter, type_filter, source_filter, category_filter, event_id_filter, user_filter,
                    computer_filter, description_filter, case_sensitive, error_text);
    }
    EventRecord record;
    record.Logfile = Text(log_value);
    record.Type = Text(type_value);
    record.Message = Text(description_value);
    record.SourceName = Text(source_value);
    record.ComputerName = Text(computer_value);
    record.EventCode = Text(event_id_value);
    record.Category = Text(category_value);
    record.UserName = Text(user_value);
    bool rejected = filter_.Test(record);
    if (result) *result = rejected ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {  // nothing may leave a COM method
    return E_UNEXPECTED;
  }
}

}  // namespace brisel
