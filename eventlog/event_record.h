// One decoded event-log entry: what the filters test and what NtEvent shows.
#pragma once

#include <windows.h>

#include <string>

#include "collector/error_state.h"

namespace brisel {

class EventRecord : public ErrorState {
 public:
  double CreationTime = 0.0;  // automation date, local time; 0 when unknown
  SYSTEMTIME CreationSystemTime = {};
  std::wstring Category;
  std::wstring EventCode;  // low 16 bits of the event identifier, decimal
  std::wstring Type;       // ERROR, WARNING, INFORMATION, AUDIT_SUCCESS, AUDIT_FAILURE or empty
  std::wstring Logfile;
  std::wstring Message;
  std::wstring SourceName;
  std::wstring ComputerName;
  std::wstring UserName;  // "domain\account" or "N/A"
  std::wstring Help;
};

}  // namespace brisel
