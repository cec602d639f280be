// SnmpEvents as scripts drive it through IDispatch, in this process, with the
// simulated trap service behind the module's API table.
#include <gtest/gtest.h>

#include <barrier>
#include <thread>

#include "snmp/snmp_objects.h"
#include "snmp/trap_source.h"
#include "tests/harness/dispatch.h"
#include "tests/win/snmp/sim_trap_service.h"

using namespace brisel;
using namespace brisel::test;

namespace {

SimTrap TrapFrom(const char* community, LONG specific = 1) {
  SimTrap t;
  t.community = community;
  t.specific = specific;
  return t;
}

bool Signalled(long handle, DWORD ms = 10000) {
  return ::WaitForSingleObject(reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(handle)), ms) == WAIT_OBJECT_0;
}

Dispatch NewSnmpEvents() {
  ComPtr<IDispatch> d;
  EXPECT_EQ(brisel::SnmpEvents::CreateInstance(nullptr, IID_IDispatch, d.PutVoid()), S_OK);
  return Dispatch(d);
}

long SetFilter(const Dispatch& d, const wchar_t* name, const wchar_t* value) {
  Variant error_text;
  CallResult r = d.Call(L"SetFilter", {name, value, Arg::Out(&error_text)});
  EXPECT_EQ(AsText(error_text), L"");
  return AsLong(r.value);
}

void ResetEvent(const Dispatch& d) {
  Variant error_text;
  CallResult r = d.Call(L"ResetEvent", {Arg::Out(&error_text)});
  EXPECT_EQ(AsLong(r.value), 0);
  EXPECT_EQ(error_text.Type(), VT_BSTR);
  EXPECT_EQ(AsText(error_text), L"");
}

// The community of the trap held, or "" when the collection is empty.
std::wstring HeldCommunity(const Dispatch& d) {
  if (d.Long(L"Count") == 0) return L"";
  return Dispatch::From(d.Get(L"Item", {1L}).value).Text(L"Community");
}

class SnmpEventsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(com_.Result()));
    UniqueRegKey key;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, SnmpEventSink::kTrapServiceKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                                nullptr, key.Put(), nullptr),
              ERROR_SUCCESS);
    sim_.Clear();
    sim_.FailListen(0);
    TrapDispatcher::Instance()->SetAckIntervals(50, 50);
  }
  void TearDown() override { ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, SnmpEventSink::kTrapServiceKey); }

  ComScope com_;
  SimTrapService& sim_ = SimTrapService::Get();
};

TEST_F(SnmpEventsTest, ConcurrentFirstReadsStartOneWorker) {
  std::vector<std::thread> threads;
  std::barrier go(8);
  std::atomic<int> handles{0};
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      ComScope com;
      Dispatch d = NewSnmpEvents();
      go.arrive_and_wait();
      if (d.Long(L"Event") > 0) ++handles;
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(handles.load(), 8);
  EXPECT_NE(TrapWorkerThreadId(), 0u);
  // Once a trap has come through, any second worker would have listened too.
  Dispatch d = NewSnmpEvents();
  long h = d.Long(L"Event");
  sim_.Queue(TrapFrom("public"));
  ASSERT_TRUE(Signalled(h));
  ResetEvent(d);
  EXPECT_EQ(sim_.listen_calls.load(), 1);
}

TEST_F(SnmpEventsTest, ScriptsOnSeveralThreadsEachSeeEveryTrapThroughTheirOwnFilter) {
  constexpr int kThreads = 4, kTraps = 12;
  const char* const communities[] = {"alpha", "beta", "gamma"};
  std::barrier ready(kThreads + 1);
  std::vector<std::vector<std::wstring>> seen(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      ComScope com;
      Dispatch d = NewSnmpEvents();
      // Thread 0 takes everything; the others one community, all but one, odd numbers.
      if (t == 1) SetFilter(d, L"COMMUNITY", L"ALPHA");
      if (t == 2) SetFilter(d, L"COMMUNITY", L":beta");
      if (t == 3) SetFilter(d, L"SPECIFIC", L"1,3,5,7,9,11");
      long h = d.Long(L"Event");
      ready.arrive_and_wait();
      for (int i = 0; i < kTraps && Signalled(h); ++i) {
        std::wstring c = HeldCommunity(d);
        if (!c.empty()) c += L"/" + std::to_wstring(Dispatch::From(d.Get(L"Item", {1L}).value).Long(L"Specific"));
        seen[t].push_back(c);
        ResetEvent(d);
      }
    });
  }
  ready.arrive_and_wait();
  for (int i = 0; i < kTraps; ++i) sim_.Queue(TrapFrom(communities[i % 3], i));
  for (auto& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_EQ(seen[t].size(), size_t(kTraps)) << "thread " << t;
    for (int i = 0; i < kTraps; ++i) {
      std::string c = communities[i % 3];
      bool passes = t == 0 || (t == 1 && c == "alpha") || (t == 2 && c != "beta") || (t == 3 && i % 2);
      std::wstring expected = passes ? std::wstring(c.begin(), c.end()) + L"/" + std::to_wstring(i) : L"";
      EXPECT_EQ(seen[t][i], expected) << "thread " << t << " trap " << i;
    }
  }
}

