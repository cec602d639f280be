// Test-only interface of the static library: puts another event-log service
// behind the reader. The DLL never calls it, so its object file is not
// linked into the DLL.
#pragma once

#include "eventlog/eventlog_api.h"

namespace brisel::testing {

// api must outlive every reader opened through it; null restores the
// platform's table.
void UseEventLogApi(const EventLogApi* api) noexcept;

}  // namespace brisel::testing
