#include "rules/event_rules.h"

#include <cwchar>
#include <cwctype>

#include "collector/strings.h"
#include "trace/trace.h"

namespace brisel {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "patterns are handed to the engine as UTF-16");

namespace {

std::u16string_view U16(std::wstring_view text) {
  return std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size());
}

void Trace(const char* text) {
  if (tvDebugLevel > 0) tvDebugPrint(1, text);
}

// A short-lived compile used where nothing is cached.
bool CompileItem(const std::wstring& item, CRegex* regex) { return regex->Compile(U16(item)); }

bool IsSpecial(wchar_t c) { return c != L'\0' && std::wcschr(L"^$.[()|?+*\\", c) != nullptr; }

// How an item is searched: as plain text unless it needs the engine.
void PlanItem(const std::wstring& item, RegexListCache::Item* entry) {
  using Plan = RegexListCache::Item::Plan;
  bool prefix = !item.empty() && item.front() == L'^';
  bool suffix = item.size() > (prefix ? 1u : 0u) && item.back() == L'$';
  std::wstring_view body = std::wstring_view(item).substr(prefix ? 1 : 0);
  if (suffix) body.remove_suffix(1);
  for (wchar_t c : body) {
    if (IsSpecial(c)) {
      entry->plan = CompileItem(item, &entry->regex) ? Plan::Regex : Plan::Never;
      return;
    }
  }
  entry->literal.assign(body);
  entry->plan = prefix ? (suffix ? Plan::Exact : Plan::Prefix) : (suffix ? Plan::Suffix : Plan::Contains);
}

// The message is the longest field by far: rules test it last. The fields of
// a rule are joined by AND, so the order changes no verdict.
constexpr size_t kDescriptionField = 4;
constexpr size_t kFieldOrder[kPatternFields] = {0, 1, 2, 3, 5, 6, 7, kDescriptionField};

}  // namespace

// Record fields upper-cased once per record, on first use, for the rules that
// ignore case.
class FoldedRecord {
 public:
  explicit FoldedRecord(const EventRecord& record) : record_(record) {}
  std::wstring_view Field(size_t index, bool case_sensitive) {
    const std::wstring& raw = RecordFieldAt(record_, index);
    if (case_sensitive) return raw;
    if (!folded_[index]) {
      folded_[index] = raw;
      FoldCase(&*folded_[index]);
    }
    return *folded_[index];
  }
  const EventRecord& Record() const { return record_; }

 private:
  const EventRecord& record_;
  std::optional<std::wstring> folded_[kPatternFields];
};

std::shared_ptr<RegexListCache::List> RegexListCache::Get(std::wstring_view list, bool case_sensitive) {
  key_.assign(1, case_sensitive ? L'1' : L'0');
  key_ += list;
  auto found = lists_.find(key_);
  if (found != lists_.end()) return found->second;
  if (lists_.size() >= kMaxLists) lists_.clear();

  auto compiled = std::make_shared<List>();
  compiled->source.assign(list);
  compiled->case_sensitive = case_sensitive;
  for (const std::wstring& raw : PatternListItems(list)) {
    std::wstring item = Trim(raw);
    Item entry;
    if (item == L"*") {
      entry.plan = Item::Plan::Everything;
    } else {
      if (!case_sensitive) FoldCase(&item);
      PlanItem(item, &entry);
    }
    bool last = entry.plan == Item::Plan::Everything;  // nothing after a "*" is reached
    if (entry.plan == Item::Plan::Regex) compiled->uses_engine = true;
    compiled->items.push_back(std::move(entry));
    if (last) break;
  }
  lists_.emplace(key_, compiled);
  return compiled;
}

int32_t SearchCompiled(RegexListCache::List& list, std::wstring_view subject) {
  using Plan = RegexListCache::Item::Plan;
  for (RegexListCache::Item& item : list.items) {
    int32_t at = -1;
    switch (item.plan) {
      case Plan::Never:
        break;
      case Plan::Everything:
        return 0;
      case Plan::Regex:
        at = item.regex.Search(U16(subject));
        break;
      case Plan::Contains: {
        size_t pos = subject.find(item.literal);
        if (pos != std::wstring_view::npos) at = static_cast<int32_t>(pos);
        break;
      }
      case Plan::Prefix:
        if (subject.starts_with(item.literal)) at = 0;
        break;
      case Plan::Suffix:
        if (subject.ends_with(item.literal)) at = static_cast<int32_t>(subject.size() - item.literal.size());
        break;
      case Plan::Exact:
        if (subject == item.literal) at = 0;
        break;
    }
    if (at >= 0) return at;
  }
  return -1;
}

