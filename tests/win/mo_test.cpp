// MofCompile against a stand-in compiler registered under the platform's class id.
#include <gtest/gtest.h>

#include <wbemcli.h>

#include <atomic>
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

// Registers the stand-in for the life of a test, and removes it again.
class FakeCompilerRegistration {
 public:
  FakeCompilerRegistration() {
    UniqueRegKey key;
    std::wstring path = CompilerKey() + L"\\InprocServer32";
    ok_ = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, key.Put(),
                            nullptr) == ERROR_SUCCESS;
    std::wstring dll = FAKE_MOFCOMP_PATH;
    ok_ = ok_ && ::RegSetValueExW(key.Get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(dll.c_str()),
                                  static_cast<DWORD>((dll.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    const wchar_t model[] = L"Both";
    ok_ = ok_ && ::RegSetValueExW(key.Get(), L"ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE*>(model),
                                  sizeof model) == ERROR_SUCCESS;
  }
  ~FakeCompilerRegistration() { ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, CompilerKey().c_str()); }
  bool Ok() const { return ok_; }

 private:
  bool ok_ = false;
};

class MofCompile : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(com_.Result()));
    wchar_t dir[MAX_PATH];
    ASSERT_GT(::GetTempPathW(MAX_PATH, dir), 0u);
    record_ = std::wstring(dir) + L"fake_mof_record_" + std::to_wstring(::GetCurrentProcessId()) + L".txt";
    ::SetEnvironmentVariableW(L"FAKE_MOF_RECORD", record_.c_str());
    ::SetEnvironmentVariableW(L"FAKE_MOF_RESULT", nullptr);
    ::DeleteFileW(record_.c_str());
    mo_ = Dispatch::Create(L"TalvaneAgent.Brisel");
    ASSERT_TRUE(mo_);
  }
  void TearDown() override {
    ::DeleteFileW(record_.c_str());
    ::SetEnvironmentVariableW(L"FAKE_MOF_RECORD", nullptr);
    ::SetEnvironmentVariableW(L"FAKE_MOF_RESULT", nullptr);
  }
  // Runs MofCompile; returns plError and stores the message.
  long Compile(const wchar_t* text, std::wstring* message) {
    Variant error_text;
    CallResult r = mo_.Call(L"MofCompile", {text, 0L, Arg::Out(&error_text)});
    EXPECT_EQ(r.hr, S_OK);
    EXPECT_EQ(error_text.Type(), VT_BSTR);
    *message = AsText(error_text);
    return AsLong(r.value);
  }
  std::string Recorded() {
    std::ostringstream s;
    FILE* f = _wfopen(record_.c_str(), L"rb");
    if (!f) return {};
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) s.write(buf, static_cast<std::streamsize>(n));
    fclose(f);
    return s.str();
  }
  static bool TempFilesLeft() {
    WIN32_FIND_DATAW data;
    HANDLE h = ::FindFirstFileW(L"mof??????", &data);
    if (h == INVALID_HANDLE_VALUE) return false;
    ::FindClose(h);
    return true;
  }

  ComScope com_;
  Dispatch mo_;
  std::wstring record_;
};

TEST_F(MofCompile, WithoutACompilerTheMessageSaysSo) {
  std::wstring message;
  EXPECT_EQ(Compile(L"class A {};", &message), -1);
  EXPECT_EQ(message, L"failed to create IMofCompiler");
  EXPECT_FALSE(TempFilesLeft());
}

TEST_F(MofCompile, SuccessHandsTheTextAsCrLfFileToTheModuleNamespace) {
  FakeCompilerRegistration fake;
  ASSERT_TRUE(fake.Ok());
  std::wstring message = L"unset";
  EXPECT_EQ(Compile(L"class A\n{\n};\n", &message), 0);
  EXPECT_EQ(message, L"");
  std::string rec = Recorded();
  size_t eol = rec.find('\n');
  ASSERT_NE(eol, std::string::npos) << "the compiler was not called";
  std::string header = rec.substr(0, eol);
  EXPECT_NE(header.find("server=//./root/talvane|flags=16|class=0|instance=0|file=mof"), std::string::npos) << header;
  EXPECT_EQ(rec.substr(eol + 1), "class A\r\n{\r\n};\r\n");
  EXPECT_FALSE(TempFilesLeft()) << "the temporary file is removed after the call";
}

TEST_F(MofCompile, EachFailingPhaseHasItsMessage) {
  FakeCompilerRegistration fake;
  ASSERT_TRUE(fake.Ok());
  const struct {
    const wchar_t* result;
    long error;
    const wchar_t* message;
  } cases[] = {
      {L"80041001 1", -1, L"failed to compile mof: argument error"},
      {L"80041001 2", -1, L"failed to compile mof: parsing"},
      {L"80041001 3", -1, L"failed to compile mof: error occurred while storing the data"},
      {L"80041001 0", 0, L""},  // a failure without a phase counts as success
      {L"40001 2", -1, L"failed to compile mof: parsing"},  // any non-zero result looks at the phase
      {L"0 2", 0, L""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow(c.result));
    ::SetEnvironmentVariableW(L"FAKE_MOF_RESULT", c.result);
    std::wstring message;
    EXPECT_EQ(Compile(L"#pragma x", &message), c.error);
    EXPECT_EQ(message, c.message);
  }
  EXPECT_FALSE(TempFilesLeft());
}

TEST_F(MofCompile, EmptyTextIsAnEmptyFile) {
  FakeCompilerRegistration fake;
  ASSERT_TRUE(fake.Ok());
  std::wstring message;
  EXPECT_EQ(Compile(L"", &message), 0);
  std::string rec = Recorded();
  ASSERT_NE(rec.find('\n'), std::string::npos);
  EXPECT_EQ(rec.substr(rec.find('\n') + 1), "");
}

// Calls released together from compiler creation reach their temporary files at
// once; each must keep a file of its own (the runtime's names repeat until the
// file exists).
TEST_F(MofCompile, ConcurrentCallsNeverShareATemporaryFile) {
  FakeCompilerRegistration fake;
  ASSERT_TRUE(fake.Ok());
  constexpr int kThreads = 4;
  constexpr int kRounds = 10;
  ::SetEnvironmentVariableW(L"FAKE_MOF_RECORD", nullptr);
  ::SetEnvironmentVariableW(L"FAKE_MOF_BARRIER", std::to_wstring(kThreads).c_str());
  ::SetEnvironmentVariableW(L"FAKE_MOF_OWN", L"1");
  std::atomic<int> calls{0}, failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      ComScope com;
      Dispatch mo = Dispatch::Create(L"TalvaneAgent.Brisel");
      if (!mo) return;
      std::wstring text = L"call " + std::to_wstring(::GetCurrentThreadId());
      for (int round = 0; round < kRounds; ++round) {
        Variant message;
        CallResult r = mo.Call(L"MofCompile", {text.c_str(), 0L, Arg::Out(&message)});
        ++calls;
        if (r.hr != S_OK || AsLong(r.value) != 0 || !AsText(message).empty()) ++failures;
      }
    });
  }
  for (auto& t : threads) t.join();
  ::SetEnvironmentVariableW(L"FAKE_MOF_BARRIER", nullptr);
  ::SetEnvironmentVariableW(L"FAKE_MOF_OWN", nullptr);
  EXPECT_EQ(calls.load(), kThreads * kRounds);
  EXPECT_EQ(failures.load(), 0) << "calls that found another call's text in their file, or no file";
  EXPECT_FALSE(TempFilesLeft());
}

}  // namespace
