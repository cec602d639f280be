// Filter keys, list storage and matching of trap fields.
#include <gtest/gtest.h>

#include <clocale>

#include "snmp/trap_filter.h"
#include "snmp/trap_source.h"

using namespace brisel;

namespace {

enum Field { kCommunity, kAgent, kGeneric, kSpecific, kIdentification, kTransport };
struct Setting {
  const wchar_t *key, *value;
  long result = 0;
};
struct Row {
  std::vector<Setting> settings;  // SetFilter calls in order
  Field field;                    // the field the traps differ in
  std::vector<std::pair<const wchar_t*, bool>> traps;  // that field's text, passes
};

TEST(SnmpFilter, SettingsAndVerdicts) {
  std::setlocale(LC_ALL, ".ACP");  // upper-casing follows the code page
  const Setting community{L"COMMUNITY", L"public"};
  const Row rows[] = {
      {{}, kCommunity, {{L"public", true}, {L"", true}}},
      {{community}, kCommunity,
       {{L"public", true}, {L"PUBLIC", true}, {L"Public", true}, {L"private", false}, {L"publ", false}, {L"", false}}},
      {{community, {L"CASE SENSITIVE", L"false"}}, kCommunity, {{L"PUBLIC", false}, {L"public", true}}},
      {{community, {L"CASE SENSITIVE", L"FALSE"}}, kCommunity, {{L"PUBLIC", true}}},
      {{community, {L"CASE SENSITIVE", L"FALSE"}, {L"CASE SENSITIVE", L"TRUE:x,"}}, kCommunity, {{L"PUBLIC", false}}},
      {{{L"COMMUNITY", L"caf\u00e9"}}, kCommunity, {{L"CAF\u00c9", true}}},
      {{{L"AGENT ADDRESS", L":10.0.0.1"}}, kAgent, {{L"10.0.0.1", false}, {L"10.0.0.2", true}, {L"10.0.0.11", true}}},
      {{{L"GENERIC", L"6"}}, kGeneric, {{L"6", true}, {L"0", false}}},
      {{{L"GENERIC", L"6"}, {L"SPECIFIC", L"1,2:2"}}, kSpecific, {{L"1", true}, {L"2", false}, {L"3", false}}},
      {{{L"SPECIFIC", L"-1"}}, kSpecific, {{L"-1", true}}},
      {{{L"IDENTIFICATION", L".1.3.6.1.4.1.9"}}, kIdentification, {{L".1.3.6.1.4.1.9", true}, {L".1.3.6.1.4.1.9.1", false}}},
      {{{L"IDENTIFICATION", L"1.3.6.1.4.1.9"}}, kIdentification, {{L".1.3.6.1.4.1.9", false}}},
      {{{L"TRANSPORT ADDRESS", L"192.168.1.5,192.168.1.6"}}, kTransport, {{L"192.168.1.5", true}, {L"192.168.1.7", false}}},
      // Blanks belong to the items.
      {{{L"COMMUNITY", L"public, private"}}, kCommunity, {{L"public", true}, {L"private", false}, {L" private", true}}},
      // A list stored before the delimiter changed ("a,b,") has no item left.
      {{{L"COMMUNITY", L"a,b"}, {L"DELIMITER", L";x"}}, kCommunity, {{L"a", false}, {L"b", false}}},
      {{{L"DELIMITER", L";x"}, {L"COMMUNITY", L"a;b"}}, kCommunity, {{L"a", true}, {L"b", true}, {L"a;b", false}}},
      // The separator splits at its first occurrence; the colon is text then.
      {{{L"SEPERATOR", L"|"}, {L"COMMUNITY", L"|a|b"}}, kCommunity, {{L"a", true}, {L"a|b", false}, {L"b", true}}},
      {{{L"SEPERATOR", L"|"}, {L"AGENT ADDRESS", L"x:y"}}, kAgent, {{L"x:y", true}}},
      // Every include list must match.
      {{community, {L"AGENT ADDRESS", L"10.0.0.1"}}, kAgent, {{L"10.0.0.1", true}, {L"10.0.0.2", false}}},
      {{{L"AGENT ADDRESS", L"10.0.0.1"}, community}, kCommunity, {{L"private", false}}},
      {{{L"COMMUNITY", L"public:private"}}, kCommunity, {{L"private", false}, {L"other", false}}},
      {{{L"COMMUNITY", L"public:private"}, {L"COMMUNITY", L"public,private"}}, kCommunity, {{L"private", true}}},
      {{community, {L"COMMUNITY", L""}}, kCommunity, {{L"other", false}}},  // an empty value leaves the lists
      {{community, {L"COMMUNITY", L":"}}, kCommunity, {{L"other", true}}},  // the separator alone empties them
      // Keys are exact upper-case words; others change nothing. An empty
      // value is accepted before the key is looked at.
      {{{L"community", L"public", 1}, {L"COMMUNITY ", L"public", 1}, {L"NO SUCH KEY", L"x", 1}, {L"NO SUCH KEY", L""}},
       kCommunity, {{L"private", true}}},
      {{{L"SEPARATOR", L"|", 1}, {L"COMMUNITY", L"a:private"}}, kCommunity, {{L"a", true}, {L"private", false}}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << "row " << (&row - rows));
    CSnmpEventSinkFilter f;
    for (const Setting& s : row.settings) EXPECT_EQ(f.SetFilter(s.key, s.value), s.result) << s.key << "=" << s.value;
    for (auto [text, passes] : row.traps) {
      TrapRecord r;
      r.Community = L"public";
      r.AgentAddress = L"10.0.0.1";
      r.TransportAddress = L"192.168.1.5";
      r.Identification = L".1.3.6.1.4.1.9";
      r.Generic = 6;
      r.Specific = 1;
      std::wstring* texts[] = {&r.Community, &r.AgentAddress, nullptr, nullptr, &r.Identification, &r.TransportAddress};
      if (texts[row.field]) *texts[row.field] = text;
      if (row.field == kGeneric) r.Generic = _wtoi(text);
      if (row.field == kSpecific) r.Specific = _wtoi(text);
      EXPECT_EQ(!f.Filter(r), passes) << "trap " << text;
    }
  }
  std::setlocale(LC_ALL, "C");
}

}  // namespace
