// Message texts: the insertion pass, module paths, and the cache of
// categories and message modules (bound, idle release, reload when the file
// or its path changes, redirection around each load).
#include <gtest/gtest.h>

#include <windows.h>

#include <cwchar>
#include <optional>
#include <utility>

#include "collector/strings.h"
#include "eventlog/message_text.h"
#include "eventlog/testing.h"
#include "tests/harness/dispatch.h"
#include "tests/win/eventlog/test_logs.h"

using namespace brisel;
using namespace brisel::test;

namespace {

TEST(Insertion, FillsInStringsParameterMessagesAndAccounts) {
  UniqueModule params(::LoadLibraryExW((MessageDir() + L"\\evparam.dll").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  ASSERT_TRUE(params);
  const HMODULE none = nullptr, param = params.Get();
  const std::wstring big(3000, L'x'), huge(100000, L'y'), prefix(2040, L'p');
  const struct {
    std::wstring templ;
    std::vector<std::wstring_view> strings;
    HMODULE module;
    std::wstring expected;
  } rows[] = {
      {L"%2%1%2", {L"a", L"b"}, none, L"bab"},
      {L"%01 leading zero", {L"x"}, none, L"x leading zero"},
      // A reference beyond the strings ends the substitution; the rest stays as it is.
      {L"a %1 b %3 c %2", {L"X", L"Y"}, none, L"a X b %3 c %2"},
      {L"%99999999999999 huge", {L"X"}, none, L"%99999999999999 huge"},
      // Percent signs without numbers, and width forms, stay as they are.
      {L"100% done, %0 and %x stay, 50%", {L"a"}, none, L"100% done, %0 and %x stay, 50%"},
      {L"then %%0 ends %1", {L"a"}, none, L"then %%0 ends %1"},
      {L"Value %1!s! and %2!d! kept", {L"a", L"b"}, none, L"Value a!s! and b!d! kept"},
      // Parameter messages (the run of '%' before the number goes); one that is missing stays.
      {L"Error %%%7!", {}, param, L"Error seven\r\n!"},
      {L"Error %%%6 left", {}, param, L"Error %%%6 left"},
      {L"Error %%5", {}, none, L"Error %%5"},  // the test program has no message table
      // Security identifiers that are malformed or unknown stay.
      {L"%1%2%3%4%5",
       {L"%{S-1-9-5}", L"%{S-}", L"%{S-1-5-21-1-2-3-1000}", L"%{X-1-5-18}", L"%{S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15-16-17}"},
       none, L"%{S-1-9-5}%{S-}%{S-1-5-21-1-2-3-1000}%{X-1-5-18}%{S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15-16-17}"},
      // Long texts grow the output intact, also by a piece larger than twice the text so far.
      {L"[%1][%1][%1]", {big}, none, L"[" + big + L"][" + big + L"][" + big + L"]"},
      {prefix + L"%1%2", {huge, L"!"}, none, prefix + huge + L"!"},
  };
  for (const auto& row : rows)
    EXPECT_EQ(InsertStrings(row.templ, row.strings, row.module), row.expected) << Narrow(row.templ.substr(0, 40));
}

// Sets variables of this process for one test.
struct ScopedVariables {
  void Set(const wchar_t* name, const wchar_t* value) {
    wchar_t old[1024];
    DWORD n = ::GetEnvironmentVariableW(name, old, 1024);
    saved.emplace_back(name, n > 0 && n < 1024 ? std::optional<std::wstring>(old) : std::nullopt);
    ::SetEnvironmentVariableW(name, value);
  }
  ~ScopedVariables() {
    for (auto it = saved.rbegin(); it != saved.rend(); ++it)
      ::SetEnvironmentVariableW(it->first, it->second ? it->second->c_str() : nullptr);
  }
  std::vector<std::pair<const wchar_t*, std::optional<std::wstring>>> saved;
};

// From the first to the last '%'; the program-files folders are the native
// ones where the process names them (any case).
TEST(ModulePath, ExpandsEnvironmentReferencesToTheNativeProgramFolders) {
  ScopedVariables v;
  for (auto [name, value] : {std::pair{L"BRISEL_A", L"first"}, {L"BRISEL_B", L"second"}, {L"ProgramFiles", L"C:\\PF86"},
                             {L"CommonProgramFiles", L"C:\\CF86"}, {L"ProgramFiles(x86)", L"C:\\PFX"}})
    v.Set(name, value);
  v.Set(L"BRISEL_LONG", std::wstring(600, L'z').c_str());
  const std::wstring too_long = L"%" + std::wstring(300, L'A') + L"%\\m.dll";
  const struct {
    bool program_w6432, common_w6432;
    std::wstring path;
    const wchar_t* expected;  // null: fails
  } rows[] = {
      {true, true, L"C:\\plain\\path.dll", L"C:\\plain\\path.dll"},
      {true, true, L"C:\\%BRISEL_A%\\mid\\%BRISEL_B%\\m.dll", L"C:\\first\\mid\\second\\m.dll"},
      {true, true, L"%NO_SUCH_BRISEL_VAR%\\m.dll", L"%NO_SUCH_BRISEL_VAR%\\m.dll"},
      {true, true, too_long, nullptr},
      {true, true, L"%BRISEL_LONG%\\m.dll", nullptr},
      {true, true, L"%ProgramFiles%\\App\\m.dll", L"C:\\PF\\App\\m.dll"},
      {true, false, L"%PROGRAMFILES%\\m.dll", L"C:\\PF\\m.dll"},
      {false, true, L"%ProgramFiles%\\m.dll", L"C:\\PF86\\m.dll"},
      {true, true, L"%CommonProgramFiles%\\x\\m.dll", L"C:\\CF\\x\\m.dll"},
      {true, false, L"%commonprogramfiles%\\m.dll", L"C:\\CF86\\m.dll"},
      {true, true, L"%ProgramFiles(x86)%\\m.dll", L"C:\\PFX\\m.dll"},
      {true, true, L"C:\\ProgramFiles\\m.dll", L"C:\\ProgramFiles\\m.dll"},
      {true, true, L"%ProgramFiles%\\a\\%ProgramFiles%", L"C:\\PF\\a\\C:\\PF"},
  };
  for (const auto& row : rows) {
    v.Set(L"ProgramW6432", row.program_w6432 ? L"C:\\PF" : nullptr);
    v.Set(L"CommonProgramW6432", row.common_w6432 ? L"C:\\CF" : nullptr);
    std::wstring out = L"unchanged";
    EXPECT_EQ(ExpandModulePath(row.path, &out), row.expected != nullptr) << Narrow(row.path);
    EXPECT_EQ(out, row.expected ? row.expected : L"unchanged") << Narrow(row.path);
  }
}

// A platform table that records module loads and file checks, answers the
// clock it is given, and shifts the module files' write time and size.
class Platform {
 public:
  explicit Platform(bool redirection, BOOL disable_works = TRUE) : disable_works_(disable_works) {
    current_ = this;
    api_ = {&Load, redirection ? &Disable : nullptr, redirection ? &Revert : nullptr, &Now, &Stat};
    brisel::testing::UseMessageTextApi(&api_);
  }
  ~Platform() { brisel::testing::UseMessageTextApi(nullptr); }

  std::vector<std::wstring> events;  // "disable", "stat", "load", "revert <value>"
  std::vector<std::wstring> loaded;  // file names
  uint64_t file_time = (2208988800ull + 11644473600ull) * 10000000ull;  // 2040, past a 32-bit time_t
  uint64_t write_shift = 0;
  DWORD size_shift = 0;
  bool stat_fails = false;

 private:
  static HMODULE WINAPI Load(LPCWSTR path, HANDLE file, DWORD flags) {
    current_->events.push_back(L"load");
    current_->loaded.push_back(std::wcsrchr(path, L'\\') + 1);
    return ::LoadLibraryExW(path, file, flags);
  }
  static BOOL WINAPI Stat(LPCWSTR path, GET_FILEEX_INFO_LEVELS level, LPVOID info) {
    current_->events.push_back(L"stat");
    if (current_->stat_fails) ::SetLastError(ERROR_FILE_NOT_FOUND);
    if (current_->stat_fails || !::GetFileAttributesExW(path, level, info)) return FALSE;
    auto* data = static_cast<WIN32_FILE_ATTRIBUTE_DATA*>(info);
    ULARGE_INTEGER t{{data->ftLastWriteTime.dwLowDateTime, data->ftLastWriteTime.dwHighDateTime}};
    t.QuadPart += current_->write_shift;
    data->ftLastWriteTime = {t.LowPart, t.HighPart};
    data->nFileSizeLow += current_->size_shift;
    return TRUE;
  }
  static BOOL WINAPI Disable(PVOID* old_value) {
    current_->events.push_back(L"disable");
    if (current_->disable_works_) *old_value = reinterpret_cast<PVOID>(0x5150);
    return current_->disable_works_;
  }
  static BOOL WINAPI Revert(PVOID old_value) {
    current_->events.push_back(L"revert " + std::to_wstring(reinterpret_cast<uintptr_t>(old_value)));
    return TRUE;
  }
  static void WINAPI Now(LPFILETIME now) { *now = {DWORD(current_->file_time), DWORD(current_->file_time >> 32)}; }

  static inline Platform* current_ = nullptr;
  MessageTextApi api_{};
  BOOL disable_works_;
};

class Texts : public ::testing::Test {
 protected:
  std::wstring Message(const wchar_t* source, DWORD id = 0xC00003E8, std::vector<std::wstring_view> strings = {L"a", L"b"}) {
    std::wstring text;
    EXPECT_TRUE(cache_.MessageText(id, source, strings, log_.Name(), &text));
    return Trim(text);
  }
  std::wstring Category(WORD number, bool found = true) {
    std::wstring text;
    EXPECT_EQ(cache_.CategoryText(number, L"SrcA", log_.Name(), &text), found) << number;
    return Trim(text);
  }
  // Each step an entry (none: a quiet pass), the module file it loads, and the modules kept once its pass ended.
  struct Step {
    const wchar_t* source;
    const wchar_t* loads;  // "": none
    size_t kept;
    int64_t advance = 0;        // seconds on the clock before it
    bool pass_goes_on = false;  // the next step is in the same pass
    uint64_t time_shift = 0;    // the module file's write time and size then, and whether they can be read
    DWORD size_shift = 0;
    bool unreadable = false;
    DWORD id = 0xC00003E8;
  };
  void Run(std::initializer_list<Step> steps) {
    int n = 0;
    for (const Step& s : steps) {
      SCOPED_TRACE("step " + std::to_string(n++));
      platform_.file_time += s.advance * 10000000;
      platform_.write_shift = s.time_shift;
      platform_.size_shift = s.size_shift;
      platform_.stat_fails = s.unreadable;
      if (s.source) Message(s.source, s.id);
      EXPECT_EQ(std::exchange(platform_.loaded, {}), *s.loads ? std::vector<std::wstring>{s.loads} : std::vector<std::wstring>{});
      if (!s.pass_goes_on) cache_.EndPass();
      EXPECT_EQ(cache_.LoadedModules(), s.kept);
    }
  }

  TestLog log_;
  Platform platform_{false};
  MessageTextCache cache_;
};

TEST_F(Texts, CategoryTextsAreKeptForADayByThePlatformClock) {
  EXPECT_EQ(Category(9, false), L"Category #9") << "a stand-in";
  EXPECT_EQ(Category(1), L"Disk");
  log_.AddSource(L"SrcA", nullptr, L"C:\\absent.dll", nullptr);  // the module goes: the kept text answers
  cache_.EndPass();
  platform_.file_time += MessageTextCache::kCategoryLifeSeconds * 10000000ull;
  EXPECT_EQ(Category(1), L"Disk") << "a day old";
  EXPECT_EQ(Category(9, false), L"Category #9") << "stand-ins are not kept";
  platform_.file_time += 10000000;
  EXPECT_EQ(Category(1), L"Disk") << "the clock is read once per pass";
  cache_.EndPass();
  EXPECT_EQ(Category(1, false), L"Category #1") << "older than a day";
}

TEST_F(Texts, ModulesLoadWithRedirectionOffAroundEachLoadAndCheck) {
  const struct {
    bool redirection;
    BOOL disable_works;
    std::vector<std::wstring> load, check;  // events of a load, and of a kept module's check at the next pass
  } cases[] = {{true, TRUE, {L"disable", L"stat", L"load", L"revert 20816"}, {L"disable", L"stat", L"revert 20816"}},
               {true, FALSE, {L"disable", L"stat", L"load"}, {L"disable", L"stat"}},
               {false, TRUE, {L"stat", L"load"}, {L"stat"}}};
  for (const auto& c : cases) {
    Platform platform(c.redirection, c.disable_works);
    cache_.ReleaseModules();
    if (&c == cases) {  // category texts are kept: their module is loaded once
      EXPECT_EQ(Category(2), L"Network");
      EXPECT_EQ(std::exchange(platform.events, {}), c.load) << "category modules";
      cache_.ReleaseModules();
    }
    EXPECT_EQ(Message(L"NoParam"), L"Service a entered the b state.");
    EXPECT_EQ(std::exchange(platform.events, {}), c.load);
    cache_.EndPass();
    EXPECT_EQ(Message(L"NoParam"), L"Service a entered the b state.");
    EXPECT_EQ(platform.events, c.check);
  }
}

TEST_F(Texts, UpToTheLimitTheLeastRecentlyUsedModulesGoFirst) {
  log_.AddSource(L"OnlyA", L"%BRISEL_EVMSG_DIR%\\evmsg_a.dll", nullptr, nullptr);
  log_.AddSource(L"OnlyB", L"%BRISEL_EVMSG_DIR%\\evmsg_b.dll", nullptr, nullptr);
  log_.AddSource(L"OnlyP", L"%BRISEL_EVMSG_DIR%\\evparam.dll", nullptr, nullptr);
  cache_.SetModuleLimit(2);
  // The parameter module is loaded only for a text with "%%".
  Run({{L"SrcA", L"evmsg_a.dll", 1},
       {.source = L"SrcA", .loads = L"evparam.dll", .kept = 2, .id = 1003},
       {L"OnlyA", L"", 2},
       {L"OnlyB", L"evmsg_b.dll", 2},
       {L"OnlyA", L"", 2},
       {L"OnlyP", L"evparam.dll", 2},  // B was used least recently
       {L"OnlyA", L"", 2},
       {L"OnlyB", L"evmsg_b.dll", 2},
       {L"OnlyA", L"", 2},
       {L"OnlyP", L"evparam.dll", 2}});
}

TEST_F(Texts, AKeptModuleIsLoadedAgainWhenItsFileChanged) {
  const wchar_t* a = L"evmsg_a.dll";
  Run({{L"NoParam", a, 1},
       {L"NoParam", L"", 1, 0, true},
       {L"NoParam", L"", 1},
       {L"NoParam", a, 1, 0, true, 10},   // written since
       {L"NoParam", L"", 1, 0, false, 20},  // checked once per pass, not at every entry...
       {L"NoParam", a, 1, 0, false, 20},    // ...so seen at the next
       {L"NoParam", a, 1, 0, false, 20, 4},  // another size
       {L"NoParam", a, 1, 0, false, 20, 4, true},  // cannot be checked: loaded at every pass
       {L"NoParam", a, 1, 0, false, 20, 4, true},
       {L"NoParam", a, 1, 0, false, 20, 4},
       {L"NoParam", L"", 1, 0, false, 20, 4}});
}

TEST_F(Texts, ModulesUnusedForTheIdleTimeAreUnloadedWhenAPassEnds) {
  log_.AddSource(L"OnlyA", L"%BRISEL_EVMSG_DIR%\\evmsg_a.dll", nullptr, nullptr);
  log_.AddSource(L"OnlyB", L"%BRISEL_EVMSG_DIR%\\evmsg_b.dll", nullptr, nullptr);
  cache_.SetIdleRelease(60000);
  Run({{L"OnlyA", L"evmsg_a.dll", 1},      {L"OnlyB", L"evmsg_b.dll", 2, 30}, {nullptr, L"", 2, 29},
       {nullptr, L"", 1, 1},               {L"OnlyB", L"", 1, 30},            {nullptr, L"", 1, 59},
       {nullptr, L"", 0, 1},               {L"OnlyA", L"evmsg_a.dll", 1},
       {nullptr, L"", 0, -3600}});  // a clock set back counts as idle
}

TEST_F(Texts, ModulePathChangesAreSeenAtTheNextPass) {
  const std::wstring messages = MessageDir();
  ScopedVariables v;
  v.Set(L"BRISEL_MOVED_DIR", messages.c_str());
  EXPECT_EQ(Message(L"NoParam", 2000, {L"x"}), L"x");
  const struct {
    const wchar_t* event_files;  // the new value, or null
    const wchar_t* dir;          // the new value of BRISEL_MOVED_DIR, or null
    const wchar_t* message;
  } changes[] = {
      {L"%BRISEL_EVMSG_DIR%\\evmsg_b.dll", nullptr, L"From the second module: x"},
      {L"%BRISEL_MOVED_DIR%\\evmsg_b.dll", nullptr, L"From the second module: x"},
      {nullptr, L"C:\\nowhere", L"x"},
      {nullptr, messages.c_str(), L"From the second module: x"},
  };
  for (const auto& c : changes) {
    if (c.event_files) log_.AddSource(L"NoParam", c.event_files, nullptr, nullptr);
    if (c.dir) ::SetEnvironmentVariableW(L"BRISEL_MOVED_DIR", c.dir);
    cache_.EndPass();
    EXPECT_EQ(Message(L"NoParam", 2000, {L"x"}), c.message) << Narrow(c.event_files ? c.event_files : c.dir);
  }
}

}  // namespace
