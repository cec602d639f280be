// Filter keys, list storage and matching of trap fields.
#include <gtest/gtest.h>

#include <clocale>

#include "snmp/trap_filter.h"
#include "snmp/trap_source.h"

using namespace brisel;

namespace {

using Settings = std::vector<std::pair<const wchar_t*, const wchar_t*>>;

struct Row {
  Settings settings;  // SetFilter calls in order
  const wchar_t* community;
  bool passes;
  const wchar_t* agent = L"10.0.0.1";
  LONG generic = 6, specific = 1;
  const wchar_t* identification = L".1.3.6.1.4.1.9";
  const wchar_t* transport = L"192.168.1.5";
};

TEST(SnmpFilter, Verdicts) {
  const Settings community{{L"COMMUNITY", L"public"}};
  const Settings insensitive{{L"COMMUNITY", L"public"}, {L"CASE SENSITIVE", L"FALSE"}};
  const Settings numbers{{L"GENERIC", L"6"}, {L"SPECIFIC", L"1,2:2"}};
  const Settings redelimited{{L"COMMUNITY", L"a,b"}, {L"DELIMITER", L";x"}};
  const Settings delimited{{L"DELIMITER", L";x"}, {L"COMMUNITY", L"a;b"}};
  const Settings separated{{L"SEPERATOR", L"|"}, {L"COMMUNITY", L"|a|b"}, {L"AGENT ADDRESS", L"x:y"}};
  const Settings both{{L"COMMUNITY", L"public"}, {L"AGENT ADDRESS", L"10.0.0.1"}};
  const Settings exclude{{L"COMMUNITY", L"public:private"}};
  const Settings replaced{{L"COMMUNITY", L"public:private"}, {L"COMMUNITY", L"public,private"}};
  const Settings emptied{{L"COMMUNITY", L"public"}, {L"COMMUNITY", L""}};
  const Settings cleared{{L"COMMUNITY", L"public"}, {L"COMMUNITY", L":"}};
  const Row rows[] = {
      {{}, L"public", true}, {{}, L"", true, L"", 0, 0, L"", L""},
      {community, L"public", true}, {community, L"PUBLIC", true}, {community, L"Public", true},
      {community, L"private", false}, {community, L"publ", false}, {community, L"", false},
      {{{L"COMMUNITY", L"public"}, {L"CASE SENSITIVE", L"false"}}, L"PUBLIC", false},
      {insensitive, L"PUBLIC", true},
      {{{L"COMMUNITY", L"public"}, {L"CASE SENSITIVE", L"FALSE"}, {L"CASE SENSITIVE", L"TRUE:x,"}}, L"PUBLIC", false},
      {{{L"AGENT ADDRESS", L":10.0.0.1"}}, L"public", false},
      {{{L"AGENT ADDRESS", L":10.0.0.1"}}, L"public", true, L"10.0.0.2"},
      {{{L"AGENT ADDRESS", L":10.0.0.1"}}, L"public", true, L"10.0.0.11"},
      {{{L"GENERIC", L"6"}}, L"public", false, L"10.0.0.1", 0},
      {numbers, L"public", true}, {numbers, L"public", false, L"10.0.0.1", 6, 2},
      {numbers, L"public", false, L"10.0.0.1", 6, 3},
      {{{L"SPECIFIC", L"-1"}}, L"public", true, L"10.0.0.1", 6, -1},
      {{{L"IDENTIFICATION", L".1.3.6.1.4.1.9"}}, L"public", true},
      {{{L"IDENTIFICATION", L".1.3.6.1.4.1.9"}}, L"public", false, L"10.0.0.1", 6, 1, L".1.3.6.1.4.1.9.1"},
      {{{L"IDENTIFICATION", L"1.3.6.1.4.1.9"}}, L"public", false},
      {{{L"TRANSPORT ADDRESS", L"192.168.1.5,192.168.1.6"}}, L"public", true},
      {{{L"TRANSPORT ADDRESS", L"192.168.1.5,192.168.1.6"}}, L"public", false, L"10.0.0.1", 6, 1, L"", L"192.168.1.7"},
      // Blanks belong to the items.
      {{{L"COMMUNITY", L"public, private"}}, L"private", false},
      {{{L"COMMUNITY", L"public, private"}}, L" private", true},
      // A list stored before the delimiter changed ("a,b,") has no item left.
      {redelimited, L"a", false}, {redelimited, L"b", false},
      {delimited, L"a", true}, {delimited, L"b", true}, {delimited, L"a;b", false},
      // The separator splits at its first occurrence; the colon is text then.
      {separated, L"a", true, L"x:y"}, {separated, L"a|b", false, L"x:y"}, {separated, L"b", true, L"x:y"},
      {both, L"public", true}, {both, L"public", false, L"10.0.0.2"}, {both, L"private", false},
      {exclude, L"private", false}, {exclude, L"other", false},
      {replaced, L"private", true},
      {emptied, L"other", false},
      {cleared, L"other", true},
      // Keys the filter does not know change nothing.
      {{{L"community", L"public"}}, L"private", true},
      {{{L"SEPARATOR", L"|"}, {L"COMMUNITY", L"|private"}}, L"private", false},
      {{{L"COMMUNITY ", L"public"}}, L"private", true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << "row " << (&row - rows));
    CSnmpEventSinkFilter f;
    for (auto [key, value] : row.settings) f.SetFilter(key, value);
    TrapRecord r;
    r.Community = row.community;
    r.AgentAddress = row.agent;
    r.TransportAddress = row.transport;
    r.Identification = row.identification;
    r.Generic = row.generic;
    r.Specific = row.specific;
    EXPECT_EQ(!f.Filter(r), row.passes);
  }
}

TEST(SnmpFilter, SetFilterResults) {
  const std::tuple<const wchar_t*, const wchar_t*, long> rows[] = {
      {L"COMMUNITY", L"public", 0}, {L"AGENT ADDRESS", L":10.0.0.1", 0}, {L"CASE SENSITIVE", L"false", 0},
      {L"DELIMITER", L";x", 0},     {L"SEPERATOR", L"|", 0},             {L"COMMUNITY", L"", 0},
      {L"community", L"public", 1}, {L"SEPARATOR", L"|", 1},             {L"COMMUNITY ", L"public", 1},
      {L"NO SUCH KEY", L"x", 1},
      {L"NO SUCH KEY", L"", 0},  // an empty value is accepted before the key is looked at
  };
  for (auto [key, value, expected] : rows) {
    CSnmpEventSinkFilter f;
    EXPECT_EQ(f.SetFilter(key, value), expected) << key << "=" << value;
  }
}

TEST(SnmpFilter, UpperCasingFollowsTheCodePage) {
  std::setlocale(LC_ALL, ".ACP");
  CSnmpEventSinkFilter f;
  f.SetFilter(L"COMMUNITY", L"caf\u00e9");
  TrapRecord r;
  r.Community = L"CAF\u00c9";
  EXPECT_FALSE(f.Filter(r));
  std::setlocale(LC_ALL, "C");
}

}  // namespace
