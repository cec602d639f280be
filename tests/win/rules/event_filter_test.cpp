// The NtEvents filter: settings, the plain and regular-expression tests, and
// rule-file loading results.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "collector/error_state.h"
#include "rules/event_filter.h"
#include "tests/harness/dispatch.h"
#include "tests/win/rules/rule_test_util.h"

namespace brisel {
namespace {

using test::MakeRecord;
using test::Narrow;
using test::RuleFile;

// Applies "KEY=value" lines; returns the result codes, one digit each.
std::wstring Apply(EventFilter* f, std::wstring_view calls, std::wstring* errors = nullptr) {
  std::wstring codes;
  for (size_t at = 0; at < calls.size();) {
    size_t end = std::min(calls.find(L'\n', at), calls.size()), eq = calls.find(L'=', at);
    std::wstring_view key = calls.substr(at, eq - at), value = calls.substr(eq + 1, end - eq - 1);
    codes += std::to_wstring(errors ? f->SetFilterRX(key, value, errors) : f->SetFilter(key, value));
    at = end + 1;
  }
  return codes;
}

std::wstring Settings(const EventFilter& f) {
  static const wchar_t* const kNames[] = {L"Logs", L"Types", L"EventIds", L"Categories", L"Sources", L"Users", L"Computers"};
  std::wstring s;
  for (int i = 0; i < static_cast<int>(FilterList::kCount); ++i) {
    if (!f.Include(FilterList(i)).empty()) s += kNames[i] + (L"+" + f.Include(FilterList(i))) + L" ";
    if (!f.Exclude(FilterList(i)).empty()) s += kNames[i] + (L"-" + f.Exclude(FilterList(i))) + L" ";
  }
  for (const std::wstring& m : f.IncludeMessages()) s += L"M+" + m + L" ";
  for (const std::wstring& m : f.ExcludeMessages()) s += L"M-" + m + L" ";
  if (f.CaseSensitive()) s += L"case ";
  return f.Recent() ? s + L"recent=" + std::to_wstring(f.Recent()) : s;
}

TEST(FilterSettings, KeysAndValues) {
  const wchar_t* const rows[][3] = {
      {L"LOGS=System:Security", L"0", L"Logs+System, Logs-Security, "},
      {L"TYPES=:WARNING,", L"0", L"Types-WARNING, "},
      {L"LOGS=l\nTYPES=t\nEVENTIDS=e\nCATEGORIES=c\nSOURCES=s\nUSERS=u\nCOMPUTERS=m", L"0000000",
       L"Logs+l, Types+t, EventIds+e, Categories+c, Sources+s, Users+u, Computers+m, "},
      {L"EVENTIDS_EX=e:x\nCATEGORIES_EX=c\nSOURCES_EX=s\nUSERS_EX=u\nCOMPUTERS_EX=m", L"00000",
       L"EventIds-e, Categories-c, Sources-s, Users-u, Computers-m, "},
      {L"logs=System\nNOSUCHKEY=x", L"11", L""},
      {L"LOGS=System\nLOGS=\nNOSUCHKEY=", L"000", L"Logs+System, "},
      {L"SOURCES=a;b\nDELIMITER=;x\nUSERS=a;b\nSEPERATOR=|\nLOGS=A:B|C", L"00000", L"Logs+A:B; Logs-C; Sources+a;b, Users+a;b; "},
      {L"CASE SENSITIVE=no", L"0", L"case "},
      {L"CASE SENSITIVE=no\nCASE SENSITIVE=FALSE", L"00", L""},
      {L"MESSAGE=disk,,full:bad", L"0", L"M+disk M+ M+full M-bad "},
      {L"MESSAGE=disk,,full:bad\nMESSAGE_EX=worse", L"00", L"M+disk M+ M+full M-worse "},
      {L"RECENT=24", L"0", L"recent=86400"}, {L"RECENT=2 hours", L"0", L"recent=7200"}, {L"RECENT=x", L"0", L""},
      {L"RECENT=1000000", L"0", L"recent=2147483647"}, {L"RECENT=-1000000", L"0", L"recent=-2147483648"}};
  for (const auto& row : rows) {
    EventFilter f;
    EXPECT_EQ(Apply(&f, row[0]), row[1]) << Narrow(row[0]);
    EXPECT_EQ(Settings(f), row[2]) << Narrow(row[0]);
  }
  EventFilter f;
  f.SetFilter(L"RECENT", L"24");
  EXPECT_EQ(RecentSeconds(), 86400) << "the setting is process-wide";
  f.SetFilter(L"RECENT", L"0");
  EXPECT_EQ(RecentSeconds(), 0);
}

TEST(FilterSettings, HelpReplacesOrDropsTheRuleSet) {
  RegexEventFilter f;
  std::wstring errors, install;
  auto rules = [&f] {
    CNtEventRules* held = nullptr;
    f.WithRules([&](CNtEventRules* r) { held = r; });
    return held;
  };
  f.SetFilterRX(L"SOURCES", L"x", &errors);
  EXPECT_NE(rules(), nullptr);
  EXPECT_EQ(f.SetFilter(L"HELP", L"no"), 0);
  EXPECT_EQ(rules(), nullptr);
  EXPECT_EQ(f.SetFilterRX(L"HELP", L"FALSE", &errors), 0) << "no rule set left to take the setting";
  bool readable = ReadMachineString(L"SOFTWARE\\Talvane\\Vigilor", L"InstallPath", 260, &install);
  EXPECT_EQ(f.SetFilter(L"HELP", L"TRUE"), 0);
  ASSERT_EQ(rules() != nullptr, readable) << "without an install path nothing changes";
  if (readable) {
    EXPECT_EQ(rules()->Path(), install + L"\\bin\\rule.xml");
    EXPECT_FALSE(rules()->Loaded || !rules()->IncludeRules.empty()) << "the help file is only named";
  }
}

struct VerdictRow {
  bool rx;
  const wchar_t* settings;
  test::RecordFields record;
  bool dropped;
  const wchar_t* errors = L"";
};

TEST(Filter, Verdicts) {
  const VerdictRow rows[] = {
      {false, L"TYPES=ERROR,WARNING", {.type = L"WARNING"}, false}, {false, L"TYPES=ERROR,WARNING", {.type = L"INFORMATION"}, true},
      {false, L"TYPES=ERROR,WARNING", {.type = L""}, true},  // an empty Type misses every include list
      {false, L"TYPES=:ERROR", {.type = L""}, false}, {false, L"TYPES=:ERROR", {.type = L"ERROR"}, true},
      {false, L"EVENTIDS=10", {.event_id = L"100"}, true}, {false, L"EVENTIDS=10", {.event_id = L"10"}, false},
      {false, L"EVENTIDS_EX=10", {.event_id = L"100"}, true}, {false, L"EVENTIDS_EX=10", {.event_id = L"210"}, true},
      {false, L"EVENTIDS_EX=10", {.event_id = L"1"}, false}, {false, L"SOURCES=Srv", {.source = L"mysrvhost"}, false},
      {false, L"SOURCES=Srv", {.source = L"Disk"}, true}, {false, L"LOGS=:Security", {.log = L"System"}, false},
      {false, L"LOGS=:Security", {.log = L"Security"}, true}, {false, L"MESSAGE=disk,full", {.message = L"the DISK broke"}, false},
      {false, L"MESSAGE=disk,full", {.message = L"it is full"}, false}, {false, L"MESSAGE=disk,full", {.message = L"fine"}, true},
      {false, L"CASE SENSITIVE=TRUE\nMESSAGE=DISK", {.message = L"the disk broke"}, true},
      {false, L"CASE SENSITIVE=TRUE\nMESSAGE=DISK\nMESSAGE_EX=broke", {.message = L"the DISK broke"}, true},
      {false, L"CASE SENSITIVE=TRUE\nMESSAGE=DISK\nMESSAGE_EX=broke", {.message = L"the DISK is fine"}, false},
      {true, L"TYPES=^ERR", {.type = L"ERROR"}, false}, {true, L"TYPES=^ERR", {.type = L"WARNING"}, true},
      {true, L"TYPES=^ERR", {.type = L""}, false},  // an empty value matches every list
      {true, L"TYPES=^ERR\nSOURCES=:^Disk$", {.type = L"ERROR", .source = L"disk"}, true},
      {true, L"TYPES=^ERR\nSOURCES=:^Disk$", {.type = L"ERROR", .source = L"Disks"}, false},
      {true, L"SOURCES=(\nNOSUCHKEY=[x", {.source = L"("}, true, L"Fail to Compile RegExp (\nFail to Compile RegExp [x\n"},
      {true, L"SOURCES=disk", {.source = L"DISK"}, false}, {true, L"SOURCES=disk\nCASE SENSITIVE=TRUE", {.source = L"DISK"}, true},
      {true, L"SOURCES=disk\nCASE SENSITIVE=false", {.source = L"DISK"}, true},
      {true, L"SOURCES=disk\nCASE SENSITIVE=TRUE\nCASE SENSITIVE=FALSE", {.source = L"DISK"}, false},
      {true, L"MESSAGE_EX=full", {.message = L"disk full"}, true}, {true, L"MESSAGE=^disk", {.message = L"a disk"}, true}};
  for (const VerdictRow& row : rows) {
    std::unique_ptr<EventFilter> f(row.rx ? new RegexEventFilter : new EventFilter);
    std::wstring errors;
    Apply(f.get(), row.settings, row.rx ? &errors : nullptr);
    EXPECT_EQ(f->Test(MakeRecord(row.record)), row.dropped) << Narrow(row.settings) << (row.rx ? " rx" : "");
    EXPECT_EQ(errors, row.errors) << Narrow(row.settings);
  }
}

// Every list of both filters against a record that only one field satisfies.
TEST(Filter, EveryListTestsItsField) {
  const wchar_t* keys[] = {L"LOGS", L"TYPES", L"EVENTIDS", L"CATEGORIES", L"SOURCES", L"USERS", L"COMPUTERS"};
  for (size_t i = 0; i < std::size(keys); ++i) {
    EventFilter plain;
    RegexEventFilter rx;
    std::wstring errors;
    plain.SetFilter(keys[i], L"want");
    rx.SetFilterRX(keys[i], L":^want$", &errors);
    EventRecord record = MakeRecord({L"x", L"x", L"x", L"x", L"x", L"x", L"x"});
    EXPECT_TRUE(plain.Test(record)) << i;
    EXPECT_FALSE(rx.Test(record)) << i;
    const_cast<std::wstring&>(FilterField(record, static_cast<FilterList>(i))) = L"want";
    EXPECT_FALSE(plain.Test(record)) << i;
    EXPECT_TRUE(rx.Test(record)) << i;
  }
}

TEST(SetFilterFile, ResultCodesAndTheRulesTheyLeave) {
  RuleFile xml("<?xml version=\"1.0\"?><r><INCLUDE><EVENTS><LOG>^System$</LOG></EVENTS></INCLUDE></r>", L".xml");
  RuleFile xml_bad_pattern("<r><INCLUDE><EVENTS><LOG>(</LOG></EVENTS></INCLUDE></r>", L".xml");
  RuleFile lines("LOG: ^System$\n"), lines_with_complaints("LOG: ^System$\nnonsense\n"), neither("nonsense\n");
  RuleFile exclude("TYPE: ^INFORMATION$\n");
  const std::pair<const RuleFile*, const wchar_t*> loads[] = {
      {&xml, L""}, {&xml_bad_pattern, L"Fail to Compile RegExp (\n"}, {&lines, L""},
      {&lines_with_complaints, L"Cannot parse line nonsense\n"}};
  const LONG codes[] = {0, 1, 0, 3};
  RegexEventFilter f;
  std::wstring errors = L"stale";
  f.SetFilterRX(L"SOURCES", L"disk", &errors);
  f.SetFilterRX(L"CASE SENSITIVE", L"TRUE", &errors);
  for (size_t i = 0; i < std::size(loads); ++i) {
    EXPECT_EQ(f.SetFilterFile(L"INCLUDE", loads[i].first->Path(), &errors), codes[i]) << i;
    EXPECT_EQ(errors, loads[i].second) << i;
  }
  EXPECT_EQ(f.SetFilterFile(L"INCLUDE", L"no_such_rules.xml", &errors), 1);
  EXPECT_EQ(errors, L"Cannot open filter file");
  EXPECT_EQ(f.SetFilterFile(L"EXCLUDE", exclude.Path(), &errors), 0);
  f.WithRules([&](CNtEventRules* r) { EXPECT_EQ(r->IncludeRules.size() * 10 + r->ExcludeRules.size(), 41u) << "loads append"; });
  EXPECT_TRUE(f.Test(MakeRecord({.log = L"Application", .source = L"disk"})));
  EXPECT_TRUE(f.Test(MakeRecord({.log = L"System", .type = L"INFORMATION", .source = L"disk"})));
  EXPECT_FALSE(f.Test(MakeRecord({.log = L"System", .type = L"ERROR", .source = L"disk"})));
  EXPECT_TRUE(f.Test(MakeRecord({.log = L"System", .source = L"DISK"})));
  // Neither format: the rule set goes with its case switch; the settings stay.
  EXPECT_EQ(f.SetFilterFile(L"INCLUDE", neither.Path(), &errors), -1);
  EXPECT_EQ(errors.rfind(L"Malformed XML. Parsing error at line ", 0), 0u) << Narrow(errors);
  f.WithRules([&](CNtEventRules* r) { EXPECT_EQ(r, nullptr); });
  EXPECT_FALSE(f.Test(MakeRecord({.log = L"Application", .source = L"DISK"})));
  EXPECT_TRUE(f.Test(MakeRecord({.source = L"cpu"})));
  for (const char* mark : {"\xEF\xBB\xBF", "\xFF\xFE", "\xFE\xFF"}) {
    RuleFile mark_only(mark);
    ASSERT_EQ(f.SetFilterFile(L"INCLUDE", lines.Path(), &errors), 0);
    EXPECT_EQ(f.SetFilterFile(L"INCLUDE", mark_only.Path(), &errors), -1) << "a mark alone is neither format";
    f.WithRules([&](CNtEventRules* r) { EXPECT_EQ(r, nullptr); });
  }
}

TEST(RegexFilter, MessageItemsTakePrecedenceOverLoadedRules) {
  RuleFile rules("EVENTSTART\nLOG: ^System$\nEVENTEND\n");
  RegexEventFilter f;
  std::wstring errors;
  ASSERT_EQ(f.SetFilterFile(L"INCLUDE", rules.Path(), &errors), 0);
  EXPECT_TRUE(f.Test(MakeRecord({.log = L"Application", .message = L"disk full"})));
  f.SetFilterRX(L"MESSAGE", L"disk", &errors);
  EXPECT_FALSE(f.Test(MakeRecord({.log = L"Application", .message = L"disk full"}))) << "the rules are not consulted";
  EXPECT_TRUE(f.Test(MakeRecord({.log = L"System", .message = L"cpu"})));
}

// Loads (some failing, which drop the rule set) race with tests on one filter.
TEST(FilterThreads, LoadsAndTestsOnSeveralThreads) {
  RuleFile good("EVENTSTART\nLOG: ^System$\nEVENTEND\n"), bad("nonsense\n");
  RegexEventFilter f;
  std::atomic<bool> stop{false};
  std::atomic<int> tests{0}, wrong{0};
  std::vector<std::thread> testers;
  for (int t = 0; t < 3; ++t)
    testers.emplace_back([&] {
      // A System record from host passes whatever the loads left.
      for (EventRecord system = MakeRecord({.log = L"System", .computer = L"host"}); !stop || tests < 100; ++tests)
        wrong += f.Test(system);
    });
  std::wstring errors;
  for (int i = 0; i < 200; ++i) {
    EXPECT_EQ(f.SetFilterFile(L"INCLUDE", i % 2 ? bad.Path() : good.Path(), &errors), i % 2 ? -1 : 0);
    f.SetFilterRX(L"COMPUTERS", L"host", &errors);
    f.SetFilterRX(L"COMPUTERS", L"h:^nobody$", &errors);
  }
  stop = true;
  for (std::thread& t : testers) t.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace brisel
