// Message and category texts: the insertion pass, module paths, account
// names, the message modules of a source, the category cache and its expiry,
// and the per-pass module cache.
#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <optional>

#include "collector/strings.h"
#include "eventlog/message_text.h"
#include "eventlog/testing.h"
#include "tests/harness/dispatch.h"
#include "tests/win/eventlog/test_logs.h"

using namespace brisel;
using namespace brisel::test;

namespace {

std::wstring Insert(std::wstring_view templ, std::vector<std::wstring_view> strings, HMODULE module = nullptr) {
  auto text = InsertStrings(templ, strings, module);
  EXPECT_TRUE(text.has_value());
  return text ? *text : L"<none>";
}

std::wstring AccountOf(const wchar_t* sid_text) {
  PSID sid = nullptr;
  if (!::ConvertStringSidToSidW(sid_text, &sid)) return L"";
  UniqueLocalMemory owner(sid);
  std::wstring account;
  return LookupAccount(nullptr, sid, &account) ? account : L"";
}

UniqueModule LoadMessages(const wchar_t* name) {
  return UniqueModule(::LoadLibraryExW((MessageDir() + L"\\" + name).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
}

TEST(Insertion, NumberedStringsAreInserted) {
  EXPECT_EQ(Insert(L"Service %1 entered the %2 state.", {L"Spooler", L"running"}),
            L"Service Spooler entered the running state.");
  EXPECT_EQ(Insert(L"%2%1%2", {L"a", L"b"}), L"bab");
  EXPECT_EQ(Insert(L"%01 leading zero", {L"x"}), L"x leading zero");
}

TEST(Insertion, AReferenceBeyondTheStringsEndsTheSubstitution) {
  EXPECT_EQ(Insert(L"%3", {L"a", L"b"}), L"%3");
  EXPECT_EQ(Insert(L"a %1 b %3 c %2", {L"X", L"Y"}), L"a X b %3 c %2");
  EXPECT_EQ(Insert(L"%99999999999999 huge", {L"X"}), L"%99999999999999 huge");
  EXPECT_EQ(Insert(L"%1", {}), L"%1");
}

TEST(Insertion, PercentSignsWithoutNumbersStay) {
  EXPECT_EQ(Insert(L"100% done", {}), L"100% done");
  EXPECT_EQ(Insert(L"50%", {}), L"50%");
  EXPECT_EQ(Insert(L"%0 stays, %x stays", {L"a"}), L"%0 stays, %x stays");
  EXPECT_EQ(Insert(L"then %%0 ends %1", {L"a"}), L"then %%0 ends %1");
  EXPECT_EQ(Insert(L"tail %%", {}), L"tail %%");
}

TEST(Insertion, WidthFormsAreLeftAsText) {
  EXPECT_EQ(Insert(L"Value %1!s! and %2!d! kept", {L"a", L"b"}), L"Value a!s! and b!d! kept");
}

TEST(Insertion, ParameterMessagesComeFromTheParameterModule) {
  // The test program has no message table: the number stays as text.
  EXPECT_EQ(Insert(L"Error %%5", {}), L"Error %%5");
  UniqueModule params = LoadMessages(L"evparam.dll");
  ASSERT_TRUE(params);
  EXPECT_EQ(Trim(Insert(L"Error %%5", {}, params.Get())), L"Error Access is denied.");
  EXPECT_EQ(Trim(Insert(L"Error %%%7!", {}, params.Get())), L"Error seven\r\n!");
  EXPECT_EQ(Insert(L"Error %%%6 left", {}, params.Get()), L"Error %%%6 left");
}

TEST(Insertion, SecurityIdentifiersBecomeAccountNames) {
  std::wstring system = AccountOf(L"S-1-5-18");
  ASSERT_FALSE(system.empty());
  EXPECT_NE(system.find(L'\\'), std::wstring::npos);
  EXPECT_EQ(Insert(L"by %1.", {L"%{S-1-5-18}"}), L"by " + system + L".");
  // Malformed or unknown identifiers stay as they are.
  for (const wchar_t* kept : {L"%{S-1-9-5}", L"%{S-}", L"%{S-1-5-21-1-2-3-1000}", L"%{X-1-5-18}",
                              L"%{S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15-16-17}"})
    EXPECT_EQ(Insert(L"%1", {kept}), kept);
}

TEST(Insertion, LongTextsGrowTheOutputIntact) {
  std::wstring big(3000, L'x');
  EXPECT_EQ(Insert(L"[%1][%1][%1]", {big}), L"[" + big + L"][" + big + L"][" + big + L"]");
  // A piece larger than twice the text written so far.
  std::wstring huge(100000, L'y');
  std::wstring prefix(2040, L'p');
  EXPECT_EQ(Insert(prefix + L"%1%2", {huge, L"!"}), prefix + huge + L"!");
}

TEST(ModulePath, EnvironmentReferencesAreExpandedFromFirstToLastPercent) {
  std::wstring out;
  ASSERT_TRUE(ExpandModulePath(L"C:\\plain\\path.dll", &out));
  EXPECT_EQ(out, L"C:\\plain\\path.dll");
  ASSERT_TRUE(::SetEnvironmentVariableW(L"BRISEL_A", L"first"));
  ASSERT_TRUE(::SetEnvironmentVariableW(L"BRISEL_B", L"second"));
  ASSERT_TRUE(ExpandModulePath(L"C:\\%BRISEL_A%\\mid\\%BRISEL_B%\\m.dll", &out));
  EXPECT_EQ(out, L"C:\\first\\mid\\second\\m.dll");
  ASSERT_TRUE(ExpandModulePath(L"%NO_SUCH_BRISEL_VAR%\\m.dll", &out));
  EXPECT_EQ(out, L"%NO_SUCH_BRISEL_VAR%\\m.dll");
}

TEST(ModulePath, OverlongPiecesOrExpansionsFail) {
  std::wstring out = L"unchanged";
  EXPECT_FALSE(ExpandModulePath(L"%" + std::wstring(300, L'A') + L"%\\m.dll", &out));
  ASSERT_TRUE(::SetEnvironmentVariableW(L"BRISEL_LONG", std::wstring(600, L'z').c_str()));
  EXPECT_FALSE(ExpandModulePath(L"%BRISEL_LONG%\\m.dll", &out));
  EXPECT_EQ(out, L"unchanged");
}

TEST(ModulePath, ProgramFilesReferencesNameTheNativeFolders) {
  const struct {
    const wchar_t* path;
    bool program_w6432, common_w6432;
    const wchar_t* expected;
  } cases[] = {
      {L"%ProgramFiles%\\App\\m.dll", true, true, L"%ProgramW6432%\\App\\m.dll"},
      {L"%PROGRAMFILES%\\m.dll", true, false, L"%ProgramW6432%\\m.dll"},
      {L"%ProgramFiles%\\m.dll", false, true, L"%ProgramFiles%\\m.dll"},
      {L"%CommonProgramFiles%\\x\\m.dll", true, true, L"%CommonProgramW6432%\\x\\m.dll"},
      {L"%commonprogramfiles%\\m.dll", true, false, L"%commonprogramfiles%\\m.dll"},
      {L"%ProgramFiles(x86)%\\m.dll", true, true, L"%ProgramFiles(x86)%\\m.dll"},
      {L"%SystemRoot%\\System32\\m.dll", true, true, L"%SystemRoot%\\System32\\m.dll"},
      {L"C:\\ProgramFiles\\m.dll", true, true, L"C:\\ProgramFiles\\m.dll"},
      {L"%ProgramFiles%\\a\\%ProgramFiles%", true, true, L"%ProgramW6432%\\a\\%ProgramW6432%"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(NativeFolderReferences(c.path, c.program_w6432, c.common_w6432), c.expected) << test::Narrow(c.path);
}

// Sets a variable of this process for one test.
class ScopedVariable {
 public:
  ScopedVariable(const wchar_t* name, const wchar_t* value) : name_(name) {
    wchar_t buf[1024];
    DWORD n = ::GetEnvironmentVariableW(name, buf, 1024);
    if (n > 0 && n < 1024) old_ = std::wstring(buf, n);
    ::SetEnvironmentVariableW(name, value);
  }
  ~ScopedVariable() { ::SetEnvironmentVariableW(name_, old_ ? old_->c_str() : nullptr); }

 private:
  const wchar_t* name_;
  std::optional<std::wstring> old_;
};

TEST(ModulePath, ProgramFilesExpandToTheNativeFolderWhereOffered) {
  ScopedVariable x86(L"ProgramFiles", L"C:\\Programs x86");
  ScopedVariable native(L"ProgramW6432", L"C:\\Programs native");
  std::wstring out;
  ASSERT_TRUE(ExpandModulePath(L"%ProgramFiles%\\App\\m.dll", &out));
  EXPECT_EQ(out, L"C:\\Programs native\\App\\m.dll");
  ASSERT_TRUE(::SetEnvironmentVariableW(L"ProgramW6432", nullptr));
  ASSERT_TRUE(ExpandModulePath(L"%ProgramFiles%\\App\\m.dll", &out));
  EXPECT_EQ(out, L"C:\\Programs x86\\App\\m.dll");
}

TEST(MessageTextPlatform, RedirectionIsTurnedOffOnlyInA32BitProcessOn64BitWindows) {
  BOOL wow64 = FALSE;
  bool redirected = sizeof(void*) == 4 && ::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64;
  EXPECT_EQ(MessageTexts().DisableRedirection != nullptr, redirected);
  EXPECT_EQ(MessageTexts().RevertRedirection != nullptr, redirected);
  EXPECT_NE(MessageTexts().LoadLibraryExW, nullptr);
}

// A platform table that records how modules are loaded, the clock it is
// given, and whether redirection was off at each load.
class RecordingPlatform {
 public:
  explicit RecordingPlatform(bool redirection, BOOL disable_result = TRUE) : disable_result_(disable_result) {
    current_ = this;
    api_ = {&Load, redirection ? &Disable : nullptr, redirection ? &Revert : nullptr, &Now, &Attributes};
    brisel::testing::UseMessageTextApi(&api_);
  }
  ~RecordingPlatform() {
    brisel::testing::UseMessageTextApi(nullptr);
    current_ = nullptr;
  }

  static constexpr uintptr_t kOldValue = 0x5150;  // what turning redirection off hands back
  std::vector<std::wstring> events;                // "disable", "load off|on", "revert <value>"
  uint64_t file_time = 0;                          // what the clock answers
  std::vector<std::wstring> loaded;                // file names of the modules loaded
  // How the module files' attributes differ from the real ones.
  uint64_t write_time_shift = 0;
  DWORD size_shift = 0;
  bool attributes_fail = false;

 private:
  static HMODULE WINAPI Load(LPCWSTR path, HANDLE file, DWORD flags) {
    current_->events.push_back(std::wstring(L"load ") + (current_->off_thread_ == ::GetCurrentThreadId() ? L"off" : L"on"));
    current_->loaded.push_back(std::wstring(path).substr(std::wstring(path).rfind(L'\\') + 1));
    return ::LoadLibraryExW(path, file, flags);
  }
  static BOOL WINAPI Attributes(LPCWSTR path, GET_FILEEX_INFO_LEVELS level, LPVOID info) {
    current_->events.push_back(std::wstring(L"stat ") + (current_->off_thread_ == ::GetCurrentThreadId() ? L"off" : L"on"));
    if (current_->attributes_fail) {
      ::SetLastError(ERROR_FILE_NOT_FOUND);
      return FALSE;
    }
    if (!::GetFileAttributesExW(path, level, info)) return FALSE;
    auto* data = static_cast<WIN32_FILE_ATTRIBUTE_DATA*>(info);
    uint64_t t = ((uint64_t(data->ftLastWriteTime.dwHighDateTime) << 32) | data->ftLastWriteTime.dwLowDateTime) +
                 current_->write_time_shift;
    data->ftLastWriteTime = {static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)};
    data->nFileSizeLow += current_->size_shift;
    return TRUE;
  }
  static BOOL WINAPI Disable(PVOID* old_value) {
    current_->events.push_back(L"disable");
    if (!current_->disable_result_) return FALSE;
    *old_value = reinterpret_cast<PVOID>(kOldValue);
    current_->off_thread_ = ::GetCurrentThreadId();
    return TRUE;
  }
  static BOOL WINAPI Revert(PVOID old_value) {
    current_->events.push_back(L"revert " + std::to_wstring(reinterpret_cast<uintptr_t>(old_value)));
    current_->off_thread_ = 0;
    return TRUE;
  }
  static void WINAPI Now(LPFILETIME now) {
    now->dwLowDateTime = static_cast<DWORD>(current_->file_time);
    now->dwHighDateTime = static_cast<DWORD>(current_->file_time >> 32);
  }

  static inline RecordingPlatform* current_ = nullptr;
  MessageTextApi api_{};
  BOOL disable_result_;
  DWORD off_thread_ = 0;
};

class Texts : public ::testing::Test {
 protected:
  std::wstring Message(const wchar_t* source, DWORD id, std::vector<std::wstring_view> strings) {
    std::wstring text;
    EXPECT_TRUE(cache_.MessageText(id, source, strings, log_.Name(), &text));
    return text;
  }
  std::wstring Category(const wchar_t* source, WORD number, bool expect_found) {
    std::wstring text;
    EXPECT_EQ(cache_.CategoryText(number, source, log_.Name(), &text), expect_found);
    return text;
  }
  void SetValue(const wchar_t* source, const wchar_t* name, const std::wstring& value) {
    UniqueRegKey key;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, (log_.KeyPath() + L"\\" + source).c_str(), 0, KEY_WRITE, key.Put()),
              ERROR_SUCCESS);
    ::RegSetValueExW(key.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  }

  TestLog log_;
  MessageTextCache cache_;
};

TEST_F(Texts, MessagesAreLookedUpByTheFullIdentifier) {
  EXPECT_EQ(Trim(Message(L"SrcA", 0xC00003E8, {L"Spooler", L"running"})),
            L"Service Spooler entered the running state.");
  // The low 16 bits alone are another message: the joined strings stand in.
  EXPECT_EQ(Message(L"SrcA", 1000, {L"Spooler", L"running"}), L"Spooler,running\n");
}

TEST_F(Texts, LaterModulesOfTheListAreTried) {
  EXPECT_EQ(Trim(Message(L"SrcA", 2000, {L"x"})), L"From the second module: x");
  // A module that cannot be loaded ends the search.
  EXPECT_EQ(Message(L"MissingFirst", 2000, {L"x"}), L"x\n");
}

TEST_F(Texts, WithoutModulesTheStringsAreJoined) {
  EXPECT_EQ(Message(L"Plain", 7, {L"a", L"b"}), L"a,b\n");
  EXPECT_EQ(Message(L"Plain", 7, {}), L"\n");
  EXPECT_EQ(Message(L"NotRegistered", 7, {L"only"}), L"only\n");
}

TEST_F(Texts, TheParameterPassUsesTheLastParameterModule) {
  EXPECT_EQ(Trim(Message(L"SrcA", 1003, {})), L"Error Access is denied.");
  EXPECT_EQ(Trim(Message(L"NoParam", 1003, {})), L"Error %%5");
  // The pass also runs over the joined strings.
  EXPECT_EQ(Trim(Message(L"SrcA", 4242, {L"code %%7"})), L"code seven");
}

TEST_F(Texts, MessageTemplatesKeepTheirPercentForms) {
  EXPECT_EQ(Trim(Message(L"SrcA", 1002, {})), L"100% done");
  EXPECT_EQ(Trim(Message(L"SrcA", 1001, {L"a", L"b"})), L"%3");
  EXPECT_EQ(Trim(Message(L"SrcA", 1005, {L"a", L"b"})), L"Value a!s! and b!d! kept");
}

TEST_F(Texts, CategoriesComeFromTheCategoryModule) {
  EXPECT_EQ(Category(L"Plain", 0, true), L"None");
  EXPECT_EQ(Trim(Category(L"SrcA", 1, true)), L"Disk");
  EXPECT_EQ(Trim(Category(L"SrcA", 2, true)), L"Network");
  EXPECT_EQ(cache_.CategoryCount(), 2u);
  // Stand-ins are not kept: every entry asks again.
  EXPECT_EQ(Category(L"SrcA", 9, false), L"Category #9");
  EXPECT_EQ(Category(L"Plain", 3, false), L"Category #3");
  EXPECT_EQ(cache_.CategoryCount(), 2u);
}

TEST_F(Texts, CategoryTextsAreKeptForADay) {
  int64_t now = 1000000;
  cache_.SetClock([&now] { return now; });
  EXPECT_EQ(Trim(Category(L"SrcA", 1, true)), L"Disk");
  // The module goes; the kept text still answers.
  SetValue(L"SrcA", L"CategoryMessageFile", L"C:\\absent.dll");
  // The clock is read once per pass.
  cache_.EndPass();
  now += MessageTextCache::kCategoryLifeSeconds;
  EXPECT_EQ(Trim(Category(L"SrcA", 1, true)), L"Disk");
  now += 1;
  EXPECT_EQ(Trim(Category(L"SrcA", 1, true)), L"Disk") << "same pass, same time";
  cache_.EndPass();
  EXPECT_EQ(Category(L"SrcA", 1, false), L"Category #1");
  EXPECT_EQ(cache_.CategoryCount(), 0u);
}

TEST_F(Texts, CategoryTextsExpireByThePlatformClockAfter2038) {
  RecordingPlatform platform(false);
  // 2040-01-01 00:00:00 UTC, past the end of a 32-bit time_t.
  const uint64_t k2040 = (2208988800ull + 11644473600ull) * 10000000ull;
  const uint64_t kSecond = 10000000ull;
  platform.file_time = k2040;
  EXPECT_EQ(Trim(Category(L"SrcA", 1, true)), L"Disk");
  SetValue(L"SrcA", L"CategoryMessageFile", L"C:\\absent.dll");
  cache_.EndPass();
  platform.file_time = k2040 + MessageTextCache::kCategoryLifeSeconds * kSecond;
  EXPECT_EQ(Trim(Category(L"SrcA", 1, true)), L"Disk") << "a day old: still kept";
  cache_.EndPass();
  platform.file_time += kSecond;
  EXPECT_EQ(Category(L"SrcA", 1, false), L"Category #1") << "older than a day: dropped";
}

TEST_F(Texts, ModulesLoadWithRedirectionOffAroundEachLoad) {
  const std::wstring revert = L"revert " + std::to_wstring(RecordingPlatform::kOldValue);
  const std::vector<std::wstring> bracketed = {L"disable", L"stat off", L"load off", revert};
  {
    RecordingPlatform platform(true);
    EXPECT_EQ(Trim(Message(L"NoParam", 0xC00003E8, {L"a", L"b"})), L"Service a entered the b state.");
    EXPECT_EQ(platform.events, bracketed);
    platform.events.clear();
    cache_.EndPass();
    EXPECT_EQ(Trim(Message(L"NoParam", 0xC00003E8, {L"a", L"b"})), L"Service a entered the b state.");
    EXPECT_EQ(platform.events, (std::vector<std::wstring>{L"disable", L"stat off", revert})) << "a kept module's check";
    platform.events.clear();
    cache_.ReleaseModules();
    EXPECT_EQ(Trim(Category(L"SrcA", 2, true)), L"Network");
    EXPECT_EQ(platform.events, bracketed) << "category modules too";
  }
  cache_.ReleaseModules();
  {
    // Turning it off failed: the module still loads, and nothing is reverted.
    RecordingPlatform platform(true, FALSE);
    EXPECT_EQ(Trim(Message(L"NoParam", 0xC00003E8, {L"a", L"b"})), L"Service a entered the b state.");
    EXPECT_EQ(platform.events, (std::vector<std::wstring>{L"disable", L"stat on", L"load on"}));
  }
  cache_.ReleaseModules();
  {
    RecordingPlatform platform(false);
    EXPECT_EQ(Trim(Message(L"NoParam", 0xC00003E8, {L"a", L"b"})), L"Service a entered the b state.");
    EXPECT_EQ(platform.events, (std::vector<std::wstring>{L"stat on", L"load on"}));
  }
}

TEST_F(Texts, CachedAndUncachedTextsAreTheSame) {
  const DWORD ids[] = {0xC00003E8u, 1003u, 2000u, 4242u, 1006u, 1004u};
  std::vector<std::wstring> cached;
  for (int pass = 0; pass < 2; ++pass, cache_.EndPass())
    for (DWORD id : ids) cached.push_back(Message(L"SrcA", id, {L"s1", L"%{S-1-5-18}"}));
  cache_.SetCaching(false);
  std::vector<std::wstring> uncached;
  for (int pass = 0; pass < 2; ++pass, cache_.EndPass())
    for (DWORD id : ids) uncached.push_back(Message(L"SrcA", id, {L"s1", L"%{S-1-5-18}"}));
  EXPECT_EQ(cache_.LoadedModules(), 0u);
  EXPECT_EQ(cached, uncached);
}

TEST_F(Texts, ModulesAreKeptAcrossPassesUpToTheLimitLeastRecentlyUsedOutFirst) {
  log_.AddSource(L"OnlyA", L"%BRISEL_EVMSG_DIR%\\evmsg_a.dll", nullptr, nullptr);
  log_.AddSource(L"OnlyB", L"%BRISEL_EVMSG_DIR%\\evmsg_b.dll", nullptr, nullptr);
  log_.AddSource(L"OnlyP", L"%BRISEL_EVMSG_DIR%\\evparam.dll", nullptr, nullptr);
  RecordingPlatform platform(false);
  cache_.SetModuleLimit(2);
  // Each step a pass of its own: the source of its entry, the module loaded for it ("" none).
  const struct {
    const wchar_t* source;
    const wchar_t* loads;
    size_t kept;
  } steps[] = {
      {L"OnlyA", L"evmsg_a.dll", 1}, {L"OnlyB", L"evmsg_b.dll", 2}, {L"OnlyA", L"", 2},
      {L"OnlyP", L"evparam.dll", 2},  // B was used least recently
      {L"OnlyA", L"", 2},            {L"OnlyB", L"evmsg_b.dll", 2}, {L"OnlyA", L"", 2},
      {L"OnlyP", L"evparam.dll", 2},
  };
  int n = 0;
  for (const auto& step : steps) {
    platform.loaded.clear();
    Message(step.source, 0xC00003E8, {L"a", L"b"});
    EXPECT_EQ(platform.loaded, *step.loads ? std::vector<std::wstring>{step.loads} : std::vector<std::wstring>{})
        << "step " << n;
    EXPECT_EQ(cache_.LoadedModules(), step.kept) << "step " << n;
    cache_.EndPass();
    ++n;
  }
}

TEST_F(Texts, AKeptModuleIsLoadedAgainWhenItsFileChanged) {
  RecordingPlatform platform(false);
  // Each an entry: whether a pass ends before it, the file's write time and size then, whether they can be
  // read, and whether its module is loaded for it.
  const struct {
    bool new_pass;
    uint64_t time_shift;
    DWORD size_shift;
    bool unreadable;
    bool loads;
  } entries[] = {
      {true, 0, 0, false, true},    {true, 0, 0, false, false},  {false, 0, 0, false, false},
      {true, 10, 0, false, true},   // written since
      {false, 20, 0, false, false}, // checked once per pass, not at every entry...
      {true, 20, 0, false, true},   // ...so seen at the next
      {true, 20, 4, false, true},   // another size
      {true, 20, 4, true, true},    {true, 20, 4, true, true},  // cannot be checked: loaded at every pass
      {true, 20, 4, false, true},   {true, 20, 4, false, false},
  };
  int n = 0;
  for (const auto& e : entries) {
    if (e.new_pass) cache_.EndPass();
    platform.write_time_shift = e.time_shift;
    platform.size_shift = e.size_shift;
    platform.attributes_fail = e.unreadable;
    platform.loaded.clear();
    EXPECT_EQ(Trim(Message(L"NoParam", 0xC00003E8, {L"a", L"b"})), L"Service a entered the b state.") << "entry " << n;
    EXPECT_EQ(platform.loaded.size(), e.loads ? 1u : 0u) << "entry " << n;
    EXPECT_EQ(cache_.LoadedModules(), 1u) << "entry " << n;
    ++n;
  }
}

TEST_F(Texts, ModulesUnusedForTheIdleTimeAreUnloadedWhenAPassEnds) {
  log_.AddSource(L"OnlyA", L"%BRISEL_EVMSG_DIR%\\evmsg_a.dll", nullptr, nullptr);
  log_.AddSource(L"OnlyB", L"%BRISEL_EVMSG_DIR%\\evmsg_b.dll", nullptr, nullptr);
  int64_t now = 1000000;
  cache_.SetClock([&now] { return now; });
  cache_.SetIdleRelease(60000);
  // Each a pass: seconds since the previous one, the source of its entry (none: a quiet pass), modules kept after it.
  const struct {
    int64_t advance;
    const wchar_t* source;
    size_t kept;
  } passes[] = {{0, L"OnlyA", 1},  {30, L"OnlyB", 2}, {29, nullptr, 2}, {1, nullptr, 1},     {30, L"OnlyB", 1},
                {59, nullptr, 1},  {1, nullptr, 0},   {0, L"OnlyA", 1}, {-3600, nullptr, 0}};  // the clock set back
  int n = 0;
  for (const auto& pass : passes) {
    now += pass.advance;
    if (pass.source) Message(pass.source, 0xC00003E8, {L"a", L"b"});
    cache_.EndPass();
    EXPECT_EQ(cache_.LoadedModules(), pass.kept) << "pass " << n;
    ++n;
  }
}

TEST_F(Texts, TheParameterModuleIsLoadedOnlyForTextsWithDoublePercent) {
  EXPECT_EQ(Trim(Message(L"SrcA", 0xC00003E8, {L"a", L"b"})), L"Service a entered the b state.");
  EXPECT_EQ(cache_.LoadedModules(), 1u);
  EXPECT_EQ(Trim(Message(L"SrcA", 1003, {})), L"Error Access is denied.");
  EXPECT_EQ(cache_.LoadedModules(), 2u);
}

TEST_F(Texts, ModulePathChangesAreSeenAtTheNextPass) {
  const std::wstring messages = MessageDir();
  ScopedVariable dir(L"BRISEL_MOVED_DIR", messages.c_str());
  EXPECT_EQ(Message(L"NoParam", 2000, {L"x"}), L"x\n");
  // Each change, then the message of the next pass.
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
    if (c.event_files) SetValue(L"NoParam", L"EventMessageFile", c.event_files);
    if (c.dir) ::SetEnvironmentVariableW(L"BRISEL_MOVED_DIR", c.dir);
    cache_.EndPass();
    EXPECT_EQ(Trim(Message(L"NoParam", 2000, {L"x"})), c.message) << test::Narrow(c.event_files ? c.event_files : c.dir);
  }
}

}  // namespace
