// The event-log reader's place as the simulated log changes, reads fail or records are damaged; message texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sstream>

#include "tests/harness/dispatch.h"
#include "tests/win/eventlog/test_logs.h"

using namespace brisel;
using namespace brisel::test;

namespace {

void Put(std::vector<BYTE>& b, size_t offset, DWORD value) { std::memcpy(&b[offset], &value, sizeof value); }

// Damaged records end the buffer; one whose number can be read is passed over, so that the log does not stall.
void (*const kDamage[])(std::vector<BYTE>&) = {
    [](std::vector<BYTE>& b) { Put(b, offsetof(EVENTLOGRECORD, Length), 0); },
    [](std::vector<BYTE>& b) { Put(b, offsetof(EVENTLOGRECORD, Length), 0x7FFFFFF0); },       // beyond the bytes read
    [](std::vector<BYTE>& b) { Put(b, offsetof(EVENTLOGRECORD, StringOffset), 0xFFFFFF00); },
    [](std::vector<BYTE>& b) { Put(b, offsetof(EVENTLOGRECORD, NumStrings), 0x20); },  // into the closing length
    [](std::vector<BYTE>& b) { std::fill(b.begin() + sizeof(EVENTLOGRECORD), b.end() - 4, 'A'); },  // no name ends
    [](std::vector<BYTE>& b) { Put(b, offsetof(EVENTLOGRECORD, UserSidOffset), DWORD(b.size() - 8)); },
    [](std::vector<BYTE>& b) { b.resize(24), Put(b, 0, 24); },  // last in the buffer: not even its number is read
};

// Each scenario steps on a new log and reader:  +5  entry 5 written at the start;  +5@-10  10 s before it;
//  +1-400@-1  entries 1 to 400;  big  entry 1, larger than the read buffer;  bad3  a record with damage 3;
// clear  the log emptied;  drop10  its 10 oldest entries gone (a wrap);  fail87  the next read fails with 87;
// =1,2  a pass publishes entries 1 and 2 ("=": none);  !  a pass fails;  ~2  two passes publish entry 2.
TEST(Reader, KeepsItsPlaceAsTheLogChangesAndReadsFail) {
  const DWORD start = static_cast<DWORD>(std::time(nullptr)) - 5;
  std::vector<std::pair<std::string, std::string>> scenarios = {
      // Past the end, the pass goes on behind the last entry: 802, written in its second, is not new again.
      {"a first read starts at the start, past buffers of older entries", "+1-800@-1 +801 +802 =801,802 = +5@-9 =5"},
      {"an entry larger than the buffer grows it", "big +2 =1 =2"},
      {"cleared: past the end, then from the oldest (another entry in the last one's place)",
       "+1-5 =1,2,3,4,5 clear +11@-1000 +12-15 = =12,13,14,15"},
      {"wrapped: read from the oldest", "+1 =1 +2-20 drop10 =11,12,13,14,15,16,17,18,19,20"},
      {"122 without a size is taken as 87: the position is kept; 5 fails the pass", "+1 =1 +2 fail122 = fail5 ! =2"},
  };
  for (size_t d = 0; d < std::size(kDamage); ++d)
    scenarios.push_back({"damage " + std::to_string(d), "+1 bad" + std::to_string(d) + " =1 = = +3 ~3 ="});
  for (const auto& [name, steps] : scenarios) {
    SCOPED_TRACE(name);
    TestLog log;
    MessageTextCache texts;
    LogReader reader(log.Name());
    ASSERT_EQ(reader.ErrorMessage(), L"");
    auto read = [&](bool ok) {  // one pass: the codes it publishes
      std::vector<EventRecord> out;
      EXPECT_EQ(reader.Read({start, 0, &texts}, &out), ok);
      std::string codes;
      for (const auto& r : out) codes.append(codes.empty() ? "" : ",").append(Narrow(r.EventCode));
      return codes;
    };
    std::istringstream in(steps);
    for (std::string step; in >> step;) {
      SCOPED_TRACE(step);
      const char* p = step.c_str();
      int a = 0, b = 0, at = 0;
      if (std::sscanf(p, "+%d-%d@%d", &a, &b, &at) >= 2 || std::sscanf(p, "+%d@%d", &a, &at) >= 1)
        for (int i = a; i <= std::max(a, b); ++i) log.Append({.time_written = start + at, .event_id = DWORD(i)});
      else if (step == "big") log.Append({.event_id = 1, .strings = {std::wstring(20000, L'b')}});
      else if (std::sscanf(p, "bad%d", &a) == 1) {
        std::vector<BYTE> bytes = LayoutRecord({.event_id = 2, .strings = {L"text"}, .sid = SidBytes(L"S-1-5-18")});
        kDamage[a](bytes);
        log.AppendRaw(bytes);
      } else if (step == "clear") log.Clear();
      else if (std::sscanf(p, "drop%d", &a) == 1) log.DropOldest(a);
      else if (std::sscanf(p, "fail%d", &a) == 1) log.Fail(a);
      else if (step == "!") EXPECT_EQ(read(false), "");
      else if (step[0] == '=') EXPECT_EQ(read(true), step.substr(1));
      else if (step[0] == '~') EXPECT_EQ(read(true) + read(true), step.substr(1));  // in either order
      else ADD_FAILURE() << "unknown step";
    }
  }
}

// Stray references stay: a '%' before no number, a parameter without its message, a SID too long, a number
// beyond the strings (saturating, never wrapping to 1). A category without a text gets a stand-in, no text.
TEST(MessageTexts, StrayReferencesStayAndCategoryStandInsAreNoText) {
  const std::wstring sid = L"%{S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15-16-17}";
  EXPECT_EQ(InsertStrings(L"100% done, %0 and %x stay, 50%: %%%6 %1%2 %4294967297 %1", {L"a", sid}, nullptr),
            L"100% done, %0 and %x stay, 50%: %%%6 a" + sid + L" %4294967297 %1");
  TestLog log;
  std::wstring text;
  EXPECT_FALSE(MessageTextCache().CategoryText(9, L"SrcA", log.Name(), &text)) << Narrow(text);
}

}  // namespace
