// The event-log reader against the simulated service: reader states (first
// read, RECENT, old entries over several buffers, backlog, end of file, 87,
// 122, wrap, clear, replacement, a log that goes), decoding, and the walk of
// damaged read buffers.
#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <cstddef>
#include <cstring>
#include <ctime>
#include <thread>

#include "collector/strings.h"
#include "eventlog/log_reader.h"
#include "rules/event_filter.h"
#include "tests/win/eventlog/test_logs.h"

using namespace brisel;
using namespace brisel::test;

namespace {

DWORD NowSeconds() { return static_cast<DWORD>(std::time(nullptr)); }

SimEntry Entry(DWORD id, std::vector<std::wstring> strings = {}, DWORD age_seconds = 0) {
  SimEntry e;
  e.source = L"Plain";
  e.event_id = id;
  e.strings = std::move(strings);
  e.time_written = NowSeconds() - age_seconds;
  return e;
}

std::vector<std::wstring> Codes(const std::vector<EventRecord>& records) {
  std::vector<std::wstring> codes;
  for (const auto& r : records) codes.push_back(r.EventCode);
  return codes;
}

class Reader : public ::testing::Test {
 protected:
  void SetUp() override { start_ = NowSeconds(); }
  void TearDown() override { SetRecentSeconds(0); }

  std::vector<EventRecord> Read(LogReader& reader, bool expect_ok = true) {
    ReadContext context;
    context.start_time = start_;
    context.recent_seconds = RecentSeconds();
    context.texts = &texts_;
    context.source = &source_errors_;
    std::vector<EventRecord> out;
    EXPECT_EQ(reader.Read(context, &out), expect_ok);
    texts_.EndPass();
    return out;
  }
  SimEventLogService& Sim() { return SimEventLogService::Get(); }

