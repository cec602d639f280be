// NtEvents and NtEvent as a script drives them, late-bound through the
// registered type library, with the simulated event-log service behind the
// objects made in this process: batches, filters, items, lifetime, many logs.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <tuple>

#include "eventlog/log_reader.h"
#include "eventlog/nt_events.h"
#include "rules/event_filter.h"
#include "tests/harness/dispatch.h"
#include "tests/win/eventlog/test_logs.h"

using namespace brisel;
using namespace brisel::test;

namespace {

HANDLE Handle(long value) { return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(value)); }

// Resumes the watcher (or resets it, or neither), waits for the batch and
// gives the codes of its items.
enum How { kEvent, kReset, kWait };
std::string NextBatch(const Dispatch& watcher, HANDLE* ready, How how = kEvent) {
  Variant text;
  if (how == kEvent) *ready = Handle(watcher.Long(L"Event"));
  if (how == kReset) {
    EXPECT_EQ(AsLong(watcher.Call(L"ResetEvent", {Arg::Out(&text)}).value), 1);
  }
  EXPECT_EQ(::WaitForSingleObject(*ready, 15000), WAIT_OBJECT_0);
  std::string codes;
  for (long i = 1, n = watcher.Long(L"Count"); i <= n; ++i)
    codes.append(i > 1 ? "," : "").append(Narrow(watcher.Object(L"Item", {i}).Text(L"EventCode")));
  return codes;
}

class Watcher : public ::testing::Test {
 protected:
  void SetUp() override {
    ComPtr<IDispatch> d;
    ASSERT_EQ(brisel::NtEvents::CreateInstance(nullptr, IID_IDispatch, d.PutVoid()), S_OK);
    ComPtr<INtEvents> itf;
    ASSERT_EQ(d.As(&itf), S_OK);
    object_ = static_cast<brisel::NtEvents*>(itf.Get());
    object_->Source()->SetPollTimeout(600000);  // batches come from changes and backlogs only
    object_->Source()->SetBacklogDelay(100);
    watcher_ = Dispatch(std::move(d));
  }
  void TearDown() override { SetRecentSeconds(0); }
  long Filter(const wchar_t* method, const wchar_t* key, const wchar_t* value) {
    Variant text;
    return AsLong(watcher_.Call(method, {key, value, Arg::Out(&text)}).value);
  }
  std::string Next(How how = kEvent) { return NextBatch(watcher_, &ready_, how); }

  ComScope com_;
  TestLog log_;
  brisel::NtEvents* object_ = nullptr;
  Dispatch watcher_;
  HANDLE ready_ = nullptr;
};

