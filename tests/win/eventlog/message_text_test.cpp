// Message texts: the insertion pass, module paths, and the cache of
// categories and message modules.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <optional>
#include <sstream>
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
      {L"Error %%7", {}, none, L"Error %%7"},  // the test program has no message table
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

// Sets variables of this process for one test and puts the old values back.
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
      {true, false, L"%PROGRAMFILES%\\m.dll", L"C:\\PF\\m.dll"},
      {false, true, L"%ProgramFiles%\\m.dll", L"C:\\PF86\\m.dll"},
      {true, true, L"%CommonProgramFiles%\\x\\m.dll", L"C:\\CF\\x\\m.dll"},
      {true, false, L"%commonprogramfiles%\\m.dll", L"C:\\CF86\\m.dll"},
      {true, true, L"%ProgramFiles(x86)%\\m.dll", L"C:\\PFX\\m.dll"},
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

// A platform table that notes the module files loaded ('a', 'b', 'p'),
// answers the clock it is given, and shifts the module files' write time and
// size, or fails to read them (and then fails to turn redirection off).
class Texts : public ::testing::Test {
 protected:
  Texts() {
    current_ = this;
    brisel::testing::UseMessageTextApi(&api_);
  }
  ~Texts() override { brisel::testing::UseMessageTextApi(nullptr); }

  std::wstring Category(WORD number, bool found = true) {
    std::wstring text;
    EXPECT_EQ(cache_->CategoryText(number, L"SrcA", log_.Name(), &text), found) << number;
    return Trim(text);
  }

  // The steps of a scenario on a fresh cache:
  //   A B P S  a message of source NoParam (module a), OnlyB (b), OnlyP (p), SrcA (a, then b, parameters p);
  //   S%  SrcA's message with a parameter;  :ap  the module files its lookup loaded;
  //   |2  the pass ends with 2 modules kept;  +30  the clock 30 s on;  lim2  at most 2 modules kept;
  //   t10 s4  the module files' write time and size shifted;  x1  their stamp cannot be read (x0: can);
  //   redirect  the platform turns redirection off, noted '(', and back, noted ')'.
  void Run(const char* steps) {
    cache_.emplace();
    api_ = {&Load, nullptr, nullptr, &Now, &Stat};
    std::istringstream in(steps);
    for (std::string s; in >> s;) {
      SCOPED_TRACE(s);
      const char* p = s.c_str();
      int n = 0;
      if (std::sscanf(p, "|%d", &n) == 1) {
        cache_->EndPass();
        EXPECT_EQ(cache_->LoadedModules(), size_t(n));
      } else if (std::sscanf(p, "+%d", &n) == 1) file_time_ += n * 10000000ll;
      else if (std::sscanf(p, "lim%d", &n) == 1) cache_->SetModuleLimit(n);
      else if (std::sscanf(p, "t%d", &n) == 1) write_shift_ = n;
      else if (std::sscanf(p, "s%d", &n) == 1) size_shift_ = n;
      else if (std::sscanf(p, "x%d", &n) == 1) stat_fails_ = n != 0;
      else if (s == "redirect") api_ = {&Load, &Disable, &Revert, &Now, &Stat};
      else {
        const wchar_t* source = s[0] == 'A' ? L"NoParam" : s[0] == 'B' ? L"OnlyB" : s[0] == 'P' ? L"OnlyP" : L"SrcA";
        std::wstring text;
        cache_->MessageText(s[1] == '%' ? 1003 : 0xC00003E8, source, {L"a", L"b"}, log_.Name(), &text);
        EXPECT_EQ(std::exchange(loaded_, ""), s.substr(s.find(':') + 1));
      }
    }
  }

  static HMODULE WINAPI Load(LPCWSTR path, HANDLE file, DWORD flags) {
    current_->loaded_ += std::wcsstr(path, L"evparam") ? 'p' : char(path[std::wcslen(path) - 5]);
    return ::LoadLibraryExW(path, file, flags);
  }
  static BOOL WINAPI Stat(LPCWSTR path, GET_FILEEX_INFO_LEVELS level, LPVOID info) {
    if (current_->stat_fails_ || !::GetFileAttributesExW(path, level, info)) return FALSE;
    auto* data = static_cast<WIN32_FILE_ATTRIBUTE_DATA*>(info);
    data->ftLastWriteTime.dwLowDateTime += current_->write_shift_;
    data->nFileSizeLow += current_->size_shift_;
    return TRUE;
  }
  static void WINAPI Now(LPFILETIME now) { *now = {DWORD(current_->file_time_), DWORD(current_->file_time_ >> 32)}; }
  static BOOL WINAPI Disable(PVOID* old_value) {
    current_->loaded_ += '(';
    *old_value = current_->stat_fails_ ? nullptr : &current_->loaded_;
    return !current_->stat_fails_;
  }
  static BOOL WINAPI Revert(PVOID old_value) {
    current_->loaded_ += old_value == &current_->loaded_ ? ')' : '?';
    return TRUE;
  }

  static inline Texts* current_ = nullptr;
  MessageTextApi api_{&Load, nullptr, nullptr, &Now, &Stat};
  std::string loaded_;
  uint64_t file_time_ = (2208988800ull + 11644473600ull) * 10000000ull;  // 2040, past a 32-bit time_t
  DWORD write_shift_ = 0, size_shift_ = 0;
  bool stat_fails_ = false;
  TestLog log_;
  std::optional<MessageTextCache> cache_{std::in_place};
};

TEST_F(Texts, CategoryTextsAreKeptForADayByThePlatformClock) {
  EXPECT_EQ(Category(9, false), L"Category #9") << "a stand-in";
  EXPECT_EQ(Category(1), L"Disk");
  log_.AddSource(L"SrcA", nullptr, L"C:\\absent.dll");  // the module goes: the kept text answers
  cache_->EndPass();
  file_time_ += MessageTextCache::kCategoryLifeSeconds * 10000000ull;
  EXPECT_EQ(Category(1), L"Disk") << "a day old";
  EXPECT_EQ(Category(9, false), L"Category #9") << "stand-ins are not kept";
  file_time_ += 10000000;
  EXPECT_EQ(Category(1), L"Disk") << "the clock is read once per pass";
  cache_->EndPass();
  EXPECT_EQ(Category(1, false), L"Category #1") << "older than a day";
}

TEST_F(Texts, KeptModulesGoWhenIdleOrLeastRecentlyUsedAndLoadAgainWhenTheirFileChanged) {
  const struct {
    const char* name;
    const char* steps;
  } scenarios[] = {
      // A parameter module is loaded only for a text with "%%".
      {"least recently used out first", "lim2 S:a |1 S%:p |2 A: |2 B:b |2 A: |2 P:p |2 A: |2 B:b |2 A: |2 P:p |2"},
      // A clock set back counts as idle.
      {"unused for 60 s", "A:a |1 +30 B:b |2 +29 |2 +1 |1 +30 B: |1 +59 |1 +1 |0 A:a |1 +-3600 |0"},
      // Checked at the first use in a pass; one that cannot be checked is loaded at every pass.
      {"file changed", "A:a |1 A: A: |1 t10 A:a t20 A: |1 A:a |1 s4 A:a |1 x1 A:a |1 A:a |1 x0 A:a |1 A: |1"},
      // Around each load, and around the check of a kept module at its first use in a pass.
      {"redirection off", "redirect A:(a) A: |1 A:() |1 x1 A:((a |1"},
  };
  for (const auto& s : scenarios) {
    SCOPED_TRACE(s.name);
    Run(s.steps);
  }
}

}  // namespace
