// The frame every class stands on: collections and their enumerators, string
// and registry helpers, registration scripts, and the worker thread's passes and stop.
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
  ComPtr<IEnumVARIANT> e, clone;
  ASSERT_EQ(c.NewEnum(unk.Put()), S_OK);
  ASSERT_EQ(unk.As(&e), S_OK);
  c.Replace({V(L"new")});
  EXPECT_EQ(e->Skip(1), S_OK);
  ASSERT_EQ(e->Clone(clone.Put()), S_OK);
  VARIANT out[4];
  ULONG fetched = 9;
  ASSERT_EQ(clone->Next(4, out, &fetched), S_FALSE) << "a clone starts where its original stands, in the old batch";
  ASSERT_EQ(fetched, 2u);
  EXPECT_EQ(std::wstring(V_BSTR(&out[0])) + V_BSTR(&out[1]), L"bc");
  for (ULONG i = 0; i < fetched; ++i) VariantClear(&out[i]);
  EXPECT_EQ(e->Skip(2), S_OK) << "exactly what is left";
  EXPECT_EQ(e->Skip(1), S_FALSE);
  EXPECT_EQ(e->Next(2, out, nullptr), E_INVALIDARG) << "more than one item needs a count";
}

TEST(Strings, FormatAndMachineStrings) {
  std::wstring out = L"kept";
  ASSERT_TRUE(FormatW(&out, L"%s=%d", L"value", 42));
  EXPECT_EQ(out, L"value=42");
  // Paths such as InstallPath are read as either string type, and nothing else.
  const wchar_t* key = L"SOFTWARE\\BriselFrameTest";
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

constexpr HRESULT kBad = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);

TEST(Registrar, MalformedScriptsFailAtOnce) {
  std::wstring deep = L"HKCR {";  // nesting far deeper than any registry path: refused, not recursed into
  for (int i = 0; i < 100000; ++i) deep += L" k {";
  const std::wstring bad[] = {L"HKCR\n{\n  Key = s 'v'\n", L"HKCR { Key = s 'v }", L"HKCR { Key = s '%NOPE%' }",
                              L"HKCR { Key = s '%MODULE' }", L"HKXX { Key }", L"HKCR { Key = d 'ten' }",
                              L"HKCR { Key = q 'v' }", L"HKCR { a\\b }", L"HKCR Key", L"HKCR { Key = }", deep};
  for (const std::wstring& script : bad) {
    std::vector<RegRoot> roots;
    EXPECT_EQ(ParseRegistrationScript(script, {{L"MODULE", L"x.dll"}}, &roots), kBad) << Narrow(script.substr(0, 40));
  }
}

// What registering the DLL's classes does not show: another owner's key and
// stale content below ours, escapes, and a script that ends at its last brace.
TEST(Registrar, RegisterThenUnregisterKeepsOthersContent) {
  const std::wstring kKey = L"Software\\BriselRegistrarTest";
  ::RegDeleteTreeW(HKEY_CURRENT_USER, kKey.c_str());
  for (const wchar_t* sub : {L"\\Shared\\Other", L"\\Shared\\Mine\\Stale"})
    ::RegSetKeyValueW(HKEY_CURRENT_USER, (kKey + sub).c_str(), L"x", REG_SZ, L"", sizeof(wchar_t));
  const wchar_t* script =
      L"HKCU { NoRemove Software { NoRemove BriselRegistrarTest {"
      L"  Shared { ForceRemove Mine = s 'mine 100%%' { {SUB} = s '%MODULE%' { val Model = s 'Free' } } } } } }";
  RegReplacements repl{{L"Module", L"C:\\it''s\\m.dll"}};  // replacements go in with apostrophes doubled
  auto read = [&](const wchar_t* sub, const wchar_t* value) {
    wchar_t buf[256] = L"<missing>";
    DWORD size = sizeof buf;
    ::RegGetValueW(HKEY_CURRENT_USER, (kKey + sub).c_str(), value, RRF_RT_REG_SZ, nullptr, buf, &size);
    return std::wstring(buf);
  };
  ASSERT_EQ(RunRegistrationScript(script, repl, true), S_OK);
  EXPECT_EQ(read(L"\\Shared\\Mine", nullptr) + L"|" + read(L"\\Shared\\Mine\\{SUB}", nullptr) + L"|" +
                read(L"\\Shared\\Mine\\{SUB}", L"Model") + L"|" + read(L"\\Shared\\Mine\\Stale", L"x"),
            L"mine 100%|C:\\it's\\m.dll|Free|<missing>");
  ASSERT_EQ(RunRegistrationScript(script, repl, false), S_OK);
  EXPECT_EQ(read(L"\\Shared\\Mine", nullptr) + L"|" + read(L"\\Shared\\Other", L"x"), L"<missing>|")
      << "another owner's key stays";
  ::RegDeleteTreeW(HKEY_CURRENT_USER, kKey.c_str());
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
