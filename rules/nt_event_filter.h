// NtEventFilter: tells a script whether an event with given properties would
// be dropped by a rule file or by per-field regular expressions.
#pragma once

#include <mutex>

#include "module/brisel_h.h"
#include "module/object.h"
#include "rules/event_filter.h"

namespace brisel {

class NtEventFilterObject final : public DispatchObject<NtEventFilterObject, INtEventFilter> {
 public:
  STDMETHODIMP SetFilterFile(BSTR file_name, VARIANT* error_text) override;
  STDMETHODIMP SetFilterRX(BSTR log, BSTR type, BSTR source, BSTR category, BSTR event_id, BSTR user, BSTR computer,
                           BSTR description, BSTR case_sensitive, VARIANT* error_text) override;
  STDMETHODIMP Filter(BSTR file_name, BSTR log_filter, BSTR log_value, BSTR type_filter, BSTR type_value,
                      BSTR source_filter, BSTR source_value, BSTR category_filter, BSTR category_value,
                      BSTR event_id_filter, BSTR event_id_value, BSTR user_filter, BSTR user_value,
                      BSTR computer_filter, BSTR computer_value, BSTR description_filter, BSTR description_value,
                      BSTR case_sensitive, VARIANT* error_text, VARIANT_BOOL* result) override;

  // For tests: the filter behind the object.
  RegexEventFilter& Engine() noexcept { return filter_; }

 private:
  void LoadFile(BSTR file_name, VARIANT* error_text);
  void ApplySettings(BSTR log, BSTR type, BSTR source, BSTR category, BSTR event_id, BSTR user, BSTR computer,
                     BSTR description, BSTR case_sensitive, VARIANT* error_text);

  // Held for a whole method, so that a Filter call sets and evaluates as one.
  std::mutex lock_;
  RegexEventFilter filter_;
};

}  // namespace brisel
