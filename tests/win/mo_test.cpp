// MofCompile against a stand-in compiler under the platform's class id, which
// answers S_OK, or a failure with the phase in WBEM_COMPILE_STATUS_INFO.
#include <gtest/gtest.h>

#include <wbemcli.h>

#include <atomic>
#include <fstream>
#include <memory>
#include <regex>
#include <thread>
#include <tuple>
#include <vector>

#include "tests/harness/dispatch.h"
#include "tests/harness/rendezvous.h"

using namespace brisel;
using namespace brisel::test;

namespace {

constexpr HRESULT kFailed = static_cast<HRESULT>(WBEM_E_FAILED);

std::string Contents(const wchar_t* file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// With `together`, compilers are handed out that many at a time, and each file
// must hold "call <thread id>" all through CompileFile, else phase 2 (parsing).
class FakeCompiler final : public IMofCompiler, public IClassFactory {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    *ppv = IsEqualIID(riid, IID_IMofCompiler) ? static_cast<IMofCompiler*>(this) : nullptr;
    if (IsEqualIID(riid, IID_IClassFactory) || IsEqualIID(riid, IID_IUnknown)) *ppv = static_cast<IClassFactory*>(this);
    return *ppv ? S_OK : E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    if (together) together->ArriveAndWait(std::chrono::seconds(10));
    return IsEqualIID(riid, IID_IClassFactory) ? E_NOINTERFACE : QueryInterface(riid, ppv);
  }
  STDMETHODIMP LockServer(BOOL) override { return S_OK; }

  // Records the call's arguments and its file's bytes.
  STDMETHODIMP CompileFile(LPWSTR file, LPWSTR server, LPWSTR, LPWSTR, LPWSTR, LONG flags, LONG class_flags,
                           LONG instance_flags, WBEM_COMPILE_STATUS_INFO* info) override {
    std::string body = Contents(file), own = "call " + std::to_string(::GetCurrentThreadId());
    *info = {result_phase, result, 0, 0, 0, 0};
    if (together) {
      ::Sleep(50);  // time for another call to write the same file
      if (body != own || Contents(file) != own) *info = {2, kFailed, 0, 0, 0, 0};
      return info->hRes;
    }
    char head[512];
    snprintf(head, sizeof head, "server=%ls|flags=%ld|class=%ld|instance=%ld|file=%ls\n", server, flags, class_flags,
             instance_flags, file);
    record = head + body;
    return result;
  }
  STDMETHODIMP CompileBuffer(LONG, BYTE*, LPWSTR, LPWSTR, LPWSTR, LPWSTR, LONG, LONG, LONG,
                             WBEM_COMPILE_STATUS_INFO*) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP CreateBMOF(LPWSTR, LPWSTR, LPWSTR, LONG, LONG, LONG, WBEM_COMPILE_STATUS_INFO*) override {
    return E_NOTIMPL;
  }

  HRESULT result = S_OK;
  LONG result_phase = 0;
  std::unique_ptr<Rendezvous> together;
  std::string record;
};

class MofCompile : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::CoRegisterClassObject(CLSID_MofCompiler, static_cast<IClassFactory*>(&compiler_), CLSCTX_INPROC_SERVER,
                                      REGCLS_MULTIPLEUSE, &cookie_),
              S_OK);
  }
  void TearDown() override {
    ::CoRevokeClassObject(cookie_);
    WIN32_FIND_DATAW found;
    EXPECT_EQ(::FindFirstFileW(L"mof??????", &found), INVALID_HANDLE_VALUE) << "a temporary file was left";
  }
  ComScope com_;
  FakeCompiler compiler_;
  DWORD cookie_ = 0;
};

// plError and the [out] message, as "-1 text".
std::wstring Compile(const Dispatch& mo, const wchar_t* text) {
  Variant message(42L);
  CallResult r = mo.Call(L"MofCompile", {text, 0L, Arg::Out(&message)});
  return std::to_wstring(AsLong(r.value)) + L" " + AsText(message);
}

TEST_F(MofCompile, TheTextGoesAsCrLfFileToTheModuleNamespaceAndEachFailingPhaseHasItsMessage) {
  Dispatch mo = Dispatch::Create(L"TalvaneAgent.Brisel");
  // Result and phase the compiler answers, the text, and MofCompile's outcome.
  const std::tuple<HRESULT, LONG, const wchar_t*, const wchar_t*> cases[] = {
      {S_OK, 0, L"class A\n{\n};\n", L"0 "},
      {S_OK, 0, L"", L"0 "},
      {kFailed, 1, L"#pragma x", L"-1 failed to compile mof: argument error"},
      {kFailed, 2, L"#pragma x", L"-1 failed to compile mof: parsing"},
      {kFailed, 3, L"#pragma x", L"-1 failed to compile mof: error occurred while storing the data"},
      {kFailed, 0, L"#pragma x", L"0 "},                                 // a failure without a phase counts as success
      {0x40001, 2, L"#pragma x", L"-1 failed to compile mof: parsing"},  // any non-zero result looks at the phase
      {S_OK, 2, L"#pragma x", L"0 "},
  };
  for (const auto& [result, phase, text, outcome] : cases) {
    compiler_.result = result;
    compiler_.result_phase = phase;
    compiler_.record.clear();
    EXPECT_EQ(Compile(mo, text), outcome) << std::hex << result << " " << phase;
    std::string body = std::regex_replace(Narrow(text), std::regex("\n"), "\r\n");
    EXPECT_EQ(std::regex_replace(compiler_.record, std::regex("file=mof\\w{6}\n"), "file=mofXXXXXX\n"),
              "server=//./root/talvane|flags=16|class=0|instance=0|file=mofXXXXXX\n" + body);
  }
}

// Calls released together reach their temporary files at once; each must keep
// a file of its own (the runtime's names repeat until the file exists).
TEST_F(MofCompile, ConcurrentCallsNeverShareATemporaryFile) {
  constexpr int kThreads = 4, kRounds = 10;
  compiler_.together = std::make_unique<Rendezvous>(kThreads);
  std::atomic<int> good{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      ComScope com;
      Dispatch mo = Dispatch::Create(L"TalvaneAgent.Brisel");
      std::wstring text = L"call " + std::to_wstring(::GetCurrentThreadId());
      for (int round = 0; mo && round < kRounds; ++round) good += Compile(mo, text.c_str()) == L"0 ";
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(good.load(), kThreads * kRounds) << "calls that found another call's text in their file, or no file";
}

}  // namespace
