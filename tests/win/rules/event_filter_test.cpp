// The NtEvents filter (settings, the plain and the regular-expression test,
// rule-file results) and NtEventFilter as a script drives it.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "collector/error_state.h"
#include "module/brisel_h.h"
#include "rules/event_filter.h"
#include "tests/harness/dispatch.h"
#include "tests/win/rules/rule_test_util.h"

namespace brisel {
namespace {

using test::Arg;
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
      {L"LOGS=System:Security", L"0", L"Logs+System, Logs-Security, "}, {L"TYPES=:WARNING,", L"0", L"Types-WARNING, "},
      {L"LOGS=l\nTYPES=t\nEVENTIDS=e\nCATEGORIES=c\nSOURCES=s\nUSERS=u\nCOMPUTERS=m", L"0000000",
       L"Logs+l, Types+t, EventIds+e, Categories+c, Sources+s, Users+u, Computers+m, "},
      {L"EVENTIDS_EX=e:x\nCATEGORIES_EX=c\nSOURCES_EX=s\nUSERS_EX=u\nCOMPUTERS_EX=m", L"00000",
       L"EventIds-e, Categories-c, Sources-s, Users-u, Computers-m, "},
      {L"logs=System\nNOSUCHKEY=x", L"11", L""}, {L"LOGS=System\nLOGS=\nNOSUCHKEY=", L"000", L"Logs+System, "},
      {L"SOURCES=a;b\nDELIMITER=;x\nUSERS=a;b\nSEPERATOR=|\nLOGS=A:B|C", L"00000", L"Logs+A:B; Logs-C; Sources+a;b, Users+a;b; "},
      {L"CASE SENSITIVE=no", L"0", L"case "}, {L"CASE SENSITIVE=no\nCASE SENSITIVE=FALSE", L"00", L""},
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
  const CNtEventRules* held = nullptr;
  auto rules = [&] { return f.WithRules([&](CNtEventRules* r) { held = r; }), held; };
  f.SetFilterRX(L"SOURCES", L"x", &errors);
  EXPECT_NE(rules(), nullptr);
  EXPECT_EQ(f.SetFilter(L"HELP", L"no"), 0);
  EXPECT_EQ(rules(), nullptr);
  EXPECT_EQ(f.SetFilterRX(L"HELP", L"FALSE", &errors), 0) << "no rule set left to take the setting";
  bool readable = ReadMachineString(L"SOFTWARE\\Talvane\\Vigilor", L"InstallPath", 260, &install);
  EXPECT_EQ(f.SetFilter(L"HELP", L"TRUE"), 0);
  ASSERT_EQ(rules() != nullptr, readable) << "without an install path nothing changes";
  EXPECT_TRUE(!readable || (held->Path() == install + L"\\bin\\rule.xml" && !held->Loaded && held->IncludeRules.empty()));
}

TEST(Filter, Verdicts) {
  const struct { bool rx; const wchar_t* settings; test::RecordFields record; bool dropped; const wchar_t* errors = L""; } rows[] = {
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
      {true, L"SOURCES=disk\nCASE SENSITIVE=TRUE\nCASE SENSITIVE=*", {.source = L"DISK"}, true},
      {true, L"SOURCES=disk\nCASE SENSITIVE=TRUE\nCASE SENSITIVE=FALSE", {.source = L"DISK"}, false},
      {true, L"MESSAGE_EX=full", {.message = L"disk full"}, true}, {true, L"MESSAGE=^disk", {.message = L"a disk"}, true}};
  for (const auto& row : rows) {
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
    EXPECT_TRUE(plain.Test(record) && !rx.Test(record)) << i;
    const_cast<std::wstring&>(FilterField(record, static_cast<FilterList>(i))) = L"want";
    EXPECT_TRUE(!plain.Test(record) && rx.Test(record)) << i;
  }
}

TEST(SetFilterFile, ResultCodesAndTheRulesTheyLeave) {
  RuleFile xml("<?xml version=\"1.0\"?><r><INCLUDE><EVENTS><LOG>^System$</LOG></EVENTS></INCLUDE></r>", L".xml");
  RuleFile xml_bad_pattern("<r><INCLUDE><EVENTS><LOG>(</LOG></EVENTS></INCLUDE></r>", L".xml");
  RuleFile lines("LOG: ^System$\n"), complaints("LOG: ^System$\nnonsense\n"), neither("nonsense\n");
  RuleFile exclude("TYPE: ^INFORMATION$\n");
  const std::tuple<const wchar_t*, std::wstring, LONG, const wchar_t*> loads[] = {
      {L"INCLUDE", xml.Path(), 0, L""}, {L"INCLUDE", xml_bad_pattern.Path(), 1, L"Fail to Compile RegExp (\n"},
      {L"INCLUDE", lines.Path(), 0, L""}, {L"INCLUDE", complaints.Path(), 3, L"Cannot parse line nonsense\n"},
      {L"INCLUDE", L"no_such_rules.xml", 1, L"Cannot open filter file"}, {L"EXCLUDE", exclude.Path(), 0, L""}};
  RegexEventFilter f;
  std::wstring errors = L"stale";
  f.SetFilterRX(L"SOURCES", L"disk", &errors);
  f.SetFilterRX(L"CASE SENSITIVE", L"TRUE", &errors);
  for (const auto& [kind, path, code, text] : loads) {
    EXPECT_EQ(f.SetFilterFile(kind, path, &errors), code) << Narrow(path);
    EXPECT_EQ(errors, text) << Narrow(path);
  }
  f.WithRules([&](CNtEventRules* r) { EXPECT_EQ(r->IncludeRules.size() * 10 + r->ExcludeRules.size(), 41u) << "loads append"; });
  EXPECT_TRUE(f.Test(MakeRecord({.log = L"Application", .source = L"disk"})));
  EXPECT_TRUE(f.Test(MakeRecord({.log = L"System", .type = L"INFORMATION", .source = L"disk"})));
  EXPECT_FALSE(f.Test(MakeRecord({.log = L"System", .type = L"ERROR", .source = L"disk"})));
  EXPECT_TRUE(f.Test(MakeRecord({.log = L"System", .source = L"DISK"})));
  // Neither format: the rule set goes with its case switch; the settings stay.
  EXPECT_EQ(f.SetFilterFile(L"INCLUDE", neither.Path(), &errors), -1);
  EXPECT_EQ(errors, L"Malformed XML. Parsing error at line 0, tag = <>, error = <Can't determine Character Encoding (Appendix F).>.");
  f.WithRules([&](CNtEventRules* r) { EXPECT_EQ(r, nullptr); });
  EXPECT_FALSE(f.Test(MakeRecord({.log = L"Application", .source = L"DISK"})));
  EXPECT_TRUE(f.Test(MakeRecord({.source = L"cpu"})));
  for (const char* mark : {"\xEF\xBB\xBF", "\xFF\xFE", "\xFE\xFF"}) {
    RuleFile mark_only(mark);
    ASSERT_EQ(f.SetFilterFile(L"INCLUDE", lines.Path(), &errors), 0);
    EXPECT_EQ(f.SetFilterFile(L"INCLUDE", mark_only.Path(), &errors), -1) << "a mark alone is neither format";
  }
  RuleFile blocks("EVENTSTART\nLOG: ^System$\nEVENTEND\n");
  ASSERT_EQ(f.SetFilterFile(L"INCLUDE", blocks.Path(), &errors), 0);
  EXPECT_TRUE(f.Test(MakeRecord({.log = L"Application", .source = L"disk", .message = L"disk full"})));
  f.SetFilterRX(L"MESSAGE", L"disk", &errors);
  EXPECT_FALSE(f.Test(MakeRecord({.log = L"Application", .source = L"disk", .message = L"disk full"})))
      << "with message items the rules are not consulted";
  EXPECT_TRUE(f.Test(MakeRecord({.log = L"System", .source = L"disk", .message = L"cpu"})));
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

class NtEventFilterTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(filter_ = test::Dispatch::Create(L"TalvaneAgent.NtEventFilter")); }

