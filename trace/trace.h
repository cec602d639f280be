// Trace facility: lines to a trace file shared by every process that uses the
// same trace module name, optionally to the console and the application log.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

// Low 24 bits: the level; bit 28 asks for calendar time stamps. Trace
// statements test it before calling tvDebugPrint.
extern std::atomic<int> tvDebugLevel;

void tvDebugInit(const char* module_name);
void tvDebugSet(int mode, const char* file_name, int rotate);
void tvDebugSetName(const char* name);
void tvDebugPrint(int level, const char* format, ...);
bool qSysLog(int event_type, const char* format, ...);

namespace brisel::trace {

// Longest message a trace line or an application-log entry carries; longer
// texts are cut.
constexpr size_t kMaxMessage = 16384;

// The current trace file ("" when none) and the program name.
std::string CurrentFile();
std::string ProgramName();
// What every worker thread does first: the module's trace file "mo.log" and
// the level configured for the thread's name.
void StartWorker(const char* thread_name) noexcept;

// Forgets the process-wide state, as in a fresh process (for tests).
void ResetState();

// Time in 64 bits on both targets: the i686 C runtime's time() and ctime()
// end in January 2038.
// Seconds since 1970 (UTC) of a file time (100-ns units since 1601).
constexpr int64_t UnixSeconds(uint64_t file_time) noexcept {
  return static_cast<int64_t>(file_time / 10000000u) - 11644473600;
}
int64_t UnixNow() noexcept;
// A calendar time as ctime() writes it: "Thu Jan  1 00:00:00 2065\n".
std::string CalendarLine(const SYSTEMTIME& time);

}  // namespace brisel::trace
