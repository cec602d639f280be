// Message texts: the insertion pass and the category cache.
#include <gtest/gtest.h>

#include <windows.h>

#include "collector/strings.h"
#include "eventlog/message_text.h"
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

// Category texts are kept for a day of the cache's clock; stand-ins are not kept.
TEST(Texts, CategoryTextsAreKeptForADay) {
  TestLog log;
  int64_t now = 1;
  MessageTextCache cache;
  cache.SetClock([&] { return now; });
  auto category = [&](WORD number, bool found) {
    std::wstring text;
    EXPECT_EQ(cache.CategoryText(number, L"SrcA", log.Name(), &text), found) << number;
    return Trim(text);
  };
  EXPECT_EQ(category(9, false), L"Category #9");
  EXPECT_EQ(category(1, true), L"Disk");
  log.AddSource(L"SrcA", nullptr, L"C:\\absent.dll");  // the module goes: the kept text answers
  cache.EndPass();
  now += MessageTextCache::kCategoryLifeSeconds;
  EXPECT_EQ(category(1, true), L"Disk") << "a day old";
  now += 1;
  EXPECT_EQ(category(1, true), L"Disk") << "the clock is read once per pass";
  cache.EndPass();
  EXPECT_EQ(category(1, false), L"Category #1") << "older than a day";
}

}  // namespace
