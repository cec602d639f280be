// Pattern lists, the two field matchers, single rules and rule sets.
#include <gtest/gtest.h>

#include "rules/event_rules.h"
#include "tests/harness/dispatch.h"
#include "tests/win/rules/rule_test_util.h"

namespace brisel {
namespace {

using test::MakeRecord;
using Items = std::vector<std::wstring>;

TEST(PatternList, ItemsSkipTheEmptyTailAndKeepTheRestAfterADoubleComma) {
  EXPECT_EQ(PatternListItems(L"a,b,"), (Items{L"a", L"b"}));
  EXPECT_EQ(PatternListItems(L"a,,b"), (Items{L"a", L",b", L"b"}));
  EXPECT_EQ(PatternListItems(L",a"), (Items{L",a", L"a"}));
  EXPECT_EQ(PatternListItems(L""), Items{});
  EXPECT_EQ(PatternListItems(L","), (Items{L","}));
}

struct MatchRow {
  const wchar_t *list, *value;
  bool case_sensitive;
  int32_t expected;
};

// Every row through the compiled-item cache and without it.
TEST(RegexMatcher, StartOfTheFirstMatchingItem) {
  const MatchRow rows[] = {
      {L"^x$", L"", false, 0}, {L"(", L"", false, 0}, {L" Disk , Srv ", L"MySrvHost", false, 2},
      {L" Disk , Srv ", L"Disk", false, 0}, {L"ERR", L"ERROR", false, 0}, {L"^ERR$", L"ERROR", false, -1},
      {L"x,RR", L"ERROR", false, 1}, {L"rx$", L"ERRX", false, 2}, {L"rx$", L"RXE", false, -1},
      {L"^er", L"ERROR", false, 0}, {L"^ro", L"ERROR", false, -1}, {L"^error$", L"ERRORS", false, -1},
      {L"^error$", L"error", false, 0}, {L"RO", L"ERROR", false, 2}, {L"$", L"ERROR", false, 5},
      {L"^$", L"ERROR", false, -1}, {L"a-b{1}]", L"xA-B{1}]", false, 1}, {L"a.c", L"xABC", false, 1},
      {L"nomatch, * ", L"anything", false, 0}, {L" ", L"anything", false, 0}, {L"disk", L"Disk", false, 0},
      {L"caf\u00e9", L"CAF\u00c9", false, 0}, {L"disk", L"DISK", true, -1}, {L"Disk", L"Disk", true, 0},
      {L"(a,b)", L"(a", false, -1}, {L"(a,b)", L"b)", false, -1}, {L"(,b", L"xb", false, 1},
      {L"^10[0-9]$", L"105", false, 0}, {L"^10[0-9]$", L"110", false, -1}, {L"10", L"210", false, 1},
      {L"10", L"1001", false, 0}};
  for (bool cached : {false, true}) {
    RegexListCache cache;
    for (const MatchRow& row : rows) {
      CEventRuleFilter rule;
      rule.CaseSensitive = row.case_sensitive;
      EXPECT_EQ(rule.MatchRegexList(row.list, row.value, cached ? &cache : nullptr), row.expected)
          << test::Narrow(row.list) << " / " << test::Narrow(row.value) << (cached ? " cached" : "");
    }
  }
}

TEST(RegexListCache, CompilesEachListOncePerCaseModeAndStartsOverWhenFull) {
  RegexListCache cache;
  CEventRuleFilter rule;
  rule.MatchRegexList(L"disk", L"x", &cache);
  rule.MatchRegexList(L"disk", L"y", &cache);
  EXPECT_EQ(cache.Size(), 1u);
  rule.CaseSensitive = true;
  EXPECT_EQ(rule.MatchRegexList(L"disk", L"DISK", &cache), -1) << "the folded copy must not serve a case-sensitive rule";
  for (size_t i = 2; i < RegexListCache::kMaxLists; ++i) rule.MatchRegexList(std::to_wstring(i), L"v", &cache);
  EXPECT_EQ(cache.Size(), RegexListCache::kMaxLists);
  EXPECT_EQ(rule.MatchRegexList(L"alu", L"value", &cache), 1);
  EXPECT_EQ(cache.Size(), 1u) << "a full cache starts over";
}

// The substring mode and the pattern check, reached through the settings rule.
TEST(RuleSet, MatchFieldModesAndPatternComplaints) {
  CNtEventRules rules;
  EXPECT_TRUE(rules.MatchField(L"NonRX", L"Error", L"Err"));
  EXPECT_TRUE(rules.MatchField(L"NonRX", L"x,Info", L"INFORMATION"));
  EXPECT_FALSE(rules.MatchField(L"NonRX", L"Warn,Info", L"Error"));
  EXPECT_TRUE(rules.MatchField(L"rx", L"^nothing$", L"disk")) << "another mode matches everything";
  std::wstring errors = L"before\n";
  EXPECT_EQ(rules.ApplyRXSetting(L"CASE SENSITIVE", L"*", &errors), 0);
  EXPECT_FALSE(rules.SettingsRule) << "* changes nothing";
  EXPECT_EQ(rules.ApplyRXSetting(L"SOURCES", L"(a,b)", &errors), 0);
  EXPECT_EQ(rules.ApplyRXSetting(L"SOURCES", L"(", &errors), 0);
  EXPECT_TRUE(rules.SettingsRule->IncludePatterns.Source.empty()) << "the value is not stored in the rule set";
  EXPECT_EQ(rules.ApplyRXSetting(L"CASE SENSITIVE", L"Y", &errors), 0);
  EXPECT_FALSE(rules.MatchField(L"NonRX", L"disk", L"DISK"));
  EXPECT_TRUE(rules.MatchField(L"NonRX", L"DISK", L"DISK"));
  CEventRuleFilter rule;
  rule.IncludePatterns.Log = L"[z-a]";
  rule.IncludePatterns.User = L"ok";
  rule.ExcludePatterns.Type = L"a**";
  rules.CheckRule(rule, kRuleInclude, &errors);
  rules.CheckRule(rule, kRuleExclude, &errors);
  EXPECT_EQ(errors, L"before\nFail to Compile RegExp (\nFail to Compile RegExp [z-a]\nFail to Compile RegExp a**\n");
}

TEST(Rule, EachPatternTestsItsOwnFieldAndFieldsAreJoinedByAnd) {
  const wchar_t* values[kPatternFields] = {L"cat", L"42", L"ERROR", L"Application", L"message", L"src", L"host", L"user"};
  EventRecord all = MakeRecord({values[3], values[2], values[5], values[0], values[1], values[7], values[6], values[4]});
  CEventRuleFilter both;
  for (size_t i = 0; i < kPatternFields; ++i) {
    CEventRuleFilter rule;
    for (CEventRuleFilter* r : {&rule, &both})
      const_cast<std::wstring&>(PatternAt(r->IncludePatterns, i)) = std::wstring(L"^") + values[i] + L"$";
    rule.ExcludePatterns = rule.IncludePatterns;
    EventRecord record = all;
    EXPECT_FALSE(rule.FilterNTEventRX(record, kRuleInclude)) << i;
    EXPECT_TRUE(rule.FilterNTEventRX(record, kRuleExclude)) << i;
    const_cast<std::wstring&>(RecordFieldAt(record, i)) = L"other";
    EXPECT_TRUE(rule.FilterNTEventRX(record, kRuleInclude)) << i;
    EXPECT_FALSE(rule.FilterNTEventRX(record, kRuleExclude)) << i;
    EXPECT_TRUE(both.FilterNTEventRX(record, kRuleInclude)) << i;
  }
  EXPECT_FALSE(both.FilterNTEventRX(all, kRuleInclude));
  EXPECT_FALSE(both.FilterNTEventRX(all, 5)) << "an unknown kind selects nothing";
  EXPECT_FALSE(CEventRuleFilter().FilterNTEventRX(all, kRuleInclude));
  EXPECT_TRUE(CEventRuleFilter().FilterNTEventRX(all, kRuleExclude));
}

TEST(RuleSet, IncludeRulesAreAlternativesAndAnExclusionWins) {
  for (bool cached : {true, false}) {
    CNtEventRules rules;
    rules.SetCompiledCache(cached);
    EventRecord system = MakeRecord({.log = L"System", .type = L"ERROR"});
    EXPECT_FALSE(rules.FilterNTEvent(system)) << "without rules every record passes";
    CEventRuleFilter rule;
    rule.IncludePatterns.Log = L"Application";
    rules.AddRule(rule, kRuleInclude);
    EXPECT_TRUE(rules.FilterNTEvent(system));
    EXPECT_FALSE(rules.FilterNTEvent(MakeRecord({.type = L"ERROR"}))) << "an empty value satisfies an include pattern";
    rule.IncludePatterns.Log = L"System";
    rules.AddRule(rule, kRuleInclude);
    EXPECT_FALSE(rules.FilterNTEvent(system));
    rule.ExcludePatterns.Type = L"information";
    rules.AddRule(rule, kRuleExclude);
    rules.AddRule(rule, 7);
    EXPECT_EQ(rules.ExcludeRules.size(), 1u) << "an unknown kind adds nothing";
    EXPECT_TRUE(rules.FilterNTEvent(MakeRecord({.log = L"System", .type = L"INFORMATION"})));
    rules.ExcludeRules[0].CaseSensitive = true;
    EXPECT_FALSE(rules.FilterNTEvent(MakeRecord({.log = L"System", .type = L"INFORMATION"}))) << "a changed rule";
    EXPECT_FALSE(rules.FilterNTEvent(system));
  }
}

}  // namespace
}  // namespace brisel
