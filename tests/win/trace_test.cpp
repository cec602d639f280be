// Trace configuration, file placement, line format and rollover, and the
// registry helpers the facility reads its settings with.
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <string>

#include "trace/registry.h"
#include "trace/trace.h"
#include "module/com.h"

using namespace brisel;

namespace {

constexpr const char* kLevelKey = "SOFTWARE\\Talvane\\Vigilor\\4.0\\Talvanemc\\Tracing";
constexpr const char* kGenericKey = "SOFTWARE\\Talvane\\Generic\\Tracing";

std::string ReadAll(const std::string& path) {
  std::string text;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    std::fclose(f);
  }
  return text;
}

bool Exists(const std::string& path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void CreateKey(const char* path) {
  UniqueRegKey k;
  ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_WRITE, nullptr, k.Put(), nullptr);
}

void SetDword(const char* path, const char* name, DWORD value) {
  CreateKey(path);
  ::RegSetKeyValueA(HKEY_LOCAL_MACHINE, path, name, REG_DWORD, &value, sizeof value);
}

bool ReadDword(const char* path, const char* name, DWORD* value) {
  DWORD size = sizeof *value;
  return ::RegGetValueA(HKEY_LOCAL_MACHINE, path, name, RRF_RT_REG_DWORD, nullptr, value, &size) == ERROR_SUCCESS;
}

std::string Temp() {
  char buf[MAX_PATH];
  DWORD n = ::GetEnvironmentVariableA("temp", buf, MAX_PATH);
  return std::string(buf, n);
}

std::string Computer() {
  char buf[64];
  DWORD n = sizeof buf;
  ::GetComputerNameA(buf, &n);
  return std::string(buf, n);
}

// Each test starts as a fresh process would, without the generic configuration.
class Trace : public ::testing::Test {
 protected:
  void SetUp() override {
    ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, kGenericKey);
    CreateKey(kLevelKey);
    trace::ResetState();
  }
  void TearDown() override {
    ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, kGenericKey);
    trace::ResetState();
  }
};

TEST_F(Trace, FirstWorkerWritesDefaultLevelAndTracesToTempDirectory) {
  ::RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kLevelKey, "TraceMOtrace test first");
  trace::StartWorker("Trace Test First");
  DWORD stored = 0;
  ASSERT_TRUE(ReadDword(kLevelKey, "TraceMOtrace test first", &stored));
  EXPECT_EQ(stored, 16u);
  EXPECT_EQ(tvDebugLevel.load(), 1);
  std::string expected = Temp() + "\\Talvane_debug\\" + Computer() + "\\mo.log";
  EXPECT_EQ(_stricmp(trace::CurrentFile().c_str(), expected.c_str()), 0) << trace::CurrentFile();

  std::string marker = "marker " + std::to_string(::GetTickCount()) + " ";
  tvDebugPrint(1, "%s%d\n", marker.c_str(), 7);
  tvDebugPrint(2, "%sabove the level\n", marker.c_str());
  std::string text = ReadAll(trace::CurrentFile());
  std::smatch m;
  // Text-mode file: the runtime writes line ends as CR LF.
  std::regex line("\\d+ Trace Test First\\[\\d+\\] : " + marker + "7\r\n");
  EXPECT_TRUE(std::regex_search(text, m, line)) << text.substr(text.size() > 300 ? text.size() - 300 : 0);
  EXPECT_EQ(text.find(marker + "above"), std::string::npos);
}

TEST_F(Trace, StoredLevelsMapAsConfigured) {
  const struct {
    DWORD stored;
    int level;
  } cases[] = {{17, 2}, {5, 5}, {16, 1}, {0x10000011, 0x10000002}};
  for (const auto& c : cases) {
    SetDword(kLevelKey, "TraceMOtrace test levels", c.stored);
    tvDebugLevel = 3;
    tvDebugSetName("Trace Test Levels");
    EXPECT_EQ(tvDebugLevel.load(), c.level) << c.stored;
  }
  SetDword(kLevelKey, "TraceMOtrace test levels", 0);
  tvDebugLevel = 3;
  tvDebugSetName("Trace Test Levels");
  EXPECT_EQ(tvDebugLevel.load(), 3) << "0 leaves the level as it was";
  EXPECT_EQ(trace::ProgramName(), "Trace Test Levels") << "the first name stays the program name";
  tvDebugSetName("Another");
  EXPECT_EQ(trace::ProgramName(), "Trace Test Levels");
}