  TestLog log_;
  MessageTextCache texts_;
  ErrorState source_errors_;
  int64_t start_ = 0;
};

TEST_F(Reader, AFirstReadPublishesOnlyEntriesWrittenSinceTheStart) {
  for (DWORD i = 1; i <= 3; ++i) log_.Append(Entry(i, {}, 100));
  LogReader reader(log_.Name());
  ASSERT_EQ(reader.ErrorCode(), 0);
  EXPECT_TRUE(Read(reader).empty());
  EXPECT_EQ(reader.NextRecord(), 0u) << "reading past the newest entry ends the first read";
  log_.Append(Entry(4));
  EXPECT_EQ(Codes(Read(reader)), (std::vector<std::wstring>{L"4"}));
  EXPECT_EQ(reader.NextRecord(), 5u);
  EXPECT_FALSE(reader.MorePending());
  log_.Append(Entry(5, {}, 1000));  // once past the first read, age no longer matters
  EXPECT_EQ(Codes(Read(reader)), (std::vector<std::wstring>{L"5"}));
}

TEST_F(Reader, RecentReachesBackThatManySeconds) {
  log_.Append(Entry(1, {}, 30 * 3600));
  log_.Append(Entry(2, {}, 5 * 3600));
  log_.Append(Entry(3, {}, 10));
  SetRecentSeconds(24 * 3600);
  LogReader reader(log_.Name());
  EXPECT_EQ(Codes(Read(reader)), (std::vector<std::wstring>{L"2", L"3"}));
}

TEST_F(Reader, OldEntriesOverSeveralBuffersAreReadThrough) {
  for (DWORD i = 1; i <= 400; ++i) log_.Append(Entry(i, {L"padding to make the record longer"}, 500));
  log_.Append(Entry(401));
  log_.Append(Entry(402));
  LogReader reader(log_.Name());
  long reads_before = Sim().reads;
  EXPECT_EQ(Codes(Read(reader)), (std::vector<std::wstring>{L"401", L"402"}));
  EXPECT_GT(Sim().reads - reads_before, 5) << "the old entries fill several buffers";
}

TEST_F(Reader, ABacklogIsReadOneBufferPerPass) {
  LogReader reader(log_.Name());
  for (DWORD i = 1; i <= 300; ++i) log_.Append(Entry(i, {L"some text to fill the buffer"}));
  std::vector<std::wstring> all;
  int passes = 0;
  do {
    auto batch = Read(reader);
    ASSERT_LE(batch.size() * 100, LogReader::kBufferBytes) << "one buffer per pass";
    for (auto& c : Codes(batch)) all.push_back(c);
    ++passes;
  } while (reader.MorePending() && passes < 100);
  EXPECT_GT(passes, 2);
  EXPECT_FALSE(reader.MorePending());
  ASSERT_EQ(all.size(), 300u);
  for (size_t i = 0; i < all.size(); ++i) EXPECT_EQ(all[i], std::to_wstring(i + 1));
}

TEST_F(Reader, EndOfFileSetsThePositionBackWithoutPublishingAgain) {
  LogReader reader(log_.Name());
  log_.Append(Entry(1));
  ASSERT_EQ(Read(reader).size(), 1u);
  EXPECT_EQ(reader.NextRecord(), 2u);
  EXPECT_TRUE(Read(reader).empty());
  EXPECT_EQ(reader.NextRecord(), 0u);
  // Entry 1 was written in the same second as the pass: it is not new.
  log_.Append(Entry(2));
  EXPECT_EQ(Codes(Read(reader)), (std::vector<std::wstring>{L"2"}));
  EXPECT_TRUE(Read(reader).empty());
  EXPECT_TRUE(Read(reader).empty());
  log_.Append(Entry(3));
  EXPECT_EQ(Codes(Read(reader)), (std::vector<std::wstring>{L"3"}));
}

TEST_F(Reader, AfterEndOfFileAChangedLogIsReadFromTheOldestSkippingOldEntries) {
  LogReader reader(log_.Name());
  log_.Append(Entry(1));
  ASSERT_EQ(Read(reader).size(), 1u);
  EXPECT_TRUE(Read(reader).empty());
  // The log was emptied and refilled: its entry 1 is another entry now.
  Sim().Clear(log_.Name());
  log_.Append(Entry(11, {}, 100));
  log_.Append(Entry(12));
  EXPECT_EQ(Codes(Read(reader)), (std::vector<std::wstring>{L"12"}));
}

TEST_F(Reader, InvalidParameterKeepsThePosition) {
  LogReader reader(log_.Name());
  log_.Append(Entry(1));
  Read(reader);
  log_.Append(Entry(2));
  Sim().FailReads(log_.Name(), ERROR_INVALID_PARAMETER, 1);
  EXPECT_TRUE(Read(reader).empty());
  EXPECT_EQ(reader.NextRecord(), 2u);
  EXPECT_FALSE(reader.MorePending());
  EXPECT_EQ(Codes(Read(reader)), (std::vector<std::wstring>{L"2"}));
}

TEST_F(Reader, AnEntryLargerThanTheBufferGrowsIt) {
  LogReader reader(log_.Name());
  std::wstring big(20000, L'b');
  log_.Append(Entry(1, {big}));
  log_.Append(Entry(2));
  auto first = Read(reader);
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0].Message, big);
  EXPECT_TRUE(reader.MorePending());
  EXPECT_EQ(Codes(Read(reader)), (std::vector<std::wstring>{L"2"}));
}

TEST_F(Reader, ASizeComplaintWithoutSizeIsTreatedAsInvalidParameter) {
  LogReader reader(log_.Name());
  log_.Append(Entry(1));
  Read(reader);
  log_.Append(Entry(2));
  Sim().FailReads(log_.Name(), ERROR_INSUFFICIENT_BUFFER, 1);
  EXPECT_TRUE(Read(reader).empty());
  EXPECT_EQ(reader.NextRecord(), 2u);
  EXPECT_EQ(Codes(Read(reader)), (std::vector<std::wstring>{L"2"}));
}

