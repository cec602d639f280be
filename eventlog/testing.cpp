#include "eventlog/testing.h"

namespace brisel::testing {

void UseEventLogApi(const EventLogApi* api) noexcept { detail::g_event_log_override.store(api); }

void UseMessageTextApi(const MessageTextApi* api) noexcept { detail::g_message_text_override.store(api); }

}  // namespace brisel::testing
