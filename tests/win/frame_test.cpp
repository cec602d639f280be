// The frame every class stands on: enumerators, string and registry helpers, registration scripts, the worker.
#include <gtest/gtest.h>

#include "collector/error_state.h"
#include "collector/event_source.h"
#include "collector/strings.h"
#include "module/collection.h"
#include "module/registrar.h"
#include "tests/harness/dispatch.h"

using namespace brisel;
using namespace brisel::test;

namespace {

Variant V(const wchar_t* text) { return Variant(std::wstring_view(text)); }

TEST(Collection, EnumeratorKeepsItsBatchAndSkipsExactlyWhatIsLeft) {
  ItemCollection c;
  c.Replace({V(L"a"), V(L"b"), V(L"c")});
  ComPtr<IUnknown> unk;
  ComPtr<IEnumVARIANT> e;
  ASSERT_EQ(c.NewEnum(unk.Put()), S_OK);
  ASSERT_EQ(unk.As(&e), S_OK);
  c.Replace({V(L"new")});
  VARIANT out[4];
  ULONG fetched = 9;
  ASSERT_EQ(e->Next(1, out, &fetched), S_OK);
  EXPECT_EQ(std::wstring(V_BSTR(&out[0])), L"a") << "the enumerator keeps the batch it started with";
  VariantClear(&out[0]);
  EXPECT_EQ(e->Skip(2), S_OK) << "exactly what is left";
  EXPECT_EQ(e->Skip(1), S_FALSE);
  EXPECT_EQ(e->Next(2, out, nullptr), E_INVALIDARG) << "more than one item needs a count";
}

TEST(Strings, FormatAndMachineStrings) {
  std::wstring out = L"kept";
  ASSERT_TRUE(FormatW(&out, L"%s=%d", L"value", 42));
  EXPECT_EQ(out, L"value=42");
  const wchar_t* key = L"SOFTWARE\\BriselFrameTest";  // paths are read as either string type, nothing else
  const std::pair<DWORD, const wchar_t*> rows[] = {
      {REG_SZ, L"C:\\a b"}, {REG_EXPAND_SZ, L"C:\\a b"}, {REG_BINARY, L"<none>"}, {REG_MULTI_SZ, L"<none>"}};
  for (const auto& [type, expected] : rows) {
    ASSERT_EQ(::RegSetKeyValueW(HKEY_LOCAL_MACHINE, key, L"Path", type, L"C:\\a b", 14), ERROR_SUCCESS);
    std::wstring read = L"<none>";
    ReadMachineString(key, L"Path", 260, &read);
    EXPECT_EQ(read, expected) << type;
  }
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, key);
}

// What registering the DLL's own scripts does not show: a script may end at its
// last brace; nesting far deeper than any registry path is refused, not recursed into.
TEST(Registrar, ScriptsEndAtTheirLastBraceAndDeepOrUnknownRootsFail) {
  std::wstring deep = L"HKCR {";
  for (int i = 0; i < 100000; ++i) deep += L" k {";
  std::vector<RegRoot> roots;
  EXPECT_EQ(ParseRegistrationScript(L"HKCR { Key }", {}, &roots), S_OK);
  for (const std::wstring& bad : {std::wstring(L"HKXX { Key }"), deep})
    EXPECT_EQ(ParseRegistrationScript(bad, {}, &roots), HRESULT_FROM_WIN32(ERROR_INVALID_DATA)) << bad.size();
}

// Passes run at the poll time-out; the first ones may run out of memory.
class PollingSource final : public EventSource {
 public:
  using EventSource::EventSource;
  bool Exec() override { return true; }
  bool GetData() override {
    if (fail_passes-- > 0) throw std::bad_alloc();
    return true;
  }
  std::atomic<int> fail_passes{2};

 protected:
  size_t RecordCount() const override { return 0; }
  void ClearRecords() noexcept override {}
  bool Rejected(size_t) override { return false; }
  HRESULT MakeItem(size_t, ComPtr<IDispatch>*) override { return E_UNEXPECTED; }
};

TEST(Worker, APassOutOfMemoryStillEndsInABatchAndAWaitingWorkerStopsPromptly) {
  auto source = std::make_shared<PollingSource>(std::make_shared<ItemCollection>());
  source->SetPollTimeout(10);
  WorkerThread worker;
  ASSERT_EQ(worker.Start(&ntEventLogThread, source), S_OK);
  HANDLE ready = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(source->Resume()));
  for (int pass = 0; pass < 3; ++pass) {
    ASSERT_EQ(::WaitForSingleObject(ready, 10000), WAIT_OBJECT_0) << "pass " << pass;
    source->Reset();
  }
  source->SetPollTimeout(60000);
  source->Resume();  // then waiting for up to a minute
  auto start = std::chrono::steady_clock::now();
  worker.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << "a waiting worker stops promptly";
  EXPECT_EQ(source.use_count(), 1) << "the worker dropped its share";
  ::SetLastError(ERROR_SUCCESS);  // the C runtime refuses without a system error code
  EXPECT_TRUE(FAILED(worker.Start(nullptr, source)));
}

}  // namespace
