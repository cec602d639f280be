// NtEvents and NtEvent as a script drives them, late-bound through the
// registered type library, with the simulated event-log service behind the
// objects made in this process: the handshake, filters, items, lifetime.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <thread>

#include "eventlog/log_reader.h"
#include "eventlog/nt_events.h"
#include "tests/harness/dispatch.h"
#include "tests/win/eventlog/test_logs.h"

using namespace brisel;
using namespace brisel::test;

namespace {

SimEntry Entry(DWORD id, WORD type = EVENTLOG_ERROR_TYPE, std::vector<std::wstring> strings = {}) {
  SimEntry e;
  e.source = L"SrcA";
  e.event_id = id;
  e.type = type;
  e.strings = std::move(strings);
  return e;
}

HANDLE Handle(long value) { return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(value)); }

class Watcher : public ::testing::Test {
 protected:
  void SetUp() override {
    ComPtr<IDispatch> d;
    ASSERT_EQ(brisel::NtEvents::CreateInstance(nullptr, IID_IDispatch, d.PutVoid()), S_OK);
    ComPtr<INtEvents> itf;
    ASSERT_EQ(d.As(&itf), S_OK);
    object_ = static_cast<brisel::NtEvents*>(itf.Get());
    // Short waits keep the tests quick; the rules are the same.
    object_->Source()->SetPollTimeout(10000);
    object_->Source()->SetBacklogDelay(100);
    watcher_ = Dispatch(std::move(d));
  }
  void TearDown() override { SetRecentSeconds(0); }

  long Filter(const wchar_t* method, const wchar_t* key, const std::wstring& value, std::wstring* text = nullptr) {
    Variant out(L"stale");
    CallResult r = watcher_.Call(method, {key, value, Arg::Out(&out)});
    EXPECT_EQ(r.hr, S_OK);
    EXPECT_EQ(out.Type(), VT_BSTR);
    if (text) *text = AsText(out);
    return AsLong(r.value);
  }
  // Resumes, waits for the batch and gives the event codes of its items.
  std::vector<std::wstring> NextBatch(const wchar_t* how = L"Event") {
    ready_ = Handle(watcher_.Long(how));
    EXPECT_EQ(::WaitForSingleObject(ready_, 15000), WAIT_OBJECT_0);
    return Codes();
  }
  std::vector<std::wstring> Codes() {
    std::vector<std::wstring> codes;
    long count = watcher_.Long(L"Count");
    for (long i = 1; i <= count; ++i) codes.push_back(watcher_.Object(L"Item", {i}).Text(L"EventCode"));
    return codes;
  }
  long Reset() {
    Variant text(L"stale");
    CallResult r = watcher_.Call(L"ResetEvent", {Arg::Out(&text)});
    EXPECT_EQ(r.hr, S_OK);
    EXPECT_EQ(AsText(text), L"");
    return AsLong(r.value);
  }

  ComScope com_;
  TestLog log_;
  brisel::NtEvents* object_ = nullptr;
  Dispatch watcher_;
  HANDLE ready_ = nullptr;
};

TEST_F(Watcher, ANewWatcherIsEmptyAndAnswersTheCollectionErrors) {
  EXPECT_EQ(watcher_.Long(L"Count"), 0);
  EXPECT_EQ(watcher_.Get(L"Item", {0}).hr, E_INVALIDARG);
  EXPECT_EQ(watcher_.Get(L"Item", {1}).hr, E_FAIL);
  EXPECT_TRUE(object_->WorkerRunning());
}

TEST_F(Watcher, EventAndGetEventGiveOneHandle) {
  long event = watcher_.Long(L"Event");
  EXPECT_NE(event, 0);
  EXPECT_EQ(watcher_.Long(L"Event"), event);
  EXPECT_EQ(watcher_.Long(L"GetEvent"), event);
}

