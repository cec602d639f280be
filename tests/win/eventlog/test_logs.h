// Event logs made for a test: a key under the event-log service key with
// sources whose message modules are the DLLs built beside the tests.
#pragma once

#include <windows.h>

#include <string>

#include "eventlog/log_reader.h"
#include "tests/win/eventlog/sim_event_log.h"

namespace brisel::test {

class TestLog {
 public:
  // Named after this process and a count, so that logs of programs running
  // side by side are never shared. The simulated service forgets every log.
  explicit TestLog(std::wstring name = L"BriselTest") {
    static int count = 0;
    name_ = name + L"_" + std::to_wstring(::GetCurrentProcessId()) + L"_" + std::to_wstring(++count);
    ::SetEnvironmentVariableW(L"BRISEL_EVMSG_DIR", MessageDir().c_str());
    SimEventLogService::Get().Reset();
    const wchar_t* a = L"%BRISEL_EVMSG_DIR%\\evmsg_a.dll";
    AddSource(L"SrcA", L"%BRISEL_EVMSG_DIR%\\evmsg_a.dll;%BRISEL_EVMSG_DIR%\\evmsg_b.dll", a,
              L"%BRISEL_EVMSG_DIR%\\absent.dll;%BRISEL_EVMSG_DIR%\\evparam.dll");
    AddSource(L"NoParam", a);
    AddSource(L"MissingFirst", L"%BRISEL_EVMSG_DIR%\\absent.dll;%BRISEL_EVMSG_DIR%\\evmsg_b.dll");
  }
  ~TestLog() { ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, (std::wstring(kEventLogKey) + L"\\" + name_).c_str()); }

  const std::wstring& Name() const { return name_; }
  DWORD Append(const SimEntry& entry) { return SimEventLogService::Get().Append(name_, entry); }
  // Sets the values that are not null (REG_EXPAND_SZ); the source's key is made if new.
  void AddSource(const std::wstring& source, const wchar_t* event_files, const wchar_t* category_file = nullptr,
                 const wchar_t* parameter_files = nullptr) {
    UniqueRegKey key;
    ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(kEventLogKey) + L"\\" + name_ + L"\\" + source).c_str(), 0,
                      nullptr, 0, KEY_WRITE, nullptr, key.Put(), nullptr);
    for (auto [name, value] : {std::pair{L"EventMessageFile", event_files}, {L"CategoryMessageFile", category_file},
                               {L"ParameterMessageFile", parameter_files}})
      if (value)
        ::RegSetValueExW(key.Get(), name, 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(value),
                         static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
  }

 private:
  std::wstring name_;
};

}  // namespace brisel::test
