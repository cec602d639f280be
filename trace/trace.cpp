#include "trace/trace.h"

#include <windows.h>

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "collector/strings.h"
#include "module/com.h"
#include "trace/registry.h"

std::atomic<int> tvDebugLevel{0};

namespace brisel::trace {

namespace {

constexpr DWORD kDefaultMaxSize = 0x200000;
constexpr const char* kGenericKey = "Talvane\\Generic\\Tracing";
constexpr const char* kLevelKeyBase = "Talvane\\Vigilor\\4.0\\Talvanemc";

struct State {
  int mode = 0;
  bool mode_set = false;
  bool config_loaded = false;
  int init_count = 0;
  std::string directory;  // base + "\" + computer name
  std::string file;       // empty when no file is in use
  DWORD max_size = kDefaultMaxSize;
  std::string program;
  std::string syslog_source;
  std::string syslog_tag;
  UniqueKernelHandle log_lock;
};

std::mutex g_lock;  // guards g_state within the process
State g_state;

// Serialises tvDebugInit and tvDebugSet across processes.
class InitMutex {
 public:
  InitMutex() : h_(::CreateMutexA(nullptr, FALSE, "tvDebugInit")) {
    if (h_) ::WaitForSingleObject(h_.Get(), INFINITE);
  }
  ~InitMutex() {
    if (h_) ::ReleaseMutex(h_.Get());
  }

