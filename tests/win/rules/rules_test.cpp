// Event rules: matchers, rule sets, rule files (line and XML), the NtEvents filter, and NtEventFilter.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <climits>
#include <clocale>
#include <cstdio>
#include <thread>

#include "collector/error_state.h"
#include "module/brisel_h.h"
#include "rules/event_filter.h"
#include "rules/event_rules.h"
#include "tests/harness/dispatch.h"
#include "tests/win/files/temp_dir.h"

namespace brisel {
namespace {

using test::Arg;
using test::Narrow;

// The module runs with the ANSI code page's locale; so do these tests.
[[maybe_unused]] const bool kAnsiLocale = std::setlocale(LC_ALL, ".ACP") != nullptr;

// A new file with the given bytes in a scratch directory that goes with the program; gives its path.
std::wstring RuleFile(std::string_view bytes, const wchar_t* ext = L".txt") {
  static const test::TempDir dir;
  static int count = 0;
  const std::wstring name = L"rules_" + std::to_wstring(++count) + ext;
  return dir.Write(name, bytes) ? dir.Path(name) : L"";
}

// A record's fields in the order of NtEventFilter's Filter arguments; unset fields are empty.
struct RecordFields {
  const wchar_t *log = L"", *type = L"", *source = L"", *category = L"", *event_id = L"", *user = L"",
                *computer = L"", *message = L"";
};

EventRecord MakeRecord(const RecordFields& f) {
  EventRecord r;
  r.Logfile = f.log, r.Type = f.type, r.SourceName = f.source, r.Category = f.category;
  r.EventCode = f.event_id, r.UserName = f.user, r.ComputerName = f.computer, r.Message = f.message;
  return r;
}

// Start of the first matching item, or -1; every row with and without the compiled-item cache.
TEST(RegexMatcher, StartOfTheFirstMatchingItem) {
  const struct { const wchar_t *list, *value; bool case_sensitive; int32_t expected; } rows[] = {
      {L"^x$", L"", false, 0}, {L" Disk , Srv ", L"MySrvHost", false, 2}, {L" Disk , Srv ", L"Disk", false, 0},
      {L"^ERR$", L"ERROR", false, -1}, {L"x,RR", L"ERROR", false, 1}, {L"rx$", L"ERRX", false, 2},
      {L"rx$", L"RXE", false, -1}, {L"^er", L"ERROR", false, 0}, {L"^ro", L"ERROR", false, -1},
      {L"^error$", L"error", false, 0}, {L"$", L"ERROR", false, 5}, {L"^$", L"ERROR", false, -1},
      {L"a-b{1}]", L"xA-B{1}]", false, 1}, {L"a.c", L"xABC", false, 1}, {L"nomatch, * ", L"anything", false, 0},
      {L" ", L"anything", false, 0}, {L"caf\u00e9", L"CAF\u00c9", false, 0}, {L"disk", L"DISK", true, -1},
      {L"Disk", L"Disk", true, 0}, {L"(a,b)", L"b)", false, -1}, {L"(,b", L"xb", false, 1}, {L"q,", L"x", false, -1},
      {L",a", L"x,a", false, 1}, {L",", L"x,", false, 1},
      {L"q,,b", L"x,b", false, 1}};  // an empty item is the rest of the list from its comma; the empty tail is none
  for (bool cached : {false, true}) {
    RegexListCache cache;
    for (const auto& row : rows) {
      CEventRuleFilter rule;
      rule.CaseSensitive = row.case_sensitive;
      EXPECT_EQ(rule.MatchRegexList(row.list, row.value, cached ? &cache : nullptr), row.expected)
          << Narrow(row.list) << " / " << Narrow(row.value) << (cached ? " cached" : "");
    }
  }
}

TEST(RuleSet, MatchFieldModes) {
  CNtEventRules rules;  // the shorter text occurs in the longer one
  EXPECT_TRUE(rules.MatchField(L"NonRX", L"Error", L"Err") && rules.MatchField(L"NonRX", L"x,Info", L"INFORMATION"));
  EXPECT_FALSE(rules.MatchField(L"NonRX", L"Warn,Info", L"Error"));
  EXPECT_TRUE(rules.MatchField(L"rx", L"^nothing$", L"disk")) << "another mode matches everything";
}

// One rule testing every field (joined by AND) admits the record and rejects it when any one field differs; an empty
// value satisfies an include pattern; a case-sensitive exclusion needs the case. With and without compiled items.
TEST(RuleSet, FieldsAreJoinedByAnd) {
  const wchar_t* values[kPatternFields] = {L"cat", L"42", L"ERROR", L"Application", L"message", L"src", L"host", L"user"};
  const char* keys[kPatternFields] = {"CATEGORY", "EVENTID", "TYPE", "LOG", "DESCRIPTION", "SOURCE", "COMPUTER", "USER"};
  const EventRecord all = MakeRecord({values[3], values[2], values[5], values[0], values[1], values[7], values[6], values[4]});
  std::string every;
  for (size_t i = 0; i < kPatternFields; ++i) every += keys[i] + (": ^" + Narrow(values[i])) + "$\n";
  for (bool cached : {true, false}) {
    auto verdict = [&](const std::string& include, const std::string& exclude, const EventRecord& record) {
      CNtEventRules rules;
      rules.SetCompiledCache(cached);
      rules.LoadRuleLines(L"INCLUDE", RuleFile(include), nullptr);
      if (!exclude.empty()) rules.LoadRuleLines(L"EXCLUDE", RuleFile(exclude), nullptr);
      return rules.FilterNTEvent(record);
    };
    EXPECT_FALSE(verdict(every, "", all) || verdict("LOG: Application", "", MakeRecord({.type = L"ERROR"}))) << cached;
    EXPECT_FALSE(verdict("LOG: System", "TYPE: information\nCASESENSITIVE: Y", MakeRecord({.log = L"System", .type = L"INFORMATION"})));
    for (size_t i = 0; i < kPatternFields; ++i) {
      EventRecord other = all;
      const_cast<std::wstring&>(RecordFieldAt(other, i)) = L"other";
      EXPECT_TRUE(verdict(every, "", other) && verdict(every, keys[i] + (": ^" + Narrow(values[i])), all)) << keys[i] << cached;
    }
  }
}

std::string Utf16(std::wstring_view text, bool big_endian) {
  std::string out = big_endian ? "\xFE\xFF" : "\xFF\xFE";
  for (wchar_t c : text) out += big_endian ? std::string{char(c >> 8), char(c & 0xFF)} : std::string{char(c & 0xFF), char(c >> 8)};
  return out;
}

// Include rules as I[include patterns|exclude patterns], exclude rules as E[...]; "cs" marks a case-sensitive rule.
std::wstring Describe(const CEventRuleFilter& rule) {
  static const wchar_t* const kNames[] = {L"Category", L"EventID", L"Type", L"Log", L"Description", L"Source", L"Computer", L"User"};
  std::wstring s = L"[";
  for (const PatternSet* p : {&rule.IncludePatterns, &rule.ExcludePatterns}) {
    for (size_t i = 0; i < kPatternFields; ++i)
      if (!PatternAt(*p, i).empty()) s += std::wstring(kNames[i]) + L"=" + PatternAt(*p, i) + L";";
    s += p == &rule.IncludePatterns ? L"|" : L"]";
  }
  return rule.CaseSensitive ? s + L"cs" : s;
}

std::wstring Describe(const CNtEventRules& rules) {
  std::wstring s;
  for (const CEventRuleFilter& r : rules.IncludeRules) s += L"I" + Describe(r) + L" ";
  for (const CEventRuleFilter& r : rules.ExcludeRules) s += L"E" + Describe(r) + L" ";
  return s;
}

// Line files through LoadRuleLines, XML through ReadRuleFile and ParseRuleXML; %s in errors is the file's path.
TEST(RuleFiles, LineAndXmlFormats) {
  const std::wstring cafe = L"EVENTSTART\r\nSOURCE: Caf\u00e9\r\nEVENTEND\r\n";
  const struct { bool xml; std::string text; const wchar_t* kind; bool ok; std::wstring errors, rules; } rows[] = {
      {false, "EVENTSTART\nLOG: System\nSOURCE: Disk, Srv\nEVENTEND\nEVENTSTART\nTYPE: ERROR\nCASESENSITIVE: Y\nEVENTEND\n",
       L"INCLUDE", true, L"", L"I[Log=System;Source=Disk, Srv;|] I[Type=ERROR;|]cs "},
      {false, "  LOG: x\nX LOG: y   \nCASESENSITIVE: yes\nSOURCE: (\n", L"INCLUDE", true,
       L"Cannot parse line X LOG: y\nCannot parse line CASESENSITIVE: yes\nFail to Compile RegExp (\n", L"I[Log=x;Source=(;|] "},
      {false, "LOG: a\nEVENTEND\nEVENTSTART\nLOG: b\nEVENTEND\nLOG: never\n", L"INCLUDE", true,
       L"EventEnd does not match with EventStart\n", L"I[Log=a;|] I[Log=b;|] "},
      // The character after the colon is dropped whatever it is; "*" or nothing leaves a field empty.
      {false, "log:xSystem\nUSER:\nTYPE: *\nCOMPUTER:   c\nCASESENSITIVE:y\n", L"INCLUDE", true, L"", L"I[Log=System;Computer=c;|]cs "},
      {false, "LOG: l\nTYPE: t\nCOMPUTER: c\nEVENTID: e\nSOURCE: s\nDESCRIPTION: d\nCATEGORY: g\nUSER: u\n", L"EXCLUDE_ME", true, L"",
       L"E[|Category=g;EventID=e;Type=t;Log=l;Description=d;Source=s;Computer=c;User=u;] "},
      {false, "LOG: a\n   <?xml version=\"1.0\"?>\n", L"INCLUDE", false, L"", L""},
      {false, "hello\nworld\n", L"INCLUDE", false, L"Cannot parse line hello\nCannot parse line world\nCannot parse file %s\n", L"I[|] "},
      // A line is read in pieces of 899 characters: "LOG: " and 894 x fill the first.
      {false, "LOG: " + std::string(894, 'x') + "SOURCE: tail\n", L"INCLUDE", true, L"",
       L"I[Log=" + std::wstring(894, L'x') + L";Source=tail;|] "},
      {false, Utf16(cafe, false), L"INCLUDE", true, L"", L"I[Source=Caf\u00e9;|] "},
      {false, "\xEF\xBB\xBF" "EVENTSTART\r\nSOURCE: Caf\xC3\xA9\r\nEVENTEND\r\n", L"INCLUDE", true, L"", L"I[Source=Caf\u00e9;|] "},
      {true,
       "<?xml version=\"1.0\"?>\n<rules>\n <Include>\n  <events><LOG>Application</LOG><EventID>^1000$</EventID></events>\n"
       "  <or/>\n  <EVENTS><source>Disk</source><CASESENSITIVE>y</CASESENSITIVE></EVENTS>\n </Include>\n"
       " <EXCLUDE>\n  <EVENTS><TYPE>INFORMATION</TYPE></EVENTS>\n </EXCLUDE>\n</rules>\n",
       L"INCLUDE", true, L"", L"I[EventID=^1000$;Log=Application;|] I[Source=Disk;|]cs E[|Type=INFORMATION;] "},
      {true, "<r><EVENTS><LOG>b</LOG></EVENTS><x/></r>", L"OTHER", true, L"", L"E[|Log=b;] "},
      {true, "<r><EXCLUDE/><EVENTS><LOG>c</LOG></EVENTS><x/></r>", L"INCLUDE", true, L"", L"E[|Log=c;] "},
      {true, "<r><INCLUDE><EVENTS><LOG>   </LOG><TYPE>*</TYPE><SOURCE>Disk \t</SOURCE><USER>x</USER></EVENTS></INCLUDE></r>",
       L"INCLUDE", true, L"", L"I[Source=Disk;User=x;|] "},
      {true, "<r><INCLUDE><EVENTS/><EVENTS><LOG>x</LOG></EVENTS><EVENTS/></INCLUDE></r>", L"INCLUDE", true, L"",
       L"I[|] I[Log=x;|] "},
      {true, "<?xml version=\"1.0\"?>\r\n<r><INCLUDE><EVENTS><SOURCE>Caf\xE9</SOURCE></EVENTS></INCLUDE></r>\r\n", L"INCLUDE",
       true, L"", L"I[Source=Caf\u00e9;|] "},
      {true, Utf16(L"<r><EVENTS><LOG>Caf\u00e9</LOG></EVENTS></r>", true), L"INCLUDE", true, L"", L"I[Log=Caf\u00e9;|] "},
      // The file's text ends at an end-of-text mark, and a zero byte hides the rest of its 1024-byte block.
      {true, std::string("<r><EVENTS><LOG>a\0", 18) + std::string(1006, 'x') + "b</LOG></EVENTS></r>\x1A<y", L"INCLUDE", true,
       L"", L"I[Log=ab;|] "},
      // UTF-8 "\u00e9" straddles bytes 1023 and 1024 of the text.
      {true, "\xEF\xBB\xBF<r><EVENTS><LOG>" + std::string(1007, 'a') + "\xC3\xA9</LOG></EVENTS></r>", L"INCLUDE", true, L"",
       L"I[Log=" + std::wstring(1007, L'a') + L"\u00e9;|] "},
      {true, "<?XML version=\"1.0\"?><r/>", L"INCLUDE", false,
       L"Malformed XML. Parsing error at line 1, tag = <xml>, error = <XML Declaration is not lower case (Rule 23).>.", L""}};
  for (const auto& row : rows) {
    const std::wstring path = RuleFile(row.text);
    CNtEventRules rules;
    std::wstring errors, expected = row.errors;
    if (size_t at = expected.find(L"%s"); at != std::wstring::npos) expected.replace(at, 2, path);
    const bool ok = row.xml ? rules.ParseRuleXML(CNtEventRules::ReadRuleFile(path).value_or(L""), row.kind, &errors)
                            : rules.LoadRuleLines(row.kind, path, &errors);
    EXPECT_EQ(ok, row.ok) << row.text.substr(0, 40);
    EXPECT_EQ(errors, expected) << row.text.substr(0, 40);
    EXPECT_EQ(Describe(rules), row.rules) << row.text.substr(0, 40);
  }
}

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

// Hours, kept inside 32 bits; the last setting of any filter holds for the whole process.
TEST(FilterSettings, Recent) {
  const std::pair<const wchar_t*, LONG> rows[] = {
      {L"24", 86400}, {L"2 hours", 7200}, {L"x", 0}, {L"1000000", LONG_MAX}, {L"-1000000", LONG_MIN}, {L"0", 0}};
  for (const auto& [value, seconds] : rows) {
    EXPECT_EQ(EventFilter().SetFilter(L"RECENT", value), 0);
    EXPECT_EQ(RecentSeconds(), seconds) << Narrow(value);
  }
}

TEST(Filter, Verdicts) {
  const struct { bool rx; const wchar_t* settings; RecordFields record; bool dropped; const wchar_t* errors = L""; } rows[] = {
      {false, L"TYPES=ERROR,WARNING", {.type = L"WARNING"}, false},
      {false, L"TYPES=ERROR,WARNING", {.type = L""}, true},  // an empty Type misses every include list
      {false, L"TYPES=:ERROR", {.type = L""}, false}, {false, L"TYPES=:ERROR", {.type = L"ERROR"}, true},
      {false, L"EVENTIDS=10", {.event_id = L"100"}, true}, {false, L"EVENTIDS=10", {.event_id = L"10"}, false},
      {false, L"EVENTIDS_EX=10", {.event_id = L"210"}, true}, {false, L"SOURCES=Srv", {.source = L"mysrvhost"}, false},
      {false, L"SOURCES=Srv", {.source = L"Disk"}, true}, {false, L"LOGS=System\nLOGS=", {.log = L"Application"}, true},
      {false, L"DELIMITER=;x\nSEPERATOR=|\nSOURCES=a;b|c", {.source = L"b"}, false},
      {false, L"DELIMITER=;x\nSEPERATOR=|\nSOURCES=a;b|c", {.source = L"c"}, true},
      {false, L"CATEGORIES_EX=c\nCOMPUTERS_EX=m\nUSERS_EX=u", {.user = L"u"}, true},
      {false, L"CASE SENSITIVE=no\nSOURCES=disk", {.source = L"DISK"}, true},
      {false, L"MESSAGE=disk,,full:bad", {.message = L"bad disk"}, true},
      {false, L"MESSAGE=disk:bad\nMESSAGE_EX=worse", {.message = L"bad disk"}, false},
      {false, L"MESSAGE=disk,full", {.message = L"the DISK broke"}, false},
      {false, L"CASE SENSITIVE=TRUE\nMESSAGE=DISK", {.message = L"the disk broke"}, true},
      {false, L"CASE SENSITIVE=TRUE\nMESSAGE=DISK\nMESSAGE_EX=broke", {.message = L"the DISK broke"}, true},
      {true, L"TYPES=^ERR", {.type = L"ERROR"}, false}, {true, L"TYPES=^ERR", {.type = L"WARNING"}, true},
      {true, L"TYPES=^ERR", {.type = L""}, false},  // an empty value matches every list
      {true, L"TYPES=^ERR\nSOURCES=:^Disk$", {.type = L"ERROR", .source = L"disk"}, true},
      {true, L"SOURCES=(\nNOSUCHKEY=[x", {.source = L"("}, true, L"Fail to Compile RegExp (\nFail to Compile RegExp [x\n"},
      {true, L"SOURCES=disk\nCASE SENSITIVE=TRUE", {.source = L"DISK"}, true},
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

TEST(SetFilterFile, ResultCodesAndTheRulesTheyLeave) {
  const std::tuple<const wchar_t*, std::wstring, LONG, const wchar_t*> loads[] = {
      {L"INCLUDE", RuleFile("<?xml version=\"1.0\"?><r><INCLUDE><EVENTS><LOG>^System$</LOG></EVENTS></INCLUDE></r>", L".xml"), 0, L""},
      {L"INCLUDE", RuleFile("<r><INCLUDE><EVENTS><LOG>(</LOG></EVENTS></INCLUDE></r>", L".xml"), 1, L"Fail to Compile RegExp (\n"},
      {L"INCLUDE", RuleFile("LOG: ^System$\n"), 0, L""},
      {L"INCLUDE", RuleFile("LOG: ^System$\nnonsense\n"), 3, L"Cannot parse line nonsense\n"},
      {L"INCLUDE", L"no_such_rules.xml", 1, L"Cannot open filter file"}, {L"EXCLUDE", RuleFile("TYPE: ^INFORMATION$\n"), 0, L""}};
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
  f.SetFilterRX(L"MESSAGE", L"disk", &errors);
  EXPECT_FALSE(f.Test(MakeRecord({.log = L"Application", .source = L"disk", .message = L"disk full"})))
      << "with message items the rules are not consulted";
  // Neither format: the rule set goes with its case switch; the settings stay.
  EXPECT_EQ(f.SetFilterFile(L"INCLUDE", RuleFile("nonsense\n"), &errors), -1);
  EXPECT_EQ(errors, L"Malformed XML. Parsing error at line 0, tag = <>, error = <Can't determine Character Encoding (Appendix F).>.");
  f.WithRules([&](CNtEventRules* r) { EXPECT_EQ(r, nullptr); });
  EXPECT_FALSE(f.Test(MakeRecord({.log = L"Application", .source = L"DISK", .message = L"disk"})));
  EXPECT_TRUE(f.Test(MakeRecord({.source = L"cpu", .message = L"disk"})));
}

class NtEventFilterTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(filter_ = test::Dispatch::Create(L"TalvaneAgent.NtEventFilter")); }

  test::ComScope com_;
  test::Dispatch filter_;
};

// Wine's type-library dispatch turns a null BSTR into an empty one, so nulls go through the interface itself.
TEST_F(NtEventFilterTest, NullArguments) {
  ComPtr<INtEventFilter> itf;
  ASSERT_EQ(filter_.Get()->QueryInterface(IID_INtEventFilter, itf.PutVoid()), S_OK);
  VARIANT raw;
  Variant(42L).CopyTo(&raw);
  EXPECT_EQ(itf->SetFilterFile(nullptr, &raw), S_OK);
  EXPECT_EQ(V_VT(&raw), VT_I4) << "a null file name leaves the error untouched";
  Variant text;
  Bstr missing(L"no_such_rules_file.xml"), disk(L"^Disk$"), srv(L"Srv");
  EXPECT_EQ(itf->SetFilterFile(missing.Get(), nullptr), S_OK) << "a missing error pointer is ignored";
  VARIANT_BOOL verdict = VARIANT_FALSE;
  EXPECT_EQ(itf->Filter(nullptr, nullptr, nullptr, nullptr, nullptr, disk.Get(), srv.Get(), nullptr, nullptr, nullptr,
                        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, text.Put(), &verdict), S_OK);
  EXPECT_TRUE(verdict == VARIANT_TRUE && text.Type() == VT_BSTR);
}

// One object, several threads: settings, loads and evaluations are serialised.
TEST_F(NtEventFilterTest, CallsFromSeveralThreads) {
  const std::wstring good = RuleFile("EVENTSTART\nLOG: ^System$\nEVENTEND\n"), bad = RuleFile("neither format\n");
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      test::ComScope com;
      for (int i = 0; i < 60; ++i) {
        Variant err;
        // A System event from Disk passes whatever state the loads left.
        const wchar_t* file = t % 2 == 0 ? L"" : (t + i) % 3 ? good.c_str() : bad.c_str();
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
