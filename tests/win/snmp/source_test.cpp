// The trap source on the (simulated) SNMP Management API: a trap becomes a
// record with the texts of its bindings, and everything the API handed out
// is freed, and nothing else.
#include <gtest/gtest.h>

#include <cctype>
#include <clocale>
#include <cstring>

#include "snmp/trap_source.h"
#include "snmp/varbind.h"
#include "tests/win/snmp/sim_trap_service.h"

using namespace brisel;
using namespace brisel::test;

namespace {

SimBinding Of(BYTE type, ULONGLONG number = 0, std::vector<BYTE> octets = {}) {
  SimBinding b = Binding({}, type);
  b.number = static_cast<LONG>(number);
  b.unsigned32 = static_cast<ULONG>(number);
  b.counter64 = number;
  b.octets = std::move(octets);
  return b;
}

class Source : public ::testing::Test {
 protected:
  void SetUp() override {
    sim_.Clear();
    sim_.FailListen(0);
  }
  SimTrapService& sim_ = SimTrapService::Get();
  SnmpMgrTrapSource source_;
};

TEST_F(Source, OneRecordPerTrapWithTheTextsOfEveryBinding) {
  // The module runs in the system ANSI code page (1252 under Wine), where
  // 0xA9 and 0xFF are printable; the euro sign 0x80 is never made U+20AC.
  std::setlocale(LC_ALL, ".ACP");
  SimBinding oid = Of(ASN_OBJECTIDENTIFIER);
  oid.oid = {1, 3, 6, 1, 4, 1, 9};
  const std::tuple<SimBinding, const wchar_t*, const wchar_t*> rows[] = {
      {Of(ASN_INTEGER, static_cast<ULONGLONG>(-5)), L"INTEGER", L"-5"},
      {Of(ASN_UINTEGER32, 4294967295u), L"UNSIGNED32", L"4294967295"},
      {Of(ASN_TIMETICKS, 42), L"TIMETICKS", L"42"},
      {Of(ASN_COUNTER64, 1ull << 32), L"", L"4294967296"},
      {Of(ASN_COUNTER64, ~0ull), L"", L"18446744073709551615"},
      {oid, L"OBJECTIDENTIFIER", L".1.3.6.1.4.1.9"},
      {Of(ASN_OCTETSTRING, 0, {'u', 'p', 0x0A, 0x7F, 0x20}), L"OCTET STRING", L"up<A><7F> "},
      {Of(ASN_OCTETSTRING), L"OCTET STRING", L""},
      {Of(ASN_OCTETSTRING, 0, {0xA9, 0x81, 0xFF, 0x00}), L"OCTET STRING", L"\u00a9<81>\u00ff<0>"},
      {Of(ASN_OCTETSTRING, 0, {0x80}), L"OCTET STRING", std::isprint(0x80) ? L"\u0080" : L"<80>"},
      {Of(ASN_IPADDRESS, 0, {192, 168, 1, 5, 9}), L"IPADDRESS", L"192.168.1.5"},  // only four octets
      {Of(ASN_IPADDRESS, 0, {10, 0}), L"IPADDRESS", L"10.0"},
      {Of(ASN_IPADDRESS), L"IPADDRESS", L""},
      {Of(ASN_BITS, 0, {1, 2}), L"", L""}, {Of(ASN_SEQUENCE, 0, {1, 2}), L"", L""}, {Of(ASN_OPAQUE, 0, {1, 2}), L"", L""},
      {Of(ASN_NULL), L"", L""}, {Of(SNMP_EXCEPTION_NOSUCHOBJECT), L"", L""},
      {Of(SNMP_EXCEPTION_NOSUCHINSTANCE), L"", L""}, {Of(SNMP_EXCEPTION_ENDOFMIBVIEW), L"", L""}, {Of(0x99), L"", L""},
  };
  SimTrap t;
  t.enterprise = {1, 3, 6, 1, 4, 1, 9};
  t.specific = 17;
  t.time_stamp = 123456;
  for (const auto& row : rows) t.bindings.push_back(std::get<0>(row));
  for (UINT i = 0; i < t.bindings.size(); ++i) t.bindings[i].name = {1, 3, 6, i, 4294967295u};
  SimTrap second;
  second.agent = {10, 0};  // short addresses are never read past their length
  second.source = {};
  second.community = std::string("a\0b\xE9", 4);  // octets are characters of the same code
  second.bindings = {Of(ASN_OCTETSTRING, 0, {0xA9})};
  sim_.Queue(t);
  sim_.Queue(second);
  ASSERT_TRUE(source_.GetData());
  ASSERT_EQ(source_.Pending().size(), 1u);
  const TrapRecord& r = *source_.Pending()[0];
  EXPECT_EQ(r.Identification, L".1.3.6.1.4.1.9");
  EXPECT_EQ(r.AgentAddress, L"10.0.0.1");
  EXPECT_EQ(r.TransportAddress, L"192.168.1.5");
  EXPECT_EQ(r.Community, L"public");
  EXPECT_EQ(r.Generic, 6);
  EXPECT_EQ(r.Specific, 17);
  EXPECT_EQ(r.TimeStamp, 123456u);
  ASSERT_EQ(r.Varbinds.size(), std::size(rows));
  for (size_t i = 0; i < std::size(rows); ++i) {
    const VarbindRecord& vb = *r.Varbinds[i];
    // Sub-identifiers print as signed 32-bit numbers.
    EXPECT_EQ(vb.ObjectIdentifier, L".1.3.6." + std::to_wstring(i) + L".-1");
    EXPECT_EQ(vb.Encoding, std::get<1>(rows[i])) << "binding " << i;
    EXPECT_EQ(vb.Value, std::get<2>(rows[i])) << "binding " << i;
  }
  std::setlocale(LC_ALL, "C");
  ASSERT_TRUE(source_.GetData());
  ASSERT_EQ(source_.Pending().size(), 1u) << "the earlier trap is dropped";
  const TrapRecord& s = *source_.Pending()[0];
  EXPECT_EQ(s.Community, std::wstring(L"a\0b\u00e9", 4));
  EXPECT_EQ(s.Identification, L"");
  EXPECT_EQ(s.AgentAddress, L"10.0");
  EXPECT_EQ(s.TransportAddress, L"");
  ASSERT_EQ(s.Varbinds.size(), 1u);
  EXPECT_EQ(s.Varbinds[0]->ObjectIdentifier, L"") << "an empty identifier";
  EXPECT_EQ(s.Varbinds[0]->Value, L"<A9>") << "not printable in the C locale";
  EXPECT_FALSE(source_.GetData()) << "no trap waiting";
  EXPECT_TRUE(source_.Pending().empty());
  EXPECT_EQ(AddressText(AsnOctetString{nullptr, 4, FALSE}), L"") << "a length without octets";
}

// Bytes in use on the process heap, where the SNMP allocator takes its memory.
size_t BusyBytes() {
  HANDLE heap = ::GetProcessHeap();
  size_t total = 0;
  PROCESS_HEAP_ENTRY e{};
  ::HeapLock(heap);
  while (::HeapWalk(heap, &e)) total += (e.wFlags & PROCESS_HEAP_ENTRY_BUSY) ? e.cbData : 0;
  ::HeapUnlock(heap);
  return total;
}

TEST_F(Source, EverythingTheApiHandedOutIsFreedAndNothingElse) {
  void* probe = ::SnmpUtilMemAlloc(64);
  ASSERT_EQ(::HeapSize(::GetProcessHeap(), 0, probe), 64u) << "the allocator is the process heap";
  ::SnmpUtilMemFree(probe);
  SimTrap t;
  t.enterprise = {1, 3, 6, 1, 4, 1, 9};
  SimBinding big = Of(ASN_OCTETSTRING, 0, std::vector<BYTE>(400, 'x')), oid = Of(ASN_OBJECTIDENTIFIER);
  big.name = std::vector<UINT>(40, 7);
  oid.oid = std::vector<UINT>(30, 9);
  t.bindings = {big, big, big, big, Of(ASN_IPADDRESS, 0, {1, 2, 3, 4}), Of(ASN_SEQUENCE, 0, {1}), oid};
  t.community = std::string(200, 'c');
  // Warm up, so that lasting allocations of the first call do not count.
  for (int i = 0; i < 20; ++i) sim_.Queue(t);
  while (source_.GetData()) {
  }
  size_t before = BusyBytes();
  for (int i = 0; i < 400; ++i) {  // about 2.5 KB handed out each
    sim_.Queue(t);
    ASSERT_TRUE(source_.GetData());
  }
  size_t after = BusyBytes();
  EXPECT_LT(after, before + 64 * 1024) << "grew by " << (after - before) << " bytes";
  // Octets not marked dynamic belong to the service.
  t.static_octets = true;
  t.community = "keepme";
  sim_.static_blocks.clear();
  sim_.Queue(t);
  ASSERT_TRUE(source_.GetData());
  EXPECT_EQ(source_.Pending()[0]->Community, L"keepme");
  ASSERT_EQ(sim_.static_blocks.size(), 3u);
  for (void* block : sim_.static_blocks) EXPECT_TRUE(::HeapValidate(::GetProcessHeap(), 0, block));
  EXPECT_EQ(std::memcmp(sim_.static_blocks[2], "keepme", 6), 0);
  for (void* block : sim_.static_blocks) ::SnmpUtilMemFree(block);
  sim_.static_blocks.clear();
}

TEST_F(Source, ExecListensOrKeepsTheReason) {
  EXPECT_FALSE(source_.Wait(0)) << "no event before Exec";
  sim_.FailListen(120);
  SnmpMgrTrapSource failed;
  EXPECT_FALSE(failed.Exec());
  EXPECT_EQ(failed.ErrorCode(), 120);
  EXPECT_EQ(failed.ErrorMessage(), L"120\n");
  EXPECT_FALSE(failed.Wait(0));
  sim_.FailListen(0);
  ASSERT_TRUE(source_.Exec());
  sim_.Queue(SimTrap{});
  ASSERT_TRUE(source_.Wait(10000));
  EXPECT_TRUE(source_.GetData());
}

}  // namespace