// Every field of an entry as a script reads it, and the message built from
// the source's modules: inserts, parameter messages, accounts, missing modules.
TEST_F(Watcher, ItemsGiveTheDecodedEntries) {
  SYSTEMTIME local = {2004, 3, 0, 7, 9, 5, 0, 0}, utc;
  ASSERT_TRUE(::TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc));
  FILETIME ft;
  ASSERT_TRUE(::SystemTimeToFileTime(&utc, &ft));
  const DWORD t2004 = DWORD(((uint64_t(ft.dwHighDateTime) << 32 | ft.dwLowDateTime) - 116444736000000000ULL) / 10000000);
  SetRecentSeconds(0x7FFFFFFF);  // reaches back to it
  const std::vector<BYTE> system = SidBytes(L"S-1-5-18");
  const struct {
    SimEntry entry;
    const wchar_t* property;
    std::wstring expected;
  } rows[] = {
      {{.event_id = 0xC00003E8, .source = L"SrcA", .strings = {L"Spooler", L"running"}}, L"Message",
       L"Service Spooler entered the running state."},
      // The low 16 bits alone name another message: the strings joined stand in.
      {{.event_id = 1000, .source = L"SrcA", .strings = {L"Spooler", L"running"}}, L"Message", L"Spooler,running"},
      {{.event_id = 2000, .source = L"SrcA", .strings = {L"x"}}, L"Message", L"From the second module: x"},
      {{.event_id = 2000, .source = L"MissingFirst", .strings = {L"x"}}, L"Message", L"x"},  // the search ends there
      {{.event_id = 7, .source = L"Plain", .strings = {L"a", L"b"}}, L"Message", L"a,b"},
      {{.event_id = 7, .source = L"Plain"}, L"Message", L""},
      {{.event_id = 7, .source = L"NotRegistered", .strings = {L"only"}}, L"Message", L"only"},
      {{.event_id = 7, .source = L"Plain", .strings = {L" \ta", L"b \r\n"}}, L"Message", L"a,b"},
      {{.event_id = 1003, .source = L"SrcA"}, L"Message", L"Error Access is denied."},  // the last parameter module
      {{.event_id = 1003, .source = L"NoParam"}, L"Message", L"Error %%5"},
      {{.event_id = 4242, .source = L"SrcA", .strings = {L"code %%7"}}, L"Message", L"code seven"},
      {{.event_id = 1004, .source = L"SrcA", .strings = {L"%{S-1-5-18}", L"the console"}}, L"Message",
       L"Logon by NT AUTHORITY\\SYSTEM from the console"},
      {{.event_id = 0xC00003E8}, L"EventCode", L"1000"},
      {{.event_id = 0xC0000005}, L"EventCode", L"5"},
      {{.type = 1}, L"Type", L"ERROR"}, {{.type = 2}, L"Type", L"WARNING"}, {{.type = 4}, L"Type", L"INFORMATION"},
      {{.type = 8}, L"Type", L"AUDIT_SUCCESS"}, {{.type = 16}, L"Type", L"AUDIT_FAILURE"}, {{.type = 0}, L"Type", L""},
      {{.type = 3}, L"Type", L""}, {{.type = 32}, L"Type", L""},
      {{.category = 1, .source = L"SrcA"}, L"Category", L"Disk"},
      {{.category = 2, .source = L"SrcA"}, L"Category", L"Network"},
      {{.category = 0, .source = L"SrcA"}, L"Category", L"None"},
      {{.category = 9, .source = L"SrcA"}, L"Category", L"Category #9"},
      {{.category = 3, .source = L"Plain"}, L"Category", L"Category #3"},
      {{.source = L"SrcA"}, L"SourceName", L"SrcA"},
      {{}, L"ComputerName", ThisComputer()},
      {{.computer = L" HOST\r\n"}, L"ComputerName", L"HOST"},
      {{}, L"Logfile", log_.Name()},
      {{}, L"Help", L""},
      {{.sid = system}, L"UserName", L"NT AUTHORITY\\SYSTEM"},  // a SID right at the end of the record
      {{}, L"UserName", L"N/A"},
      {{.sid = SidBytes(L"S-1-5-21-1-2-3-1000")}, L"UserName", L"N/A"},
      {{.time_written = t2004}, L"CreationTimeString", L"2004:3:7:9:5:0:0"},
  };
  for (const auto& row : rows) log_.Append(row.entry);
  Next();
  ASSERT_EQ(watcher_.Long(L"Count"), long(std::size(rows)));
  std::vector<Dispatch> each;
  ASSERT_EQ(watcher_.Enumerate(&each), S_OK);
  ASSERT_EQ(each.size(), std::size(rows));
  for (size_t i = 0; i < std::size(rows); ++i) {
    CallResult r = watcher_.Object(L"Item", {long(i + 1)}).Get(rows[i].property);
    EXPECT_EQ(r.value.Type(), VT_BSTR);
    EXPECT_EQ(AsText(r.value), rows[i].expected) << "row " << i << ": " << Narrow(rows[i].property);
    EXPECT_EQ(each[i].Text(rows[i].property), rows[i].expected) << "row " << i;
  }
  CallResult when = each.back().Get(L"CreationTime");
  EXPECT_EQ(when.value.Type(), VT_DATE);
  EXPECT_NEAR(AsDouble(when.value), 38053 + (9 * 60 + 5) / 1440.0, 1e-6);  // 7 March 2004
}

// After a reset nothing comes until the log changes; the filters pass
// only what they match, and the first filter call fixes their kind.
TEST_F(Watcher, ResetEventWaitsForTheNextChangeAndFiltersApply) {
  log_.Append({.event_id = 1});
  EXPECT_EQ(Next(), "1");
  Variant text;
  EXPECT_EQ(AsLong(watcher_.Call(L"ResetEvent", {Arg::Out(&text)}).value), 1);
  EXPECT_EQ(watcher_.Long(L"Count"), 0);
  EXPECT_EQ(::WaitForSingleObject(ready_, 300), DWORD(WAIT_TIMEOUT));
  log_.Append({.event_id = 2});
  EXPECT_EQ(Next(kWait), "2");
  EXPECT_EQ(Filter(L"SetFilterRX", L"SOURCES", L"^Src"), 0);
  EventFilter* filter = object_->Source()->Filter();
  EXPECT_NE(dynamic_cast<RegexEventFilter*>(filter), nullptr);
  EXPECT_EQ(Filter(L"SetFilter", L"TYPES", L"ERROR,WARNING"), 0);
  EXPECT_EQ(object_->Source()->Filter(), filter);
  for (auto [id, type, source] : {std::tuple{3, EVENTLOG_WARNING_TYPE, L"SrcA"}, {4, EVENTLOG_INFORMATION_TYPE, L"SrcA"},
                                  {5, EVENTLOG_ERROR_TYPE, L"Plain"}, {6, EVENTLOG_ERROR_TYPE, L"SrcA"}})
    log_.Append({.event_id = DWORD(id), .type = WORD(type), .source = source});
  EXPECT_EQ(Next(kReset), "3,6");
}