 private:
  UniqueKernelHandle h_;
};

bool DirectoryUsable(const std::string& dir) {
  if (dir.empty()) return false;
  DWORD attr = ::GetFileAttributesA(dir.c_str());
  if (attr != INVALID_FILE_ATTRIBUTES) return (attr & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return ::CreateDirectoryA(dir.c_str(), nullptr) != 0;
}

std::string ComputerName() {
  char name[MAX_COMPUTERNAME_LENGTH + 2] = {};
  DWORD n = sizeof(name);
  if (!::GetComputerNameA(name, &n)) return std::string();
  return std::string(name, n);
}

// Directory and maximum size, from the registry when both values are there.
void LoadConfigLocked() {
  std::vector<RegValueRecord> values(2);
  values[0].name = "TraceLogMaxSize";
  values[1].name = "TraceLogPath";
  tvRegReadValues(kGenericKey, &values);
  bool configured = values[0].found && values[0].type == kRegNumber && values[0].data.size() == 4 &&
                    values[1].found && values[1].type == kRegString && !values[1].data.empty() &&
                    values[1].data[0] != 0;
  std::string base;
  g_state.max_size = kDefaultMaxSize;
  if (configured) {
    DWORD size = 0;
    std::memcpy(&size, values[0].data.data(), 4);
    g_state.max_size = size == 0 ? kDefaultMaxSize : size;
    std::string path(reinterpret_cast<const char*>(values[1].data.data()), values[1].data.size());
    path.resize(std::strlen(path.c_str()));
    if (DirectoryUsable(path)) base = path;
  }
  if (base.empty()) {
    char temp[MAX_PATH] = {};
    DWORD n = ::GetEnvironmentVariableA("temp", temp, sizeof(temp));
    if (n > 0 && n < sizeof(temp)) {
      std::string candidate = std::string(temp) + "\\Talvane_debug";
      if (DirectoryUsable(candidate)) base = candidate;
    }
  }
  if (base.empty()) {
    base = "\\temp\\Talvane_debug";
    ::CreateDirectoryA("\\temp", nullptr);
    ::CreateDirectoryA(base.c_str(), nullptr);
  }
  g_state.directory = base + "\\" + ComputerName();
  ::CreateDirectoryA(g_state.directory.c_str(), nullptr);
  g_state.config_loaded = true;
}

bool CanAppend(const std::string& path) {
  UniqueStdFile f(std::fopen(path.c_str(), "a+"));
  return f != nullptr;
}

// A message cut at the bound keeps its final line end: lines carry their
// own, and without it the next line written to the file (by any thread or
// process) would be glued to this one.
void CutKeepingLineEnd(std::string* text, bool ends_line) {
  if (text->size() <= kMaxMessage) return;
  text->resize(kMaxMessage);
  if (ends_line) text->back() = '\n';
}

std::string Format(const char* format, va_list args) {
  // Without a "%" the format is the text, whatever arguments came along.
  if (!std::strchr(format, '%')) {
    std::string text(format);
    CutKeepingLineEnd(&text, !text.empty() && text.back() == '\n');
    return text;
  }
  std::string text(kMaxMessage + 1, '\0');
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(text.data(), text.size(), format, copy);
  va_end(copy);
  if (n < 0) return std::string();
  if (static_cast<size_t>(n) <= kMaxMessage) {
    text.resize(static_cast<size_t>(n));
    return text;
  }
  // Only an overlong message is formatted whole, to learn how it ends.
  bool ends_line = false;
  try {
    std::string whole(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(whole.data(), whole.size(), format, args);
    ends_line = whole[static_cast<size_t>(n) - 1] == '\n';
  } catch (const std::bad_alloc&) {
    ends_line = format[std::strlen(format) - 1] == '\n';  // a literal line end at least
  }
  CutKeepingLineEnd(&text, ends_line);
  return text;
}

std::string TimeStamp(int level) {
  if (((level | tvDebugLevel.load()) & 0x10000000) != 0) {
    SYSTEMTIME t;
    ::GetLocalTime(&t);
    char buf[32];
    std::snprintf(buf, sizeof(buf), "%02d/%02d:%02d:%02d:%02d", t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
    return buf;
  }
  return std::to_string(static_cast<long long>(UnixNow()));
}

void WriteLine(int level, const std::string& message) {
  std::string prefix;
  std::string file;
  int mode = 0;
  HANDLE log_lock = nullptr;
  DWORD max_size = kDefaultMaxSize;
  {
    std::lock_guard lock(g_lock);
    prefix = TimeStamp(level) + " " + g_state.program + "[" + std::to_string(::GetCurrentThreadId()) + "] : ";
    file = g_state.file;
    mode = g_state.mode;
    log_lock = g_state.log_lock.Get();
    max_size = g_state.max_size;
  }
  if (log_lock) ::WaitForSingleObject(log_lock, INFINITE);
  if (mode & 1) {
    std::fputs(prefix.c_str(), stdout);
    std::fputs(message.c_str(), stdout);
    std::fflush(stdout);
  }
  if ((mode & 2) && !file.empty()) {
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (::GetFileAttributesExA(file.c_str(), GetFileExInfoStandard, &info) &&
        (info.nFileSizeHigh != 0 || info.nFileSizeLow > max_size)) {
      std::string backup = file + ".BKUP";
      std::remove(backup.c_str());
      std::rename(file.c_str(), backup.c_str());  // a failed rename leaves the file growing
    }
    UniqueStdFile f(std::fopen(file.c_str(), "a+"));
    if (f) {
      std::fputs(prefix.c_str(), f.get());
      std::fputs(message.c_str(), f.get());
    }
  }
  if (log_lock) ::ReleaseMutex(log_lock);
}

bool SysLog(int event_type, const std::string& message) {
  std::string source;
  std::string text;
  {
    std::lock_guard lock(g_lock);
    source = g_state.syslog_source.empty() ? "Talvane_misc" : g_state.syslog_source;
    if (!g_state.syslog_tag.empty()) text = "[" + g_state.syslog_tag + "] ";
  }
  text += message;
  if (text.size() > kMaxMessage) text.resize(kMaxMessage);
  UniqueEventLogSource h(::RegisterEventSourceA(nullptr, source.c_str()));
  if (!h) {
    std::printf("qSysLog: failed to register event source with %lu\n", ::GetLastError());
    return false;
  }
  const char* strings[1] = {text.c_str()};
  BOOL ok = ::ReportEventA(h.Get(), static_cast<WORD>(event_type), 1, 0x40000103, nullptr, 1, 0, strings, nullptr);
  if (!ok) std::printf("qSysLog: failed to report nt event with %lu\n", ::GetLastError());
  return ok != 0;
}

}  // namespace

std::string CurrentFile() {
  std::lock_guard lock(g_lock);
  return g_state.file;
}

std::string ProgramName() {
  std::lock_guard lock(g_lock);
  return g_state.program;
}

void StartWorker(const char* thread_name) noexcept {
  // A worker runs without tracing rather than not at all.
  try {
    tvDebugInit("talvanemo");
    tvDebugSet(2, "mo.log", 0);
    tvDebugSetName(thread_name);
  } catch (...) {
  }
}

int64_t UnixNow() noexcept {
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  return UnixSeconds((uint64_t(now.dwHighDateTime) << 32) | now.dwLowDateTime);
}

std::string CalendarLine(const SYSTEMTIME& t) {
  static const char kDays[] = "SunMonTueWedThuFriSat";
  static const char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.3s %.3s %2d %02d:%02d:%02d %d\n", kDays + 3 * (t.wDayOfWeek % 7),
                kMonths + 3 * ((t.wMonth + 11) % 12), t.wDay, t.wHour, t.wMinute, t.wSecond, t.wYear);
  return buf;
}

void ResetState() {
  std::lock_guard lock(g_lock);
  g_state = State();
  tvDebugLevel = 0;
}

}  // namespace brisel::trace

using namespace brisel;
using namespace brisel::trace;

void tvDebugInit(const char* module_name) {
  InitMutex init;
  std::lock_guard lock(g_lock);
  ++g_state.init_count;
  if (!g_state.log_lock && module_name) g_state.log_lock.Reset(::CreateMutexA(nullptr, FALSE, module_name));
  if (!g_state.mode_set && !g_state.config_loaded) LoadConfigLocked();
}

void tvDebugSet(int mode, const char* file_name, int rotate) {
  if (mode < 1 || mode > 3) {
    std::printf("tvDebugSet: invalid debug mode %d encountered\n", mode);
    return;
  }
  InitMutex init;
  std::lock_guard lock(g_lock);
  g_state.mode = g_state.mode_set ? (g_state.mode | mode) : mode;
  g_state.mode_set = true;
  if (!(mode & 2)) return;
  if (!g_state.config_loaded) LoadConfigLocked();
  std::string chosen;
  if (file_name && *file_name && !std::strchr(file_name, '\\')) {
    std::string named = g_state.directory + "\\" + file_name;
    if (CanAppend(named)) chosen = named;
  }
  if (chosen.empty()) {
    char own[MAX_PATH + 32];
    std::snprintf(own, sizeof(own), "%s\\tv%d.log", g_state.directory.c_str(), static_cast<int>(::GetCurrentProcessId()));
    if (CanAppend(own)) {
      chosen = own;
    } else {
      std::printf("tvDebugSet: invalid file <%s>\n", own);
      return;
    }
  }
  g_state.file = chosen;
  if (rotate) {
    std::string old = chosen + ".OLD";
    std::remove(old.c_str());
    std::rename(chosen.c_str(), old.c_str());
    UniqueStdFile f(std::fopen(chosen.c_str(), "w+"));
    if (f) {
      SYSTEMTIME now;
      ::GetLocalTime(&now);
      std::fprintf(f.get(), "++++++  %d  %s", static_cast<int>(::GetCurrentProcessId()), CalendarLine(now).c_str());
    }
  }
}

void tvDebugSetName(const char* name) {
  if (!name) return;
  {
    std::lock_guard lock(g_lock);
    if (g_state.program.empty()) g_state.program = name;
  }
  std::string lower(name);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::string key = std::string(kLevelKeyBase) + "\\" + "Tracing";
  std::string value = "TraceMO" + lower;
  int type = 0;
  std::vector<BYTE> data;
  DWORD size = 0;
  DWORD level = 16;
  if (tvRegReadValue(key.c_str(), value.c_str(), &type, &data, &size) && type == kRegNumber && data.size() >= 4) {
    std::memcpy(&level, data.data(), 4);
  } else {
    std::vector<RegValueRecord> records(1);
    records[0].write = true;
    records[0].name = value;
    records[0].type = kRegNumber;
    records[0].data.resize(4);
    std::memcpy(records[0].data.data(), &level, 4);
    records[0].size = 4;
    // Only where there is no value: one of another type is an
    // administrator's, and this run uses 16 without touching it.
    tvRegWriteValues(key.c_str(), &records, false);
  }
  if (level != 0) tvDebugLevel = static_cast<int>((level & 0x10) ? level - 15 : level);
  std::lock_guard lock(g_lock);
  g_state.syslog_source = "Talvane_MO";
  g_state.syslog_tag = g_state.program + "_MO";
}

void tvDebugPrint(int level, const char* format, ...) {
  if (!format) return;
  int need = level & 0xFFFFFF;
  int route = level & 0x23000000;
  int have = tvDebugLevel.load() & 0xFFFFFF;
  if (have < need && route == 0) return;
  va_list args;
  va_start(args, format);
  // Callers trace from threads and paths where nothing may throw: a line
  // that cannot be allocated is lost, never the caller.
  try {
    std::string message = Format(format, args);
    if (have >= need) WriteLine(level, message);
    switch (route) {
      case 0x20000000: SysLog(EVENTLOG_INFORMATION_TYPE, message); break;
      case 0x21000000: SysLog(EVENTLOG_WARNING_TYPE, message); break;
      case 0x22000000: SysLog(EVENTLOG_ERROR_TYPE, message); break;
      default: break;
    }
  } catch (...) {
  }
  va_end(args);
}

bool qSysLog(int event_type, const char* format, ...) {
  if (!format) return false;
  va_list args;
  va_start(args, format);
  std::string message = Format(format, args);
  va_end(args);
  return SysLog(event_type, message);
}