TEST_F(Reader, AWrappedLogIsReadFromItsOldestEntry) {
  LogReader reader(log_.Name());
  log_.Append(Entry(1));
  Read(reader);
  for (DWORD i = 2; i <= 20; ++i) log_.Append(Entry(i));
  Sim().DropOldest(log_.Name(), 10);
  ASSERT_EQ(Sim().Oldest(log_.Name()), 11u);
  auto batch = Read(reader);
  ASSERT_EQ(batch.size(), 10u);
  EXPECT_EQ(batch.front().EventCode, L"11");
  EXPECT_EQ(batch.back().EventCode, L"20");
}

TEST_F(Reader, AClearedLogIsReadAgainFromItsStart) {
  LogReader reader(log_.Name());
  for (DWORD i = 1; i <= 5; ++i) log_.Append(Entry(i));
  EXPECT_EQ(Read(reader).size(), 5u);
  Sim().Clear(log_.Name());
  log_.Append(Entry(101));
  log_.Append(Entry(102));
  // The old position lies past the new newest entry: end of file.
  EXPECT_TRUE(Read(reader).empty());
  EXPECT_EQ(reader.NextRecord(), 0u);
  EXPECT_EQ(Codes(Read(reader)), (std::vector<std::wstring>{L"101", L"102"}));
}

TEST_F(Reader, AnUnexpectedErrorFailsTheRead) {
  LogReader reader(log_.Name());
  log_.Append(Entry(1));
  Read(reader);
  Sim().FailReads(log_.Name(), ERROR_ACCESS_DENIED, 1);
  EXPECT_TRUE(Read(reader, false).empty());
  EXPECT_EQ(reader.NextRecord(), 2u);
}

