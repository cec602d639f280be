// Trace configuration, file placement, line format and rotation, and time arithmetic.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <string>
#include <tuple>

#include "module/com.h"
#include "trace/trace.h"

using namespace brisel;

namespace {

constexpr const char* kLevelKey = "SOFTWARE\\Talvane\\Vigilor\\4.0\\Talvanemc\\Tracing";

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::string Dword(DWORD v) { return std::string(reinterpret_cast<const char*>(&v), 4); }
// The level value's type and data, as "<type>:<data>".
std::string ReadLevel() {
  char data[64] = {};
  DWORD size = sizeof data, type = 0;
  LSTATUS rc =
      ::RegGetValueA(HKEY_LOCAL_MACHINE, kLevelKey, "TraceMOtrace test", RRF_RT_ANY | RRF_NOEXPAND, &type, data, &size);
  return rc == ERROR_SUCCESS ? std::to_string(type) + ":" + std::string(data, size) : "<missing>";
}

// %TEMP%\Talvane_debug<sub>\<computer>\<name>
std::string TempFile(const std::string& sub, const char* name) {
  char temp[MAX_PATH], computer[64];
  DWORD n = sizeof computer;
  ::GetComputerNameA(computer, &n);
  return std::string(temp, ::GetEnvironmentVariableA("temp", temp, MAX_PATH)) + "\\Talvane_debug" + sub + "\\" +
         computer + "\\" + name;
}

// Each test starts as a fresh process would, without the generic configuration.
class Trace : public ::testing::Test {
 protected:
  void SetUp() override {
    TearDown();
    ::RegSetKeyValueA(HKEY_LOCAL_MACHINE, kLevelKey, "TraceMOtrace test", REG_SZ, "", 1);  // the key, without the value
    ::RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kLevelKey, "TraceMOtrace test");
  }
  void TearDown() override {
    ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Talvane\\Generic\\Tracing");
    trace::ResetState();
  }
};

TEST_F(Trace, FirstWorkerWritesTheDefaultLevelTracesToTempAndStoredLevelsMap) {
  trace::StartWorker("Trace Test");
  EXPECT_EQ(ReadLevel(), "4:" + Dword(16));
  EXPECT_EQ(tvDebugLevel.load(), 1);
  EXPECT_EQ(_stricmp(trace::CurrentFile().c_str(), TempFile("", "mo.log").c_str()), 0) << trace::CurrentFile();
  std::string marker = "marker " + std::to_string(::GetTickCount()) + " ";
  tvDebugPrint(1, "%s%d\n", marker.c_str(), 7);
  tvDebugPrint(2, "%sabove the level\n", marker.c_str());
  std::string text = ReadAll(trace::CurrentFile());
  // Text-mode file: the runtime writes line ends as CR LF.
  std::regex line("\\d+ Trace Test\\[\\d+\\] : " + marker + "7\r\n$");
  EXPECT_TRUE(std::regex_search(text, line)) << text.substr(text.size() > 300 ? text.size() - 300 : 0);
  // Stored levels map as configured, and other types count as 16.
  const std::tuple<DWORD, std::string, int> cases[] = {
      {REG_DWORD, Dword(17), 2},  // type, data, level
      {REG_DWORD, Dword(5), 5},
      {REG_DWORD, Dword(0x10000011), 0x10000002},
      {REG_DWORD, Dword(0), 3},  // leaves the level as it was
      // Another type is 16 for this run, and the administrator's value stays.
      {REG_SZ, std::string("5", 2), 1},
      {REG_QWORD, Dword(5) + Dword(0), 1}};
  for (const auto& [type, data, level] : cases) {
    ::RegSetKeyValueA(HKEY_LOCAL_MACHINE, kLevelKey, "TraceMOtrace test", type, data.data(), DWORD(data.size()));
    tvDebugLevel = 3;
    tvDebugSetName("Trace Test");
    EXPECT_EQ(tvDebugLevel.load(), level) << type << " " << level;
    EXPECT_EQ(ReadLevel(), std::to_string(type) + ":" + data);
  }
}