  // True: the event would be dropped.
  bool Filter(const test::RecordFields& f, const test::RecordFields& v, const wchar_t* case_sensitive = L"") {
    Variant err;
    test::CallResult r = filter_.Call(L"Filter", {L"", f.log, v.log, f.type, v.type, f.source, v.source, f.category,
                                                  v.category, f.event_id, v.event_id, f.user, v.user, f.computer,
                                                  v.computer, f.message, v.message, case_sensitive, Arg::Out(&err)});
    EXPECT_EQ(r.hr, S_OK);
    EXPECT_EQ(test::AsText(err), L"");
    return r.value.Type() == VT_BOOL && V_BOOL(&r.value.Get()) == VARIANT_TRUE;
  }

  test::ComScope com_;
  test::Dispatch filter_;
};

// The argument pairs and case values the sample script does not reach, each on a fresh object.
TEST_F(NtEventFilterTest, ArgumentPairsAndTheCaseSwitch) {
  const struct { test::RecordFields filters, values; const wchar_t* case_sensitive; bool dropped; } rows[] = {
      {{.category = L"^Disk$"}, {.category = L"Net"}, L"", true}, {{.user = L"^bob$"}, {.user = L"alice"}, L"", true},
      {{.computer = L"^host1$"}, {.computer = L"host2"}, L"", true},
      {{.log = L"^S"}, {L"S", L"X", L"X", L"X", L"X", L"X", L"X", L"X"}, L"", false},
      {{.source = L"disk"}, {.source = L"DISK"}, L"Y", true}, {{.source = L"disk"}, {.source = L"DISK"}, L"n", false}};
  for (const auto& row : rows) {
    SetUp();
    EXPECT_EQ(Filter(row.filters, row.values, row.case_sensitive), row.dropped) << &row - rows;
  }
  Variant err;
  EXPECT_EQ(filter_.Call(L"SetFilterRX", {L"[z-a]", L"", L"", L"", L"", L"", L"", L"*", L"", Arg::Out(&err)}).hr, S_OK);
  EXPECT_EQ(test::AsText(err), L"Fail to Compile RegExp [z-a]\n");
  filter_.Call(L"SetFilterRX", {L"", L"", L"", L"", L"", L"", L"", L"^full", L"", Arg::Out(&err)});
  EXPECT_TRUE(err.Type() == VT_BSTR && Filter({}, {.message = L"disk full"})) << "the eighth argument is the description";
}

