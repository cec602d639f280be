// Rules: pattern lists, the matchers, rules and rule sets, and rule files in
// the line and the XML format.
#include <gtest/gtest.h>

#include "rules/event_rules.h"
#include "tests/harness/dispatch.h"
#include "tests/win/rules/rule_test_util.h"

namespace brisel {
namespace {

using test::MakeRecord;
using test::Narrow;
using test::RuleFile;

// Start of the first matching item, or -1; every row with and without the compiled-item cache.
TEST(RegexMatcher, StartOfTheFirstMatchingItem) {
  const struct { const wchar_t *list, *value; bool case_sensitive; int32_t expected; } rows[] = {
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
      {L"10", L"1001", false, 0}, {L"q,", L"x", false, -1}, {L",a", L"x,a", false, 1}, {L",", L"x,", false, 1},
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

TEST(RuleSet, MatchFieldModes) {
  CNtEventRules rules;
  EXPECT_TRUE(rules.MatchField(L"NonRX", L"Error", L"Err")) << "the shorter text occurs in the longer one";
  EXPECT_TRUE(rules.MatchField(L"NonRX", L"x,Info", L"INFORMATION"));
  EXPECT_FALSE(rules.MatchField(L"NonRX", L"Warn,Info", L"Error"));
  EXPECT_TRUE(rules.MatchField(L"rx", L"^nothing$", L"disk")) << "another mode matches everything";
}

// Rule sets from line files, with and without the compiled-item cache.
TEST(RuleSet, IncludeRulesAreAlternativesAndAnExclusionWins) {
  const struct { const char *include, *exclude; test::RecordFields record; bool dropped; } rows[] = {
      {"", "", {.log = L"System"}, false}, {"LOG: Application", "", {.log = L"System"}, true},
      {"LOG: Application", "", {.type = L"ERROR"}, false},  // an empty value satisfies an include pattern
      {"EVENTSTART\nLOG: Application\nEVENTEND\nEVENTSTART\nLOG: System\nEVENTEND", "", {.log = L"System"}, false},
      {"LOG: System", "TYPE: information", {.log = L"System", .type = L"INFORMATION"}, true},
      {"LOG: System", "TYPE: information", {.log = L"System", .type = L"ERROR"}, false},
      {"LOG: System", "TYPE: information\nCASESENSITIVE: Y", {.log = L"System", .type = L"INFORMATION"}, false}};
  const wchar_t* values[kPatternFields] = {L"cat", L"42", L"ERROR", L"Application", L"message", L"src", L"host", L"user"};
  const char* keys[kPatternFields] = {"CATEGORY", "EVENTID", "TYPE", "LOG", "DESCRIPTION", "SOURCE", "COMPUTER", "USER"};
  const EventRecord all = MakeRecord({values[3], values[2], values[5], values[0], values[1], values[7], values[6], values[4]});
  std::string every;  // one rule testing every field: the fields are joined by AND
  for (size_t i = 0; i < kPatternFields; ++i) every += keys[i] + (": ^" + Narrow(values[i])) + "$\n";
  for (bool cached : {true, false}) {
    auto verdict = [&](const std::string& include, const std::string& exclude, const EventRecord& record) {
      RuleFile include_file(include), exclude_file(exclude);
      CNtEventRules rules;
      rules.SetCompiledCache(cached);
      if (!include.empty()) rules.LoadRuleLines(L"INCLUDE", include_file.Path(), nullptr);
      if (!exclude.empty()) rules.LoadRuleLines(L"EXCLUDE", exclude_file.Path(), nullptr);
      return rules.FilterNTEvent(record);
    };
    for (const auto& row : rows)
      EXPECT_EQ(verdict(row.include, row.exclude, MakeRecord(row.record)), row.dropped) << row.include << " / " << row.exclude;
    EXPECT_FALSE(verdict(every, "", all));
    for (size_t i = 0; i < kPatternFields; ++i) {
      std::string rule = keys[i] + (": ^" + Narrow(values[i])) + "$";
      EventRecord other = all;
      const_cast<std::wstring&>(RecordFieldAt(other, i)) = L"other";
      EXPECT_TRUE(!verdict(rule, "", all) && verdict(rule, "", other) && verdict(every, "", other)) << keys[i] << cached;
      EXPECT_TRUE(verdict("", rule, all) && !verdict("", rule, other)) << keys[i] << cached;
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

TEST(LineFormat, Files) {
  const std::wstring cafe = L"EVENTSTART\r\nSOURCE: Caf\u00e9\r\nEVENTEND\r\n";
  // %s in errors: the file's path.
  const struct { std::string text; const wchar_t* kind; bool ok; std::wstring errors, rules; } rows[] = {
      {"EVENTSTART\nLOG: System\nSOURCE: Disk, Srv\nEVENTEND\nEVENTSTART\nTYPE: ERROR\nCASESENSITIVE: Y\nEVENTEND\n",
       L"INCLUDE", true, L"", L"I[Log=System;Source=Disk, Srv;|] I[Type=ERROR;|]cs "},
      {"LOG: System\r\nSOURCE: Disk, Srv\r\n\r\nTYPE: ERROR\r\nCASESENSITIVE: Y\r\n", L"INCLUDE", true, L"",
       L"I[Type=ERROR;Log=System;Source=Disk, Srv;|]cs "},
      {"  LOG: x\nX LOG: y   \nCASESENSITIVE: yes\nSOURCE: (\n", L"INCLUDE", true,
       L"Cannot parse line X LOG: y\nCannot parse line CASESENSITIVE: yes\nFail to Compile RegExp (\n", L"I[Log=x;Source=(;|] "},
      {"LOG: a\nEVENTEND\nEVENTSTART\nLOG: b\nEVENTEND\nLOG: never\n", L"INCLUDE", true,
       L"EventEnd does not match with EventStart\n", L"I[Log=a;|] I[Log=b;|] "},
      {"LOG: a\nDESCRIPTION: the eventend word\nLOG: b\n", L"INCLUDE", true, L"EventEnd does not match with EventStart\n",
       L"I[Log=a;Description=the eventend word;|] "},
      {"TYPE: INFORMATION\n", L"EXCLUDE_ME", true, L"", L"E[|Type=INFORMATION;] "},
      {"LOG: a\n   <?xml version=\"1.0\"?>\n", L"INCLUDE", false, L"", L""},
      {"<?XML version=\"1.0\"?><r><EVENTS><LOG>a</LOG></EVENTS></r>", L"INCLUDE", false, L"", L""},
      {"hello\nworld\n", L"INCLUDE", false, L"Cannot parse line hello\nCannot parse line world\nCannot parse file %s\n", L"I[|] "},
      // A line is read in pieces of 899 characters: "LOG: " and 894 x fill the first.
      {"LOG: " + std::string(894, 'x') + "SOURCE: tail\n", L"INCLUDE", true, L"",
       L"I[Log=" + std::wstring(894, L'x') + L";Source=tail;|] "},
      {Utf16(cafe, false), L"INCLUDE", true, L"", L"I[Source=Caf\u00e9;|] "},
      {Utf16(cafe, true), L"INCLUDE", true, L"", L"I[Source=Caf\u00e9;|] "},
      {"\xEF\xBB\xBF" "EVENTSTART\r\nSOURCE: Caf\xC3\xA9\r\nEVENTEND\r\n", L"INCLUDE", true, L"", L"I[Source=Caf\u00e9;|] "}};
  for (const auto& row : rows) {
    RuleFile file(row.text);
    CNtEventRules rules;
    std::wstring errors, expected = row.errors;
    if (size_t at = expected.find(L"%s"); at != std::wstring::npos) expected.replace(at, 2, file.Path());
    EXPECT_EQ(rules.LoadRuleLines(row.kind, file.Path(), &errors), row.ok) << row.text.substr(0, 40);
    EXPECT_EQ(errors, expected) << row.text.substr(0, 40);
    EXPECT_EQ(Describe(rules), row.rules) << row.text.substr(0, 40);
  }
}

TEST(LineFormat, Lines) {
  // Each line parsed into a rule holding Log=old.
  const struct { const wchar_t* line; RuleKind kind; bool ok; const wchar_t* rule; } rows[] = {
      {L"LOG:System", kRuleInclude, true, L"[Log=ystem;|]"}, {L"LOG:   System", kRuleInclude, true, L"[Log=System;|]"},
      {L"USER:", kRuleInclude, true, L"[Log=old;|]"}, {L"LOG: *", kRuleInclude, true, L"[Log=old;|]"},
      {L"log: MixedCase", kRuleInclude, true, L"[Log=MixedCase;|]"}, {L"CASESENSITIVE:y", kRuleInclude, true, L"[Log=old;|]cs"},
      {L"CASESENSITIVE: yes", kRuleInclude, false, L"[Log=old;|]"}, {L"X LOG: y", kRuleInclude, false, L"[Log=old;|]"},
      {L"anything eventStart", kRuleInclude, true, L"[Log=old;|]"}, {L"LOG: l", kRuleExclude, true, L"[Log=old;|Log=l;]"},
      {L"TYPE: t", kRuleExclude, true, L"[Log=old;|Type=t;]"}, {L"COMPUTER: c", kRuleExclude, true, L"[Log=old;|Computer=c;]"},
      {L"EVENTID: e", kRuleExclude, true, L"[Log=old;|EventID=e;]"}, {L"SOURCE: s", kRuleExclude, true, L"[Log=old;|Source=s;]"},
      {L"DESCRIPTION: d", kRuleExclude, true, L"[Log=old;|Description=d;]"},
      {L"CATEGORY: g", kRuleExclude, true, L"[Log=old;|Category=g;]"}, {L"USER: u", kRuleExclude, true, L"[Log=old;|User=u;]"}};
  for (const auto& row : rows) {
    CNtEventRules rules;
    CEventRuleFilter rule;
    rule.IncludePatterns.Log = L"old";
    EXPECT_EQ(rules.ParseRuleLine(row.line, &rule, row.kind, nullptr), row.ok) << Narrow(row.line);
    EXPECT_EQ(Describe(rule), row.rule) << Narrow(row.line);
  }
}

const wchar_t kXmlRules[] =
    L"<?xml version=\"1.0\"?>\n<rules>\n <Include>\n  <events><LOG>Application</LOG><EventID>^1000$</EventID></events>\n"
    L"  <or/>\n  <EVENTS><source>Disk</source><CASESENSITIVE>y</CASESENSITIVE></EVENTS>\n </Include>\n"
    L" <EXCLUDE>\n  <EVENTS><TYPE>INFORMATION</TYPE></EVENTS>\n </EXCLUDE>\n</rules>\n";

TEST(XmlFormat, Documents) {
  const struct { const wchar_t *text, *kind; bool ok; const wchar_t *errors, *rules; } rows[] = {
      {kXmlRules, L"INCLUDE", true, L"", L"I[EventID=^1000$;Log=Application;|] I[Source=Disk;|]cs E[|Type=INFORMATION;] "},
      {L"<r><EVENTS><LOG>a</LOG></EVENTS><x/></r>", L"INCLUDE", true, L"", L"I[Log=a;|] "},
      {L"<r><EVENTS><LOG>b</LOG></EVENTS><x/></r>", L"OTHER", true, L"", L"E[|Log=b;] "},
      {L"<r><EXCLUDE/><EVENTS><LOG>c</LOG></EVENTS><x/></r>", L"INCLUDE", true, L"", L"E[|Log=c;] "},
      {L"<r><INCLUDE><EVENTS><LOG>   </LOG><TYPE>*</TYPE><SOURCE>Disk \t</SOURCE><USER>x</USER></EVENTS></INCLUDE></r>",
       L"INCLUDE", true, L"", L"I[Source=Disk;User=x;|] "},
      {L"<r><INCLUDE><EVENTS/><EVENTS><LOG>x</LOG></EVENTS><EVENTS/></INCLUDE></r>", L"INCLUDE", true, L"",
       L"I[|] I[Log=x;|] "},
      {L"<?xml version=\"1.0\"?>\r\n<r><INCLUDE><EVENTS><SOURCE>Caf\u00e9</SOURCE></EVENTS></INCLUDE></r>\r\n", L"INCLUDE",
       true, L"", L"I[Source=Caf\u00e9;|] "},
      {L"<r><INCLUDE><EVENTS><SOURCE>(a,b)</SOURCE><COMPUTER>(</COMPUTER><USER>[z-a]</USER></EVENTS></INCLUDE></r>",
       L"INCLUDE", true, L"Fail to Compile RegExp (\nFail to Compile RegExp [z-a]\n",
       L"I[Source=(a,b);Computer=(;User=[z-a];|] "},
      {L"<r><EXCLUDE><EVENTS><TYPE>a**</TYPE></EVENTS></EXCLUDE></r>", L"INCLUDE", true, L"Fail to Compile RegExp a**\n",
       L"E[|Type=a**;] "},
      {L"\r\n  <a>\n<b></a></b>", L"INCLUDE", false,
       L"Malformed XML. Parsing error at line 2, tag = <b>, error = <Overlapping tags detected. Found \"a\" but "
       L"needed to find \"b\".>.", L""},
      {L"<?XML version=\"1.0\"?><r><EVENTS><LOG>a</LOG></EVENTS></r>", L"INCLUDE", false,
       L"Malformed XML. Parsing error at line 1, tag = <xml>, error = <XML Declaration is not lower case (Rule 23).>.", L""}};
  for (const auto& row : rows) {
    CNtEventRules rules;
    std::wstring errors;
    EXPECT_EQ(rules.ParseRuleXML(row.text, row.kind, &errors), row.ok) << Narrow(row.text);
    EXPECT_EQ(errors, row.errors) << Narrow(row.text);
    EXPECT_EQ(Describe(rules), row.rules) << Narrow(row.text);
  }
  std::vector<RuleElement> elements;
  std::wstring names, errors;
  ASSERT_TRUE(CNtEventRules::FlattenRuleXML(kXmlRules, &elements, &errors));
  for (const RuleElement& e : elements) names += (e.Name.empty() ? L"-" : e.Name) + L":" + std::to_wstring(e.Kind) + L" ";
  EXPECT_EQ(names, L"INCLUDE:30 EVENTS:30 LOG:30 ID:30 -:1 EVENTS:30 SOURCE:30 CASESENSITIVE:30 EXCLUDE:31 EVENTS:31 TYPE:31 ");
}

TEST(ReadRuleFile, EncodingsEndOfTextAndZeroBytes) {
  const std::wstring lf = L"<?xml version=\"1.0\"?>\n<r>Caf\u00e9</r>\n", crlf = L"<?xml version=\"1.0\"?>\r\n<r>Caf\u00e9</r>\r\n";
  const std::pair<std::string, std::optional<std::wstring>> rows[] = {
      {"", std::nullopt}, {"\x1A rest", std::nullopt}, {"\xEF\xBB\xBF", L""}, {"\xFF\xFE", L""}, {"\xFE\xFF", L""},
      {"\xEF\xBB\xBF\x1A", L""}, {"caf\xE9", L"caf\u00e9"}, {Utf16(crlf, false), lf}, {Utf16(crlf, true), lf},
      // Text mode gives 1035 bytes; the zero at byte 5 cuts only the rest of its 1024-byte block.
      {std::string("a\r\nb\rc\0lost\n", 12) + std::string(1020, 'y') + "kept\x1A" "after", L"a\nb\rc" + std::wstring(7, L'y') + L"kept"},
      // UTF-8 "é" straddles bytes 1023 and 1024 of the text.
      {"\xEF\xBB\xBF" + std::string(1023, 'a') + "\xC3\xA9z", std::wstring(1023, L'a') + L"\u00e9z"}};
  for (size_t i = 0; i < std::size(rows); ++i) {
    RuleFile file(rows[i].first);
    EXPECT_EQ(CNtEventRules::ReadRuleFile(file.Path()), rows[i].second) << "row " << i;
  }
  EXPECT_EQ(CNtEventRules::ReadRuleFile(L"no_such_rule_file.xml"), std::nullopt);
}

}  // namespace
}  // namespace brisel
