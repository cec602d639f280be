// MofCompile against a stand-in compiler registered under the platform's class id.
#include <gtest/gtest.h>

#include <wbemcli.h>

#include <atomic>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "tests/harness/dispatch.h"

using namespace brisel;
using namespace brisel::test;

namespace {

class MofCompile : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t dir[MAX_PATH], clsid[64];
    ::GetTempPathW(MAX_PATH, dir);
    record_ = std::wstring(dir) + L"fake_mof_record_" + std::to_wstring(::GetCurrentProcessId()) + L".txt";
    ::StringFromGUID2(CLSID_MofCompiler, clsid, 64);
    key_ = std::wstring(L"Software\\Classes\\CLSID\\") + clsid;
    std::wstring dll = FAKE_MOFCOMP_PATH, server = key_ + L"\\InprocServer32";
    ASSERT_EQ(::RegSetKeyValueW(HKEY_LOCAL_MACHINE, server.c_str(), nullptr, REG_SZ, dll.c_str(),
                                static_cast<DWORD>((dll.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
    ASSERT_EQ(::RegSetKeyValueW(HKEY_LOCAL_MACHINE, server.c_str(), L"ThreadingModel", REG_SZ, L"Both", 10),
              ERROR_SUCCESS);
    ::SetEnvironmentVariableW(L"FAKE_MOF_RECORD", record_.c_str());
  }
  void TearDown() override {
    ::DeleteFileW(record_.c_str());
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, key_.c_str());
    for (const wchar_t* name : {L"FAKE_MOF_RECORD", L"FAKE_MOF_RESULT", L"FAKE_MOF_THREADS"})
      ::SetEnvironmentVariableW(name, nullptr);
    WIN32_FIND_DATAW found;
    EXPECT_EQ(::FindFirstFileW(L"mof??????", &found), INVALID_HANDLE_VALUE) << "a temporary file was left";
  }

  ComScope com_;
  std::wstring record_, key_;
};

// plError and the [out] message, as "-1 text".
std::wstring Compile(const Dispatch& mo, const wchar_t* text) {
  Variant message(42L);
  CallResult r = mo.Call(L"MofCompile", {text, 0L, Arg::Out(&message)});
  EXPECT_EQ(r.hr, S_OK);
  EXPECT_EQ(message.Type(), VT_BSTR);
  return std::to_wstring(AsLong(r.value)) + L" " + AsText(message);
}

TEST_F(MofCompile, TheTextGoesAsCrLfFileToTheModuleNamespaceAndEachFailingPhaseHasItsMessage) {
  Dispatch mo = Dispatch::Create(L"TalvaneAgent.Brisel");
  ASSERT_TRUE(mo);
  const struct {
    const wchar_t* result;  // the stand-in's HRESULT and phase
    const wchar_t* text;
    const wchar_t* outcome;
  } cases[] = {
      {L"0 0", L"class A\n{\n};\n", L"0 "},
      {L"0 0", L"", L"0 "},
      {L"80041001 1", L"#pragma x", L"-1 failed to compile mof: argument error"},
      {L"80041001 2", L"#pragma x", L"-1 failed to compile mof: parsing"},
      {L"80041001 3", L"#pragma x", L"-1 failed to compile mof: error occurred while storing the data"},
      {L"80041001 0", L"#pragma x", L"0 "},  // a failure without a phase counts as success
      {L"40001 2", L"#pragma x", L"-1 failed to compile mof: parsing"},  // any non-zero result looks at the phase
      {L"0 2", L"#pragma x", L"0 "},
  };
  for (const auto& c : cases) {
    ::SetEnvironmentVariableW(L"FAKE_MOF_RESULT", c.result);
    EXPECT_EQ(Compile(mo, c.text), c.outcome) << Narrow(c.result);
    std::ostringstream rec;
    rec << std::ifstream(record_.c_str(), std::ios::binary).rdbuf();
    std::string body = std::regex_replace(Narrow(c.text), std::regex("\n"), "\r\n");
    EXPECT_EQ(std::regex_replace(rec.str(), std::regex("file=mof\\w{6}\n"), "file=mofXXXXXX\n"),
              "server=//./root/talvane|flags=16|class=0|instance=0|file=mofXXXXXX\n" + body);
  }
}

// Calls released together from compiler creation reach their temporary files at
// once; each must keep a file of its own (the runtime's names repeat until the
// file exists).
TEST_F(MofCompile, ConcurrentCallsNeverShareATemporaryFile) {
  constexpr int kThreads = 4, kRounds = 10;
  ::SetEnvironmentVariableW(L"FAKE_MOF_RECORD", nullptr);
  ::SetEnvironmentVariableW(L"FAKE_MOF_THREADS", std::to_wstring(kThreads).c_str());
  std::atomic<int> good{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      ComScope com;
      Dispatch mo = Dispatch::Create(L"TalvaneAgent.Brisel");
      std::wstring text = L"call " + std::to_wstring(::GetCurrentThreadId());
      for (int round = 0; mo && round < kRounds; ++round)
        good += Compile(mo, text.c_str()) == L"0 ";
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(good.load(), kThreads * kRounds) << "calls that found another call's text in their file, or no file";
}

}  // namespace
