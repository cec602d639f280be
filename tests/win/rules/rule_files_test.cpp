// Rule files: the line format, the XML format, reading and encodings.
#include <gtest/gtest.h>

#include "rules/event_rules.h"
#include "tests/harness/dispatch.h"
#include "tests/win/rules/rule_test_util.h"

namespace brisel {
namespace {

using test::RuleFile;

struct Loaded {
  bool ok = false;
  std::wstring errors;
};

Loaded LoadLines(CNtEventRules* rules, const std::string& text, const wchar_t* kind = L"INCLUDE") {
  RuleFile file(text);
  Loaded r;
  r.ok = rules->LoadRuleLines(kind, file.Path(), &r.errors);
  return r;
}

Loaded LoadXml(CNtEventRules* rules, const std::wstring& text, const wchar_t* kind = L"INCLUDE") {
  Loaded r;
  r.ok = rules->ParseRuleXML(text, kind, &r.errors);
  return r;
}

TEST(LineFormat, BlocksMakeOneRuleEach) {
  CNtEventRules rules;
  Loaded r = LoadLines(&rules,
                       "EVENTSTART\nLOG: System\nSOURCE: Disk, Srv\nEVENTEND\n"
                       "EVENTSTART\nTYPE: ERROR\nCASESENSITIVE: Y\nEVENTEND\n");
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.errors, L"");
  ASSERT_EQ(rules.IncludeRules.size(), 2u);
  EXPECT_TRUE(rules.ExcludeRules.empty());
  EXPECT_EQ(rules.IncludeRules[0].IncludePatterns.Log, L"System");
  EXPECT_EQ(rules.IncludeRules[0].IncludePatterns.Source, L"Disk, Srv");
  EXPECT_FALSE(rules.IncludeRules[0].CaseSensitive);
  EXPECT_EQ(rules.IncludeRules[1].IncludePatterns.Type, L"ERROR");
  EXPECT_EQ(rules.IncludeRules[1].IncludePatterns.Log, L"") << "the working rule is reset after EVENTEND";
  EXPECT_TRUE(rules.IncludeRules[1].CaseSensitive);
}

TEST(LineFormat, WithoutBlocksTheWholeFileIsOneRule) {
  CNtEventRules rules;
  Loaded r = LoadLines(&rules, "LOG: System\r\nSOURCE: Disk, Srv\r\n\r\nTYPE: ERROR\r\nCASESENSITIVE: Y\r\n");
  EXPECT_TRUE(r.ok);
  ASSERT_EQ(rules.IncludeRules.size(), 1u);
  const CEventRuleFilter& rule = rules.IncludeRules[0];
  EXPECT_EQ(rule.IncludePatterns.Log, L"System");
  EXPECT_EQ(rule.IncludePatterns.Source, L"Disk, Srv");
  EXPECT_EQ(rule.IncludePatterns.Type, L"ERROR");
  EXPECT_TRUE(rule.CaseSensitive);
}

TEST(LineFormat, OneCharacterAfterTheColonIsDropped) {
  CNtEventRules rules;
  CEventRuleFilter rule;
  EXPECT_TRUE(rules.ParseRuleLine(L"LOG:System", &rule, kRuleInclude, nullptr));
  EXPECT_EQ(rule.IncludePatterns.Log, L"ystem");
  EXPECT_TRUE(rules.ParseRuleLine(L"LOG:   System", &rule, kRuleInclude, nullptr));
  EXPECT_EQ(rule.IncludePatterns.Log, L"System");
  EXPECT_TRUE(rules.ParseRuleLine(L"USER:", &rule, kRuleInclude, nullptr)) << "an empty value is still recognised";
  EXPECT_TRUE(rules.ParseRuleLine(L"LOG: *", &rule, kRuleInclude, nullptr));
  EXPECT_EQ(rule.IncludePatterns.Log, L"System") << "* leaves the field";
  EXPECT_TRUE(rules.ParseRuleLine(L"log: MixedCase", &rule, kRuleInclude, nullptr));
  EXPECT_EQ(rule.IncludePatterns.Log, L"MixedCase");
  EXPECT_TRUE(rules.ParseRuleLine(L"CASESENSITIVE:y", &rule, kRuleInclude, nullptr));
  EXPECT_TRUE(rule.CaseSensitive);
  EXPECT_FALSE(rules.ParseRuleLine(L"CASESENSITIVE: yes", &rule, kRuleInclude, nullptr));
  EXPECT_FALSE(rules.ParseRuleLine(L"X LOG: y", &rule, kRuleInclude, nullptr));
  EXPECT_TRUE(rules.ParseRuleLine(L"anything eventStart", &rule, kRuleInclude, nullptr));
}

TEST(LineFormat, KeywordsFillTheirOwnField) {
  CNtEventRules rules;
  CEventRuleFilter rule;
  for (const wchar_t* line : {L"LOG: l", L"TYPE: t", L"COMPUTER: c", L"EVENTID: e", L"DESCRIPTION: d", L"SOURCE: s",
                              L"CATEGORY: g", L"USER: u"})
    EXPECT_TRUE(rules.ParseRuleLine(line, &rule, kRuleExclude, nullptr)) << line;
  const PatternSet& p = rule.ExcludePatterns;
  EXPECT_EQ(p.Log + p.Type + p.Computer + p.EventID + p.Description + p.Source + p.Category + p.User, L"ltcedsgu");
  EXPECT_EQ(rule.IncludePatterns.Log, L"");
}

TEST(LineFormat, ComplaintsAccumulateAndLoadingGoesOn) {
  CNtEventRules rules;
  Loaded r = LoadLines(&rules, "  LOG: x\nX LOG: y   \nCASESENSITIVE: yes\nSOURCE: (\n");
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.errors,
            L"Cannot parse line X LOG: y\n"
            L"Cannot parse line CASESENSITIVE: yes\n"
            L"Fail to Compile RegExp (\n");
  ASSERT_EQ(rules.IncludeRules.size(), 1u);
  EXPECT_EQ(rules.IncludeRules[0].IncludePatterns.Source, L"(") << "a pattern that does not compile stays";
}

