// SnmpEvents through IDispatch, as scripts use it, on the simulated trap service.
#include <gtest/gtest.h>

#include <thread>

#include "snmp/snmp_objects.h"
#include "snmp/trap_source.h"
#include "tests/harness/dispatch.h"
#include "tests/harness/rendezvous.h"
#include "tests/win/snmp/sim_trap_service.h"

using namespace brisel;
using namespace brisel::test;

namespace {

Dispatch NewSnmpEvents() {
  ComPtr<IDispatch> d;
  EXPECT_EQ(brisel::SnmpEvents::CreateInstance(nullptr, IID_IDispatch, d.PutVoid()), S_OK);
  return Dispatch(d);
}

// A call whose last argument is an [out] text: "result|text".
std::wstring WithText(const Dispatch& d, const wchar_t* method, const wchar_t* a = nullptr,
                      const wchar_t* b = nullptr) {
  Variant text;
  CallResult r = !a ? d.Call(method, {Arg::Out(&text)})
                 : !b ? d.Call(method, {a, Arg::Out(&text)})
                      : d.Call(method, {a, b, Arg::Out(&text)});
  EXPECT_EQ(text.Type(), VT_BSTR) << Narrow(method);
  return std::to_wstring(AsLong(r.value)) + L"|" + AsText(text);
}

class SnmpEventsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(com_.Result()));
    // The trap service's key, read when an object is made.
    ASSERT_EQ(::RegSetKeyValueW(HKEY_LOCAL_MACHINE, SnmpEventSink::kTrapServiceKey, nullptr, REG_SZ, L"", 2), 0);
    TrapDispatcher::Instance()->SetAckIntervals(50, 50);
  }
  void TearDown() override { ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, SnmpEventSink::kTrapServiceKey); }

  ComScope com_;
  SimTrapService& sim_ = SimTrapService::Get();
};

// First in the program: these reads start the worker. A trap a script's filter rejects still
// signals, with no item; the last script lets go of its object without acknowledging.
TEST_F(SnmpEventsTest, ScriptsOnSeveralThreadsEachSeeEveryTrapThroughItsFilter) {
  constexpr int kThreads = 5, kTraps = 12;
  // Everything; one community, all but one, odd numbers; everything.
  const wchar_t* const filters[kThreads][2] = {
      {L"", L""}, {L"COMMUNITY", L"A"}, {L"COMMUNITY", L":b"}, {L"SPECIFIC", L"1,3,5,7,9,11"}, {L"", L""}};
  Rendezvous ready(kThreads + 1);
  std::vector<std::wstring> seen(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      ComScope com;
      Dispatch d = NewSnmpEvents();
      EXPECT_EQ(WithText(d, L"SetFilter", filters[t][0], filters[t][1]), L"0|");
      ready.ArriveAndWait();
      HANDLE h = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(d.Long(L"Event")));  // all at once
      ready.ArriveAndWait();
      for (int i = 0; i < kTraps && ::WaitForSingleObject(h, 10000) == WAIT_OBJECT_0; ++i) {
        Dispatch trap = d.Long(L"Count") ? Dispatch::From(d.Get(L"Item", {1L}).value) : Dispatch();
        seen[t] += std::wstring(i ? L" " : L"") +
                   (trap ? trap.Text(L"Community") + L"/" + std::to_wstring(trap.Long(L"Specific")) : L"-");
        if (t == 4) break;
        EXPECT_EQ(WithText(d, L"ResetEvent"), L"0|");
      }
    });
  }
  ready.ArriveAndWait();
  ready.ArriveAndWait();
  for (int i = 0; i < kTraps; ++i) sim_.Queue({.specific = i, .community = {char('a' + i % 3)}});
  for (auto& th : threads) th.join();
  EXPECT_EQ(seen, (std::vector<std::wstring>{L"a/0 b/1 c/2 a/3 b/4 c/5 a/6 b/7 c/8 a/9 b/10 c/11",
                                             L"a/0 - - a/3 - - a/6 - - a/9 - -",
                                             L"a/0 - c/2 a/3 - c/5 a/6 - c/8 a/9 - c/11",
                                             L"- b/1 - a/3 - c/5 - b/7 - a/9 - c/11", L"a/0"}));
}

TEST_F(SnmpEventsTest, The65thWatcherGetsMinusOneUntilOneLeaves) {
  std::vector<Dispatch> watchers;
  for (int i = 0; i < 64; ++i) {
    watchers.push_back(NewSnmpEvents());
    ASSERT_GT(watchers.back().Long(L"Event"), 0) << i;
  }
  Dispatch extra = NewSnmpEvents();
  EXPECT_EQ(extra.Long(L"Event"), -1);
  watchers.pop_back();
  EXPECT_GT(extra.Long(L"Event"), 0) << "room again after one left";
}

TEST_F(SnmpEventsTest, IdentifierConversions) {
  Dispatch d = NewSnmpEvents();
  const std::tuple<const wchar_t*, const wchar_t*, const wchar_t*> rows[] = {
      {L"SnmpMgrStrToOid", L"sysUpTime.0", L"1|.1.3.6.1.2.1.1.3.0"},
      {L"SnmpMgrStrToOid", L"no such name", L"0|"},
      {L"TVSnmpMgrOidToStr", L"1.3.6.1.2.1.1.3.0", L"1|sysUpTime.0"},
  };
  for (auto [method, in, want] : rows) EXPECT_EQ(WithText(d, method, in), want) << Narrow(in);
}

}  // namespace
