// NtEventFilter as a script drives it, through the registered DLL.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "module/brisel_h.h"
#include "tests/harness/dispatch.h"
#include "tests/win/rules/rule_test_util.h"

namespace brisel {
namespace {

using test::Arg;
using test::AsText;
using test::Dispatch;

// The event of a Filter call; unset fields are empty.
using Event = test::RecordFields;

class NtEventFilterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    HRESULT hr = E_FAIL;
    filter_ = Dispatch::Create(L"TalvaneAgent.NtEventFilter", &hr);
    ASSERT_TRUE(filter_) << std::hex << hr;
  }

  // Filter with per-field filters (file name empty); true: the event would be dropped.
  bool Filter(const Event& filters, const Event& values, const wchar_t* case_sensitive = L"",
              std::wstring* error = nullptr, const wchar_t* file = L"") {
    Variant err;
    test::CallResult r = filter_.Call(
        L"Filter", {file, filters.log, values.log, filters.type, values.type, filters.source, values.source,
                    filters.category, values.category, filters.event_id, values.event_id, filters.user, values.user,
                    filters.computer, values.computer, filters.message, values.message, case_sensitive,
                    Arg::Out(&err)});
    EXPECT_EQ(r.hr, S_OK);
    EXPECT_EQ(r.value.Type(), VT_BOOL);
    EXPECT_EQ(err.Type(), VT_BSTR);
    if (error) *error = AsText(err);
    return V_BOOL(&r.value.Get()) == VARIANT_TRUE;
  }

  bool FilterFile(const std::wstring& file, const Event& values, std::wstring* error = nullptr) {
    return Filter({}, values, L"", error, file.c_str());
  }

  test::ComScope com_;
  Dispatch filter_;
};

TEST_F(NtEventFilterTest, SourceFilterVerdicts) {
  EXPECT_FALSE(Filter({.source = L"Disk"}, {.source = L"Disk"}));
  EXPECT_TRUE(Filter({.source = L"Disk"}, {.source = L"Srv"}));
  EXPECT_FALSE(Filter({.source = L"Disk"}, {.source = L""})) << "an empty value matches every list";
}

TEST_F(NtEventFilterTest, CaseSensitiveOnlyForYes) {
  EXPECT_TRUE(Filter({.source = L"disk"}, {.source = L"DISK"}, L"y"));
  EXPECT_TRUE(Filter({.source = L"disk"}, {.source = L"DISK"}, L"Y"));
  EXPECT_FALSE(Filter({.source = L"disk"}, {.source = L"DISK"}, L"n"));
  EXPECT_FALSE(Filter({.source = L"disk"}, {.source = L"DISK"}, L""));
  EXPECT_FALSE(Filter({.source = L"disk"}, {.source = L"DISK"}, L"yes"));
}

TEST_F(NtEventFilterTest, FreshObjectPassesEverything) {
  std::wstring error = L"x";
  EXPECT_FALSE(Filter({}, {.log = L"System", .type = L"ERROR"}, L"", &error));
  EXPECT_EQ(error, L"");
}

TEST_F(NtEventFilterTest, EveryFilterArgumentTestsItsValue) {
  // Each filter argument against a value that only that field carries.
  EXPECT_TRUE(Filter({.log = L"^System$"}, {.log = L"Application"}));
  EXPECT_TRUE(Filter({.type = L"^ERROR$"}, {.type = L"WARNING"}));
  EXPECT_TRUE(Filter({.category = L"^Disk$"}, {.category = L"Net"}));
  EXPECT_TRUE(Filter({.event_id = L"^10[0-9]$"}, {.event_id = L"110"}));
  EXPECT_TRUE(Filter({.user = L"^bob$"}, {.user = L"alice"}));
  EXPECT_TRUE(Filter({.computer = L"^host1$"}, {.computer = L"host2"}));
  EXPECT_TRUE(Filter({.message = L"full"}, {.message = L"all good"}));
}

TEST_F(NtEventFilterTest, SettingsPersistAcrossCalls) {
  EXPECT_TRUE(Filter({.source = L"^Disk$"}, {.source = L"Srv"}));
  EXPECT_TRUE(Filter({}, {.source = L"Srv"})) << "empty filter arguments keep the earlier settings";
  EXPECT_FALSE(Filter({}, {.source = L"Disk"}));
  EXPECT_FALSE(Filter({.source = L"Srv"}, {.source = L"Srv"})) << "a new value replaces the setting";
}

TEST_F(NtEventFilterTest, ExclusionAfterTheSeparator) {
  EXPECT_FALSE(Filter({.log = L":^Security$"}, {.log = L"System"}));
  EXPECT_TRUE(Filter({}, {.log = L"Security"}));
}

TEST_F(NtEventFilterTest, SetFilterRXReportsBadPatterns) {
  Variant err;
  test::CallResult r = filter_.Call(L"SetFilterRX", {L"", L"", L"(", L"", L"", L"", L"", L"", L"", Arg::Out(&err)});
  EXPECT_EQ(r.hr, S_OK);
  EXPECT_EQ(AsText(err), L"Fail to Compile RegExp (\n");
  r = filter_.Call(L"SetFilterRX", {L"[z-a]", L"", L"", L"", L"", L"", L"", L"*", L"", Arg::Out(&err)});
  EXPECT_EQ(AsText(err), L"Fail to Compile RegExp [z-a]\n");
  r = filter_.Call(L"SetFilterRX", {L"", L"", L"", L"", L"", L"", L"", L"", L"", Arg::Out(&err)});
  EXPECT_EQ(err.Type(), VT_BSTR);
  EXPECT_EQ(AsText(err), L"");
}

