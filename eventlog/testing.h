// Test-only interface of the static library: puts another event-log service
// behind the reader. The DLL never calls it, so its object file is not
// linked into the DLL.
#pragma once

#include "eventlog/eventlog_api.h"
#include "eventlog/message_text.h"

namespace brisel::testing {

// api must outlive every reader opened through it; null restores the
// platform's table.
void UseEventLogApi(const EventLogApi* api) noexcept;

// The same for the message texts' platform calls.
void UseMessageTextApi(const MessageTextApi* api) noexcept;

}  // namespace brisel::testing
