#include "snmp/trap_filter.h"

#include <cwctype>

#include "collector/strings.h"
#include "snmp/trap_source.h"
#include "trace/trace.h"

namespace brisel {

namespace {

std::wstring UpperCase(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towupper(c));
  return text;
}

std::wstring NumberText(LONG n) {
  std::wstring text;
  FormatW(&text, L"%d", static_cast<int>(n));
  return text;
}

}  // namespace

LONG CSnmpEventSinkFilter::SetFilter(std::wstring_view name, std::wstring_view value) {
  if (value.empty()) return 0;
  if (name == L"DELIMITER") {
    delimiter_ = value.front();
    return 0;
  }
  if (name == L"SEPERATOR") {
    separator_ = value.front();
    return 0;
  }
  if (name == L"CASE SENSITIVE") {
    case_sensitive_ = value != L"FALSE";
    return 0;
  }
  Field field;
  if (name == L"COMMUNITY") {
    field = kCommunity;
  } else if (name == L"AGENT ADDRESS") {
    field = kAgentAddress;
  } else if (name == L"TRANSPORT ADDRESS") {
    field = kTransportAddress;
  } else if (name == L"IDENTIFICATION") {
    field = kIdentification;
  } else if (name == L"SPECIFIC") {
    field = kSpecific;
  } else if (name == L"GENERIC") {
    field = kGeneric;
  } else {
    return 1;
  }
  // Only the first separator splits; later ones belong to the exclude part.
  std::wstring include(value), exclude;
  size_t p = value.find(separator_);
  if (p != std::wstring_view::npos) {
    include.assign(value.substr(0, p));
    exclude.assign(value.substr(p + 1));
  }
  for (std::wstring* part : {&include, &exclude}) {
    if (!part->empty() && part->back() != delimiter_) part->push_back(delimiter_);
  }
  include_[field] = std::move(include);
  exclude_[field] = std::move(exclude);
  return 0;
}

bool CSnmpEventSinkFilter::FilterHelper(const std::wstring& list, const std::wstring& field, wchar_t delimiter) const {
  if (tvDebugLevel > 0) tvDebugPrint(1, "CSnmpEventSinkFilter::FilterHelper\n");
  if (field.empty()) return false;
  std::wstring needle = field + delimiter;
  std::wstring items = list;
  if (!case_sensitive_) {
    needle = UpperCase(std::move(needle));
    items = UpperCase(std::move(items));
  }
  // Text after the last delimiter is not an item.
  size_t start = 0;
  for (size_t end; (end = items.find(delimiter, start)) != std::wstring::npos; start = end + 1) {
    if (std::wstring_view(items).substr(start, end + 1 - start) == needle) return true;
  }
  return false;
}

bool CSnmpEventSinkFilter::Filter(const TrapRecord& record) const {
  if (tvDebugLevel > 0) tvDebugPrint(1, "CSnmpEventSinkFilter::Filter\n");
  const std::wstring generic = NumberText(record.Generic);
  const std::wstring specific = NumberText(record.Specific);
  const std::pair<Field, const std::wstring*> order[] = {
      {kCommunity, &record.Community},       {kAgentAddress, &record.AgentAddress},
      {kTransportAddress, &record.TransportAddress}, {kIdentification, &record.Identification},
      {kGeneric, &generic},                  {kSpecific, &specific},
  };
  for (const auto& [field, text] : order) {
    if (!include_[field].empty() && !FilterHelper(include_[field], *text, delimiter_)) return true;
  }
  for (const auto& [field, text] : order) {
    if (!exclude_[field].empty() && FilterHelper(exclude_[field], *text, delimiter_)) return true;
  }
  return false;
}

}  // namespace brisel
