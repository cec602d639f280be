#include "rules/event_filter.h"

#include <atomic>
#include <climits>
#include <cstdlib>

#include "collector/strings.h"
#include "trace/trace.h"

namespace brisel {

namespace {

std::atomic<LONG> g_recent_seconds{0};

constexpr wchar_t kProductKey[] = L"SOFTWARE\\Talvane\\Vigilor";

std::wstring Upper(std::wstring_view text) {
  std::wstring out(text);
  FoldCase(&out);
  return out;
}

// Pieces between delimiters; a trailing delimiter ends the last piece.
std::vector<std::wstring> SplitItems(std::wstring_view text, wchar_t delimiter) {
  std::vector<std::wstring> items;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(delimiter, start);
    if (end == std::wstring_view::npos) end = text.size();
    items.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return items;
}

// "hours" * 3600, kept inside 32 bits.
LONG HoursToSeconds(long hours) {
  long long seconds = static_cast<long long>(hours) * 3600;
  if (seconds > LONG_MAX) return LONG_MAX;
  if (seconds < LONG_MIN) return LONG_MIN;
  return static_cast<LONG>(seconds);
}

}  // namespace

LONG RecentSeconds() noexcept { return g_recent_seconds.load(); }
void SetRecentSeconds(LONG seconds) noexcept { g_recent_seconds.store(seconds); }

const FilterList kTestOrder[7] = {FilterList::Types,     FilterList::EventIds, FilterList::Categories, FilterList::Computers,
                                  FilterList::Sources,   FilterList::Users,    FilterList::Logs};

const std::wstring& FilterField(const EventRecord& record, FilterList list) {
  switch (list) {
    case FilterList::Logs: return record.Logfile;
    case FilterList::Types: return record.Type;
    case FilterList::EventIds: return record.EventCode;
    case FilterList::Categories: return record.Category;
    case FilterList::Sources: return record.SourceName;
    case FilterList::Users: return record.UserName;
    default: return record.ComputerName;
  }
}

EventFilter::~EventFilter() = default;

LONG EventFilter::SetFilter(std::wstring_view name, std::wstring_view value) {
  std::lock_guard guard(lock_);
  return SetFilterLocked(name, value);
}

LONG EventFilter::SetFilterLocked(std::wstring_view name, std::wstring_view value) {
  if (value.empty()) return 0;
  if (name == L"DELIMITER") {
    delimiter_ = value[0];
    return 0;
  }
  if (name == L"SEPERATOR") {
    separator_ = value[0];
    return 0;
  }
  if (name == L"HELP") {
    if (value == L"TRUE") {
      std::wstring install;
      std::wstring path;
      if (ReadMachineString(kProductKey, L"InstallPath", 260, &install) &&
          FormatW(&path, L"%s\\bin\\rule.xml", install.c_str())) {
        rules_ = std::make_unique<CNtEventRules>(std::move(path));
      }
    } else {
      rules_.reset();
    }
    return 0;
  }

  std::wstring include;
  std::wstring exclude;
  size_t split = value.find(separator_);
  if (split == std::wstring_view::npos) {
    include.assign(value);
  } else {
    include.assign(value.substr(0, split));
    exclude.assign(value.substr(split + 1));
  }
  if (!include.empty() && include.back() != delimiter_) include += delimiter_;
  if (!exclude.empty() && exclude.back() != delimiter_) exclude += delimiter_;

  struct Pair {
    const wchar_t* key;
    FilterList list;
  };
  static const Pair kPairs[] = {{L"LOGS", FilterList::Logs},         {L"TYPES", FilterList::Types},
                                {L"COMPUTERS", FilterList::Computers}, {L"EVENTIDS", FilterList::EventIds},
                                {L"CATEGORIES", FilterList::Categories}, {L"SOURCES", FilterList::Sources},
                                {L"USERS", FilterList::Users}};
  static const Pair kExcludeOnly[] = {{L"COMPUTERS_EX", FilterList::Computers}, {L"EVENTIDS_EX", FilterList::EventIds},
                                      {L"CATEGORIES_EX", FilterList::Categories}, {L"SOURCES_EX", FilterList::Sources},
                                      {L"USERS_EX", FilterList::Users}};

  if (name == L"CASE SENSITIVE") {
    case_sensitive_ = value != L"FALSE";
    return 0;
  }
  if (name == L"RECENT") {
    recent_seconds_ = HoursToSeconds(std::wcstol(include.c_str(), nullptr, 10));
    SetRecentSeconds(recent_seconds_);
    return 0;
  }
  for (const Pair& pair : kPairs) {
    if (name == pair.key) {
      include_[pair.list] = std::move(include);
      exclude_[pair.list] = std::move(exclude);
      return 0;
    }
  }
  if (name == L"MESSAGE") {
    include_messages_ = SplitItems(include, delimiter_);
    exclude_messages_ = SplitItems(exclude, delimiter_);
    return 0;
  }
  for (const Pair& pair : kExcludeOnly) {
    if (name == pair.key) {
      exclude_[pair.list] = std::move(include);
      return 0;
    }
  }
  if (name == L"MESSAGE_EX") {
    exclude_messages_ = SplitItems(include, delimiter_);
    return 0;
  }
  return 1;
}

LONG EventFilter::SetFilterRX(std::wstring_view name, std::wstring_view value, std::wstring* errors) {
  std::lock_guard guard(lock_);
  if (!rules_) rules_ = std::make_unique<CNtEventRules>();
  SetFilterLocked(name, value);
  // "HELP" with another value than TRUE has just dropped the rule set.
  if (!rules_) return 0;
  return rules_->ApplyRXSetting(name, value, errors);
}

LONG EventFilter::SetFilterFile(std::wstring_view file_kind, const std::wstring& file_name, std::wstring* errors) {
  std::lock_guard guard(lock_);
  std::wstring ignored;
  if (!errors) errors = &ignored;
  errors->clear();
  if (!rules_) rules_ = std::make_unique<CNtEventRules>();
  std::optional<std::wstring> text = CNtEventRules::ReadRuleFile(file_name);
  if (!text) {
    *errors = L"Cannot open filter file";
    return 1;
  }
  if (rules_->ParseRuleXML(*text, file_kind, errors)) {
    rules_->Loaded = true;
    return errors->empty() ? 0 : 1;
  }
  std::wstring line_errors;
  if (rules_->LoadRuleLines(file_kind, file_name, &line_errors)) {
    rules_->Loaded = true;
    *errors = std::move(line_errors);
    return errors->empty() ? 0 : 3;
  }
  rules_.reset();
  return -1;
}

bool EventFilter::ItemMatch(const std::wstring& list, const std::wstring& value, wchar_t delimiter,
                            bool whole_item) const {
  if (value.empty()) return false;
  const std::wstring l = case_sensitive_ ? list : Upper(list);
  const std::wstring v = case_sensitive_ ? value : Upper(value);
  if (delimiter == 0) return v.find(l) != std::wstring::npos;

  std::wstring needle = whole_item ? delimiter + v + delimiter : v + delimiter;
  for (std::wstring item : SplitItems(l, delimiter)) {
    // An empty piece would occur in every value.
    if (item.empty()) continue;
    if (whole_item) item = delimiter + item + delimiter;
    bool hit = item.size() < needle.size() ? needle.find(item) != std::wstring::npos
                                           : item.find(needle) != std::wstring::npos;
    if (hit) return true;
  }
  return false;
}

void EventFilter::CountTest(const char* format) {
  if (tvDebugLevel > 0) tvDebugPrint(1, format, test_count_);
  ++test_count_;
}

bool EventFilter::Test(const EventRecord& record) {
  std::lock_guard guard(lock_);
  bool reject = [&] {
    for (FilterList list : kTestOrder) {
      const std::wstring& items = include_[list];
      if (!items.empty() && !ItemMatch(items, FilterField(record, list), delimiter_, list == FilterList::EventIds))
        return true;
    }
    if (!include_messages_.empty()) {
      bool any = false;
      for (const std::wstring& item : include_messages_) {
        if (!item.empty() && ItemMatch(item, record.Message, 0, false)) {
          any = true;
          break;
        }
      }
      if (!any) return true;
    }
    for (FilterList list : kTestOrder) {
      const std::wstring& items = exclude_[list];
      if (!items.empty() && ItemMatch(items, FilterField(record, list), delimiter_, false)) return true;
    }
    for (const std::wstring& item : exclude_messages_) {
      if (!item.empty() && ItemMatch(item, record.Message, 0, false)) return true;
    }
    return false;
  }();
  CountTest("Event Count is %u\n");
  return reject;
}

bool RegexEventFilter::MatchRX(const std::wstring& list, const std::wstring& value) {
  if (rules_) return rules_->MatchField(L"RX", list, value);
  // A failed load dropped the rule set with its case switch: match ignoring case.
  static const CEventRuleFilter kIgnoreCase;
  return kIgnoreCase.FilterNTEventRX(list, value);
}

bool RegexEventFilter::Test(const EventRecord& record) {
  std::lock_guard guard(lock_);
  bool reject = [&] {
    for (FilterList list : kTestOrder) {
      const std::wstring& items = include_[list];
      if (!items.empty() && !MatchRX(items, FilterField(record, list))) return true;
    }
    if (!include_messages_.empty()) {
      bool any = false;
      for (const std::wstring& item : include_messages_) {
        if (!item.empty() && MatchRX(item, record.Message)) {
          any = true;
          break;
        }
      }
      if (!any) return true;
    } else if (rules_ && rules_->Loaded && rules_->FilterNTEvent(record)) {
      return true;
    }
    for (FilterList list : kTestOrder) {
      const std::wstring& items = exclude_[list];
      if (!items.empty() && MatchRX(items, FilterField(record, list))) return true;
    }
    for (const std::wstring& item : exclude_messages_) {
      if (!item.empty() && MatchRX(item, record.Message)) return true;
    }
    return false;
  }();
  CountTest("Event Count for Rx filter is %u\n");
  return reject;
}

bool EventFilter::CaseSensitive() const {
  std::lock_guard guard(lock_);
  return case_sensitive_;
}
wchar_t EventFilter::Separator() const {
  std::lock_guard guard(lock_);
  return separator_;
}
wchar_t EventFilter::Delimiter() const {
  std::lock_guard guard(lock_);
  return delimiter_;
}
LONG EventFilter::Recent() const {
  std::lock_guard guard(lock_);
  return recent_seconds_;
}
std::wstring EventFilter::Include(FilterList list) const {
  std::lock_guard guard(lock_);
  return include_[list];
}
std::wstring EventFilter::Exclude(FilterList list) const {
  std::lock_guard guard(lock_);
  return exclude_[list];
}
std::vector<std::wstring> EventFilter::IncludeMessages() const {
  std::lock_guard guard(lock_);
  return include_messages_;
}
std::vector<std::wstring> EventFilter::ExcludeMessages() const {
  std::lock_guard guard(lock_);
  return exclude_messages_;
}
uint32_t EventFilter::TestCount() const {
  std::lock_guard guard(lock_);
  return test_count_;
}
void EventFilter::WithRules(const std::function<void(CNtEventRules*)>& fn) {
  std::lock_guard guard(lock_);
  fn(rules_.get());
}

}  // namespace brisel
