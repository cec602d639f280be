// MofCompile against a stand-in compiler registered under the platform's class id.
#include <gtest/gtest.h>

#include <wbemcli.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/harness/dispatch.h"

using namespace brisel;
using namespace brisel::test;

namespace {

std::wstring CompilerKey() {
  wchar_t clsid[64];
  ::StringFromGUID2(CLSID_MofCompiler, clsid, 64);
  return std::wstring(L"Software\\Classes\\CLSID\\") + clsid;
}

bool SetEnv(const wchar_t* name, const std::wstring& value) { return ::SetEnvironmentVariableW(name, value.c_str()); }

class MofCompile : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(com_.Result()));
    wchar_t dir[MAX_PATH];
    ASSERT_GT(::GetTempPathW(MAX_PATH, dir), 0u);
    record_ = std::wstring(dir) + L"fake_mof_record_" + std::to_wstring(::GetCurrentProcessId()) + L".txt";
    SetEnv(L"FAKE_MOF_RECORD", record_);
    ::DeleteFileW(record_.c_str());
    ASSERT_TRUE(mo_ = Dispatch::Create(L"TalvaneAgent.Brisel"));
  }
  void TearDown() override {
    ::DeleteFileW(record_.c_str());
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, CompilerKey().c_str());
    for (const wchar_t* name : {L"FAKE_MOF_RECORD", L"FAKE_MOF_RESULT", L"FAKE_MOF_BARRIER", L"FAKE_MOF_OWN"})
      ::SetEnvironmentVariableW(name, nullptr);
    EXPECT_EQ(::FindFirstFileW(L"mof??????", &found_), INVALID_HANDLE_VALUE) << "a temporary file was left";
  }
  // Registers the stand-in until the test ends.
  void Register() {
    std::wstring dll = FAKE_MOFCOMP_PATH, key = CompilerKey() + L"\\InprocServer32";
    ASSERT_EQ(::RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), nullptr, REG_SZ, dll.c_str(),
                                static_cast<DWORD>((dll.size() + 1) * sizeof(wchar_t))), ERROR_SUCCESS);
    ASSERT_EQ(::RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"ThreadingModel", REG_SZ, L"Both",
                                5 * sizeof(wchar_t)), ERROR_SUCCESS);
  }
  // Runs MofCompile; returns plError and its message, as "-1 text".
  std::wstring Compile(const wchar_t* text) {
    Variant message(42L);
    CallResult r = mo_.Call(L"MofCompile", {text, 0L, Arg::Out(&message)});
    EXPECT_EQ(r.hr, S_OK);
    EXPECT_EQ(message.Type(), VT_BSTR);
    return std::to_wstring(AsLong(r.value)) + L" " + AsText(message);
  }
  std::string Recorded() {
    std::ifstream f(record_.c_str(), std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
  }

  ComScope com_;
  Dispatch mo_;
  std::wstring record_;
  WIN32_FIND_DATAW found_;
};

TEST_F(MofCompile, WithoutACompilerTheMessageSaysSo) {
  EXPECT_EQ(Compile(L"class A {};"), L"-1 failed to create IMofCompiler");
}

TEST_F(MofCompile, TheTextGoesAsCrLfFileToTheModuleNamespace) {
  Register();
  for (const auto& [text, body] : {std::pair{L"class A\n{\n};\n", "class A\r\n{\r\n};\r\n"}, std::pair{L"", ""}}) {
    ::DeleteFileW(record_.c_str());
    EXPECT_EQ(Compile(text), L"0 ");
    std::string rec = Recorded();
    size_t eol = rec.find('\n');
    ASSERT_NE(eol, std::string::npos) << "the compiler was not called";
    EXPECT_NE(rec.find("server=//./root/talvane|flags=16|class=0|instance=0|file=mof"), std::string::npos) << rec;
    EXPECT_EQ(rec.substr(eol + 1), body);
  }
}

TEST_F(MofCompile, EachFailingPhaseHasItsMessage) {
  Register();
  const struct {
    const wchar_t* result;  // the stand-in's HRESULT and phase
    const wchar_t* outcome;
  } cases[] = {
      {L"80041001 1", L"-1 failed to compile mof: argument error"},
      {L"80041001 2", L"-1 failed to compile mof: parsing"},
      {L"80041001 3", L"-1 failed to compile mof: error occurred while storing the data"},
      {L"80041001 0", L"0 "},  // a failure without a phase counts as success
      {L"40001 2", L"-1 failed to compile mof: parsing"},  // any non-zero result looks at the phase
      {L"0 2", L"0 "},
  };
  for (const auto& c : cases) {
    SetEnv(L"FAKE_MOF_RESULT", c.result);
    EXPECT_EQ(Compile(L"#pragma x"), c.outcome) << Narrow(c.result);
  }
}

// Calls released together from compiler creation reach their temporary files at
// once; each must keep a file of its own (the runtime's names repeat until the
// file exists).
TEST_F(MofCompile, ConcurrentCallsNeverShareATemporaryFile) {
  Register();
  constexpr int kThreads = 4, kRounds = 10;
  ::SetEnvironmentVariableW(L"FAKE_MOF_RECORD", nullptr);
  SetEnv(L"FAKE_MOF_BARRIER", std::to_wstring(kThreads));
  SetEnv(L"FAKE_MOF_OWN", L"1");
  std::atomic<int> good{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      ComScope com;
      Dispatch mo = Dispatch::Create(L"TalvaneAgent.Brisel");
      std::wstring text = L"call " + std::to_wstring(::GetCurrentThreadId());
      for (int round = 0; mo && round < kRounds; ++round) {
        Variant message;
        CallResult r = mo.Call(L"MofCompile", {text.c_str(), 0L, Arg::Out(&message)});
        good += r.hr == S_OK && AsLong(r.value) == 0 && AsText(message).empty();
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(good.load(), kThreads * kRounds) << "calls that found another call's text in their file, or no file";
}

}  // namespace
