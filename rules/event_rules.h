// Event rules: a rule is a pattern per record field for inclusion and for
// exclusion; a rule set joins include rules by OR and lets any exclude rule win.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "eventlog/event_record.h"
#include "rules/regex/regex.h"

namespace brisel {

// Which list a rule sits in; the same numbers mark the flattened XML elements.
using RuleKind = int32_t;
constexpr RuleKind kRuleInclude = 30;
constexpr RuleKind kRuleExclude = 31;

// One comma-separated pattern list per record field; empty means "not tested".
struct PatternSet {
  std::wstring Category;     // record Category
  std::wstring EventID;      // record EventCode
  std::wstring Type;         // record Type
  std::wstring Log;          // record Logfile
  std::wstring Description;  // record Message
  std::wstring Source;       // record SourceName
  std::wstring Computer;     // record ComputerName
  std::wstring User;         // record UserName
};

constexpr size_t kPatternFields = 8;
// The eight (pattern, record field) pairs in their evaluation order.
const std::wstring& PatternAt(const PatternSet& set, size_t index);
const std::wstring& RecordFieldAt(const EventRecord& record, size_t index);

// The non-empty items of a comma-separated pattern list, in list order. An empty
// item between two commas comes back as the rest of the list from that comma on.
std::vector<std::wstring> PatternListItems(std::wstring_view list);

// Upper-cases in place by the process locale.
void FoldCase(std::wstring* text);

// Compiled list items, shared by every rule of a set so that each distinct list
// is compiled once per case mode. Not thread-safe: the owner serialises.
class RegexListCache {
 public:
  struct Item {
    // Items without special characters are searched as plain text; the
    // result is the start the expression would give.
    enum class Plan : uint8_t { Never, Everything, Regex, Contains, Prefix, Suffix, Exact };
    Plan plan = Plan::Never;
    std::wstring literal;
    CRegex regex;
  };
  struct List {
    std::wstring source;  // the list as given
    bool case_sensitive = false;
    bool uses_engine = false;  // some item needs the expression engine
    std::vector<Item> items;
  };

  // The compiled items of a list, folded to upper case unless case_sensitive.
  // The list stays valid while a caller holds it, even if the cache starts over.
  std::shared_ptr<List> Get(std::wstring_view list, bool case_sensitive);
  size_t Size() const noexcept { return lists_.size(); }
  void Clear() noexcept { lists_.clear(); }
  // A buffer for folded values, kept to spare an allocation per test.
  std::wstring& Scratch() noexcept { return scratch_; }

  // Beyond this many lists the cache starts over, so that a script feeding
  // ever new settings cannot grow it without end.
  static constexpr size_t kMaxLists = 4096;

 private:
  std::unordered_map<std::wstring, std::shared_ptr<List>> lists_;
  std::wstring key_;  // reused for lookups
  std::wstring scratch_;
};

// Start of the first match of a compiled list in an already folded subject, or -1.
int32_t SearchCompiled(RegexListCache::List& list, std::wstring_view subject);

class CEventRuleFilter {
 public:
  PatternSet IncludePatterns;
  PatternSet ExcludePatterns;
  bool CaseSensitive = false;

  void Reset();

  // Compiles the whole pattern once, only to report it: "Fail to Compile
  // RegExp %s\n" is appended to errors when it does not compile. Always true.
  bool CheckPattern(const std::wstring& pattern, std::wstring* errors) const;
  bool CheckPatterns(RuleKind kind, std::wstring* errors) const;

  // 0 when an item occurs in the value or the value in an item, else -1.
  int32_t MatchSubstringList(std::wstring_view list, std::wstring_view value) const;
  // Start of the first item's match in the value, or -1. An empty value
  // matches. With a cache, items are compiled once and reused.
  int32_t MatchRegexList(std::wstring_view list, std::wstring_view value, RegexListCache* cache = nullptr) const;

  // True when the list is empty or matches the value.
  bool FilterNTEvent(std::wstring_view list, std::wstring_view value) const;
  bool FilterNTEventRX(std::wstring_view list, std::wstring_view value, RegexListCache* cache = nullptr) const;
  // True when this rule, sitting in the list of that kind, rejects the record.
  bool FilterNTEventRX(const EventRecord& record, RuleKind kind, RegexListCache* cache = nullptr) const;

