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
  t.specific = 17;
  t.time_stamp = 123456;
  SimBinding text = Binding({1, 3, 6, 1, 2, 1, 1, 1, 0}, ASN_OCTETSTRING);
  text.octets = {'u', 'p', 0x0A};
  SimBinding number = Binding({1, 3, 6, 1, 2, 1, 1, 3, 0}, ASN_TIMETICKS);
  number.unsigned32 = 42;
  t.bindings = {text, number};
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

TEST_F(Source, OneRecordPerTrapUntilNoneIsLeft) {
  SimTrap second = Sample();
  second.bindings.clear();
  second.enterprise.clear();
  second.agent = {10, 0};  // short addresses are never read past their length
  second.source = {};
  second.community = std::string("a\0b\xE9", 4);  // octets are characters of the same code
  sim_.Queue(Sample());
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
  ASSERT_EQ(r.Varbinds.size(), 2u);
  EXPECT_EQ(r.Varbinds[0]->ObjectIdentifier, L".1.3.6.1.2.1.1.1.0");
  EXPECT_EQ(r.Varbinds[0]->Encoding, L"OCTET STRING");
  EXPECT_EQ(r.Varbinds[0]->Value, L"up<A>");
  EXPECT_EQ(r.Varbinds[1]->Value, L"42");
  ASSERT_TRUE(source_.GetData());
  ASSERT_EQ(source_.Pending().size(), 1u) << "the earlier trap is dropped";
  const TrapRecord& s = *source_.Pending()[0];
  EXPECT_EQ(s.Community, std::wstring(L"a\0b\u00e9", 4));
  EXPECT_TRUE(s.Varbinds.empty());
  EXPECT_EQ(s.Identification, L"");
  EXPECT_EQ(s.AgentAddress, L"10.0");
  EXPECT_EQ(s.TransportAddress, L"");
  EXPECT_FALSE(source_.GetData()) << "no trap waiting";
  EXPECT_TRUE(source_.Pending().empty());
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
  ASSERT_EQ(::HeapSize(::GetProcessHeap(), 0, probe), 64u) << "the allocator is the process heap";
  ::SnmpUtilMemFree(probe);
  SimTrap t = Sample();
  SimBinding big = Binding(std::vector<UINT>(40, 7), ASN_OCTETSTRING);
  big.octets = std::vector<BYTE>(400, 'x');
  SimBinding ip = Binding({1, 2}, ASN_IPADDRESS);
  ip.octets = {1, 2, 3, 4};
  SimBinding oid = Binding({1, 3}, ASN_OBJECTIDENTIFIER);
  oid.oid = std::vector<UINT>(30, 9);
  t.bindings.insert(t.bindings.end(), {big, big, big, big, ip, oid});
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
  sim_.Queue(Sample());
  ASSERT_TRUE(source_.Wait(10000));
  EXPECT_TRUE(source_.GetData());
}

}  // namespace