TEST_F(Reader, AFailedOldestQueryIsLeftToTheNextPass) {
  LogReader reader(log_.Name());
  log_.Append(Entry(1));
  Read(reader);
  log_.Append(Entry(2));
  Sim().FailOldest(log_.Name(), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(Read(reader).empty());
  EXPECT_EQ(source_errors_.ErrorCode(), static_cast<LONG>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(reader.NextRecord(), 2u);
  Sim().FailOldest(log_.Name(), 0);
  EXPECT_EQ(Codes(Read(reader)), (std::vector<std::wstring>{L"2"}));
}

TEST_F(Reader, AReaderIsNotMadeForALogWithoutKeyOrService) {
  LogReader missing_key(L"NoSuchBriselLog");
  EXPECT_EQ(missing_key.ErrorCode(), -1);
  EXPECT_NE(missing_key.ErrorMessage().find(L"Open NoSuchBriselLog log registry key failed: 2"), std::wstring::npos);
  Sim().Remove(log_.Name());
  LogReader removed(log_.Name());
  EXPECT_EQ(removed.ErrorCode(), -1);
  EXPECT_EQ(removed.ErrorMessage(), L"OpenEventLog on " + log_.Name() + L" log failed: 2\n");
  EXPECT_EQ(Sim().OpenHandles(), 0u);
}

TEST_F(Reader, AReaderWithoutChangeNotificationIsKept) {
  Sim().FailNotify(true);
  LogReader reader(log_.Name());
  EXPECT_EQ(reader.ErrorCode(), 0);
  EXPECT_NE(reader.ErrorMessage().find(L"NotifyChangeEventLog on"), std::wstring::npos);
  log_.Append(Entry(1));
  EXPECT_EQ(Read(reader).size(), 1u);
}

TEST_F(Reader, AppendingSignalsTheChangeEvent) {
  LogReader reader(log_.Name());
  EXPECT_EQ(::WaitForSingleObject(reader.ChangeEvent(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
  log_.Append(Entry(1));
  EXPECT_EQ(::WaitForSingleObject(reader.ChangeEvent(), 0), WAIT_OBJECT_0);
}

// The source: one reader per log key, replacement and removal of readers.
class Source : public Reader {
 protected:
  std::shared_ptr<ItemCollection> items_ = std::make_shared<ItemCollection>();
};

TEST_F(Source, HasOneReaderPerLogUnderTheServiceKey) {
  EventLogSource source(items_);
  ASSERT_NE(source.Reader(log_.Name()), nullptr);
  EXPECT_NE(source.Reader(L"Application"), nullptr);
  EXPECT_NE(source.Reader(L"System"), nullptr);
  EXPECT_EQ(Sim().OpenHandles(), source.ReaderCount());
}

TEST_F(Source, AReaderThatFailsIsReplacedAndReadAtOnce) {
  EventLogSource source(items_);
  source.Exec();
  log_.Append(Entry(1));
  ASSERT_TRUE(source.GetData());
  EXPECT_EQ(Codes(source.Records()), (std::vector<std::wstring>{L"1"}));
  const LogReader* before = source.Reader(log_.Name());
  log_.Append(Entry(2));
  Sim().FailReads(log_.Name(), ERROR_ACCESS_DENIED, 1);
  ASSERT_TRUE(source.GetData());
  const LogReader* after = source.Reader(log_.Name());
  ASSERT_NE(after, nullptr);
  EXPECT_NE(after, before);
  // The fresh reader makes a first read, from the oldest entry.
  EXPECT_EQ(Codes(source.Records()), (std::vector<std::wstring>{L"1", L"2"}));
  log_.Append(Entry(3));
  EXPECT_EQ(::WaitForSingleObject(after->ChangeEvent(), 0), WAIT_OBJECT_0);
}

TEST_F(Source, ALogThatGoesLeavesTheSource) {
  EventLogSource source(items_);
  size_t readers = source.ReaderCount();
  ASSERT_NE(source.Reader(log_.Name()), nullptr);
  log_.Remove();
  Sim().Remove(log_.Name());
  ASSERT_TRUE(source.GetData());
  EXPECT_EQ(source.Reader(log_.Name()), nullptr);
  EXPECT_EQ(source.ReaderCount(), readers - 1);
  EXPECT_EQ(Sim().OpenHandles(), readers - 1);
}

TEST_F(Source, MessageModulesAreUnloadedWhenTheScriptStaysAwayOrTheWorkerEnds) {
  const struct {
    DWORD idle_ms;
    DWORD away_ms;  // until the script asks for the next batch, or the object stops the worker
    bool stop;
    bool kept;
  } cases[] = {{10000, 50, false, true}, {50, 500, false, false}, {10000, 50, true, false}};
  for (const auto& c : cases) {
    EventLogSource source(items_);
    source.Texts().SetIdleRelease(c.idle_ms);
    source.SetPollTimeout(1);
    source.Exec();
    SimEntry e = Entry(0xC00003E8, {L"a", L"b"});
    e.source = L"NoParam";
    log_.Append(e);
    ASSERT_TRUE(source.GetData());
    ASSERT_EQ(source.Texts().LoadedModules(), 1u);
    bool waited = false;
    std::thread worker([&] { waited = source.Wait(source.PollTimeout()); });
    ::Sleep(c.away_ms);
    if (c.stop) source.Stop();
    else source.Resume();
    worker.join();
    EXPECT_EQ(waited, !c.stop);
    EXPECT_EQ(source.Texts().LoadedModules(), c.kept ? 1u : 0u) << c.idle_ms << " ms idle, away " << c.away_ms;
  }
}

// Decoding of single entries.
class Decoding : public Reader {
 protected:
  // Each entry through the same reader, as the next entry of the log.
  EventRecord One(const SimEntry& entry) {
    if (!reader_) reader_ = std::make_unique<LogReader>(log_.Name());
    log_.Append(entry);
    auto records = Read(*reader_);
    EXPECT_EQ(records.size(), 1u);
    return records.empty() ? EventRecord() : records[0];
  }
  std::unique_ptr<LogReader> reader_;
};

TEST_F(Decoding, EveryEventTypeHasItsText) {
  const std::pair<WORD, const wchar_t*> types[] = {{1, L"ERROR"},         {2, L"WARNING"},        {4, L"INFORMATION"},
                                                   {8, L"AUDIT_SUCCESS"}, {16, L"AUDIT_FAILURE"}, {0, L""},
                                                   {3, L""},              {32, L""}};
  for (const auto& [type, text] : types) {
    SimEntry e = Entry(1);
    e.type = type;
    EXPECT_EQ(One(e).Type, text) << type;
  }
}

TEST_F(Decoding, EventCodeIsTheLow16BitsAndTheMessageUsesTheFullIdentifier) {
  SimEntry e = Entry(0xC00003E8, {L"Spooler", L"running"});
  e.source = L"SrcA";
  e.category = 1;
  EventRecord r = One(e);
  EXPECT_EQ(r.EventCode, L"1000");
  EXPECT_EQ(r.Message, L"Service Spooler entered the running state.");
  EXPECT_EQ(r.Category, L"Disk");
  EXPECT_EQ(r.SourceName, L"SrcA");
  EXPECT_EQ(r.ComputerName, ThisComputer());
  EXPECT_EQ(r.Logfile, log_.Name());
  EXPECT_EQ(r.Help, L"");
  SimEntry other = Entry(0xC0000005);
  EXPECT_EQ(One(other).EventCode, L"5");
  SimEntry no_category = Entry(1);
  EXPECT_EQ(One(no_category).Category, L"None");
}

TEST_F(Decoding, UserIsTheAccountOrNA) {
  SimEntry system = Entry(1);
  system.sid = SidBytes(L"S-1-5-18");
  ASSERT_FALSE(system.sid.empty());
  std::wstring user = One(system).UserName;
  EXPECT_NE(user, L"N/A");
  EXPECT_NE(user.find(L'\\'), std::wstring::npos);
  EXPECT_EQ(One(Entry(2)).UserName, L"N/A");
  SimEntry unknown = Entry(3);
  unknown.sid = SidBytes(L"S-1-5-21-1-2-3-1000");
  EXPECT_EQ(One(unknown).UserName, L"N/A");
}

TEST_F(Decoding, FieldsAreTrimmed) {
  SimEntry e = Entry(7, {L" \ta", L"b \r\n"});
  e.computer = L" HOST\r\n";
  EventRecord r = One(e);
  EXPECT_EQ(r.Message, L"a,b");
  EXPECT_EQ(r.ComputerName, L"HOST");
}

TEST_F(Decoding, WriteTimeIsGivenInLocalTime) {
  SYSTEMTIME local = {2004, 3, 0, 7, 9, 5, 0, 0};
  SYSTEMTIME utc;
  ASSERT_TRUE(::TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc));
  FILETIME ft;
  ASSERT_TRUE(::SystemTimeToFileTime(&utc, &ft));
  ULARGE_INTEGER t{{ft.dwLowDateTime, ft.dwHighDateTime}};
  SimEntry e = Entry(1);
  e.time_written = static_cast<DWORD>((t.QuadPart - 116444736000000000ULL) / 10000000ULL);
  SetRecentSeconds(0x7FFFFFFF);  // an entry of 2004 is old: reach back to it
  EventRecord r = One(e);
  EXPECT_EQ(r.CreationSystemTime.wYear, 2004);
  EXPECT_EQ(r.CreationSystemTime.wMonth, 3);
  EXPECT_EQ(r.CreationSystemTime.wDay, 7);
  EXPECT_EQ(r.CreationSystemTime.wHour, 9);
  EXPECT_EQ(r.CreationSystemTime.wMinute, 5);
  EXPECT_EQ(r.CreationSystemTime.wMilliseconds, 0);
  EXPECT_EQ(static_cast<long>(r.CreationTime), 38053L);  // 7 March 2004
  EXPECT_NEAR(r.CreationTime - 38053.0, (9 * 60 + 5) / 1440.0, 1e-6);
}

// Read buffers whose records do not hold together.
class BufferWalk : public Reader {
 protected:
  std::vector<BYTE> Good(DWORD id) { return LayoutRecord(0, Entry(id, {L"text"})); }
  static void PutDword(std::vector<BYTE>* bytes, size_t offset, DWORD value) {
    std::memcpy(bytes->data() + offset, &value, sizeof value);
  }
  // good 1, the damaged record, good 3: each pass terminates, the good ones
  // are published, the damaged one never is.
  void ExpectDamagedRecordPassedOver(std::vector<BYTE> damaged) {
    LogReader reader(log_.Name());
    log_.Append(Entry(1, {L"text"}));
    Sim().AppendRaw(log_.Name(), std::move(damaged));
    log_.Append(Entry(3, {L"text"}));
    std::vector<std::wstring> seen;
    for (int pass = 0; pass < 4; ++pass)
      for (auto& c : Codes(Read(reader))) seen.push_back(c);
    EXPECT_EQ(seen, (std::vector<std::wstring>{L"1", L"3"}));
  }
};

TEST_F(BufferWalk, AZeroLengthEndsTheBuffer) {
  auto bad = Good(2);
  PutDword(&bad, offsetof(EVENTLOGRECORD, Length), 0);
  ExpectDamagedRecordPassedOver(bad);
}

TEST_F(BufferWalk, ALengthBeyondTheBytesReadEndsTheBuffer) {
  auto bad = Good(2);
  PutDword(&bad, offsetof(EVENTLOGRECORD, Length), 0x7FFFFFF0);
  ExpectDamagedRecordPassedOver(bad);
}

TEST_F(BufferWalk, StringsOutsideTheRecordEndTheBuffer) {
  auto bad = Good(2);
  PutDword(&bad, offsetof(EVENTLOGRECORD, StringOffset), 0xFFFFFF00);
  ExpectDamagedRecordPassedOver(bad);
}

TEST_F(BufferWalk, MoreStringsThanTheRecordHoldsEndTheBuffer) {
  auto many = Good(2);
  // More strings than the record holds: the last ones run into the length field.
  std::memcpy(many.data() + offsetof(EVENTLOGRECORD, NumStrings), "\x20\x00", 2);
  ExpectDamagedRecordPassedOver(many);
}

TEST_F(BufferWalk, UnterminatedNamesEndTheBuffer) {
  auto bad = Good(2);
  for (size_t i = sizeof(EVENTLOGRECORD); i + sizeof(DWORD) < bad.size(); ++i) bad[i] = 'A';
  ExpectDamagedRecordPassedOver(bad);
}

TEST_F(BufferWalk, ASidOutsideTheRecordEndsTheBuffer) {
  SimEntry e = Entry(2, {L"text"});
  e.sid = SidBytes(L"S-1-5-18");
  auto bad = LayoutRecord(0, e);
  PutDword(&bad, offsetof(EVENTLOGRECORD, UserSidOffset), static_cast<DWORD>(bad.size() - 8));
  ExpectDamagedRecordPassedOver(bad);
}

TEST_F(BufferWalk, ARecordShorterThanItsFixedPartEndsTheBuffer) {
  std::vector<BYTE> stub(24, 0);
  PutDword(&stub, 0, 24);
  LogReader reader(log_.Name());
  log_.Append(Entry(1));
  Sim().AppendRaw(log_.Name(), stub);
  std::vector<std::wstring> seen;
  // Last in the buffer, not even its number can be read: the pass ends before it.
  for (int pass = 0; pass < 3; ++pass)
    for (auto& c : Codes(Read(reader))) seen.push_back(c);
  EXPECT_EQ(seen, (std::vector<std::wstring>{L"1"}));
  log_.Append(Entry(3));
  for (int pass = 0; pass < 3; ++pass)
    for (auto& c : Codes(Read(reader))) seen.push_back(c);
  EXPECT_EQ(seen, (std::vector<std::wstring>{L"1", L"3"}));
}

TEST_F(BufferWalk, AFirstReadOverDamagedOldRecordsEnds) {
  log_.Append(Entry(1, {}, 100));
  auto bad = Good(2);
  PutDword(&bad, offsetof(EVENTLOGRECORD, Length), 0);
  Sim().AppendRaw(log_.Name(), bad);
  log_.Append(Entry(3));
  LogReader reader(log_.Name());
  std::vector<std::wstring> seen;
  for (int pass = 0; pass < 3; ++pass)
    for (auto& c : Codes(Read(reader))) seen.push_back(c);
  EXPECT_EQ(seen, (std::vector<std::wstring>{L"3"}));
}

TEST(ParseRecord, AcceptsOnlyWholeConsistentRecords) {
  SimEntry e;
  e.source = L"S";
  e.computer = L"C";
  e.strings = {L"one", L"two"};
  e.sid = SidBytes(L"S-1-5-18");
  auto bytes = LayoutRecord(9, e);
  RecordView view;
  ASSERT_TRUE(ParseRecord(bytes.data(), bytes.size(), &view));
  EXPECT_EQ(view.source, L"S");
  EXPECT_EQ(view.computer, L"C");
  ASSERT_EQ(view.strings.size(), 2u);
  EXPECT_EQ(view.strings[1], L"two");
  EXPECT_NE(view.sid, nullptr);
  EXPECT_FALSE(ParseRecord(bytes.data(), bytes.size() - 4, &view)) << "cut short";
  EXPECT_FALSE(ParseRecord(bytes.data(), sizeof(EVENTLOGRECORD) - 1, &view));
  auto odd = bytes;
  DWORD length = static_cast<DWORD>(bytes.size() - 2);
  std::memcpy(odd.data(), &length, sizeof length);
  EXPECT_FALSE(ParseRecord(odd.data(), odd.size(), &view)) << "not DWORD aligned";
  auto bad_sid = bytes;
  bad_sid[view.header.UserSidOffset] = 7;  // revision
  EXPECT_FALSE(ParseRecord(bad_sid.data(), bad_sid.size(), &view));
}

}  // namespace

namespace {

// Whether SeSecurityPrivilege is enabled in the process token.
bool SecurityPrivilegeEnabled() {
  UniqueKernelHandle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY | TOKEN_ADJUST_PRIVILEGES, token.Put())) return false;
  LUID luid;
  if (!::LookupPrivilegeValueW(nullptr, L"SeSecurityPrivilege", &luid)) return false;
  DWORD bytes = 0;
  ::GetTokenInformation(token.Get(), TokenPrivileges, nullptr, 0, &bytes);
  std::vector<BYTE> buffer(bytes);
  if (!::GetTokenInformation(token.Get(), TokenPrivileges, buffer.data(), bytes, &bytes)) return false;
  const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
  for (DWORD i = 0; i < privileges->PrivilegeCount; ++i)
    if (privileges->Privileges[i].Luid.LowPart == luid.LowPart && privileges->Privileges[i].Luid.HighPart == luid.HighPart)
      return (privileges->Privileges[i].Attributes & SE_PRIVILEGE_ENABLED) != 0;
  return false;
}

TEST(Privilege, TheSecurityPrivilegeIsEnabledForTheProcess) {
  UniqueKernelHandle token;
  ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY | TOKEN_ADJUST_PRIVILEGES, token.Put()));
  TOKEN_PRIVILEGES off = {};
  off.PrivilegeCount = 1;
  ASSERT_TRUE(::LookupPrivilegeValueW(nullptr, L"SeSecurityPrivilege", &off.Privileges[0].Luid));
  off.Privileges[0].Attributes = 0;
  ASSERT_TRUE(::AdjustTokenPrivileges(token.Get(), FALSE, &off, 0, nullptr, nullptr));
  ASSERT_FALSE(SecurityPrivilegeEnabled());
  EnableSecurityPrivilege();
  EXPECT_TRUE(SecurityPrivilegeEnabled());
}

}  // namespace