TEST_F(Trace, ALevelOfAnotherTypeCountsAs16AndIsNeverOverwritten) {
  const char* name = "TraceMOtrace test typed";
  const struct {
    DWORD type;
    std::string data;
  } cases[] = {{REG_SZ, std::string("5", 2)},
               {REG_EXPAND_SZ, std::string("17", 3)},
               {REG_BINARY, std::string("\x05\0\0\0", 4)},
               {REG_QWORD, std::string("\x05\0\0\0\0\0\0\0", 8)}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    ASSERT_EQ(::RegSetKeyValueA(HKEY_LOCAL_MACHINE, kLevelKey, name, c.type, c.data.data(),
                                static_cast<DWORD>(c.data.size())),
              ERROR_SUCCESS);
    tvDebugLevel = 3;
    tvDebugSetName("Trace Test Typed");
    EXPECT_EQ(tvDebugLevel.load(), 1) << "16 for this run";
    DWORD type = 0;
    char data[16] = {};
    DWORD size = sizeof data;
    ASSERT_EQ(::RegGetValueA(HKEY_LOCAL_MACHINE, kLevelKey, name, RRF_RT_ANY | RRF_NOEXPAND, &type, data, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, c.type) << "the administrator's value stays";
    EXPECT_EQ(std::string(data, size), c.data);
  }
  ::RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kLevelKey, name);
}

TEST_F(Trace, FileNameWithBackslashBecomesPerProcessFile) {
  tvDebugInit("talvanemo");
  tvDebugSet(2, "sub\\mo.log", 0);
  std::string expected = "\\tv" + std::to_string(::GetCurrentProcessId()) + ".log";
  std::string file = trace::CurrentFile();
  ASSERT_GE(file.size(), expected.size());
  EXPECT_EQ(file.substr(file.size() - expected.size()), expected);
}

TEST_F(Trace, InvalidModeChangesNothing) {
  tvDebugInit("talvanemo");
  tvDebugSet(4, "mo.log", 0);
  EXPECT_EQ(trace::CurrentFile(), "");
}

TEST_F(Trace, ConfiguredDirectoryAndRolloverToBackup) {
  std::string base = Temp() + "\\brisel_trace_cfg";
  SetDword(kGenericKey, "TraceLogMaxSize", 200);
  ::RegSetKeyValueA(HKEY_LOCAL_MACHINE, kGenericKey, "TraceLogPath", REG_SZ, base.c_str(),
                    static_cast<DWORD>(base.size() + 1));
  std::string dir = base + "\\" + Computer();
  std::string file = dir + "\\roll.log";
  std::remove(file.c_str());
  std::remove((file + ".BKUP").c_str());
  tvDebugInit("talvanemo");
  tvDebugSet(2, "roll.log", 0);
  tvDebugLevel = 1;
  ASSERT_EQ(trace::CurrentFile(), file);
  for (int i = 0; i < 10; ++i) tvDebugPrint(1, "line %02d of the rollover test, long enough to grow\n", i);
  ASSERT_TRUE(Exists(file + ".BKUP"));
  std::string backup = ReadAll(file + ".BKUP");
  std::string current = ReadAll(file);
  EXPECT_GT(backup.size(), 200u);
  EXPECT_LT(current.size(), backup.size());
  EXPECT_NE(current.find("line 09"), std::string::npos);
  EXPECT_EQ(current.find("line 00"), std::string::npos);
}

TEST_F(Trace, OnlyBothGenericValuesTogetherCount) {
  SetDword(kGenericKey, "TraceLogMaxSize", 200);  // no path: neither value is used
  tvDebugInit("talvanemo");
  tvDebugSet(2, "mo.log", 0);
  EXPECT_EQ(_stricmp(trace::CurrentFile().c_str(), (Temp() + "\\Talvane_debug\\" + Computer() + "\\mo.log").c_str()),
            0);
}

TEST_F(Trace, LiteralFormatsAndLongMessages) {
  tvDebugInit("talvanemo");
  tvDebugSet(2, "literal.log", 0);
  tvDebugLevel = 1;
  std::string file = trace::CurrentFile();
  std::remove(file.c_str());
  tvDebugPrint(1, "no conversions here\n", 12345, "ignored");
  EXPECT_NE(ReadAll(file).find(" : no conversions here\r\n"), std::string::npos);

  // A message cut at the bound keeps its final line end, so the next line
  // (from any process sharing the file) starts a line of its own.
  const std::string y(trace::kMaxMessage * 2, 'y');
  const std::string y_line = y + "\n";
  const std::string kept = std::string(trace::kMaxMessage - 1, 'y') + "\r\n";
  const struct {
    const char* format;
    const char* arg;
    std::string written;
  } cases[] = {
      {"%s\n", y.c_str(), kept},
      {"%s", y_line.c_str(), kept},
      {y_line.c_str(), nullptr, kept},
      {"%s", y.c_str(), std::string(trace::kMaxMessage, 'y')},  // no line end to keep
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    std::remove(file.c_str());
    tvDebugPrint(1, cases[i].format, cases[i].arg);
    tvDebugPrint(1, "next\n");
    std::string text = ReadAll(file);
    size_t run = text.find("yyyy");
    ASSERT_NE(run, std::string::npos) << i;
    size_t next_prefix = text.find_first_not_of("y\r\n", run);  // the time stamp's first digit
    ASSERT_NE(next_prefix, std::string::npos) << i;
    EXPECT_TRUE(text.substr(run, next_prefix - run) == cases[i].written)
        << i << ": " << next_prefix - run << " bytes, ending " << text.substr(next_prefix - 3, 8);
    EXPECT_NE(text.find(" : next\r\n", next_prefix), std::string::npos) << i;
  }
}