bool CNtEventRules::Rejects(const CEventRuleFilter& rule, RuleKind kind, CompiledRule* compiled, FoldedRecord* record) {
  const PatternSet& patterns = rule.Patterns(kind);
  // Fields are joined by AND, so the order changes no verdict: plain-text
  // lists first, then those that need the engine, the message last.
  for (int pass = 0; pass < 2; ++pass) {
    for (size_t i : kFieldOrder) {
      const std::wstring& pattern = PatternAt(patterns, i);
      if (pattern.empty()) continue;
      std::shared_ptr<RegexListCache::List>& list = (*compiled)[i];
      // The lists are public: a rule changed in place gets its items again.
      if (!list || list->case_sensitive != rule.CaseSensitive || list->source != pattern)
        list = cache_.Get(pattern, rule.CaseSensitive);
      bool costly = list->uses_engine || i == kDescriptionField;
      if (costly != (pass == 1)) continue;
      int32_t at = 0;  // an empty value matches every list
      if (!RecordFieldAt(record->Record(), i).empty()) at = SearchCompiled(*list, record->Field(i, rule.CaseSensitive));
      if (at == -1) return kind == kRuleInclude;  // missed an include rule / escaped an exclude rule
    }
  }
  return kind == kRuleExclude;
}

const std::wstring& PatternAt(const PatternSet& set, size_t index) {
  switch (index) {
    case 0: return set.Category;
    case 1: return set.EventID;
    case 2: return set.Type;
    case 3: return set.Log;
    case 4: return set.Description;
    case 5: return set.Source;
    case 6: return set.Computer;
    default: return set.User;
  }
}

const std::wstring& RecordFieldAt(const EventRecord& record, size_t index) {
  switch (index) {
    case 0: return record.Category;
    case 1: return record.EventCode;
    case 2: return record.Type;
    case 3: return record.Logfile;
    case 4: return record.Message;
    case 5: return record.SourceName;
    case 6: return record.ComputerName;
    default: return record.UserName;
  }
}

std::vector<std::wstring> PatternListItems(std::wstring_view list) {
  std::vector<std::wstring> items;
  if (list.empty()) return items;
  // Item i starts after the i-th comma; it runs to the next comma unless that
  // comma is its first character, in which case it is the whole rest.
  size_t start = 0;
  while (true) {
    std::wstring_view rest = list.substr(start);
    size_t comma = rest.find(L',');
    if (comma != std::wstring_view::npos && comma != 0) {
      items.emplace_back(rest.substr(0, comma));
    } else if (!rest.empty()) {
      items.emplace_back(rest);
    }
    size_t next = list.find(L',', start);
    if (next == std::wstring_view::npos) break;
    start = next + 1;
  }
  return items;
}

void FoldCase(std::wstring* text) {
  for (wchar_t& c : *text) {
    if (c < 0x80) {
      if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    } else {
      c = static_cast<wchar_t>(std::towupper(c));
    }
  }
}

void CEventRuleFilter::Reset() {
  IncludePatterns = PatternSet();
  ExcludePatterns = PatternSet();
  CaseSensitive = false;
}

bool CEventRuleFilter::CheckPattern(const std::wstring& pattern, std::wstring* errors) const {
  CRegex regex;
  if (!CompileItem(pattern, &regex) && errors) {
    std::wstring message;
    if (FormatW(&message, L"Fail to Compile RegExp %s\n", pattern.c_str())) *errors += message;
  }
  return true;
}

bool CEventRuleFilter::CheckPatterns(RuleKind kind, std::wstring* errors) const {
  if (kind != kRuleInclude && kind != kRuleExclude) return true;
  const PatternSet& patterns = Patterns(kind);
  for (size_t i = 0; i < kPatternFields; ++i) CheckPattern(PatternAt(patterns, i), errors);
  return true;
}

int32_t CEventRuleFilter::MatchSubstringList(std::wstring_view list, std::wstring_view value) const {
  std::wstring subject(value);
  if (!CaseSensitive) FoldCase(&subject);
  bool hit = false;
  for (std::wstring& item : PatternListItems(list)) {
    if (!CaseSensitive) FoldCase(&item);
    // The shorter text must occur in the longer one.
    if (item.size() < subject.size()) {
      if (subject.find(item) != std::wstring::npos) hit = true;
    } else if (item.find(subject) != std::wstring::npos) {
      hit = true;
    }
  }
  return hit ? 0 : -1;
}

int32_t CEventRuleFilter::MatchRegexList(std::wstring_view list, std::wstring_view value, RegexListCache* cache) const {
  if (value.empty()) return 0;
  if (cache) {
    std::shared_ptr<RegexListCache::List> compiled = cache->Get(list, CaseSensitive);
    if (CaseSensitive) return SearchCompiled(*compiled, value);
    std::wstring& subject = cache->Scratch();
    subject.assign(value);
    FoldCase(&subject);
    return SearchCompiled(*compiled, subject);
  }
  std::wstring subject(value);
  if (!CaseSensitive) FoldCase(&subject);

  for (const std::wstring& raw : PatternListItems(list)) {
    std::wstring item = Trim(raw);
    if (item == L"*") return 0;
    if (!CaseSensitive) FoldCase(&item);
    CRegex regex;
    if (!CompileItem(item, &regex)) continue;
    int32_t at = regex.Search(U16(subject));
    if (at >= 0) return at;
  }
  return -1;
}

