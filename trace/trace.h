// Trace facility: lines to a trace file shared by every process that uses the
// same trace module name, optionally to the console and the application log.
#pragma once

#include <atomic>
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
void StartWorker(const char* thread_name);

// Forgets the process-wide state, as in a fresh process (for tests).
void ResetState();

}  // namespace brisel::trace