TEST(LineFormat, EventEndOutsideABlockStillAddsTheRule) {
  CNtEventRules rules;
  Loaded r = LoadLines(&rules, "LOG: a\nEVENTEND\nEVENTSTART\nLOG: b\nEVENTEND\nLOG: never\n");
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.errors, L"EventEnd does not match with EventStart\n");
  ASSERT_EQ(rules.IncludeRules.size(), 2u);
  EXPECT_EQ(rules.IncludeRules[0].IncludePatterns.Log, L"a");
  EXPECT_EQ(rules.IncludeRules[1].IncludePatterns.Log, L"b");
}

TEST(LineFormat, ADescriptionHoldingEventEndClosesTheBlock) {
  CNtEventRules rules;
  Loaded r = LoadLines(&rules, "LOG: a\nDESCRIPTION: the eventend word\nLOG: b\n");
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.errors, L"EventEnd does not match with EventStart\n");
  ASSERT_EQ(rules.IncludeRules.size(), 1u) << "block mode: the lines after the last end make no rule";
  EXPECT_EQ(rules.IncludeRules[0].IncludePatterns.Description, L"the eventend word");
}

TEST(LineFormat, OtherFileKindsMakeExcludeRules) {
  CNtEventRules rules;
  Loaded r = LoadLines(&rules, "TYPE: INFORMATION\n", L"EXCLUDE_ME");
  EXPECT_TRUE(r.ok);
  ASSERT_EQ(rules.ExcludeRules.size(), 1u);
  EXPECT_EQ(rules.ExcludeRules[0].ExcludePatterns.Type, L"INFORMATION");
  EXPECT_EQ(rules.ExcludeRules[0].IncludePatterns.Type, L"");
}

TEST(LineFormat, RefusesXmlWithoutAMessage) {
  CNtEventRules rules;
  Loaded r = LoadLines(&rules, "LOG: a\n   <?xml version=\"1.0\"?>\n");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.errors, L"");
  EXPECT_TRUE(rules.IncludeRules.empty());
}

TEST(LineFormat, NothingRecognisedFails) {
  CNtEventRules rules;
  RuleFile file("hello\nworld\n");
  std::wstring errors;
  EXPECT_FALSE(rules.LoadRuleLines(L"INCLUDE", file.Path(), &errors));
  EXPECT_EQ(errors, L"Cannot parse line hello\nCannot parse line world\nCannot parse file " + file.Path() + L"\n");
}