TEST_F(Watcher, ABacklogComesInBatchesWithoutChangeNotifications) {
  std::string expected;
  for (DWORD i = 1; i <= 300; ++i) {
    log_.Append({.event_id = i, .strings = {L"filler text for size"}});
    expected += std::to_string(i) + ",";
  }
  std::string all = Next() + ",";
  int batches = 1;
  for (; all.size() < expected.size() && batches < 50 && !HasFailure(); ++batches) all += Next(kReset) + ",";
  EXPECT_GT(batches, 2);
  EXPECT_EQ(all, expected);
}

TEST_F(Watcher, ItemsOutliveTheBatchAndTheWatcher) {
  log_.Append({.event_id = 7, .strings = {L"kept"}});
  ASSERT_EQ(Next(), "7");
  Dispatch item = watcher_.Object(L"Item", {1});
  Variant text;
  watcher_.Call(L"ResetEvent", {Arg::Out(&text)});
  watcher_ = Dispatch();
  EXPECT_EQ(item.Text(L"EventCode"), L"7");
  EXPECT_EQ(item.Text(L"Message"), L"kept");
}

TEST_F(Watcher, ReleasingDuringALongPassEndsItWithinARead) {
  for (int i = 0; i < 12000; ++i) log_.Append({.time_written = 1000, .event_id = 1});  // old: a first read walks them all
  SimEventLogService& sim = SimEventLogService::Get();
  sim.read_delay_ms = 30;
  long reads = sim.reads;
  watcher_.Long(L"Event");
  for (int i = 0; i < 2000 && sim.reads < reads + 10; ++i) ::Sleep(10);
  reads = sim.reads;
  watcher_ = Dispatch();
  EXPECT_LE(sim.reads - reads, 2) << "of about 120 reads";
  sim.read_delay_ms = 0;
}

TEST_F(Watcher, ReadingItemsWhileBatchesAreReplacedIsSafe) {
  for (DWORD i = 1; i <= 50; ++i) log_.Append({.event_id = i});
  object_->Source()->SetPollTimeout(1);
  std::atomic<bool> done{false};
  std::atomic<long> items{0};
  std::thread reader([&] {
    ComScope com;
    for (std::vector<Dispatch> each; !done; each.clear(), watcher_.Enumerate(&each))
      for (long i = 1, n = watcher_.Long(L"Count"); i <= n; ++i) {
        CallResult r = watcher_.Get(L"Item", {i});
        if (r.Ok() && !Dispatch::From(r.value).Text(L"EventCode").empty()) ++items;
      }
  });
  // On until the reader has read items while they were being replaced (bounded, for a slow machine).
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  for (int round = 0; round < 30 || (items < 50 && std::chrono::steady_clock::now() < deadline); ++round) {
    watcher_.Long(L"Event");  // resumes without waiting: batches replace each other under the reader
    Variant text;
    watcher_.Call(L"ResetEvent", {Arg::Out(&text)});
    if (round % 5 == 0) log_.Append({.event_id = DWORD(100 + round)});
  }
  done = true;
  reader.join();
  EXPECT_GT(items.load(), 0);
}

// Logs beyond what one wait can watch are read at every pass all the same,
// and the worker keeps running.
TEST(ManyLogs, MoreLogsThanOneWaitCanWatchAreReadAllTheSame) {
  ComScope com;
  std::vector<std::unique_ptr<TestLog>> logs;
  for (int i = 0; i < 70; ++i) logs.push_back(std::make_unique<TestLog>(std::to_wstring(i)));
  ComPtr<IDispatch> d;
  ASSERT_EQ(brisel::NtEvents::CreateInstance(nullptr, IID_IDispatch, d.PutVoid()), S_OK);
  ComPtr<INtEvents> itf;
  ASSERT_EQ(d.As(&itf), S_OK);
  auto* object = static_cast<brisel::NtEvents*>(itf.Get());
  ASSERT_GT(object->Source()->ReaderCount(), 70u);
  object->Source()->SetPollTimeout(200);
  Dispatch watcher(d);
  // Log 69 sorts behind the 63 watched change events; the change of log 0 ends the wait.
  logs[69]->Append({.event_id = 77});
  logs[0]->Append({.event_id = 1});
  HANDLE ready = nullptr;
  EXPECT_EQ(NextBatch(watcher, &ready), "1,77");
  EXPECT_TRUE(object->WorkerRunning());
  EXPECT_EQ(NextBatch(watcher, &ready, kReset), "") << "the poll timeout drives this one";
  EXPECT_TRUE(object->WorkerRunning());
}

}  // namespace
