// Waiter: lets a script wait on a watcher's Event handle without spinning.
#pragma once

#include <string>

#include "module/brisel_h.h"
#include "module/object.h"

namespace brisel {

// Longest time-out Wait accepts, in milliseconds (one hour): a script that
// wants longer loops, and stays stoppable in between.
constexpr long kWaitMaxMilliseconds = 3600000;

// Waits on handle for up to milliseconds: 0 signalled, 128 abandoned mutex,
// 258 time-out, -1 with *error filled (bad handle, time-out out of range).
// On a single-threaded apartment thread it dispatches the thread's messages
// while it waits.
long WaitForHandle(HANDLE handle, long milliseconds, std::wstring* error);

class WaiterObject final : public DispatchObject<WaiterObject, IWaiter> {
 public:
  STDMETHODIMP Wait(LONG handle, LONG milliseconds, VARIANT* error_text, LONG* result) override;
};

}  // namespace brisel