// The configured folder (expanded) replaces the temporary one; past the size bound the file rolls over.
TEST_F(Trace, ConfiguredPlacementAndRollover) {
  const char* kGeneric = "SOFTWARE\\Talvane\\Generic\\Tracing";
  const DWORD max = 200;
  const char path[] = "%TEMP%\\Talvane_debug\\cfg";
  ::RegSetKeyValueA(HKEY_LOCAL_MACHINE, kGeneric, "TraceLogMaxSize", REG_DWORD, &max, sizeof max);
  ::RegSetKeyValueA(HKEY_LOCAL_MACHINE, kGeneric, "TraceLogPath", REG_EXPAND_SZ, path, sizeof path);
  tvDebugInit("talvanemo");
  tvDebugSet(2, "roll.log", 0);
  const std::string file = trace::CurrentFile();
  EXPECT_EQ(_stricmp(file.c_str(), TempFile("\\cfg", "roll.log").c_str()), 0) << file;
  std::remove(file.c_str());
  std::remove((file + ".BKUP").c_str());
  tvDebugLevel = 1;
  for (int i = 0; i < 10; ++i) tvDebugPrint(1, "line %02d of the rollover test, long enough to grow\n", i);
  const std::string backup = ReadAll(file + ".BKUP"), current = ReadAll(file);
  EXPECT_GT(backup.size(), 200u);
  EXPECT_LT(current.size(), backup.size());
  EXPECT_TRUE(current.find("line 09") != std::string::npos && current.find("line 00") == std::string::npos) << current;
}

// A rotated file starts with a header. A message cut at the bound keeps its final
// line end, so the next line (from any process sharing the file) starts its own.
TEST_F(Trace, RotatedFileHasAHeaderAndLongMessagesKeepTheirLineEnd) {
  tvDebugInit("talvanemo");
  tvDebugSet(2, "rotated.log", 1);
  const std::string file = trace::CurrentFile();
  std::regex header("\\+{6}  " + std::to_string(::GetCurrentProcessId()) +
                    "  [A-Z][a-z]{2} [A-Z][a-z]{2} [ 1-3]\\d \\d{2}:\\d{2}:\\d{2} \\d{4}\r\n");
  EXPECT_TRUE(std::regex_match(ReadAll(file), header)) << ReadAll(file);
  const std::string y(trace::kMaxMessage * 2, 'y'), y_line = y + "\n", exact(trace::kMaxMessage - 1, 'y');
  const std::string kept = exact + "\r\n";
  // Format, argument, and what is written of it.
  const std::tuple<const char*, const char*, std::string> cases[] = {
      {"%s\n", y.c_str(), kept},
      {"%s", y_line.c_str(), kept},
      {y_line.c_str(), nullptr, kept},
      {"%s", y.c_str(), std::string(trace::kMaxMessage, 'y')},  // no line end to keep
      {"%s\n", exact.c_str(), kept},                             // just fits
  };
  tvDebugLevel = 1;
  for (const auto& [format, arg, written] : cases) {
    std::remove(file.c_str());
    tvDebugPrint(1, format, arg);
    tvDebugPrint(1, "next\n");
    std::string text = ReadAll(file);
    size_t run = text.find("yyyy"), next = text.find_first_not_of("y\r\n", run);  // the time stamp's first digit
    ASSERT_NE(next, std::string::npos) << format;
    EXPECT_TRUE(text.substr(run, next - run) == written) << format << ": " << next - run << " bytes";
    EXPECT_NE(text.find(" : next\r\n", next), std::string::npos) << format;
  }
}

TEST(TraceTime, SecondsAndCalendarLinesPast2038AndTheApplicationLog) {
  const std::tuple<SYSTEMTIME, int64_t, const char*> cases[] = {
      {{2038, 1, 2, 19, 3, 14, 8, 0}, int64_t(1) << 31, "Tue Jan 19 03:14:08 2038\n"},
      {{2106, 2, 0, 7, 6, 28, 16, 0}, int64_t(1) << 32, "Sun Feb  7 06:28:16 2106\n"},
  };
  for (const auto& [utc, seconds, line] : cases) {
    FILETIME ft;
    ASSERT_TRUE(::SystemTimeToFileTime(&utc, &ft)) << line;
    EXPECT_EQ(trace::UnixSeconds((uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime), seconds) << line;
    EXPECT_EQ(trace::CalendarLine(utc), line);
  }
  EXPECT_GT(trace::UnixNow(), 1700000000);
  EXPECT_TRUE(qSysLog(EVENTLOG_INFORMATION_TYPE, "trace test %d", 1)) << "to the application log";
}

}  // namespace
