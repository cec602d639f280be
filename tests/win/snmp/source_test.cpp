// The trap source on the (simulated) SNMP Management API, then the filter.
#include <gtest/gtest.h>

#include <cstring>

#include "snmp/trap_filter.h"
#include "snmp/trap_source.h"
#include "tests/win/snmp/sim_trap_service.h"

using namespace brisel;
using namespace brisel::test;
using namespace std::literals;

namespace {

// The record's fields, then a line per binding.
std::wstring Text(const TrapRecord& r) {
  std::wstring s = r.Community + L" " + r.Identification + L" " + r.AgentAddress + L" " + r.TransportAddress + L" " +
                   std::to_wstring(r.Generic) + L" " + std::to_wstring(r.Specific) + L" " + std::to_wstring(r.TimeStamp);
  for (const auto& vb : r.Varbinds) s += L"\n" + vb->ObjectIdentifier + L"|" + vb->Encoding + L"|" + vb->Value;
  return s;
}

// Types only the trap service hands out, short addresses, octets as characters of the same code.
TEST(Source, OneRecordPerTrapWithTheTextsOfEveryBinding) {
  SimTrap t{.enterprise = {1, 3, 6, 1, 4, 1, 9}, .agent = {10, 0}, .source = {}, .specific = 17,
            .community = "a\0b\xE9"s, .time_stamp = 123456};
  const std::pair<BYTE, std::vector<BYTE>> rows[] = {
      {ASN_UINTEGER32, {}}, {ASN_OCTETSTRING, {0xA9}}, {ASN_IPADDRESS, {192, 168, 1, 5, 9}}, {ASN_OPAQUE, {1, 2}}, {0x99, {}}};
  for (const auto& [type, octets] : rows)
    t.bindings.push_back({{1, 3, 6, UINT(t.bindings.size()), 4294967295u}, type, 4294967295u, octets});
  t.bindings.push_back({{}, ASN_OCTETSTRING, 0, {}});  // no name, no octets
  SimTrapService::Get().Queue(t);
  SnmpMgrTrapSource source;
  ASSERT_TRUE(source.GetData());
  ASSERT_EQ(source.Pending().size(), 1u);
  // Sub-identifiers print signed, addresses at most four octets; 0xA9 does not print in the C locale.
  EXPECT_EQ(Text(*source.Pending()[0]), L"a\0b\u00e9 .1.3.6.1.4.1.9 10.0  6 17 123456\n"
                                        L".1.3.6.0.-1|UNSIGNED32|4294967295\n.1.3.6.1.-1|OCTET STRING|<A9>\n"
                                        L".1.3.6.2.-1|IPADDRESS|192.168.1.5\n.1.3.6.3.-1||\n.1.3.6.4.-1||\n"
                                        L"|OCTET STRING|"s);
  EXPECT_FALSE(source.GetData()) << "no trap waiting";
  EXPECT_TRUE(source.Pending().empty());
}

// Octets not marked dynamic belong to the service: read, never freed.
TEST(Source, OctetsTheServiceOwnsAreLeftAlone) {
  SimTrapService::Get().Queue({.community = "keepme", .service_owns_octets = true});
  SnmpMgrTrapSource source;
  ASSERT_TRUE(source.GetData());
  EXPECT_EQ(Text(*source.Pending()[0]), L"keepme  10.0.0.1 192.168.1.5 6 1 0");
  std::vector<void*> blocks = SimTrapService::Get().TakeServiceBlocks();
  ASSERT_EQ(blocks.size(), 3u);
  for (void* block : blocks) EXPECT_TRUE(::HeapValidate(::GetProcessHeap(), 0, block));
  EXPECT_EQ(std::memcmp(blocks[2], "keepme", 6), 0);
  for (void* block : blocks) ::SnmpUtilMemFree(block);
}

// The text fields the traps of a row differ in; none: both numbers.
constexpr auto kCommunity = &TrapRecord::Community, kAgent = &TrapRecord::AgentAddress,
               kIdentification = &TrapRecord::Identification, kTransport = &TrapRecord::TransportAddress;
using Settings = std::vector<std::pair<const wchar_t*, const wchar_t*>>;  // SetFilter calls in order
using Traps = std::vector<std::pair<const wchar_t*, bool>>;               // the field's text, passes

TEST(SnmpFilter, SettingsAndVerdicts) {
  const std::pair<const wchar_t*, const wchar_t*> community{L"COMMUNITY", L"public"};
  const std::tuple<Settings, std::wstring TrapRecord::*, Traps> rows[] = {
      {{community}, kCommunity, {{L"public", true}, {L"PUBLIC", true}, {L"publ", false}, {L"", false}}},
      {{community, {L"CASE SENSITIVE", L"false"}}, kCommunity, {{L"PUBLIC", false}, {L"public", true}}},
      {{{L"AGENT ADDRESS", L":10.0.0.1"}}, kAgent, {{L"10.0.0.1", false}, {L"10.0.0.11", true}}},
      {{{L"GENERIC", L"6"}}, nullptr, {{L"6", true}, {L"0", false}}},
      {{{L"SPECIFIC", L"1,2:2"}}, nullptr, {{L"1", true}, {L"2", false}, {L"3", false}}},
      {{{L"IDENTIFICATION", L".1.3.6.1.4.1.9"}}, kIdentification, {{L".1.3.6.1.4.1.9", true}, {L".1.3.6.1.4.1.9.1", false}}},
      {{{L"TRANSPORT ADDRESS", L"192.168.1.5,192.168.1.6"}}, kTransport, {{L"192.168.1.5", true}, {L"192.168.1.7", false}}},
      // Blanks belong to the items.
      {{{L"COMMUNITY", L"public, private"}}, kCommunity, {{L"private", false}, {L" private", true}}},
      {{{L"DELIMITER", L";x"}, {L"COMMUNITY", L"a;b"}}, kCommunity, {{L"b", true}, {L"a;b", false}}},
      // The separator splits at its first occurrence; the colon is text then.
      {{{L"SEPERATOR", L"|"}, {L"COMMUNITY", L"|a|b:c"}}, kCommunity, {{L"a", true}, {L"a|b:c", false}}},
      // Every include list must match.
      {{community, {L"AGENT ADDRESS", L"10.0.0.1"}}, kAgent, {{L"10.0.0.1", true}, {L"10.0.0.2", false}}},
      // A new value replaces the exclude list too.
      {{{L"COMMUNITY", L"public:private"}, {L"COMMUNITY", L"public,private"}}, kCommunity, {{L"private", true}}},
      {{community, {L"COMMUNITY", L""}}, kCommunity, {{L"other", false}}},  // an empty value leaves the lists
      {{community, {L"COMMUNITY", L":"}}, kCommunity, {{L"other", true}}},  // the separator alone empties them
  };
  for (const auto& [settings, field, traps] : rows) {
    SCOPED_TRACE(testing::Message() << "row ending " << settings.back().first << "=" << settings.back().second);
    CSnmpEventSinkFilter f;
    for (auto [key, value] : settings) EXPECT_EQ(f.SetFilter(key, value), 0) << key << "=" << value;
    for (auto [text, passes] : traps) {
      TrapRecord r;  // rows that filter two fields vary the second
      r.Community = L"public";
      if (field) r.*field = text;
      else r.Generic = r.Specific = _wtoi(text);
      EXPECT_EQ(!f.Filter(r), passes) << "trap " << text;
    }
  }
  // Other keys (SEPARATOR too) change nothing; an empty value is accepted before the key is looked at.
  CSnmpEventSinkFilter f;
  for (const wchar_t* key : {L"community", L"COMMUNITY ", L"SEPARATOR"}) EXPECT_EQ(f.SetFilter(key, L"x"), 1) << key;
  EXPECT_EQ(f.SetFilter(L"NO SUCH KEY", L""), 0);
  EXPECT_FALSE(f.Filter(TrapRecord{}));
}

}  // namespace
