// The frame every class stands on: collections and their enumerators, string
// and registry helpers, registration scripts, and the worker thread's passes and stop.
#include <gtest/gtest.h>

#include "collector/error_state.h"
#include "collector/event_source.h"
#include "collector/strings.h"
#include "module/collection.h"
#include "module/registrar.h"
#include "tests/harness/dispatch.h"
#include "wmi/processes.h"

using namespace brisel;
using namespace brisel::test;

namespace {

Variant ProcessWith(LONG id, const wchar_t* name = L"") {
  ComPtr<ProcessItem> p;
  EXPECT_EQ(ProcessItem::CreateItem(&p), S_OK);
  p->process_id = id;
  p->name = name;
  return Variant(static_cast<IDispatch*>(static_cast<IProcess*>(p.Get())));
}

std::wstring NameOf(const VARIANT& v) {
  ComPtr<IProcess> p;
  if (V_VT(&v) != VT_DISPATCH || FAILED(V_DISPATCH(&v)->QueryInterface(IID_IProcess, p.PutVoid()))) return L"<none>";
  Bstr name;
  p->get_Name(name.Put());
  return std::wstring(name.View());
}

TEST(Collection, ItemsCountAndEnumeratorKeepItsBatch) {
  ItemCollection c;
  c.Replace({ProcessWith(1, L"a"), ProcessWith(2, L"b"), ProcessWith(3, L"c")});
  Variant v;
  ASSERT_EQ(c.Item(3, v.Put()), S_OK);
  EXPECT_EQ(NameOf(v.Get()), L"c");
  const std::pair<LONG, HRESULT> bad[] = {{0, E_INVALIDARG}, {-1, E_INVALIDARG}, {4, E_FAIL}};
  for (const auto& [i, hr] : bad) EXPECT_EQ(c.Item(i, v.Put()), hr) << i;
  EXPECT_EQ(c.Item(1, nullptr), E_POINTER);
  EXPECT_EQ(c.Count(nullptr), E_POINTER);
  EXPECT_EQ(c.NewEnum(nullptr), E_POINTER);
  ComPtr<IUnknown> unk;
  ComPtr<IEnumVARIANT> e, clone;
  ASSERT_EQ(c.NewEnum(unk.Put()), S_OK);
  ASSERT_EQ(unk.As(&e), S_OK);
  c.Replace({ProcessWith(4, L"new")});
  LONG count = 0;
  EXPECT_EQ(c.Count(&count), S_OK);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(e->Skip(1), S_OK);
  ASSERT_EQ(e->Clone(clone.Put()), S_OK);
  VARIANT out[4];
  ULONG fetched = 9;
  ASSERT_EQ(clone->Next(4, out, &fetched), S_FALSE) << "a clone starts where its original stands, in the old batch";
  ASSERT_EQ(fetched, 2u);
  EXPECT_EQ(NameOf(out[0]) + NameOf(out[1]), L"bc");
  for (ULONG i = 0; i < fetched; ++i) VariantClear(&out[i]);
  EXPECT_EQ(e->Skip(2), S_OK) << "exactly what is left";
  EXPECT_EQ(e->Next(1, v.Put(), &fetched), S_FALSE);
  EXPECT_EQ(fetched, 0u);
  EXPECT_EQ(e->Reset(), S_OK);
  EXPECT_EQ(e->Skip(4), S_FALSE);
  EXPECT_EQ(e->Next(1, nullptr, nullptr), E_POINTER);
  EXPECT_EQ(e->Next(2, out, nullptr), E_INVALIDARG) << "more than one item needs a count";
  EXPECT_EQ(e->Reset(), S_OK);
  ASSERT_EQ(e->Next(1, v.Put(), nullptr), S_OK);
  EXPECT_EQ(NameOf(v.Get()), L"a");
}

TEST(Strings, FormatTrimAndMachineStrings) {
  std::wstring out = L"kept";
  ASSERT_TRUE(FormatW(&out, L"%s=%d", L"value", 42));
  EXPECT_EQ(out, L"value=42");
  std::wstring big(100000, L'x');
  ASSERT_TRUE(FormatW(&out, L"[%s]", big.c_str()));
  EXPECT_EQ(out, L"[" + big + L"]");
  EXPECT_EQ(Trim(L" \t\r\nabc d\r\n "), L"abc d");
  EXPECT_EQ(Trim(L" \t "), L"");
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

std::wstring Read(const std::wstring& path, const wchar_t* value = nullptr) {
  wchar_t buf[256];
  DWORD size = sizeof buf;
  return ::RegGetValueW(HKEY_CURRENT_USER, (L"Software\\BriselRegistrarTest" + path).c_str(), value, RRF_RT_REG_SZ,
                        nullptr, buf, &size) == ERROR_SUCCESS ? buf : L"<missing>";
}

bool KeyExists(const std::wstring& path) {
  UniqueRegKey key;
  return ::RegOpenKeyExW(HKEY_CURRENT_USER, (L"Software\\BriselRegistrarTest" + path).c_str(), 0, KEY_READ,
                         key.Put()) == ERROR_SUCCESS;
}

TEST(Registrar, RegisterThenUnregisterKeepsNoRemoveKeysAndOthersContent) {
  ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\BriselRegistrarTest");
  // Another owner's key below a shared key, and stale content that ForceRemove clears.
  for (const wchar_t* sub : {L"\\Shared\\Other", L"\\Shared\\Mine\\Stale"})
    ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, (std::wstring(L"Software\\BriselRegistrarTest") + sub).c_str(), L"x",
                                REG_SZ, L"", sizeof(wchar_t)),
              ERROR_SUCCESS);
  const wchar_t* script =  // ends right at its last brace
      L"HKCU { NoRemove Software { NoRemove BriselRegistrarTest {"
      L"  Shared { ForceRemove Mine = s 'mine 100%%' { {SUB} = s '%MODULE%' { val Model = s 'Free' } } } } } }";
  RegReplacements repl{{L"Module", L"C:\\it''s\\m.dll"}};  // replacements go in with apostrophes doubled
  for (int twice = 0; twice < 2; ++twice) {  // registering twice is harmless
    ASSERT_EQ(RunRegistrationScript(script, repl, true), S_OK);
    EXPECT_EQ(Read(L"\\Shared\\Mine") + Read(L"\\Shared\\Mine\\{SUB}") + Read(L"\\Shared\\Mine\\{SUB}", L"Model"),
              L"mine 100%C:\\it's\\m.dllFree");
    EXPECT_FALSE(KeyExists(L"\\Shared\\Mine\\Stale"));
  }
  for (int twice = 0; twice < 2; ++twice) {  // unregistering what is gone succeeds
    ASSERT_EQ(RunRegistrationScript(script, repl, false), S_OK);
    EXPECT_FALSE(KeyExists(L"\\Shared\\Mine"));
    EXPECT_TRUE(KeyExists(L"\\Shared\\Other")) << "another owner's key stays";
    EXPECT_TRUE(KeyExists(L"")) << "NoRemove";
  }
  // A parse error anywhere writes nothing.
  EXPECT_EQ(RunRegistrationScript(L"HKCU { Software { BriselRegistrarTest { Half = s 'a' } } Broken = s '%X%' }", {},
                                  true), kBad);
  EXPECT_FALSE(KeyExists(L"\\Half"));
  ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\BriselRegistrarTest");
}