TEST(LineFormat, MissingFileReplacesTheErrors) {
  CNtEventRules rules;
  std::wstring errors = L"old";
  EXPECT_FALSE(rules.LoadRuleLines(L"INCLUDE", L"no_such_rule_file.txt", &errors));
  EXPECT_EQ(errors, L"Cannot open file no_such_rule_file.txt\n");
}

TEST(LineFormat, LongLinesAreReadInPiecesOf899) {
  CNtEventRules rules;
  // "LOG: " plus 894 x: the piece ends exactly at 899 characters; the rest is a line of its own.
  std::string line = "LOG: " + std::string(894, 'x') + "SOURCE: tail\n";
  Loaded r = LoadLines(&rules, line);
  EXPECT_TRUE(r.ok);
  ASSERT_EQ(rules.IncludeRules.size(), 1u);
  EXPECT_EQ(rules.IncludeRules[0].IncludePatterns.Log, std::wstring(894, L'x'));
  EXPECT_EQ(rules.IncludeRules[0].IncludePatterns.Source, L"tail");
}

const wchar_t kXmlRules[] =
    L"<?xml version=\"1.0\"?>\n"
    L"<rules>\n"
    L" <Include>\n"
    L"  <events><LOG>Application</LOG><EventID>^1000$</EventID></events>\n"
    L"  <or/>\n"
    L"  <EVENTS><source>Disk</source><CASESENSITIVE>y</CASESENSITIVE></EVENTS>\n"
    L" </Include>\n"
    L" <EXCLUDE>\n"
    L"  <EVENTS><TYPE>INFORMATION</TYPE></EVENTS>\n"
    L" </EXCLUDE>\n"
    L"</rules>\n";

TEST(XmlFormat, TheDocumentBecomesIncludeAndExcludeRules) {
  CNtEventRules rules;
  Loaded r = LoadXml(&rules, kXmlRules);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.errors, L"");
  ASSERT_EQ(rules.IncludeRules.size(), 2u);
  ASSERT_EQ(rules.ExcludeRules.size(), 1u);
  EXPECT_EQ(rules.IncludeRules[0].IncludePatterns.Log, L"Application");
  EXPECT_EQ(rules.IncludeRules[0].IncludePatterns.EventID, L"^1000$");
  EXPECT_FALSE(rules.IncludeRules[0].CaseSensitive);
  EXPECT_EQ(rules.IncludeRules[1].IncludePatterns.Source, L"Disk");
  EXPECT_EQ(rules.IncludeRules[1].IncludePatterns.Log, L"");
  EXPECT_TRUE(rules.IncludeRules[1].CaseSensitive);
  EXPECT_EQ(rules.ExcludeRules[0].ExcludePatterns.Type, L"INFORMATION");
  EXPECT_EQ(rules.ExcludeRules[0].IncludePatterns.Type, L"");

  EXPECT_FALSE(rules.FilterNTEvent(test::MakeRecord({.log = L"Application", .type = L"ERROR", .event_id = L"1000"})));
  EXPECT_TRUE(rules.FilterNTEvent(test::MakeRecord({.log = L"Application", .type = L"ERROR", .source = L"Srv", .event_id = L"10000"})));
  EXPECT_TRUE(rules.FilterNTEvent(test::MakeRecord({.type = L"INFORMATION", .source = L"Disk"})));
  EXPECT_TRUE(rules.FilterNTEvent(test::MakeRecord({.log = L"System", .type = L"ERROR", .source = L"DISK"})));
}

TEST(XmlFormat, FlatListKeepsDocumentOrderAndKinds) {
  std::vector<RuleElement> elements;
  std::wstring errors;
  ASSERT_TRUE(CNtEventRules::FlattenRuleXML(kXmlRules, &elements, &errors));
  std::wstring names;
  for (const RuleElement& e : elements) names += (e.Name.empty() ? L"-" : e.Name) + L":" + std::to_wstring(e.Kind) + L" ";
  EXPECT_EQ(names, L"INCLUDE:30 EVENTS:30 LOG:30 ID:30 -:1 EVENTS:30 SOURCE:30 CASESENSITIVE:30 EXCLUDE:31 EVENTS:31 TYPE:31 ");
}

