// The trap source on the (simulated) SNMP Management API: a trap becomes a
// record with the texts of its bindings. Then the filter keys and verdicts.
#include <gtest/gtest.h>

#include <cctype>
#include <clocale>
#include <cstring>

#include "snmp/trap_filter.h"
#include "snmp/trap_source.h"
#include "snmp/varbind.h"
#include "tests/win/snmp/sim_trap_service.h"

using namespace brisel;
using namespace brisel::test;

namespace {

SimBinding Of(BYTE type, std::vector<BYTE> octets = {}) { return {{}, type, 4294967295u, std::move(octets)}; }

std::wstring Fields(const TrapRecord& r) {
  return r.Community + L" " + r.Identification + L" " + r.AgentAddress + L" " + r.TransportAddress + L" " +
         std::to_wstring(r.Generic) + L" " + std::to_wstring(r.Specific) + L" " + std::to_wstring(r.TimeStamp);
}

// The texts of the types only the trap service hands out, of octets in the
// code page and of short or long addresses; the common ones are left to the
// end-to-end script.
TEST(Source, OneRecordPerTrapWithTheTextsOfEveryBinding) {
  // The module runs in the system ANSI code page (1252 under Wine), where
  // 0xA9 and 0xFF are printable; the euro sign 0x80 is never made U+20AC.
  std::setlocale(LC_ALL, ".ACP");
  const std::tuple<SimBinding, const wchar_t*, const wchar_t*> rows[] = {
      {Of(ASN_UINTEGER32), L"UNSIGNED32", L"4294967295"},
      {Of(ASN_OCTETSTRING), L"OCTET STRING", L""},
      {Of(ASN_OCTETSTRING, {0xA9, 0x81, 0xFF, 0x00, 0x0A}), L"OCTET STRING", L"\u00a9<81>\u00ff<0><A>"},
      {Of(ASN_OCTETSTRING, {0x80}), L"OCTET STRING", std::isprint(0x80) ? L"\u0080" : L"<80>"},
      {Of(ASN_IPADDRESS, {192, 168, 1, 5, 9}), L"IPADDRESS", L"192.168.1.5"},  // only four octets
      {Of(ASN_OPAQUE, {1, 2}), L"", L""},
      {Of(0x99), L"", L""},
  };
  SimTrapService& sim = SimTrapService::Get();
  SimTrap t;
  t.enterprise = {1, 3, 6, 1, 4, 1, 9};
  t.specific = 17;
  t.time_stamp = 123456;
  for (const auto& row : rows) t.bindings.push_back(std::get<0>(row));
  for (UINT i = 0; i < t.bindings.size(); ++i) t.bindings[i].name = {1, 3, 6, i, 4294967295u};
  SimTrap second;
  second.agent = {10, 0};  // addresses are never read past their length
  second.source = {};
  second.community = std::string("a\0b\xE9", 4);  // octets are characters of the same code
  second.bindings = {Of(ASN_OCTETSTRING, {0xA9})};
  sim.Queue(t);
  sim.Queue(second);
  SnmpMgrTrapSource source;
  ASSERT_TRUE(source.GetData());
  ASSERT_EQ(source.Pending().size(), 1u);
  const TrapRecord& r = *source.Pending()[0];
  EXPECT_EQ(Fields(r), L"public .1.3.6.1.4.1.9 10.0.0.1 192.168.1.5 6 17 123456");
  ASSERT_EQ(r.Varbinds.size(), std::size(rows));
  for (size_t i = 0; i < std::size(rows); ++i) {
    const VarbindRecord& vb = *r.Varbinds[i];
    // Sub-identifiers print as signed 32-bit numbers.
    EXPECT_EQ(vb.ObjectIdentifier, L".1.3.6." + std::to_wstring(i) + L".-1");
    EXPECT_EQ(vb.Encoding + L"|" + vb.Value, std::get<1>(rows[i]) + std::wstring(L"|") + std::get<2>(rows[i]))
        << "binding " << i;
  }
  std::setlocale(LC_ALL, "C");
  ASSERT_TRUE(source.GetData());
  ASSERT_EQ(source.Pending().size(), 1u) << "the earlier trap is dropped";
  const TrapRecord& s = *source.Pending()[0];
  EXPECT_EQ(Fields(s), std::wstring(L"a\0b\u00e9  10.0  6 1 0", 17));
  ASSERT_EQ(s.Varbinds.size(), 1u);
  EXPECT_EQ(s.Varbinds[0]->ObjectIdentifier, L"") << "an empty identifier";
  EXPECT_EQ(s.Varbinds[0]->Value, L"<A9>") << "not printable in the C locale";
  EXPECT_FALSE(source.GetData()) << "no trap waiting";
  EXPECT_TRUE(source.Pending().empty());
  EXPECT_EQ(AddressText(AsnOctetString{nullptr, 4, FALSE}), L"") << "a length without octets";
}

// Octets not marked dynamic belong to the service: read, never freed.
TEST(Source, OctetsTheServiceOwnsAreLeftAlone) {
  SimTrap t;
  t.community = "keepme";
  t.service_owns_octets = true;
  SimTrapService::Get().Queue(t);
  SnmpMgrTrapSource source;
  ASSERT_TRUE(source.GetData());
  EXPECT_EQ(Fields(*source.Pending()[0]), L"keepme  10.0.0.1 192.168.1.5 6 1 0");
  std::vector<void*> blocks = SimTrapService::Get().TakeServiceBlocks();
  ASSERT_EQ(blocks.size(), 3u);
  for (void* block : blocks) EXPECT_TRUE(::HeapValidate(::GetProcessHeap(), 0, block));
  EXPECT_EQ(std::memcmp(blocks[2], "keepme", 6), 0);
  for (void* block : blocks) ::SnmpUtilMemFree(block);
}

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
      {{{L"TRANSPORT ADDRESS", L"192.168.1.5,192.168.1.6"}}, kTransport, {{L"192.168.1.5", true}, {L"192.168.1.7", false}}},
      // Blanks belong to the items.
      {{{L"COMMUNITY", L"public, private"}}, kCommunity, {{L"public", true}, {L"private", false}, {L" private", true}}},
      {{{L"DELIMITER", L";x"}, {L"COMMUNITY", L"a;b"}}, kCommunity, {{L"a", true}, {L"b", true}, {L"a;b", false}}},
      // The separator splits at its first occurrence; the colon is text then.
      {{{L"SEPERATOR", L"|"}, {L"COMMUNITY", L"|a|b"}}, kCommunity, {{L"a", true}, {L"a|b", false}, {L"b", true}}},
      {{{L"SEPERATOR", L"|"}, {L"AGENT ADDRESS", L"x:y"}}, kAgent, {{L"x:y", true}}},
      // Every include list must match.
      {{community, {L"AGENT ADDRESS", L"10.0.0.1"}}, kAgent, {{L"10.0.0.1", true}, {L"10.0.0.2", false}}},
      // A new value replaces the exclude list too.
      {{{L"COMMUNITY", L"public:private"}, {L"COMMUNITY", L"public,private"}}, kCommunity, {{L"private", true}}},
      {{community, {L"COMMUNITY", L""}}, kCommunity, {{L"other", false}}},  // an empty value leaves the lists
      {{community, {L"COMMUNITY", L":"}}, kCommunity, {{L"other", true}}},  // the separator alone empties them
      // Keys are exact upper-case words (SEPARATOR too); others change
      // nothing. An empty value is accepted before the key is looked at.
      {{{L"community", L"public", 1}, {L"COMMUNITY ", L"public", 1}, {L"SEPARATOR", L"|", 1}, {L"NO SUCH KEY", L""}},
       kCommunity, {{L"private", true}}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << "row " << (&row - rows));
    CSnmpEventSinkFilter f;
    for (const Setting& s : row.settings) EXPECT_EQ(f.SetFilter(s.key, s.value), s.result) << s.key << "=" << s.value;
    for (auto [text, passes] : row.traps) {
      TrapRecord r;  // rows that filter two fields vary the second
      r.Community = L"public";
      r.Generic = 6;
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
