// Event logs made for one test: a key under the event-log service key with
// sources whose message modules are the DLLs built beside the tests.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "tests/win/eventlog/sim_event_log.h"

namespace brisel::test {

class TestLog {
 public:
  // Named after the running test, this process and the suffix, so that logs
  // of tests running side by side are never shared.
  explicit TestLog(const std::wstring& suffix = L"") {
    ::SetEnvironmentVariableW(L"BRISEL_EVMSG_DIR", MessageDir().c_str());
    name_ = L"BriselTest";
    if (const auto* info = ::testing::UnitTest::GetInstance()->current_test_info())
      for (const char* p = info->name(); *p; ++p) name_ += static_cast<wchar_t>(*p);
    name_ += L"_" + std::to_wstring(::GetCurrentProcessId()) + (suffix.empty() ? L"" : L"_" + suffix);
    SimEventLogService::Get().Reset();
    const wchar_t *a = L"%BRISEL_EVMSG_DIR%\\evmsg_a.dll", *b = L"%BRISEL_EVMSG_DIR%\\evmsg_b.dll";
    AddSource(L"SrcA", L"%BRISEL_EVMSG_DIR%\\evmsg_a.dll;%BRISEL_EVMSG_DIR%\\evmsg_b.dll", a,
              L"%BRISEL_EVMSG_DIR%\\absent.dll;%BRISEL_EVMSG_DIR%\\evparam.dll");
    AddSource(L"NoParam", a);
    AddSource(L"MissingFirst", L"%BRISEL_EVMSG_DIR%\\absent.dll;%BRISEL_EVMSG_DIR%\\evmsg_b.dll");
    AddSource(L"Plain", nullptr);
    AddSource(L"OnlyB", b);
    AddSource(L"OnlyP", L"%BRISEL_EVMSG_DIR%\\evparam.dll");
  }
  ~TestLog() { RemoveLogKey(name_); }
  TestLog(const TestLog&) = delete;
  TestLog& operator=(const TestLog&) = delete;

  const std::wstring& Name() const { return name_; }
  void AddSource(const std::wstring& source, const wchar_t* event_files, const wchar_t* category_file = nullptr,
                 const wchar_t* parameter_files = nullptr) {
    ASSERT_TRUE(AddLogSource(name_, source, event_files, category_file, parameter_files));
  }
  DWORD Append(const SimEntry& entry) { return SimEventLogService::Get().Append(name_, entry); }

 private:
  std::wstring name_;
};

}  // namespace brisel::test