TEST(XmlFormat, EventsOutsideAListTakeTheKindInForce) {
  CNtEventRules rules;
  EXPECT_TRUE(LoadXml(&rules, L"<r><EVENTS><LOG>a</LOG></EVENTS><x/></r>", L"INCLUDE").ok);
  EXPECT_TRUE(LoadXml(&rules, L"<r><EVENTS><LOG>b</LOG></EVENTS><x/></r>", L"OTHER").ok);
  EXPECT_TRUE(LoadXml(&rules, L"<r><EXCLUDE/><EVENTS><LOG>c</LOG></EVENTS><x/></r>", L"INCLUDE").ok);
  ASSERT_EQ(rules.IncludeRules.size(), 1u);
  ASSERT_EQ(rules.ExcludeRules.size(), 2u);
  EXPECT_EQ(rules.IncludeRules[0].IncludePatterns.Log, L"a");
  EXPECT_EQ(rules.ExcludeRules[0].ExcludePatterns.Log, L"b");
  EXPECT_EQ(rules.ExcludeRules[1].ExcludePatterns.Log, L"c");
}

TEST(XmlFormat, BlankOrStarFieldsStayEmptyAndTrailingBlanksGo) {
  CNtEventRules rules;
  EXPECT_TRUE(LoadXml(&rules, L"<r><INCLUDE><EVENTS><LOG>   </LOG><TYPE>*</TYPE><SOURCE>Disk \t</SOURCE>"
                              L"<USER>x</USER></EVENTS></INCLUDE></r>")
                  .ok);
  ASSERT_EQ(rules.IncludeRules.size(), 1u);
  EXPECT_EQ(rules.IncludeRules[0].IncludePatterns.Log, L"");
  EXPECT_EQ(rules.IncludeRules[0].IncludePatterns.Type, L"");
  EXPECT_EQ(rules.IncludeRules[0].IncludePatterns.Source, L"Disk");
}

TEST(XmlFormat, LastEventsMakesNoRuleAndAnEmptyEventsMakesAnEmptyRule) {
  CNtEventRules rules;
  EXPECT_TRUE(LoadXml(&rules, L"<r><INCLUDE><EVENTS/><EVENTS><LOG>x</LOG></EVENTS><EVENTS/></INCLUDE></r>").ok);
  ASSERT_EQ(rules.IncludeRules.size(), 2u);
  EXPECT_EQ(rules.IncludeRules[0].IncludePatterns.Log, L"");
  EXPECT_EQ(rules.IncludeRules[1].IncludePatterns.Log, L"x");
}

TEST(XmlFormat, ReportsPatternsThatDoNotCompile) {
  CNtEventRules rules;
  Loaded r = LoadXml(&rules, L"<r><INCLUDE><EVENTS><SOURCE>(</SOURCE><USER>[z-a]</USER></EVENTS></INCLUDE></r>");
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.errors, L"Fail to Compile RegExp (\nFail to Compile RegExp [z-a]\n");
}

TEST(XmlFormat, MalformedDocumentGivesTheParserMessage) {
  CNtEventRules rules;
  Loaded r = LoadXml(&rules, L"\r\n  <a>\n<b></a></b>");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.errors.rfind(L"Malformed XML. Parsing error at line ", 0), 0u) << test::Narrow(r.errors);
  EXPECT_NE(r.errors.find(L"error = <Overlapping tags detected."), std::wstring::npos) << test::Narrow(r.errors);
  EXPECT_EQ(r.errors.back(), L'.');
}

TEST(XmlFormat, UpperCaseDeclarationFailsInBothFormats) {
  CNtEventRules rules;
  RuleFile file("<?XML version=\"1.0\"?><r><EVENTS><LOG>a</LOG></EVENTS></r>");
  std::optional<std::wstring> text = CNtEventRules::ReadRuleFile(file.Path());
  ASSERT_TRUE(text);
  std::wstring errors;
  EXPECT_FALSE(rules.ParseRuleXML(*text, L"INCLUDE", &errors));
  EXPECT_NE(errors.find(L"XML Declaration is not lower case (Rule 23)."), std::wstring::npos) << test::Narrow(errors);
  std::wstring line_errors;
  EXPECT_FALSE(rules.LoadRuleLines(L"INCLUDE", file.Path(), &line_errors));
}

TEST(ReadRuleFile, MissingOrEmptyFileGivesNoText) {
  EXPECT_FALSE(CNtEventRules::ReadRuleFile(L"no_such_rule_file.xml"));
  RuleFile empty("");
  EXPECT_FALSE(CNtEventRules::ReadRuleFile(empty.Path()));
  RuleFile end_of_text("\x1A rest");
  EXPECT_FALSE(CNtEventRules::ReadRuleFile(end_of_text.Path()));
}

