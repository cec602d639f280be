// NtEvents on a simulated event log (Wine's stays empty): the calls a script makes, and the entries it gets.
#include <cstdio>

#include "eventlog/nt_events.h"
#include "tests/harness/dispatch.h"
#include "tests/win/eventlog/test_logs.h"

using namespace brisel;
using namespace brisel::test;

int main() {
  ComScope com;
  TestLog log(L"BriselSample");  // its sources' messages come from the test message modules
  ComPtr<IDispatch> object;
  if (FAILED(brisel::NtEvents::CreateInstance(nullptr, IID_IDispatch, object.PutVoid()))) return 1;
  Dispatch watcher(std::move(object));
  Variant text;
  watcher.Call(L"SetFilter", {L"TYPES", L"ERROR,WARNING", Arg::Out(&text)});
  log.Append({.event_id = 0xC00003E8, .type = EVENTLOG_ERROR_TYPE, .category = 1, .source = L"SrcA",
              .strings = {L"Spooler", L"stopped"}, .sid = SidBytes(L"S-1-5-18")});
  log.Append({.event_id = 1004, .source = L"SrcA", .strings = {L"%{S-1-5-18}", L"the console"}});  // filtered out
  log.Append({.event_id = 1003, .type = EVENTLOG_WARNING_TYPE, .source = L"SrcA"});
  HANDLE ready = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(watcher.Long(L"Event")));
  long count = ::WaitForSingleObject(ready, 10000) == WAIT_OBJECT_0 ? watcher.Long(L"Count") : 0;
  for (long i = 1; i <= count; ++i) {
    Dispatch item = watcher.Object(L"Item", {i});
    for (const wchar_t* name : {L"CreationTimeString", L"Logfile", L"Type", L"SourceName", L"EventCode", L"Category",
                                L"UserName", L"Message"})
      std::printf("%s ", Narrow(item.Text(name)).c_str());
    std::printf("\n");
  }
  watcher = Dispatch();
  if (count == 2) std::printf("sample done: the error and the warning were published\n");
  return count == 2 ? 0 : 1;
}