TEST_F(SnmpEventsTest, The65thWatcherGetsMinusOneAndNoTraps) {
  std::vector<Dispatch> watchers;
  for (int i = 0; i < 64; ++i) {
    watchers.push_back(NewSnmpEvents());
    ASSERT_GT(watchers.back().Long(L"Event"), 0) << i;
  }
  Dispatch extra = NewSnmpEvents();
  EXPECT_EQ(extra.Long(L"Event"), -1);
  EXPECT_EQ(SetFilter(extra, L"COMMUNITY", L"x"), 0) << "filters work as normal";
  ResetEvent(extra);
  EXPECT_GT(watchers[5].Long(L"Event"), 0) << "a registered one reading again stays registered";
  watchers.pop_back();
  EXPECT_GT(extra.Long(L"Event"), 0) << "room again after one left";
}

TEST_F(SnmpEventsTest, IdentifierConversions) {
  Dispatch d = NewSnmpEvents();
  const std::tuple<const wchar_t*, const wchar_t*, long, const wchar_t*> rows[] = {
      {L"SnmpMgrStrToOid", L"sysUpTime.0", 1, L".1.3.6.1.2.1.1.3.0"},
      {L"SnmpMgrStrToOid", L".1.3.6.1.4.1.9", 1, L".1.3.6.1.4.1.9"},
      {L"SnmpMgrStrToOid", L"\u0131.3", 1, L".1.3"},  // each character cut to its low 8 bits
      {L"SnmpMgrStrToOid", L"no such name", 0, L""},
      {L"TVSnmpMgrOidToStr", L"1.3.6.1.2.1.1.3.0", 1, L"sysUpTime.0"},
      {L"TVSnmpMgrOidToStr", L"not an identifier", 0, L""},
      {L"TVSnmpMgrOidToStr", L"2.5.4", 0, L""},  // an identifier without a name
  };
  for (auto [method, in, rc, out] : rows) {
    Variant text;
    CallResult r = d.Call(method, {in, Arg::Out(&text)});
    ASSERT_EQ(r.hr, S_OK) << method << " " << in;
    EXPECT_EQ(AsLong(r.value), rc) << method << " " << in;
    EXPECT_EQ(text.Type(), VT_BSTR) << method << " " << in;
    EXPECT_EQ(AsText(text), out) << method << " " << in;
  }
}

TEST_F(SnmpEventsTest, NullPointers) {
  ComPtr<ISnmpEvents> itf;
  ASSERT_EQ(NewSnmpEvents().Get()->QueryInterface(IID_ISnmpEvents, itf.PutVoid()), S_OK);
  EXPECT_EQ(itf->get_Event(nullptr), E_POINTER);
  EXPECT_EQ(itf->GetEvent(nullptr), E_POINTER);
  EXPECT_EQ(itf->SetFilter(nullptr, nullptr, nullptr, nullptr), E_POINTER);
  EXPECT_EQ(itf->ResetEvent(nullptr, nullptr), E_POINTER);
  EXPECT_EQ(itf->get_Count(nullptr), E_POINTER);
  Bstr text(L"1.3.6");
  EXPECT_EQ(itf->SnmpMgrStrToOid(text.Get(), nullptr, nullptr), E_POINTER);
  LONG rc = -1;
  EXPECT_EQ(itf->SnmpMgrStrToOid(text.Get(), nullptr, &rc), S_OK) << "a null oid receives nothing";
  EXPECT_EQ(rc, 1);
  rc = -1;
  EXPECT_EQ(itf->SetFilter(nullptr, nullptr, nullptr, &rc), S_OK) << "null texts are empty";
  EXPECT_EQ(rc, 0);
}

}  // namespace
