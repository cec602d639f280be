// NtEvents and NtEvent as a script drives them, late-bound, on simulated logs.
#include <gtest/gtest.h>

#include <tuple>

#include "eventlog/nt_events.h"
#include "tests/harness/dispatch.h"
#include "tests/win/eventlog/test_logs.h"

using namespace brisel;
using namespace brisel::test;

namespace {

class Watcher : public ::testing::Test {
 protected:
  void SetUp() override {
    ComPtr<IDispatch> d;
    ASSERT_EQ(brisel::NtEvents::CreateInstance(nullptr, IID_IDispatch, d.PutVoid()), S_OK);
    watcher_ = Dispatch(std::move(d));
  }
  void TearDown() override { SetRecentSeconds(0); }
  // Resumes the watcher (or resets it), waits for the batch and gives its codes.
  std::string Next(bool reset = false) {
    Variant text;
    if (reset) EXPECT_EQ(AsLong(watcher_.Call(L"ResetEvent", {Arg::Out(&text)}).value), 1);
    else ready_ = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(watcher_.Long(L"Event")));
    EXPECT_EQ(::WaitForSingleObject(ready_, 15000), WAIT_OBJECT_0);
    std::string codes;
    for (long i = 1, n = watcher_.Long(L"Count"); i <= n; ++i)
      codes.append(i > 1 ? "," : "").append(Narrow(watcher_.Object(L"Item", {i}).Text(L"EventCode")));
    return codes;
  }

  ComScope com_;
  TestLog log_;
  Dispatch watcher_;
  HANDLE ready_ = nullptr;
};

// Every field as a script reads it; messages from the source's modules.
TEST_F(Watcher, ItemsGiveTheDecodedEntries) {
  SYSTEMTIME local = {2004, 3, 0, 7, 9, 5, 0, 0}, utc;
  FILETIME ft;
  ASSERT_TRUE(::TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc) && ::SystemTimeToFileTime(&utc, &ft));
  const DWORD t2004 = DWORD(((uint64_t(ft.dwHighDateTime) << 32 | ft.dwLowDateTime) - 116444736000000000) / 10000000);
  SetRecentSeconds(0x7FFFFFFF);  // reaches back to it
  const std::tuple<SimEntry, const wchar_t*, std::wstring> rows[] = {
      {{.event_id = 0xC00003E8, .source = L"SrcA", .strings = {L"Spooler", L"running"}}, L"Message",
       L"Service Spooler entered the running state."},
      {{.event_id = 2000, .source = L"SrcA", .strings = {L"x"}}, L"Message", L"From the second module: x"},
      {{.event_id = 2000, .source = L"MissingFirst", .strings = {L"x", L"y"}}, L"Message", L"x,y"},  // search ends
      {{.event_id = 1003, .source = L"SrcA"}, L"Message", L"Error seven"},  // the last parameter module
      {{.event_id = 1004, .source = L"SrcA", .strings = {L"%{S-1-5-18}", L"the console"}}, L"Message",
       L"Logon by NT AUTHORITY\\SYSTEM from the console"},
      {{.event_id = 0xC0000005}, L"EventCode", L"5"}, {{.type = 1}, L"Type", L"ERROR"}, {{.type = 3}, L"Type", L""},
      {{.type = 2}, L"Type", L"WARNING"}, {{.type = 4}, L"Type", L"INFORMATION"},
      {{.type = 8}, L"Type", L"AUDIT_SUCCESS"}, {{.type = 16}, L"Type", L"AUDIT_FAILURE"},
      {{.category = 1, .source = L"SrcA"}, L"Category", L"Disk"}, {{.source = L"SrcA"}, L"Category", L"None"},
      {{.category = 9, .source = L"SrcA"}, L"Category", L"Category #9"}, {{}, L"Logfile", log_.Name()},
      {{.source = L"SrcA"}, L"SourceName", L"SrcA"}, {{.computer = L" HOST\r\n"}, L"ComputerName", L"HOST"},
      {{.sid = SidBytes(L"S-1-5-18")}, L"UserName", L"NT AUTHORITY\\SYSTEM"},  // a SID right at the end of the record
      {{}, L"UserName", L"N/A"}, {{.sid = SidBytes(L"S-1-5-21-1-2-3-1000")}, L"UserName", L"N/A"},
      {{.time_written = t2004}, L"CreationTimeString", L"2004:3:7:9:5:0:0"},
  };
  for (const auto& row : rows) log_.Append(std::get<0>(row));
  Next();
  ASSERT_EQ(watcher_.Long(L"Count"), long(std::size(rows)));
  long i = 0;
  for (const auto& [entry, property, expected] : rows)
    EXPECT_EQ(watcher_.Object(L"Item", {++i}).Text(property), expected) << "item " << i << ": " << Narrow(property);
}

// A backlog comes in batches without change notifications; items outlive the watcher. A reader whose
// read fails is replaced by one that reads at once and whose changes the worker then waits for.
TEST_F(Watcher, BatchesComeFromBacklogsAndChangesAndItemsOutliveThem) {
  log_.Fail(ERROR_ACCESS_DENIED);
  std::string expected, all;
  for (DWORD i = 1; i <= 300; ++i) {
    log_.Append({.event_id = i, .strings = {L"filler text for size"}});
    expected += std::to_string(i) + ",";
  }
  int batches = 0;
  for (; all.size() < expected.size() && batches < 50 && !HasFailure(); ++batches) all += Next(batches > 0) + ",";
  EXPECT_GT(batches, 2);
  EXPECT_EQ(all, expected);
  Dispatch item = watcher_.Object(L"Item", {watcher_.Long(L"Count")});
  log_.Append({.event_id = 301});
  EXPECT_EQ(Next(true), "301");
  watcher_ = Dispatch();
  EXPECT_EQ(item.Text(L"EventCode"), L"300");
  EXPECT_EQ(item.Text(L"Message"), L"filler text for size");
}

// The release stops a first pass over a long backlog between two reads.
TEST_F(Watcher, ReleasingDuringALongPassEndsItWithinARead) {
  for (int i = 0; i < 12000; ++i) log_.Append({.time_written = 1000, .event_id = 1});  // old: the first read walks them
  g_sim_read_delay_ms = 30;
  long reads = g_sim_reads;
  watcher_.Long(L"Event");
  for (int i = 0; i < 2000 && g_sim_reads < reads + 10; ++i) ::Sleep(10);
  reads = g_sim_reads;
  watcher_ = Dispatch();
  g_sim_read_delay_ms = 0;
  EXPECT_LE(g_sim_reads - reads, 2) << "of about 120 reads";
}

}  // namespace