TEST_F(Watcher, EntriesAppendedWhileWaitingArePublishedWithTheirTexts) {
  HANDLE ready = Handle(watcher_.Long(L"Event"));
  ::Sleep(200);
  EXPECT_EQ(::WaitForSingleObject(ready, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  SimEntry e = Entry(0xC00003E8, EVENTLOG_ERROR_TYPE, {L"Spooler", L"running"});
  e.category = 2;
  e.sid = SidBytes(L"S-1-5-18");
  log_.Append(e);
  ASSERT_EQ(::WaitForSingleObject(ready, 5000), WAIT_OBJECT_0) << "the change event ends the wait";
  ASSERT_EQ(watcher_.Long(L"Count"), 1);
  Dispatch item = watcher_.Object(L"Item", {1});
  EXPECT_EQ(item.Text(L"Message"), L"Service Spooler entered the running state.");
  EXPECT_EQ(item.Text(L"EventCode"), L"1000");
  EXPECT_EQ(item.Get(L"EventCode").value.Type(), VT_BSTR);
  EXPECT_EQ(item.Text(L"Type"), L"ERROR");
  EXPECT_EQ(item.Text(L"Category"), L"Network");
  EXPECT_EQ(item.Text(L"SourceName"), L"SrcA");
  EXPECT_EQ(item.Text(L"Logfile"), log_.Name());
  EXPECT_EQ(item.Text(L"ComputerName"), ThisComputer());
  EXPECT_NE(item.Text(L"UserName").find(L'\\'), std::wstring::npos);
  EXPECT_EQ(item.Text(L"Help"), L"");
  CallResult when = item.Get(L"CreationTime");
  ASSERT_EQ(when.value.Type(), VT_DATE);
  EXPECT_GT(V_DATE(&when.value.Get()), 40000.0);
  std::vector<Dispatch> each;
  ASSERT_EQ(watcher_.Enumerate(&each), S_OK);
  ASSERT_EQ(each.size(), 1u);
  EXPECT_EQ(each[0].Text(L"Message"), item.Text(L"Message"));
}

TEST_F(Watcher, ResetEventGivesOneDropsTheBatchAndCollectsTheNext) {
  log_.Append(Entry(1));  // written before the watcher's first pass: published
  EXPECT_EQ(NextBatch(), (std::vector<std::wstring>{L"1"}));
  EXPECT_EQ(Reset(), 1);
  EXPECT_EQ(watcher_.Long(L"Count"), 0);
  HANDLE ready = Handle(watcher_.Long(L"GetEvent"));
  log_.Append(Entry(2));
  ASSERT_EQ(::WaitForSingleObject(ready, 5000), WAIT_OBJECT_0);
  // The reset's own pass may come first and be empty.
  std::vector<std::wstring> codes = Codes();
  for (int round = 0; round < 3 && codes.empty(); ++round) {
    Reset();
    ASSERT_EQ(::WaitForSingleObject(ready, 5000), WAIT_OBJECT_0);
    codes = Codes();
  }
  EXPECT_EQ(codes, (std::vector<std::wstring>{L"2"}));
}

TEST_F(Watcher, ABatchComesWithinThePollTimeoutWhenNothingHappens) {
  // The worker takes its poll timeout when it starts to wait: one batch
  // driven by a change first, so that the next wait uses the short one.
  object_->Source()->SetPollTimeout(200);
  log_.Append(Entry(1));
  EXPECT_EQ(NextBatch(), (std::vector<std::wstring>{L"1"}));
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Reset(), 1);
  ASSERT_EQ(::WaitForSingleObject(ready_, 15000), WAIT_OBJECT_0);
  EXPECT_TRUE(Codes().empty());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST_F(Watcher, ABacklogComesInBatchesWithoutChangeNotifications) {
  for (DWORD i = 1; i <= 300; ++i) log_.Append(Entry(i, EVENTLOG_ERROR_TYPE, {L"filler text for size"}));
  std::vector<std::wstring> all = NextBatch();
  int batches = 1;
  while (all.size() < 300 && batches < 50) {
    EXPECT_EQ(Reset(), 1);
    ASSERT_EQ(::WaitForSingleObject(ready_, 15000), WAIT_OBJECT_0);
    for (auto& c : Codes()) all.push_back(c);
    ++batches;
  }
  EXPECT_GT(batches, 2);
  ASSERT_EQ(all.size(), 300u);
  EXPECT_EQ(all.front(), L"1");
  EXPECT_EQ(all.back(), L"300");
}

TEST_F(Watcher, TypesFilterPassesOnlyTheListedTypes) {
  EXPECT_EQ(Filter(L"SetFilter", L"TYPES", L"ERROR,WARNING"), 0);
  log_.Append(Entry(1, EVENTLOG_WARNING_TYPE));
  log_.Append(Entry(2, EVENTLOG_INFORMATION_TYPE));
  log_.Append(Entry(3, EVENTLOG_ERROR_TYPE));
  EXPECT_EQ(NextBatch(), (std::vector<std::wstring>{L"1", L"3"}));
}

TEST_F(Watcher, LogsFilterExcludesWithTheSeparator) {
  EXPECT_EQ(Filter(L"SetFilter", L"LOGS", L":" + log_.Name()), 0);
  log_.Append(Entry(1));  // its change event ends the wait
  EXPECT_TRUE(NextBatch().empty());
}

TEST_F(Watcher, FilterResultsAndTexts) {
  std::wstring text;
  EXPECT_EQ(Filter(L"SetFilter", L"NO SUCH KEY", L"x", &text), 1);
  EXPECT_EQ(text, L"");
  EXPECT_EQ(Filter(L"SetFilter", L"EVENTIDS", L"10", &text), 0);
  EXPECT_EQ(Filter(L"SetFilter", L"RECENT", L"24", &text), 0);
  EXPECT_EQ(RecentSeconds(), 86400);
  Variant error(L"stale");
  CallResult r = watcher_.Call(L"SetFilterFile", {L"XML", L"Z:\\no\\such\\brisel_rules.xml", Arg::Out(&error)});
  EXPECT_EQ(r.hr, S_OK);
  EXPECT_EQ(AsLong(r.value), 1);
  EXPECT_EQ(AsText(error), L"Cannot open filter file");
}

TEST_F(Watcher, TheFirstFilterCallFixesTheFilterKind) {
  EXPECT_EQ(Filter(L"SetFilterRX", L"SOURCES", L"^Src"), 0);
  EventFilter* filter = object_->Source()->Filter();
  ASSERT_NE(filter, nullptr);
  EXPECT_NE(dynamic_cast<RegexEventFilter*>(filter), nullptr);
  EXPECT_EQ(Filter(L"SetFilter", L"TYPES", L"ERROR"), 0);
  EXPECT_EQ(object_->Source()->Filter(), filter);
  log_.Append(Entry(1));
  SimEntry other = Entry(2);
  other.source = L"Plain";
  log_.Append(other);
  EXPECT_EQ(NextBatch(), (std::vector<std::wstring>{L"1"}));
}

TEST_F(Watcher, ItemsOutliveTheBatchAndTheWatcher) {
  log_.Append(Entry(7, EVENTLOG_ERROR_TYPE, {L"kept"}));
  ASSERT_EQ(NextBatch().size(), 1u);
  Dispatch item = watcher_.Object(L"Item", {1});
  Reset();
  watcher_ = Dispatch();
  object_ = nullptr;
  EXPECT_EQ(item.Text(L"EventCode"), L"7");
  EXPECT_EQ(item.Text(L"Message"), L"kept");
}

TEST_F(Watcher, ReleasingWhileTheWorkerWaitsReturnsAtOnce) {
  watcher_.Long(L"Event");
  ::Sleep(100);
  auto start = std::chrono::steady_clock::now();
  watcher_ = Dispatch();
  object_ = nullptr;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST_F(Watcher, ReleasingDuringALongPassReturnsWithinOneRead) {
  // A first read walks past every old entry, a buffer at a time.
  SimEntry old = Entry(1);
  old.time_written = 1000;
  for (int i = 0; i < 12000; ++i) log_.Append(old);
  SimEventLogService::Get().read_delay_ms = 30;
  long reads = SimEventLogService::Get().reads;
  watcher_.Long(L"Event");
  while (SimEventLogService::Get().reads < reads + 10) ::Sleep(10);
  auto start = std::chrono::steady_clock::now();
  watcher_ = Dispatch();
  object_ = nullptr;
  auto release = std::chrono::steady_clock::now() - start;
  SimEventLogService::Get().read_delay_ms = 0;
  EXPECT_LT(release, std::chrono::seconds(1));
}

TEST_F(Watcher, WriteEventToEventLogWritesNothing) {
  long reads = SimEventLogService::Get().reads;
  EXPECT_EQ(watcher_.Call(L"WriteEventToEventLog", {1, 2, L"2004"}).hr, S_OK);
  EXPECT_EQ(SimEventLogService::Get().reads, reads);
  EXPECT_EQ(watcher_.Long(L"Count"), 0);
}

TEST_F(Watcher, ReadingItemsWhileBatchesArePublishedIsSafe) {
  for (DWORD i = 1; i <= 50; ++i) log_.Append(Entry(i));
  object_->Source()->SetPollTimeout(1);
  std::atomic<bool> done{false};
  std::atomic<long> reads{0};
  std::thread reader([&] {
    ComScope com;
    while (!done) {
      long count = watcher_.Long(L"Count");
      for (long i = 1; i <= count; ++i) {
        CallResult r = watcher_.Get(L"Item", {i});
        if (r.Ok()) Dispatch::From(r.value).Text(L"Message");
        ++reads;
      }
      std::vector<Dispatch> each;
      watcher_.Enumerate(&each);
    }
  });
  // At least 30 rounds, and on until the reader has read items while they
  // were being replaced (bounded, for a slow machine).
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  for (int round = 0; round < 30 || (reads < 50 && std::chrono::steady_clock::now() < deadline); ++round) {
    watcher_.Long(L"Event");  // resumes without waiting: batches replace each other under the reader
    if (round % 2) ::Sleep(5);
    Reset();
    if (round % 5 == 0) log_.Append(Entry(100 + round));
  }
  done = true;
  reader.join();
  EXPECT_GT(reads.load(), 0);
}

// Logs beyond what one wait can watch are read at every pass all the same,
// and the worker keeps running.
TEST(ManyLogs, MoreLogsThanOneWaitCanWatchKeepTheWorkerRunning) {
  ComScope com;
  SimEventLogService::Get().Reset();
  std::vector<std::wstring> keys;
  for (int i = 0; i < 70; ++i) {
    std::wstring key = std::wstring(kEventLogKey) + L"\\BriselMany" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
                       std::to_wstring(i);
    UniqueRegKey k;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, k.Put(),
                                nullptr),
              ERROR_SUCCESS);
    keys.push_back(key);
  }
  struct Cleanup {
    std::vector<std::wstring>& keys;
    ~Cleanup() {
      for (auto& k : keys) ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, k.c_str());
    }
  } cleanup{keys};
  ComPtr<IDispatch> d;
  ASSERT_EQ(brisel::NtEvents::CreateInstance(nullptr, IID_IDispatch, d.PutVoid()), S_OK);
  ComPtr<INtEvents> itf;
  ASSERT_EQ(d.As(&itf), S_OK);
  auto* object = static_cast<brisel::NtEvents*>(itf.Get());
  ASSERT_GT(object->Source()->ReaderCount(), 70u);
  object->Source()->SetPollTimeout(200);
  Dispatch watcher(d);
  auto name = [&](size_t i) { return keys[i].substr(keys[i].rfind(L'\\') + 1); };
  SimEntry e;
  e.source = L"Anything";
  e.event_id = 77;
  // The last log sorts behind the 63 watched change events; the first log's
  // change ends the wait.
  SimEventLogService::Get().Append(name(keys.size() - 1), e);
  e.event_id = 1;
  SimEventLogService::Get().Append(name(0), e);
  HANDLE ready = Handle(watcher.Long(L"Event"));
  ASSERT_EQ(::WaitForSingleObject(ready, 15000), WAIT_OBJECT_0);
  ASSERT_EQ(watcher.Long(L"Count"), 2);
  EXPECT_EQ(watcher.Object(L"Item", {1}).Text(L"EventCode"), L"1");
  EXPECT_EQ(watcher.Object(L"Item", {2}).Text(L"EventCode"), L"77");
  EXPECT_TRUE(object->WorkerRunning());
  Variant text;
  watcher.Call(L"ResetEvent", {Arg::Out(&text)});
  // The poll timeout (taken after the first batch) drives this one.
  ASSERT_EQ(::WaitForSingleObject(ready, 10000), WAIT_OBJECT_0);
  EXPECT_TRUE(object->WorkerRunning());
}