  const PatternSet& Patterns(RuleKind kind) const { return kind == kRuleInclude ? IncludePatterns : ExcludePatterns; }
  PatternSet& Patterns(RuleKind kind) { return kind == kRuleInclude ? IncludePatterns : ExcludePatterns; }
};

// One entry of a flattened XML rule document.
struct RuleElement {
  std::wstring Name;  // canonical upper-case element name; empty for OR / AND markers
  std::wstring Value;
  int32_t Kind = -1;  // 30 / 31 for INCLUDE / EXCLUDE and their content, 1 OR, 0 AND, -1 none
};

class FoldedRecord;

// A rule set. Not thread-safe: its owner (the event filter) serialises settings,
// loads and evaluations.
class CNtEventRules {
 public:
  CNtEventRules() = default;
  // The help rule file's set: the path is remembered, nothing is read.
  explicit CNtEventRules(std::wstring path) : path_(std::move(path)) {}
  CNtEventRules(const CNtEventRules&) = delete;
  CNtEventRules& operator=(const CNtEventRules&) = delete;

  bool Loaded = false;
  std::vector<CEventRuleFilter> IncludeRules;
  std::vector<CEventRuleFilter> ExcludeRules;
  std::unique_ptr<CEventRuleFilter> SettingsRule;

  // True when the loaded rules reject the record.
  bool FilterNTEvent(const EventRecord& record);
  // Mode "RX" or "NonRX" against the settings rule's case switch; any other mode is true.
  bool MatchField(std::wstring_view mode, std::wstring_view list, std::wstring_view value);
  // Per-field setting: "CASE SENSITIVE" sets the case switch, anything else
  // is only checked as a pattern. Always 0.
  int32_t ApplyRXSetting(std::wstring_view name, std::wstring_view value, std::wstring* errors);
  void AddRule(const CEventRuleFilter& rule, RuleKind kind);
  bool CheckRule(const CEventRuleFilter& rule, RuleKind kind, std::wstring* errors) const;

  // Rule files (rule_files.cpp).
  // The whole file as text: the ANSI code page, or the encoding its byte-order
  // mark names. Nothing when the file cannot be opened or holds no byte.
  static std::optional<std::wstring> ReadRuleFile(const std::wstring& path);
  bool ParseRuleXML(const std::wstring& text, std::wstring_view file_kind, std::wstring* errors);
  bool xmlToNTRule(const std::vector<RuleElement>& elements, size_t start, RuleKind kind, std::wstring* errors);
  bool LoadRuleLines(std::wstring_view file_kind, const std::wstring& path, std::wstring* errors);
  bool ParseRuleLine(const std::wstring& line, CEventRuleFilter* rule, RuleKind kind, std::wstring* errors);
  // The XML document as the element list; false with the parser's message in errors.
  static bool FlattenRuleXML(const std::wstring& text, std::vector<RuleElement>* elements, std::wstring* errors);

  const std::wstring& Path() const noexcept { return path_; }

  // Reusing compiled items is on by default; off, FilterNTEvent works as the
  // plain reference (copies of the lists, every rule evaluated, every item
  // compiled at every test) for comparisons and benchmarks. Verdicts are the
  // same either way.
  void SetCompiledCache(bool enabled) noexcept {
    cache_enabled_ = enabled;
    if (!enabled) cache_.Clear();
  }
  const RegexListCache& Cache() const noexcept { return cache_; }

 private:
  RegexListCache* ActiveCache() noexcept { return cache_enabled_ ? &cache_ : nullptr; }
  // The compiled lists of each rule, by position in its list.
  using CompiledRule = std::array<std::shared_ptr<RegexListCache::List>, kPatternFields>;
  bool Rejects(const CEventRuleFilter& rule, RuleKind kind, CompiledRule* compiled, FoldedRecord* record);

  std::wstring path_;
  bool cache_enabled_ = true;
  RegexListCache cache_;
  std::vector<CompiledRule> include_compiled_;
  std::vector<CompiledRule> exclude_compiled_;
};

}  // namespace brisel
