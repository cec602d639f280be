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
    const std::wstring dir = L"%BRISEL_EVMSG_DIR%\\", a = dir + L"evmsg_a.dll";
    const std::wstring values[][3] = {
        {L"SrcA", L"EventMessageFile", a + L";" + dir + L"evmsg_b.dll"},
        {L"SrcA", L"CategoryMessageFile", a},
        {L"SrcA", L"ParameterMessageFile", dir + L"absent.dll;" + dir + L"evparam.dll"},
        {L"NoParam", L"EventMessageFile", a},
        {L"MissingFirst", L"EventMessageFile", dir + L"absent.dll;" + dir + L"evmsg_b.dll"}};
    for (const auto& [source, value, text] : values)
      ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, (Key() + L"\\" + source).c_str(), value.c_str(), REG_EXPAND_SZ,
                        text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  }
  ~TestLog() { ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, Key().c_str()); }

  const std::wstring& Name() const { return name_; }
  DWORD Append(const SimEntry& entry) { return SimEventLogService::Get().Append(name_, entry); }

 private:
  std::wstring Key() const { return std::wstring(kEventLogKey) + L"\\" + name_; }
  std::wstring name_;
};

}  // namespace brisel::test
