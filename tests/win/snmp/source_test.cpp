// The trap source on the (simulated) SNMP Management API: a trap becomes a
// record, and everything the API handed out is freed, and nothing else.
#include <gtest/gtest.h>

#include <cstring>

#include "snmp/trap_source.h"
#include "tests/win/snmp/sim_trap_service.h"

using namespace brisel;
using namespace brisel::test;

namespace {

SimTrap Sample() {
  SimTrap t;
  t.enterprise = {1, 3, 6, 1, 4, 1, 9};
  t.agent = {10, 0, 0, 1};
  t.source = {192, 168, 1, 5};
  t.generic = 6;
  t.specific = 17;
  t.community = "public";
  t.time_stamp = 123456;
  SimBinding text;
  text.name = {1, 3, 6, 1, 2, 1, 1, 1, 0};
  text.type = ASN_OCTETSTRING;
  text.octets = {'u', 'p', 0x0A};
  SimBinding number;
  number.name = {1, 3, 6, 1, 2, 1, 1, 3, 0};
  number.type = ASN_TIMETICKS;
  number.unsigned32 = 42;
  SimBinding oid;
  oid.name = {1, 3, 6, 1, 6, 3, 1, 1, 4, 1, 0};
  oid.type = ASN_OBJECTIDENTIFIER;
  oid.oid = {1, 3, 6, 1, 4, 1, 9, 0, 1};
  t.bindings = {text, number, oid};
  return t;
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

TEST_F(Source, ATrapBecomesOneRecord) {
  sim_.Queue(Sample());
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
  ASSERT_EQ(r.Varbinds.size(), 3u);
  EXPECT_EQ(r.Varbinds[0]->ObjectIdentifier, L".1.3.6.1.2.1.1.1.0");
  EXPECT_EQ(r.Varbinds[0]->Encoding, L"OCTET STRING");
  EXPECT_EQ(r.Varbinds[0]->Value, L"up<A>");
  EXPECT_EQ(r.Varbinds[1]->Value, L"42");
  EXPECT_EQ(r.Varbinds[2]->Encoding, L"OBJECTIDENTIFIER");
  EXPECT_EQ(r.Varbinds[2]->Value, L".1.3.6.1.4.1.9.0.1");
}

TEST_F(Source, OneTrapPerCallUntilNoneIsLeft) {
  SimTrap second = Sample();
  second.bindings.clear();
  second.community = "private";
  second.enterprise.clear();
  sim_.Queue(Sample());
  sim_.Queue(second);
  ASSERT_TRUE(source_.GetData());
  EXPECT_EQ(source_.Pending()[0]->Community, L"public");
  ASSERT_TRUE(source_.GetData());
  ASSERT_EQ(source_.Pending().size(), 1u) << "the earlier trap is dropped";
  EXPECT_EQ(source_.Pending()[0]->Community, L"private");
  EXPECT_TRUE(source_.Pending()[0]->Varbinds.empty());
  EXPECT_EQ(source_.Pending()[0]->Identification, L"");
  EXPECT_FALSE(source_.GetData()) << "no trap waiting";
  EXPECT_TRUE(source_.Pending().empty());
}

TEST_F(Source, ShortAddressesAreNeverReadPastTheirLength) {
  SimTrap t = Sample();
  t.agent = {10, 0};
  t.source = {};
  sim_.Queue(t);
  ASSERT_TRUE(source_.GetData());
  EXPECT_EQ(source_.Pending()[0]->AgentAddress, L"10.0");
  EXPECT_EQ(source_.Pending()[0]->TransportAddress, L"");
}

TEST_F(Source, CommunityOctetsAreCharactersOfTheSameCode) {
  SimTrap t = Sample();
  t.community = std::string("a\0b\xE9", 4);
  sim_.Queue(t);
  ASSERT_TRUE(source_.GetData());
  EXPECT_EQ(source_.Pending()[0]->Community, std::wstring(L"a\0b\u00e9", 4));
}

// Bytes in use on the process heap, where the SNMP allocator takes its memory.
size_t BusyBytes() {
  HANDLE heap = ::GetProcessHeap();
  size_t total = 0;
  PROCESS_HEAP_ENTRY e{};
  ::HeapLock(heap);
  while (::HeapWalk(heap, &e)) {
    if (e.wFlags & PROCESS_HEAP_ENTRY_BUSY) total += e.cbData;
  }
  ::HeapUnlock(heap);
  return total;
}

TEST_F(Source, EverythingTheApiHandedOutIsFreed) {
  void* probe = ::SnmpUtilMemAlloc(64);
  ASSERT_NE(probe, nullptr);
  ASSERT_EQ(::HeapSize(::GetProcessHeap(), 0, probe), 64u) << "the allocator is the process heap";
  ::SnmpUtilMemFree(probe);

  SimTrap t = Sample();
  SimBinding big;
  big.name = std::vector<UINT>(40, 7);
  big.type = ASN_OCTETSTRING;
  big.octets = std::vector<BYTE>(400, 'x');
  SimBinding ip;
  ip.name = {1, 2};
  ip.type = ASN_IPADDRESS;
  ip.octets = {1, 2, 3, 4};
  for (int i = 0; i < 4; ++i) t.bindings.push_back(big);
  t.bindings.push_back(ip);
  t.community = std::string(200, 'c');
  // Warm up, so that lasting allocations of the first call do not count.
  for (int i = 0; i < 20; ++i) sim_.Queue(t);
  while (source_.GetData()) {
  }
  size_t before = BusyBytes();
  const int kTraps = 400;  // about 2.5 KB handed out each
  for (int i = 0; i < kTraps; ++i) {
    sim_.Queue(t);
    ASSERT_TRUE(source_.GetData());
  }
  EXPECT_FALSE(source_.GetData());
  size_t after = BusyBytes();
  EXPECT_EQ(sim_.traps_handed_out.load() >= kTraps, true);
  EXPECT_LT(after, before + 64 * 1024) << "grew by " << (after - before) << " bytes";
}

TEST_F(Source, OctetsNotMarkedDynamicAreLeftToTheirOwner) {
  SimTrap t = Sample();
  t.static_octets = true;
  t.community = "keepme";
  sim_.static_blocks.clear();
  sim_.Queue(t);
  ASSERT_TRUE(source_.GetData());
  EXPECT_EQ(source_.Pending()[0]->Community, L"keepme");
  ASSERT_EQ(sim_.static_blocks.size(), 3u);
  for (void* block : sim_.static_blocks) {
    EXPECT_TRUE(::HeapValidate(::GetProcessHeap(), 0, block)) << "a block the module did not own was freed";
  }
  EXPECT_EQ(std::memcmp(sim_.static_blocks[2], "keepme", 6), 0);
  for (void* block : sim_.static_blocks) ::SnmpUtilMemFree(block);
  sim_.static_blocks.clear();
}

TEST_F(Source, ExecListensAndKeepsTheTrapAvailableEvent) {
  EXPECT_FALSE(source_.Wait(0)) << "no event before Exec";
  ASSERT_TRUE(source_.Exec());
  sim_.Queue(Sample());
  ASSERT_TRUE(source_.Wait(2000));
  EXPECT_TRUE(source_.GetData());
}

TEST_F(Source, ExecFailureKeepsTheReason) {
  sim_.FailListen(120);
  EXPECT_FALSE(source_.Exec());
  EXPECT_EQ(source_.ErrorCode(), 120);
  EXPECT_EQ(source_.ErrorMessage(), L"120\n");
  EXPECT_FALSE(source_.Wait(0));
  sim_.FailListen(0);
}

}  // namespace
