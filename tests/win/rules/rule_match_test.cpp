// Pattern lists, the two field matchers, single rules and rule sets.
#include <gtest/gtest.h>

#include <random>

#include "rules/event_rules.h"
#include "tests/win/rules/rule_test_util.h"

namespace brisel {
namespace {

using test::MakeRecord;

std::vector<std::wstring> Items(const wchar_t* list) { return PatternListItems(list); }

TEST(PatternList, ItemsSkipTheEmptyTailAndKeepTheRestAfterADoubleComma) {
  EXPECT_EQ(Items(L"a,b,"), (std::vector<std::wstring>{L"a", L"b"}));
  EXPECT_EQ(Items(L"a,,b"), (std::vector<std::wstring>{L"a", L",b", L"b"}));
  EXPECT_EQ(Items(L",a"), (std::vector<std::wstring>{L",a", L"a"}));
  EXPECT_TRUE(Items(L"").empty());
  EXPECT_EQ(Items(L","), (std::vector<std::wstring>{L","}));
}

TEST(SubstringMatcher, TheShorterTextMustOccurInTheLongerOne) {
  CEventRuleFilter rule;
  EXPECT_EQ(rule.MatchSubstringList(L"Err", L"Error"), 0);
  EXPECT_EQ(rule.MatchSubstringList(L"Error", L"Err"), 0);
  EXPECT_EQ(rule.MatchSubstringList(L"Warn,Info", L"Error"), -1);
  EXPECT_EQ(rule.MatchSubstringList(L"x,Info", L"INFORMATION"), 0);
  EXPECT_EQ(rule.MatchSubstringList(L"Disk", L""), 0) << "an empty value hits any non-empty item";
}

TEST(SubstringMatcher, FoldsCaseUnlessCaseSensitive) {
  CEventRuleFilter rule;
  EXPECT_EQ(rule.MatchSubstringList(L"disk", L"DISK"), 0);
  rule.CaseSensitive = true;
  EXPECT_EQ(rule.MatchSubstringList(L"disk", L"DISK"), -1);
  EXPECT_EQ(rule.MatchSubstringList(L"DISK", L"DISK"), 0);
}

class RegexMatcher : public ::testing::TestWithParam<bool> {
 protected:
  int32_t Match(const CEventRuleFilter& rule, const wchar_t* list, const wchar_t* value) {
    return rule.MatchRegexList(list, value, GetParam() ? &cache_ : nullptr);
  }
  RegexListCache cache_;
};

TEST_P(RegexMatcher, EmptyValueMatchesWhateverTheList) {
  CEventRuleFilter rule;
  EXPECT_EQ(Match(rule, L"^x$", L""), 0);
  EXPECT_EQ(Match(rule, L"(", L""), 0);
}

TEST_P(RegexMatcher, ItemsAreTrimmedAndSearchedUnanchored) {
  CEventRuleFilter rule;
  EXPECT_EQ(Match(rule, L" Disk , Srv ", L"MySrvHost"), 2);
  EXPECT_EQ(Match(rule, L" Disk , Srv ", L"Disk"), 0);
  EXPECT_EQ(Match(rule, L"ERR", L"ERROR"), 0);
  EXPECT_EQ(Match(rule, L"^ERR$", L"ERROR"), -1);
  EXPECT_EQ(Match(rule, L"x,RR", L"ERROR"), 1) << "start of the first matching item";
}

TEST_P(RegexMatcher, AnchorsGiveTheSameStartsAsTheEngine) {
  CEventRuleFilter rule;
  EXPECT_EQ(Match(rule, L"rx$", L"ERRX"), 2);
  EXPECT_EQ(Match(rule, L"rx$", L"RXE"), -1);
  EXPECT_EQ(Match(rule, L"^er", L"ERROR"), 0);
  EXPECT_EQ(Match(rule, L"^ro", L"ERROR"), -1);
  EXPECT_EQ(Match(rule, L"^error$", L"ERRORS"), -1);
  EXPECT_EQ(Match(rule, L"^error$", L"error"), 0);
  EXPECT_EQ(Match(rule, L"RO", L"ERROR"), 2);
  EXPECT_EQ(Match(rule, L"$", L"ERROR"), 5) << "the end of the subject";
  EXPECT_EQ(Match(rule, L"^$", L"ERROR"), -1);
  EXPECT_EQ(Match(rule, L"a-b{1}]", L"xA-B{1}]"), 1) << "-, { } and ] are ordinary characters";
  EXPECT_EQ(Match(rule, L"a.c", L"xABC"), 1);
}

TEST_P(RegexMatcher, StarAndBlankItemsMatchEverything) {
  CEventRuleFilter rule;
  EXPECT_EQ(Match(rule, L"nomatch, * ", L"anything"), 0);
  EXPECT_EQ(Match(rule, L" ", L"anything"), 0);
}

TEST_P(RegexMatcher, CaseFoldingFollowsTheRule) {
  CEventRuleFilter rule;
  EXPECT_EQ(Match(rule, L"disk", L"DISK"), 0);
  EXPECT_EQ(Match(rule, L"disk", L"Disk"), 0);
  EXPECT_EQ(Match(rule, L"caf\u00e9", L"CAF\u00c9"), 0) << "folding by the ANSI code page's locale";
  rule.CaseSensitive = true;
  EXPECT_EQ(Match(rule, L"disk", L"DISK"), -1);
  EXPECT_EQ(Match(rule, L"Disk", L"Disk"), 0);
}

TEST_P(RegexMatcher, ItemsThatDoNotCompileNeverMatch) {
  CEventRuleFilter rule;
  EXPECT_EQ(Match(rule, L"(a,b)", L"(a"), -1);
  EXPECT_EQ(Match(rule, L"(a,b)", L"b)"), -1);
  EXPECT_EQ(Match(rule, L"(,b", L"xb"), 1) << "a broken item does not stop the list";
}

TEST_P(RegexMatcher, EventIdsAreText) {
  CEventRuleFilter rule;
  EXPECT_GE(Match(rule, L"^10[0-9]$", L"105"), 0);
  EXPECT_EQ(Match(rule, L"^10[0-9]$", L"110"), -1);
  EXPECT_GE(Match(rule, L"10", L"210"), 0);
  EXPECT_GE(Match(rule, L"10", L"1001"), 0);
}

INSTANTIATE_TEST_SUITE_P(CachedAndUncached, RegexMatcher, ::testing::Bool());

TEST(RegexListCache, CompilesEachListOncePerCaseMode) {
  RegexListCache cache;
  CEventRuleFilter rule;
  rule.MatchRegexList(L"disk", L"x", &cache);
  rule.MatchRegexList(L"disk", L"y", &cache);
  EXPECT_EQ(cache.Size(), 1u);
  rule.CaseSensitive = true;
  EXPECT_EQ(rule.MatchRegexList(L"disk", L"DISK", &cache), -1) << "the folded copy must not serve a case-sensitive rule";
  EXPECT_EQ(cache.Size(), 2u);
}

TEST(RegexListCache, StaysBounded) {
  RegexListCache cache;
  CEventRuleFilter rule;
  for (int i = 0; i < static_cast<int>(RegexListCache::kMaxLists) + 10; ++i)
    rule.MatchRegexList(std::to_wstring(i), L"value", &cache);
  EXPECT_LE(cache.Size(), RegexListCache::kMaxLists);
  EXPECT_EQ(rule.MatchRegexList(L"alu", L"value", &cache), 1);
}

TEST(CheckPattern, ReportsOnlyWholePatternsThatDoNotCompile) {
  CEventRuleFilter rule;
  std::wstring errors;
  EXPECT_TRUE(rule.CheckPattern(L"(a,b)", &errors));
  EXPECT_EQ(errors, L"");
  EXPECT_TRUE(rule.CheckPattern(L"(", &errors));
  EXPECT_EQ(errors, L"Fail to Compile RegExp (\n");
  rule.IncludePatterns.Log = L"[z-a]";
  rule.IncludePatterns.User = L"ok";
  rule.ExcludePatterns.Type = L"a**";
  errors.clear();
  rule.CheckPatterns(kRuleInclude, &errors);
  EXPECT_EQ(errors, L"Fail to Compile RegExp [z-a]\n");
  rule.CheckPatterns(kRuleExclude, &errors);
  EXPECT_EQ(errors, L"Fail to Compile RegExp [z-a]\nFail to Compile RegExp a**\n");
}

TEST(Rule, FieldsAreJoinedByAnd) {
  CEventRuleFilter rule;
  rule.IncludePatterns.Log = L"System";
  rule.IncludePatterns.Source = L"Disk";
  EXPECT_FALSE(rule.FilterNTEventRX(MakeRecord({.log = L"System", .source = L"Disk"}), kRuleInclude));
  EXPECT_TRUE(rule.FilterNTEventRX(MakeRecord({.log = L"System", .source = L"Srv"}), kRuleInclude));
  rule.ExcludePatterns = rule.IncludePatterns;
  EXPECT_TRUE(rule.FilterNTEventRX(MakeRecord({.log = L"System", .source = L"Disk"}), kRuleExclude));
  EXPECT_FALSE(rule.FilterNTEventRX(MakeRecord({.log = L"System", .source = L"Srv"}), kRuleExclude));
  EXPECT_FALSE(rule.FilterNTEventRX(MakeRecord({.log = L"Other"}), 5)) << "an unknown kind selects nothing";
}

TEST(Rule, WithoutPatternsAdmitsAsIncludeAndRejectsAsExclude) {
  CEventRuleFilter rule;
  EventRecord record = MakeRecord({.log = L"System"});
  EXPECT_FALSE(rule.FilterNTEventRX(record, kRuleInclude));
  EXPECT_TRUE(rule.FilterNTEventRX(record, kRuleExclude));
}

TEST(Rule, EachPatternTestsItsOwnField) {
  // Every field set to a value only its own pattern matches.
  const wchar_t* values[kPatternFields] = {L"cat", L"42", L"ERROR", L"Application", L"message", L"src", L"host", L"user"};
  for (size_t i = 0; i < kPatternFields; ++i) {
    CEventRuleFilter rule;
    PatternSet& p = rule.IncludePatterns;
    std::wstring* fields[kPatternFields] = {&p.Category, &p.EventID, &p.Type, &p.Log,
                                            &p.Description, &p.Source, &p.Computer, &p.User};
    *fields[i] = std::wstring(L"^") + values[i] + L"$";
    EventRecord record = MakeRecord({.log = values[3], .type = values[2], .source = values[5], .category = values[0],
                                     .event_id = values[1], .user = values[7], .computer = values[6], .message = values[4]});
    EXPECT_FALSE(rule.FilterNTEventRX(record, kRuleInclude)) << i;
    const_cast<std::wstring&>(RecordFieldAt(record, i)) = L"other";
    EXPECT_TRUE(rule.FilterNTEventRX(record, kRuleInclude)) << i;
  }
}

TEST(RuleSet, WithoutRulesEveryRecordPasses) {
  CNtEventRules rules;
  EXPECT_FALSE(rules.FilterNTEvent(MakeRecord({.log = L"System"})));
}

TEST(RuleSet, IncludeRulesAreAlternatives) {
  CNtEventRules rules;
  CEventRuleFilter app;
  app.IncludePatterns.Log = L"Application";
  rules.AddRule(app, kRuleInclude);
  EventRecord record = MakeRecord({.log = L"System"});
  EXPECT_TRUE(rules.FilterNTEvent(record));
  CEventRuleFilter sys;
  sys.IncludePatterns.Log = L"System";
  rules.AddRule(sys, kRuleInclude);
  EXPECT_FALSE(rules.FilterNTEvent(record));
}

TEST(RuleSet, ExclusionWinsOverInclusion) {
  CNtEventRules rules;
  CEventRuleFilter include;
  include.IncludePatterns.Log = L"System";
  rules.AddRule(include, kRuleInclude);
  CEventRuleFilter exclude;
  exclude.ExcludePatterns.Type = L"INFORMATION";
  rules.AddRule(exclude, kRuleExclude);
  EXPECT_TRUE(rules.FilterNTEvent(MakeRecord({.log = L"System", .type = L"INFORMATION"})));
  EXPECT_FALSE(rules.FilterNTEvent(MakeRecord({.log = L"System", .type = L"ERROR"})));
  rules.AddRule(exclude, 7);
  EXPECT_EQ(rules.ExcludeRules.size(), 1u) << "an unknown kind adds nothing";
}

TEST(RuleSet, EmptyRecordValueSatisfiesAnIncludePattern) {
  CNtEventRules rules;
  CEventRuleFilter rule;
  rule.IncludePatterns.Source = L"Disk";
  rules.AddRule(rule, kRuleInclude);
  EXPECT_FALSE(rules.FilterNTEvent(MakeRecord({.source = L""})));
  EXPECT_TRUE(rules.FilterNTEvent(MakeRecord({.source = L"Srv"})));
}

TEST(ApplyRXSetting, CaseSwitchIsOffOnlyForFALSE) {
  CNtEventRules rules;
  std::wstring errors;
  EXPECT_EQ(rules.ApplyRXSetting(L"CASE SENSITIVE", L"false", &errors), 0);
  ASSERT_TRUE(rules.SettingsRule);
  EXPECT_TRUE(rules.SettingsRule->CaseSensitive);
  EXPECT_FALSE(rules.MatchField(L"RX", L"disk", L"DISK"));
  rules.ApplyRXSetting(L"CASE SENSITIVE", L"FALSE", &errors);
  EXPECT_FALSE(rules.SettingsRule->CaseSensitive);
  EXPECT_TRUE(rules.MatchField(L"RX", L"disk", L"DISK"));
  EXPECT_EQ(errors, L"");
}

TEST(ApplyRXSetting, EmptyAndStarChangeNothing) {
  CNtEventRules rules;
  std::wstring errors;
  EXPECT_EQ(rules.ApplyRXSetting(L"SOURCES", L"", &errors), 0);
  EXPECT_EQ(rules.ApplyRXSetting(L"CASE SENSITIVE", L"*", &errors), 0);
  EXPECT_FALSE(rules.SettingsRule);
}

TEST(ApplyRXSetting, ReportsAPatternThatDoesNotCompile) {
  CNtEventRules rules;
  std::wstring errors = L"before\n";
  EXPECT_EQ(rules.ApplyRXSetting(L"SOURCES", L"(", &errors), 0);
  EXPECT_EQ(errors, L"before\nFail to Compile RegExp (\n");
  ASSERT_TRUE(rules.SettingsRule);
  EXPECT_TRUE(rules.SettingsRule->IncludePatterns.Source.empty()) << "the value is not stored in the rule set";
}

TEST(MatchField, ModesAndDefaultCase) {
  CNtEventRules rules;
  EXPECT_TRUE(rules.MatchField(L"RX", L"disk", L"DISK")) << "no settings rule: case is ignored";
  EXPECT_FALSE(rules.MatchField(L"RX", L"^disk$", L"DISKS"));
  EXPECT_TRUE(rules.MatchField(L"NonRX", L"DISKS", L"disk")) << "substring matcher: value inside the item";
  EXPECT_FALSE(rules.MatchField(L"NonRX", L"xyz", L"disk"));
  EXPECT_TRUE(rules.MatchField(L"rx", L"^nothing$", L"disk"));
  EXPECT_TRUE(rules.MatchField(L"", L"^nothing$", L"disk"));
  EXPECT_TRUE(rules.MatchField(L"RX", L"", L"disk"));
}

// The reused compiled items must not change a single verdict.
TEST(RuleSet, CachedAndUncachedVerdictsAgree) {
  std::mt19937 random(12345);
  auto pick = [&](std::initializer_list<const wchar_t*> options) {
    std::uniform_int_distribution<size_t> d(0, options.size() - 1);
    return std::wstring(options.begin()[d(random)]);
  };
  CNtEventRules cached;
  CNtEventRules uncached;
  uncached.SetCompiledCache(false);
  for (int i = 0; i < 40; ++i) {
    CEventRuleFilter rule;
    RuleKind kind = i % 8 == 0 ? kRuleExclude : kRuleInclude;
    PatternSet& p = rule.Patterns(kind);
    rule.CaseSensitive = i % 5 == 0;
    if (i % 2 == 0) p.Log = pick({L"System", L"^App", L"Sys,App", L"*", L"x(", L" "});
    if (i % 3 != 1) p.Type = pick({L"ERR", L"^WARNING$", L"INFO|AUDIT", L"error"});
    if (i % 4 == 0) p.Source = pick({L"Disk", L"srv,Disk", L"^$", L"[a-c]+"});
    if (i % 7 == 0) p.Description = pick({L"disk.*full", L"fail", L"(a,b)"});
    if (i % 6 == 0) p.EventID = pick({L"^10[0-9]$", L"10", L"5"});
    cached.AddRule(rule, kind);
    uncached.AddRule(rule, kind);
  }
  int rejected = 0;
  for (int i = 0; i < 1500; ++i) {
    std::wstring log = pick({L"System", L"Application", L"Security", L""});
    std::wstring type = pick({L"ERROR", L"WARNING", L"INFORMATION", L"AUDIT_SUCCESS", L""});
    std::wstring source = pick({L"Disk", L"MySrvHost", L"abc", L"DISK", L""});
    std::wstring message = pick({L"the disk is full", L"service failed", L"(a", L"all good"});
    std::wstring id = pick({L"100", L"105", L"210", L"5", L"1001"});
    EventRecord record = MakeRecord({.log = log.c_str(), .type = type.c_str(), .source = source.c_str(),
                                     .event_id = id.c_str(), .message = message.c_str()});
    bool a = cached.FilterNTEvent(record);
    ASSERT_EQ(a, uncached.FilterNTEvent(record)) << i;
    rejected += a;
  }
  EXPECT_GT(rejected, 0);
  EXPECT_LT(rejected, 1500);
}

}  // namespace
}  // namespace brisel
