// NtEventFilter through the registered DLL: what the sample script does not reach.
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
using Event = test::RecordFields;

class NtEventFilterTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(filter_ = test::Dispatch::Create(L"TalvaneAgent.NtEventFilter")); }

  // True: the event would be dropped.
  bool Filter(const Event& f, const Event& v, const wchar_t* case_sensitive = L"", const wchar_t* file = L"") {
    Variant err;
    test::CallResult r = filter_.Call(L"Filter", {file, f.log, v.log, f.type, v.type, f.source, v.source, f.category,
                                                  v.category, f.event_id, v.event_id, f.user, v.user, f.computer,
                                                  v.computer, f.message, v.message, case_sensitive, Arg::Out(&err)});
    EXPECT_EQ(r.hr, S_OK);
    EXPECT_EQ(AsText(err), L"");
    return r.value.Type() == VT_BOOL && V_BOOL(&r.value.Get()) == VARIANT_TRUE;
  }

  test::ComScope com_;
  test::Dispatch filter_;
};

// Each argument pair on a fresh object, against a value only that field carries.
TEST_F(NtEventFilterTest, EveryArgumentPairAndTheCaseSwitch) {
  const struct {
    Event filters, values;
    const wchar_t* case_sensitive;
    bool dropped;
  } rows[] = {{{.log = L"^System$"}, {.log = L"Application"}, L"", true},
              {{.type = L"^ERROR$"}, {.type = L"WARNING"}, L"", true},
              {{.source = L"^Disk$"}, {.source = L"Srv"}, L"", true},
              {{.category = L"^Disk$"}, {.category = L"Net"}, L"", true},
              {{.event_id = L"^10[0-9]$"}, {.event_id = L"110"}, L"", true},
              {{.user = L"^bob$"}, {.user = L"alice"}, L"", true},
              {{.computer = L"^host1$"}, {.computer = L"host2"}, L"", true},
              {{.message = L"full"}, {.message = L"all good"}, L"", true},
              {{.log = L"^System$"}, {.type = L"System", .source = L"System", .category = L"System", .event_id = L"System",
                                      .user = L"System", .computer = L"System", .message = L"System"}, L"", false},
              {{.source = L"disk"}, {.source = L"DISK"}, L"y", true}, {{.source = L"disk"}, {.source = L"DISK"}, L"Y", true},
              {{.source = L"disk"}, {.source = L"DISK"}, L"n", false}, {{.source = L"disk"}, {.source = L"DISK"}, L"", false}};
  for (const auto& row : rows) {
    SetUp();
    EXPECT_EQ(Filter(row.filters, row.values, row.case_sensitive), row.dropped) << &row - rows;
  }
}

TEST_F(NtEventFilterTest, SetFilterRXArgumentsAndTheirComplaints) {
  Variant err;
  EXPECT_EQ(filter_.Call(L"SetFilterRX", {L"[z-a]", L"", L"", L"", L"", L"", L"", L"*", L"", Arg::Out(&err)}).hr, S_OK);
  EXPECT_EQ(AsText(err), L"Fail to Compile RegExp [z-a]\n");
  filter_.Call(L"SetFilterRX", {L"", L"", L"", L"", L"", L"", L"", L"", L"", Arg::Out(&err)});
  EXPECT_EQ(err.Type(), VT_BSTR);
  EXPECT_EQ(AsText(err), L"");
  filter_.Call(L"SetFilterRX", {L"", L"", L"", L"", L"", L"", L"", L"^full", L"", Arg::Out(&err)});
  EXPECT_TRUE(Filter({}, {.message = L"disk full"})) << "the eighth argument is the description";
}

// Wine's type-library dispatch turns a null BSTR into an empty one, so nulls go through the interface itself.
TEST_F(NtEventFilterTest, NullArguments) {
  ComPtr<INtEventFilter> itf;
  ASSERT_EQ(filter_.Get()->QueryInterface(IID_INtEventFilter, itf.PutVoid()), S_OK);
  Variant err(42L);
  VARIANT raw;
  err.CopyTo(&raw);
  EXPECT_EQ(itf->SetFilterFile(nullptr, &raw), S_OK);
  EXPECT_EQ(V_VT(&raw), VT_I4) << "a null file name leaves the error untouched";
  EXPECT_EQ(itf->SetFilterFile(nullptr, nullptr), S_OK);
  Bstr missing(L"no_such_rules_file.xml"), disk(L"^Disk$"), srv(L"Srv");
  EXPECT_EQ(itf->SetFilterFile(missing.Get(), nullptr), S_OK) << "a missing error pointer is ignored";
  EXPECT_EQ(itf->SetFilterFile(missing.Get(), &raw), S_OK);
  EXPECT_STREQ(V_VT(&raw) == VT_BSTR ? V_BSTR(&raw) : L"?", L"Cannot open filter file");
  ::VariantClear(&raw);
  VARIANT_BOOL verdict = VARIANT_FALSE;
  EXPECT_EQ(itf->Filter(nullptr, nullptr, nullptr, nullptr, nullptr, disk.Get(), srv.Get(), nullptr, nullptr, nullptr,
                        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &raw, &verdict),
            S_OK);
  EXPECT_EQ(verdict, VARIANT_TRUE);
  EXPECT_EQ(V_VT(&raw), VT_BSTR);
  ::VariantClear(&raw);
}

// One object, several threads: settings, loads and evaluations are serialised.
TEST_F(NtEventFilterTest, CallsFromSeveralThreads) {
  test::RuleFile good("EVENTSTART\nLOG: ^System$\nEVENTEND\n"), bad("neither format\n");
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      test::ComScope com;
      for (int i = 0; i < 60; ++i) {
        Variant err;
        const std::wstring& file = (t + i) % 3 == 0 ? bad.Path() : good.Path();
        // A System event from Disk passes whatever state the loads left.
        test::CallResult r = filter_.Call(L"Filter", {t % 2 ? file.c_str() : L"", L"", L"System", L"", L"ERROR", L"Disk",
                                                      L"Disk", L"", L"", L"", L"", L"", L"", L"", L"", L"", L"", L"",
                                                      Arg::Out(&err)});
        wrong += r.hr != S_OK || V_BOOL(&r.value.Get()) != VARIANT_FALSE;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace brisel