bool CEventRuleFilter::FilterNTEvent(std::wstring_view list, std::wstring_view value) const {
  Trace("Enter CEventRuleFilter::FilterNTEvent\n");
  return list.empty() || MatchSubstringList(list, value) != -1;
}

bool CEventRuleFilter::FilterNTEventRX(std::wstring_view list, std::wstring_view value, RegexListCache* cache) const {
  Trace("Enter CEventRuleFilter::FilterNTEventRX\n");
  return list.empty() || MatchRegexList(list, value, cache) != -1;
}

bool CEventRuleFilter::FilterNTEventRX(const EventRecord& record, RuleKind kind, RegexListCache* cache) const {
  Trace("Enter CEventRuleFilter::FilterNTEventRX\n");
  if (cache) {
    if (kind != kRuleInclude && kind != kRuleExclude) return false;
    FoldedRecord folded(record);
    for (size_t i : kFieldOrder) {
      const std::wstring& pattern = PatternAt(Patterns(kind), i);
      if (pattern.empty()) continue;
      const std::wstring& value = RecordFieldAt(record, i);
      if (!value.empty() && SearchCompiled(*cache->Get(pattern, CaseSensitive), folded.Field(i, CaseSensitive)) == -1)
        return kind == kRuleInclude;
    }
    return kind == kRuleExclude;
  }
  if (kind != kRuleInclude && kind != kRuleExclude) return false;
  const PatternSet& patterns = Patterns(kind);
  for (size_t i = 0; i < kPatternFields; ++i) {
    const std::wstring& pattern = PatternAt(patterns, i);
    if (pattern.empty()) continue;
    if (MatchRegexList(pattern, RecordFieldAt(record, i)) == -1) return kind == kRuleInclude;
  }
  return kind == kRuleExclude;
}

bool CNtEventRules::FilterNTEvent(const EventRecord& record) {
  Trace("Enter CNtEventRules::FilterNTEvent\n");
  if (!cache_enabled_) {
    // The reference behaviour: every rule of copies of both lists, every item
    // compiled afresh.
    const std::vector<CEventRuleFilter> include = IncludeRules;
    const std::vector<CEventRuleFilter> exclude = ExcludeRules;
    size_t include_rejections = 0;
    bool excluded = false;
    for (const CEventRuleFilter& rule : include) include_rejections += rule.FilterNTEventRX(record, kRuleInclude);
    for (const CEventRuleFilter& rule : exclude) excluded |= rule.FilterNTEventRX(record, kRuleExclude);
    if (!include.empty() && include_rejections == include.size()) return true;
    return excluded;
  }

  // The owner's lock keeps the lists still, so no copies are taken. One
  // satisfied include rule admits; one matching exclude rule rejects.
  FoldedRecord folded(record);
  include_compiled_.resize(IncludeRules.size());
  exclude_compiled_.resize(ExcludeRules.size());
  if (!IncludeRules.empty()) {
    bool admitted = false;
    for (size_t i = 0; i < IncludeRules.size() && !admitted; ++i) {
      Trace("Enter CEventRuleFilter::FilterNTEventRX\n");
      admitted = !Rejects(IncludeRules[i], kRuleInclude, &include_compiled_[i], &folded);
    }
    if (!admitted) return true;
  }
  for (size_t i = 0; i < ExcludeRules.size(); ++i) {
    Trace("Enter CEventRuleFilter::FilterNTEventRX\n");
    if (Rejects(ExcludeRules[i], kRuleExclude, &exclude_compiled_[i], &folded)) return true;
  }
  return false;
}

bool CNtEventRules::MatchField(std::wstring_view mode, std::wstring_view list, std::wstring_view value) {
  static const CEventRuleFilter kIgnoreCase;
  const CEventRuleFilter& rule = SettingsRule ? *SettingsRule : kIgnoreCase;
  if (mode == L"RX") return rule.FilterNTEventRX(list, value, ActiveCache());
  if (mode == L"NonRX") return rule.FilterNTEvent(list, value);
  return true;
}

int32_t CNtEventRules::ApplyRXSetting(std::wstring_view name, std::wstring_view value, std::wstring* errors) {
  if (value.empty() || value == L"*") return 0;
  if (!SettingsRule) SettingsRule = std::make_unique<CEventRuleFilter>();
  if (name == L"CASE SENSITIVE") {
    SettingsRule->CaseSensitive = value != L"FALSE";
    return 0;
  }
  SettingsRule->CheckPattern(std::wstring(value), errors);
  return 0;
}

void CNtEventRules::AddRule(const CEventRuleFilter& rule, RuleKind kind) {
  if (kind == kRuleInclude) {
    IncludeRules.push_back(rule);
  } else if (kind == kRuleExclude) {
    ExcludeRules.push_back(rule);
  }
}

bool CNtEventRules::CheckRule(const CEventRuleFilter& rule, RuleKind kind, std::wstring* errors) const {
  return rule.CheckPatterns(kind, errors);
}

}  // namespace brisel
