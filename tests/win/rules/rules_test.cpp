#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <clocale>
#include <thread>

#include "module/brisel_h.h"
#include "rules/event_filter.h"
#include "rules/event_rules.h"
#include "tests/harness/dispatch.h"
#include "tests/win/files/temp_dir.h"

namespace brisel {
namespace {

// The module runs with the ANSI code page's locale; so do these tests.
[[maybe_unused]] const bool kAnsiLocale = std::setlocale(LC_ALL, ".ACP") != nullptr;

std::wstring RuleFile(std::string_view bytes) {
  static const test::TempDir dir;
  static int count = 0;
  const std::wstring name = L"rules_" + std::to_wstring(++count) + L".txt";
  return dir.Write(name, bytes) ? dir.Path(name) : L"";
}

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

// Start of the first matching item or -1, through the compiled-item cache the rules use.
TEST(Matchers, RegexListsAndFieldModes) {
  const struct { const wchar_t *list, *value; bool case_sensitive; int32_t expected; } rows[] = {
      {L"^x$", L"", false, 0}, {L" Disk , Srv ", L"MySrvHost", false, 2}, {L" Disk , Srv ", L"Disk", false, 0},
      {L"^ERR$", L"ERROR", false, -1}, {L"rx$", L"ERRX", false, 2}, {L"rx$", L"RXE", false, -1},
      {L"^er", L"ERROR", false, 0}, {L"^ro", L"ERROR", false, -1}, {L"^error$", L"error", false, 0},
      {L"$", L"ERROR", false, 5}, {L"a-b{1}]", L"xA-B{1}]", false, 1}, {L"a.c", L"xABC", false, 1},
      {L"nomatch, * ", L"anything", false, 0}, {L" ", L"anything", false, 0}, {L"caf\u00e9", L"CAF\u00c9", false, 0},
      {L"disk", L"DISK", true, -1}, {L"Disk", L"Disk", true, 0}, {L"(,b", L"xb", false, 1}, {L"q,", L"x", false, -1},
      {L",a", L"x,a", false, 1}, {L"q,,b", L"x,b", false, 1}};  // an empty item is the rest of the list from its comma
  RegexListCache cache;
  for (const auto& r : rows) {
    CEventRuleFilter rule;
    rule.CaseSensitive = r.case_sensitive;
    EXPECT_EQ(rule.MatchRegexList(r.list, r.value, &cache), r.expected) << test::Narrow(r.list + std::wstring(L"/") + r.value);
  }
  CNtEventRules rules;  // NonRX: the shorter text occurs in the longer one
  EXPECT_TRUE(rules.MatchField(L"NonRX", L"Error", L"Err") && rules.MatchField(L"NonRX", L"x,Info", L"INFORMATION"));
  EXPECT_FALSE(rules.MatchField(L"NonRX", L"Warn,Info", L"Error"));
  EXPECT_TRUE(rules.MatchField(L"rx", L"^nothing$", L"disk")) << "another mode matches everything";
}

std::string Utf16(std::wstring_view text, bool big_endian) {
  std::string out = big_endian ? "\xFE\xFF" : "\xFF\xFE";
  for (wchar_t c : text) out += big_endian ? std::string{char(c >> 8), char(c)} : std::string{char(c), char(c >> 8)};
  return out;
}

// Include rules as I[include patterns|exclude patterns], exclude rules as E[...]; "cs" marks a case-sensitive rule.
std::wstring Describe(const CNtEventRules& rules) {
  static const wchar_t* const kNames[] = {L"Category", L"EventID", L"Type",     L"Log",
                                          L"Description", L"Source", L"Computer", L"User"};
  std::wstring s;
  for (const auto* list : {&rules.IncludeRules, &rules.ExcludeRules})
    for (const CEventRuleFilter& rule : *list) {
      s += list == &rules.IncludeRules ? L"I[" : L"E[";
      for (const PatternSet* p : {&rule.IncludePatterns, &rule.ExcludePatterns}) {
        for (size_t i = 0; i < kPatternFields; ++i)
          if (!PatternAt(*p, i).empty()) s += std::wstring(kNames[i]) + L"=" + PatternAt(*p, i) + L";";
        s += p == &rule.IncludePatterns ? L"|" : L"]";
      }
      s += rule.CaseSensitive ? L"cs " : L" ";
    }
  return s;
}

TEST(SetFilterFile, LineAndXmlFormats) {
  const std::wstring no_xml =
      L"Malformed XML. Parsing error at line 0, tag = <>, error = <Can't determine Character Encoding (Appendix F).>.";
  struct Row { std::string text; LONG code; std::wstring rules, errors = L""; const wchar_t* kind = L"INCLUDE"; };
  const Row rows[] = {
      // The character after the colon is dropped whatever it is; "*" or nothing leaves a field empty.
      {"EVENTSTART\nLOG: l\nTYPE: t\nCOMPUTER: c\nEVENTID: e\nSOURCE: s\nDESCRIPTION: d\nCATEGORY: g\nUSER: u\n"
       "EVENTEND\nEVENTSTART\nlog:xApp\nUSER:\nTYPE: *\nCOMPUTER:   c\nCASESENSITIVE:y\nEVENTEND\n", 0,
       L"E[|Category=g;EventID=e;Type=t;Log=l;Description=d;Source=s;Computer=c;User=u;] E[|Log=App;Computer=c;]cs ",
       L"", L"EXCLUDE_ME"},
      {"  LOG: a\nX LOG: y   \nCASESENSITIVE: yes\nSOURCE: (\nEVENTEND\nEVENTSTART\nLOG: b\nEVENTEND\nLOG: never\n", 3,
       L"I[Log=a;Source=(;|] I[Log=b;|] ", L"Cannot parse line X LOG: y\nCannot parse line CASESENSITIVE: yes\n"
       L"EventEnd does not match with EventStart\nFail to Compile RegExp (\n"},
      {"LOG: a\n   <?xml version=\"1.0\"?>\n", -1, L"none", no_xml}, {"hello\nworld\n", -1, L"none", no_xml},
      // A line is read in pieces of 899 characters: "LOG: " and 894 x fill the first.
      {"LOG: " + std::string(894, 'x') + "SOURCE: t\n", 0, L"I[Log=" + std::wstring(894, L'x') + L";Source=t;|] "},
      {Utf16(L"EVENTSTART\r\nSOURCE: Caf\u00e9\r\nEVENTEND\r\n", false), 0, L"I[Source=Caf\u00e9;|] "},
      {"\xEF\xBB\xBF" "EVENTSTART\r\nSOURCE: Caf\xC3\xA9\r\nEVENTEND\r\n", 0, L"I[Source=Caf\u00e9;|] "},
      {"<rules>\n <Include><events><LOG>Application</LOG><EventID>^1000$</EventID></events>\n <or/>\n <EVENTS>"
       "<source>Disk</source><CASESENSITIVE>y</CASESENSITIVE></EVENTS></Include>\n <EXCLUDE><EVENTS><TYPE>INFORMATION"
       "</TYPE></EVENTS></EXCLUDE>\n</rules>\n",
       0, L"I[EventID=^1000$;Log=Application;|] I[Source=Disk;|]cs E[|Type=INFORMATION;] "},
      {Utf16(L"<r><EVENTS><LOG>Caf\u00e9</LOG></EVENTS><x/></r>", true), 0, L"E[|Log=Caf\u00e9;] ", L"", L"OTHER"},
      {"<?xml version=\"1.0\"?>\r\n<r><INCLUDE><EVENTS><LOG>   </LOG><TYPE>*</TYPE><SOURCE>Caf\xE9 \t</SOURCE>"
       "<USER>(</USER></EVENTS></INCLUDE><EXCLUDE/><EVENTS><LOG>c</LOG></EVENTS><x/></r>\r\n",
       1, L"I[Source=Caf\u00e9;User=(;|] E[|Log=c;] ", L"Fail to Compile RegExp (\n"},
      {"<r><INCLUDE><EVENTS/><EVENTS><LOG>x</LOG></EVENTS><EVENTS/></INCLUDE></r>", 0, L"I[|] I[Log=x;|] "},
      // Blocks of 1024 bytes: a zero hides the rest of its block, Ctrl-Z ends the text, UTF-8 may straddle two.
      {std::string("<r><EVENTS><LOG>a\0", 18) + std::string(1006, 'x') + "b</LOG></EVENTS></r>\x1A<y", 0, L"I[Log=ab;|] "},
      {"\xEF\xBB\xBF<r><EVENTS><LOG>" + std::string(1007, 'a') + "\xC3\xA9</LOG></EVENTS></r>", 0,
       L"I[Log=" + std::wstring(1007, L'a') + L"\u00e9;|] "},
      {"<?XML version=\"1.0\"?><r/>", -1, L"none",
       L"Malformed XML. Parsing error at line 1, tag = <xml>, error = <XML Declaration is not lower case (Rule 23).>."}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text.substr(0, 40));
    RegexEventFilter f;
    std::wstring errors, rules;
    EXPECT_EQ(f.SetFilterFile(row.kind, RuleFile(row.text), &errors), row.code);
    EXPECT_EQ(errors, row.errors);
    f.WithRules([&](CNtEventRules* r) { rules = r ? Describe(*r) : L"none"; });
    EXPECT_EQ(rules, row.rules);
  }
}

void Apply(EventFilter* f, std::wstring_view calls, std::wstring* errors = nullptr) {
  for (size_t at = 0; at < calls.size();) {
    size_t end = std::min(calls.find(L'\n', at), calls.size()), eq = calls.find(L'=', at);
    std::wstring_view key = calls.substr(at, eq - at), value = calls.substr(eq + 1, end - eq - 1);
    errors ? f->SetFilterRX(key, value, errors) : f->SetFilter(key, value);
    at = end + 1;
  }
}

TEST(Filter, Verdicts) {
  const struct { bool rx; const wchar_t* calls; RecordFields record; bool dropped; const wchar_t* text = L""; } rows[] = {
      {false, L"TYPES=ERROR,WARNING", {.type = L""}, true},  // an empty value misses every include list
      {false, L"TYPES=:ERROR", {.type = L""}, false}, {false, L"TYPES=:ERROR", {.type = L"ERROR"}, true},
      {false, L"EVENTIDS=10", {.event_id = L"100"}, true}, {false, L"EVENTIDS=10", {.event_id = L"10"}, false},
      {false, L"EVENTIDS_EX=10", {.event_id = L"210"}, true}, {false, L"SOURCES=Srv", {.source = L"mysrvhost"}, false},
      {false, L"DELIMITER=;x\nSEPERATOR=|\nSOURCES=a;b|c", {.source = L"b"}, false},
      {false, L"CASE SENSITIVE=no\nSOURCES=d", {.source = L"D"}, true}, {false, L"MESSAGE=a,,b:c", {.message = L"c a"}, true},
      {false, L"CASE SENSITIVE=TRUE\nMESSAGE=DISK\nMESSAGE_EX=broke", {.message = L"the DISK broke"}, true},
      {true, L"TYPES=^ERR\nSOURCES=:^Disk$", {.type = L"ERROR", .source = L"disk"}, true},
      {true, L"SOURCES=(\nNOSUCHKEY=[x", {.source = L"("}, true, L"Fail to Compile RegExp (\nFail to Compile RegExp [x\n"},
      {true, L"SOURCES=disk\nCASE SENSITIVE=TRUE\nCASE SENSITIVE=FALSE", {.source = L"DISK"}, false},
      {true, L"SOURCES=d\nCASE SENSITIVE=false", {.source = L"D"}, true}, {true, L"MESSAGE_EX=f", {.message = L"a f"}, true}};
  for (const auto& row : rows) {
    std::unique_ptr<EventFilter> f(row.rx ? new RegexEventFilter : new EventFilter);
    std::wstring errors;
    Apply(f.get(), row.calls, row.rx ? &errors : nullptr);
    EXPECT_EQ(f->Test(MakeRecord(row.record)), row.dropped) << test::Narrow(row.calls) << (row.rx ? " rx" : "");
    EXPECT_EQ(errors, row.text) << test::Narrow(row.calls);
  }
}

// Settings stay, and rules when a file cannot be opened; message items bypass the rules; -1 drops them and their case.
TEST(SetFilterFile, TheRulesLoadsLeave) {
  RegexEventFilter f;
  std::wstring errors;
  Apply(&f, L"SOURCES=disk\nCASE SENSITIVE=TRUE", &errors);
  f.SetFilterFile(L"INCLUDE", RuleFile("LOG: ^System$\nUSER: ^bob$\n"), &errors);
  f.SetFilterFile(L"INCLUDE", L"no_such_rules.xml", &errors);
  EXPECT_TRUE(f.Test(MakeRecord({.log = L"System", .source = L"disk", .user = L"alice"})));
  EXPECT_TRUE(f.Test(MakeRecord({.log = L"System", .source = L"DISK"})));
  EXPECT_FALSE(f.Test(MakeRecord({.log = L"System", .source = L"disk"})));
  Apply(&f, L"MESSAGE=disk", &errors);
  EXPECT_FALSE(f.Test(MakeRecord({.log = L"Application", .source = L"disk", .message = L"disk full"})));
  EXPECT_EQ(f.SetFilterFile(L"INCLUDE", RuleFile("nonsense\n"), &errors), -1);
  EXPECT_FALSE(f.Test(MakeRecord({.log = L"Application", .source = L"DISK", .message = L"disk"})));
  EXPECT_TRUE(f.Test(MakeRecord({.source = L"cpu", .message = L"disk"})));
}

// Wine's type-library dispatch turns a null BSTR into an empty one, so nulls go through the interface itself.
TEST(NtEventFilter, NullArguments) {
  test::ComScope com;
  ComPtr<INtEventFilter> itf;
  ASSERT_EQ(::CoCreateInstance(CLSID_NtEventFilter, nullptr, CLSCTX_INPROC_SERVER, IID_INtEventFilter, itf.PutVoid()), S_OK);
  Bstr missing(L"no_such_rules_file.xml"), bad(L"(");
  EXPECT_EQ(itf->SetFilterFile(missing.Get(), nullptr), S_OK);
  EXPECT_EQ(itf->Filter(nullptr, nullptr, nullptr, nullptr, nullptr, bad.Get(), nullptr, nullptr, nullptr, nullptr, nullptr,
                        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), S_OK);
}

// Settings, loads and evaluations are serialised: a System event from Disk passes whatever state the loads left.
TEST(NtEventFilter, CallsFromSeveralThreads) {
  test::ComScope com;
  const test::Dispatch filter = test::Dispatch::Create(L"TalvaneAgent.NtEventFilter");
  const std::wstring good = RuleFile("EVENTSTART\nLOG: ^System$\nEVENTEND\n"), bad = RuleFile("neither format\n");
  std::atomic<int> wrong{0};
  auto calls = [&](int t) {
    test::ComScope com;
    for (int i = 0; i < 60; ++i) {
      Variant err;
      const wchar_t* file = t % 2 == 0 ? L"" : (t + i) % 3 ? good.c_str() : bad.c_str();
      test::CallResult r = filter.Call(L"Filter", {file, L"", L"System", L"", L"ERROR", L"Disk", L"Disk", L"", L"", L"",
                                                   L"", L"", L"", L"", L"", L"", L"", L"", test::Arg::Out(&err)});
      wrong += r.hr != S_OK || V_BOOL(&r.value.Get()) != VARIANT_FALSE;
    }
  };
  std::thread a(calls, 0), b(calls, 1), c(calls, 2), d(calls, 3);
  for (std::thread* t : {&a, &b, &c, &d}) t->join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace brisel