TEST(TraceTime, SecondsAndCalendarLinesPast2038) {
  const struct {
    SYSTEMTIME utc;
    int64_t seconds;
    const char* line;
  } cases[] = {
      {{1970, 1, 4, 1, 0, 0, 0, 0}, 0, "Thu Jan  1 00:00:00 1970\n"},
      {{2026, 12, 0, 6, 17, 33, 49, 0}, 1796578429, "Sun Dec  6 17:33:49 2026\n"},
      {{2038, 1, 2, 19, 3, 14, 8, 0}, int64_t(1) << 31, "Tue Jan 19 03:14:08 2038\n"},
      {{2065, 1, 4, 1, 0, 0, 0, 0}, 2997993600, "Thu Jan  1 00:00:00 2065\n"},
      {{2106, 2, 0, 7, 6, 28, 16, 0}, int64_t(1) << 32, "Sun Feb  7 06:28:16 2106\n"},
  };
  for (const auto& c : cases) {
    FILETIME ft;
    ASSERT_TRUE(::SystemTimeToFileTime(&c.utc, &ft)) << c.line;
    EXPECT_EQ(trace::UnixSeconds((uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime), c.seconds) << c.line;
    EXPECT_EQ(trace::CalendarLine(c.utc), c.line);
  }
  EXPECT_GT(trace::UnixNow(), 1700000000);
}

TEST_F(Trace, RotationStartsTheFileWithAHeaderLine) {
  tvDebugInit("talvanemo");
  tvDebugSet(2, "rotated.log", 1);
  std::string text = ReadAll(trace::CurrentFile());
  std::regex header("\\+{6}  " + std::to_string(::GetCurrentProcessId()) +
                    "  [A-Z][a-z]{2} [A-Z][a-z]{2} [ 1-3]\\d \\d{2}:\\d{2}:\\d{2} \\d{4}\r\n");
  EXPECT_TRUE(std::regex_match(text, header)) << text;
}

TEST(TraceRegistry, ExpandedStringsReadAsStringsWithTheirLength) {
  CreateKey("SOFTWARE\\BriselRegTest");
  const char raw[] = "%SystemRoot%\\x";
  ::RegSetKeyValueA(HKEY_LOCAL_MACHINE, "SOFTWARE\\BriselRegTest", "Exp", REG_EXPAND_SZ, raw, sizeof raw);
  int type = -5;
  std::vector<BYTE> data;
  DWORD size = 0;
  ASSERT_TRUE(tvRegReadValue("BriselRegTest", "Exp", &type, &data, &size));
  EXPECT_EQ(type, kRegString);
  std::string text(reinterpret_cast<const char*>(data.data()));
  EXPECT_EQ(text.find('%'), std::string::npos) << text;
  EXPECT_EQ(size, text.size());
  EXPECT_FALSE(tvRegReadValue("BriselRegTest", "Missing", &type, &data, &size));

  std::vector<RegValueRecord> records(2);
  records[0].name = "Exp";
  records[1].name = "Missing";
  tvRegReadValues("BriselRegTest", &records);
  EXPECT_TRUE(records[0].found);
  EXPECT_FALSE(records[1].found);
  EXPECT_TRUE(records[1].data.empty());
  ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\BriselRegTest");
}

TEST(TraceRegistry, WritesRespectOverwriteAndNeverCreateKeys) {
  CreateKey("SOFTWARE\\BriselRegTest");
  SetDword("SOFTWARE\\BriselRegTest", "Kept", 7);
  std::vector<RegValueRecord> records(1);
  records[0].write = true;
  records[0].name = "Kept";
  records[0].type = kRegNumber;
  records[0].data = {9, 0, 0, 0};
  records[0].size = 4;
  EXPECT_TRUE(tvRegWriteValues("BriselRegTest", &records, false));
  DWORD v = 0;
  ASSERT_TRUE(ReadDword("SOFTWARE\\BriselRegTest", "Kept", &v));
  EXPECT_EQ(v, 7u);
  EXPECT_TRUE(tvRegWriteValues("BriselRegTest", &records, true));
  ASSERT_TRUE(ReadDword("SOFTWARE\\BriselRegTest", "Kept", &v));
  EXPECT_EQ(v, 9u);
  EXPECT_FALSE(tvRegWriteValues("BriselRegTest\\NotThere", &records, true));
  UniqueRegKey k;
  EXPECT_NE(::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\BriselRegTest\\NotThere", 0, KEY_READ, k.Put()),
            ERROR_SUCCESS);
  ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\BriselRegTest");
}

}  // namespace
