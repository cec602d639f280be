// Texts of an event-log entry: its category and its message, built from the
// message modules that the entry's source names in the registry.
#pragma once

#include <windows.h>

#include <cstdint>
#include <atomic>
#include <functional>
#include <list>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "module/com.h"

namespace brisel {

constexpr wchar_t kEventLogKey[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog";

// The platform calls of the message texts, as one table. The product fills
// it with the platform's functions; tests put their own behind it
// (eventlog/testing.h).
struct MessageTextApi {
  HMODULE(WINAPI* LoadLibraryExW)(LPCWSTR path, HANDLE file, DWORD flags);
  // File-system redirection of a 32-bit process on 64-bit Windows, for the
  // calling thread; both null where there is none to turn off (32-bit
  // Windows, the x86_64 build).
  BOOL(WINAPI* DisableRedirection)(PVOID* old_value);
  BOOL(WINAPI* RevertRedirection)(PVOID old_value);
  // The clock of the category cache.
  void(WINAPI* GetSystemTimeAsFileTime)(LPFILETIME now);
  // The write time and size a kept module is checked against.
  BOOL(WINAPI* GetFileAttributesExW)(LPCWSTR path, GET_FILEEX_INFO_LEVELS level, LPVOID info);
};

// The table in use.
const MessageTextApi& MessageTexts() noexcept;

namespace detail {
// Null for the platform's table; only eventlog/testing.cpp sets it.
extern std::atomic<const MessageTextApi*> g_message_text_override;
}  // namespace detail

// A module path's references to the program-files folders, rewritten to the
// variables that name the native folders where the process has them: in a
// 32-bit process on 64-bit Windows %ProgramFiles% and %CommonProgramFiles%
// name the x86 folders, while the registry names the native ones, which the
// system offers as %ProgramW6432% and %CommonProgramW6432%. Any case.
std::wstring NativeFolderReferences(std::wstring_view path, bool has_program_w6432, bool has_common_w6432);

// Fills in the insertion strings (%n), parameter messages (%%n, looked up
// in param_module, or in the main executable when it is null) and account
// names (%{S-...}) of a message template. None when memory runs out.
std::optional<std::wstring> InsertStrings(std::wstring_view templ, const std::vector<std::wstring_view>& strings,
                                          HMODULE param_module);

// Environment references of a module path, from the first to the last '%',
// expanded (the program-files ones to the native folders, as above); a path
// without '%' is used as it is. False when expansion fails.
bool ExpandModulePath(std::wstring_view path, std::wstring* out);

// "domain\name" of a security identifier written as text after "%{S-"
// (such as "1-5-18"); false when it is malformed or does not resolve.
bool ResolveSidText(std::wstring_view text, std::wstring* account);

// "domain\name" of a binary security identifier, looked up on system (null
// for this machine).
bool LookupAccount(const wchar_t* system, PSID sid, std::wstring* account);

// Category texts (kept for a day); the message modules, kept across passes
// while in use (at most kModuleLimit, the least recently used out first,
// none longer than kIdleReleaseMs without use, loaded again when the file's
// write time or size changed); and, for one collection pass, the registry
// values that name them and their expanded paths.
class MessageTextCache {
 public:
  static constexpr int64_t kCategoryLifeSeconds = 86400;
  static constexpr size_t kModuleLimit = 64;
  static constexpr DWORD kIdleReleaseMs = 60000;
  using Clock = std::function<int64_t()>;

  MessageTextCache();
  MessageTextCache(const MessageTextCache&) = delete;
  MessageTextCache& operator=(const MessageTextCache&) = delete;

  // The category text; false when it is the "Category #n" stand-in.
  bool CategoryText(WORD category, const std::wstring& source, const std::wstring& log, std::wstring* text);
  // The message: from the source's modules, else the strings joined by ','.
  bool MessageText(DWORD event_id, const std::wstring& source, const std::vector<std::wstring_view>& strings,
                   const std::wstring& log, std::wstring* text);

  // "domain\name" of an entry's user, looked up on the entry's computer;
  // kept for the pass, as a lookup that names a computer is slow.
  bool Account(const std::wstring& computer, PSID sid, std::wstring* account);

  // Releases the registry values and accounts kept during a pass, and the
  // modules no pass has used for the idle time.
  void EndPass() noexcept;
  // Unloads every kept module.
  void ReleaseModules() noexcept;

  // Without caching every entry loads and unloads its modules, reads the
  // registry and expands the paths again (for measurements).
  void SetCaching(bool on) noexcept;
  void SetModuleLimit(size_t limit) noexcept { module_limit_ = limit; }
  void SetIdleRelease(DWORD ms) noexcept { idle_release_ms_ = ms; }
  DWORD IdleRelease() const noexcept { return idle_release_ms_; }
  void SetClock(Clock clock) { clock_ = std::move(clock); }
  size_t CategoryCount() const noexcept { return categories_.size(); }
  size_t LoadedModules() const noexcept { return lru_.size(); }

 private:
  struct SourceValues {
    bool has_event_files = false;
    std::wstring event_files;
    bool has_parameter_file = false;
    std::wstring parameter_file;
    // Expanded at the first entry that needs them (the variables are read
    // once per pass): the event files up to the first that does not expand,
    // and the parameter file, none when it does not expand.
    bool event_paths_made = false;
    std::vector<std::wstring> event_paths;
    bool parameter_path_made = false;
    std::optional<std::wstring> parameter_path;
  };
  // A module file's last write time and size; unknown when they could not be read.
  struct FileStamp {
    bool known = false;
    uint64_t write_time = 0;
    uint64_t size = 0;
    bool Same(const FileStamp& o) const noexcept {
      return known && o.known && write_time == o.write_time && size == o.size;
    }
  };
  struct KeptModule {
    std::wstring path;  // expanded
    UniqueModule module;
    FileStamp stamp;
    uint64_t pass = 0;      // the last pass that used it
    int64_t last_used = 0;  // the clock at the end of that pass
  };
  using ModuleList = std::list<KeptModule>;

  bool CachedCategory(const std::wstring& key, std::wstring* text);
  // The clock, read once per pass with caching (the platform's clock
  // is slow enough to matter per entry).
  int64_t Now();
  SourceValues& Values(const std::wstring& log, const std::wstring& source, SourceValues* scratch);
  static const std::vector<std::wstring>& EventPaths(SourceValues* values);
  // A module loaded as a data file, or null. Kept in the cache, or owned by
  // *holder without it. Valid until the next call: a load may unload the
  // least recently used module.
  HMODULE Module(const std::wstring& path, UniqueModule* holder);
  static FileStamp StampOf(const MessageTextApi& api, const std::wstring& path);

  Clock clock_;
  int64_t created_ = 0;
  int64_t pass_now_ = 0;
  std::map<std::wstring, std::wstring> categories_;
  bool caching_ = true;
  size_t module_limit_ = kModuleLimit;
  DWORD idle_release_ms_ = kIdleReleaseMs;
  ModuleList lru_;  // most recently used first
  std::unordered_map<std::wstring_view, ModuleList::iterator> modules_;  // keys view the paths in lru_
  uint64_t pass_ = 1;
  // Paths that did not load in this pass; tried again at the next.
  std::unordered_set<std::wstring> failed_;
  std::unordered_map<std::wstring, SourceValues> values_;
  std::unordered_map<std::wstring, std::optional<std::wstring>> accounts_;
};

}  // namespace brisel