// Wine's type-library dispatch turns a null BSTR into an empty one, so nulls go through the interface itself.
TEST_F(NtEventFilterTest, NullArguments) {
  ComPtr<INtEventFilter> itf;
  ASSERT_EQ(filter_.Get()->QueryInterface(IID_INtEventFilter, itf.PutVoid()), S_OK);
  VARIANT raw;
  Variant(42L).CopyTo(&raw);
  EXPECT_EQ(itf->SetFilterFile(nullptr, &raw), S_OK);
  EXPECT_EQ(V_VT(&raw), VT_I4) << "a null file name leaves the error untouched";
  EXPECT_EQ(itf->SetFilterFile(nullptr, nullptr), S_OK);
  Bstr missing(L"no_such_rules_file.xml"), disk(L"^Disk$"), srv(L"Srv");
  EXPECT_EQ(itf->SetFilterFile(missing.Get(), nullptr), S_OK) << "a missing error pointer is ignored";
  EXPECT_EQ(itf->SetFilterFile(missing.Get(), &raw), S_OK);
  EXPECT_STREQ(V_VT(&raw) == VT_BSTR ? V_BSTR(&raw) : L"?", L"Cannot open filter file");
  ::VariantClear(&raw);
  VARIANT_BOOL verdict = VARIANT_FALSE;
  EXPECT_EQ(itf->Filter(nullptr, nullptr, nullptr, nullptr, nullptr, disk.Get(), srv.Get(), nullptr, nullptr, nullptr,
                        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &raw, &verdict), S_OK);
  EXPECT_TRUE(verdict == VARIANT_TRUE && V_VT(&raw) == VT_BSTR);
  ::VariantClear(&raw);
}

// One object, several threads: settings, loads and evaluations are serialised.
TEST_F(NtEventFilterTest, CallsFromSeveralThreads) {
  RuleFile good("EVENTSTART\nLOG: ^System$\nEVENTEND\n"), bad("neither format\n");
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      test::ComScope com;
      for (int i = 0; i < 60; ++i) {
        Variant err;
        // A System event from Disk passes whatever state the loads left.
        const wchar_t* file = t % 2 == 0 ? L"" : (t + i) % 3 ? good.Path().c_str() : bad.Path().c_str();
        test::CallResult r = filter_.Call(L"Filter", {file, L"", L"System", L"", L"ERROR", L"Disk", L"Disk", L"", L"", L"",
                                                      L"", L"", L"", L"", L"", L"", L"", L"", Arg::Out(&err)});
        wrong += r.hr != S_OK || V_BOOL(&r.value.Get()) != VARIANT_FALSE;
      }
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace brisel
