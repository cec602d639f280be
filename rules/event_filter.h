// The NtEvents filter: include and exclude lists per record field, plain or
// as regular expressions, optionally with rules loaded from a file.
//
// Settings, loads and tests may come from different threads (a script sets,
// the watcher's worker tests): every public member takes the filter's lock, so
// no test sees a half-made setting or a rule set that a failed load deleted.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "collector/error_state.h"
#include "eventlog/event_record.h"
#include "rules/event_rules.h"

namespace brisel {

// The recent-seconds value of the last "RECENT" setting in the process; the
// event-log reader starts its first read that far back.
LONG RecentSeconds() noexcept;
void SetRecentSeconds(LONG seconds) noexcept;

// Lists of the filter, one include and one exclude list each.
enum class FilterList { Logs, Types, EventIds, Categories, Sources, Users, Computers, kCount };

class EventFilter : public ErrorState {
 public:
  EventFilter() = default;
  ~EventFilter() override;
  EventFilter(const EventFilter&) = delete;
  EventFilter& operator=(const EventFilter&) = delete;

  // True when the record is to be dropped.
  virtual bool Test(const EventRecord& record);

  // 0 applied (or empty value), 1 key not recognised. Never writes an error text.
  LONG SetFilter(std::wstring_view name, std::wstring_view value);
  // 0; pattern complaints are appended to *errors.
  LONG SetFilterRX(std::wstring_view name, std::wstring_view value, std::wstring* errors);
  // 0 loaded, 1 unreadable file or XML loaded with complaints, 3 line format
  // loaded with complaints, -1 neither format (the rule set is dropped).
  LONG SetFilterFile(std::wstring_view file_kind, const std::wstring& file_name, std::wstring* errors);

  // Views for tests and traces, each taken under the lock.
  bool CaseSensitive() const;
  wchar_t Separator() const;
  wchar_t Delimiter() const;
  LONG Recent() const;
  std::wstring Include(FilterList list) const;
  std::wstring Exclude(FilterList list) const;
  std::vector<std::wstring> IncludeMessages() const;
  std::vector<std::wstring> ExcludeMessages() const;
  uint32_t TestCount() const;
  // Runs fn on the rule set (nullptr when there is none) under the lock.
  void WithRules(const std::function<void(CNtEventRules*)>& fn);

 protected:
  struct Lists {
    std::wstring items[static_cast<size_t>(FilterList::kCount)];
    std::wstring& operator[](FilterList l) { return items[static_cast<size_t>(l)]; }
    const std::wstring& operator[](FilterList l) const { return items[static_cast<size_t>(l)]; }
  };

  LONG SetFilterLocked(std::wstring_view name, std::wstring_view value);
  // The test traces one line per record with this format.
  void CountTest(const char* format);

  mutable std::mutex lock_;
  bool case_sensitive_ = false;
  wchar_t separator_ = L':';
  wchar_t delimiter_ = L',';
  LONG recent_seconds_ = 0;
  Lists include_;
  std::vector<std::wstring> include_messages_;
  Lists exclude_;
  std::vector<std::wstring> exclude_messages_;
  std::unique_ptr<CNtEventRules> rules_;
  uint32_t test_count_ = 0;

 private:
  bool ItemMatch(const std::wstring& list, const std::wstring& value, wchar_t delimiter, bool whole_item) const;
};

// Same settings; lists are regular-expression lists, and loaded rules judge
// records when no message list is set.
class RegexEventFilter : public EventFilter {
 public:
  bool Test(const EventRecord& record) override;

 private:
  bool MatchRX(const std::wstring& list, const std::wstring& value);
};

// The order in which both tests walk the lists, and the record field of each.
extern const FilterList kTestOrder[7];
const std::wstring& FilterField(const EventRecord& record, FilterList list);

}  // namespace brisel
