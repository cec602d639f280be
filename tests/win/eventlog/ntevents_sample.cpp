// NtEvents at work on a simulated event log (under Wine the real log stays
// empty): the calls a script makes, late-bound, and the entries it gets.
// The simulated service lives in this program only; the shipped DLL has no
// such hook.   wine ntevents_sample.exe
#include <windows.h>

#include <clocale>
#include <cstdio>

#include "eventlog/nt_events.h"
#include "tests/harness/dispatch.h"
#include "eventlog/message_text.h"
#include "tests/win/eventlog/sim_event_log.h"

using namespace brisel;
using namespace brisel::test;

namespace {

std::wstring MessageDir() {
  std::wstring dir = EVMSG_DIR;
  for (auto& c : dir)
    if (c == L'/') c = L'\\';
  return dir;
}

}  // namespace

int main() {
  std::setlocale(LC_ALL, ".ACP");
  ComScope com;
  ::SetEnvironmentVariableW(L"BRISEL_EVMSG_DIR", MessageDir().c_str());
  const std::wstring log = L"BriselSample";
  const std::wstring key = std::wstring(kEventLogKey) + L"\\" + log + L"\\SrcA";
  UniqueRegKey source_key;
  if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                        source_key.Put(), nullptr) != ERROR_SUCCESS)
    return 1;
  auto set = [&](const wchar_t* name, const wchar_t* value) {
    ::RegSetValueExW(source_key.Get(), name, 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(value),
                     static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
  };
  set(L"EventMessageFile", L"%BRISEL_EVMSG_DIR%\\evmsg_a.dll");
  set(L"CategoryMessageFile", L"%BRISEL_EVMSG_DIR%\\evmsg_a.dll");
  set(L"ParameterMessageFile", L"%BRISEL_EVMSG_DIR%\\evparam.dll");
  SimEventLogService& sim = SimEventLogService::Get();

  ComPtr<IDispatch> object;
  if (FAILED(brisel::NtEvents::CreateInstance(nullptr, IID_IDispatch, object.PutVoid()))) return 1;
  Dispatch watcher(object);
  Variant text;
  std::printf("SetFilter TYPES ERROR,WARNING -> %ld\n",
              AsLong(watcher.Call(L"SetFilter", {L"TYPES", L"ERROR,WARNING", Arg::Out(&text)}).value));
  HANDLE ready = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(watcher.Long(L"Event")));

  SimEntry e;
  e.source = L"SrcA";
  e.event_id = 0xC00003E8;
  e.type = EVENTLOG_ERROR_TYPE;
  e.category = 1;
  e.strings = {L"Spooler", L"stopped"};
  e.sid = SidBytes(L"S-1-5-18");
  sim.Append(log, e);
  e.event_id = 1004;
  e.type = EVENTLOG_INFORMATION_TYPE;
  e.strings = {L"%{S-1-5-18}", L"the console"};
  sim.Append(log, e);
  e.event_id = 1003;
  e.type = EVENTLOG_WARNING_TYPE;
  e.category = 2;
  e.strings = {};
  e.sid.clear();
  sim.Append(log, e);

  // The worker can wake at the first entry and read the others at its next
  // pass: a script then takes the batches one after another.
  long total = 0;
  for (int pass = 0; pass < 4 && total < 2; ++pass) {
    if (pass > 0) watcher.Call(L"ResetEvent", {Arg::Out(&text)});
    if (::WaitForSingleObject(ready, 10000) != WAIT_OBJECT_0) break;
    long count = watcher.Long(L"Count");
    if (count == 0) continue;
    std::printf("%ld entries\n", count);
    for (long i = 1; i <= count; ++i) {
      Dispatch item = watcher.Object(L"Item", {i});
      std::printf("%s %s %s %s %s [%s] %s: %s\n", Narrow(item.Text(L"CreationTimeString")).c_str(),
                  Narrow(item.Text(L"Logfile")).c_str(), Narrow(item.Text(L"Type")).c_str(),
                  Narrow(item.Text(L"SourceName")).c_str(), Narrow(item.Text(L"EventCode")).c_str(),
                  Narrow(item.Text(L"Category")).c_str(), Narrow(item.Text(L"UserName")).c_str(),
                  Narrow(item.Text(L"Message")).c_str());
    }
    total += count;
  }
  int status = total == 2 ? 0 : 1;
  std::printf("ResetEvent -> %ld\n", AsLong(watcher.Call(L"ResetEvent", {Arg::Out(&text)}).value));
  watcher = Dispatch();
  object.Reset();
  source_key.Reset();
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, (std::wstring(kEventLogKey) + L"\\" + log).c_str());
  ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, (std::wstring(kEventLogKey) + L"\\" + log).c_str());
  if (status == 0) std::printf("sample done: the error and the warning were published\n");
  return status;
}
