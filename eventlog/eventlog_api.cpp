#include "eventlog/eventlog_api.h"

namespace brisel {

namespace detail {
std::atomic<const EventLogApi*> g_event_log_override{nullptr};
}  // namespace detail

namespace {

const EventLogApi kPlatform = {&::OpenEventLogW, &::CloseEventLog, &::GetOldestEventLogRecord, &::ReadEventLogW,
                               &::NotifyChangeEventLog};

}  // namespace

const EventLogApi& EventLog() noexcept {
  if (const EventLogApi* api = detail::g_event_log_override.load()) return *api;
  return kPlatform;
}

}  // namespace brisel