TEST(ReadRuleFile, AMarkIsTextEvenWithNothingBehindIt) {
  const char* const files[] = {"\xEF\xBB\xBF", "\xFF\xFE", "\xFE\xFF", "\xEF\xBB\xBF\x1A"};
  for (size_t i = 0; i < std::size(files); ++i) {
    RuleFile mark_only(files[i]);
    std::optional<std::wstring> text = CNtEventRules::ReadRuleFile(mark_only.Path());
    ASSERT_TRUE(text) << "file " << i;
    EXPECT_EQ(*text, L"") << "file " << i;
  }
}

TEST(ReadRuleFile, TextModeAndZeroBytesPerBlock) {
  RuleFile file(std::string("a\r\nb\rc") + '\0' + "lost\n" + std::string(1020, 'y') + "kept\x1A" + "after");
  std::optional<std::wstring> text = CNtEventRules::ReadRuleFile(file.Path());
  ASSERT_TRUE(text);
  // Text mode gives 1035 bytes; the zero at byte 5 cuts only the rest of the
  // first 1024-byte block, so the second block's 7 y and "kept" remain.
  std::wstring expected = L"a\nb\rc" + std::wstring(7, L'y') + L"kept";
  EXPECT_EQ(*text, expected);
}

TEST(ReadRuleFile, CharacterAcrossABlockBoundarySurvives) {
  // UTF-8 "é" (C3 A9) straddles bytes 1023 and 1024 of the text.
  std::string body = std::string(1023, 'a') + "\xC3\xA9" + "z";
  RuleFile file("\xEF\xBB\xBF" + body);
  std::optional<std::wstring> text = CNtEventRules::ReadRuleFile(file.Path());
  ASSERT_TRUE(text);
  EXPECT_EQ(*text, std::wstring(1023, L'a') + L"\u00e9z");
}

TEST(ReadRuleFile, AnsiTextUsesTheCodePage) {
  RuleFile file("caf\xE9");
  std::optional<std::wstring> text = CNtEventRules::ReadRuleFile(file.Path());
  ASSERT_TRUE(text);
  EXPECT_EQ(*text, L"caf\u00e9") << "Wine's ANSI code page is 1252";
}

TEST(ByteOrderMarks, Utf16XmlFileLoads) {
  for (bool big_endian : {false, true}) {
    std::string bytes = test::Utf16Bytes(L"<?xml version=\"1.0\"?>\r\n<r><INCLUDE><EVENTS><SOURCE>Caf\u00e9</SOURCE>"
                                         L"</EVENTS></INCLUDE></r>\r\n",
                                         big_endian, true);
    RuleFile file(bytes, L".xml");
    std::optional<std::wstring> text = CNtEventRules::ReadRuleFile(file.Path());
    ASSERT_TRUE(text);
    CNtEventRules rules;
    std::wstring errors;
    EXPECT_TRUE(rules.ParseRuleXML(*text, L"INCLUDE", &errors)) << test::Narrow(errors);
    ASSERT_EQ(rules.IncludeRules.size(), 1u);
    EXPECT_EQ(rules.IncludeRules[0].IncludePatterns.Source, L"Caf\u00e9");
  }
}

TEST(ByteOrderMarks, LineFilesLoadInEveryMarkedEncoding) {
  const std::wstring lines = L"EVENTSTART\r\nSOURCE: Caf\u00e9\r\nEVENTEND\r\n";
  std::string utf8 = "\xEF\xBB\xBF" "EVENTSTART\r\nSOURCE: Caf\xC3\xA9\r\nEVENTEND\r\n";
  for (const std::string& bytes : {test::Utf16Bytes(lines, false, true), test::Utf16Bytes(lines, true, true), utf8}) {
    CNtEventRules rules;
    Loaded r = LoadLines(&rules, bytes);
    EXPECT_TRUE(r.ok) << test::Narrow(r.errors);
    EXPECT_EQ(r.errors, L"");
    ASSERT_EQ(rules.IncludeRules.size(), 1u);
    EXPECT_EQ(rules.IncludeRules[0].IncludePatterns.Source, L"Caf\u00e9");
  }
}

}  // namespace
}  // namespace brisel
