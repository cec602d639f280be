// The event-log calls the reader makes, as one table. The product fills it
// with the platform's functions; tests put a simulated event-log service
// behind it (eventlog/testing.h).
#pragma once

#include <windows.h>

#include <atomic>

#include "module/com.h"

namespace brisel {

struct EventLogApi {
  HANDLE(WINAPI* Open)(LPCWSTR server, LPCWSTR log_name);
  BOOL(WINAPI* Close)(HANDLE log);
  BOOL(WINAPI* GetOldest)(HANDLE log, PDWORD oldest);
  BOOL(WINAPI* Read)(HANDLE log, DWORD flags, DWORD record, LPVOID buffer, DWORD bytes_to_read, DWORD* bytes_read,
                     DWORD* bytes_needed);
  BOOL(WINAPI* NotifyChange)(HANDLE log, HANDLE event);
};

// The table in use.
const EventLogApi& EventLog() noexcept;

namespace detail {
// Null for the platform's table; only eventlog/testing.cpp sets it.
extern std::atomic<const EventLogApi*> g_event_log_override;
}  // namespace detail

struct EventLogHandleTraits {
  using Type = HANDLE;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { EventLog().Close(h); }
};
// An opened event log, closed through the table that opened it.
using UniqueEventLog = UniqueHandle<EventLogHandleTraits>;

}  // namespace brisel
