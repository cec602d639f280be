// The NtEvents filter: settings, the plain and regular-expression tests, and
// rule-file loading results.
#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <thread>

#include "collector/error_state.h"
#include "rules/event_filter.h"
#include "tests/harness/dispatch.h"
#include "tests/win/rules/rule_test_util.h"

namespace brisel {
namespace {

using test::MakeRecord;
using test::RuleFile;

// ---- settings ----

TEST(FilterSettings, ValuesGetTheDelimiterAndSplitAtTheSeparator) {
  EventFilter f;
  EXPECT_EQ(f.SetFilter(L"LOGS", L"System:Security"), 0);
  EXPECT_EQ(f.Include(FilterList::Logs), L"System,");
  EXPECT_EQ(f.Exclude(FilterList::Logs), L"Security,");
  EXPECT_EQ(f.SetFilter(L"TYPES", L":WARNING,"), 0);
  EXPECT_EQ(f.Include(FilterList::Types), L"");
  EXPECT_EQ(f.Exclude(FilterList::Types), L"WARNING,");
  EXPECT_EQ(f.SetFilter(L"SOURCES_EX", L"Disk:ignored"), 0);
  EXPECT_EQ(f.Exclude(FilterList::Sources), L"Disk,") << "the _EX keys take the include part";
  EXPECT_EQ(f.Include(FilterList::Sources), L"");
}

TEST(FilterSettings, EveryListKeyHasItsList) {
  struct Key {
    const wchar_t* name;
    FilterList list;
    bool exclude_only;
  };
  const Key keys[] = {{L"LOGS", FilterList::Logs, false},          {L"TYPES", FilterList::Types, false},
                      {L"COMPUTERS", FilterList::Computers, false}, {L"EVENTIDS", FilterList::EventIds, false},
                      {L"CATEGORIES", FilterList::Categories, false}, {L"SOURCES", FilterList::Sources, false},
                      {L"USERS", FilterList::Users, false},         {L"COMPUTERS_EX", FilterList::Computers, true},
                      {L"EVENTIDS_EX", FilterList::EventIds, true},   {L"CATEGORIES_EX", FilterList::Categories, true},
                      {L"SOURCES_EX", FilterList::Sources, true},     {L"USERS_EX", FilterList::Users, true}};
  for (const Key& key : keys) {
    EventFilter f;
    EXPECT_EQ(f.SetFilter(key.name, L"v"), 0) << test::Narrow(key.name);
    for (int i = 0; i < static_cast<int>(FilterList::kCount); ++i) {
      auto list = static_cast<FilterList>(i);
      bool mine = list == key.list;
      EXPECT_EQ(f.Include(list), mine && !key.exclude_only ? L"v," : L"") << test::Narrow(key.name);
      EXPECT_EQ(f.Exclude(list), mine && key.exclude_only ? L"v," : L"") << test::Narrow(key.name);
    }
  }
}

TEST(FilterSettings, UnknownKeysAndEmptyValues) {
  EventFilter f;
  EXPECT_EQ(f.SetFilter(L"logs", L"System"), 1) << "keys are compared with case";
  EXPECT_EQ(f.SetFilter(L"NOSUCHKEY", L"x"), 1);
  EXPECT_EQ(f.Include(FilterList::Logs), L"");
  f.SetFilter(L"LOGS", L"System");
  EXPECT_EQ(f.SetFilter(L"LOGS", L""), 0);
  EXPECT_EQ(f.SetFilter(L"NOSUCHKEY", L""), 0);
  EXPECT_EQ(f.Include(FilterList::Logs), L"System,");
}

TEST(FilterSettings, DelimiterAndSeparatorActOnLaterCalls) {
  EventFilter f;
  f.SetFilter(L"SOURCES", L"a;b");
  EXPECT_EQ(f.Include(FilterList::Sources), L"a;b,");
  EXPECT_EQ(f.SetFilter(L"DELIMITER", L";x"), 0);
  EXPECT_EQ(f.Delimiter(), L';');
  f.SetFilter(L"USERS", L"a;b");
  EXPECT_EQ(f.Include(FilterList::Users), L"a;b;");
  EXPECT_EQ(f.Include(FilterList::Sources), L"a;b,") << "stored lists keep their delimiter";
  EXPECT_EQ(f.SetFilter(L"SEPERATOR", L"|"), 0);
  f.SetFilter(L"LOGS", L"A:B|C");
  EXPECT_EQ(f.Include(FilterList::Logs), L"A:B;");
  EXPECT_EQ(f.Exclude(FilterList::Logs), L"C;");
}

TEST(FilterSettings, CaseSwitchIsOffOnlyForFALSE) {
  EventFilter f;
  f.SetFilter(L"CASE SENSITIVE", L"no");
  EXPECT_TRUE(f.CaseSensitive());
  f.SetFilter(L"CASE SENSITIVE", L"FALSE");
  EXPECT_FALSE(f.CaseSensitive());
}

TEST(FilterSettings, MessageListsSplitAtEveryDelimiter) {
  EventFilter f;
  f.SetFilter(L"MESSAGE", L"disk,,full:bad");
  EXPECT_EQ(f.IncludeMessages(), (std::vector<std::wstring>{L"disk", L"", L"full"}));
  EXPECT_EQ(f.ExcludeMessages(), (std::vector<std::wstring>{L"bad"}));
  f.SetFilter(L"MESSAGE_EX", L"worse");
  EXPECT_EQ(f.ExcludeMessages(), (std::vector<std::wstring>{L"worse"}));
  EXPECT_EQ(f.IncludeMessages().size(), 3u);
}

TEST(FilterSettings, RecentIsHoursAndProcessWide) {
  EventFilter f;
  EXPECT_EQ(f.SetFilter(L"RECENT", L"24"), 0);
  EXPECT_EQ(f.Recent(), 86400);
  EXPECT_EQ(RecentSeconds(), 86400);
  f.SetFilter(L"RECENT", L"2 hours");
  EXPECT_EQ(f.Recent(), 7200);
  f.SetFilter(L"RECENT", L"x");
  EXPECT_EQ(f.Recent(), 0);
}

TEST(FilterSettings, RecentClampsInsteadOfOverflowing) {
  EventFilter f;
  f.SetFilter(L"RECENT", L"1000000");
  EXPECT_EQ(f.Recent(), LONG_MAX);
  f.SetFilter(L"RECENT", L"-1000000");
  EXPECT_EQ(f.Recent(), LONG_MIN);
  f.SetFilter(L"RECENT", L"0");
  EXPECT_EQ(RecentSeconds(), 0);
}

TEST(FilterSettings, HelpReplacesOrDropsTheRuleSet) {
  RegexEventFilter f;
  std::wstring errors;
  f.SetFilterRX(L"SOURCES", L"x", &errors);
  bool has = false;
  f.WithRules([&](CNtEventRules* r) { has = r != nullptr; });
  EXPECT_TRUE(has);
  EXPECT_EQ(f.SetFilter(L"HELP", L"no"), 0);
  f.WithRules([&](CNtEventRules* r) { has = r != nullptr; });
  EXPECT_FALSE(has);
  EXPECT_EQ(f.SetFilterRX(L"HELP", L"FALSE", &errors), 0) << "no rule set left to take the setting";

  std::wstring install;
  bool readable = ReadMachineString(L"SOFTWARE\\Talvane\\Vigilor", L"InstallPath", 260, &install);
  EXPECT_EQ(f.SetFilter(L"HELP", L"TRUE"), 0);
  f.WithRules([&](CNtEventRules* r) {
    if (readable) {
      ASSERT_NE(r, nullptr);
      EXPECT_EQ(r->Path(), install + L"\\bin\\rule.xml");
      EXPECT_FALSE(r->Loaded);
      EXPECT_TRUE(r->IncludeRules.empty());
    } else {
      EXPECT_EQ(r, nullptr) << "without an install path nothing changes";
    }
  });
}

// ---- plain test ----

TEST(PlainFilter, TypesIncludeList) {
  EventFilter f;
  f.SetFilter(L"TYPES", L"ERROR,WARNING");
  EXPECT_FALSE(f.Test(MakeRecord({.type = L"WARNING"})));
  EXPECT_TRUE(f.Test(MakeRecord({.type = L"INFORMATION"})));
  EXPECT_TRUE(f.Test(MakeRecord({.type = L""})) ) << "an empty Type misses every include list";
  f.SetFilter(L"TYPES", L":ERROR");
  EXPECT_FALSE(f.Test(MakeRecord({.type = L""}))) << "and is never excluded";
  EXPECT_TRUE(f.Test(MakeRecord({.type = L"ERROR"})));
}

TEST(PlainFilter, EventIdsIncludeWholeItemsAndExcludeSubstrings) {
  EventFilter f;
  f.SetFilter(L"EVENTIDS", L"10");
  EXPECT_TRUE(f.Test(MakeRecord({.event_id = L"100"})));
  EXPECT_FALSE(f.Test(MakeRecord({.event_id = L"10"})));
  EventFilter g;
  g.SetFilter(L"EVENTIDS_EX", L"10");
  EXPECT_TRUE(g.Test(MakeRecord({.event_id = L"100"})));
  EXPECT_TRUE(g.Test(MakeRecord({.event_id = L"210"})));
  EXPECT_FALSE(g.Test(MakeRecord({.event_id = L"1"})));
}

TEST(PlainFilter, ListItemsMatchAsSubstrings) {
  EventFilter f;
  f.SetFilter(L"SOURCES", L"Srv");
  EXPECT_FALSE(f.Test(MakeRecord({.source = L"MySrvHost"})));
  EXPECT_FALSE(f.Test(MakeRecord({.source = L"mysrvhost"}))) << "case is ignored by default";
  EXPECT_TRUE(f.Test(MakeRecord({.source = L"Disk"})));
}

TEST(PlainFilter, ExcludeOnlyLogs) {
  EventFilter f;
  f.SetFilter(L"LOGS", L":Security");
  EXPECT_FALSE(f.Test(MakeRecord({.log = L"System"})));
  EXPECT_TRUE(f.Test(MakeRecord({.log = L"Security"})));
}

TEST(PlainFilter, MessageItemsAndCase) {
  EventFilter f;
  f.SetFilter(L"MESSAGE", L"disk,full");
  EXPECT_FALSE(f.Test(MakeRecord({.message = L"the DISK broke"})));
  EXPECT_FALSE(f.Test(MakeRecord({.message = L"it is full"})));
  EXPECT_TRUE(f.Test(MakeRecord({.message = L"fine"})));
  f.SetFilter(L"CASE SENSITIVE", L"TRUE");
  f.SetFilter(L"MESSAGE", L"DISK");
  EXPECT_TRUE(f.Test(MakeRecord({.message = L"the disk broke"})));
  f.SetFilter(L"MESSAGE_EX", L"broke");
  EXPECT_TRUE(f.Test(MakeRecord({.message = L"the DISK broke"})));
  EXPECT_FALSE(f.Test(MakeRecord({.message = L"the DISK is fine"})));
}

TEST(PlainFilter, EveryIncludeListTestsItsField) {
  const FilterList lists[] = {FilterList::Logs,    FilterList::Types, FilterList::EventIds, FilterList::Categories,
                              FilterList::Sources, FilterList::Users, FilterList::Computers};
  const wchar_t* keys[] = {L"LOGS", L"TYPES", L"EVENTIDS", L"CATEGORIES", L"SOURCES", L"USERS", L"COMPUTERS"};
  for (size_t i = 0; i < std::size(lists); ++i) {
    EventFilter f;
    f.SetFilter(keys[i], L"want");
    EventRecord record = MakeRecord({.log = L"x", .type = L"x", .source = L"x", .category = L"x", .event_id = L"x",
                                     .user = L"x", .computer = L"x"});
    EXPECT_TRUE(f.Test(record)) << i;
    const_cast<std::wstring&>(FilterField(record, lists[i])) = L"want";
    EXPECT_FALSE(f.Test(record)) << i;
  }
}

TEST(PlainFilter, CountsItsTests) {
  EventFilter f;
  f.Test(MakeRecord({}));
  f.Test(MakeRecord({}));
  EXPECT_EQ(f.TestCount(), 2u);
}

// ---- regular-expression test ----

TEST(RegexFilter, ListsAreRegularExpressions) {
  RegexEventFilter f;
  std::wstring errors;
  EXPECT_EQ(f.SetFilterRX(L"TYPES", L"^ERR", &errors), 0);
  EXPECT_FALSE(f.Test(MakeRecord({.type = L"ERROR"})));
  EXPECT_TRUE(f.Test(MakeRecord({.type = L"WARNING"})));
  EXPECT_FALSE(f.Test(MakeRecord({.type = L""}))) << "an empty value matches every list";
  EXPECT_EQ(f.SetFilterRX(L"SOURCES", L":^Disk$", &errors), 0);
  EXPECT_TRUE(f.Test(MakeRecord({.type = L"ERROR", .source = L"disk"})));
  EXPECT_FALSE(f.Test(MakeRecord({.type = L"ERROR", .source = L"Disks"})));
  EXPECT_EQ(errors, L"");
}

TEST(RegexFilter, SettingsReportPatternsAndReturnZero) {
  RegexEventFilter f;
  std::wstring errors;
  EXPECT_EQ(f.SetFilterRX(L"SOURCES", L"(", &errors), 0);
  EXPECT_EQ(f.SetFilterRX(L"NOSUCHKEY", L"[x", &errors), 0) << "an unknown key still gives 0";
  EXPECT_EQ(errors, L"Fail to Compile RegExp (\nFail to Compile RegExp [x\n");
  EXPECT_TRUE(f.Test(MakeRecord({.source = L"("}))) << "the broken pattern never matches";
}

TEST(RegexFilter, CaseSwitchComesFromTheSettingsRule) {
  RegexEventFilter f;
  std::wstring errors;
  f.SetFilterRX(L"SOURCES", L"disk", &errors);
  EXPECT_FALSE(f.Test(MakeRecord({.source = L"DISK"})));
  f.SetFilterRX(L"CASE SENSITIVE", L"TRUE", &errors);
  EXPECT_TRUE(f.Test(MakeRecord({.source = L"DISK"})));
}

TEST(RegexFilter, MessageItemsTakePrecedenceOverLoadedRules) {
  RuleFile rules("EVENTSTART\nLOG: ^System$\nEVENTEND\n");
  RegexEventFilter f;
  std::wstring errors;
  ASSERT_EQ(f.SetFilterFile(L"INCLUDE", rules.Path(), &errors), 0);
  EXPECT_TRUE(f.Test(MakeRecord({.log = L"Application", .message = L"disk full"})));
  EXPECT_FALSE(f.Test(MakeRecord({.log = L"System", .message = L"disk full"})));
  f.SetFilterRX(L"MESSAGE", L"disk", &errors);
  EXPECT_FALSE(f.Test(MakeRecord({.log = L"Application", .message = L"disk full"})))
      << "with message items the rules are not consulted";
  EXPECT_TRUE(f.Test(MakeRecord({.log = L"System", .message = L"cpu"})));
  f.SetFilterRX(L"MESSAGE_EX", L"full", &errors);
  EXPECT_TRUE(f.Test(MakeRecord({.log = L"System", .message = L"disk full"})));
}

TEST(RegexFilter, ExcludeListsRejectOnAMatch) {
  const wchar_t* keys[] = {L"LOGS", L"TYPES", L"EVENTIDS", L"CATEGORIES", L"SOURCES", L"USERS", L"COMPUTERS"};
  const FilterList lists[] = {FilterList::Logs,    FilterList::Types, FilterList::EventIds, FilterList::Categories,
                              FilterList::Sources, FilterList::Users, FilterList::Computers};
  for (size_t i = 0; i < std::size(keys); ++i) {
    RegexEventFilter f;
    std::wstring errors;
    f.SetFilterRX(keys[i], L":^bad$", &errors);
    EventRecord record = MakeRecord({.log = L"ok", .type = L"ok", .source = L"ok", .category = L"ok", .event_id = L"ok",
                                     .user = L"ok", .computer = L"ok"});
    EXPECT_FALSE(f.Test(record)) << i;
    const_cast<std::wstring&>(FilterField(record, lists[i])) = L"bad";
    EXPECT_TRUE(f.Test(record)) << i;
  }
}

// ---- rule files ----

TEST(SetFilterFile, ResultCodes) {
  RuleFile xml("<?xml version=\"1.0\"?><r><INCLUDE><EVENTS><LOG>^System$</LOG></EVENTS></INCLUDE></r>", L".xml");
  RuleFile xml_bad_pattern("<r><INCLUDE><EVENTS><LOG>(</LOG></EVENTS></INCLUDE></r>", L".xml");
  RuleFile lines("LOG: ^System$\n");
  RuleFile lines_with_complaints("LOG: ^System$\nnonsense\n");
  RuleFile neither("nonsense\n");
  RegexEventFilter f;
  std::wstring errors = L"stale";
  EXPECT_EQ(f.SetFilterFile(L"INCLUDE", xml.Path(), &errors), 0);
  EXPECT_EQ(errors, L"");
  EXPECT_EQ(f.SetFilterFile(L"INCLUDE", xml_bad_pattern.Path(), &errors), 1);
  EXPECT_EQ(errors, L"Fail to Compile RegExp (\n");
  EXPECT_EQ(f.SetFilterFile(L"INCLUDE", lines.Path(), &errors), 0);
  EXPECT_EQ(errors, L"");
  EXPECT_EQ(f.SetFilterFile(L"INCLUDE", lines_with_complaints.Path(), &errors), 3);
  EXPECT_EQ(errors, L"Cannot parse line nonsense\n");
  EXPECT_EQ(f.SetFilterFile(L"INCLUDE", L"no_such_rules.xml", &errors), 1);
  EXPECT_EQ(errors, L"Cannot open filter file");
  size_t held = 0;
  f.WithRules([&](CNtEventRules* r) {
    ASSERT_NE(r, nullptr);
    EXPECT_TRUE(r->Loaded);
    held = r->IncludeRules.size();
  });
  EXPECT_EQ(held, 4u) << "loads append";
  EXPECT_TRUE(f.Test(MakeRecord({.log = L"Application"})));

  EXPECT_EQ(f.SetFilterFile(L"INCLUDE", neither.Path(), &errors), -1);
  EXPECT_EQ(errors.rfind(L"Malformed XML. Parsing error at line ", 0), 0u) << test::Narrow(errors);
  f.WithRules([&](CNtEventRules* r) { EXPECT_EQ(r, nullptr) << "both formats failed: the rule set is dropped"; });
  EXPECT_FALSE(f.Test(MakeRecord({.log = L"Application"})));
}

TEST(SetFilterFile, AMarkOnlyFileFailsInBothFormats) {
  RuleFile good("LOG: ^System$\n");
  for (const char* mark : {"\xEF\xBB\xBF", "\xFF\xFE", "\xFE\xFF"}) {
    RuleFile mark_only(mark);
    RegexEventFilter f;
    std::wstring errors;
    ASSERT_EQ(f.SetFilterFile(L"INCLUDE", good.Path(), &errors), 0);
    EXPECT_EQ(f.SetFilterFile(L"INCLUDE", mark_only.Path(), &errors), -1);
    EXPECT_EQ(errors.rfind(L"Malformed XML. Parsing error at line ", 0), 0u) << test::Narrow(errors);
    f.WithRules([&](CNtEventRules* r) { EXPECT_EQ(r, nullptr) << "the loaded rules are dropped"; });
  }
}

TEST(SetFilterFile, SettingsSurviveALostRuleSetButItsCaseSwitchDoesNot) {
  RuleFile neither("nonsense\n");
  RegexEventFilter f;
  std::wstring errors;
  f.SetFilterRX(L"SOURCES", L"disk", &errors);
  f.SetFilterRX(L"CASE SENSITIVE", L"TRUE", &errors);
  EXPECT_TRUE(f.Test(MakeRecord({.source = L"DISK"})));
  EXPECT_EQ(f.SetFilterFile(L"INCLUDE", neither.Path(), &errors), -1);
  EXPECT_FALSE(f.Test(MakeRecord({.source = L"DISK"})));
  EXPECT_TRUE(f.Test(MakeRecord({.source = L"cpu"})));
}

TEST(SetFilterFile, ExcludeKindFiles) {
  RuleFile lines("TYPE: ^INFORMATION$\n");
  RegexEventFilter f;
  std::wstring errors;
  EXPECT_EQ(f.SetFilterFile(L"EXCLUDE", lines.Path(), &errors), 0);
  EXPECT_TRUE(f.Test(MakeRecord({.type = L"INFORMATION"})));
  EXPECT_FALSE(f.Test(MakeRecord({.type = L"ERROR"})));
}

// Loads (some failing, which drop the rule set) race with tests on one filter.
TEST(FilterThreads, LoadsAndTestsOnSeveralThreads) {
  RuleFile good("EVENTSTART\nLOG: ^System$\nEVENTEND\n");
  RuleFile bad("nonsense\n");
  RegexEventFilter f;
  std::atomic<bool> stop{false};
  std::atomic<int> tests{0};
  std::atomic<int> odd{0};
  std::vector<std::thread> testers;
  for (int t = 0; t < 3; ++t) {
    testers.emplace_back([&] {
      EventRecord system = MakeRecord({.log = L"System", .computer = L"host"});
      while (!stop) {
        if (f.Test(system)) ++odd;  // a System record passes with or without the rules
        ++tests;
      }
    });
  }
  std::wstring errors;
  int loads = 0;
  for (int i = 0; i < 200; ++i) {
    int r = f.SetFilterFile(L"INCLUDE", i % 2 ? bad.Path() : good.Path(), &errors);
    EXPECT_EQ(r, i % 2 ? -1 : 0);
    f.SetFilterRX(L"COMPUTERS", L"host", &errors);
    f.SetFilterRX(L"COMPUTERS", L"h:^nobody$", &errors);
    ++loads;
  }
  stop = true;
  for (std::thread& t : testers) t.join();
  EXPECT_EQ(loads, 200);
  EXPECT_GT(tests.load(), 0);
  EXPECT_EQ(odd.load(), 0);
}

}  // namespace
}  // namespace brisel