TEST(NtEventItem, CreationTimeStringAndDefaults) {
  ComScope com;
  ComPtr<brisel::NtEvent> item;
  ASSERT_EQ(brisel::NtEvent::CreateItem(&item), S_OK);
  item->record.CreationSystemTime = {2004, 3, 0, 7, 9, 5, 0, 0};
  item->record.UserName = L"N/A";
  Dispatch d(static_cast<IDispatch*>(static_cast<INtEvent*>(item.Get())));
  EXPECT_EQ(d.Text(L"CreationTimeString"), L"2004:3:7:9:5:0:0");
  EXPECT_EQ(d.Text(L"UserName"), L"N/A");
  EXPECT_EQ(d.Text(L"Help"), L"");
  EXPECT_EQ(AsDouble(d.Get(L"CreationTime").value), 0.0);
}

TEST(NtEventClass, OnlyTheWatcherIsCreatable) {
  ComScope com;
  HRESULT hr = S_OK;
  EXPECT_FALSE(Dispatch::Create(L"TalvaneAgent.NtEvent", &hr));
  EXPECT_TRUE(FAILED(hr));
  ComPtr<IUnknown> none;
  EXPECT_TRUE(FAILED(::CoCreateInstance(CLSID_NtEvent, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, none.PutVoid())));
  Dispatch watcher = Dispatch::Create(L"TalvaneAgent.NtEvents.4", &hr);
  EXPECT_TRUE(watcher) << std::hex << hr;
}

}  // namespace
