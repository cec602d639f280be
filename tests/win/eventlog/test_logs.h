// Event logs made for one test: a key under the event-log service key with
// sources whose message modules are the DLLs built beside the tests.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "eventlog/message_text.h"
#include "module/com.h"
#include "tests/win/eventlog/sim_event_log.h"

namespace brisel::test {

// The directory of the message DLLs, as the test program sees it.
inline std::wstring MessageDir() {
  std::wstring dir = EVMSG_DIR;
  for (auto& c : dir)
    if (c == L'/') c = L'\\';
  return dir;
}

class TestLog {
 public:
  // A log named after the running test and this process, so that tests
  // running side by side never share one.
  TestLog() {
    ::SetEnvironmentVariableW(L"BRISEL_EVMSG_DIR", MessageDir().c_str());
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    name_ = L"BriselTest";
    if (info)
      for (const char* p = info->name(); *p; ++p) name_ += static_cast<wchar_t>(*p);
    name_ += L"_" + std::to_wstring(::GetCurrentProcessId());
    SimEventLogService::Get().Reset();
    AddSource(L"SrcA", L"%BRISEL_EVMSG_DIR%\\evmsg_a.dll;%BRISEL_EVMSG_DIR%\\evmsg_b.dll",
              L"%BRISEL_EVMSG_DIR%\\evmsg_a.dll", L"%BRISEL_EVMSG_DIR%\\absent.dll;%BRISEL_EVMSG_DIR%\\evparam.dll");
    AddSource(L"NoParam", L"%BRISEL_EVMSG_DIR%\\evmsg_a.dll", nullptr, nullptr);
    AddSource(L"MissingFirst", L"%BRISEL_EVMSG_DIR%\\absent.dll;%BRISEL_EVMSG_DIR%\\evmsg_b.dll", nullptr, nullptr);
    AddSource(L"Plain", nullptr, nullptr, nullptr);
  }
  ~TestLog() { Remove(); }
  TestLog(const TestLog&) = delete;
  TestLog& operator=(const TestLog&) = delete;

  const std::wstring& Name() const { return name_; }
  std::wstring KeyPath() const { return std::wstring(kEventLogKey) + L"\\" + name_; }

  void AddSource(const std::wstring& source, const wchar_t* event_files, const wchar_t* category_file,
                 const wchar_t* parameter_files) {
    UniqueRegKey key;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, (KeyPath() + L"\\" + source).c_str(), 0, nullptr, 0,
                                KEY_READ | KEY_WRITE, nullptr, key.Put(), nullptr),
              ERROR_SUCCESS);
    SetValue(key.Get(), L"EventMessageFile", event_files);
    SetValue(key.Get(), L"CategoryMessageFile", category_file);
    SetValue(key.Get(), L"ParameterMessageFile", parameter_files);
  }
  // The log's key goes; the simulated log goes too.
  void Remove() {
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, KeyPath().c_str());
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, KeyPath().c_str());
  }

  DWORD Append(const SimEntry& entry) { return SimEventLogService::Get().Append(name_, entry); }

 private:
  static void SetValue(HKEY key, const wchar_t* name, const wchar_t* value) {
    if (!value) return;
    ::RegSetValueExW(key, name, 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(value),
                     static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
  }

  std::wstring name_;
};

}  // namespace brisel::test