TEST_F(NtEventFilterTest, RuleFilesInBothFormats) {
  test::RuleFile xml(
      "<?xml version=\"1.0\"?>\n<rules><INCLUDE><EVENTS><LOG>^System$</LOG></EVENTS></INCLUDE>"
      "<EXCLUDE><EVENTS><TYPE>^INFORMATION$</TYPE></EVENTS></EXCLUDE></rules>\n",
      L".xml");
  std::wstring error = L"x";
  EXPECT_FALSE(FilterFile(xml.Path(), {.log = L"System", .type = L"ERROR"}, &error));
  EXPECT_EQ(error, L"");
  EXPECT_TRUE(FilterFile(xml.Path(), {.log = L"System", .type = L"INFORMATION"}));
  EXPECT_TRUE(FilterFile(xml.Path(), {.log = L"Application", .type = L"ERROR"}));

  test::RuleFile lines("EVENTSTART\nSOURCE: ^Disk$\nEVENTEND\nbogus line\n");
  EXPECT_FALSE(FilterFile(lines.Path(), {.log = L"Application", .type = L"ERROR", .source = L"Disk"}, &error))
      << "the line rule joins the XML rules as an alternative";
  EXPECT_EQ(error, L"Cannot parse line bogus line\n");
}

TEST_F(NtEventFilterTest, MissingFileReportsAndDecidesWithWhatIsHeld) {
  std::wstring error;
  EXPECT_FALSE(FilterFile(L"no_such_rules_file.xml", {.log = L"System"}, &error));
  EXPECT_EQ(error, L"Cannot open filter file");
}

TEST_F(NtEventFilterTest, UnusableFileDropsTheLoadedRules) {
  test::RuleFile rules("LOG: ^System$\n");
  test::RuleFile neither("neither format\n");
  EXPECT_TRUE(FilterFile(rules.Path(), {.log = L"Application"}));
  std::wstring error;
  EXPECT_FALSE(FilterFile(neither.Path(), {.log = L"Application"}, &error));
  EXPECT_EQ(error.rfind(L"Malformed XML. Parsing error at line ", 0), 0u) << test::Narrow(error);
}

// Wine's type-library dispatch turns a null BSTR into an empty one, so the null
// file name is driven through the interface itself.
TEST_F(NtEventFilterTest, NullFileNameLeavesTheErrorUntouched) {
  ComPtr<INtEventFilter> itf;
  ASSERT_EQ(filter_.Get()->QueryInterface(IID_INtEventFilter, itf.PutVoid()), S_OK);
  Variant err(42L);
  VARIANT raw;
  err.CopyTo(&raw);
  EXPECT_EQ(itf->SetFilterFile(nullptr, &raw), S_OK);
  EXPECT_EQ(V_VT(&raw), VT_I4);
  EXPECT_EQ(V_I4(&raw), 42);
  EXPECT_EQ(itf->SetFilterFile(nullptr, nullptr), S_OK);
  Bstr missing(L"no_such_rules_file.xml");
  EXPECT_EQ(itf->SetFilterFile(missing.Get(), nullptr), S_OK) << "a missing error pointer is ignored";
  EXPECT_EQ(itf->SetFilterFile(missing.Get(), &raw), S_OK);
  EXPECT_EQ(V_VT(&raw), VT_BSTR);
  EXPECT_STREQ(V_BSTR(&raw), L"Cannot open filter file");
  ::VariantClear(&raw);
}

TEST_F(NtEventFilterTest, NullArgumentsAreEmptyStrings) {
  ComPtr<INtEventFilter> itf;
  ASSERT_EQ(filter_.Get()->QueryInterface(IID_INtEventFilter, itf.PutVoid()), S_OK);
  Bstr disk(L"^Disk$");
  Bstr srv(L"Srv");
  VARIANT err;
  ::VariantInit(&err);
  VARIANT_BOOL verdict = VARIANT_FALSE;
  EXPECT_EQ(itf->Filter(nullptr, nullptr, nullptr, nullptr, nullptr, disk.Get(), srv.Get(), nullptr, nullptr, nullptr,
                        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &err, &verdict),
            S_OK);
  EXPECT_EQ(verdict, VARIANT_TRUE);
  EXPECT_EQ(V_VT(&err), VT_BSTR);
  ::VariantClear(&err);
}

// One object, several threads: settings, loads and evaluations are serialised.
TEST_F(NtEventFilterTest, CallsFromSeveralThreads) {
  test::RuleFile good("EVENTSTART\nLOG: ^System$\nEVENTEND\n");
  test::RuleFile bad("neither format\n");
  std::atomic<int> wrong{0};
  std::atomic<int> calls{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      test::ComScope com;
      for (int i = 0; i < 60; ++i) {
        Variant err;
        const std::wstring& file = (t + i) % 3 == 0 ? bad.Path() : good.Path();
        // A System event from Disk passes whatever state the loads left.
        test::CallResult r = filter_.Call(
            L"Filter", {t % 2 ? file.c_str() : L"", L"", L"System", L"", L"ERROR", L"Disk", L"Disk", L"", L"", L"",
                        L"", L"", L"", L"", L"", L"", L"", L"", Arg::Out(&err)});
        if (r.hr != S_OK || V_BOOL(&r.value.Get()) != VARIANT_FALSE) ++wrong;
        ++calls;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(calls.load(), 240);
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace brisel