// Passes run at the poll time-out; the first ones may run out of memory.
class PollingSource final : public EventSource {
 public:
  using EventSource::EventSource;
  bool Exec() override { return exec_ok; }
  bool GetData() override {
    if (fail_passes-- > 0) throw std::bad_alloc();
    return true;
  }
  bool exec_ok = true;
  std::atomic<int> fail_passes{0};

 protected:
  size_t RecordCount() const override { return 0; }
  void ClearRecords() noexcept override {}
  bool Rejected(size_t) override { return false; }
  HRESULT MakeItem(size_t, ComPtr<IDispatch>*) override { return E_UNEXPECTED; }
};

class Worker : public ::testing::Test {
 protected:
  void Start(DWORD poll_ms, bool exec_ok = true, int fail_passes = 0) {
    source_ = std::make_shared<PollingSource>(std::make_shared<ItemCollection>());
    source_->SetPollTimeout(poll_ms);
    source_->exec_ok = exec_ok;
    source_->fail_passes = fail_passes;
    ASSERT_EQ(worker_.Start(&ntEventLogThread, source_), S_OK);
  }
  static bool Signalled(LONG h, DWORD ms = 10000) {
    return ::WaitForSingleObject(reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(h)), ms) == WAIT_OBJECT_0;
  }
  std::shared_ptr<PollingSource> source_;
  WorkerThread worker_;
};

TEST_F(Worker, APassOutOfMemoryIsDroppedAndStillEndsInABatch) {
  Start(10, true, 2);
  LONG handle = source_->Resume();
  for (int pass = 0; pass < 3; ++pass) {
    ASSERT_TRUE(Signalled(handle)) << "pass " << pass;
    source_->Reset();
  }
  EXPECT_TRUE(worker_.Running());
}

TEST_F(Worker, StopEndsAnIdleOrWaitingWorkerPromptlyAndAnEndedOneLeavesTheSourceUsable) {
  for (bool resumed : {false, true}) {
    Start(60000);
    if (resumed) source_->Resume();  // then waiting for up to a minute
    auto start = std::chrono::steady_clock::now();
    worker_.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << resumed;
    EXPECT_FALSE(worker_.Running());
  }
  Start(60000, false);
  for (int i = 0; i < 1000 && worker_.Running(); ++i) ::Sleep(10);
  ASSERT_FALSE(worker_.Running());
  EXPECT_FALSE(Signalled(source_->Resume(), 100)) << "no batch ever comes, but nothing breaks";
  EXPECT_EQ(source_->Reset(), 1);
  EXPECT_EQ(source_.use_count(), 2) << "the worker dropped its share; the object's stays";
  ::SetLastError(ERROR_SUCCESS);  // the C runtime refuses without a system error code
  EXPECT_TRUE(FAILED(worker_.Start(nullptr, source_)));
  EXPECT_FALSE(worker_.Running());
}

}  // namespace
