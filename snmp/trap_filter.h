// The per-watcher trap filter: include and exclude lists of exact values for
// six fields of a trap.
#pragma once

#include <string>
#include <string_view>

#include "collector/error_state.h"

namespace brisel {

class TrapRecord;

class CSnmpEventSinkFilter : public ErrorState {
 public:
  // 0 when taken (or the value is empty), 1 for a key that is not recognised.
  LONG SetFilter(std::wstring_view name, std::wstring_view value);
  // True when the trap is left out.
  bool Filter(const TrapRecord& record) const;
  // True when field is one of the list's delimiter-ended items.
  bool FilterHelper(const std::wstring& list, const std::wstring& field, wchar_t delimiter) const;

  bool CaseSensitive() const noexcept { return case_sensitive_; }
  wchar_t Delimiter() const noexcept { return delimiter_; }
  wchar_t Separator() const noexcept { return separator_; }

 private:
  enum Field { kSpecific, kGeneric, kAgentAddress, kTransportAddress, kCommunity, kIdentification, kFieldCount };

  bool case_sensitive_ = false;
  wchar_t delimiter_ = L',';
  wchar_t separator_ = L':';
  std::wstring include_[kFieldCount];
  std::wstring exclude_[kFieldCount];
};

}  // namespace brisel
